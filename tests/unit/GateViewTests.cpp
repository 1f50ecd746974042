#include "gui/Palette.h"
#include "gui/visualisation/DynamicProcessVisualisation.h"
#include "gui/visualisation/GenericVisualiser.h"
#include "support/TestSupport.h"

#include <catch2/catch.hpp>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace
{
/** Stands in for the plug-in's processor: the view only asks it for the sample rate. */
struct StandInProcessor
{
    double sampleRate = 44100.0;
    double getSampleRate() const { return sampleRate; }
};

using GateView = ombrel::DynamicProcessVisualisation<StandInProcessor>;

constexpr double bottomDecibels = -72.0, topDecibels = 6.0;

/** The display value of a level in dB, worked out from the scale: the 0.01 dB grid (nearest step,
    halves upwards), clamped to -72..+6 dB, then -72 dB -> -1 and +6 dB -> +1. */
double expectedDisplayValue (double decibels)
{
    if (std::isnan (decibels))
        return -1.0;

    auto snapped = bottomDecibels + 0.01 * std::floor ((decibels - bottomDecibels) / 0.01 + 0.5);
    snapped = std::min (std::max (snapped, bottomDecibels), topDecibels);
    return 2.0 * (snapped - bottomDecibels) / (topDecibels - bottomDecibels) - 1.0;
}

double unsnappedDisplayValue (double decibels)
{
    return 2.0 * (decibels - bottomDecibels) / (topDecibels - bottomDecibels) - 1.0;
}

float decibelsToGain (double decibels)
{
    return (float) std::pow (10.0, decibels / 20.0);
}

std::vector<juce::Range<float>> levelsOf (ombrel::GenericVisualiser<float>& trace, int& newest)
{
    std::vector<juce::Range<float>> levels ((size_t) trace.getBufferSize());
    newest = trace.copyLevels (0, levels.data(), (int) levels.size());
    return levels;
}

/** Pushes constant values through a trace in host-sized blocks. */
void pushConstant (ombrel::GenericVisualiser<float>& trace, float value, int numValues)
{
    juce::AudioBuffer<float> block (1, 512);

    while (numValues > 0)
    {
        const auto length = std::min (numValues, 512);
        block.setSize (1, length, false, false, true);
        juce::FloatVectorOperations::fill (block.getWritePointer (0), value, length);
        trace.pushBuffer (block);
        numValues -= length;
    }
}

bool sameColour (juce::Colour actual, juce::Colour expected, int tolerance = 2)
{
    return std::abs ((int) actual.getAlpha() - (int) expected.getAlpha()) <= tolerance
           && std::abs ((int) actual.getRed() - (int) expected.getRed()) <= tolerance
           && std::abs ((int) actual.getGreen() - (int) expected.getGreen()) <= tolerance
           && std::abs ((int) actual.getBlue() - (int) expected.getBlue()) <= tolerance;
}
} // namespace

//==============================================================================
TEST_CASE ("The gate view maps pushed levels onto its -72..+6 dB scale", "[gateview][mapping]")
{
    StandInProcessor processor;
    GateView view (processor);
    auto& trace = view.getDetectorTrace();

    SECTION ("Levels outside the scale land at its edges, levels on the 0.01 dB grid are unchanged")
    {
        struct Case
        {
            double decibels;
            double expected;
        };

        const auto infinity = std::numeric_limits<double>::infinity();
        const Case cases[] = {
            { -100.0, -1.0 }, { -72.004, -1.0 }, { -1000.0, -1.0 }, { -infinity, -1.0 },
            { std::numeric_limits<double>::quiet_NaN(), -1.0 },
            { 6.0, 1.0 }, { 6.004, 1.0 }, { 24.0, 1.0 }, { infinity, 1.0 },
            { -72.0, -1.0 }, { -33.0, 0.0 },
            { -12.34, unsnappedDisplayValue (-12.34) }, { 0.0, unsnappedDisplayValue (0.0) },
            { -71.99, unsnappedDisplayValue (-71.99) }, { 5.99, unsnappedDisplayValue (5.99) },
            { -45.67, unsnappedDisplayValue (-45.67) },
            // Off the grid: to the nearest hundredth of a dB.
            { -12.344, unsnappedDisplayValue (-12.34) }, { -12.346, unsnappedDisplayValue (-12.35) },
            { 3.0049, unsnappedDisplayValue (3.0) }, { -60.4351, unsnappedDisplayValue (-60.44) },
        };

        juce::AudioBuffer<float> block (2, (int) std::size (cases));

        for (int i = 0; i < block.getNumSamples(); ++i)
        {
            block.setSample (0, i, (float) cases[i].decibels);
            block.setSample (1, i, (float) cases[i].decibels);
        }

        trace.pushBuffer (block);

        for (int i = 0; i < block.getNumSamples(); ++i)
        {
            INFO ("level " << cases[i].decibels << " dB");
            CHECK (expectedDisplayValue (cases[i].decibels) == Approx (cases[i].expected).margin (1e-9));

            // One hundredth of a dB moves the display by 2.6e-4, far beyond float rounding.
            CHECK (block.getSample (0, i) == Approx (cases[i].expected).margin (2e-6));
            // Every channel of the scratch buffer is rewritten, not only the pushed one.
            CHECK (block.getSample (1, i) == block.getSample (0, i));
        }
    }

    SECTION ("Points hold the minimum and maximum of the values they cover")
    {
        const auto valuesPerPoint = trace.getSamplesPerBlock();
        juce::AudioBuffer<float> block (1, valuesPerPoint + 1);

        // -100 dB, then a ramp from -60 up to -10 dB; the last value starts the next point.
        for (int i = 0; i < valuesPerPoint; ++i)
            block.setSample (0, i, i == 0 ? -100.0f : (float) juce::jmap ((double) i, 1.0, (double) valuesPerPoint - 1.0, -60.0, -10.0));

        block.setSample (0, valuesPerPoint, 0.0f);
        trace.pushBuffer (block);

        int newest = 0;
        auto levels = levelsOf (trace, newest);
        REQUIRE (newest == 2); // index 1 holds the empty starting point
        CHECK (levels[2].getStart() == Approx (-1.0f));
        CHECK (levels[2].getEnd() == Approx (expectedDisplayValue (-10.0)).margin (2e-6));
    }
}

TEST_CASE ("Detector levels become decibels with a -100 dB floor", "[gateview][mapping]")
{
    struct Case
    {
        float level;
        float decibels;
    };

    const Case cases[] = {
        { 0.0f, -100.0f }, { -0.5f, -100.0f }, { -1.0f, -100.0f }, { 1.0e-6f, -100.0f }, { 1.0e-5f, -100.0f },
        { 1.0f, 0.0f }, { 0.5f, (float) (20.0 * std::log10 (0.5)) }, { 2.0f, (float) (20.0 * std::log10 (2.0)) },
        { decibelsToGain (-72.0), -72.0f }, { std::numeric_limits<float>::quiet_NaN(), -100.0f },
    };

    for (const auto& c : cases)
    {
        auto value = c.level;
        ombrel::convertLevelsToDecibels (&value, 1);
        INFO ("level " << c.level);
        CHECK (value == Approx (c.decibels).margin (1e-4));
    }
}

//==============================================================================
TEST_CASE ("A point of the gate view covers 3/128 s of audio", "[gateview][timing]")
{
    struct Case
    {
        double sampleRate;
        int valuesPerPoint;
    };

    // 44100 * 3 / 128 = 1033.59 (truncated), 96000 * 3 / 128 = 2250.
    const auto c = GENERATE (values<Case> ({ { 44100.0, 1033 }, { 96000.0, 2250 }, { 48000.0, 1125 } }));

    StandInProcessor processor { c.sampleRate };
    GateView view (processor);
    view.setBounds (0, 0, 300, 120);

    INFO ("sample rate " << c.sampleRate);
    CHECK (view.getSampleRate() == Approx (c.sampleRate));

    for (auto* trace : { &view.getDetectorTrace(), &view.getOutputTrace() })
    {
        CHECK (trace->getSamplesPerBlock() == c.valuesPerPoint);
        CHECK (trace->getBufferSize() == 128);
        // Three seconds of history, give or take the truncation.
        CHECK (128.0 * trace->getSamplesPerBlock() / c.sampleRate == Approx (3.0).epsilon (0.001));
    }

    // Five runs of values, each exactly one point long and each at its own level: if a point
    // covered one value more or less, runs would straddle points and widen their ranges.
    auto& trace = view.getDetectorTrace();
    juce::AudioBuffer<float> run (1, c.valuesPerPoint);

    for (int m = 0; m < 5; ++m)
    {
        juce::FloatVectorOperations::fill (run.getWritePointer (0), (float) (-60.0 + 10.0 * m), c.valuesPerPoint);
        trace.pushBuffer (run);
    }

    int newest = 0;
    auto levels = levelsOf (trace, newest);
    CHECK (newest == 5); // the first value stored the empty starting point at index 1

    pushConstant (trace, 0.0f, 1);
    levels = levelsOf (trace, newest);
    REQUIRE (newest == 6);

    CHECK (levels[1].getStart() == 0.0f);
    CHECK (levels[1].getEnd() == 0.0f);

    for (int m = 0; m < 5; ++m)
    {
        INFO ("run " << m);
        const auto expected = expectedDisplayValue (-60.0 + 10.0 * m);
        CHECK (levels[(size_t) (2 + m)].getStart() == Approx (expected).margin (2e-6));
        CHECK (levels[(size_t) (2 + m)].getEnd() == Approx (expected).margin (2e-6));
    }
}

TEST_CASE ("A processor without a sample rate yet gives the view a usable time scale", "[gateview][timing]")
{
    StandInProcessor processor { 0.0 };
    GateView view (processor);

    CHECK (view.getDetectorTrace().getSamplesPerBlock() == 1033);
    CHECK (view.getOutputTrace().getSamplesPerBlock() == 1033);
}

//==============================================================================
TEST_CASE ("The 128-point history survives a resize", "[gateview][ring]")
{
    StandInProcessor processor;
    GateView view (processor);
    view.setBounds (0, 0, 256, 160);

    auto& trace = view.getDetectorTrace();
    const auto valuesPerPoint = trace.getSamplesPerBlock();

    // Wrap the ring once and a half so that every point holds a distinct level.
    for (int point = 0; point < 192; ++point)
        pushConstant (trace, (float) (-70.0 + 0.37 * point), valuesPerPoint);

    int newestBefore = 0;
    const auto before = levelsOf (trace, newestBefore);

    view.setBounds (0, 0, 512, 333);
    view.setBounds (0, 0, 90, 40);

    int newestAfter = 0;
    const auto after = levelsOf (trace, newestAfter);

    CHECK (trace.getBufferSize() == 128);
    CHECK (trace.getBounds() == juce::Rectangle<int> (0, 0, 90, 40));
    CHECK (view.getOutputTrace().getBounds() == juce::Rectangle<int> (0, 0, 90, 40));
    CHECK (newestAfter == newestBefore);
    REQUIRE (after.size() == before.size());

    for (size_t i = 0; i < before.size(); ++i)
    {
        INFO ("point " << i);
        CHECK (after[i] == before[i]);
    }
}

TEST_CASE ("Changing the ring size keeps the points below the new size", "[gateview][ring]")
{
    ombrel::GenericVisualiser<float> trace (1, juce::NormalisableRange<float> (-1.0f, 1.0f));
    trace.setSamplesPerBlock (1);
    trace.setBufferSize (8);

    // One value per point: each value stores the one before it, so 0.1 .. 0.6 land at
    // indices 2 .. 7 and 0.7 is pending.
    for (int i = 1; i <= 7; ++i)
        pushConstant (trace, 0.1f * (float) i, 1);

    int newest = 0;
    auto levels = levelsOf (trace, newest);
    REQUIRE (newest == 7);

    SECTION ("Shrinking past the newest point restarts the ring at 0")
    {
        trace.setBufferSize (4);
        levels = levelsOf (trace, newest);
        CHECK (levels.size() == 4);
        CHECK (newest == 0);
        CHECK (levels[2].getEnd() == Approx (0.1f));
        CHECK (levels[3].getEnd() == Approx (0.2f));

        pushConstant (trace, 0.9f, 1);
        levels = levelsOf (trace, newest);
        CHECK (newest == 1);
        CHECK (levels[1].getEnd() == Approx (0.7f)); // the pending value survived
    }

    SECTION ("Growing shows empty points after the old ones")
    {
        trace.setBufferSize (4);
        trace.setBufferSize (12);
        levels = levelsOf (trace, newest);
        CHECK (levels.size() == 12);
        CHECK (levels[3].getEnd() == Approx (0.2f));

        for (size_t i = 4; i < 12; ++i)
            CHECK (levels[i] == juce::Range<float>());
    }

    SECTION ("Sizes are kept within the fixed storage")
    {
        trace.setBufferSize (0);
        CHECK (trace.getBufferSize() == 1);
        trace.setBufferSize (1000000);
        CHECK (trace.getBufferSize() == ombrel::GenericVisualiser<float>::maximumBufferSize);
    }
}

TEST_CASE ("Pushing from another thread while the view is resized and painted is safe", "[gateview][ring][threads]")
{
    StandInProcessor processor { 96000.0 };
    auto view = std::make_shared<GateView> (processor);
    view->setBounds (0, 0, 200, 100);
    view->getDetectorTrace().setSamplesPerBlock (1); // scroll as fast as possible
    view->getOutputTrace().setSamplesPerBlock (3);

    std::atomic<bool> running { true };
    std::atomic<int> blocksPushed { 0 };

    std::thread audioThread ([&] {
        juce::AudioBuffer<float> scratch (1, 64);
        std::vector<float> detector (256), output (256);
        auto phase = 0.0f;

        while (running.load())
        {
            for (size_t i = 0; i < detector.size(); ++i)
            {
                phase += 0.01f;
                detector[i] = 0.5f + 0.5f * std::sin (phase);
                output[i] = std::sin (phase * 3.0f);
            }

            view->pushBlock (detector.data(), (blocksPushed % 4 == 0) ? nullptr : output.data(), 256, scratch);
            ++blocksPushed;
        }
    });

    const int sizes[] = { 128, 2048, 7, 128, 1, 300 };
    int frames = 0;

    for (int round = 0; round < 150; ++round)
    {
        view->setBounds (0, 0, 100 + round % 7 * 30, 60 + round % 5 * 20);

        for (auto* trace : { &view->getDetectorTrace(), &view->getOutputTrace() })
            trace->setBufferSize (sizes[(size_t) round % std::size (sizes)]);

        auto image = view->createComponentSnapshot (view->getLocalBounds());
        frames += image.isValid() ? 1 : 0;
    }

    while (blocksPushed.load() < 100)
        std::this_thread::yield();

    running = false;
    audioThread.join();

    CHECK (frames == 150);

    for (auto* trace : { &view->getDetectorTrace(), &view->getOutputTrace() })
    {
        int newest = -1;
        const auto levels = levelsOf (*trace, newest);

        for (const auto& level : levels)
        {
            CHECK (level.getStart() >= -1.0f);
            CHECK (level.getEnd() <= 1.0f);
        }
    }
}

//==============================================================================
TEST_CASE ("Feeding the gate view allocates nothing", "[gateview][realtime]")
{
    StandInProcessor processor;
    GateView view (processor);
    view.setBounds (0, 0, 256, 200);

    juce::AudioBuffer<float> scratch (1, 512);
    juce::AudioBuffer<float> direct (2, 4096);
    direct.clear();
    std::vector<float> detector (4096, 0.25f), output (4096, -0.5f);

    test_support::AllocationCounter counter;

    // Longer blocks than the scratch buffer are pushed in pieces.
    view.pushBlock (detector.data(), output.data(), 4096, scratch);
    view.pushBlock (detector.data(), nullptr, 4096, scratch);
    view.pushBlock (detector.data(), output.data(), 17, scratch);
    view.getOutputTrace().pushBuffer (direct);

    CHECK (counter.allocations() == 0);
    CHECK (counter.frees() == 0);
}

TEST_CASE ("While the side chain is listened to, the output points have no height", "[gateview]")
{
    StandInProcessor processor;
    GateView view (processor);
    view.setBounds (0, 0, 256, 200);

    const auto valuesPerPoint = view.getOutputTrace().getSamplesPerBlock();
    const auto numSamples = 4 * valuesPerPoint + 1;
    juce::AudioBuffer<float> scratch (1, 1024);
    std::vector<float> detector ((size_t) numSamples, decibelsToGain (-20.0));
    std::vector<float> output ((size_t) numSamples);

    for (size_t i = 0; i < output.size(); ++i)
        output[i] = (i % 2 == 0) ? 0.5f : -0.5f;

    view.pushBlock (detector.data(), output.data(), numSamples, scratch);
    view.pushBlock (detector.data(), nullptr, numSamples, scratch);

    int newest = 0;
    const auto levels = levelsOf (view.getOutputTrace(), newest);
    REQUIRE (newest == 9);

    // Normal points span from the floor (negative samples) to the output level.
    for (int i = 3; i <= 5; ++i)
    {
        CHECK (levels[(size_t) i].getStart() == Approx (-1.0f));
        CHECK (levels[(size_t) i].getEnd() == Approx (expectedDisplayValue (20.0 * std::log10 (0.5))).margin (2e-6));
    }

    // The point that mixes both blocks reaches no higher than the output did ...
    CHECK (levels[6].getStart() == Approx (-1.0f));
    CHECK (levels[6].getEnd() == Approx (expectedDisplayValue (20.0 * std::log10 (0.5))).margin (2e-6));

    // ... and the points made while listening have zero height.
    for (int i = 7; i <= 9; ++i)
        CHECK (levels[(size_t) i].getLength() == 0.0f);

    // The detector line keeps moving.
    const auto detectorLevels = levelsOf (view.getDetectorTrace(), newest);
    CHECK (detectorLevels[9].getEnd() == Approx (expectedDisplayValue (-20.0)).margin (2e-6));
}

//==============================================================================
TEST_CASE ("A headless render shows the detector line over the filled output area", "[gateview][render]")
{
    StandInProcessor processor;
    GateView view (processor);

    // 128 points over 256 pixels: 2 pixels per point; -72..+6 dB over 200 pixels.
    constexpr int width = 256, height = 200;
    view.setBounds (0, 0, width, height);
    view.setVisible (true);

    CHECK_FALSE (view.isOpaque());
    CHECK_FALSE (view.getDetectorTrace().isOpaque());
    CHECK_FALSE (view.getOutputTrace().isOpaque());
    CHECK_FALSE (view.getDetectorTrace().isFillMode());
    CHECK (view.getOutputTrace().isFillMode());
    CHECK (view.getIndexOfChildComponent (&view.getOutputTrace()) < view.getIndexOfChildComponent (&view.getDetectorTrace()));

    // The detector sits at -13.5 dB (three quarters up: y = 50); the output alternates between
    // silence and -52.5 dB (a quarter up: y = 150), so its area spans y = 150 .. 200.
    const auto valuesPerPoint = view.getDetectorTrace().getSamplesPerBlock();
    const auto numSamples = 64 * valuesPerPoint + 1;
    std::vector<float> detector ((size_t) numSamples, decibelsToGain (-13.5));
    std::vector<float> output ((size_t) numSamples);

    for (size_t i = 0; i < output.size(); ++i)
        output[i] = (i % 2 == 0) ? 0.0f : decibelsToGain (-52.5);

    juce::AudioBuffer<float> scratch (1, 512);

    for (int start = 0; start < numSamples; start += 4096)
        view.pushBlock (detector.data() + start, output.data() + start, std::min (4096, numSamples - start), scratch);

    const auto image = view.createComponentSnapshot (view.getLocalBounds(), true, 1.0f);
    REQUIRE (image.getWidth() == width);
    REQUIRE (image.getHeight() == height);

    const auto transparent = juce::Colour (0x00000000);
    const auto line = ombrel::colours::gate_graph_line;
    const auto area = ombrel::colours::gate_graph_area;

    struct Probe
    {
        int x, y;
        juce::Colour expected;
        const char* what;
    };

    // The 64 new points fill the right half (x 128 .. 254, newest at x = 254); the left half
    // still shows the empty starting points: the line at mid-height and no area.
    const Probe probes[] = {
        { 200, 49, line, "detector line, upper row" },
        { 200, 50, line, "detector line, lower row" },
        { 200, 48, area, "halo above the line" },
        { 200, 51, area, "halo below the line" },
        { 200, 46, transparent, "above the halo" },
        { 200, 53, transparent, "below the halo" },
        { 200, 100, transparent, "between line and area" },
        { 200, 148, transparent, "just above the area" },
        { 200, 152, area, "top of the output area" },
        { 200, 175, area, "inside the output area" },
        { 200, 199, area, "bottom of the output area" },
        { 140, 175, area, "oldest new point" },
        { 60, 99, line, "empty points: line at mid-height" },
        { 60, 100, line, "empty points: line at mid-height" },
        { 60, 50, transparent, "empty points: nothing at the new level" },
        { 60, 175, transparent, "empty points: no output area" },
        { 255, 175, transparent, "right of the newest point" },
    };

    for (const auto& probe : probes)
    {
        const auto actual = image.getPixelAt (probe.x, probe.y);
        INFO (probe.what << " at (" << probe.x << ", " << probe.y << "): " << actual.toDisplayString (true));
        CHECK (sameColour (actual, probe.expected));
    }
}
