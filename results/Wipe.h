#pragma once

#include <cstdint>
#include <string>

#include "scan/ScanSession.h"

namespace orv {

// True when the system has the scanned volume mounted read-write now: its driver may write its
// cached copy of a record back over a wipe at any time, or trip over the record gone under it.
bool mountedWritable(VolumeContext& volume);

struct WipeOutcome
{
    bool wiped = false;
    std::string reason; // why nothing was written
};

// Overwrites the MFT record at `recordOffset` of MftBuffer with zeros on the volume, finding it
// through the extents the scan read. Nothing is written unless the record read from the volume,
// once fixed up, is the record the scan listed (MftBuffer keeps its digest): the record overwritten
// is the one listed, never another that now stands there. A record that does not start or end on a sector boundary is
// written by reading and rewriting its sectors, so no other byte of the volume changes.
// Also refused while the volume is mounted read-write (see mountedWritable).
WipeOutcome WipeFileNTFS(ScanSession& session, std::int64_t recordOffset);

} // namespace orv
