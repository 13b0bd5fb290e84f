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
// Pictures, sound and video.
bool beginsPng(std::span<const std::uint8_t> head);
Parse parsePng(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);
bool beginsRiff(std::span<const std::uint8_t> head);
Parse parseRiff(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);
bool beginsMp4(std::span<const std::uint8_t> head);
Parse parseMp4(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);
bool beginsGif(std::span<const std::uint8_t> head);
Parse parseGif(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);
bool beginsTiff(std::span<const std::uint8_t> head);
Parse parseTiff(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);
bool beginsJpeg(std::span<const std::uint8_t> head);
Parse parseJpeg(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);
bool beginsBmp(std::span<const std::uint8_t> head);
Parse parseBmp(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);
bool beginsMp3(std::span<const std::uint8_t> head);
Parse parseMp3(Bytes& bytes, std::uint64_t limit, std::uint64_t stopAfter);

} // namespace orv::carve
