#include "dsp/DataSource.h"
#include "support/TestSupport.h"

#include <catch2/catch.hpp>

#include <cmath>
#include <complex>
#include <thread>
#include <vector>

namespace
{
constexpr double pi = 3.14159265358979323846;

/** A 2-channel buffer holding a constant per channel. */
juce::AudioBuffer<float> constantBlock (int numSamples, float left, float right)
{
    juce::AudioBuffer<float> buffer (2, numSamples);
    juce::FloatVectorOperations::fill (buffer.getWritePointer (0), left, numSamples);
    juce::FloatVectorOperations::fill (buffer.getWritePointer (1), right, numSamples);
    return buffer;
}

/** Feeds a constant through a meter in blocks of up to 512 samples. */
void feedConstant (ombrel::DataSource& source, int meter, int numSamples, float left, float right)
{
    auto buffer = constantBlock (512, left, right);
    for (int done = 0; done < numSamples;)
    {
        const auto n = std::min (512, numSamples - done);
        source.feedMeter (meter, juce::dsp::AudioBlock<float> (buffer).getSubBlock (0, (size_t) n));
        done += n;
    }
}

/** Level of the meter after n samples of silence, from a start level, by the closed form of one-pole release. */
double expectedReleasedLevel (double startDb, double sampleRate, double releaseMs, int n)
{
    const auto coefficient = 1.0 - std::exp (-4.605 / (0.001 * sampleRate * releaseMs));
    return -72.0 + (startDb + 72.0) * std::pow (1.0 - coefficient, n);
}

/** |X[k]| / 512 by direct summation. */
std::vector<double> plainDftMagnitudes (const std::vector<double>& x)
{
    const auto n = (int) x.size();
    std::vector<double> result ((size_t) n);
    for (int k = 0; k < n; ++k)
    {
        std::complex<double> sum;
        for (int i = 0; i < n; ++i)
            sum += x[(size_t) i] * std::polar (1.0, -2.0 * pi * (double) ((long long) k * i % n) / n);
        result[(size_t) k] = std::abs (sum) / 512.0;
    }
    return result;
}

double spectrumSmoothingCoefficient (double sampleRate)
{
    // One second to cover 99 % of a step (ln 0.01 taken as -4.605), counted in frames of 1024 samples.
    return 1.0 - std::exp (-4.605 / (sampleRate / 1024.0));
}
} // namespace

TEST_CASE ("Amplitude constants are 10^(-N/20)", "[datasource][meter]")
{
    using namespace VavadUvi::Utility;
    const std::pair<double, int> constants[] = {
        { AMP_6_DB, 6 },   { AMP_12_DB, 12 }, { AMP_18_DB, 18 }, { AMP_24_DB, 24 }, { AMP_30_DB, 30 }, { AMP_36_DB, 36 },
        { AMP_42_DB, 42 }, { AMP_48_DB, 48 }, { AMP_54_DB, 54 }, { AMP_60_DB, 60 }, { AMP_66_DB, 66 }, { AMP_72_DB, 72 },
        { AMP_78_DB, 78 }, { AMP_84_DB, 84 }, { AMP_90_DB, 90 }, { AMP_96_DB, 96 },
    };

    for (const auto& [value, db] : constants)
    {
        CAPTURE (db);
        CHECK (value == Approx (std::pow (10.0, -db / 20.0)).epsilon (1e-14));
    }
}

TEST_CASE ("Meters rise at once, release over 2.5 s and stop at -72 dB", "[datasource][meter]")
{
    const auto sampleRate = GENERATE (44100.0, 96000.0);
    const auto meter = GENERATE (0, 1);
    CAPTURE (sampleRate, meter);

    ombrel::DataSource source;
    source.prepare (sampleRate, 512);

    CHECK (source.getMeterLevel (meter) == -72.0);
    CHECK (source.getNormalizedMeterValue (meter) == 0.0f);

    // Full scale: 0 dB immediately, normalised 1, no clip.
    feedConstant (source, meter, 1, 1.0f, 1.0f);
    CHECK (source.getMeterLevel (meter) == Approx (0.0).margin (1e-12));
    CHECK (source.getNormalizedMeterValue (meter) == 1.0f);
    CHECK_FALSE (source.getChannelIsClipped (meter));

    // The other meter is untouched.
    CHECK (source.getMeterLevel (1 - meter) == -72.0);

    SECTION ("release follows the one-pole curve and loses 99 % of the distance in 2.5 s")
    {
        const auto quarter = (int) (0.625 * sampleRate);
        feedConstant (source, meter, quarter, 0.0f, 0.0f);
        CHECK (source.getMeterLevel (meter) == Approx (expectedReleasedLevel (0.0, sampleRate, 2500.0, quarter)).epsilon (1e-9));

        feedConstant (source, meter, (int) (2.5 * sampleRate) - quarter, 0.0f, 0.0f);
        CHECK (source.getMeterLevel (meter) == Approx (-72.0 + 0.01 * 72.0).margin (1e-3));

        feedConstant (source, meter, (int) (20.0 * sampleRate), 0.0f, 0.0f);
        CHECK (source.getMeterLevel (meter) >= -72.0);
        CHECK (source.getMeterLevel (meter) == Approx (-72.0).margin (1e-6));
        CHECK (source.getNormalizedMeterValue (meter) == Approx (0.0f).margin (1e-7));
    }

    SECTION ("a quieter sample moves the level by the release coefficient only")
    {
        const auto target = 20.0 * std::log10 (0.25);
        const auto releaseCoefficient = 1.0 - std::exp (-4.605 / (0.001 * sampleRate * 2500.0));
        feedConstant (source, meter, 1, 0.25f, 0.25f);
        CHECK (source.getMeterLevel (meter) == Approx (target * releaseCoefficient).epsilon (1e-6));
    }
}

TEST_CASE ("Meters take the signed maximum of the two channels", "[datasource][meter]")
{
    struct Case { float left, right; double expectedAmplitude; };
    const auto testCase = GENERATE (Case { -0.5f, -0.9f, 0.5 },
                                    Case { -0.9f, -0.5f, 0.5 },
                                    Case { 0.25f, -0.9f, 0.25 },
                                    Case { -0.9f, 0.125f, 0.125 });
    CAPTURE (testCase.left, testCase.right);

    ombrel::DataSource source;
    source.prepare (48000.0, 64);
    feedConstant (source, ombrel::DataSource::inputMeter, 64, testCase.left, testCase.right);

    CHECK (source.getMeterLevel (0) == Approx (20.0 * std::log10 (testCase.expectedAmplitude)).margin (1e-5));
}

TEST_CASE ("Meter normalisation maps -72..0 dB onto 0..1", "[datasource][meter]")
{
    struct Case { double amplitude; float expected; };
    const auto testCase = GENERATE (Case { VavadUvi::Utility::AMP_36_DB, 0.5f },
                                    Case { VavadUvi::Utility::AMP_18_DB, 0.75f },
                                    Case { 1.0e-5, 0.0f },   // below the floor
                                    Case { 0.9, (float) (1.0 + 20.0 * std::log10 (0.9) / 72.0) });
    CAPTURE (testCase.amplitude);

    ombrel::DataSource source;
    source.prepare (44100.0, 64);
    feedConstant (source, 1, 1, (float) testCase.amplitude, (float) testCase.amplitude);
    CHECK (source.getNormalizedMeterValue (1) == Approx (testCase.expected).margin (1e-5));
}

TEST_CASE ("Clip flag holds for two seconds after the last clipping sample", "[datasource][meter]")
{
    const auto meter = GENERATE (0, 1);
    constexpr double sampleRate = 48000.0;
    const auto period = 2 * (int) sampleRate;

    ombrel::DataSource source;
    source.prepare (sampleRate, 512);

    // Clip on the last sample of a block.
    auto buffer = constantBlock (100, 0.5f, 0.5f);
    buffer.setSample (1, 99, 1.01f);
    source.feedMeter (meter, juce::dsp::AudioBlock<float> (buffer));
    CHECK (source.getChannelIsClipped (meter));
    CHECK_FALSE (source.getChannelIsClipped (1 - meter));

    // The counter restarts at the clipping sample; the flag clears on the sample that completes two seconds.
    feedConstant (source, meter, period - 2, 0.5f, 0.5f);
    CHECK (source.getChannelIsClipped (meter));
    feedConstant (source, meter, 1, 0.5f, 0.5f);
    CHECK_FALSE (source.getChannelIsClipped (meter));

    SECTION ("exactly full scale is not a clip")
    {
        feedConstant (source, meter, 10, 1.0f, -1.0f);
        CHECK_FALSE (source.getChannelIsClipped (meter));
    }

    SECTION ("a new clip restarts the hold")
    {
        feedConstant (source, meter, 1, 1.5f, 1.5f);
        feedConstant (source, meter, period / 2, 0.0f, 0.0f);
        feedConstant (source, meter, 1, -0.5f, 1.2f);
        feedConstant (source, meter, period - 2, 0.0f, 0.0f);
        CHECK (source.getChannelIsClipped (meter));
        feedConstant (source, meter, 1, 0.0f, 0.0f);
        CHECK_FALSE (source.getChannelIsClipped (meter));
    }
}

TEST_CASE ("Preparation keeps meter state and answers simple queries", "[datasource]")
{
    ombrel::DataSource source;
    source.prepare (44100.7, 256);
    CHECK (source.getSamplerate (0) == 44100);

    feedConstant (source, 0, 10, 2.0f, 2.0f);
    source.prepare (96000.0, 128);
    CHECK (source.getSamplerate (1) == 96000);
    CHECK (source.getMeterLevel (0) == Approx (20.0 * std::log10 (2.0)).margin (1e-5));
    CHECK (source.getChannelIsClipped (0));

    for (const auto channel : { -1, 0, 1, 2, 7 })
        CHECK (source.getFFTSize (channel) == 1024);

    for (const auto channel : { -1, 2, 100 })
    {
        CHECK (source.getNormalizedMeterValue (channel) == 0.0f);
        CHECK_FALSE (source.getChannelIsClipped (channel));
    }

    CHECK (source.getRiderGain() == 0.0f);
    CHECK (source.getMaxGrValue() == 0.0f);

    // Bins outside the spectrum read as the floor instead of touching memory they do not own.
    for (const auto bin : { -1, 1024, 5000 })
        CHECK (source.getMagnitudeInDecibel (bin, 0) == -96.0f);
}

TEST_CASE ("Spectrum of a sine centred on bin 64 settles near -6 dB", "[datasource][spectrum]")
{
    constexpr double sampleRate = 44100.0;
    ombrel::DataSource source;
    source.prepare (sampleRate, 512);

    const auto feedSine = [&source] (int startSample, int numSamples)
    {
        juce::AudioBuffer<float> buffer (2, numSamples);
        for (int i = 0; i < numSamples; ++i)
        {
            const auto value = (float) (0.5 * std::sin (2.0 * pi * 64.0 * (startSample + i) / 1024.0));
            buffer.setSample (0, i, value);
            buffer.setSample (1, i, value);
        }
        source.feedSpectrum (juce::dsp::AudioBlock<float> (buffer));
    };

    // Nothing is published before the first frame is complete.
    feedSine (0, 1023);
    CHECK (source.getMagnitudeInDecibel (64, 0) == -96.0f);
    feedSine (1023, 1);
    CHECK (source.getMagnitudeInDecibel (64, 0) == Approx (20.0 * std::log10 (0.5 * spectrumSmoothingCoefficient (sampleRate))).margin (1e-3));

    // About a second of frames: the smoothing has covered 99 % of the way to 0.5.
    constexpr int frames = 43;
    for (int frame = 1; frame < frames; ++frame)
        feedSine (frame * 1024, 1024);

    const auto expected = 0.5 * (1.0 - std::pow (1.0 - spectrumSmoothingCoefficient (sampleRate), frames));
    CHECK (source.getMagnitudeInDecibel (64, 0) == Approx (20.0 * std::log10 (expected)).margin (1e-3));
    CHECK (source.getMagnitudeInDecibel (64, 0) == Approx (-6.02).margin (0.1));
    CHECK (source.getMagnitudeInDecibel (1024 - 64, 1) == Approx (source.getMagnitudeInDecibel (64, 0)).margin (1e-3));

    // A sine on a bin centre does not leak into its neighbours.
    for (const auto bin : { 0, 1, 63, 65, 128, 512 })
        CHECK (source.getMagnitudeInDecibel (bin, 0) < -80.0f);
}

TEST_CASE ("Spectrum of silence reads -96 dB in every bin", "[datasource][spectrum]")
{
    ombrel::DataSource source;
    source.prepare (48000.0, 256);

    for (int bin = 0; bin < 1024; ++bin)
        REQUIRE (source.getMagnitudeInDecibel (bin, 0) == -96.0f);

    auto silence = constantBlock (256, 0.0f, 0.0f);
    for (int block = 0; block < 16; ++block)
        source.feedSpectrum (juce::dsp::AudioBlock<float> (silence));

    for (int bin = 0; bin < 1024; ++bin)
        REQUIRE (source.getMagnitudeInDecibel (bin, 0) == -96.0f);
}

TEST_CASE ("Published spectrum matches a plain DFT of the signed channel maximum", "[datasource][spectrum]")
{
    constexpr double sampleRate = 48000.0;
    ombrel::dsp::SpectrumAnalyser analyser;
    analyser.prepare (sampleRate);
    const auto coefficient = spectrumSmoothingCoefficient (sampleRate);

    juce::Random random (1234);
    std::vector<double> expected (1024, 0.0);

    // Two consecutive frames fed in blocks that do not line up with the frame length.
    constexpr int totalSamples = 2048, blockSize = 77;
    juce::AudioBuffer<float> signal (2, totalSamples);
    for (int i = 0; i < totalSamples; ++i)
    {
        const auto tone = 0.3 * std::sin (2.0 * pi * 1000.0 * i / sampleRate) + 0.1 * std::cos (2.0 * pi * 15000.0 * i / sampleRate);
        signal.setSample (0, i, (float) (tone + 0.2 * (random.nextDouble() - 0.5)));
        signal.setSample (1, i, (float) (tone + 0.2 * (random.nextDouble() - 0.5)));
    }

    for (int start = 0; start < totalSamples; start += blockSize)
        analyser.pushBlock (juce::dsp::AudioBlock<float> (signal).getSubBlock ((size_t) start, (size_t) std::min (blockSize, totalSamples - start)));

    for (int frame = 0; frame < 2; ++frame)
    {
        std::vector<double> frameSamples (1024);
        for (int i = 0; i < 1024; ++i)
            frameSamples[(size_t) i] = std::max (signal.getSample (0, frame * 1024 + i), signal.getSample (1, frame * 1024 + i));

        const auto magnitudes = plainDftMagnitudes (frameSamples);
        for (size_t k = 0; k < 1024; ++k)
            expected[k] += (magnitudes[k] - expected[k]) * coefficient;
    }

    for (int bin = 0; bin < 1024; ++bin)
    {
        CAPTURE (bin);
        CHECK (analyser.getMagnitude (bin) == Approx (expected[(size_t) bin]).epsilon (1e-6).margin (1e-9));
    }
}

TEST_CASE ("Meter and spectrum feeds allocate nothing", "[datasource][realtime]")
{
    ombrel::DataSource source;
    source.prepare (48000.0, 512);
    auto buffer = constantBlock (512, 0.5f, 1.5f);
    juce::dsp::AudioBlock<float> block (buffer);

    test_support::AllocationCounter counter;
    for (int i = 0; i < 8; ++i)
    {
        source.feedInputMeter (block);
        source.feedOutputMeter (block);
        source.feedSpectrum (block);
    }
    CHECK (counter.allocations() == 0);
}

TEST_CASE ("Non-finite samples do not wedge the meters or the spectrum", "[datasource]")
{
    ombrel::DataSource source;
    source.prepare (48000.0, 512);

    auto bad = constantBlock (1024, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity());
    source.feedInputMeter (juce::dsp::AudioBlock<float> (bad));
    source.feedSpectrum (juce::dsp::AudioBlock<float> (bad));

    auto quiet = constantBlock (1024, 0.25f, 0.25f);
    source.feedInputMeter (juce::dsp::AudioBlock<float> (quiet));
    source.feedSpectrum (juce::dsp::AudioBlock<float> (quiet));

    CHECK (std::isfinite (source.getMeterLevel (0)));
    for (int bin = 0; bin < 1024; ++bin)
        REQUIRE (std::isfinite (source.getMagnitudeInDecibel (bin, 0)));
}

TEST_CASE ("The editor may read while the audio thread feeds", "[datasource][concurrency]")
{
    // Meaningful under the thread sanitizer build; elsewhere it checks the readings stay in range.
    ombrel::DataSource source;
    source.prepare (48000.0, 256);

    std::atomic<bool> done { false };
    bool inRange = true;
    std::thread reader ([&]
    {
        while (! done.load())
        {
            for (int channel = 0; channel < 2; ++channel)
            {
                const auto value = source.getNormalizedMeterValue (channel);
                inRange = inRange && value >= 0.0f && value <= 1.0f;
                source.getChannelIsClipped (channel);
            }
            for (int bin = 0; bin < 1024; bin += 31)
                inRange = inRange && source.getMagnitudeInDecibel (bin, 0) >= -96.0f;
        }
    });

    juce::AudioBuffer<float> buffer (2, 256);
    for (int block = 0; block < 1000; ++block)
    {
        for (int i = 0; i < 256; ++i)
            buffer.setSample (0, i, (float) std::sin (0.03 * (block * 256 + i)) * 1.2f), buffer.setSample (1, i, 0.0f);
        source.feedInputMeter (juce::dsp::AudioBlock<float> (buffer));
        source.feedOutputMeter (juce::dsp::AudioBlock<float> (buffer));
        source.feedSpectrum (juce::dsp::AudioBlock<float> (buffer));
    }

    done = true;
    reader.join();
    CHECK (inRange);
}
