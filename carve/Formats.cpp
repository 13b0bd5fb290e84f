#include "carve/Format.h"

#include "carve/Parsers.h"

namespace orv::carve {

namespace {

// Formats with the most particular signatures first: a cluster that could begin two kinds of file
// is taken by the one that checks more.
constexpr Format kFormats[] = {
    // Pictures, sound and video: long signatures first, then the ones that rest on header checks.
    {"PNG", beginsPng, parsePng}, {"RIFF", beginsRiff, parseRiff}, {"MP4", beginsMp4, parseMp4},
    {"GIF", beginsGif, parseGif}, {"TIFF", beginsTiff, parseTiff}, {"JPEG", beginsJpeg, parseJpeg},
    {"BMP", beginsBmp, parseBmp}, {"MP3", beginsMp3, parseMp3},
};

} // namespace

std::span<const Format> formats()
{
    return kFormats;
}

} // namespace orv::carve
