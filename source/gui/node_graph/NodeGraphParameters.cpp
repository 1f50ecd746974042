#include "gui/node_graph/NodeGraphParameters.h"

#include "core/Config.h"

#include <stdexcept>

namespace ombrel::node_graph::gui
{
namespace
{
    const juce::Identifier& soloId()
    {
        static const juce::Identifier id { config::NodeGraphDescriptor::soloNode.id };
        return id;
    }

    const juce::Identifier& selectionId()
    {
        static const juce::Identifier id { config::NodeGraphDescriptor::selectedFilters.key };
        return id;
    }

    juce::var makeEmptySelection()
    {
        juce::Array<juce::var> entries;
        for (size_t i = 0; i < config::nodeGraphDescriptor.nodes.size(); ++i)
            entries.add (false);
        return juce::var (entries);
    }

    int firstSelectedIndex (const juce::var& selection)
    {
        if (auto* entries = selection.getArray())
            for (int i = 0; i < entries->size(); ++i)
                if (static_cast<bool> (entries->getReference (i)))
                    return i;

        return -1;
    }

    // Packs the solo state into one word so the audio thread reads flag and index together.
    std::uint32_t packSoloState (bool soloOn, int selectedIndex) noexcept
    {
        return (soloOn ? 1u : 0u) | (static_cast<std::uint32_t> (selectedIndex + 1) << 1);
    }
} // namespace

//==============================================================================
NodeSelection::NodeSelection()
    : mValue (makeEmptySelection())
{
}

void NodeSelection::set (int index, bool selected)
{
    auto current = mValue.getValue();

    if (auto* entries = current.getArray(); entries != nullptr && juce::isPositiveAndBelow (index, entries->size()))
    {
        // The array is shared with the tree, so this edits the stored state in place.
        entries->getReference (index) = selected;
        notifyChanged();
        return;
    }

    // A restored state can hold something other than the array: replace it with a proper one.
    if (! juce::isPositiveAndBelow (index, static_cast<int> (config::nodeGraphDescriptor.nodes.size())))
        return;

    auto repaired = makeEmptySelection();
    repaired.getArray()->getReference (index) = selected;
    mValue = repaired;
}

void NodeSelection::reset()
{
    auto current = mValue.getValue();

    if (auto* entries = current.getArray())
    {
        for (auto& entry : *entries)
            entry = false;
        notifyChanged();
        return;
    }

    mValue = makeEmptySelection();
}

void NodeSelection::notifyChanged()
{
    // The property object is unchanged, so the tree would not notify on its own. Announcing it
    // through the tree reaches every value and listener bound to it (also other models over
    // the same tree, such as the equaliser's), still without an undo step.
    if (mTree.isValid())
        mTree.sendPropertyChangeMessage (selectionId());
    else
        mValue.getValueSource().sendChangeMessage (false);
}

bool NodeSelection::isSelected (int index) const
{
    const auto current = mValue.getValue();

    if (auto* entries = current.getArray(); entries != nullptr && juce::isPositiveAndBelow (index, entries->size()))
        return static_cast<bool> (entries->getReference (index));

    return false;
}

int NodeSelection::getNumSelected() const
{
    const auto current = mValue.getValue();
    int count = 0;

    if (auto* entries = current.getArray())
        for (const auto& entry : *entries)
            count += static_cast<bool> (entry) ? 1 : 0;

    return count;
}

int NodeSelection::getSelectedIndex() const
{
    return firstSelectedIndex (mValue.getValue());
}

void NodeSelection::referTo (const juce::ValueTree& tree)
{
    mTree = tree;
    mValue.referTo (mTree.getPropertyAsValue (selectionId(), nullptr));
}

//==============================================================================
NodeGraphParameters::NodeGraphParameters (juce::AudioProcessorValueTreeState& parameters)
    : mParameters (parameters)
{
    linkValues (mParameters.state.getChildWithName (config::nonAudioParametersId));
    mParameters.state.addListener (this);

    for (const auto& node : config::nodeGraphDescriptor.nodes)
    {
        NodeParameterSet set;
        set.frequency = dynamic_cast<juce::AudioParameterFloat*> (mParameters.getParameter (node.frequency.id));
        set.quality = dynamic_cast<juce::AudioParameterFloat*> (mParameters.getParameter (node.quality.id));
        set.gain = dynamic_cast<juce::AudioParameterFloat*> (mParameters.getParameter (node.gain.id));
        set.type = dynamic_cast<juce::AudioParameterChoice*> (mParameters.getParameter (node.type.id));

        mNodes.push_back (set);
    }
}

NodeGraphParameters::~NodeGraphParameters()
{
    mParameters.state.removeListener (this);
}

void NodeGraphParameters::linkValues (const juce::ValueTree& nonAudioParameters)
{
    {
        const juce::ScopedLock lock (mLinkLock);
        mNonAudioParameters = nonAudioParameters;
        publishSoloState();
    }

    // Outside the lock: re-pointing the values calls their listeners synchronously.
    auto tree = nonAudioParameters;
    mSolo.referTo (tree.getPropertyAsValue (soloId(), nullptr));
    mSelection.referTo (tree);
}

juce::Range<float> NodeGraphParameters::getDbRange() const
{
    const auto& range = mNodes.empty() || mNodes.front().gain == nullptr
                            ? config::nodeGraphDescriptor.nodes.front().gain.range
                            : mNodes.front().gain->range;

    return { range.start, juce::jmax (range.end, range.start) };
}

NodeParameters NodeGraphParameters::getNodeParameters (int index) const
{
    const auto& node = mNodes.at (static_cast<size_t> (index));
    const auto& defaults = config::nodeGraphDescriptor.nodes.at (static_cast<size_t> (index));

    // get() and getIndex() load the parameters' own atomics. The tree's raw copies are not
    // used: they start from the default snapped to the interval (Q 0.71 instead of 0.707).
    const auto read = [] (const juce::AudioParameterFloat* parameter, float fallback)
    { return parameter != nullptr ? parameter->get() : fallback; };

    NodeParameters values;
    values.frequency = read (node.frequency, defaults.frequency.defaultValue);
    values.quality = read (node.quality, defaults.quality.defaultValue);
    values.gain = read (node.gain, defaults.gain.defaultValue);
    values.type = node.type != nullptr ? node.type->getIndex() : defaults.type.defaultIndex;
    return values;
}

NodeGraphParameters::SoloState NodeGraphParameters::getSoloState() const noexcept
{
    const auto packed = mSoloState.load (std::memory_order_acquire);
    return { (packed & 1u) != 0, static_cast<int> (packed >> 1) - 1 };
}

void NodeGraphParameters::publishSoloState()
{
    // Read from the linked tree itself, which is what the solo and selection values refer to.
    const juce::ScopedLock lock (mLinkLock);
    const auto soloOn = static_cast<bool> (mNonAudioParameters[soloId()]);
    const auto selectedIndex = firstSelectedIndex (mNonAudioParameters[selectionId()]);
    mSoloState.store (packSoloState (soloOn, selectedIndex), std::memory_order_release);
}

void NodeGraphParameters::valueTreeRedirected (juce::ValueTree& redirectedTree)
{
    linkValues (redirectedTree.getChildWithName (config::nonAudioParametersId));
}

void NodeGraphParameters::valueTreePropertyChanged (juce::ValueTree& tree, const juce::Identifier& property)
{
    // Most traffic here is the parameters' own "value" properties: filter by name first.
    if (property != soloId() && property != selectionId())
        return;

    const juce::ScopedLock lock (mLinkLock);

    if (tree == mNonAudioParameters)
        publishSoloState();
}

void NodeGraphParameters::valueTreeChildAdded (juce::ValueTree& parent, juce::ValueTree& child)
{
    // A model built before the editor-only child existed links as soon as it appears.
    if (parent != mParameters.state || ! child.hasType (config::nonAudioParametersId))
        return;

    bool linked = false;
    {
        const juce::ScopedLock lock (mLinkLock);
        linked = mNonAudioParameters.isValid();
    }

    if (! linked)
        linkValues (child);
}
} // namespace ombrel::node_graph::gui
