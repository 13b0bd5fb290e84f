#pragma once

// SOURCE, the argument every command but `drives` takes: a letter of the drive table ("E:") or
// the path of an image file or block device, which then takes the letter of --drive (C: unless
// given).

#include <string>

#include <CLI/CLI.hpp>

#include "cli/DiskSource.h"
#include "ntfs/VolumeContext.h"
#include "platform/linux/LinuxDriveSystem.h"

namespace orv::cli {

struct SourceOptions
{
    std::string source;
    std::string driveLetter = "C:";
    bool json = false;
    int partition = 0; // of a whole disk given as a path; 0: not chosen
};

// SOURCE, --drive, --partition and --json on a command.
void addSourceOptions(CLI::App& command, SourceOptions& options);

// The letter SOURCE stands for, or an empty text when there is no such drive. A path to a disk
// stands for one of its partitions; when that cannot be chosen `status` says how to exit (the
// message is printed), unless `disk` is given (info), which then describes the disk.
std::string resolveSource(LinuxDriveSystem& drives, const SourceOptions& options, int& status,
                          DiskSource* disk = nullptr);

// What the Find command checks before a scan: the drive, its boot sector, its $MFT extents.
// kExitDone with `ctx` describing the volume, else the status to exit with (the message printed).
// With `disk` (info), a disk whose volume is not chosen is described instead (`disk->chosen`).
int openVolume(LinuxDriveSystem& drives, const SourceOptions& options, VolumeContext& ctx, DiskSource* disk = nullptr);

} // namespace orv::cli
