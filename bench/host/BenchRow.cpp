#include "BenchRow.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace host_bench
{
double threadCpuSeconds()
{
    timespec now {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &now);
    return (double) now.tv_sec + (double) now.tv_nsec * 1.0e-9;
}

namespace
{
constexpr float baselineGain = 0.999f;

/** Main input bus: the drums; second input bus: the side-chain. A plug-in with one input bus of
    four channels (no port groups) gets the drums on the first two and the side-chain on the others. */
std::vector<int> channelSources (juce::AudioProcessor& processor, int numChannels)
{
    std::vector<int> sources ((size_t) numChannels, -1);
    const auto numInputBuses = processor.getBusCount (true);

    for (int bus = 0; bus < juce::jmin (2, numInputBuses); ++bus)
    {
        if (! processor.getBus (true, bus)->isEnabled())
            continue;

        for (int ch = 0; ch < processor.getChannelCountOfBus (true, bus); ++ch)
        {
            const auto index = processor.getChannelIndexInProcessBlockBuffer (true, bus, ch);
            const auto limit = bus == 0 && numInputBuses == 1 ? 4 : 2;
            if (ch < limit && juce::isPositiveAndBelow (index, numChannels))
                sources[(size_t) index] = bus * 2 + ch;
        }
    }
    return sources;
}
} // namespace

BenchRow::BenchRow (RowLabel rowLabel, std::unique_ptr<juce::AudioPluginInstance> plugin, int blockSize)
    : label (std::move (rowLabel)), hosted (std::move (plugin))
{
    if (hosted == nullptr)
    {
        // The baseline reads the same four channels a side-chained plug-in does.
        work.setSize (4, blockSize);
        sourceOfChannel = { 0, 1, 2, 3 };
        outputChannels = { 0, 1 };
    }
    else
    {
        const auto numChannels = juce::jmax (1, hosted->getTotalNumInputChannels(), hosted->getTotalNumOutputChannels());
        work.setSize (numChannels, blockSize);
        sourceOfChannel = channelSources (*hosted, numChannels);

        if (hosted->getBusCount (false) > 0)
            for (int ch = 0; ch < juce::jmin (2, hosted->getChannelCountOfBus (false, 0)); ++ch)
                outputChannels.push_back (hosted->getChannelIndexInProcessBlockBuffer (false, 0, ch));
    }
    midi.ensureSize (256);
}

template <typename Observer>
void BenchRow::render (const BenchSignal& signal, Observer&& observe)
{
    const auto blockSize = work.getNumSamples();
    const auto length = signal.main.getNumSamples();

    for (int start = 0; start + blockSize <= length; start += blockSize)
    {
        for (int ch = 0; ch < work.getNumChannels(); ++ch)
        {
            const auto source = sourceOfChannel[(size_t) ch];
            if (source < 0)
                work.clear (ch, 0, blockSize);
            else
                work.copyFrom (ch, 0, source < 2 ? signal.main : signal.sidechain, source % 2, start, blockSize);
        }

        if (hosted != nullptr)
        {
            midi.clear();
            hosted->processBlock (work, midi);
        }
        else
        {
            for (int ch = 0; ch < 2; ++ch)
                juce::FloatVectorOperations::multiply (work.getWritePointer (ch), baselineGain, blockSize);
        }

        observe();
    }
}

juce::String BenchRow::channelLayout() const
{
    const auto count = [this] (int first) {
        return (int) std::count_if (sourceOfChannel.begin(), sourceOfChannel.end(), [first] (int s) { return s == first || s == first + 1; });
    };
    const auto sidechain = count (2);
    return juce::String (count (0)) + (sidechain > 0 ? "+" + juce::String (sidechain) : juce::String()) + "/"
           + juce::String ((int) outputChannels.size());
}

void BenchRow::checkPass (const BenchSignal& signal)
{
    double sumOfSquares = 0.0;
    long long count = 0;
    finite = true;

    render (signal, [&] {
        for (auto ch : outputChannels)
        {
            const auto* data = work.getReadPointer (ch);
            for (int i = 0; i < work.getNumSamples(); ++i)
            {
                finite = finite && std::isfinite (data[i]);
                sumOfSquares += (double) data[i] * data[i];
            }
            count += work.getNumSamples();
        }
    });

    const auto rms = count > 0 ? std::sqrt (sumOfSquares / (double) count) : 0.0;
    rmsDb = rms > 1.0e-10 ? 20.0 * std::log10 (rms) : -200.0;
}

void BenchRow::timedPass (const BenchSignal& signal)
{
    const auto start = threadCpuSeconds();
    render (signal, [] {});
    cpuSeconds.push_back (threadCpuSeconds() - start);
}

double BenchRow::medianCpuSeconds() const
{
    if (cpuSeconds.empty())
        return 0.0;

    auto sorted = cpuSeconds;
    std::sort (sorted.begin(), sorted.end());
    const auto middle = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[middle] : 0.5 * (sorted[middle - 1] + sorted[middle]);
}

double BenchRow::spread() const
{
    const auto median = medianCpuSeconds();
    if (cpuSeconds.empty() || median <= 0.0)
        return 0.0;

    const auto [fastest, slowest] = std::minmax_element (cpuSeconds.begin(), cpuSeconds.end());
    return (*slowest - *fastest) / median;
}
} // namespace host_bench
