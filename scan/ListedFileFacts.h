#pragma once

#include <cstdint>
#include <optional>

#include "volume/VolumeContext.h"

namespace orv {

// What the record of a listed file says beyond the store's texts. The store keeps a file's date
// and time as text in the user's format, which neither sorts nor converts; these come from the
// record the way the scan read it when it listed the file.
struct ListedFileFacts
{
    std::optional<std::uint64_t> creationTime; // FILETIME (UTC) of $STANDARD_INFORMATION
    bool hasData = false; // an unnamed $DATA: the file's content
    bool resident = false; // that content lies inside the record
    std::int64_t size = 0; // its size in bytes
};

// The facts of the file whose record lies at `recordOffset` of MftBuffer (as a store entry gives
// it), its extension records included, read from the volume and fixed up in a copy.
// Nothing when no whole record lies at that offset or its attributes cannot be walked.
std::optional<ListedFileFacts> listedFileFacts(VolumeContext& volume, std::int64_t recordOffset);

} // namespace orv
