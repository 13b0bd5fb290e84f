#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace orv::test {

// Lower-case hex SHA-256 of the bytes, to compare what we read with the fixture manifests.
std::string sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace orv::test
