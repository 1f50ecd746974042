#include "presets/PresetManager.h"

#include "core/PluginProcessor.h"
#include "presets/PresetLineReader.h"
#include "presets/PresetText.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <unordered_map>
#include <utility>

namespace ombrel
{
namespace
{
    namespace fs = std::filesystem;

    // Deep enough for any sensible folder tree, shallow enough that a pathological one cannot
    // exhaust the stack.
    constexpr int maximumFolderDepth = 32;

    bool endsWith (const std::string& text, const std::string& end)
    {
        return text.size() >= end.size() && text.compare (text.size() - end.size(), end.size(), end) == 0;
    }

    std::string fileNameOf (const std::string& path)
    {
        const auto slash = path.find_last_of ('/');
        return slash == std::string::npos ? path : path.substr (slash + 1);
    }

    juce::String fromBytes (const std::string& text)
    {
        return juce::String::fromUTF8 (text.c_str(), static_cast<int> (text.size()));
    }

    juce::RangedAudioParameter* asRanged (juce::AudioProcessorParameter* parameter)
    {
        return dynamic_cast<juce::RangedAudioParameter*> (parameter);
    }
} // namespace

const std::string PresetManager::productName { "sorvanta" };
const std::string PresetManager::suffix { "ovb" };
const juce::String PresetManager::errorTitle { "Error" };

std::string PresetManager::defaultPresetDirectory()
{
   #if JUCE_MAC
    return "/Library/Application Support/Ombrel/presets/" + productName + "/";
   #elif defined (SORVANTA_PRESET_FOLDER)
    return SORVANTA_PRESET_FOLDER;
   #else
    const auto common = juce::File::getSpecialLocation (juce::File::commonApplicationDataDirectory);
    return common.getChildFile ("Ombrel").getChildFile ("presets").getChildFile (productName).getFullPathName().toStdString() + "/";
   #endif
}

PresetManager::PresetManager (BrimvaleAudioProcessor& processor, std::string directory)
    : parameters (processor.mParameters),
      processorPresetName (processor.mPresetName),
      presetDirectory (std::move (directory))
{
    if (presetDirectory.empty() || presetDirectory.back() != '/')
        presetDirectory += '/';

    createList();
}

//==============================================================================
void PresetManager::previousPreset() { stepThroughList (-1); }
void PresetManager::nextPreset() { stepThroughList (+1); }

void PresetManager::stepThroughList (int direction)
{
    const auto size = getListSize();

    if (size > 0)
    {
        auto target = direction > 0 ? 0 : size - 1;

        if (! currentPath.empty())
        {
            const auto found = indexOfCurrentPreset();
            if (found < 0)
            {
                publishLabel();
                return;
            }

            target = (found + direction + size) % size;
        }

        currentPath = presetList[static_cast<std::size_t> (target)];
        loadPresetInternal (currentPath);
    }

    publishLabel();
}

int PresetManager::indexOfCurrentPreset() const
{
    // The exact path first: with the same label in two folders, matching by label alone would
    // always land on the first of them and stepping would stop advancing.
    const auto exact = std::find (presetList.begin(), presetList.end(), currentPath);
    if (exact != presetList.end())
        return static_cast<int> (std::distance (presetList.begin(), exact));

    // A preset opened from elsewhere finds its neighbours through a listed preset of the same label.
    const auto label = getLabelText (currentPath);

    for (std::size_t i = 0; i < presetList.size(); ++i)
        if (getLabelText (presetList[i]) == label)
            return static_cast<int> (i);

    return -1;
}

PresetManager::LoadReport PresetManager::loadPreset (const std::string& path)
{
    LoadReport report;
    std::error_code error;

    if (! path.empty() && fs::exists (path, error) && ! fs::is_directory (path, error))
    {
        currentPath = path;
        report = loadPresetInternal (path);
    }

    publishLabel();
    return report;
}

bool PresetManager::savePreset (const std::string& path)
{
    // A name typed into the chooser without the suffix would be neither listed nor labelled sensibly.
    auto target = path;
    if (! endsWith (fileNameOf (target), "." + suffix))
        target += "." + suffix;

    const auto written = ! fileNameOf (path).empty() && writePreset (target);

    if (written)
    {
        currentPath = target;
        currentLabel = getLabelText (target);
        createList();
    }

    publishLabel();
    return written;
}

void PresetManager::publishLabel()
{
    const auto label = fromBytes (currentLabel);
    processorPresetName = label;

    if (onLabelChanged)
        onLabelChanged (label);
}

//==============================================================================
void PresetManager::createList()
{
    presetList.clear();
    collectPresets (presetDirectory, 0);
}

void PresetManager::collectPresets (const std::string& directory, int depth)
{
    std::error_code error;
    fs::directory_iterator entries (directory, error);

    for (const fs::directory_iterator end; ! error && entries != end; entries.increment (error))
    {
        const auto name = entries->path().filename().string();

        std::error_code statusError;
        const auto status = entries->symlink_status (statusError);
        if (statusError)
            continue;

        if (fs::is_regular_file (status))
        {
            if (isCorrectSuffix (name))
                presetList.push_back (directory + "/" + name);
        }
        else if (fs::is_directory (status) && depth < maximumFolderDepth)
        {
            collectPresets (directory + "/" + name, depth + 1);
        }
    }
}

bool PresetManager::isCorrectSuffix (const std::string& fileName)
{
    return endsWith (fileName, suffix);
}

std::string PresetManager::getLabelText (const std::string& path)
{
    auto name = fileNameOf (path);
    const auto dottedSuffix = "." + suffix;

    if (endsWith (name, dottedSuffix))
        name.resize (name.size() - dottedSuffix.size());

    return name;
}

juce::String PresetManager::getFilePattern() { return "*." + fromBytes (suffix); }

juce::String PresetManager::getWrongFileMessage() { return "This is not a " + fromBytes (productName) + " preset!"; }

//==============================================================================
PresetManager::LoadReport PresetManager::loadPresetInternal (const std::string& path)
{
    LoadReport report;

    presets::PresetLineReader reader (path, maximumFileBytes, maximumLineBytes);
    if (! reader.isOpen())
        return report;

    const auto firstLine = reader.readLine();
    if (! firstLine || firstLine->tooLong || firstLine->text != productName)
    {
        report.status = LoadStatus::notAPreset;

        if (onWrongFileKind)
            onWrongFileKind (errorTitle, getWrongFileMessage());

        return report;
    }

    const auto& all = parameters.processor.getParameters();
    const auto parameterCount = all.size();

    std::unordered_map<std::string, int> indexById;
    for (int i = 0; i < parameterCount; ++i)
        if (auto* parameter = asRanged (all[i]))
            indexById.emplace (parameter->getParameterID().toStdString(), i);

    const auto countLine = reader.readLine();
    report.statedCount = countLine && ! countLine->tooLong
                             ? presets::parseParameterCount (countLine->text, std::numeric_limits<int>::max())
                             : 0;

    // Read everything first so that a preset is applied as a whole, in file order.
    std::vector<std::pair<int, float>> values;
    const auto pairsToRead = std::min (report.statedCount, parameterCount);

    for (int k = 0; k < pairsToRead; ++k)
    {
        const auto idLine = reader.readLine();
        const auto valueLine = idLine ? reader.readLine() : std::nullopt;

        if (! valueLine)
        {
            report.endedEarly = true;
            break;
        }

        const auto found = idLine->tooLong ? indexById.end() : indexById.find (idLine->text);
        const auto value = valueLine->tooLong ? std::nullopt : presets::parseNormalisedValue (valueLine->text);

        if (found == indexById.end() || ! value)
        {
            ++report.skipped;
            continue;
        }

        values.emplace_back (found->second, juce::jlimit (0.0f, 1.0f, *value));
    }

    std::vector<bool> setByFile (static_cast<std::size_t> (parameterCount), false);

    for (const auto& [index, value] : values)
    {
        all[index]->setValueNotifyingHost (value);
        setByFile[static_cast<std::size_t> (index)] = true;
        ++report.applied;
    }

    // Whatever the file leaves unset returns to its default, so a preset always gives the same
    // state, whatever was loaded before.
    for (int i = 0; i < parameterCount; ++i)
    {
        if (! setByFile[static_cast<std::size_t> (i)])
        {
            all[i]->setValueNotifyingHost (all[i]->getDefaultValue());
            ++report.defaulted;
        }
    }

    currentLabel = getLabelText (path);
    report.status = LoadStatus::loaded;
    return report;
}

//==============================================================================
std::string PresetManager::createPresetText() const
{
    const auto& all = parameters.processor.getParameters();

    auto text = productName + "\n" + std::to_string (all.size()) + "\n";

    for (auto* parameter : all)
    {
        const auto* ranged = asRanged (parameter);
        text += (ranged != nullptr ? ranged->getParameterID().toStdString() : std::string()) + "\n";
        text += presets::formatNormalisedValue (parameter->getValue()) + "\n";
    }

    return text;
}

bool PresetManager::writePreset (const std::string& path) const
{
    const auto name = fileNameOf (path);
    if (name.empty())
        return false;

    // Write beside the target and rename, so a failed write never leaves half a preset behind
    // or destroys the file it was meant to replace. The dot and the ending keep it off the list.
    const auto temporaryPath = path.substr (0, path.size() - name.size()) + "." + name + ".saving";
    const auto text = createPresetText();

    auto* file = std::fopen (temporaryPath.c_str(), "wb");
    if (file == nullptr)
        return false;

    const auto complete = std::fwrite (text.data(), 1, text.size(), file) == text.size()
                          && std::fflush (file) == 0;
    const auto closed = std::fclose (file) == 0;

    if (complete && closed && std::rename (temporaryPath.c_str(), path.c_str()) == 0)
        return true;

    std::remove (temporaryPath.c_str());
    return false;
}
} // namespace ombrel
