// Feeds every file of the given corpus folders (or single files) to one fuzz entry function, the
// way libFuzzer would, so the corpus runs as an ordinary test in every build.
//
//     sorvanta_fuzz_replay <state|preset> <folder or file>...

#include "FuzzEntryPoints.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
using EntryFunction = int (*) (const std::uint8_t*, std::size_t);

std::vector<fs::path> inputsUnder (const fs::path& path)
{
    std::vector<fs::path> inputs;

    if (fs::is_directory (path))
    {
        for (const auto& entry : fs::directory_iterator (path))
            if (entry.is_regular_file())
                inputs.push_back (entry.path());

        std::sort (inputs.begin(), inputs.end());
    }
    else if (fs::is_regular_file (path))
    {
        inputs.push_back (path);
    }

    return inputs;
}
} // namespace

int main (int argc, char* argv[])
{
    if (argc < 3)
    {
        std::fprintf (stderr, "usage: %s <state|preset> <folder or file>...\n", argv[0]);
        return 2;
    }

    const std::string target = argv[1];
    const EntryFunction entry = target == "state"  ? &sorvanta_fuzz::restoreState
                                : target == "preset" ? &sorvanta_fuzz::readPreset
                                                     : nullptr;
    if (entry == nullptr)
    {
        std::fprintf (stderr, "unknown target '%s'\n", target.c_str());
        return 2;
    }

    std::vector<fs::path> inputs;
    for (int i = 2; i < argc; ++i)
    {
        const auto found = inputsUnder (argv[i]);
        if (found.empty())
        {
            std::fprintf (stderr, "no inputs in %s\n", argv[i]);
            return 1;
        }
        inputs.insert (inputs.end(), found.begin(), found.end());
    }

    for (const auto& input : inputs)
    {
        std::ifstream stream (input, std::ios::binary);
        const std::vector<char> bytes ((std::istreambuf_iterator<char> (stream)), std::istreambuf_iterator<char>());

        // An invariant that breaks aborts inside the entry function, naming the input above it.
        std::printf ("%s (%zu bytes)\n", input.filename().c_str(), bytes.size());
        std::fflush (stdout);
        entry (reinterpret_cast<const std::uint8_t*> (bytes.data()), bytes.size());
    }

    std::printf ("%zu inputs replayed through '%s'\n", inputs.size(), target.c_str());
    return 0;
}
