// A WAV or AVI found by its content: any bytes as the candidate file from its first byte.

#include <cstddef>
#include <cstdint>

#include "fuzz/CarveChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    orv::fuzz::checkCarveParse("RIFF", data, size);
    return 0;
}
