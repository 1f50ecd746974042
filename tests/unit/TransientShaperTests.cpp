#include "dsp/TransientShaper.h"
#include "support/TestSupport.h"

#include <catch2/catch.hpp>

#include <cmath>
#include <algorithm>
#include <complex>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

using namespace ombrel::dsp::transient_shaper;

namespace
{
constexpr double pi = 3.14159265358979323846;
constexpr float gateSensitivity = 0.8974288f; // what the gate sets after preparation

/** A shaper prepared for stereo at a rate, with the gate's sensitivity and chosen gains. */
struct ShaperFixture
{
    ShaperFixture (double rate, int block, float fatDb, float punchDb) : sampleRate (rate), blockSize (block)
    {
        shaper.setSensitivity (gateSensitivity);
        shaper.setFatGain (fatDb);
        shaper.setPunchGain (punchDb);
        shaper.setup ({ sampleRate, (juce::uint32) blockSize, 2 });
    }

    /** Runs a mono signal (the same on both channels) through the shaper; returns channel 0's curve and
        checks that both channels agree. */
    std::vector<float> run (const std::function<float (int)>& signal, int numSamples)
    {
        std::vector<float> curve;
        juce::AudioBuffer<float> buffer (2, blockSize);

        for (int start = 0; start < numSamples; start += blockSize)
        {
            const auto n = std::min (blockSize, numSamples - start);
            for (int i = 0; i < n; ++i)
            {
                const auto value = signal (position + i);
                buffer.setSample (0, i, value);
                buffer.setSample (1, i, value);
            }
            position += n;

            const auto gains = shaper.processContinuous (juce::dsp::AudioBlock<float> (buffer).getSubBlock (0, (size_t) n));
            REQUIRE (gains.getNumChannels() == 2);
            REQUIRE (gains.getNumSamples() == (size_t) n);
            for (int i = 0; i < n; ++i)
            {
                REQUIRE (gains.getSample (1, i) == gains.getSample (0, i));
                curve.push_back (gains.getSample (0, i));
            }
        }
        return curve;
    }

    double sampleRate;
    int blockSize;
    int position = 0;
    TransientShaper shaper;
};

std::function<float (int)> sine (double frequency, double sampleRate, double amplitude)
{
    return [=] (int n) { return (float) (amplitude * std::sin (2.0 * pi * frequency * n / sampleRate)); };
}
} // namespace


TEST_CASE ("Phase-difference network design", "[transient]")
{
    struct Case { double sampleRate; int order, pValues, sectionsA, sectionsB; };
    const auto testCase = GENERATE (Case { 44100.0, 17, 8, 8, 9 }, Case { 48000.0, 17, 8, 8, 9 }, Case { 96000.0, 15, 7, 8, 7 });
    CAPTURE (testCase.sampleRate);

    TransientShaper shaper;
    shaper.setup ({ testCase.sampleRate, 256, 2 });
    const auto& design = shaper.getNetworkDesign();

    CHECK (design.order == testCase.order);
    CHECK ((int) design.pValues.size() == testCase.pValues);
    CHECK ((int) design.chainACoefficients.size() == testCase.sectionsA);
    CHECK ((int) design.chainBCoefficients.size() == testCase.sectionsB);
    CHECK (shaper.getEnvelopesRatio().getChainA().getNumSections() == testCase.sectionsA);
    CHECK (shaper.getEnvelopesRatio().getChainB().getNumSections() == testCase.sectionsB);

    if (testCase.sampleRate == 44100.0)
    {
        CHECK (design.k == Approx (0.943736).margin (5e-7));
        CHECK (design.q == Approx (0.134984).margin (5e-7));
    }

    // Every section is a stable allpass.
    for (const auto* coefficients : { &design.chainACoefficients, &design.chainBCoefficients })
        for (const auto a : *coefficients)
            CHECK (std::abs (a) < 1.0);
}

TEST_CASE ("The two allpass chains are 90 degrees apart across the band", "[transient]")
{
    struct Case { double sampleRate; std::vector<double> frequencies; };
    const auto testCase = GENERATE (Case { 44100.0, { 20, 31, 50, 100, 440, 1000, 3000, 7000, 12000, 17000, 20000 } },
                                    Case { 48000.0, { 20, 60, 250, 1000, 5000, 15000, 20000 } },
                                    Case { 96000.0, { 20, 45, 1000, 10000, 20000 } },
                                    // Too low a rate for 20 kHz: the band ends below Nyquist instead of breaking the design.
                                    Case { 22050.0, { 20, 1000, 8000, 10000 } });
    CAPTURE (testCase.sampleRate);

    TransientShaper shaper;
    shaper.setup ({ testCase.sampleRate, 512, 1 });

    for (const auto frequency : testCase.frequencies)
    {
        CAPTURE (frequency);

        // Settle for a second, then correlate over one second: a whole number of periods for whole-Hz tones.
        auto chainA = shaper.getEnvelopesRatio().getChainA();
        auto chainB = shaper.getEnvelopesRatio().getChainB();
        const auto settle = (int) testCase.sampleRate, measure = (int) testCase.sampleRate;
        std::complex<double> phasorA, phasorB;

        for (int n = 0; n < settle + measure; ++n)
        {
            const auto phase = 2.0 * pi * frequency * n / testCase.sampleRate;
            const auto x = std::sin (phase);
            const auto a = chainA.processSample (0, x);
            const auto b = chainB.processSample (0, x);

            if (n >= settle)
            {
                phasorA += a * std::polar (1.0, -phase);
                phasorB += b * std::polar (1.0, -phase);
            }
        }

        // Both chains pass the tone at unit gain; their phases differ by a quarter turn (either sign).
        CHECK (2.0 * std::abs (phasorA) / measure == Approx (1.0).margin (1e-6));
        CHECK (2.0 * std::abs (phasorB) / measure == Approx (1.0).margin (1e-6));
        const auto difference = std::abs (std::arg (phasorA / phasorB)) * 180.0 / pi;
        CHECK (difference == Approx (90.0).margin (0.1));
    }
}

TEST_CASE ("The analytic envelope of a steady tone is flat", "[transient]")
{
    const auto frequency = GENERATE (35.0, 440.0, 1000.0, 9000.0, 18000.0);
    CAPTURE (frequency);
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 480;

    EnvelopesRatio envelopes;
    envelopes.prepare ({ sampleRate, blockSize, 1 });

    juce::AudioBuffer<float> buffer (1, blockSize);
    float lowest = 1.0f, highest = 0.0f;
    for (int block = 0; block < 200; ++block)
    {
        for (int i = 0; i < blockSize; ++i)
            buffer.setSample (0, i, (float) (0.5 * std::sin (2.0 * pi * frequency * (block * blockSize + i) / sampleRate)));

        const auto ratio = envelopes.process (juce::dsp::AudioBlock<float> (buffer));
        REQUIRE (ratio.getNumSamples() == (size_t) blockSize);

        if (block >= 100)
        {
            const auto envelope = envelopes.getLastEnvelope();
            for (int i = 0; i < blockSize; ++i)
            {
                lowest = std::min (lowest, envelope.getSample (0, i));
                highest = std::max (highest, envelope.getSample (0, i));
                // Settled: the slow envelope has caught up, so the ratio sits at 1.
                REQUIRE (ratio.getSample (0, i) == Approx (1.0f).margin (0.01));
            }
        }
    }

    CHECK (lowest > 0.4995f);
    CHECK (highest < 0.5005f);
}

TEST_CASE ("A steady 1 kHz sine leaves the gain at 0 dB once settled", "[transient]")
{
    const auto sampleRate = GENERATE (44100.0, 48000.0, 96000.0);
    CAPTURE (sampleRate);
    ShaperFixture fixture (sampleRate, 128, 6.0f, 6.0f);

    const auto curve = fixture.run (sine (1000.0, sampleRate, 0.5), (int) (3.0 * sampleRate));
    for (auto i = (size_t) (2.0 * sampleRate); i < curve.size(); ++i)
        REQUIRE (std::abs (curve[i]) < 1.0e-3f);
}

TEST_CASE ("A sharp onset raises the onset curve first and the follow curve later", "[transient]")
{
    constexpr double sampleRate = 48000.0;
    constexpr int onsetSample = 4800;
    const auto silenceThenSine = [] (int n)
    {
        return n < onsetSample ? 0.0f : (float) (0.5 * std::sin (2.0 * pi * 1000.0 * (n - onsetSample) / sampleRate));
    };

    // With one gain at 1 dB and the other at 0 dB the curve is the onset (fat) or follow (punch) curve itself.
    ShaperFixture onsetOnly (sampleRate, 128, 1.0f, 0.0f);
    ShaperFixture followOnly (sampleRate, 128, 0.0f, 1.0f);
    const auto onset = onsetOnly.run (silenceThenSine, (int) sampleRate);
    const auto follow = followOnly.run (silenceThenSine, (int) sampleRate);

    for (size_t i = 0; i < (size_t) onsetSample; ++i)
    {
        REQUIRE (onset[i] == 0.0f);
        REQUIRE (follow[i] == 0.0f);
    }

    for (size_t i = 0; i < onset.size(); ++i)
    {
        REQUIRE (onset[i] >= 0.0f);
        REQUIRE (onset[i] <= 1.0f);
        REQUIRE (follow[i] >= 0.0f);
        REQUIRE (follow[i] <= 1.0f);
    }

    // The onset curve is at 1 within a millisecond.
    const auto oneMs = (size_t) (0.001 * sampleRate);
    const auto onsetPeak = std::max_element (onset.begin() + onsetSample, onset.begin() + onsetSample + (long) oneMs);
    CHECK (*onsetPeak > 0.99f);

    // It then decays; the follow curve takes over and peaks well after the onset curve has faded.
    const auto followPeak = std::max_element (follow.begin() + onsetSample, follow.end());
    const auto followPeakIndex = (size_t) (followPeak - follow.begin());
    CHECK (*followPeak > 0.5f);
    CHECK (followPeakIndex > (size_t) onsetSample + 20 * oneMs);
    CHECK (onset[followPeakIndex] < 0.1f);
    CHECK (onset[(size_t) onsetSample + 200 * oneMs] < 0.01f);

    // Shortening the onset follower's release makes the onset curve fall faster.
    ShaperFixture quickRelease (sampleRate, 128, 1.0f, 0.0f);
    quickRelease.shaper.setOnsetReleaseTime (20.0f);
    const auto quickOnset = quickRelease.run (silenceThenSine, (int) sampleRate);
    const auto probe = (size_t) onsetSample + 30 * oneMs;
    CHECK (quickOnset[probe] < 0.5f * onset[probe]);
}

TEST_CASE ("Gain curves stay at 0 dB without gains or without signal", "[transient]")
{
    juce::Random random (42);
    const auto noiseBursts = [&random] (int n) { return (n / 2400) % 2 == 0 ? 0.0f : (float) (random.nextDouble() * 2.0 - 1.0); };

    struct Case { float fatDb, punchDb; bool silent; };
    const auto testCase = GENERATE (Case { 0.0f, 0.0f, false }, Case { 12.0f, -12.0f, true }, Case { 0.0f, 0.0f, true });
    CAPTURE (testCase.fatDb, testCase.punchDb, testCase.silent);

    ShaperFixture fixture (44100.0, 100, testCase.fatDb, testCase.punchDb);
    const auto curve = fixture.run ([&] (int n) { return testCase.silent ? 0.0f : noiseBursts (n); }, 44100);

    for (const auto gain : curve)
        REQUIRE (gain == 0.0f);
}

TEST_CASE ("Degenerate settings and input give finite gains", "[transient]")
{
    const auto onsetAfterSilence = [] (int n) { return n < 1000 ? 0.0f : (float) std::sin (0.1 * n); };

    SECTION ("sensitivity never set")
    {
        TransientShaper shaper;
        shaper.setFatGain (6.0f);
        shaper.setPunchGain (6.0f);
        shaper.setup ({ 48000.0, 64, 2 });

        juce::AudioBuffer<float> buffer (2, 64);
        for (int block = 0; block < 200; ++block)
        {
            for (int i = 0; i < 64; ++i)
                buffer.setSample (0, i, onsetAfterSilence (block * 64 + i)), buffer.setSample (1, i, buffer.getSample (0, i));

            const auto gains = shaper.processContinuous (juce::dsp::AudioBlock<float> (buffer));
            for (int i = 0; i < 64; ++i)
                REQUIRE (std::isfinite (gains.getSample (0, i)));
        }
    }

    SECTION ("a ratio scale at or below -100 dB turns the ratio off")
    {
        ShaperFixture fixture (48000.0, 64, 6.0f, 6.0f);
        fixture.shaper.setRatioScale (-100.0f);
        for (const auto gain : fixture.run (onsetAfterSilence, 20000))
            REQUIRE (gain == 0.0f);
    }

    SECTION ("a NaN in the input does not outlive it")
    {
        ShaperFixture fixture (48000.0, 64, 6.0f, 6.0f);
        const auto curve = fixture.run ([&] (int n) { return n == 500 ? std::numeric_limits<float>::quiet_NaN() : onsetAfterSilence (n); }, 20000);
        for (const auto gain : curve)
            REQUIRE (std::isfinite (gain));
    }
}

TEST_CASE ("Gain targets ramp over 10 ms from the next block", "[transient]")
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 16, onsetSample = 1600, changeBlock = (onsetSample + 48) / blockSize;
    const auto ramp = (int) std::floor (0.01 * sampleRate);
    const auto silenceThenSine = [] (int n)
    {
        return n < onsetSample ? 0.0f : (float) (0.5 * std::sin (2.0 * pi * 1000.0 * (n - onsetSample) / sampleRate));
    };

    ShaperFixture reference (sampleRate, blockSize, 1.0f, 0.0f);
    ShaperFixture changed (sampleRate, blockSize, 0.0f, 0.0f);
    const auto onset = reference.run (silenceThenSine, changeBlock * blockSize + ramp);
    auto curve = changed.run (silenceThenSine, changeBlock * blockSize);
    changed.shaper.setFatGain (10.0f);
    const auto after = changed.run (silenceThenSine, ramp);
    curve.insert (curve.end(), after.begin(), after.end());

    for (int k = 0; k < ramp; ++k)
    {
        const auto i = (size_t) (changeBlock * blockSize + k);
        CAPTURE (k);
        REQUIRE (curve[i] == Approx (onset[i] * 10.0f * (float) (k + 1) / (float) ramp).margin (1e-4));
    }
}

TEST_CASE ("Setup restarts the analysis only when the format changes", "[transient]")
{
    const auto signal = [] (int n) { return (float) (std::sin (0.05 * n) * ((n / 3000) % 2)); };

    ShaperFixture continuous (44100.0, 128, 3.0f, 3.0f);
    ShaperFixture interrupted (44100.0, 128, 3.0f, 3.0f);
    const auto expected = continuous.run (signal, 20000);

    auto first = interrupted.run (signal, 10000);
    interrupted.shaper.setup ({ 44100.0, 128, 2 }); // unchanged: must keep every state
    const auto second = interrupted.run (signal, 10000);
    first.insert (first.end(), second.begin(), second.end());
    CHECK (first == expected);

    // A new rate redesigns the network and starts from scratch, like a fresh shaper.
    interrupted.shaper.setup ({ 96000.0, 128, 2 });
    CHECK (interrupted.shaper.getNetworkDesign().order == 15);
    ShaperFixture fresh (96000.0, 128, 3.0f, 3.0f);
    interrupted.position = 0;
    CHECK (interrupted.run (signal, 20000) == fresh.run (signal, 20000));
}

TEST_CASE ("processContinuous stays within the prepared size", "[transient]")
{
    TransientShaper shaper;
    shaper.setSensitivity (gateSensitivity);
    shaper.setup ({ 48000.0, 64, 2 });

    juce::AudioBuffer<float> wide (3, 200);
    wide.clear();
    const auto gains = shaper.processContinuous (juce::dsp::AudioBlock<float> (wide));
    CHECK (gains.getNumChannels() == 2);
    CHECK (gains.getNumSamples() == 64);

    TransientShaper unprepared;
    CHECK (unprepared.processContinuous (juce::dsp::AudioBlock<float> (wide)).getNumSamples() == 0);
}

TEST_CASE ("processContinuous allocates nothing", "[transient][realtime]")
{
    TransientShaper shaper;
    shaper.setSensitivity (gateSensitivity);
    shaper.setup ({ 48000.0, 128, 2 });

    juce::AudioBuffer<float> buffer (2, 128);
    juce::Random random (7);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 128; ++i)
            buffer.setSample (c, i, random.nextFloat() - 0.5f);

    test_support::AllocationCounter counter;
    for (int block = 0; block < 50; ++block)
    {
        // Settings changes are picked up inside the call and must not allocate either.
        shaper.setFatGain ((float) (block % 7));
        shaper.setPunchGain ((float) (block % 5));
        shaper.setOnsetReleaseTime (50.0f + (float) block);
        shaper.setSlowFollowerAttackTime (60.0f + (float) block);
        shaper.processContinuous (juce::dsp::AudioBlock<float> (buffer));
    }
    CHECK (counter.allocations() == 0);
}

TEST_CASE ("Settings may change on another thread while blocks are processed", "[transient][concurrency]")
{
    // Meaningful under the thread sanitizer build; elsewhere it checks that nothing breaks.
    TransientShaper shaper;
    shaper.setSensitivity (gateSensitivity);
    shaper.setup ({ 48000.0, 64, 2 });

    std::atomic<bool> done { false };
    std::thread writer ([&]
    {
        for (int i = 0; ! done.load(); ++i)
        {
            shaper.setFatGain ((float) (i % 12));
            shaper.setPunchGain ((float) (i % 9));
            shaper.setSensitivity (0.5f + 0.001f * (float) (i % 500));
            shaper.setDurationReleaseTime (50.0f + (float) (i % 100));
            shaper.setRatioScale (-10.0f - (float) (i % 3));
        }
    });

    juce::AudioBuffer<float> buffer (2, 64);
    bool allFinite = true;
    for (int block = 0; block < 2000; ++block)
    {
        for (int i = 0; i < 64; ++i)
            buffer.setSample (0, i, (float) std::sin (0.01 * (block * 64 + i)) * (float) ((block / 20) % 2)), buffer.setSample (1, i, buffer.getSample (0, i));

        const auto gains = shaper.processContinuous (juce::dsp::AudioBlock<float> (buffer));
        for (int i = 0; i < 64; ++i)
            allFinite = allFinite && std::isfinite (gains.getSample (0, i));
    }

    done = true;
    writer.join();
    CHECK (allFinite);
}
