// orvandel-cli: the scripting face of Orvandel. Messages are the program's own English texts;
// exit status 0 means done, 1 that the operation failed, 2 a usage error.

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "BootSector.h"
#include "LinuxDriveSystem.h"
#include "MftRecord.h"
#include "SectorIo.h"

namespace {

using orv::VolumeContext;
using Json = nlohmann::ordered_json;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kDriveNotFound = "Drive not found!";
constexpr const char* kBootSectorError = "Error reading boot sector (NTFS)!";
constexpr const char* kMftListError = "MFT list reading error!";

int fail(const std::string& message)
{
    std::cerr << message << '\n';
    return kExitFailed;
}

std::string fileSystemText(std::uint8_t code)
{
    switch (code) {
    case orv::kFileSystemNtfs: return "NTFS";
    case orv::kFileSystemFat32: return "FAT32";
    case orv::kFileSystemFat: return "FAT";
    default: return "";
    }
}

// SOURCE is a letter of the drive table ("E:") or the path of an image file or block device,
// which then takes the letter of --drive (C: unless given).
struct SourceOptions
{
    std::string source;
    std::string driveLetter = "C:";
    bool json = false;
};

void addSourceOptions(CLI::App& command, SourceOptions& options)
{
    command.add_option("SOURCE", options.source, "drive letter (E:) or image file or block device")->required();
    command.add_option("--drive", options.driveLetter, "letter for a SOURCE given as a path")
        ->check([](const std::string& text) {
            return orv::normaliseDriveLetter(text).empty() ? std::string("must be a drive letter such as E:") : "";
        });
    command.add_flag("--json", options.json, "print JSON");
}

// The letter SOURCE stands for, or an empty text when there is no such drive.
std::string resolveSource(orv::LinuxDriveSystem& drives, const SourceOptions& options)
{
    const std::string asLetter = orv::normaliseDriveLetter(options.source);
    if (!asLetter.empty()) {
        for (const orv::DriveEntry& entry : drives.drives())
            if (entry.letter == asLetter)
                return asLetter;
        return {};
    }
    std::error_code error;
    if (!std::filesystem::exists(options.source, error))
        return {};
    const std::string letter = orv::normaliseDriveLetter(options.driveLetter);
    drives.addDrive(letter, options.source);
    return letter;
}

// What the Find command checks before a scan: the drive, its boot sector, its $MFT extents.
int openVolume(orv::LinuxDriveSystem& drives, const SourceOptions& options, VolumeContext& ctx)
{
    const std::string letter = resolveSource(drives, options);
    if (letter.empty())
        return fail(kDriveNotFound);
    ctx.FileSystemCode = orv::DetectFileSystem(ctx, drives, letter);
    orv::SelectDrive(ctx, drives, letter);
    if (!orv::ReadBootSectorNTFS(ctx))
        return fail(kBootSectorError);
    if (!orv::ReadMftExtentsNTFS(ctx))
        return fail(kMftListError);
    return kExitDone;
}

int runDrives(orv::LinuxDriveSystem& drives, bool json)
{
    Json list = Json::array();
    for (const orv::DriveEntry& entry : drives.drives()) {
        VolumeContext probe;
        const std::uint8_t code = orv::DetectFileSystem(probe, drives, entry.letter);
        const char* type = entry.type == orv::DriveType::Removable ? "removable" : "fixed";
        if (json)
            list.push_back({{"letter", entry.letter}, {"source", entry.path}, {"type", type}, {"file_system", code}});
        else
            std::printf("%-3s %-10s %-5s %s\n", entry.letter.c_str(), type, fileSystemText(code).c_str(),
                        entry.path.c_str());
    }
    if (json)
        std::cout << list.dump(2) << '\n';
    return kExitDone;
}

int runInfo(orv::LinuxDriveSystem& drives, const SourceOptions& options)
{
    VolumeContext ctx;
    if (const int status = openVolume(drives, options, ctx); status != kExitDone)
        return status;

    Json extents = Json::array();
    for (const orv::DataRun& extent : ctx.MftExtentList)
        extents.push_back({{"start", extent.start}, {"length", extent.length}});
    const Json info = {
        {"drive", ctx.Drive},
        {"file_system", fileSystemText(ctx.FileSystemCode)},
        {"bytes_per_sector", ctx.BytesPerSector},
        {"sectors_per_cluster", ctx.SectorsPerCluster},
        {"bytes_per_cluster", ctx.BytesPerCluster},
        {"total_sectors", ctx.TotalSectors},
        {"total_clusters", ctx.TotalClusters},
        {"mft_start_cluster", ctx.MftStartCluster},
        {"mft_record_size", ctx.MftRecordSize},
        {"mft_extents", extents},
    };
    if (options.json) {
        std::cout << info.dump(2) << '\n';
        return kExitDone;
    }
    for (const auto& [key, value] : info.items()) {
        if (key == "mft_extents")
            continue;
        std::cout << key << ": " << (value.is_string() ? value.get<std::string>() : value.dump()) << '\n';
    }
    std::cout << "mft_extents:";
    for (const orv::DataRun& extent : ctx.MftExtentList)
        std::cout << ' ' << extent.start << '+' << extent.length;
    std::cout << '\n';
    return kExitDone;
}

int runRecord(orv::LinuxDriveSystem& drives, const SourceOptions& options, std::int64_t number)
{
    VolumeContext ctx;
    if (const int status = openVolume(drives, options, ctx); status != kExitDone)
        return status;

    std::vector<std::uint8_t> record;
    if (!orv::ReadMftRecordNTFS(ctx, number, record))
        return fail("Record " + std::to_string(number) + " lies outside the $MFT or cannot be read.");
    if (record[0] != 'F' || record[1] != 'I')
        return fail("Record " + std::to_string(number) + " is not an MFT record.");

    orv::ApplyRecordFixups(record);
    const auto survey = orv::SurveyAttributes(record);
    if (!survey)
        return fail("Record " + std::to_string(number) + " is damaged: its attributes do not fit in it.");
    orv::TMFTFile file;
    if (orv::decodeRecord(record, file) != orv::RecordStatus::Ok)
        return fail("Record " + std::to_string(number) + " is damaged: its data attribute does not fit in it.");

    const std::uint8_t flags = record[orv::mft::kFlags];
    const auto name = survey->FileName ? orv::readFileName(record, survey->FileName) : std::nullopt;
    const auto parent = survey->FileName ? orv::readParentRecord(record, survey->FileName) : std::nullopt;
    const auto created =
        survey->StandardInformation ? orv::readCreationDateTime(record, survey->StandardInformation) : std::nullopt;

    Json runs = Json::array();
    for (const orv::DataRun& run : file.ClusterList)
        runs.push_back({{"cluster", run.start}, {"count", run.length}});
    const Json out = {
        {"number", number},
        {"in_use", (flags & orv::mft::kFlagInUse) != 0},
        {"is_directory", (flags & orv::mft::kFlagDirectory) != 0},
        {"name", name ? orv::toUtf8(*name) : std::string()},
        {"parent", parent ? Json(*parent) : Json(nullptr)},
        {"size", file.FSize},
        {"resident", file.Resident},
        {"runs", runs},
        {"created", created ? Json(orv::isoText(*created)) : Json(nullptr)},
    };
    if (options.json) {
        std::cout << out.dump(2) << '\n';
        return kExitDone;
    }
    for (const auto& [key, value] : out.items()) {
        if (key == "runs")
            continue;
        std::cout << key << ": " << (value.is_string() ? value.get<std::string>() : value.dump()) << '\n';
    }
    std::cout << "runs:";
    for (const orv::DataRun& run : file.ClusterList)
        std::cout << ' ' << run.start << '=' << run.length;
    std::cout << '\n';
    return kExitDone;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");

    CLI::App app{"Orvandel: finds and restores deleted files on NTFS volumes"};
    app.require_subcommand(1);

    bool drivesJson = false;
    CLI::App* drivesCommand = app.add_subcommand("drives", "list the drive table");
    drivesCommand->add_flag("--json", drivesJson, "print JSON");

    SourceOptions infoOptions;
    CLI::App* infoCommand = app.add_subcommand("info", "show a volume's geometry and $MFT extents");
    addSourceOptions(*infoCommand, infoOptions);

    SourceOptions recordOptions;
    std::int64_t recordNumber = 0;
    CLI::App* recordCommand = app.add_subcommand("record", "decode one MFT record");
    addSourceOptions(*recordCommand, recordOptions);
    recordCommand->add_option("N", recordNumber, "record number")->required()->check(CLI::NonNegativeNumber);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kExitDone : kExitUsage;
    }

    orv::LinuxDriveSystem drives(orv::LinuxDriveSources{orv::LinuxDriveSources::defaultDriveMapFile()});
    if (*drivesCommand)
        return runDrives(drives, drivesJson);
    if (*infoCommand)
        return runInfo(drives, infoOptions);
    return runRecord(drives, recordOptions, recordNumber);
}
