#include <catch2/catch.hpp>

#include "core/PluginProcessor.h"
#include "presets/FactoryPresets.h"
#include "presets/PresetManager.h"
#include "support/TestSupport.h"

#include <set>

namespace
{
const juce::File committedFolder { SORVANTA_FACTORY_PRESET_FOLDER };

std::set<juce::String> presetFileNames (const juce::File& folder)
{
    std::set<juce::String> names;
    for (const auto& file : folder.findChildFiles (juce::File::findFiles, false, "*.ovb"))
        names.insert (file.getFileName());
    return names;
}
} // namespace

TEST_CASE ("The committed factory presets are the named settings, written by the product's writer", "[presets][factory]")
{
    const auto& presets = ombrel::presets::factoryPresets();
    REQUIRE (presets.size() >= 8);

    std::set<juce::String> expectedNames;
    for (const auto& preset : presets)
        expectedNames.insert (preset.name + ".ovb");

    CHECK (presetFileNames (committedFolder) == expectedNames);

    // Regenerating must reproduce the committed files byte for byte, or they are stale.
    const auto fresh = test_support::freshTemporaryFolder ("factory-presets");
    REQUIRE (ombrel::presets::writeFactoryPresets (fresh).wasOk());
    CHECK (presetFileNames (fresh) == expectedNames);

    for (const auto& name : expectedNames)
    {
        INFO (name);
        juce::MemoryBlock committed, regenerated;
        REQUIRE (committedFolder.getChildFile (name).loadFileAsData (committed));
        REQUIRE (fresh.getChildFile (name).loadFileAsData (regenerated));
        CHECK (committed == regenerated);
    }
}

TEST_CASE ("Every factory preset loads cleanly and gives its named settings", "[presets][factory]")
{
    for (const auto& preset : ombrel::presets::factoryPresets())
    {
        DYNAMIC_SECTION (preset.name)
        {
            ombrel::BrimvaleAudioProcessor processor;
            ombrel::PresetManager manager (processor, committedFolder.getFullPathName().toStdString());

            int messages = 0;
            manager.onWrongFileKind = [&] (const juce::String&, const juce::String&) { ++messages; };

            // Start far from the preset so that every value has to come from the file.
            for (auto* p : processor.getParameters())
                p->setValueNotifyingHost (p->getDefaultValue() > 0.5f ? 0.02f : 0.98f);

            const auto path = committedFolder.getChildFile (preset.name + ".ovb").getFullPathName().toStdString();
            const auto report = manager.loadPreset (path);

            CHECK (report.status == ombrel::PresetManager::LoadStatus::loaded);
            CHECK (report.statedCount == 54);
            CHECK (report.applied == 54);
            CHECK (report.skipped == 0);
            CHECK (report.defaulted == 0);
            CHECK (messages == 0);
            CHECK (processor.mPresetName == preset.name);

            std::set<juce::String> named;
            for (const auto& setting : preset.settings)
            {
                INFO (setting.id);
                named.insert (setting.id);
                const auto loaded = processor.mParameters.getRawParameterValue (setting.id)->load();
                CHECK (loaded == Approx (setting.value).margin (0.005).epsilon (1.0e-4));
            }

            for (auto* p : processor.getParameters())
            {
                auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p);
                if (named.count (ranged->getParameterID()) == 0)
                {
                    INFO (ranged->getParameterID());
                    CHECK (p->getValue() == Approx (p->getDefaultValue()).margin (1.0e-5));
                }
            }

            // No factory preset leaves the editor's side-chain listen switched on.
            CHECK (processor.mParameters.getRawParameterValue ("sidechainListen")->load() == 0.0f);
        }
    }
}

TEST_CASE ("A factory setting with an unknown ID is refused before anything changes", "[presets][factory]")
{
    ombrel::BrimvaleAudioProcessor processor;
    auto* threshold = processor.mParameters.getParameter ("threshold");
    threshold->setValueNotifyingHost (0.1f);

    const ombrel::presets::FactoryPreset broken { "Broken", { { "threshold", -3 }, { "tresholds", -10 } } };
    const auto result = ombrel::presets::applyFactorySettings (broken, processor.mParameters);

    CHECK (result.failed());
    CHECK (result.getErrorMessage().contains ("tresholds"));
    CHECK (threshold->getValue() == Approx (0.1f).margin (1.0e-4));
}
