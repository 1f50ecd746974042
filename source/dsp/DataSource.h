#pragma once

#include "dsp/AmplitudeConstants.h"
#include "dsp/AudioBufferFIFO.h"
#include "dsp/Metering.h"
#include "dsp/PrepareBuffer.h"
#include "dsp/SpectrumAnalyser.h"
#include "gui/visualisation/DisplayDataSources.h"

#include <juce_dsp/juce_dsp.h>

#include <array>
#include <atomic>

namespace ombrel
{
/**
    Everything the audio thread publishes for the editor: input and output levels with their
    clip flags, and the spectrum of the detection signal.

    Feeds run on the audio thread; queries run on the message thread. Every published value
    is an atomic, so neither side locks.
*/
class DataSource : public SpectrumDataSource,
                   public ThresholdReturnDataSource,
                   public GrMeterDataSource,
                   public PeakMeterDataSource
{
public:
    static constexpr int inputMeter = 0;
    static constexpr int outputMeter = 1;
    static constexpr int numMeters = 2;

    DataSource() = default;
    ~DataSource() override = default;

    /** Recomputes coefficients for a sample rate; levels, flags and spectrum keep their state. */
    void prepare (double sampleRate, int maximumBlockSize);
    void prepare (const juce::dsp::ProcessSpec& spec) { prepare (spec.sampleRate, (int) spec.maximumBlockSize); }

    /** Audio thread: meters a block (channels 0 and 1; a single channel stands for both) and publishes the level. */
    void feedMeter (int meterIndex, const juce::dsp::AudioBlock<const float>& block) noexcept;
    void feedInputMeter (const juce::dsp::AudioBlock<const float>& block) noexcept { feedMeter (inputMeter, block); }
    void feedOutputMeter (const juce::dsp::AudioBlock<const float>& block) noexcept { feedMeter (outputMeter, block); }

    /** Audio thread: adds a block of the detection signal to the spectrum. */
    void feedSpectrum (const juce::dsp::AudioBlock<const float>& block) noexcept;

    // Message-thread queries.
    int getFFTSize (int channel) const override;
    int getSamplerate (int channel) const override;
    float getMagnitudeInDecibel (int binIndex, int channel) const override;
    float getNormalizedMeterValue (int channel) const override;
    bool getChannelIsClipped (int channel) const override;
    float getRiderGain() const override;
    float getMaxGrValue() const override;

    /** Published level of meter 0 (input) or 1 (output) in dB; the floor for other indices. */
    double getMeterLevel (int meterIndex) const noexcept;

private:
    std::array<VavadUvi::Metering::LevelMeter, numMeters> levelMeters;
    std::array<VavadUvi::Metering::ClipDetector<2>, numMeters> clipDetectors;
    VavadUvi::Metering::GrMaxValueDetector<2, -72> grMaxValueDetector;
    std::atomic<double> sampleRate { 44100.0 };
    dsp::SpectrumAnalyser spectrum;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DataSource)
};
} // namespace ombrel
