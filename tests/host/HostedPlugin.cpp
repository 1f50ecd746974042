#include "host/HostedPlugin.h"

#include <catch2/catch.hpp>

#include <cmath>

namespace host_support
{
const char* formatName (Format format) { return format == Format::vst3 ? "VST3" : "LV2"; }

std::unique_ptr<juce::AudioPluginInstance> loadBuiltPlugin (Format format, double sampleRate, int blockSize)
{
    std::unique_ptr<juce::AudioPluginFormat> pluginFormat;
    juce::OwnedArray<juce::PluginDescription> types;

    if (format == Format::vst3)
    {
        pluginFormat = std::make_unique<juce::VST3PluginFormat>();
        pluginFormat->findAllTypesForFile (types, SORVANTA_VST3_BUNDLE);
    }
    else
    {
        // JUCE's LV2 host only knows bundles it has scanned.
        pluginFormat = std::make_unique<juce::LV2PluginFormat>();
        const auto bundleFolder = juce::File (SORVANTA_LV2_BUNDLE).getParentDirectory();
        pluginFormat->searchPathsForPlugins (juce::FileSearchPath (bundleFolder.getFullPathName()), true, false);
        pluginFormat->findAllTypesForFile (types, SORVANTA_LV2_URI);
    }

    INFO ("bundle of format " << formatName (format));
    REQUIRE (types.size() == 1);

    juce::String error;
    auto instance = pluginFormat->createInstanceFromDescription (*types[0], sampleRate, blockSize, error);
    INFO (error);
    REQUIRE (instance != nullptr);
    return instance;
}

juce::Array<juce::AudioProcessorParameter*> pluginParameters (juce::AudioPluginInstance& instance)
{
    juce::Array<juce::AudioProcessorParameter*> result;

    for (auto* p : instance.getParameters())
        if (p != instance.getBypassParameter())
            result.add (p);

    return result;
}

const std::vector<CatalogueEntry>& catalogue()
{
    static const auto entries = []
    {
        const juce::StringArray ids { "sidechainToggle", "curve", "transients", "transientsOn", "debleed", "inputGain", "spike",
                                      "lookahead", "threshold", "return", "floor", "attack", "hold", "release", "releaseSync",
                                      "syncSwitch", "flip", "outputClipType", "fat", "punch", "speed", "duration", "outputGain",
                                      "lpAmount", "lpFreq", "lpRelease", "hpAmount", "hpFreq", "hpRelease", "sidechainListen" };
        const juce::StringArray names { "Macro Side-chain on", "Macro Curve Style", "Macro Dynamics Amount", "Macro Dynamics on",
                                        "Macro Debleed on", "Input Gain", "Input Spike", "Gate Lookahead", "Gate Threshold",
                                        "Gate Return", "Gate Floor", "Gate Attack", "Gate Hold", "Gate Release",
                                        "Gate Synced Release ", "Gate Sync Release On", "Gate Flip", "Transients Clip Type",
                                        "Dynamics Fat Amount", "Dynamics Punch Amount", "Dynamics Fat Attack",
                                        "Dynamics Fat Duration", "Dynamics Output Gain", "Debleed LP Mode", "Debleed LP Amount",
                                        "Debleed LP Release", "Debleed HP Mode", "Debleed HP Amount", "Debleed HP Release",
                                        "Sidechain Listen" };

        std::vector<CatalogueEntry> result;
        for (int i = 0; i < ids.size(); ++i)
            result.push_back ({ ids[i], names[i] });

        for (int node = 0; node < 6; ++node)
            for (const juce::String kind : { "Type", "Freq", "Gain", "Qual" })
            {
                const auto longKind = kind == "Freq" ? "Frequency" : kind == "Qual" ? "Quality" : kind;
                result.push_back ({ "filter" + kind + juce::String (node), "Filter " + juce::String (node) + " - " + longKind });
            }

        return result;
    }();

    return entries;
}

juce::AudioProcessorParameter& parameterWithId (juce::AudioPluginInstance& instance, const juce::String& id)
{
    const auto& entries = catalogue();
    const auto entry = std::find_if (entries.begin(), entries.end(), [&] (const auto& e) { return e.id == id; });
    INFO ("parameter " << id);
    REQUIRE (entry != entries.end());

    for (auto* p : pluginParameters (instance))
        if (p->getName (1024) == entry->name)
            return *p;

    FAIL ("the host does not show the parameter");
    throw std::logic_error ("unreachable");
}

int expectedLatency (double sampleRate)
{
    // A factor a hair above 0.01 (a float value), so that whole-millisecond rates give whole
    // sample counts rather than one sample less.
    return static_cast<int> (sampleRate * 0.010000000707805157);
}

int reportedLatency (juce::AudioPluginInstance& instance, int expected)
{
    juce::AudioBuffer<float> empty (juce::jmax (instance.getTotalNumInputChannels(), instance.getTotalNumOutputChannels()), 0);
    juce::MidiBuffer midi;
    instance.processBlock (empty, midi);

    for (int attempt = 0; attempt < 100 && instance.getLatencySamples() != expected; ++attempt)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

    return instance.getLatencySamples();
}

namespace
{
    // JUCE's VST3 component chunk: the plug-in's bytes, then eight zero bytes, the wrapper's own
    // data, its size as a 64-bit integer and this marker.
    const juce::String vst3TrailerMarker ("JUCEPrivateData");

    juce::MemoryBlock vst3ComponentChunk (const juce::MemoryBlock& hostState)
    {
        juce::MemoryBlock chunk;
        if (auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize()))
            if (auto* component = xml->getChildByName ("IComponent"))
                chunk.fromBase64Encoding (component->getAllSubText());

        return chunk;
    }

    juce::MemoryBlock withoutVst3Trailer (const juce::MemoryBlock& chunk)
    {
        const auto markerSize = (size_t) vst3TrailerMarker.length();
        const auto size = chunk.getSize();

        if (size < markerSize + 16 || juce::String::fromUTF8 (static_cast<const char*> (chunk.getData()) + size - markerSize, (int) markerSize) != vst3TrailerMarker)
            return chunk;

        juce::int64 privateSize = 0;
        chunk.copyTo (&privateSize, (int) (size - markerSize - 8), 8);
        const auto pluginSize = (juce::int64) size - (juce::int64) markerSize - 16 - privateSize;
        return pluginSize > 0 ? juce::MemoryBlock (chunk.getData(), (size_t) pluginSize) : juce::MemoryBlock();
    }

    // JUCE's LV2 wrapper stores the plug-in's bytes as one base64 string literal in the Turtle text
    // the host saves, under its own state property.
    juce::Range<int> lv2StateLiteral (const juce::String& turtle)
    {
        const auto property = turtle.indexOf ("StateString");
        if (property < 0)
            return {};

        const auto open = turtle.indexOf (property, "\"");
        const auto close = open < 0 ? -1 : turtle.indexOf (open + 1, "\"");
        return close < 0 ? juce::Range<int>() : juce::Range<int> (open + 1, close);
    }
} // namespace

juce::MemoryBlock pluginStateInside (Format format, const juce::MemoryBlock& hostState)
{
    if (format == Format::vst3)
        return withoutVst3Trailer (vst3ComponentChunk (hostState));

    const auto turtle = hostState.toString();
    const auto literal = lv2StateLiteral (turtle);
    juce::MemoryBlock result;
    if (! literal.isEmpty())
        result.fromBase64Encoding (turtle.substring (literal.getStart(), literal.getEnd()));
    return result;
}

juce::MemoryBlock withPluginState (Format format, const juce::MemoryBlock& hostState, const juce::MemoryBlock& pluginState)
{
    juce::MemoryBlock result;

    if (format == Format::vst3)
    {
        auto xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), (int) hostState.getSize());
        REQUIRE (xml != nullptr);
        auto* component = xml->getChildByName ("IComponent");
        REQUIRE (component != nullptr);
        component->deleteAllChildElements();
        component->addTextElement (pluginState.toBase64Encoding());
        juce::AudioProcessor::copyXmlToBinary (*xml, result);
        return result;
    }

    const auto turtle = hostState.toString();
    const auto literal = lv2StateLiteral (turtle);
    REQUIRE_FALSE (literal.isEmpty());
    const auto replaced = turtle.replaceSection (literal.getStart(), literal.getLength(), pluginState.toBase64Encoding());
    result.append (replaced.toRawUTF8(), replaced.getNumBytesAsUTF8());
    return result;
}

namespace
{
    std::unique_ptr<juce::XmlElement> stateXml (const juce::MemoryBlock& pluginState)
    {
        return juce::AudioProcessor::getXmlFromBinary (pluginState.getData(), (int) pluginState.getSize());
    }
} // namespace

juce::String stateDifference (const juce::MemoryBlock& pluginState, const juce::MemoryBlock& expectedPluginState)
{
    const auto actual = stateXml (pluginState);
    const auto expected = stateXml (expectedPluginState);
    if (actual == nullptr || expected == nullptr)
        return "a state does not parse";

    if (actual->getTagName() != expected->getTagName() || actual->getNumChildElements() != expected->getNumChildElements())
        return "different roots or numbers of entries";

    for (auto* expectedChild : expected->getChildIterator())
    {
        if (expectedChild->hasTagName ("PARAM"))
        {
            const auto id = expectedChild->getStringAttribute ("id");
            const auto* actualChild = actual->getChildByAttribute ("id", id);
            if (actualChild == nullptr)
                return id + " is missing";

            const auto a = (float) actualChild->getDoubleAttribute ("value");
            const auto e = (float) expectedChild->getDoubleAttribute ("value");
            if (std::abs (a - e) > 1.0e-6f * juce::jmax (1.0f, std::abs (e)))
                return id + " is " + juce::String (a) + " instead of " + juce::String (e);
        }
        else
        {
            const auto* actualChild = actual->getChildByName (expectedChild->getTagName());
            if (actualChild == nullptr || ! actualChild->isEquivalentTo (expectedChild, false))
                return expectedChild->getTagName() + " differs";
        }
    }

    return {};
}

bool allFinite (const juce::AudioBuffer<float>& buffer, int numChannels)
{
    for (int ch = 0; ch < juce::jmin (numChannels, buffer.getNumChannels()); ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            if (! std::isfinite (buffer.getSample (ch, i)))
                return false;

    return true;
}
} // namespace host_support
