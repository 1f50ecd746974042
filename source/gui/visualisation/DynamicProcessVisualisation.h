#pragma once

#include "gui/Palette.h"
#include "gui/visualisation/GenericVisualiser.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cmath>

namespace ombrel
{
/** Audio thread helper for the gate view: turns linear levels into decibels in place.
    A level of 0 or below (or NaN) becomes -100 dB, and nothing goes below -100 dB. */
inline void convertLevelsToDecibels (float* samples, int numSamples) noexcept
{
    constexpr float floorDecibels = -100.0f;

    for (int i = 0; i < numSamples; ++i)
    {
        const auto x = samples[i];
        samples[i] = x > 0.0f ? juce::jmax (20.0f * std::log10 (x), floorDecibels) : floorDecibels;
    }
}

/** The live gate view: the last three seconds of the gate's detector level as a line over the
    processed output as a filled area, on a -72 dB (bottom) to +6 dB (top) scale.

    The editor creates it with the processor (for the sample rate) and shares it with the
    processor, which pushes each processed block into it from the audio thread under its display
    lock with pushBlock(). Resizing and painting on the message thread need no lock.
*/
template <typename ProcessorType>
class DynamicProcessVisualisation : public juce::Component
{
public:
    static constexpr int pointsPerTrace = 128;
    static constexpr double secondsPerPoint = 0.0234375; // 128 points make 3 s
    static constexpr int repaintPeriodMs = 100;
    static constexpr double fallbackSampleRate = 44100.0;

    explicit DynamicProcessVisualisation (const ProcessorType& processor)
        : mSampleRate (sampleRateOf (processor)),
          mValuesPerPoint (mSampleRate * (float) secondsPerPoint)
    {
        for (auto* trace : { &mDetectorTrace, &mOutputTrace })
        {
            trace->setSamplesPerBlock ((int) mValuesPerPoint);
            // Sized before the processor can push, so the first layout keeps what was pushed.
            trace->setBufferSize (pointsPerTrace);
            trace->setRepaintRate (1000 / repaintPeriodMs);
            trace->setOpaque (false);
            addAndMakeVisible (*trace);
        }

        mDetectorTrace.setColours (juce::Colour (0x00000000), juce::Colours::white);
        mOutputTrace.setColours (juce::Colour (0x00000000), colours::gate_graph_area);
        mOutputTrace.toBack();
        mOutputTrace.setFillMode (true);

        setOpaque (false);
    }

    void resized() override
    {
        for (auto* trace : { &mDetectorTrace, &mOutputTrace })
        {
            trace->setBounds (getLocalBounds());
            trace->setBufferSize (pointsPerTrace);
        }
    }

    /** Audio thread, while holding the processor's display lock. Pushes one processed block:
        `detectorLevels` is the gate's linear detector level per sample, `output` the processed
        main signal (channel 0) or nullptr while the side chain is being listened to, when the
        output area empties. Both are converted to decibels in `scratch`, a one-channel buffer
        the caller sized when preparing; longer blocks are pushed in pieces, so this never
        allocates. */
    void pushBlock (const float* detectorLevels, const float* output, int numSamples,
                    juce::AudioBuffer<float>& scratch) noexcept
    {
        const auto chunkLength = scratch.getNumSamples();

        if (chunkLength <= 0 || scratch.getNumChannels() <= 0 || detectorLevels == nullptr)
            return;

        for (int start = 0; start < numSamples; start += chunkLength)
        {
            const auto length = juce::jmin (chunkLength, numSamples - start);
            float* channels[] = { scratch.getWritePointer (0) };
            juce::AudioBuffer<float> chunk (channels, 1, length);

            juce::FloatVectorOperations::copy (channels[0], detectorLevels + start, length);
            convertLevelsToDecibels (channels[0], length);
            mDetectorTrace.pushBuffer (chunk);

            // While listening, the floor keeps every output point at zero height; pushing 0 dB
            // instead would draw a spike for a point that mixes output and listening.
            if (output != nullptr)
            {
                juce::FloatVectorOperations::copy (channels[0], output + start, length);
                convertLevelsToDecibels (channels[0], length);
            }
            else
            {
                juce::FloatVectorOperations::fill (channels[0], -100.0f, length);
            }

            mOutputTrace.pushBuffer (chunk);
        }
    }

    /** The trace fed with the detector level (a line). */
    GenericVisualiser<float>& getDetectorTrace() noexcept { return mDetectorTrace; }
    /** The trace fed with the output level (a filled area, behind the line). */
    GenericVisualiser<float>& getOutputTrace() noexcept { return mOutputTrace; }

    const juce::NormalisableRange<float>& getLevelRange() const noexcept { return mLevelRange; }
    float getSampleRate() const noexcept { return mSampleRate; }
    float getValuesPerPoint() const noexcept { return mValuesPerPoint; }

private:
    // The editor can open before the host has prepared the processor.
    static float sampleRateOf (const ProcessorType& processor)
    {
        const auto rate = processor.getSampleRate();
        return (float) (rate > 0.0 ? rate : fallbackSampleRate);
    }

    const juce::NormalisableRange<float> mLevelRange { -72.0f, 6.0f, 0.01f, 1.0f, false };
    GenericVisualiser<float> mDetectorTrace { 1, mLevelRange };
    GenericVisualiser<float> mOutputTrace { 1, mLevelRange };
    const float mSampleRate;
    const float mValuesPerPoint;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DynamicProcessVisualisation)
};
} // namespace ombrel
