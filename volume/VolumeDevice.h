#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/SectorDevice.h"

namespace orv {

// What the identification of a drive found. The values are the codes the Find checks and the
// CLI's `drives --json` report.
enum class FileSystemKind : std::uint8_t {
    Unknown = 0,
    MftFile = 1, // a bare $MFT copied off a volume: records only, no volume around them
    Fat12 = 12,
    Fat = 16, // FAT16
    Fat32 = 32,
    Ntfs = 64,
    ExFat = 128,
};

// The file systems a scan can read.
constexpr bool scannable(FileSystemKind kind)
{
    return kind == FileSystemKind::Ntfs || kind == FileSystemKind::Fat12 || kind == FileSystemKind::Fat ||
        kind == FileSystemKind::Fat32 || kind == FileSystemKind::ExFat || kind == FileSystemKind::MftFile;
}

// The drive being read, as every file system sees it: its name, its bytes, and the geometry its
// boot sector gives. The file systems' own state (the $MFT of NTFS, the tables of FAT) lies above
// this layer.
struct VolumeDevice
{
    std::string Drive; // "E:"
    std::shared_ptr<SectorDevice> Device; // the bytes behind Drive; null when Drive is unknown
    FileSystemKind FileSystemCode = FileSystemKind::Unknown;

    std::int64_t BytesPerSector = 0;
    std::int64_t SectorsPerCluster = 0;
    std::int64_t BytesPerCluster = 0;
    std::int64_t TotalSectors = 0;
    std::int64_t TotalClusters = 0;
};

} // namespace orv
