#pragma once

#include <cstdint>
#include <string>

#include "scan/ScanSession.h"

namespace orv {

// Opens the shadow copies of the session's NTFS volume into session.shadowCopies (each readable one
// with a session of its own over the copy) and lists, for each copy, under its folder ("Shadow copy
// N (YYYY-MM-DD HH:MM)\" below the drive):
// - every file the copy holds that the live volume does not hold identically: absent there,
//   deleted there, or a live file of another size or modification time at that path;
// - the copy's own deleted records, as the Normal scan finds them in the copy.
// A copy whose data lies elsewhere or that does not read as NTFS is counted and skipped; a damaged
// copy never takes what was listed before it down. Nothing is done when ListShadowCopies is clear.
// Tests the session's ScanRunning after every pump step, as the scans do.
// Lists no more files than the memory budget keeps: beyond it, report.outOfMemory and Stopped.
ScanEnd listShadowCopies(ScanSession& session, Pump& pump, ScanProgress& progress,
                         std::uint64_t availablePhysicalMemory, ScanReport& report);

// The folder of copy `number`, made at `creationTime`, from the catalogue's words ("%1" the
// number, "%2" the local time as "YYYY-MM-DD HH:MM"), without the drive or a closing "\".
std::u16string shadowCopyFolderName(std::u16string_view words, int number, std::uint64_t creationTime);

} // namespace orv
