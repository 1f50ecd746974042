// Writes the factory presets into a folder (resources/presets in the source tree), using the
// preset library's own writer so the files are exactly what the plug-in saves.

#include "presets/FactoryPresets.h"

#include <juce_events/juce_events.h>

#include <iostream>

int main (int argc, char* argv[])
{
    if (argc != 2 || juce::String (argv[1]) == "--help")
    {
        std::cerr << "usage: sorvanta_make_presets FOLDER\n"
                     "Writes every factory preset as FOLDER/<name>.ovb.\n";
        return argc == 2 ? 0 : 2;
    }

    // The parameter tree expects a message manager.
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    const auto folder = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String (argv[1]));
    const auto result = ombrel::presets::writeFactoryPresets (folder);

    if (result.failed())
    {
        std::cerr << "sorvanta_make_presets: " << result.getErrorMessage() << "\n";
        return 1;
    }

    for (const auto& preset : ombrel::presets::factoryPresets())
        std::cout << folder.getChildFile (preset.name + ".ovb").getFullPathName() << "\n";

    return 0;
}
