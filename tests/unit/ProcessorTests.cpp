#include "core/PluginProcessor.h"

#include <catch2/catch.hpp>

using namespace ombrel;

TEST_CASE ("Processor identity and capabilities", "[processor]")
{
    BrimvaleAudioProcessor processor;

    CHECK (processor.getName() == "ombrel - sorvanta");
    CHECK (processor.getTailLengthSeconds() == 0.0);
    CHECK_FALSE (processor.acceptsMidi());
    CHECK_FALSE (processor.producesMidi());
    CHECK_FALSE (processor.isMidiEffect());
    CHECK (processor.getNumPrograms() == 1);
    CHECK (processor.getCurrentProgram() == 0);
    CHECK (processor.getProgramName (0).isEmpty());
    processor.setCurrentProgram (5);
    CHECK (processor.getCurrentProgram() == 0);
    CHECK (processor.mPresetName == "Default");
    CHECK (processor.mParameters.state.getType().toString() == "BrimvaleParameters");
}

TEST_CASE ("Three buses: stereo input, stereo output, optional stereo side-chain", "[processor]")
{
    BrimvaleAudioProcessor processor;

    REQUIRE (processor.getBusCount (true) == 2);
    REQUIRE (processor.getBusCount (false) == 1);
    CHECK (processor.getBus (true, 0)->getName() == "Input");
    CHECK (processor.getBus (false, 0)->getName() == "Output");
    CHECK (processor.getBus (true, 1)->getName() == "Sidechain");

    for (auto* bus : { processor.getBus (true, 0), processor.getBus (false, 0), processor.getBus (true, 1) })
    {
        CHECK (bus->getDefaultLayout() == juce::AudioChannelSet::stereo());
        CHECK (bus->isEnabled());
    }
}

TEST_CASE ("Main layouts mono or stereo with input equal to output; any side-chain", "[processor]")
{
    BrimvaleAudioProcessor processor;
    using Set = juce::AudioChannelSet;

    struct Case
    {
        Set in, out, side;
        bool supported;
    };

    const Case cases[] = {
        { Set::mono(), Set::mono(), Set::stereo(), true },
        { Set::stereo(), Set::stereo(), Set::stereo(), true },
        { Set::stereo(), Set::stereo(), Set::mono(), true },
        { Set::stereo(), Set::stereo(), Set::disabled(), true },
        { Set::mono(), Set::mono(), Set::create5point1(), true },
        { Set::mono(), Set::stereo(), Set::stereo(), false },
        { Set::stereo(), Set::mono(), Set::stereo(), false },
        { Set::create5point1(), Set::create5point1(), Set::stereo(), false },
        { Set::disabled(), Set::disabled(), Set::stereo(), false },
    };

    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (c.in);
        layout.inputBuses.add (c.side);
        layout.outputBuses.add (c.out);
        INFO (c.in.getDescription() << " -> " << c.out.getDescription() << ", side " << c.side.getDescription());
        CHECK (processor.checkBusesLayoutSupported (layout) == c.supported);
    }
}

TEST_CASE ("Latency is 10 ms of samples whatever the lookahead", "[processor]")
{
    const std::pair<double, int> cases[] = { { 44100.0, 441 }, { 48000.0, 480 }, { 96000.0, 960 }, { 22050.0, 220 }, { 192000.0, 1920 } };

    for (auto lookahead : { 0.0f, 4.0f, 10.0f })
    {
        BrimvaleAudioProcessor processor;
        auto* param = processor.mParameters.getParameter ("lookahead");
        param->setValueNotifyingHost (param->convertTo0to1 (lookahead));

        for (const auto& [rate, latency] : cases)
        {
            processor.prepareToPlay (rate, 512);
            INFO (rate << " Hz, lookahead " << lookahead);
            CHECK (processor.getLatencySamples() == latency);
        }
    }
}
