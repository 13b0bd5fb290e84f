#include "carve/Format.h"

#include <array>

#include "carve/Parsers.h"

namespace orv::carve {

namespace {

// Formats with the most particular signatures first: a cluster that could begin two kinds of file
// is taken by the one that checks more.
constexpr std::array<Format, 0> kFormats{};

} // namespace

std::span<const Format> formats()
{
    return kFormats;
}

} // namespace orv::carve
