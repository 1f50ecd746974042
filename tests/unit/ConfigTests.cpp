#include "core/Config.h"
#include "core/PluginProcessor.h"

#include <catch2/catch.hpp>

#include <cmath>

using namespace ombrel;

namespace
{
struct ExpectedParameter
{
    const char* id;
    const char* name;
    float start, end, defaultValue;
};

// The host's view of the catalogue, typed out independently of the code.
const ExpectedParameter expectedParameters[] = {
    { "sidechainToggle", "Macro Side-chain on", 0, 1, 0 },
    { "curve", "Macro Curve Style", 0, 100, 100 },
    { "transients", "Macro Dynamics Amount", 0, 100, 100 },
    { "transientsOn", "Macro Dynamics on", 0, 1, 1 },
    { "debleed", "Macro Debleed on", 0, 1, 1 },
    { "inputGain", "Input Gain", -24, 6, 0 },
    { "spike", "Input Spike", 0, 100, 0 },
    { "lookahead", "Gate Lookahead", 0, 10, 0 },
    { "threshold", "Gate Threshold", -72, 6, -12 },
    { "return", "Gate Return", 0, 24, 0 },
    { "floor", "Gate Floor", -80, 0, -40 },
    { "attack", "Gate Attack", 0.02f, 150, 3.5f },
    { "hold", "Gate Hold", 1, 1500, 10 },
    { "release", "Gate Release", 0.01f, 3000, 15 },
    { "releaseSync", "Gate Synced Release ", 0, 18, 0 },
    { "syncSwitch", "Gate Sync Release On", 0, 1, 0 },
    { "flip", "Gate Flip", 0, 1, 0 },
    { "outputClipType", "Transients Clip Type", 0, 2, 1 },
    { "fat", "Dynamics Fat Amount", 0, 100, 0 },
    { "punch", "Dynamics Punch Amount", 0, 100, 0 },
    { "speed", "Dynamics Fat Attack", 0, 100, 0 },
    { "duration", "Dynamics Fat Duration", 0, 100, 0 },
    { "outputGain", "Dynamics Output Gain", -48, 0, 0 },
    { "lpAmount", "Debleed LP Mode", 0, 2, 1 },
    { "lpFreq", "Debleed LP Amount", 0, 100, 0 },
    { "lpRelease", "Debleed LP Release", 1, 500, 100 },
    { "hpAmount", "Debleed HP Mode", 0, 2, 1 },
    { "hpFreq", "Debleed HP Amount", 0, 100, 0 },
    { "hpRelease", "Debleed HP Release", 1, 500, 100 },
    { "sidechainListen", "Sidechain Listen", 0, 1, 0 },
};

const float defaultNodeFrequencies[] = { 30, 100, 350, 1200, 4000, 13000 };

juce::RangedAudioParameter& parameter (BrimvaleAudioProcessor& p, const char* id)
{
    auto* param = p.mParameters.getParameter (id);
    REQUIRE (param != nullptr);
    return *param;
}
} // namespace

TEST_CASE ("The host sees 54 parameters in catalogue order with exact IDs, names and defaults", "[catalogue]")
{
    BrimvaleAudioProcessor processor;
    const auto& params = processor.getParameters();
    REQUIRE (params.size() == 54);

    for (int i = 0; i < 30; ++i)
    {
        const auto& expected = expectedParameters[i];
        auto* p = dynamic_cast<juce::RangedAudioParameter*> (params[i]);
        INFO ("parameter " << i + 1 << " " << expected.id);
        REQUIRE (p != nullptr);
        CHECK (p->getParameterID() == expected.id);
        CHECK (p->getName (1024) == expected.name);
        CHECK (p->getLabel().isEmpty());
        CHECK (p->getCategory() == juce::AudioProcessorParameter::genericParameter);
        CHECK (p->getNormalisableRange().start == Approx (expected.start));
        CHECK (p->getNormalisableRange().end == Approx (expected.end));
        CHECK (processor.mParameters.getRawParameterValue (expected.id)->load() == Approx (expected.defaultValue).margin (1e-4));
    }

    for (int node = 0; node < 6; ++node)
    {
        const auto n = juce::String (node);
        const juce::String ids[] = { "filterType" + n, "filterFreq" + n, "filterGain" + n, "filterQual" + n };
        const juce::String names[] = { "Type", "Frequency", "Gain", "Quality" };
        // A quality of 0.707 lies off the parameter's 0.01 grid, so the host parameter holds 0.71.
        const float defaults[] = { 2.0f, defaultNodeFrequencies[node], 0.0f, 0.71f };

        for (int k = 0; k < 4; ++k)
        {
            auto* p = dynamic_cast<juce::RangedAudioParameter*> (params[30 + node * 4 + k]);
            REQUIRE (p != nullptr);
            CHECK (p->getParameterID() == ids[k]);
            CHECK (p->getName (1024) == "Filter " + n + " - " + names[k]);
            CHECK (processor.mParameters.getRawParameterValue (ids[k])->load() == Approx (defaults[k]).epsilon (1e-4));
        }
    }
}

TEST_CASE ("Every default lies inside its range and its text is a fixed point of text -> value -> text", "[catalogue]")
{
    BrimvaleAudioProcessor processor;

    for (auto* base : processor.getParameters())
    {
        auto* p = dynamic_cast<juce::RangedAudioParameter*> (base);
        REQUIRE (p != nullptr);
        const auto& range = p->getNormalisableRange();
        const auto value = range.convertFrom0to1 (p->getDefaultValue());
        INFO (p->getParameterID());
        CHECK (value >= range.start);
        CHECK (value <= range.end);

        const auto text = p->getText (p->getDefaultValue(), 1024);
        CHECK (p->getText (p->getValueForText (text), 1024) == text);
    }
}

TEST_CASE ("Value texts of the catalogue", "[catalogue]")
{
    BrimvaleAudioProcessor processor;

    struct Case
    {
        const char* id;
        float value;
        const char* text;
    };

    const Case cases[] = {
        { "outputClipType", 1, "auto" },
        { "outputClipType", 2, "clip" },
        { "outputClipType", 0, "off" },
        { "lpAmount", 0, "soft" },
        { "hpAmount", 2, "heavy" },
        { "curve", 99.99f, "99" },
        { "release", 15, "15.0" },
        { "releaseSync", 4, "4.0" },
        { "threshold", -12, "-12.0" },
        { "attack", 3.5f, "3.5" },
        { "filterFreq3", 1200, "1.2 khz" },
        { "filterFreq2", 350, "350 hz" },
        { "filterFreq5", 13000, "13.0 khz" },
        { "filterFreq0", 20000, "20 khz" },
        { "filterFreq0", 19999, "20.0 khz" },
        { "filterType1", 2, "PEAK" },
        { "debleed", 1, "On" },
        { "flip", 0, "Off" },
    };

    for (const auto& c : cases)
    {
        auto& p = parameter (processor, c.id);
        INFO (c.id << " at " << c.value);
        CHECK (p.getText (p.convertTo0to1 (c.value), 1024) == c.text);
    }
}

TEST_CASE ("Typed texts set the catalogue's values", "[catalogue]")
{
    BrimvaleAudioProcessor processor;

    struct Case
    {
        const char* id;
        const char* text;
        float value;
    };

    const Case cases[] = {
        { "outputClipType", "auto", 1 },
        { "outputClipType", "xyz", 2 },      // no name: one past the table, limited to the range end
        { "outputClipType", "off auto", 0 }, // the earlier name wins
        { "lpAmount", "heavy", 2 },
        { "threshold", "-12.0 db", -12 },
        { "threshold", "  -30", -30 },
        { "threshold", "abc", 0 },
        { "threshold", "+3.5", 3.5f },
        { "threshold", ".5e1", 5 },
        { "threshold", "-1e99999999999999", -72 }, // absurd exponents saturate instead of overflowing
        { "threshold", "1e-99999999999999", 0 },
        { "threshold", "inf", 0 },
        { "threshold", "nan", 0 },
        { "threshold", "-", 0 },
        { "filterFreq0", "999.6", 1000 },
        { "filterFreq0", "5", 20 },
        { "filterFreq0", "25k", 20000 },
        { "filterFreq0", "1.2k", 1200 },
        { "filterFreq0", "1.2 khz", 1200 },
        { "filterFreq0", "hello", 20 },
        { "filterType2", "HP", 4 },
        { "filterType2", "hp", 0 }, // choices compare case-sensitively
        { "debleed", "on", 1 },
        { "debleed", "ON", 1 },
        { "debleed", "yes", 0 },
        { "debleed", "1", 0 },
    };

    for (const auto& c : cases)
    {
        auto& p = parameter (processor, c.id);
        INFO (c.id << " from '" << c.text << "'");
        CHECK (p.convertFrom0to1 (p.getValueForText (c.text)) == Approx (c.value).margin (1e-3));
    }
}

TEST_CASE ("Frequency text conversions", "[catalogue]")
{
    using namespace ombrel::config;

    CHECK (freqToString (350.0f, 0) == "350 hz");
    CHECK (freqToString (999.4f, 0) == "999 hz");
    CHECK (freqToString (1200.0f, 0) == "1.2 khz");
    CHECK (stringToFreq ("100.5") == 100.0f); // halfway goes to the even neighbour
    CHECK (stringToFreq ("101.5") == 102.0f);
    CHECK (stringToFreq ("-3k") == 20.0f);
    CHECK (stringToFreq ("1e9") == 20000.0f);
}

TEST_CASE ("The logarithmic frequency range maps octaves linearly", "[catalogue]")
{
    const auto range = audio_framework::parameters::makeFrequencyRange (20.0f, 20000.0f);

    CHECK (range.convertFrom0to1 (0.5f) == Approx (20.0 * std::pow (10.0, 1.5)).epsilon (1e-5));
    CHECK (range.convertTo0to1 (1000.0f) == Approx (std::log2 (50.0) / std::log2 (1000.0)).epsilon (1e-5));
    CHECK (range.convertFrom0to1 (0.0f) == Approx (20.0f));
    CHECK (range.convertFrom0to1 (1.0f) == Approx (20000.0f));
    CHECK (range.snapToLegalValue (5.0f) == 20.0f);
    CHECK (range.snapToLegalValue (30000.0f) == 20000.0f);
    CHECK (range.interval == 0.0f);
}

TEST_CASE ("Tempo-sync table: 19 divisions in quarter-note beats", "[catalogue]")
{
    using ombrel::config::Gate::SyncDivisionsNames;
    using ombrel::config::Gate::syncFactors;

    REQUIRE (SyncDivisionsNames.size() == 19);
    REQUIRE (syncFactors.size() == 19);

    // Plain divisions halve from a bar of four beats; dotted is 1.5 times, triplet two thirds.
    const char* plain[] = { "1 bar", "1/2", "1/4", "1/8", "1/16", "1/32", "1/64" };
    const int plainIndex[] = { 0, 1, 4, 7, 10, 13, 16 };
    for (int k = 0; k < 7; ++k)
    {
        const auto beats = 4.0f / static_cast<float> (1 << k);
        const auto i = static_cast<size_t> (plainIndex[k]);
        CHECK (SyncDivisionsNames[plainIndex[k]] == plain[k]);
        CHECK (syncFactors[i] == beats);

        if (k > 0)
        {
            CHECK (SyncDivisionsNames[plainIndex[k] + 1] == juce::String (plain[k]) + " d");
            CHECK (SyncDivisionsNames[plainIndex[k] + 2] == juce::String (plain[k]) + " t");
            CHECK (syncFactors[i + 1] == beats * 1.5f);
            CHECK (syncFactors[i + 2] == static_cast<float> (beats * 2.0 / 3.0));
        }
    }
}

TEST_CASE ("The editor-only values start at their defaults", "[catalogue]")
{
    BrimvaleAudioProcessor processor;
    auto child = processor.mParameters.state.getChildWithName ("NonAudioParameters");
    REQUIRE (child.isValid());
    REQUIRE (child.getNumProperties() == 6);

    const char* keys[] = { "soloNode", "selectedFilter", "selectedFilters", "SelectedTab", "eqDisplay", "sidechainListen" };
    for (int i = 0; i < 6; ++i)
        CHECK (child.getPropertyName (i).toString() == keys[i]);

    CHECK (static_cast<bool> (child["soloNode"]) == false);
    CHECK (static_cast<int> (child["selectedFilter"]) == -1);
    CHECK (static_cast<int> (child["SelectedTab"]) == 0);
    CHECK (static_cast<bool> (child["eqDisplay"]) == true);
    CHECK (static_cast<bool> (child["sidechainListen"]) == false);

    const auto* selection = child["selectedFilters"].getArray();
    REQUIRE (selection != nullptr);
    REQUIRE (selection->size() == 6);
    for (const auto& entry : *selection)
        CHECK (static_cast<bool> (entry) == false);

    // Two instances never share one selection array.
    BrimvaleAudioProcessor other;
    auto otherSelection = other.mParameters.state.getChildWithName ("NonAudioParameters")["selectedFilters"];
    CHECK (otherSelection.getArray() != selection);
}
