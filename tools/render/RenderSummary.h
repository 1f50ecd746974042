#pragma once

#include "render/RenderAnalysis.h"

#include <juce_core/juce_core.h>

namespace ombrel::render
{
/** What the summary at the end of a render reports. */
struct RenderSummary
{
    juce::String input, output, sidechain, preset, plot;
    juce::String outputFormat;      ///< "WAV 24-bit"
    double sampleRate = 0.0;
    int channels = 0;
    juce::int64 outputLength = 0;
    int latencySamples = 0;
    bool latencyKept = false;

    double inputPeakDb = 0.0, inputRmsDb = 0.0;
    double outputPeakDb = 0.0, outputRmsDb = 0.0;
    std::optional<double> gateOpenShare;
    juce::int64 clippedSamples = 0, clipEvents = 0;

    /** Takes the measured values from an analysis. */
    void takeMeasurements (const RenderAnalysis& analysis);

    /** The text printed after a render, several aligned lines ending in a line feed. */
    juce::String toText() const;
};

/** A level in dBFS with one decimal, "-inf" for silence. */
juce::String formatDecibels (double decibels);
} // namespace ombrel::render
