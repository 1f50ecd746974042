#include "host/RenderScenario.h"

#include <cmath>
#include <cstring>

namespace render_scenario
{
namespace
{
    constexpr int fixtureLength = 120000; // 2.5 s
    const double kickSeconds[] = { 0.10, 0.60, 1.10, 1.60, 2.10 };
    const double sideChainOnlySeconds = 1.85;
    const double missingFromSideChainSeconds = 1.60;

    // A pitch-swept, decaying sine: the body of a kick drum.
    void addKick (juce::AudioBuffer<float>& buffer, int channel, int start, float peak)
    {
        double phase = 0.0;
        for (int i = 0; start + i < buffer.getNumSamples() && i < 14400; ++i)
        {
            const auto t = i / sampleRate;
            const auto frequency = 50.0 + 100.0 * std::exp (-t / 0.03);
            phase += juce::MathConstants<double>::twoPi * frequency / sampleRate;
            const auto envelope = std::exp (-t / 0.05) * juce::jmin (1.0, i / 48.0);
            buffer.addSample (channel, start + i, static_cast<float> (peak * envelope * std::sin (phase)));
        }
    }

    // Short noise bursts every 125 ms, 30 dB below the kicks: hi-hat bleed in the kick microphone.
    void addBleed (juce::AudioBuffer<float>& buffer, int channel, juce::int64 seed)
    {
        juce::Random random (seed);
        float previous = 0.0f;
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const auto sinceBurst = i % 6000;
            const auto envelope = std::exp (-sinceBurst / (0.02 * sampleRate));
            const auto white = random.nextFloat() * 2.0f - 1.0f;
            const auto bright = white - previous; // a crude high-pass
            previous = white;
            buffer.addSample (channel, i, static_cast<float> (0.02 * envelope * bright + 0.001 * white));
        }
    }

    int toSample (double seconds) { return static_cast<int> (seconds * sampleRate); }
} // namespace

juce::AudioBuffer<float> makeDrumFixture()
{
    juce::AudioBuffer<float> fixture (4, fixtureLength);
    fixture.clear();

    for (auto seconds : kickSeconds)
    {
        addKick (fixture, 0, toSample (seconds), 0.8f);
        addKick (fixture, 1, toSample (seconds) + 3, 0.7f);

        if (seconds != missingFromSideChainSeconds)
        {
            addKick (fixture, 2, toSample (seconds), 0.9f);
            addKick (fixture, 3, toSample (seconds), 0.85f);
        }
    }

    addKick (fixture, 2, toSample (sideChainOnlySeconds), 0.9f);
    addKick (fixture, 3, toSample (sideChainOnlySeconds), 0.85f);

    addBleed (fixture, 0, 11);
    addBleed (fixture, 1, 12);
    return fixture;
}

std::vector<int> blockSizes()
{
    // Hosts rarely keep one size: full blocks, odd sizes, single samples and empty calls.
    const int pattern[] = { 512, 480, 1, 333, 0, 512, 64, 511, 7, 256 };
    std::vector<int> sizes;
    int total = 0;

    for (size_t i = 0; total < fixtureLength; ++i)
    {
        const auto size = juce::jmin (pattern[i % std::size (pattern)], fixtureLength - total);
        sizes.push_back (size);
        total += size;
    }

    return sizes;
}

juce::AudioBuffer<float> renderFixtureInBlocks (const std::function<bool (int blockIndex)>& beforeBlock,
                                                const std::function<void (juce::AudioBuffer<float>&, juce::MidiBuffer&)>& processBlock)
{
    const auto fixture = makeDrumFixture();
    juce::AudioBuffer<float> output (2, fixture.getNumSamples());
    juce::AudioBuffer<float> block (4, maximumBlockSize);
    juce::MidiBuffer midi;

    const auto sizes = blockSizes();
    int start = 0;
    for (size_t index = 0; index < sizes.size(); ++index)
    {
        if (! beforeBlock ((int) index))
            return {};

        const auto size = sizes[index];
        block.setSize (4, size, false, false, true);
        for (int ch = 0; ch < 4; ++ch)
            block.copyFrom (ch, 0, fixture, ch, start, size);

        processBlock (block, midi);

        for (int ch = 0; ch < 2; ++ch)
            output.copyFrom (ch, start, block, ch, 0, size);
        start += size;
    }

    return output;
}

std::vector<Setting> initialSettings()
{
    return {
        { "sidechainToggle", 1.0f },
        { "threshold", -30.0f },
        { "floor", -60.0f },
        { "lookahead", 5.0f },
        { "attack", 1.0f },
        { "hold", 40.0f },
        { "release", 80.0f },
        { "spike", 20.0f },
        { "punch", 30.0f },
        { "fat", 20.0f },
        { "lpFreq", 40.0f },
        { "hpFreq", 30.0f },
        { "filterGain2", 6.0f },
    };
}

std::vector<Setting> automatedSettings()
{
    return {
        { "threshold", -20.0f },
        { "lookahead", 2.0f },
        { "punch", 0.0f },
        { "release", 200.0f },
    };
}

const char* variantName (Variant variant) { return variant == Variant::automated ? "automated" : "settled"; }

bool writeRender (const juce::File& file, const Render& render)
{
    file.deleteFile();
    juce::FileOutputStream out (file);
    if (! out.openedOk())
        return false;

    out.writeInt (render.audio.getNumChannels());
    out.writeInt (render.audio.getNumSamples());
    out.writeInt (render.latency);

    for (int ch = 0; ch < render.audio.getNumChannels(); ++ch)
        out.write (render.audio.getReadPointer (ch), sizeof (float) * (size_t) render.audio.getNumSamples());

    return out.getStatus().wasOk();
}

Render readRender (const juce::File& file)
{
    Render render;
    juce::FileInputStream in (file);
    if (! in.openedOk())
        return render;

    const auto channels = in.readInt();
    const auto samples = in.readInt();
    const auto latency = in.readInt();
    if (channels <= 0 || channels > 16 || samples <= 0
        || in.getTotalLength() != 12 + (juce::int64) channels * samples * (juce::int64) sizeof (float))
        return render;

    render.audio.setSize (channels, samples);
    for (int ch = 0; ch < channels; ++ch)
        in.read (render.audio.getWritePointer (ch), (int) sizeof (float) * samples);

    render.latency = latency;
    return render;
}

bool writeNormalisedValues (const juce::File& file, const std::map<juce::String, float>& values)
{
    juce::String text;
    for (const auto& [id, value] : values)
    {
        juce::uint32 bits = 0;
        std::memcpy (&bits, &value, sizeof (bits));
        text << id << " " << juce::String::toHexString ((int) bits) << "\n";
    }

    return file.replaceWithText (text);
}

std::map<juce::String, float> readNormalisedValues (const juce::File& file)
{
    std::map<juce::String, float> values;
    juce::StringArray lines;
    lines.addLines (file.loadFileAsString());

    for (const auto& line : lines)
    {
        if (! line.containsChar (' '))
            continue;

        const auto bits = static_cast<juce::uint32> (line.fromFirstOccurrenceOf (" ", false, false).getHexValue32());
        float value = 0.0f;
        std::memcpy (&value, &bits, sizeof (value));
        values[line.upToFirstOccurrenceOf (" ", false, false)] = value;
    }

    return values;
}
} // namespace render_scenario
