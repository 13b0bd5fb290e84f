#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace orv {

// Lower-case hex SHA-256 of bytes: what a restore wrote, for reports that let a user check it.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

// The same for a file's content, read in pieces; empty when the file cannot be read.
std::string sha256OfFile(const char* path);

} // namespace orv
