#include <catch2/catch.hpp>

#include "core/PluginProcessor.h"
#include "dsp/GraphicEqProcessor.h"
#include "support/TestSupport.h"

#include <cmath>
#include <complex>
#include <thread>
#include <vector>

using ombrel::dsp::GraphicEqProcessor;
using ombrel::node_graph::FilterType;
using ombrel::node_graph::gui::NodeGraphParameters;

namespace
{
constexpr double pi = 3.14159265358979323846;

//==============================================================================
// Reference filters in double precision, straight from the Audio EQ Cookbook.

struct Biquad
{
    double b0 = 1, b1 = 0, b2 = 0, a0 = 1, a1 = 0, a2 = 0;

    double magnitudeAt (double frequency, double sampleRate) const
    {
        const auto z1 = std::polar (1.0, -2.0 * pi * frequency / sampleRate);
        const auto z2 = z1 * z1;
        return std::abs ((b0 + b1 * z1 + b2 * z2) / (a0 + a1 * z1 + a2 * z2));
    }
};

struct CookbookTerms
{
    double A, w0, cosW0, alpha;
};

CookbookTerms cookbookTerms (double frequency, double q, double gainDb, double sampleRate)
{
    const auto w0 = 2.0 * pi * frequency / sampleRate;
    return { std::pow (10.0, gainDb / 40.0), w0, std::cos (w0), std::sin (w0) / (2.0 * q) };
}

Biquad cookbookLowPass (double frequency, double sampleRate)
{
    const auto t = cookbookTerms (frequency, 1.0 / std::sqrt (2.0), 0.0, sampleRate);
    return { (1 - t.cosW0) / 2, 1 - t.cosW0, (1 - t.cosW0) / 2, 1 + t.alpha, -2 * t.cosW0, 1 - t.alpha };
}

Biquad cookbookHighPass (double frequency, double sampleRate)
{
    const auto t = cookbookTerms (frequency, 1.0 / std::sqrt (2.0), 0.0, sampleRate);
    return { (1 + t.cosW0) / 2, -(1 + t.cosW0), (1 + t.cosW0) / 2, 1 + t.alpha, -2 * t.cosW0, 1 - t.alpha };
}

Biquad cookbookPeak (double frequency, double q, double gainDb, double sampleRate)
{
    const auto t = cookbookTerms (frequency, q, gainDb, sampleRate);
    return { 1 + t.alpha * t.A, -2 * t.cosW0, 1 - t.alpha * t.A, 1 + t.alpha / t.A, -2 * t.cosW0, 1 - t.alpha / t.A };
}

Biquad cookbookLowShelf (double frequency, double q, double gainDb, double sampleRate)
{
    const auto [A, w0, c, alpha] = cookbookTerms (frequency, q, gainDb, sampleRate);
    const auto k = 2 * std::sqrt (A) * alpha;
    return { A * ((A + 1) - (A - 1) * c + k), 2 * A * ((A - 1) - (A + 1) * c), A * ((A + 1) - (A - 1) * c - k),
             (A + 1) + (A - 1) * c + k, -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - k };
}

Biquad cookbookHighShelf (double frequency, double q, double gainDb, double sampleRate)
{
    const auto [A, w0, c, alpha] = cookbookTerms (frequency, q, gainDb, sampleRate);
    const auto k = 2 * std::sqrt (A) * alpha;
    return { A * ((A + 1) + (A - 1) * c + k), -2 * A * ((A - 1) + (A + 1) * c), A * ((A + 1) + (A - 1) * c - k),
             (A + 1) - (A - 1) * c + k, 2 * ((A - 1) - (A + 1) * c), (A + 1) - (A - 1) * c - k };
}

Biquad cookbookNode (FilterType type, double frequency, double q, double gainDb, double sampleRate)
{
    switch (type)
    {
        case FilterType::lowPass:   return cookbookLowPass (frequency, sampleRate);
        case FilterType::lowShelf:  return cookbookLowShelf (frequency, q, gainDb, sampleRate);
        case FilterType::peak:      return cookbookPeak (frequency, q, gainDb, sampleRate);
        case FilterType::highShelf: return cookbookHighShelf (frequency, q, gainDb, sampleRate);
        case FilterType::highPass:  return cookbookHighPass (frequency, sampleRate);
    }
    return {};
}

/** A biquad in transposed direct form II, running in double precision; its state carries
    over coefficient changes. */
struct ReferenceFilter
{
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double s1 = 0, s2 = 0;

    void setCoefficients (const Biquad& d)
    {
        b0 = d.b0 / d.a0, b1 = d.b1 / d.a0, b2 = d.b2 / d.a0, a1 = d.a1 / d.a0, a2 = d.a2 / d.a0;
    }

    double process (double x)
    {
        const auto y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }
};

/** |H| of a measured impulse response at one frequency (a DFT evaluated at that frequency). */
double measuredMagnitude (const std::vector<float>& impulseResponse, double frequency, double sampleRate)
{
    std::complex<double> sum;
    const auto w = 2.0 * pi * frequency / sampleRate;
    for (size_t n = 0; n < impulseResponse.size(); ++n)
        sum += static_cast<double> (impulseResponse[n]) * std::polar (1.0, -w * static_cast<double> (n));
    return std::abs (sum);
}

double toDb (double gain) { return 20.0 * std::log10 (gain); }

std::vector<float> makeNoise (int numSamples, juce::int64 seed)
{
    juce::Random random { seed };
    std::vector<float> noise (static_cast<size_t> (numSamples));
    for (auto& sample : noise)
        sample = random.nextFloat() * 2.0f - 1.0f;
    return noise;
}

std::vector<float> makeImpulse (int numSamples)
{
    std::vector<float> impulse (static_cast<size_t> (numSamples), 0.0f);
    impulse[0] = 1.0f;
    return impulse;
}

float maxAbsDifference (const std::vector<float>& a, const std::vector<float>& b)
{
    float difference = 0.0f;
    for (size_t i = 0; i < a.size(); ++i)
        difference = std::max (difference, std::abs (a[i] - b[i]));
    return difference;
}

//==============================================================================
struct EqFixture
{
    explicit EqFixture (double fs = 48000.0) : sampleRate (fs)
    {
        eq.prepare ({ sampleRate, static_cast<juce::uint32> (blockSize), 2 });
    }

    void setParameter (const juce::String& id, float value)
    {
        auto* parameter = tree.getParameter (id);
        REQUIRE (parameter != nullptr);
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
    }

    /** A parameter's current value in real units, as the host parameter holds it. */
    float parameterValue (const juce::String& id) const
    {
        auto* parameter = tree.getParameter (id);
        if (auto* choice = dynamic_cast<juce::AudioParameterChoice*> (parameter))
            return static_cast<float> (choice->getIndex());
        return dynamic_cast<juce::AudioParameterFloat&> (*parameter).get();
    }

    void setNode (int index, FilterType type, float frequency, float quality, float gainDb)
    {
        const auto suffix = juce::String (index);
        setParameter ("filterType" + suffix, static_cast<float> (type));
        setParameter ("filterFreq" + suffix, frequency);
        setParameter ("filterQual" + suffix, quality);
        setParameter ("filterGain" + suffix, gainDb);
    }

    /** The cookbook response of a node at the values its parameters actually hold. */
    Biquad referenceNode (int index) const
    {
        const auto suffix = juce::String (index);
        return cookbookNode (static_cast<FilterType> (juce::roundToInt (parameterValue ("filterType" + suffix))),
                             parameterValue ("filterFreq" + suffix),
                             parameterValue ("filterQual" + suffix),
                             parameterValue ("filterGain" + suffix),
                             sampleRate);
    }

    /** Solo on with only the given node selected (-1: none), written as the editor does. */
    void soloNode (int index)
    {
        editor.getSelection().reset();
        if (index >= 0)
            editor.getSelection().set (index, true);
        editor.getSoloValue() = true;
    }

    /** Runs the same signal through both channels in blocks; returns channel 0 and checks
        that channel 1 came out the same. */
    std::vector<float> run (const std::vector<float>& input)
    {
        const auto numSamples = static_cast<int> (input.size());
        juce::AudioBuffer<float> buffer (2, numSamples);
        for (int channel = 0; channel < 2; ++channel)
            buffer.copyFrom (channel, 0, input.data(), numSamples);

        juce::dsp::AudioBlock<float> block (buffer);
        for (int start = 0; start < numSamples; start += blockSize)
        {
            auto part = block.getSubBlock (static_cast<size_t> (start),
                                           static_cast<size_t> (std::min (blockSize, numSamples - start)));
            eq.process (juce::dsp::ProcessContextReplacing<float> (part));
        }

        std::vector<float> left (buffer.getReadPointer (0), buffer.getReadPointer (0) + numSamples);
        const std::vector<float> right (buffer.getReadPointer (1), buffer.getReadPointer (1) + numSamples);
        CHECK (maxAbsDifference (left, right) == 0.0f);
        return left;
    }

    std::vector<float> impulseResponse()
    {
        eq.reset();
        return run (makeImpulse (1 << 15));
    }

    const double sampleRate;
    const int blockSize = 256;
    ombrel::BrimvaleAudioProcessor processor;
    juce::AudioProcessorValueTreeState& tree { processor.mParameters };
    GraphicEqProcessor eq { tree };
    NodeGraphParameters editor { tree };
};

bool isFiniteSignal (const std::vector<float>& signal)
{
    return std::all_of (signal.begin(), signal.end(), [] (float x) { return std::isfinite (x); });
}
} // namespace

//==============================================================================
TEST_CASE ("Equaliser nodes at their defaults pass the signal unchanged", "[eq]")
{
    EqFixture fixture;
    const auto input = makeNoise (4096, 1);
    CHECK (maxAbsDifference (fixture.run (input), input) <= 1.0e-6f);
}

TEST_CASE ("Each node design matches the cookbook response", "[eq]")
{
    struct Case
    {
        FilterType type;
        float frequency, quality, gainDb;
    };

    const Case cases[] {
        { FilterType::lowPass, 1000.0f, 3.0f, 12.0f },   // quality and gain ignored
        { FilterType::lowPass, 8000.0f, 0.2f, -24.0f },
        { FilterType::highPass, 1000.0f, 0.3f, -12.0f },
        { FilterType::highPass, 60.0f, 5.0f, 24.0f },
        { FilterType::lowShelf, 200.0f, 0.71f, 9.0f },
        { FilterType::lowShelf, 2000.0f, 2.0f, -12.0f },
        { FilterType::peak, 1000.0f, 1.0f, 6.0f },
        { FilterType::peak, 5000.0f, 4.0f, -18.0f },
        { FilterType::peak, 120.0f, 0.5f, 24.0f },
        { FilterType::highShelf, 3000.0f, 1.0f, 12.0f },
        { FilterType::highShelf, 8000.0f, 0.5f, -9.0f },
    };

    // One equaliser for all cases: each case is picked up by the per-block coefficient update.
    EqFixture fixture;
    const auto node = 2;

    for (const auto& c : cases)
    {
        fixture.setNode (node, c.type, c.frequency, c.quality, c.gainDb);
        const auto response = fixture.impulseResponse();
        const auto reference = fixture.referenceNode (node);

        for (const auto ratio : { 0.25, 0.5, 0.8, 1.0, 1.25, 2.0, 4.0 })
        {
            const auto frequency = c.frequency * ratio;
            if (frequency > 0.45 * fixture.sampleRate)
                continue;

            INFO ("type " << static_cast<int> (c.type) << ", node at " << c.frequency << " Hz, measured at " << frequency << " Hz");
            CHECK (toDb (measuredMagnitude (response, frequency, fixture.sampleRate))
                   == Approx (toDb (reference.magnitudeAt (frequency, fixture.sampleRate))).margin (0.1));
        }
    }
}

TEST_CASE ("Low-pass and high-pass nodes ignore gain and quality", "[eq]")
{
    const auto type = GENERATE (FilterType::lowPass, FilterType::highPass);
    EqFixture fixture;
    const auto input = makeNoise (2048, 7);

    fixture.setNode (3, type, 1500.0f, 0.71f, 0.0f);
    fixture.eq.reset();
    const auto baseline = fixture.run (input);
    REQUIRE (maxAbsDifference (baseline, input) > 0.1f); // the filter does act

    for (const auto& [quality, gainDb] : { std::pair { 5.0f, 24.0f }, std::pair { 0.2f, -24.0f } })
    {
        fixture.setParameter ("filterQual3", quality);
        fixture.setParameter ("filterGain3", gainDb);
        fixture.eq.reset();
        CHECK (maxAbsDifference (fixture.run (input), baseline) == 0.0f);
    }
}

TEST_CASE ("Solo keeps the band of the selected node", "[eq][solo]")
{
    struct Case
    {
        const char* name;
        int node;
        FilterType type;
        float frequency, quality;
        int expectedStages;
        double expectedLowPass, expectedHighPass; // 0: no such filter
    };

    // Nodes 5, 1 and 4 keep their default frequencies (13 kHz, 100 Hz, 4 kHz) and quality 0.707.
    const Case cases[] {
        { "peak 1 kHz Q 1", 3, FilterType::peak, 1000.0f, 1.0f, 2, 1414.2, 707.1 },
        { "peak 30 Hz Q 0.2: lower edge raised to 20 Hz", 0, FilterType::peak, 30.0f, 0.2f, 2, 169.7, 20.0 },
        { "peak 13 kHz: upper edge lowered to 20 kHz", 5, FilterType::peak, 0.0f, 0.0f, 2, 20000.0, 7962.5 },
        { "low shelf 100 Hz: one low-pass at the node", 1, FilterType::lowShelf, 0.0f, 0.0f, 1, 100.0, 0.0 },
        { "high shelf 4 kHz: one high-pass at the node", 4, FilterType::highShelf, 0.0f, 0.0f, 1, 0.0, 4000.0 },
        { "low-pass node", 2, FilterType::lowPass, 350.0f, 0.71f, 1, 350.0, 0.0 },
        { "high-pass node", 2, FilterType::highPass, 350.0f, 0.71f, 1, 0.0, 350.0 },
    };

    for (const auto& c : cases)
    {
        INFO (c.name);
        EqFixture fixture;

        fixture.setParameter ("filterType" + juce::String (c.node), static_cast<float> (c.type));
        if (c.frequency > 0.0f)
        {
            fixture.setParameter ("filterFreq" + juce::String (c.node), c.frequency);
            fixture.setParameter ("filterQual" + juce::String (c.node), c.quality);
        }

        fixture.soloNode (c.node);
        CHECK (fixture.eq.isSoloOn());

        const auto response = fixture.impulseResponse();
        const auto band = fixture.eq.getSoloBand();
        CHECK (band.numStages == c.expectedStages);
        CHECK (band.lowPassFrequency == Approx (c.expectedLowPass).margin (0.1));
        CHECK (band.highPassFrequency == Approx (c.expectedHighPass).margin (0.1));

        // The signal: the node's own filter, then the band's Butterworth filters.
        const auto fs = fixture.sampleRate;
        const auto nodeReference = fixture.referenceNode (c.node);
        for (const auto frequency : { 30.0, 100.0, 300.0, 707.0, 1000.0, 2000.0, 5000.0, 9000.0, 15000.0 })
        {
            auto expected = nodeReference.magnitudeAt (frequency, fs);
            if (c.expectedLowPass > 0.0)
                expected *= cookbookLowPass (c.expectedLowPass, fs).magnitudeAt (frequency, fs);
            if (c.expectedHighPass > 0.0)
                expected *= cookbookHighPass (c.expectedHighPass, fs).magnitudeAt (frequency, fs);

            if (toDb (expected) < -60.0)
                continue;

            INFO ("at " << frequency << " Hz");
            CHECK (toDb (measuredMagnitude (response, frequency, fs)) == Approx (toDb (expected)).margin (0.1));
        }
    }
}

TEST_CASE ("Switching the solo target from a peak node to a high-pass node keeps the second filter's history", "[eq][solo]")
{
    EqFixture fixture;
    const auto fs = fixture.sampleRate;

    fixture.setNode (3, FilterType::peak, 1000.0f, 1.0f, 0.0f);
    fixture.setNode (4, FilterType::highPass, 200.0f, 0.71f, 0.0f);
    const auto peakFrequency = static_cast<double> (fixture.parameterValue ("filterFreq3"));
    const auto highPassNode = fixture.referenceNode (4);
    const auto bandLowPass = cookbookLowPass (peakFrequency * std::sqrt (2.0), fs);
    const auto bandHighPass = cookbookHighPass (peakFrequency / std::sqrt (2.0), fs);

    const auto segment = 4 * fixture.blockSize;
    const auto input = makeNoise (3 * segment, 3);

    // Segment 1 solos the peak node, segment 2 the high-pass node, segment 3 the peak node again.
    std::vector<float> output;
    for (int part = 0; part < 3; ++part)
    {
        fixture.soloNode (part == 1 ? 4 : 3);
        const std::vector<float> slice (input.begin() + part * segment, input.begin() + (part + 1) * segment);
        const auto processed = fixture.run (slice);
        output.insert (output.end(), processed.begin(), processed.end());
    }

    // The same chain in double precision, with and without clearing the second filter on return.
    const auto simulate = [&] (bool clearSecondOnReturn)
    {
        ReferenceFilter node, first, second;
        node.setCoefficients (highPassNode);
        second.setCoefficients (bandHighPass);

        std::vector<double> result;
        for (int n = 0; n < 3 * segment; ++n)
        {
            const auto part = n / segment;
            if (n % segment == 0)
            {
                first.setCoefficients (part == 1 ? highPassNode : bandLowPass);
                if (part == 2 && clearSecondOnReturn)
                    second.s1 = second.s2 = 0.0;
            }

            auto y = first.process (node.process (input[static_cast<size_t> (n)]));
            if (part != 1)
                y = second.process (y);
            result.push_back (y);
        }
        return result;
    };

    const auto kept = simulate (false);
    const auto cleared = simulate (true);

    double errorKept = 0.0, differenceIfCleared = 0.0;
    for (size_t n = 0; n < output.size(); ++n)
    {
        errorKept = std::max (errorKept, std::abs (output[n] - kept[n]));
        differenceIfCleared = std::max (differenceIfCleared, std::abs (kept[n] - cleared[n]));
    }

    CHECK (fixture.eq.getSoloBand().numStages == 2);
    CHECK (errorKept < 1.0e-4);
    CHECK (differenceIfCleared > 1.0e-2); // the check above would see a cleared history
}

TEST_CASE ("Solo without a usable selection leaves only the node filters", "[eq][solo]")
{
    EqFixture fixture;
    const auto input = makeNoise (2048, 5);

    SECTION ("nothing selected")
    {
        fixture.soloNode (-1);
    }

    SECTION ("the selection is cleared while solo stays on")
    {
        fixture.soloNode (3);
        fixture.run (input);
        fixture.editor.getSelection().reset();
    }

    SECTION ("a selection beyond the six nodes")
    {
        juce::Array<juce::var> entries;
        for (int i = 0; i < 8; ++i)
            entries.add (i == 7);
        fixture.tree.state.getChildWithName ("NonAudioParameters").setProperty ("selectedFilters", entries, nullptr);
        fixture.editor.getSoloValue() = true;
    }

    CHECK (fixture.eq.isSoloOn());
    fixture.eq.reset();
    CHECK (maxAbsDifference (fixture.run (input), input) <= 1.0e-6f);
}

TEST_CASE ("At 22.05 kHz nodes at 20 kHz stay stable", "[eq]")
{
    const auto type = GENERATE (FilterType::lowPass, FilterType::lowShelf, FilterType::peak, FilterType::highShelf, FilterType::highPass);
    const auto quality = GENERATE (0.2f, 5.0f);
    const auto gainDb = GENERATE (-24.0f, 24.0f);
    INFO ("type " << static_cast<int> (type) << ", Q " << quality << ", gain " << gainDb);

    EqFixture fixture { 22050.0 };
    for (int node = 0; node < 6; ++node)
        fixture.setNode (node, type, 20000.0f, quality, gainDb);
    fixture.soloNode (5);

    const auto response = fixture.impulseResponse();
    REQUIRE (isFiniteSignal (response));

    const auto tailStart = response.size() - 4096;
    CHECK (std::all_of (response.begin() + static_cast<long> (tailStart), response.end(), [] (float x) { return std::abs (x) < 1.0e-5f; }));

    const auto band = fixture.eq.getSoloBand();
    CHECK (band.lowPassFrequency < 11025.0f);
    CHECK (band.highPassFrequency < 11025.0f);

    if (type == FilterType::lowPass)
    {
        // Held just below Nyquist, a low-pass at 20 kHz still passes the audible band.
        fixture.editor.getSoloValue() = false;
        const auto passband = fixture.impulseResponse();
        CHECK (toDb (measuredMagnitude (passband, 1000.0, fixture.sampleRate)) == Approx (0.0).margin (0.1));
    }
}

TEST_CASE ("The equaliser follows a replaced state", "[eq][solo]")
{
    EqFixture fixture;
    auto oldNonAudio = fixture.tree.state.getChildWithName ("NonAudioParameters");

    auto newState = fixture.tree.copyState();
    auto newNonAudio = newState.getChildWithName ("NonAudioParameters");
    newNonAudio.setProperty ("soloNode", true, nullptr);
    newNonAudio.setProperty ("selectedFilters", juce::Array<juce::var> { false, false, true, false, false, false }, nullptr);

    fixture.tree.replaceState (newState);

    // Node 2 at its default peak at 350 Hz; the restored state carries its quality.
    CHECK (fixture.eq.isSoloOn());
    fixture.run (makeImpulse (fixture.blockSize));
    const auto ratio = std::pow (2.0, 0.5 / fixture.parameterValue ("filterQual2"));
    CHECK (fixture.eq.getSoloBand().numStages == 2);
    CHECK (fixture.eq.getSoloBand().lowPassFrequency == Approx (350.0 * ratio).epsilon (1.0e-4));
    CHECK (fixture.eq.getSoloBand().highPassFrequency == Approx (350.0 / ratio).epsilon (1.0e-4));

    // The old child no longer drives it; the editor's re-linked values do.
    oldNonAudio.setProperty ("soloNode", true, nullptr);
    fixture.editor.getSoloValue() = false;
    CHECK_FALSE (fixture.eq.isSoloOn());

    fixture.editor.getSoloValue() = true;
    fixture.editor.getSelection().set (2, false);
    fixture.editor.getSelection().set (4, true);
    fixture.run (makeImpulse (fixture.blockSize));
    CHECK (fixture.eq.getSoloBand().lowPassFrequency == Approx (4000.0 * ratio).epsilon (1.0e-4));
}

TEST_CASE ("The audio path sees solo flag and selection as one consistent pair while the host restores states", "[eq][solo][threads]")
{
    EqFixture fixture;

    // Two states: solo on node 1, and solo off with node 3 selected.
    const auto makeState = [&] (bool solo, int selected)
    {
        auto state = fixture.tree.copyState();
        juce::Array<juce::var> entries;
        for (int i = 0; i < 6; ++i)
            entries.add (i == selected);
        state.getChildWithName ("NonAudioParameters").setProperty ("soloNode", solo, nullptr);
        state.getChildWithName ("NonAudioParameters").setProperty ("selectedFilters", entries, nullptr);
        return state;
    };

    const auto soloState = makeState (true, 1);
    const auto plainState = makeState (false, 3);
    fixture.tree.replaceState (plainState);

    std::atomic<bool> finished { false };
    std::thread host ([&]
    {
        for (int i = 0; i < 500; ++i)
            fixture.tree.replaceState (i % 2 == 0 ? soloState : plainState);
        finished = true;
    });

    juce::AudioBuffer<float> buffer (2, 64);
    juce::dsp::AudioBlock<float> block (buffer);
    int inconsistent = 0, reads = 0;

    do
    {
        const auto snapshot = fixture.eq.getNodeGraphParameters().getSoloState();
        inconsistent += (snapshot.soloOn ? snapshot.selectedIndex != 1 : snapshot.selectedIndex != 3) ? 1 : 0;
        ++reads;

        buffer.clear();
        fixture.eq.process (juce::dsp::ProcessContextReplacing<float> (block));
    } while (! finished);

    host.join();
    CHECK (inconsistent == 0);
    CHECK (reads > 0);
    CHECK (isFiniteSignal (std::vector<float> (buffer.getReadPointer (0), buffer.getReadPointer (0) + 64)));
}

TEST_CASE ("Equaliser processing does not allocate", "[eq][realtime]")
{
    EqFixture fixture;
    fixture.setNode (3, FilterType::peak, 1000.0f, 1.0f, 6.0f);
    fixture.soloNode (3);

    juce::AudioBuffer<float> buffer (2, fixture.blockSize);
    juce::dsp::AudioBlock<float> block (buffer);
    const auto noise = makeNoise (fixture.blockSize, 11);
    for (int channel = 0; channel < 2; ++channel)
        buffer.copyFrom (channel, 0, noise.data(), fixture.blockSize);

    const auto processBlocks = [&]
    {
        const test_support::AllocationCounter counter;
        for (int i = 0; i < 8; ++i)
            fixture.eq.process (juce::dsp::ProcessContextReplacing<float> (block));
        return counter.allocations();
    };

    CHECK (processBlocks() == 0);

    // Changes between blocks are picked up without allocating either.
    fixture.setNode (1, FilterType::lowShelf, 300.0f, 2.0f, -6.0f);
    fixture.soloNode (1);
    CHECK (processBlocks() == 0);

    fixture.editor.getSoloValue() = false;
    CHECK (processBlocks() == 0);
}
