// Writes an NTFS volume with a very large $MFT straight into a sparse image file, much faster than a
// file system driver could fill one: real 1,024-byte records made by the test record builder, in
// folders of 1,000 files, of which 40% are deleted. Only the boot sector and the $MFT hold data;
// the rest of the volume stays a hole.
//
// usage: make_large_volume IMAGE [RECORDS]      (default 5,000,000 records)
// Prints the number of deleted files it wrote, which a Normal scan must list.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
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

// A run list of one run: `length` clusters at cluster `start`.
Bytes oneRun(std::uint64_t start, std::uint64_t length)
{
    Bytes runs{0x00};
    std::uint8_t lengthBytes = 0, startBytes = 0;
    for (std::uint64_t v = length; v; v >>= 8, ++lengthBytes)
        runs.push_back(static_cast<std::uint8_t>(v));
    // The start is signed: a high bit set would make it negative, so one more byte.
    for (std::uint64_t v = start; v || (runs.back() & 0x80); v >>= 8, ++startBytes)
        runs.push_back(static_cast<std::uint8_t>(v));
    runs[0] = static_cast<std::uint8_t>(startBytes << 4 | lengthBytes);
    runs.push_back(0x00);
    return runs;
}

Bytes recordFor(std::uint64_t number, std::uint64_t records, std::uint64_t& deleted)
{
    RecordBuilder r(kRecordSize);
    r.number(static_cast<std::uint32_t>(number)).standardInformation(kCreated + number * 10'000'000);
    if (number == 0)
        return r.fileName(u"$MFT", kRoot)
            .nonResidentData(oneRun(kMftCluster, records * kRecordSize / kClusterSize), records * kRecordSize)
            .build();
    if (number == kRoot)
        return r.directory(true).fileName(u".", kRoot).indexRoot().build();
    if (number < kFirstUserRecord)
        return r.fileName(u"$Reserved", kRoot).residentData({}).build();
    const std::uint64_t index = number - kFirstUserRecord;
    const std::uint64_t folder = kFirstUserRecord + index / kFilesPerFolder * kFilesPerFolder;
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
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s IMAGE [RECORDS]\n", argv[0]);
        return 2;
    }
    const std::uint64_t records = argc > 2 ? std::strtoull(argv[2], nullptr, 10) / 4 * 4 : 5'000'000;
    const std::uint64_t mftClusters = records * kRecordSize / kClusterSize;
    const std::uint64_t totalClusters = kMftCluster + mftClusters + 1024;
    const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(totalClusters * kClusterSize)) != 0) {
        std::perror(argv[1]);
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
        std::perror(argv[1]);
        return 1;
    }

    std::uint64_t deleted = 0;
    Bytes chunk;
    constexpr std::uint64_t kRecordsPerWrite = 4096;
    for (std::uint64_t first = 0; first < records; first += kRecordsPerWrite) {
        chunk.clear();
        for (std::uint64_t n = first; n < std::min(records, first + kRecordsPerWrite); ++n) {
            const Bytes record = recordFor(n, records, deleted);
            chunk.insert(chunk.end(), record.begin(), record.end());
        }
        if (!writeAll(fd, chunk, kMftCluster * kClusterSize + first * kRecordSize)) {
            std::perror(argv[1]);
            return 1;
        }
    }
    ::close(fd);
    std::printf("%llu\n", static_cast<unsigned long long>(deleted));
    return 0;
}
