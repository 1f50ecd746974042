#include "host/HostedPlugin.h"

#include <catch2/catch.hpp>

#include <algorithm>
#include <vector>

using namespace host_support;

namespace
{
struct ExpectedParameter
{
    juce::String id, name;
};

// The catalogue's IDs and host names in host order, typed out independently of the plug-in's code.
std::vector<ExpectedParameter> expectedParameters()
{
    const juce::StringArray ids { "sidechainToggle", "curve", "transients", "transientsOn", "debleed", "inputGain", "spike",
                                  "lookahead", "threshold", "return", "floor", "attack", "hold", "release", "releaseSync",
                                  "syncSwitch", "flip", "outputClipType", "fat", "punch", "speed", "duration", "outputGain",
                                  "lpAmount", "lpFreq", "lpRelease", "hpAmount", "hpFreq", "hpRelease", "sidechainListen" };
    juce::StringArray names { "Macro Side-chain on", "Macro Curve Style", "Macro Dynamics Amount", "Macro Dynamics on",
                              "Macro Debleed on", "Input Gain", "Input Spike", "Gate Lookahead", "Gate Threshold",
                              "Gate Return", "Gate Floor", "Gate Attack", "Gate Hold", "Gate Release",
                              "Gate Synced Release ", "Gate Sync Release On", "Gate Flip", "Transients Clip Type",
                              "Dynamics Fat Amount", "Dynamics Punch Amount", "Dynamics Fat Attack",
                              "Dynamics Fat Duration", "Dynamics Output Gain", "Debleed LP Mode", "Debleed LP Amount",
                              "Debleed LP Release", "Debleed HP Mode", "Debleed HP Amount", "Debleed HP Release",
                              "Sidechain Listen" };

    std::vector<ExpectedParameter> result;
    for (int i = 0; i < ids.size(); ++i)
        result.push_back ({ ids[i], names[i] });

    for (int node = 0; node < 6; ++node)
        for (auto* kind : { "Type", "Freq", "Gain", "Qual" })
        {
            const auto longKind = juce::String (kind) == "Freq" ? "Frequency" : juce::String (kind) == "Qual" ? "Quality" : kind;
            result.push_back ({ "filter" + juce::String (kind) + juce::String (node), "Filter " + juce::String (node) + " - " + longKind });
        }

    return result;
}

// LV2 declares parameters as an unordered set of patch properties, and JUCE's LV2 host lists them
// sorted by property URI, which is the plug-in URI, a colon and the parameter ID.
std::vector<ExpectedParameter> inHostOrder (std::vector<ExpectedParameter> parameters, host_support::Format format)
{
    if (format == host_support::Format::lv2)
        std::sort (parameters.begin(), parameters.end(), [] (const auto& a, const auto& b) { return a.id.compare (b.id) < 0; });

    return parameters;
}

Format formatUnderTest()
{
    return GENERATE (Format::vst3, Format::lv2);
}
} // namespace

TEST_CASE ("A host sees the plug-in's name, 54 parameters in order and three buses", "[host]")
{
    const auto format = formatUnderTest();
    INFO (formatName (format));
    auto plugin = loadBuiltPlugin (format);

    CHECK (plugin->getName() == "ombrel - sorvanta");

    const auto params = pluginParameters (*plugin);
    const auto expected = inHostOrder (expectedParameters(), format);
    REQUIRE (params.size() == static_cast<int> (expected.size()));

    // The names, including the trailing blank of "Gate Synced Release ", arrive unchanged in both formats.
    for (size_t i = 0; i < expected.size(); ++i)
    {
        INFO ("parameter " << i + 1 << " " << expected[i].id);
        CHECK (params[(int) i]->getName (1024) == expected[i].name);
    }

    REQUIRE (plugin->getBusCount (true) == 2);
    REQUIRE (plugin->getBusCount (false) == 1);
    CHECK (plugin->getBus (true, 0)->getName() == "Input");
    CHECK (plugin->getBus (false, 0)->getName() == "Output");
    CHECK (plugin->getBus (true, 1)->getName() == "Sidechain");
    CHECK (plugin->getMainBusNumInputChannels() == 2);
    CHECK (plugin->getMainBusNumOutputChannels() == 2);
}

TEST_CASE ("A host sees 10 ms latency after preparation", "[host]")
{
    const auto format = formatUnderTest();
    INFO (formatName (format));

    for (const auto& [rate, latency] : { std::pair { 44100.0, 441 }, std::pair { 48000.0, 480 }, std::pair { 96000.0, 960 } })
    {
        auto plugin = loadBuiltPlugin (format, rate, 256);
        plugin->prepareToPlay (rate, 256);

        // VST3 reports a latency change through an asynchronous restart, LV2 through its latency
        // port after a run: process one block and let the message loop deliver, as a DAW does.
        juce::AudioBuffer<float> buffer (4, 256);
        buffer.clear();
        juce::MidiBuffer midi;
        plugin->processBlock (buffer, midi);
        juce::MessageManager::getInstance()->runDispatchLoopUntil (200);

        INFO (rate << " Hz");
        CHECK (plugin->getLatencySamples() == latency);
        plugin->releaseResources();
    }
}
