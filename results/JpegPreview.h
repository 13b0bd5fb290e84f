#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "scan/ScanSession.h"

namespace orv {

struct RgbImage
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels; // rows top down, three bytes (R, G, B) per pixel
};

// Where a picture goes in the preview box: scaled with its aspect ratio kept to the largest size
// that fits (small pictures are enlarged too), and centred.
struct Placement
{
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Placement&) const = default;
};
Placement fitIntoBox(int width, int height, int box = 48);

// A JPEG decoded from memory; nothing for data that is not a whole, sound JPEG. Large pictures are
// decoded at a reduced scale that still covers `atLeast` pixels each way.
std::optional<RgbImage> decodeJpeg(std::span<const std::uint8_t> bytes, int atLeast = 48);

struct Preview
{
    enum class Outcome {
        Nothing, // no record, size 0, or a first sector without the JPEG signature
        Picture, // image holds the decoded picture
        Icon, // the bytes did not decode: show the JPEG file-type icon
    };
    Outcome outcome = Outcome::Nothing;
    RgbImage image;
};

// The preview of the deleted JPEG at `locator`: its bytes taken as a restore
// takes them, but kept in memory (nothing is written to disk), and decoded. Files larger than
// `limit` bytes are not read for a preview and show the icon.
Preview PreviewFile(ScanSession& session, const FileLocator& locator, Pump& pump,
                    std::int64_t limit = 64 * 1024 * 1024);
// The same for the NTFS record at `recordOffset` of MftBuffer.
Preview PreviewFileNTFS(ScanSession& session, std::int64_t recordOffset, Pump& pump,
                        std::int64_t limit = 64 * 1024 * 1024);

} // namespace orv
