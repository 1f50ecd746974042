// Several threads drive one processor the way hosts and the editor do. The ThreadSanitizer build
// (make sanitize-thread) runs it longer (SORVANTA_STRESS_SECONDS) to prove the hand-overs race-free;
// in every build it checks that nothing deadlocks, every thread makes progress and the output
// stays finite.

#include "core/PluginProcessor.h"
#include "gui/node_graph/NodeGraphParameters.h"

#include <catch2/catch.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#if JUCE_LINUX
namespace juce
{
// JUCE's own Linux message pump, as its plug-in wrappers use it.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce
#endif

using namespace ombrel;

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 128;

struct Progress
{
    std::atomic<int> blocks { 0 }, automations { 0 }, saves { 0 }, restores { 0 }, editorEdits { 0 };

    bool enough (int minimum) const
    {
        return blocks >= minimum && automations >= minimum && saves >= minimum && restores >= minimum
               && editorEdits >= minimum;
    }
};

juce::MemoryBlock save (BrimvaleAudioProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation (block);
    return block;
}

// A state unlike the defaults: every parameter somewhere else, solo on with nodes 1 and 3 selected.
juce::MemoryBlock makeOtherState()
{
    BrimvaleAudioProcessor source;
    std::mt19937 random { 7 };
    std::uniform_real_distribution<float> anywhere { 0.0f, 1.0f };

    for (auto* parameter : source.getParameters())
        parameter->setValueNotifyingHost (anywhere (random));

    node_graph::gui::NodeGraphParameters editor { source.mParameters };
    editor.getSelection().set (1, true);
    editor.getSelection().set (3, true);
    editor.getSoloValue() = true;

    return save (source);
}

void dispatchPendingMessages()
{
#if JUCE_LINUX
    for (int i = 0; i < 50 && juce::dispatchNextMessageOnSystemQueue (true); ++i)
    {
    }
#endif
}
} // namespace

TEST_CASE ("Audio, automation, state calls and editor-only values on their own threads", "[stress][processor]")
{
    BrimvaleAudioProcessor processor;
    processor.prepareToPlay (sampleRate, blockSize);

    const auto otherState = makeOtherState();
    const auto defaultState = save (processor);

    // Bad data the restoring thread mixes in: it must change nothing and break nothing.
    juce::MemoryBlock truncated (otherState.getData(), otherState.getSize() / 2);
    juce::MemoryBlock garbage (otherState.getSize(), true);
    {
        std::mt19937 random { 3 };
        for (size_t i = 0; i < garbage.getSize(); ++i)
            garbage[i] = static_cast<char> (random());
    }
    const juce::MemoryBlock* restores[] { &otherState, &defaultState, &truncated, &garbage };

    std::atomic<bool> stop { false };
    std::atomic<int> running { 3 };
    std::atomic<bool> outputFinite { true }, savesReadable { true };
    Progress progress;

    // The host's audio thread: stereo main input followed by the stereo side-chain.
    std::thread audio ([&]
    {
        juce::AudioBuffer<float> buffer (4, blockSize);
        juce::MidiBuffer midi;
        std::minstd_rand random { 11 };
        std::uniform_real_distribution<float> noise { -1.0f, 1.0f };

        while (! stop)
        {
            // Drum-like bursts: a loud block now and then, quiet noise in between.
            const auto level = progress.blocks % 16 == 0 ? 1.0f : 0.01f;
            for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
                for (int i = 0; i < blockSize; ++i)
                    buffer.setSample (ch, i, level * noise (random));

            processor.processBlock (buffer, midi);

            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < blockSize; ++i)
                    if (! std::isfinite (buffer.getSample (ch, i)))
                        outputFinite = false;

            ++progress.blocks;
        }
        --running;
    });

    // The host automating: random parameters to random values, with gestures.
    std::thread automation ([&]
    {
        const auto& parameters = processor.getParameters();
        std::mt19937 random { 5 };
        std::uniform_int_distribution<int> which { 0, parameters.size() - 1 };
        std::uniform_real_distribution<float> value { 0.0f, 1.0f };

        while (! stop)
        {
            auto* parameter = parameters[which (random)];
            parameter->beginChangeGesture();
            parameter->setValueNotifyingHost (value (random));
            parameter->endChangeGesture();
            ++progress.automations;
            std::this_thread::yield();
        }
        --running;
    });

    // The host saving and restoring, as for undo, presets of its own or a session reload.
    std::thread state ([&]
    {
        size_t next = 0;

        while (! stop)
        {
            const auto saved = save (processor);
            if (juce::AudioProcessor::getXmlFromBinary (saved.getData(), static_cast<int> (saved.getSize())) == nullptr)
                savesReadable = false;
            ++progress.saves;

            const auto* data = restores[next++ % std::size (restores)];
            processor.setStateInformation (data->getData(), static_cast<int> (data->getSize()));
            ++progress.restores;
        }
        --running;
    });

    // This thread is the message thread: the editor's model toggles solo and the node selection
    // and reads them back, while pending messages are delivered.
    {
        node_graph::gui::NodeGraphParameters editor { processor.mParameters };
        std::mt19937 random { 9 };
        std::uniform_int_distribution<int> node { 0, editor.getNumNodes() - 1 };

        const auto start = std::chrono::steady_clock::now();
        // Half a second in the ordinary suite; the sanitizer run asks for longer.
        const auto seconds = juce::SystemStats::getEnvironmentVariable ("SORVANTA_STRESS_SECONDS", "0.5").getDoubleValue();
        const auto minimumTime = std::chrono::duration<double> (seconds);
        const auto maximumTime = std::chrono::seconds (60);

        for (;;)
        {
            const auto elapsed = std::chrono::steady_clock::now() - start;
            if ((elapsed > minimumTime && progress.enough (20)) || elapsed > maximumTime)
                break;

            editor.getSoloValue() = ! static_cast<bool> (editor.getSoloValue().getValue());
            const auto index = node (random);
            editor.getSelection().set (index, ! editor.getSelection().isSelected (index));
            (void) editor.getSelection().getSelectedIndex();
            ++progress.editorEdits;

            dispatchPendingMessages();
            std::this_thread::sleep_for (std::chrono::microseconds (200));
        }

        // A state call from the host's thread holds the message thread, so it keeps delivering
        // messages until every other thread is done.
        stop = true;
        while (running > 0)
        {
            dispatchPendingMessages();
            std::this_thread::sleep_for (std::chrono::microseconds (100));
        }

        audio.join();
        automation.join();
        state.join();
        dispatchPendingMessages();
    }

    INFO ("blocks " << progress.blocks << ", automations " << progress.automations << ", saves " << progress.saves
                    << ", restores " << progress.restores << ", editor edits " << progress.editorEdits);
    CHECK (progress.enough (20));
    CHECK (outputFinite);
    CHECK (savesReadable);

    // After the storm the instance still restores exactly what it is given.
    processor.setStateInformation (otherState.getData(), static_cast<int> (otherState.getSize()));
    const auto again = save (processor);
    auto expected = juce::AudioProcessor::getXmlFromBinary (otherState.getData(), static_cast<int> (otherState.getSize()));
    auto actual = juce::AudioProcessor::getXmlFromBinary (again.getData(), static_cast<int> (again.getSize()));
    REQUIRE (expected != nullptr);
    REQUIRE (actual != nullptr);

    for (auto* parameter : processor.getParameters())
    {
        const auto id = dynamic_cast<juce::RangedAudioParameter*> (parameter)->getParameterID();
        auto* expectedEntry = expected->getChildByAttribute ("id", id);
        auto* actualEntry = actual->getChildByAttribute ("id", id);
        REQUIRE (expectedEntry != nullptr);
        REQUIRE (actualEntry != nullptr);
        INFO (id);
        CHECK (actualEntry->getDoubleAttribute ("value") == Approx (expectedEntry->getDoubleAttribute ("value")).margin (1.0e-4));
    }

    const auto* editorChild = actual->getChildByName ("NonAudioParameters");
    REQUIRE (editorChild != nullptr);
    CHECK (editorChild->getIntAttribute ("selectedFilters") == 0b1010);
    CHECK (editorChild->getIntAttribute ("soloNode") == 1);
}
