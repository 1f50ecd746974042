#include "dsp/EnvelopesRatio.h"

#include <algorithm>
#include <cmath>

namespace ombrel::dsp::transient_shaper
{
EnvelopesRatio::EnvelopesRatio()
{
    slowFollower.setLevelCalculationType (juce::dsp::BallisticsFilterLevelCalculationType::peak);
    slowFollower.setAttackTime (defaultSlowAttackMs);
    slowFollower.setReleaseTime (defaultSlowReleaseMs);
}

void EnvelopesRatio::prepare (const juce::dsp::ProcessSpec& spec)
{
    const auto channels = (int) spec.numChannels;

    design = PhaseDifferenceNetworkDesign::forSampleRate (spec.sampleRate);
    chainA.prepare (design.chainACoefficients, channels);
    chainB.prepare (design.chainBCoefficients, channels);

    slowFollower.prepare (spec);
    slowFollower.reset();

    envelope.setSize (channels, (int) spec.maximumBlockSize);
    ratio.setSize (channels, (int) spec.maximumBlockSize);
    envelope.clear();
    ratio.clear();
    lastEnvelope = {};
}

void EnvelopesRatio::reset() noexcept
{
    chainA.reset();
    chainB.reset();
    slowFollower.reset();
}

void EnvelopesRatio::setSlowFollowerTimes (float attackMs, float releaseMs) noexcept
{
    slowFollower.setAttackTime (attackMs);
    slowFollower.setReleaseTime (releaseMs);
}

juce::dsp::AudioBlock<float> EnvelopesRatio::process (const juce::dsp::AudioBlock<const float>& input) noexcept
{
    const auto channels = std::min ((int) input.getNumChannels(), ratio.getNumChannels());
    const auto numSamples = std::min ((int) input.getNumSamples(), ratio.getNumSamples());

    if (channels <= 0 || numSamples <= 0)
    {
        lastEnvelope = {};
        return {};
    }

    for (int channel = 0; channel < channels; ++channel)
    {
        const auto* in = input.getChannelPointer ((size_t) channel);
        auto* env = envelope.getWritePointer (channel);
        auto* out = ratio.getWritePointer (channel);

        for (int i = 0; i < numSamples; ++i)
        {
            // Magnitude of the analytic signal: the two chain outputs are its real and imaginary parts.
            // A non-finite sample would stay in the allpass states for good.
            const auto x = std::isfinite (in[i]) ? (double) in[i] : 0.0;
            const auto re = chainA.processSample (channel, x);
            const auto im = chainB.processSample (channel, x);
            const auto e = (float) std::sqrt (re * re + im * im);

            const auto slow = slowFollower.processSample (channel, e);
            env[i] = e;
            out[i] = e * (1.0f / (slow + slowEnvelopeGuard));
        }
    }

    lastEnvelope = juce::dsp::AudioBlock<float> (envelope).getSubsetChannelBlock (0, (size_t) channels).getSubBlock (0, (size_t) numSamples);
    return juce::dsp::AudioBlock<float> (ratio).getSubsetChannelBlock (0, (size_t) channels).getSubBlock (0, (size_t) numSamples);
}
} // namespace ombrel::dsp::transient_shaper
