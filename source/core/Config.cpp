#include "core/Config.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace audio_framework::parameters
{
juce::NormalisableRange<float> makeFrequencyRange (float min, float max)
{
    const auto octaves = std::log2 (max / min);

    return { min,
             max,
             [octaves] (float start, float end, float proportion)
             {
                 // The ends are exact, so that a full-scale value reads as the range's end.
                 if (proportion >= 1.0f)
                     return end;
                 return start * std::pow (2.0f, octaves * proportion);
             },
             [octaves] (float start, float, float value) { return std::log2 (value / start) / octaves; },
             [] (float start, float end, float value) { return juce::jlimit (start, end, value); } };
}
} // namespace audio_framework::parameters

namespace ombrel::node_graph
{
const juce::StringArray sFilterTypes { "LP", "LO SHELF", "PEAK", "HI SHELF", "HP" };
} // namespace ombrel::node_graph

namespace ombrel::config
{
//==============================================================================
template <>
juce::String value2string<0> (float value, int)
{
    return juce::String (static_cast<int> (value));
}

template <>
juce::String value2string<1> (float value, int)
{
    char text[64];
    std::snprintf (text, sizeof (text), "%.1f", static_cast<double> (value));
    return text;
}

namespace
{
    /** The leading decimal number of a text: leading blanks skipped, parsing stops at the first
        character that cannot continue the number, 0 when there is none. Unlike a hand-rolled
        reader it cannot overflow on absurd exponents: those give the largest float or 0. */
    double readLeadingNumber (const juce::String& text)
    {
        const auto utf8 = text.toStdString();
        const char* p = utf8.data();
        const char* const end = p + utf8.size();

        while (p < end && juce::CharacterFunctions::isWhitespace (*p))
            ++p;

        const auto negative = p < end && *p == '-';
        if (p < end && (*p == '+' || *p == '-'))
            ++p;

        // Only digits or a point may start the number ("inf" and "nan" are not numbers here).
        if (p == end || ! (juce::CharacterFunctions::isDigit (*p) || *p == '.'))
            return 0.0;

        double value = 0.0;
        const auto [last, error] = std::from_chars (p, end, value, std::chars_format::general);

        if (last == p)
            return 0.0;

        if (error == std::errc::result_out_of_range)
        {
            const auto exponent = std::find_if (p, last, [] (char c) { return c == 'e' || c == 'E'; });
            const auto tiny = exponent != last && exponent + 1 < last && exponent[1] == '-';
            value = tiny ? 0.0 : static_cast<double> (std::numeric_limits<float>::max());
        }

        value = juce::jlimit (-static_cast<double> (std::numeric_limits<float>::max()),
                              static_cast<double> (std::numeric_limits<float>::max()),
                              value);
        return negative ? -value : value;
    }
} // namespace

float string2value (const juce::String& text)
{
    return static_cast<float> (readLeadingNumber (text));
}

namespace
{
    juce::String nameAtIndex (const juce::StringArray& names, float value)
    {
        if (! std::isfinite (value))
            return {};

        const auto index = static_cast<int> (value);
        return juce::isPositiveAndBelow (index, names.size()) ? names[index] : juce::String();
    }

    // The first name that occurs anywhere in the text wins; no name gives one past the last index.
    float indexOfNameIn (const juce::StringArray& names, const juce::String& text)
    {
        for (int i = 0; i < names.size(); ++i)
            if (text.contains (names[i]))
                return static_cast<float> (i);

        return static_cast<float> (names.size());
    }

    juce::String formatFrequency (const char* format, double value)
    {
        char text[64];
        std::snprintf (text, sizeof (text), format, value);
        return text;
    }
} // namespace

juce::String floatToClipType (float value, int) { return nameAtIndex (sClipType, value); }
float clipTypeToFloat (const juce::String& text) { return indexOfNameIn (sClipType, text); }
juce::String floatToFilterCurve (float value, int) { return nameAtIndex (sFilterAmounts, value); }
float filterCurveToFloat (const juce::String& text) { return indexOfNameIn (sFilterAmounts, text); }

juce::String freqToString (float frequency, int)
{
    if (frequency < 1000.0f)
        return formatFrequency ("%.0f hz", frequency);

    if (frequency < 20000.0f)
        return formatFrequency ("%.1f khz", frequency / 1000.0f);

    return formatFrequency ("%.0f khz", frequency / 1000.0f);
}

float stringToFreq (const juce::String& text)
{
    const auto kIndex = text.indexOfChar ('k');
    const auto value = kIndex >= 0 ? readLeadingNumber (text.substring (0, kIndex)) * 1000.0
                                   : readLeadingNumber (text);

    if (! (value >= 20.0)) // also catches NaN
        return 20.0f;

    if (value > 20000.0)
        return 20000.0f;

    return static_cast<float> (std::nearbyint (value)); // ties go to the even neighbour
}

juce::String boolToString (bool value, int) { return value ? "On" : "Off"; }
bool stringToBool (const juce::String& text) { return text.equalsIgnoreCase ("On"); }

//==============================================================================
const juce::NormalisableRange<float> percentRange { 0.0f, 100.0f, 0.01f, 1.0f, false };
const juce::NormalisableRange<float> mSpeedRange { 0.0f, 100.0f, 0.01f, 1.0f, false };
const juce::NormalisableRange<float> mSustainDurationRange { 0.0f, 100.0f, 0.01f, 1.0f, false };

const juce::StringArray sClipType { "off", "auto", "clip" };
const juce::StringArray sFilterAmounts { "soft", "medium", "heavy" };

const juce::Identifier parameterRootId { "BrimvaleParameters" };
const juce::Identifier nonAudioParametersId { "NonAudioParameters" };

namespace
{
    juce::NormalisableRange<float> linearRange (float start, float end, float interval = 0.01f, float skew = 1.0f)
    {
        return { start, end, interval, skew, false };
    }

    SliderDescriptor<float> slider (const char* id,
                                    const char* label,
                                    const char* name,
                                    juce::NormalisableRange<float> range,
                                    float defaultValue,
                                    int decimals,
                                    const char* unit,
                                    ValueToText toText = value2string<1>,
                                    TextToValue fromText = string2value)
    {
        SliderDescriptor<float> d;
        d.id = id;
        d.label = label;
        d.name = name;
        d.range = range;
        d.defaultValue = defaultValue;
        d.decimals = decimals;
        d.unit = unit;
        d.valueToText = std::move (toText);
        d.textToValue = std::move (fromText);
        return d;
    }
} // namespace

namespace Macro
{
    const BooleanDescriptor sidechainToggle { "sidechainToggle", "SIDE-CHAIN", "Macro Side-chain on", false };
    const SliderDescriptor<float> curve = slider ("curve", "CURVE", "Macro Curve Style", linearRange (0, 100), 100, 0, "%", value2string<0>);
    const SliderDescriptor<float> transients = slider ("transients", "DYNAMICS", "Macro Dynamics Amount", linearRange (0, 100), 100, 0, "%", value2string<0>);
    const BooleanDescriptor transientSwitch { "transientsOn", "Dynamics on", "Macro Dynamics on", true };
    const BooleanDescriptor debleed { "debleed", "DEBLEED", "Macro Debleed on", true };
} // namespace Macro

namespace Gate
{
    const SliderDescriptor<float> inputGain = slider ("inputGain", "input", "Input Gain", linearRange (-24, 6), 0, 1, "db");
    const SliderDescriptor<float> spike = slider ("spike", "spike", "Input Spike", linearRange (0, 100), 0, 1, "%");
    const SliderDescriptor<float> lookAhead = slider ("lookahead", "ahead", "Gate Lookahead", linearRange (0, 10), 0, 1, "ms");
    const SliderDescriptor<float> threshold = slider ("threshold", "thresh", "Gate Threshold", linearRange (-72, 6), -12, 1, "db");
    const SliderDescriptor<float> thresholdReturn = slider ("return", "return", "Gate Return", linearRange (0, 24), 0, 1, "db");
    const SliderDescriptor<float> floor = slider ("floor", "floor", "Gate Floor", linearRange (-80, 0), -40, 1, "db");
    const SliderDescriptor<float> attack = slider ("attack", "attack", "Gate Attack", linearRange (0.02f, 150), 3.5f, 1, "ms");
    const SliderDescriptor<float> hold = slider ("hold", "hold", "Gate Hold", linearRange (1, 1500), 10, 1, "ms");
    const SliderDescriptor<float> release = slider ("release", "release", "Gate Release", linearRange (0.01f, 3000, 0.01f, 0.25f), 15, 1, "ms");
    const SliderDescriptor<float> releaseSync = slider ("releaseSync", "release", "Gate Synced Release ", linearRange (0, 18, 1), 0, 0, "");
    const BooleanDescriptor syncSwitch { "syncSwitch", "Sync Switch", "Gate Sync Release On", false };
    const BooleanDescriptor flip { "flip", "FLIP", "Gate Flip", false };
    const BooleanDescriptor sidechainListen { "sidechainListen", "LISTEN", "Sidechain Listen", false };

    const juce::StringArray SyncDivisionsNames { "1 bar",  "1/2",    "1/2 d",  "1/2 t",  "1/4",    "1/4 d", "1/4 t",
                                                 "1/8",    "1/8 d",  "1/8 t",  "1/16",   "1/16 d", "1/16 t", "1/32",
                                                 "1/32 d", "1/32 t", "1/64",   "1/64 d", "1/64 t" };

    const std::vector<float> syncFactors { 4.0f,         2.0f,   3.0f,         1.3333334f, 1.0f,    1.5f,         0.6666667f,
                                           0.5f,         0.75f,  0.33333334f,  0.25f,      0.375f,  0.16666667f,  0.125f,
                                           0.1875f,      0.083333336f, 0.0625f, 0.09375f,   0.041666668f };
} // namespace Gate

namespace Transients
{
    const SliderDescriptor<float> outputClipType = slider ("outputClipType", "clip", "Transients Clip Type", linearRange (0, 2, 1), 1, 1, "", floatToClipType, clipTypeToFloat);
    const SliderDescriptor<float> fat = slider ("fat", "fat", "Dynamics Fat Amount", linearRange (0, 100), 0, 1, "%");
    const SliderDescriptor<float> punch = slider ("punch", "punch", "Dynamics Punch Amount", linearRange (0, 100), 0, 1, "%");
    const SliderDescriptor<float> speed = slider ("speed", "attack", "Dynamics Fat Attack", mSpeedRange, 0, 0, "%");
    const SliderDescriptor<float> sustainDuration = slider ("duration", "duration", "Dynamics Fat Duration", mSustainDurationRange, 0, 0, "%");
    const SliderDescriptor<float> outputGain = slider ("outputGain", "output", "Dynamics Output Gain", linearRange (-48, 0), 0, 1, "db");
} // namespace Transients

namespace Debleed
{
    const SliderDescriptor<float> lpAmount = slider ("lpAmount", "mode", "Debleed LP Mode", linearRange (0, 2, 1), 1, 1, "", floatToFilterCurve, filterCurveToFloat);
    const SliderDescriptor<float> lpFreq = slider ("lpFreq", "lp", "Debleed LP Amount", percentRange, 0, 1, "%");
    const SliderDescriptor<float> lpRelease = slider ("lpRelease", "rel", "Debleed LP Release", linearRange (1, 500, 0.01f, 0.25f), 100, 1, "ms");
    const SliderDescriptor<float> hpAmount = slider ("hpAmount", "mode", "Debleed HP Mode", linearRange (0, 2, 1), 1, 1, "", floatToFilterCurve, filterCurveToFloat);
    const SliderDescriptor<float> hpFreq = slider ("hpFreq", "hp", "Debleed HP Amount", percentRange, 0, 1, "%");
    const SliderDescriptor<float> hpRelease = slider ("hpRelease", "rel", "Debleed HP Release", linearRange (1, 500, 0.01f, 0.25f), 100, 1, "ms");
} // namespace Debleed

//==============================================================================
const std::vector<float> sDefaultFreqValues { 30.0f, 100.0f, 350.0f, 1200.0f, 4000.0f, 13000.0f };

NodeGraphDescriptor::NodeGraphDescriptor (int numNodes)
{
    for (int n = 0; n < numNodes; ++n)
    {
        const auto index = juce::String (n);
        const auto prefix = "Filter " + index + " - ";

        NodeDescriptor node;
        node.type = { "filterType" + index, prefix + "Type", ombrel::node_graph::sFilterTypes, 2 };

        node.frequency.id = "filterFreq" + index;
        node.frequency.label = node.frequency.name = prefix + "Frequency";
        node.frequency.range = audio_framework::parameters::makeFrequencyRange (20.0f, 20000.0f);
        node.frequency.defaultValue = sDefaultFreqValues[static_cast<size_t> (n) % sDefaultFreqValues.size()];
        node.frequency.decimals = 1;
        node.frequency.valueToText = freqToString;
        node.frequency.textToValue = stringToFreq;

        node.gain.id = "filterGain" + index;
        node.gain.label = node.gain.name = prefix + "Gain";
        node.gain.range = linearRange (-24.0f, 24.0f);
        node.gain.defaultValue = 0.0f;
        node.gain.valueToText = value2string<1>;
        node.gain.textToValue = string2value;

        node.quality.id = "filterQual" + index;
        node.quality.label = node.quality.name = prefix + "Quality";
        node.quality.range = linearRange (0.2f, 5.0f, 0.01f, 0.8f);
        node.quality.defaultValue = 0.707f;
        node.quality.valueToText = value2string<1>;
        node.quality.textToValue = string2value;

        nodes.push_back (std::move (node));
    }
}

const BooleanDescriptor NodeGraphDescriptor::soloNode { "soloNode", "Solo Node", "Solo Node", false };
const KeyValue<int> NodeGraphDescriptor::selectedFilter { "selectedFilter", -1 };
const KeyValue<juce::var> NodeGraphDescriptor::selectedFilters { "selectedFilters",
                                                                  juce::var (juce::Array<juce::var> { false, false, false, false, false, false }) };

const NodeGraphDescriptor nodeGraphDescriptor { 6 };

namespace non_audio_parameters
{
    const KeyValue<int> sSelectedTab { "SelectedTab", 0 };
    const BooleanDescriptor eqDisplay { "eqDisplay", "EQ", "EQ", true };
    const BooleanDescriptor sidechainListen { "sidechainListen", "LISTEN", "LISTEN", false };
} // namespace non_audio_parameters

//==============================================================================
std::unique_ptr<juce::AudioParameterFloat> descriptorToParameter (const SliderDescriptor<float>& d)
{
    return std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { d.id, 1 },
                                                        d.name,
                                                        d.range,
                                                        d.defaultValue,
                                                        juce::AudioParameterFloatAttributes()
                                                            .withLabel ({})
                                                            .withCategory (juce::AudioProcessorParameter::genericParameter)
                                                            .withStringFromValueFunction (d.valueToText)
                                                            .withValueFromStringFunction (d.textToValue));
}

std::unique_ptr<juce::AudioParameterBool> descriptorToParameter (const BooleanDescriptor& d)
{
    return std::make_unique<juce::AudioParameterBool> (juce::ParameterID { d.id, 1 },
                                                       d.name,
                                                       d.defaultValue,
                                                       juce::AudioParameterBoolAttributes()
                                                           .withLabel ({})
                                                           .withStringFromValueFunction (boolToString)
                                                           .withValueFromStringFunction (stringToBool));
}

std::unique_ptr<juce::AudioParameterChoice> descriptorToParameter (const ComboBoxDescriptor& d)
{
    const auto choices = d.choices;

    return std::make_unique<juce::AudioParameterChoice> (
        juce::ParameterID { d.id, 1 },
        d.name,
        d.choices,
        d.defaultIndex,
        juce::AudioParameterChoiceAttributes()
            .withLabel ({})
            .withStringFromValueFunction ([choices] (int index, int) { return choices[index]; })
            .withValueFromStringFunction ([choices] (const juce::String& text) { return juce::jmax (0, choices.indexOf (text)); }));
}

juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout()
{
    juce::AudioProcessorValueTreeState::ParameterLayout layout;

    layout.add (descriptorToParameter (Macro::sidechainToggle),
                descriptorToParameter (Macro::curve),
                descriptorToParameter (Macro::transients),
                descriptorToParameter (Macro::transientSwitch),
                descriptorToParameter (Macro::debleed),
                descriptorToParameter (Gate::inputGain),
                descriptorToParameter (Gate::spike),
                descriptorToParameter (Gate::lookAhead),
                descriptorToParameter (Gate::threshold),
                descriptorToParameter (Gate::thresholdReturn),
                descriptorToParameter (Gate::floor),
                descriptorToParameter (Gate::attack),
                descriptorToParameter (Gate::hold),
                descriptorToParameter (Gate::release),
                descriptorToParameter (Gate::releaseSync),
                descriptorToParameter (Gate::syncSwitch),
                descriptorToParameter (Gate::flip),
                descriptorToParameter (Transients::outputClipType),
                descriptorToParameter (Transients::fat),
                descriptorToParameter (Transients::punch),
                descriptorToParameter (Transients::speed),
                descriptorToParameter (Transients::sustainDuration),
                descriptorToParameter (Transients::outputGain),
                descriptorToParameter (Debleed::lpAmount),
                descriptorToParameter (Debleed::lpFreq),
                descriptorToParameter (Debleed::lpRelease),
                descriptorToParameter (Debleed::hpAmount),
                descriptorToParameter (Debleed::hpFreq),
                descriptorToParameter (Debleed::hpRelease),
                descriptorToParameter (Gate::sidechainListen));

    for (const auto& node : nodeGraphDescriptor.nodes)
        layout.add (descriptorToParameter (node.type),
                    descriptorToParameter (node.frequency),
                    descriptorToParameter (node.gain),
                    descriptorToParameter (node.quality));

    return layout;
}

juce::ValueTree createNonAudioParameters()
{
    juce::ValueTree child { nonAudioParametersId };

    addNonAudioParameter (child, NodeGraphDescriptor::soloNode);
    child.setProperty (NodeGraphDescriptor::selectedFilter.key, NodeGraphDescriptor::selectedFilter.value, nullptr);
    // A fresh array per tree: a juce::var array is shared by reference when copied.
    child.setProperty (NodeGraphDescriptor::selectedFilters.key,
                       juce::var (juce::Array<juce::var> { false, false, false, false, false, false }),
                       nullptr);
    child.setProperty (non_audio_parameters::sSelectedTab.key, non_audio_parameters::sSelectedTab.value, nullptr);
    addNonAudioParameter (child, non_audio_parameters::eqDisplay);
    addNonAudioParameter (child, non_audio_parameters::sidechainListen);

    return child;
}

} // namespace ombrel::config
