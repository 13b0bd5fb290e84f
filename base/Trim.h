#pragma once

#include <string_view>

namespace orv {

// Without the space, tab, CR and LF at either end: what a line of a text file carries around its
// words.
std::string_view trimBlanks(std::string_view text);
std::u16string_view trimBlanks(std::u16string_view text);

// Without any byte up to 0x20 at either end: blanks and control characters alike. Bytes of
// multi-byte UTF-8 characters are never among them, so a name's letters stay whole.
std::string_view trimControls(std::string_view text);

} // namespace orv
