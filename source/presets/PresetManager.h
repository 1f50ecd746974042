#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace ombrel
{
class BrimvaleAudioProcessor;

/** The preset library: finds preset files in one folder tree, reads and writes them, and steps
    through them.

    A preset file is text: the product name, the number of parameters N, then N pairs of lines,
    a parameter ID and its normalised value. Loading sets parameters through the host-notifying
    path, so hosts and modules see ordinary parameter changes.

    All calls belong on the message thread. The manager shows no dialogs itself: choosers hand
    a path to `loadPreset` and `savePreset`, and `onWrongFileKind` shows the message box.
*/
class PresetManager
{
public:
    enum class LoadStatus
    {
        loaded,      ///< the file was a preset and was applied
        cannotOpen,  ///< missing, not a regular file or unreadable: nothing changed
        notAPreset   ///< the first line is not the product name: nothing changed
    };

    struct LoadReport
    {
        LoadStatus status = LoadStatus::cannotOpen;
        int statedCount = 0;   ///< N as the file states it (saturated)
        int applied = 0;       ///< pairs whose value reached a parameter
        int skipped = 0;       ///< pairs read but not applied: unknown ID or a value that is no number
        int defaulted = 0;     ///< parameters the file did not set, returned to their defaults
        bool endedEarly = false;
    };

    static const std::string productName;   ///< "sorvanta"
    static const std::string suffix;        ///< "ovb"
    static const juce::String errorTitle;   ///< "Error"

    /** Bounds that keep a hostile file from costing time or memory; a written preset is ~2 KB. */
    static constexpr std::size_t maximumFileBytes = 64 * 1024;
    static constexpr std::size_t maximumLineBytes = 1024;

    /** The machine-wide preset folder, ending in "/". */
    static std::string defaultPresetDirectory();

    /** Builds the list at once. `presetDirectory` gets a trailing "/" if it lacks one. */
    explicit PresetManager (BrimvaleAudioProcessor& processor,
                            std::string presetDirectory = defaultPresetDirectory());

    //==============================================================================
    // The preset bar's actions. Each ends by publishing the current label (onLabelChanged and
    // the processor's preset name).

    /** Loads the previous listed preset (the last one when none is current), wrapping around. */
    void previousPreset();

    /** Loads the next listed preset (the first one when none is current), wrapping around. */
    void nextPreset();

    /** Loads a path the file chooser confirmed. A missing path or a folder loads nothing. */
    LoadReport loadPreset (const std::string& path);

    /** Saves the current parameters to a path the file chooser confirmed, adding ".ovb" when the
        name lacks it. On success the label follows the file name and the list is rebuilt.
        Returns whether the file was written. */
    bool savePreset (const std::string& path);

    //==============================================================================
    /** Called with errorTitle and "This is not a sorvanta preset!" for a file of the wrong kind. */
    std::function<void (const juce::String& title, const juce::String& message)> onWrongFileKind;

    /** Called at the end of every action with the label to show. */
    std::function<void (const juce::String& label)> onLabelChanged;

    //==============================================================================
    /** Rebuilds the list: a depth-first walk of the preset folder in file-system order; regular
        files whose names end in the suffix; links and other entries skipped. */
    void createList();

    /** Reads a preset into the parameters without touching currentPath. */
    LoadReport loadPresetInternal (const std::string& path);

    /** Writes the current parameters in the preset format; false when the file could not be
        written (an existing file is then left as it was). */
    bool writePreset (const std::string& path) const;

    /** The whole preset file text for the current parameters. */
    std::string createPresetText() const;

    /** True when the name's last characters equal the suffix (case-sensitive). */
    static bool isCorrectSuffix (const std::string& fileName);

    /** The label of a path: the file name without ".ovb". */
    static std::string getLabelText (const std::string& path);

    /** "*.ovb", the pattern for the file choosers. */
    static juce::String getFilePattern();

    /** The text of the wrong-kind message box. */
    static juce::String getWrongFileMessage();

    const std::string& getPresetDirectory() const noexcept { return presetDirectory; }
    const std::string& getCurrentPath() const noexcept { return currentPath; }
    const std::string& getCurrentLabel() const noexcept { return currentLabel; }
    const std::vector<std::string>& getPresetList() const noexcept { return presetList; }
    int getListSize() const noexcept { return static_cast<int> (presetList.size()); }

private:
    void collectPresets (const std::string& directory, int depth);
    void stepThroughList (int direction);
    void publishLabel();
    int indexOfCurrentPreset() const;

    juce::AudioProcessorValueTreeState& parameters;
    juce::String& processorPresetName;

    std::string presetDirectory;
    std::string currentPath;
    std::string currentLabel { "Default" };
    std::vector<std::string> presetList;

    JUCE_DECLARE_NON_COPYABLE (PresetManager)
};
} // namespace ombrel
