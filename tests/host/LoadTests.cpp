#include "host/HostedPlugin.h"

#include <catch2/catch.hpp>

using namespace host_support;

namespace
{
// The host names of the catalogue in host order, typed out independently of the plug-in's code.
juce::StringArray expectedParameterNames()
{
    juce::StringArray names { "Macro Side-chain on", "Macro Curve Style", "Macro Dynamics Amount", "Macro Dynamics on",
                              "Macro Debleed on", "Input Gain", "Input Spike", "Gate Lookahead", "Gate Threshold",
                              "Gate Return", "Gate Floor", "Gate Attack", "Gate Hold", "Gate Release",
                              "Gate Synced Release ", "Gate Sync Release On", "Gate Flip", "Transients Clip Type",
                              "Dynamics Fat Amount", "Dynamics Punch Amount", "Dynamics Fat Attack",
                              "Dynamics Fat Duration", "Dynamics Output Gain", "Debleed LP Mode", "Debleed LP Amount",
                              "Debleed LP Release", "Debleed HP Mode", "Debleed HP Amount", "Debleed HP Release",
                              "Sidechain Listen" };

    for (int node = 0; node < 6; ++node)
        for (auto* kind : { "Type", "Frequency", "Gain", "Quality" })
            names.add ("Filter " + juce::String (node) + " - " + kind);

    return names;
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
    const auto expected = expectedParameterNames();
    REQUIRE (params.size() == expected.size());

    for (int i = 0; i < expected.size(); ++i)
    {
        INFO ("parameter " << i + 1);
        CHECK (params[i]->getName (1024) == expected[i]);
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
