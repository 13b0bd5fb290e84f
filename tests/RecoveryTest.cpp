// Grades, restore and wipe: the design's worked examples on built volumes, and byte-exact
// restores and single-record wipes on the real fixture images.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <random>

#include "base/Utf16.h"
#include "ntfs/BootSector.h"
#include "platform/linux/FileDevice.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "results/FileContent.h"
#include "results/Recoverability.h"
#include "results/Restore.h"
#include "results/Sha256.h"
#include "results/Wipe.h"
#include "scan/FindChecks.h"
#include "scan/NormalScan.h"
#include "tests/support/Devices.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RecordBuilder.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestPumps.h"
#include "volume/SectorIo.h"

namespace orv {
namespace {

using test::Bytes;
using test::NoPump;
using test::RecordBuilder;
using test::TempFolder;

const auto kAlways = [] { return true; };

Bytes fileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(Recoverability, CountsUsedClustersAWordAtATime)
{
    std::mt19937 random(7);
    Bytes bitmap(300);
    for (auto& b : bitmap)
        b = static_cast<std::uint8_t>(random());
    const auto naive = [&](std::int64_t start, std::int64_t count) {
        std::int64_t used = 0;
        for (std::int64_t c = start; c < start + count; ++c)
            if (c / 8 < static_cast<std::int64_t>(bitmap.size()) && (bitmap[c / 8] >> (c % 8) & 1))
                ++used;
        return used;
    };
    for (int i = 0; i < 2000; ++i) {
        const std::int64_t start = random() % 2600, count = random() % 900;
        ASSERT_EQ(countUsedClusters(bitmap, start, count), naive(start, count)) << start << "+" << count;
    }
    Bytes two = {0x00, 0x02};
    EXPECT_EQ(countUsedClusters(two, 9, 1), 1) << "cluster 9 is bit 1 of byte 1";
    EXPECT_EQ(countUsedClusters(two, 8, 1), 0) << "cluster 8 is bit 0 of byte 1";
    EXPECT_EQ(countUsedClusters(two, 0, std::int64_t{1} << 40), 1) << "clusters beyond the bitmap are free";
    const Bytes tenGiB(327'680, 0xFF); // the bitmap of 10 GiB of 4 KiB clusters, all in use
    EXPECT_EQ(countUsedClusters(tenGiB, 3, 2'621'437), 2'621'437);
}

TEST(Recoverability, RoundsHalvesToEven)
{
    EXPECT_EQ(recoverabilityPercent(2, 10), 80);
    EXPECT_EQ(recoverabilityPercent(1, 10), 90);
    EXPECT_EQ(recoverabilityPercent(6, 10), 40);
    EXPECT_EQ(recoverabilityPercent(1, 8), 88) << "12.5 rounds to 12";
    EXPECT_EQ(recoverabilityPercent(3, 8), 62) << "37.5 rounds to 38";
    EXPECT_EQ(recoverabilityPercent(0, 5), 100);
}

// A session over a built volume: records laid into MftBuffer, the bitmap and the device as given.
struct BuiltSession
{
    ScanSession session;
    std::shared_ptr<test::MemoryDevice> device;

    BuiltSession(Bytes image, const std::vector<Bytes>& records, Bytes bitmap)
    {
        device = std::make_shared<test::MemoryDevice>(std::move(image));
        VolumeContext& v = session.volume;
        v.Device = device;
        v.FileSystemCode = FileSystemKind::Ntfs;
        v.BytesPerSector = 512;
        v.SectorsPerCluster = 8;
        v.BytesPerCluster = 4096;
        v.MftRecordSize = 1024;
        Bytes buffer(records.size() * 1024 + 1024, 0);
        for (std::size_t i = 0; i < records.size(); ++i)
            std::copy(records[i].begin(), records[i].end(), buffer.begin() + static_cast<std::ptrdiff_t>(i * 1024));
        v.MftBuffer.assign(std::move(buffer));
        v.VolumeBitmap = std::move(bitmap);
    }
};

TEST(Recoverability, GradesAsTheWorkedExamplesSay)
{
    // Clusters 16..25 hold a file; bitmap byte 2 is clusters 16..23, byte 3 is 24..31.
    Bytes image(64 * 4096, 0);
    const auto put = [&](std::int64_t cluster, std::string_view text) {
        std::copy(text.begin(), text.end(), image.begin() + cluster * 4096);
    };
    using namespace std::literals;
    put(16, "\xFF\xD8\xFF\xE0\x00\x10JFIF"sv);
    put(32, "\xD0\xCF\x11\xE0"sv);
    const auto file = [](const std::u16string& name, std::int64_t size, Bytes runs) {
        return RecordBuilder()
            .inUse(false)
            .fileName(name, 5)
            .nonResidentData(runs, static_cast<std::uint64_t>(size))
            .build();
    };
    const Bytes tenAt16 = {0x11, 0x0A, 0x10, 0x00};
    const Bytes tenAt32 = {0x11, 0x0A, 0x20, 0x00};
    struct Case
    {
        const char* what;
        Bytes record;
        std::u16string name;
        Bytes bitmap;
        Grade expected;
    };
    const Case cases[] = {
        {"size 0", file(u"empty.bin", 0, tenAt16), u"empty.bin", Bytes(8, 0), Grade::Poor},
        {"resident, whatever its size",
         RecordBuilder().inUse(false).fileName(u"r.txt", 5).residentData(Bytes(700, 1)).build(), u"r.txt",
         Bytes(8, 0xFF), Grade::Good},
        {"non-resident without runs", file(u"n.bin", 5000, {}), u"n.bin", Bytes(8, 0), Grade::Poor},
        {"2 of 10 in use: 80", file(u"a.bin", 40960, tenAt16), u"a.bin", {0, 0, 0x03, 0}, Grade::Average},
        {"1 of 10 in use: 90", file(u"a.bin", 40960, tenAt16), u"a.bin", {0, 0, 0x01, 0}, Grade::Good},
        {"6 of 10 in use: 40", file(u"a.bin", 40960, tenAt16), u"a.bin", {0, 0, 0x3F, 0}, Grade::Poor},
        {"all in use, JFIF still there", file(u"photo.jpg", 40960, tenAt16), u"photo.jpg", Bytes(8, 0xFF),
         Grade::Average},
        {".jpeg is not among the rescued types", file(u"photo.jpeg", 40960, tenAt16), u"photo.jpeg", Bytes(8, 0xFF),
         Grade::Poor},
        {"compound document 60 percent in use",
         file(u"letter.doc", 40960, tenAt32),
         u"letter.doc",
         {0, 0, 0, 0, 0x3F, 0},
         Grade::Average},
        {"clusters beyond the bitmap count as free", file(u"a.bin", 40960, tenAt32), u"a.bin", {0xFF}, Grade::Good},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BuiltSession built(image, {c.record}, c.bitmap);
        EXPECT_EQ(AnalyzeProbabilityNTFS(built.session, 0, c.name), c.expected) << "offset 0 is a real record";
    }
    BuiltSession built(image, {file(u"a.bin", 1, tenAt16)}, {});
    EXPECT_EQ(AnalyzeProbabilityNTFS(built.session, 4096, u"a.bin"), Grade::None) << "beyond MftBuffer";
}

// Fails every read that touches [from, to); reads elsewhere come from memory.
class BadStretchDevice : public test::MemoryDevice
{
public:
    BadStretchDevice(Bytes bytes, std::uint64_t from, std::uint64_t to)
        : MemoryDevice(std::move(bytes)), m_from(from), m_to(to)
    {}
    bool read(std::uint64_t position, std::span<std::uint8_t> out) override
    {
        if (position < m_to && position + out.size() > m_from) {
            std::fill(out.begin(), out.end(), std::uint8_t{0x5A});
            return false;
        }
        return MemoryDevice::read(position, out);
    }

private:
    std::uint64_t m_from, m_to;
};

TEST(Restore, UnreadableRunBecomesZerosAndLaterBytesKeepTheirPlace)
{
    Bytes image(64 * 4096, 0);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 13 + i / 4096);
    // Runs: 2 clusters at 10, 1 at 20 (unreadable), 2 at 30; the file ends 100 bytes into the last.
    const std::int64_t size = 3 * 4096 + 4096 + 100;
    const Bytes record = RecordBuilder()
                             .inUse(false)
                             .fileName(u"split.bin", 5)
                             .nonResidentData({0x11, 0x02, 0x0A, 0x11, 0x01, 0x0A, 0x11, 0x02, 0x0A, 0x00}, size)
                             .build();
    BuiltSession built(image, {record}, {});
    built.session.volume.Device = std::make_shared<BadStretchDevice>(image, 20 * 4096, 21 * 4096);
    const TempFolder temp;
    const auto& folder = temp.path();
    NoPump pump;
    const RestoreOutcome outcome = UndeleteFileNTFS(built.session, 0, u"split.bin", 0, folder, pump, kAlways);
    EXPECT_EQ(outcome.status, RestoreOutcome::Status::Damaged);
    const Bytes written = fileBytes(folder / "split.bin");
    ASSERT_EQ(written.size(), static_cast<std::size_t>(size));
    Bytes expected(image.begin() + 10 * 4096, image.begin() + 12 * 4096);
    expected.resize(expected.size() + 4096, 0);
    expected.insert(expected.end(), image.begin() + 30 * 4096, image.begin() + 30 * 4096 + 4096 + 100);
    EXPECT_EQ(written, expected);
}

TEST(Restore, WritesOnlyInsideTheRestoreFolderAndFollowsNoLink)
{
    const TempFolder temp;
    const auto folder = temp / "restore";
    std::filesystem::create_directory(folder);
    const auto outside = temp / "outside.txt";
    std::ofstream(outside) << "keep me";
    std::filesystem::create_symlink(outside, folder / "linked.txt");

    struct Case
    {
        std::u16string name;
        std::string expectedFile;
    };
    const Case cases[] = {
        {u"../x", ".._x"},
        {u"a/b/c.txt", "a_b_c.txt"},
        {u"..", "File2"},
        {u"linked.txt", "linked (1).txt"}, // a link stands there: left alone, the next free name instead
        {u"\u65e5\u672c.txt", "\xe6\x97\xa5\xe6\x9c\xac.txt"},
    };
    NoPump pump;
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.name));
        const Bytes record = RecordBuilder().inUse(false).fileName(c.name, 5).residentData({'o', 'k'}).build();
        BuiltSession built(Bytes(4096), {record}, {});
        const RestoreOutcome outcome = UndeleteFileNTFS(built.session, 0, c.name, row++, folder, pump, kAlways);
        EXPECT_EQ(outcome.status, RestoreOutcome::Status::Restored) << outcome.reason;
        EXPECT_EQ(outcome.path, folder / c.expectedFile);
        EXPECT_EQ(fileBytes(folder / c.expectedFile), (Bytes{'o', 'k'}));
    }
    EXPECT_EQ(fileBytes(outside), (Bytes{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "linked.txt"));
}

TEST(Restore, StopLeavesNoPartFileBehind)
{
    Bytes image(2100 * 4096, 7);
    const Bytes record = RecordBuilder()
                             .inUse(false)
                             .fileName(u"big.bin", 5)
                             .nonResidentData({0x12, 0x00, 0x08, 0x01, 0x00}, 2048 * 4096)
                             .build(); // 8 MiB at cluster 1
    BuiltSession built(image, {record}, {});
    const TempFolder temp;
    const auto& folder = temp.path();
    NoPump pump;
    int asked = 0;
    const RestoreOutcome outcome =
        UndeleteFileNTFS(built.session, 0, u"big.bin", 0, folder, pump, [&] { return ++asked < 3; });
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(outcome.status, RestoreOutcome::Status::Stopped);
    EXPECT_EQ(outcome.bytes, kContentChunk) << "one piece was written before Stop";
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "the part written is not the file: nothing is left";
}

TEST(Restore, NeverReplacesWhatStandsUnderTheName)
{
    // A file, a FIFO and a hard link to a file outside stand under the names of restored files:
    // each stays as it was, and the restored files take the next free names.
    const TempFolder temp;
    const auto& folder = temp.path();
    std::ofstream(folder / "a.txt") << "mine";
    std::ofstream(folder / "a (1).txt") << "mine too";
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    const auto outside = folder / ".." / (folder.filename().string() + "-outside");
    std::ofstream(outside) << "outside";
    std::filesystem::create_hard_link(outside, folder / "linked");
    struct Case
    {
        std::u16string name;
        std::string expected;
    };
    const Case cases[] = {
        {u"a.txt", "a (2).txt"}, {u"pipe", "pipe (1)"}, {u"linked", "linked (1)"}, {u".profile", ".profile"}};
    NoPump pump;
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.name));
        const Bytes record = RecordBuilder().inUse(false).fileName(c.name, 5).residentData({'o', 'k'}).build();
        BuiltSession built(Bytes(4096), {record}, {});
        const RestoreOutcome outcome = UndeleteFileNTFS(built.session, 0, c.name, 0, folder, pump, kAlways);
        EXPECT_EQ(outcome.status, RestoreOutcome::Status::Restored) << outcome.reason;
        EXPECT_EQ(outcome.path, folder / c.expected);
        EXPECT_EQ(fileBytes(folder / c.expected), (Bytes{'o', 'k'}));
        struct stat info
        {};
        ASSERT_EQ(::stat((folder / c.expected).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << "a deleted file's bytes are private";
    }
    EXPECT_EQ(fileBytes(folder / "a.txt"), (Bytes{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(fileBytes(outside), (Bytes{'o', 'u', 't', 's', 'i', 'd', 'e'}));
    EXPECT_TRUE(std::filesystem::is_fifo(folder / "pipe"));
    std::filesystem::remove(outside);
}

// A 64-cluster volume whose every cluster is a pattern of its own, so a byte in the wrong place
// shows.
Bytes patternImage()
{
    Bytes image(64 * 4096, 0);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 13 + i / 4096);
    return image;
}

Bytes clusters(const Bytes& image, std::size_t first, std::size_t count)
{
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(first * 4096),
                 image.begin() + static_cast<std::ptrdiff_t>((first + count) * 4096));
}

RestoreOutcome restoreRecord(BuiltSession& built, std::int64_t offset, Bytes& written)
{
    const TempFolder temp;
    const auto& folder = temp.path();
    NoPump pump;
    const RestoreOutcome outcome = UndeleteFileNTFS(built.session, offset, u"f.bin", 0, folder, pump, kAlways);
    written = fileBytes(folder / "f.bin");
    return outcome;
}

TEST(Restore, HolesAndUnreadableRunsAreZerosOfTheirLengthAndLaterRunsStillCount)
{
    const Bytes image = patternImage();
    const Bytes zeros(4096, 0);
    const auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    struct Case
    {
        const char* what;
        Bytes runs;
        std::uint64_t size;
        std::uint64_t validLength;
        Bytes expected;
        RestoreOutcome::Status status;
        std::string reason;
    };
    const Case cases[] = {
        {"sparse: data, a hole of 3 clusters, data",
         {0x11, 0x01, 0x0A, 0x01, 0x03, 0x11, 0x01, 0x0A, 0x00},
         5 * 4096 - 50,
         ~0ull,
         join({clusters(image, 10, 1), zeros, zeros, zeros,
               Bytes(image.begin() + 20 * 4096, image.begin() + 21 * 4096 - 50)}),
         RestoreOutcome::Status::Restored,
         ""},
        {"a run outside the volume is zeros and the run after it is still read",
         {0x11, 0x01, 0x0A, 0x31, 0x01, 0x96, 0x86, 0x01, 0x31, 0x01, 0x74, 0x79, 0xFE, 0x00},
         3 * 4096,
         ~0ull,
         join({clusters(image, 10, 1), zeros, clusters(image, 20, 1)}),
         RestoreOutcome::Status::Damaged,
         "4096 bytes could not be read and are zeros"},
        {"bytes past the valid length are zeros",
         {0x11, 0x02, 0x0A, 0x00},
         8192,
         5000,
         join({Bytes(image.begin() + 10 * 4096, image.begin() + 10 * 4096 + 5000), Bytes(8192 - 5000, 0)}),
         RestoreOutcome::Status::Restored,
         ""},
        {"runs that end early leave zeros up to the size",
         {0x11, 0x01, 0x0A, 0x00},
         2 * 4096,
         ~0ull,
         join({clusters(image, 10, 1), zeros}),
         RestoreOutcome::Status::Damaged,
         "4096 bytes could not be read and are zeros"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes record = RecordBuilder()
                                 .inUse(false)
                                 .fileName(u"f.bin", 5)
                                 .dataSegment(c.runs, c.size, {.validLength = c.validLength})
                                 .build();
        BuiltSession built(image, {record}, {});
        Bytes written;
        const RestoreOutcome outcome = restoreRecord(built, 0, written);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_EQ(written.size(), c.size);
        EXPECT_TRUE(written == c.expected);
    }
}

// The bytes a file takes on disk, whatever its size says.
std::uint64_t allocatedBytes(const std::filesystem::path& path)
{
    struct stat st
    {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_blocks) * 512 : ~std::uint64_t{0};
}

TEST(Restore, HolesStayHolesAndNoRecordMakesItWriteMoreThanItsVolumeHolds)
{
    // A 256 KiB volume. A sparse file of 64 MiB comes back sparse and byte for byte; a run list that
    // claims 256 MiB of stored clusters outside the volume is a damaged record, not 256 MiB of zeros.
    const Bytes image = patternImage();
    constexpr std::uint64_t kSparseSize = std::uint64_t{64} << 20;
    struct Case
    {
        const char* what;
        Bytes runs;
        std::uint64_t size;
        RestoreOutcome::Status status;
        std::uint64_t length; // of the restored file
    };
    const Case cases[] = {
        {"one cluster, then a hole to 64 MiB",
         {0x11, 0x01, 0x0A, 0x03, 0xFF, 0x3F, 0x00, 0x00},
         kSparseSize,
         RestoreOutcome::Status::Restored,
         kSparseSize},
        {"a run of 256 MiB outside the volume",
         {0x11, 0x01, 0x0A, 0x31, 0x00, 0x00, 0x01, 0x00, 0x10, 0x00, 0x00},
         std::uint64_t{256} << 20,
         RestoreOutcome::Status::Damaged,
         4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes record = RecordBuilder().inUse(false).fileName(u"f.bin", 5).nonResidentData(c.runs, c.size).build();
        BuiltSession built(image, {record}, {});
        const TempFolder temp;
        NoPump pump;
        const RestoreOutcome outcome = UndeleteFileNTFS(built.session, 0, u"f.bin", 0, temp.path(), pump, kAlways);
        EXPECT_EQ(outcome.status, c.status) << outcome.reason;
        const auto path = temp.path() / "f.bin";
        ASSERT_EQ(std::filesystem::file_size(path), c.length);
        EXPECT_LE(allocatedBytes(path), std::uint64_t{1} << 20) << "zeros the volume never stored take no room";
        std::ifstream in(path, std::ios::binary);
        Bytes piece(4096);
        in.read(reinterpret_cast<char*>(piece.data()), 4096);
        EXPECT_TRUE(piece == clusters(image, 10, 1));
        if (c.length > 4096) {
            // The rest reads as zeros, to the last byte.
            in.seekg(static_cast<std::streamoff>(c.length - 4096));
            in.read(reinterpret_cast<char*>(piece.data()), 4096);
            EXPECT_TRUE(std::all_of(piece.begin(), piece.end(), [](std::uint8_t b) { return b == 0; }));
        }
    }
}

TEST(Restore, AFileTheRestoreFolderCannotHoldIsRefusedAndTheOthersGoOn)
{
    const TempFolder temp;
    const auto folder = temp.path() / "small";
    std::filesystem::create_directory(folder);
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    struct Unmount
    {
        std::filesystem::path path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{folder};
    const Bytes image = patternImage();
    // 40 stored clusters (160 KiB) do not fit in 64 KiB; the 1 GiB file that is one cluster and
    // then a hole does.
    const Bytes big = RecordBuilder()
                          .inUse(false)
                          .fileName(u"big.bin", 5)
                          .nonResidentData({0x11, 0x28, 0x0A, 0x00}, 40 * 4096)
                          .build();
    const Bytes sparse = RecordBuilder()
                             .inUse(false)
                             .fileName(u"sparse.bin", 5)
                             .nonResidentData({0x11, 0x01, 0x0A, 0x03, 0xFF, 0xFF, 0x03, 0x00}, std::uint64_t{1} << 30)
                             .build();
    BuiltSession built(image, {big, sparse}, {});
    NoPump pump;
    const RestoreOutcome refused = UndeleteFileNTFS(built.session, 0, u"big.bin", 0, folder, pump, kAlways);
    EXPECT_EQ(refused.status, RestoreOutcome::Status::Failed);
    EXPECT_FALSE(refused.outputError) << "the next file may fit";
    EXPECT_EQ(refused.reason.rfind("not enough free space in the restore folder: the file needs 163840 bytes", 0), 0u)
        << refused.reason;
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "nothing written for it";
    const RestoreOutcome next = UndeleteFileNTFS(built.session, 1024, u"sparse.bin", 1, folder, pump, kAlways);
    EXPECT_EQ(next.status, RestoreOutcome::Status::Restored) << next.reason;
    EXPECT_EQ(std::filesystem::file_size(folder / "sparse.bin"), std::uint64_t{1} << 30);
}

// One compression unit of 16 chunks, each "ab" and a back-reference that repeats it to 4,096 bytes.
Bytes repeatingUnit()
{
    Bytes unit;
    for (int chunk = 0; chunk < 16; ++chunk)
        unit.insert(unit.end(), {0x04, 0xB0, 0x04, 'a', 'b', 0xFB, 0x1F});
    return unit;
}

TEST(Restore, CompressedUnitsAreDecompressedStoredOrZeros)
{
    Bytes image = patternImage();
    const Bytes unit = repeatingUnit();
    std::fill(image.begin() + 10 * 4096, image.begin() + 11 * 4096, std::uint8_t{0});
    std::copy(unit.begin(), unit.end(), image.begin() + 10 * 4096);
    // Unit 0: one cluster of LZNT1 at 10 and 15 of hole; unit 1: 16 clusters stored at 20; unit 2:
    // all hole.
    const Bytes runs = {0x11, 0x01, 0x0A, 0x01, 0x0F, 0x11, 0x10, 0x0A, 0x01, 0x10, 0x00};
    const std::uint64_t size = 3 * 65536 - 1000;
    Bytes expected;
    for (int i = 0; i < 65536 / 2; ++i)
        expected.insert(expected.end(), {'a', 'b'});
    const Bytes stored = clusters(image, 20, 16);
    expected.insert(expected.end(), stored.begin(), stored.end());
    expected.resize(size, 0);

    const auto record = [&] {
        return RecordBuilder()
            .inUse(false)
            .fileName(u"f.bin", 5)
            .dataSegment(runs, size, {.flags = 0x0001, .unitLog2 = 4})
            .build();
    };
    {
        BuiltSession built(image, {record()}, {});
        Bytes written;
        const RestoreOutcome outcome = restoreRecord(built, 0, written);
        EXPECT_EQ(outcome.status, RestoreOutcome::Status::Restored) << outcome.reason;
        EXPECT_TRUE(written == expected);
        EXPECT_EQ(AnalyzeProbabilityNTFS(built.session, 0, u"f.bin"), Grade::Good)
            << "graded over its 17 real clusters";
    }
    // A damaged unit is zeros; the units after it still come out.
    image[10 * 4096 + 6] = 0xFF; // the first back-reference now reaches before the chunk's start
    BuiltSession built(image, {record()}, {});
    Bytes written;
    const RestoreOutcome outcome = restoreRecord(built, 0, written);
    EXPECT_EQ(outcome.status, RestoreOutcome::Status::Damaged);
    EXPECT_EQ(outcome.reason, "compressed unit 0 could not be decompressed");
    ASSERT_EQ(written.size(), size);
    EXPECT_TRUE(std::all_of(written.begin(), written.begin() + 65536, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(written.begin() + 65536, written.end(), expected.begin() + 65536));
}

TEST(Restore, CompressionUnitsOtherThanWindowsWritesAreDamagedNeverRestored)
{
    // The same runs as a sound 16-cluster unit file; only the unit field differs. Decoded with
    // any other unit, or read raw (unit 0 and 255 once were), the bytes would be wrong.
    Bytes image = patternImage();
    const Bytes unit = repeatingUnit();
    std::copy(unit.begin(), unit.end(), image.begin() + 10 * 4096);
    const Bytes runs = {0x11, 0x01, 0x0A, 0x01, 0x0F, 0x00};
    for (const int unitLog2 : {0, 1, 2, 3, 5, 8, 16, 31, 255}) {
        SCOPED_TRACE(unitLog2);
        const Bytes record =
            RecordBuilder()
                .inUse(false)
                .fileName(u"f.bin", 5)
                .dataSegment(runs, 65536, {.flags = 0x0001, .unitLog2 = static_cast<std::uint8_t>(unitLog2)})
                .build();
        BuiltSession built(image, {record}, {});
        Bytes written;
        const RestoreOutcome outcome = restoreRecord(built, 0, written);
        EXPECT_EQ(outcome.status, RestoreOutcome::Status::Damaged);
        EXPECT_EQ(outcome.reason,
                  "it is compressed in units of 2^" + std::to_string(unitLog2) +
                      " clusters, which no volume writes and which cannot be decoded; its content is left out");
        EXPECT_TRUE(written.empty()) << "no bytes that are not the file's";
        EXPECT_NE(AnalyzeProbabilityNTFS(built.session, 0, u"f.bin"), Grade::Good);
    }
}

TEST(Restore, FollowsTheAttributeListIntoExtensionRecords)
{
    const Bytes image = patternImage();
    const std::uint64_t size = 2 * 4096 + 7;
    // Record 1 is the base; its names and both segments of its data live in records 2 and 3.
    const auto base = [](std::uint32_t number) {
        return RecordBuilder()
            .inUse(false)
            .number(number)
            .standardInformation(0)
            .attributeList({{0x30, 0, 2}, {0x80, 0, 2}, {0x80, 2, 3}})
            .build();
    };
    const auto first = [&](std::uint32_t number) {
        return RecordBuilder()
            .inUse(false)
            .number(number)
            .baseRecord(1)
            .fileName(u"Quarterly Report Final.docx", 5, 1)
            .fileName(u"QUARTE~1.DOC", 5, 2)
            .dataSegment({0x11, 0x02, 0x0A, 0x00}, size, {})
            .build();
    };
    const auto second = [&](std::uint32_t number) {
        return RecordBuilder()
            .inUse(false)
            .number(number)
            .baseRecord(1)
            .dataSegment({0x11, 0x01, 0x1E, 0x00}, 0, {.lowestVcn = 2})
            .build();
    };
    Bytes expected = clusters(image, 10, 2);
    expected.insert(expected.end(), image.begin() + 30 * 4096, image.begin() + 30 * 4096 + 7);

    for (const bool byNumber : {true, false}) {
        SCOPED_TRACE(byNumber ? "records at their number" : "records found through the index");
        // Through the index the records lie anywhere: the Extended scan's regions.
        BuiltSession built(image,
                           byNumber ? std::vector{Bytes(1024, 0), base(1), first(2), second(3)}
                                    : std::vector{second(3), Bytes(1024, 0), first(2), base(1)},
                           {});
        std::int64_t baseOffset = 1024;
        if (!byNumber) {
            built.session.volume.MftBufferByNumber = false;
            built.session.volume.RecordIndex = {{1, 3}, {2, 2}, {3, 0}}; // places of 1,024 bytes
            baseOffset = 3072;
        }
        Bytes record(1024);
        ASSERT_TRUE(built.session.volume.MftBuffer.read(baseOffset, record));
        ApplyRecordFixups(record);
        const auto parts = readRecordParts(&built.session.volume, record, baseOffset);
        ASSERT_TRUE(parts);
        const auto names = longNames(parts->names);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].name, u"Quarterly Report Final.docx") << "the long name, not the DOS alias after it";
        EXPECT_TRUE(parts->hasData);
        EXPECT_EQ(parts->dataSize, static_cast<std::int64_t>(size));

        Bytes written;
        const RestoreOutcome outcome = restoreRecord(built, baseOffset, written);
        EXPECT_EQ(outcome.status, RestoreOutcome::Status::Restored) << outcome.reason;
        EXPECT_TRUE(written == expected);
    }

    // The second segment's record is gone: its cluster is zeros and the file is never Good.
    BuiltSession built(image, {Bytes(1024, 0), base(1), first(2), Bytes(1024, 0)}, Bytes(8, 0));
    Bytes written;
    const RestoreOutcome outcome = restoreRecord(built, 1024, written);
    EXPECT_EQ(outcome.status, RestoreOutcome::Status::Damaged);
    EXPECT_EQ(outcome.reason,
              "part of its run list was in an extension record that is gone; 7 bytes could not be read and are zeros");
    EXPECT_EQ(written.size(), size);
    EXPECT_EQ(AnalyzeProbabilityNTFS(built.session, 1024, u"f.bin"), Grade::Average);
}

TEST(Recoverability, HolesLostRunsAndEncryptionAreGradedForWhatTheyAre)
{
    const Bytes image = patternImage();
    struct Case
    {
        const char* what;
        Bytes runs;
        RecordBuilder::Segment segment;
        Bytes bitmap;
        Grade expected;
    };
    const Case cases[] = {
        {"a hole is recoverable: 2 of 10 clusters in use",
         {0x11, 0x02, 0x10, 0x01, 0x08, 0x00},
         {},
         {0, 0, 0x03, 0},
         Grade::Average},
        {"a hole is recoverable: 1 of 10 in use",
         {0x11, 0x02, 0x10, 0x01, 0x08, 0x00},
         {},
         {0, 0, 0x01, 0},
         Grade::Good},
        {"a run outside the volume is never Good",
         {0x11, 0x0A, 0x10, 0x31, 0x01, 0x96, 0x86, 0x01, 0x00},
         {},
         Bytes(8, 0),
         Grade::Average},
        {"encrypted is Poor whatever the bitmap says",
         {0x11, 0x0A, 0x10, 0x00},
         {.flags = 0x4000},
         Bytes(8, 0),
         Grade::Poor},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes record =
            RecordBuilder().inUse(false).fileName(u"a.bin", 5).dataSegment(c.runs, 40960, c.segment).build();
        BuiltSession built(image, {record}, c.bitmap);
        EXPECT_EQ(AnalyzeProbabilityNTFS(built.session, 0, u"a.bin"), c.expected);
    }
    const Bytes encrypted = RecordBuilder()
                                .inUse(false)
                                .fileName(u"a.bin", 5)
                                .dataSegment({0x11, 0x0A, 0x10, 0x00}, 40960, {.flags = 0x4000})
                                .build();
    BuiltSession built(image, {encrypted}, Bytes(8, 0));
    Bytes written;
    const RestoreOutcome outcome = restoreRecord(built, 0, written);
    EXPECT_EQ(outcome.status, RestoreOutcome::Status::Encrypted);
    EXPECT_EQ(outcome.reason, "the file is encrypted (EFS): its bytes are ciphertext");
}

class FixtureScan : public testing::TestWithParam<const char*>
{
protected:
    bool scan(const std::filesystem::path& image)
    {
        if (!std::filesystem::exists(image))
            return false;
        drives =
            std::make_unique<LinuxDriveSystem>(LinuxDriveSources{{}, "/nonexistent", "/nonexistent", "/nonexistent"});
        drives->addDrive("C:", image.string());
        EXPECT_EQ(RunFindChecks(session, *drives, "C:", u"", 10).check, FindCheck::Ok);
        PrepareScan(session, u"");
        NoPump pump;
        ScanProgress progress;
        NTFSFind1(session, pump, progress, std::uint64_t{8} << 30);
        return true;
    }
    ScanSession session;
    std::unique_ptr<LinuxDriveSystem> drives;
};

TEST_P(FixtureScan, RestoresEveryIntactDeletedFileByteForByte)
{
    if (!scan(test::fixtureImage(GetParam())))
        GTEST_SKIP() << "fixture images are not unpacked";
    std::map<std::string, test::ManifestEntry> manifest;
    for (const auto& entry : test::readManifest(GetParam())) {
        std::string place = "C:\\" + entry.path;
        std::replace(place.begin(), place.end(), '/', '\\');
        manifest[place] = entry;
    }
    const TempFolder temp;
    const auto& folder = temp.path();
    NoPump pump;
    int row = 0, checked = 0;
    session.store.forEach([&](std::u16string_view section, std::u16string_view key, std::u16string_view value) {
        const auto& entry = manifest.at(toUtf8(std::u16string(section) + std::u16string(key)));
        SCOPED_TRACE(entry.path);
        const RestoreOutcome outcome =
            UndeleteFileNTFS(session, *parseStoredValue(value).recordOffset, key, row++, folder, pump, kAlways);
        if (entry.size == 0) {
            EXPECT_EQ(outcome.status, RestoreOutcome::Status::Skipped);
            return;
        }
        ASSERT_EQ(outcome.status, RestoreOutcome::Status::Restored) << outcome.reason;
        EXPECT_EQ(std::filesystem::file_size(outcome.path), static_cast<std::uintmax_t>(entry.size));
        if (entry.state != "overwritten") {
            EXPECT_EQ(sha256OfFile(outcome.path.c_str()), entry.sha256);
            ++checked;
        }
    });
    EXPECT_GT(checked, 10);
}

TEST_P(FixtureScan, WipeZeroesExactlyTheListedRecord)
{
    const auto source = test::fixtureImage(GetParam());
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << "fixture images are not unpacked";
    const TempFolder temp;
    const auto& folder = temp.path();
    const auto image = folder / "copy.img";
    std::filesystem::copy_file(source, image);
    ASSERT_TRUE(scan(image));
    const std::u16string section = u"C:\\Docs\\Projects\\";
    const std::u16string value = session.store.read(section, u"frag-deleted.bin");
    ASSERT_FALSE(value.empty());
    const std::int64_t offset = *parseStoredValue(value).recordOffset;
    const Bytes before = fileBytes(image);

    // A record changed on the volume since the scan listed it is not written.
    const std::int64_t position = session.volume.MftBuffer.devicePosition(offset);
    ASSERT_GE(position, 0);
    const auto flip = [&] {
        std::fstream file(image, std::ios::binary | std::ios::in | std::ios::out);
        file.seekg(position + 0x50);
        const auto byte = static_cast<char>(file.get() ^ 0xFF);
        file.seekp(position + 0x50);
        file.put(byte);
    };
    flip();
    const Bytes altered = fileBytes(image);
    const WipeOutcome refused = WipeFileNTFS(session, offset);
    EXPECT_FALSE(refused.wiped);
    EXPECT_EQ(refused.reason, "the record on the volume has changed since the scan");
    EXPECT_EQ(fileBytes(image), altered);
    flip();

    const WipeOutcome outcome = WipeFileNTFS(session, offset);
    ASSERT_TRUE(outcome.wiped) << outcome.reason;
    const Bytes after = fileBytes(image);
    ASSERT_EQ(after.size(), before.size());
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < after.size(); ++i)
        if (after[i] != before[i])
            changed.push_back(i);
    ASSERT_FALSE(changed.empty());
    EXPECT_LE(changed.back() - changed.front() + 1, static_cast<std::size_t>(session.volume.MftRecordSize));
    for (const std::size_t i : changed)
        EXPECT_EQ(after[i], 0);

    ScanSession again;
    session = std::move(again);
    ASSERT_TRUE(scan(image));
    EXPECT_FALSE(session.store.valueExists(section, u"frag-deleted.bin")) << "a new scan no longer finds it";
    EXPECT_TRUE(session.store.valueExists(section, u"old-plan.txt"));
}

INSTANTIATE_TEST_SUITE_P(Images, FixtureScan, testing::ValuesIn(test::kFixtureImages),
                         [](const testing::TestParamInfo<const char*>& param) {
                             std::string name = param.param;
                             std::erase(name, '-');
                             return name;
                         });

TEST(Wipe, RecordSmallerThanASectorIsRewrittenWithItsNeighbours)
{
    // 4,096-byte sectors holding four 1,024-byte records each: wiping one must leave the three
    // others of its sector as they are.
    test::VolumeLayout layout;
    layout.bytesPerSector = 4096;
    layout.sectorsPerClusterByte = 1;
    layout.mftRunList = {0x11, 0x10, 0x04, 0x00};
    layout.records[5] = RecordBuilder().directory(true).fileName(u".", 5).indexRoot().build();
    for (std::int64_t n = 28; n < 32; ++n)
        layout.records[n] = RecordBuilder()
                                .inUse(false)
                                .fileName(u"f" + fromAscii(std::to_string(n)) + u".txt", 5)
                                .residentData({1, 2, 3})
                                .build();
    auto device = std::make_shared<test::MemoryDevice>(test::buildVolume(layout), 4096);
    test::FakeDriveSystem drives;
    drives.add("E:", device);
    ScanSession session;
    session.volume.MftRecordSize = 1024;
    ASSERT_EQ(RunFindChecks(session, drives, "E:", u"", 10).check, FindCheck::Ok);
    PrepareScan(session, u"");
    NoPump pump;
    ScanProgress progress;
    NTFSFind1(session, pump, progress, std::uint64_t{1} << 30);
    const std::u16string value = session.store.read(u"E:\\", u"f29.txt");
    ASSERT_FALSE(value.empty());
    const Bytes before = device->bytes();
    ASSERT_TRUE(WipeFileNTFS(session, *parseStoredValue(value).recordOffset).wiped);
    const Bytes& after = device->bytes();
    const std::size_t recordAt = 4 * 4096 + 29 * 1024;
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (i >= recordAt && i < recordAt + 1024)
            ASSERT_EQ(after[i], 0) << i;
        else
            ASSERT_EQ(after[i], before[i]) << i;
    }
}

TEST(Wipe, RefusesRecordsOfLiveFiles)
{
    test::VolumeLayout layout;
    layout.mftRunList = {0x11, 0x10, 0x04, 0x00}; // records 0 to 63 in clusters 4 to 19
    layout.records[5] = RecordBuilder().directory(true).fileName(u".", 5).indexRoot().build();
    layout.records[6] = RecordBuilder().fileName(u"$Bitmap", 5).nonResidentData({0x11, 0x01, 0x30, 0x00}, 8).build();
    for (std::int64_t n = 28; n < 31; ++n)
        layout.records[n] = RecordBuilder()
                                .inUse(false)
                                .fileName(u"f" + fromAscii(std::to_string(n)) + u".txt", 5)
                                .residentData({1, 2, 3})
                                .build();
    Bytes image = test::buildVolume(layout);
    image[0x30 * 4096] = 0xFF; // clusters 0 to 7 are in use, 8 and up are free
    auto device = std::make_shared<test::MemoryDevice>(image);
    test::FakeDriveSystem drives;
    drives.add("E:", device);
    ScanSession session;
    ASSERT_EQ(RunFindChecks(session, drives, "E:", u"", 10).check, FindCheck::Ok);
    PrepareScan(session, u"");
    NoPump pump;
    ScanProgress progress;
    NTFSFind1(session, pump, progress, std::uint64_t{1} << 30);

    // In use now: the record is a live file's, even though it matches what the scan read.
    device->bytes()[4 * 4096 + 28 * 1024 + 0x16] |= 1;
    const Bytes inUse = device->bytes();
    WipeOutcome outcome = WipeFileNTFS(session, 28 * 1024);
    EXPECT_FALSE(outcome.wiped);
    EXPECT_EQ(outcome.reason, "the record is in use: it belongs to a live file");
    EXPECT_TRUE(device->bytes() == inUse);

    // Outside the $MFT the volume names now (an earlier file system's records, as the Extended
    // scan finds them): wiped only where the $Bitmap says the clusters are free. Records 29 and 30
    // lie in cluster 11: free at first, then marked in use as a live file's.
    session.volume.CurrentMftExtents.clear();
    outcome = WipeFileNTFS(session, 29 * 1024);
    EXPECT_TRUE(outcome.wiped) << outcome.reason;
    session.volume.VolumeBitmap[1] = 0xFF;
    const Bytes live = device->bytes();
    outcome = WipeFileNTFS(session, 30 * 1024);
    EXPECT_FALSE(outcome.wiped);
    EXPECT_EQ(outcome.reason, "the record lies inside a live file");
    EXPECT_TRUE(device->bytes() == live);
}

} // namespace
} // namespace orv
