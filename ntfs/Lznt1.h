#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace orv {

// Decompresses one compression unit of an NTFS-compressed stream: the LZNT1 chunks at the start of
// `compressed` (each a 2-byte header and at most 4,096 bytes of output) into `out`, which is the
// unit's size. The chunks end at a zero header, at the end of the input, or when `out` is full;
// whatever follows them in the unit's last cluster is never read. Each chunk stands for 4,096
// bytes of output; what a chunk or the stream does not make is zeros. Nothing when a chunk is
// damaged (a reference before the chunk's start, or more bytes than a chunk holds); `out` is then
// all zeros. Every length is checked against the input and the output: hostile bytes cannot make
// it read or write outside either.
std::optional<std::size_t> decompressLznt1Unit(std::span<const std::uint8_t> compressed, std::span<std::uint8_t> out);

} // namespace orv
