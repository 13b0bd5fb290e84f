// A whole volume image behind drive C:, scanned as Find scans it: the checks, the Normal scan, and
// the Extended scan by probes. Sizes, run lists and the boot sector's counts come from the image,
// so a scan must end after a number of steps that the device's real size bounds, whatever they
// claim.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/CountingPump.h"
#include "fuzz/RecordChecks.h"
#include "scan/ExtendedScan.h"
#include "scan/FindChecks.h"
#include "scan/NormalScan.h"
#include "tests/support/Devices.h"

using orv::fuzz::CountingPump;
using orv::fuzz::kMostSteps;
using orv::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto device = std::make_shared<orv::test::MemoryDevice>(std::vector<std::uint8_t>(data, data + size));
    orv::test::FakeDriveSystem drives;
    drives.add("C:", device);
    constexpr std::uint64_t kMemory = std::uint64_t{256} << 20;
    for (const bool extended : {false, true}) {
        orv::ScanSession session;
        if (orv::RunFindChecks(session, drives, "C: (NTFS)", u"", 10).check != orv::FindCheck::Ok)
            return 0;
        orv::PrepareScan(session, u"");
        CountingPump pump(session);
        orv::ScanProgress progress;
        if (extended)
            orv::NTFSFind2(session, pump, progress, kMemory);
        else
            orv::NTFSFind1(session, pump, progress, kMemory);
        require(pump.steps() < kMostSteps, "a scan ran on without end");
        require(!session.ScanRunning, "a scan ended with its flag still raised");
    }
    return 0;
}
