#pragma once

#include "gui/node_graph/NodeGraphParameters.h"

#include <juce_dsp/juce_dsp.h>

#include <array>

namespace ombrel::dsp
{
/**
    The side-chain equaliser: six node filters in series whose designs follow the node
    parameters at the start of every block, then, while a node is soloed, one or two
    Butterworth filters that keep only the band that node acts on.
*/
class GraphicEqProcessor : public juce::dsp::ProcessorBase
{
public:
    explicit GraphicEqProcessor (juce::AudioProcessorValueTreeState& parameters);
    ~GraphicEqProcessor() override;

    void prepare (const juce::dsp::ProcessSpec& spec) override;
    void process (const juce::dsp::ProcessContextReplacing<float>& context) override;
    void reset() override;

    /** The solo flag as the audio thread sees it; lock-free, so any thread may ask. */
    bool isSoloOn() const noexcept;

    /** The node model this equaliser reads (its own instance over the parameter tree). */
    node_graph::gui::NodeGraphParameters& getNodeGraphParameters() noexcept { return mNodeGraph; }

    /** The band the solo stage used in the last block that soloed a node; a frequency of 0
        means that filter is not part of the band. Read it on the audio thread (or while
        process is not running). */
    struct SoloBand
    {
        float lowPassFrequency = 0.0f;
        float highPassFrequency = 0.0f;
        int numStages = 1;
    };

    SoloBand getSoloBand() const noexcept { return mSoloBand; }

private:
    using FilterSet = juce::dsp::ProcessorDuplicator<juce::dsp::IIR::Filter<float>, juce::dsp::IIR::Coefficients<float>>;
    static constexpr int numNodeFilters = 6;

    void updateNodeCoefficients() noexcept;
    void updateSoloCoefficients (int selectedIndex) noexcept;
    float limitToNyquist (float frequency) const noexcept;

    node_graph::gui::NodeGraphParameters mNodeGraph;
    std::array<FilterSet, numNodeFilters> mNodeFilters;
    FilterSet mFirstSoloFilter;
    FilterSet mSecondSoloFilter;
    SoloBand mSoloBand;
    juce::dsp::ProcessSpec mSpec { 0.0, 0, 0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (GraphicEqProcessor)
};
} // namespace ombrel::dsp
