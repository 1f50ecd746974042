#include "dsp/PhaseDifferenceNetwork.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace ombrel::dsp::transient_shaper
{
PhaseDifferenceNetworkDesign PhaseDifferenceNetworkDesign::forSampleRate (double sampleRate)
{
    constexpr double pi = 3.14159265358979323846;

    // 20 kHz is at or above Nyquist below 40 kHz, where its tangent would turn negative; stay inside the band.
    const auto highEdge = std::min (highEdgeHz, 0.49 * sampleRate);
    const auto a = std::tan (pi * lowEdgeHz / sampleRate);
    const auto b = std::tan (pi * highEdge / sampleRate);

    PhaseDifferenceNetworkDesign design;

    const auto theta1 = std::atan (std::sqrt (a / b)) - pi / 4.0;
    const auto theta2 = std::atan (std::sqrt (b / a)) + pi / 4.0;
    design.k = std::tan (theta1) / std::tan (theta2);

    const auto kPrime = std::pow (1.0 - design.k * design.k, 0.25);
    const auto t = (1.0 - kPrime) / (2.0 * (1.0 + kPrime));
    design.q = t + 2.0 * std::pow (t, 5.0) + 15.0 * std::pow (t, 9.0) + 150.0 * std::pow (t, 13.0);

    // The order needed for the network's phase error bound.
    const auto minimumOrder = (int) std::ceil (-33.176196560407114 / std::log (design.q));
    design.order = minimumOrder % 2 == 0 ? minimumOrder + 1 : minimumOrder;
    const auto count = (design.order - 1) / 2;

    std::vector<double> listA, listB { 0.0 };
    const auto order = (double) design.order;

    for (int c = 1; c <= count; ++c)
    {
        double numerator = 0.0, denominator = 1.0;
        for (int i = 0; i <= 6; ++i)
            numerator += (i % 2 == 0 ? 1.0 : -1.0) * std::pow (design.q, (double) (i * (i + 1))) * std::sin ((2 * i + 1) * c * pi / order);
        numerator *= 2.0 * std::pow (design.q, 0.25);

        for (int i = 1; i <= 6; ++i)
            denominator += 2.0 * (i % 2 == 0 ? 1.0 : -1.0) * std::pow (design.q, (double) (i * i)) * std::cos (2 * i * c * pi / order);

        const auto w = std::pow (numerator / denominator, 2.0);
        const auto x = 2.0 * std::sqrt ((1.0 - w * design.k) * (1.0 - w / design.k)) / (1.0 + w);
        const auto p = std::sqrt ((2.0 - x) / (2.0 + x));

        design.pValues.push_back (p);
        auto& list = c % 2 == 1 ? listA : listB;
        list.push_back (p);
        list.push_back (-p);
    }

    // Warp from the prototype onto the band.
    const auto centre = std::sqrt (a * b);
    const auto m = (centre - 1.0) / (centre + 1.0);
    const auto toCoefficient = [m] (double p) { return (p + m) / (1.0 + p * m); };

    std::transform (listA.begin(), listA.end(), std::back_inserter (design.chainACoefficients), toCoefficient);
    std::transform (listB.begin(), listB.end(), std::back_inserter (design.chainBCoefficients), toCoefficient);

    return design;
}

void AllpassChain::prepare (const std::vector<double>& newCoefficients, int numChannels)
{
    coefficients = newCoefficients;
    states.assign ((size_t) std::max (0, numChannels) * coefficients.size(), 0.0);
}

void AllpassChain::reset() noexcept
{
    std::fill (states.begin(), states.end(), 0.0);
}
} // namespace ombrel::dsp::transient_shaper
