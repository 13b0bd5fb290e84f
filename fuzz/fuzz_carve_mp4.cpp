// An MP4 or QuickTime movie found by its content: any bytes as the candidate file from its first byte.

#include <cstddef>
#include <cstdint>

#include "fuzz/CarveChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    orv::fuzz::checkCarveParse("MP4", data, size);
    return 0;
}
