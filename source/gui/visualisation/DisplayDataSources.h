#pragma once

namespace ombrel
{
/*
    What the display components read from the audio side. Each component exposes its
    interface under the nested name DataSource, e.g.

        class OmbrelSpectrum : public juce::Component, private juce::Timer
        {
        public:
            using DataSource = ombrel::SpectrumDataSource;
            ...
        };

    so that the interfaces can be implemented without pulling the editor into the audio code.
*/

/** Spectrum display (OmbrelSpectrum::DataSource). */
class SpectrumDataSource
{
public:
    virtual ~SpectrumDataSource() = default;

    virtual int getFFTSize (int channel) const = 0;
    virtual int getSamplerate (int channel) const = 0;
    /** Magnitude of a bin in dB; the bin index comes first. */
    virtual float getMagnitudeInDecibel (int binIndex, int channel) const = 0;
};

/** Threshold and return faders (ombrel::ThresholdReturnComponent::DataSource); they read nothing yet. */
class ThresholdReturnDataSource
{
public:
    virtual ~ThresholdReturnDataSource() = default;
};

/** Gain-reduction meter (OmbrelGrMeter::DataSource). */
class GrMeterDataSource
{
public:
    virtual ~GrMeterDataSource() = default;

    virtual float getMaxGrValue() const = 0;
};

/** Input and output peak meter (OmbrelPeakMeter::DataSource). */
class PeakMeterDataSource
{
public:
    virtual ~PeakMeterDataSource() = default;

    /** 0 at the meter floor, 1 at 0 dB and above. */
    virtual float getNormalizedMeterValue (int channel) const = 0;
    virtual bool getChannelIsClipped (int channel) const = 0;
    virtual float getRiderGain() const = 0;
};
} // namespace ombrel
