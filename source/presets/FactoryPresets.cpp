#include "presets/FactoryPresets.h"

#include "core/PluginProcessor.h"
#include "presets/PresetManager.h"

namespace ombrel::presets
{
namespace
{
    // Equaliser node filter types, as indexed by "filterTypeN".
    constexpr float lowPass = 0, lowShelf = 1, peak = 2, highPass = 4;
    constexpr float off = 0, on = 1;
    constexpr float soft = 0, medium = 1, heavy = 2;       // debleed modes
    constexpr float clipAuto = 1;                           // output clip type
    constexpr float eighth = 7;                             // "1/8" in the sync divisions

    std::vector<FactoryPreset> buildFactoryPresets()
    {
        return {
            { "Kick Tight",
              { { "threshold", -20 }, { "return", 4 }, { "floor", -60 }, { "lookahead", 2 },
                { "attack", 0.5f }, { "hold", 40 }, { "release", 120 }, { "curve", 80 }, { "spike", 25 },
                { "transientsOn", on }, { "transients", 100 }, { "punch", 30 }, { "fat", 20 }, { "speed", 30 }, { "duration", 25 },
                { "outputClipType", clipAuto },
                { "debleed", on }, { "lpAmount", medium }, { "lpFreq", 35 }, { "lpRelease", 80 }, { "hpFreq", 0 },
                // Key on the kick's body only: snare and hats barely reach the detector.
                { "filterType0", highPass }, { "filterFreq0", 30 },
                { "filterType1", peak }, { "filterFreq1", 70 }, { "filterGain1", 6 }, { "filterQual1", 1 },
                { "filterType5", lowPass }, { "filterFreq5", 180 } } },

            { "Snare Hat Bleed",
              { { "threshold", -18 }, { "return", 6 }, { "floor", -45 }, { "lookahead", 1.5f },
                { "attack", 0.2f }, { "hold", 60 }, { "release", 180 }, { "curve", 90 }, { "spike", 35 },
                { "transientsOn", on }, { "transients", 100 }, { "punch", 25 }, { "fat", 15 }, { "speed", 40 }, { "duration", 20 },
                { "outputClipType", clipAuto },
                // Closing sweeps a heavy low-pass down over the hi-hat's fizz.
                { "debleed", on }, { "lpAmount", heavy }, { "lpFreq", 55 }, { "lpRelease", 120 }, { "hpFreq", 10 }, { "hpRelease", 100 },
                { "filterType0", highPass }, { "filterFreq0", 140 },
                { "filterType2", peak }, { "filterFreq2", 220 }, { "filterGain2", 6 }, { "filterQual2", 1.4f },
                { "filterType4", peak }, { "filterFreq4", 8000 }, { "filterGain4", -12 }, { "filterQual4", 0.8f },
                { "filterType5", lowPass }, { "filterFreq5", 3500 } } },

            { "Toms Ring",
              { { "threshold", -26 }, { "return", 8 }, { "floor", -50 }, { "lookahead", 3 },
                { "attack", 1 }, { "hold", 120 }, { "release", 450 }, { "curve", 70 }, { "spike", 15 },
                { "transientsOn", on }, { "transients", 100 }, { "punch", 15 }, { "fat", 30 }, { "speed", 20 }, { "duration", 50 },
                { "outputClipType", clipAuto },
                { "debleed", on }, { "lpAmount", medium }, { "lpFreq", 30 }, { "lpRelease", 200 },
                { "filterType0", highPass }, { "filterFreq0", 60 },
                { "filterType2", peak }, { "filterFreq2", 150 }, { "filterGain2", 5 }, { "filterQual2", 1 },
                { "filterType5", lowPass }, { "filterFreq5", 1500 } } },

            { "Hi-Hat Clean",
              { { "threshold", -30 }, { "return", 3 }, { "floor", -24 }, { "lookahead", 1 },
                { "attack", 0.1f }, { "hold", 15 }, { "release", 60 }, { "curve", 100 }, { "spike", 40 },
                { "transientsOn", on }, { "transients", 60 }, { "punch", 10 },
                { "outputClipType", clipAuto },
                // Opening sweeps a heavy high-pass away from the kick and snare thump underneath.
                { "debleed", on }, { "lpFreq", 0 }, { "hpAmount", heavy }, { "hpFreq", 50 }, { "hpRelease", 80 },
                { "filterType0", highPass }, { "filterFreq0", 5000 },
                { "filterType1", lowShelf }, { "filterFreq1", 200 }, { "filterGain1", -12 } } },

            { "Overheads Duck Flip",
              // Flipped: the cymbals dip a little under each loud hit instead of opening with it.
              { { "flip", on }, { "threshold", -16 }, { "return", 4 }, { "floor", -8 }, { "lookahead", 2 },
                { "attack", 2 }, { "hold", 30 }, { "release", 250 }, { "curve", 50 }, { "spike", 20 },
                { "transientsOn", off }, { "debleed", off },
                { "filterType0", highPass }, { "filterFreq0", 80 },
                { "filterType5", lowPass }, { "filterFreq5", 6000 } } },

            { "Room Synced Eighth",
              // The room closes over one eighth note at the host's tempo.
              { { "syncSwitch", on }, { "releaseSync", eighth }, { "threshold", -28 }, { "return", 6 }, { "floor", -30 },
                { "lookahead", 2 }, { "attack", 3 }, { "hold", 20 }, { "release", 200 }, { "curve", 60 },
                { "transientsOn", on }, { "transients", 100 }, { "fat", 40 }, { "speed", 20 }, { "duration", 60 },
                { "outputClipType", clipAuto }, { "debleed", off } } },

            { "Side-chain Keyed",
              // Opens from the side-chain input (a trigger track or a close mic), not from its own signal.
              { { "sidechainToggle", on }, { "threshold", -24 }, { "return", 6 }, { "floor", -80 }, { "lookahead", 5 },
                { "attack", 0.5f }, { "hold", 50 }, { "release", 200 }, { "curve", 85 }, { "spike", 10 },
                { "transientsOn", off }, { "debleed", off } } },

            { "Debleed Heavy",
              // A shallow gate: the sweeping filters do most of the bleed removal.
              { { "threshold", -22 }, { "return", 5 }, { "floor", -18 }, { "lookahead", 2 },
                { "attack", 0.5f }, { "hold", 30 }, { "release", 150 }, { "curve", 90 }, { "spike", 20 },
                { "transientsOn", on }, { "transients", 100 }, { "punch", 20 },
                { "outputClipType", clipAuto },
                { "debleed", on }, { "lpAmount", heavy }, { "lpFreq", 80 }, { "lpRelease", 60 },
                { "hpAmount", heavy }, { "hpFreq", 60 }, { "hpRelease", 60 } } },

            { "Percussion Natural",
              { { "threshold", -32 }, { "return", 10 }, { "floor", -20 }, { "lookahead", 3 },
                { "attack", 2 }, { "hold", 80 }, { "release", 300 }, { "curve", 40 },
                { "transientsOn", on }, { "transients", 50 }, { "fat", 10 },
                { "outputClipType", clipAuto },
                { "debleed", on }, { "lpAmount", soft }, { "lpFreq", 20 }, { "hpAmount", soft }, { "hpFreq", 20 } } },
        };
    }
} // namespace

const std::vector<FactoryPreset>& factoryPresets()
{
    static const auto presets = buildFactoryPresets();
    return presets;
}

juce::Result applyFactorySettings (const FactoryPreset& preset, juce::AudioProcessorValueTreeState& parameters)
{
    for (const auto& setting : preset.settings)
        if (parameters.getParameter (setting.id) == nullptr)
            return juce::Result::fail (preset.name + ": no parameter \"" + setting.id + "\"");

    for (auto* parameter : parameters.processor.getParameters())
        parameter->setValueNotifyingHost (parameter->getDefaultValue());

    for (const auto& setting : preset.settings)
    {
        auto* parameter = parameters.getParameter (setting.id);
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (setting.value));
    }

    return juce::Result::ok();
}

juce::Result writeFactoryPresets (const juce::File& folder)
{
    if (! folder.isDirectory())
        return juce::Result::fail ("no folder " + folder.getFullPathName());

    for (const auto& preset : factoryPresets())
    {
        BrimvaleAudioProcessor processor;

        const auto applied = applyFactorySettings (preset, processor.mParameters);
        if (applied.failed())
            return applied;

        PresetManager manager (processor, folder.getFullPathName().toStdString());
        const auto file = folder.getChildFile (preset.name + "." + juce::String (PresetManager::suffix));

        if (! manager.savePreset (file.getFullPathName().toStdString()))
            return juce::Result::fail ("cannot write " + file.getFullPathName());
    }

    return juce::Result::ok();
}
} // namespace ombrel::presets
