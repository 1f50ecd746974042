#include "dsp/BiquadDesign.h"

#include "gui/node_graph/NodeGraphParameters.h"

#include <cmath>

namespace ombrel::dsp::biquad_design
{
namespace
{
    constexpr float pi = juce::MathConstants<float>::pi;
    constexpr float sqrt2 = juce::MathConstants<float>::sqrt2;

    BiquadCoefficients normalise (float b0, float b1, float b2, float a0, float a1, float a2) noexcept
    {
        return { b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0 };
    }

    // Shelf amplitude A = 10^(g/40) and the shelves' slope term sin w0 * sqrt A / Q.
    struct ShelfTerms
    {
        float A, cosW0, beta;
    };

    ShelfTerms shelfTerms (float frequency, float quality, float gainDb, float sampleRate) noexcept
    {
        const auto A = std::pow (10.0f, gainDb / 40.0f);
        const auto w0 = 2.0f * pi * frequency / sampleRate;
        return { A, std::cos (w0), std::sin (w0) * std::sqrt (A) / quality };
    }
} // namespace

BiquadCoefficients butterworthLowPass (float frequency, float sampleRate) noexcept
{
    const auto n = 1.0f / std::tan (pi * frequency / sampleRate);
    const auto nSquared = n * n;
    const auto c = 1.0f / (1.0f + sqrt2 * n + nSquared);
    return { c, 2.0f * c, c, 2.0f * c * (1.0f - nSquared), c * (1.0f - sqrt2 * n + nSquared) };
}

BiquadCoefficients butterworthHighPass (float frequency, float sampleRate) noexcept
{
    const auto n = std::tan (pi * frequency / sampleRate);
    const auto nSquared = n * n;
    const auto c = 1.0f / (1.0f + sqrt2 * n + nSquared);
    return { c, -2.0f * c, c, 2.0f * c * (nSquared - 1.0f), c * (1.0f - sqrt2 * n + nSquared) };
}

BiquadCoefficients lowShelf (float frequency, float quality, float gainDb, float sampleRate) noexcept
{
    const auto [A, cosW0, beta] = shelfTerms (frequency, quality, gainDb, sampleRate);
    const auto aPlus = A + 1.0f, aMinus = A - 1.0f;

    return normalise (A * (aPlus - aMinus * cosW0 + beta),
                      2.0f * A * (aMinus - aPlus * cosW0),
                      A * (aPlus - aMinus * cosW0 - beta),
                      aPlus + aMinus * cosW0 + beta,
                      -2.0f * (aMinus + aPlus * cosW0),
                      aPlus + aMinus * cosW0 - beta);
}

BiquadCoefficients peak (float frequency, float quality, float gainDb, float sampleRate) noexcept
{
    const auto A = std::pow (10.0f, gainDb / 40.0f);
    const auto w0 = 2.0f * pi * frequency / sampleRate;
    const auto alpha = std::sin (w0) / (2.0f * quality);
    const auto cosTerm = -2.0f * std::cos (w0);

    return normalise (1.0f + alpha * A, cosTerm, 1.0f - alpha * A, 1.0f + alpha / A, cosTerm, 1.0f - alpha / A);
}

BiquadCoefficients highShelf (float frequency, float quality, float gainDb, float sampleRate) noexcept
{
    const auto [A, cosW0, beta] = shelfTerms (frequency, quality, gainDb, sampleRate);
    const auto aPlus = A + 1.0f, aMinus = A - 1.0f;

    return normalise (A * (aPlus + aMinus * cosW0 + beta),
                      -2.0f * A * (aMinus + aPlus * cosW0),
                      A * (aPlus + aMinus * cosW0 - beta),
                      aPlus - aMinus * cosW0 + beta,
                      2.0f * (aMinus - aPlus * cosW0),
                      aPlus - aMinus * cosW0 - beta);
}

BiquadCoefficients nodeFilter (int type, float frequency, float quality, float gainDb, float sampleRate) noexcept
{
    using node_graph::FilterType;

    switch (static_cast<FilterType> (type))
    {
        case FilterType::lowPass:   return butterworthLowPass (frequency, sampleRate);
        case FilterType::lowShelf:  return lowShelf (frequency, quality, gainDb, sampleRate);
        case FilterType::peak:      return peak (frequency, quality, gainDb, sampleRate);
        case FilterType::highShelf: return highShelf (frequency, quality, gainDb, sampleRate);
        case FilterType::highPass:  return butterworthHighPass (frequency, sampleRate);
    }

    return { 1.0f, 0.0f, 0.0f, 0.0f, 0.0f };
}

void copyInto (const BiquadCoefficients& source, juce::dsp::IIR::Coefficients<float>& destination) noexcept
{
    auto& values = destination.coefficients;
    jassert (values.size() == 5);

    if (values.size() != 5)
        return;

    auto* raw = values.getRawDataPointer();
    raw[0] = source.b0;
    raw[1] = source.b1;
    raw[2] = source.b2;
    raw[3] = source.a1;
    raw[4] = source.a2;
}
} // namespace ombrel::dsp::biquad_design
