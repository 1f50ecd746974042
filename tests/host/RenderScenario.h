#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <functional>
#include <map>
#include <vector>

/** One render shared by the in-process reference tool and the host tests, so that both feed the
    plug-in the same audio, in the same blocks, with the same parameter changes. */
namespace render_scenario
{
constexpr double sampleRate = 48000.0;
constexpr int maximumBlockSize = 512;

/** Channels 0 and 1: kick hits with quieter hi-hat bleed between them. Channels 2 and 3: the
    side-chain, a clean kick track that misses one main hit and adds one where the main track has
    only bleed, so that the output shows whether the gate listened to it. */
juce::AudioBuffer<float> makeDrumFixture();

/** Block sizes, varying from call to call and never above the maximum; they cover the fixture. */
std::vector<int> blockSizes();

/** Feeds the fixture to `processBlock` in the scenario's block sizes (main and side-chain, four
    channels) and returns the two output channels. `beforeBlock (index)` runs ahead of each block
    (the place for parameter changes); when it returns false the render stops and the result is
    empty. */
juce::AudioBuffer<float> renderFixtureInBlocks (const std::function<bool (int blockIndex)>& beforeBlock,
                                                const std::function<void (juce::AudioBuffer<float>&, juce::MidiBuffer&)>& processBlock);

struct Setting
{
    juce::String id;
    float value; // in the parameter's own unit (dB, ms, %, 0 or 1)
};

/** Values set before the first block. */
std::vector<Setting> initialSettings();

/** Values changed while the render runs, before the block with this index. */
constexpr int automationBlock = 150;
std::vector<Setting> automatedSettings();

enum class Variant
{
    automated, // initial settings, then the automated ones before automationBlock
    settled    // initial and automated settings all in place before the first block
};

const char* variantName (Variant variant);

/** A render as the reference tool writes it: the output channels and the latency the plug-in reported. */
struct Render
{
    juce::AudioBuffer<float> audio;
    int latency = -1;
};

bool writeRender (const juce::File& file, const Render& render);
Render readRender (const juce::File& file);

/** Each setting's normalised value as the plug-in maps it, one "id bits" line each (the float's
    bit pattern in hex, so the value survives exactly). */
bool writeNormalisedValues (const juce::File& file, const std::map<juce::String, float>& values);
std::map<juce::String, float> readNormalisedValues (const juce::File& file);
} // namespace render_scenario
