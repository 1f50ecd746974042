#include "core/SavedState.h"

#include "core/Config.h"

namespace ombrel::saved_state
{
namespace
{
    constexpr int numNodes = 6;

    const juce::Identifier& selectionKey()
    {
        static const juce::Identifier key { config::NodeGraphDescriptor::selectedFilters.key };
        return key;
    }
} // namespace

int selectionMaskOf (const juce::var& selection)
{
    const auto* entries = selection.getArray();
    if (entries == nullptr)
        return 0;

    int mask = 0;
    for (int i = 0; i < juce::jmin (numNodes, entries->size()); ++i)
        if (static_cast<bool> (entries->getReference (i)))
            mask |= 1 << i;

    return mask;
}

juce::var selectionFromMask (int mask)
{
    juce::Array<juce::var> entries;
    for (int i = 0; i < numNodes; ++i)
        entries.add ((mask & (1 << i)) != 0 ? juce::var (true) : juce::var());

    return entries;
}

void convertForSaving (juce::ValueTree& copy)
{
    auto child = copy.getChildWithName (config::nonAudioParametersId);
    if (child.isValid())
        child.setProperty (selectionKey(), selectionMaskOf (child[selectionKey()]), nullptr);
}

void convertForRestoring (juce::ValueTree& tree)
{
    auto child = tree.getChildWithName (config::nonAudioParametersId);
    if (! child.isValid())
    {
        child = juce::ValueTree (config::nonAudioParametersId);
        tree.appendChild (child, nullptr);
    }

    // Saved properties arrive as text; a missing or non-numeric mask reads as 0 (nothing selected).
    const auto mask = static_cast<int> (child[selectionKey()]);
    child.setProperty (selectionKey(), selectionFromMask (mask), nullptr);
}
} // namespace ombrel::saved_state
