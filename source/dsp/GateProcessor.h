#pragma once

#include "dsp/GateTrigger.h"
#include "dsp/GraphicEqProcessor.h"
#include "dsp/OutputClipper.h"
#include "dsp/RmsAverager.h"
#include "dsp/SplitDelay.h"
#include "dsp/TransientShaper.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_dsp/juce_dsp.h>

#include <atomic>

namespace ombrel::dsp
{
/**
    The gate engine: level detection, the gate's gain curve (hysteresis, hold, attack, curved or
    tempo-synced release, floor, flip), the lookahead and compensation delays, output gain and
    output clip. It also owns the side-chain equaliser and the two transient shapers (main:
    punch and fat on the output; detector: spike on the detection signal).

    Settings arrive through parameterChanged on any thread and are kept in atomics; the audio
    thread picks them up at the start of each stage. prepare() must not overlap the stages.
    The block stages allocate nothing.

    Per block, in this order: setTempo, updateLookahead, equaliseDetector, shapeDetector,
    averageLevel, then either (isListening) detectTrigger and copy the detector into the main
    block, or processGate; then the debleeder, shapeMain and clip.
*/
class GateProcessor : public juce::AudioProcessorValueTreeState::Listener
{
public:
    static constexpr float attackScale = 1.58f;
    static constexpr float releaseScale = 1.58f;
    static constexpr float defaultTempo = 120.0f;
    static constexpr float maxLookaheadMs = 10.0f;
    static constexpr float smootherRampSeconds = 0.02f;
    static constexpr double outputGainRampSeconds = 0.005;
    static constexpr float spikeDbPerPercent = 0.24f;
    static constexpr float transientsMaxDb = 24.0f;

    explicit GateProcessor (juce::AudioProcessorValueTreeState& parameters);
    ~GateProcessor() override;

    /** The parameters the gate listens to, in the order it registers for them. */
    static const juce::StringArray& getListenedParameterIds();

    /** Registers for every listened parameter in order, calling parameterChanged once with the
        current value right after each registration. The destructor unregisters. */
    void connectToParameters();

    /** Any thread. IDs compare ignoring case; non-finite values are ignored. */
    void parameterChanged (const juce::String& parameterID, float newValue) override;

    /** Prepares every module for {sample rate, maximum block size, 2 channels}. Allocates.
        Clears followers and delays; keeps the trigger and hold states. */
    void prepare (const juce::dsp::ProcessSpec& spec);

    //==============================================================================
    // Stages, in the block's order. Each works on at most the prepared block size.

    /** The host tempo in bpm; 0, negative or non-finite values keep the last valid tempo. */
    void setTempo (float bpm) noexcept;

    /** Applies a changed lookahead by moving the split of the fixed delay (once per block). */
    void updateLookahead() noexcept;

    /** Side-chain equaliser on the detection signal, in place. */
    void equaliseDetector (juce::dsp::AudioBlock<float> detector) noexcept;

    /** Spike: multiplies the detection signal by the detector shaper's gain curve. */
    void shapeDetector (juce::dsp::AudioBlock<float> detector) noexcept;

    /** Links the detector channels (signed maximum) and averages the magnitude over 1 ms. */
    void averageLevel (const juce::dsp::AudioBlock<const float>& detector) noexcept;

    /** True while the detector should replace the main signal (listen on or equaliser solo). */
    bool isListening() const noexcept;

    /** The open/closed decision (hysteresis only) from the averaged level into the trigger
        curve. processGate does this itself; while listening it runs alone, so the debleeder
        follows the signal being heard rather than a curve left from an earlier block. */
    void detectTrigger() noexcept;

    /** Gain curve from the averaged level, lookahead delay, gain, output gain, compensation
        delay, in place on the main block. Call after averageLevel for the same block. */
    void processGate (juce::dsp::AudioBlock<float> main) noexcept;

    /** Dynamics: multiplies the main signal by the main shaper's gain curve. */
    void shapeMain (juce::dsp::AudioBlock<float> main) noexcept;

    /** Output clip chosen by the raw "outputClipType" value: "off", "auto" or "clip". */
    void clip (juce::dsp::AudioBlock<float> main) noexcept;

    //==============================================================================
    // What the frame, the debleeder and the visualiser read (audio thread, after the stages).

    GraphicEqProcessor& getEqualiser() noexcept { return mEqualiser; }
    transient_shaper::TransientShaper& getMainShaper() noexcept { return mMainShaper; }
    transient_shaper::TransientShaper& getDetectorShaper() noexcept { return mDetectorShaper; }

    /** 1 while the hysteresis is open, else 0 (before hold and release); channel 0. */
    const juce::AudioBuffer<float>& getTriggerCurve() const noexcept { return mTrigger; }
    /** Signed maximum of the detector channels, per sample; channel 0. */
    const juce::AudioBuffer<float>& getLinkedLevel() const noexcept { return mLinked; }
    /** Mean magnitude of the linked level over the last 1 ms; channel 0. */
    const juce::AudioBuffer<float>& getAveragedLevel() const noexcept { return mAveraged; }
    /** The gain applied to the main signal by the last processGate; channel 0. */
    const juce::AudioBuffer<float>& getGainCurve() const noexcept { return mEnvelope; }
    /** Samples written to the curves above by the last averageLevel. */
    int getNumLevelSamples() const noexcept { return mLevelSamples; }

    float getListen() const noexcept { return mListen.load(); }
    float getTempo() const noexcept { return mTempo.load(); }
    float getRequestedLookahead() const noexcept { return mRequestedLookahead.load(); }
    float getAppliedLookahead() const noexcept { return mAppliedLookahead; }
    int getLookaheadSamples() const noexcept { return mDelay.getLookahead(); }
    /** The fixed delay of the gate path in samples (the processor's reported latency). */
    int getLatencySamples() const noexcept { return mDelay.getTotalDelay(); }
    const juce::dsp::ProcessSpec& getSpec() const noexcept { return mSpec; }

    /** The values the gate holds, as last written by parameterChanged and setTempo. */
    struct Settings
    {
        float attackMs, holdMs, releaseMs, releaseSyncIndex;
        bool syncOn;
        float tempo, thresholdDb, returnDb;
        float floorDb, curve, flip, listen, lookaheadMs;
        float punch, fat, transientsAmount, transientsOn;
        float spikeGainDb, punchGainDb, fatGainDb, speedMs, durationMs, outputGain;
    };
    Settings getSettings() const noexcept;

private:
    /** Release time in ms before scaling: the synced length at the current tempo, or the release. */
    float releaseTimeMs() const noexcept;
    void updateTransientGains() noexcept;
    int lookaheadToSamples (float ms) const noexcept;
    void configureShapers();
    static void applyDecibelCurve (juce::dsp::AudioBlock<float>& block, const juce::dsp::AudioBlock<float>& curve, int numSamples) noexcept;

    juce::AudioProcessorValueTreeState& mParameters;
    bool mConnected = false;

    // Written by parameterChanged (any thread), read by the audio thread.
    std::atomic<float> mAttack { 0.0f }, mHold { 0.0f }, mRelease { 0.0f }, mReleaseSyncIndex { 0.0f };
    std::atomic<bool> mSyncOn { false };
    std::atomic<float> mTempo { defaultTempo };
    std::atomic<float> mThreshold { 0.0f }, mReturn { 0.0f };
    std::atomic<float> mPunch { 0.0f }, mFat { 0.0f }, mTransientsAmount { 0.0f }, mTransientsOn { 1.0f };
    std::atomic<float> mFloorTarget { 0.0f }, mCurveTarget { 0.0f }, mFlipTarget { 0.0f };
    std::atomic<float> mListen { 0.0f };
    std::atomic<float> mRequestedLookahead { 0.0f };
    std::atomic<float> mOutputGainTarget { 1.0f };
    std::atomic<float> mSpikeGainDb { 0.0f }, mPunchGainDb { 0.0f }, mFatGainDb { 0.0f };
    // Main shaper times; also re-applied by prepare so a preparation keeps the controls' values.
    std::atomic<float> mSpeedMs { 200.0f }, mDurationMs { 1500.0f };

    // Audio thread only.
    float mAppliedLookahead = 0.0f;
    juce::SmoothedValue<float> mFloor, mCurve, mFlip;
    juce::AudioBuffer<float> mFloorBuffer, mCurveBuffer, mFlipBuffer;
    HysteresisTrigger mHysteresis;
    HoldStage mHoldStage;
    juce::dsp::BallisticsFilter<float> mReleaseFollowerA, mReleaseFollowerB;
    juce::AudioBuffer<float> mTrigger, mAveraged, mEnvelope, mScratch, mLinked;
    int mLevelSamples = 0;
    RmsAverager mLevelAverager;
    SplitDelay mDelay;
    juce::dsp::Gain<float> mOutputGain;
    OutputClipper mClipper;
    std::atomic<float>* mClipType = nullptr;

    const juce::NormalisableRange<float> mDurationRange { 100.0f, 5000.0f, 0.01f, 0.3f };
    const juce::NormalisableRange<float> mSpeedRange { 20.0f, 400.0f, 0.01f, 0.7f };

    double mSampleRate = 44100.0;
    int mMaxBlockSize = 0;
    juce::dsp::ProcessSpec mSpec { 0.0, 0, 0 };

    GraphicEqProcessor mEqualiser;
    transient_shaper::TransientShaper mMainShaper, mDetectorShaper;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (GateProcessor)
};
} // namespace ombrel::dsp
