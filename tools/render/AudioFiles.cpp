#include "render/AudioFiles.h"

#include <sys/stat.h>

namespace ombrel::render
{
namespace
{
    bool isWav (const juce::AudioFormat& f) { return dynamic_cast<const juce::WavAudioFormat*> (&f) != nullptr; }
    bool isAiff (const juce::AudioFormat& f) { return dynamic_cast<const juce::AiffAudioFormat*> (&f) != nullptr; }
    bool isFlac (const juce::AudioFormat& f) { return dynamic_cast<const juce::FlacAudioFormat*> (&f) != nullptr; }
    bool isOgg (const juce::AudioFormat& f) { return dynamic_cast<const juce::OggVorbisAudioFormat*> (&f) != nullptr; }

    juce::String shortNameOf (const juce::AudioFormat& f)
    {
        return isWav (f) ? "WAV" : isAiff (f) ? "AIFF" : isFlac (f) ? "FLAC" : isOgg (f) ? "Ogg Vorbis" : f.getFormatName();
    }

    /** The quality setting used for a format: FLAC's default compression, Ogg at 192 kbps. */
    int qualityIndexFor (juce::AudioFormat& f)
    {
        const auto options = f.getQualityOptions();
        if (isOgg (f))
            return juce::jmax (0, options.indexOf ("192 kbps"));
        if (isFlac (f))
            return juce::jmax (0, options.indexOf ("5 (Default)"));
        return 0;
    }

    /** The depth closest to the wanted one, the deeper one on a tie, so nothing gets coarser than needed. */
    int nearestDepth (const juce::Array<int>& possible, int wanted)
    {
        auto best = possible.getFirst();
        for (auto depth : possible)
            if (std::abs (depth - wanted) < std::abs (best - wanted) || (std::abs (depth - wanted) == std::abs (best - wanted) && depth > best))
                best = depth;
        return best;
    }
} // namespace

AudioFiles::AudioFiles()
{
    manager.registerBasicFormats();
}

juce::Result AudioFiles::open (const juce::File& file, std::unique_ptr<juce::AudioFormatReader>& reader)
{
    reader.reset();

    if (file.isDirectory())
        return juce::Result::fail ("is a folder, not an audio file");
    if (! file.existsAsFile())
        return juce::Result::fail ("no such file");

    if (auto stream = file.createInputStream(); stream == nullptr)
        return juce::Result::fail ("cannot be opened for reading");

    // By extension first; then by content, for names like "take.wave" or none at all.
    reader.reset (manager.createReaderFor (file));
    if (reader == nullptr)
        reader.reset (manager.createReaderFor (file.createInputStream()));
    if (reader == nullptr)
        return juce::Result::fail ("not a WAV, AIFF, FLAC or Ogg Vorbis file, or damaged");

    if (! (reader->sampleRate > 0.0) || reader->numChannels == 0)
        return juce::Result::fail ("has no valid sample rate or channels");
    if (reader->lengthInSamples <= 0)
        return juce::Result::fail ("contains no audio");

    return juce::Result::ok();
}

juce::AudioFormat* AudioFiles::formatNamed (const juce::String& shortName)
{
    const auto name = shortName.toLowerCase();
    for (auto* f : manager)
        if ((name == "wav" && isWav (*f)) || (name == "aiff" && isAiff (*f)) || (name == "flac" && isFlac (*f)) || (name == "ogg" && isOgg (*f)))
            return f;
    return nullptr;
}

juce::AudioFormat* AudioFiles::formatForExtension (const juce::File& file)
{
    const auto extension = file.getFileExtension();
    return extension.isEmpty() ? nullptr : manager.findFormatForFileExtension (extension);
}

juce::Result AudioFiles::chooseOutputFormat (const juce::AudioFormatReader& input,
                                             const juce::File& output,
                                             const juce::String& formatName,
                                             int bitDepth,
                                             OutputFormat& chosen)
{
    juce::AudioFormat* format = nullptr;

    if (formatName.isNotEmpty())
        format = formatNamed (formatName);
    else if (auto* byExtension = formatForExtension (output))
        format = byExtension;
    else
        for (auto* f : manager)
            if (f->getFormatName() == input.getFormatName())
                format = f;

    if (format == nullptr)
        return juce::Result::fail ("no output format for \"" + output.getFileName() + "\"");

    const auto possible = format->getPossibleBitDepths();

    if (isOgg (*format))
    {
        // Vorbis has no sample depth; the quality setting decides.
        if (bitDepth != 0)
            return juce::Result::fail ("Ogg Vorbis has no bit depth; leave out --bits");
        chosen = { format, possible.getFirst(), qualityIndexFor (*format) };
        return juce::Result::ok();
    }

    if (bitDepth != 0 && ! possible.contains (bitDepth))
    {
        juce::StringArray depths;
        for (auto d : possible)
            depths.add (juce::String (d));
        return juce::Result::fail (shortNameOf (*format) + " cannot write " + juce::String (bitDepth) + "-bit samples (only "
                                   + depths.joinIntoString (", ") + ")");
    }

    // A lossy input reads as 16-bit, which is a fair depth to keep it at.
    const auto wanted = bitDepth != 0 ? bitDepth : static_cast<int> (input.bitsPerSample);
    chosen = { format, nearestDepth (possible, wanted), qualityIndexFor (*format) };
    return juce::Result::ok();
}

juce::String AudioFiles::describe (const juce::AudioFormat& format, int bitDepth)
{
    if (isOgg (format))
        return shortNameOf (format);

    // JUCE writes 32-bit WAV as floating point.
    return shortNameOf (format) + " " + juce::String (bitDepth) + "-bit" + (isWav (format) && bitDepth == 32 ? " float" : "");
}

juce::String AudioFiles::describe (const juce::AudioFormatReader& reader)
{
    auto name = reader.getFormatName();
    name = name.endsWith (" file") ? name.dropLastCharacters (5) : name;
    if (name == "Ogg-Vorbis")
        return "Ogg Vorbis";
    return name + " " + juce::String (reader.bitsPerSample) + "-bit" + (reader.usesFloatingPointData ? " float" : "");
}

bool isSameFile (const juce::File& a, const juce::File& b)
{
    if (a == b)
        return true;

    struct stat sa {}, sb {};
    if (::stat (a.getFullPathName().toRawUTF8(), &sa) != 0 || ::stat (b.getFullPathName().toRawUTF8(), &sb) != 0)
        return false;

    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
} // namespace ombrel::render
