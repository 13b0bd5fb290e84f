// The PDF parser of files found by their content, over any bytes.

#include "fuzz/CarveChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    orv::fuzz::checkCarveParse("PDF", data, size);
    return 0;
}
