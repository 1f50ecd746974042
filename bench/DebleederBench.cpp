#include "core/Config.h"
#include "dsp/Debleeder.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 128;

/** Two seconds of kick, snare and bleed with the gate trigger a gate would derive from it:
    open for 60 ms of every 250 ms hit, so the sweeps keep moving. */
struct DrumLoop
{
    DrumLoop()
    {
        const auto numSamples = (int) (2.0 * sampleRate);
        const auto period = (int) (0.25 * sampleRate);
        audio.setSize (2, numSamples);
        trigger.resize ((size_t) numSamples);

        juce::Random random (1234);
        double phase = 0.0;
        for (int n = 0; n < numSamples; ++n)
        {
            const auto position = n % period;
            const auto t = position / sampleRate;
            phase = position == 0 ? 0.0 : phase + juce::MathConstants<double>::twoPi * (50.0 + 120.0 * std::exp (-t / 0.02)) / sampleRate;
            const auto kick = std::exp (-t / 0.08) * std::sin (phase);
            const auto snare = (n / period) % 2 == 1 ? std::exp (-t / 0.03) * (random.nextFloat() * 2.0f - 1.0f) : 0.0;
            const auto bleed = 0.02 * (random.nextFloat() * 2.0f - 1.0f);

            audio.setSample (0, n, (float) (0.7 * kick + 0.4 * snare + bleed));
            audio.setSample (1, n, (float) (0.6 * kick + 0.5 * snare - bleed));
            trigger[(size_t) n] = position < (int) (0.06 * sampleRate) ? 1.0f : 0.0f;
        }
    }

    juce::AudioBuffer<float> audio;
    std::vector<float> trigger;
};

const DrumLoop& drumLoop()
{
    static const DrumLoop loop;
    return loop;
}

/** Copies the next host block of the loop into the work buffer and hands it to process. */
template <typename Process>
void runBlocks (benchmark::State& state, Process&& process)
{
    const auto& loop = drumLoop();
    juce::AudioBuffer<float> work (2, blockSize);
    int position = 0;

    for (auto _ : state)
    {
        for (int ch = 0; ch < 2; ++ch)
            work.copyFrom (ch, 0, loop.audio, ch, position, blockSize);

        process (work, loop.trigger.data() + position);
        benchmark::DoNotOptimize (work.getReadPointer (0));
        benchmark::ClobberMemory();

        position = (position + blockSize) % (loop.audio.getNumSamples() - blockSize);
    }

    state.SetItemsProcessed (state.iterations() * blockSize);
}

void baselineGain (benchmark::State& state)
{
    runBlocks (state, [] (juce::AudioBuffer<float>& work, const float*)
    {
        for (int ch = 0; ch < 2; ++ch)
            juce::FloatVectorOperations::multiply (work.getWritePointer (ch), 0.5f, blockSize);
    });
}

enum Scenario { gateOpensAndCloses, gateHeldOpen, macroOff };

void debleeder (benchmark::State& state)
{
    using namespace ombrel::config;
    const auto scenario = (Scenario) state.range (0);

    ombrel::dsp::DebleederProcessor processor;
    processor.parameterChanged (Debleed::lpFreq.id, 50.0f);
    processor.parameterChanged (Debleed::hpFreq.id, 50.0f);
    processor.parameterChanged (Debleed::lpAmount.id, 2.0f); // "heavy"
    processor.parameterChanged (Debleed::hpAmount.id, 2.0f);
    processor.parameterChanged (Macro::debleed.id, scenario == macroOff ? 0.0f : 1.0f);
    processor.prepare ({ sampleRate, (juce::uint32) blockSize, 2 });

    const std::vector<float> open ((size_t) blockSize, 1.0f);

    runBlocks (state, [&] (juce::AudioBuffer<float>& work, const float* trigger)
    {
        processor.process (juce::dsp::AudioBlock<float> (work), scenario == gateHeldOpen ? open.data() : trigger);
    });
}
} // namespace

// Per stereo sample (items = sample frames), 48 kHz, blocks of 128.
BENCHMARK (baselineGain);
BENCHMARK (debleeder)->ArgName ("heavy50_gateOpensAndCloses")->Arg (gateOpensAndCloses);
BENCHMARK (debleeder)->ArgName ("heavy50_gateHeldOpen")->Arg (gateHeldOpen);
BENCHMARK (debleeder)->ArgName ("heavy50_macroOff")->Arg (macroOff);

