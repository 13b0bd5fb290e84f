#pragma once

// Where the $MFT lies on the volume and how one of its records is read from there.

#include <cstdint>
#include <vector>

#include "ntfs/VolumeContext.h"

namespace orv {

// Reads $MFT record 0 and fills MftRecordSize and MftExtentList from its unnamed $DATA. Needs a
// successful ReadBootSectorNTFS. False when record 0 cannot be read, does not start with "FI",
// has an impossible update-sequence count, or has no non-resident $DATA before the first
// attribute type above $DATA. True also when no extent was collected.
bool ReadMftExtentsNTFS(VolumeContext& ctx);

// Reads the bytes of MFT record `number` from the volume through the $MFT extents (a record may
// straddle two extents when clusters are smaller than records), fixups not applied. False when
// the record lies beyond the extents or a read fails.
bool ReadMftRecordNTFS(VolumeContext& ctx, std::int64_t number, std::vector<std::uint8_t>& out);

} // namespace orv
