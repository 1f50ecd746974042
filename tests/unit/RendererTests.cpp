#include <catch2/catch.hpp>

#include "core/PluginProcessor.h"
#include "render/AudioFiles.h"
#include "render/CommandLine.h"
#include "render/DemoTracks.h"
#include "render/OfflineRenderer.h"
#include "render/ParameterText.h"
#include "render/RenderAnalysis.h"
#include "render/RenderJob.h"
#include "render/RenderPlot.h"
#include "support/TestSupport.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <optional>

using namespace ombrel::render;

namespace
{
constexpr double rate = 44100.0;

class TestPlayHead : public juce::AudioPlayHead
{
public:
    explicit TestPlayHead (double bpmToReport) : bpm (bpmToReport) {}

    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setBpm (bpm);
        return info;
    }

private:
    double bpm;
};

/** Loud decaying bursts every quarter second with quiet noise between: something a gate acts on. */
juce::AudioBuffer<float> burstsWithBleed (int channels, int length, int seed = 1)
{
    juce::Random random (seed);
    juce::AudioBuffer<float> buffer (channels, length);
    const auto period = (int) (0.25 * rate);

    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < length; ++i)
        {
            const auto sinceHit = i % period;
            const auto burst = 0.7 * std::exp (-sinceHit / (0.03 * rate)) * std::sin (2.0 * juce::MathConstants<double>::pi * 90.0 * i / rate);
            buffer.setSample (c, i, (float) burst + 0.01f * (random.nextFloat() * 2.0f - 1.0f));
        }
    return buffer;
}

juce::AudioBuffer<float> toneBursts (int length, std::initializer_list<double> startSeconds, double burstSeconds, float amplitude)
{
    juce::AudioBuffer<float> buffer (1, length);
    buffer.clear();
    for (auto start : startSeconds)
        for (int i = (int) (start * rate); i < juce::jmin (length, (int) ((start + burstSeconds) * rate)); ++i)
            buffer.setSample (0, i, amplitude * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 2000.0 * i / rate));
    return buffer;
}

juce::AudioFormat* formatNamed (juce::AudioFormatManager& manager, const juce::String& name)
{
    for (auto* format : manager)
        if (format->getFileExtensions().contains ("." + name))
            return format;
    return nullptr;
}

void writeAudio (const juce::File& file, const juce::AudioBuffer<float>& buffer, const juce::String& formatName = "wav",
                 int bits = 32, double sampleRate = rate)
{
    juce::AudioFormatManager manager;
    manager.registerBasicFormats();
    auto* format = formatNamed (manager, formatName);
    REQUIRE (format != nullptr);

    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream> (file);
    REQUIRE (stream->openedOk());
    std::unique_ptr<juce::AudioFormatWriter> writer (format->createWriterFor (stream.get(), sampleRate, (unsigned) buffer.getNumChannels(), bits, {}, 0));
    REQUIRE (writer != nullptr);
    stream.release();
    REQUIRE (writer->writeFromAudioSampleBuffer (buffer, 0, buffer.getNumSamples()));
}

struct ReadAudio
{
    juce::AudioBuffer<float> samples;
    double sampleRate = 0.0;
    int bits = 0;
    bool floatingPoint = false;
    juce::String formatName;
};

ReadAudio readAudio (const juce::File& file)
{
    juce::AudioFormatManager manager;
    manager.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader (manager.createReaderFor (file.createInputStream())); // by content
    REQUIRE (reader != nullptr);

    ReadAudio result;
    result.samples.setSize ((int) reader->numChannels, (int) reader->lengthInSamples);
    reader->read (&result.samples, 0, (int) reader->lengthInSamples, 0, true, true);
    result.sampleRate = reader->sampleRate;
    result.bits = (int) reader->bitsPerSample;
    result.floatingPoint = reader->usesFloatingPointData;
    result.formatName = reader->getFormatName();
    return result;
}

/** The processor run in-process on whole buffers, block by block as a host would, with its
    latency flushed by silence and, unless kept, removed from the front. */
juce::AudioBuffer<float> processInProcess (const juce::AudioBuffer<float>& input,
                                           const juce::AudioBuffer<float>* sidechain,
                                           const std::vector<std::pair<juce::String, float>>& realValues,
                                           std::optional<double> tempo,
                                           bool keepLatency,
                                           int blockSize = 512)
{
    ombrel::BrimvaleAudioProcessor processor;
    for (const auto& [id, value] : realValues)
    {
        auto* parameter = processor.mParameters.getParameter (id);
        REQUIRE (parameter != nullptr);
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
    }

    const auto mainChannels = input.getNumChannels();
    const auto sideChannels = sidechain != nullptr ? sidechain->getNumChannels() : 0;
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (juce::AudioChannelSet::canonicalChannelSet (mainChannels));
    layout.inputBuses.add (sidechain != nullptr ? juce::AudioChannelSet::canonicalChannelSet (sideChannels) : juce::AudioChannelSet::disabled());
    layout.outputBuses.add (juce::AudioChannelSet::canonicalChannelSet (mainChannels));
    REQUIRE (processor.setBusesLayout (layout));

    std::optional<TestPlayHead> playHead;
    if (tempo)
        playHead.emplace (*tempo);
    processor.setPlayHead (playHead ? &*playHead : nullptr);
    processor.prepareToPlay (rate, blockSize);

    const auto latency = processor.getLatencySamples();
    const auto length = input.getNumSamples();
    juce::AudioBuffer<float> whole (mainChannels + sideChannels, length + latency);
    whole.clear();
    for (int c = 0; c < mainChannels; ++c)
        whole.copyFrom (c, 0, input, c, 0, length);
    for (int c = 0; c < sideChannels; ++c)
        whole.copyFrom (mainChannels + c, 0, *sidechain, c, 0, juce::jmin (sidechain->getNumSamples(), length + latency));

    juce::MidiBuffer midi;
    for (int position = 0; position < whole.getNumSamples(); position += blockSize)
    {
        juce::AudioBuffer<float> block (whole.getArrayOfWritePointers(), whole.getNumChannels(), position,
                                        juce::jmin (blockSize, whole.getNumSamples() - position));
        processor.processBlock (block, midi);
    }
    processor.setPlayHead (nullptr);

    const auto dropped = keepLatency ? 0 : latency;
    juce::AudioBuffer<float> output (mainChannels, whole.getNumSamples() - dropped);
    for (int c = 0; c < mainChannels; ++c)
        output.copyFrom (c, 0, whole, c, dropped, output.getNumSamples());
    return output;
}

float largestDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    REQUIRE (a.getNumChannels() == b.getNumChannels());
    REQUIRE (a.getNumSamples() == b.getNumSamples());
    auto largest = 0.0f;
    for (int c = 0; c < a.getNumChannels(); ++c)
        for (int i = 0; i < a.getNumSamples(); ++i)
            largest = std::max (largest, std::abs (a.getSample (c, i) - b.getSample (c, i)));
    return largest;
}

double rmsDecibels (const juce::AudioBuffer<float>& buffer, double fromSeconds, double toSeconds)
{
    const auto from = (int) (fromSeconds * rate), to = (int) (toSeconds * rate);
    double sum = 0.0;
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = from; i < to; ++i)
            sum += (double) buffer.getSample (c, i) * buffer.getSample (c, i);
    return 10.0 * std::log10 (sum / ((to - from) * buffer.getNumChannels()) + 1.0e-30);
}

juce::StringArray fileNamesIn (const juce::File& folder)
{
    juce::StringArray names;
    for (const auto& file : folder.findChildFiles (juce::File::findFiles, false))
        names.add (file.getFileName());
    names.sort (false);
    return names;
}

RenderJob::Result runJob (const RenderJobSettings& settings, const RenderJob::Hooks& hooks = {})
{
    AudioFiles files;
    RenderJob job (files);
    return job.run (settings, hooks);
}
} // namespace

//==============================================================================
TEST_CASE ("A rendered file holds the samples the processor gives in-process", "[renderer][roundtrip]")
{
    struct Case
    {
        const char* format;
        int bits;
        int channels;
        bool keepLatency;
    };
    const auto c = GENERATE (Case { "wav", 32, 2, false }, Case { "wav", 32, 2, true }, Case { "wav", 32, 1, false },
                             Case { "wav", 24, 2, false }, Case { "aiff", 16, 2, false }, Case { "flac", 24, 1, false });
    CAPTURE (c.format, c.bits, c.channels, c.keepLatency);

    const auto folder = test_support::freshTemporaryFolder ("renderer-roundtrip");
    const auto inputFile = folder.getChildFile (juce::String ("drums.") + c.format);
    const auto outputFile = folder.getChildFile (juce::String ("gated.") + c.format);
    // Not a whole number of blocks, so the last block is a short one.
    writeAudio (inputFile, burstsWithBleed (c.channels, (int) (1.3 * rate)), c.format, c.bits);

    RenderJobSettings settings;
    settings.input = inputFile;
    settings.output = outputFile;
    settings.keepLatency = c.keepLatency;
    settings.tempo = 400.0;
    settings.assignments = { { "threshold", "-30" }, { "floor", "-60 db" }, { "hold", "20 ms" }, { "lookahead", "2" },
                             { "releaseSync", "1/8 d" }, { "syncSwitch", "On" }, { "outputClipType", "auto" } };

    const auto result = runJob (settings);
    REQUIRE (result.outcome == RenderJob::Outcome::finished);
    REQUIRE (result.error.isEmpty());

    // The reference reads the same (quantised) input and sets the same values directly.
    const auto input = readAudio (inputFile);
    const auto expected = processInProcess (input.samples, nullptr,
                                            { { "threshold", -30.0f }, { "floor", -60.0f }, { "hold", 20.0f }, { "lookahead", 2.0f },
                                              { "releaseSync", 8.0f }, { "syncSwitch", 1.0f }, { "outputClipType", 1.0f } },
                                            400.0, c.keepLatency);
    const auto output = readAudio (outputFile);

    CHECK (output.formatName == input.formatName);
    CHECK (output.bits == c.bits);
    CHECK (output.sampleRate == rate);
    CHECK (output.samples.getNumSamples() == input.samples.getNumSamples() + (c.keepLatency ? 441 : 0));

    // Exact in floating point; otherwise within one step of the output's integer encoding.
    const auto tolerance = c.bits == 32 ? 0.0f : 1.0f / (float) (1 << (c.bits - 1));
    CHECK (largestDifference (output.samples, expected) <= tolerance);

    // The gate did act: the bleed between the bursts is pulled down.
    CHECK (rmsDecibels (expected, 0.17, 0.24) < rmsDecibels (input.samples, 0.17, 0.24) - 20.0);
}

TEST_CASE ("Output format and bit depth follow the input unless told otherwise", "[renderer][roundtrip]")
{
    const auto folder = test_support::freshTemporaryFolder ("renderer-formats");
    const auto inputFile = folder.getChildFile ("in.wav");
    const auto signal = burstsWithBleed (2, (int) (0.6 * rate));
    writeAudio (inputFile, signal, "wav", 24);

    struct Case
    {
        const char* outputName;
        const char* format;
        int bits;
        const char* expectedFormat;
        int expectedBits;
    };
    const auto c = GENERATE (Case { "out.wav", "", 0, "WAV file", 24 },
                             Case { "out.wav", "", 16, "WAV file", 16 },
                             Case { "out.flac", "", 0, "FLAC file", 24 },
                             Case { "out.aif", "", 0, "AIFF file", 24 },
                             Case { "out.audio", "flac", 16, "FLAC file", 16 },
                             Case { "out.ogg", "", 0, "Ogg-Vorbis file", 16 });
    CAPTURE (c.outputName, c.format, c.bits);

    RenderJobSettings settings;
    settings.input = inputFile;
    settings.output = folder.getChildFile (c.outputName);
    settings.format = c.format;
    settings.bitDepth = c.bits;

    const auto result = runJob (settings);
    REQUIRE (result.outcome == RenderJob::Outcome::finished);

    const auto output = readAudio (settings.output);
    CHECK (output.formatName == c.expectedFormat);
    CHECK (output.bits == c.expectedBits);
    CHECK (output.samples.getNumChannels() == 2);
    CHECK (output.samples.getNumSamples() == signal.getNumSamples());
}

//==============================================================================
TEST_CASE ("Parameter values are read from their own text", "[renderer][parameters]")
{
    struct Case
    {
        const char* id;
        const char* text;
        float expected;
        float tolerance;
    };
    // Expected values from the catalogue's tables: clip types off/auto/clip = 0/1/2, filter modes
    // soft/medium/heavy = 0/1/2, the divisions in table order, filter types LP ... HP = 0 ... 4.
    const auto c = GENERATE (Case { "threshold", "-30", -30.0f, 0.006f },
                             Case { "threshold", " -30 dB ", -30.0f, 0.006f },
                             Case { "threshold", "-12.5db", -12.5f, 0.006f },
                             Case { "release", "120 ms", 120.0f, 0.006f },
                             Case { "curve", "50 %", 50.0f, 0.006f },
                             Case { "outputClipType", "auto", 1.0f, 0.0f },
                             Case { "outputClipType", "clip", 2.0f, 0.0f },
                             Case { "outputClipType", "off", 0.0f, 0.0f },
                             Case { "lpAmount", "heavy", 2.0f, 0.0f },
                             Case { "hpAmount", "Soft", 0.0f, 0.0f },
                             Case { "releaseSync", "1/8 d", 8.0f, 0.0f },
                             Case { "releaseSync", "1/8D", 8.0f, 0.0f },
                             Case { "releaseSync", "1 bar", 0.0f, 0.0f },
                             Case { "releaseSync", "1/64 t", 18.0f, 0.0f },
                             Case { "releaseSync", "4.0", 4.0f, 0.0f },
                             Case { "flip", "On", 1.0f, 0.0f },
                             Case { "flip", "ON", 1.0f, 0.0f },
                             Case { "sidechainToggle", "off", 0.0f, 0.0f },
                             Case { "filterType0", "HP", 4.0f, 0.0f },
                             Case { "filterType3", "lo shelf", 1.0f, 0.0f },
                             Case { "filterFreq2", "1.2 khz", 1200.0f, 0.5f },
                             Case { "filterFreq2", "800 Hz", 800.0f, 0.5f },
                             Case { "filterGain1", "-6 db", -6.0f, 0.006f });
    CAPTURE (c.id, c.text);

    ombrel::BrimvaleAudioProcessor processor;
    auto* parameter = processor.mParameters.getParameter (c.id);
    REQUIRE (parameter != nullptr);

    // Start away from the expected value so that a silent no-op cannot pass.
    parameter->setValueNotifyingHost (parameter->getValue() > 0.5f ? 0.0f : 1.0f);

    const auto applied = ParameterText::apply (processor.mParameters, c.id, c.text);
    REQUIRE (applied.wasOk());
    CHECK (parameter->convertFrom0to1 (parameter->getValue()) == Approx (c.expected).margin (c.tolerance));
}

TEST_CASE ("Text that names no value of the parameter is an error and changes nothing", "[renderer][parameters]")
{
    struct Case
    {
        const char* id;
        const char* text;
        const char* reason;
    };
    const auto c = GENERATE (Case { "threshold", "loud", "a number from -72 to 6 db" },
                             Case { "threshold", "-100", "a number from -72 to 6 db" },
                             Case { "threshold", "-30 ms", "a number from -72 to 6 db" },
                             Case { "threshold", "", "a number" },
                             Case { "attack", "0", "from 0.02 to 150 ms" },
                             Case { "flip", "yes", "On or Off" },
                             Case { "releaseSync", "1/7", "\"1/8 d\"" },
                             Case { "releaseSync", "19", "index 0 to 18" },
                             Case { "releaseSync", "4.5", "index 0 to 18" },
                             Case { "outputClipType", "xyz", "\"off\", \"auto\", \"clip\"" },
                             Case { "lpAmount", "extreme", "\"soft\", \"medium\", \"heavy\"" },
                             Case { "filterFreq0", "10 hz", "a number from 20 to 20000 hz" },
                             Case { "filterFreq0", "1 kHz!", "a number" });
    CAPTURE (c.id, c.text);

    ombrel::BrimvaleAudioProcessor processor;
    auto* parameter = processor.mParameters.getParameter (c.id);
    REQUIRE (parameter != nullptr);
    const auto before = parameter->getValue();

    const auto applied = ParameterText::apply (processor.mParameters, c.id, c.text);
    REQUIRE (applied.failed());
    CHECK (applied.getErrorMessage().contains ("\"" + juce::String (c.text) + "\""));
    CHECK (applied.getErrorMessage().contains (c.reason));
    CHECK (parameter->getValue() == before);
}

TEST_CASE ("An unknown parameter ID is an error that suggests a near match", "[renderer][parameters]")
{
    ombrel::BrimvaleAudioProcessor processor;

    const auto unknown = ParameterText::apply (processor.mParameters, "thresh", "-30");
    REQUIRE (unknown.failed());
    CHECK (unknown.getErrorMessage() == "unknown parameter \"thresh\"");

    const auto wrongCase = ParameterText::apply (processor.mParameters, "Threshold", "-30");
    REQUIRE (wrongCase.failed());
    CHECK (wrongCase.getErrorMessage().contains ("did you mean \"threshold\""));
}

//==============================================================================
TEST_CASE ("Command lines are read into options or rejected with a reason", "[renderer][commandline]")
{
    SECTION ("a full command line")
    {
        const auto parsed = parseCommandLine ({ "--preset", "kick.ovb", "--set", "releaseSync=1/8 d", "--set=flip=On", "-s", "key.wav",
                                                "--tempo=96.5", "--bits", "24", "--format", "FLAC", "--keep-latency", "-q",
                                                "--plot", "p.png", "in.wav", "-o", "out.flac" });
        REQUIRE (parsed.ok());
        const auto& o = parsed.options;
        CHECK (o.inputs == juce::StringArray { "in.wav" });
        CHECK (o.output == "out.flac");
        CHECK (o.preset == "kick.ovb");
        CHECK (o.sidechain == "key.wav");
        CHECK (o.plot == "p.png");
        CHECK (o.format == "flac");
        CHECK (o.bitDepth == 24);
        REQUIRE (o.tempo.has_value());
        CHECK (*o.tempo == 96.5);
        CHECK (o.keepLatency);
        CHECK (o.quiet);
        REQUIRE (o.assignments.size() == 2);
        CHECK (o.assignments[0].id == "releaseSync");
        CHECK (o.assignments[0].text == "1/8 d");
        CHECK (o.assignments[1].id == "flip");
        CHECK (o.assignments[1].text == "On");
    }

    SECTION ("after --, names starting with a dash are inputs")
    {
        const auto parsed = parseCommandLine ({ "--", "-take1.wav" });
        REQUIRE (parsed.ok());
        CHECK (parsed.options.inputs == juce::StringArray { "-take1.wav" });
    }

    SECTION ("mistakes")
    {
        struct Case
        {
            juce::StringArray arguments;
            const char* reason;
        };
        const auto c = GENERATE (Case { {}, "no input file" },
                                 Case { { "in.wav", "--bogus" }, "unknown option --bogus" },
                                 Case { { "in.wav", "--set", "threshold" }, "is not ID=VALUE" },
                                 Case { { "in.wav", "--set", "=3" }, "is not ID=VALUE" },
                                 Case { { "in.wav", "--set" }, "--set needs a value" },
                                 Case { { "in.wav", "--tempo", "fast" }, "not a tempo" },
                                 Case { { "in.wav", "--tempo", "0" }, "not a tempo" },
                                 Case { { "in.wav", "--bits", "12" }, "not 8, 16, 24 or 32" },
                                 Case { { "in.wav", "--format", "mp3" }, "unknown format" },
                                 Case { { "a.wav", "b.wav", "-o", "c.wav" }, "--out-dir" },
                                 Case { { "a.wav", "b.wav", "--plot", "p.png" }, "one input" },
                                 Case { { "a.wav", "-o", "c.wav", "--out-dir", "d" }, "either -o or --out-dir" },
                                 Case { { "--keep-latency=yes", "a.wav" }, "takes no value" },
                                 Case { { "--make-demo", "out", "a.wav" }, "takes no input files" });
        CAPTURE (c.arguments.joinIntoString (" "));

        const auto parsed = parseCommandLine (c.arguments);
        REQUIRE_FALSE (parsed.ok());
        CHECK (parsed.error.contains (c.reason));
    }
}

TEST_CASE ("Outputs are named after their inputs unless named", "[renderer][commandline]")
{
    const auto working = juce::File ("/work/session");

    CommandLineOptions options;
    options.inputs = { "kick.wav", "toms/floor.aiff" };
    options.outputFolder = "gated";
    options.format = "flac";
    options.sidechain = "/keys/kick-in.wav";

    const auto jobs = settingsForInputs (options, working);
    REQUIRE (jobs.size() == 2);
    CHECK (jobs[0].input.getFullPathName() == "/work/session/kick.wav");
    CHECK (jobs[0].output.getFullPathName() == "/work/session/gated/kick-sorvanta.flac");
    CHECK (jobs[1].output.getFullPathName() == "/work/session/gated/floor-sorvanta.flac");
    CHECK (jobs[1].sidechain.getFullPathName() == "/keys/kick-in.wav");
    CHECK (jobs[1].preset == juce::File());

    CHECK (defaultOutputFor (juce::File ("/a/snare.aif"), {}, {}).getFullPathName() == "/a/snare-sorvanta.aif");
}

//==============================================================================
TEST_CASE ("The side-chain lines up with the input whatever its length", "[renderer][sidechain]")
{
    const auto folder = test_support::freshTemporaryFolder ("renderer-sidechain");
    const auto length = (int) (1.0 * rate);

    // The main signal is steady; only the side-chain's bursts at 0.2 s and 0.7 s open the gate.
    juce::AudioBuffer<float> steady (2, length);
    juce::Random random (5);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < length; ++i)
            steady.setSample (c, i, 0.3f * (random.nextFloat() * 2.0f - 1.0f));

    struct Case
    {
        const char* name;
        double sidechainSeconds;
        bool secondBurstHeard;
        const char* warning;
    };
    const auto c = GENERATE (Case { "equal", 1.0, true, "" },
                             Case { "shorter", 0.5, false, "shorter than the input" },
                             Case { "longer", 1.5, true, "longer than the input" });
    CAPTURE (c.name);

    const auto sidechain = toneBursts ((int) (c.sidechainSeconds * rate), { 0.2, 0.7, 1.2 }, 0.05, 0.8f);
    const auto inputFile = folder.getChildFile ("main.wav");
    const auto sidechainFile = folder.getChildFile ("key.wav");
    const auto outputFile = folder.getChildFile ("out.wav");
    writeAudio (inputFile, steady);
    writeAudio (sidechainFile, sidechain);

    RenderJobSettings settings;
    settings.input = inputFile;
    settings.sidechain = sidechainFile;
    settings.output = outputFile;
    settings.assignments = { { "threshold", "-20" }, { "floor", "-80" }, { "hold", "10" }, { "release", "15" },
                             { "transientsOn", "Off" }, { "debleed", "Off" } };

    const auto result = runJob (settings);
    REQUIRE (result.outcome == RenderJob::Outcome::finished);
    if (juce::String (c.warning).isEmpty())
        CHECK (result.warnings.isEmpty());
    else
        CHECK (result.warnings.joinIntoString ("\n").contains (c.warning));

    const auto output = readAudio (outputFile).samples;
    REQUIRE (output.getNumSamples() == length);

    // Same as the processor in-process with the side-chain bus fed the file's samples.
    const auto expected = processInProcess (steady, &sidechain,
                                            { { "threshold", -20.0f }, { "floor", -80.0f }, { "hold", 10.0f }, { "release", 15.0f },
                                              { "transientsOn", 0.0f }, { "debleed", 0.0f }, { "sidechainToggle", 1.0f } },
                                            std::nullopt, false);
    CHECK (largestDifference (output, expected) == 0.0f);

    const auto inputLevel = rmsDecibels (steady, 0.0, 1.0);
    CHECK (rmsDecibels (output, 0.21, 0.24) == Approx (inputLevel).margin (1.0));   // open on the first burst
    CHECK (rmsDecibels (output, 0.40, 0.60) < inputLevel - 60.0);                    // closed between
    if (c.secondBurstHeard)
        CHECK (rmsDecibels (output, 0.71, 0.74) == Approx (inputLevel).margin (1.0));
    else
        CHECK (rmsDecibels (output, 0.71, 0.74) < inputLevel - 60.0);                // silence after the side-chain ended
}

TEST_CASE ("A side-chain at another sample rate is refused", "[renderer][sidechain]")
{
    const auto folder = test_support::freshTemporaryFolder ("renderer-sidechain-rate");
    RenderJobSettings settings;
    settings.input = folder.getChildFile ("main.wav");
    settings.sidechain = folder.getChildFile ("key48k.wav");
    settings.output = folder.getChildFile ("out.wav");
    writeAudio (settings.input, burstsWithBleed (2, 4410));
    writeAudio (settings.sidechain, toneBursts (4800, { 0.0 }, 0.05, 0.8f), "wav", 32, 48000.0);

    const auto result = runJob (settings);
    CHECK (result.outcome == RenderJob::Outcome::failed);
    CHECK (result.error.contains ("key48k.wav"));
    CHECK (result.error.contains ("sample rate 48000 Hz differs from the input's 44100 Hz"));
    CHECK_FALSE (settings.output.exists());
}

//==============================================================================
TEST_CASE ("Bad input gets one line naming the file and the reason, and no output", "[renderer][errors]")
{
    const auto folder = test_support::freshTemporaryFolder ("renderer-errors");
    const auto good = folder.getChildFile ("good.wav");
    writeAudio (good, burstsWithBleed (2, 4410));
    const auto goodBytes = [&] { juce::MemoryBlock m; good.loadFileAsData (m); return m; }();

    struct Place
    {
        juce::File folder, good;
    };
    struct Case
    {
        const char* name;
        // Set-ups get the folder and the good input as an argument: a generated value outlives the
        // locals of the run that made it.
        void (*setUp) (RenderJobSettings&, const Place&);
        const char* subject;
        const char* reason;
    };
    const auto c = GENERATE (as<Case> {},
        Case { "missing input", [] (RenderJobSettings& s, const Place& p) { s.input = p.folder.getChildFile ("missing.wav"); }, "missing.wav", ": no such file" },
        Case { "text posing as WAV", [] (RenderJobSettings& s, const Place& p) {
                   s.input = p.folder.getChildFile ("notes.wav");
                   s.input.replaceWithText ("kick: more attack\n");
               }, "notes.wav", "not a WAV, AIFF, FLAC or Ogg Vorbis file" },
        Case { "unsupported format", [] (RenderJobSettings& s, const Place& p) {
                   s.input = p.folder.getChildFile ("song.mp3");
                   juce::MemoryBlock noise (4096);
                   juce::Random (3).fillBitsRandomly (noise.getData(), noise.getSize());
                   s.input.replaceWithData (noise.getData(), noise.getSize());
               }, "song.mp3", "not a WAV, AIFF, FLAC or Ogg Vorbis file" },
        Case { "folder as input", [] (RenderJobSettings& s, const Place& p) { s.input = p.folder; }, "renderer-errors", "is a folder" },
        Case { "three channels", [] (RenderJobSettings& s, const Place& p) {
                   s.input = p.folder.getChildFile ("surround.wav");
                   writeAudio (s.input, burstsWithBleed (3, 4410));
               }, "surround.wav", "has 3 channels" },
        Case { "unknown parameter", [] (RenderJobSettings& s, const Place&) { s.assignments = { { "thresold", "-30" } }; }, "--set thresold=-30", "unknown parameter \"thresold\"" },
        Case { "bad value", [] (RenderJobSettings& s, const Place&) { s.assignments = { { "threshold", "loud" } }; }, "--set threshold=loud", "\"loud\" is not a number from -72 to 6 db" },
        Case { "output is the input", [] (RenderJobSettings& s, const Place& p) { s.output = p.good; }, "good.wav", "is the input file" },
        Case { "output is the input through a link", [] (RenderJobSettings& s, const Place& p) {
                   s.output = p.folder.getChildFile ("link.wav");
                   REQUIRE (p.good.createSymbolicLink (s.output, true));
               }, "link.wav", "is the input file" },
        Case { "output folder missing", [] (RenderJobSettings& s, const Place& p) { s.output = p.folder.getChildFile ("nowhere/out.wav"); }, "out.wav", "does not exist" },
        Case { "not a preset", [] (RenderJobSettings& s, const Place& p) {
                   s.preset = p.folder.getChildFile ("kick.ovb");
                   s.preset.replaceWithText ("sorvanta \n54\n");
               }, "kick.ovb", "This is not a sorvanta preset!" },
        Case { "missing preset", [] (RenderJobSettings& s, const Place& p) { s.preset = p.folder.getChildFile ("gone.ovb"); }, "gone.ovb", "no such file" },
        Case { "missing side-chain", [] (RenderJobSettings& s, const Place& p) { s.sidechain = p.folder.getChildFile ("key.wav"); }, "key.wav", "no such file" },
        Case { "depth the format lacks", [] (RenderJobSettings& s, const Place& p) { s.output = p.folder.getChildFile ("out.flac"); s.bitDepth = 32; }, "out.flac", "FLAC cannot write 32-bit" });
    CAPTURE (c.name);

    RenderJobSettings settings;
    settings.input = good;
    settings.output = folder.getChildFile ("out.wav");
    c.setUp (settings, Place { folder, good });
    const auto namesBefore = fileNamesIn (folder);

    const auto result = runJob (settings);

    CHECK (result.outcome == RenderJob::Outcome::failed);
    CHECK (result.error.contains (c.subject));
    CHECK (result.error.contains (c.reason));
    CHECK_FALSE (result.error.containsAnyOf ("\r\n"));
    CHECK (fileNamesIn (folder) == namesBefore);   // no output, no temporary file

    juce::MemoryBlock bytesAfter;
    good.loadFileAsData (bytesAfter);
    CHECK (bytesAfter == goodBytes);               // the input is untouched
}

//==============================================================================
TEST_CASE ("An interrupted render leaves no output file", "[renderer][cancel]")
{
    const auto folder = test_support::freshTemporaryFolder ("renderer-cancel");
    RenderJobSettings settings;
    settings.input = folder.getChildFile ("long.wav");
    settings.output = folder.getChildFile ("long-gated.wav");
    writeAudio (settings.input, burstsWithBleed (2, (int) (3.0 * rate)));

    const auto hadOldOutput = GENERATE (false, true);
    CAPTURE (hadOldOutput);
    if (hadOldOutput)
        settings.output.replaceWithText ("an earlier render");
    const auto namesBefore = fileNamesIn (folder);

    std::atomic<bool> cancel { false };
    juce::File temporary;
    auto blocks = 0;
    auto temporarySeen = false;

    RenderJob::Hooks hooks;
    hooks.cancel = &cancel;
    hooks.temporaryFileChanged = [&] (const juce::File& file) { if (file != juce::File()) temporary = file; };
    hooks.progress = [&] (double fraction) {
        ++blocks;
        temporarySeen = temporarySeen || temporary.existsAsFile();
        if (fraction > 0.4)
            cancel = true; // as the signal handler does
    };

    const auto result = runJob (settings, hooks);

    CHECK (result.outcome == RenderJob::Outcome::cancelled);
    CHECK (result.error.contains ("interrupted"));
    CHECK (temporarySeen);                            // it was rendering into the temporary file
    CHECK (blocks < (int) (3.0 * rate / 512));        // and stopped well before the end
    CHECK_FALSE (temporary.exists());
    CHECK (fileNamesIn (folder) == namesBefore);
    if (hadOldOutput)
        CHECK (settings.output.loadFileAsString() == "an earlier render");
}

//==============================================================================
TEST_CASE ("The analysis measures levels, gate time and clipping on the output's timeline", "[renderer][summary]")
{
    SECTION ("peak and RMS of a sine")
    {
        juce::AudioBuffer<float> sine (2, 44100);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 44100; ++i)
                sine.setSample (c, i, 0.5f * (float) std::sin (2.0 * juce::MathConstants<double>::pi * 441.0 * i / rate));

        LevelMeter meter;
        meter.add (sine.getArrayOfReadPointers(), 2, 44100);
        CHECK (meter.peakDecibels() == Approx (20.0 * std::log10 (0.5)).margin (0.001));
        CHECK (meter.rmsDecibels() == Approx (20.0 * std::log10 (0.5 / std::sqrt (2.0))).margin (0.001));
        CHECK (std::isinf (LevelMeter {}.peakDecibels()));
        CHECK (formatDecibels (LevelMeter {}.rmsDecibels()) == "-inf dBFS");
    }

    SECTION ("gate open share and clip runs")
    {
        RenderAnalysis analysis (100, 100, rate);
        std::vector<float> gain (100, 0.0f);
        std::fill (gain.begin() + 10, gain.begin() + 40, 1.0f);
        std::fill (gain.begin() + 40, gain.begin() + 50, 0.5f);   // exactly -6 dB is not open
        analysis.addGain (0, gain.data(), 100);

        // Gain for positions before the output starts is ignored.
        std::vector<float> early (20, 1.0f);
        analysis.addGain (-20, early.data(), 20);

        REQUIRE (analysis.getGateOpenShare().has_value());
        CHECK (*analysis.getGateOpenShare() == Approx (0.3));

        std::vector<float> left (100, 0.1f), right (100, 0.1f);
        left[5] = 1.0f;
        left[6] = -1.0f;
        right[7] = 0.99995f;   // a limited peak lands a hair under full scale
        right[50] = 1.3f;      // an unclipped overshoot counts too
        const float* channels[] = { left.data(), right.data() };
        analysis.addOutput (0, channels, 2, 100);
        CHECK (analysis.getClippedSamples() == 4);
        CHECK (analysis.getClipEvents() == 2);
    }

    SECTION ("no gain recorded means no share")
    {
        RenderAnalysis analysis (10, 10, rate);
        CHECK_FALSE (analysis.getGateOpenShare().has_value());
    }

    SECTION ("the envelope keeps the extremes of every stretch")
    {
        Envelope envelope (1000, 10);
        std::vector<float> ramp (1000);
        for (int i = 0; i < 1000; ++i)
            ramp[(size_t) i] = (float) i / 1000.0f;
        envelope.add (0, ramp.data(), 1000);

        CHECK (envelope.getSamplesPerBucket() == 100);
        const auto range = envelope.rangeOver (250, 450);
        REQUIRE (range.has_value());
        CHECK (range->getStart() == Approx (0.2f));   // whole buckets: 200 to 499
        CHECK (range->getEnd() == Approx (0.499f));
        CHECK_FALSE (envelope.rangeOver (1000, 1200).has_value());
    }
}

TEST_CASE ("A render's summary reports what happened to the file", "[renderer][summary]")
{
    const auto folder = test_support::freshTemporaryFolder ("renderer-summary");
    RenderJobSettings settings;
    settings.input = folder.getChildFile ("in.wav");
    settings.output = folder.getChildFile ("out.wav");
    settings.plot = folder.getChildFile ("plot.png");
    settings.preset = juce::File (SORVANTA_FACTORY_PRESET_FOLDER).getChildFile ("Kick Tight.ovb");
    writeAudio (settings.input, burstsWithBleed (2, (int) (1.0 * rate)), "wav", 24);

    const auto result = runJob (settings);
    REQUIRE (result.outcome == RenderJob::Outcome::finished);

    const auto input = readAudio (settings.input).samples;
    LevelMeter inputMeter;
    inputMeter.add (input.getArrayOfReadPointers(), 2, input.getNumSamples());

    const auto& summary = result.summary;
    CHECK (summary.preset == "Kick Tight");
    CHECK (summary.outputFormat == "WAV 24-bit");
    CHECK (summary.latencySamples == 441);
    CHECK (summary.outputLength == input.getNumSamples());
    CHECK (summary.inputPeakDb == Approx (inputMeter.peakDecibels()).margin (1.0e-6));
    CHECK (summary.inputRmsDb == Approx (inputMeter.rmsDecibels()).margin (1.0e-6));
    REQUIRE (summary.gateOpenShare.has_value());
    CHECK (*summary.gateOpenShare > 0.0);
    CHECK (*summary.gateOpenShare < 1.0);

    const auto text = summary.toText();
    for (auto* part : { "in.wav -> ", "out.wav", "Kick Tight", "gate open", "clip events", "plot.png", "441 samples removed" })
        CHECK (text.contains (part));

    const auto plot = juce::ImageFileFormat::loadFrom (settings.plot);
    CHECK (plot.getWidth() == RenderPlot::defaultWidth);
    CHECK (plot.getHeight() == RenderPlot::defaultHeight);
    CHECK (fileNamesIn (folder) == juce::StringArray { "in.wav", "out.wav", "plot.png" });
}

TEST_CASE ("The plot's time axis has a readable number of ticks", "[renderer][plot]")
{
    struct Case
    {
        double seconds;
        double spacing;
    };
    const auto c = GENERATE (Case { 8.0, 1.0 }, Case { 0.5, 0.05 }, Case { 30.0, 5.0 }, Case { 600.0, 60.0 }, Case { 0.001, 0.001 });
    CAPTURE (c.seconds);
    CHECK (RenderPlot::tickSpacing (c.seconds, 12) == c.spacing);
}

//==============================================================================
TEST_CASE ("The demo tracks are the same every time and sound like gated drums need", "[renderer][demo]")
{
    const auto first = DemoTracks::make();
    const auto second = DemoTracks::make();

    REQUIRE (first.drums.getNumChannels() == 2);
    REQUIRE (first.drums.getNumSamples() == 8 * 44100);
    REQUIRE (first.sidechain.getNumSamples() == first.drums.getNumSamples());
    CHECK (largestDifference (first.drums, second.drums) == 0.0f);
    CHECK (largestDifference (first.sidechain, second.sidechain) == 0.0f);

    const auto ceiling = juce::Decibels::decibelsToGain (-1.0f) + 1.0e-6f;
    CHECK (first.drums.getMagnitude (0, first.drums.getNumSamples()) <= ceiling);
    CHECK (first.sidechain.getMagnitude (0, first.sidechain.getNumSamples()) <= ceiling);

    // Eighth notes at 120 bpm are 0.25 s apart: a kick at 0 s, a hi-hat alone at 0.25 s, the
    // snare at 0.5 s. Hits stand well above the bleed between them.
    const auto kick = rmsDecibels (first.drums, 0.0, 0.05);
    const auto hatAlone = rmsDecibels (first.drums, 0.30, 0.35);
    const auto snareHit = rmsDecibels (first.drums, 0.5, 0.55);
    CHECK (kick > hatAlone + 15.0);
    CHECK (snareHit > hatAlone + 15.0);
    CHECK (hatAlone > -70.0);   // the bleed is there to be removed

    // The side-chain has the kick, and hardly anything of the snare.
    CHECK (rmsDecibels (first.sidechain, 0.0, 0.05) > rmsDecibels (first.sidechain, 0.5, 0.55) + 25.0);

    SECTION ("written files are byte for byte the same")
    {
        const auto folder = test_support::freshTemporaryFolder ("renderer-demo");
        juce::Array<juce::File> written, again;
        REQUIRE (DemoTracks::write (folder.getChildFile ("a"), written).wasOk());
        REQUIRE (DemoTracks::write (folder.getChildFile ("b"), again).wasOk());
        REQUIRE (written.size() == 2);
        for (int i = 0; i < 2; ++i)
            CHECK (written[i].hasIdenticalContentTo (again[i]));
        CHECK (readAudio (written[0]).bits == 24);
    }
}
