#include "carve/Format.h"

#include <array>

#include "carve/Parsers.h"

namespace orv::carve {

namespace {

// Formats with the most particular signatures first: a cluster that could begin two kinds of file
// is taken by the one that checks more.
constexpr std::array kFormats{
    // SQLite's sixteen-byte signature and fixed payload fractions, PDF's header, then ZIP's four
    // bytes with a few header fields.
    Format{"SQLite", beginsSqlite, parseSqlite},
    Format{"PDF", beginsPdf, parsePdf},
    Format{"ZIP", beginsZip, parseZip},
};

} // namespace

std::span<const Format> formats()
{
    return kFormats;
}

} // namespace orv::carve
