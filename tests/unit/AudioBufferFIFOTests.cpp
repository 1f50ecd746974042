#include "dsp/AudioBufferFIFO.h"
#include "dsp/PrepareBuffer.h"
#include "support/TestSupport.h"

#include <catch2/catch.hpp>

#include <vector>

namespace
{
using Fifo = AudioBufferFIFO<float>;

/** A 2-channel buffer whose samples encode their position: channel c, sample i -> start + i + 1000 c. */
juce::AudioBuffer<float> rampBuffer (int numSamples, float start)
{
    juce::AudioBuffer<float> buffer (2, numSamples);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < numSamples; ++i)
            buffer.setSample (c, i, start + (float) i + 1000.0f * (float) c);
    return buffer;
}

juce::AudioBuffer<float> filledBuffer (int numSamples, float value)
{
    juce::AudioBuffer<float> buffer (2, numSamples);
    for (int c = 0; c < 2; ++c)
        juce::FloatVectorOperations::fill (buffer.getWritePointer (c), value, numSamples);
    return buffer;
}
} // namespace

TEST_CASE ("FIFO holds one sample less than its capacity and drops the excess", "[fifo]")
{
    Fifo fifo;
    fifo.prepare (2, 16);

    auto input = rampBuffer (16, 1.0f);
    CHECK (fifo.addToFifo (juce::dsp::AudioBlock<float> (input), 16) == 15);
    CHECK (fifo.getNumReady() == 15);
    CHECK (fifo.getFreeSpace() == 0);

    // A full ring drops everything.
    CHECK (fifo.addToFifo (juce::dsp::AudioBlock<float> (input), 4) == 0);
    CHECK (fifo.addSilenceToFifo (4) == 0);

    auto output = filledBuffer (16, -1.0f);
    juce::dsp::AudioBlock<float> outBlock (output);
    CHECK (fifo.readFromFifo (outBlock, 16) == 15);

    // The first 15 samples arrive in order; the 16th was dropped, so the destination keeps its old value.
    for (int c = 0; c < 2; ++c)
    {
        for (int i = 0; i < 15; ++i)
            CHECK (output.getSample (c, i) == input.getSample (c, i));
        CHECK (output.getSample (c, 15) == -1.0f);
    }
}

TEST_CASE ("FIFO keeps order across the end of the ring", "[fifo]")
{
    // Move the positions near the end of the ring, then write and read across the wrap.
    struct Case { int capacity, advance, chunk; };
    const auto testCase = GENERATE (Case { 8, 5, 6 }, Case { 10, 9, 9 }, Case { 1024, 1000, 128 }, Case { 7, 3, 4 });
    CAPTURE (testCase.capacity, testCase.advance, testCase.chunk);

    Fifo fifo;
    fifo.prepare (2, testCase.capacity);

    auto scratch = filledBuffer (testCase.capacity, 0.0f);
    REQUIRE (fifo.addSilenceToFifo (testCase.advance) == testCase.advance);
    REQUIRE (fifo.readFromFifo (juce::dsp::AudioBlock<float> (scratch), testCase.advance) == testCase.advance);

    auto input = rampBuffer (testCase.chunk, 10.0f);
    REQUIRE (fifo.addToFifo (juce::dsp::AudioBlock<float> (input), testCase.chunk) == testCase.chunk);

    auto output = filledBuffer (testCase.chunk, -1.0f);
    REQUIRE (fifo.readFromFifo (juce::dsp::AudioBlock<float> (output), testCase.chunk) == testCase.chunk);

    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < testCase.chunk; ++i)
            CHECK (output.getSample (c, i) == input.getSample (c, i));

    CHECK (fifo.getNumReady() == 0);
}

TEST_CASE ("FIFO underflow fills only what is ready and leaves the rest untouched", "[fifo]")
{
    Fifo fifo;
    fifo.prepare (2, 32);

    auto input = rampBuffer (5, 1.0f);
    fifo.addToFifo (juce::dsp::AudioBlock<float> (input), 5);

    auto output = filledBuffer (12, 7.0f);
    CHECK (fifo.readFromFifo (juce::dsp::AudioBlock<float> (output), 12) == 5);

    for (int c = 0; c < 2; ++c)
    {
        for (int i = 0; i < 5; ++i)
            CHECK (output.getSample (c, i) == input.getSample (c, i));
        for (int i = 5; i < 12; ++i)
            CHECK (output.getSample (c, i) == 7.0f);
    }

    // An empty ring reads nothing at all.
    CHECK (fifo.readFromFifo (juce::dsp::AudioBlock<float> (output), 12) == 0);
}

TEST_CASE ("FIFO acts as a fixed delay line", "[fifo]")
{
    // Prime with a delay's worth of silence, then push and pull equal blocks: the output is the input shifted.
    constexpr int delay = 37, block = 16, blocks = 20;
    Fifo fifo;
    fifo.prepare (2, 128);
    fifo.addSilenceToFifo (delay);

    std::vector<float> produced;
    for (int b = 0; b < blocks; ++b)
    {
        auto input = rampBuffer (block, 1.0f + (float) (b * block));
        auto output = filledBuffer (block, -1.0f);
        fifo.addToFifo (juce::dsp::AudioBlock<float> (input), block);
        REQUIRE (fifo.readFromFifo (juce::dsp::AudioBlock<float> (output), block) == block);
        produced.insert (produced.end(), output.getReadPointer (0), output.getReadPointer (0) + block);
    }

    for (int i = 0; i < (int) produced.size(); ++i)
        CHECK (produced[(size_t) i] == (i < delay ? 0.0f : (float) (i - delay + 1)));
}

TEST_CASE ("FIFO discards from the front, across the end of the ring, and no more than is ready", "[fifo]")
{
    Fifo fifo;
    fifo.prepare (2, 16);

    // Move the positions near the end of the ring first.
    auto filler = rampBuffer (12, 0.0f);
    fifo.addToFifo (juce::dsp::AudioBlock<float> (filler), 12);
    CHECK (fifo.discardFromFifo (12) == 12);

    auto input = rampBuffer (10, 1.0f);
    fifo.addToFifo (juce::dsp::AudioBlock<float> (input), 10);
    CHECK (fifo.discardFromFifo (6) == 6);
    CHECK (fifo.getNumReady() == 4);

    auto output = filledBuffer (4, -1.0f);
    REQUIRE (fifo.readFromFifo (juce::dsp::AudioBlock<float> (output), 4) == 4);
    for (int i = 0; i < 4; ++i)
        CHECK (output.getSample (1, i) == 1000.0f + 7.0f + (float) i);

    fifo.addSilenceToFifo (3);
    CHECK (fifo.discardFromFifo (10) == 3);
    CHECK (fifo.discardFromFifo (-2) == 0);
    CHECK (fifo.getNumReady() == 0);
}

TEST_CASE ("FIFO requests beyond the block are clamped, not overrun", "[fifo]")
{
    Fifo fifo;
    fifo.prepare (2, 64);

    auto input = rampBuffer (4, 1.0f);
    CHECK (fifo.addToFifo (juce::dsp::AudioBlock<float> (input), 40) == 4);
    CHECK (fifo.addToFifo (juce::dsp::AudioBlock<float> (input), -3) == 0);

    auto output = filledBuffer (2, 0.0f);
    CHECK (fifo.readFromFifo (juce::dsp::AudioBlock<float> (output), 40) == 2);
    CHECK (fifo.getNumReady() == 2);
}

TEST_CASE ("FIFO writes silence into channels the source lacks", "[fifo]")
{
    Fifo fifo;
    fifo.prepare (2, 16);

    juce::AudioBuffer<float> mono (1, 4);
    mono.clear();
    mono.setSample (0, 0, 0.5f);
    fifo.addToFifo (juce::dsp::AudioBlock<float> (mono), 4);

    auto output = filledBuffer (4, 9.0f);
    REQUIRE (fifo.readFromFifo (juce::dsp::AudioBlock<float> (output), 4) == 4);
    CHECK (output.getSample (0, 0) == 0.5f);
    for (int i = 0; i < 4; ++i)
        CHECK (output.getSample (1, i) == 0.0f);
}

TEST_CASE ("FIFO transfers allocate nothing", "[fifo][realtime]")
{
    Fifo fifo;
    fifo.prepare (2, 256);
    auto input = rampBuffer (100, 0.0f);
    auto output = filledBuffer (100, 0.0f);

    test_support::AllocationCounter counter;
    for (int i = 0; i < 10; ++i)
    {
        fifo.addToFifo (juce::dsp::AudioBlock<float> (input), 100);
        fifo.addSilenceToFifo (20);
        fifo.readFromFifo (juce::dsp::AudioBlock<float> (output), 120);
    }
    CHECK (counter.allocations() == 0);
}

TEST_CASE ("prepareBuffer reallocates only when the size changes", "[fifo][prepareBuffer]")
{
    juce::AudioBuffer<float> buffer (1, 10);
    const juce::dsp::ProcessSpec spec { 48000.0, 64, 2 };

    audio_framework::dsp::prepareBuffer (buffer, spec);
    CHECK (buffer.getNumChannels() == 2);
    CHECK (buffer.getNumSamples() == 64);
    CHECK (buffer.getMagnitude (0, 64) == 0.0f);

    // Same size: contents and storage stay as they are.
    buffer.setSample (1, 63, 0.25f);
    const auto* before = buffer.getReadPointer (1);
    audio_framework::dsp::prepareBuffer (buffer, spec);
    CHECK (buffer.getReadPointer (1) == before);
    CHECK (buffer.getSample (1, 63) == 0.25f);
}
