// Writes an NTFS volume with a very large $MFT straight into a sparse image file, much faster than a
// file system driver could fill one: real 1,024-byte records made by the test record builder, in
// folders of 1,000 files, of which 40% are deleted. Only the boot sector and the $MFT hold data;
// the rest of the volume stays a hole.
//
// usage: make_large_volume IMAGE [RECORDS] [--worn]      (default 5,000,000 records)
// Prints the number of deleted files it wrote, which a Normal scan must list.
//
// --worn makes the volume look used for years: the $MFT in two extents with other clusters
// between them (it grew after the space behind it was taken), and every twentieth folder removed
// and its record taken by a new file, so its deleted files climb to a record that is no folder.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/RecordBuilder.h"

using orv::test::Bytes;
using orv::test::RecordBuilder;

namespace {

constexpr std::uint64_t kRecordSize = 1024;
constexpr std::uint64_t kClusterSize = 4096;
constexpr std::uint64_t kMftCluster = 16;
constexpr std::uint64_t kFilesPerFolder = 1000;
constexpr std::uint64_t kFirstUserRecord = 28;
constexpr std::uint64_t kRoot = 5;
constexpr std::uint64_t kCreated = 133'000'000'000'000'000ull; // a FILETIME in 2022

bool writeAll(int fd, const Bytes& bytes, std::uint64_t position)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(position + done));
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

constexpr std::uint64_t kGapClusters = 4096; // between the two extents of a worn volume's $MFT
constexpr std::uint64_t kReusedFolderEvery = 20;

// A run list of `length` clusters at cluster `start` for each extent, in order.
Bytes runList(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& extents)
{
    Bytes runs;
    std::uint64_t previous = 0;
    for (const auto& [start, length] : extents) {
        const std::size_t header = runs.size();
        runs.push_back(0x00);
        std::uint8_t lengthBytes = 0, startBytes = 0;
        for (std::uint64_t v = length; v; v >>= 8, ++lengthBytes)
            runs.push_back(static_cast<std::uint8_t>(v));
        // Each start is told from the one before, signed: a high bit set would make a step forwards
        // negative, so one more byte.
        for (std::uint64_t v = start - previous; v || (runs.back() & 0x80); v >>= 8, ++startBytes)
            runs.push_back(static_cast<std::uint8_t>(v));
        runs[header] = static_cast<std::uint8_t>(startBytes << 4 | lengthBytes);
        previous = start;
    }
    runs.push_back(0x00);
    return runs;
}

struct Layout
{
    std::uint64_t records = 0;
    bool worn = false;
    // The $MFT's extents: (first cluster, clusters); a worn volume's second one lies past a gap.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;

    std::uint64_t position(std::uint64_t record) const
    {
        std::uint64_t first = 0;
        for (const auto& [start, length] : extents) {
            const std::uint64_t held = length * kClusterSize / kRecordSize;
            if (record < first + held)
                return start * kClusterSize + (record - first) * kRecordSize;
            first += held;
        }
        return 0;
    }
};

Bytes recordFor(std::uint64_t number, const Layout& layout, std::uint64_t& deleted)
{
    RecordBuilder r(kRecordSize);
    r.number(static_cast<std::uint32_t>(number)).standardInformation(kCreated + number * 10'000'000);
    if (number == 0)
        return r.fileName(u"$MFT", kRoot)
            .nonResidentData(runList(layout.extents), layout.records * kRecordSize)
            .build();
    if (number == kRoot)
        return r.directory(true).fileName(u".", kRoot).indexRoot().build();
    if (number < kFirstUserRecord)
        return r.fileName(u"$Reserved", kRoot).residentData({}).build();
    const std::uint64_t index = number - kFirstUserRecord;
    const std::uint64_t folder = kFirstUserRecord + index / kFilesPerFolder * kFilesPerFolder;
    if (number == folder && layout.worn && index / kFilesPerFolder % kReusedFolderEvery == kReusedFolderEvery - 1) {
        const std::string name = "reused-" + std::to_string(number) + ".txt";
        return r.fileName(std::u16string(name.begin(), name.end()), kRoot).residentData({}).build();
    }
    if (number == folder) {
        const std::string name = "folder-" + std::to_string(index / kFilesPerFolder);
        return r.directory(true).fileName(std::u16string(name.begin(), name.end()), kRoot).indexRoot().build();
    }
    const bool isDeleted = number % 5 < 2;
    deleted += isDeleted;
    const std::string name = "document-" + std::to_string(number) + ".txt";
    const std::string content = "record " + std::to_string(number) + "\n";
    return r.inUse(!isDeleted)
        .fileName(std::u16string(name.begin(), name.end()), folder)
        .residentData(Bytes(content.begin(), content.end()))
        .build();
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    Layout layout;
    layout.worn = std::erase(args, "--worn") > 0;
    if (args.empty() || args.size() > 2) {
        std::fprintf(stderr, "usage: %s IMAGE [RECORDS] [--worn]\n", argv[0]);
        return 2;
    }
    const std::uint64_t records = args.size() > 1 ? std::strtoull(args[1].c_str(), nullptr, 10) / 4 * 4 : 5'000'000;
    layout.records = records;
    const std::uint64_t mftClusters = records * kRecordSize / kClusterSize;
    if (layout.worn) {
        const std::uint64_t firstClusters = mftClusters / 2;
        layout.extents = {{kMftCluster, firstClusters},
                          {kMftCluster + firstClusters + kGapClusters, mftClusters - firstClusters}};
    } else {
        layout.extents = {{kMftCluster, mftClusters}};
    }
    const std::uint64_t totalClusters = layout.extents.back().first + layout.extents.back().second + 1024;
    const int fd = ::open(args[0].c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(totalClusters * kClusterSize)) != 0) {
        std::perror(args[0].c_str());
        return 1;
    }

    Bytes boot(512, 0);
    boot[0] = 0xEB;
    boot[1] = 0x52;
    boot[2] = 0x90;
    std::copy_n("NTFS    ", 8, boot.begin() + 3);
    orv::test::put16(boot, 0x0B, 512);
    boot[0x0D] = kClusterSize / 512;
    orv::test::put64(boot, 0x28, totalClusters * (kClusterSize / 512) - 1);
    orv::test::put64(boot, 0x30, kMftCluster);
    boot[0x40] = 0xF6; // 2^10-byte records
    boot[510] = 0x55;
    boot[511] = 0xAA;
    if (!writeAll(fd, boot, 0)) {
        std::perror(args[0].c_str());
        return 1;
    }

    std::uint64_t deleted = 0;
    Bytes chunk;
    constexpr std::uint64_t kRecordsPerWrite = 4096;
    for (std::uint64_t first = 0; first < records; first += kRecordsPerWrite) {
        chunk.clear();
        // Records on both sides of the gap between extents are written apart.
        const std::uint64_t end = std::min(records, first + kRecordsPerWrite);
        for (std::uint64_t n = first; n < end; ++n) {
            const Bytes record = recordFor(n, layout, deleted);
            chunk.insert(chunk.end(), record.begin(), record.end());
            if (n + 1 < end && layout.position(n + 1) != layout.position(n) + kRecordSize) {
                if (!writeAll(fd, chunk, layout.position(n) + kRecordSize - chunk.size())) {
                    std::perror(args[0].c_str());
                    return 1;
                }
                chunk.clear();
            }
        }
        if (!writeAll(fd, chunk, layout.position(end - 1) + kRecordSize - chunk.size())) {
            std::perror(args[0].c_str());
            return 1;
        }
    }
    ::close(fd);
    std::printf("%llu\n", static_cast<unsigned long long>(deleted));
    return 0;
}
