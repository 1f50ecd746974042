#define CATCH_CONFIG_RUNNER
#include <catch2/catch.hpp>

#include <juce_events/juce_events.h>

int main (int argc, char* argv[])
{
    // Parameter trees, attachments and hosted plug-ins expect a message manager.
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    return Catch::Session().run (argc, argv);
}
