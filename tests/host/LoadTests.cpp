#include "host/HostedPlugin.h"

#include <catch2/catch.hpp>

#include <algorithm>
#include <vector>

using namespace host_support;

namespace
{
// LV2 declares parameters as an unordered set of patch properties, and JUCE's LV2 host lists them
// sorted by property URI, which is the plug-in URI, a colon and the parameter ID.
std::vector<CatalogueEntry> inHostOrder (std::vector<CatalogueEntry> parameters, host_support::Format format)
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
    const auto expected = inHostOrder (catalogue(), format);
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

        INFO (rate << " Hz");
        CHECK (reportedLatency (*plugin, latency) == latency);
        plugin->releaseResources();
    }
}
