#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

namespace ombrel::render
{
/** The audio formats the renderer reads and writes: WAV, AIFF, FLAC and Ogg Vorbis. */
class AudioFiles
{
public:
    AudioFiles();

    /** Opens a file for reading. The error says why not: missing, a folder, unreadable, not a
        format we read, or no audio in it. Error texts do not name the file; callers prefix it. */
    juce::Result open (const juce::File& file, std::unique_ptr<juce::AudioFormatReader>& reader);

    /** The format and sample encoding of a render's output. */
    struct OutputFormat
    {
        juce::AudioFormat* format = nullptr;
        int bitDepth = 0;
        int qualityIndex = 0;
    };

    /** Chooses the output format: `formatName` if given ("wav" ...), else the output file's
        extension if it names a format, else the input's format. The bit depth is `bitDepth` if
        given (an error when the format cannot write it), else the input's, or the nearest the
        format writes when it cannot. */
    juce::Result chooseOutputFormat (const juce::AudioFormatReader& input,
                                     const juce::File& output,
                                     const juce::String& formatName,
                                     int bitDepth,
                                     OutputFormat& chosen);

    /** The format registered under a short name ("wav", "aiff", "flac", "ogg"), or nullptr. */
    juce::AudioFormat* formatNamed (const juce::String& shortName);

    /** The format whose extensions include the file's, or nullptr. */
    juce::AudioFormat* formatForExtension (const juce::File& file);

    /** A one-word description for summaries: "WAV 24-bit", "WAV 32-bit float", "Ogg Vorbis". */
    static juce::String describe (const juce::AudioFormat& format, int bitDepth);
    static juce::String describe (const juce::AudioFormatReader& reader);

    juce::AudioFormatManager& getManager() noexcept { return manager; }

private:
    juce::AudioFormatManager manager;
};

/** True when both name the same file: the same path, or, when both exist, the same file through
    links. A check that the input is never written to. */
bool isSameFile (const juce::File& a, const juce::File& b);
} // namespace ombrel::render
