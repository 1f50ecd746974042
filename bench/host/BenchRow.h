#pragma once

#include "BenchSignal.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>
#include <vector>

namespace host_bench
{
/** CPU time used by the calling thread so far, in seconds. Hosted plug-ins process on the calling
    thread, so this counts their work and nothing that other processes or threads do meanwhile. */
double threadCpuSeconds();

struct RowLabel
{
    juce::String plugin, format, setting;
};

/** One line of the table: a hosted plug-in at one setting, or the in-process baseline (a block copy
    and a gain), rendering the bench signal block by block into a work buffer. */
class BenchRow
{
public:
    /** With a null plug-in, the row is the baseline. The plug-in must be prepared already. */
    BenchRow (RowLabel label, std::unique_ptr<juce::AudioPluginInstance> plugin, int blockSize);

    const RowLabel label;
    juce::AudioPluginInstance* plugin() const { return hosted.get(); }

    /** An untimed pass that warms caches, lets parameter changes arrive and measures the output. */
    void checkPass (const BenchSignal& signal);
    /** A pass timed in thread CPU time; each adds one run. */
    void timedPass (const BenchSignal& signal);

    double medianCpuSeconds() const;
    /** (slowest − fastest) / median of the runs. */
    double spread() const;

    /** The channels fed and taken, e.g. "2+2/2": main and side-chain inputs, main output. */
    juce::String channelLayout() const;

    bool outputFinite() const { return finite; }
    double outputRmsDb() const { return rmsDb; }

private:
    template <typename Observer>
    void render (const BenchSignal& signal, Observer&& observe);

    std::unique_ptr<juce::AudioPluginInstance> hosted;
    juce::AudioBuffer<float> work;
    juce::MidiBuffer midi;
    std::vector<int> sourceOfChannel;  // per work channel: 0/1 main left/right, 2/3 side-chain left/right, −1 silence
    std::vector<int> outputChannels;   // work channels of the main output
    std::vector<double> cpuSeconds;
    bool finite = true;
    double rmsDb = -200.0;
};
} // namespace host_bench
