// orvandel-cli: the scripting face of Orvandel. Messages are the program's own English texts;
// exit status 0 means done, 1 that the operation failed, 2 a usage error.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "BootSector.h"
#include "MftExtents.h"
#include "ExtendedScan.h"
#include "ScanCommon.h"
#include "FindChecks.h"
#include "LanguageTexts.h"
#include "LinuxDriveSystem.h"
#include "MftRecord.h"
#include "NormalScan.h"
#include "Recoverability.h"
#include "Restore.h"
#include "RestoreFolder.h"
#include "Sha256.h"
#include "Wipe.h"
#include "SectorIo.h"
#include "SystemMemory.h"

namespace {

using orv::VolumeContext;
using Json = nlohmann::ordered_json;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The program's own English texts, from the one table every front end uses.
const std::string kDriveNotFound(orv::lang::kDriveMessage3.english);
const std::string kBootSectorError(orv::lang::kDriveMessage8.english);
const std::string kMftListError(orv::lang::kDriveMessage9.english);
const std::string kUnsupportedFileSystem(orv::lang::kDriveMessage5.english);
const std::string kNoAccess =
    std::string(orv::lang::kVistaMessage1.english) + "\n" + std::string(orv::lang::kVistaMessage2.english);
const std::string kNotFound(orv::lang::kProcessNotFound.english);
const std::string kNoFilesSelected(orv::lang::kFileMessage2.english);
const std::string kNoRestoreFolder(orv::lang::kFileMessage13.english);
const std::string kFilesRestored(orv::lang::kFileMessage14.english);
const std::string kFilesWiped(orv::lang::kFileMessage10.english);
const std::string_view kStepTexts[] = {orv::lang::kProcessMessage1.english, orv::lang::kExtendedModeMessage1.english,
                                       orv::lang::kExtendedModeMessage2.english, orv::lang::kExtendedModeMessage3.english,
                                       orv::lang::kExtendedModeMessage4.english};

int fail(const std::string& message)
{
    std::cerr << message << '\n';
    return kExitFailed;
}

std::string fileSystemText(orv::FileSystemKind kind)
{
    return std::string(orv::fileSystemName(kind));
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
        const orv::FileSystemKind code = orv::fileSystemOfDrive(drives, entry.letter);
        const char* type = entry.type == orv::DriveType::Removable ? "removable" : "fixed";
        if (json)
            list.push_back({{"letter", entry.letter}, {"source", entry.path}, {"type", type}, {"file_system", static_cast<int>(code)}});
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
                std::fprintf(stderr, "\r\033[K%s %d %%  records %lld  files %lld", std::string(kStepTexts[static_cast<int>(m_step)]).c_str(),
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

// Runs the Find checks and the scan; kExitDone when the session holds the results, else the
// status to exit with.
int scanVolume(orv::LinuxDriveSystem& drives, const ScanOptions& options, orv::ScanSession& session, bool drawProgress)
{
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

    CliPump pump(session, options.extended, drawProgress && !options.quiet && ::isatty(STDERR_FILENO));
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
    return kExitDone;
}

int runScan(orv::LinuxDriveSystem& drives, const ScanOptions& options)
{
    orv::ScanSession session;
    if (const int status = scanVolume(drives, options, session, !options.source.json); status != kExitDone)
        return status;

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
            const orv::Grade grade = stored.recordOffset ? orv::AnalyzeProbabilityNTFS(session, *stored.recordOffset, key)
                                                         : orv::Grade::None;
            out << ", \"size\": " << stored.size << ", \"resident\": " << (resident ? "true" : "false")
                << ", \"recoverability\": \"" << orv::gradeKey(grade) << "\"}";
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


// The files a restore or wipe works on, in store order: every listed file, those of one folder, or
// the named ones in it.
struct ChosenFile
{
    std::u16string folder, name;
    orv::StoredFile stored;
};

std::vector<ChosenFile> chooseFiles(const orv::ResultsStore& store, const std::string& folder,
                                    const std::vector<std::string>& names)
{
    const std::u16string wantedFolder = orv::ResultsStore::fold(orv::fromUtf8(folder));
    std::vector<std::u16string> wantedNames;
    for (const std::string& name : names)
        wantedNames.push_back(orv::ResultsStore::fold(orv::fromUtf8(name)));
    std::vector<ChosenFile> chosen;
    forEachListedFile(store, [&](const std::u16string& section, const std::u16string& key, const orv::StoredFile& stored) {
        if (!folder.empty() && orv::ResultsStore::fold(section) != wantedFolder)
            return;
        if (!wantedNames.empty() &&
            std::find(wantedNames.begin(), wantedNames.end(), orv::ResultsStore::fold(key)) == wantedNames.end())
            return;
        chosen.push_back({section, key, stored});
    });
    return chosen;
}

struct RestoreOptions
{
    ScanOptions scan;
    std::string to;
    std::string folder;
    std::vector<std::string> names;
    bool keepPaths = false;
};

// Scans, then picks the files a restore or wipe works on; kExitDone when there are some.
int scanAndChoose(orv::LinuxDriveSystem& drives, const ScanOptions& options, const std::string& folder,
                  const std::vector<std::string>& names, orv::ScanSession& session, std::vector<ChosenFile>& chosen)
{
    if (const int status = scanVolume(drives, options, session, true); status != kExitDone)
        return status;
    chosen = chooseFiles(session.store, folder, names);
    if (chosen.empty()) {
        std::cerr << kNoFilesSelected << "\n";
        return kExitFailed;
    }
    return kExitDone;
}

int runRestore(orv::LinuxDriveSystem& drives, const RestoreOptions& options)
{
    if (!options.names.empty() && options.folder.empty()) {
        std::cerr << "--name needs --folder: names are looked up in one folder.\n";
        return kExitUsage;
    }
    orv::ScanSession session;
    std::vector<ChosenFile> chosen;
    if (const int status = scanAndChoose(drives, options.scan, options.folder, options.names, session, chosen);
        status != kExitDone)
        return status;
    std::error_code error;
    std::filesystem::create_directories(options.to, error);
    if (!std::filesystem::is_directory(options.to, error))
        return fail(kNoRestoreFolder);

    CliPump pump(session, false, false);
    g_interrupts = 0;
    std::signal(SIGINT, onInterrupt);
    const auto keepGoing = [] { return g_interrupts == 0; };
    int restored = 0;
    bool outputError = false;
    ListingOutput out;
    if (options.scan.source.json)
        out << "[";
    for (std::size_t row = 0; row < chosen.size() && keepGoing() && !outputError; ++row) {
        const ChosenFile& file = chosen[row];
        orv::RestoreOutcome outcome;
        std::optional<std::filesystem::path> folder = std::filesystem::path(options.to);
        if (options.keepPaths)
            folder = orv::keptPathFolder(options.to, file.folder);
        if (!folder) {
            outcome.status = orv::RestoreOutcome::Status::Failed;
            outcome.reason = "its folder cannot be made inside the restore folder";
        } else if (!file.stored.recordOffset) {
            outcome.reason = "no MFT record at this offset";
        } else {
            outcome = orv::UndeleteFileNTFS(session, *file.stored.recordOffset, file.name, static_cast<int>(row), *folder,
                                            pump, keepGoing);
        }
        using Status = orv::RestoreOutcome::Status;
        if (outcome.status == Status::Restored || outcome.status == Status::Damaged || outcome.status == Status::Encrypted)
            ++restored;
        outputError = outcome.outputError;
        if (!options.scan.source.json) {
            if (outcome.status != Status::Restored && !options.scan.quiet)
                std::cerr << orv::toUtf8(file.folder) << orv::toUtf8(file.name) << ": " << outcome.reason << "\n";
            continue;
        }
        static constexpr const char* kStatus[] = {"restored", "damaged", "skipped", "failed", "encrypted"};
        out << (row == 0 ? "\n  {\"folder\": " : ",\n  {\"folder\": ");
        out.string(orv::toUtf8(file.folder));
        out << ", \"name\": ";
        out.string(orv::toUtf8(file.name));
        out << ", \"path\": ";
        if (outcome.path.empty())
            out << "null";
        else
            out.string(outcome.path.string());
        out << ", \"size\": " << outcome.bytes << ", \"status\": \"" << kStatus[static_cast<int>(outcome.status)]
            << "\", \"reason\": ";
        out.string(outcome.reason);
        out << ", \"sha256\": ";
        const std::string hash = outcome.path.empty() ? std::string() : orv::sha256OfFile(outcome.path.c_str());
        if (hash.empty())
            out << "null}";
        else {
            out.string(hash);
            out << "}";
        }
    }
    std::signal(SIGINT, SIG_DFL);
    if (options.scan.source.json)
        out << "\n]\n";
    out.flush();
    std::cerr << restored << " " << kFilesRestored << "\n";
    if (!options.scan.source.json)
        std::cout << restored << " " << kFilesRestored << "\n";
    return outputError ? kExitFailed : kExitDone;
}

struct WipeOptions
{
    ScanOptions scan;
    std::string folder;
    std::vector<std::string> names;
    bool yes = false;
};

int runWipe(orv::LinuxDriveSystem& drives, const WipeOptions& options)
{
    if (!options.yes) {
        std::cerr << "Wiping destroys the files' records for good; say --yes to go ahead.\n";
        return kExitUsage;
    }
    orv::ScanSession session;
    std::vector<ChosenFile> chosen;
    if (const int status = scanAndChoose(drives, options.scan, options.folder, options.names, session, chosen);
        status != kExitDone)
        return status;
    int wiped = 0;
    for (const ChosenFile& file : chosen) {
        const orv::WipeOutcome outcome = file.stored.recordOffset ? orv::WipeFileNTFS(session, *file.stored.recordOffset)
                                                                  : orv::WipeOutcome{false, "no MFT record at this offset"};
        session.store.deleteKey(file.folder, file.name);
        if (outcome.wiped)
            ++wiped;
        else if (!options.scan.quiet)
            std::cerr << orv::toUtf8(file.folder) << orv::toUtf8(file.name) << ": " << outcome.reason << "\n";
    }
    std::cout << wiped << " " << kFilesWiped << "\n";
    return wiped == static_cast<int>(chosen.size()) ? kExitDone : kExitFailed;
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

    RestoreOptions restoreOptions;
    CLI::App* restoreCommand = app.add_subcommand("restore", "scan, then restore deleted files into a folder");
    addSourceOptions(*restoreCommand, restoreOptions.scan.source);
    restoreCommand->add_option("--to", restoreOptions.to, "the restore folder (made when missing)")->required();
    restoreCommand->add_flag("--extended", restoreOptions.scan.extended, "deep scan");
    restoreCommand->add_option("--mask", restoreOptions.scan.mask, "file name mask, e.g. *.jpg");
    restoreCommand->add_option("--folder", restoreOptions.folder, "only the files of this folder, e.g. C:\\Docs\\");
    restoreCommand->add_option("--name", restoreOptions.names, "only these files of --folder");
    restoreCommand->add_flag("--keep-paths", restoreOptions.keepPaths, "rebuild the files' folders inside --to");
    restoreCommand->add_flag("--quiet", restoreOptions.scan.quiet, "no progress line and no notes on stderr");

    WipeOptions wipeOptions;
    CLI::App* wipeCommand = app.add_subcommand("wipe", "scan, then destroy the records of deleted files");
    addSourceOptions(*wipeCommand, wipeOptions.scan.source);
    wipeCommand->add_option("--folder", wipeOptions.folder, "the folder of the files, e.g. C:\\Docs\\")->required();
    wipeCommand->add_option("--name", wipeOptions.names, "the files to wipe")->required();
    wipeCommand->add_flag("--extended", wipeOptions.scan.extended, "deep scan");
    wipeCommand->add_flag("--yes", wipeOptions.yes, "confirm: the records are overwritten for good");
    wipeCommand->add_flag("--quiet", wipeOptions.scan.quiet, "no notes on stderr");

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
    if (*restoreCommand)
        return runRestore(drives, restoreOptions);
    if (*wipeCommand)
        return runWipe(drives, wipeOptions);
    return runRecord(drives, recordOptions, recordNumber);
}
