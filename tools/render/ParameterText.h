#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace ombrel::render
{
/**
    Reads a parameter value the way a user types it on the command line, strictly: a text that
    does not name a value of the parameter is an error, where the host's own text reading would
    quietly pick some value ("abc" as 0 dB, "yes" as Off).

    Accepted, by parameter:
    - switches: "On" or "Off" in any case (also true/false, 1/0);
    - "outputClipType": "off", "auto", "clip"; "lpAmount", "hpAmount": "soft", "medium", "heavy";
    - "releaseSync": a division name ("1 bar", "1/8 d", "1/16 t", blanks and case free) or its
      index, as the host shows it ("4.0");
    - "filterType0" to "filterType5": a filter type name, or its index;
    - every other parameter: a number within its range, optionally followed by its unit
      ("-30 db", "120 ms", "50 %", "1.2 khz" or "1200 hz" for the equaliser frequencies).
*/
class ParameterText
{
public:
    /** The real (not normalised) value the text stands for, or an error saying what the
        parameter takes ("\"abc\" is not a number from -72 to 6 db"). */
    static juce::Result toValue (const juce::RangedAudioParameter& parameter, const juce::String& text, float& value);

    /** Finds the parameter by ID (exact), reads the text and sets it, notifying host and modules. */
    static juce::Result apply (juce::AudioProcessorValueTreeState& parameters, const juce::String& id, const juce::String& text);

    /** What the parameter accepts, for error messages ("a number from -72 to 6 db"). */
    static juce::String describeAccepted (const juce::RangedAudioParameter& parameter);
};
} // namespace ombrel::render
