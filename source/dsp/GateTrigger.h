#pragma once

#include <algorithm>

namespace ombrel::dsp
{
/** Open/closed decision with hysteresis: opens above the open level, closes at or below the
    close level, and keeps its state in between and across blocks. */
class HysteresisTrigger
{
public:
    /** Writes 1 for every sample the trigger is open, else 0. */
    void process (const float* levels, float* trigger, int numSamples, float openLevel, float closeLevel) noexcept
    {
        for (int i = 0; i < numSamples; ++i)
        {
            const auto x = levels[i];

            if (x > openLevel)
                open = true;
            else if (! (x > closeLevel))
                open = false;

            trigger[i] = open ? 1.0f : 0.0f;
        }
    }

    bool isOpen() const noexcept { return open; }

private:
    bool open = false;
};

/** Keeps a trigger at 1 for a number of samples after it last was non-zero. */
class HoldStage
{
public:
    void process (const float* trigger, float* output, int numSamples, int holdSamples) noexcept
    {
        holdSamples = std::max (0, holdSamples);

        for (int i = 0; i < numSamples; ++i)
        {
            const auto triggered = trigger[i] != 0.0f;

            if (triggered)
                counter = 0;

            output[i] = (! triggered && expired) ? 0.0f : 1.0f;
            expired = counter >= holdSamples || (! triggered && expired);

            // Saturate: a gate left closed for hours must not overflow the counter.
            if (counter <= holdSamples)
                ++counter;
        }
    }

private:
    int counter = 0;
    // Starts expired so that a fresh gate stays closed until something triggers it.
    bool expired = true;
};
} // namespace ombrel::dsp
