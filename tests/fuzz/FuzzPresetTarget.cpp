#include "FuzzEntryPoints.h"

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    return sorvanta_fuzz::readPreset (data, size);
}
