#include "scan/DateText.h"

#include <ctime>
#include <cwchar>

namespace orv {

namespace {

std::u16string format(const LocalDateTime& time, const wchar_t* pattern)
{
    std::tm tm{};
    tm.tm_year = time.year - 1900;
    tm.tm_mon = time.month - 1;
    tm.tm_mday = time.day;
    tm.tm_hour = time.hour;
    tm.tm_min = time.minute;
    tm.tm_sec = time.second;
    tm.tm_isdst = -1;
    wchar_t text[128];
    // The wide form keeps the locale's own characters, whatever its byte encoding.
    const std::size_t length = std::wcsftime(text, sizeof text / sizeof text[0], pattern, &tm);
    std::u16string out;
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<char32_t>(text[i]);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

} // namespace

std::u16string shortDateText(const LocalDateTime& time)
{
    return format(time, L"%x");
}

std::u16string longTimeText(const LocalDateTime& time)
{
    return format(time, L"%X");
}

} // namespace orv
