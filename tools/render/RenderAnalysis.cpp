#include "render/RenderAnalysis.h"

#include <cmath>
#include <limits>

namespace ombrel::render
{
Envelope::Envelope (juce::int64 lengthToUse, int maximumBuckets)
    : length (juce::jmax<juce::int64> (0, lengthToUse))
{
    maximumBuckets = juce::jmax (1, maximumBuckets);
    samplesPerBucket = juce::jmax<juce::int64> (1, (length + maximumBuckets - 1) / maximumBuckets);
    const auto buckets = static_cast<size_t> ((length + samplesPerBucket - 1) / samplesPerBucket);
    lowest.assign (buckets, std::numeric_limits<float>::max());
    highest.assign (buckets, std::numeric_limits<float>::lowest());
}

void Envelope::add (juce::int64 start, const float* values, int numValues)
{
    add (start, &values, 1, numValues);
}

void Envelope::add (juce::int64 start, const float* const* channels, int numChannels, int numSamples)
{
    for (int i = 0; i < numSamples; ++i)
    {
        const auto position = start + i;
        if (position < 0 || position >= length)
            continue;

        const auto bucket = static_cast<size_t> (position / samplesPerBucket);
        for (int c = 0; c < numChannels; ++c)
        {
            const auto value = channels[c][i];
            lowest[bucket] = std::min (lowest[bucket], value);
            highest[bucket] = std::max (highest[bucket], value);
        }
    }
}

std::optional<juce::Range<float>> Envelope::rangeOver (juce::int64 from, juce::int64 to) const
{
    from = juce::jlimit<juce::int64> (0, length, from);
    to = juce::jlimit<juce::int64> (0, length, to);
    if (to <= from)
        return std::nullopt;

    const auto first = static_cast<size_t> (from / samplesPerBucket);
    const auto last = static_cast<size_t> ((to - 1) / samplesPerBucket);
    auto low = std::numeric_limits<float>::max();
    auto high = std::numeric_limits<float>::lowest();

    for (auto b = first; b <= last; ++b)
    {
        low = std::min (low, lowest[b]);
        high = std::max (high, highest[b]);
    }

    if (low > high)
        return std::nullopt;
    return juce::Range<float> (low, high);
}

//==============================================================================
void LevelMeter::add (const float* const* channels, int numChannels, int numSamples) noexcept
{
    for (int c = 0; c < numChannels; ++c)
    {
        for (int i = 0; i < numSamples; ++i)
        {
            const auto x = channels[c][i];
            peak = std::max (peak, std::abs (x));
            sumOfSquares += static_cast<double> (x) * x;
        }
    }
    count += static_cast<juce::int64> (numChannels) * numSamples;
}

double LevelMeter::peakDecibels() const noexcept
{
    return peak > 0.0f ? 20.0 * std::log10 ((double) peak) : -std::numeric_limits<double>::infinity();
}

double LevelMeter::rmsDecibels() const noexcept
{
    if (count == 0 || sumOfSquares <= 0.0)
        return -std::numeric_limits<double>::infinity();
    return 10.0 * std::log10 (sumOfSquares / (double) count);
}

//==============================================================================
RenderAnalysis::RenderAnalysis (juce::int64 inputLength, juce::int64 outputLengthToUse, double rate)
    : sampleRate (rate),
      outputLength (outputLengthToUse),
      inputEnvelope (inputLength),
      outputEnvelope (outputLengthToUse),
      gainEnvelope (outputLengthToUse)
{
}

void RenderAnalysis::addInput (juce::int64 start, const float* const* channels, int numChannels, int numSamples)
{
    inputLevel.add (channels, numChannels, numSamples);
    inputEnvelope.add (start, channels, numChannels, numSamples);
}

void RenderAnalysis::addOutput (juce::int64 start, const float* const* channels, int numChannels, int numSamples)
{
    outputLevel.add (channels, numChannels, numSamples);
    outputEnvelope.add (start, channels, numChannels, numSamples);

    for (int i = 0; i < numSamples; ++i)
    {
        auto atCeiling = false;
        for (int c = 0; c < numChannels; ++c)
            atCeiling = atCeiling || std::abs (channels[c][i]) >= clipLevel;

        clippedSamples += atCeiling ? 1 : 0;
        clipEvents += (atCeiling && ! clipping) ? 1 : 0;
        clipping = atCeiling;
    }
}

void RenderAnalysis::addGain (juce::int64 start, const float* gain, int numSamples)
{
    for (int i = 0; i < numSamples; ++i)
    {
        const auto position = start + i;
        if (position < 0 || position >= outputLength)
            continue;

        ++gainSamples;
        openSamples += gain[i] > openGain ? 1 : 0;
    }

    gainEnvelope.add (start, gain, numSamples);
}

std::optional<double> RenderAnalysis::getGateOpenShare() const noexcept
{
    if (gainSamples == 0)
        return std::nullopt;
    return static_cast<double> (openSamples) / static_cast<double> (gainSamples);
}
} // namespace ombrel::render
