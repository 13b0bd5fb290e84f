#pragma once

// What every format parser must hold to on any bytes: it stays inside them, and what it reports
// describes a file that fits in them.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "carve/Format.h"
#include "carve/SpanBytes.h"
#include "fuzz/RecordChecks.h"

namespace orv::fuzz {

// Runs the parser of format `name` over the input whole, with its limit at the input's size and
// without one, and checks the report.
inline void checkCarveParse(std::string_view name, const std::uint8_t* data, std::size_t size)
{
    const carve::Format* format = nullptr;
    for (const carve::Format& f : carve::formats())
        if (f.name == name)
            format = &f;
    require(format != nullptr, "the format is not in formats()");
    // A copy of exactly the input's size, so a read one byte past it is caught.
    const std::vector<std::uint8_t> bytes(data, data + size);
    format->begins(std::span(bytes).first(std::min(bytes.size(), carve::kHeadBytes)));
    for (const std::uint64_t limit : {static_cast<std::uint64_t>(size), std::uint64_t{1} << 40}) {
        carve::SpanBytes source(bytes);
        const carve::Parse p = format->parse(source, limit, 0);
        if (p.verdict == carve::Verdict::None)
            continue;
        require(p.size <= size && p.size <= limit, "a file longer than the bytes it was read from");
        require(p.verdict != carve::Verdict::Whole || p.size > 0, "an empty file reported whole");
        require(p.goodUpTo <= size, "checked bytes beyond the input");
        require(p.brokeAt == 0 || p.brokeAt >= p.goodUpTo, "a break before the good part ends");
        require(!p.extension.empty(), "a file without an extension");
    }
}

} // namespace orv::fuzz
