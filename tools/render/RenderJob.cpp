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
    const auto failWith = [&result] (const juce::String& subject, const juce::String& reason) -> Result& {
        result.outcome = Outcome::failed;
        result.error = subject + ": " + reason;
        return result;
    };
    const auto fail = [&failWith] (const juce::File& file, const juce::String& reason) -> Result& {
        return failWith (displayPath (file), reason);
    };
    const auto isUsed = [] (const juce::File& file) { return file != juce::File(); };

    // Every check comes before any audio is processed, so a mistake costs no time.
    std::unique_ptr<juce::AudioFormatReader> input;
    if (const auto opened = audioFiles.open (settings.input, input); opened.failed())
        return fail (settings.input, opened.getErrorMessage());

    const auto channels = static_cast<int> (input->numChannels);
    if (channels > 2)
        return fail (settings.input, "has " + juce::String (channels) + " channels; sorvanta renders mono or stereo");

    // Nothing the render writes may be a file it reads.
    for (const auto& [written, kind] : { std::pair { settings.output, "output" }, std::pair { settings.plot, "plot" } })
    {
        if (! isUsed (written))
            continue;
        for (const auto& [read, what] : { std::pair { settings.input, "input" }, std::pair { settings.sidechain, "side-chain" }, std::pair { settings.preset, "preset" } })
            if (isUsed (read) && isSameFile (written, read))
                return fail (written, juce::String ("is the ") + what + " file; refusing to overwrite it with the " + kind);
        if (written.isDirectory())
            return fail (written, "is a folder");
        if (! written.getParentDirectory().isDirectory())
            return fail (written, "folder " + displayPath (written.getParentDirectory()) + " does not exist");
    }
    if (isUsed (settings.plot) && isSameFile (settings.plot, settings.output))
        return fail (settings.plot, "is the output file too");

    std::unique_ptr<juce::AudioFormatReader> sidechain;
    if (isUsed (settings.sidechain))
    {
        if (const auto opened = audioFiles.open (settings.sidechain, sidechain); opened.failed())
            return fail (settings.sidechain, opened.getErrorMessage());
        if (sidechain->numChannels > 2)
            return fail (settings.sidechain, "has " + juce::String (sidechain->numChannels) + " channels; a side-chain is mono or stereo");
        if (sidechain->sampleRate != input->sampleRate)
            return fail (settings.sidechain, "sample rate " + juce::String (sidechain->sampleRate) + " Hz differs from the input's "
                                                 + juce::String (input->sampleRate) + " Hz; resample one of them first");

        if (sidechain->lengthInSamples < input->lengthInSamples)
            result.warnings.add ("side-chain " + displayPath (settings.sidechain) + " is "
                                 + describeSeconds (input->lengthInSamples - sidechain->lengthInSamples, input->sampleRate)
                                 + " shorter than the input; the gate hears silence after its end");
        else if (sidechain->lengthInSamples > input->lengthInSamples)
            result.warnings.add ("side-chain " + displayPath (settings.sidechain) + " is "
                                 + describeSeconds (sidechain->lengthInSamples - input->lengthInSamples, input->sampleRate)
                                 + " longer than the input; the rest is ignored");
    }

    BrimvaleAudioProcessor processor;

    if (isUsed (settings.preset))
    {
        if (settings.preset.isDirectory())
            return fail (settings.preset, "is a folder, not a preset");
        if (! settings.preset.existsAsFile())
            return fail (settings.preset, "no such file");

        PresetManager presets (processor);
        presets.onWrongFileKind = [] (const juce::String&, const juce::String&) {}; // reported below instead
        const auto report = presets.loadPreset (settings.preset.getFullPathName().toStdString());

        if (report.status == PresetManager::LoadStatus::cannotOpen)
            return fail (settings.preset, "cannot be opened");
        if (report.status == PresetManager::LoadStatus::notAPreset)
            return fail (settings.preset, PresetManager::getWrongFileMessage());
        if (report.skipped > 0)
            result.warnings.add ("preset " + displayPath (settings.preset) + ": " + juce::String (report.skipped)
                                 + " entries skipped (unknown IDs or values that are no numbers)");
        if (report.endedEarly)
            result.warnings.add ("preset " + displayPath (settings.preset) + " ends early; the missing parameters keep their defaults");

        result.summary.preset = juce::String (PresetManager::getLabelText (settings.preset.getFullPathName().toStdString()));
    }

    if (isUsed (settings.sidechain))
        ParameterText::apply (processor.mParameters, config::Macro::sidechainToggle.id, "On");

    for (const auto& assignment : settings.assignments)
        if (const auto applied = ParameterText::apply (processor.mParameters, assignment.id, assignment.text); applied.failed())
            return failWith ("--set " + assignment.id + "=" + assignment.text, applied.getErrorMessage());

    if (! isUsed (settings.sidechain) && processor.mParameters.getParameter (config::Macro::sidechainToggle.id)->getValue() >= 0.5f)
        result.warnings.add ("sidechainToggle is On but no --sidechain file is given: the gate hears silence and stays at its floor");

    AudioFiles::OutputFormat format;
    if (const auto chosen = audioFiles.chooseOutputFormat (*input, settings.output, settings.format, settings.bitDepth, format); chosen.failed())
        return fail (settings.output, chosen.getErrorMessage());

    // Written beside the output and renamed over it only when complete.
    OfflineRenderer::Result rendered;
    {
        juce::TemporaryFile temporary (settings.output);
        const auto forgetTemporary = [&] {
            if (hooks.temporaryFileChanged)
                hooks.temporaryFileChanged (juce::File());
        };
        if (hooks.temporaryFileChanged)
            hooks.temporaryFileChanged (temporary.getFile());

        auto stream = std::make_unique<juce::FileOutputStream> (temporary.getFile());
        if (! stream->openedOk())
        {
            forgetTemporary();
            return fail (settings.output, "cannot write into its folder (" + stream->getStatus().getErrorMessage() + ")");
        }

        std::unique_ptr<juce::AudioFormatWriter> writer (format.format->createWriterFor (
            stream.get(), input->sampleRate, (unsigned int) channels, format.bitDepth, {}, format.qualityIndex));
        if (writer == nullptr)
        {
            stream.reset();
            temporary.deleteTemporaryFile();
            forgetTemporary();
            return fail (settings.output, AudioFiles::describe (*format.format, format.bitDepth) + " cannot store "
                                              + juce::String (input->sampleRate) + " Hz " + (channels == 1 ? "mono" : "stereo"));
        }
        stream.release(); // the writer owns it now

        OfflineRenderer::Options options;
        options.keepLatency = settings.keepLatency;
        options.tempo = settings.tempo;
        options.blockSize = settings.blockSize;
        options.cancel = hooks.cancel;
        options.progress = hooks.progress;

        if (hooks.started)
            hooks.started ((double) input->lengthInSamples / input->sampleRate);

        rendered = OfflineRenderer::render (processor, *input, sidechain.get(), *writer, options);
        writer.reset(); // finishes the header and closes the file

        const auto kept = rendered.outcome == Outcome::finished && temporary.overwriteTargetFileWithTemporary();
        if (! kept)
            temporary.deleteTemporaryFile();
        forgetTemporary();

        if (rendered.outcome == Outcome::cancelled)
        {
            result.outcome = Outcome::cancelled;
            result.error = displayPath (settings.output) + ": interrupted; nothing written";
            return result;
        }
        if (rendered.outcome == Outcome::failed)
            return fail (settings.output, rendered.error);
        if (! kept)
            return fail (settings.output, "could not replace the file with the finished render");
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
            return fail (settings.plot, written.getErrorMessage());
    }

    result.outcome = Outcome::finished;
    return result;
}
} // namespace ombrel::render
