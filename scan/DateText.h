#pragma once

#include <string>

#include "volume/FileTime.h"

namespace orv {

// The date in the user's short date format and the time in the long time format (the C library's
// %x and %X in the locale set with setlocale).
std::u16string shortDateText(const LocalDateTime& time);
std::u16string longTimeText(const LocalDateTime& time);

} // namespace orv
