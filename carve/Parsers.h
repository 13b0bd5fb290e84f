#pragma once

// The parser of each format the carving knows; formats() lists them.

#include "carve/Format.h"

namespace orv::carve {

// Archives and the documents stored as archives, PDF documents and SQLite databases.
bool beginsZip(std::span<const std::uint8_t> head);
Parse parseZip(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);
bool beginsPdf(std::span<const std::uint8_t> head);
Parse parsePdf(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);
bool beginsSqlite(std::span<const std::uint8_t> head);
Parse parseSqlite(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);

} // namespace orv::carve
