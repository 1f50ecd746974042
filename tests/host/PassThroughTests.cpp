#include "host/HostedPlugin.h"

#include <catch2/catch.hpp>

using namespace host_support;

TEST_CASE ("A hosted block comes out unchanged", "[host][passthrough]")
{
    const auto format = GENERATE (Format::vst3, Format::lv2);
    INFO (formatName (format));
    auto plugin = loadBuiltPlugin (format);
    plugin->prepareToPlay (44100.0, 512);

    juce::AudioBuffer<float> buffer (4, 512);
    juce::Random random (1);
    for (int ch = 0; ch < 4; ++ch)
        for (int i = 0; i < 512; ++i)
            buffer.setSample (ch, i, random.nextFloat() * 2.0f - 1.0f);

    juce::AudioBuffer<float> original;
    original.makeCopyOf (buffer);
    juce::MidiBuffer midi;
    plugin->processBlock (buffer, midi);

    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 512; ++i)
            REQUIRE (buffer.getSample (ch, i) == original.getSample (ch, i));

    plugin->releaseResources();
}
