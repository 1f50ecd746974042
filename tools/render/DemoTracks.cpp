#include "render/DemoTracks.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <cstdint>

namespace ombrel::render
{
namespace
{
    constexpr double twoPi = juce::MathConstants<double>::twoPi;

    /** A fixed linear congruential generator: the same noise everywhere, unlike std::rand. */
    class Noise
    {
    public:
        explicit Noise (std::uint32_t seed) : state (seed) {}

        /** Uniform in [-1, 1). */
        float next() noexcept
        {
            state = state * 1664525u + 1013904223u;
            return static_cast<float> (state >> 8) / 8388608.0f - 1.0f;
        }

    private:
        std::uint32_t state;
    };

    struct Pan
    {
        float left, right;
    };

    /** Adds a mono voice, generated sample by sample, into a stereo buffer from a start sample. */
    template <typename Voice>
    void addVoice (juce::AudioBuffer<float>& buffer, int start, double seconds, float gain, Pan pan, Voice&& voice)
    {
        const auto length = juce::jmin ((int) (seconds * DemoTracks::sampleRate), buffer.getNumSamples() - start);
        for (int i = 0; i < length; ++i)
        {
            const auto value = gain * voice ((double) i / DemoTracks::sampleRate);
            buffer.addSample (0, start + i, value * pan.left);
            buffer.addSample (1, start + i, value * pan.right);
        }
    }

    /** A pitch drop from 160 to 50 Hz under a short decay, with a click on top. */
    auto kick (Noise& noise)
    {
        return [phase = 0.0, &noise] (double t) mutable {
            const auto frequency = 50.0 + 110.0 * std::exp (-t / 0.035);
            phase += twoPi * frequency / DemoTracks::sampleRate;
            const auto body = std::sin (phase) * std::exp (-t / 0.12);
            const auto click = 0.35 * noise.next() * std::exp (-t / 0.0015);
            return static_cast<float> (body + click);
        };
    }

    /** Two damped tones and a longer burst of brightened noise for the wires. */
    auto snare (Noise& noise)
    {
        return [previous = 0.0f, &noise] (double t) mutable {
            const auto tone = 0.5 * std::sin (twoPi * 185.0 * t) * std::exp (-t / 0.08)
                              + 0.2 * std::sin (twoPi * 330.0 * t) * std::exp (-t / 0.05);
            const auto white = noise.next();
            const auto bright = white - 0.6f * previous; // tilts the noise towards the highs
            previous = white;
            const auto wires = 0.7 * bright * std::exp (-t / 0.14);
            return static_cast<float> ((tone + wires) * std::min (1.0, t / 0.0008));
        };
    }

    /** Noise differentiated twice (mostly above 5 kHz), closed or open. */
    auto hat (Noise& noise, double decaySeconds)
    {
        return [x1 = 0.0f, d1 = 0.0f, &noise, decaySeconds] (double t) mutable {
            const auto x = noise.next();
            const auto d = x - x1;
            const auto dd = d - d1;
            x1 = x;
            d1 = d;
            return static_cast<float> (0.5 * dd * std::exp (-t / decaySeconds));
        };
    }

    struct Hit
    {
        int sample;
        float velocity;
    };

    /** The positions of a drum on the eighth-note grid, slightly humanised in time and level. */
    std::vector<Hit> hitsOn (const std::vector<std::pair<int, float>>& steps, Noise& feel)
    {
        const auto samplesPerEighth = DemoTracks::sampleRate * 60.0 / DemoTracks::tempo / 2.0;
        std::vector<Hit> hits;
        for (const auto& [step, velocity] : steps)
        {
            const auto jitter = (int) (feel.next() * 0.003 * DemoTracks::sampleRate);
            hits.push_back ({ juce::jmax (0, (int) (step * samplesPerEighth) + jitter), velocity * (1.0f + 0.08f * feel.next()) });
        }
        return hits;
    }

    float peakOf (const juce::AudioBuffer<float>& buffer)
    {
        return juce::jmax (buffer.getMagnitude (0, 0, buffer.getNumSamples()), 1.0e-9f);
    }

    juce::Result writeWav (const juce::AudioBuffer<float>& buffer, const juce::File& file)
    {
        juce::TemporaryFile temporary (file);
        {
            auto stream = std::make_unique<juce::FileOutputStream> (temporary.getFile());
            if (! stream->openedOk())
                return juce::Result::fail (file.getFullPathName() + ": cannot write (" + stream->getStatus().getErrorMessage() + ")");

            juce::WavAudioFormat wav;
            std::unique_ptr<juce::AudioFormatWriter> writer (
                wav.createWriterFor (stream.get(), DemoTracks::sampleRate, (unsigned int) buffer.getNumChannels(), 24, {}, 0));
            if (writer == nullptr)
                return juce::Result::fail (file.getFullPathName() + ": cannot create a WAV writer");
            stream.release(); // the writer owns it now

            if (! writer->writeFromAudioSampleBuffer (buffer, 0, buffer.getNumSamples()))
                return juce::Result::fail (file.getFullPathName() + ": writing failed");
        }

        if (! temporary.overwriteTargetFileWithTemporary())
            return juce::Result::fail (file.getFullPathName() + ": could not replace the file");
        return juce::Result::ok();
    }
} // namespace

DemoTracks DemoTracks::make()
{
    const auto length = (int) (bars * 4 * 60.0 / tempo * sampleRate);
    DemoTracks tracks;
    tracks.drums.setSize (2, length);
    tracks.sidechain.setSize (2, length);
    tracks.drums.clear();
    tracks.sidechain.clear();

    Noise feel (7), kickNoise (11), snareNoise (23), bleedNoise (29), hatNoise (31), roomNoise (37);

    // Steps on the eighth-note grid, bar by bar; the second and fourth bars push an extra kick.
    std::vector<std::pair<int, float>> kickSteps, snareSteps, closedHatSteps, openHatSteps;
    for (int bar = 0; bar < bars; ++bar)
    {
        const auto at = [bar] (int step) { return bar * 8 + step; };
        kickSteps.insert (kickSteps.end(), { { at (0), 1.0f }, { at (4), 0.95f } });
        if (bar == 1)
            kickSteps.push_back ({ at (3), 0.8f });
        if (bar == 3)
            kickSteps.push_back ({ at (5), 0.85f });

        snareSteps.insert (snareSteps.end(), { { at (2), 1.0f }, { at (6), 1.0f } });
        if (bar == 3)
            snareSteps.push_back ({ at (7), 0.45f }); // a ghost note

        for (int step = 0; step < 8; ++step)
        {
            if (bar == 3 && step == 7)
                openHatSteps.push_back ({ at (step), 0.9f });
            else
                closedHatSteps.push_back ({ at (step), step % 2 == 0 ? 1.0f : 0.6f });
        }
    }

    const auto kicks = hitsOn (kickSteps, feel);
    const auto snares = hitsOn (snareSteps, feel);
    const auto closedHats = hitsOn (closedHatSteps, feel);
    const auto openHats = hitsOn (openHatSteps, feel);

    // The drum mic: kick in the middle, snare a little right, hats left and much quieter.
    for (const auto& hit : kicks)
        addVoice (tracks.drums, hit.sample, 0.5, 0.8f * hit.velocity, { 1.0f, 1.0f }, kick (kickNoise));
    for (const auto& hit : snares)
        addVoice (tracks.drums, hit.sample, 0.5, 0.55f * hit.velocity, { 0.85f, 1.0f }, snare (snareNoise));
    for (const auto& hit : closedHats)
        addVoice (tracks.drums, hit.sample, 0.15, 0.14f * hit.velocity, { 1.0f, 0.7f }, hat (hatNoise, 0.03));
    for (const auto& hit : openHats)
        addVoice (tracks.drums, hit.sample, 0.45, 0.12f * hit.velocity, { 1.0f, 0.7f }, hat (hatNoise, 0.2));

    // Room: dull noise, different in each channel.
    for (int channel = 0; channel < 2; ++channel)
    {
        auto smoothed = 0.0f;
        for (int i = 0; i < length; ++i)
        {
            smoothed += 0.05f * (roomNoise.next() - smoothed);
            tracks.drums.addSample (channel, i, 0.012f * smoothed);
        }
    }

    // The close kick mic: the same kicks, the snare far down.
    for (const auto& hit : kicks)
        addVoice (tracks.sidechain, hit.sample, 0.5, 0.9f * hit.velocity, { 1.0f, 1.0f }, kick (kickNoise));
    for (const auto& hit : snares)
        addVoice (tracks.sidechain, hit.sample, 0.5, 0.02f * hit.velocity, { 1.0f, 1.0f }, snare (bleedNoise));

    // Peaks at -1 dBFS, so the 24-bit files never clip.
    const auto ceiling = juce::Decibels::decibelsToGain (-1.0f);
    tracks.drums.applyGain (ceiling / juce::jmax (peakOf (tracks.drums), ceiling));
    tracks.sidechain.applyGain (ceiling / juce::jmax (peakOf (tracks.sidechain), ceiling));
    return tracks;
}

juce::Result DemoTracks::write (const juce::File& folder, juce::Array<juce::File>& written)
{
    if (folder.existsAsFile())
        return juce::Result::fail (folder.getFullPathName() + ": is a file, not a folder");
    if (const auto created = folder.createDirectory(); created.failed())
        return juce::Result::fail (folder.getFullPathName() + ": " + created.getErrorMessage());

    const auto tracks = make();
    for (const auto* buffer : { &tracks.drums, &tracks.sidechain })
    {
        const auto file = folder.getChildFile (buffer == &tracks.drums ? drumsFileName : sidechainFileName);
        if (const auto result = writeWav (*buffer, file); result.failed())
            return result;
        written.add (file);
    }

    return juce::Result::ok();
}
} // namespace ombrel::render
