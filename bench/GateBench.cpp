#include "core/PluginProcessor.h"
#include "dsp/GateProcessor.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace
{
constexpr double benchRate = 48000.0;
constexpr int benchBlock = 128;
constexpr int benchChannels = 2;
constexpr int signalBlocks = 375; // one second

/** One second of stereo drum-like material: a decaying noise hit every 250 ms, with quiet
    bleed in between, so the gate opens and closes while it is measured. */
juce::AudioBuffer<float> makeDrumSignal()
{
    const auto length = benchBlock * signalBlocks;
    juce::AudioBuffer<float> buffer (benchChannels, length);
    juce::Random random (42);

    for (int i = 0; i < length; ++i)
    {
        const auto sinceHit = i % (int) (benchRate / 4.0);
        const auto envelope = 0.9f * std::exp (-(float) sinceHit / 2000.0f) + 0.003f;
        for (int c = 0; c < benchChannels; ++c)
            buffer.setSample (c, i, (random.nextFloat() * 2.0f - 1.0f) * envelope);
    }
    return buffer;
}

/** Walks through the signal one block at a time, copying each block into the work buffer. */
struct BlockFeed
{
    juce::AudioBuffer<float> signal = makeDrumSignal();
    juce::AudioBuffer<float> work { benchChannels, benchBlock };
    int position = 0;

    juce::dsp::AudioBlock<float> next()
    {
        for (int c = 0; c < benchChannels; ++c)
            work.copyFrom (c, 0, signal, c, position, benchBlock);
        position = (position + benchBlock) % signal.getNumSamples();
        return juce::dsp::AudioBlock<float> (work);
    }
};

const juce::dsp::ProcessSpec benchSpec { benchRate, (juce::uint32) benchBlock, (juce::uint32) benchChannels };

/** Items are stereo sample frames, so the reported rate reads per stereo sample. */
void countFrames (benchmark::State& state)
{
    state.SetItemsProcessed ((int64_t) state.iterations() * benchBlock);
}
} // namespace

// Baseline for the two below: the same block copy plus a plain gain.
static void BM_GateBaselineCopyAndGain (benchmark::State& state)
{
    BlockFeed feed;

    for (auto _ : state)
    {
        auto block = feed.next();
        block.multiplyBy (0.999f);
        benchmark::DoNotOptimize (feed.work.getReadPointer (0));
        benchmark::ClobberMemory();
    }
    countFrames (state);
}
BENCHMARK (BM_GateBaselineCopyAndGain);

// The side-chain equaliser with its six node filters (defaults) on a stereo block.
static void BM_SideChainEqualiser (benchmark::State& state)
{
    ombrel::BrimvaleAudioProcessor processor;
    ombrel::dsp::GateProcessor gate (processor.mParameters);
    gate.connectToParameters();
    gate.prepare (benchSpec);
    BlockFeed feed;

    for (auto _ : state)
    {
        gate.equaliseDetector (feed.next());
        benchmark::DoNotOptimize (feed.work.getReadPointer (0));
        benchmark::ClobberMemory();
    }
    countFrames (state);
}
BENCHMARK (BM_SideChainEqualiser);

// The gate stage as the block runs it: lookahead update, level averaging, then the gain curve,
// both delays and the output gain on the main block (detector = main signal).
static void BM_GateStage (benchmark::State& state)
{
    ombrel::BrimvaleAudioProcessor processor;
    ombrel::dsp::GateProcessor gate (processor.mParameters);
    gate.connectToParameters();
    gate.parameterChanged (ombrel::config::Gate::threshold.id, -20.0f);
    gate.parameterChanged (ombrel::config::Gate::lookAhead.id, 3.0f);
    gate.parameterChanged (ombrel::config::Macro::curve.id, 50.0f);
    gate.prepare (benchSpec);
    BlockFeed feed;

    for (auto _ : state)
    {
        auto block = feed.next();
        gate.updateLookahead();
        gate.averageLevel (block);
        gate.processGate (block);
        benchmark::DoNotOptimize (feed.work.getReadPointer (0));
        benchmark::ClobberMemory();
    }
    countFrames (state);
}
BENCHMARK (BM_GateStage);
