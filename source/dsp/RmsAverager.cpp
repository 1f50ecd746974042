#include "dsp/RmsAverager.h"

#include <algorithm>
#include <cmath>

namespace ombrel::dsp
{
void RmsAverager::prepare (int numSamples)
{
    length = std::max (1, numSamples);
    ring.assign ((size_t) length, 0.0f);
    scale = 1.0 / (double) length;
    reset();
}

void RmsAverager::reset() noexcept
{
    std::fill (ring.begin(), ring.end(), 0.0f);
    sum = 0.0;
    writeIndex = 0;
}

void RmsAverager::rebuildSum() noexcept
{
    double total = 0.0;
    for (auto value : ring)
        total += (double) value;
    sum = total * scale;
}

void RmsAverager::process (const float* input, float* output, int numSamples) noexcept
{
    if (length <= 0)
    {
        std::fill (output, output + numSamples, 0.0f);
        return;
    }

    auto* values = ring.data();

    for (int i = 0; i < numSamples; ++i)
    {
        const auto x = std::abs (input[i]);
        auto& slot = values[writeIndex];
        sum += ((double) x - (double) slot) * scale;
        slot = x;

        if (++writeIndex == length)
        {
            writeIndex = 0;
            rebuildSum();
        }

        output[i] = (float) std::max (sum, 0.0);
    }
}
} // namespace ombrel::dsp
