#include "volume/FileTime.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace orv {

namespace {
constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
// 30828-09-14, the last moment a FILETIME can be converted to a calendar date.
constexpr std::uint64_t kLastConvertibleFileTime = 0x7FFF'35F4'F06C'7FFFull;
} // namespace

std::optional<LocalDateTime> fileTimeToLocal(std::uint64_t fileTime)
{
    if (fileTime > kLastConvertibleFileTime)
        return std::nullopt;
    const auto unixSeconds =
        static_cast<std::time_t>(static_cast<std::int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970);
    std::tm local{};
    if (!localtime_r(&unixSeconds, &local))
        return std::nullopt;
    return LocalDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,  local.tm_hour,
                         local.tm_min,         local.tm_sec,     local.tm_gmtoff};
}

std::string isoText(const LocalDateTime& time)
{
    const long offset = time.utcOffsetSeconds;
    const long offsetAbs = std::labs(offset);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", time.year, time.month, time.day,
                  time.hour, time.minute, time.second, offset < 0 ? '-' : '+', offsetAbs / 3600,
                  (offsetAbs % 3600) / 60);
    return text;
}

} // namespace orv
