#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

namespace test_support
{
/** What a synthetic drum track is made of. Every value has a default that suits a gate between
    the hit level and the bleed level (e.g. a threshold around -25 dBFS). */
struct DrumFixtureSettings
{
    double sampleRate = 48000.0;
    int numChannels = 2;
    int numHits = 8;
    double firstHitSeconds = 0.1;
    double hitSpacingSeconds = 0.25; ///< the track ends one spacing after the last hit

    /** Kick: a pitch drop from startHz to endHz over pitchDropSeconds under an exponential decay. */
    float hitPeak = 0.7f;
    double hitDecaySeconds = 0.03;
    double hitAttackSeconds = 0.0005;
    double hitStartHz = 160.0, hitEndHz = 50.0, pitchDropSeconds = 0.02;

    /** Bleed: band-limited noise (two one-pole low-passes) plus a quiet tone, independent per
        channel, present all the time, also under the hits. */
    float bleedRms = 0.01f;
    double bleedCutoffHz = 4000.0;
    double bleedToneHz = 220.0;

    /** Side-chain: a clean trigger track, a short decaying click at every hit, same on all channels. */
    float sideChainPeak = 0.5f;
    double sideChainHz = 1000.0;
    double sideChainDecaySeconds = 0.005;

    juce::uint32 seed = 1;
};

/** A deterministic drum-like fixture: kick hits with quieter bleed between them on the main
    track, and a trigger-only side-chain track. Depends on nothing but JUCE's audio basics, so
    in-process, rendering and host tests can share it. */
struct DrumFixture
{
    DrumFixtureSettings settings;
    juce::AudioBuffer<float> main;      ///< hits + bleed
    juce::AudioBuffer<float> hitsOnly;  ///< the hits of main without the bleed
    juce::AudioBuffer<float> bleedOnly; ///< the bleed of main without the hits
    juce::AudioBuffer<float> sideChain; ///< clicks at the hit positions
    std::vector<int> hitStarts;         ///< first sample of each hit

    int getNumSamples() const noexcept { return main.getNumSamples(); }
    double getSampleRate() const noexcept { return settings.sampleRate; }
    int samplesFor (double seconds) const noexcept { return juce::roundToInt (seconds * settings.sampleRate); }
};

DrumFixture makeDrumFixture (const DrumFixtureSettings& settings = {});

/** Root mean square of samples [start, start + length) of one channel, clipped to the buffer;
    0 for an empty range. */
double rms (const juce::AudioBuffer<float>& buffer, int channel, int start, int length);

/** Index of the first sample in [start, start + length) whose magnitude exceeds the level, or -1. */
int firstSampleAbove (const juce::AudioBuffer<float>& buffer, int channel, int start, int length, float level);
} // namespace test_support
