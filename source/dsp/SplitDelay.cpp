#include "dsp/SplitDelay.h"

#include <algorithm>

namespace ombrel::dsp
{
void SplitDelay::prepare (int numChannels, int totalDelaySamples, int maxBlockSize, int lookaheadSamples)
{
    totalDelay = std::max (0, totalDelaySamples);
    lookahead = std::clamp (lookaheadSamples, 0, totalDelay);

    // A block is written before it is read back, so a line briefly holds its delay plus a block.
    const auto capacity = totalDelay + std::max (1, maxBlockSize) + 1;
    lookaheadLine.prepare (numChannels, capacity);
    compensationLine.prepare (numChannels, capacity);

    lookaheadLine.addSilenceToFifo (lookahead);
    compensationLine.addSilenceToFifo (totalDelay - lookahead);
}

void SplitDelay::setLookahead (int lookaheadSamples) noexcept
{
    const auto wanted = std::clamp (lookaheadSamples, 0, totalDelay);

    if (wanted > lookahead)
    {
        const auto grow = wanted - lookahead;
        lookaheadLine.addSilenceToFifo (grow);
        compensationLine.discardFromFifo (std::min (grow, compensationLine.getNumReady()));
    }
    else if (wanted < lookahead)
    {
        const auto shrink = lookahead - wanted;
        lookaheadLine.discardFromFifo (std::min (shrink, lookaheadLine.getNumReady()));
        compensationLine.addSilenceToFifo (shrink);
    }

    lookahead = wanted;
}

void SplitDelay::delay (AudioBufferFIFO<float>& line, juce::dsp::AudioBlock<float>& block, int numSamples) noexcept
{
    line.addToFifo (block, numSamples);
    line.readFromFifo (block, numSamples);
}

void SplitDelay::delayByLookahead (juce::dsp::AudioBlock<float>& block, int numSamples) noexcept
{
    delay (lookaheadLine, block, numSamples);
}

void SplitDelay::delayByCompensation (juce::dsp::AudioBlock<float>& block, int numSamples) noexcept
{
    delay (compensationLine, block, numSamples);
}
} // namespace ombrel::dsp
