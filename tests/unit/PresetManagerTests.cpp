#include <catch2/catch.hpp>

#include "core/PluginProcessor.h"
#include "presets/PresetLineReader.h"
#include "presets/PresetManager.h"
#include "presets/PresetText.h"
#include "support/TestSupport.h"

#include <cmath>
#include <fstream>
#include <iomanip>
#include <locale>
#include <map>
#include <set>
#include <sstream>

#include <sys/stat.h>

namespace
{
using ombrel::PresetManager;
using LoadStatus = PresetManager::LoadStatus;

//==============================================================================
// The host parameters as the product documents them, to compute normalised values without
// going through the parameter objects.
struct ExpectedParameter
{
    enum class Kind { skewed, boolean, choice, logFrequency };

    std::string id;
    Kind kind;
    double start, end, skew, defaultValue, interval = 0.01;

    /** A real value as the parameter holds it: on its interval's grid, counted from the start. */
    double snap (double value) const
    {
        if (kind == Kind::logFrequency)
            return value;
        const auto step = kind == Kind::skewed ? interval : 1.0;
        return start + std::round ((value - start) / step) * step;
    }

    double normalise (double value) const
    {
        switch (kind)
        {
            case Kind::boolean: return value != 0.0 ? 1.0 : 0.0;
            case Kind::choice: return value / (end - start);
            case Kind::logFrequency: return std::log2 (value / start) / std::log2 (end / start);
            case Kind::skewed: break;
        }

        return std::pow ((value - start) / (end - start), skew);
    }
};

std::vector<ExpectedParameter> expectedParameters()
{
    using K = ExpectedParameter::Kind;
    std::vector<ExpectedParameter> rows {
        { "sidechainToggle", K::boolean, 0, 1, 1, 0 },
        { "curve", K::skewed, 0, 100, 1, 100 },
        { "transients", K::skewed, 0, 100, 1, 100 },
        { "transientsOn", K::boolean, 0, 1, 1, 1 },
        { "debleed", K::boolean, 0, 1, 1, 1 },
        { "inputGain", K::skewed, -24, 6, 1, 0 },
        { "spike", K::skewed, 0, 100, 1, 0 },
        { "lookahead", K::skewed, 0, 10, 1, 0 },
        { "threshold", K::skewed, -72, 6, 1, -12 },
        { "return", K::skewed, 0, 24, 1, 0 },
        { "floor", K::skewed, -80, 0, 1, -40 },
        { "attack", K::skewed, 0.02, 150, 1, 3.5 },
        { "hold", K::skewed, 1, 1500, 1, 10 },
        { "release", K::skewed, 0.01, 3000, 0.25, 15 },
        { "releaseSync", K::skewed, 0, 18, 1, 0, 1 },
        { "syncSwitch", K::boolean, 0, 1, 1, 0 },
        { "flip", K::boolean, 0, 1, 1, 0 },
        { "outputClipType", K::skewed, 0, 2, 1, 1, 1 },
        { "fat", K::skewed, 0, 100, 1, 0 },
        { "punch", K::skewed, 0, 100, 1, 0 },
        { "speed", K::skewed, 0, 100, 1, 0 },
        { "duration", K::skewed, 0, 100, 1, 0 },
        { "outputGain", K::skewed, -48, 0, 1, 0 },
        { "lpAmount", K::skewed, 0, 2, 1, 1, 1 },
        { "lpFreq", K::skewed, 0, 100, 1, 0 },
        { "lpRelease", K::skewed, 1, 500, 0.25, 100 },
        { "hpAmount", K::skewed, 0, 2, 1, 1, 1 },
        { "hpFreq", K::skewed, 0, 100, 1, 0 },
        { "hpRelease", K::skewed, 1, 500, 0.25, 100 },
        { "sidechainListen", K::boolean, 0, 1, 1, 0 },
    };

    const double defaultFrequencies[] = { 30, 100, 350, 1200, 4000, 13000 };
    for (int n = 0; n < 6; ++n)
    {
        const auto node = std::to_string (n);
        rows.push_back ({ "filterType" + node, K::choice, 0, 4, 1, 2 });
        rows.push_back ({ "filterFreq" + node, K::logFrequency, 20, 20000, 1, defaultFrequencies[n] });
        rows.push_back ({ "filterGain" + node, K::skewed, -24, 24, 1, 0 });
        // 0.707 lies off the 0.01 grid that starts at 0.2: the parameter holds 0.71.
        rows.push_back ({ "filterQual" + node, K::skewed, 0.2, 5, 0.8, 0.707 });
    }

    return rows;
}

std::string asGeneralNotation (double value)
{
    std::ostringstream text;
    text.imbue (std::locale::classic());
    text << std::setprecision (6) << value;   // the default float field is printf's %g
    return text.str();
}

void writeBytes (const juce::File& file, const std::string& bytes)
{
    file.getParentDirectory().createDirectory();
    std::ofstream out (file.getFullPathName().toStdString(), std::ios::binary | std::ios::trunc);
    out.write (bytes.data(), static_cast<std::streamsize> (bytes.size()));
}

std::string readBytes (const juce::File& file)
{
    std::ifstream in (file.getFullPathName().toStdString(), std::ios::binary);
    return { std::istreambuf_iterator<char> (in), std::istreambuf_iterator<char>() };
}

/** A preset text of pairs as given, stating `count` parameters. */
std::string presetText (int count, const std::vector<std::pair<std::string, std::string>>& pairs)
{
    auto text = "sorvanta\n" + std::to_string (count) + "\n";
    for (const auto& [id, value] : pairs)
        text += id + "\n" + value + "\n";
    return text;
}

struct ParameterChangeCounter : juce::AudioProcessorListener
{
    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override { ++changes; }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    int changes = 0;
};

//==============================================================================
struct PresetFixture
{
    explicit PresetFixture (const juce::String& folderName)
        : folder (test_support::freshTemporaryFolder (folderName))
    {
    }

    PresetManager& makeManager (const std::string& directory)
    {
        manager = std::make_unique<PresetManager> (processor, directory);
        manager->onWrongFileKind = [this] (const juce::String& title, const juce::String& message) { messages.push_back (title + "|" + message); };
        manager->onLabelChanged = [this] (const juce::String& label) { labels.push_back (label); };
        return *manager;
    }

    PresetManager& makeManager() { return makeManager (folder.getFullPathName().toStdString() + "/"); }

    juce::RangedAudioParameter& parameter (const juce::String& id)
    {
        auto* p = processor.mParameters.getParameter (id);
        REQUIRE (p != nullptr);
        return *p;
    }

    float normalised (const juce::String& id) { return parameter (id).getValue(); }
    float real (const juce::String& id) { return processor.mParameters.getRawParameterValue (id)->load(); }

    void setReal (const juce::String& id, float value)
    {
        auto& p = parameter (id);
        p.setValueNotifyingHost (p.convertTo0to1 (value));
    }

    /** Moves a handful of parameters away from their defaults, so "unchanged" and "defaulted" differ. */
    void moveAwayFromDefaults()
    {
        setReal ("threshold", -50.0f);
        setReal ("flip", 1.0f);
        setReal ("release", 400.0f);
        setReal ("filterGain2", 6.0f);
        setReal ("filterType5", 0.0f);
    }

    std::vector<float> snapshot()
    {
        std::vector<float> values;
        for (auto* p : processor.getParameters())
            values.push_back (p->getValue());
        return values;
    }

    /** Every parameter at its default except the listed normalised values (as the parameter's
        own interval snaps them). */
    void requireDefaultsExcept (const std::map<std::string, float>& values)
    {
        for (auto* p : processor.getParameters())
        {
            auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (p);
            const auto id = ranged->getParameterID().toStdString();
            const auto found = values.find (id);
            const auto expected = found != values.end() ? ranged->convertTo0to1 (ranged->convertFrom0to1 (found->second))
                                                        : p->getDefaultValue();
            INFO (id);
            CHECK (p->getValue() == Approx (expected).margin (1.0e-5));
        }
    }

    ombrel::BrimvaleAudioProcessor processor;
    juce::File folder;
    std::unique_ptr<PresetManager> manager;
    std::vector<juce::String> messages, labels;
};

std::vector<std::string> allIds()
{
    std::vector<std::string> ids;
    for (const auto& row : expectedParameters())
        ids.push_back (row.id);
    return ids;
}
} // namespace

//==============================================================================
TEST_CASE ("Preset values are written in general notation with six significant digits", "[presets]")
{
    const std::pair<float, const char*> cases[] = {
        { 0.7692307692f, "0.769231" }, { 1.0f, "1" }, { 0.0f, "0" }, { 1.0e-5f, "1e-05" },
        { 0.5f, "0.5" }, { 0.0001f, "0.0001" }, { 0.00009f, "9e-05" }, { 0.125f, "0.125" },
        { -0.0f, "0" }, { 2.0f, "1" }, { std::nanf (""), "0" },
    };

    for (const auto& [value, text] : cases)
    {
        INFO (value);
        CHECK (ombrel::presets::formatNormalisedValue (value) == text);
    }
}

TEST_CASE ("The preset list walks the folder tree and keeps only preset files", "[presets]")
{
    PresetFixture f ("presets-list");
    writeBytes (f.folder.getChildFile ("a.ovb"), presetText (0, {}));
    writeBytes (f.folder.getChildFile ("drums/b.ovb"), presetText (0, {}));
    writeBytes (f.folder.getChildFile ("drums/notes.txt"), "notes");
    writeBytes (f.folder.getChildFile ("drums/xx"), "xx");
    // Links are skipped, whether to a preset or to a folder.
    REQUIRE (f.folder.getChildFile ("a.ovb").createSymbolicLink (f.folder.getChildFile ("link.ovb"), true));
    REQUIRE (f.folder.getChildFile ("drums").createSymbolicLink (f.folder.getChildFile ("drums-link"), true));

    auto& manager = f.makeManager();
    const auto& list = manager.getPresetList();

    REQUIRE (manager.getListSize() == 2);
    std::set<std::string> labels;
    for (const auto& path : list)
    {
        CHECK (juce::File (path).existsAsFile());
        labels.insert (PresetManager::getLabelText (path));
    }
    CHECK (labels == std::set<std::string> { "a", "b" });

    // Top-level entries are built as folder + "/" + name below a folder that ends in "/".
    const auto folderPath = f.folder.getFullPathName().toStdString() + "/";
    CHECK (std::count (list.begin(), list.end(), folderPath + "/a.ovb") == 1);
    CHECK (std::count (list.begin(), list.end(), folderPath + "/drums/b.ovb") == 1);
}

TEST_CASE ("A missing preset folder gives an empty list and stepping loads nothing", "[presets]")
{
    PresetFixture f ("presets-missing");
    f.moveAwayFromDefaults();
    const auto before = f.snapshot();

    auto& manager = f.makeManager (f.folder.getChildFile ("absent").getFullPathName().toStdString());
    CHECK (manager.getListSize() == 0);

    manager.nextPreset();
    manager.previousPreset();

    CHECK (f.snapshot() == before);
    CHECK (manager.getCurrentPath().empty());
    CHECK (f.labels == std::vector<juce::String> { "Default", "Default" });
    CHECK (f.processor.mPresetName == "Default");
}

TEST_CASE ("Suffix and label rules", "[presets]")
{
    CHECK (PresetManager::isCorrectSuffix ("kick.ovb"));
    CHECK (PresetManager::isCorrectSuffix ("kickovb"));
    CHECK_FALSE (PresetManager::isCorrectSuffix ("kick.OVB"));
    CHECK_FALSE (PresetManager::isCorrectSuffix ("vb"));
    CHECK_FALSE (PresetManager::isCorrectSuffix (""));

    CHECK (PresetManager::getLabelText ("/Library/Application Support/Ombrel/presets/sorvanta//Tight Kick.ovb") == "Tight Kick");
    CHECK (PresetManager::getLabelText ("/x/drums/b.ovb") == "b");
    // Names without ".ovb", even short ones, keep their whole name instead of losing characters.
    CHECK (PresetManager::getLabelText ("/x/kickovb") == "kickovb");
    CHECK (PresetManager::getLabelText ("/x/ab") == "ab");
    CHECK (PresetManager::getLabelText ("") == "");

    const auto folder = PresetManager::defaultPresetDirectory();
    CHECK (juce::String (folder).endsWith ("/Ombrel/presets/sorvanta/"));
   #if JUCE_MAC
    CHECK (folder == "/Library/Application Support/Ombrel/presets/sorvanta/");
   #endif

    CHECK (PresetManager::getFilePattern() == "*.ovb");
    CHECK (PresetManager::getWrongFileMessage() == "This is not a sorvanta preset!");
}

TEST_CASE ("Next and previous step through the list and wrap around", "[presets]")
{
    PresetFixture f ("presets-stepping");
    const std::map<std::string, std::string> thresholds { { "one", "0.1" }, { "two", "0.2" }, { "three", "0.3" } };
    for (const auto& [name, value] : thresholds)
        writeBytes (f.folder.getChildFile (name + ".ovb"), presetText (1, { { "threshold", value } }));

    auto& manager = f.makeManager();
    const auto list = manager.getPresetList();
    REQUIRE (list.size() == 3);

    auto requireLoaded = [&] (std::size_t index)
    {
        const auto label = PresetManager::getLabelText (list[index]);
        CHECK (manager.getCurrentPath() == list[index]);
        CHECK (manager.getCurrentLabel() == label);
        CHECK (f.processor.mPresetName == juce::String (label));
        CHECK (f.labels.back() == juce::String (label));
        CHECK (f.normalised ("threshold") == Approx (std::stof (thresholds.at (label))).margin (1.0e-4));
    };

    SECTION ("next from nothing loads the first, and wraps from the last to the first")
    {
        manager.nextPreset();
        requireLoaded (0);
        manager.nextPreset();
        requireLoaded (1);
        manager.nextPreset();
        requireLoaded (2);
        manager.nextPreset();
        requireLoaded (0);
    }

    SECTION ("previous from nothing loads the last, and wraps from the first to the last")
    {
        manager.previousPreset();
        requireLoaded (2);
        manager.previousPreset();
        requireLoaded (1);
        manager.previousPreset();
        requireLoaded (0);
        manager.previousPreset();
        requireLoaded (2);
    }

    SECTION ("a preset loaded from elsewhere finds its neighbours by label")
    {
        const auto outside = test_support::freshTemporaryFolder ("presets-stepping-outside").getChildFile (juce::String (PresetManager::getLabelText (list[1])) + ".ovb");
        writeBytes (outside, presetText (1, { { "threshold", "0.9" } }));

        manager.loadPreset (outside.getFullPathName().toStdString());
        CHECK (f.normalised ("threshold") == Approx (0.9f).margin (1.0e-4));
        manager.nextPreset();
        requireLoaded (2);
    }

    SECTION ("a current preset whose label is not listed stays where it is")
    {
        const auto outside = test_support::freshTemporaryFolder ("presets-stepping-unlisted").getChildFile ("elsewhere.ovb");
        writeBytes (outside, presetText (1, { { "threshold", "0.9" } }));
        manager.loadPreset (outside.getFullPathName().toStdString());

        manager.nextPreset();
        CHECK (manager.getCurrentPath() == outside.getFullPathName().toStdString());
        CHECK (f.normalised ("threshold") == Approx (0.9f).margin (1.0e-4));
        CHECK (f.labels.back() == "elsewhere");
    }
}

TEST_CASE ("Stepping keeps advancing when two folders hold presets of the same label", "[presets]")
{
    PresetFixture f ("presets-same-label");
    writeBytes (f.folder.getChildFile ("kick/Same.ovb"), presetText (1, { { "threshold", "0.1" } }));
    writeBytes (f.folder.getChildFile ("snare/Same.ovb"), presetText (1, { { "threshold", "0.2" } }));
    writeBytes (f.folder.getChildFile ("Other.ovb"), presetText (1, { { "threshold", "0.3" } }));

    auto& manager = f.makeManager();
    const auto list = manager.getPresetList();
    REQUIRE (list.size() == 3);

    // Walk the whole list forwards and backwards: every entry is visited once per round.
    for (const auto direction : { +1, -1 })
    {
        std::vector<std::string> visited;
        for (int step = 0; step < 3; ++step)
        {
            direction > 0 ? manager.nextPreset() : manager.previousPreset();
            visited.push_back (manager.getCurrentPath());
        }

        INFO ("direction " << direction);
        CHECK (std::set<std::string> (visited.begin(), visited.end()).size() == 3);
    }
}

TEST_CASE ("A file that does not start with the product name is rejected and changes nothing", "[presets]")
{
    const auto firstLine = GENERATE (as<std::string> {}, "sorvanta ", "Sorvanta", " sorvanta", "sorvanta preset", "", "sorvant");

    PresetFixture f ("presets-product-line");
    auto& manager = f.makeManager();
    f.moveAwayFromDefaults();
    const auto before = f.snapshot();

    auto text = presetText (1, { { "threshold", "0.25" } });
    text.replace (0, std::string ("sorvanta").size(), firstLine);
    const auto file = f.folder.getChildFile ("rejected.ovb");
    writeBytes (file, text);

    INFO ("first line: \"" << firstLine << "\"");
    const auto report = manager.loadPreset (file.getFullPathName().toStdString());

    CHECK (report.status == LoadStatus::notAPreset);
    CHECK (f.messages == std::vector<juce::String> { "Error|This is not a sorvanta preset!" });
    CHECK (f.snapshot() == before);
    CHECK (manager.getCurrentLabel() == "Default");
    CHECK (f.processor.mPresetName == "Default");
    // The action already pointed at the rejected file.
    CHECK (manager.getCurrentPath() == file.getFullPathName().toStdString());
}

TEST_CASE ("The stated parameter count decides what is set and what returns to its default", "[presets]")
{
    PresetFixture f ("presets-count");
    auto& manager = f.makeManager();
    const auto ids = allIds();
    REQUIRE (ids.size() == 54);

    // A distinct, non-default normalised value for every parameter (booleans and choices included).
    std::map<std::string, float> distinct;
    for (std::size_t i = 0; i < ids.size(); ++i)
        distinct[ids[i]] = i % 2 == 0 ? 1.0f : 0.0f;
    for (const auto& id : { "threshold", "release", "floor", "filterFreq4", "filterQual1" })
        distinct[id] = 0.3125f;
    for (const auto& id : ids)
        if (std::abs (distinct[id] - f.parameter (id).getDefaultValue()) < 1.0e-3f)
            distinct[id] = distinct[id] > 0.5f ? 0.0f : 1.0f;

    auto pairsFor = [&] (std::size_t first, std::size_t count)
    {
        std::vector<std::pair<std::string, std::string>> pairs;
        for (auto i = first; i < first + count; ++i)
            pairs.emplace_back (ids[i], ombrel::presets::formatNormalisedValue (distinct[ids[i]]));
        return pairs;
    };

    auto subset = [&] (std::size_t first, std::size_t count)
    {
        std::map<std::string, float> values;
        for (auto i = first; i < first + count; ++i)
            values[ids[i]] = distinct[ids[i]];
        return values;
    };

    auto load = [&] (const std::string& text)
    {
        // Start from a state where every parameter differs from its default and from the file.
        for (auto* p : f.processor.getParameters())
            p->setValueNotifyingHost (p->getDefaultValue() > 0.5f ? 0.05f : 0.95f);

        const auto file = f.folder.getChildFile ("count.ovb");
        writeBytes (file, text);
        return manager.loadPreset (file.getFullPathName().toStdString());
    };

    SECTION ("30 stated: the 30 listed are set, the other 24 return to their defaults")
    {
        const auto report = load (presetText (30, pairsFor (0, 30)));
        CHECK (report.status == LoadStatus::loaded);
        CHECK (report.applied == 30);
        CHECK (report.defaulted == 24);
        f.requireDefaultsExcept (subset (0, 30));
    }

    SECTION ("30 stated that are not the first 30: still exactly those 30 are set")
    {
        const auto report = load (presetText (30, pairsFor (24, 30)));
        CHECK (report.applied == 30);
        f.requireDefaultsExcept (subset (24, 30));
    }

    SECTION ("54 stated: all are set")
    {
        const auto report = load (presetText (54, pairsFor (0, 54)));
        CHECK (report.applied == 54);
        CHECK (report.defaulted == 0);
        f.requireDefaultsExcept (distinct);
    }

    SECTION ("60 stated: the first 54 pairs are applied and the rest ignored")
    {
        auto pairs = pairsFor (0, 54);
        for (const auto& id : { "threshold", "release", "flip", "filterFreq4", "curve", "noSuchParameter" })
            pairs.emplace_back (id, distinct.at (id == std::string ("noSuchParameter") ? "threshold" : id) > 0.5f ? "0" : "0.99");

        const auto report = load (presetText (60, pairs));
        CHECK (report.statedCount == 60);
        CHECK (report.applied == 54);
        f.requireDefaultsExcept (distinct);
    }

    SECTION ("every applied value reaches the host")
    {
        ParameterChangeCounter counter;
        f.processor.addListener (&counter);
        load (presetText (54, pairsFor (0, 54)));
        f.processor.removeListener (&counter);
        CHECK (counter.changes >= 54);
    }
}

TEST_CASE ("Values outside 0 to 1 end at the range limits", "[presets]")
{
    PresetFixture f ("presets-clamp");
    auto& manager = f.makeManager();
    const auto file = f.folder.getChildFile ("clamp.ovb");
    writeBytes (file, presetText (4, { { "threshold", "1.5" }, { "release", "-0.5" }, { "hold", "1e999" }, { "floor", "-2e+3" } }));

    REQUIRE (manager.loadPreset (file.getFullPathName().toStdString()).applied == 4);
    CHECK (f.real ("threshold") == 6.0f);
    CHECK (f.real ("release") == Approx (0.01f));
    CHECK (f.real ("hold") == 1500.0f);
    CHECK (f.real ("floor") == -80.0f);
}

TEST_CASE ("Saving writes the preset, labels it and lists it at once", "[presets]")
{
    PresetFixture f ("presets-save");
    auto& manager = f.makeManager();
    REQUIRE (manager.getListSize() == 0);

    f.setReal ("threshold", -33.3f);
    f.setReal ("release", 250.0f);
    f.setReal ("filterFreq3", 2500.0f);
    f.setReal ("flip", 1.0f);
    const auto saved = f.snapshot();

    SECTION ("Tight Kick.ovb")
    {
        const auto path = f.folder.getChildFile ("Tight Kick.ovb").getFullPathName().toStdString();
        REQUIRE (manager.savePreset (path));

        CHECK (manager.getListSize() == 1);
        CHECK (PresetManager::getLabelText (manager.getPresetList().front()) == "Tight Kick");
        CHECK (manager.getCurrentLabel() == "Tight Kick");
        CHECK (manager.getCurrentPath() == path);
        CHECK (f.processor.mPresetName == "Tight Kick");
        CHECK (f.labels.back() == "Tight Kick");
        // No temporary file is left beside it.
        CHECK (f.folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles, "*") == 1);
        CHECK (f.folder.getNumberOfChildFiles (juce::File::findFilesAndDirectories, "*") == 1);

        SECTION ("and loading it back restores every value")
        {
            for (auto* p : f.processor.getParameters())
                p->setValueNotifyingHost (p->getDefaultValue());

            const auto report = manager.loadPreset (path);
            CHECK (report.applied == 54);
            const auto loaded = f.snapshot();
            for (std::size_t i = 0; i < saved.size(); ++i)
                CHECK (loaded[i] == Approx (saved[i]).margin (2.0e-6));
        }
    }

    SECTION ("a name typed without the suffix gets it")
    {
        REQUIRE (manager.savePreset (f.folder.getChildFile ("Tight Kick").getFullPathName().toStdString()));
        CHECK (f.folder.getChildFile ("Tight Kick.ovb").existsAsFile());
        CHECK (manager.getCurrentLabel() == "Tight Kick");
        CHECK (manager.getListSize() == 1);
    }

    SECTION ("an existing preset is replaced")
    {
        const auto file = f.folder.getChildFile ("Old.ovb");
        writeBytes (file, "old contents that are longer than nothing\n");
        REQUIRE (manager.savePreset (file.getFullPathName().toStdString()));
        CHECK (readBytes (file) == manager.createPresetText());
    }

    SECTION ("a file that cannot be created changes nothing")
    {
        const auto path = f.folder.getChildFile ("absent/Tight Kick.ovb").getFullPathName().toStdString();
        CHECK_FALSE (manager.savePreset (path));
        CHECK_FALSE (juce::File (path).exists());
        CHECK (manager.getCurrentLabel() == "Default");
        CHECK (manager.getCurrentPath().empty());
        CHECK (manager.getListSize() == 0);
        CHECK (f.labels.back() == "Default");
    }
}

TEST_CASE ("A written preset is byte-exact", "[presets]")
{
    PresetFixture f ("presets-bytes");
    auto& manager = f.makeManager();

    const std::map<std::string, double> changes {
        { "threshold", -30.0 }, { "release", 250.0 }, { "flip", 1.0 }, { "outputClipType", 2.0 },
        { "lpAmount", 0.0 }, { "attack", 0.03 }, { "filterFreq2", 1000.0 }, { "filterQual3", 2.5 },
        { "filterType4", 4.0 }, { "filterGain1", -6.5 }, { "transientsOn", 0.0 },
    };
    for (const auto& [id, value] : changes)
        f.setReal (id, static_cast<float> (value));

    std::string expected = "sorvanta\n54\n";
    for (const auto& row : expectedParameters())
    {
        const auto changed = changes.find (row.id);
        const auto value = changed != changes.end() ? static_cast<double> (static_cast<float> (changed->second))
                                                    : static_cast<double> (static_cast<float> (row.defaultValue));
        expected += row.id + "\n" + asGeneralNotation (row.normalise (row.snap (value))) + "\n";
    }

    // A few literal lines as a cross-check of the independent computation.
    CHECK (expected.find ("\nthreshold\n0.538462\n") != std::string::npos);
    CHECK (expected.find ("\nattack\n6.66756e-05\n") != std::string::npos);
    CHECK (expected.find ("\nfilterFreq2\n0.566323\n") != std::string::npos);

    const auto file = f.folder.getChildFile ("Known.ovb");
    REQUIRE (manager.savePreset (file.getFullPathName().toStdString()));
    CHECK (readBytes (file) == expected);
}

TEST_CASE ("Unsafe preset files never crash and leave the parameters as the rules say", "[presets]")
{
    enum class Expect { unchanged, defaultsExcept };

    struct Case
    {
        const char* name;
        std::string bytes;
        LoadStatus status;
        bool message;
        Expect expect;
        std::map<std::string, float> values;
    };

    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary.push_back (static_cast<char> ((i * 7) & 0xff));

    const auto validPair = presetText (2, { { "threshold", "0.25" }, { "flip", "1" } });

    const Case cases[] = {
        { "unknown ID", presetText (2, { { "noSuchParameter", "0.5" }, { "threshold", "0.25" } }),
          LoadStatus::loaded, false, Expect::defaultsExcept, { { "threshold", 0.25f } } },
        { "ends before the stated pairs", "sorvanta\n54\nthreshold\n0.25\nrelease\n",
          LoadStatus::loaded, false, Expect::defaultsExcept, { { "threshold", 0.25f } } },
        { "last line without line feed", "sorvanta\n54\nthreshold\n0.25\nflip\n1",
          LoadStatus::loaded, false, Expect::defaultsExcept, { { "threshold", 0.25f }, { "flip", 1.0f } } },
        { "CR LF line ends", "sorvanta\r\n2\r\nthreshold\r\n0.25\r\nflip\r\n1\r\n",
          LoadStatus::loaded, false, Expect::defaultsExcept, { { "threshold", 0.25f }, { "flip", 1.0f } } },
        { "empty file", "", LoadStatus::notAPreset, true, Expect::unchanged, {} },
        { "only a line feed", "\n", LoadStatus::notAPreset, true, Expect::unchanged, {} },
        { "binary file", binary, LoadStatus::notAPreset, true, Expect::unchanged, {} },
        { "product line with a NUL", std::string ("sorvanta\0\n2\n", 12) + "threshold\n0.25\n",
          LoadStatus::notAPreset, true, Expect::unchanged, {} },
        { "binary after the header", "sorvanta\n54\n" + binary,
          LoadStatus::loaded, false, Expect::defaultsExcept, {} },
        { "huge file after a valid preset", validPair + std::string (8 * 1024 * 1024, 'x'),
          LoadStatus::loaded, false, Expect::defaultsExcept, { { "threshold", 0.25f }, { "flip", 1.0f } } },
        { "huge first line", std::string (2 * 1024 * 1024, 's'), LoadStatus::notAPreset, true, Expect::unchanged, {} },
        // Reading stops at the byte budget inside the long line, so the pair after it is never seen.
        { "huge ID line", "sorvanta\n2\n" + std::string (2 * 1024 * 1024, 't') + "\n0.5\nflip\n1\n",
          LoadStatus::loaded, false, Expect::defaultsExcept, {} },
        { "long ID line within the budget", "sorvanta\n2\n" + std::string (4000, 't') + "\n0.5\nflip\n1\n",
          LoadStatus::loaded, false, Expect::defaultsExcept, { { "flip", 1.0f } } },
        { "value line that is not a number", presetText (2, { { "threshold", "abc" }, { "flip", "1" } }),
          LoadStatus::loaded, false, Expect::defaultsExcept, { { "flip", 1.0f } } },
        { "nan and inf are not numbers", presetText (2, { { "threshold", "nan" }, { "release", "inf" } }),
          LoadStatus::loaded, false, Expect::defaultsExcept, {} },
        { "absurd exponents", presetText (2, { { "threshold", "1e99999999999999" }, { "release", "-1e-99999999999999" } }),
          LoadStatus::loaded, false, Expect::defaultsExcept, { { "threshold", 1.0f }, { "release", 0.0f } } },
        { "NUL inside an ID", "sorvanta\n1\n" + std::string ("thres\0hold\n", 11) + "0.5\n",
          LoadStatus::loaded, false, Expect::defaultsExcept, {} },
        { "count that is not a number", "sorvanta\nmany\nthreshold\n0.25\n",
          LoadStatus::loaded, false, Expect::defaultsExcept, {} },
        { "negative count", "sorvanta\n-3\nthreshold\n0.25\n",
          LoadStatus::loaded, false, Expect::defaultsExcept, {} },
        { "absurd count", "sorvanta\n99999999999999999999999\nthreshold\n0.25\n",
          LoadStatus::loaded, false, Expect::defaultsExcept, { { "threshold", 0.25f } } },
        { "missing count line", "sorvanta\n", LoadStatus::loaded, false, Expect::defaultsExcept, {} },
    };

    for (const auto& c : cases)
    {
        DYNAMIC_SECTION (c.name)
        {
            PresetFixture f ("presets-unsafe");
            auto& manager = f.makeManager();
            f.moveAwayFromDefaults();
            const auto before = f.snapshot();

            const auto file = f.folder.getChildFile ("unsafe.ovb");
            writeBytes (file, c.bytes);
            const auto report = manager.loadPresetInternal (file.getFullPathName().toStdString());

            CHECK (report.status == c.status);
            CHECK (f.messages.size() == (c.message ? 1u : 0u));

            if (c.expect == Expect::unchanged)
                CHECK (f.snapshot() == before);
            else
                f.requireDefaultsExcept (c.values);

            CHECK (manager.getCurrentLabel() == (c.status == LoadStatus::loaded ? "unsafe" : "Default"));
        }
    }
}

TEST_CASE ("Paths that cannot be read as files load nothing and say nothing", "[presets]")
{
    PresetFixture f ("presets-unreadable");
    auto& manager = f.makeManager();
    f.moveAwayFromDefaults();
    const auto before = f.snapshot();

    const auto missing = f.folder.getChildFile ("missing.ovb").getFullPathName().toStdString();
    const auto folder = f.folder.getChildFile ("folder.ovb");
    REQUIRE (folder.createDirectory());
    const auto fifo = f.folder.getChildFile ("pipe.ovb").getFullPathName().toStdString();
    REQUIRE (::mkfifo (fifo.c_str(), 0600) == 0);   // opening it for reading would block

    for (const auto& path : { missing, folder.getFullPathName().toStdString(), fifo, std::string() })
    {
        INFO (path);
        CHECK (manager.loadPresetInternal (path).status == LoadStatus::cannotOpen);
        CHECK (manager.loadPreset (path).status == LoadStatus::cannotOpen);
    }

    CHECK (f.snapshot() == before);
    CHECK (f.messages.empty());
    CHECK (manager.getCurrentLabel() == "Default");
}

TEST_CASE ("The line reader stops at its byte budget", "[presets]")
{
    const auto folder = test_support::freshTemporaryFolder ("presets-reader");
    const auto file = folder.getChildFile ("long.ovb");
    writeBytes (file, std::string (1024 * 1024, 'a') + "\nnever reached\n");

    ombrel::presets::PresetLineReader reader (file.getFullPathName().toStdString(), 4096, 64);
    REQUIRE (reader.isOpen());

    const auto line = reader.readLine();
    REQUIRE (line.has_value());
    CHECK (line->tooLong);
    CHECK (line->text.empty());
    CHECK_FALSE (reader.readLine().has_value());
    CHECK (reader.bytesRead() == 4096);
}
