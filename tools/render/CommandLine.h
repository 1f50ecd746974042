#pragma once

#include <juce_core/juce_core.h>

#include <optional>
#include <vector>

namespace ombrel::render
{
/** One `--set ID=VALUE`, the value still in the user's text. */
struct ParameterAssignment
{
    juce::String id;
    juce::String text;
};

/** Everything the command line asks for; paths are as typed (relative to the working folder). */
struct CommandLineOptions
{
    bool showHelp = false;
    juce::String demoFolder;               ///< --make-demo DIR: write the demo tracks instead of rendering

    juce::StringArray inputs;
    juce::String output;                   ///< -o: only with one input
    juce::String outputFolder;             ///< --out-dir: outputs named after their inputs
    juce::String sidechain;
    juce::String preset;
    juce::String plot;                     ///< --plot: only with one input
    juce::String format;                   ///< "wav", "aiff", "flac", "ogg" or empty (as the input)
    int bitDepth = 0;                      ///< 0: as the input
    std::vector<ParameterAssignment> assignments;
    std::optional<double> tempo;
    bool keepLatency = false;
    bool quiet = false;
};

struct ParsedCommandLine
{
    CommandLineOptions options;
    juce::String error;   ///< empty when the arguments made sense

    bool ok() const noexcept { return error.isEmpty(); }
};

/** Reads the arguments (without the program name). Checks their shape only; files, parameter IDs
    and values are checked when a render is set up. */
ParsedCommandLine parseCommandLine (const juce::StringArray& arguments);

/** The text of --help. */
juce::String helpText();

/** The lower-case names --format accepts. */
const juce::StringArray& formatNames();
} // namespace ombrel::render
