#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <atomic>
#include <cstddef>

namespace test_support
{
/** Counts calls to the global allocation functions made on the calling thread while alive. */
class AllocationCounter
{
public:
    AllocationCounter();
    ~AllocationCounter();

    /** Allocations and frees seen since construction. */
    std::size_t allocations() const;
    std::size_t frees() const;

private:
    std::size_t startAllocations, startFrees;
};

/** A folder under the build tree that is emptied when created. */
juce::File freshTemporaryFolder (const juce::String& name);
} // namespace test_support
