#include "scan/WildcardMask.h"

namespace orv {

namespace {

char16_t foldAscii(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

} // namespace

std::optional<WildcardMask> WildcardMask::compile(std::u16string_view mask, std::string* error, Fault* fault)
{
    if (fault)
        *fault = Fault::None;
    const auto fail = [&](Fault kind, const char* why) -> std::optional<WildcardMask> {
        if (error)
            *error = why;
        if (fault)
            *fault = kind;
        return std::nullopt;
    };
    WildcardMask compiled;
    for (std::size_t i = 0; i < mask.size(); ++i) {
        const char16_t c = mask[i];
        if (c == u'*') {
            if (compiled.m_tokens.empty() || compiled.m_tokens.back().kind != Token::Kind::Star)
                compiled.m_tokens.emplace_back(Token::Kind::Star);
        } else if (c == u'?') {
            compiled.m_tokens.emplace_back(Token::Kind::Any);
        } else if (c == u'[') {
            Token set(Token::Kind::Set);
            std::size_t j = i + 1;
            if (j < mask.size() && mask[j] == u'!') {
                set.negated = true;
                ++j;
            }
            bool closed = false;
            while (j < mask.size()) {
                if (mask[j] == u']') {
                    closed = true;
                    break;
                }
                if (mask[j] == u'-')
                    return fail(Fault::RangeWithoutStart, "a range in the mask has no first character");
                const char16_t low = mask[j];
                if (j + 2 < mask.size() && mask[j + 1] == u'-' && mask[j + 2] != u']') {
                    const char16_t high = mask[j + 2];
                    if (high < low)
                        return fail(Fault::RangeBackwards, "a range in the mask runs backwards");
                    set.ranges.push_back({low, high});
                    j += 3;
                } else {
                    set.ranges.push_back({low, low});
                    ++j;
                }
            }
            if (!closed)
                return fail(Fault::Unclosed, "the mask has a \"[\" without \"]\"");
            if (set.ranges.empty())
                return fail(Fault::EmptySet, "the mask has an empty set \"[]\"");
            compiled.m_tokens.push_back(std::move(set));
            i = j;
        } else {
            compiled.m_tokens.emplace_back(Token::Kind::Literal, c);
        }
    }
    return compiled;
}

bool WildcardMask::matchesOne(const Token& token, char16_t c) const
{
    switch (token.kind) {
    case Token::Kind::Any: return true;
    case Token::Kind::Literal: return foldAscii(token.literal) == foldAscii(c);
    case Token::Kind::Set: {
        bool inSet = false;
        for (const Range& range : token.ranges) {
            if ((c >= range.low && c <= range.high) ||
                (foldAscii(c) >= foldAscii(range.low) && foldAscii(c) <= foldAscii(range.high))) {
                inSet = true;
                break;
            }
        }
        return inSet != token.negated;
    }
    case Token::Kind::Star: return false;
    }
    return false;
}

bool WildcardMask::matches(std::u16string_view name) const
{
    // Every token but "*" takes exactly one character, so going back to the last "*" and letting
    // it take one more character finds a match whenever there is one, in linear steps per star.
    std::size_t t = 0, n = 0;
    std::size_t starToken = std::u16string_view::npos, starName = 0;
    while (n < name.size()) {
        if (t < m_tokens.size() && m_tokens[t].kind == Token::Kind::Star) {
            starToken = t++;
            starName = n;
        } else if (t < m_tokens.size() && matchesOne(m_tokens[t], name[n])) {
            ++t;
            ++n;
        } else if (starToken != std::u16string_view::npos) {
            t = starToken + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (t < m_tokens.size() && m_tokens[t].kind == Token::Kind::Star)
        ++t;
    return t == m_tokens.size();
}

} // namespace orv
