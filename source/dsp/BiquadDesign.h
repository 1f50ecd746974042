#pragma once

#include <juce_dsp/juce_dsp.h>

namespace ombrel::dsp
{
/** Second-order filter coefficients normalised so that a0 = 1. */
struct BiquadCoefficients
{
    float b0 = 0.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;
};

/** The equaliser's filter designs, computed in single precision. Frequencies in Hz must lie
    below half the sample rate; gains in dB. */
namespace biquad_design
{
    BiquadCoefficients butterworthLowPass (float frequency, float sampleRate) noexcept;
    BiquadCoefficients butterworthHighPass (float frequency, float sampleRate) noexcept;
    BiquadCoefficients lowShelf (float frequency, float quality, float gainDb, float sampleRate) noexcept;
    BiquadCoefficients peak (float frequency, float quality, float gainDb, float sampleRate) noexcept;
    BiquadCoefficients highShelf (float frequency, float quality, float gainDb, float sampleRate) noexcept;

    /** The design of an equaliser node by its type index (0 LP, 1 LO SHELF, 2 PEAK, 3 HI SHELF,
        4 HP); LP and HP ignore quality and gain, an unknown type passes the signal. */
    BiquadCoefficients nodeFilter (int type, float frequency, float quality, float gainDb, float sampleRate) noexcept;

    /** Overwrites an existing second-order coefficient set in place, so no allocation happens. */
    void copyInto (const BiquadCoefficients& source, juce::dsp::IIR::Coefficients<float>& destination) noexcept;
} // namespace biquad_design
} // namespace ombrel::dsp
