#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

namespace host_bench
{
enum class PluginFormat
{
    lv2,
    vst3
};

const char* formatName (PluginFormat format);

/** Which plug-in to load: an LV2 plug-in URI or the path of a VST3 bundle. */
struct PluginSource
{
    PluginFormat format;
    juce::String identifier;
};

/** Loads plug-ins through JUCE's own LV2 and VST3 hosting, as a DAW would. LV2 plug-ins are looked up
    by URI among the bundles in the standard LV2 folders and the folders given here. */
class PluginLoader
{
public:
    explicit PluginLoader (const juce::StringArray& extraLv2Folders);

    /** Null, with the reason in error, when the plug-in cannot be found or instantiated. */
    std::unique_ptr<juce::AudioPluginInstance> load (const PluginSource& source, double sampleRate, int blockSize, juce::String& error);

private:
    juce::LV2PluginFormat lv2;
    juce::VST3PluginFormat vst3;
};

/** A parameter by its ID as the host reports it (for LV2 also the part after the plug-in URI),
    or by its name, ignoring case. Null when none matches. Host-added parameters (VST3 bypass) never match. */
juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance& instance, const juce::String& idOrName);
} // namespace host_bench
