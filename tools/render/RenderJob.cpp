#include "render/RenderJob.h"

#include "core/PluginProcessor.h"
#include "presets/PresetManager.h"
#include "render/ParameterText.h"
#include "render/RenderPlot.h"

namespace ombrel::render
{
namespace
{
    /** A path as the user will recognise it: relative below the working folder, else absolute. */
    juce::String displayPath (const juce::File& file)
    {
        const auto working = juce::File::getCurrentWorkingDirectory();
        return file.isAChildOf (working) ? file.getRelativePathFrom (working) : file.getFullPathName();
    }

    juce::String extensionForFormat (const juce::String& format)
    {
        if (format == "aiff")
            return ".aiff";
        return format.isNotEmpty() ? "." + format : juce::String();
    }

    juce::String describeSeconds (juce::int64 samples, double sampleRate)
    {
        return juce::String ((double) samples / sampleRate, 2) + " s";
    }

    bool isUsed (const juce::File& file) { return file != juce::File(); }

    /** The one-line error: what it is about, then why. */
    juce::Result failure (const juce::String& subject, const juce::String& reason)
    {
        return juce::Result::fail (subject + ": " + reason);
    }

    juce::Result failure (const juce::File& file, const juce::String& reason)
    {
        return failure (displayPath (file), reason);
    }

    /** Nothing the render writes may be a file it reads, a folder, or in a missing folder. */
    juce::Result checkWrittenFiles (const RenderJobSettings& settings)
    {
        for (const auto& [written, kind] : { std::pair { settings.output, "output" }, std::pair { settings.plot, "plot" } })
        {
            if (! isUsed (written))
                continue;
            for (const auto& [read, what] : { std::pair { settings.input, "input" }, std::pair { settings.sidechain, "side-chain" }, std::pair { settings.preset, "preset" } })
                if (isUsed (read) && isSameFile (written, read))
                    return failure (written, juce::String ("is the ") + what + " file; refusing to overwrite it with the " + kind);
            if (written.isDirectory())
                return failure (written, "is a folder");
            if (! written.getParentDirectory().isDirectory())
                return failure (written, "folder " + displayPath (written.getParentDirectory()) + " does not exist");
        }

        if (isUsed (settings.plot) && isSameFile (settings.plot, settings.output))
            return failure (settings.plot, "is the output file too");

        return juce::Result::ok();
    }

    juce::Result openSidechain (AudioFiles& audioFiles, const juce::File& file, const juce::AudioFormatReader& input,
                                std::unique_ptr<juce::AudioFormatReader>& sidechain, juce::StringArray& warnings)
    {
        if (const auto opened = audioFiles.open (file, sidechain); opened.failed())
            return failure (file, opened.getErrorMessage());
        if (sidechain->numChannels > 2)
            return failure (file, "has " + juce::String (sidechain->numChannels) + " channels; a side-chain is mono or stereo");
        if (sidechain->sampleRate != input.sampleRate)
            return failure (file, "sample rate " + juce::String (sidechain->sampleRate) + " Hz differs from the input's "
                                      + juce::String (input.sampleRate) + " Hz; resample one of them first");

        const auto difference = sidechain->lengthInSamples - input.lengthInSamples;
        if (difference < 0)
            warnings.add ("side-chain " + displayPath (file) + " is " + describeSeconds (-difference, input.sampleRate)
                          + " shorter than the input; the gate hears silence after its end");
        else if (difference > 0)
            warnings.add ("side-chain " + displayPath (file) + " is " + describeSeconds (difference, input.sampleRate)
                          + " longer than the input; the rest is ignored");

        return juce::Result::ok();
    }

    juce::Result loadPreset (BrimvaleAudioProcessor& processor, const juce::File& file, juce::String& label, juce::StringArray& warnings)
    {
        if (file.isDirectory())
            return failure (file, "is a folder, not a preset");
        if (! file.existsAsFile())
            return failure (file, "no such file");

        PresetManager presets (processor);
        presets.onWrongFileKind = [] (const juce::String&, const juce::String&) {}; // reported as an error instead
        const auto report = presets.loadPreset (file.getFullPathName().toStdString());

        if (report.status == PresetManager::LoadStatus::cannotOpen)
            return failure (file, "cannot be opened");
        if (report.status == PresetManager::LoadStatus::notAPreset)
            return failure (file, PresetManager::getWrongFileMessage());
        if (report.skipped > 0)
            warnings.add ("preset " + displayPath (file) + ": " + juce::String (report.skipped)
                          + " entries skipped (unknown IDs or values that are no numbers)");
        if (report.endedEarly)
            warnings.add ("preset " + displayPath (file) + " ends early; the missing parameters keep their defaults");

        label = juce::String (PresetManager::getLabelText (file.getFullPathName().toStdString()));
        return juce::Result::ok();
    }

    /** Preset, then the side-chain switch, then the --set values, so later ones win. */
    juce::Result applySettings (BrimvaleAudioProcessor& processor, const RenderJobSettings& settings,
                                juce::String& presetLabel, juce::StringArray& warnings)
    {
        if (isUsed (settings.preset))
            if (const auto loaded = loadPreset (processor, settings.preset, presetLabel, warnings); loaded.failed())
                return loaded;

        const auto& sidechainToggle = config::Macro::sidechainToggle.id;
        if (isUsed (settings.sidechain))
            ParameterText::apply (processor.mParameters, sidechainToggle, "On");

        for (const auto& assignment : settings.assignments)
            if (const auto applied = ParameterText::apply (processor.mParameters, assignment.id, assignment.text); applied.failed())
                return failure ("--set " + assignment.id + "=" + assignment.text, applied.getErrorMessage());

        if (! isUsed (settings.sidechain) && processor.mParameters.getParameter (sidechainToggle)->getValue() >= 0.5f)
            warnings.add ("sidechainToggle is On but no --sidechain file is given: the gate hears silence and stays at its floor");

        return juce::Result::ok();
    }
} // namespace

juce::File defaultOutputFor (const juce::File& input, const juce::File& folder, const juce::String& format)
{
    const auto extension = format.isNotEmpty() ? extensionForFormat (format) : input.getFileExtension();
    const auto target = folder == juce::File() ? input.getParentDirectory() : folder;
    return target.getChildFile (input.getFileNameWithoutExtension() + "-sorvanta" + extension);
}

std::vector<RenderJobSettings> settingsForInputs (const CommandLineOptions& options, const juce::File& workingFolder)
{
    const auto resolve = [&] (const juce::String& path) {
        return path.isEmpty() ? juce::File() : workingFolder.getChildFile (path);
    };

    std::vector<RenderJobSettings> jobs;
    for (const auto& input : options.inputs)
    {
        RenderJobSettings job;
        job.input = resolve (input);
        job.output = options.output.isNotEmpty() ? resolve (options.output)
                                                 : defaultOutputFor (job.input, resolve (options.outputFolder), options.format);
        job.sidechain = resolve (options.sidechain);
        job.preset = resolve (options.preset);
        job.plot = resolve (options.plot);
        job.format = options.format;
        job.bitDepth = options.bitDepth;
        job.assignments = options.assignments;
        job.tempo = options.tempo;
        job.keepLatency = options.keepLatency;
        jobs.push_back (std::move (job));
    }
    return jobs;
}

RenderJob::Result RenderJob::run (const RenderJobSettings& settings, const Hooks& hooks)
{
    Result result;
    const auto failed = [&result] (const juce::Result& error) -> Result& {
        result.outcome = Outcome::failed;
        result.error = error.getErrorMessage();
        return result;
    };

    // Every check comes before any audio is processed, so a mistake costs no time.
    std::unique_ptr<juce::AudioFormatReader> input;
    if (const auto opened = audioFiles.open (settings.input, input); opened.failed())
        return failed (failure (settings.input, opened.getErrorMessage()));

    const auto channels = static_cast<int> (input->numChannels);
    if (channels > 2)
        return failed (failure (settings.input, "has " + juce::String (channels) + " channels; sorvanta renders mono or stereo"));

    if (const auto checked = checkWrittenFiles (settings); checked.failed())
        return failed (checked);

    std::unique_ptr<juce::AudioFormatReader> sidechain;
    if (isUsed (settings.sidechain))
        if (const auto opened = openSidechain (audioFiles, settings.sidechain, *input, sidechain, result.warnings); opened.failed())
            return failed (opened);

    BrimvaleAudioProcessor processor;
    if (const auto applied = applySettings (processor, settings, result.summary.preset, result.warnings); applied.failed())
        return failed (applied);

    AudioFiles::OutputFormat format;
    if (const auto chosen = audioFiles.chooseOutputFormat (*input, settings.output, settings.format, settings.bitDepth, format); chosen.failed())
        return failed (failure (settings.output, chosen.getErrorMessage()));

    OfflineRenderer::Result rendered;
    if (const auto written = renderToFile (processor, *input, sidechain.get(), settings, format, hooks, rendered); written.failed())
    {
        result.outcome = rendered.outcome == Outcome::cancelled ? Outcome::cancelled : Outcome::failed;
        result.error = written.getErrorMessage();
        return result;
    }

    auto& summary = result.summary;
    summary.input = displayPath (settings.input);
    summary.output = displayPath (settings.output);
    summary.sidechain = isUsed (settings.sidechain) ? displayPath (settings.sidechain) : juce::String();
    summary.outputFormat = AudioFiles::describe (*format.format, format.bitDepth);
    summary.channels = channels;
    summary.latencySamples = rendered.latencySamples;
    summary.latencyKept = settings.keepLatency;
    summary.takeMeasurements (*rendered.analysis);

    if (isUsed (settings.plot))
    {
        summary.plot = displayPath (settings.plot);
        const auto image = RenderPlot::draw (*rendered.analysis, summary);
        if (const auto written = RenderPlot::writePng (image, settings.plot); written.failed())
            return failed (failure (settings.plot, written.getErrorMessage()));
    }

    result.outcome = Outcome::finished;
    return result;
}

juce::Result RenderJob::renderToFile (BrimvaleAudioProcessor& processor,
                                      juce::AudioFormatReader& input,
                                      juce::AudioFormatReader* sidechain,
                                      const RenderJobSettings& settings,
                                      const AudioFiles::OutputFormat& format,
                                      const Hooks& hooks,
                                      OfflineRenderer::Result& rendered)
{
    // Written beside the output and renamed over it only when complete; the temporary file is
    // deleted on every other way out.
    juce::TemporaryFile temporary (settings.output);
    const auto announce = [&hooks] (const juce::File& file) {
        if (hooks.temporaryFileChanged)
            hooks.temporaryFileChanged (file);
    };
    announce (temporary.getFile());
    const juce::ScopeGuard forget { [&] { announce (juce::File()); } };

    auto stream = std::make_unique<juce::FileOutputStream> (temporary.getFile());
    if (! stream->openedOk())
        return failure (settings.output, "cannot write into its folder (" + stream->getStatus().getErrorMessage() + ")");

    const auto channels = static_cast<int> (input.numChannels);
    std::unique_ptr<juce::AudioFormatWriter> writer (format.format->createWriterFor (
        stream.get(), input.sampleRate, (unsigned int) channels, format.bitDepth, {}, format.qualityIndex));
    if (writer == nullptr)
    {
        stream.reset();
        temporary.deleteTemporaryFile();
        return failure (settings.output, AudioFiles::describe (*format.format, format.bitDepth) + " cannot store "
                                             + juce::String (input.sampleRate) + " Hz " + (channels == 1 ? "mono" : "stereo"));
    }
    stream.release(); // the writer owns it now

    OfflineRenderer::Options options;
    options.keepLatency = settings.keepLatency;
    options.tempo = settings.tempo;
    options.blockSize = settings.blockSize;
    options.cancel = hooks.cancel;
    options.progress = hooks.progress;

    if (hooks.started)
        hooks.started ((double) input.lengthInSamples / input.sampleRate);

    rendered = OfflineRenderer::render (processor, input, sidechain, *writer, options);
    writer.reset(); // finishes the header and closes the file

    const auto kept = rendered.outcome == Outcome::finished && temporary.overwriteTargetFileWithTemporary();
    if (! kept)
        temporary.deleteTemporaryFile();

    if (rendered.outcome == Outcome::cancelled)
        return failure (settings.output, "interrupted; nothing written");
    if (rendered.outcome == Outcome::failed)
        return failure (settings.output, rendered.error);
    if (! kept)
        return failure (settings.output, "could not replace the file with the finished render");

    return juce::Result::ok();
}
} // namespace ombrel::render
