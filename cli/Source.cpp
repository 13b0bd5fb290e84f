#include "cli/Source.h"

#include <filesystem>
#include <iostream>

#include "cli/Output.h"
#include "ntfs/BareMft.h"
#include "ntfs/BootSector.h"
#include "ntfs/MftExtents.h"
#include "scan/EntryVolume.h"
#include "volume/SectorIo.h"

namespace orv::cli {

void addSourceOptions(CLI::App& command, SourceOptions& options)
{
    command.add_option("SOURCE", options.source, "drive letter (E:) or image file or block device")->required();
    command.add_option("--drive", options.driveLetter, "letter for a SOURCE given as a path")
        ->check([](const std::string& text) {
            return normaliseDriveLetter(text).empty() ? std::string("must be a drive letter such as E:") : "";
        });
    command.add_flag("--json", options.json, "print JSON");
    command
        .add_option("--partition", options.partition, "the partition of a whole disk or disk image (Linux numbering)")
        ->check(CLI::PositiveNumber);
}

std::string resolveSource(LinuxDriveSystem& drives, const SourceOptions& options, int& status, DiskSource* disk)
{
    status = kExitDone;
    const std::string asLetter = normaliseDriveLetter(options.source);
    if (!asLetter.empty()) {
        if (options.partition > 0) {
            std::cerr << "--partition is for a SOURCE given as a path: a drive letter names one volume already.\n";
            status = kExitUsage;
            return {};
        }
        for (const DriveEntry& entry : drives.drives())
            if (entry.letter == asLetter)
                return asLetter;
        return {};
    }
    std::error_code error;
    if (!std::filesystem::exists(options.source, error))
        return {};
    const std::string letter = normaliseDriveLetter(options.driveLetter);
    const DiskSource source = addPathSource(drives, options.source, letter, options.partition, disk != nullptr);
    status = source.status;
    if (disk)
        *disk = source;
    return status == kExitDone ? letter : std::string();
}

int openVolume(LinuxDriveSystem& drives, const SourceOptions& options, VolumeContext& ctx, DiskSource* disk)
{
    int status = kExitDone;
    const std::string letter = resolveSource(drives, options, status, disk);
    if (status != kExitDone)
        return status;
    if (letter.empty())
        return fail(kDriveNotFound);
    if (disk && !disk->chosen)
        return kExitDone; // a disk whose partitions are all there is to show
    ctx.FileSystemCode = DetectFileSystem(ctx, drives, letter);
    SelectDrive(ctx, drives, letter);
    if (ctx.FileSystemCode == FileSystemKind::MftFile)
        return openBareMft(ctx) ? kExitDone : fail(kMftListError);
    if (scannable(ctx.FileSystemCode) && ctx.FileSystemCode != FileSystemKind::Ntfs)
        return openEntryVolume(ctx, [] { return true; }) ? kExitDone : fail(kBootSectorError);
    if (!ReadBootSectorNTFS(ctx))
        return fail(kBootSectorError);
    if (!ReadMftExtentsNTFS(ctx))
        return fail(kMftListError);
    return kExitDone;
}

} // namespace orv::cli
