#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orv {

// A moment in the user's local time, as the lists show it.
struct LocalDateTime
{
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;
    long utcOffsetSeconds = 0; // east of UTC
    bool operator==(const LocalDateTime&) const = default;
};

// An NTFS time (100-nanosecond units since 1601-01-01 UTC) in the user's time zone. Nothing when
// the moment lies outside what the system calendar can convert (years before 1601 or after 30827
// cannot be NTFS times at all).
std::optional<LocalDateTime> fileTimeToLocal(std::uint64_t fileTime);

// "2026-12-10T05:00:44+01:00".
std::string isoText(const LocalDateTime& time);

} // namespace orv
