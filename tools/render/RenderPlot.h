#pragma once

#include "render/RenderAnalysis.h"
#include "render/RenderSummary.h"

#include <juce_graphics/juce_graphics.h>

namespace ombrel::render
{
/**
    Draws a render as one picture: the input waveform, the output waveform over a faint copy of
    the input, and the gate's gain from 0 to 1, in three lanes over a shared time axis, with a
    title and the summary's levels. Draws into an image in memory; no window or display needed.
*/
class RenderPlot
{
public:
    static constexpr int defaultWidth = 1400;
    static constexpr int defaultHeight = 760;

    static juce::Image draw (const RenderAnalysis& analysis, const RenderSummary& summary,
                             int width = defaultWidth, int height = defaultHeight);

    /** Writes the image as PNG through a temporary file in the target's folder, renamed when
        complete. The error names no file; callers prefix it. */
    static juce::Result writePng (const juce::Image& image, const juce::File& file);

    /** A tick spacing in seconds that gives at most `maximumTicks` ticks over the duration. */
    static double tickSpacing (double seconds, int maximumTicks);
};
} // namespace ombrel::render
