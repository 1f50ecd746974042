#pragma once

#include "dsp/FilteringSection.h"

#include <juce_dsp/juce_dsp.h>

#include <atomic>
#include <limits>

namespace ombrel::dsp::transient_shaper
{
/**
    Turns a block of audio into a per-sample gain curve in dB that adds gain around onsets:
    fat gain x onset curve + punch gain x follow curve, both curves in [0, 1]. The audio
    itself is not changed; the caller applies the curve.

    Settings may be written from any thread: they are held in atomics and picked up at the
    start of the next block. setup() and processContinuous() must not run concurrently.
*/
class TransientShaper
{
public:
    static constexpr float defaultFollowerAttackMs = 1.0f;
    static constexpr float defaultFollowerReleaseMs = 100.0f;
    /** The follow curve is built on 0.85 x sensitivity. */
    static constexpr float followScale = 0.85f;
    static constexpr double gainRampSeconds = 0.01;

    TransientShaper();

    /** Prepares for a rate, block size and channel count; does nothing when none changed.
        Otherwise clears all state and jumps the gains to their targets. Allocates. */
    void setup (const juce::dsp::ProcessSpec& spec);

    /** Clears followers, allpass states and jumps the gains to their targets. */
    void reset() noexcept;

    /** Audio thread: the gain in dB per channel and sample for the input (at most the prepared
        channels and block size). The view stays valid until the next call. */
    juce::dsp::AudioBlock<float> processContinuous (const juce::dsp::AudioBlock<const float>& input) noexcept;

    // Settings, from any thread.
    void setSensitivity (float newSensitivity) noexcept { sensitivity.store (newSensitivity); }
    void setOnsetAttackTime (float ms) noexcept { onsetAttackMs.store (ms); }
    void setOnsetReleaseTime (float ms) noexcept { onsetReleaseMs.store (ms); }
    /** The speed time. */
    void setSpeedAttackTime (float ms) noexcept { speedAttackMs.store (ms); }
    void setSpeedReleaseTime (float ms) noexcept { speedReleaseMs.store (ms); }
    void setDurationAttackTime (float ms) noexcept { durationAttackMs.store (ms); }
    /** The duration time. */
    void setDurationReleaseTime (float ms) noexcept { durationReleaseMs.store (ms); }
    void setSlowFollowerAttackTime (float ms) noexcept { slowAttackMs.store (ms); }
    void setSlowFollowerReleaseTime (float ms) noexcept { slowReleaseMs.store (ms); }
    void setRatioOffset (float decibels) noexcept { ratioOffsetDb.store (decibels); }
    void setRatioScale (float decibels) noexcept { ratioScaleDb.store (decibels); }
    /** Gain on the follow curve, in dB; ramps over 10 ms. */
    void setPunchGain (float decibels) noexcept { punchTarget.store (decibels); }
    /** Gain on the onset curve, in dB; ramps over 10 ms. */
    void setFatGain (float decibels) noexcept { fatTarget.store (decibels); }

    float getSensitivity() const noexcept { return sensitivity.load(); }
    const juce::dsp::ProcessSpec& getSpec() const noexcept { return spec; }
    const EnvelopesRatio& getEnvelopesRatio() const noexcept { return section.getEnvelopesRatio(); }
    const PhaseDifferenceNetworkDesign& getNetworkDesign() const noexcept { return section.getEnvelopesRatio().getDesign(); }

private:
    /** Brings the audio-side objects in line with the settings. */
    void applySettings() noexcept;

    std::atomic<float> sensitivity { 0.0f };
    std::atomic<float> onsetAttackMs { defaultFollowerAttackMs }, onsetReleaseMs { defaultFollowerReleaseMs };
    std::atomic<float> speedAttackMs { defaultFollowerAttackMs }, speedReleaseMs { defaultFollowerReleaseMs };
    std::atomic<float> durationAttackMs { defaultFollowerAttackMs }, durationReleaseMs { defaultFollowerReleaseMs };
    std::atomic<float> slowAttackMs { EnvelopesRatio::defaultSlowAttackMs }, slowReleaseMs { EnvelopesRatio::defaultSlowReleaseMs };
    std::atomic<float> ratioOffsetDb { FilteringSection::defaultRatioOffsetDb }, ratioScaleDb { FilteringSection::defaultRatioScaleDb };
    std::atomic<float> punchTarget { 0.0f }, fatTarget { 0.0f };

    /** The values last handed to the audio-side objects, so unchanged settings cost nothing. */
    struct Applied
    {
        float onsetAttack, onsetRelease, speedAttack, speedRelease, durationAttack, durationRelease;
        float slowAttack, slowRelease, ratioOffset, ratioScale;
    };
    static Applied nothingApplied() noexcept
    {
        const auto none = std::numeric_limits<float>::quiet_NaN(); // unequal to any setting
        return { none, none, none, none, none, none, none, none, none, none };
    }
    Applied applied = nothingApplied();

    juce::dsp::BallisticsFilter<float> onsetFollower, speedFollower, durationFollower;
    FilteringSection section;

    juce::AudioBuffer<float> output;
    juce::SmoothedValue<float> punchGain, fatGain;
    juce::AudioBuffer<float> punchBuffer, fatBuffer;

    juce::dsp::ProcessSpec spec { 0.0, 0, 0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TransientShaper)
};
} // namespace ombrel::dsp::transient_shaper
