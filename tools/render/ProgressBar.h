#pragma once

#include <juce_core/juce_core.h>

#include <functional>

namespace ombrel::render
{
/** A one-line progress bar redrawn in place, for renders long enough to wait for. */
class ProgressBar
{
public:
    static constexpr double minimumSeconds = 5.0;
    static constexpr int barWidth = 40;

    /** `enabled` false keeps it silent (quiet mode, or a terminal is not attached). */
    ProgressBar (std::function<void (const juce::String&)> writeToTerminal, bool enabled);

    /** Shows the bar only for inputs of at least minimumSeconds. */
    void start (const juce::String& name, double durationSeconds);

    /** Redraws when the shown percentage changes. */
    void update (double fraction);

    /** Ends the line, if a bar was drawn. */
    void finish();

    /** The text of the bar line for a share done, e.g. "demo.wav [#####....]  12 %". */
    static juce::String line (const juce::String& name, double fraction);

private:
    std::function<void (const juce::String&)> write;
    bool enabled, showing = false;
    int shownPercent = -1;
    juce::String name;
};
} // namespace ombrel::render
