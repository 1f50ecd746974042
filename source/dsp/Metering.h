#pragma once

#include "dsp/AmplitudeConstants.h"

#include <atomic>
#include <cmath>

namespace VavadUvi::Metering
{
/** Counts samples and starts a new loop every PeriodSeconds; used by detectors that hold a value for a while. */
template <int PeriodSeconds>
class Counter
{
public:
    virtual ~Counter() = default;

    virtual void init (double newSampleRate) { sampleRate = newSampleRate; }
    virtual void newLoopStarted() = 0;

    /** Restarts the current period from this sample on. */
    void restartPeriod() noexcept { counter = 0; }

    /** Counts one sample; starts a new loop once the period has elapsed. */
    void tick()
    {
        if (++counter >= PeriodSeconds * (int) sampleRate)
        {
            counter = 0;
            newLoopStarted();
        }
    }

protected:
    double sampleRate = 44100.0;
    int counter = 0;
};

/** Raises a flag on any sample above full scale and holds it for PeriodSeconds after the last one.
    The flag may be read from any thread. */
template <int PeriodSeconds>
class ClipDetector : public Counter<PeriodSeconds>
{
public:
    void init (double newSampleRate) override { Counter<PeriodSeconds>::init (newSampleRate); }
    void newLoopStarted() override { clipped.store (false, std::memory_order_relaxed); }

    /** Audio thread: one sample's absolute amplitude. */
    void process (double amplitude)
    {
        if (amplitude > 1.0)
        {
            clipped.store (true, std::memory_order_relaxed);
            this->restartPeriod();
        }

        this->tick();
    }

    bool isClipped() const noexcept { return clipped.load (std::memory_order_relaxed); }

private:
    std::atomic<bool> clipped { false };
};

/** Holds the largest gain reduction seen in the current period, in dB, never below FloorDb.
    Nothing feeds it in this plug-in, so it reads 0. */
template <int PeriodSeconds, int FloorDb>
class GrMaxValueDetector : public Counter<PeriodSeconds>
{
public:
    void init (double newSampleRate) override { Counter<PeriodSeconds>::init (newSampleRate); }
    void newLoopStarted() override { maxValue.store (0.0, std::memory_order_relaxed); }

    double getValue() const noexcept { return maxValue.load (std::memory_order_relaxed); }
    static constexpr double getFloor() noexcept { return (double) FloorDb; }

private:
    std::atomic<double> maxValue { 0.0 };
};

/**
    Level meter in dB with separate attack and release smoothing, floored at -72 dB.

    The audio thread feeds samples and publishes once per block; any thread may read the
    published level.
*/
class LevelMeter
{
public:
    static constexpr double floorDb = -72.0;
    static constexpr double floorAmplitude = VavadUvi::Utility::AMP_72_DB;
    /** ln 0.01: a step covers 99 % of its distance within the set time. */
    static constexpr double timeFactor = -4.605;

    LevelMeter() { prepare (44100.0); }

    /** Recomputes the coefficients for a sample rate; the level is kept. */
    void prepare (double newSampleRate) noexcept
    {
        sampleRate = newSampleRate;
        attackCoefficient = coefficientFor (attackTimeMs);
        releaseCoefficient = coefficientFor (releaseTimeMs);
    }

    void setAttackTime (double milliseconds) noexcept
    {
        attackTimeMs = milliseconds;
        attackCoefficient = coefficientFor (attackTimeMs);
    }

    void setReleaseTime (double milliseconds) noexcept
    {
        releaseTimeMs = milliseconds;
        releaseCoefficient = coefficientFor (releaseTimeMs);
    }

    /** Audio thread: one sample's absolute amplitude. */
    void process (double amplitude) noexcept
    {
        // Non-finite input reads as the floor, so one bad sample cannot wedge the meter.
        const auto db = amplitude >= floorAmplitude && std::isfinite (amplitude) ? 20.0 * std::log10 (amplitude) : floorDb;

        if (db > state)
            state += (db - state) * attackCoefficient;
        else if (db < state)
            state += (db - state) * releaseCoefficient;
    }

    /** Audio thread: makes the current level visible to readers. */
    void publish() noexcept { level.store (state, std::memory_order_relaxed); }

    /** Any thread: the last published level in dB, from -72 upwards. */
    double getLevel() const noexcept { return level.load (std::memory_order_relaxed); }

    double getAttackCoefficient() const noexcept { return attackCoefficient; }
    double getReleaseCoefficient() const noexcept { return releaseCoefficient; }

private:
    double coefficientFor (double milliseconds) const noexcept
    {
        return milliseconds != 0.0 ? 1.0 - std::exp (timeFactor / (0.001 * sampleRate * milliseconds)) : 1.0;
    }

    std::atomic<double> level { floorDb };
    double sampleRate = 44100.0;
    double attackTimeMs = 0.0, releaseTimeMs = 2500.0;
    double attackCoefficient = 1.0, releaseCoefficient = 1.0;
    double state = floorDb;

    static_assert (std::atomic<double>::is_always_lock_free);
};
} // namespace VavadUvi::Metering
