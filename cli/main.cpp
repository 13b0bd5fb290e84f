// orvandel-cli: the scripting face of Orvandel. Messages are the program's own English texts;
// exit status 0 means done, 1 that the operation failed, 2 a usage error.

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "BootSector.h"
#include "ExtendedScan.h"
#include "ScanCommon.h"
#include "FindChecks.h"
#include "LinuxDriveSystem.h"
#include "MftRecord.h"
#include "NormalScan.h"
#include "SectorIo.h"
#include "SystemMemory.h"

namespace {

using orv::VolumeContext;
using Json = nlohmann::ordered_json;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kDriveNotFound = "Drive not found!";
constexpr const char* kBootSectorError = "Error reading boot sector (NTFS)!";
constexpr const char* kMftListError = "MFT list reading error!";
constexpr const char* kUnsupportedFileSystem = "The software supports only FAT and NTFS file systems!";
constexpr const char* kNoAccess = "Velmora can not obtain required access to the drive.\n"
                                  "Please make sure that you have administrative rights on your PC.";
constexpr const char* kNotFound = "Found 0 deleted files on this drive!";
constexpr const char* kStepTexts[] = {"Please wait...", "Find MFT records", "Read MFT records", "Find folders",
                                      "Find files"};

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

// Ctrl-C during a scan: the Normal scan stops, the Extended scan skips its current step and a
// second Ctrl-C stops it. What was found until then is printed.
volatile std::sig_atomic_t g_interrupts = 0;

extern "C" void onInterrupt(int)
{
    g_interrupts = g_interrupts + 1;
}

class CliPump final : public orv::Pump, public orv::ScanProgress
{
public:
    CliPump(orv::ScanSession& session, bool extended, bool drawProgress)
        : m_session(session), m_extended(extended), m_draw(drawProgress)
    {
    }
    ~CliPump() override
    {
        if (m_drawn)
            std::fputs("\r\033[K", stderr);
    }

    void step() override
    {
        const int interrupts = g_interrupts;
        if (interrupts != m_handled) {
            m_handled = interrupts;
            if (m_extended && interrupts == 1)
                m_session.SkipRequested = true;
            else
                m_session.ScanRunning = false;
        }
        if (m_draw) {
            const auto now = std::chrono::steady_clock::now();
            if (now - m_lastDraw > std::chrono::milliseconds(100)) {
                m_lastDraw = now;
                m_drawn = true;
                std::fprintf(stderr, "\r\033[K%s %d %%  records %lld  files %lld", kStepTexts[static_cast<int>(m_step)],
                             m_percent, static_cast<long long>(m_session.RecordsExamined),
                             static_cast<long long>(m_session.FilesFound));
            }
        }
    }
    void stepStarted(orv::ScanStep step) override
    {
        m_step = step;
        m_percent = 0;
    }
    void progressLabel(int percent) override { m_percent = percent; }

private:
    orv::ScanSession& m_session;
    bool m_extended;
    bool m_draw;
    bool m_drawn = false;
    int m_handled = 0;
    orv::ScanStep m_step = orv::ScanStep::Loading;
    int m_percent = 0;
    std::chrono::steady_clock::time_point m_lastDraw{};
};

std::filesystem::path programFolder()
{
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
}

// Writes a listing to stdout through one buffer. A scan of a large volume lists hundreds of
// thousands of files: a document tree of them would take more time and memory than the scan.
class ListingOutput
{
public:
    ~ListingOutput() { flush(); }

    ListingOutput& operator<<(std::string_view text)
    {
        m_buffer += text;
        if (m_buffer.size() >= (1u << 20))
            flush();
        return *this;
    }
    ListingOutput& operator<<(std::int64_t number) { return *this << std::string_view(std::to_string(number)); }

    // A JSON string: quoted, with quotes, backslashes and control characters escaped.
    void string(std::string_view utf8)
    {
        m_buffer += '"';
        std::size_t plain = 0; // start of the run of characters that need no escape
        for (std::size_t i = 0; i < utf8.size(); ++i) {
            const char c = utf8[i];
            if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20)
                continue;
            m_buffer.append(utf8.substr(plain, i - plain));
            if (c == '"' || c == '\\') {
                m_buffer += '\\';
                m_buffer += c;
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                m_buffer += escaped;
            }
            plain = i + 1;
        }
        m_buffer.append(utf8.substr(plain));
        m_buffer += '"';
    }

    void flush()
    {
        std::fwrite(m_buffer.data(), 1, m_buffer.size(), stdout);
        std::fflush(stdout);
        m_buffer.clear();
    }

private:
    std::string m_buffer;
};

// Every file of the store in store order: sections in order, keys in order.
template <typename Visit>
void forEachListedFile(const orv::ResultsStore& store, Visit&& visit)
{
    store.forEach([&](const std::u16string& section, const std::u16string& key, const std::u16string& value) {
        visit(section, key, orv::parseStoredValue(value));
    });
}

struct ScanOptions
{
    SourceOptions source;
    bool extended = false;
    std::string mask;
    bool quiet = false;
};

int runScan(orv::LinuxDriveSystem& drives, const ScanOptions& options)
{
    orv::ScanSession session;
    session.findIniFile = programFolder() / "find.ini";
    const std::string letter = resolveSource(drives, options.source);
    const std::u16string mask = orv::fromUtf8(options.mask);
    const auto check = orv::RunFindChecks(session, drives, letter, mask, 10);
    switch (check.check) {
    case orv::FindCheck::Ok: break;
    case orv::FindCheck::DriveNotFound: return fail(kDriveNotFound);
    case orv::FindCheck::UnsupportedFileSystem: return fail(kUnsupportedFileSystem);
    case orv::FindCheck::NoAccess: return fail(kNoAccess);
    case orv::FindCheck::BootSectorError: return fail(kBootSectorError);
    case orv::FindCheck::MftListError: return fail(kMftListError);
    case orv::FindCheck::BadMask:
        std::cerr << "The mask \"" << options.mask << "\" is not valid: " << check.maskError << ".\n";
        return kExitUsage;
    }
    orv::PrepareScan(session, mask);

    CliPump pump(session, options.extended, !options.quiet && !options.source.json && ::isatty(STDERR_FILENO));
    g_interrupts = 0;
    std::signal(SIGINT, onInterrupt);
    orv::ScanReport report;
    if (options.extended) {
        const auto extended = orv::NTFSFind2(session, pump, pump, orv::AvailablePhysicalMemory());
        if (extended.bootSectorError)
            return fail(kBootSectorError);
        report = extended;
    } else {
        report = orv::NTFSFind1(session, pump, pump, orv::AvailablePhysicalMemory());
    }
    std::signal(SIGINT, SIG_DFL);
    if (session.FilesFound == 0)
        session.store.clear();

    if (!options.quiet) {
        if (report.end == orv::ScanEnd::Stopped)
            std::cerr << "Stopped: the files found until then are listed.\n";
        if (report.outOfMemory)
            std::cerr << "Not enough memory to hold the MFT records of this volume.\n";
        if (report.recordsNotLoaded > 0)
            std::cerr << report.recordsNotLoaded << " MFT records could not be loaded (beyond the memory budget or the volume's end).\n";
        if (report.damagedRecords > 0)
            std::cerr << "MFT records skipped as damaged: " << report.damagedRecords << "\n";
    }

    const orv::ScanSession& done = session;
    ListingOutput out;
    if (options.source.json) {
        out << "{\n  \"drive\": ";
        out.string(session.volume.Drive);
        out << ",\n  \"mode\": \"" << (options.extended ? "extended" : "normal") << "\",\n  \"mask\": ";
        out.string(orv::toUtf8(session.FileMask));
        out << ",\n  \"records_examined\": " << session.RecordsExamined
            << ",\n  \"files_found\": " << session.FilesFound << ",\n  \"files\": [";
        bool first = true;
        std::uint64_t cachedSecond = ~std::uint64_t{0};
        std::string cachedIso;
        forEachListedFile(done.store, [&](const std::u16string& section, const std::u16string& key,
                                          const orv::StoredFile& stored) {
            // The creation time and residency are read again from the record, as the results
            // window does.
            std::string created;
            bool resident = false;
            const auto record = stored.recordOffset
                                    ? orv::recordAt(session.volume.MftBuffer, *stored.recordOffset, session.volume.MftRecordSize)
                                    : std::span<std::uint8_t>();
            if (const auto survey = record.empty() ? std::nullopt : orv::SurveyAttributes(record)) {
                const auto fileTime = survey->StandardInformation
                                          ? orv::readCreationTime(record, survey->StandardInformation)
                                          : std::nullopt;
                if (fileTime && *fileTime / 10'000'000 != cachedSecond) {
                    cachedSecond = *fileTime / 10'000'000;
                    const auto local = orv::fileTimeToLocal(*fileTime);
                    cachedIso = local ? orv::isoText(*local) : std::string();
                }
                if (fileTime)
                    created = cachedIso;
                if (survey->Data)
                    resident = record[survey->Data + orv::attr::kNonResident] == 0;
            }
            out << (first ? "\n    {\"folder\": " : ",\n    {\"folder\": ");
            first = false;
            out.string(orv::toUtf8(section));
            out << ", \"name\": ";
            out.string(orv::toUtf8(key));
            out << ", \"record_offset\": ";
            if (stored.recordOffset)
                out << *stored.recordOffset;
            else
                out << "null";
            out << ", \"date\": ";
            out.string(orv::toUtf8(stored.date));
            out << ", \"time\": ";
            out.string(orv::toUtf8(stored.time));
            out << ", \"created\": ";
            if (created.empty())
                out << "null";
            else
                out.string(created);
            out << ", \"size\": " << stored.size << ", \"resident\": " << (resident ? "true" : "false") << "}";
        });
        out << (first ? "]\n}\n" : "\n  ]\n}\n");
        if (session.FilesFound == 0)
            std::cerr << kNotFound << '\n';
        return kExitDone;
    }

    if (session.FilesFound == 0) {
        out << kNotFound << "\n";
        return kExitDone;
    }
    std::int64_t listed = 0;
    forEachListedFile(done.store, [&](const std::u16string& section, const std::u16string& key,
                                      const orv::StoredFile& stored) {
        out << orv::toUtf8(section) << orv::toUtf8(key) << "\t" << stored.size << "\t" << orv::toUtf8(stored.date)
            << " " << orv::toUtf8(stored.time) << "\n";
        ++listed;
    });
    out << listed << " deleted file(s) found.\n";
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

    ScanOptions scanOptions;
    CLI::App* scanCommand = app.add_subcommand("scan", "list the deleted files of a volume");
    addSourceOptions(*scanCommand, scanOptions.source);
    scanCommand->add_flag("--extended", scanOptions.extended, "deep scan: also finds the files of earlier file systems");
    scanCommand->add_option("--mask", scanOptions.mask, "file name mask, e.g. *.jpg (default *.*)");
    scanCommand->add_flag("--quiet", scanOptions.quiet, "no progress line and no notes on stderr");

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
    if (*scanCommand)
        return runScan(drives, scanOptions);
    return runRecord(drives, recordOptions, recordNumber);
}
