#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace ombrel::node_graph
{
/** Filter type of an equaliser node, the index of its "filterTypeN" choice. */
enum class FilterType : int
{
    lowPass = 0,
    lowShelf = 1,
    peak = 2,
    highShelf = 3,
    highPass = 4
};
} // namespace ombrel::node_graph

namespace ombrel::node_graph::gui
{
/** One node's values in real units. */
struct NodeParameters
{
    float frequency = 0.0f; // Hz
    float quality = 0.0f;
    float gain = 0.0f; // dB
    int type = 0;      // FilterType index
};

/** Which equaliser nodes are selected: a juce::var array of six booleans, shared with the tree. */
class NodeSelection
{
public:
    NodeSelection();

    /** Writes the entry in the shared array and tells everyone bound to it, without an undo step. */
    void set (int index, bool selected);
    void reset();

    bool isSelected (int index) const;
    int getNumSelected() const;

    /** The lowest selected node, or -1 when none is selected. */
    int getSelectedIndex() const;

    /** Binds the selection to the "selectedFilters" property of the given tree. */
    void referTo (const juce::ValueTree& tree);

    juce::Value& getValue() noexcept { return mValue; }

private:
    void notifyChanged();

    juce::Value mValue;
    juce::ValueTree mTree;
};

/**
    The model of the six equaliser nodes: their host parameters, the node selection and the
    solo flag of the "NonAudioParameters" child. It follows the tree when the host replaces
    the state, and publishes a lock-free copy of the solo flag and selected node for the
    audio thread (getSoloState), which must never touch the juce::var values themselves.
*/
class NodeGraphParameters : public juce::ValueTree::Listener
{
public:
    explicit NodeGraphParameters (juce::AudioProcessorValueTreeState& parameters);
    ~NodeGraphParameters() override;

    /** Binds the solo and selection values to the given "NonAudioParameters" tree. */
    void linkValues (const juce::ValueTree& nonAudioParameters);

    /** The tree's state was replaced (e.g. by AudioProcessorValueTreeState::replaceState):
        re-links to the new state's "NonAudioParameters" child. */
    void valueTreeRedirected (juce::ValueTree& redirectedTree) override;

    /** The nodes' gain range in dB. */
    juce::Range<float> getDbRange() const;

    /** Current values of a node; throws std::out_of_range for an index outside 0 to 5.
        The parameters hold their values in atomics, so the audio thread may call this with
        a valid index. */
    NodeParameters getNodeParameters (int index) const;

    int getNumNodes() const noexcept { return static_cast<int> (mNodes.size()); }

    NodeSelection& getSelection() noexcept { return mSelection; }
    juce::Value& getSoloValue() noexcept { return mSolo; }

    /** The solo flag and the lowest selected node as last published; safe on any thread. */
    struct SoloState
    {
        bool soloOn = false;
        int selectedIndex = -1;
    };

    SoloState getSoloState() const noexcept;

private:
    struct NodeParameterSet
    {
        juce::AudioParameterFloat* frequency = nullptr;
        juce::AudioParameterFloat* quality = nullptr;
        juce::AudioParameterFloat* gain = nullptr;
        juce::AudioParameterChoice* type = nullptr;
    };

    void valueTreePropertyChanged (juce::ValueTree& tree, const juce::Identifier& property) override;
    void valueTreeChildAdded (juce::ValueTree& parent, juce::ValueTree& child) override;

    void publishSoloState();

    NodeSelection mSelection;
    juce::AudioProcessorValueTreeState& mParameters;
    juce::ValueTree mNonAudioParameters;
    std::vector<NodeParameterSet> mNodes;
    juce::Value mSolo { false };

    // Serialises re-linking (host thread) against republishing (message thread).
    juce::CriticalSection mLinkLock;
    std::atomic<std::uint32_t> mSoloState { 0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (NodeGraphParameters)
};
} // namespace ombrel::node_graph::gui
