// One MFT record as the scan meets it. The first input byte picks the record size (odd: 4,096
// bytes, even: 1,024), the rest is the record, cut or padded with zeros to that size. The record
// sits in a buffer of exactly its size, so a read one byte past it is caught.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/RecordChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t recordSize = (data[0] & 1) != 0 ? 4096 : 1024;
    std::vector<std::uint8_t> record(recordSize, 0);
    std::copy_n(data + 1, std::min(size - 1, recordSize), record.begin());
    orv::fuzz::checkRecord(record);
    return 0;
}
