#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/DriveSystem.h"
#include "volume/VolumeDevice.h"

namespace orv {

// Reads out.size() bytes from sector `firstSector` of the context's drive. The buffer is zeroed
// first, and zeroed again when anything fails, so a caller never finds stale bytes: unreadable
// sectors read as zeros.
bool ReadSectors(VolumeDevice& ctx, std::uint64_t firstSector, std::span<std::uint8_t> out);

// Writes in.size() bytes at sector `firstSector` of the context's drive.
bool WriteSectors(VolumeDevice& ctx, std::uint64_t firstSector, std::span<const std::uint8_t> in);

// Makes `driveText` ("E:" or "E:\") the context's drive: sets Drive and Device. False when the
// text is not a drive letter or the letter is not in the drive table (Device is then null).
bool SelectDrive(VolumeDevice& ctx, DriveSystem& drives, std::string_view driveText);

// Which file system the drive carries: the mounted file system's name when the operating system
// knows it, else the boot sector's own words. Only the boot-sector fallback changes Drive and
// BytesPerSector.
FileSystemKind DetectFileSystem(VolumeDevice& ctx, DriveSystem& drives, std::string_view driveText);

// The file system of a drive of the table, for the drive lists: detected on a context of its own,
// so the drive of the last Find keeps its description.
FileSystemKind fileSystemOfDrive(DriveSystem& drives, std::string_view driveText);

// "NTFS", "FAT12", "FAT16", "FAT32" or "exFAT", "" for an unknown one.
std::string_view fileSystemName(FileSystemKind kind);

// The file system a boot sector's identifying words give: the OEM name "NTFS    " or "EXFAT   " at
// bytes 3..10, "FAT32" in the FAT32 file-system type at 0x52, "FAT" in the FAT12/16 type at 0x36.
FileSystemKind fileSystemFromBootSector(std::span<const std::uint8_t> sector);

// Probes the sector size the way the boot-sector readers do: 512 x k for k = 1..8, the first
// size that reads sector 0 wins. Leaves that size in BytesPerSector and sector 0 in `sector`.
bool probeSectorZero(VolumeDevice& ctx, std::vector<std::uint8_t>& sector);

// What the first record of a bare $MFT file says of itself: its size (1,024 or 4,096 bytes) and
// its update sequence, whose number ends every 512-byte stride of a record as written.
struct BareMftHeader
{
    std::int64_t recordSize = 0;
    std::uint16_t updateSequenceNumber = 0;
    int strides = 0; // 512-byte strides of the record
};

// The header of the record at the start of `bytes` when they begin like a file of MFT records
// (collection tools copy $MFT off a live volume): the "FILE" signature, an allocated size of
// 1,024 or 4,096 bytes that the bytes hold, an update-sequence array with one entry per stride
// that lies before the first attribute, every stride ending in the sequence number, and a used
// size inside the record. Nothing otherwise.
std::optional<BareMftHeader> bareMftHeader(std::span<const std::uint8_t> bytes);

} // namespace orv
