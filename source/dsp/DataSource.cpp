#include "dsp/DataSource.h"

#include <algorithm>
#include <cmath>

namespace ombrel
{
void DataSource::prepare (double newSampleRate, int /*maximumBlockSize: nothing here is sized per block*/)
{
    for (auto& detector : clipDetectors)
        detector.init (newSampleRate);
    grMaxValueDetector.init (newSampleRate);

    for (auto& meter : levelMeters)
        meter.prepare (newSampleRate);

    sampleRate.store (newSampleRate, std::memory_order_relaxed);
    spectrum.prepare (newSampleRate);
}

void DataSource::feedMeter (int meterIndex, const juce::dsp::AudioBlock<const float>& block) noexcept
{
    if (! juce::isPositiveAndBelow (meterIndex, numMeters) || block.getNumChannels() == 0)
        return;

    auto& meter = levelMeters[(size_t) meterIndex];
    auto& clipDetector = clipDetectors[(size_t) meterIndex];

    const auto* left = block.getChannelPointer (0);
    const auto* right = block.getChannelPointer (block.getNumChannels() > 1 ? 1 : 0);

    for (size_t i = 0; i < block.getNumSamples(); ++i)
    {
        // The signed maximum of the two channels, then its magnitude.
        const auto amplitude = std::abs ((double) std::max (right[i], left[i]));
        clipDetector.process (amplitude);
        meter.process (amplitude);
    }

    meter.publish();
}

void DataSource::feedSpectrum (const juce::dsp::AudioBlock<const float>& block) noexcept
{
    spectrum.pushBlock (block);
}

int DataSource::getFFTSize (int) const
{
    return dsp::SpectrumAnalyser::fftSize;
}

int DataSource::getSamplerate (int) const
{
    return (int) sampleRate.load (std::memory_order_relaxed);
}

float DataSource::getMagnitudeInDecibel (int binIndex, int) const
{
    return spectrum.getMagnitudeInDecibel (binIndex);
}

double DataSource::getMeterLevel (int meterIndex) const noexcept
{
    if (! juce::isPositiveAndBelow (meterIndex, numMeters))
        return VavadUvi::Metering::LevelMeter::floorDb;

    return levelMeters[(size_t) meterIndex].getLevel();
}

float DataSource::getNormalizedMeterValue (int channel) const
{
    if (! juce::isPositiveAndBelow (channel, numMeters))
        return 0.0f;

    const auto level = getMeterLevel (channel);
    return (float) (1.0 - std::min (0.0, level) / VavadUvi::Metering::LevelMeter::floorDb);
}

bool DataSource::getChannelIsClipped (int channel) const
{
    return juce::isPositiveAndBelow (channel, numMeters) && clipDetectors[(size_t) channel].isClipped();
}

float DataSource::getRiderGain() const
{
    return 0.0f;
}

float DataSource::getMaxGrValue() const
{
    return (float) grMaxValueDetector.getValue();
}
} // namespace ombrel
