#include "dsp/Debleeder.h"

#include "core/Config.h"

#include <cmath>
#include <limits>

namespace ombrel::dsp
{
namespace
{
    // Sweep end points: a touch outside 20 Hz..20 kHz so the open sweep never sits exactly on the
    // band edges that switch a side off.
    constexpr float openLowpassCutoff = 20000.002f;
    constexpr float openHighpassCutoff = 19.999f;
    constexpr float lowestLowpassFrequency = 20000.0f;
    constexpr float highestHighpassFrequency = 20.0f;

    constexpr float releaseScale = 1.58f;
    constexpr float subtractionAttackMs = 1.0f;
    constexpr float sweepAttackMs = 0.2f;
    constexpr double onRampSeconds = 0.02;
    constexpr float subtractionOffsetPercent = 10.0f;

    // Above this fraction of the sample rate the filter's tangent warps past the Nyquist limit.
    constexpr double highestCutoffRatio = 0.49;

    const auto resonance = static_cast<float> (1.0 / std::sqrt (2.0));

    double samplesFor (double sampleRate, float milliseconds)
    {
        return sampleRate * static_cast<double> (milliseconds) * 0.001;
    }

    float smoothingCoefficient (double sampleRate, float milliseconds)
    {
        const auto samples = samplesFor (sampleRate, milliseconds);
        return samples > 0.0 ? static_cast<float> (1.0 - std::exp (-juce::MathConstants<double>::twoPi / samples)) : 1.0f;
    }

    float slewLimit (double sampleRate, float milliseconds)
    {
        const auto samples = samplesFor (sampleRate, milliseconds);
        return samples > 0.0 ? static_cast<float> (1.44 / samples) : std::numeric_limits<float>::max();
    }
} // namespace

//==============================================================================
SlewFollower::SlewFollower()
{
    updateRise();
    updateFall();
}

void SlewFollower::prepare (double sampleRate, int blockSize, int numChannels)
{
    mSampleRate = sampleRate;
    mBlockSize = blockSize;
    mNumChannels = juce::jmax (1, numChannels);
    mState.assign (static_cast<size_t> (mNumChannels), 0.0f);
    updateRise();
    updateFall();
}

void SlewFollower::reset() noexcept
{
    std::fill (mState.begin(), mState.end(), 0.0f);
}

void SlewFollower::setAttackTime (float milliseconds) noexcept
{
    mAttackTime = milliseconds;
    updateRise();
}

void SlewFollower::setReleaseTime (float milliseconds) noexcept
{
    mReleaseTime = milliseconds;
    updateFall();
}

void SlewFollower::updateRise() noexcept
{
    mRiseCoefficient = smoothingCoefficient (mSampleRate, mAttackTime);
    mMaximumRise = slewLimit (mSampleRate, mAttackTime);
}

void SlewFollower::updateFall() noexcept
{
    mFallCoefficient = smoothingCoefficient (mSampleRate, mReleaseTime);
    mMaximumFall = -slewLimit (mSampleRate, mReleaseTime);
}

float SlewFollower::processSample (int channel, float input) noexcept
{
    auto& state = mState[static_cast<size_t> (channel)];
    auto delta = (input - state) * (input > state ? mRiseCoefficient : mFallCoefficient);
    delta = juce::jlimit (mMaximumFall, mMaximumRise, delta);
    state += delta;
    return state;
}

void SlewFollower::process (const float* input, float* output, int numSamples, int channel) noexcept
{
    jassert (juce::isPositiveAndBelow (channel, mNumChannels));

    auto state = mState[static_cast<size_t> (channel)];

    for (int i = 0; i < numSamples; ++i)
    {
        const auto x = input[i];
        auto delta = (x - state) * (x > state ? mRiseCoefficient : mFallCoefficient);
        delta = juce::jlimit (mMaximumFall, mMaximumRise, delta);
        state += delta;
        output[i] = state;
    }

    mState[static_cast<size_t> (channel)] = state;
}

//==============================================================================
const juce::NormalisableRange<float> DebleederProcessor::mLowpassRange = audio_framework::parameters::makeFrequencyRange (300.0f, 20000.0f);
const juce::NormalisableRange<float> DebleederProcessor::mHighpassRange = audio_framework::parameters::makeFrequencyRange (20.0f, 20000.0f);

const std::array<juce::String, 7>& DebleederProcessor::listenedParameterIds()
{
    using namespace config;
    static const std::array<juce::String, 7> ids { Debleed::hpAmount.id, Debleed::lpAmount.id, Debleed::hpFreq.id,
                                                   Debleed::lpFreq.id,   Debleed::hpRelease.id, Debleed::lpRelease.id,
                                                   Macro::debleed.id };
    return ids;
}

DebleederProcessor::DebleederProcessor()
{
    using namespace config;
    parameterChanged (Debleed::hpAmount.id, Debleed::hpAmount.defaultValue);
    parameterChanged (Debleed::lpAmount.id, Debleed::lpAmount.defaultValue);
    parameterChanged (Debleed::hpFreq.id, Debleed::hpFreq.defaultValue);
    parameterChanged (Debleed::lpFreq.id, Debleed::lpFreq.defaultValue);
    parameterChanged (Debleed::hpRelease.id, Debleed::hpRelease.defaultValue);
    parameterChanged (Debleed::lpRelease.id, Debleed::lpRelease.defaultValue);
    parameterChanged (Macro::debleed.id, Macro::debleed.defaultValue ? 1.0f : 0.0f);
}

DebleederProcessor::DebleederProcessor (juce::AudioProcessorValueTreeState& parameters)
    : DebleederProcessor()
{
    mParameters = &parameters;

    for (const auto& id : listenedParameterIds())
    {
        parameters.addParameterListener (id, this);

        if (const auto* value = parameters.getRawParameterValue (id))
            parameterChanged (id, value->load());
    }
}

DebleederProcessor::~DebleederProcessor()
{
    if (mParameters != nullptr)
        for (const auto& id : listenedParameterIds())
            mParameters->removeParameterListener (id, this);
}

int DebleederProcessor::stageCountFor (float amount) noexcept
{
    switch (juce::roundToInt (amount))
    {
        case 0:  return 1;
        case 1:  return 2;
        default: return maximumStages;
    }
}

void DebleederProcessor::parameterChanged (const juce::String& parameterID, float newValue)
{
    using namespace config;

    if (! std::isfinite (newValue))
        return;

    constexpr auto order = std::memory_order_relaxed;

    if (parameterID == Debleed::lpAmount.id)        mLowpassAmountTarget.store (newValue, order);
    else if (parameterID == Debleed::hpAmount.id)   mHighpassAmountTarget.store (newValue, order);
    else if (parameterID == Debleed::lpFreq.id)     mLowpassPercentTarget.store (newValue, order);
    else if (parameterID == Debleed::hpFreq.id)     mHighpassPercentTarget.store (newValue, order);
    else if (parameterID == Debleed::lpRelease.id)  mLowpassReleaseTarget.store (newValue, order);
    else if (parameterID == Debleed::hpRelease.id)  mHighpassReleaseTarget.store (newValue, order);
    else if (parameterID == Macro::debleed.id)      mOnTarget.store (newValue, order);
}

//==============================================================================
void DebleederProcessor::prepare (const juce::dsp::ProcessSpec& spec)
{
    mSampleRate = spec.sampleRate;
    mMaximumBlockSize = static_cast<int> (spec.maximumBlockSize);

    const juce::dsp::ProcessSpec sweepSpec { spec.sampleRate, spec.maximumBlockSize, 2 * maximumStages };
    const juce::dsp::ProcessSpec stereoSpec { spec.sampleRate, spec.maximumBlockSize, 2 };

    for (auto* sweep : { &mLowpassSweep, &mHighpassSweep })
    {
        sweep->prepare (sweepSpec);
        sweep->setResonance (resonance);
    }
    mLowpassSweep.setType (juce::dsp::StateVariableTPTFilterType::lowpass);
    mHighpassSweep.setType (juce::dsp::StateVariableTPTFilterType::highpass);

    for (auto* subtraction : { &mLowpassSubtraction, &mHighpassSubtraction })
    {
        subtraction->prepare (stereoSpec);
        subtraction->setResonance (resonance);
    }
    mLowpassSubtraction.setType (juce::dsp::StateVariableTPTFilterType::highpass);
    mHighpassSubtraction.setType (juce::dsp::StateVariableTPTFilterType::lowpass);

    mSubtractionControl.setSize (1, mMaximumBlockSize);
    mFilteredCopy.setSize (2, mMaximumBlockSize);
    mTriggerCopy.setSize (1, mMaximumBlockSize);
    mLowpassSweepControl.setSize (1, mMaximumBlockSize);
    mHighpassSweepControl.setSize (1, mMaximumBlockSize);

    for (auto* follower : { &mLowpassSweepFollower, &mHighpassSweepFollower, &mLowpassSubtractionFollower, &mHighpassSubtractionFollower })
        follower->prepare (spec.sampleRate, mMaximumBlockSize, 1);

    mLowpassSubtractionFollower.setAttackTime (subtractionAttackMs);
    mHighpassSubtractionFollower.setAttackTime (subtractionAttackMs);
    mLowpassSweepFollower.setAttackTime (sweepAttackMs);
    mHighpassSweepFollower.setAttackTime (sweepAttackMs);

    mOnSmoother.reset (spec.sampleRate, onRampSeconds);
    mOnSmoother.setCurrentAndTargetValue (mOnTarget.load());
    mOnBuffer.setSize (1, mMaximumBlockSize);

    // Everything derived from the parameters depends on the rate: derive it again.
    mLowpassPercent = mHighpassPercent = std::numeric_limits<float>::quiet_NaN();
    mLowpassRelease = mHighpassRelease = std::numeric_limits<float>::quiet_NaN();
    applyParameterChanges();
}

void DebleederProcessor::reset() noexcept
{
    for (auto* filter : { &mLowpassSweep, &mHighpassSweep, &mLowpassSubtraction, &mHighpassSubtraction })
        filter->reset();

    for (auto* follower : { &mLowpassSweepFollower, &mHighpassSweepFollower, &mLowpassSubtractionFollower, &mHighpassSubtractionFollower })
        follower->reset();

    mOnSmoother.setCurrentAndTargetValue (mOnTarget.load());
    mLowpassSweepExponent = mHighpassSweepExponent = -1.0f;
}

float DebleederProcessor::limitCutoff (float frequency) const noexcept
{
    return juce::jmin (frequency, static_cast<float> (mSampleRate * highestCutoffRatio));
}

void DebleederProcessor::applyParameterChanges() noexcept
{
    constexpr auto order = std::memory_order_relaxed;

    // NaN in the audio-thread copies forces a refresh after preparation.
    if (const auto percent = mLowpassPercentTarget.load (order); ! (percent == mLowpassPercent))
    {
        mLowpassPercent = percent;
        mLowpassFrequency = mLowpassRange.convertFrom0to1 (1.0f - percent / 100.0f);
        mLowpassSweepActive = mLowpassFrequency < lowestLowpassFrequency;
        mLowpassSweepLogRange = std::log (openLowpassCutoff / mLowpassFrequency);
        mLowpassSweepExponent = -1.0f;

        const auto subtractionPercent = juce::jmin (percent + subtractionOffsetPercent, 100.0f);
        mLowpassSubtraction.setCutoffFrequency (limitCutoff (mLowpassRange.convertFrom0to1 (1.0f - subtractionPercent / 100.0f)));
    }

    if (const auto percent = mHighpassPercentTarget.load (order); ! (percent == mHighpassPercent))
    {
        mHighpassPercent = percent;
        mHighpassFrequency = mHighpassRange.convertFrom0to1 (percent / 100.0f);
        mHighpassSweepActive = mHighpassFrequency > highestHighpassFrequency;
        mHighpassSweepLogRange = std::log (mHighpassFrequency / openHighpassCutoff);
        mHighpassSweepExponent = -1.0f;

        mHighpassSubtraction.setCutoffFrequency (limitCutoff (mHighpassFrequency));
    }

    if (const auto release = mLowpassReleaseTarget.load (order); ! (release == mLowpassRelease))
    {
        mLowpassRelease = release;
        mLowpassSweepFollower.setReleaseTime (releaseScale * release);
        mLowpassSubtractionFollower.setReleaseTime (releaseScale * release);
    }

    if (const auto release = mHighpassReleaseTarget.load (order); ! (release == mHighpassRelease))
    {
        mHighpassRelease = release;
        mHighpassSweepFollower.setReleaseTime (releaseScale * release);
        mHighpassSubtractionFollower.setReleaseTime (releaseScale * release);
    }

    mLowpassStageSource = mLowpassAmountTarget.load (order);
    mHighpassStageSource = mHighpassAmountTarget.load (order);
    mOnSmoother.setTargetValue (mOnTarget.load (order));
}

//==============================================================================
void DebleederProcessor::process (juce::dsp::AudioBlock<float> mainBlock, const float* trigger) noexcept
{
    if (mMaximumBlockSize <= 0)
        return;

    const juce::ScopedNoDenormals noDenormals;
    const auto numSamples = mainBlock.getNumSamples();
    const auto chunk = static_cast<size_t> (mMaximumBlockSize);

    for (size_t start = 0; start < numSamples; start += chunk)
    {
        const auto length = juce::jmin (chunk, numSamples - start);
        processChunk (mainBlock.getSubBlock (start, length), trigger != nullptr ? trigger + start : nullptr);
    }
}

void DebleederProcessor::subtract (juce::dsp::AudioBlock<float>& mainBlock,
                                   juce::dsp::StateVariableTPTFilter<float>& filter,
                                   SlewFollower& follower,
                                   const float* trigger,
                                   const float* on) noexcept
{
    const auto numSamples = static_cast<int> (mainBlock.getNumSamples());
    auto* control = mSubtractionControl.getWritePointer (0);

    // The closed state scaled by the on ramp, so switching the stage on or off never steps.
    follower.process (trigger, control, numSamples);
    for (int i = 0; i < numSamples; ++i)
        control[i] = on[i] * (1.0f - control[i]);

    auto filtered = juce::dsp::AudioBlock<float> (mFilteredCopy)
                        .getSubsetChannelBlock (0, mainBlock.getNumChannels())
                        .getSubBlock (0, mainBlock.getNumSamples());
    filtered.copyFrom (mainBlock);
    filter.process (juce::dsp::ProcessContextReplacing<float> (filtered));

    for (size_t ch = 0; ch < mainBlock.getNumChannels(); ++ch)
        juce::FloatVectorOperations::subtractWithMultiply (mainBlock.getChannelPointer (ch), filtered.getChannelPointer (ch), control, numSamples);
}

void DebleederProcessor::processChunk (juce::dsp::AudioBlock<float> mainBlock, const float* trigger) noexcept
{
    const auto numSamples = static_cast<int> (mainBlock.getNumSamples());
    mainBlock = mainBlock.getSubsetChannelBlock (0, juce::jmin<size_t> (mainBlock.getNumChannels(), 2));
    const auto numChannels = static_cast<int> (mainBlock.getNumChannels());

    applyParameterChanges();

    auto* on = mOnBuffer.getWritePointer (0);
    for (int i = 0; i < numSamples; ++i)
        on[i] = mOnSmoother.getNextValue();

    if (! mOnSmoother.isSmoothing() && on[0] <= 0.0f)
    {
        // At rest and off: nothing runs, and the sweeps start from silence next time.
        mLowpassSweep.reset();
        mHighpassSweep.reset();
        return;
    }

    if (numChannels == 0)
        return;

    if (trigger == nullptr)
    {
        juce::FloatVectorOperations::fill (mTriggerCopy.getWritePointer (0), 1.0f, numSamples);
        trigger = mTriggerCopy.getReadPointer (0);
    }

    subtract (mainBlock, mLowpassSubtraction, mLowpassSubtractionFollower, trigger, on);
    subtract (mainBlock, mHighpassSubtraction, mHighpassSubtractionFollower, trigger, on);

    auto* lowpassOpen = mLowpassSweepControl.getWritePointer (0);
    auto* highpassOpen = mHighpassSweepControl.getWritePointer (0);
    mLowpassSweepFollower.process (trigger, lowpassOpen, numSamples);
    mHighpassSweepFollower.process (trigger, highpassOpen, numSamples);

    const auto lowpassActive = mLowpassSweepActive;
    const auto highpassActive = mHighpassSweepActive;

    if (! lowpassActive && ! highpassActive)
        return;

    const auto lowpassStages = stageCountFor (mLowpassStageSource);
    const auto highpassStages = stageCountFor (mHighpassStageSource);

    float* channels[2] {};
    for (int ch = 0; ch < numChannels; ++ch)
        channels[ch] = mainBlock.getChannelPointer (static_cast<size_t> (ch));

    for (int i = 0; i < numSamples; ++i)
    {
        // Exponent 1 puts the low-pass at its open end, exponent 0 the high-pass; the off
        // state (on = 0) is the open state, so the on ramp fades the sweep in and out.
        if (lowpassActive)
        {
            const auto exponent = 1.0f - on[i] * (1.0f - lowpassOpen[i]);
            if (exponent != mLowpassSweepExponent)
            {
                mLowpassSweepExponent = exponent;
                mLowpassSweep.setCutoffFrequency (limitCutoff (mLowpassFrequency * std::exp (exponent * mLowpassSweepLogRange)));
            }
        }

        if (highpassActive)
        {
            const auto exponent = on[i] * (1.0f - highpassOpen[i]);
            if (exponent != mHighpassSweepExponent)
            {
                mHighpassSweepExponent = exponent;
                mHighpassSweep.setCutoffFrequency (limitCutoff (openHighpassCutoff * std::exp (exponent * mHighpassSweepLogRange)));
            }
        }

        for (int ch = 0; ch < numChannels; ++ch)
        {
            auto x = channels[ch][i];

            if (lowpassActive)
                for (int stage = 0; stage < lowpassStages; ++stage)
                    x = mLowpassSweep.processSample (2 * stage + ch, x);

            if (highpassActive)
                for (int stage = 0; stage < highpassStages; ++stage)
                    x = mHighpassSweep.processSample (2 * stage + ch, x);

            channels[ch][i] = x;
        }
    }

    mLowpassSweep.snapToZero();
    mHighpassSweep.snapToZero();
}
} // namespace ombrel::dsp
