#include "platform/SystemMemory.h"

#include <fstream>
#include <sstream>
#include <string>

namespace orv {

std::uint64_t AvailablePhysicalMemory()
{
    std::ifstream in("/proc/meminfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        std::uint64_t kib = 0;
        if (fields >> key >> kib && key == "MemAvailable:")
            return kib * 1024;
    }
    return 0;
}

} // namespace orv
