// A bare $MFT file as the whole input, behind drive C:: recognised by its first record's header,
// scanned as a volume's $MFT is, and every listed file opened and read as a restore reads it. No
// byte outside the file's records may be taken for a file's content.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/CountingPump.h"
#include "fuzz/RecordChecks.h"
#include "results/FileSystem.h"
#include "scan/FindChecks.h"
#include "tests/support/Devices.h"
#include "volume/SectorIo.h"

using orv::fuzz::CountingPump;
using orv::fuzz::kMostSteps;
using orv::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> bytes(data, data + size);
    const auto header = orv::bareMftHeader(bytes);
    if (header)
        require(header->recordSize == 1024 || header->recordSize == 4096, "a record size a $MFT never has");
    auto device = std::make_shared<orv::test::MemoryDevice>(bytes);
    orv::test::FakeDriveSystem drives;
    drives.add("C:", device);
    orv::ScanSession session;
    if (orv::RunFindChecks(session, drives, "C: ($MFT)", u"", 10).check != orv::FindCheck::Ok ||
        session.volume.FileSystemCode != orv::FileSystemKind::MftFile)
        return 0;
    require(session.volume.MftRecordSize > 0 && session.volume.MftDataSize <= static_cast<std::int64_t>(size),
            "records beyond the file");
    orv::PrepareScan(session, u"");
    CountingPump pump(session);
    orv::ScanProgress progress;
    orv::FileSystem& fileSystem = orv::fileSystemOf(session);
    fileSystem.normalScan(session, pump, progress, std::uint64_t{256} << 20);
    require(pump.steps() < kMostSteps, "a scan ran on without end");

    session.store.forEach([&](std::u16string_view, std::u16string_view, std::u16string_view value) {
        const orv::StoredFile stored = orv::parseStoredValue(value);
        if (!stored.locator)
            return;
        const orv::OpenedFile opened = fileSystem.open(session, *stored.locator);
        if (!opened.found)
            return;
        // Only content kept inside a record is read from a bare $MFT file.
        require(session.MFTFile.Resident || opened.size == 0, "a file read from clusters the file does not hold");
        std::int64_t got = 0;
        fileSystem.stream(
            session, pump, [] { return true; },
            [&](std::span<const std::uint8_t> piece) {
                got += static_cast<std::int64_t>(piece.size());
                return true;
            },
            {});
        require(got == opened.size, "a resident file read at another size than its own");
        require(!fileSystem.wipe(session, *stored.locator).wiped, "a copied $MFT file written");
    });
    return 0;
}
