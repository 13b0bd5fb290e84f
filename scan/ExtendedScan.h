#pragma once

#include <cstdint>

#include "scan/ScanSession.h"

namespace orv {

struct ExtendedScanReport : ScanReport
{
    bool bootSectorError = false; // the scan did not start: "Error reading boot sector (NTFS)!"
};

// How the Extended scan looks for MFT records: at 2,000 probe points (and outward from each hit),
// or by reading the whole volume from its first byte to its last, which also finds a fragment of
// an earlier $MFT that lies between two probe points.
enum class ExtendedReach { Probes, WholeVolume };

// The Extended scan: probes the volume for MFT records, reads every region found into MftBuffer,
// collects the folders of all regions and lists every deleted file record (and every record of an
// earlier file system, in use or not) that matches FileMask. Each of its four steps ends early when
// the pump sets SkipRequested; clearing ScanRunning ends the scan. Needs PrepareScan.
ExtendedScanReport NTFSFind2(ScanSession& session, Pump& pump, ScanProgress& progress,
                             std::uint64_t availablePhysicalMemory, ExtendedReach reach = ExtendedReach::Probes);

} // namespace orv
