#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <vector>

namespace ombrel::presets
{
/** One parameter of a factory preset, in the parameter's own units (dB, ms, %, index, 0/1). */
struct FactorySetting
{
    juce::String id;
    float value;
};

/** A named factory preset: these settings on top of every parameter's default. */
struct FactoryPreset
{
    juce::String name;
    std::vector<FactorySetting> settings;
};

/** The presets that ship with the product, in resources/presets as "<name>.ovb". */
const std::vector<FactoryPreset>& factoryPresets();

/** Returns every parameter to its default, then applies the preset's settings. Fails, naming the
    ID, when a setting names no parameter. */
juce::Result applyFactorySettings (const FactoryPreset& preset, juce::AudioProcessorValueTreeState& parameters);

/** Writes every factory preset with the preset library's own writer into an existing folder. */
juce::Result writeFactoryPresets (const juce::File& folder);
} // namespace ombrel::presets
