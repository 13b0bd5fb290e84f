#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace orv {

// Whole transfers over a file descriptor. The system may move fewer bytes than asked, and never
// more than about 2 GiB in one call: each function loops until every byte has moved, retrying a
// call that a signal interrupted. False when a call fails or the file ends first; what has moved
// by then stays moved.

// True when [position, position + count) can be addressed as a file offset.
bool transferFits(std::uint64_t position, std::size_t count);

bool readAllAt(int fd, std::uint64_t position, std::span<std::uint8_t> out);
bool writeAllAt(int fd, std::uint64_t position, std::span<const std::uint8_t> in);

// At the descriptor's current position.
bool writeAll(int fd, std::span<const std::uint8_t> bytes);
bool writeAll(int fd, std::string_view text);

} // namespace orv
