#include "ntfs/MftView.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "platform/linux/FileDevice.h"
#include "tests/support/Devices.h"
#include "tests/support/RecordBuilder.h"
#include "tests/support/TempFolder.h"

namespace orv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::TempFolder;

constexpr std::int64_t kMiB = 1024 * 1024;

Bytes pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 % 251 + 1);
    return bytes;
}

// The pieces of the device the view lays back to back: one crossing the view's 1 MiB blocks, a
// skipped one, one that starts inside a page.
const std::vector<MftView::Piece> kPieces = {{kMiB + 512, 2 * kMiB + 100}, {-1, 4096}, {4096 + 17, 8192}};

Bytes expectedView(const Bytes& device)
{
    Bytes view;
    for (const auto& piece : kPieces) {
        if (piece.position < 0)
            view.insert(view.end(), static_cast<std::size_t>(piece.length), 0);
        else
            view.insert(view.end(), device.begin() + piece.position, device.begin() + piece.position + piece.length);
    }
    return view;
}

// A record looked up alone reads that record, not the block around it, and leaves the blocks a
// walk is using where they are; one that lies in a block the cache holds comes from there.
TEST(MftView, ALookupReadsItsRecordAndKeepsTheWalksBlocks)
{
    const Bytes bytes = pattern(static_cast<std::size_t>(40 * kMiB));
    const auto device = std::make_shared<test::MemoryDevice>(bytes);
    MftView view;
    view.open(device, {{0, 40 * kMiB}});
    Bytes record(1024);
    ASSERT_TRUE(view.read(0, record)); // a walk reads its first block
    const int walked = device->reads;
    for (std::int64_t lookup = 1; lookup <= 32; ++lookup) {
        const std::int64_t at = lookup * kMiB + 4096;
        ASSERT_TRUE(view.readAlone(at, record));
        EXPECT_TRUE(std::equal(record.begin(), record.end(), bytes.begin() + at));
    }
    EXPECT_EQ(device->reads - walked, 32) << "one read of its own bytes per lookup";
    const int looked = device->reads;
    ASSERT_TRUE(view.readAlone(2048, record));
    ASSERT_TRUE(view.read(kMiB - 1024, record));
    EXPECT_EQ(device->reads, looked) << "the walk's block is still cached and serves both";
    EXPECT_TRUE(std::equal(record.begin(), record.end(), bytes.begin() + kMiB - 1024));
}

TEST(MftView, ReadsThePiecesBackToBackMappedOrRead)
{
    const Bytes device = pattern(static_cast<std::size_t>(4 * kMiB));
    const Bytes expected = expectedView(device);
    const TempFolder temp;
    const auto image = temp.path() / "volume.img";
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(device.data()), static_cast<std::streamsize>(device.size()));

    struct Source
    {
        const char* what;
        std::shared_ptr<SectorDevice> device;
    };
    const Source sources[] = {{"read from a device in memory", std::make_shared<test::MemoryDevice>(device)},
                              {"mapped from an image file", std::make_shared<FileDevice>(image.string())}};
    struct Window
    {
        const char* what;
        std::int64_t offset;
        std::size_t length;
    };
    const Window windows[] = {
        {"first record", 0, 1024},
        {"across the first block's end", kMiB - 10, 20},
        {"across the first piece's end into the skipped one", 2 * kMiB + 90, 40},
        {"the skipped piece", 2 * kMiB + 100, 4096},
        {"the last piece, to the view's end", 2 * kMiB + 100 + 4096, 8192},
        {"the whole view", 0, expected.size()},
    };
    for (const Source& source : sources) {
        SCOPED_TRACE(source.what);
        MftView view;
        view.open(source.device, kPieces);
        ASSERT_EQ(view.size(), expected.size());
        for (const Window& w : windows) {
            SCOPED_TRACE(w.what);
            Bytes got(w.length, 0xEE);
            ASSERT_TRUE(view.read(w.offset, got));
            EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + w.offset));
            Bytes through(w.length, 0xEE);
            ASSERT_TRUE(view.readThrough(w.offset, through));
            EXPECT_EQ(through, got) << "past the cache";
        }
        EXPECT_EQ(view.devicePosition(2 * kMiB + 100 + 4096 + 1), 4096 + 17 + 1);
        EXPECT_EQ(view.devicePosition(2 * kMiB + 100 + 5), -1) << "a skipped piece lies nowhere";

        Bytes outside(16, 0xEE);
        EXPECT_FALSE(view.read(static_cast<std::int64_t>(expected.size()) - 8, outside));
        EXPECT_EQ(outside, Bytes(16, 0)) << "a read past the view's end gives zeros, never stale bytes";
        outside.assign(16, 0xEE);
        EXPECT_FALSE(view.readThrough(static_cast<std::int64_t>(expected.size()) - 8, outside));
        EXPECT_EQ(outside, Bytes(16, 0));
        EXPECT_FALSE(view.read(-1, outside));
    }
}

TEST(MftView, UnreadableBytesReadAsZeros)
{
    MftView view;
    view.open(std::make_shared<test::ScribbleThenFailDevice>(), {{0, 3 * kMiB}});
    Bytes got(4096, 0xEE);
    ASSERT_TRUE(view.read(kMiB - 100, got));
    EXPECT_EQ(got, Bytes(4096, 0));
}

// A walk through the view reads the next block ahead on a thread of its own; an image cut short
// meanwhile gives zeros where its bytes went, never stale bytes of a block read before, and the
// blocks read ahead before the cut keep what they read.
TEST(MftView, AWalkReadsAheadAndAFileCutShortReadsAsZeros)
{
    const Bytes device = pattern(static_cast<std::size_t>(8 * kMiB));
    const TempFolder temp;
    const auto image = temp.path() / "volume.img";
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(device.data()), static_cast<std::streamsize>(device.size()));
    MftView view;
    view.open(std::make_shared<FileDevice>(image.string()), {{kMiB, 7 * kMiB}});
    Bytes got(1024);
    for (std::int64_t at = 0; at < 3 * kMiB; at += 1024) {
        ASSERT_TRUE(view.read(at, got));
        ASSERT_TRUE(std::equal(got.begin(), got.end(), device.begin() + kMiB + at)) << at;
    }
    std::filesystem::resize_file(image, 5 * kMiB); // the view's bytes from 4 MiB on are gone
    for (std::int64_t at = 3 * kMiB; at < 7 * kMiB; at += 1024) {
        ASSERT_TRUE(view.read(at, got));
        if (at < 4 * kMiB)
            ASSERT_TRUE(std::equal(got.begin(), got.end(), device.begin() + kMiB + at)) << at;
        else
            ASSERT_EQ(got, Bytes(1024, 0)) << at;
    }
}

TEST(MftView, ListedRecordsAreKnownByTheirDigest)
{
    const Bytes record = test::RecordBuilder().inUse(false).fileName(u"a.txt", 5).residentData({1, 2, 3}).build(false);
    Bytes changed = record;
    changed[0x50] ^= 1; // inside its first attribute

    MftView view;
    view.open(std::make_shared<test::MemoryDevice>(Bytes(8192, 0)), {{0, 8192}});
    view.rememberListed(4096, record);
    view.rememberListed(1024, changed);
    view.rememberListed(4096, record); // a hard link lists it again
    EXPECT_EQ(view.listedCount(), 2u);
    EXPECT_TRUE(view.sameAsListed(4096, record));
    EXPECT_FALSE(view.sameAsListed(4096, changed));
    EXPECT_TRUE(view.sameAsListed(1024, changed));
    EXPECT_FALSE(view.sameAsListed(2048, record)) << "a record the scan did not list is never taken for one";

    // Records held in memory compare with themselves, fixed up.
    Bytes held(8192, 0);
    const Bytes protectedRecord =
        test::RecordBuilder().inUse(false).fileName(u"a.txt", 5).residentData({1, 2, 3}).build();
    std::copy(protectedRecord.begin(), protectedRecord.end(), held.begin() + 2048);
    view.assign(held);
    EXPECT_TRUE(view.sameAsListed(2048, record));
    EXPECT_FALSE(view.sameAsListed(2048, changed));
}

} // namespace
} // namespace orv
