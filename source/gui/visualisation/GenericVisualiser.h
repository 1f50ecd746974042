#pragma once

#include "gui/Palette.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <type_traits>
#include <vector>

namespace ombrel
{
/** A scrolling history of value ranges, fed from the audio thread and drawn on the message thread.

    Each pushed value is first mapped through a value range onto -1 (range start, bottom) to
    +1 (range end, top). Every `getSamplesPerBlock()` values make one point, the minimum and
    maximum of the values it covers; the newest `getBufferSize()` points are drawn either as a
    line along the maxima or as the area between minima and maxima.

    It follows the interface of juce::AudioVisualiserComponent, but keeps its ring in storage that
    is allocated once and never moves: the audio thread writes each point and the ring position
    atomically, and the message thread may resize the ring or paint it at any moment without a lock.
*/
template <typename T>
class GenericVisualiser : public juce::Component,
                          private juce::Timer
{
public:
    static_assert (std::is_floating_point_v<T>, "The visualiser maps floating-point values");

    /** The largest ring a channel can have; setBufferSize() clamps to it. */
    static constexpr int maximumBufferSize = 2048;

    GenericVisualiser (int numChannels, juce::NormalisableRange<T> valueRange);
    ~GenericVisualiser() override;

    //==============================================================================
    /** Audio thread. Rewrites every sample of the buffer in place with its display value, then
        appends the first min (channels, buffer channels) channels to the history. Never
        allocates or locks; the buffer must be the caller's own scratch buffer. */
    void pushBuffer (juce::AudioBuffer<T>& buffer) noexcept;

    /** The display value of one pushed value: snapped to the range's interval, clamped to the
        range and mapped to -1 (start) .. +1 (end). A NaN shows at the bottom. */
    float toDisplayValue (T value) const noexcept;

    //==============================================================================
    /** Number of points kept per channel, clamped to 1 .. maximumBufferSize. Points below the new
        size keep their values; points that come into view when growing start empty. */
    void setBufferSize (int numPoints);
    int getBufferSize() const noexcept { return mNumPoints.load(); }

    /** Number of pushed values that make one point (at least 1). */
    void setSamplesPerBlock (int numValuesPerPoint) noexcept;
    int getSamplesPerBlock() const noexcept { return mValuesPerPoint.load(); }

    int getNumChannels() const noexcept { return (int) mChannels.size(); }

    /** Copies a channel's points into `destination` (room for getBufferSize() points at least)
        in ring order; returns the ring index of the newest point. */
    int copyLevels (int channel, juce::Range<float>* destination, int numPoints) const noexcept;

    //==============================================================================
    void setColours (juce::Colour backgroundColour, juce::Colour waveformColour);
    void setRepaintRate (int frequencyInHz);

    /** False: a line along the maxima; true: the filled area between minima and maxima. */
    void setFillMode (bool shouldFill);
    bool isFillMode() const noexcept { return mFillMode; }

    const juce::NormalisableRange<T>& getValueRange() const noexcept { return mValueRange; }

    //==============================================================================
    /** Draws one channel: `levels` holds `numLevels` points in ring order, `newestIndex` is the
        ring index of the newest one, which is drawn one point-width left of the right edge. */
    virtual void paintChannel (juce::Graphics& g,
                               juce::Rectangle<float> area,
                               const juce::Range<float>* levels,
                               int numLevels,
                               int newestIndex);

    void paint (juce::Graphics& g) override;

private:
    struct Level
    {
        float minimum = 0.0f, maximum = 0.0f;
    };

    static_assert (std::atomic<Level>::is_always_lock_free, "The ring must be lock-free");

    struct Channel
    {
        Channel();

        std::unique_ptr<std::atomic<Level>[]> levels;
        std::atomic<int> newestIndex { 0 };

        // Only the audio thread touches these.
        int countdown = 0;
        Level pending;
    };

    void pushValues (Channel& channel, const T* values, int numValues, int numPoints, int valuesPerPoint) noexcept;
    void timerCallback() override { repaint(); }

    std::vector<std::unique_ptr<Channel>> mChannels;
    std::atomic<int> mNumPoints { 1024 };
    std::atomic<int> mValuesPerPoint { 256 };

    bool mFillMode = false;
    const juce::NormalisableRange<T> mValueRange;

    juce::Colour mBackgroundColour { juce::Colours::black };
    juce::Colour mWaveformColour { juce::Colours::white };
    juce::HeapBlock<juce::Range<float>> mPaintLevels;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (GenericVisualiser)
};

//==============================================================================
template <typename T>
GenericVisualiser<T>::Channel::Channel()
    : levels (new std::atomic<Level>[(size_t) maximumBufferSize])
{
    for (int i = 0; i < maximumBufferSize; ++i)
        levels[(size_t) i].store (Level {}, std::memory_order_relaxed);
}

template <typename T>
GenericVisualiser<T>::GenericVisualiser (int numChannels, juce::NormalisableRange<T> valueRange)
    : mValueRange (std::move (valueRange)),
      mPaintLevels ((size_t) maximumBufferSize, true)
{
    for (int i = 0; i < juce::jmax (1, numChannels); ++i)
        mChannels.push_back (std::make_unique<Channel>());

    setRepaintRate (60);
}

template <typename T>
GenericVisualiser<T>::~GenericVisualiser()
{
    stopTimer();
}

template <typename T>
float GenericVisualiser<T>::toDisplayValue (T value) const noexcept
{
    if (std::isnan (value))
        return -1.0f;

    const auto snapped = mValueRange.snapToLegalValue (value);
    const auto proportion = juce::jlimit (T (0), T (1), mValueRange.convertTo0to1 (snapped));
    return (float) (T (2) * proportion - T (1));
}

template <typename T>
void GenericVisualiser<T>::pushBuffer (juce::AudioBuffer<T>& buffer) noexcept
{
    const auto numValues = buffer.getNumSamples();

    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
    {
        auto* samples = buffer.getWritePointer (ch);

        for (int i = 0; i < numValues; ++i)
            samples[i] = (T) toDisplayValue (samples[i]);
    }

    const auto numPoints = mNumPoints.load (std::memory_order_acquire);
    const auto valuesPerPoint = mValuesPerPoint.load (std::memory_order_relaxed);
    const auto numChannelsToPush = juce::jmin (getNumChannels(), buffer.getNumChannels());

    for (int ch = 0; ch < numChannelsToPush; ++ch)
        pushValues (*mChannels[(size_t) ch], buffer.getReadPointer (ch), numValues, numPoints, valuesPerPoint);
}

template <typename T>
void GenericVisualiser<T>::pushValues (Channel& channel, const T* values, int numValues,
                                       int numPoints, int valuesPerPoint) noexcept
{
    auto newest = channel.newestIndex.load (std::memory_order_relaxed);

    for (int i = 0; i < numValues; ++i)
    {
        const auto value = (float) values[i];

        if (--channel.countdown <= 0)
        {
            // The message thread may have shrunk the ring since the last block.
            if (++newest >= numPoints)
                newest = 0;

            channel.levels[(size_t) newest].store (channel.pending, std::memory_order_relaxed);
            channel.newestIndex.store (newest, std::memory_order_release);
            channel.countdown = valuesPerPoint;
            channel.pending = { value, value };
        }
        else
        {
            channel.pending.minimum = juce::jmin (channel.pending.minimum, value);
            channel.pending.maximum = juce::jmax (channel.pending.maximum, value);
        }
    }
}

template <typename T>
void GenericVisualiser<T>::setBufferSize (int numPoints)
{
    numPoints = juce::jlimit (1, maximumBufferSize, numPoints);
    const auto oldNumPoints = mNumPoints.load();

    for (auto& channel : mChannels)
    {
        for (int i = oldNumPoints; i < numPoints; ++i)
            channel->levels[(size_t) i].store (Level {}, std::memory_order_relaxed);
    }

    mNumPoints.store (numPoints, std::memory_order_release);

    // Like the JUCE visualiser, a ring position beyond the new end restarts at 0.
    for (auto& channel : mChannels)
    {
        auto newest = channel->newestIndex.load();

        while (newest >= numPoints && ! channel->newestIndex.compare_exchange_weak (newest, 0))
        {
        }
    }
}

template <typename T>
void GenericVisualiser<T>::setSamplesPerBlock (int numValuesPerPoint) noexcept
{
    mValuesPerPoint.store (juce::jmax (1, numValuesPerPoint));
}

template <typename T>
int GenericVisualiser<T>::copyLevels (int channelIndex, juce::Range<float>* destination, int numPoints) const noexcept
{
    const auto& channel = *mChannels[(size_t) channelIndex];
    const auto newest = channel.newestIndex.load (std::memory_order_acquire);

    for (int i = 0; i < numPoints; ++i)
    {
        const auto level = channel.levels[(size_t) i].load (std::memory_order_relaxed);
        destination[i] = juce::Range<float> (level.minimum, level.maximum);
    }

    // A push racing with a shrink can leave the position past the end for one block.
    return newest < numPoints ? newest : 0;
}

template <typename T>
void GenericVisualiser<T>::setColours (juce::Colour backgroundColour, juce::Colour waveformColour)
{
    mBackgroundColour = backgroundColour;
    mWaveformColour = waveformColour;
    repaint();
}

template <typename T>
void GenericVisualiser<T>::setRepaintRate (int frequencyInHz)
{
    startTimerHz (frequencyInHz);
}

template <typename T>
void GenericVisualiser<T>::setFillMode (bool shouldFill)
{
    mFillMode = shouldFill;
    repaint();
}

template <typename T>
void GenericVisualiser<T>::paint (juce::Graphics& g)
{
    g.fillAll (mBackgroundColour);

    auto area = getLocalBounds().toFloat();
    const auto channelHeight = area.getHeight() / (float) getNumChannels();
    const auto numPoints = getBufferSize();

    g.setColour (mWaveformColour);

    for (int ch = 0; ch < getNumChannels(); ++ch)
    {
        const auto newest = copyLevels (ch, mPaintLevels.get(), numPoints);
        paintChannel (g, area.removeFromTop (channelHeight), mPaintLevels.get(), numPoints, newest);
    }
}

template <typename T>
void GenericVisualiser<T>::paintChannel (juce::Graphics& g,
                                         juce::Rectangle<float> area,
                                         const juce::Range<float>* levels,
                                         int numLevels,
                                         int newestIndex)
{
    if (numLevels <= 0)
        return;

    auto pointAt = [&] (int j) -> const juce::Range<float>& { return levels[(newestIndex + 1 + j) % numLevels]; };

    juce::Path path;
    path.preallocateSpace (4 * numLevels + 8);
    path.startNewSubPath (0.0f, -pointAt (0).getEnd());

    for (int j = 1; j < numLevels; ++j)
        path.lineTo ((float) j, -pointAt (j).getEnd());

    if (mFillMode)
    {
        for (int j = numLevels; --j >= 0;)
            path.lineTo ((float) j, -pointAt (j).getStart());

        path.closeSubPath();
    }

    const auto toArea = juce::AffineTransform::fromTargetPoints (0.0f, -1.0f, area.getX(), area.getY(),
                                                                 0.0f, 1.0f, area.getX(), area.getBottom(),
                                                                 (float) numLevels, -1.0f, area.getRight(), area.getY());

    if (mFillMode)
    {
        g.fillPath (path, toArea);
        return;
    }

    // A wide halo under a narrow line, both in fixed colours; the widths are in pixels.
    g.setColour (colours::gate_graph_area);
    g.strokePath (path, juce::PathStrokeType (4.0f, juce::PathStrokeType::beveled, juce::PathStrokeType::butt), toArea);
    g.setColour (colours::gate_graph_line);
    g.strokePath (path, juce::PathStrokeType (2.0f, juce::PathStrokeType::beveled, juce::PathStrokeType::butt), toArea);
}

extern template class GenericVisualiser<float>;
} // namespace ombrel
