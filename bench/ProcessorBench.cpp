#include "core/PluginProcessor.h"
#include "support/DrumFixture.h"

#include <benchmark/benchmark.h>

#include <memory>

// The whole processBlock as a host calls it, per stereo sample at 48 kHz in blocks of 128,
// against a copy-and-gain baseline measured in the same run.
namespace
{
constexpr double benchRate = 48000.0;
constexpr int benchBlock = 128;

const test_support::DrumFixture& benchDrums()
{
    static const auto fixture = []
    {
        test_support::DrumFixtureSettings settings;
        settings.sampleRate = benchRate;
        settings.numHits = 8; // two seconds: the gate opens and closes while it is measured
        return test_support::makeDrumFixture (settings);
    }();
    return fixture;
}

/** Copies the next block of the drum track (main, then side-chain channels) into the host buffer. */
struct HostFeed
{
    const test_support::DrumFixture& drums = benchDrums();
    juce::AudioBuffer<float> host { 4, benchBlock };
    int position = 0;

    juce::AudioBuffer<float>& next()
    {
        for (int ch = 0; ch < 2; ++ch)
        {
            host.copyFrom (ch, 0, drums.main, ch, position, benchBlock);
            host.copyFrom (2 + ch, 0, drums.sideChain, ch, position, benchBlock);
        }
        position += benchBlock;
        if (position + benchBlock > drums.getNumSamples())
            position = 0;
        return host;
    }
};

void countFrames (benchmark::State& state)
{
    state.SetItemsProcessed ((int64_t) state.iterations() * benchBlock);
}

enum class Setting
{
    gateOnly,
    everythingOn,
    everythingOnSideChainSolo
};

std::unique_ptr<ombrel::BrimvaleAudioProcessor> makeProcessor (Setting setting)
{
    auto processor = std::make_unique<ombrel::BrimvaleAudioProcessor>();
    const auto set = [&] (const char* id, float value)
    {
        auto* parameter = processor->mParameters.getParameter (id);
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
    };

    if (setting != Setting::gateOnly)
    {
        set ("spike", 50.0f);
        set ("punch", 50.0f);
        set ("fat", 50.0f);
        set ("debleed", 1.0f);
        set ("lpFreq", 50.0f);
        set ("hpFreq", 50.0f);
        set ("lpAmount", 2.0f); // heavy
        set ("hpAmount", 2.0f);
        set ("outputClipType", 1.0f); // auto
    }

    if (setting == Setting::everythingOnSideChainSolo)
    {
        set ("sidechainToggle", 1.0f);
        auto nonAudio = processor->mParameters.state.getChildWithName ("NonAudioParameters");
        nonAudio.setProperty ("selectedFilters", juce::Array<juce::var> { false, false, false, true, false, false }, nullptr);
        nonAudio.setProperty ("soloNode", true, nullptr);
    }

    processor->setRateAndBufferSizeDetails (benchRate, benchBlock);
    processor->prepareToPlay (benchRate, benchBlock);
    return processor;
}

void runProcessor (benchmark::State& state, Setting setting)
{
    auto processor = makeProcessor (setting);
    if (setting == Setting::everythingOnSideChainSolo && ! processor->getGateProcessor().getEqualiser().isSoloOn())
    {
        state.SkipWithError ("solo did not reach the equaliser");
        return;
    }

    HostFeed feed;
    juce::MidiBuffer midi;

    for (auto _ : state)
    {
        auto& buffer = feed.next();
        processor->processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
        benchmark::ClobberMemory();
    }
    countFrames (state);
}
} // namespace

// Baseline: the same host-buffer copy plus a plain gain on the main pair.
static void BM_ProcessBlockBaselineCopyAndGain (benchmark::State& state)
{
    HostFeed feed;

    for (auto _ : state)
    {
        auto& buffer = feed.next();
        buffer.applyGain (0, 0, benchBlock, 0.999f);
        buffer.applyGain (1, 0, benchBlock, 0.999f);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
        benchmark::ClobberMemory();
    }
    countFrames (state);
}
BENCHMARK (BM_ProcessBlockBaselineCopyAndGain);

static void BM_ProcessBlockGateOnly (benchmark::State& state) { runProcessor (state, Setting::gateOnly); }
BENCHMARK (BM_ProcessBlockGateOnly);

static void BM_ProcessBlockEverythingOn (benchmark::State& state) { runProcessor (state, Setting::everythingOn); }
BENCHMARK (BM_ProcessBlockEverythingOn);

static void BM_ProcessBlockEverythingOnSideChainSolo (benchmark::State& state) { runProcessor (state, Setting::everythingOnSideChainSolo); }
BENCHMARK (BM_ProcessBlockEverythingOnSideChainSolo);
