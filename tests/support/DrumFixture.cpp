#include "support/DrumFixture.h"

#include <cmath>

namespace test_support
{
namespace
{
    constexpr double twoPi = juce::MathConstants<double>::twoPi;

    /** Small self-contained generator, so the fixture never changes with a library's random source. */
    class NoiseSource
    {
    public:
        explicit NoiseSource (juce::uint32 seed) : state (seed * 2654435761u + 1u) {}

        /** Uniform in [-1, 1). */
        double next() noexcept
        {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            return (double) state / 2147483648.0 - 1.0;
        }

    private:
        juce::uint32 state;
    };

    void addKick (juce::AudioBuffer<float>& buffer, int start, const DrumFixtureSettings& s)
    {
        const auto length = buffer.getNumSamples() - start;
        const auto attackSamples = juce::jmax (1.0, s.hitAttackSeconds * s.sampleRate);
        double phase = juce::MathConstants<double>::halfPi; // starts at its peak: a sharp onset

        for (int i = 0; i < length; ++i)
        {
            const auto t = i / s.sampleRate;
            const auto frequency = s.hitEndHz + (s.hitStartHz - s.hitEndHz) * std::exp (-t / s.pitchDropSeconds);
            const auto envelope = s.hitPeak * std::exp (-t / s.hitDecaySeconds) * juce::jmin (1.0, (i + 1) / attackSamples);
            const auto value = (float) (envelope * std::sin (phase));
            phase += twoPi * frequency / s.sampleRate;

            for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                buffer.addSample (ch, start + i, value);

            if (envelope < 1.0e-9)
                break;
        }
    }

    void addClick (juce::AudioBuffer<float>& buffer, int start, const DrumFixtureSettings& s)
    {
        const auto length = buffer.getNumSamples() - start;

        for (int i = 0; i < length; ++i)
        {
            const auto t = i / s.sampleRate;
            const auto envelope = s.sideChainPeak * std::exp (-t / s.sideChainDecaySeconds);
            const auto value = (float) (envelope * std::cos (twoPi * s.sideChainHz * t));

            for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                buffer.addSample (ch, start + i, value);

            if (envelope < 1.0e-9)
                break;
        }
    }

    void fillBleed (juce::AudioBuffer<float>& buffer, const DrumFixtureSettings& s)
    {
        const auto pole = std::exp (-twoPi * s.bleedCutoffHz / s.sampleRate);
        const auto length = buffer.getNumSamples();

        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        {
            NoiseSource noise (s.seed + (juce::uint32) ch * 7919u);
            auto* samples = buffer.getWritePointer (ch);
            double stage1 = 0.0, stage2 = 0.0;

            for (int i = 0; i < length; ++i)
            {
                stage1 = (1.0 - pole) * noise.next() + pole * stage1;
                stage2 = (1.0 - pole) * stage1 + pole * stage2;
                samples[i] = (float) stage2;
            }

            // Noise at RMS 1, a tone at RMS 0.5 on top, then the whole scaled to the wanted RMS.
            const auto noiseLevel = rms (buffer, ch, 0, length);
            if (noiseLevel > 0.0)
                buffer.applyGain (ch, 0, length, (float) (1.0 / noiseLevel));

            for (int i = 0; i < length; ++i)
                samples[i] += (float) (0.5 * std::sqrt (2.0) * std::sin (twoPi * s.bleedToneHz * i / s.sampleRate + 0.7 * ch));

            const auto level = rms (buffer, ch, 0, length);
            if (level > 0.0)
                buffer.applyGain (ch, 0, length, (float) (s.bleedRms / level));
        }
    }
} // namespace

DrumFixture makeDrumFixture (const DrumFixtureSettings& settings)
{
    DrumFixture fixture;
    fixture.settings = settings;

    const auto& s = settings;
    // Every hit gets a full spacing after it, so the last one decays into bleed like the others.
    const auto length = (int) std::ceil ((s.firstHitSeconds + s.numHits * s.hitSpacingSeconds) * s.sampleRate);

    for (auto* buffer : { &fixture.main, &fixture.hitsOnly, &fixture.bleedOnly, &fixture.sideChain })
    {
        buffer->setSize (s.numChannels, length);
        buffer->clear();
    }

    for (int hit = 0; hit < s.numHits; ++hit)
    {
        const auto start = juce::roundToInt ((s.firstHitSeconds + hit * s.hitSpacingSeconds) * s.sampleRate);
        fixture.hitStarts.push_back (start);
        addKick (fixture.hitsOnly, start, s);
        addClick (fixture.sideChain, start, s);
    }

    fillBleed (fixture.bleedOnly, s);

    for (int ch = 0; ch < s.numChannels; ++ch)
    {
        fixture.main.copyFrom (ch, 0, fixture.hitsOnly, ch, 0, length);
        fixture.main.addFrom (ch, 0, fixture.bleedOnly, ch, 0, length);
    }

    return fixture;
}

double rms (const juce::AudioBuffer<float>& buffer, int channel, int start, int length)
{
    const auto begin = juce::jmax (0, start);
    const auto end = juce::jmin (buffer.getNumSamples(), start + length);

    if (end <= begin)
        return 0.0;

    double sum = 0.0;
    const auto* samples = buffer.getReadPointer (channel);
    for (int i = begin; i < end; ++i)
        sum += (double) samples[i] * samples[i];

    return std::sqrt (sum / (end - begin));
}

int firstSampleAbove (const juce::AudioBuffer<float>& buffer, int channel, int start, int length, float level)
{
    const auto begin = juce::jmax (0, start);
    const auto end = juce::jmin (buffer.getNumSamples(), start + length);
    const auto* samples = buffer.getReadPointer (channel);

    for (int i = begin; i < end; ++i)
        if (std::abs (samples[i]) > level)
            return i;

    return -1;
}
} // namespace test_support
