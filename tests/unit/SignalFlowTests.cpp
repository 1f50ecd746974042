#include "core/PluginProcessor.h"
#include "support/DrumFixture.h"
#include "support/TestSupport.h"

#include <catch2/catch.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

using ombrel::BrimvaleAudioProcessor;
using Set = juce::AudioChannelSet;

namespace
{
/** A processor as a host drives it: layout, preparation, parameters and block-wise processing.
    Every processBlock call is watched for heap allocations. */
struct Harness
{
    BrimvaleAudioProcessor processor;
    juce::MidiBuffer midi;
    int allocatingBlocks = 0;

    void set (const juce::String& id, float rawValue)
    {
        auto* parameter = processor.mParameters.getParameter (id);
        REQUIRE (parameter != nullptr);
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (rawValue));
    }

    void setLayout (const Set& main, const Set& side)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (main);
        layout.inputBuses.add (side);
        layout.outputBuses.add (main);
        REQUIRE (processor.setBusesLayout (layout));
    }

    void prepare (double sampleRate, int blockSize)
    {
        processor.setRateAndBufferSizeDetails (sampleRate, blockSize);
        processor.prepareToPlay (sampleRate, blockSize);
    }

    int latency() const { return processor.getLatencySamples(); }

    /** One host call on samples [start, start + length) of the buffer. */
    void processBlock (juce::AudioBuffer<float>& buffer, int start, int length)
    {
        juce::AudioBuffer<float> view (buffer.getArrayOfWritePointers(), buffer.getNumChannels(), start, length);
        test_support::AllocationCounter counter;
        processor.processBlock (view, midi);
        if (counter.allocations() != 0 || counter.frees() != 0)
            ++allocatingBlocks;
    }

    /** Processes the buffer in place, cycling through the given host block sizes. */
    void process (juce::AudioBuffer<float>& buffer, const std::vector<int>& blockSizes)
    {
        size_t next = 0;
        for (int start = 0; start < buffer.getNumSamples();)
        {
            const auto length = juce::jmin (blockSizes[next++ % blockSizes.size()], buffer.getNumSamples() - start);
            processBlock (buffer, start, length);
            start += length;
        }
        CHECK (allocatingBlocks == 0);
    }

    void process (juce::AudioBuffer<float>& buffer, int blockSize) { process (buffer, std::vector<int> { blockSize }); }

    /** Solo on with one equaliser node selected, written as the editor writes it. */
    void soloNode (int node)
    {
        auto nonAudio = processor.mParameters.state.getChildWithName ("NonAudioParameters");
        REQUIRE (nonAudio.isValid());
        juce::Array<juce::var> selection;
        for (int i = 0; i < 6; ++i)
            selection.add (i == node);
        nonAudio.setProperty ("selectedFilters", selection, nullptr);
        nonAudio.setProperty ("soloNode", true, nullptr);
        REQUIRE (processor.getGateProcessor().getEqualiser().isSoloOn());
    }

    /** Gain curve 1 everywhere, nothing after the gate that changes the signal. */
    void transparent()
    {
        set ("threshold", -72.0f);
        set ("floor", 0.0f);
        set ("debleed", 0.0f);
        set ("outputClipType", 0.0f);
    }

    /** Gate between the fixture's hit and bleed levels, opening at once. */
    void drumGate()
    {
        set ("threshold", -25.0f);
        set ("floor", -30.0f);
        set ("attack", 0.02f);
        set ("hold", 5.0f);
        set ("release", 10.0f);
    }

    void everythingOn()
    {
        set ("spike", 50.0f);
        set ("punch", 50.0f);
        set ("fat", 50.0f);
        set ("debleed", 1.0f);
        set ("lpAmount", 2.0f);
        set ("hpAmount", 2.0f);
        set ("lpFreq", 50.0f);
        set ("hpFreq", 50.0f);
        set ("outputClipType", 1.0f);
    }

    void peakNode (int node, float frequency, float gainDb, float quality)
    {
        const auto suffix = juce::String (node);
        set ("filterType" + suffix, 2.0f); // "PEAK"
        set ("filterFreq" + suffix, frequency);
        set ("filterGain" + suffix, gainDb);
        set ("filterQual" + suffix, quality);
    }
};

/** The main channels of a fixture first, then the side-chain channels, then extra channels of noise. */
juce::AudioBuffer<float> hostBuffer (const juce::AudioBuffer<float>& main, int numMain,
                                     const juce::AudioBuffer<float>* side, int numSide, int numExtra = 0)
{
    juce::AudioBuffer<float> buffer (numMain + numSide + numExtra, main.getNumSamples());
    buffer.clear();
    for (int ch = 0; ch < numMain; ++ch)
        buffer.copyFrom (ch, 0, main, ch % main.getNumChannels(), 0, main.getNumSamples());
    for (int ch = 0; ch < numSide && side != nullptr; ++ch)
        buffer.copyFrom (numMain + ch, 0, *side, ch % side->getNumChannels(), 0, main.getNumSamples());

    juce::Random random (99);
    for (int ch = numMain + numSide; ch < buffer.getNumChannels(); ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (ch, i, random.nextFloat() - 0.5f);
    return buffer;
}

juce::AudioBuffer<float> sine (int numChannels, int numSamples, double frequency, double sampleRate, float amplitude)
{
    juce::AudioBuffer<float> buffer (numChannels, numSamples);
    for (int ch = 0; ch < numChannels; ++ch)
        for (int i = 0; i < numSamples; ++i)
            buffer.setSample (ch, i, amplitude * (float) std::sin (juce::MathConstants<double>::twoPi * frequency * i / sampleRate));
    return buffer;
}

float maxAbsDifference (const float* a, const float* b, int numSamples)
{
    float worst = 0.0f;
    for (int i = 0; i < numSamples; ++i)
        worst = std::max (worst, std::abs (a[i] - b[i]));
    return worst;
}

/** Largest difference between output[i] and input[i - delay] (0 before the start). */
float maxDelayedDifference (const juce::AudioBuffer<float>& output, int outChannel,
                            const juce::AudioBuffer<float>& input, int inChannel, int delay, float inputGain = 1.0f)
{
    float worst = 0.0f;
    for (int i = 0; i < output.getNumSamples(); ++i)
    {
        const auto expected = i >= delay ? inputGain * input.getSample (inChannel, i - delay) : 0.0f;
        worst = std::max (worst, std::abs (output.getSample (outChannel, i) - expected));
    }
    return worst;
}

bool sameChannel (const juce::AudioBuffer<float>& a, int channelA, const juce::AudioBuffer<float>& b, int channelB)
{
    return a.getNumSamples() == b.getNumSamples()
           && std::memcmp (a.getReadPointer (channelA), b.getReadPointer (channelB), sizeof (float) * (size_t) a.getNumSamples()) == 0;
}

test_support::DrumFixture drums (int numHits, double sampleRate = 48000.0)
{
    test_support::DrumFixtureSettings settings;
    settings.numHits = numHits;
    settings.sampleRate = sampleRate;
    return test_support::makeDrumFixture (settings);
}

double decibels (double ratio) { return 20.0 * std::log10 (ratio); }

double peak (const juce::AudioBuffer<float>& buffer, int channel, int start, int length)
{
    return buffer.getMagnitude (channel, juce::jmax (0, start), juce::jmin (length, buffer.getNumSamples() - juce::jmax (0, start)));
}
} // namespace

//==============================================================================
TEST_CASE ("A mono input runs as dual mono and only host channel 0 is written", "[signalflow]")
{
    const auto fixture = test_support::makeDrumFixture();
    const auto sidechainOn = GENERATE (false, true);
    INFO ("side-chain " << (sidechainOn ? "on" : "off"));

    const auto configure = [sidechainOn] (Harness& h)
    {
        h.everythingOn();
        h.drumGate();
        h.set ("sidechainToggle", sidechainOn ? 1.0f : 0.0f);
    };

    // Reference: the fixture's channel 0 on both channels of a stereo bus.
    Harness stereo;
    stereo.setLayout (Set::stereo(), Set::stereo());
    configure (stereo);
    stereo.prepare (48000.0, 128);
    juce::AudioBuffer<float> channelZero (1, fixture.getNumSamples());
    channelZero.copyFrom (0, 0, fixture.main, 0, 0, fixture.getNumSamples());
    auto stereoBuffer = hostBuffer (channelZero, 2, &fixture.sideChain, 2);
    stereo.process (stereoBuffer, 128);
    REQUIRE (sameChannel (stereoBuffer, 0, stereoBuffer, 1));
    REQUIRE (stereoBuffer.getMagnitude (0, 0, stereoBuffer.getNumSamples()) > 0.1f);

    SECTION ("mono bus")
    {
        Harness mono;
        mono.setLayout (Set::mono(), Set::stereo());
        configure (mono);
        mono.prepare (48000.0, 128);
        auto buffer = hostBuffer (fixture.main, 1, &fixture.sideChain, 2);
        const auto original = buffer;
        mono.process (buffer, 128);

        CHECK (sameChannel (buffer, 0, stereoBuffer, 0));
        CHECK (sameChannel (buffer, 1, original, 1));
        CHECK (sameChannel (buffer, 2, original, 2));
        CHECK (mono.processor.mDataSource.getMeterLevel (0) == stereo.processor.mDataSource.getMeterLevel (0));
        CHECK (mono.processor.mDataSource.getMeterLevel (1) == stereo.processor.mDataSource.getMeterLevel (1));
    }

    SECTION ("a stereo bus handed a one-channel buffer runs like a mono one")
    {
        Harness shortBuffer;
        shortBuffer.setLayout (Set::stereo(), Set::disabled());
        configure (shortBuffer);
        shortBuffer.prepare (48000.0, 128);
        auto buffer = hostBuffer (fixture.main, 1, nullptr, 0);
        shortBuffer.process (buffer, 128);

        if (! sidechainOn) // with the side-chain missing the detector is silent instead
            CHECK (sameChannel (buffer, 0, stereoBuffer, 0));
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            REQUIRE (std::isfinite (buffer.getSample (0, i)));
    }
}

TEST_CASE ("Channels beyond the main pair are left as they are", "[signalflow]")
{
    struct Case
    {
        Set main, side;
        int numSideChannels, numExtra;
        bool sidechainOn;
    };

    const Case cases[] = {
        { Set::stereo(), Set::stereo(), 2, 2, false },
        { Set::stereo(), Set::stereo(), 2, 2, true },
        { Set::stereo(), Set::mono(), 1, 3, true },
        { Set::stereo(), Set::disabled(), 0, 2, true },
        { Set::mono(), Set::disabled(), 0, 2, false },
        { Set::mono(), Set::stereo(), 2, 2, true },
    };

    const auto fixture = drums (3);

    for (const auto& c : cases)
    {
        const auto numMain = c.main.size();
        INFO (c.main.getDescription() << " main, " << c.numSideChannels << " side-chain channels, "
                                      << c.numExtra << " extra, side-chain " << (c.sidechainOn ? "on" : "off"));

        Harness h;
        h.setLayout (c.main, c.side);
        h.everythingOn();
        h.drumGate();
        h.set ("sidechainToggle", c.sidechainOn ? 1.0f : 0.0f);
        h.prepare (48000.0, 256);

        auto buffer = hostBuffer (fixture.main, numMain, &fixture.sideChain, c.numSideChannels, c.numExtra);
        const auto original = buffer;
        h.process (buffer, 256);

        for (int ch = numMain; ch < buffer.getNumChannels(); ++ch)
        {
            INFO ("channel " << ch);
            CHECK (sameChannel (buffer, ch, original, ch));
        }
        for (int ch = 0; ch < numMain; ++ch)
            CHECK_FALSE (sameChannel (buffer, ch, original, ch));
    }
}

TEST_CASE ("Input gain scales the main signal; at or below -100 dB it mutes", "[signalflow]")
{
    struct Case
    {
        float decibels;
        bool throughParameter; // the parameter stops at -24 dB; lower values are written to its raw value
    };
    const auto c = GENERATE (Case { 6.0f, true }, Case { -6.0f, true }, Case { -24.0f, true },
                             Case { -99.0f, false }, Case { -100.0f, false }, Case { -150.0f, false });
    INFO (c.decibels << " dB");

    Harness h;
    h.transparent();
    h.prepare (48000.0, 128);
    if (c.throughParameter)
        h.set ("inputGain", c.decibels);
    else
        h.processor.mParameters.getRawParameterValue ("inputGain")->store (c.decibels);

    const auto input = drums (2).main;
    auto buffer = input;
    h.process (buffer, 128);

    const auto gain = c.decibels > -100.0f ? std::pow (10.0f, c.decibels / 20.0f) : 0.0f;
    for (int ch = 0; ch < 2; ++ch)
        CHECK (maxDelayedDifference (buffer, ch, input, ch, h.latency(), gain) <= 1.0e-6f * std::max (gain, 1.0e-3f));
    if (gain == 0.0f)
        CHECK (buffer.getMagnitude (0, buffer.getNumSamples()) == 0.0f);
}

TEST_CASE ("Side-chain: mono, stereo and missing bus", "[signalflow][sidechain]")
{
    struct Case
    {
        const char* name;
        Set side;
        int numSideChannels;
    };
    const auto c = GENERATE (Case { "mono", Set::mono(), 1 }, Case { "stereo", Set::stereo(), 2 }, Case { "disabled", Set::disabled(), 0 });
    INFO (c.name << " side-chain");

    constexpr double rate = 48000.0;
    const auto length = (int) rate / 2;

    Harness h;
    h.setLayout (Set::stereo(), c.side);
    h.set ("sidechainToggle", 1.0f);
    h.set ("debleed", 0.0f);
    h.set ("outputClipType", 0.0f);

    SECTION ("listening: the output is the side-chain, without input gain, output gain or delay")
    {
        h.set ("sidechainListen", 1.0f);
        h.set ("inputGain", -24.0f);
        h.set ("outputGain", -24.0f);
        h.prepare (rate, 128);

        const auto main = sine (2, length, 200.0, rate, 0.5f);
        auto side = sine (2, length, 1000.0, rate, 0.25f);
        side.copyFrom (1, 0, sine (1, length, 3000.0, rate, 0.125f), 0, 0, length);
        auto buffer = hostBuffer (main, 2, &side, c.numSideChannels);
        h.process (buffer, 128);

        // The equaliser's flat default nodes and a spike of 0 leave the detector as it is.
        const auto silent = c.numSideChannels == 0;
        for (int ch = 0; ch < 2; ++ch)
        {
            const auto sideChannel = juce::jmin (ch, c.numSideChannels - 1);
            if (silent)
                CHECK (buffer.getMagnitude (ch, 0, length) == 0.0f);
            else
                CHECK (maxAbsDifference (buffer.getReadPointer (ch), side.getReadPointer (sideChannel), length) < 1.0e-5f);
        }
    }

    SECTION ("keying: the side-chain opens the gate on the main signal, both channels linked")
    {
        h.set ("threshold", -30.0f);
        h.set ("floor", -40.0f);
        h.set ("attack", 0.02f);
        h.set ("hold", 1.0f);
        h.set ("release", 1.0f);
        h.prepare (rate, 128);

        // Loud main tone throughout; the side-chain is silent in the first half and loud in the
        // second, on its last channel only.
        const auto main = sine (2, length, 200.0, rate, 0.5f);
        juce::AudioBuffer<float> side (2, length);
        side.clear();
        const auto lastSide = juce::jmax (0, c.numSideChannels - 1);
        side.copyFrom (lastSide, length / 2, sine (1, length / 2, 1000.0, rate, 0.25f), 0, 0, length / 2);
        auto buffer = hostBuffer (main, 2, &side, c.numSideChannels);
        h.process (buffer, 128);

        const auto window = (int) (0.1 * rate);
        const auto closedStart = h.latency() + window / 2;
        const auto openStart = length / 2 + h.latency() + window / 4;
        const auto inputLevel = test_support::rms (main, 0, 0, length);
        const auto closedDb = decibels (test_support::rms (buffer, 0, closedStart, window) / inputLevel);
        const auto openDb = decibels (test_support::rms (buffer, 0, openStart, window) / inputLevel);

        CHECK (closedDb == Approx (-40.0).margin (0.1));
        CHECK (openDb == Approx (c.numSideChannels == 0 ? -40.0 : 0.0).margin (0.1));
    }
}

TEST_CASE ("Listen and solo: the detector is heard after equaliser and spike, before debleed, Dynamics and clip", "[signalflow][listen]")
{
    constexpr double rate = 48000.0;
    const auto length = (int) (0.4 * rate);
    const auto tail = [&] (const juce::AudioBuffer<float>& b) { return b.getMagnitude (0, length / 2, length / 2); };

    Harness h;
    h.set ("debleed", 0.0f);
    h.set ("outputClipType", 0.0f);

    SECTION ("the equaliser shapes what is heard")
    {
        // A cookbook peak at its centre frequency has the node's gain exactly.
        h.set ("sidechainListen", 1.0f);
        h.peakNode (3, 1200.0f, 12.0f, 1.0f);
        h.prepare (rate, 128);
        auto buffer = sine (2, length, 1200.0, rate, 0.1f);
        h.process (buffer, 128);
        CHECK (decibels (tail (buffer) / 0.1) == Approx (12.0).margin (0.05));
    }

    SECTION ("spike and Dynamics raise the onsets of what is heard")
    {
        const auto fixture = drums (3);
        const auto onsetPeaks = [&] (const char* id, float value)
        {
            Harness listener;
            listener.set ("sidechainListen", 1.0f);
            listener.set ("debleed", 0.0f);
            listener.set ("outputClipType", 0.0f);
            listener.set (id, value);
            listener.prepare (rate, 128);
            auto buffer = fixture.main;
            listener.process (buffer, 128);
            std::vector<double> peaks;
            for (auto hit : fixture.hitStarts)
                peaks.push_back (peak (buffer, 0, hit, fixture.samplesFor (0.01)));
            return peaks;
        };

        for (const auto* id : { "spike", "fat" })
        {
            INFO (id);
            const auto plain = onsetPeaks (id, 0.0f);
            const auto shaped = onsetPeaks (id, 100.0f);
            for (size_t hit = 0; hit < plain.size(); ++hit)
                CHECK (decibels (shaped[hit] / plain[hit]) > 6.0);
        }
    }

    SECTION ("the debleed follows the gate's decision on what is heard")
    {
        struct Case
        {
            float thresholdDb;
            double expectedDb; // a 5 kHz tone at -10 dBFS through a heavy low-pass side closing to 300 Hz
        };
        const auto c = GENERATE (Case { -30.0f, 0.0 }, Case { 0.0f, -60.0 });
        INFO ("threshold " << c.thresholdDb);

        h.set ("sidechainListen", 1.0f);
        h.set ("threshold", c.thresholdDb);
        h.set ("debleed", 1.0f);
        h.set ("lpAmount", 2.0f);
        h.set ("lpFreq", 100.0f);
        h.set ("lpRelease", 1.0f);
        h.prepare (rate, 128);
        auto buffer = sine (2, length, 5000.0, rate, 0.316f);
        h.process (buffer, 128);

        const auto levelDb = decibels (tail (buffer) / 0.316);
        if (c.expectedDb == 0.0)
            CHECK (levelDb == Approx (0.0).margin (0.5));
        else
            CHECK (levelDb < c.expectedDb);
    }

    SECTION ("the clip stage limits what is heard")
    {
        struct Case
        {
            float clipType;
            double lowest, highest;
        };
        const auto c = GENERATE (Case { 0.0f, 1.79, 1.81 }, Case { 1.0f, 0.9, 1.0001 }, Case { 2.0f, 1.0, 1.0 });
        INFO ("clip type " << c.clipType);

        h.set ("sidechainListen", 1.0f);
        h.set ("outputClipType", c.clipType);
        h.set ("inputGain", 6.0f);
        h.prepare (rate, 128);
        auto buffer = sine (2, length, 100.0, rate, 0.9f);
        h.process (buffer, 128);

        CHECK (tail (buffer) >= c.lowest);
        CHECK (tail (buffer) <= c.highest);
    }

    SECTION ("solo keeps the selected node's band, undelayed, and the gate view still shows the output")
    {
        h.prepare (rate, 128);
        auto view = std::make_shared<BrimvaleAudioProcessor::Visualisation> (h.processor);
        h.processor.setVisualisation (view);
        h.soloNode (3); // 1200 Hz

        auto inBand = sine (2, length, 1200.0, rate, 0.1f);
        h.process (inBand, 128);
        CHECK (decibels (tail (inBand) / 0.1) == Approx (0.0).margin (1.5));

        // The output trace follows the output: its newest point is well above the bottom.
        std::vector<juce::Range<float>> points ((size_t) view->getOutputTrace().getBufferSize());
        auto newest = view->getOutputTrace().copyLevels (0, points.data(), (int) points.size());
        CHECK (points[(size_t) newest].getEnd() > -0.5f);

        auto outOfBand = sine (2, length, 100.0, rate, 0.1f);
        h.process (outOfBand, 128);
        CHECK (decibels (tail (outOfBand) / 0.1) < -20.0);

        // Listening instead: the output trace shows nothing.
        h.set ("sidechainListen", 1.0f);
        auto listened = sine (2, length, 1200.0, rate, 0.1f);
        h.process (listened, 128);
        newest = view->getOutputTrace().copyLevels (0, points.data(), (int) points.size());
        CHECK (points[(size_t) newest].getEnd() == -1.0f);
    }
}

TEST_CASE ("An empty block or a buffer without channels changes nothing", "[signalflow]")
{
    const auto fixture = drums (3);

    const auto render = [&] (bool withEmptyCalls)
    {
        Harness h;
        h.everythingOn();
        h.drumGate();
        h.prepare (48000.0, 128);
        auto buffer = fixture.main;
        juce::AudioBuffer<float> noChannels (0, 128);
        for (int start = 0; start < buffer.getNumSamples(); start += 128)
        {
            if (withEmptyCalls)
            {
                h.processBlock (buffer, start, 0);
                h.processBlock (noChannels, 0, 128);
            }
            h.processBlock (buffer, start, juce::jmin (128, buffer.getNumSamples() - start));
        }
        CHECK (h.allocatingBlocks == 0);
        return buffer;
    };

    const auto reference = render (false);
    const auto interrupted = render (true);
    CHECK (sameChannel (interrupted, 0, reference, 0));
    CHECK (sameChannel (interrupted, 1, reference, 1));
}

TEST_CASE ("The total delay equals the reported latency at every lookahead", "[signalflow][latency]")
{
    const auto rate = GENERATE (44100.0, 48000.0, 22050.0, 192000.0);
    const auto lookahead = GENERATE (0.0f, 0.3f, 2.5f, 5.0f, 7.7f, 10.0f);
    INFO (rate << " Hz, lookahead " << lookahead << " ms");

    const auto length = (int) (0.2 * rate);
    juce::AudioBuffer<float> input (2, length);
    input.clear();
    for (auto position : { 3, length / 3 + 7, length / 2 + 1 })
    {
        input.setSample (0, position, 0.5f);
        input.setSample (1, position + 5, -0.25f);
    }

    SECTION ("set before preparing")
    {
        Harness h;
        h.transparent();
        h.set ("lookahead", lookahead);
        h.prepare (rate, 256);
        REQUIRE (h.latency() == (int) (rate * BrimvaleAudioProcessor::latencyFactor));

        auto buffer = input;
        h.process (buffer, 256);
        for (int ch = 0; ch < 2; ++ch)
            CHECK (maxDelayedDifference (buffer, ch, input, ch, h.latency()) == 0.0f);
    }

    SECTION ("changed while playing")
    {
        Harness h;
        h.transparent();
        h.set ("lookahead", 10.0f - lookahead);
        h.prepare (rate, 256);

        auto before = input;
        h.process (before, 256);
        h.set ("lookahead", lookahead);
        auto after = input;
        h.process (after, 256);

        // The change moves the split inside the delay; what enters afterwards keeps the total.
        const auto settled = h.latency() + 256;
        for (int ch = 0; ch < 2; ++ch)
        {
            juce::AudioBuffer<float> tail (1, length - settled);
            tail.copyFrom (0, 0, after, ch, settled, length - settled);
            juce::AudioBuffer<float> expected (1, length - settled);
            expected.copyFrom (0, 0, input, ch, settled - h.latency(), length - settled);
            CHECK (maxAbsDifference (tail.getReadPointer (0), expected.getReadPointer (0), length - settled) == 0.0f);
        }
    }
}

TEST_CASE ("Blocks longer than prepared run in prepared-size pieces", "[signalflow]")
{
    const auto fixture = drums (4);
    constexpr int prepared = 64;
    const std::vector<int> hostSizes { 1000, 4096, 64, 65, 3 };

    // The same signal cut the way the processor cuts it, in blocks it was prepared for.
    std::vector<int> pieces;
    for (auto size : hostSizes)
    {
        for (int left = size; left > 0; left -= prepared)
            pieces.push_back (juce::jmin (left, prepared));
    }

    const auto render = [&] (const std::vector<int>& sizes)
    {
        Harness h;
        h.everythingOn();
        h.drumGate();
        h.set ("sidechainToggle", 1.0f);
        h.prepare (48000.0, prepared);
        auto buffer = hostBuffer (fixture.main, 2, &fixture.sideChain, 2);
        h.process (buffer, sizes);
        return buffer;
    };

    const auto oversized = render (hostSizes);
    const auto reference = render (pieces);
    CHECK (sameChannel (oversized, 0, reference, 0));
    CHECK (sameChannel (oversized, 1, reference, 1));
}

TEST_CASE ("Preparing again with the same settings keeps the state; a new block size starts afresh", "[signalflow][prepare]")
{
    const auto fixture = drums (3);
    // Just after the first hit, where the gate is releasing and the debleed filters are sweeping;
    // on a block boundary, so both runs see the same blocks.
    const auto split = (fixture.hitStarts[0] + fixture.samplesFor (0.07)) / 128 * 128;

    const auto render = [&]
    {
        Harness h;
        h.everythingOn();
        h.drumGate();
        h.set ("release", 200.0f);
        h.prepare (48000.0, 128);
        auto buffer = fixture.main;
        h.process (buffer, 128);
        return std::make_pair (std::move (buffer), h.latency());
    };

    const auto [reference, latency] = render();

    const auto renderInterrupted = [&] (int blockSize)
    {
        Harness h;
        h.everythingOn();
        h.drumGate();
        h.set ("release", 200.0f);
        h.prepare (48000.0, 128);
        auto buffer = fixture.main;
        juce::AudioBuffer<float> first (buffer.getArrayOfWritePointers(), 2, 0, split);
        juce::AudioBuffer<float> second (buffer.getArrayOfWritePointers(), 2, split, buffer.getNumSamples() - split);
        h.process (first, 128);
        h.prepare (48000.0, blockSize);
        h.process (second, blockSize);
        return buffer;
    };

    SECTION ("same rate and block size")
    {
        const auto again = renderInterrupted (128);
        CHECK (sameChannel (again, 0, reference, 0));
        CHECK (sameChannel (again, 1, reference, 1));
    }

    SECTION ("another block size")
    {
        // Preparation empties the delay: the next latency's worth of output is silence where
        // the uninterrupted run still plays the hit's tail.
        const auto again = renderInterrupted (256);
        CHECK (again.getMagnitude (0, split, latency) == 0.0f);
        CHECK (reference.getMagnitude (0, split, latency) > 1.0e-3f);
    }
}

//==============================================================================
TEST_CASE ("On a drum track the bleed drops by the floor and every hit passes with its onset", "[signalflow][drums]")
{
    struct Case
    {
        double rate;
        int blockSize;
        float lookaheadMs;
        bool onsetIntact;
    };
    const auto c = GENERATE (Case { 48000.0, 128, 2.0f, true }, Case { 48000.0, 128, 10.0f, true }, Case { 48000.0, 128, 0.0f, false },
                             Case { 44100.0, 1, 2.0f, true }, Case { 22050.0, 7, 2.0f, true }, Case { 192000.0, 4096, 2.0f, true },
                             Case { 96000.0, 333, 5.0f, true });
    INFO (c.rate << " Hz, block " << c.blockSize << ", lookahead " << c.lookaheadMs << " ms");

    const auto fixture = drums (4, c.rate);
    Harness h;
    h.drumGate(); // floor -30 dB, threshold -25 dBFS: between the -3 dBFS hits and the -40 dBFS bleed
    h.set ("lookahead", c.lookaheadMs);
    h.prepare (c.rate, c.blockSize);
    auto output = fixture.main;
    h.process (output, c.blockSize);

    const auto latency = h.latency();
    const auto& input = fixture.main;
    const auto window = [&] (double seconds) { return fixture.samplesFor (seconds); };
    const auto ratioDb = [&] (int ch, int start, int length)
    { return decibels (test_support::rms (output, ch, start + latency, length) / test_support::rms (input, ch, start, length)); };

    for (size_t hit = 0; hit < fixture.hitStarts.size(); ++hit)
    {
        const auto start = fixture.hitStarts[hit];

        for (int ch = 0; ch < 2; ++ch)
        {
            INFO ("hit " << hit << ", channel " << ch);

            // Between hits, after the gate has closed and before the lookahead opens it again.
            const auto bleedEnd = start - window (0.002 + c.lookaheadMs * 0.001);
            CHECK (ratioDb (ch, start - window (0.06), bleedEnd - (start - window (0.06))) == Approx (-30.0).margin (0.5));

            // The hit's body passes unchanged.
            CHECK (ratioDb (ch, start, window (0.05)) == Approx (0.0).margin (0.1));

            // Onset: first sample clearly above the bleed, and the energy of the first millisecond.
            const auto inputOnset = test_support::firstSampleAbove (input, ch, start - window (0.001), window (0.005), 0.1f);
            const auto outputOnset = test_support::firstSampleAbove (output, ch, start - window (0.001) + latency, window (0.005), 0.1f);
            REQUIRE (inputOnset >= start);
            const auto onsetDb = ratioDb (ch, start, window (0.001));

            if (c.onsetIntact)
            {
                CHECK (outputOnset == inputOnset + latency);
                CHECK (onsetDb == Approx (0.0).margin (0.05));
            }
            else
            {
                // Without lookahead the gate is still opening while the onset goes through.
                CHECK (outputOnset >= inputOnset + latency + 5);
                CHECK (onsetDb < -0.1);
            }
        }
    }
}

//==============================================================================
namespace
{
struct BadInputRun
{
    double rate = 48000.0;
    int blockSize = 128;
    float value = 0.0f;
    bool intoSideChain = false;
    int burstLength = 1;
    int burstStart = 0;
};

/** Everything on, an equaliser node boosting, the side-chain keying the gate or not; the drum
    track on the main bus and its trigger track on the side-chain, with a burst of `value`
    written over the main or side-chain samples (none for a NaN `burst`). */
juce::AudioBuffer<float> renderWithBurst (const test_support::DrumFixture& fixture, const BadInputRun& run, float burst)
{
    Harness h;
    h.everythingOn();
    h.drumGate();
    h.set ("outputClipType", 0.0f); // nothing to hide garbage behind
    h.set ("sidechainToggle", run.intoSideChain ? 1.0f : 0.0f);
    h.peakNode (1, 100.0f, 12.0f, 0.7f);
    h.prepare (run.rate, run.blockSize);

    auto buffer = hostBuffer (fixture.main, 2, &fixture.sideChain, 2);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = run.burstStart; i < run.burstStart + run.burstLength; ++i)
            buffer.setSample ((run.intoSideChain ? 2 : 0) + ch, i, burst);

    h.process (buffer, run.blockSize);
    buffer.setSize (2, buffer.getNumSamples(), true);
    return buffer;
}

/** Renders the run with every bad value, next to the run with zeros in their place and the
    run without a burst, and checks what is left of the bad samples. */
void checkRecovery (const test_support::DrumFixture& fixture, const BadInputRun& run, const juce::AudioBuffer<float>& untouched,
                    std::initializer_list<float> badValues)
{
    const auto silenced = renderWithBurst (fixture, run, 0.0f);
    const auto numSamples = silenced.getNumSamples();
    const auto recovered = run.burstStart + run.burstLength + fixture.samplesFor (0.05);
    const auto settled = recovered + fixture.samplesFor (0.5);
    REQUIRE (settled < numSamples - fixture.samplesFor (0.1));

    for (int ch = 0; ch < 2; ++ch)
    {
        INFO ("channel " << ch);

        // 50 ms after the gap the output is the drum track again: only the states the gap left
        // (a gate releasing, a transient shaper rearming) separate it from the untouched run,
        // and half a second later nothing is left of them.
        const auto peakLevel = untouched.getMagnitude (ch, recovered, numSamples - recovered);
        CHECK (maxAbsDifference (silenced.getReadPointer (ch) + recovered, untouched.getReadPointer (ch) + recovered, numSamples - recovered) < 0.1f * peakLevel);
        CHECK (maxAbsDifference (silenced.getReadPointer (ch) + settled, untouched.getReadPointer (ch) + settled, numSamples - settled) < 1.0e-3f * peakLevel);
    }

    for (auto value : badValues)
    {
        INFO (value);
        const auto output = renderWithBurst (fixture, run, value);

        // Bad samples count as silence, so nothing of them reaches any state.
        for (int ch = 0; ch < 2; ++ch)
            CHECK (sameChannel (output, ch, silenced, ch));
    }
}

juce::AudioBuffer<float> renderUntouched (const test_support::DrumFixture& fixture, BadInputRun run)
{
    run.burstLength = 0;
    return renderWithBurst (fixture, run, 0.0f);
}
} // namespace

TEST_CASE ("Non-finite and absurdly large samples count as silence and poison nothing", "[signalflow][badinput]")
{
    using limits = std::numeric_limits<float>;
    const auto fixture = drums (5);

    for (const auto intoSideChain : { false, true })
    {
        BadInputRun run;
        run.intoSideChain = intoSideChain;
        const auto untouched = renderUntouched (fixture, run);

        for (const auto burstLength : { 1, 480 })
        {
            for (const auto burstStart : { fixture.hitStarts[1] + fixture.samplesFor (0.15), fixture.hitStarts[2] })
            {
                INFO (burstLength << " samples at " << burstStart << " into the " << (intoSideChain ? "side-chain" : "main input"));
                run.burstLength = burstLength;
                run.burstStart = burstStart;
                checkRecovery (fixture, run, untouched,
                               { limits::quiet_NaN(), limits::infinity(), -limits::infinity(), 1.0e30f, -1.0e30f,
                                 limits::max(), -limits::max(), 1001.0f });
            }
        }
    }
}

TEST_CASE ("Bad samples at odd sample rates and block sizes", "[signalflow][badinput]")
{
    struct Case
    {
        double rate;
        int blockSize;
    };
    const auto c = GENERATE (Case { 22050.0, 7 }, Case { 192000.0, 4096 }, Case { 44100.0, 1 });
    const auto intoSideChain = GENERATE (false, true);
    INFO (c.rate << " Hz, block " << c.blockSize << (intoSideChain ? ", into the side-chain" : ", into the main input"));

    const auto fixture = drums (5, c.rate);
    BadInputRun run;
    run.rate = c.rate;
    run.blockSize = c.blockSize;
    run.intoSideChain = intoSideChain;
    run.burstLength = fixture.samplesFor (0.003);
    run.burstStart = fixture.hitStarts[1] + fixture.samplesFor (0.1);
    checkRecovery (fixture, run, renderUntouched (fixture, run),
                   { std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1.0e30f });
}

TEST_CASE ("Loud but valid samples are processed and leave no lasting trace", "[signalflow][badinput]")
{
    // +60 dBFS is the largest sample taken as audio; a click that loud rings, then fades.
    const auto value = GENERATE (10.0f, -100.0f, 1000.0f);
    INFO (value);
    const auto fixture = drums (5);
    BadInputRun run;
    run.value = value;
    run.burstLength = 48;
    run.burstStart = fixture.hitStarts[1] + fixture.samplesFor (0.15);

    const auto output = renderWithBurst (fixture, run, run.value);
    const auto silenced = renderWithBurst (fixture, run, 0.0f);
    const auto settled = run.burstStart + fixture.samplesFor (0.5);

    for (int ch = 0; ch < 2; ++ch)
    {
        CHECK_FALSE (sameChannel (output, ch, silenced, ch));
        CHECK (output.getMagnitude (ch, 0, output.getNumSamples()) >= std::abs (value) * 0.5f);
        CHECK (maxAbsDifference (output.getReadPointer (ch) + settled, silenced.getReadPointer (ch) + settled, output.getNumSamples() - settled) < 1.0e-4f);
    }
}

TEST_CASE ("A track of denormals comes out as silence and leaves no trace", "[signalflow][badinput]")
{
    const auto fixture = drums (2);
    const auto length = fixture.getNumSamples();

    const auto render = [&] (float fill)
    {
        Harness h;
        h.everythingOn();
        h.drumGate();
        h.set ("sidechainToggle", 1.0f);
        h.prepare (48000.0, 128);

        juce::AudioBuffer<float> quiet (4, length);
        for (int ch = 0; ch < 4; ++ch)
            for (int i = 0; i < length; ++i)
                quiet.setSample (ch, i, (i % 2 == 0 ? fill : -fill) * (1.0f + (float) (i % 7)));
        h.process (quiet, 128);

        auto drumsAfter = hostBuffer (fixture.main, 2, &fixture.sideChain, 2);
        h.process (drumsAfter, 128);
        return std::make_pair (quiet, drumsAfter);
    };

    const auto [denormalOut, drumsAfterDenormals] = render (1.0e-41f);
    const auto [silenceOut, drumsAfterSilence] = render (0.0f);

    for (int ch = 0; ch < 2; ++ch)
    {
        CHECK (denormalOut.getMagnitude (ch, 0, length) < 1.0e-30f);
        CHECK (maxAbsDifference (drumsAfterDenormals.getReadPointer (ch), drumsAfterSilence.getReadPointer (ch), length) < 1.0e-6f);
    }
}

//==============================================================================
TEST_CASE ("processBlock allocates nothing, with or without the gate view", "[signalflow][realtime]")
{
    struct Case
    {
        double rate;
        int preparedBlock;
        std::vector<int> hostBlocks;
    };
    const auto c = GENERATE (Case { 48000.0, 128, { 128 } }, Case { 22050.0, 7, { 7, 3 } }, Case { 192000.0, 4096, { 4096, 1000 } },
                             Case { 44100.0, 1, { 1 } }, Case { 96000.0, 256, { 256, 1000, 0, 17 } });
    const auto withView = GENERATE (false, true);

    enum class Setting
    {
        gateOnly,
        everythingOn,
        sideChainSolo,
        sideChainListen
    };
    const auto setting = GENERATE (Setting::gateOnly, Setting::everythingOn, Setting::sideChainSolo, Setting::sideChainListen);
    INFO (c.rate << " Hz, prepared for " << c.preparedBlock << (withView ? ", gate view installed" : "") << ", setting " << (int) setting);

    const auto fixture = drums (2, c.rate);
    Harness h;
    h.prepare (c.rate, c.preparedBlock);

    if (setting != Setting::gateOnly)
        h.everythingOn();
    if (setting == Setting::sideChainSolo || setting == Setting::sideChainListen)
        h.set ("sidechainToggle", 1.0f);
    if (setting == Setting::sideChainSolo)
        h.soloNode (2);
    if (setting == Setting::sideChainListen)
        h.set ("sidechainListen", 1.0f);

    std::shared_ptr<BrimvaleAudioProcessor::Visualisation> view;
    if (withView)
    {
        view = std::make_shared<BrimvaleAudioProcessor::Visualisation> (h.processor);
        h.processor.setVisualisation (view);
    }

    auto buffer = hostBuffer (fixture.main, 2, &fixture.sideChain, 2);
    h.process (buffer, c.hostBlocks); // checks every call

    if (view != nullptr)
    {
        // The pushes arrived: the detector trace shows the hits.
        std::vector<juce::Range<float>> points ((size_t) view->getDetectorTrace().getBufferSize());
        view->getDetectorTrace().copyLevels (0, points.data(), (int) points.size());
        CHECK (std::any_of (points.begin(), points.end(), [] (auto point) { return point.getEnd() > 0.0f; }));
    }
}

TEST_CASE ("A busy display lock skips the gate view instead of waiting", "[signalflow][realtime]")
{
    Harness h;
    h.prepare (48000.0, 128);
    auto view = std::make_shared<BrimvaleAudioProcessor::Visualisation> (h.processor);
    h.processor.setVisualisation (view);
    view->getDetectorTrace().setSamplesPerBlock (1);

    juce::WaitableEvent locked, release;
    std::thread editor ([&]
    {
        const juce::ScopedLock lock (h.processor.mDisplayLock);
        locked.signal();
        release.wait (10000);
    });
    REQUIRE (locked.wait (10000));

    std::vector<juce::Range<float>> before ((size_t) view->getDetectorTrace().getBufferSize());
    const auto newestBefore = view->getDetectorTrace().copyLevels (0, before.data(), (int) before.size());

    auto buffer = sine (2, 4800, 1000.0, 48000.0, 0.5f);
    h.process (buffer, 128); // returns although the lock is held elsewhere

    std::vector<juce::Range<float>> after (before.size());
    const auto newestAfter = view->getDetectorTrace().copyLevels (0, after.data(), (int) after.size());
    CHECK (newestAfter == newestBefore);

    release.signal();
    editor.join();

    auto more = sine (2, 4800, 1000.0, 48000.0, 0.5f);
    h.process (more, 128);
    CHECK (view->getDetectorTrace().copyLevels (0, after.data(), (int) after.size()) != newestBefore);
}
