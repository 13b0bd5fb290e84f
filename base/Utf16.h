#pragma once

#include <string>
#include <string_view>

namespace orv {

// UTF-8 for showing a name; code units that are not valid UTF-16 show as U+FFFD.
std::string toUtf8(std::u16string_view text);
// The same, appended to `out`: a writer of many names keeps one buffer.
void appendUtf8(std::string& out, std::u16string_view text);

// UTF-16 from UTF-8; bytes that are not valid UTF-8 become U+FFFD.
std::u16string fromUtf8(std::string_view text);

// The ASCII text as UTF-16.
std::u16string fromAscii(std::string_view text);

} // namespace orv
