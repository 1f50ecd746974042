#include "dsp/GateProcessor.h"

#include "core/Config.h"
#include "core/PluginProcessor.h"
#include "dsp/PrepareBuffer.h"

#include <algorithm>
#include <cmath>

namespace ombrel::dsp
{
namespace
{
    constexpr float silenceDb = -200.0f;
    constexpr float mutedSettingDb = -100.0f;

    // Analysis settings shared by both shapers.
    constexpr float slowFollowerAttackMs = 68.75f;
    constexpr float slowFollowerReleaseMs = 35.55f;
    constexpr float ratioOffsetDb = -200.0f;
    constexpr float ratioScaleDb = -10.94f;
    constexpr float shaperSensitivity = 0.8974288f;

    constexpr float mainOnsetReleaseMs = 181.26f;
    constexpr float mainSpeedReleaseMs = 20.0f;
    constexpr float mainDurationAttackMs = 20.0f;
    constexpr float detectorOnsetReleaseMs = 50.0f;

    float settingToGain (float decibels) noexcept
    {
        return decibels > mutedSettingDb ? std::pow (10.0f, decibels / 20.0f) : 0.0f;
    }

    float curveToGain (float decibels) noexcept
    {
        return decibels > silenceDb ? std::pow (10.0f, decibels / 20.0f) : 0.0f;
    }

    /** Renders a smoother into dest; a settled smoother is a plain fill. */
    void render (juce::SmoothedValue<float>& smoother, float* dest, int numSamples) noexcept
    {
        if (! smoother.isSmoothing())
        {
            juce::FloatVectorOperations::fill (dest, smoother.getCurrentValue(), numSamples);
            return;
        }

        for (int i = 0; i < numSamples; ++i)
            dest[i] = smoother.getNextValue();
    }

    int clampToBlock (const juce::dsp::AudioBlock<float>& block, int maxBlockSize) noexcept
    {
        jassert ((int) block.getNumSamples() <= maxBlockSize);
        return std::min ((int) block.getNumSamples(), maxBlockSize);
    }
} // namespace

GateProcessor::GateProcessor (juce::AudioProcessorValueTreeState& parameters)
    : mParameters (parameters),
      mClipType (parameters.getRawParameterValue (config::Transients::outputClipType.id)),
      mEqualiser (parameters)
{
    for (auto* follower : { &mReleaseFollowerA, &mReleaseFollowerB })
        follower->setLevelCalculationType (juce::dsp::BallisticsFilterLevelCalculationType::peak);

    mOutputGain.setRampDurationSeconds (outputGainRampSeconds);
    mOutputGain.setGainLinear (mOutputGainTarget.load());

    mDetectorShaper.setPunchGain (0.0f);
}

GateProcessor::~GateProcessor()
{
    if (mConnected)
        for (const auto& id : getListenedParameterIds())
            mParameters.removeParameterListener (id, this);
}

const juce::StringArray& GateProcessor::getListenedParameterIds()
{
    using namespace config;
    static const juce::StringArray ids {
        Gate::attack.id,          Gate::hold.id,         Gate::release.id,        Gate::releaseSync.id,
        Gate::syncSwitch.id,      Gate::threshold.id,    Gate::thresholdReturn.id, Gate::floor.id,
        Gate::sidechainListen.id, Gate::spike.id,        Gate::flip.id,           Gate::lookAhead.id,
        Macro::curve.id,          Macro::transients.id,  Macro::transientSwitch.id, Transients::fat.id,
        Transients::punch.id,     Transients::speed.id,  Transients::sustainDuration.id, Transients::outputGain.id
    };
    return ids;
}

void GateProcessor::connectToParameters()
{
    if (mConnected)
        return;

    mConnected = true;

    for (const auto& id : getListenedParameterIds())
    {
        mParameters.addParameterListener (id, this);

        if (auto* value = mParameters.getRawParameterValue (id))
            parameterChanged (id, value->load());
    }
}

//==============================================================================
void GateProcessor::parameterChanged (const juce::String& parameterID, float newValue)
{
    using namespace config;

    if (! std::isfinite (newValue))
        return;

    const auto is = [&parameterID] (const juce::String& id) { return parameterID.equalsIgnoreCase (id); };

    if (is (Gate::threshold.id))             mThreshold.store (newValue);
    else if (is (Gate::thresholdReturn.id))  mReturn.store (newValue);
    else if (is (Gate::attack.id))           mAttack.store (newValue);
    else if (is (Gate::hold.id))             mHold.store (newValue);
    else if (is (Gate::release.id))          mRelease.store (newValue);
    else if (is (Gate::releaseSync.id))      mReleaseSyncIndex.store (newValue);
    else if (is (Gate::sidechainListen.id))  mListen.store (newValue);
    else if (is (Gate::lookAhead.id))        mRequestedLookahead.store (newValue);
    else if (is (Gate::syncSwitch.id))       mSyncOn.store (newValue != 0.0f);
    else if (is (Gate::floor.id))            mFloorTarget.store (newValue);
    else if (is (Gate::flip.id))             mFlipTarget.store (newValue);
    else if (is (Macro::curve.id))           mCurveTarget.store (1.0f - newValue / 100.0f);
    else if (is (Gate::spike.id))
    {
        mSpikeGainDb.store (newValue * spikeDbPerPercent);
        mDetectorShaper.setFatGain (mSpikeGainDb.load());
    }
    else if (is (Transients::punch.id))      { mPunch.store (newValue / 100.0f); updateTransientGains(); }
    else if (is (Transients::fat.id))        { mFat.store (newValue / 100.0f); updateTransientGains(); }
    else if (is (Macro::transients.id))      { mTransientsAmount.store (newValue / 100.0f); updateTransientGains(); }
    else if (is (Macro::transientSwitch.id)) { mTransientsOn.store (newValue); updateTransientGains(); }
    else if (is (Transients::speed.id))
    {
        mSpeedMs.store (mSpeedRange.convertFrom0to1 (juce::jlimit (0.0f, 1.0f, newValue / 100.0f)));
        mMainShaper.setSpeedAttackTime (mSpeedMs.load());
    }
    else if (is (Transients::sustainDuration.id))
    {
        mDurationMs.store (mDurationRange.convertFrom0to1 (juce::jlimit (0.0f, 1.0f, newValue / 100.0f)));
        mMainShaper.setDurationReleaseTime (mDurationMs.load());
    }
    else if (is (Transients::outputGain.id))
    {
        mOutputGainTarget.store (settingToGain (newValue));
    }
}

void GateProcessor::updateTransientGains() noexcept
{
    const auto scale = mTransientsOn.load() * transientsMaxDb * mTransientsAmount.load();
    mPunchGainDb.store (scale * mPunch.load());
    mFatGainDb.store (scale * mFat.load());
    mMainShaper.setPunchGain (mPunchGainDb.load());
    mMainShaper.setFatGain (mFatGainDb.load());
}

void GateProcessor::setTempo (float bpm) noexcept
{
    // A stopped or confused host may report 0 or garbage; a synced release must stay finite.
    if (std::isfinite (bpm) && bpm > 0.0f)
        mTempo.store (bpm);
}

GateProcessor::Settings GateProcessor::getSettings() const noexcept
{
    return { mAttack.load(),      mHold.load(),        mRelease.load(),   mReleaseSyncIndex.load(),
             mSyncOn.load(),      mTempo.load(),       mThreshold.load(), mReturn.load(),
             mFloorTarget.load(), mCurveTarget.load(), mFlipTarget.load(), mListen.load(),
             mRequestedLookahead.load(),
             mPunch.load(),       mFat.load(),         mTransientsAmount.load(), mTransientsOn.load(),
             mSpikeGainDb.load(), mPunchGainDb.load(), mFatGainDb.load(), mSpeedMs.load(),
             mDurationMs.load(),  mOutputGainTarget.load() };
}

//==============================================================================
void GateProcessor::prepare (const juce::dsp::ProcessSpec& spec)
{
    const juce::dsp::ProcessSpec monoSpec { spec.sampleRate, spec.maximumBlockSize, 1 };

    mEqualiser.prepare (spec);

    for (auto* buffer : { &mTrigger, &mAveraged, &mEnvelope, &mScratch, &mLinked })
        audio_framework::dsp::prepareBuffer (*buffer, monoSpec);

    mReleaseFollowerA.prepare (monoSpec);
    mReleaseFollowerB.prepare (monoSpec);

    const auto rampSamples = (int) std::floor (smootherRampSeconds * spec.sampleRate);
    const std::pair<juce::SmoothedValue<float>*, float> smoothers[] { { &mFloor, mFloorTarget.load() },
                                                                      { &mCurve, mCurveTarget.load() },
                                                                      { &mFlip, mFlipTarget.load() } };
    for (auto [smoother, target] : smoothers)
    {
        smoother->reset (rampSamples);
        smoother->setCurrentAndTargetValue (target);
    }
    for (auto* buffer : { &mFloorBuffer, &mCurveBuffer, &mFlipBuffer })
        audio_framework::dsp::prepareBuffer (*buffer, monoSpec);

    mSampleRate = spec.sampleRate;
    mMaxBlockSize = (int) spec.maximumBlockSize;
    mLevelSamples = 0;

    mLevelAverager.prepare ((int) (0.001 * spec.sampleRate));

    mOutputGain.setGainLinear (mOutputGainTarget.load());
    mOutputGain.prepare (spec);

    mSpec = spec;
    configureShapers();

    mClipper.prepare (spec);

    const auto requested = mRequestedLookahead.load();
    mDelay.prepare ((int) spec.numChannels,
                    BrimvaleAudioProcessor::latencyForSampleRate (spec.sampleRate),
                    (int) spec.maximumBlockSize,
                    lookaheadToSamples (requested));
    mAppliedLookahead = requested;
}

void GateProcessor::configureShapers()
{
    for (auto* shaper : { &mMainShaper, &mDetectorShaper })
    {
        shaper->setup (mSpec);
        shaper->reset();
        shaper->setSlowFollowerAttackTime (slowFollowerAttackMs);
        shaper->setSlowFollowerReleaseTime (slowFollowerReleaseMs);
        shaper->setRatioOffset (ratioOffsetDb);
        shaper->setRatioScale (ratioScaleDb);
        shaper->setSensitivity (shaperSensitivity);
    }

    mMainShaper.setOnsetReleaseTime (mainOnsetReleaseMs);
    mMainShaper.setSpeedAttackTime (mSpeedMs.load());
    mMainShaper.setSpeedReleaseTime (mainSpeedReleaseMs);
    mMainShaper.setDurationAttackTime (mainDurationAttackMs);
    mMainShaper.setDurationReleaseTime (mDurationMs.load());

    mDetectorShaper.setOnsetReleaseTime (detectorOnsetReleaseMs);
    mDetectorShaper.setPunchGain (0.0f);
}

int GateProcessor::lookaheadToSamples (float ms) const noexcept
{
    const auto limited = ms > 0.0f ? std::min (ms, maxLookaheadMs) : 0.0f;
    return (int) (limited * 0.001 * mSampleRate);
}

//==============================================================================
void GateProcessor::updateLookahead() noexcept
{
    const auto requested = mRequestedLookahead.load();

    if (requested == mAppliedLookahead)
        return;

    mDelay.setLookahead (lookaheadToSamples (requested));
    mAppliedLookahead = requested;
}

void GateProcessor::equaliseDetector (juce::dsp::AudioBlock<float> detector) noexcept
{
    const auto n = clampToBlock (detector, mMaxBlockSize);
    auto block = detector.getSubBlock (0, (size_t) n);
    mEqualiser.process (juce::dsp::ProcessContextReplacing<float> (block));
}

void GateProcessor::applyDecibelCurve (juce::dsp::AudioBlock<float>& block, const juce::dsp::AudioBlock<float>& curve, int numSamples) noexcept
{
    // 10^(dB/20) as one exp2 per sample.
    constexpr float log2Of10Over20 = 0.16609640474436813f;
    const auto channels = std::min (block.getNumChannels(), curve.getNumChannels());
    numSamples = std::min (numSamples, (int) curve.getNumSamples());

    for (size_t c = 0; c < channels; ++c)
    {
        auto* samples = block.getChannelPointer (c);
        const auto* decibels = curve.getChannelPointer (c);

        for (int i = 0; i < numSamples; ++i)
        {
            const auto db = decibels[i];
            samples[i] *= db > silenceDb ? std::exp2 (db * log2Of10Over20) : 0.0f;
        }
    }
}

void GateProcessor::shapeDetector (juce::dsp::AudioBlock<float> detector) noexcept
{
    const auto n = clampToBlock (detector, mMaxBlockSize);
    auto block = detector.getSubBlock (0, (size_t) n);
    const auto curve = mDetectorShaper.processContinuous (block);
    applyDecibelCurve (block, curve, n);
}

void GateProcessor::shapeMain (juce::dsp::AudioBlock<float> main) noexcept
{
    const auto n = clampToBlock (main, mMaxBlockSize);
    auto block = main.getSubBlock (0, (size_t) n);
    const auto curve = mMainShaper.processContinuous (block);
    applyDecibelCurve (block, curve, n);
}

void GateProcessor::averageLevel (const juce::dsp::AudioBlock<const float>& detector) noexcept
{
    const auto n = std::min ((int) detector.getNumSamples(), mLinked.getNumSamples());
    jassert ((int) detector.getNumSamples() <= mLinked.getNumSamples());
    mLevelSamples = std::max (0, n);

    auto* linked = mLinked.getWritePointer (0);

    if (detector.getNumChannels() == 0)
        juce::FloatVectorOperations::clear (linked, n);
    else if (detector.getNumChannels() == 1)
        juce::FloatVectorOperations::copy (linked, detector.getChannelPointer (0), n);
    else
        juce::FloatVectorOperations::max (linked, detector.getChannelPointer (0), detector.getChannelPointer (1), n);

    mLevelAverager.process (linked, mAveraged.getWritePointer (0), n);
}

bool GateProcessor::isListening() const noexcept
{
    return mListen.load() != 0.0f || mEqualiser.isSoloOn();
}

float GateProcessor::releaseTimeMs() const noexcept
{
    if (! mSyncOn.load())
        return mRelease.load();

    const auto& factors = config::Gate::syncFactors;
    const auto index = std::clamp ((int) mReleaseSyncIndex.load(), 0, (int) factors.size() - 1);
    return factors[(size_t) index] * 60000.0f / mTempo.load();
}

void GateProcessor::detectTrigger() noexcept
{
    const auto openLevel = settingToGain (mThreshold.load());
    const auto returnDb = mReturn.load();
    const auto closeLevel = returnDb < 100.0f ? openLevel * std::pow (10.0f, -returnDb / 20.0f) : 0.0f;

    mHysteresis.process (mAveraged.getReadPointer (0), mTrigger.getWritePointer (0), mLevelSamples, openLevel, closeLevel);
}

void GateProcessor::processGate (juce::dsp::AudioBlock<float> main) noexcept
{
    const auto n = std::min (clampToBlock (main, mMaxBlockSize), mLevelSamples);
    jassert ((int) main.getNumSamples() == mLevelSamples);

    if (n <= 0)
        return;

    juce::ScopedNoDenormals noDenormals;

    // Targets written by parameterChanged take effect from here on.
    mFloor.setTargetValue (mFloorTarget.load());
    mCurve.setTargetValue (mCurveTarget.load());
    mFlip.setTargetValue (mFlipTarget.load());
    mOutputGain.setGainLinear (mOutputGainTarget.load());

    detectTrigger();

    auto* trigger = mTrigger.getWritePointer (0);
    auto* envelope = mEnvelope.getWritePointer (0);
    auto* scratch = mScratch.getWritePointer (0);
    auto* curve = mCurveBuffer.getWritePointer (0);
    auto* floorGain = mFloorBuffer.getWritePointer (0);
    auto* flip = mFlipBuffer.getWritePointer (0);

    const auto holdSamples = (int) ((mHold.load() * 0.001) * mSampleRate);
    mHoldStage.process (trigger, envelope, n, holdSamples);

    const auto attackMs = mAttack.load() * attackScale;
    mReleaseFollowerA.setAttackTime (attackMs);
    mReleaseFollowerB.setAttackTime (attackMs);

    render (mCurve, curve, n);
    const auto releaseMs = releaseTimeMs() * releaseScale;
    mReleaseFollowerA.setReleaseTime (releaseMs / (1.0f + 9.0f * curve[0]));
    mReleaseFollowerB.setReleaseTime (releaseMs);

    for (int i = 0; i < n; ++i)
    {
        scratch[i] = mReleaseFollowerB.processSample (0, envelope[i]);
        envelope[i] = mReleaseFollowerA.processSample (0, envelope[i]);
    }
    mReleaseFollowerA.snapToZero();
    mReleaseFollowerB.snapToZero();

    // envelope = c A + (1 - c) B = B + c (A - B)
    juce::FloatVectorOperations::subtract (envelope, scratch, n);
    juce::FloatVectorOperations::multiply (envelope, curve, n);
    juce::FloatVectorOperations::add (envelope, scratch, n);

    // Flip inverts the envelope, so the floor still sets the level of the quiet state:
    // flipped, an open gate passes the floor and a closed one passes full level.
    render (mFlip, flip, n);
    for (int i = 0; i < n; ++i)
        envelope[i] = envelope[i] * (1.0f - 2.0f * flip[i]) + flip[i];

    if (mFloor.isSmoothing())
    {
        for (int i = 0; i < n; ++i)
            floorGain[i] = curveToGain (mFloor.getNextValue());
    }
    else
    {
        juce::FloatVectorOperations::fill (floorGain, curveToGain (mFloor.getCurrentValue()), n);
    }

    // gain = f + envelope (1 - f)
    for (int i = 0; i < n; ++i)
        envelope[i] = floorGain[i] + envelope[i] * (1.0f - floorGain[i]);

    auto block = main.getSubBlock (0, (size_t) n);
    mDelay.delayByLookahead (block, n);

    for (size_t c = 0; c < block.getNumChannels(); ++c)
        juce::FloatVectorOperations::multiply (block.getChannelPointer (c), envelope, n);

    mOutputGain.process (juce::dsp::ProcessContextReplacing<float> (block));

    mDelay.delayByCompensation (block, n);
}

void GateProcessor::clip (juce::dsp::AudioBlock<float> main) noexcept
{
    const auto n = clampToBlock (main, mMaxBlockSize);
    const auto mode = OutputClipper::modeFromValue (mClipType != nullptr ? mClipType->load() : 0.0f);
    mClipper.process (main, n, mode);
}
} // namespace ombrel::dsp
