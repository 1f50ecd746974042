#include "dsp/SpectrumAnalyser.h"

#include <algorithm>
#include <cmath>

namespace ombrel::dsp
{
SpectrumAnalyser::SpectrumAnalyser()
{
    const auto twoPi = juce::MathConstants<double>::twoPi;

    for (int i = 0; i < halfSize / 2; ++i)
    {
        halfCos[(size_t) i] = std::cos (twoPi * i / halfSize);
        halfSin[(size_t) i] = std::sin (twoPi * i / halfSize);
    }

    for (int i = 0; i < halfSize; ++i)
    {
        int reversed = 0;
        for (int bit = 0; bit < halfSizeBits; ++bit)
            reversed |= ((i >> bit) & 1) << (halfSizeBits - 1 - bit);
        bitReversed[(size_t) i] = reversed;

        fullCos[(size_t) i] = std::cos (twoPi * i / fftSize);
        fullSin[(size_t) i] = std::sin (twoPi * i / fftSize);
    }

    for (auto& magnitude : published)
        magnitude.store (0.0f, std::memory_order_relaxed);

    prepare (44100.0);
}

void SpectrumAnalyser::prepare (double sampleRate) noexcept
{
    const auto frameRate = sampleRate / fftSize;
    smoothingCoefficient = 1.0 - std::exp (-4.605 / (frameRate * smoothingTimeMs * 0.001));
}

void SpectrumAnalyser::pushBlock (const juce::dsp::AudioBlock<const float>& block) noexcept
{
    const auto channels = block.getNumChannels();
    if (channels == 0)
        return;

    const auto* left = block.getChannelPointer (0);
    const auto* right = block.getChannelPointer (channels > 1 ? 1 : 0);

    for (size_t i = 0; i < block.getNumSamples(); ++i)
        pushSample ((double) std::max (right[i], left[i]));
}

void SpectrumAnalyser::pushSample (double sample) noexcept
{
    // A non-finite sample would poison the smoothed magnitudes for good.
    real[(size_t) fillIndex] = std::isfinite (sample) ? sample : 0.0;

    if (fillIndex == fftSize - 1)
    {
        analyseFrame();
        fillIndex = 0;
    }
    else
    {
        ++fillIndex;
    }
}

float SpectrumAnalyser::getMagnitude (int bin) const noexcept
{
    if (! juce::isPositiveAndBelow (bin, fftSize))
        return 0.0f;

    return published[(size_t) bin].load (std::memory_order_relaxed);
}

float SpectrumAnalyser::getMagnitudeInDecibel (int bin) const noexcept
{
    const auto magnitude = (double) getMagnitude (bin);
    return magnitude >= floorAmplitude ? (float) (20.0 * std::log10 (magnitude)) : (float) floorDb;
}

void SpectrumAnalyser::transformHalfSize() noexcept
{
    // Radix-2 decimation in time over the 512 complex values held in the first halves of the arrays.
    for (int i = 0; i < halfSize; ++i)
    {
        const auto j = bitReversed[(size_t) i];
        if (j > i)
        {
            std::swap (real[(size_t) i], real[(size_t) j]);
            std::swap (imaginary[(size_t) i], imaginary[(size_t) j]);
        }
    }

    for (int size = 2; size <= halfSize; size *= 2)
    {
        const auto half = size / 2;
        const auto stride = halfSize / size;

        for (int start = 0; start < halfSize; start += size)
        {
            for (int j = 0; j < half; ++j)
            {
                const auto a = (size_t) (start + j);
                const auto b = a + (size_t) half;
                const auto wr = halfCos[(size_t) (j * stride)];
                const auto wi = -halfSin[(size_t) (j * stride)];

                const auto tr = wr * real[b] - wi * imaginary[b];
                const auto ti = wr * imaginary[b] + wi * real[b];
                real[b] = real[a] - tr;
                imaginary[b] = imaginary[a] - ti;
                real[a] += tr;
                imaginary[a] += ti;
            }
        }
    }
}

void SpectrumAnalyser::analyseFrame() noexcept
{
    // Pack the real frame as 512 complex values, even samples real and odd samples imaginary.
    // In place: position k is written only after samples 2k and 2k + 1 have been read.
    for (size_t k = 0; k < (size_t) halfSize; ++k)
    {
        imaginary[k] = real[2 * k + 1];
        real[k] = real[2 * k];
    }

    transformHalfSize();

    // Separate the transforms of the even (E) and odd (O) samples; E goes to 0..511, O to 512..1023.
    std::array<double, halfSize> zr, zi;
    std::copy (real.begin(), real.begin() + halfSize, zr.begin());
    std::copy (imaginary.begin(), imaginary.begin() + halfSize, zi.begin());

    auto* er = real.data();
    auto* ei = imaginary.data();
    auto* orr = real.data() + halfSize;
    auto* oi = imaginary.data() + halfSize;

    er[0] = zr[0];
    ei[0] = 0.0;
    orr[0] = zi[0];
    oi[0] = 0.0;
    er[halfSize / 2] = zr[halfSize / 2];
    ei[halfSize / 2] = 0.0;
    orr[halfSize / 2] = zi[halfSize / 2];
    oi[halfSize / 2] = 0.0;

    for (int k = 1; k < halfSize / 2; ++k)
    {
        const auto m = (size_t) (halfSize - k);
        const auto kk = (size_t) k;

        // E = (Z[k] + conj Z[N-k]) / 2, O = (Z[k] - conj Z[N-k]) / 2i
        const auto evenRe = 0.5 * (zr[kk] + zr[m]);
        const auto evenIm = 0.5 * (zi[kk] - zi[m]);
        const auto oddRe = 0.5 * (zi[kk] + zi[m]);
        const auto oddIm = -0.5 * (zr[kk] - zr[m]);

        er[kk] = evenRe;
        ei[kk] = evenIm;
        er[m] = evenRe;
        ei[m] = -evenIm;
        orr[kk] = oddRe;
        oi[kk] = oddIm;
        orr[m] = oddRe;
        oi[m] = -oddIm;
    }

    // Last radix-2 stage of the 1024-point transform, then scale, magnitude, smoothing and publication.
    constexpr double scale = 1.0 / halfSize;
    const auto coefficient = smoothingCoefficient;

    for (int j = 0; j < halfSize; ++j)
    {
        const auto jj = (size_t) j;
        const auto wr = fullCos[jj];
        const auto wi = -fullSin[jj];
        const auto tr = wr * orr[j] - wi * oi[j];
        const auto ti = wr * oi[j] + wi * orr[j];

        const auto lowRe = (er[j] + tr) * scale, lowIm = (ei[j] + ti) * scale;
        const auto highRe = (er[j] - tr) * scale, highIm = (ei[j] - ti) * scale;

        auto& lowSmoothed = smoothed[jj];
        auto& highSmoothed = smoothed[jj + (size_t) halfSize];
        lowSmoothed += (std::sqrt (lowRe * lowRe + lowIm * lowIm) - lowSmoothed) * coefficient;
        highSmoothed += (std::sqrt (highRe * highRe + highIm * highIm) - highSmoothed) * coefficient;
    }

    for (size_t k = 0; k < (size_t) fftSize; ++k)
        published[k].store ((float) smoothed[k], std::memory_order_relaxed);

    std::fill (real.begin(), real.end(), 0.0);
    std::fill (imaginary.begin(), imaginary.end(), 0.0);
}
} // namespace ombrel::dsp
