#pragma once

#include "core/Config.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace ombrel
{
/** The plug-in instance a host creates: buses, parameter tree, preparation and processing. */
class BrimvaleAudioProcessor : public juce::AudioProcessor
{
public:
    BrimvaleAudioProcessor();
    ~BrimvaleAudioProcessor() override;

    const juce::String getName() const override;

    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    bool hasEditor() const override;
    juce::AudioProcessorEditor* createEditor() override;

    static constexpr double latencyFactor = 0.010000000707805157;

    /** Latency in samples for a sample rate: 10 ms, truncated. */
    static int latencyForSampleRate (double sampleRate);

    juce::String mPresetName { "Default" };
    juce::AudioProcessorValueTreeState mParameters;
    juce::CriticalSection mProcessLock;

private:
    static BusesProperties createBuses();
    void keepValuesOfUnsavedParameters (juce::ValueTree& tree) const;

    int mPreparedBlockSize = 0;
    double mPreparedSampleRate = 0.0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BrimvaleAudioProcessor)
};
} // namespace ombrel
