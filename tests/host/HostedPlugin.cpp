#include "host/HostedPlugin.h"

#include <catch2/catch.hpp>

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
} // namespace host_support
