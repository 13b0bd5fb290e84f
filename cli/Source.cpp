#include "Source.h"

#include <filesystem>

#include "BootSector.h"
#include "MftExtents.h"
#include "Output.h"
#include "SectorIo.h"

namespace orv::cli {

void addSourceOptions(CLI::App& command, SourceOptions& options)
{
    command.add_option("SOURCE", options.source, "drive letter (E:) or image file or block device")->required();
    command.add_option("--drive", options.driveLetter, "letter for a SOURCE given as a path")
        ->check([](const std::string& text) {
            return normaliseDriveLetter(text).empty() ? std::string("must be a drive letter such as E:") : "";
        });
    command.add_flag("--json", options.json, "print JSON");
}

std::string resolveSource(LinuxDriveSystem& drives, const SourceOptions& options)
{
    const std::string asLetter = normaliseDriveLetter(options.source);
    if (!asLetter.empty()) {
        for (const DriveEntry& entry : drives.drives())
            if (entry.letter == asLetter)
                return asLetter;
        return {};
    }
    std::error_code error;
    if (!std::filesystem::exists(options.source, error))
        return {};
    const std::string letter = normaliseDriveLetter(options.driveLetter);
    drives.addDrive(letter, options.source);
    return letter;
}

int openVolume(LinuxDriveSystem& drives, const SourceOptions& options, VolumeContext& ctx)
{
    const std::string letter = resolveSource(drives, options);
    if (letter.empty())
        return fail(kDriveNotFound);
    ctx.FileSystemCode = DetectFileSystem(ctx, drives, letter);
    SelectDrive(ctx, drives, letter);
    if (!ReadBootSectorNTFS(ctx))
        return fail(kBootSectorError);
    if (!ReadMftExtentsNTFS(ctx))
        return fail(kMftListError);
    return kExitDone;
}

} // namespace orv::cli
