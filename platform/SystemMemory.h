#pragma once

#include <cstdint>

namespace orv {

// Physical memory that programs can still take without pushing others into swap, in bytes; 0
// when the system does not say.
std::uint64_t AvailablePhysicalMemory();

} // namespace orv
