#include "BenchSignal.h"

#include <cmath>
#include <vector>

namespace host_bench
{
namespace
{
enum class Voice
{
    kick,
    snare,
    ghostSnare,
    hat
};

struct Hit
{
    int start;
    Voice voice;
    float gain;
};

constexpr double tempo = 120.0;
constexpr int stepsPerBar = 16;
constexpr double twoPi = 6.283185307179586;

// One bar of sixteenth steps: kick on 1, the "and" of 2 and 3; snare on the backbeats; a ghost
// snare before the bar line; hats on every eighth.
std::vector<Hit> patternHits (double sampleRate, int numSamples)
{
    const auto samplesPerStep = sampleRate * 60.0 / tempo / 4.0;
    std::vector<Hit> hits;
    juce::Random velocity (7);

    for (int step = 0;; ++step)
    {
        const auto start = (int) std::lround (step * samplesPerStep);
        if (start >= numSamples)
            break;

        // Up to ±1.5 dB of velocity from hit to hit, as a player would.
        const auto humanise = [&velocity] { return juce::Decibels::decibelsToGain ((velocity.nextFloat() - 0.5f) * 3.0f); };
        const auto inBar = step % stepsPerBar;

        if (inBar == 0 || inBar == 7 || inBar == 10)
            hits.push_back ({ start, Voice::kick, 0.8f * humanise() });
        if (inBar == 4 || inBar == 12)
            hits.push_back ({ start, Voice::snare, 0.6f * humanise() });
        if (inBar == 14)
            hits.push_back ({ start, Voice::ghostSnare, 0.08f * humanise() });
        if (inBar % 2 == 0)
            hits.push_back ({ start, Voice::hat, 0.05f * humanise() });
    }
    return hits;
}

// Pan gains {left, right} of each voice in the drum track, and its level in the close mics.
struct Placement
{
    float left, right, sidechain;
};

Placement placementOf (Voice voice)
{
    switch (voice)
    {
        case Voice::kick:       return { 1.0f, 1.0f, 1.0f };
        case Voice::snare:      return { 1.0f, 0.85f, 0.9f };
        case Voice::ghostSnare: return { 1.0f, 0.85f, 0.9f };
        case Voice::hat:        return { 0.7f, 1.0f, 0.01f }; // only a trace of bleed in the close mics
    }
    return {};
}

double tailSeconds (Voice voice) { return voice == Voice::kick ? 0.6 : voice == Voice::hat ? 0.12 : 0.4; }

/** Adds one hit to both buffers. Kick: a sine swept down from 120 to 50 Hz with a short click.
    Snare: a 190 Hz body and bright noise. Hat: bright noise with a fast decay. */
void renderHit (const Hit& hit, int hitIndex, double sampleRate, BenchSignal& signal)
{
    const auto numSamples = signal.main.getNumSamples();
    const auto length = juce::jmin ((int) (tailSeconds (hit.voice) * sampleRate), numSamples - hit.start);
    const auto place = placementOf (hit.voice);
    juce::Random noise (1000 + hitIndex);
    double phase = 0.0;
    float previousNoise[2] {};

    for (int i = 0; i < length; ++i)
    {
        const auto t = i / sampleRate;
        float left = 0.0f, right = 0.0f;

        // Noise for each channel, brightened by a first difference.
        float bright[2];
        for (int c = 0; c < 2; ++c)
        {
            const auto white = noise.nextFloat() * 2.0f - 1.0f;
            bright[c] = 0.5f * (white - previousNoise[c]);
            previousNoise[c] = white;
        }

        switch (hit.voice)
        {
            case Voice::kick:
            {
                phase += twoPi * (50.0 + 70.0 * std::exp (-t / 0.03)) / sampleRate;
                const auto body = (float) (std::sin (phase) * std::exp (-t / 0.25));
                const auto click = (float) std::exp (-t / 0.002);
                left = body + 0.3f * click * bright[0];
                right = body + 0.3f * click * bright[1];
                break;
            }
            case Voice::snare:
            case Voice::ghostSnare:
            {
                const auto body = (float) (std::sin (twoPi * 190.0 * t) * std::exp (-t / 0.06));
                const auto rattle = (float) std::exp (-t / 0.1);
                left = 0.5f * body + 0.8f * rattle * bright[0];
                right = 0.5f * body + 0.8f * rattle * bright[1];
                break;
            }
            case Voice::hat:
            {
                const auto decay = (float) std::exp (-t / 0.02);
                left = decay * bright[0];
                right = decay * bright[1];
                break;
            }
        }

        const auto n = hit.start + i;
        signal.main.addSample (0, n, hit.gain * place.left * left);
        signal.main.addSample (1, n, hit.gain * place.right * right);
        signal.sidechain.addSample (0, n, hit.gain * place.sidechain * left);
        signal.sidechain.addSample (1, n, hit.gain * place.sidechain * right);
    }
}

/** Low room noise under everything in the drum track (about −54 dBFS), softened by a one-pole low-pass. */
void addRoomNoise (juce::AudioBuffer<float>& main)
{
    juce::Random noise (99);
    for (int c = 0; c < main.getNumChannels(); ++c)
    {
        float state = 0.0f;
        auto* data = main.getWritePointer (c);
        for (int i = 0; i < main.getNumSamples(); ++i)
        {
            state += 0.2f * ((noise.nextFloat() * 2.0f - 1.0f) - state);
            data[i] += 0.004f * state;
        }
    }
}
} // namespace

BenchSignal makeBenchSignal (double sampleRate, int numSamples)
{
    BenchSignal signal { juce::AudioBuffer<float> (2, numSamples), juce::AudioBuffer<float> (2, numSamples) };
    signal.main.clear();
    signal.sidechain.clear();

    const auto hits = patternHits (sampleRate, numSamples);
    for (size_t i = 0; i < hits.size(); ++i)
        renderHit (hits[i], (int) i, sampleRate, signal);

    addRoomNoise (signal.main);

    // Both tracks peak at −1 dBFS, as a mixed recording would.
    for (auto* buffer : { &signal.main, &signal.sidechain })
        if (const auto peak = buffer->getMagnitude (0, numSamples); peak > 0.0f)
            buffer->applyGain (juce::Decibels::decibelsToGain (-1.0f) / peak);

    return signal;
}
} // namespace host_bench
