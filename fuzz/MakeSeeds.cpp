// Writes the synthetic seed inputs of the fuzz targets: small volumes and records made with the
// test builders, and hand-made run lists. The seeds cut from the fixture images come from
// extract-seeds.sh. Usage: fuzz_make_seeds CORPUS_DIR (the folder holding one folder per target).

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/RecordBuilder.h"

namespace {

namespace fs = std::filesystem;
using orv::test::Bytes;
using orv::test::RecordBuilder;
using orv::test::VolumeLayout;

constexpr std::uint64_t kCreated = 134'000'000'000'000'000ull; // a moment in 2025

void write(const fs::path& path, const Bytes& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A volume image without the zero clusters behind its last record, to keep the corpus small;
// reads there fail as they would beyond a real device's end.
Bytes trimmed(Bytes image)
{
    std::size_t end = image.size();
    while (end > 0 && image[end - 1] == 0)
        --end;
    image.resize((end + 511) / 512 * 512);
    return image;
}

Bytes withSize(std::uint8_t sizeByte, const Bytes& record)
{
    Bytes input{sizeByte};
    input.insert(input.end(), record.begin(), record.end());
    return input;
}

Bytes systemRecords(VolumeLayout volume)
{
    const std::size_t size = volume.recordSize;
    volume.records[1] = RecordBuilder(size)
                            .number(1)
                            .standardInformation(kCreated)
                            .fileName(u"$MFTMirr", 5)
                            .nonResidentData({0x11, 0x01, 0x20, 0x00}, 4096)
                            .build();
    volume.records[5] = RecordBuilder(size)
                            .number(5)
                            .directory(true)
                            .standardInformation(kCreated)
                            .fileName(u".", 5)
                            .indexRoot()
                            .build();
    volume.records[6] = RecordBuilder(size)
                            .number(6)
                            .inUse(false)
                            .standardInformation(kCreated)
                            .fileName(u"deleted.txt", 5)
                            .residentData({'g', 'o', 'n', 'e'})
                            .build();
    return trimmed(buildVolume(volume));
}

void makeBootSectorSeeds(const fs::path& dir)
{
    write(dir / "synthetic-512-sectors", systemRecords(VolumeLayout{}));

    VolumeLayout big;
    big.bytesPerSector = 4096;
    big.sectorsPerClusterByte = 1;
    big.recordSize = 4096;
    write(dir / "synthetic-4096-sectors-4096-records", systemRecords(big));

    // One-sector clusters and a $MFT in two extents: record 1 straddles them.
    VolumeLayout split;
    split.sectorsPerClusterByte = 1;
    split.clusters = 96;
    split.mftRunList = {0x11, 0x03, 0x04, 0x11, 0x0C, 0x20, 0x00};
    write(dir / "synthetic-mft-in-two-extents", systemRecords(split));

    // 64 KiB clusters, written as the power-of-two byte Windows uses.
    VolumeLayout wide;
    wide.sectorsPerClusterByte = 0x80;
    wide.clusters = 4;
    wide.mftCluster = 1;
    wide.mftRunList = {0x11, 0x01, 0x01, 0x00};
    write(dir / "synthetic-64k-clusters", systemRecords(wide));
}

void makeOverlapSeed(const fs::path& dir)
{
    // Two $MFT runs of 2^63 - 16 clusters, the second starting inside the first: their ends lie
    // past the largest cluster number, and the overlap check once overflowed on them.
    VolumeLayout overlapping;
    overlapping.mftRunList = {0x18, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x04, 0x18,
                              0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x60, 0x00};
    write(dir / "mft-runs-overlap-past-the-largest-cluster", systemRecords(overlapping));
}

void makeRecordSeeds(const fs::path& dir)
{
    const Bytes runs = {0x21, 0x04, 0x00, 0x01, 0x11, 0x02, 0x10, 0x21, 0x03, 0xF0, 0xFE, 0x00};
    write(dir / "builder-resident-file",
          withSize(0,
                   RecordBuilder()
                       .number(70)
                       .standardInformation(kCreated)
                       .fileName(u"notes.txt", 5)
                       .residentData({'h', 'e', 'l', 'l', 'o'})
                       .build()));
    write(dir / "builder-deleted-fragmented-file",
          withSize(0,
                   RecordBuilder()
                       .number(71)
                       .inUse(false)
                       .standardInformation(kCreated)
                       .fileName(u"report.doc", 64)
                       .nonResidentData(runs, 36000)
                       .build()));
    write(dir / "builder-directory",
          withSize(0,
                   RecordBuilder()
                       .number(64)
                       .directory(true)
                       .standardInformation(kCreated)
                       .fileName(u"Documents", 5)
                       .indexRoot()
                       .build()));
    write(dir / "builder-named-stream-before-data",
          withSize(0,
                   RecordBuilder()
                       .number(72)
                       .standardInformation(kCreated)
                       .fileName(u"a.txt", 5)
                       .residentData({'x'}, u"Zone.Identifier")
                       .nonResidentData({0x11, 0x01, 0x30, 0x00}, 100)
                       .build()));
    write(dir / "builder-surrogate-pair-name",
          withSize(0,
                   RecordBuilder()
                       .number(73)
                       .standardInformation(kCreated)
                       .fileName(u"photo-\U0001F4F7\xD800.jpg", 5)
                       .residentData({})
                       .build()));
    write(dir / "builder-4096-byte-record",
          withSize(1,
                   RecordBuilder(4096)
                       .number(74)
                       .inUse(false)
                       .standardInformation(kCreated)
                       .fileName(u"big.bin", 5)
                       .nonResidentData(runs, 1 << 20)
                       .build()));
    write(
        dir / "builder-no-end-marker",
        withSize(0, RecordBuilder().number(75).standardInformation(kCreated).fileName(u"x", 5).noEndMarker().build()));
}

void makeDataRunSeeds(const fs::path& dir)
{
    const std::vector<std::pair<const char*, Bytes>> lists = {
        {"one-run", {0x11, 0x08, 0x04, 0x00}},
        {"second-run-steps-back", {0x31, 0x10, 0x00, 0x40, 0x0C, 0x21, 0x08, 0xF0, 0xFF, 0x00}},
        {"three-runs", {0x21, 0x04, 0x00, 0x01, 0x11, 0x02, 0x10, 0x21, 0x03, 0xF0, 0xFE, 0x00}},
        {"sparse-run-ends-list", {0x11, 0x04, 0x10, 0x01, 0x05, 0x00}},
        {"hole-between-runs", {0x11, 0x04, 0x10, 0x01, 0x05, 0x11, 0x04, 0x20, 0x00}},
        {"no-end-marker", {0x11, 0x04, 0x10}},
        {"length-field-too-wide", {0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10}},
        {"offset-field-too-wide", {0x91, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"field-runs-past-end", {0x14, 0x01}},
        {"eight-byte-fields", {0x88, 1, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00}},
        {"length-above-int64", {0x18, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0x00}},
        {"offset-wraps-below-zero", {0x11, 0x01, 0x01, 0x11, 0x01, 0x80, 0x11, 0x01, 0x80, 0x00}},
        {"many-short-runs", {0x11, 1, 1, 0x11, 1, 1, 0x11, 1, 1, 0x11, 1, 1, 0x11, 1, 1, 0x11, 1, 1, 0x00}},
    };
    for (const auto& [name, bytes] : lists)
        write(dir / name, bytes);
}

void makeAttributeListSeeds(const fs::path& dir)
{
    // Base record 1 names records 2 and 3; record 2 holds the names and the first segment.
    const auto join = [](std::initializer_list<Bytes> records) {
        Bytes all;
        for (const Bytes& r : records)
            all.insert(all.end(), r.begin(), r.end());
        return all;
    };
    const Bytes empty(1024, 0);
    const Bytes base = RecordBuilder()
                           .number(1)
                           .inUse(false)
                           .standardInformation(kCreated)
                           .attributeList({{0x30, 0, 2}, {0x80, 0, 2}, {0x80, 4, 3}})
                           .build();
    const Bytes first = RecordBuilder()
                            .number(2)
                            .baseRecord(1)
                            .fileName(u"Quarterly Report Final.docx", 5, 1)
                            .fileName(u"QUARTE~1.DOC", 5, 2)
                            .dataSegment({0x11, 0x04, 0x10, 0x00}, 6 * 4096, {})
                            .build();
    const auto second = [](std::uint64_t lowestVcn) {
        return RecordBuilder()
            .number(3)
            .baseRecord(1)
            .dataSegment({0x11, 0x02, 0x30, 0x00}, 0, {.lowestVcn = lowestVcn})
            .build();
    };
    write(dir / "builder-two-extension-records", join({empty, base, first, second(4)}));
    write(dir / "builder-extension-record-missing", join({empty, base, first}));
    write(dir / "builder-segments-overlap", join({empty, base, first, second(1)}));
}

void makeLznt1Seeds(const fs::path& dir)
{
    Bytes unit = {15}; // 16 x 512 bytes: two chunks
    for (int chunk = 0; chunk < 2; ++chunk)
        unit.insert(unit.end(), {0x04, 0xB0, 0x04, 'a', 'b', 0xFB, 0x1F});
    write(dir / "two-repeating-chunks", unit);
    Bytes stored = {7, 0xFF, 0x3F}; // one chunk of 4,096 bytes stored as is
    stored.resize(3 + 4096, 'x');
    write(dir / "stored-chunk", stored);
    write(dir / "reference-before-the-start", {7, 0x04, 0xB0, 0x04, 'a', 'b', 0xFB, 0xFF});
    write(dir / "header-longer-than-input", {7, 0xFF, 0xBF, 0x00, 'a'});
}

// Volumes whose counts claim far more than the image holds: a $MFT run of 2^62 clusters, and a
// boot sector of 2^62 sectors, whose probe points once overflowed their percentage.
void makeScanSeeds(const fs::path& dir)
{
    write(dir / "synthetic-512-sectors", systemRecords(VolumeLayout{}));
    VolumeLayout longRun;
    longRun.mftRunList = {0x18, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x04, 0x00};
    write(dir / "mft-run-of-2-to-the-62-clusters", systemRecords(longRun));
    VolumeLayout claimed;
    claimed.totalSectors = std::uint64_t{1} << 62;
    write(dir / "total-sectors-2-to-the-62", systemRecords(claimed));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const fs::path corpus = argv[1];
    makeBootSectorSeeds(corpus / "fuzz_boot_sector");
    makeOverlapSeed(corpus / "fuzz_boot_sector");
    makeRecordSeeds(corpus / "fuzz_record");
    makeDataRunSeeds(corpus / "fuzz_data_runs");
    makeAttributeListSeeds(corpus / "fuzz_attribute_list");
    makeLznt1Seeds(corpus / "fuzz_lznt1");
    makeScanSeeds(corpus / "fuzz_scan");
    return 0;
}
