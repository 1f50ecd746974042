#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_dsp/juce_dsp.h>

#include <algorithm>

namespace audio_framework::dsp
{
/**
    Single-producer, single-consumer ring of multichannel samples.

    A ring of capacity C holds at most C - 1 samples. Samples that do not fit are dropped;
    a read of more than is ready fills only the start of the destination and leaves the
    rest as it was. The positions are atomic (juce::AbstractFifo), so writer and reader may
    run on different threads; prepare() must not run concurrently with either.
*/
template <typename SampleType>
class AudioBufferFIFO
{
public:
    AudioBufferFIFO() = default;

    /** Sizes the storage and empties the ring. Allocates. */
    void prepare (int numChannels, int capacity)
    {
        jassert (numChannels > 0 && capacity > 0);
        capacity = std::max (1, capacity);
        storage.setSize (std::max (1, numChannels), capacity, false, true, false);
        storage.clear();
        positions.setTotalSize (capacity);
    }

    /** Empties the ring without touching the storage. */
    void reset() noexcept { positions.reset(); }

    int getCapacity() const noexcept { return positions.getTotalSize(); }
    int getNumChannels() const noexcept { return storage.getNumChannels(); }
    int getNumReady() const noexcept { return positions.getNumReady(); }
    int getFreeSpace() const noexcept { return positions.getFreeSpace(); }

    /** Appends up to numSamples from the start of the block; returns how many were stored.
        Storage channels the block does not have are filled with silence. */
    int addToFifo (const juce::dsp::AudioBlock<const SampleType>& source, int numSamples) noexcept
    {
        numSamples = std::clamp (numSamples, 0, (int) source.getNumSamples());
        return write (numSamples, [&] (int channel, int sourceOffset, SampleType* destination, int count)
        {
            if (channel < (int) source.getNumChannels())
                juce::FloatVectorOperations::copy (destination, source.getChannelPointer ((size_t) channel) + sourceOffset, count);
            else
                juce::FloatVectorOperations::clear (destination, count);
        });
    }

    /** Appends numSamples of silence (as many as fit); returns how many were stored. */
    int addSilenceToFifo (int numSamples) noexcept
    {
        return write (std::max (0, numSamples), [] (int, int, SampleType* destination, int count)
        {
            juce::FloatVectorOperations::clear (destination, count);
        });
    }

    /** Moves up to numSamples into the start of the block; returns how many were read.
        The rest of the block is left untouched. */
    int readFromFifo (juce::dsp::AudioBlock<SampleType>& destination, int numSamples) noexcept
    {
        numSamples = std::clamp (numSamples, 0, (int) destination.getNumSamples());
        const auto channels = std::min ((int) destination.getNumChannels(), storage.getNumChannels());
        const auto scope = positions.read (numSamples);

        for (int channel = 0; channel < channels; ++channel)
        {
            auto* out = destination.getChannelPointer ((size_t) channel);
            const auto* ring = storage.getReadPointer (channel);

            if (scope.blockSize1 > 0)
                juce::FloatVectorOperations::copy (out, ring + scope.startIndex1, scope.blockSize1);
            if (scope.blockSize2 > 0)
                juce::FloatVectorOperations::copy (out + scope.blockSize1, ring + scope.startIndex2, scope.blockSize2);
        }

        return scope.blockSize1 + scope.blockSize2;
    }

    int readFromFifo (juce::dsp::AudioBlock<SampleType>&& destination, int numSamples) noexcept
    {
        return readFromFifo (destination, numSamples);
    }

    /** Drops up to numSamples from the front without copying them; returns how many were dropped. */
    int discardFromFifo (int numSamples) noexcept
    {
        const auto scope = positions.read (std::max (0, numSamples));
        return scope.blockSize1 + scope.blockSize2;
    }

private:
    template <typename Writer>
    int write (int numSamples, Writer&& writePiece) noexcept
    {
        const auto scope = positions.write (numSamples);

        for (int channel = 0; channel < storage.getNumChannels(); ++channel)
        {
            auto* ring = storage.getWritePointer (channel);

            if (scope.blockSize1 > 0)
                writePiece (channel, 0, ring + scope.startIndex1, scope.blockSize1);
            if (scope.blockSize2 > 0)
                writePiece (channel, scope.blockSize1, ring + scope.startIndex2, scope.blockSize2);
        }

        return scope.blockSize1 + scope.blockSize2;
    }

    juce::AudioBuffer<SampleType> storage;
    juce::AbstractFifo positions { 1 };
};
} // namespace audio_framework::dsp

using audio_framework::dsp::AudioBufferFIFO;
