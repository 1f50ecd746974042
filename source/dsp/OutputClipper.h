#pragma once

#include <juce_dsp/juce_dsp.h>

namespace ombrel::dsp
{
/** The last stage of the output: nothing, a fast limiter, or a hard clip at 0 dBFS. */
class OutputClipper
{
public:
    /** Values of the "outputClipType" choice. */
    enum class Mode
    {
        off = 0,
        automatic = 1,
        clip = 2
    };

    static constexpr float releaseMs = 4.0f;

    OutputClipper();

    /** Sizes the gain buffer and clears the limiter. Allocates. */
    void prepare (const juce::dsp::ProcessSpec& spec);
    void reset() noexcept;

    /** Processes the first numSamples of the block in place (at most the prepared size). */
    void process (juce::dsp::AudioBlock<float>& block, int numSamples, Mode mode) noexcept;

    /** The mode for a raw parameter value; anything but 1 or 2 means off. */
    static Mode modeFromValue (float rawValue) noexcept;

private:
    void limit (juce::dsp::AudioBlock<float>& block, int numSamples) noexcept;

    juce::AudioBuffer<float> gainBuffer;
    juce::dsp::BallisticsFilter<float> overshootFollower;
};
} // namespace ombrel::dsp
