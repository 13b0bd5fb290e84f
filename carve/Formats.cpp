#include "carve/Format.h"

#include "carve/Parsers.h"

namespace orv::carve {

namespace {

// Formats with the most particular signatures first: a cluster that could begin two kinds of file
// is taken by the one that checks more.
constexpr Format kFormats[] = {
    // SQLite's sixteen-byte signature and fixed payload fractions, PDF's header, ZIP's four bytes
    // with a few header fields; then pictures, sound and video: long signatures first, then the
    // ones that rest on header checks.
    {"SQLite", beginsSqlite, parseSqlite}, {"PDF", beginsPdf, parsePdf},    {"ZIP", beginsZip, parseZip},
    {"PNG", beginsPng, parsePng},          {"RIFF", beginsRiff, parseRiff}, {"MP4", beginsMp4, parseMp4},
    {"GIF", beginsGif, parseGif},          {"TIFF", beginsTiff, parseTiff}, {"JPEG", beginsJpeg, parseJpeg},
    {"BMP", beginsBmp, parseBmp},          {"MP3", beginsMp3, parseMp3},
};

} // namespace

std::span<const Format> formats()
{
    return kFormats;
}

} // namespace orv::carve
