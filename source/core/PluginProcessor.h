#pragma once

#include "core/Config.h"
#include "dsp/DataSource.h"
#include "dsp/Debleeder.h"
#include "dsp/GateProcessor.h"
#include "gui/visualisation/DynamicProcessVisualisation.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

namespace ombrel
{
/** The plug-in instance a host creates: buses, parameter tree, the signal modules, preparation,
    the per-block signal flow and the saved state. */
class BrimvaleAudioProcessor : public juce::AudioProcessor
{
public:
    using Visualisation = DynamicProcessVisualisation<BrimvaleAudioProcessor>;

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

    /** Installs (or with nullptr removes) the live gate view the audio thread pushes into. */
    void setVisualisation (std::shared_ptr<Visualisation> visualisation);

    dsp::GateProcessor& getGateProcessor() noexcept { return *mGateProcessor; }

    DataSource mDataSource;
    std::shared_ptr<Visualisation> mVisualisation;
    juce::CriticalSection mDisplayLock;
    juce::String mPresetName { "Default" };
    juce::AudioProcessorValueTreeState mParameters;
    dsp::DebleederProcessor mDebleeder;
    std::unique_ptr<dsp::GateProcessor> mGateProcessor;
    juce::CriticalSection mProcessLock;

private:
    static BusesProperties createBuses();
    std::unique_ptr<dsp::GateProcessor> createGateProcessor();
    void completeParameterEntries (juce::ValueTree& tree) const;
    void readTempoFromPlayHead();
    void processChunk (juce::AudioBuffer<float>& buffer, int start, int numSamples);
    juce::dsp::AudioBlock<float> mainBlockFor (juce::AudioBuffer<float>& buffer, int start, int numSamples, int numMainChannels);
    void fillDetector (juce::AudioBuffer<float>& buffer, const juce::dsp::AudioBlock<float>& main, int start, int numSamples, int numMainChannels);
    void pushToVisualisation (const juce::dsp::AudioBlock<float>& main, int numSamples, bool listening);

    int mPreparedBlockSize = 0;
    double mPreparedSampleRate = 0.0;
    int mWorkingBlockSize = 0;
    juce::AudioBuffer<float> mDetectorBuffer, mMonoBuffer, mVisualiserBuffer;

    // Read directly by the block; the parameters' own values are atomics.
    std::atomic<float>* mInputGainDb = nullptr;
    juce::RangedAudioParameter* mSidechainToggle = nullptr;
    juce::RangedAudioParameter* mSidechainListen = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BrimvaleAudioProcessor)
};
} // namespace ombrel
