#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>
#include <vector>

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

struct CatalogueEntry
{
    juce::String id, name;
};

/** The plug-in's parameter IDs and host names in its own order, typed out independently of its code. */
const std::vector<CatalogueEntry>& catalogue();

/** The hosted parameter with the given ID, found by its unique host name; fails the test when absent. */
juce::AudioProcessorParameter& parameterWithId (juce::AudioPluginInstance& instance, const juce::String& id);

/** Latency in samples the plug-in must report at a rate: 10 ms, truncated. */
int expectedLatency (double sampleRate);

/** The latency the host sees once the plug-in has had a chance to report it. VST3 reports a change
    through an asynchronous restart and LV2 through its latency port after a run, so this runs an
    empty block and the message loop (as a DAW does) until the expected value arrives or time is up. */
int reportedLatency (juce::AudioPluginInstance& instance, int expected);

/** The plug-in's own state bytes inside a host's saved state (VST3: the component chunk, LV2: the
    state string), or an empty block when none is found. */
juce::MemoryBlock pluginStateInside (Format format, const juce::MemoryBlock& hostState);

/** A copy of a host's saved state whose plug-in state is replaced by the given bytes, so that the
    bytes reach the plug-in's own restore through the host. */
juce::MemoryBlock withPluginState (Format format, const juce::MemoryBlock& hostState, const juce::MemoryBlock& pluginState);

/** "" when two plug-in states hold the same parameter values (within float precision) and the
    same editor-only values, else a description of the first difference. The text of a value may
    change between saves: the parameter tree rewrites its stored values from the parameters on a
    timer, so the same float can be written with different digits. */
juce::String stateDifference (const juce::MemoryBlock& pluginState, const juce::MemoryBlock& expectedPluginState);

/** True when every sample of the first numChannels channels is finite. */
bool allFinite (const juce::AudioBuffer<float>& buffer, int numChannels);
} // namespace host_support
