#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

namespace host_support
{
enum class Format
{
    vst3,
    lv2
};

const char* formatName (Format format);

/** Loads the built bundle of the given format through JUCE's own hosting classes, as a DAW would. */
std::unique_ptr<juce::AudioPluginInstance> loadBuiltPlugin (Format format, double sampleRate = 44100.0, int blockSize = 512);

/** The plug-in's own parameters as the host sees them, without wrapper-added ones (the VST3 bypass). */
juce::Array<juce::AudioProcessorParameter*> pluginParameters (juce::AudioPluginInstance& instance);
} // namespace host_support
