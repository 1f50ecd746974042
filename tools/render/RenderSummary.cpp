#include "render/RenderSummary.h"

#include <cmath>

namespace ombrel::render
{
juce::String formatDecibels (double decibels)
{
    if (! std::isfinite (decibels))
        return decibels < 0 ? "-inf dBFS" : "inf dBFS";
    return juce::String (decibels, 1) + " dBFS";
}

void RenderSummary::takeMeasurements (const RenderAnalysis& analysis)
{
    inputPeakDb = analysis.getInputLevel().peakDecibels();
    inputRmsDb = analysis.getInputLevel().rmsDecibels();
    outputPeakDb = analysis.getOutputLevel().peakDecibels();
    outputRmsDb = analysis.getOutputLevel().rmsDecibels();
    gateOpenShare = analysis.getGateOpenShare();
    clippedSamples = analysis.getClippedSamples();
    clipEvents = analysis.getClipEvents();
    outputLength = analysis.getOutputLength();
    sampleRate = analysis.getSampleRate();
}

juce::String RenderSummary::toText() const
{
    const auto row = [] (const juce::String& name, const juce::String& value) {
        return "  " + name.paddedRight (' ', 13) + value + "\n";
    };
    const auto column = [] (const juce::String& text) { return text.paddedLeft (' ', 12); };

    juce::String text;
    text << input << " -> " << output << "\n";

    if (preset.isNotEmpty())
        text << row ("preset", preset);
    if (sidechain.isNotEmpty())
        text << row ("side-chain", sidechain);

    const auto seconds = sampleRate > 0.0 ? (double) outputLength / sampleRate : 0.0;
    text << row ("output", juce::String (seconds, 3) + " s, " + juce::String (sampleRate, 0) + " Hz, "
                               + (channels == 1 ? "mono" : "stereo") + ", " + outputFormat);
    text << row ("latency", juce::String (latencySamples) + " samples " + (latencyKept ? "kept" : "removed"));
    text << row ("", column ("peak") + column ("RMS"));
    text << row ("in", column (formatDecibels (inputPeakDb)) + column (formatDecibels (inputRmsDb)));
    text << row ("out", column (formatDecibels (outputPeakDb)) + column (formatDecibels (outputRmsDb)));
    text << row ("gate open", gateOpenShare ? juce::String (*gateOpenShare * 100.0, 1) + " % of the time"
                                             : juce::String ("n/a (the gate did not run: listen or solo is on)"));
    text << row ("clip events", clippedSamples == 0 ? juce::String ("none")
                                                     : juce::String (clippedSamples) + " samples at 0 dBFS in "
                                                           + juce::String (clipEvents) + (clipEvents == 1 ? " run" : " runs"));
    if (plot.isNotEmpty())
        text << row ("plot", plot);

    return text;
}
} // namespace ombrel::render
