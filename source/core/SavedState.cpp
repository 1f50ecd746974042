#include "core/SavedState.h"

#include "core/Config.h"

#include <set>
#include <string>
#include <vector>

namespace ombrel::saved_state
{
namespace
{
    constexpr int numNodes = 6;

    const juce::Identifier& selectionKey()
    {
        static const juce::Identifier key { config::NodeGraphDescriptor::selectedFilters.key };
        return key;
    }

    constexpr juce::uint32 stateMagic = 0x21324356; // "VC2!"

    /** Strict UTF-8 up to the first zero byte: every sequence that is truncated, overlong, a
        surrogate or beyond U+10FFFF becomes U+FFFD. JUCE's parser steps over a bad lead byte by
        the length the byte claims, which near the end of the text walks past its terminator. */
    std::string validUtf8 (const char* text, size_t length)
    {
        const auto* bytes = reinterpret_cast<const unsigned char*> (text);
        std::string result;
        result.reserve (length);

        for (size_t i = 0; i < length && bytes[i] != 0;)
        {
            const auto lead = bytes[i];
            const auto extra = lead < 0x80 ? 0 : (lead >= 0xc2 && lead <= 0xdf) ? 1 : (lead >= 0xe0 && lead <= 0xef) ? 2 : (lead >= 0xf0 && lead <= 0xf4) ? 3 : -1;

            bool valid = extra >= 0 && i + static_cast<size_t> (extra) < length;
            juce::uint32 codePoint = extra <= 0 ? lead : lead & (0x3fu >> extra);

            for (int k = 1; valid && k <= extra; ++k)
            {
                const auto next = bytes[i + static_cast<size_t> (k)];
                valid = (next & 0xc0) == 0x80;
                codePoint = (codePoint << 6) | (next & 0x3fu);
            }

            const juce::uint32 smallest[] { 0, 0x80, 0x800, 0x10000 };
            valid = valid && (extra <= 0 || codePoint >= smallest[extra]) && codePoint <= 0x10ffff
                    && ! (codePoint >= 0xd800 && codePoint <= 0xdfff);

            if (valid)
            {
                result.append (text + i, static_cast<size_t> (extra) + 1);
                i += static_cast<size_t> (extra) + 1;
            }
            else
            {
                result += "\xef\xbf\xbd";
                ++i;
            }
        }

        return result;
    }

    bool startsWith (const std::string& text, size_t at, const char* prefix)
    {
        return text.compare (at, std::char_traits<char>::length (prefix), prefix) == 0;
    }

    /** Length of the reference starting at text[at] == '&' (up to and including ';'), or 0 when it
        is not one of the five named references or a character reference to a code point that a
        text can hold. */
    size_t wellFormedReferenceLength (const std::string& text, size_t at)
    {
        for (const auto* named : { "&amp;", "&quot;", "&apos;", "&lt;", "&gt;" })
            if (startsWith (text, at, named))
                return std::char_traits<char>::length (named);

        if (! startsWith (text, at, "&#"))
            return 0;

        auto i = at + 2;
        const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
        i += hex ? 1 : 0;

        const auto firstDigit = i;
        juce::uint32 codePoint = 0;
        for (; i < text.size() && i - firstDigit < 8; ++i)
        {
            const auto digit = hex ? juce::CharacterFunctions::getHexDigitValue (static_cast<juce::juce_wchar> (text[i]))
                                   : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
            if (digit < 0)
                break;
            codePoint = codePoint * (hex ? 16u : 10u) + static_cast<juce::uint32> (digit);
        }

        const bool valid = i > firstDigit && i < text.size() && text[i] == ';' && codePoint > 0 && codePoint <= 0x10ffff
                           && ! (codePoint >= 0xd800 && codePoint <= 0xdfff);
        return valid ? i + 1 - at : 0;
    }

    /** JUCE writes a state with the named references and decimal character references only, never
        with a document type, and with its one processing instruction (the XML declaration) first.
        Its parser steps past the end of the text on a character reference cut short there, parses
        the values of declared entities again as markup, and loops for ever on a processing
        instruction followed by text inside an element; none of that belongs in saved data, so such
        a text is refused before it is parsed. */
    bool usesOnlyPlainMarkup (const std::string& text)
    {
        const auto declarationAt = text.find_first_not_of (" \t\r\n");

        for (size_t i = 0; i < text.size(); ++i)
        {
            if (text[i] == '&')
            {
                const auto length = wellFormedReferenceLength (text, i);
                if (length == 0)
                    return false;
                i += length - 1;
            }
            else if (startsWith (text, i, "<?"))
            {
                if (i != declarationAt)
                    return false;
            }
            else if (startsWith (text, i, "<!") && ! startsWith (text, i, "<!--") && ! startsWith (text, i, "<![CDATA["))
            {
                return false;
            }
        }

        return true;
    }

    // JUCE's parser forgives a text that stops inside the root's start tag (an empty root, which
    // would wipe the editor values) or inside its end tag. Saved data cut off like that is damaged.
    bool endsWithClosedRoot (const juce::String& text, const juce::String& rootTag)
    {
        // The last tag, up to its closing bracket; text after it does not matter.
        const auto fromLastTag = text.fromLastOccurrenceOf ("<", true, false);
        if (! fromLastTag.containsChar ('>'))
            return false;

        const auto lastTag = fromLastTag.upToFirstOccurrenceOf (">", true, false).removeCharacters (" \t\r\n");
        return lastTag == "</" + rootTag + ">" || (lastTag.startsWith ("<" + rootTag) && lastTag.endsWith ("/>"));
    }

    // Well-formed XML names each attribute of an element once. JUCE's parser keeps every copy of
    // a repeated one; the tree then reads the first and saving writes the last, so such a state
    // would not save as it was restored.
    bool repeatsAnAttribute (const juce::XmlElement& root)
    {
        std::vector<const juce::XmlElement*> pending { &root };

        while (! pending.empty())
        {
            const auto* element = pending.back();
            pending.pop_back();

            std::set<juce::String> names;
            for (int i = 0; i < element->getNumAttributes(); ++i)
                if (! names.insert (element->getAttributeName (i)).second)
                    return true;

            for (const auto* child : element->getChildIterator())
                pending.push_back (child);
        }

        return false;
    }
} // namespace

std::unique_ptr<juce::XmlElement> readXml (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes < 9)
        return {};

    const auto* bytes = static_cast<const char*> (data);
    const auto length = static_cast<juce::int32> (juce::ByteOrder::littleEndianInt (bytes + 4));

    if (juce::ByteOrder::littleEndianInt (bytes) != stateMagic || length <= 0)
        return {};

    // At most the bytes given; a zero byte ends the text.
    const auto utf8 = validUtf8 (bytes + 8, static_cast<size_t> (juce::jmin (length, sizeInBytes - 8)));
    if (! usesOnlyPlainMarkup (utf8))
        return {};

    const auto text = juce::String::fromUTF8 (utf8.data(), static_cast<int> (utf8.size()));
    auto xml = juce::parseXML (text);

    if (xml == nullptr || ! endsWithClosedRoot (text, xml->getTagName()) || repeatsAnAttribute (*xml))
        return {};

    return xml;
}

int selectionMaskOf (const juce::var& selection)
{
    const auto* entries = selection.getArray();
    if (entries == nullptr)
        return 0;

    int mask = 0;
    for (int i = 0; i < juce::jmin (numNodes, entries->size()); ++i)
        if (static_cast<bool> (entries->getReference (i)))
            mask |= 1 << i;

    return mask;
}

juce::var selectionFromMask (int mask)
{
    juce::Array<juce::var> entries;
    for (int i = 0; i < numNodes; ++i)
        entries.add ((mask & (1 << i)) != 0 ? juce::var (true) : juce::var());

    return entries;
}

void convertForSaving (juce::ValueTree& copy)
{
    auto child = copy.getChildWithName (config::nonAudioParametersId);
    if (child.isValid())
        child.setProperty (selectionKey(), selectionMaskOf (child[selectionKey()]), nullptr);
}

void convertForRestoring (juce::ValueTree& tree)
{
    auto child = tree.getChildWithName (config::nonAudioParametersId);
    if (! child.isValid())
    {
        child = juce::ValueTree (config::nonAudioParametersId);
        tree.appendChild (child, nullptr);
    }

    // Saved properties arrive as text; a missing or non-numeric mask reads as 0 (nothing selected).
    const auto mask = static_cast<int> (child[selectionKey()]);
    child.setProperty (selectionKey(), selectionFromMask (mask), nullptr);
}
} // namespace ombrel::saved_state
