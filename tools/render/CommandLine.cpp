#include "render/CommandLine.h"

#include "render/NumberText.h"

namespace ombrel::render
{
const juce::StringArray& formatNames()
{
    static const juce::StringArray names { "wav", "aiff", "flac", "ogg" };
    return names;
}

juce::String helpText()
{
    return R"(usage: sorvanta-render [options] INPUT...
       sorvanta-render --make-demo DIR

Renders audio files offline through the sorvanta drum gate and prints a summary for each.
Inputs: WAV, AIFF, FLAC or Ogg Vorbis, mono or stereo. An input is never overwritten; each
output is written to a temporary file next to it and renamed when complete, so an interrupted
run leaves no partial file.

Output
  -o, --output FILE      output file (one input only); default: INPUT-sorvanta.EXT next to INPUT
      --out-dir DIR      put the outputs, named INPUT-sorvanta.EXT, into DIR
      --format NAME      wav, aiff, flac or ogg; default: the output name's extension if it
                         names one of these, else the input's format
      --bits N           8, 16, 24 or 32 (32 is floating point in WAV); default: the input's,
                         or the nearest the output format can write
      --keep-latency     keep the 10 ms processing latency: the output starts 10 ms late and is
                         10 ms longer; by default it is removed and the output lines up with
                         the input sample for sample
      --plot FILE.png    draw input, output and the gate's gain over time (one input only)

Settings (applied in this order: preset, side-chain switch, --set)
  -p, --preset FILE.ovb  load a sorvanta preset
  -s, --sidechain FILE   key the gate from this file (same sample rate as the input, mono or
                         stereo; silence after its end, extra length ignored); switches
                         sidechainToggle On unless --set says otherwise
      --set ID=VALUE     set a parameter by its ID, VALUE in the parameter's own text:
                         numbers with or without their unit ("-30", "-30 db", "120 ms",
                         "1.2 khz"), On/Off for switches, "off"/"auto"/"clip" for
                         outputClipType, "soft"/"medium"/"heavy" for lpAmount and hpAmount,
                         a division for releaseSync ("1 bar", "1/4", "1/8 d", "1/16 t" ...,
                         or its index 0 to 18), a filter type name for filterType0-5;
                         repeatable
      --tempo BPM        host tempo for the synced release (default 120)

Other
  -q, --quiet            no progress bar
      --make-demo DIR    write the demo tracks demo-drums.wav and demo-sidechain.wav into DIR
  -h, --help             this text

Exit status: 0 when every file rendered, 1 when any failed, 2 for a bad command line,
130 when interrupted.

Example:
  sorvanta-render --preset "Kick Tight.ovb" --set threshold=-30 --set releaseSync="1/8 d" \
                  --set syncSwitch=On --tempo 96 --plot kick.png kick.wav -o kick-gated.wav
)";
}

namespace
{
    struct OptionReader
    {
        const juce::StringArray& arguments;
        int index = 0;
        juce::String error;

        /** The value of an option given as "--name VALUE" or "--name=VALUE". */
        std::optional<juce::String> valueOf (const juce::String& name, const std::optional<juce::String>& attached)
        {
            if (attached)
                return attached;

            if (index + 1 >= arguments.size())
            {
                error = name + " needs a value";
                return std::nullopt;
            }

            return arguments[++index];
        }
    };

    bool isOneOf (const juce::String& option, std::initializer_list<const char*> names)
    {
        for (auto* name : names)
            if (option == name)
                return true;
        return false;
    }

    juce::String checkOptions (const CommandLineOptions& options)
    {
        if (options.showHelp)
            return {};

        if (options.demoFolder.isNotEmpty())
            return options.inputs.isEmpty() ? juce::String() : "--make-demo takes no input files";

        if (options.inputs.isEmpty())
            return "no input file (see --help)";

        if (options.inputs.size() > 1 && options.output.isNotEmpty())
            return "-o names one output; with several inputs use --out-dir";

        if (options.inputs.size() > 1 && options.plot.isNotEmpty())
            return "--plot draws one render; give one input";

        if (options.output.isNotEmpty() && options.outputFolder.isNotEmpty())
            return "use either -o or --out-dir";

        return {};
    }
} // namespace

ParsedCommandLine parseCommandLine (const juce::StringArray& arguments)
{
    ParsedCommandLine parsed;
    auto& options = parsed.options;
    OptionReader reader { arguments, 0, {} };
    bool optionsEnded = false;

    for (; reader.index < arguments.size() && reader.error.isEmpty(); ++reader.index)
    {
        const auto argument = arguments[reader.index];

        if (optionsEnded || ! argument.startsWith ("-") || argument == "-")
        {
            options.inputs.add (argument);
            continue;
        }

        if (argument == "--")
        {
            optionsEnded = true;
            continue;
        }

        auto option = argument;
        std::optional<juce::String> attached;
        if (argument.startsWith ("--") && argument.containsChar ('='))
        {
            option = argument.upToFirstOccurrenceOf ("=", false, false);
            attached = argument.fromFirstOccurrenceOf ("=", false, false);
        }

        const auto takesValue = [&] (auto& target) {
            if (auto value = reader.valueOf (option, attached))
                target = *value;
        };
        const auto flag = [&] (bool& target) {
            if (attached)
                reader.error = option + " takes no value";
            target = true;
        };

        if (isOneOf (option, { "-h", "--help" }))
            flag (options.showHelp);
        else if (isOneOf (option, { "-q", "--quiet" }))
            flag (options.quiet);
        else if (option == "--keep-latency")
            flag (options.keepLatency);
        else if (isOneOf (option, { "-o", "--output" }))
            takesValue (options.output);
        else if (option == "--out-dir")
            takesValue (options.outputFolder);
        else if (isOneOf (option, { "-s", "--sidechain" }))
            takesValue (options.sidechain);
        else if (isOneOf (option, { "-p", "--preset" }))
            takesValue (options.preset);
        else if (option == "--plot")
            takesValue (options.plot);
        else if (option == "--make-demo")
            takesValue (options.demoFolder);
        else if (option == "--format")
        {
            juce::String name;
            takesValue (name);
            if (reader.error.isEmpty() && ! formatNames().contains (name.toLowerCase()))
                reader.error = "--format: unknown format \"" + name + "\" (wav, aiff, flac or ogg)";
            options.format = name.toLowerCase();
        }
        else if (option == "--bits")
        {
            juce::String text;
            takesValue (text);
            const auto bits = readNumber (text);
            if (reader.error.isEmpty() && (! bits || ! juce::Array<double> { 8, 16, 24, 32 }.contains (*bits)))
                reader.error = "--bits: \"" + text + "\" is not 8, 16, 24 or 32";
            else if (bits)
                options.bitDepth = static_cast<int> (*bits);
        }
        else if (option == "--tempo")
        {
            juce::String text;
            takesValue (text);
            const auto bpm = readNumber (text);
            if (reader.error.isEmpty() && (! bpm || *bpm < 1.0 || *bpm > 999.0))
                reader.error = "--tempo: \"" + text + "\" is not a tempo from 1 to 999 bpm";
            else if (bpm)
                options.tempo = *bpm;
        }
        else if (option == "--set")
        {
            juce::String text;
            takesValue (text);
            if (reader.error.isNotEmpty())
                break;

            const auto id = text.upToFirstOccurrenceOf ("=", false, false).trim();
            if (! text.containsChar ('=') || id.isEmpty())
                reader.error = "--set: \"" + text + "\" is not ID=VALUE";
            else
                options.assignments.push_back ({ id, text.fromFirstOccurrenceOf ("=", false, false).trim() });
        }
        else
        {
            reader.error = "unknown option " + option + " (see --help)";
        }
    }

    parsed.error = reader.error.isNotEmpty() ? reader.error : checkOptions (options);
    return parsed;
}
} // namespace ombrel::render
