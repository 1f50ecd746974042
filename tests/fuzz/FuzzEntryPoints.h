#pragma once

#include <cstddef>
#include <cstdint>

/** The entry functions shared by the libFuzzer targets and the corpus replay driver. Each takes
    one input, drives the code under test with it, checks invariants that must hold for any input
    and aborts when one does not, so that both libFuzzer and the replay test report it. */
namespace sorvanta_fuzz
{
/** Restores the bytes as a host's saved state, then processes audio and saves again. */
int restoreState (const std::uint8_t* data, std::size_t size);

/** Reads the bytes as a preset file through the preset library. */
int readPreset (const std::uint8_t* data, std::size_t size);
} // namespace sorvanta_fuzz
