// Renders the host tests' drum fixture through the processor in-process, for the host tests to
// compare with what the built VST3 and LV2 bundles produce. Usage: sorvanta_reference_render <folder>

#include "core/PluginProcessor.h"
#include "host/RenderScenario.h"

#include <juce_events/juce_events.h>

#include <iostream>

using namespace render_scenario;

namespace
{
bool apply (ombrel::BrimvaleAudioProcessor& processor, const std::vector<Setting>& settings,
            const juce::String& group, std::map<juce::String, float>& normalised)
{
    for (const auto& setting : settings)
    {
        auto* parameter = processor.mParameters.getParameter (setting.id);
        if (parameter == nullptr)
        {
            std::cerr << "no parameter " << setting.id << "\n";
            return false;
        }

        const auto value = parameter->convertTo0to1 (setting.value);
        parameter->setValueNotifyingHost (value);
        normalised[group + "." + setting.id] = value;
    }

    return true;
}

bool render (Variant variant, const juce::File& folder)
{
    ombrel::BrimvaleAudioProcessor processor;
    processor.prepareToPlay (sampleRate, maximumBlockSize);

    std::map<juce::String, float> normalised;
    if (! apply (processor, initialSettings(), "initial", normalised))
        return false;
    if (variant == Variant::settled && ! apply (processor, automatedSettings(), "automated", normalised))
        return false;

    Render result;
    result.audio = renderFixtureInBlocks (
        [&] (int blockIndex)
        {
            return variant != Variant::automated || blockIndex != automationBlock
                || apply (processor, automatedSettings(), "automated", normalised);
        },
        [&] (juce::AudioBuffer<float>& block, juce::MidiBuffer& midi) { processor.processBlock (block, midi); });
    if (result.audio.getNumSamples() == 0)
        return false;

    result.latency = processor.getLatencySamples();

    return writeRender (folder.getChildFile (juce::String (variantName (variant)) + ".f32"), result)
        && (variant != Variant::automated || writeNormalisedValues (folder.getChildFile ("normalised.txt"), normalised));
}
} // namespace

int main (int argc, char* argv[])
{
    if (argc != 2)
    {
        std::cerr << "usage: sorvanta_reference_render <output folder>\n";
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juce;
    const juce::File folder (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));

    if (! folder.createDirectory())
    {
        std::cerr << "cannot create " << argv[1] << "\n";
        return 1;
    }

    for (auto variant : { Variant::automated, Variant::settled })
        if (! render (variant, folder))
        {
            std::cerr << "rendering " << variantName (variant) << " failed\n";
            return 1;
        }

    return 0;
}
