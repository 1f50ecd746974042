#pragma once

#include "dsp/EnvelopesRatio.h"

#include <juce_dsp/juce_dsp.h>

#include <cmath>

namespace ombrel::dsp::transient_shaper
{
/** Turns a block into the scaled envelope ratio max((r - offset) * scale, 0), offset and scale set in dB. */
class FilteringSection
{
public:
    static constexpr float defaultRatioOffsetDb = -200.0f;
    static constexpr float defaultRatioScaleDb = -10.94f;

    /** Allocates; clears all state. */
    void prepare (const juce::dsp::ProcessSpec& spec);
    void reset() noexcept { envelopesRatio.reset(); }

    /** Audio thread. */
    void setSlowFollowerTimes (float attackMs, float releaseMs) noexcept { envelopesRatio.setSlowFollowerTimes (attackMs, releaseMs); }
    void setRatioOffset (float decibels) noexcept { ratioOffset = decibelsToGain (decibels); }
    void setRatioScale (float decibels) noexcept { ratioScale = decibelsToGain (decibels); }

    /** Audio thread: writes the scaled ratio of the input into the output (both at most the prepared size;
        the smaller of the two sizes is processed). */
    void process (const juce::dsp::AudioBlock<const float>& input, juce::dsp::AudioBlock<float>& output) noexcept;

    const EnvelopesRatio& getEnvelopesRatio() const noexcept { return envelopesRatio; }

    /** Settings at or below -100 dB mean gain 0. */
    static float decibelsToGain (float decibels) noexcept { return decibels > -100.0f ? std::pow (10.0f, decibels / 20.0f) : 0.0f; }

private:
    EnvelopesRatio envelopesRatio;
    float ratioOffset = decibelsToGain (defaultRatioOffsetDb);
    float ratioScale = decibelsToGain (defaultRatioScaleDb);
};
} // namespace ombrel::dsp::transient_shaper
