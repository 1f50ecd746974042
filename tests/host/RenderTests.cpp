#include "host/HostedPlugin.h"
#include "host/RenderScenario.h"

#include <catch2/catch.hpp>

#include <cmath>

using namespace host_support;
using namespace render_scenario;

namespace
{
struct Reference
{
    Render automated, settled;
    std::map<juce::String, float> normalised;
};

// The same fixture rendered by the processor linked in-process, by a separate tool (this test
// binary has its own JUCE and cannot link the plug-in's code).
const Reference& reference()
{
    static Reference cached;
    if (cached.automated.latency >= 0)
        return cached;

    const auto folder = juce::File (SORVANTA_HOST_TEST_TMP).getChildFile ("reference");
    folder.deleteRecursively();

    juce::ChildProcess tool;
    REQUIRE (tool.start (juce::StringArray { SORVANTA_REFERENCE_RENDER, folder.getFullPathName() }));
    const auto output = tool.readAllProcessOutput();
    INFO (output);
    REQUIRE (tool.waitForProcessToFinish (60000));
    REQUIRE (tool.getExitCode() == 0);

    Reference loaded { readRender (folder.getChildFile ("automated.f32")),
                       readRender (folder.getChildFile ("settled.f32")),
                       readNormalisedValues (folder.getChildFile ("normalised.txt")) };
    REQUIRE (loaded.automated.latency >= 0);
    REQUIRE (loaded.settled.latency >= 0);
    REQUIRE (loaded.normalised.size() == initialSettings().size() + automatedSettings().size());

    cached = std::move (loaded);
    return cached;
}

// VST3 hands the host the plug-in's own normalised values. JUCE's LV2 host maps the declared
// minimum and maximum linearly instead, so there the real value is given as text.
float hostValueFor (Format format, juce::AudioProcessorParameter& parameter, const Setting& setting, const juce::String& group)
{
    if (format == Format::vst3)
        return reference().normalised.at (group + "." + setting.id);

    if (parameter.isBoolean())
        return setting.value > 0.5f ? 1.0f : 0.0f;

    return parameter.getValueForText (juce::String (setting.value));
}

void applyThroughHost (Format format, juce::AudioPluginInstance& plugin, const std::vector<Setting>& settings, const juce::String& group)
{
    for (const auto& setting : settings)
    {
        auto& parameter = parameterWithId (plugin, setting.id);
        parameter.beginChangeGesture();
        parameter.setValueNotifyingHost (hostValueFor (format, parameter, setting, group));
        parameter.endChangeGesture();
    }
}

juce::AudioProcessor::BusesLayout stereoWithStereoSideChain()
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses = { juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo() };
    layout.outputBuses = { juce::AudioChannelSet::stereo() };
    return layout;
}

void prepareForScenario (juce::AudioPluginInstance& plugin)
{
    REQUIRE (plugin.setBusesLayout (stereoWithStereoSideChain()));
    REQUIRE (plugin.getTotalNumInputChannels() == 4);
    REQUIRE (plugin.getTotalNumOutputChannels() == 2);
    plugin.prepareToPlay (sampleRate, maximumBlockSize);
}

enum class Settings
{
    throughParameters,
    alreadyRestored
};

Render renderThroughHost (Format format, juce::AudioPluginInstance& plugin, Variant variant, Settings settings)
{
    if (settings == Settings::throughParameters)
    {
        applyThroughHost (format, plugin, initialSettings(), "initial");
        if (variant == Variant::settled)
            applyThroughHost (format, plugin, automatedSettings(), "automated");
    }

    Render result;
    result.audio = renderFixtureInBlocks (
        [&] (int blockIndex)
        {
            if (variant == Variant::automated && blockIndex == automationBlock)
                applyThroughHost (format, plugin, automatedSettings(), "automated");
            return true;
        },
        [&] (juce::AudioBuffer<float>& block, juce::MidiBuffer& midi) { plugin.processBlock (block, midi); });

    result.latency = reportedLatency (plugin, expectedLatency (sampleRate));
    return result;
}

void requireSameRender (const Render& actual, const Render& expected)
{
    REQUIRE (actual.latency == expected.latency);
    REQUIRE (actual.audio.getNumChannels() == expected.audio.getNumChannels());
    REQUIRE (actual.audio.getNumSamples() == expected.audio.getNumSamples());

    for (int ch = 0; ch < expected.audio.getNumChannels(); ++ch)
    {
        float worst = 0.0f;
        int worstIndex = -1;
        for (int i = 0; i < expected.audio.getNumSamples(); ++i)
        {
            const auto difference = std::abs (actual.audio.getSample (ch, i) - expected.audio.getSample (ch, i));
            if (! (difference <= worst)) // also catches NaN
            {
                worst = difference;
                worstIndex = i;
            }
        }

        INFO ("channel " << ch << ", largest difference " << worst << " at sample " << worstIndex
                         << " (" << worstIndex - expected.latency << " after the latency)");
        CHECK (worst <= 1.0e-6f);
    }
}

double energyDb (const juce::AudioBuffer<float>& buffer, int channel, int start, int length)
{
    double sum = 0.0;
    for (int i = start; i < start + length; ++i)
        sum += (double) buffer.getSample (channel, i) * buffer.getSample (channel, i);

    return 10.0 * std::log10 (sum / length + 1.0e-30);
}

Format formatUnderTest()
{
    return GENERATE (Format::vst3, Format::lv2);
}
} // namespace

TEST_CASE ("The in-process reference render gates the fixture by its side-chain", "[host][render]")
{
    // Guards the comparisons below: a render in which nothing happens would match trivially.
    const auto& render = reference().settled;
    REQUIRE (render.latency == expectedLatency (sampleRate));
    const auto fixture = makeDrumFixture();
    const auto window = (int) (0.03 * sampleRate);
    const auto at = [] (double seconds) { return (int) (seconds * sampleRate); };

    // A hit keyed by the side-chain passes (punch, fat and debleed change it only a little).
    for (auto seconds : { 0.1, 0.6, 1.1, 2.1 })
    {
        INFO ("hit at " << seconds << " s");
        const auto in = energyDb (fixture, 0, at (seconds), window);
        const auto out = energyDb (render.audio, 0, at (seconds) + render.latency, window);
        CHECK (std::abs (out - in) < 6.0);
    }

    // The hit the side-chain misses stays near the floor; the side-chain's extra hit opens the
    // gate on bleed that is otherwise held down.
    CHECK (energyDb (render.audio, 0, at (1.6) + render.latency, window) < energyDb (fixture, 0, at (1.6), window) - 40.0);
    const auto bleedOpened = energyDb (render.audio, 0, at (1.85) + render.latency, window);
    const auto bleedClosed = energyDb (render.audio, 0, at (1.35) + render.latency, window);
    CHECK (bleedOpened > bleedClosed + 30.0);
}

TEST_CASE ("The built bundles render the fixture exactly as the processor in-process", "[host][render]")
{
    const auto format = formatUnderTest();
    const auto variant = GENERATE (Variant::automated, Variant::settled);
    INFO (formatName (format) << ", " << variantName (variant));

    auto plugin = loadBuiltPlugin (format, sampleRate, maximumBlockSize);
    prepareForScenario (*plugin);
    const auto render = renderThroughHost (format, *plugin, variant, Settings::throughParameters);
    requireSameRender (render, variant == Variant::automated ? reference().automated : reference().settled);
}

TEST_CASE ("State saved through the host restores into a fresh instance with identical output", "[host][render][state]")
{
    const auto format = formatUnderTest();
    INFO (formatName (format));

    juce::MemoryBlock saved;
    {
        auto original = loadBuiltPlugin (format, sampleRate, maximumBlockSize);
        prepareForScenario (*original);
        applyThroughHost (format, *original, initialSettings(), "initial");
        applyThroughHost (format, *original, automatedSettings(), "automated");

        // Let the values reach the processor as a playing host would before saving.
        juce::AudioBuffer<float> silence (4, maximumBlockSize);
        silence.clear();
        juce::MidiBuffer midi;
        original->processBlock (silence, midi);
        original->getStateInformation (saved);
    }
    REQUIRE (saved.getSize() > 0);

    auto restored = loadBuiltPlugin (format, sampleRate, maximumBlockSize);
    prepareForScenario (*restored);
    restored->setStateInformation (saved.getData(), (int) saved.getSize());
    const auto render = renderThroughHost (format, *restored, Variant::settled, Settings::alreadyRestored);
    requireSameRender (render, reference().settled);

    // Saving again gives the values the plug-in handed out.
    const auto pluginState = pluginStateInside (format, saved);
    REQUIRE (pluginState.getSize() > 9);
    CHECK (pluginState.toString().startsWith ("VC2!"));
    juce::MemoryBlock savedAgain;
    restored->getStateInformation (savedAgain);
    CHECK (stateDifference (pluginStateInside (format, savedAgain), pluginState) == "");
}
