#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_core/juce_core.h>

namespace ombrel::render
{
/**
    Two synthetic drum tracks for the demo, the same on every run and machine:

    - "drums": a stereo drum mic, four bars at 120 bpm (8 s, 44.1 kHz): kick and snare hits,
      with quieter hi-hats on the eighths and a little room noise between them, the bleed a gate
      is meant to remove;
    - "sidechain": a close kick mic playing the same kicks, clean but for faint snare bleed, to
      key the gate from.
*/
class DemoTracks
{
public:
    static constexpr double sampleRate = 44100.0;
    static constexpr double tempo = 120.0;
    static constexpr int bars = 4;

    static constexpr const char* drumsFileName = "demo-drums.wav";
    static constexpr const char* sidechainFileName = "demo-sidechain.wav";

    juce::AudioBuffer<float> drums, sidechain;

    /** Synthesises both tracks. */
    static DemoTracks make();

    /** Writes both as 24-bit WAV into the folder (created if missing), each through a temporary
        file. On success the written files are added to `written`. */
    static juce::Result write (const juce::File& folder, juce::Array<juce::File>& written);
};
} // namespace ombrel::render
