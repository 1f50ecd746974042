#pragma once

#include <juce_core/juce_core.h>

#include <optional>

namespace ombrel::render
{
/** A decimal number at the start of a text, read strictly. */
struct LeadingNumber
{
    double value = 0.0;
    juce::String rest;   ///< what follows the number, trimmed
};

/** Reads an optional sign, digits with an optional point and an optional exponent, after
    optional blanks. Empty when the text does not start with a number, or the number is not
    finite. Unlike JUCE's getDoubleValue, "abc" is not 0. */
std::optional<LeadingNumber> readLeadingNumber (const juce::String& text);

/** The whole text as one number (blanks around it allowed); empty otherwise. */
std::optional<double> readNumber (const juce::String& text);
} // namespace ombrel::render
