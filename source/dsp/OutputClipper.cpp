#include "dsp/OutputClipper.h"

#include "dsp/PrepareBuffer.h"

#include <algorithm>
#include <cmath>

namespace ombrel::dsp
{
namespace
{
    constexpr float silenceDb = -200.0f;
}

OutputClipper::OutputClipper()
{
    overshootFollower.setLevelCalculationType (juce::dsp::BallisticsFilterLevelCalculationType::peak);
    overshootFollower.setAttackTime (0.0f);
    overshootFollower.setReleaseTime (releaseMs);
}

void OutputClipper::prepare (const juce::dsp::ProcessSpec& spec)
{
    audio_framework::dsp::prepareBuffer (gainBuffer, spec);
    overshootFollower.prepare (spec);
}

void OutputClipper::reset() noexcept
{
    overshootFollower.reset();
}

OutputClipper::Mode OutputClipper::modeFromValue (float rawValue) noexcept
{
    if (! std::isfinite (rawValue))
        return Mode::off;

    switch (juce::roundToInt (rawValue))
    {
        case 1:  return Mode::automatic;
        case 2:  return Mode::clip;
        default: return Mode::off;
    }
}

void OutputClipper::process (juce::dsp::AudioBlock<float>& block, int numSamples, Mode mode) noexcept
{
    numSamples = std::min (numSamples, (int) block.getNumSamples());
    const auto channels = std::min ((int) block.getNumChannels(), 2);

    if (mode == Mode::clip)
    {
        for (int c = 0; c < channels; ++c)
            juce::FloatVectorOperations::clip (block.getChannelPointer ((size_t) c), block.getChannelPointer ((size_t) c), -1.0f, 1.0f, numSamples);
    }
    else if (mode == Mode::automatic)
    {
        limit (block, numSamples);
    }
}

void OutputClipper::limit (juce::dsp::AudioBlock<float>& block, int numSamples) noexcept
{
    const auto channels = std::min ({ (int) block.getNumChannels(), 2, gainBuffer.getNumChannels() });
    numSamples = std::min (numSamples, gainBuffer.getNumSamples());

    for (int c = 0; c < channels; ++c)
    {
        auto* samples = block.getChannelPointer ((size_t) c);
        auto* gains = gainBuffer.getWritePointer (c);

        // Overshoot above 0 dBFS in dB, held by a follower that attacks at once and releases
        // over a few ms; its negation is the gain that brings the peak back to 0 dBFS.
        for (int i = 0; i < numSamples; ++i)
        {
            const auto magnitude = std::abs (samples[i]);
            const auto level = magnitude > 0.0f ? std::max (20.0f * std::log10 (magnitude), silenceDb) : silenceDb;
            const auto overshoot = overshootFollower.processSample (c, std::max (level, 0.0f));
            gains[i] = overshoot <= 0.0f ? 1.0f : (-overshoot <= silenceDb ? 0.0f : std::pow (10.0f, -overshoot / 20.0f));
        }

        juce::FloatVectorOperations::multiply (samples, gains, numSamples);
    }

    overshootFollower.snapToZero();
}
} // namespace ombrel::dsp
