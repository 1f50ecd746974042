// sorvanta-render: renders audio files offline through the sorvanta processor.

#include "render/CommandLine.h"
#include "render/DemoTracks.h"
#include "render/ProgressBar.h"
#include "render/RenderJob.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <iostream>
#include <unistd.h>

namespace
{
constexpr int exitBadCommandLine = 2;
constexpr int exitInterrupted = 130;

// Shared with the signal handler, so only lock-free atomics and a fixed buffer.
std::atomic<bool> cancelRequested { false };
std::atomic<bool> temporaryPathSet { false };
char temporaryPath[4096] {};

extern "C" void onTerminationSignal (int)
{
    // The first signal asks the render to stop at the next block, which then removes its
    // temporary file. A second one does not wait: it removes the file itself and leaves.
    if (cancelRequested.exchange (true))
    {
        if (temporaryPathSet.load())
            ::unlink (temporaryPath);
        ::_exit (exitInterrupted);
    }
}

void installSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset (&action.sa_mask);
    for (auto signal : { SIGINT, SIGTERM, SIGHUP })
        ::sigaction (signal, &action, nullptr);
}

void rememberTemporaryFile (const juce::File& file)
{
    temporaryPathSet = false;
    const auto path = file.getFullPathName();
    if (path.isNotEmpty() && (size_t) path.getNumBytesAsUTF8() < sizeof (temporaryPath))
    {
        std::strcpy (temporaryPath, path.toRawUTF8());
        temporaryPathSet = true;
    }
}

void printError (const juce::String& message)
{
    std::cerr << "sorvanta-render: " << message << std::endl;
}

int makeDemo (const juce::File& folder)
{
    juce::Array<juce::File> written;
    if (const auto result = ombrel::render::DemoTracks::write (folder, written); result.failed())
    {
        printError (result.getErrorMessage());
        return 1;
    }

    for (const auto& file : written)
        std::cout << "wrote " << file.getRelativePathFrom (juce::File::getCurrentWorkingDirectory()) << "\n";
    return 0;
}

int renderAll (const ombrel::render::CommandLineOptions& options)
{
    using namespace ombrel::render;

    AudioFiles audioFiles;
    RenderJob job (audioFiles);
    auto anyFailed = false;

    ProgressBar progressBar ([] (const juce::String& text) { std::cerr << text << std::flush; },
                             ! options.quiet && ::isatty (STDERR_FILENO) == 1);

    for (const auto& settings : settingsForInputs (options, juce::File::getCurrentWorkingDirectory()))
    {
        RenderJob::Hooks hooks;
        hooks.cancel = &cancelRequested;
        hooks.started = [&] (double seconds) { progressBar.start (settings.input.getFileName(), seconds); };
        hooks.progress = [&] (double fraction) { progressBar.update (fraction); };
        hooks.temporaryFileChanged = rememberTemporaryFile;

        const auto result = job.run (settings, hooks);
        progressBar.finish();

        for (const auto& warning : result.warnings)
            printError ("warning: " + warning);

        if (result.outcome == RenderJob::Outcome::cancelled)
        {
            printError (result.error);
            return exitInterrupted;
        }

        if (result.outcome == RenderJob::Outcome::failed)
        {
            printError (result.error);
            anyFailed = true;
            continue;
        }

        std::cout << result.summary.toText() << std::flush;
    }

    return anyFailed ? 1 : 0;
}
} // namespace

int main (int argc, char* argv[])
{
    const auto parsed = ombrel::render::parseCommandLine (juce::StringArray (argv + 1, argc - 1));

    if (! parsed.ok())
    {
        printError (parsed.error);
        return exitBadCommandLine;
    }

    if (parsed.options.showHelp)
    {
        std::cout << ombrel::render::helpText();
        return 0;
    }

    installSignalHandlers();

    // The parameter tree needs a message manager; no window or display is opened.
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    if (parsed.options.demoFolder.isNotEmpty())
        return makeDemo (juce::File::getCurrentWorkingDirectory().getChildFile (parsed.options.demoFolder));

    return renderAll (parsed.options);
}
