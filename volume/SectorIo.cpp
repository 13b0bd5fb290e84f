#include "volume/SectorIo.h"

#include <algorithm>
#include <limits>
#include <string>

#include "volume/LeReader.h"

namespace orv {

namespace {

// The byte position of a sector, or nothing when it lies beyond the 64-bit range.
std::optional<std::uint64_t> bytePosition(const VolumeDevice& ctx, std::uint64_t sector)
{
    if (ctx.BytesPerSector <= 0)
        return std::nullopt;
    std::uint64_t position = 0;
    if (__builtin_mul_overflow(sector, static_cast<std::uint64_t>(ctx.BytesPerSector), &position))
        return std::nullopt;
    return position;
}

bool contains(std::span<const std::uint8_t> bytes, std::string_view word)
{
    return std::search(bytes.begin(), bytes.end(), word.begin(), word.end()) != bytes.end();
}

} // namespace

bool ReadSectors(VolumeDevice& ctx, std::uint64_t firstSector, std::span<std::uint8_t> out)
{
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    const auto position = bytePosition(ctx, firstSector);
    if (!ctx.Device || !position)
        return false;
    if (ctx.Device->read(*position, out))
        return true;
    // A device may have filled part of the buffer before it failed.
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    return false;
}

bool WriteSectors(VolumeDevice& ctx, std::uint64_t firstSector, std::span<const std::uint8_t> in)
{
    const auto position = bytePosition(ctx, firstSector);
    if (!ctx.Device || !position)
        return false;
    return ctx.Device->write(*position, in);
}

bool SelectDrive(VolumeDevice& ctx, DriveSystem& drives, std::string_view driveText)
{
    const std::string letter = normaliseDriveLetter(driveText);
    ctx.Drive = letter.empty() ? std::string(driveText) : letter;
    ctx.Device = letter.empty() ? nullptr : drives.openDrive(letter);
    return ctx.Device != nullptr;
}

FileSystemKind fileSystemFromBootSector(std::span<const std::uint8_t> sector)
{
    const LeReader r(sector);
    if (const auto oem = r.slice(3, 8); oem && contains(*oem, "NTFS"))
        return FileSystemKind::Ntfs;
    if (const auto oem = r.slice(3, 8); oem && contains(*oem, "EXFAT"))
        return FileSystemKind::ExFat;
    if (const auto fat32Type = r.slice(0x52, 8); fat32Type && contains(*fat32Type, "FAT32"))
        return FileSystemKind::Fat32;
    // The type words of FAT12 and FAT16 are only a label; the scan tells the two apart by the
    // cluster count, as the file system itself does.
    if (const auto fatType = r.slice(0x36, 8); fatType && contains(*fatType, "FAT12"))
        return FileSystemKind::Fat12;
    if (const auto fatType = r.slice(0x36, 8); fatType && contains(*fatType, "FAT"))
        return FileSystemKind::Fat;
    return FileSystemKind::Unknown;
}

bool probeSectorZero(VolumeDevice& ctx, std::vector<std::uint8_t>& sector)
{
    for (std::int64_t k = 1; k <= 8; ++k) {
        ctx.BytesPerSector = 512 * k;
        sector.assign(static_cast<std::size_t>(ctx.BytesPerSector), 0);
        if (ReadSectors(ctx, 0, sector))
            return true;
    }
    return false;
}

std::optional<BareMftHeader> bareMftHeader(std::span<const std::uint8_t> bytes)
{
    const LeReader r(bytes);
    const auto signature = r.slice(0, 4);
    if (!signature || !std::equal(signature->begin(), signature->end(), "FILE"))
        return std::nullopt;
    const auto usaOffset = r.u16(0x04), usaCount = r.u16(0x06), firstAttribute = r.u16(0x14);
    const auto used = r.u32(0x18), allocated = r.u32(0x1C);
    if (!usaOffset || !usaCount || !firstAttribute || !used || !allocated ||
        (*allocated != 1024 && *allocated != 4096) || bytes.size() < *allocated)
        return std::nullopt;
    const int strides = static_cast<int>(*allocated / 512);
    if (*usaCount != strides + 1 || *usaOffset < 0x28 || *usaOffset % 2 != 0 ||
        *usaOffset + 2u * *usaCount > *firstAttribute || *firstAttribute >= *allocated || *used > *allocated)
        return std::nullopt;
    const std::uint16_t number = *r.u16(*usaOffset);
    for (int k = 1; k <= strides; ++k)
        if (r.u16(static_cast<std::size_t>(512 * k - 2)) != number)
            return std::nullopt;
    return BareMftHeader{*allocated, number, strides};
}

FileSystemKind DetectFileSystem(VolumeDevice& ctx, DriveSystem& drives, std::string_view driveText)
{
    if (driveText.empty())
        return FileSystemKind::Unknown;
    const std::string letter = normaliseDriveLetter(driveText);
    const std::string name = letter.empty() ? std::string() : drives.fileSystemName(letter);
    for (const FileSystemKind kind : {FileSystemKind::Fat12, FileSystemKind::Fat, FileSystemKind::Fat32,
                                      FileSystemKind::ExFat, FileSystemKind::Ntfs})
        if (name == fileSystemName(kind))
            return kind;

    SelectDrive(ctx, drives, driveText);
    std::vector<std::uint8_t> sector;
    if (!probeSectorZero(ctx, sector))
        return FileSystemKind::Unknown;
    if (const FileSystemKind kind = fileSystemFromBootSector(sector); kind != FileSystemKind::Unknown)
        return kind;
    // No boot sector: a file of MFT records copied off a volume begins with its first record.
    std::vector<std::uint8_t> record(4096);
    const std::int64_t bytesPerSector = ctx.BytesPerSector;
    ctx.BytesPerSector = 512;
    for (const std::size_t size : {std::size_t{4096}, std::size_t{1024}}) {
        record.resize(size);
        if (ReadSectors(ctx, 0, record) && bareMftHeader(record))
            return FileSystemKind::MftFile;
    }
    ctx.BytesPerSector = bytesPerSector;
    return FileSystemKind::Unknown;
}

FileSystemKind fileSystemOfDrive(DriveSystem& drives, std::string_view driveText)
{
    VolumeDevice probe;
    return DetectFileSystem(probe, drives, driveText);
}

std::string_view fileSystemName(FileSystemKind kind)
{
    switch (kind) {
    case FileSystemKind::Ntfs: return "NTFS";
    case FileSystemKind::Fat32: return "FAT32";
    case FileSystemKind::Fat: return "FAT16";
    case FileSystemKind::Fat12: return "FAT12";
    case FileSystemKind::ExFat: return "exFAT";
    case FileSystemKind::MftFile: return "$MFT";
    case FileSystemKind::Unknown: break;
    }
    return "";
}

} // namespace orv
