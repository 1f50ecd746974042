#pragma once

#include "dsp/AudioBufferFIFO.h"

#include <juce_dsp/juce_dsp.h>

namespace ombrel::dsp
{
/**
    A fixed total delay split into two delay lines in series: the lookahead line before the
    gain is applied and the compensation line after it. Moving the split keeps the total:
    growing the lookahead inserts silence before the gain and drops as many samples from the
    compensation line, and the other way round.
*/
class SplitDelay
{
public:
    /** Sizes both lines for the total delay and blocks of up to maxBlockSize, and sets the split.
        Allocates. */
    void prepare (int numChannels, int totalDelaySamples, int maxBlockSize, int lookaheadSamples);

    /** Moves the split; the lookahead is limited to [0, total]. Nothing is crossfaded. */
    void setLookahead (int lookaheadSamples) noexcept;

    /** Delays the first numSamples of the block by the lookahead, in place. */
    void delayByLookahead (juce::dsp::AudioBlock<float>& block, int numSamples) noexcept;

    /** Delays the first numSamples of the block by the compensation (total - lookahead), in place. */
    void delayByCompensation (juce::dsp::AudioBlock<float>& block, int numSamples) noexcept;

    int getLookahead() const noexcept { return lookahead; }
    int getTotalDelay() const noexcept { return totalDelay; }

    /** Samples held between blocks; their sum is the total delay. */
    int getLookaheadReady() const noexcept { return lookaheadLine.getNumReady(); }
    int getCompensationReady() const noexcept { return compensationLine.getNumReady(); }

private:
    static void delay (AudioBufferFIFO<float>& line, juce::dsp::AudioBlock<float>& block, int numSamples) noexcept;

    AudioBufferFIFO<float> lookaheadLine, compensationLine;
    int totalDelay = 0;
    int lookahead = 0;
};
} // namespace ombrel::dsp
