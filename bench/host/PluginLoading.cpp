#include "PluginLoading.h"

namespace host_bench
{
const char* formatName (PluginFormat format) { return format == PluginFormat::lv2 ? "LV2" : "VST3"; }

PluginLoader::PluginLoader (const juce::StringArray& extraLv2Folders)
{
    // JUCE's LV2 host only knows plug-ins in the folders it has scanned.
    auto folders = lv2.getDefaultLocationsToSearch();
    for (const auto& folder : extraLv2Folders)
        folders.add (juce::File (folder));

    lv2.searchPathsForPlugins (folders, true, false);
}

std::unique_ptr<juce::AudioPluginInstance> PluginLoader::load (const PluginSource& source, double sampleRate, int blockSize, juce::String& error)
{
    auto& format = source.format == PluginFormat::lv2 ? static_cast<juce::AudioPluginFormat&> (lv2)
                                                      : static_cast<juce::AudioPluginFormat&> (vst3);
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile (types, source.identifier);

    if (types.isEmpty())
    {
        error = source.format == PluginFormat::lv2 ? "no LV2 plug-in with this URI in the LV2 folders"
                                                   : "no VST3 plug-in in this bundle";
        return nullptr;
    }

    // A VST3 bundle may hold several plug-ins: the first is measured.
    return format.createInstanceFromDescription (*types[0], sampleRate, blockSize, error);
}

juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance& instance, const juce::String& idOrName)
{
    juce::AudioProcessorParameter* byName = nullptr;

    for (auto* parameter : instance.getParameters())
    {
        if (parameter == instance.getBypassParameter())
            continue;

        if (auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*> (parameter))
        {
            // LV2 parameter IDs are URIs: the plug-in's own ID follows the last ':', '#' or '/'.
            const auto id = hosted->getParameterID();
            const auto tail = id.fromLastOccurrenceOf (":", false, false)
                                  .fromLastOccurrenceOf ("#", false, false)
                                  .fromLastOccurrenceOf ("/", false, false);
            if (id == idOrName || tail == idOrName)
                return parameter;
        }

        // An ID match anywhere wins over a name match.
        if (byName == nullptr && parameter->getName (1024).trimEnd().equalsIgnoreCase (idOrName.trimEnd()))
            byName = parameter;
    }
    return byName;
}
} // namespace host_bench
