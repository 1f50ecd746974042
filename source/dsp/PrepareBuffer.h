#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_dsp/juce_dsp.h>

namespace audio_framework::dsp
{
/** Sizes a buffer to the spec's channels x maximum block size. Only reallocates (and then
    clears, keeping nothing) when the size differs; otherwise leaves buffer and content alone. */
template <typename SampleType>
void prepareBuffer (juce::AudioBuffer<SampleType>& buffer, const juce::dsp::ProcessSpec& spec)
{
    const auto channels = (int) spec.numChannels;
    const auto samples = (int) spec.maximumBlockSize;

    if (buffer.getNumChannels() == channels && buffer.getNumSamples() == samples)
        return;

    buffer.setSize (channels, samples, false, false, false);
    buffer.clear();
}
} // namespace audio_framework::dsp
