#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

namespace host_bench
{
/** The material every plug-in is measured on: a stereo drum track (kick and snare hits, with quieter
    hi-hats, ghost notes and room noise between them as bleed) and a stereo side-chain with the
    matching close kick and snare mics, each peaking at −1 dBFS. Deterministic: the same length gives the same samples. */
struct BenchSignal
{
    juce::AudioBuffer<float> main;
    juce::AudioBuffer<float> sidechain;
};

BenchSignal makeBenchSignal (double sampleRate, int numSamples);
} // namespace host_bench
