#include "core/PluginProcessor.h"
#include "dsp/Debleeder.h"
#include "support/TestSupport.h"

#include <catch2/catch.hpp>

#include <atomic>
#include <cmath>
#include <complex>
#include <thread>
#include <vector>

namespace
{
using Complex = std::complex<double>;
using ombrel::dsp::DebleederProcessor;

constexpr double pi = juce::MathConstants<double>::pi;
constexpr int hostBlock = 128;

//==============================================================================
// Reference model, written from the filter and mapping formulas rather than from the code.

enum class Shape { lowpass, highpass };

/** One 12 dB/oct state-variable stage with resonance 1/sqrt(2): the bilinear transform of the
    analogue Butterworth section with its cutoff prewarped. */
Complex stage (Shape shape, double cutoff, double frequency, double sampleRate)
{
    const auto s = Complex (0.0, std::tan (pi * frequency / sampleRate) / std::tan (pi * cutoff / sampleRate));
    const auto denominator = s * s + std::sqrt (2.0) * s + 1.0;
    return shape == Shape::lowpass ? 1.0 / denominator : s * s / denominator;
}

Complex cascade (Shape shape, double cutoff, double frequency, double sampleRate, int stages)
{
    return std::pow (stage (shape, cutoff, frequency, sampleRate), stages);
}

// Percent to Hz: the low-pass side spans 20 kHz (0 %) down to 300 Hz (100 %) on an octave
// scale; the high-pass side spans 20 Hz (0 %) up to 20 kHz (100 %).
double lowpassFrequency (double percent) { return 300.0 * std::pow (20000.0 / 300.0, 1.0 - percent / 100.0); }
double highpassFrequency (double percent) { return 20.0 * std::pow (1000.0, percent / 100.0); }
double lowpassSubtractionCutoff (double percent) { return lowpassFrequency (std::min (percent + 10.0, 100.0)); }

int stagesFor (int amount) { return amount == 0 ? 1 : amount == 1 ? 2 : 4; }

struct Settings
{
    float lpFreq = 0, lpAmount = 1, lpRelease = 100;
    float hpFreq = 0, hpAmount = 1, hpRelease = 100;
};

/** Response of the whole stage with the subtraction controls cL, cH (1 = fully subtracting)
    and the sweep positions aL, aH (1 = open). */
Complex stageResponse (const Settings& s, double f, double fs, double cL, double cH, double aL, double aH)
{
    const auto lpHz = lowpassFrequency (s.lpFreq);
    const auto hpHz = highpassFrequency (s.hpFreq);

    auto h = (1.0 - cL * stage (Shape::highpass, lowpassSubtractionCutoff (s.lpFreq), f, fs))
           * (1.0 - cH * stage (Shape::lowpass, hpHz, f, fs));

    if (lpHz < 19999.0)
        h *= cascade (Shape::lowpass, lpHz * std::pow (20000.002 / lpHz, aL), f, fs, stagesFor ((int) s.lpAmount));
    if (hpHz > 20.001)
        h *= cascade (Shape::highpass, 19.999 * std::pow (hpHz / 19.999, 1.0 - aH), f, fs, stagesFor ((int) s.hpAmount));

    return h;
}

/** The control law of the followers: a one-pole step towards the input, capped per sample at
    1.44 / (fs T) for the time T of the direction it moves in. */
std::vector<double> followerCurve (const std::vector<float>& input, double fs, double attackMs, double releaseMs)
{
    const auto coefficient = [fs] (double ms) { return 1.0 - std::exp (-2.0 * pi / (fs * ms * 0.001)); };
    const auto limit = [fs] (double ms) { return 1.44 / (fs * ms * 0.001); };

    std::vector<double> out (input.size());
    double state = 0.0;
    for (size_t i = 0; i < input.size(); ++i)
    {
        const auto rising = input[i] > state;
        auto step = (input[i] - state) * coefficient (rising ? attackMs : releaseMs);
        step = rising ? std::min (step, limit (attackMs)) : std::max (step, -limit (releaseMs));
        state += step;
        out[i] = state;
    }
    return out;
}

double toDb (double gain) { return 20.0 * std::log10 (std::max (gain, 1.0e-30)); }

//==============================================================================
/** The debleeder listening to a real parameter tree, as the processor wires it. */
struct Rig
{
    explicit Rig (double rate = 48000.0, int maximumBlock = hostBlock) : sampleRate (rate)
    {
        debleeder.prepare ({ sampleRate, (juce::uint32) maximumBlock, 2 });
    }

    void set (const juce::String& id, float rawValue)
    {
        auto* parameter = processor.mParameters.getParameter (id);
        REQUIRE (parameter != nullptr);
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (rawValue));
    }

    void apply (const Settings& s)
    {
        using namespace ombrel::config;
        set (Debleed::lpFreq.id, s.lpFreq);
        set (Debleed::lpAmount.id, s.lpAmount);
        set (Debleed::lpRelease.id, s.lpRelease);
        set (Debleed::hpFreq.id, s.hpFreq);
        set (Debleed::hpAmount.id, s.hpAmount);
        set (Debleed::hpRelease.id, s.hpRelease);
    }

    void setOn (bool on) { set (ombrel::config::Macro::debleed.id, on ? 1.0f : 0.0f); }

    /** Processes audio[start, start + length) in place in host-sized blocks. */
    void run (juce::AudioBuffer<float>& audio, const std::vector<float>& trigger, int start = 0, int length = -1, int block = hostBlock)
    {
        if (length < 0)
            length = audio.getNumSamples() - start;

        juce::dsp::AudioBlock<float> whole (audio);
        for (int offset = start; offset < start + length; offset += block)
        {
            const auto n = std::min (block, start + length - offset);
            debleeder.process (whole.getSubBlock ((size_t) offset, (size_t) n), trigger.data() + offset);
        }
    }

    double sampleRate;
    ombrel::BrimvaleAudioProcessor processor;
    DebleederProcessor debleeder { processor.mParameters };
};

/** A complex tone: cosine on the left, sine on the right. Both channels pass through identical
    filters, so left + j right of the output is the tone times the stage's response, and its
    magnitude is the tone's level without ripple, even while the filters move. */
juce::AudioBuffer<float> complexTone (double frequency, double fs, int numSamples)
{
    juce::AudioBuffer<float> audio (2, numSamples);
    for (int n = 0; n < numSamples; ++n)
    {
        const auto phase = 2.0 * pi * std::fmod (frequency * n / fs, 1.0);
        audio.setSample (0, n, (float) std::cos (phase));
        audio.setSample (1, n, (float) std::sin (phase));
    }
    return audio;
}

Complex outputAt (const juce::AudioBuffer<float>& audio, int n)
{
    return { audio.getSample (0, n), audio.getSample (1, n) };
}

/** Steady-state response at one frequency with the gate held open (1) or closed (0). */
Complex measureResponse (Rig& rig, double frequency, float gate)
{
    const auto settle = (int) (0.6 * rig.sampleRate);
    const auto measure = (int) (0.05 * rig.sampleRate);
    auto audio = complexTone (frequency, rig.sampleRate, settle + measure);
    rig.run (audio, std::vector<float> ((size_t) (settle + measure), gate));

    Complex sum;
    for (int n = settle; n < settle + measure; ++n)
        sum += outputAt (audio, n) * std::polar (1.0, -2.0 * pi * std::fmod (frequency * n / rig.sampleRate, 1.0));
    return sum / (double) measure;
}

/** Kick, snare and bleed every 250 ms, with the trigger a gate would derive (open 60 ms per hit). */
struct DrumLoop
{
    juce::AudioBuffer<float> audio;
    std::vector<float> trigger;
};

DrumLoop makeDrumLoop (double fs, int numSamples)
{
    DrumLoop loop { juce::AudioBuffer<float> (2, numSamples), std::vector<float> ((size_t) numSamples) };
    juce::Random random (1234);
    const auto period = (int) (0.25 * fs);
    double phase = 0.0;

    for (int n = 0; n < numSamples; ++n)
    {
        const auto position = n % period;
        const auto t = position / fs;
        phase = position == 0 ? 0.0 : phase + 2.0 * pi * (50.0 + 120.0 * std::exp (-t / 0.02)) / fs;
        const auto kick = std::exp (-t / 0.08) * std::sin (phase);
        const auto snare = (n / period) % 2 == 1 ? std::exp (-t / 0.03) * (random.nextFloat() * 2.0f - 1.0f) : 0.0;
        const auto bleed = 0.02 * (random.nextFloat() * 2.0f - 1.0f);

        loop.audio.setSample (0, n, (float) (0.7 * kick + 0.4 * snare + bleed));
        loop.audio.setSample (1, n, (float) (0.6 * kick + 0.5 * snare - bleed));
        loop.trigger[(size_t) n] = position < (int) (0.06 * fs) ? 1.0f : 0.0f;
    }
    return loop;
}

const std::vector<double> probeFrequencies { 20.0, 100.0, 300.0, 1000.0, 3000.0, 10000.0, 18000.0 };
} // namespace

//==============================================================================
TEST_CASE ("Debleeder with the gate held open passes the signal apart from the open sweeps' band edges", "[debleeder][open]")
{
    // Tolerance: within -80 dB (1e-4) of the open sweeps alone (low-pass at 20 kHz and high-pass
    // at 20 Hz); that residual stays within 0.05 dB of unity from 100 Hz to 10 kHz (to 3 kHz at 96 kHz).
    const auto [amount, fs] = GENERATE (table<int, double> ({ { 0, 48000.0 }, { 2, 48000.0 }, { 2, 44100.0 }, { 1, 96000.0 } }));
    const Settings settings { 50, (float) amount, 100, 50, (float) amount, 100 };

    for (auto f : probeFrequencies)
    {
        CAPTURE (amount, fs, f);
        Rig rig (fs);
        rig.apply (settings);

        const auto measured = measureResponse (rig, f, 1.0f);
        const auto expected = stageResponse (settings, f, fs, 0.0, 0.0, 1.0, 1.0);

        CHECK (std::abs (measured - expected) < 1.0e-4);
        // At 96 kHz the open low-pass is a real 20 kHz slope, which already shows above 3 kHz.
        if (f >= 100.0 && f <= (fs > 48000.0 ? 3000.0 : 10000.0))
            CHECK (std::abs (toDb (std::abs (measured))) < 0.05);
    }
}

TEST_CASE ("Debleeder with the gate held closed filters at the mapped frequencies", "[debleeder][mapping]")
{
    // Rows: lpFreq, lpAmount, hpFreq, hpAmount. 0 % on both sides leaves only the subtraction
    // (at 20 Hz and at the 10 % point of the low-pass range): no sweep runs.
    const auto [lpFreq, lpAmount, hpFreq, hpAmount] = GENERATE (table<float, float, float, float> ({
        { 0, 2, 0, 2 },     // 20 kHz and 20 Hz: no sweeps
        { 100, 1, 0, 0 },   // low-pass down to 300 Hz
        { 50, 2, 50, 0 },
        { 0, 0, 75, 1 },
    }));
    const Settings settings { lpFreq, lpAmount, 1, hpFreq, hpAmount, 1 };

    for (auto f : probeFrequencies)
    {
        CAPTURE (lpFreq, lpAmount, hpFreq, hpAmount, f);
        Rig rig;
        rig.apply (settings);

        const auto measured = measureResponse (rig, f, 0.0f);
        const auto expected = stageResponse (settings, f, rig.sampleRate, 1.0, 1.0, 0.0, 0.0);

        CHECK (std::abs (measured - expected) < 1.0e-4 + 1.0e-3 * std::abs (expected));
    }
}

TEST_CASE ("Debleeder cascades run 12 dB/oct per stage, four in heavy", "[debleeder][stages]")
{
    // Low-pass side at about 1 kHz with the gate closed; the slope between one and two octaves
    // above the cutoff, after removing the subtraction's share, counts the stages.
    const auto [amount, stages] = GENERATE (table<int, int> ({ { 0, 1 }, { 1, 2 }, { 2, 4 } }));
    const auto percent = (float) (100.0 * (1.0 - std::log (1000.0 / 300.0) / std::log (20000.0 / 300.0)));
    const Settings settings { percent, (float) amount, 1, 0, 0, 1 };
    const auto cutoff = lowpassFrequency (percent);
    REQUIRE (cutoff == Approx (1000.0).epsilon (0.01));

    double measuredDb[2] {}, subtractionDb[2] {};
    for (int octave = 1; octave <= 2; ++octave)
    {
        Rig rig;
        rig.apply (settings);
        const auto f = cutoff * (1 << octave);
        measuredDb[octave - 1] = toDb (std::abs (measureResponse (rig, f, 0.0f)));
        subtractionDb[octave - 1] = toDb (std::abs ((1.0 - stage (Shape::highpass, lowpassSubtractionCutoff (percent), f, rig.sampleRate))
                                                    * (1.0 - stage (Shape::lowpass, 20.0, f, rig.sampleRate))));
    }

    const auto sweepSlope = (measuredDb[0] - subtractionDb[0]) - (measuredDb[1] - subtractionDb[1]);
    CAPTURE (amount, sweepSlope);
    CHECK (sweepSlope == Approx (12.0 * stages).margin (0.5 * stages));
}

TEST_CASE ("Debleeder follows the gate: rate-limited release down, back open within about 0.2 ms", "[debleeder][sweep]")
{
    // A tone above the low-pass frequency (or below the high-pass frequency) shows where the
    // sweep is: its level must follow the response at the cutoff the control law predicts.
    struct Row
    {
        Settings settings;
        double toneHz;
        double closedSeconds;
        bool checkOpening;
    };
    // The high-pass side gets a slow release: near 20 Hz its filter reacts too slowly for a
    // fast sweep to be judged by the steady-state response.
    const auto row = GENERATE (Row { { 50, 1, 20, 0, 1, 100 }, 8000.0, 0.15, true },    // LP side, medium
                               Row { { 0, 1, 100, 50, 0, 200 }, 150.0, 0.6, false }); // HP side, soft

    Rig rig;
    rig.apply (row.settings);
    const auto fs = rig.sampleRate;

    const auto closeAt = (int) (0.2 * fs);
    const auto openAt = closeAt + (int) (row.closedSeconds * fs);
    const auto total = openAt + (int) (0.05 * fs);
    std::vector<float> trigger ((size_t) total, 0.0f);
    std::fill (trigger.begin(), trigger.begin() + closeAt, 1.0f);
    std::fill (trigger.begin() + openAt, trigger.end(), 1.0f);

    auto audio = complexTone (row.toneHz, fs, total);
    rig.run (audio, trigger);

    const auto& s = row.settings;
    const auto subtractionL = followerCurve (trigger, fs, 1.0, 1.58 * s.lpRelease);
    const auto subtractionH = followerCurve (trigger, fs, 1.0, 1.58 * s.hpRelease);
    const auto sweepL = followerCurve (trigger, fs, 0.2, 1.58 * s.lpRelease);
    const auto sweepH = followerCurve (trigger, fs, 0.2, 1.58 * s.hpRelease);
    const auto expectedDb = [&] (int n)
    {
        const auto i = (size_t) n;
        return toDb (std::abs (stageResponse (s, row.toneHz, fs, 1.0 - subtractionL[i], 1.0 - subtractionH[i], sweepL[i], sweepH[i])));
    };
    const auto measuredDb = [&] (int n) { return toDb (std::abs (outputAt (audio, n))); };

    SECTION ("open before the gate closes")
    {
        CHECK (std::abs (measuredDb (closeAt - 1)) < 0.05);
    }

    SECTION ("the release follows the control law while the cutoff falls")
    {
        int checkedPoints = 0;
        for (int ms = 1; ms < (int) (row.closedSeconds * 1000.0); ++ms)
        {
            const auto n = closeAt + (int) (ms * 0.001 * fs);
            if (expectedDb (n) < -60.0)
                break;
            CAPTURE (ms, expectedDb (n));
            CHECK (measuredDb (n) == Approx (expectedDb (n)).margin (0.5));
            ++checkedPoints;
        }
        // The fall covers a usable stretch of time, so the comparison above means something.
        CHECK (checkedPoints >= 10);
        CHECK (measuredDb (openAt - 1) == Approx (expectedDb (openAt - 1)).margin (0.5));
        CHECK (measuredDb (openAt - 1) < -30.0);
    }

    if (row.checkOpening)
    {
        SECTION ("the sweep opens within about 0.2 ms; the subtraction's 1 ms attack finishes the rise")
        {
            const auto afterOpening = [&] (double ms) { return openAt + (int) std::lround (ms * 0.001 * fs); };

            // 0.25 ms after opening only the subtraction still attenuates: the sweep is open.
            const auto n = afterOpening (0.25);
            const auto subtractionOnlyDb = toDb (std::abs (1.0 - (1.0 - subtractionL[(size_t) n])
                                                                   * stage (Shape::highpass, lowpassSubtractionCutoff (s.lpFreq), row.toneHz, fs)));
            CHECK (measuredDb (n) == Approx (subtractionOnlyDb).margin (1.0));
            CHECK (measuredDb (n) > measuredDb (openAt - 1) + 30.0);

            CHECK (std::abs (measuredDb (afterOpening (1.5))) < 0.1);
        }
    }
}

TEST_CASE ("Debleeder macro off ramps out and stops; on again starts the sweeps from silence", "[debleeder][macro]")
{
    Rig rig;
    rig.apply ({ 50, 2, 1, 50, 2, 1 });
    const auto fs = rig.sampleRate;
    const auto ramp = (int) (0.02 * fs);

    // Gate closed on a 5 kHz tone, well above the low-pass frequency.
    const auto settle = (int) (0.2 * fs), total = settle + 3 * ramp;
    const auto input = complexTone (5000.0, fs, total);
    auto audio = input;
    const std::vector<float> closed ((size_t) total, 0.0f);
    rig.run (audio, closed, 0, settle);
    const auto closedDb = toDb (std::abs (outputAt (audio, settle - 1)));
    REQUIRE (closedDb < -50.0);

    rig.setOn (false);
    rig.run (audio, closed, settle, total - settle);
    const auto levelDb = [&] (int n) { return toDb (std::abs (outputAt (audio, settle + n))); };

    SECTION ("the effect ramps out over 20 ms without a jump when the stage stops")
    {
        CHECK (levelDb (0) < closedDb + 1.0);
        CHECK (levelDb (ramp / 2) < -3.0);
        CHECK (levelDb (ramp / 2) > closedDb + 10.0);
        CHECK (std::abs (levelDb (ramp - 1)) < 0.1);
    }

    SECTION ("after the ramp the signal passes untouched")
    {
        const auto firstUntouched = settle + ramp + hostBlock;
        bool identical = true;
        for (int ch = 0; ch < 2; ++ch)
            for (int n = firstUntouched; n < total; ++n)
                identical = identical && audio.getSample (ch, n) == input.getSample (ch, n);
        CHECK (identical);
    }

    SECTION ("switching on again starts from silence and fades the effect in")
    {
        // Silence while off, then on: nothing of the tone may ring out of the sweep filters.
        juce::AudioBuffer<float> silence (2, 4 * ramp);
        silence.clear();
        const std::vector<float> gate ((size_t) silence.getNumSamples(), 0.0f);
        rig.run (silence, gate, 0, ramp);
        rig.setOn (true);
        rig.run (silence, gate, ramp, 3 * ramp);
        CHECK (silence.getMagnitude (ramp, 3 * ramp) < 1.0e-2f);

        // On again over the tone: the level starts open and ramps down to the closed level.
        auto tone = complexTone (5000.0, fs, 4 * ramp);
        rig.setOn (false);
        rig.run (tone, gate, 0, 2 * ramp);
        rig.setOn (true);
        rig.run (tone, gate, 2 * ramp, 2 * ramp);
        // The sweeps start from silence, so they take a few samples to reach the signal; after
        // that the level starts open (within the restart transients) and falls with the ramp.
        double worstDb = 0.0;
        for (int n = 2 * ramp + (int) (0.00025 * fs); n < 2 * ramp + (int) (0.001 * fs); ++n)
            worstDb = std::max (worstDb, std::abs (toDb (std::abs (outputAt (tone, n)))));
        CHECK (worstDb < 0.5);
        CHECK (toDb (std::abs (outputAt (tone, 4 * ramp - 1))) < -40.0);
    }
}

TEST_CASE ("Debleeder output does not depend on how the host splits blocks", "[debleeder]")
{
    const auto fs = 48000.0;
    const auto loop = makeDrumLoop (fs, (int) fs);
    const Settings settings { 60, 2, 20, 40, 1, 50 };

    const auto render = [&] (int block)
    {
        Rig rig (fs, hostBlock);
        rig.apply (settings);
        auto audio = loop.audio;
        rig.run (audio, loop.trigger, 0, -1, block);
        return audio;
    };

    const auto reference = render (hostBlock);
    for (auto block : { 37, 1000 }) // 1000 exceeds the prepared maximum
    {
        CAPTURE (block);
        const auto other = render (block);
        bool identical = true;
        for (int ch = 0; ch < 2; ++ch)
            identical = identical && std::equal (reference.getReadPointer (ch), reference.getReadPointer (ch) + reference.getNumSamples(), other.getReadPointer (ch));
        CHECK (identical);
    }
}

TEST_CASE ("Debleeder processing and parameter changes do not allocate", "[debleeder][realtime]")
{
    DebleederProcessor debleeder;
    debleeder.prepare ({ 48000.0, hostBlock, 2 });
    auto loop = makeDrumLoop (48000.0, 48000);
    juce::dsp::AudioBlock<float> block (loop.audio);

    using namespace ombrel::config;
    const juce::String ids[] { Debleed::lpFreq.id, Debleed::hpFreq.id, Debleed::lpAmount.id, Debleed::hpAmount.id,
                               Debleed::lpRelease.id, Debleed::hpRelease.id, Macro::debleed.id };
    const float values[] { 70.0f, 30.0f, 2.0f, 0.0f, 5.0f, 300.0f, 0.0f };

    test_support::AllocationCounter counter;
    size_t offset = 0;
    for (int i = 0; offset + 1000 < (size_t) loop.audio.getNumSamples(); ++i)
    {
        debleeder.parameterChanged (ids[i % 7], values[i % 7]);
        if (i % 7 == 6)
            debleeder.parameterChanged (Macro::debleed.id, 1.0f);

        const size_t length = i % 5 == 0 ? 1000 : hostBlock; // 1000 exceeds the prepared maximum
        debleeder.process (block.getSubBlock (offset, length), i % 3 == 0 ? nullptr : loop.trigger.data() + offset);
        offset += length;
    }
    CHECK (counter.allocations() == 0);
    CHECK (counter.frees() == 0);
}

TEST_CASE ("Debleeder takes parameter changes from another thread while processing", "[debleeder][threads]")
{
    // Run under the ThreadSanitizer build to prove the hand-over race-free; here it must at least
    // stay stable while every value changes under it.
    DebleederProcessor debleeder;
    debleeder.prepare ({ 48000.0, hostBlock, 2 });
    auto loop = makeDrumLoop (48000.0, 96000);

    std::atomic<bool> done { false };
    std::thread writer ([&]
    {
        using namespace ombrel::config;
        juce::Random random (7);
        while (! done.load())
        {
            debleeder.parameterChanged (Debleed::lpFreq.id, random.nextFloat() * 100.0f);
            debleeder.parameterChanged (Debleed::hpFreq.id, random.nextFloat() * 100.0f);
            debleeder.parameterChanged (Debleed::lpAmount.id, (float) random.nextInt (3));
            debleeder.parameterChanged (Debleed::hpAmount.id, (float) random.nextInt (3));
            debleeder.parameterChanged (Debleed::lpRelease.id, 1.0f + random.nextFloat() * 499.0f);
            debleeder.parameterChanged (Debleed::hpRelease.id, 1.0f + random.nextFloat() * 499.0f);
            debleeder.parameterChanged (Macro::debleed.id, random.nextBool() ? 1.0f : 0.0f);
        }
    });

    juce::dsp::AudioBlock<float> block (loop.audio);
    for (size_t offset = 0; offset < block.getNumSamples(); offset += hostBlock)
        debleeder.process (block.getSubBlock (offset, hostBlock), loop.trigger.data() + offset);

    done = true;
    writer.join();

    bool finite = true;
    for (int ch = 0; ch < 2; ++ch)
        for (int n = 0; n < loop.audio.getNumSamples(); ++n)
            finite = finite && std::isfinite (loop.audio.getSample (ch, n)) && std::abs (loop.audio.getSample (ch, n)) < 4.0f;
    CHECK (finite);
}

TEST_CASE ("Debleeder stays stable at sample rates whose Nyquist limit lies below 20 kHz", "[debleeder]")
{
    // The open low-pass end (20 kHz) cannot be reached there; the sweep tops out just below
    // Nyquist instead of folding over into an unstable filter.
    const auto fs = GENERATE (32000.0, 22050.0);
    Rig rig (fs);
    rig.apply ({ 50, 2, 100, 50, 2, 100 });

    auto loop = makeDrumLoop (fs, (int) fs);
    rig.run (loop.audio, loop.trigger);
    CHECK (loop.audio.findMinMax (0, 0, loop.audio.getNumSamples()).getLength() < 4.0f);

    CAPTURE (fs);
    CHECK (std::abs (toDb (std::abs (measureResponse (rig, 1000.0, 1.0f)))) < 0.1);
}
