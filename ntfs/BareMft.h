#pragma once

// A bare $MFT file as a source: the records a collection tool copied off a volume, without the
// volume. The file is the $MFT's data, so record N lies at N x the record size; the clusters the
// records' runs name are not in it.

#include <optional>

#include "ntfs/VolumeContext.h"
#include "volume/SectorIo.h"

namespace orv {

// Describes the file behind the context's device as a volume whose only content is its $MFT:
// one extent from offset 0 over every whole record, 512-byte sectors (the update-sequence
// stride), and a "cluster" of one record, so that record offsets, the loaded bytes and the
// Normal scan's walk work as on a volume. The header of its first record; nothing when the file
// does not begin with one or its size cannot be had.
std::optional<BareMftHeader> openBareMft(VolumeContext& ctx);

} // namespace orv
