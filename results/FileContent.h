#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "ntfs/BootSector.h"
#include "ntfs/MftRecord.h"
#include "scan/ScanSession.h"

namespace orv {

struct ContentReport
{
    std::int64_t written = 0;
    std::int64_t zeroedBytes = 0; // bytes of data that could not be read and came as zeros
    std::int64_t badUnits = 0; // compressed units that could not be decompressed (zeros)
    std::int64_t firstBadUnit = -1; // the first of them, counted from 0
    bool recordDamaged = false; // the run list cannot describe the file: it ends early
    int undecodableUnit = -1; // the compression-unit field of a file compressed in units we cannot
        // decode (nothing of it is given); -1 otherwise
    bool partLost = false; // an extension record holding part of the run list is gone
    bool damaged = false; // any of the above: the file is not exactly what was deleted
    bool stopped = false; // keepGoing said no: the file holds what came before
    bool outputFailed = false; // the sink refused a chunk

    // Why the file is not whole, in the restore report's words; empty when it is.
    std::string reason() const;
};

// The largest piece of a file read or written at once, whatever the length of its runs.
inline constexpr std::int64_t kContentChunk = 4 * 1024 * 1024;

// Hands a decoded file's content (MFTFile after DecodeRecordNTFS) to `sink` in order, in pieces of
// at most kContentChunk bytes, always at the file's size: the resident bytes, or the clusters of
// its runs. A hole reads as zeros; so does a run that cannot be read, lies outside the volume or
// was lost with its extension record, and the runs after it are still read, so every byte keeps
// its offset. LZNT1-compressed units are decompressed; bytes past the valid length are zeros.
// Only a run list that ends far beyond anything the volume could hold (a damaged record) gives a
// shorter file. `keepGoing` is asked before every piece; the pump runs between pieces.
ContentReport streamFileContent(VolumeContext& volume, const TMFTFile& file, Pump& pump,
                                const std::function<bool()>& keepGoing,
                                const std::function<bool(std::span<const std::uint8_t>)>& sink);

// The same, with the zeros the file holds but its volume never stored (holes, runs that cannot be
// read, the part past the valid length or past the runs) handed to `gap` as a count of bytes
// instead of to `sink`, so a restored file can be sparse where the original was. A file whose
// runs claim more stored bytes than its volume holds is a damaged record: its content ends there.
ContentReport streamFileContent(VolumeContext& volume, const TMFTFile& file, Pump& pump,
                                const std::function<bool()>& keepGoing,
                                const std::function<bool(std::span<const std::uint8_t>)>& sink,
                                const std::function<bool(std::int64_t)>& gap);

// The bytes a restore of the file writes to disk at most when its gaps are left as holes: what its
// runs store, up to its size. The resident bytes for a resident file.
std::int64_t storedContentBytes(VolumeContext& volume, const TMFTFile& file);

} // namespace orv
