#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "MftRecord.h"
#include "ScanSession.h"

namespace orv {

struct ContentReport
{
    std::int64_t written = 0;
    bool damaged = false;      // some bytes could not be read and came as zeros, or the runs end early
    bool stopped = false;      // keepGoing said no: the file holds what came before
    bool outputFailed = false; // the sink refused a chunk
};

// The largest piece of a file read or written at once, whatever the length of its runs.
inline constexpr std::int64_t kContentChunk = 4 * 1024 * 1024;

// Hands a decoded file's content (MFTFile after DecodeRecordNTFS) to `sink` in order, in pieces of
// at most kContentChunk bytes: the resident bytes, or the clusters of its runs cut at its size.
// A run that cannot be read comes as zeros of its length, so every later byte keeps its offset.
// A run that reaches past the end of the volume cannot belong to the file: the content ends there.
// `keepGoing` is asked before every piece; the pump runs between pieces.
ContentReport streamFileContent(VolumeContext& volume, const TMFTFile& file, Pump& pump,
                                const std::function<bool()>& keepGoing,
                                const std::function<bool(std::span<const std::uint8_t>)>& sink);

} // namespace orv
