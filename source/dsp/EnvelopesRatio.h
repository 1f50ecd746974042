#pragma once

#include "dsp/PhaseDifferenceNetwork.h"

#include <juce_dsp/juce_dsp.h>

namespace ombrel::dsp::transient_shaper
{
/**
    Ratio of a signal's amplitude envelope to a slowed copy of it; rises above 1 at onsets.

    The envelope is the magnitude of the analytic signal formed by the 90-degree network, so
    a steady tone gives a flat envelope instead of the ripple of a rectifier.
*/
class EnvelopesRatio
{
public:
    static constexpr float defaultSlowAttackMs = 68.75f;
    static constexpr float defaultSlowReleaseMs = 35.55f;
    /** Keeps the ratio finite where the slow envelope is 0. */
    static constexpr float slowEnvelopeGuard = 1.0e-7f;

    EnvelopesRatio();

    /** Designs the network for the rate, sizes the buffers and clears all state. Allocates. */
    void prepare (const juce::dsp::ProcessSpec& spec);
    void reset() noexcept;

    /** Audio thread. Coefficients are recomputed at once. */
    void setSlowFollowerTimes (float attackMs, float releaseMs) noexcept;

    /** Audio thread: the envelope ratio for every channel and sample of the input (at most the
        prepared size). The view stays valid until the next call. */
    juce::dsp::AudioBlock<float> process (const juce::dsp::AudioBlock<const float>& input) noexcept;

    /** The envelopes of the last processed block, same size as the returned ratio. */
    juce::dsp::AudioBlock<const float> getLastEnvelope() const noexcept { return lastEnvelope; }

    const PhaseDifferenceNetworkDesign& getDesign() const noexcept { return design; }
    const AllpassChain& getChainA() const noexcept { return chainA; }
    const AllpassChain& getChainB() const noexcept { return chainB; }

private:
    PhaseDifferenceNetworkDesign design;
    AllpassChain chainA, chainB;
    juce::dsp::BallisticsFilter<float> slowFollower;
    juce::AudioBuffer<float> envelope, ratio;
    juce::dsp::AudioBlock<const float> lastEnvelope;
};
} // namespace ombrel::dsp::transient_shaper
