#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// A file-name mask: "*" any run of characters (also none), "?" one character, "[a-z0]" one
// character of a set, "[!...]" one character outside it; anything else matches itself, the
// letters a to z without regard to case. The whole name must match the whole mask.
class WildcardMask
{
public:
    // What is wrong with a mask that is not well formed; a window says it in its own language.
    enum class Fault { None, RangeWithoutStart, RangeBackwards, Unclosed, EmptySet };

    // The mask, or nothing with `error` (in English) and `fault` set when it is not well formed
    // ("[" without "]", an empty set, a range without a first character).
    static std::optional<WildcardMask> compile(std::u16string_view mask, std::string* error = nullptr,
                                               Fault* fault = nullptr);

    bool matches(std::u16string_view name) const;

private:
    struct Range
    {
        char16_t low, high;
    };
    struct Token
    {
        enum class Kind { Star, Any, Set, Literal };
        explicit Token(Kind k, char16_t c = 0) : kind(k), literal(c) {}
        Kind kind;
        char16_t literal = 0;
        bool negated = false;
        std::vector<Range> ranges;
    };

    bool matchesOne(const Token& token, char16_t c) const;

    std::vector<Token> m_tokens;
};

// The text that turns the mask test off: every name passes, names without a dot included.
inline constexpr std::u16string_view kMatchEverything = u"*.*";

} // namespace orv
