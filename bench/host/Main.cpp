#include "BenchOptions.h"
#include "BenchRow.h"
#include "BenchSignal.h"
#include "PluginLoading.h"

#include <juce_events/juce_events.h>

#include <cmath>
#include <cstdio>
#include <iostream>

using namespace host_bench;

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 128;

/** One parameter of sorvanta by its ID (how LV2 reports it) and its name (VST3 reports numbers). */
struct OurSetting
{
    const char* id;
    const char* name;
    float normalised;
};

// Every range set here is linear, so the normalised value is the share of the range:
// 0.5 of 0..100 % is 50 %, 1 of the modes soft, medium, heavy is heavy, 0.5 of off, auto, clip is auto.
const OurSetting everythingOn[] {
    { "spike", "Input Spike", 0.5f },
    { "transientsOn", "Macro Dynamics on", 1.0f },
    { "punch", "Dynamics Punch Amount", 0.5f },
    { "fat", "Dynamics Fat Amount", 0.5f },
    { "debleed", "Macro Debleed on", 1.0f },
    { "lpFreq", "Debleed LP Amount", 0.5f },
    { "lpAmount", "Debleed LP Mode", 1.0f },
    { "hpFreq", "Debleed HP Amount", 0.5f },
    { "hpAmount", "Debleed HP Mode", 1.0f },
    { "outputClipType", "Transients Clip Type", 0.5f },
    { "sidechainToggle", "Macro Side-chain on", 1.0f },
};

[[noreturn]] void fail (const juce::String& message)
{
    std::cerr << "sorvanta_host_bench: " << message << std::endl;
    std::exit (1);
}

std::unique_ptr<juce::AudioPluginInstance> loadPrepared (PluginLoader& loader, const PluginSource& source)
{
    juce::String error;
    auto plugin = loader.load (source, sampleRate, blockSize, error);
    if (plugin == nullptr)
        fail (juce::String (formatName (source.format)) + " " + source.identifier + ": " + error);

    // Side-chain buses are often off until the host asks for them.
    plugin->enableAllBuses();
    plugin->prepareToPlay (sampleRate, blockSize);
    return plugin;
}

/** Sets our parameters through the host and reads them back, so a setting that did not arrive is an error. */
juce::String applyOurSettings (juce::AudioPluginInstance& plugin)
{
    juce::StringArray readBack;
    for (const auto& setting : everythingOn)
    {
        auto* parameter = findParameter (plugin, setting.id);
        if (parameter == nullptr)
            parameter = findParameter (plugin, setting.name);
        if (parameter == nullptr)
            fail (juce::String ("sorvanta has no parameter ") + setting.id);

        parameter->setValueNotifyingHost (setting.normalised);
        if (std::abs (parameter->getValue() - setting.normalised) > 1.0e-4f)
            fail (juce::String ("the host did not take the value of ") + setting.id);

        readBack.add (juce::String (setting.id) + "=" + parameter->getCurrentValueAsText());
    }
    return readBack.joinIntoString (" ");
}

juce::String applyTextSettings (juce::AudioPluginInstance& plugin, const ExtraPlugin& extra)
{
    juce::StringArray readBack;
    for (const auto& [id, text] : extra.settings)
    {
        auto* parameter = findParameter (plugin, id);
        if (parameter == nullptr)
            fail (plugin.getName() + " has no parameter " + id.quoted() + " (see --list-parameters)");

        parameter->setValueNotifyingHost (parameter->getValueForText (text));
        readBack.add (id + "=" + parameter->getCurrentValueAsText());
    }
    return readBack.joinIntoString (" ");
}

void listParameters (const juce::String& title, juce::AudioPluginInstance& plugin)
{
    std::cout << title << ": " << plugin.getName() << "\n";
    for (auto* parameter : plugin.getParameters())
    {
        const auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*> (parameter);
        std::cout << "  " << (hosted != nullptr ? hosted->getParameterID() : juce::String (parameter->getParameterIndex()))
                  << "  \"" << parameter->getName (1024) << "\"  " << parameter->getCurrentValueAsText() << "\n";
    }
    std::cout << std::endl;
}

juce::String levels (const juce::AudioBuffer<float>& buffer)
{
    const auto peak = buffer.getMagnitude (0, buffer.getNumSamples());
    double sumOfSquares = 0.0;
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        sumOfSquares += std::pow (buffer.getRMSLevel (ch, 0, buffer.getNumSamples()), 2.0);
    const auto rms = std::sqrt (sumOfSquares / buffer.getNumChannels());

    return "peak " + juce::String (juce::Decibels::gainToDecibels (peak), 1) + " dBFS, RMS "
           + juce::String (juce::Decibels::gainToDecibels (rms), 1) + " dBFS";
}

void printTable (const std::vector<std::unique_ptr<BenchRow>>& rows, const BenchRow& reference, const BenchOptions& options,
                 const BenchSignal& signal)
{
    std::printf ("%.1f s of stereo drums with a stereo side-chain, %.0f Hz, block %d, median of %d run%s\n",
                 options.seconds, sampleRate, blockSize, options.runs, options.runs == 1 ? "" : "s");
    std::printf ("drums %s; side-chain %s\n", levels (signal.main).toRawUTF8(), levels (signal.sidechain).toRawUTF8());
    std::printf ("CPU: thread CPU time per second of audio; ratio: to %s %s at %s; spread: (slowest - fastest) / median;\n"
                 "out RMS: level of the main output; in/out: channels fed (main+side-chain) and read\n\n",
                 reference.label.plugin.toRawUTF8(), reference.label.format.toRawUTF8(), reference.label.setting.toRawUTF8());

    int pluginWidth = 9, settingWidth = 7;
    for (const auto& row : rows)
    {
        pluginWidth = juce::jmax (pluginWidth, row->label.plugin.length());
        settingWidth = juce::jmax (settingWidth, row->label.setting.length());
    }

    std::printf ("%-*s  %-6s  %-*s  %10s  %8s  %7s  %9s  %s\n", pluginWidth, "plug-in", "format", settingWidth, "setting",
                 "CPU ms/s", "ratio", "spread", "out RMS", "in/out");

    const auto referenceSeconds = reference.medianCpuSeconds();
    for (const auto& row : rows)
    {
        const auto perSecond = row->medianCpuSeconds() / options.seconds;
        const auto ratio = referenceSeconds > 0.0 ? row->medianCpuSeconds() / referenceSeconds : 0.0;
        const auto level = ! row->outputFinite() ? juce::String ("NaN/inf")
                                                 : juce::String (row->outputRmsDb(), 1) + " dB";

        std::printf ("%-*s  %-6s  %-*s  %10.3f  %7.3fx  %6.1f%%  %9s  %s\n", pluginWidth, row->label.plugin.toRawUTF8(),
                     row->label.format.toRawUTF8(), settingWidth, row->label.setting.toRawUTF8(), perSecond * 1000.0,
                     ratio, row->spread() * 100.0, level.toRawUTF8(), row->channelLayout().toRawUTF8());
    }
}
} // namespace

int main (int argc, char* argv[])
{
    juce::StringArray arguments;
    for (int i = 1; i < argc; ++i)
        arguments.add (juce::String::fromUTF8 (argv[i]));

    juce::String error;
    const auto parsed = parseOptions (arguments, error);
    if (! parsed)
    {
        std::cerr << "sorvanta_host_bench: " << error << " (--help lists the options)" << std::endl;
        return 2;
    }
    const auto& options = *parsed;
    if (options.help)
    {
        std::cout << usageText();
        return 0;
    }

    // Hosted plug-ins expect a message manager on this thread.
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    auto lv2Folders = options.lv2Folders;
    lv2Folders.insert (0, juce::File (SORVANTA_LV2_BUNDLE).getParentDirectory().getFullPathName());
    PluginLoader loader (lv2Folders);

    const PluginSource ourLv2 { PluginFormat::lv2, SORVANTA_LV2_URI };
    const PluginSource ourVst3 { PluginFormat::vst3, SORVANTA_VST3_BUNDLE };

    std::vector<std::unique_ptr<BenchRow>> rows;
    juce::StringArray settingNotes;

    rows.push_back (std::make_unique<BenchRow> (RowLabel { "baseline: copy + gain", "-", "-" }, nullptr, blockSize));

    for (const auto& source : options.ourVst3 ? std::vector<PluginSource> { ourLv2, ourVst3 } : std::vector<PluginSource> { ourLv2 })
    {
        auto defaults = loadPrepared (loader, source);
        auto everything = loadPrepared (loader, source);
        const auto readBack = applyOurSettings (*everything);
        settingNotes.add (juce::String (formatName (source.format)) + " everything on: " + readBack);

        const auto name = defaults->getName();
        rows.push_back (std::make_unique<BenchRow> (RowLabel { name, formatName (source.format), "defaults" }, std::move (defaults), blockSize));
        rows.push_back (std::make_unique<BenchRow> (RowLabel { name, formatName (source.format), "everything on" }, std::move (everything), blockSize));
    }

    for (const auto& extra : options.extras)
    {
        auto defaults = loadPrepared (loader, extra.source);
        const auto name = defaults->getName();
        rows.push_back (std::make_unique<BenchRow> (RowLabel { name, formatName (extra.source.format), "defaults" }, std::move (defaults), blockSize));

        if (! extra.settings.empty())
        {
            auto custom = loadPrepared (loader, extra.source);
            const auto readBack = applyTextSettings (*custom, extra);
            settingNotes.add (name + " " + formatName (extra.source.format) + " custom: " + readBack);
            rows.push_back (std::make_unique<BenchRow> (RowLabel { name, formatName (extra.source.format), "custom" }, std::move (custom), blockSize));
        }
    }

    if (options.listParameters)
    {
        for (const auto& row : rows)
            if (row->plugin() != nullptr && row->label.setting == "defaults")
                listParameters (row->label.format, *row->plugin());
        return 0;
    }

    const auto numSamples = (int) (options.seconds * sampleRate) / blockSize * blockSize;
    const auto signal = makeBenchSignal (sampleRate, numSamples);

    for (auto& row : rows)
        row->checkPass (signal);

    // Runs go round the rows so slow drifts of the machine spread over all of them alike.
    for (int run = 0; run < options.runs; ++run)
        for (auto& row : rows)
            row->timedPass (signal);

    printTable (rows, *rows[1], options, signal);

    std::printf ("\nsettings as the hosts read them back:\n");
    for (const auto& note : settingNotes)
        std::printf ("  %s\n", note.toRawUTF8());

    for (const auto& row : rows)
        if (row->plugin() != nullptr)
            row->plugin()->releaseResources();

    return 0;
}
