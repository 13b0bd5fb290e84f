#pragma once

// SOURCE, the argument every command but `drives` takes: a letter of the drive table ("E:") or
// the path of an image file or block device, which then takes the letter of --drive (C: unless
// given).

#include <string>

#include <CLI/CLI.hpp>

#include "LinuxDriveSystem.h"
#include "VolumeContext.h"

namespace orv::cli {

struct SourceOptions
{
    std::string source;
    std::string driveLetter = "C:";
    bool json = false;
};

// SOURCE, --drive and --json on a command.
void addSourceOptions(CLI::App& command, SourceOptions& options);

// The letter SOURCE stands for, or an empty text when there is no such drive.
std::string resolveSource(LinuxDriveSystem& drives, const SourceOptions& options);

// What the Find command checks before a scan: the drive, its boot sector, its $MFT extents.
// kExitDone with `ctx` describing the volume, else the status to exit with (the message printed).
int openVolume(LinuxDriveSystem& drives, const SourceOptions& options, VolumeContext& ctx);

} // namespace orv::cli
