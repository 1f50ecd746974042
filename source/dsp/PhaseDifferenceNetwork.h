#pragma once

#include <cstddef>
#include <vector>

namespace ombrel::dsp::transient_shaper
{
/**
    A pair of first-order allpass chains whose outputs are 90 degrees apart over a band
    (20 Hz to 20 kHz, or up to 0.49 fs where the sample rate is too low for 20 kHz).
    Designed with the elliptic (Jacobi nome) method and mapped to the sample rate by a
    bilinear warp, in double precision.
*/
struct PhaseDifferenceNetworkDesign
{
    static constexpr double lowEdgeHz = 20.0;
    static constexpr double highEdgeHz = 20000.0;

    double k = 0.0;   ///< selectivity of the band edges
    double q = 0.0;   ///< nome derived from k
    int order = 0;    ///< odd network order
    std::vector<double> pValues;                           ///< one per pole pair, (order - 1) / 2 values
    std::vector<double> chainACoefficients, chainBCoefficients; ///< allpass coefficients, in processing order

    static PhaseDifferenceNetworkDesign forSampleRate (double sampleRate);
};

/**
    A cascade of first-order allpass sections y = a x + s, s <- x - a y, one state per
    section and channel, in double precision.
*/
class AllpassChain
{
public:
    /** Allocates; clears the states. */
    void prepare (const std::vector<double>& coefficients, int numChannels);
    void reset() noexcept;

    double processSample (int channel, double input) noexcept
    {
        auto* state = states.data() + (std::size_t) channel * coefficients.size();
        auto value = input;

        for (std::size_t section = 0; section < coefficients.size(); ++section)
        {
            const auto a = coefficients[section];
            const auto output = a * value + state[section];
            state[section] = value - a * output;
            value = output;
        }

        return value;
    }

    int getNumSections() const noexcept { return (int) coefficients.size(); }
    const std::vector<double>& getCoefficients() const noexcept { return coefficients; }

private:
    std::vector<double> coefficients, states;
};
} // namespace ombrel::dsp::transient_shaper
