#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <optional>
#include <vector>

namespace ombrel::render
{
/** Lowest and highest value per bucket of samples over a known length, for drawing a signal at
    any width. Memory is bounded by the bucket count, not by the length. */
class Envelope
{
public:
    explicit Envelope (juce::int64 length = 0, int maximumBuckets = 8192);

    /** Adds values at consecutive positions from `start`; positions outside [0, length) are ignored. */
    void add (juce::int64 start, const float* values, int numValues);

    /** Adds the samples of several channels at consecutive positions from `start`. */
    void add (juce::int64 start, const float* const* channels, int numChannels, int numSamples);

    /** The range of the values over the positions [from, to); empty when none were added there. */
    std::optional<juce::Range<float>> rangeOver (juce::int64 from, juce::int64 to) const;

    juce::int64 getLength() const noexcept { return length; }
    juce::int64 getSamplesPerBucket() const noexcept { return samplesPerBucket; }

private:
    juce::int64 length = 0;
    juce::int64 samplesPerBucket = 1;
    std::vector<float> lowest, highest;   // lowest > highest marks an empty bucket
};

/** Peak and RMS over every sample of every channel. */
struct LevelMeter
{
    float peak = 0.0f;
    double sumOfSquares = 0.0;
    juce::int64 count = 0;

    void add (const float* const* channels, int numChannels, int numSamples) noexcept;

    /** In dBFS; -infinity for silence. */
    double peakDecibels() const noexcept;
    double rmsDecibels() const noexcept;
};

/**
    What a render measures, on the timeline of the output file: input and output levels, the
    gate's gain, clipped output samples, and envelopes of all three for the plot.
*/
class RenderAnalysis
{
public:
    /** An output sample at or above this magnitude (-0.0009 dBFS) sits at the clip and limit ceiling. */
    static constexpr float clipLevel = 0.9999f;
    /** The gate counts as open while its gain is above -6 dB. */
    static constexpr float openGain = 0.5f;

    RenderAnalysis (juce::int64 inputLength, juce::int64 outputLength, double sampleRate);

    void addInput (juce::int64 start, const float* const* channels, int numChannels, int numSamples);
    void addOutput (juce::int64 start, const float* const* channels, int numChannels, int numSamples);
    /** Gate gain values for output positions from `start`; positions outside the output are ignored. */
    void addGain (juce::int64 start, const float* gain, int numSamples);

    const LevelMeter& getInputLevel() const noexcept { return inputLevel; }
    const LevelMeter& getOutputLevel() const noexcept { return outputLevel; }

    /** Share (0 to 1) of the output's samples during which the gate was open; empty when no gain
        was recorded (the gate did not run, as while listening to the side-chain). */
    std::optional<double> getGateOpenShare() const noexcept;

    /** Output samples (counted once over the channels) at the ceiling, and runs of them. */
    juce::int64 getClippedSamples() const noexcept { return clippedSamples; }
    juce::int64 getClipEvents() const noexcept { return clipEvents; }

    const Envelope& getInputEnvelope() const noexcept { return inputEnvelope; }
    const Envelope& getOutputEnvelope() const noexcept { return outputEnvelope; }
    const Envelope& getGainEnvelope() const noexcept { return gainEnvelope; }

    double getSampleRate() const noexcept { return sampleRate; }
    juce::int64 getOutputLength() const noexcept { return outputLength; }

private:
    double sampleRate;
    juce::int64 outputLength;
    LevelMeter inputLevel, outputLevel;
    juce::int64 gainSamples = 0, openSamples = 0;
    juce::int64 clippedSamples = 0, clipEvents = 0;
    bool clipping = false;
    Envelope inputEnvelope, outputEnvelope, gainEnvelope;
};
} // namespace ombrel::render
