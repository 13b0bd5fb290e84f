#include "base/Trim.h"

namespace orv {

namespace {

template <typename Char, typename Cut>
std::basic_string_view<Char> trimWhere(std::basic_string_view<Char> text, Cut cut)
{
    while (!text.empty() && cut(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && cut(text.back()))
        text.remove_suffix(1);
    return text;
}

template <typename Char>
bool isBlank(Char c)
{
    return c == Char(' ') || c == Char('\t') || c == Char('\r') || c == Char('\n');
}

} // namespace

std::string_view trimBlanks(std::string_view text)
{
    return trimWhere(text, isBlank<char>);
}

std::u16string_view trimBlanks(std::u16string_view text)
{
    return trimWhere(text, isBlank<char16_t>);
}

std::string_view trimControls(std::string_view text)
{
    return trimWhere(text, [](char c) { return static_cast<unsigned char>(c) <= 0x20; });
}

} // namespace orv
