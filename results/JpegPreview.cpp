#include "results/JpegPreview.h"

#include "results/FileSystem.h"

#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

#include "results/FileContent.h"
#include "results/Recoverability.h"

namespace orv {

Placement fitIntoBox(int width, int height, int box)
{
    if (width <= 0 || height <= 0)
        return {};
    Placement p;
    const auto scaled = [box](std::int64_t side, std::int64_t longest) {
        return std::max(1, static_cast<int>((side * box + longest / 2) / longest));
    };
    if (width >= height) {
        p.width = box;
        p.height = scaled(height, width);
    } else {
        p.height = box;
        p.width = scaled(width, height);
    }
    p.x = (box - p.width) / 2;
    p.y = (box - p.height) / 2;
    return p;
}

namespace {

// libjpeg reports errors by calling error_exit, which by default ends the process: a damaged
// picture from a disk must only end the decoding.
struct ErrorManager
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

extern "C" void onJpegError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

extern "C" void onJpegMessage(j_common_ptr) {}

} // namespace

std::optional<RgbImage> decodeJpeg(std::span<const std::uint8_t> bytes, int atLeast)
{
    if (bytes.empty())
        return std::nullopt;
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onJpegError;
    errors.base.output_message = onJpegMessage;
    // Made before the jump point and never reassigned after it, so it is intact after a jump.
    const auto image = std::make_unique<RgbImage>();
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    info.out_color_space = JCS_RGB;
    // A preview needs few pixels: let the decoder scale down by up to 8.
    info.scale_num = 1;
    info.scale_denom = 1;
    for (unsigned denom = 8; denom > 1; denom /= 2) {
        if (info.image_width / denom >= static_cast<unsigned>(atLeast) &&
            info.image_height / denom >= static_cast<unsigned>(atLeast)) {
            info.scale_denom = denom;
            break;
        }
    }
    jpeg_start_decompress(&info);
    image->width = static_cast<int>(info.output_width);
    image->height = static_cast<int>(info.output_height);
    const std::size_t row = static_cast<std::size_t>(image->width) * 3;
    image->pixels.resize(row * static_cast<std::size_t>(image->height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW line = image->pixels.data() + row * info.output_scanline;
        jpeg_read_scanlines(&info, &line, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return std::move(*image);
}

Preview PreviewFile(ScanSession& session, const FileLocator& locator, Pump& pump, std::int64_t limit)
{
    Preview preview;
    FileSystem& fileSystem = fileSystemOf(session);
    const OpenedFile file = fileSystem.open(session, locator);
    if (!file.found || file.size == 0)
        return preview;
    if (file.encrypted)
        return preview; // ciphertext: there is no picture to show
    // A first cluster that no longer starts like a JPEG has been reused: nothing to show.
    if (file.firstStoredCluster && !SignatureMatches(session.volume, *file.firstStoredCluster, u".JPG"))
        return preview;
    preview.outcome = Preview::Outcome::Icon;
    if (file.size > limit)
        return preview;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(file.size));
    fileSystem.stream(
        session, pump, [] { return true; },
        [&](std::span<const std::uint8_t> piece) {
            bytes.insert(bytes.end(), piece.begin(), piece.end());
            return true;
        },
        {});
    if (auto image = decodeJpeg(bytes)) {
        preview.outcome = Preview::Outcome::Picture;
        preview.image = std::move(*image);
    }
    return preview;
}

Preview PreviewFileNTFS(ScanSession& session, std::int64_t recordOffset, Pump& pump, std::int64_t limit)
{
    return PreviewFile(session, {FileLocator::Kind::MftRecord, recordOffset}, pump, limit);
}

} // namespace orv
