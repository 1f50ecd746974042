#include "BenchOptions.h"

namespace host_bench
{
namespace
{
bool isWholeNumber (const juce::String& text) { return text.isNotEmpty() && text.containsOnly ("0123456789"); }

bool isNumber (const juce::String& text)
{
    return text.isNotEmpty() && text.containsOnly ("0123456789.") && text.indexOfChar ('.') == text.lastIndexOfChar ('.');
}
} // namespace

std::optional<BenchOptions> parseOptions (const juce::StringArray& arguments, juce::String& error)
{
    BenchOptions options;

    for (int i = 0; i < arguments.size(); ++i)
    {
        const auto& option = arguments[i];
        const auto takesValue = option == "--seconds" || option == "--runs" || option == "--lv2" || option == "--vst3"
                                || option == "--set" || option == "--lv2-path";

        if (takesValue && i + 1 >= arguments.size())
        {
            error = option + " needs a value";
            return std::nullopt;
        }
        const auto value = takesValue ? arguments[++i] : juce::String();

        if (option == "--help" || option == "-h")
            options.help = true;
        else if (option == "--no-vst3")
            options.ourVst3 = false;
        else if (option == "--list-parameters")
            options.listParameters = true;
        else if (option == "--seconds")
        {
            options.seconds = value.getDoubleValue();
            if (! isNumber (value) || options.seconds < 0.1 || options.seconds > 3600.0)
            {
                error = "--seconds takes a number from 0.1 to 3600";
                return std::nullopt;
            }
        }
        else if (option == "--runs")
        {
            options.runs = value.getIntValue();
            if (! isWholeNumber (value) || options.runs < 1 || options.runs > 101)
            {
                error = "--runs takes a whole number from 1 to 101";
                return std::nullopt;
            }
        }
        else if (option == "--lv2")
            options.extras.push_back ({ { PluginFormat::lv2, value }, {} });
        else if (option == "--vst3")
            options.extras.push_back ({ { PluginFormat::vst3, juce::File::getCurrentWorkingDirectory().getChildFile (value).getFullPathName() }, {} });
        else if (option == "--lv2-path")
            options.lv2Folders.addTokens (value, ":", "");
        else if (option == "--set")
        {
            const auto id = value.upToFirstOccurrenceOf ("=", false, false).trim();
            if (options.extras.empty() || ! value.containsChar ('=') || id.isEmpty())
            {
                error = "--set ID=VALUE follows the --lv2 or --vst3 plug-in it applies to";
                return std::nullopt;
            }
            options.extras.back().settings.emplace_back (id, value.fromFirstOccurrenceOf ("=", false, false).trim());
        }
        else
        {
            error = "unknown option " + option.quoted();
            return std::nullopt;
        }
    }

    options.lv2Folders.removeEmptyStrings();
    return options;
}

const char* usageText()
{
    return R"(sorvanta_host_bench: CPU cost of audio plug-ins loaded through JUCE's LV2 and VST3 hosting

Renders a stereo drum track with a stereo side-chain (kick and snare hits with quieter bleed
between them, generated in code) at 48 kHz in blocks of 128 through each plug-in and prints the
thread CPU time per second of audio, the median of several runs, and its ratio to sorvanta's LV2
at its defaults. Measured in the same run: an in-process baseline (block copy and gain), and
sorvanta's LV2 and VST3 at their defaults and with everything on.

Options:
  --seconds N        seconds of audio per run (default 20)
  --runs N           timed runs per row; the table shows their median (default 5)
  --lv2 URI          also measure the LV2 plug-in with this URI (repeatable)
  --vst3 PATH        also measure the VST3 bundle at PATH (repeatable)
  --set ID=VALUE     after --lv2 or --vst3: measure that plug-in a second time with this parameter
                     set (repeatable). ID is the parameter's ID (for LV2 the part after the plug-in
                     URI also works) or its name. VALUE is text as the host converts it: VST3 hands
                     it to the plug-in; LV2 takes a plain number, or the label of a switch or list
                     ("On"). The values the host reads back are printed under the table
  --lv2-path DIRS    further folders with LV2 bundles, separated by ':'
  --no-vst3          leave out sorvanta's VST3
  --list-parameters  list each plug-in's parameters (ID, name, current value) and stop
  --help             this text
)";
}
} // namespace host_bench
