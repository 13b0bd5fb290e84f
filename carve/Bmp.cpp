// BMP: the file header's size, checked against what the info header says the pixels take.

#include <limits>

#include "carve/BlockReader.h"
#include "carve/Parsers.h"

namespace orv::carve {

namespace {

namespace field {
constexpr std::size_t kFileSize = 2; // u32
constexpr std::size_t kReserved = 6; // u32, 0
constexpr std::size_t kPixelOffset = 10; // u32
constexpr std::size_t kInfoSize = 14; // u32
constexpr std::size_t kWidth = 18; // s32 (u16 in the 12-byte core header)
constexpr std::size_t kPlanes = 26; // u16, 1
constexpr std::size_t kBits = 28; // u16
constexpr std::size_t kCompression = 30; // u32
constexpr std::size_t kImageSize = 34; // u32, may be 0 for uncompressed pixels
} // namespace field

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kJpeg = 4;
constexpr std::uint32_t kPng = 5;
constexpr std::uint32_t kAlphaBitFields = 6;

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}
std::uint16_t le16(std::span<const std::uint8_t> b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// The file's length as its headers give it, or nullopt when they disagree. `header` holds the
// first 54 bytes.
std::optional<std::uint64_t> lengthOf(std::span<const std::uint8_t> header)
{
    if (header.size() < 54 || header[0] != 'B' || header[1] != 'M')
        return std::nullopt;
    const std::uint64_t fileSize = le32(header, field::kFileSize);
    const std::uint64_t pixelOffset = le32(header, field::kPixelOffset);
    const std::uint32_t infoSize = le32(header, field::kInfoSize);
    if (le32(header, field::kReserved) != 0)
        return std::nullopt;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint32_t bits = 0;
    std::uint32_t compression = kRgb;
    std::uint64_t imageSize = 0;
    if (infoSize == 12) { // the core header: u16 width, height, planes, bits
        width = le16(header, 18);
        height = le16(header, 20);
        if (le16(header, 22) != 1)
            return std::nullopt;
        bits = le16(header, 24);
    } else if (infoSize == 16 || infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 64 ||
               infoSize == 108 || infoSize == 124) {
        const auto w = static_cast<std::int32_t>(le32(header, field::kWidth));
        const auto h = static_cast<std::int32_t>(le32(header, field::kWidth + 4));
        if (w <= 0 || h == 0 || h == std::numeric_limits<std::int32_t>::min() || le16(header, field::kPlanes) != 1)
            return std::nullopt;
        width = static_cast<std::uint64_t>(w);
        height = static_cast<std::uint64_t>(h < 0 ? -static_cast<std::int64_t>(h) : h);
        bits = le16(header, field::kBits);
        if (infoSize > 16) {
            compression = le32(header, field::kCompression);
            imageSize = le32(header, field::kImageSize);
        }
    } else {
        return std::nullopt;
    }
    if (width == 0 || height == 0 || width > 1u << 20 || height > 1u << 20)
        return std::nullopt;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32 &&
        !(bits == 0 && (compression == kJpeg || compression == kPng)))
        return std::nullopt;
    // The pixels cannot start inside the headers.
    if (pixelOffset < 14 + infoSize || pixelOffset > fileSize || fileSize < 14 + infoSize + 2)
        return std::nullopt;
    const std::uint64_t stride = (width * bits + 31) / 32 * 4;
    switch (compression) {
    case kRgb:
    case kBitFields:
    case kAlphaBitFields: {
        if (compression != kRgb && bits != 16 && bits != 32)
            return std::nullopt;
        const std::uint64_t pixels = stride * height;
        if (imageSize != 0 && imageSize != pixels)
            return std::nullopt;
        // Some writers pad the file after the pixels to an even or 4-byte length.
        if (fileSize < pixelOffset + pixels || fileSize > pixelOffset + pixels + 4)
            return std::nullopt;
        break;
    }
    case kRle8:
    case kRle4:
        if ((compression == kRle8 && bits != 8) || (compression == kRle4 && bits != 4))
            return std::nullopt;
        [[fallthrough]];
    case kJpeg:
    case kPng:
        if (imageSize == 0 || pixelOffset + imageSize > fileSize || fileSize > pixelOffset + imageSize + 4)
            return std::nullopt;
        break;
    default: return std::nullopt;
    }
    return fileSize;
}

} // namespace

bool beginsBmp(std::span<const std::uint8_t> head)
{
    return lengthOf(head).has_value();
}

Parse parseBmp(Bytes& bytes, std::uint64_t limit, std::uint64_t /*stopAfter*/)
{
    BlockReader in(bytes, limit);
    Parse p;
    p.extension = "bmp";
    std::uint8_t header[54];
    if (!in.get(0, header))
        return p;
    const auto length = lengthOf(header);
    if (!length)
        return p;
    // Nothing inside the pixels can be checked: the file is as long as its headers agree it is.
    if (in.has(*length)) {
        p.verdict = Verdict::Whole;
        p.size = *length;
    } else {
        p.verdict = Verdict::Cut;
        p.size = in.extent(*length);
    }
    p.goodUpTo = p.size;
    return p;
}

} // namespace orv::carve
