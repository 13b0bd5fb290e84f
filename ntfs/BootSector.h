#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ntfs/VolumeContext.h"

namespace orv {

namespace boot {
inline constexpr std::size_t kOemName = 0x03; // 8 bytes, "NTFS    "
inline constexpr std::size_t kBytesPerSector = 0x0B; // u16
inline constexpr std::size_t kSectorsPerCluster = 0x0D; // u8; 0 means 8, above 0x80 a power of two
inline constexpr std::size_t kTotalSectors = 0x28; // u64
inline constexpr std::size_t kMftCluster = 0x30; // u64, logical cluster of $MFT
} // namespace boot

// The largest cluster NTFS knows (2 MiB); anything larger is a damaged boot sector.
inline constexpr std::int64_t kMaxBytesPerCluster = 2 * 1024 * 1024;
// The largest MFT record we accept; real volumes use 1,024 or 4,096 bytes.
inline constexpr std::int64_t kMaxMftRecordSize = 64 * 1024;

// Sectors per cluster as the boot-sector byte gives it: 1..128 as they are, 0 as 8, and
// 0x81..0xFF as 2 to the power of (256 - byte), the form Windows writes for clusters of 128 KiB
// and more. Nothing for a power that no volume can have.
std::optional<std::int64_t> sectorsPerClusterFromByte(std::uint8_t value);

enum class BootSectorStatus { Ok, Unreadable, NotNtfs };

// ReadBootSectorNTFS that says why it failed: sector 0 could not be read at all (the drive is
// gone or we lack the rights to read it), or it was read and does not describe an NTFS volume.
BootSectorStatus readBootSector(VolumeContext& ctx);

// Reads the geometry of Drive: BytesPerSector, SectorsPerCluster, BytesPerCluster,
// TotalSectors, TotalClusters, MftStartCluster. False when sector 0 cannot be read at any probe
// size, the sector size is below 512, the cluster size byte is impossible, or the $MFT cluster
// is 0.
bool ReadBootSectorNTFS(VolumeContext& ctx);

// The first sector of a cluster. Negative for a cluster so large that it has no sector; reads
// at such a "sector" fail and give zeros.
std::int64_t ClusterToSector(const VolumeContext& ctx, std::int64_t cluster);

// The clusters a run may name on this volume: the boot sector's count, cut to the device's size;
// counted in clusters of `bytesPerCluster` bytes when given (an earlier file system's).
std::int64_t volumeClusterCount(VolumeContext& volume, std::int64_t bytesPerCluster = 0);

} // namespace orv
