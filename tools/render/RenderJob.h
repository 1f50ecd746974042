#pragma once

#include "render/AudioFiles.h"
#include "render/CommandLine.h"
#include "render/OfflineRenderer.h"
#include "render/RenderSummary.h"

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

namespace ombrel::render
{
/** One render: files resolved, settings as typed. */
struct RenderJobSettings
{
    juce::File input, output;
    juce::File sidechain, preset, plot;   ///< default-constructed when not used
    juce::String format;                  ///< short name or empty
    int bitDepth = 0;
    std::vector<ParameterAssignment> assignments;
    std::optional<double> tempo;
    bool keepLatency = false;
    int blockSize = OfflineRenderer::defaultBlockSize;
};

/** The settings for each input of a command line, with its output named; relative paths are
    resolved against `workingFolder`. */
std::vector<RenderJobSettings> settingsForInputs (const CommandLineOptions& options, const juce::File& workingFolder);

/** The default output of an input: INPUT-sorvanta.EXT in `folder` (the input's own when empty),
    EXT from the chosen format name, else the input's extension. */
juce::File defaultOutputFor (const juce::File& input, const juce::File& folder, const juce::String& format);

/**
    Runs one render from files to files: checks every file and setting before any audio is
    processed, renders into a temporary file in the output's folder, renames it over the output
    when complete, then draws the plot. A failure or a cancel leaves no output file behind and
    never touches the input.
*/
class RenderJob
{
public:
    using Outcome = OfflineRenderer::Outcome;

    struct Result
    {
        Outcome outcome = Outcome::failed;
        juce::String error;          ///< one line naming the file (or option) and the reason
        juce::StringArray warnings;  ///< things the user may not expect, one line each
        RenderSummary summary;       ///< filled for a finished render
    };

    struct Hooks
    {
        const std::atomic<bool>* cancel = nullptr;
        /** Called once before the first block with the input's duration in seconds. */
        std::function<void (double)> started;
        /** Called after every block with the share done, 0 to 1. */
        std::function<void (double)> progress;
        /** Told the temporary file's path before it is written, and an empty File once it is gone
            or renamed: what a signal handler must delete. */
        std::function<void (const juce::File&)> temporaryFileChanged;
    };

    explicit RenderJob (AudioFiles& files) : audioFiles (files) {}

    Result run (const RenderJobSettings& settings, const Hooks& hooks);
    Result run (const RenderJobSettings& settings) { return run (settings, Hooks()); }

private:
    /** Renders through a temporary file beside the output and renames it over the output. */
    juce::Result renderToFile (BrimvaleAudioProcessor& processor,
                               juce::AudioFormatReader& input,
                               juce::AudioFormatReader* sidechain,
                               const RenderJobSettings& settings,
                               const AudioFiles::OutputFormat& format,
                               const Hooks& hooks,
                               OfflineRenderer::Result& rendered);

    AudioFiles& audioFiles;
};
} // namespace ombrel::render
