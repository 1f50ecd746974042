#include "core/PluginProcessor.h"
#include "core/SavedState.h"

#include <catch2/catch.hpp>

#include <cmath>
#include <optional>
#include <utility>

using namespace ombrel;

namespace
{
/** The host's wrapper written by hand: magic "VC2!", little-endian length, text, a zero byte. */
juce::MemoryBlock wrap (const juce::String& xmlText, std::optional<juce::uint32> lengthField = {})
{
    juce::MemoryBlock block;
    const auto utf8 = xmlText.toStdString();
    const auto length = lengthField.value_or ((juce::uint32) utf8.size());
    const juce::uint8 header[] = { 'V', 'C', '2', '!', (juce::uint8) (length & 0xff), (juce::uint8) ((length >> 8) & 0xff),
                                   (juce::uint8) ((length >> 16) & 0xff), (juce::uint8) ((length >> 24) & 0xff) };
    block.append (header, sizeof (header));
    block.append (utf8.data(), utf8.size());
    block.append ("\0", 1);
    return block;
}

juce::MemoryBlock save (BrimvaleAudioProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation (block);
    return block;
}

void restore (BrimvaleAudioProcessor& processor, const juce::MemoryBlock& block)
{
    processor.setStateInformation (block.getData(), (int) block.getSize());
}

std::unique_ptr<juce::XmlElement> unwrap (const juce::MemoryBlock& block)
{
    REQUIRE (block.getSize() > 9);
    auto text = juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int) block.getSize() - 9);
    return juce::parseXML (text);
}

float rawValue (BrimvaleAudioProcessor& processor, const char* id)
{
    return processor.mParameters.getRawParameterValue (id)->load();
}

void setValue (BrimvaleAudioProcessor& processor, const char* id, float value)
{
    auto* p = processor.mParameters.getParameter (id);
    p->setValueNotifyingHost (p->convertTo0to1 (value));
}

juce::ValueTree editorValues (BrimvaleAudioProcessor& processor)
{
    return processor.mParameters.state.getChildWithName ("NonAudioParameters");
}

void select (BrimvaleAudioProcessor& processor, std::initializer_list<int> nodes)
{
    juce::Array<juce::var> entries { false, false, false, false, false, false };
    for (auto n : nodes)
        entries.set (n, true);
    editorValues (processor).setProperty ("selectedFilters", entries, nullptr);
}

std::vector<bool> selection (BrimvaleAudioProcessor& processor)
{
    const auto* entries = editorValues (processor)["selectedFilters"].getArray();
    REQUIRE (entries != nullptr);
    REQUIRE (entries->size() == 6);
    std::vector<bool> result;
    for (const auto& e : *entries)
        result.push_back (static_cast<bool> (e));
    return result;
}
} // namespace

TEST_CASE ("A saved state has the wrapper's byte layout around one line of XML", "[state]")
{
    BrimvaleAudioProcessor processor;
    const auto block = save (processor);
    const auto* bytes = static_cast<const juce::uint8*> (block.getData());

    REQUIRE (block.getSize() > 9);
    CHECK (juce::String::fromUTF8 ((const char*) bytes, 4) == "VC2!");
    const auto length = (juce::uint32) bytes[4] | ((juce::uint32) bytes[5] << 8) | ((juce::uint32) bytes[6] << 16) | ((juce::uint32) bytes[7] << 24);
    CHECK (length == block.getSize() - 9);
    CHECK (bytes[block.getSize() - 1] == 0);

    const auto text = juce::String::fromUTF8 ((const char*) bytes + 8, (int) length);
    CHECK (text.startsWith ("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <BrimvaleParameters>"));
    CHECK_FALSE (text.containsAnyOf ("\r\n"));
}

TEST_CASE ("A fresh instance saves the editor defaults and 54 parameters", "[state]")
{
    BrimvaleAudioProcessor processor;
    auto xml = unwrap (save (processor));
    REQUIRE (xml != nullptr);

    auto* editor = xml->getChildByName ("NonAudioParameters");
    REQUIRE (editor != nullptr);
    CHECK (editor->getStringAttribute ("soloNode") == "0");
    CHECK (editor->getStringAttribute ("selectedFilter") == "-1");
    CHECK (editor->getStringAttribute ("selectedFilters") == "0");
    CHECK (editor->getStringAttribute ("SelectedTab") == "0");
    CHECK (editor->getStringAttribute ("eqDisplay") == "1");
    CHECK (editor->getStringAttribute ("sidechainListen") == "0");

    int params = 0;
    for (auto* child : xml->getChildWithTagNameIterator ("PARAM"))
    {
        ++params;
        CHECK (child->hasAttribute ("id"));
        CHECK (child->hasAttribute ("value"));
    }
    CHECK (params == 54);
}

TEST_CASE ("The node selection travels as a bit mask", "[state]")
{
    BrimvaleAudioProcessor processor;
    select (processor, { 0, 2 });

    auto xml = unwrap (save (processor));
    CHECK (xml->getChildByName ("NonAudioParameters")->getIntAttribute ("selectedFilters") == 5);

    // Saving leaves the live selection an array.
    CHECK (selection (processor) == std::vector<bool> { true, false, true, false, false, false });

    struct Case
    {
        const char* stored;
        std::vector<bool> selected;
    };

    const Case cases[] = {
        { "5", { true, false, true, false, false, false } },
        { "63", { true, true, true, true, true, true } },
        { "64", { false, false, false, false, false, false } },  // bits above the sixth node are ignored
        { "96", { false, false, false, false, false, true } },
        { "abc", { false, false, false, false, false, false } }, // not a number: nothing selected
    };

    for (const auto& c : cases)
    {
        BrimvaleAudioProcessor target;
        select (target, { 1, 3, 4 });
        auto state = juce::parseXML (xml->toString());
        state->getChildByName ("NonAudioParameters")->setAttribute ("selectedFilters", c.stored);
        restore (target, wrap (state->toString (juce::XmlElement::TextFormat().singleLine())));

        INFO ("stored mask " << c.stored);
        CHECK (selection (target) == c.selected);
    }
}

TEST_CASE ("Restoring fills gaps: a value-less parameter takes its default, a missing editor child is recreated", "[state]")
{
    BrimvaleAudioProcessor processor;
    setValue (processor, "threshold", -30.0f);
    setValue (processor, "hold", 200.0f);
    editorValues (processor).setProperty ("SelectedTab", 2, nullptr);

    const juce::String text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <BrimvaleParameters>"
                              "<PARAM id=\"threshold\"/><PARAM id=\"release\" value=\"250\"/></BrimvaleParameters>";
    restore (processor, wrap (text));

    CHECK (rawValue (processor, "threshold") == Approx (-12.0f));
    CHECK (rawValue (processor, "release") == Approx (250.0f));
    CHECK (rawValue (processor, "hold") == Approx (200.0f)); // absent from the state: keeps its value

    auto child = editorValues (processor);
    REQUIRE (child.isValid());
    CHECK (child.getNumProperties() == 1);
    CHECK (selection (processor) == std::vector<bool> (6, false));
}

TEST_CASE ("A complete root without children is a state", "[state]")
{
    // The check for damaged data must not turn away small but whole documents.
    for (const juce::String text : { "<BrimvaleParameters/>", "<BrimvaleParameters scale_fac_id=\"1.5\" />",
                                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <BrimvaleParameters></BrimvaleParameters>\n" })
    {
        BrimvaleAudioProcessor processor;
        setValue (processor, "hold", 200.0f);
        restore (processor, wrap (text));
        INFO (text);
        CHECK (editorValues (processor).getNumProperties() == 1); // replaced: only the selection
        CHECK (rawValue (processor, "hold") == Approx (200.0f));
    }
}

TEST_CASE ("Saved values that are not numbers in range restore into range", "[state]")
{
    // Values as a damaged or hand-edited session could hold them. NaN reads as a missing value
    // (the default); anything else is clamped to the parameter's range.
    struct Case
    {
        const char* id;
        const char* saved;
        float expected;
    };

    const Case cases[] = {
        { "threshold", "nan", -12.0f },  { "threshold", "inf", 6.0f },       { "threshold", "-inf", -72.0f },
        { "threshold", "1e40", 6.0f },   { "threshold", "-1000", -72.0f },   { "filterFreq1", "-5", 20.0f },
        { "filterFreq1", "0", 20.0f },   { "filterFreq1", "1e9", 20000.0f }, { "filterFreq2", "nan", 350.0f },
        { "inputGain", "-inf", -24.0f },
    };

    for (const auto& c : cases)
    {
        BrimvaleAudioProcessor processor;
        restore (processor, wrap (juce::String ("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <BrimvaleParameters><PARAM id=\"")
                                  + c.id + "\" value=\"" + c.saved + "\"/></BrimvaleParameters>"));
        INFO (c.id << " = " << c.saved);
        CHECK (rawValue (processor, c.id) == Approx (c.expected).margin (1.0e-3));

        for (auto* parameter : processor.getParameters())
        {
            const auto normalised = parameter->getValue();
            CHECK ((std::isfinite (normalised) && normalised >= 0.0f && normalised <= 1.0f));
        }
    }
}

TEST_CASE ("State text that is not UTF-8 is repaired before parsing", "[state]")
{
    // The wrapper written by hand from raw bytes, so that invalid sequences reach the reader.
    const auto wrapBytes = [] (const std::string& text)
    {
        juce::MemoryBlock block;
        const auto length = static_cast<juce::uint32> (text.size());
        const juce::uint8 header[] = { 'V', 'C', '2', '!', (juce::uint8) (length & 0xff), (juce::uint8) ((length >> 8) & 0xff), 0, 0 };
        block.append (header, sizeof (header));
        block.append (text.data(), text.size());
        block.append ("\0", 1);
        return block;
    };

    const juce::String replacement = juce::String::charToString (0xfffd);

    struct Case
    {
        const char* what;
        std::string bytes;
        juce::String expected;
    };

    const Case cases[] = {
        { "valid two-byte sequence", "caf\xc3\xa9", juce::String::fromUTF8 ("caf\xc3\xa9") },
        { "valid four-byte sequence", "\xf0\x9f\x8e\xb5", juce::String::charToString (0x1f3b5) },
        { "lone lead byte", "a\xc3z", "a" + replacement + "z" },
        { "bytes that never lead", "\xff\xfe", replacement + replacement },
        { "overlong slash", "\xc0\xaf", replacement + replacement },
        { "surrogate", "\xed\xa0\x80", replacement + replacement + replacement },
        { "beyond U+10FFFF", "\xf4\x90\x80\x80", replacement + replacement + replacement + replacement },
    };

    for (const auto& c : cases)
    {
        const auto block = wrapBytes ("<BrimvaleParameters a=\"" + c.bytes + "\"/>");
        const auto xml = saved_state::readXml (block.getData(), static_cast<int> (block.getSize()));
        INFO (c.what);
        REQUIRE (xml != nullptr);
        CHECK (xml->getStringAttribute ("a") == c.expected);
    }

    // A bad lead byte at the very end of the text (which made JUCE's parser read past its
    // terminator) still restores what precedes it.
    BrimvaleAudioProcessor processor;
    restore (processor, wrapBytes ("<BrimvaleParameters x=\"\xff\"><PARAM id=\"threshold\" value=\"-5\"/></BrimvaleParameters>\xff"));
    CHECK (rawValue (processor, "threshold") == Approx (-5.0f));
}

TEST_CASE ("Invalid state data changes nothing", "[state]")
{
    BrimvaleAudioProcessor processor;
    setValue (processor, "threshold", -30.0f);
    select (processor, { 4 });
    const auto before = save (processor);

    const juce::String valid = "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <BrimvaleParameters><PARAM id=\"threshold\" value=\"-5\"/></BrimvaleParameters>";
    auto wrongMagic = wrap (valid);
    static_cast<char*> (wrongMagic.getData())[0] = 'X';
    auto truncated = wrap (valid);
    truncated.setSize (8);

    struct Case
    {
        const char* what;
        juce::MemoryBlock data;
    };

    const Case cases[] = {
        { "8 bytes", truncated },
        { "wrong magic", wrongMagic },
        { "zero length", wrap (valid, 0) },
        { "negative length", wrap (valid, 0x80000000u) },
        { "length -1", wrap (valid, 0xffffffffu) },
        { "not XML", wrap ("this is not xml <<<") },
        { "empty text", wrap ("") },
        { "unterminated element", wrap ("<BrimvaleParameters><PARAM id=\"threshold\" value=\"-5\">") },
        // Cut off inside the root's tags: JUCE's parser alone would take these as documents.
        { "cut in the root's start tag", wrap ("<?xml version=\"1.0\" encoding=\"UTF-8\"?> <BrimvaleParameters") },
        { "cut after a root attribute", wrap ("<BrimvaleParameters scale_fac_id=\"1.5\"") },
        { "cut in the root's end tag", wrap ("<BrimvaleParameters><PARAM id=\"threshold\" value=\"-5\"/></Brimvale") },
        // Not well-formed: the tree would read one value and saving would write the other.
        { "repeated attribute", wrap ("<BrimvaleParameters><PARAM id=\"threshold\" value=\"-5\" value=\"-40\"/></BrimvaleParameters>") },
        // References JUCE never writes; its parser reads past the end of the text on the first.
        { "character reference cut at the end", wrap ("<BrimvaleParameters><PARAM id=\"threshold\" value=\"-5\"/>&#x") },
        { "declared entity", wrap ("<!DOCTYPE r [<!ENTITY e \"-5\">]><BrimvaleParameters><PARAM id=\"threshold\" value=\"&e;\"/></BrimvaleParameters>") },
        { "unknown named reference", wrap ("<BrimvaleParameters><PARAM id=\"threshold\" value=\"-5&minus;\"/></BrimvaleParameters>") },
        { "character reference beyond Unicode", wrap ("<BrimvaleParameters><PARAM id=\"threshold\" value=\"-5&#1114112;\"/></BrimvaleParameters>") },
        { "reference to character zero", wrap ("<BrimvaleParameters><PARAM id=\"threshold\" value=\"-5&#x0;\"/></BrimvaleParameters>") },
        // A processing instruction anywhere but first, followed by text: JUCE's parser never returns.
        { "processing instruction inside an element", wrap ("<?xml version=\"1.0\"?><BrimvaleParameters><PARAM id=\"threshold\" value=\"-5\">"
                                                            "<?pi?>text</PARAM></BrimvaleParameters>") },
    };

    for (const auto& c : cases)
    {
        restore (processor, c.data);
        INFO (c.what);
        CHECK (rawValue (processor, "threshold") == Approx (-30.0f));
        CHECK (save (processor) == before);
    }

    processor.setStateInformation (nullptr, 100);
    CHECK (save (processor) == before);
}

TEST_CASE ("Named and character references restore as the characters they stand for", "[state]")
{
    // JUCE writes control characters as decimal references; other writers use hexadecimal ones.
    const std::pair<const char*, float> cases[] = { { "&#45;12", -12.0f }, { "&#x2D;7", -7.0f }, { "-2&#48;", -20.0f } };

    for (const auto& [text, expected] : cases)
    {
        BrimvaleAudioProcessor processor;
        restore (processor, wrap (juce::String ("<BrimvaleParameters a=\"&amp;&lt;&gt;&quot;&apos;\"><PARAM id=\"threshold\" value=\"")
                                  + text + "\"/></BrimvaleParameters>"));
        INFO (text);
        CHECK (rawValue (processor, "threshold") == Approx (expected));
    }
}

TEST_CASE ("A length field beyond the data reads only the bytes given", "[state]")
{
    BrimvaleAudioProcessor processor;
    const juce::String valid = "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <BrimvaleParameters><PARAM id=\"threshold\" value=\"-5\"/></BrimvaleParameters>";
    restore (processor, wrap (valid, 1u << 30));
    CHECK (rawValue (processor, "threshold") == Approx (-5.0f));
}

TEST_CASE ("Save, restore and save again gives the same state", "[state]")
{
    BrimvaleAudioProcessor original;
    setValue (original, "threshold", -27.5f);
    setValue (original, "releaseSync", 7.0f);
    setValue (original, "filterFreq2", 777.0f);
    setValue (original, "outputClipType", 2.0f);
    select (original, { 1, 5 });
    editorValues (original).setProperty ("soloNode", true, nullptr);

    const auto first = save (original);

    BrimvaleAudioProcessor copy;
    restore (copy, first);
    CHECK (save (copy) == first);

    for (auto* p : original.getParameters())
    {
        auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p);
        INFO (ranged->getParameterID());
        CHECK (copy.mParameters.getParameter (ranged->getParameterID())->getValue() == ranged->getValue());
    }
    CHECK (selection (copy) == std::vector<bool> { false, true, false, false, false, true });
}
