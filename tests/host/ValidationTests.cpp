// Strict validation of the built bundles through JUCE's VST3 and LV2 hosting, the way plug-in
// validators probe a plug-in: lifetimes, every rate and block size, layouts, automation, text
// conversions and state, garbage included. The output must stay finite and the latency exact.

#include "host/HostedPlugin.h"

#include <catch2/catch.hpp>

#include <atomic>
#include <cmath>
#include <thread>

using namespace host_support;

namespace
{
using Set = juce::AudioChannelSet;

Format formatUnderTest()
{
    return GENERATE (Format::vst3, Format::lv2);
}

int bufferChannels (const juce::AudioPluginInstance& plugin)
{
    return juce::jmax (plugin.getTotalNumInputChannels(), plugin.getTotalNumOutputChannels());
}

// Drum-like test material: noise bursts at levels from silence to +12 dBFS, with the odd click.
void fillDrumLike (juce::AudioBuffer<float>& buffer, int numSamples, juce::Random& random)
{
    const float levels[] = { 0.0f, 0.001f, 0.05f, 0.5f, 1.0f, 4.0f };
    buffer.setSize (buffer.getNumChannels(), numSamples, false, false, true);

    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
    {
        const auto level = levels[random.nextInt ((int) std::size (levels))];
        auto* samples = buffer.getWritePointer (ch);
        for (int i = 0; i < numSamples; ++i)
            samples[i] = level * (random.nextFloat() * 2.0f - 1.0f) * std::exp (-0.001f * (float) i);

        if (numSamples > 0 && random.nextInt (4) == 0)
            samples[random.nextInt (numSamples)] = level > 0.0f ? 1.0f : 0.0f;
    }
}

/** Processes one block and fails the test unless every output sample is finite. */
void processChecked (juce::AudioPluginInstance& plugin, juce::AudioBuffer<float>& buffer)
{
    juce::MidiBuffer midi;
    plugin.processBlock (buffer, midi);
    REQUIRE (allFinite (buffer, plugin.getTotalNumOutputChannels()));
}

void processDrumBlocks (juce::AudioPluginInstance& plugin, int numBlocks, int maximumBlockSize, juce::Random& random)
{
    juce::AudioBuffer<float> buffer (bufferChannels (plugin), maximumBlockSize);
    for (int block = 0; block < numBlocks; ++block)
    {
        fillDrumLike (buffer, random.nextInt (maximumBlockSize + 1), random);
        processChecked (plugin, buffer);
    }
}

std::vector<float> parameterValues (juce::AudioPluginInstance& plugin)
{
    std::vector<float> values;
    for (auto* p : pluginParameters (plugin))
        values.push_back (p->getValue());
    return values;
}

/** "" when both lists of host values mean the same settings, else the first parameter that
    differs. Hosts keep the raw value they last sent (a switch may read 0.0006) or get the
    plug-in's value back through a float conversion, so values count as equal when they are
    within float noise or show the same text. */
juce::String firstDifference (juce::AudioPluginInstance& plugin, const std::vector<float>& actual, const std::vector<float>& expected)
{
    const auto parameters = pluginParameters (plugin);
    if (actual.size() != expected.size() || (size_t) parameters.size() != expected.size())
        return "different parameter counts";

    for (size_t i = 0; i < expected.size(); ++i)
    {
        const auto* parameter = parameters[(int) i];
        // JUCE's LV2 host keeps the unsnapped value it last sent until the plug-in reports a change,
        // so a value and its 0.01-step neighbour (1e-4 of a 0-100 range) count as the same.
        if (std::abs (actual[i] - expected[i]) <= 1.0e-4f || parameter->getText (actual[i], 1024) == parameter->getText (expected[i], 1024))
            continue;

        return parameter->getName (1024) + ": " + juce::String (actual[i], 7) + " instead of " + juce::String (expected[i], 7);
    }

    return {};
}

void setRandomValues (juce::AudioPluginInstance& plugin, juce::Random& random)
{
    for (auto* p : pluginParameters (plugin))
        p->setValueNotifyingHost (random.nextFloat());
}

juce::MemoryBlock hostState (juce::AudioPluginInstance& plugin)
{
    juce::MemoryBlock state;
    plugin.getStateInformation (state);
    return state;
}

/** A short run that lets the host and plug-in exchange pending parameter values (LV2 reports
    values back to the host only while running). */
void settle (juce::AudioPluginInstance& plugin)
{
    juce::AudioBuffer<float> silence (bufferChannels (plugin), 64);
    silence.clear();
    processChecked (plugin, silence);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
}

/** The values as the plug-in holds them. A host shows the raw value it last sent; the plug-in
    reports its own (snapped to steps) only for values that a restore changes. */
std::vector<float> valuesAfterRestoring (juce::AudioPluginInstance& plugin, const juce::MemoryBlock& state)
{
    plugin.setStateInformation (state.getData(), (int) state.getSize());
    settle (plugin);
    return parameterValues (plugin);
}

juce::AudioProcessor::BusesLayout layoutOf (Set main, Set sideChain)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses = { main, sideChain };
    layout.outputBuses = { main };
    return layout;
}
} // namespace

TEST_CASE ("Instances are created, used and destroyed many times", "[host][validation]")
{
    const auto format = formatUnderTest();
    INFO (formatName (format));
    juce::Random random (1);

    for (int round = 0; round < 24; ++round)
    {
        auto plugin = loadBuiltPlugin (format, 44100.0, 256);
        if (round % 3 == 0)
            continue; // destroyed without ever being prepared

        plugin->prepareToPlay (44100.0, 256);
        processDrumBlocks (*plugin, 3, 256, random);

        if (round % 3 == 1)
            plugin->releaseResources(); // otherwise destroyed while prepared
    }

    // Several instances alive at once, processed in turn and destroyed out of creation order.
    std::vector<std::unique_ptr<juce::AudioPluginInstance>> alive;
    for (int i = 0; i < 4; ++i)
    {
        alive.push_back (loadBuiltPlugin (format, 48000.0, 128));
        alive.back()->prepareToPlay (48000.0, 128);
    }

    for (int block = 0; block < 8; ++block)
        for (auto& plugin : alive)
            processDrumBlocks (*plugin, 1, 128, random);

    for (auto index : { 2, 0, 3, 1 })
        alive[(size_t) index].reset();
}

TEST_CASE ("Every sample rate and maximum block size with block sizes that vary per call", "[host][validation]")
{
    const auto format = formatUnderTest();
    INFO (formatName (format));
    juce::Random random (2);

    // One instance re-prepared from configuration to configuration, as a host changing its
    // device settings does.
    auto plugin = loadBuiltPlugin (format, 44100.0, 512);

    for (const auto rate : { 22050.0, 44100.0, 48000.0, 88200.0, 96000.0, 192000.0 })
    {
        for (const auto maximum : { 1, 7, 64, 512, 4096 })
        {
            INFO (rate << " Hz, at most " << maximum << " samples per block");
            plugin->prepareToPlay (rate, maximum);

            // A floor of 0 dB leaves the gate open and without debleed the plug-in is a pure delay
            // of its latency. Silence first lets the gain ramps settle.
            parameterWithId (*plugin, "floor").setValueNotifyingHost (1.0f);
            parameterWithId (*plugin, "debleed").setValueNotifyingHost (0.0f);
            const auto latency = expectedLatency (rate);
            REQUIRE (reportedLatency (*plugin, latency) == latency);

            juce::AudioBuffer<float> silence (bufferChannels (*plugin), maximum);
            for (int settled = 0; settled < (int) (0.05 * rate); settled += maximum)
            {
                silence.clear();
                processChecked (*plugin, silence);
            }

            // An impulse, sent in calls of every kind of size: full, empty, single, one short of
            // the maximum and random. Halfway through the delay the host re-prepares with the same
            // values, which keeps the plug-in's state. JUCE's LV2 host instead builds a new
            // plug-in instance on every preparation (an LV2 plug-in's rate is fixed when it is
            // instantiated), so there the delay line cannot survive it and LV2 skips this step.
            const auto reprepareMidway = format == Format::vst3;
            const auto length = latency + 32;
            juce::AudioBuffer<float> output (2, length);
            juce::AudioBuffer<float> block (bufferChannels (*plugin), maximum);
            bool reprepared = ! reprepareMidway;

            for (int start = 0, call = 0; start < length; ++call)
            {
                const int sizes[] = { maximum, 0, 1, juce::jmax (1, maximum - 1), random.nextInt (maximum + 1) };
                const auto size = juce::jmin (sizes[call % 5], length - start);

                block.setSize (block.getNumChannels(), size, false, false, true);
                block.clear();
                if (start == 0 && size > 0)
                {
                    block.setSample (0, 0, 0.5f);
                    block.setSample (1, 0, -0.25f);
                }

                processChecked (*plugin, block);
                for (int ch = 0; ch < 2; ++ch)
                    output.copyFrom (ch, start, block, ch, 0, size);
                start += size;

                if (! reprepared && start >= latency / 2)
                {
                    plugin->releaseResources();
                    plugin->prepareToPlay (rate, maximum);
                    reprepared = true;
                }
            }

            for (int ch = 0; ch < 2; ++ch)
            {
                INFO ("channel " << ch);
                CHECK (output.getSample (ch, latency) == Approx (ch == 0 ? 0.5f : -0.25f).margin (1.0e-4));
                CHECK (output.getMagnitude (ch, 0, latency) < 1.0e-6f);
                CHECK (output.getMagnitude (ch, latency + 1, length - latency - 1) < 1.0e-3f);
            }

            // Then drum-like material at every level, in blocks of random sizes.
            processDrumBlocks (*plugin, 16, maximum, random);
            CHECK (reportedLatency (*plugin, latency) == latency);
        }
    }
}

TEST_CASE ("Main layouts mono and stereo with the side-chain enabled and disabled", "[host][validation]")
{
    const auto format = formatUnderTest();
    INFO (formatName (format));

    // JUCE's LV2 wrapper publishes one fixed set of ports (the default layout: stereo main and a
    // required stereo side-chain), so only that layout exists in LV2.
    struct Case
    {
        Set main, sideChain;
        bool vst3, lv2;
    };

    const Case cases[] = {
        { Set::stereo(), Set::stereo(), true, true },
        { Set::stereo(), Set::mono(), true, false },
        { Set::stereo(), Set::disabled(), true, false },
        { Set::mono(), Set::stereo(), true, false },
        { Set::mono(), Set::mono(), true, false },
        { Set::mono(), Set::disabled(), true, false },
    };

    auto plugin = loadBuiltPlugin (format, 48000.0, 256);

    for (const auto& c : cases)
    {
        INFO ("main " << c.main.getDescription() << ", side-chain " << c.sideChain.getDescription());
        plugin->releaseResources();
        const auto supported = format == Format::vst3 ? c.vst3 : c.lv2;
        REQUIRE (plugin->setBusesLayout (layoutOf (c.main, c.sideChain)) == supported);
        if (! supported)
            continue;

        plugin->prepareToPlay (48000.0, 256);
        REQUIRE (plugin->getTotalNumOutputChannels() == c.main.size());
        REQUIRE (plugin->getTotalNumInputChannels() == c.main.size() + c.sideChain.size());

        // A quiet main signal, well under the threshold, and a loud side-chain: only a gate keyed
        // by the side-chain opens; otherwise the default floor holds the output 40 dB down.
        const auto rms = [&] (bool sideChainOn)
        {
            parameterWithId (*plugin, "sidechainToggle").setValueNotifyingHost (sideChainOn ? 1.0f : 0.0f);
            juce::Random random (3);
            juce::AudioBuffer<float> block (bufferChannels (*plugin), 256);
            double inSum = 0.0, outSum = 0.0;

            for (int index = 0; index < 60; ++index)
            {
                for (int ch = 0; ch < block.getNumChannels(); ++ch)
                    for (int i = 0; i < 256; ++i)
                        block.setSample (ch, i, (ch < c.main.size() ? 0.003f : 0.5f) * (random.nextFloat() * 2.0f - 1.0f));

                for (int i = 0; i < 256 && index >= 30; ++i)
                    inSum += (double) block.getSample (0, i) * block.getSample (0, i);

                processChecked (*plugin, block);

                for (int i = 0; i < 256 && index >= 30; ++i)
                    outSum += (double) block.getSample (0, i) * block.getSample (0, i);
            }

            return 10.0 * std::log10 (outSum / inSum);
        };

        CHECK (rms (false) == Approx (-40.0).margin (1.0));
        CHECK (rms (true) == Approx (c.sideChain.isDisabled() ? -40.0 : 0.0).margin (1.0));
        CHECK (reportedLatency (*plugin, 480) == 480);
    }

    // Layouts the plug-in refuses in every format.
    plugin->releaseResources();
    auto monoToStereo = layoutOf (Set::mono(), Set::stereo());
    monoToStereo.outputBuses = { Set::stereo() };
    CHECK_FALSE (plugin->setBusesLayout (monoToStereo));
    CHECK_FALSE (plugin->setBusesLayout (layoutOf (Set::create5point1(), Set::stereo())));
}

TEST_CASE ("Random automation of every parameter while processing", "[host][validation]")
{
    const auto format = formatUnderTest();
    INFO (formatName (format));
    juce::Random random (4);

    auto plugin = loadBuiltPlugin (format, 48000.0, 256);
    plugin->prepareToPlay (48000.0, 256);
    const auto parameters = pluginParameters (*plugin);
    REQUIRE (parameters.size() == 54);

    // Between blocks, as a host delivers automation: every parameter in turn, plus random ones,
    // with the extremes of each range among the values.
    juce::AudioBuffer<float> buffer (bufferChannels (*plugin), 256);
    for (int block = 0; block < 1500; ++block)
    {
        const auto pick = [&] { return random.nextInt (5) == 0 ? (float) random.nextInt (2) : random.nextFloat(); };
        parameters[block % parameters.size()]->setValueNotifyingHost (pick());
        for (int extra = 0; extra < 3; ++extra)
            parameters[random.nextInt (parameters.size())]->setValueNotifyingHost (pick());

        fillDrumLike (buffer, random.nextInt (257), random);
        INFO ("block " << block);
        processChecked (*plugin, buffer);
    }

    CHECK (reportedLatency (*plugin, 480) == 480);

    // From the message thread while another thread processes, as when a user moves controls
    // during playback.
    std::atomic<bool> running { true }, allFiniteSoFar { true };
    std::atomic<int> blocksDone { 0 };
    std::thread audioThread ([&]
    {
        juce::Random audioRandom (5);
        juce::AudioBuffer<float> block (bufferChannels (*plugin), 256);
        juce::MidiBuffer midi;
        while (running)
        {
            fillDrumLike (block, audioRandom.nextInt (257), audioRandom);
            plugin->processBlock (block, midi);
            if (! allFinite (block, 2))
                allFiniteSoFar = false;
            ++blocksDone;
        }
    });

    for (int change = 0; change < 5000 || blocksDone < 200; ++change)
    {
        parameters[random.nextInt (parameters.size())]->setValueNotifyingHost (random.nextFloat());
        if (change % 50 == 0)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }

    running = false;
    audioThread.join();
    CHECK (allFiniteSoFar);
    CHECK (blocksDone >= 200);
}

TEST_CASE ("Every parameter's text converts to a value that shows the same text", "[host][validation]")
{
    const auto format = formatUnderTest();
    INFO (formatName (format));
    auto plugin = loadBuiltPlugin (format);
    juce::Random random (6);

    for (auto* parameter : pluginParameters (*plugin))
    {
        std::vector<float> values { 0.0f, 0.1f, 0.25f, 0.5f, 0.75f, 0.9f, 1.0f, parameter->getDefaultValue() };
        for (int i = 0; i < 8; ++i)
            values.push_back (random.nextFloat());

        for (auto value : values)
        {
            const auto text = parameter->getText (value, 1024);
            const auto parsed = parameter->getValueForText (text);
            INFO (parameter->getName (1024) << ": " << value << " shows \"" << text << "\", which reads back as " << parsed);
            CHECK (text.isNotEmpty());
            CHECK (parsed >= 0.0f);
            CHECK (parsed <= 1.0f);
            CHECK (parameter->getText (parsed, 1024) == text);
        }
    }
}

TEST_CASE ("Steps of discrete parameters survive their text", "[host][validation]")
{
    const auto format = formatUnderTest();
    INFO (formatName (format));
    auto plugin = loadBuiltPlugin (format);

    for (auto* parameter : pluginParameters (*plugin))
    {
        // Choices, switches and the few stepped values; fine-grained ranges are covered above.
        const auto steps = parameter->getNumSteps();
        if (steps < 2 || steps > 32)
            continue;

        for (int step = 0; step < steps; ++step)
        {
            const auto value = (float) step / (float) (steps - 1);
            const auto text = parameter->getText (value, 1024);
            INFO (parameter->getName (1024) << ", step " << step << " of " << steps << " shows \"" << text << "\"");
            CHECK (parameter->getValueForText (text) == Approx (value).margin (1.0e-4));
        }
    }
}

TEST_CASE ("State travels between instances and across formats", "[host][validation][state]")
{
    const auto format = formatUnderTest();
    INFO (formatName (format));
    juce::Random random (7);

    auto original = loadBuiltPlugin (format, 48000.0, 256);
    original->prepareToPlay (48000.0, 256);
    setRandomValues (*original, random);
    settle (*original);
    const auto saved = hostState (*original);

    auto restored = loadBuiltPlugin (format, 48000.0, 256);
    restored->prepareToPlay (48000.0, 256);

    // The host learns the plug-in's own (step-snapped) values only when the plug-in changes them
    // itself, as on a restore: go through the defaults and back so it sees every one.
    const auto defaults = hostState (*restored);
    valuesAfterRestoring (*original, defaults);
    const auto expectedValues = valuesAfterRestoring (*original, saved);

    // Into a fresh instance: same values, and the plug-in hands out the values it was given.
    restored->setStateInformation (saved.getData(), (int) saved.getSize());
    settle (*restored);

    CHECK (firstDifference (*restored, parameterValues (*restored), expectedValues) == "");

    const auto pluginState = pluginStateInside (format, saved);
    REQUIRE (pluginState.getSize() > 9);
    CHECK (stateDifference (pluginStateInside (format, hostState (*restored)), pluginState) == "");

    // The same plug-in bytes wrapped by the other format's host give the same plug-in state.
    const auto other = format == Format::vst3 ? Format::lv2 : Format::vst3;
    auto crossed = loadBuiltPlugin (other, 48000.0, 256);
    crossed->prepareToPlay (48000.0, 256);
    const auto crossedTemplate = hostState (*crossed);
    const auto crossedState = withPluginState (other, crossedTemplate, pluginState);
    crossed->setStateInformation (crossedState.getData(), (int) crossedState.getSize());
    settle (*crossed);
    CHECK (stateDifference (pluginStateInside (other, hostState (*crossed)), pluginState) == "");
}

TEST_CASE ("Garbage state changes nothing and never breaks the plug-in", "[host][validation][state]")
{
    const auto format = formatUnderTest();
    INFO (formatName (format));
    juce::Random random (8);

    auto plugin = loadBuiltPlugin (format, 48000.0, 256);
    plugin->prepareToPlay (48000.0, 256);
    setRandomValues (*plugin, random);
    settle (*plugin);

    const auto goodHostState = hostState (*plugin);
    const auto goodPluginState = pluginStateInside (format, goodHostState);
    REQUIRE (goodPluginState.getSize() > 9);
    const auto goodValues = valuesAfterRestoring (*plugin, goodHostState);

    const auto randomBytes = [&] (size_t size)
    {
        juce::MemoryBlock bytes (size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = (char) random.nextInt (256);
        return bytes;
    };

    const auto header = [] (juce::int32 length)
    {
        juce::MemoryBlock bytes ("VC2!", 4);
        const auto littleEndian = juce::ByteOrder::swapIfBigEndian (length);
        bytes.append (&littleEndian, 4);
        return bytes;
    };

    const auto requireUnchanged = [&] (const juce::String& what)
    {
        INFO (what);
        settle (*plugin);
        CHECK (firstDifference (*plugin, parameterValues (*plugin), goodValues) == "");
        CHECK (stateDifference (pluginStateInside (format, hostState (*plugin)), goodPluginState) == "");
        processDrumBlocks (*plugin, 4, 256, random);
    };

    // Garbage where the host expects its own saved state.
    for (auto size : { 1, 8, 9, 100, 5000 })
    {
        const auto bytes = randomBytes ((size_t) size);
        plugin->setStateInformation (bytes.getData(), (int) bytes.getSize());
        requireUnchanged ("host state of " + juce::String (size) + " random bytes");
    }

    // Garbage that the host hands on to the plug-in: invalid in every way the plug-in checks.
    std::vector<std::pair<juce::String, juce::MemoryBlock>> invalid {
        { "nothing", {} },
        { "the magic alone", juce::MemoryBlock ("VC2!", 4) },
        { "8 header bytes", header (100) },
        { "100 random bytes", randomBytes (100) },
        { "5000 random bytes", randomBytes (5000) },
        { "a zero length", [&] { auto b = header (0); b.append ("<a/>", 5); return b; }() },
        { "a negative length", [&] { auto b = header (-5); b.append ("<a/>", 5); return b; }() },
        { "a length far past the end", [&] { auto b = header (0x7fffffff); b.append ("<BrimvaleParameters", 19); return b; }() },
        { "text that is not XML", [&] { auto b = header (20); b.append ("this is not XML at all", 21); return b; }() },
    };

    for (auto cut : { (size_t) 9, (size_t) 20, goodPluginState.getSize() / 3, goodPluginState.getSize() / 2, goodPluginState.getSize() - 12, goodPluginState.getSize() - 2 })
        invalid.push_back ({ "the valid state cut to " + juce::String ((int) cut) + " bytes", juce::MemoryBlock (goodPluginState.getData(), cut) });

    for (const auto& [what, bytes] : invalid)
    {
        const auto wrapped = withPluginState (format, goodHostState, bytes);
        plugin->setStateInformation (wrapped.getData(), (int) wrapped.getSize());
        requireUnchanged ("plug-in state of " + what);
    }

    // Corrupted but perhaps still parsable states may change values; they must not break anything.
    for (int round = 0; round < 20; ++round)
    {
        auto corrupted = goodPluginState;
        for (int flip = 0; flip < 1 + round % 4; ++flip)
            corrupted[(size_t) random.nextInt ((int) corrupted.getSize())] = (char) random.nextInt (256);

        const auto wrapped = withPluginState (format, goodHostState, corrupted);
        plugin->setStateInformation (wrapped.getData(), (int) wrapped.getSize());
        INFO ("corruption round " << round);
        settle (*plugin);
        processDrumBlocks (*plugin, 4, 256, random);
    }

    // The good state still restores afterwards.
    plugin->setStateInformation (goodHostState.getData(), (int) goodHostState.getSize());
    requireUnchanged ("the good state again");
    CHECK (reportedLatency (*plugin, 480) == 480);
}
