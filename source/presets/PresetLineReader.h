#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace ombrel::presets
{
/** Reads a preset file line by line, never more than a fixed number of bytes in total.

    Only regular files are opened, so a folder, a pipe or a device can neither block nor feed
    endless data. A line may end in LF or CR LF; the CR is dropped. A line longer than the line
    limit is consumed up to its end and returned as empty with `tooLong` set.
*/
class PresetLineReader
{
public:
    struct Line
    {
        std::string text;
        bool tooLong = false;
    };

    PresetLineReader (const std::string& path, std::size_t maximumFileBytes, std::size_t maximumLineBytes);
    ~PresetLineReader();

    bool isOpen() const noexcept { return file != nullptr; }

    /** The next line, or nothing at the end of the file or of the byte budget. */
    std::optional<Line> readLine();

    std::size_t bytesRead() const noexcept { return consumed; }

private:
    int nextByte();

    std::FILE* file = nullptr;
    std::size_t maximumFileBytes, maximumLineBytes, consumed = 0;
    bool exhausted = false;

    PresetLineReader (const PresetLineReader&) = delete;
    PresetLineReader& operator= (const PresetLineReader&) = delete;
};
} // namespace ombrel::presets
