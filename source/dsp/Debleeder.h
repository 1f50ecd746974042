#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_dsp/juce_dsp.h>

#include <array>
#include <atomic>
#include <vector>

namespace ombrel::dsp
{
/** One-pole follower with separate rise and fall speeds and a cap on how far it may move per
    sample, so a step in the input turns into a ramp that ends in an exponential approach. */
class SlewFollower
{
public:
    SlewFollower();

    /** Clears the state (one value per channel) and recomputes the coefficients for the rate. */
    void prepare (double sampleRate, int blockSize, int numChannels);
    void reset() noexcept;

    void setAttackTime (float milliseconds) noexcept;
    void setReleaseTime (float milliseconds) noexcept;
    float getAttackTime() const noexcept { return mAttackTime; }
    float getReleaseTime() const noexcept { return mReleaseTime; }

    float processSample (int channel, float input) noexcept;

    /** Runs one channel over numSamples values; input and output may be the same buffer. */
    void process (const float* input, float* output, int numSamples, int channel = 0) noexcept;

private:
    void updateRise() noexcept;
    void updateFall() noexcept;

    float mRiseCoefficient = 1.0f;
    float mFallCoefficient = 1.0f;
    float mMaximumRise = 1.0f;
    float mMaximumFall = -1.0f;
    float mAttackTime = 1.0f;
    float mReleaseTime = 1.0f;
    std::vector<float> mState;
    double mSampleRate = 44100.0;
    int mBlockSize = 0;
    int mNumChannels = 0;
};

/** Reduces bleed while the gate is closed by filtering instead of muting: a low-pass side pulls
    the top end down and a high-pass side pulls the bottom end up, each following the gate's
    trigger with its own release and opening again within a fraction of a millisecond.

    Each side subtracts a fixed complementary filter in proportion to the closed state and runs a
    cascade of 1, 2 or 4 swept state-variable stages whose cutoff moves with the closed state.

    Threading: parameterChanged may run on any thread; it only stores atomics. Everything else,
    including every coefficient, is computed on the audio thread at the start of a block.
    prepare() must not overlap process() (the processor's process lock keeps them apart). */
class DebleederProcessor : public juce::AudioProcessorValueTreeState::Listener
{
public:
    /** Unattached: starts from the catalogue defaults and learns values through parameterChanged. */
    DebleederProcessor();

    /** Listens to its parameters in the tree and starts from their current values. The tree
        must outlive this object; the listeners are removed on destruction. */
    explicit DebleederProcessor (juce::AudioProcessorValueTreeState& parameters);

    ~DebleederProcessor() override;

    /** Parameter IDs this module listens to, in registration order. */
    static const std::array<juce::String, 7>& listenedParameterIds();

    void parameterChanged (const juce::String& parameterID, float newValue) override;

    void prepare (const juce::dsp::ProcessSpec& spec);
    void reset() noexcept;

    /** Processes the main block in place (the first two channels). trigger holds one value per
        sample of the block: 1 while the gate is open, 0 while closed. A null trigger counts as a
        gate that stays open. Blocks longer than the prepared size are processed in pieces. */
    void process (juce::dsp::AudioBlock<float> mainBlock, const float* trigger) noexcept;

    /** Cascade length for the raw "lpAmount"/"hpAmount" value: soft 1, medium 2, heavy 4. */
    static int stageCountFor (float amount) noexcept;

    static const juce::NormalisableRange<float> mLowpassRange;
    static const juce::NormalisableRange<float> mHighpassRange;

    static constexpr int maximumStages = 4;

private:
    void processChunk (juce::dsp::AudioBlock<float> mainBlock, const float* trigger) noexcept;
    void applyParameterChanges() noexcept;
    void subtract (juce::dsp::AudioBlock<float>& mainBlock,
                   juce::dsp::StateVariableTPTFilter<float>& filter,
                   SlewFollower& follower,
                   const float* trigger,
                   const float* on) noexcept;
    float limitCutoff (float frequency) const noexcept;

    juce::dsp::StateVariableTPTFilter<float> mLowpassSweep, mHighpassSweep;
    SlewFollower mLowpassSweepFollower, mHighpassSweepFollower;
    SlewFollower mLowpassSubtractionFollower, mHighpassSubtractionFollower;
    juce::dsp::StateVariableTPTFilter<float> mLowpassSubtraction, mHighpassSubtraction;

    juce::AudioBuffer<float> mTriggerCopy, mLowpassSweepControl, mHighpassSweepControl;
    juce::AudioBuffer<float> mSubtractionControl, mFilteredCopy;

    juce::SmoothedValue<float> mOnSmoother;
    juce::AudioBuffer<float> mOnBuffer;

    // Written by parameterChanged on any thread, read at block start on the audio thread.
    std::atomic<float> mLowpassAmountTarget { 1.0f }, mHighpassAmountTarget { 1.0f };
    std::atomic<float> mLowpassPercentTarget { 0.0f }, mHighpassPercentTarget { 0.0f };
    std::atomic<float> mLowpassReleaseTarget { 100.0f }, mHighpassReleaseTarget { 100.0f };
    std::atomic<float> mOnTarget { 1.0f };

    // Audio-thread copies of the values above and what is derived from them.
    float mLowpassPercent = 0.0f, mHighpassPercent = 0.0f;
    float mLowpassFrequency = 20000.0f, mHighpassFrequency = 20.0f;
    float mLowpassSweepLogRange = 0.0f, mHighpassSweepLogRange = 0.0f;
    float mLowpassStageSource = 1.0f, mHighpassStageSource = 1.0f;
    float mLowpassRelease = 100.0f, mHighpassRelease = 100.0f;
    bool mLowpassSweepActive = false, mHighpassSweepActive = false;

    // Last exponent each sweep filter was tuned with: an unchanged exponent leaves the
    // coefficients as they are, which saves the tangent while the gate rests.
    float mLowpassSweepExponent = -1.0f, mHighpassSweepExponent = -1.0f;

    double mSampleRate = 0.0;
    int mMaximumBlockSize = 0;

    juce::AudioProcessorValueTreeState* mParameters = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DebleederProcessor)
};
} // namespace ombrel::dsp
