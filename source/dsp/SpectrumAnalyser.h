#pragma once

#include "dsp/AmplitudeConstants.h"

#include <juce_dsp/juce_dsp.h>

#include <array>
#include <atomic>

namespace ombrel::dsp
{
/**
    Magnitude spectrum of consecutive, non-overlapping 1024-sample frames, without a window,
    scaled so that a full-scale sine centred on a bin reads 1 there, and smoothed over frames.

    The audio thread pushes samples; the smoothed magnitudes are published per bin as atomics,
    so the editor may read them at any time (a reader may see a frame that is partly updated).
    Nothing allocates after construction.
*/
class SpectrumAnalyser
{
public:
    static constexpr int fftSize = 1024;
    static constexpr double floorDb = -96.0;
    static constexpr double floorAmplitude = VavadUvi::Utility::AMP_96_DB;
    static constexpr double smoothingTimeMs = 1000.0;

    SpectrumAnalyser();

    /** Recomputes the smoothing for a sample rate; magnitudes and the partial frame are kept. */
    void prepare (double sampleRate) noexcept;

    /** Audio thread: appends the signed maximum of channels 0 and 1 of every sample to the frame. */
    void pushBlock (const juce::dsp::AudioBlock<const float>& block) noexcept;

    /** Audio thread: appends one sample, analysing the frame when it is full. */
    void pushSample (double sample) noexcept;

    /** Any thread: the published smoothed magnitude of a bin; 0 outside 0..1023. */
    float getMagnitude (int bin) const noexcept;

    /** Any thread: the published magnitude in dB, -96 at and below the floor amplitude. */
    float getMagnitudeInDecibel (int bin) const noexcept;

    double getSmoothingCoefficient() const noexcept { return smoothingCoefficient; }

private:
    static constexpr int halfSize = fftSize / 2;
    static constexpr int halfSizeBits = 9;

    void analyseFrame() noexcept;
    void transformHalfSize() noexcept;

    std::array<double, fftSize> real {}, imaginary {}, smoothed {};
    std::array<std::atomic<float>, fftSize> published;
    int fillIndex = 0;

    std::array<double, halfSize / 2> halfCos {}, halfSin {};
    std::array<int, halfSize> bitReversed {};
    std::array<double, halfSize> fullCos {}, fullSin {};

    double smoothingCoefficient = 0.0;
};
} // namespace ombrel::dsp
