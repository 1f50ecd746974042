#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>
#include <memory>
#include <vector>

namespace audio_framework::parameters
{
/** A range from min to max with a logarithmic (octave) mapping and no interval. */
juce::NormalisableRange<float> makeFrequencyRange (float min, float max);
} // namespace audio_framework::parameters

namespace ombrel::node_graph
{
/** Filter types of an equaliser node, indexed by the "filterTypeN" choice. */
extern const juce::StringArray sFilterTypes;
} // namespace ombrel::node_graph

namespace ombrel::config
{
using ValueToText = std::function<juce::String (float, int)>;
using TextToValue = std::function<float (const juce::String&)>;

template <typename T>
struct SliderDescriptor
{
    juce::String id;
    juce::String label;
    juce::String name;
    juce::NormalisableRange<T> range;
    T defaultValue {};
    bool centred = false;
    bool reversed = false;
    int decimals = 0;
    juce::String unit;
    std::function<juce::String (T, int)> valueToText;
    std::function<T (const juce::String&)> textToValue;
};

struct BooleanDescriptor
{
    juce::String id;
    juce::String label;
    juce::String name;
    bool defaultValue = false;
};

struct ComboBoxDescriptor
{
    juce::String id;
    juce::String name;
    juce::StringArray choices;
    int defaultIndex = 0;
};

template <typename T>
struct KeyValue
{
    juce::String key;
    T value;
};

//==============================================================================
// Text conversions shared by the descriptors.

template <int Decimals>
juce::String value2string (float value, int maximumLength);

template <>
juce::String value2string<0> (float value, int maximumLength);
template <>
juce::String value2string<1> (float value, int maximumLength);

float string2value (const juce::String& text);

juce::String floatToClipType (float value, int maximumLength);
float clipTypeToFloat (const juce::String& text);
juce::String floatToFilterCurve (float value, int maximumLength);
float filterCurveToFloat (const juce::String& text);

juce::String freqToString (float frequency, int maximumLength);
float stringToFreq (const juce::String& text);

juce::String boolToString (bool value, int maximumLength);
bool stringToBool (const juce::String& text);

//==============================================================================
// Shared ranges and name tables.

extern const juce::NormalisableRange<float> percentRange;
extern const juce::NormalisableRange<float> mSpeedRange;
extern const juce::NormalisableRange<float> mSustainDurationRange;

extern const juce::StringArray sClipType;
extern const juce::StringArray sFilterAmounts;

extern const juce::Identifier parameterRootId;
extern const juce::Identifier nonAudioParametersId;

//==============================================================================
// Host parameters, in the order the processor publishes them.

namespace Macro
{
    extern const BooleanDescriptor sidechainToggle;
    extern const SliderDescriptor<float> curve;
    extern const SliderDescriptor<float> transients;
    extern const BooleanDescriptor transientSwitch;
    extern const BooleanDescriptor debleed;
} // namespace Macro

namespace Gate
{
    extern const SliderDescriptor<float> inputGain;
    extern const SliderDescriptor<float> spike;
    extern const SliderDescriptor<float> lookAhead;
    extern const SliderDescriptor<float> threshold;
    extern const SliderDescriptor<float> thresholdReturn;
    extern const SliderDescriptor<float> floor;
    extern const SliderDescriptor<float> attack;
    extern const SliderDescriptor<float> hold;
    extern const SliderDescriptor<float> release;
    extern const SliderDescriptor<float> releaseSync;
    extern const BooleanDescriptor syncSwitch;
    extern const BooleanDescriptor flip;
    extern const BooleanDescriptor sidechainListen;

    /** Tempo-sync divisions: names and lengths in quarter-note beats, indexed by "releaseSync". */
    extern const juce::StringArray SyncDivisionsNames;
    extern const std::vector<float> syncFactors;
} // namespace Gate

namespace Transients
{
    extern const SliderDescriptor<float> outputClipType;
    extern const SliderDescriptor<float> fat;
    extern const SliderDescriptor<float> punch;
    extern const SliderDescriptor<float> speed;
    extern const SliderDescriptor<float> sustainDuration;
    extern const SliderDescriptor<float> outputGain;
} // namespace Transients

namespace Debleed
{
    extern const SliderDescriptor<float> lpAmount;
    extern const SliderDescriptor<float> lpFreq;
    extern const SliderDescriptor<float> lpRelease;
    extern const SliderDescriptor<float> hpAmount;
    extern const SliderDescriptor<float> hpFreq;
    extern const SliderDescriptor<float> hpRelease;
} // namespace Debleed

//==============================================================================
// Side-chain equaliser nodes.

struct NodeDescriptor
{
    ComboBoxDescriptor type;
    SliderDescriptor<float> frequency;
    SliderDescriptor<float> gain;
    SliderDescriptor<float> quality;
};

/** Default node frequencies in Hz, node 0 to 5. */
extern const std::vector<float> sDefaultFreqValues;

class NodeGraphDescriptor
{
public:
    explicit NodeGraphDescriptor (int numNodes);

    std::vector<NodeDescriptor> nodes;

    // Editor-only values of the node graph, stored in the "NonAudioParameters" child.
    static const BooleanDescriptor soloNode;
    static const KeyValue<int> selectedFilter;
    static const KeyValue<juce::var> selectedFilters;
};

extern const NodeGraphDescriptor nodeGraphDescriptor;

//==============================================================================
// Editor-only values besides the node graph's.

namespace non_audio_parameters
{
    extern const KeyValue<int> sSelectedTab;
    extern const BooleanDescriptor eqDisplay;
    extern const BooleanDescriptor sidechainListen;
} // namespace non_audio_parameters

//==============================================================================

std::unique_ptr<juce::AudioParameterFloat> descriptorToParameter (const SliderDescriptor<float>& d);
std::unique_ptr<juce::AudioParameterBool> descriptorToParameter (const BooleanDescriptor& d);
std::unique_ptr<juce::AudioParameterChoice> descriptorToParameter (const ComboBoxDescriptor& d);

template <typename Descriptor>
void addNonAudioParameter (juce::ValueTree& tree, const Descriptor& d)
{
    tree.setProperty (d.id, d.defaultValue, nullptr);
}

/** The 54 host parameters in host order, as the processor builds its parameter tree. */
juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();

/** The "NonAudioParameters" child with the six editor-only values at their defaults. */
juce::ValueTree createNonAudioParameters();

} // namespace ombrel::config
