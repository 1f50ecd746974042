#include <catch2/catch.hpp>

#include "core/PluginProcessor.h"
#include "gui/node_graph/NodeGraphParameters.h"

#include <stdexcept>

#if JUCE_LINUX
namespace juce
{
// JUCE's own Linux message pump, as its plug-in wrappers use it.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce
#endif

using ombrel::node_graph::gui::NodeGraphParameters;

namespace
{
const juce::Identifier nonAudioId { "NonAudioParameters" };
const juce::Identifier soloKey { "soloNode" };
const juce::Identifier selectionKey { "selectedFilters" };

void setParameter (juce::AudioProcessorValueTreeState& tree, const juce::String& id, float value)
{
    auto* parameter = tree.getParameter (id);
    REQUIRE (parameter != nullptr);
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
}

juce::var makeSelection (std::initializer_list<bool> entries)
{
    juce::Array<juce::var> array;
    for (auto entry : entries)
        array.add (entry);
    return array;
}

// Delivers pending asynchronous messages (value listeners are notified this way).
void dispatchPendingMessages()
{
#if JUCE_LINUX
    for (int i = 0; i < 100 && juce::dispatchNextMessageOnSystemQueue (true); ++i)
    {
    }
#endif
}

struct CountingValueListener : juce::Value::Listener
{
    void valueChanged (juce::Value&) override { ++calls; }
    int calls = 0;
};

struct ModelFixture
{
    ombrel::BrimvaleAudioProcessor processor;
    juce::AudioProcessorValueTreeState& tree { processor.mParameters };
    NodeGraphParameters model { tree };

    juce::ValueTree nonAudio() const { return tree.state.getChildWithName (nonAudioId); }

    // A copy of the current state whose editor-only values are replaced.
    juce::ValueTree stateWith (bool solo, juce::var selection) const
    {
        auto state = tree.copyState();
        auto child = state.getChildWithName (nonAudioId);
        child.setProperty (soloKey, solo, nullptr);
        child.setProperty (selectionKey, selection, nullptr);
        return state;
    }
};
} // namespace

TEST_CASE_METHOD (ModelFixture, "Node values come from the host parameters", "[nodegraph]")
{
    SECTION ("defaults of the six nodes")
    {
        const float defaultFrequencies[] { 30.0f, 100.0f, 350.0f, 1200.0f, 4000.0f, 13000.0f };

        REQUIRE (model.getNumNodes() == 6);
        for (int i = 0; i < 6; ++i)
        {
            const auto node = model.getNodeParameters (i);
            CHECK (node.frequency == Approx (defaultFrequencies[i]));
            CHECK (node.quality == Approx (0.707f));
            CHECK (node.gain == 0.0f);
            CHECK (node.type == 2);
        }
    }

    SECTION ("a changed node reads its new values")
    {
        setParameter (tree, "filterType3", 4.0f);
        setParameter (tree, "filterFreq3", 2500.0f);
        setParameter (tree, "filterGain3", -6.5f);
        setParameter (tree, "filterQual3", 2.0f);

        const auto node = model.getNodeParameters (3);
        CHECK (node.type == 4);
        CHECK (node.frequency == Approx (2500.0f).epsilon (1.0e-4));
        CHECK (node.gain == Approx (-6.5f));
        CHECK (node.quality == Approx (2.0f));
    }

    SECTION ("indices outside the nodes are errors")
    {
        CHECK_THROWS_AS (model.getNodeParameters (-1), std::out_of_range);
        CHECK_THROWS_AS (model.getNodeParameters (6), std::out_of_range);
    }

    SECTION ("gain range")
    {
        CHECK (model.getDbRange() == juce::Range<float> (-24.0f, 24.0f));
    }
}

TEST_CASE_METHOD (ModelFixture, "Node selection", "[nodegraph]")
{
    auto& selection = model.getSelection();

    SECTION ("edits the stored array in place and notifies value listeners asynchronously")
    {
        const auto* storedArray = nonAudio()[selectionKey].getArray();
        REQUIRE (storedArray != nullptr);

        CountingValueListener listener;
        selection.getValue().addListener (&listener);

        selection.set (2, true);

        CHECK (nonAudio()[selectionKey].getArray() == storedArray);
        CHECK (static_cast<bool> (storedArray->getReference (2)));
        CHECK (listener.calls == 0);

#if JUCE_LINUX
        dispatchPendingMessages();
        CHECK (listener.calls == 1);
#endif
        selection.getValue().removeListener (&listener);
    }

    SECTION ("queries")
    {
        CHECK (selection.getSelectedIndex() == -1);
        CHECK (selection.getNumSelected() == 0);

        selection.set (4, true);
        selection.set (2, true);
        CHECK (selection.getSelectedIndex() == 2);
        CHECK (selection.getNumSelected() == 2);
        CHECK (selection.isSelected (4));
        CHECK_FALSE (selection.isSelected (3));

        selection.set (2, false);
        CHECK (selection.getSelectedIndex() == 4);

        selection.reset();
        CHECK (selection.getSelectedIndex() == -1);
        CHECK (selection.getNumSelected() == 0);
    }

    SECTION ("a stored value that is not an array reads as no selection and is repaired on the first edit")
    {
        nonAudio().setProperty (selectionKey, 5, nullptr); // a bit mask, as a saved state holds it
        CHECK (selection.getSelectedIndex() == -1);
        CHECK (selection.getNumSelected() == 0);
        CHECK_FALSE (selection.isSelected (0));

        selection.set (3, true);
        REQUIRE (nonAudio()[selectionKey].isArray());
        CHECK (nonAudio()[selectionKey].getArray()->size() == 6);
        CHECK (selection.getSelectedIndex() == 3);
    }
}

TEST_CASE_METHOD (ModelFixture, "Solo state snapshot follows every writer of the tree", "[nodegraph]")
{
    // A second model over the same tree stands in for the editor; `model` for the audio path.
    NodeGraphParameters editor { tree };

    CHECK_FALSE (model.getSoloState().soloOn);
    CHECK (model.getSoloState().selectedIndex == -1);

    editor.getSelection().set (4, true);
    editor.getSelection().set (1, true);
    editor.getSoloValue() = true;

    // Published synchronously on the writing thread, no message loop needed.
    CHECK (model.getSoloState().soloOn);
    CHECK (model.getSoloState().selectedIndex == 1);
    CHECK (static_cast<bool> (nonAudio()[soloKey]));

    editor.getSelection().reset();
    CHECK (model.getSoloState().selectedIndex == -1);

    editor.getSoloValue() = false;
    CHECK_FALSE (model.getSoloState().soloOn);
}

TEST_CASE_METHOD (ModelFixture, "The model follows a replaced state", "[nodegraph]")
{
    auto oldNonAudio = nonAudio();

    SECTION ("values and snapshot re-link to the new editor-only child")
    {
        auto newState = stateWith (true, makeSelection ({ false, true, false, false, false, false }));
        newState.getChildWithProperty ("id", "filterFreq2").setProperty ("value", 500.0f, nullptr);

        tree.replaceState (newState);

        CHECK (static_cast<bool> (model.getSoloValue().getValue()));
        CHECK (model.getSelection().getSelectedIndex() == 1);
        CHECK (model.getSoloState().soloOn);
        CHECK (model.getSoloState().selectedIndex == 1);
        CHECK (model.getNodeParameters (2).frequency == Approx (500.0f).epsilon (1.0e-4));

        // Writes reach the new tree only; the old one no longer counts.
        model.getSelection().set (3, true);
        CHECK (static_cast<bool> (nonAudio()[selectionKey][3]));
        CHECK_FALSE (static_cast<bool> (oldNonAudio[selectionKey][3]));

        oldNonAudio.setProperty (soloKey, false, nullptr);
        CHECK (model.getSoloState().soloOn);

        model.getSoloValue() = false;
        CHECK_FALSE (static_cast<bool> (nonAudio()[soloKey]));
        CHECK_FALSE (model.getSoloState().soloOn);
    }

    SECTION ("a state without the editor-only child reads as nothing selected, and links once the child appears")
    {
        auto newState = tree.copyState();
        newState.removeChild (newState.getChildWithName (nonAudioId), nullptr);
        tree.replaceState (newState);

        CHECK_FALSE (model.getSoloState().soloOn);
        CHECK (model.getSoloState().selectedIndex == -1);
        CHECK (model.getSelection().getSelectedIndex() == -1);
        model.getSelection().set (2, true); // lost, but harmless
        model.getSoloValue() = true;
        CHECK (model.getSelection().getSelectedIndex() == -1);

        juce::ValueTree child { nonAudioId };
        child.setProperty (soloKey, true, nullptr);
        child.setProperty (selectionKey, makeSelection ({ false, false, false, false, false, true }), nullptr);
        tree.state.appendChild (child, nullptr);

        CHECK (model.getSoloState().soloOn);
        CHECK (model.getSoloState().selectedIndex == 5);
        CHECK (model.getSelection().getSelectedIndex() == 5);
    }
}
