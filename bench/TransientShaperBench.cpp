#include "dsp/TransientShaper.h"

#include <benchmark/benchmark.h>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 128;
constexpr int numChannels = 2;

/** A stereo block of drum-like material: decaying noise bursts. */
juce::AudioBuffer<float> makeInput()
{
    juce::AudioBuffer<float> buffer (numChannels, blockSize);
    juce::Random random (99);
    for (int c = 0; c < numChannels; ++c)
        for (int i = 0; i < blockSize; ++i)
            buffer.setSample (c, i, (random.nextFloat() * 2.0f - 1.0f) * std::exp (-0.03f * (float) i));
    return buffer;
}

/** Items are stereo sample frames, so the reported rate reads per stereo sample. */
void setItems (benchmark::State& state)
{
    state.SetItemsProcessed ((int64_t) state.iterations() * blockSize);
}
} // namespace

// Baseline: a plain gain over the same stereo block, to express the shaper's cost as a ratio.
static void BM_GainBaseline (benchmark::State& state)
{
    auto buffer = makeInput();
    juce::dsp::AudioBlock<float> block (buffer);

    for (auto _ : state)
    {
        block.multiplyBy (0.999f);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
        benchmark::ClobberMemory();
    }
    setItems (state);
}
BENCHMARK (BM_GainBaseline);

static void BM_TransientShaper (benchmark::State& state)
{
    ombrel::dsp::transient_shaper::TransientShaper shaper;
    shaper.setSensitivity (0.8974288f);
    shaper.setFatGain (6.0f);
    shaper.setPunchGain (3.0f);
    shaper.setup ({ sampleRate, (juce::uint32) blockSize, (juce::uint32) numChannels });

    const auto input = makeInput();
    const juce::dsp::AudioBlock<const float> block (input.getArrayOfReadPointers(), (size_t) numChannels, (size_t) blockSize);

    for (auto _ : state)
    {
        auto gains = shaper.processContinuous (block);
        benchmark::DoNotOptimize (gains.getChannelPointer (0));
        benchmark::ClobberMemory();
    }
    setItems (state);
}
BENCHMARK (BM_TransientShaper);

BENCHMARK_MAIN();
