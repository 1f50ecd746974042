#pragma once

#include <vector>

namespace ombrel::dsp
{
/**
    Moving average of a signal's magnitude over the last N samples (a running sum over a ring).

    The sum is rebuilt from the ring once per lap, so rounding in the running updates cannot
    pile up: after N samples of digital silence the average is exactly 0.
*/
class RmsAverager
{
public:
    RmsAverager() = default;
    virtual ~RmsAverager() = default;

    /** Sizes the ring to numSamples (at least 1), zeroed, and clears the sum. Allocates. */
    void prepare (int numSamples);

    /** Empties the ring and the sum. */
    void reset() noexcept;

    /** Feeds |input[i]| and writes the mean magnitude of the last N samples to output[i].
        input and output may be the same array. */
    void process (const float* input, float* output, int numSamples) noexcept;

    int getLength() const noexcept { return length; }

private:
    void rebuildSum() noexcept;

    std::vector<float> ring;
    double sum = 0.0;
    double scale = 1.0;
    int writeIndex = 0;
    int length = 0;
};
} // namespace ombrel::dsp
