#include "presets/PresetLineReader.h"

#include <filesystem>

namespace ombrel::presets
{
PresetLineReader::PresetLineReader (const std::string& path, std::size_t maxFileBytes, std::size_t maxLineBytes)
    : maximumFileBytes (maxFileBytes), maximumLineBytes (maxLineBytes)
{
    std::error_code error;
    if (path.empty() || ! std::filesystem::is_regular_file (path, error))
        return;

    file = std::fopen (path.c_str(), "rb");
}

PresetLineReader::~PresetLineReader()
{
    if (file != nullptr)
        std::fclose (file);
}

int PresetLineReader::nextByte()
{
    if (exhausted || file == nullptr || consumed >= maximumFileBytes)
    {
        exhausted = true;
        return EOF;
    }

    const auto c = std::fgetc (file);
    if (c == EOF)
        exhausted = true;
    else
        ++consumed;

    return c;
}

std::optional<PresetLineReader::Line> PresetLineReader::readLine()
{
    if (exhausted || file == nullptr)
        return std::nullopt;

    Line line;
    bool sawAnything = false;

    for (;;)
    {
        const auto c = nextByte();
        if (c == EOF)
            break;

        sawAnything = true;
        if (c == '\n')
            break;

        if (line.tooLong)
            continue;

        if (line.text.size() >= maximumLineBytes)
        {
            line.tooLong = true;
            line.text.clear();
            continue;
        }

        line.text.push_back (static_cast<char> (c));
    }

    if (! sawAnything)
        return std::nullopt;

    if (! line.text.empty() && line.text.back() == '\r')
        line.text.pop_back();

    return line;
}
} // namespace ombrel::presets
