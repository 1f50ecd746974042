#include "dsp/TransientShaper.h"

#include <algorithm>
#include <cmath>

namespace ombrel::dsp::transient_shaper
{
TransientShaper::TransientShaper()
{
    for (auto* follower : { &onsetFollower, &speedFollower, &durationFollower })
    {
        follower->setLevelCalculationType (juce::dsp::BallisticsFilterLevelCalculationType::peak);
        follower->setAttackTime (defaultFollowerAttackMs);
        follower->setReleaseTime (defaultFollowerReleaseMs);
    }
}

void TransientShaper::setup (const juce::dsp::ProcessSpec& newSpec)
{
    if (newSpec.sampleRate == spec.sampleRate && newSpec.maximumBlockSize == spec.maximumBlockSize
        && newSpec.numChannels == spec.numChannels)
        return;

    spec = newSpec;
    const auto channels = (int) spec.numChannels;
    const auto blockSize = (int) spec.maximumBlockSize;

    // The followers recompute their coefficients for the new rate from the times they hold.
    section.prepare (spec);
    onsetFollower.prepare (spec);
    speedFollower.prepare (spec);
    durationFollower.prepare (spec);
    applySettings();

    output.setSize (channels, blockSize);
    output.clear();
    punchBuffer.setSize (1, blockSize);
    fatBuffer.setSize (1, blockSize);

    const auto rampSamples = (int) std::floor (gainRampSeconds * spec.sampleRate);
    punchGain.reset (rampSamples);
    fatGain.reset (rampSamples);

    reset();
}

void TransientShaper::reset() noexcept
{
    onsetFollower.reset();
    speedFollower.reset();
    durationFollower.reset();
    section.reset();
    punchGain.setCurrentAndTargetValue (punchTarget.load());
    fatGain.setCurrentAndTargetValue (fatTarget.load());
}

void TransientShaper::applySettings() noexcept
{
    const Applied wanted { onsetAttackMs.load(),    onsetReleaseMs.load(), speedAttackMs.load(),
                           speedReleaseMs.load(),   durationAttackMs.load(), durationReleaseMs.load(),
                           slowAttackMs.load(),     slowReleaseMs.load(),  ratioOffsetDb.load(),
                           ratioScaleDb.load() };

    const auto update = [] (float& current, float target, auto&& apply)
    {
        if (current != target)
        {
            current = target;
            apply (target);
        }
    };

    update (applied.onsetAttack, wanted.onsetAttack, [this] (float ms) { onsetFollower.setAttackTime (ms); });
    update (applied.onsetRelease, wanted.onsetRelease, [this] (float ms) { onsetFollower.setReleaseTime (ms); });
    update (applied.speedAttack, wanted.speedAttack, [this] (float ms) { speedFollower.setAttackTime (ms); });
    update (applied.speedRelease, wanted.speedRelease, [this] (float ms) { speedFollower.setReleaseTime (ms); });
    update (applied.durationAttack, wanted.durationAttack, [this] (float ms) { durationFollower.setAttackTime (ms); });
    update (applied.durationRelease, wanted.durationRelease, [this] (float ms) { durationFollower.setReleaseTime (ms); });
    update (applied.ratioOffset, wanted.ratioOffset, [this] (float db) { section.setRatioOffset (db); });
    update (applied.ratioScale, wanted.ratioScale, [this] (float db) { section.setRatioScale (db); });

    if (applied.slowAttack != wanted.slowAttack || applied.slowRelease != wanted.slowRelease)
    {
        applied.slowAttack = wanted.slowAttack;
        applied.slowRelease = wanted.slowRelease;
        section.setSlowFollowerTimes (wanted.slowAttack, wanted.slowRelease);
    }

    punchGain.setTargetValue (punchTarget.load());
    fatGain.setTargetValue (fatTarget.load());
}

juce::dsp::AudioBlock<float> TransientShaper::processContinuous (const juce::dsp::AudioBlock<const float>& input) noexcept
{
    const auto channels = std::min ((int) input.getNumChannels(), output.getNumChannels());
    const auto numSamples = std::min ((int) input.getNumSamples(), output.getNumSamples());
    jassert ((int) input.getNumSamples() <= output.getNumSamples());

    if (channels <= 0 || numSamples <= 0)
        return {};

    juce::ScopedNoDenormals noDenormals;
    applySettings();

    // Scaled envelope ratio per channel, written straight into the output block.
    auto result = juce::dsp::AudioBlock<float> (output).getSubsetChannelBlock (0, (size_t) channels).getSubBlock (0, (size_t) numSamples);
    section.process (input.getSubsetChannelBlock (0, (size_t) channels).getSubBlock (0, (size_t) numSamples), result);

    auto* punch = punchBuffer.getWritePointer (0);
    auto* fat = fatBuffer.getWritePointer (0);
    for (int i = 0; i < numSamples; ++i)
    {
        punch[i] = punchGain.getNextValue();
        fat[i] = fatGain.getNextValue();
    }

    const auto threshold = sensitivity.load();
    const auto followCeiling = followScale * threshold;
    // Without a positive ceiling there is no follow curve (and nothing to divide by).
    const auto followNormaliser = followCeiling > 0.0f ? 1.0f / followCeiling : 0.0f;

    for (int channel = 0; channel < channels; ++channel)
    {
        auto* curve = result.getChannelPointer ((size_t) channel);

        for (int i = 0; i < numSamples; ++i)
        {
            // Onset curve: how far the scaled ratio rises above the sensitivity.
            const auto onsetValue = onsetFollower.processSample (channel, std::clamp (curve[i] - threshold, 0.0f, 1.0f));

            // Follow curve: a held copy of the onset, capped, minus the onset itself.
            auto held = durationFollower.processSample (channel, followCeiling * onsetValue);
            held = std::min (10.0f * held, followCeiling);
            const auto followInput = std::max (held - onsetValue, 0.0f) * followNormaliser;
            const auto followValue = speedFollower.processSample (channel, followInput);

            curve[i] = fat[i] * onsetValue + punch[i] * followValue;
        }
    }

    return result;
}
} // namespace ombrel::dsp::transient_shaper
