#include "core/SavedState.h"

#include "core/Config.h"

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

    // JUCE's parser forgives a text that stops inside the root's start tag (an empty root, which
    // would wipe the editor values) or inside its end tag. Saved data cut off like that is damaged.
    bool endsWithClosedRoot (const juce::String& text, const juce::String& rootTag)
    {
        const auto lastTag = text.fromLastOccurrenceOf ("<", true, false).removeCharacters (" \t\r\n");
        return lastTag == "</" + rootTag + ">" || (lastTag.startsWith ("<" + rootTag) && lastTag.endsWith ("/>"));
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
    const auto text = juce::String::fromUTF8 (bytes + 8, juce::jmin (length, sizeInBytes - 8));
    auto xml = juce::parseXML (text);

    if (xml == nullptr || ! endsWithClosedRoot (text, xml->getTagName()))
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
