#include "render/ProgressBar.h"

namespace ombrel::render
{
ProgressBar::ProgressBar (std::function<void (const juce::String&)> writeToTerminal, bool shouldShow)
    : write (std::move (writeToTerminal)), enabled (shouldShow)
{
}

void ProgressBar::start (const juce::String& nameToShow, double durationSeconds)
{
    name = nameToShow;
    showing = enabled && durationSeconds >= minimumSeconds;
    shownPercent = -1;
    update (0.0);
}

void ProgressBar::update (double fraction)
{
    if (! showing)
        return;

    const auto percent = juce::jlimit (0, 100, (int) (fraction * 100.0));
    if (percent == shownPercent)
        return;

    shownPercent = percent;
    write ("\r" + line (name, fraction));
}

void ProgressBar::finish()
{
    if (showing)
        write ("\n");
    showing = false;
}

juce::String ProgressBar::line (const juce::String& nameToShow, double fraction)
{
    fraction = juce::jlimit (0.0, 1.0, fraction);
    const auto filled = (int) (fraction * barWidth);
    return nameToShow + " [" + juce::String::repeatedString ("#", filled) + juce::String::repeatedString (".", barWidth - filled) + "] "
           + juce::String ((int) (fraction * 100.0)).paddedLeft (' ', 3) + " %";
}
} // namespace ombrel::render
