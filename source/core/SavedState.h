#pragma once

#include <juce_data_structures/juce_data_structures.h>

#include <memory>

namespace ombrel::saved_state
{
/** The XML document inside saved state data (magic "VC2!", little-endian length, UTF-8 text), or
    nullptr when the data is too short, has another magic or a length of 0 or less, or its text is
    not a complete XML document or repeats an attribute within an element. Markup JUCE never
    writes is refused before parsing: references other than the five named ones and character
    references, document types, and processing instructions other than the leading declaration.
    At most the bytes given are read; byte sequences that are not UTF-8 are replaced by U+FFFD
    before parsing. */
std::unique_ptr<juce::XmlElement> readXml (const void* data, int sizeInBytes);

/** Bit i is set when entry i (0 to 5) of the node selection array reads true; 0 for a non-array. */
int selectionMaskOf (const juce::var& selection);

/** Six entries: true where the mask's bit is set, void (reads false) elsewhere. Higher bits are ignored. */
juce::var selectionFromMask (int mask);

/** Turns a copy of the live tree into its saved form: the node selection becomes an int mask. */
void convertForSaving (juce::ValueTree& copy);

/** Turns a tree read from saved data into the live form: the editor-only child exists and the
    node selection is an array again. */
void convertForRestoring (juce::ValueTree& tree);
} // namespace ombrel::saved_state
