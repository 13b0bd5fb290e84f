#pragma once

#include <cstdint>

#include "scan/ScanSession.h"

namespace orv {

// The Normal scan: loads the $MFT the boot sector names into MftBuffer within the memory budget,
// the $Bitmap into VolumeBitmap, and lists every deleted file record that matches FileMask in
// the store under its rebuilt folder path. Needs a successful RunFindChecks and PrepareScan; sets
// ScanRunning for its length and stops at the next step after the pump clears it, keeping what
// it listed so far.
ScanReport NTFSFind1(ScanSession& session, Pump& pump, ScanProgress& progress, std::uint64_t availablePhysicalMemory);

} // namespace orv
