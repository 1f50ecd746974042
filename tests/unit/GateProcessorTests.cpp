#include <catch2/catch.hpp>

#include "core/PluginProcessor.h"
#include "dsp/GateProcessor.h"
#include "dsp/RmsAverager.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

using ombrel::dsp::GateProcessor;
namespace config = ombrel::config;

namespace
{
constexpr double pi = 3.14159265358979323846;

/** One-pole follower coefficient for a time in ms: exp(-2 pi 1000 / (fs t)). */
double followerCoefficient (double timeMs, double sampleRate)
{
    return std::exp (-2.0 * pi * 1000.0 / (sampleRate * timeMs));
}

double dbToGain (double db) { return std::pow (10.0, db / 20.0); }

std::vector<float> constant (int numSamples, float value) { return std::vector<float> ((size_t) numSamples, value); }

std::vector<float> concat (std::initializer_list<std::vector<float>> parts)
{
    std::vector<float> all;
    for (const auto& part : parts)
        all.insert (all.end(), part.begin(), part.end());
    return all;
}

/** A processor's parameter tree with a gate wired to it as the processor wires it. */
struct GateFixture
{
    explicit GateFixture (double fs = 44100.0, int block = 64) : sampleRate (fs), blockSize (block)
    {
        gate.connectToParameters();
    }

    /** Sets a parameter through the tree, as the host or the editor would (raw value). */
    void set (const juce::String& id, float raw)
    {
        auto* parameter = processor.mParameters.getParameter (id);
        REQUIRE (parameter != nullptr);
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (raw));
    }

    void prepare() { gate.prepare ({ sampleRate, (juce::uint32) blockSize, 2 }); }

    /** A gate that switches as fast as it can, with no hold and a silent floor. */
    void fastGate()
    {
        set (config::Gate::attack.id, config::Gate::attack.range.start);
        set (config::Gate::release.id, config::Gate::release.range.start);
        gate.parameterChanged (config::Gate::hold.id, 0.0f);
        gate.parameterChanged (config::Gate::floor.id, -200.0f);
        set (config::Gate::threshold.id, -20.0f);
    }

    struct Result
    {
        std::vector<float> output, gain, trigger;
    };

    /** Runs a detector signal (both channels) and a main signal (both channels) through the
        lookahead update, the level averaging and the gate, block by block. A change may be
        applied before the block that starts at a given sample. */
    Result run (const std::vector<float>& detector, const std::vector<float>& main,
                int changeAt = -1, std::function<void()> change = {})
    {
        REQUIRE (detector.size() == main.size());
        const auto numSamples = (int) main.size();
        Result result { main, std::vector<float> ((size_t) numSamples), std::vector<float> ((size_t) numSamples) };

        juce::AudioBuffer<float> detectorBuffer (2, blockSize), mainBuffer (2, blockSize);

        for (int start = 0; start < numSamples; start += blockSize)
        {
            if (start == changeAt && change)
                change();

            const auto n = std::min (blockSize, numSamples - start);
            for (int c = 0; c < 2; ++c)
            {
                detectorBuffer.copyFrom (c, 0, detector.data() + start, n);
                mainBuffer.copyFrom (c, 0, main.data() + start, n);
            }

            const auto detectorBlock = juce::dsp::AudioBlock<float> (detectorBuffer).getSubBlock (0, (size_t) n);
            const auto mainBlock = juce::dsp::AudioBlock<float> (mainBuffer).getSubBlock (0, (size_t) n);

            gate.updateLookahead();
            gate.averageLevel (detectorBlock);
            gate.processGate (mainBlock);

            std::copy_n (mainBuffer.getReadPointer (0), n, result.output.begin() + start);
            std::copy_n (gate.getGainCurve().getReadPointer (0), n, result.gain.begin() + start);
            std::copy_n (gate.getTriggerCurve().getReadPointer (0), n, result.trigger.begin() + start);

            for (int i = 0; i < n; ++i)
                REQUIRE (mainBuffer.getSample (1, i) == mainBuffer.getSample (0, i));
        }

        return result;
    }

    double sampleRate;
    int blockSize;
    ombrel::BrimvaleAudioProcessor processor;
    GateProcessor gate { processor.mParameters };
};

int lastIndexOf (const std::vector<float>& values, float value)
{
    for (auto i = (int) values.size() - 1; i >= 0; --i)
        if (values[(size_t) i] == value)
            return i;
    return -1;
}

int firstIndexAbove (const std::vector<float>& values, float threshold, int from = 0)
{
    for (auto i = from; i < (int) values.size(); ++i)
        if (values[(size_t) i] > threshold)
            return i;
    return -1;
}
} // namespace

//==============================================================================
TEST_CASE ("The level averager gives the mean magnitude of the last millisecond", "[gate][averager]")
{
    ombrel::dsp::RmsAverager averager;
    constexpr int length = 48;
    averager.prepare (length);

    juce::Random random (7);
    std::vector<float> input (5000), output (5000);
    for (auto& x : input)
        x = random.nextFloat() * 2.0f - 1.0f;

    averager.process (input.data(), output.data(), (int) input.size());

    for (int i = 0; i < (int) input.size(); i += 37)
    {
        double sum = 0.0;
        for (int k = std::max (0, i - length + 1); k <= i; ++k)
            sum += std::abs (input[(size_t) k]);
        CHECK (output[(size_t) i] == Approx (sum / length).margin (1e-6));
    }

    SECTION ("digital silence brings the average to exactly 0, however long the signal ran")
    {
        std::vector<float> longNoise (200000);
        for (auto& x : longNoise)
            x = random.nextFloat() * 0.9f + 0.05f;
        std::vector<float> scratch (longNoise.size());
        averager.process (longNoise.data(), scratch.data(), (int) longNoise.size());

        std::vector<float> silence (2 * length, 0.0f), silent (silence.size());
        averager.process (silence.data(), silent.data(), (int) silence.size());
        CHECK (silent.back() == 0.0f);
    }

    SECTION ("a rate below 1 kHz still averages over at least one sample")
    {
        averager.prepare (0);
        CHECK (averager.getLength() == 1);
        const float x[] { -0.5f, 0.25f };
        float y[2];
        averager.process (x, y, 2);
        CHECK (y[0] == 0.5f);
        CHECK (y[1] == 0.25f);
    }
}

TEST_CASE ("The linked level is the signed maximum of the two detector channels", "[gate][averager]")
{
    GateFixture fixture;
    fixture.prepare();

    juce::AudioBuffer<float> detector (2, 4);
    const float left[] { 0.5f, -0.8f, -0.1f, 0.0f };
    const float right[] { -0.9f, -0.2f, 0.3f, -0.4f };
    detector.copyFrom (0, 0, left, 4);
    detector.copyFrom (1, 0, right, 4);

    fixture.gate.averageLevel (juce::dsp::AudioBlock<float> (detector));

    const float expected[] { 0.5f, -0.2f, 0.3f, 0.0f };
    for (int i = 0; i < 4; ++i)
        CHECK (fixture.gate.getLinkedLevel().getSample (0, i) == expected[i]);
    CHECK (fixture.gate.getNumLevelSamples() == 4);
}

//==============================================================================
TEST_CASE ("The trigger opens above the threshold and closes below threshold minus return", "[gate][hysteresis]")
{
    struct Segment
    {
        float level;
        bool open;
    };
    struct Case
    {
        float thresholdDb, returnDb;
        std::vector<Segment> segments;
    };

    // Threshold -20 dB = 0.1; return 6 dB puts the close level at 0.0501.
    const Case cases[] {
        { -20.0f, 6.0f, { { 0.2f, true }, { 0.07f, true }, { 0.03f, false }, { 0.07f, false }, { 0.2f, true }, { 0.07f, true } } },
        { -20.0f, 0.0f, { { 0.2f, true }, { 0.09f, false }, { 0.11f, true } } },
        // At -100 dB any level above silence opens.
        { -100.0f, 0.0f, { { 0.0f, false }, { 1.0e-6f, true }, { 0.0f, false } } },
        // A return of 100 dB only closes on digital silence.
        { -20.0f, 100.0f, { { 0.2f, true }, { 1.0e-7f, true }, { 0.0f, false } } },
    };

    for (const auto& c : cases)
    {
        GateFixture fixture;
        fixture.gate.parameterChanged (config::Gate::threshold.id, c.thresholdDb);
        fixture.gate.parameterChanged (config::Gate::thresholdReturn.id, c.returnDb);
        fixture.prepare();

        constexpr int segmentLength = 1000;
        std::vector<float> detector;
        for (const auto& s : c.segments)
        {
            // Alternating sign: the averaged magnitude is the level itself.
            for (int i = 0; i < segmentLength; ++i)
                detector.push_back ((i % 2 == 0 ? 1.0f : -1.0f) * s.level);
        }

        const auto result = fixture.run (detector, constant ((int) detector.size(), 0.0f));

        for (size_t s = 0; s < c.segments.size(); ++s)
        {
            INFO ("threshold " << c.thresholdDb << " return " << c.returnDb << " segment " << s);
            // Past the 1 ms averaging window the state is settled for the whole segment.
            const auto from = (int) s * segmentLength + 100;
            const auto to = (int) (s + 1) * segmentLength;
            const auto expected = c.segments[s].open ? 1.0f : 0.0f;
            CHECK (std::all_of (result.trigger.begin() + from, result.trigger.begin() + to, [&] (float t) { return t == expected; }));
        }
    }
}

TEST_CASE ("Hold keeps the gate open for the hold time in samples after the last trigger", "[gate][hold]")
{
    const auto fs = GENERATE (44100.0, 48000.0);
    const auto holdMs = GENERATE (0.0f, 1.0f, 10.0f, 37.5f);

    GateFixture fixture (fs);
    fixture.fastGate();
    fixture.gate.parameterChanged (config::Gate::hold.id, holdMs);
    fixture.prepare();

    const auto detector = concat ({ constant (300, 1.0f), constant (4000, 0.0f) });
    const auto result = fixture.run (detector, constant ((int) detector.size(), 0.0f));

    const auto lastTrigger = lastIndexOf (result.trigger, 1.0f);
    REQUIRE (lastTrigger > 0);

    int held = 0;
    while (result.gain[(size_t) (lastTrigger + 1 + held)] > 0.5f)
        ++held;

    INFO ("fs " << fs << " hold " << holdMs);
    CHECK (held == (int) std::floor (holdMs * fs / 1000.0 + 1.0e-9));
    // The gate is shut right after the hold, not merely fading.
    CHECK (result.gain[(size_t) (lastTrigger + held + 2)] < 1.0e-3f);
}

TEST_CASE ("A fresh gate is closed before anything triggers it", "[gate][hold]")
{
    GateFixture fixture;
    fixture.gate.parameterChanged (config::Gate::floor.id, -200.0f);
    fixture.prepare();

    const auto result = fixture.run (constant (2000, 0.0f), constant (2000, 0.0f));
    CHECK (*std::max_element (result.gain.begin(), result.gain.end()) == 0.0f);
}

//==============================================================================
namespace
{
/** Opens the gate fully for a while, then lets it release; returns the gain curve from the
    last open sample on. */
std::vector<float> releaseCurve (GateFixture& fixture, int releaseSamples)
{
    const auto detector = concat ({ constant (3000, 1.0f), constant (releaseSamples, 0.0f) });
    const auto result = fixture.run (detector, constant ((int) detector.size(), 0.0f));
    const auto lastTrigger = lastIndexOf (result.trigger, 1.0f);
    REQUIRE (lastTrigger > 0);
    return { result.gain.begin() + lastTrigger, result.gain.end() };
}

/** Expected release: c A + (1 - c) B, both one-pole decays from 1. */
void checkRelease (const std::vector<float>& gain, double curve, double releaseMs, double fs, int numSamples)
{
    const auto c = 1.0 - curve / 100.0;
    const auto coefficientA = followerCoefficient (releaseMs * 1.58 / (1.0 + 9.0 * c), fs);
    const auto coefficientB = followerCoefficient (releaseMs * 1.58, fs);

    REQUIRE ((int) gain.size() > numSamples);
    for (int k = 0; k < numSamples; ++k)
    {
        const auto expected = c * std::pow (coefficientA, k) + (1.0 - c) * std::pow (coefficientB, k);
        INFO ("sample " << k << " curve " << curve << " release " << releaseMs);
        // The follower's float coefficient drifts from the exact decay by about 3e-8 per sample.
        REQUIRE (gain[(size_t) k] == Approx (expected).epsilon (5.0e-4).margin (2.0e-6));
    }
}
} // namespace

TEST_CASE ("Curve blends a ten times faster release into the full release", "[gate][release]")
{
    // 0 %: follower A alone (release / 10); 100 %: follower B alone; 50 %: half of each.
    const auto curve = GENERATE (0.0f, 50.0f, 100.0f);
    constexpr float releaseMs = 40.0f;

    GateFixture fixture;
    fixture.fastGate();
    fixture.gate.parameterChanged (config::Gate::release.id, releaseMs);
    fixture.set (config::Macro::curve.id, curve);
    fixture.prepare();

    const auto gain = releaseCurve (fixture, 6000);
    checkRelease (gain, curve, releaseMs, fixture.sampleRate, 5000);
}

TEST_CASE ("Synced release lasts the division at the host tempo", "[gate][release][sync]")
{
    struct Case
    {
        const char* division;
        float beats, tempo;
    };
    // A division in beats (quarter notes) lasts beats x 60000 / tempo ms.
    const Case cases[] { { "1/4", 1.0f, 120.0f }, { "1 bar", 4.0f, 240.0f }, { "1/8", 0.5f, 60.0f }, { "1/16 t", 1.0f / 6.0f, 100.0f } };

    for (const auto& c : cases)
    {
        GateFixture fixture;
        fixture.fastGate();
        fixture.set (config::Macro::curve.id, 100.0f);
        fixture.set (config::Gate::syncSwitch.id, 1.0f);
        fixture.set (config::Gate::releaseSync.id, (float) config::Gate::SyncDivisionsNames.indexOf (c.division));
        fixture.gate.setTempo (c.tempo);
        fixture.prepare();

        const auto releaseMs = c.beats * 60000.0 / c.tempo;
        INFO (c.division << " at " << c.tempo << " bpm = " << releaseMs << " ms");
        const auto gain = releaseCurve (fixture, 8000);
        checkRelease (gain, 100.0, releaseMs, fixture.sampleRate, 7000);
    }

    SECTION ("a quarter note at 120 bpm releases like a plain 500 ms release")
    {
        GateFixture synced, plain;
        for (auto* f : { &synced, &plain })
        {
            f->fastGate();
            f->set (config::Macro::curve.id, 100.0f);
        }
        synced.set (config::Gate::syncSwitch.id, 1.0f);
        synced.set (config::Gate::releaseSync.id, (float) config::Gate::SyncDivisionsNames.indexOf ("1/4"));
        plain.gate.parameterChanged (config::Gate::release.id, 500.0f);
        synced.prepare();
        plain.prepare();

        CHECK (releaseCurve (synced, 5000) == releaseCurve (plain, 5000));
    }
}

TEST_CASE ("A host tempo of 0, negative or not finite keeps the last valid tempo", "[gate][release][sync]")
{
    const auto invalid = GENERATE (0.0f, -120.0f, std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity());

    GateFixture fixture;
    CHECK (fixture.gate.getTempo() == 120.0f);
    fixture.gate.setTempo (invalid);
    CHECK (fixture.gate.getTempo() == 120.0f);

    fixture.gate.setTempo (90.0f);
    fixture.gate.setTempo (invalid);
    CHECK (fixture.gate.getTempo() == 90.0f);

    // The synced release still ends: a sixteenth at 90 bpm is 166.7 ms.
    fixture.fastGate();
    fixture.set (config::Macro::curve.id, 100.0f);
    fixture.set (config::Gate::syncSwitch.id, 1.0f);
    fixture.set (config::Gate::releaseSync.id, (float) config::Gate::SyncDivisionsNames.indexOf ("1/16"));
    fixture.prepare();

    const auto gain = releaseCurve (fixture, 44100);
    checkRelease (gain, 100.0, 60000.0 / 90.0 / 4.0, fixture.sampleRate, 2000);
    CHECK (gain.back() < 1.0e-4f);
}

//==============================================================================
TEST_CASE ("Floor sets the level of the closed gate", "[gate][floor]")
{
    struct Case
    {
        float floorDb;
        double closedGain;
    };
    const Case cases[] { { -200.0f, 0.0 }, { -300.0f, 0.0 }, { -40.0f, dbToGain (-40.0) }, { -6.0f, dbToGain (-6.0) }, { 0.0f, 1.0 } };

    for (const auto& c : cases)
    {
        GateFixture fixture;
        fixture.fastGate();
        fixture.gate.parameterChanged (config::Gate::floor.id, c.floorDb);
        fixture.prepare();

        // Closed, open, closed again; the main signal is noise.
        const auto detector = concat ({ constant (3000, 0.0f), constant (3000, 1.0f), constant (3000, 0.0f) });
        juce::Random random (3);
        std::vector<float> main (detector.size());
        for (auto& x : main)
            x = random.nextFloat() * 2.0f - 1.0f;

        const auto result = fixture.run (detector, main);
        INFO ("floor " << c.floorDb);

        for (int i = 0; i < 2900; ++i)
            REQUIRE (result.gain[(size_t) i] == Approx (c.closedGain).margin (1.0e-7));
        for (int i = 3500; i < 6000; ++i)
            REQUIRE (result.gain[(size_t) i] == Approx (1.0).margin (1.0e-6));

        if (c.floorDb == 0.0f)
        {
            // No effect at all: the output is the input, delayed by the fixed latency.
            for (size_t i = 441; i < main.size(); ++i)
                REQUIRE (result.output[i] == main[i - 441]);
        }
        else if (c.closedGain == 0.0)
        {
            // The closed gate is silent: nothing of the first 2900 samples comes out.
            for (size_t i = 441; i < 441 + 2900; ++i)
                REQUIRE (result.output[i] == 0.0f);
        }
    }
}

TEST_CASE ("Flip inverts the gate: open passes the floor, closed passes full level", "[gate][flip]")
{
    struct Case
    {
        bool flip;
        double openGain, closedGain;
    };
    const auto floorGain = dbToGain (-20.0);
    const Case cases[] { { false, 1.0, floorGain }, { true, floorGain, 1.0 } };

    for (const auto& c : cases)
    {
        GateFixture fixture;
        fixture.fastGate();
        fixture.set (config::Gate::floor.id, -20.0f);
        fixture.set (config::Gate::flip.id, c.flip ? 1.0f : 0.0f);
        fixture.prepare();

        const auto detector = concat ({ constant (2000, 1.0f), constant (2000, 0.0f) });
        const auto result = fixture.run (detector, constant (4000, 0.5f));
        INFO ("flip " << c.flip);

        for (int i = 200; i < 2000; ++i)
            REQUIRE (result.gain[(size_t) i] == Approx (c.openGain).margin (1.0e-6));
        for (int i = 2200; i < 4000; ++i)
            REQUIRE (result.gain[(size_t) i] == Approx (c.closedGain).margin (1.0e-6));
        CHECK (result.output[3999] == Approx (0.5 * c.closedGain).margin (1.0e-6));
    }

    SECTION ("with a silent floor the flipped gate is exactly 1 - envelope")
    {
        GateFixture fixture;
        fixture.fastGate();
        fixture.set (config::Gate::flip.id, 1.0f);
        fixture.prepare();

        const auto result = fixture.run (concat ({ constant (2000, 1.0f), constant (2000, 0.0f) }), constant (4000, 0.5f));
        CHECK (result.gain[1000] == Approx (0.0).margin (1.0e-6));
        CHECK (result.gain[3000] == Approx (1.0).margin (1.0e-6));
    }
}

TEST_CASE ("Output gain scales the gated signal and mutes at -100 dB", "[gate][gain]")
{
    struct Case
    {
        float db;
        double gain;
    };
    const Case cases[] { { -6.0f, dbToGain (-6.0) }, { -48.0f, dbToGain (-48.0) }, { 0.0f, 1.0 } };

    for (const auto& c : cases)
    {
        GateFixture fixture;
        fixture.set (config::Gate::floor.id, 0.0f);
        fixture.set (config::Transients::outputGain.id, c.db);
        fixture.prepare();

        const auto result = fixture.run (constant (2000, 0.0f), constant (2000, 0.8f));
        CHECK (result.output[1999] == Approx (0.8 * c.gain).epsilon (1.0e-6));
    }

    GateFixture muted;
    muted.gate.parameterChanged (config::Transients::outputGain.id, -100.0f);
    muted.gate.parameterChanged (config::Gate::floor.id, 0.0f);
    muted.prepare();
    CHECK (muted.run (constant (2000, 0.0f), constant (2000, 0.8f)).output[1999] == 0.0f);
}

//==============================================================================
namespace
{
/** Where a unit impulse at the given input position comes out, or -1. */
int impulseDelay (GateFixture& fixture, int position, int length)
{
    auto main = constant (length, 0.0f);
    main[(size_t) position] = 1.0f;
    const auto result = fixture.run (constant (length, 0.0f), main);
    // Whatever earlier runs left in the delay lines comes out before the impulse's position.
    const auto out = firstIndexAbove (result.output, 0.5f, position);
    return out < 0 ? -1 : out - position;
}
} // namespace

TEST_CASE ("The gate path always delays by the 10 ms latency", "[gate][lookahead]")
{
    const auto fs = GENERATE (44100.0, 48000.0, 96000.0);
    const auto lookaheadMs = GENERATE (0.0f, 2.5f, 10.0f);

    GateFixture fixture (fs, 128);
    fixture.set (config::Gate::floor.id, 0.0f);
    fixture.set (config::Gate::lookAhead.id, lookaheadMs);
    fixture.prepare();

    const auto latency = (int) (fs * 0.010000000707805157);
    INFO ("fs " << fs << " lookahead " << lookaheadMs);
    CHECK (fixture.gate.getLatencySamples() == latency);
    CHECK (fixture.gate.getLookaheadSamples() == (int) std::floor (lookaheadMs * fs / 1000.0 + 1.0e-9));
    CHECK (impulseDelay (fixture, 300, 2000) == latency);
    CHECK (latency == juce::roundToInt (fs / 100.0));
}

TEST_CASE ("Changing the lookahead during playback inserts silence and keeps the total delay", "[gate][lookahead]")
{
    struct Case
    {
        float fromMs, toMs;
    };
    const Case cases[] { { 0.0f, 10.0f }, { 10.0f, 0.0f }, { 0.0f, 5.0f }, { 7.0f, 2.0f } };
    constexpr double fs = 44100.0;

    for (const auto& c : cases)
    {
        GateFixture fixture (fs, 64);
        fixture.set (config::Gate::floor.id, 0.0f);
        fixture.set (config::Gate::lookAhead.id, c.fromMs);
        fixture.prepare();

        // A steady non-zero signal: after the first 441 samples, every zero was inserted.
        constexpr int switchAt = 64 * 20;
        const auto result = fixture.run (constant (4000, 0.0f), constant (4000, 1.0f), switchAt,
                                         [&] { fixture.set (config::Gate::lookAhead.id, c.toMs); });

        const auto samples = [] (float ms) { return (int) std::floor (ms * fs / 1000.0 + 1.0e-9); };
        const auto inserted = std::abs (samples (c.toMs) - samples (c.fromMs));
        const auto zeros = std::count (result.output.begin() + 441, result.output.end(), 0.0f);

        INFO (c.fromMs << " ms -> " << c.toMs << " ms");
        CHECK (zeros == inserted);
        CHECK (std::count (result.output.begin() + 441, result.output.begin() + switchAt, 0.0f) == 0);
        CHECK (fixture.gate.getAppliedLookahead() == c.toMs);
        CHECK (fixture.gate.getLookaheadSamples() == samples (c.toMs));
        CHECK (impulseDelay (fixture, 500, 2000) == 441);
    }

    SECTION ("the two delays add up to the latency after any sequence of changes")
    {
        GateFixture fixture (fs, 64);
        fixture.set (config::Gate::floor.id, 0.0f);
        fixture.prepare();
        juce::Random random (11);

        for (int block = 0; block < 200; ++block)
        {
            fixture.gate.parameterChanged (config::Gate::lookAhead.id, random.nextFloat() * 12.0f - 1.0f);
            fixture.run (constant (64, 0.0f), constant (64, 0.1f));
            INFO ("block " << block << ", lookahead " << fixture.gate.getLookaheadSamples() << " samples");
            REQUIRE (impulseDelay (fixture, 100, 1000) == 441);
        }

        // A value outside the range is limited to 0 to 10 ms.
        fixture.gate.parameterChanged (config::Gate::lookAhead.id, 25.0f);
        fixture.run (constant (64, 0.0f), constant (64, 0.1f));
        CHECK (fixture.gate.getLookaheadSamples() == 441);
        CHECK (impulseDelay (fixture, 100, 1000) == 441);
    }
}

TEST_CASE ("Lookahead lets the gain act before the audio it was measured on", "[gate][lookahead]")
{
    GateFixture fixture (44100.0, 64);
    fixture.fastGate();
    fixture.set (config::Gate::lookAhead.id, 10.0f);
    fixture.prepare();

    // A step of 1.0 at sample 1000 keys the gate; with 10 ms lookahead the step itself passes
    // at full level instead of losing its start to the attack and the averaging.
    const auto signal = concat ({ constant (1000, 0.0f), constant (1000, 1.0f) });
    const auto result = fixture.run (signal, signal);
    CHECK (result.output[1000 + 441] == Approx (1.0f).margin (1.0e-4));

    GateFixture late (44100.0, 64);
    late.fastGate();
    late.prepare();
    CHECK (late.run (signal, signal).output[1000 + 441] == 0.0f);
}

//==============================================================================
TEST_CASE ("Output clip: off, auto limiter and hard clip", "[gate][clip]")
{
    GateFixture fixture (48000.0, 128);
    fixture.prepare();

    const auto runClip = [&] (const std::vector<float>& input)
    {
        juce::AudioBuffer<float> buffer (2, (int) input.size());
        for (int c = 0; c < 2; ++c)
            buffer.copyFrom (c, 0, input.data(), (int) input.size());

        juce::dsp::AudioBlock<float> block (buffer);
        for (size_t start = 0; start < input.size(); start += 128)
            fixture.gate.clip (block.getSubBlock (start, std::min<size_t> (128, input.size() - start)));

        for (int i = 0; i < buffer.getNumSamples(); ++i)
            REQUIRE (buffer.getSample (1, i) == buffer.getSample (0, i));
        return std::vector<float> (buffer.getReadPointer (0), buffer.getReadPointer (0) + buffer.getNumSamples());
    };

    std::vector<float> sine (4800);
    for (size_t i = 0; i < sine.size(); ++i)
        sine[i] = 1.5f * (float) std::sin (2.0 * pi * 220.0 * (double) i / 48000.0);

    SECTION ("\"auto\" brings a +6 dBFS square exactly to 0 dBFS")
    {
        fixture.set (config::Transients::outputClipType.id, 1.0f);
        const auto amplitude = (float) dbToGain (6.0);
        std::vector<float> square (4800);
        for (size_t i = 0; i < square.size(); ++i)
            square[i] = (i / 50) % 2 == 0 ? amplitude : -amplitude;

        for (auto y : runClip (square))
            REQUIRE (std::abs (y) == Approx (1.0f).margin (1.0e-6));
    }

    SECTION ("\"auto\" recovers with a 4 ms release and leaves quiet audio alone")
    {
        fixture.set (config::Transients::outputClipType.id, 1.0f);
        const auto input = concat ({ constant (10, 2.0f), constant (2000, 0.5f) });
        const auto output = runClip (input);

        const auto overshootDb = 20.0 * std::log10 (2.0);
        const auto release = followerCoefficient (4.0, 48000.0);
        for (int k = 0; k < 2000; ++k)
        {
            const auto gain = std::pow (10.0, -overshootDb * std::pow (release, k + 1) / 20.0);
            REQUIRE (output[(size_t) (10 + k)] == Approx (0.5 * gain).epsilon (1.0e-4));
        }

        const auto quiet = constant (500, 0.99f);
        CHECK (runClip (quiet) == quiet);
    }

    SECTION ("\"clip\" clamps to [-1, 1]")
    {
        fixture.set (config::Transients::outputClipType.id, 2.0f);
        const auto output = runClip (sine);
        for (size_t i = 0; i < sine.size(); ++i)
            REQUIRE (output[i] == juce::jlimit (-1.0f, 1.0f, sine[i]));
    }

    SECTION ("\"off\" leaves the signal alone")
    {
        fixture.set (config::Transients::outputClipType.id, 0.0f);
        CHECK (runClip (sine) == sine);
    }
}

//==============================================================================
TEST_CASE ("Spike and Dynamics multiply the signal by their shapers' gain curves", "[gate][shaper]")
{
    constexpr double fs = 48000.0;
    constexpr int block = 128;

    // A burst after silence: onsets raise the gain.
    std::vector<float> burst (9600, 0.0f);
    juce::Random random (5);
    for (size_t i = 2400; i < burst.size(); ++i)
        burst[i] = (random.nextFloat() * 2.0f - 1.0f) * 0.5f;

    const auto maxGainOf = [&] (GateFixture& fixture, bool detector)
    {
        fixture.prepare();
        juce::AudioBuffer<float> buffer (2, (int) burst.size());
        for (int c = 0; c < 2; ++c)
            buffer.copyFrom (c, 0, burst.data(), (int) burst.size());

        juce::dsp::AudioBlock<float> all (buffer);
        for (size_t start = 0; start < burst.size(); start += block)
        {
            auto part = all.getSubBlock (start, block);
            if (detector)
                fixture.gate.shapeDetector (part);
            else
                fixture.gate.shapeMain (part);
        }

        double maxGain = 0.0;
        bool unchanged = true;
        for (size_t i = 0; i < burst.size(); ++i)
        {
            unchanged = unchanged && buffer.getSample (0, (int) i) == burst[i];
            if (std::abs (burst[i]) > 1.0e-3f)
                maxGain = std::max (maxGain, (double) buffer.getSample (0, (int) i) / burst[i]);
        }
        return unchanged ? 1.0 : maxGain;
    };

    SECTION ("at zero amounts both stages pass the signal untouched")
    {
        GateFixture fixture (fs, block);
        CHECK (maxGainOf (fixture, true) == 1.0);
        CHECK (maxGainOf (fixture, false) == 1.0);
    }

    SECTION ("spike 100 % boosts onsets by up to 24 dB")
    {
        GateFixture fixture (fs, block);
        fixture.set (config::Gate::spike.id, 100.0f);
        CHECK (fixture.gate.getSettings().spikeGainDb == Approx (24.0f));
        const auto gain = maxGainOf (fixture, true);
        CHECK (gain > 2.0);
        CHECK (gain <= dbToGain (24.0) * 1.0001);
    }

    SECTION ("fat 100 % boosts onsets; the Dynamics switch turns it off")
    {
        GateFixture on (fs, block), off (fs, block);
        for (auto* f : { &on, &off })
            f->set (config::Transients::fat.id, 100.0f);
        off.set (config::Macro::transientSwitch.id, 0.0f);

        const auto gain = maxGainOf (on, false);
        CHECK (gain > 2.0);
        CHECK (gain <= dbToGain (24.0) * 1.0001);
        CHECK (maxGainOf (off, false) == 1.0);
    }
}

TEST_CASE ("Listen and equaliser solo make the detector replace the main signal", "[gate][listen]")
{
    GateFixture fixture;
    CHECK_FALSE (fixture.gate.isListening());

    fixture.set (config::Gate::sidechainListen.id, 1.0f);
    CHECK (fixture.gate.getListen() == 1.0f);
    CHECK (fixture.gate.isListening());

    fixture.set (config::Gate::sidechainListen.id, 0.0f);
    CHECK_FALSE (fixture.gate.isListening());

    ombrel::node_graph::gui::NodeGraphParameters editor (fixture.processor.mParameters);
    editor.getSoloValue() = true;
    CHECK (fixture.gate.isListening());
}

//==============================================================================
namespace
{
double skewed (double start, double end, double skew, double proportion)
{
    return start + (end - start) * std::exp (std::log (proportion) / skew);
}
} // namespace

TEST_CASE ("A gate connected to the tree holds every parameter's value at once", "[gate][parameters]")
{
    using namespace config;

    SECTION ("defaults")
    {
        GateFixture fixture;
        const auto s = fixture.gate.getSettings();

        CHECK (s.attackMs == Gate::attack.defaultValue);
        CHECK (s.holdMs == Gate::hold.defaultValue);
        CHECK (s.releaseMs == Gate::release.defaultValue);
        CHECK (s.releaseSyncIndex == Gate::releaseSync.defaultValue);
        CHECK (s.syncOn == Gate::syncSwitch.defaultValue);
        CHECK (s.thresholdDb == Gate::threshold.defaultValue);
        CHECK (s.returnDb == Gate::thresholdReturn.defaultValue);
        CHECK (s.floorDb == Gate::floor.defaultValue);
        CHECK (s.listen == 0.0f);
        CHECK (s.lookaheadMs == Gate::lookAhead.defaultValue);
        CHECK (s.flip == 0.0f);
        CHECK (s.curve == Approx (1.0 - Macro::curve.defaultValue / 100.0));
        CHECK (s.transientsAmount == Approx (Macro::transients.defaultValue / 100.0));
        CHECK (s.transientsOn == 1.0f);
        CHECK (s.fat == Approx (Transients::fat.defaultValue / 100.0));
        CHECK (s.punch == Approx (Transients::punch.defaultValue / 100.0));
        CHECK (s.spikeGainDb == Approx (Gate::spike.defaultValue * 0.24));
        CHECK (s.speedMs == Approx (20.0));
        CHECK (s.durationMs == Approx (100.0));
        CHECK (s.outputGain == Approx (dbToGain (Transients::outputGain.defaultValue)));
        CHECK (s.tempo == 120.0f);
    }

    SECTION ("values set before the gate existed")
    {
        ombrel::BrimvaleAudioProcessor processor;
        const auto set = [&] (const juce::String& id, float raw)
        {
            auto* p = processor.mParameters.getParameter (id);
            p->setValueNotifyingHost (p->convertTo0to1 (raw));
        };

        set (Gate::attack.id, 12.0f);
        set (Gate::hold.id, 250.0f);
        set (Gate::release.id, 800.0f);
        set (Gate::releaseSync.id, 7.0f);
        set (Gate::syncSwitch.id, 1.0f);
        set (Gate::threshold.id, -33.0f);
        set (Gate::thresholdReturn.id, 9.0f);
        set (Gate::floor.id, -61.0f);
        set (Gate::sidechainListen.id, 1.0f);
        set (Gate::spike.id, 50.0f);
        set (Gate::flip.id, 1.0f);
        set (Gate::lookAhead.id, 4.0f);
        set (Macro::curve.id, 30.0f);
        set (Macro::transients.id, 50.0f);
        set (Macro::transientSwitch.id, 1.0f);
        set (Transients::fat.id, 40.0f);
        set (Transients::punch.id, 80.0f);
        set (Transients::speed.id, 50.0f);
        set (Transients::sustainDuration.id, 25.0f);
        set (Transients::outputGain.id, -12.0f);

        GateProcessor gate (processor.mParameters);
        gate.connectToParameters();
        const auto s = gate.getSettings();

        CHECK (s.attackMs == Approx (12.0));
        CHECK (s.holdMs == Approx (250.0));
        CHECK (s.releaseMs == Approx (800.0).epsilon (1.0e-4));
        CHECK (s.releaseSyncIndex == 7.0f);
        CHECK (s.syncOn);
        CHECK (s.thresholdDb == Approx (-33.0));
        CHECK (s.returnDb == Approx (9.0));
        CHECK (s.floorDb == Approx (-61.0));
        CHECK (s.listen == 1.0f);
        CHECK (s.spikeGainDb == Approx (12.0));
        CHECK (s.flip == 1.0f);
        CHECK (s.lookaheadMs == Approx (4.0));
        CHECK (s.curve == Approx (0.7));
        CHECK (s.transientsAmount == Approx (0.5));
        CHECK (s.transientsOn == 1.0f);
        CHECK (s.fat == Approx (0.4));
        CHECK (s.punch == Approx (0.8));
        // 24 dB x amount x on x control.
        CHECK (s.fatGainDb == Approx (24.0 * 0.5 * 0.4));
        CHECK (s.punchGainDb == Approx (24.0 * 0.5 * 0.8));
        CHECK (s.speedMs == Approx (skewed (20.0, 400.0, 0.7, 0.5)));
        CHECK (s.durationMs == Approx (skewed (100.0, 5000.0, 0.3, 0.25)));
        CHECK (s.outputGain == Approx (dbToGain (-12.0)));

        SECTION ("and follows later changes, the Dynamics switch included")
        {
            set (Macro::transientSwitch.id, 0.0f);
            CHECK (gate.getSettings().fatGainDb == 0.0f);
            CHECK (gate.getSettings().punchGainDb == 0.0f);
            set (Gate::threshold.id, -50.0f);
            CHECK (gate.getSettings().thresholdDb == Approx (-50.0));
        }
    }

    SECTION ("registration follows the documented order, with one immediate call each")
    {
        struct RecordingGate : GateProcessor
        {
            using GateProcessor::GateProcessor;
            void parameterChanged (const juce::String& id, float value) override
            {
                calls.add (id);
                GateProcessor::parameterChanged (id, value);
            }
            juce::StringArray calls;
        };

        ombrel::BrimvaleAudioProcessor processor;
        RecordingGate gate (processor.mParameters);
        gate.connectToParameters();

        const juce::StringArray expected { Gate::attack.id, Gate::hold.id, Gate::release.id, Gate::releaseSync.id,
                                           Gate::syncSwitch.id, Gate::threshold.id, Gate::thresholdReturn.id, Gate::floor.id,
                                           Gate::sidechainListen.id, Gate::spike.id, Gate::flip.id, Gate::lookAhead.id,
                                           Macro::curve.id, Macro::transients.id, Macro::transientSwitch.id, Transients::fat.id,
                                           Transients::punch.id, Transients::speed.id, Transients::sustainDuration.id,
                                           Transients::outputGain.id };
        CHECK (gate.calls == expected);
    }
}

TEST_CASE ("Parameter IDs compare ignoring case; non-finite values are ignored", "[gate][parameters]")
{
    GateFixture fixture;
    fixture.gate.parameterChanged ("THRESHOLD", -40.0f);
    fixture.gate.parameterChanged ("LookAhead", 3.0f);
    fixture.gate.parameterChanged ("transientsON", 0.0f);
    fixture.gate.parameterChanged ("release", std::numeric_limits<float>::quiet_NaN());
    fixture.gate.parameterChanged ("unknownParameter", 1.0f);

    const auto s = fixture.gate.getSettings();
    CHECK (s.thresholdDb == -40.0f);
    CHECK (s.lookaheadMs == 3.0f);
    CHECK (s.transientsOn == 0.0f);
    CHECK (s.releaseMs == config::Gate::release.defaultValue);
}

TEST_CASE ("A destroyed gate receives no further parameter callbacks", "[gate][parameters]")
{
    ombrel::BrimvaleAudioProcessor processor;
    {
        GateProcessor gate (processor.mParameters);
        gate.connectToParameters();
    }
    // Would call into freed memory (caught by sanitizers) if the gate were still registered.
    auto* threshold = processor.mParameters.getParameter (config::Gate::threshold.id);
    threshold->setValueNotifyingHost (0.1f);
    CHECK (threshold->getValue() == Approx (0.1f));
}

//==============================================================================
TEST_CASE ("The block stages allocate nothing", "[gate][realtime]")
{
    GateFixture fixture (48000.0, 128);
    fixture.set (config::Gate::spike.id, 60.0f);
    fixture.set (config::Transients::fat.id, 50.0f);
    fixture.set (config::Transients::punch.id, 50.0f);
    fixture.set (config::Transients::outputClipType.id, 1.0f);
    fixture.set (config::Gate::syncSwitch.id, 1.0f);
    fixture.prepare();

    juce::AudioBuffer<float> detector (2, 128), main (2, 128);
    juce::Random random (1);

    // One warm-up block, then measure.
    for (int round = 0; round < 2; ++round)
    {
        test_support::AllocationCounter counter;

        for (int block = 0; block < 100; ++block)
        {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < 128; ++i)
                {
                    const auto x = (random.nextFloat() * 2.0f - 1.0f) * (block % 10 < 3 ? 1.5f : 0.01f);
                    detector.setSample (c, i, x);
                    main.setSample (c, i, x);
                }

            // Settings change from the audio thread's point of view: lookahead, floor, curve.
            fixture.gate.parameterChanged (config::Gate::lookAhead.id, (float) (block % 11));
            fixture.gate.parameterChanged (config::Gate::floor.id, block % 2 == 0 ? -80.0f : -10.0f);
            fixture.gate.parameterChanged (config::Macro::curve.id, (float) (block % 100));
            fixture.gate.setTempo (block % 7 == 0 ? 0.0f : 95.0f);

            const auto n = (size_t) (block % 4 == 0 ? 57 : 128);
            auto detectorBlock = juce::dsp::AudioBlock<float> (detector).getSubBlock (0, n);
            auto mainBlock = juce::dsp::AudioBlock<float> (main).getSubBlock (0, n);

            fixture.gate.updateLookahead();
            fixture.gate.equaliseDetector (detectorBlock);
            fixture.gate.shapeDetector (detectorBlock);
            fixture.gate.averageLevel (detectorBlock);
            if (! fixture.gate.isListening())
                fixture.gate.processGate (mainBlock);
            fixture.gate.shapeMain (mainBlock);
            fixture.gate.clip (mainBlock);
        }

        if (round == 1)
        {
            CHECK (counter.allocations() == 0);
            CHECK (counter.frees() == 0);
        }
    }

    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 128; ++i)
            REQUIRE (std::isfinite (main.getSample (c, i)));
}

TEST_CASE ("Parameters and tempo may change on other threads while blocks are processed", "[gate][concurrency]")
{
    // Meaningful under the thread sanitizer build; elsewhere it checks that nothing breaks.
    GateFixture fixture (48000.0, 64);
    fixture.prepare();

    const auto& ids = GateProcessor::getListenedParameterIds();
    std::atomic<bool> done { false };
    std::thread writer ([&]
    {
        juce::Random random (17);
        for (int i = 0; ! done.load(); ++i)
        {
            const auto& id = ids[i % ids.size()];
            const auto* parameter = fixture.processor.mParameters.getParameter (id);
            fixture.gate.parameterChanged (id, parameter->convertFrom0to1 (random.nextFloat()));
            fixture.gate.setTempo (60.0f + (float) (i % 120));
        }
    });

    juce::AudioBuffer<float> detector (2, 64), main (2, 64);
    bool allFinite = true;
    for (int block = 0; block < 3000; ++block)
    {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 64; ++i)
            {
                const auto x = (float) std::sin (0.03 * (block * 64 + i)) * (float) ((block / 15) % 2);
                detector.setSample (c, i, x);
                main.setSample (c, i, x);
            }

        fixture.gate.updateLookahead();
        fixture.gate.equaliseDetector (juce::dsp::AudioBlock<float> (detector));
        fixture.gate.shapeDetector (juce::dsp::AudioBlock<float> (detector));
        fixture.gate.averageLevel (juce::dsp::AudioBlock<float> (detector));
        if (! fixture.gate.isListening())
            fixture.gate.processGate (juce::dsp::AudioBlock<float> (main));
        fixture.gate.shapeMain (juce::dsp::AudioBlock<float> (main));
        fixture.gate.clip (juce::dsp::AudioBlock<float> (main));

        for (int i = 0; i < 64; ++i)
            allFinite = allFinite && std::isfinite (main.getSample (0, i)) && std::isfinite (main.getSample (1, i));
    }

    done = true;
    writer.join();
    CHECK (allFinite);
}
