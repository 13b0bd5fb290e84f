#include "cli/Scanning.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "base/Utf16.h"
#include "cli/Interrupts.h"
#include "cli/Output.h"
#include "cli/ShadowCopyNotes.h"
#include "platform/SystemMemory.h"
#include "results/FileSystem.h"
#include "results/Wipe.h"
#include "scan/FindChecks.h"
#include "shell/LanguageTexts.h"

namespace orv::cli {

namespace {

std::filesystem::path programFolder()
{
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
}

std::vector<ChosenFile> chooseFiles(const ResultsStore& store, const std::string& folder,
                                    const std::vector<std::string>& names)
{
    // Folders are kept with their closing "\": "C:\Docs" and "C:\Docs\" both name the one folder.
    std::u16string wantedFolder = ResultsStore::fold(fromUtf8(folder));
    if (!wantedFolder.empty() && wantedFolder.back() != u'\\')
        wantedFolder += u'\\';
    std::vector<std::u16string> wantedNames;
    for (const std::string& name : names)
        wantedNames.push_back(ResultsStore::fold(fromUtf8(name)));
    std::vector<ChosenFile> chosen;
    forEachListedFile(store, [&](std::u16string_view section, std::u16string_view key, const StoredFile& stored) {
        if (!folder.empty() && ResultsStore::fold(section) != wantedFolder)
            return;
        if (!wantedNames.empty() &&
            std::find(wantedNames.begin(), wantedNames.end(), ResultsStore::fold(key)) == wantedNames.end())
            return;
        chosen.push_back({std::u16string(section), std::u16string(key), stored});
    });
    return chosen;
}

} // namespace

int scanVolume(LinuxDriveSystem& drives, const ScanOptions& options, ScanSession& session, bool drawProgress,
               ScanEnd* end)
{
    session.findIniFile = programFolder() / "find.ini";
    int sourceStatus = kExitDone;
    const std::string letter = resolveSource(drives, options.source, sourceStatus);
    if (sourceStatus != kExitDone)
        return sourceStatus;
    const std::u16string mask = fromUtf8(options.mask);
    const auto check = RunFindChecks(session, drives, letter, mask, 10);
    switch (check.check) {
    case FindCheck::Ok: break;
    case FindCheck::DriveNotFound: return fail(kDriveNotFound);
    case FindCheck::UnsupportedFileSystem: return fail(kUnsupportedFileSystem);
    case FindCheck::NoAccess: return fail(kNoAccess);
    case FindCheck::BootSectorError: return fail(kBootSectorError);
    case FindCheck::MftListError: return fail(kMftListError);
    case FindCheck::BadMask:
        std::cerr << "The mask \"" << options.mask << "\" is not valid: " << check.maskError << ".\n";
        return kExitUsage;
    }
    if (options.forWipe && session.volume.Device && session.volume.Device->readOnly())
        return fail("Wipe is refused: the source is a disk image container (E01, VHD, VHDX, VMDK or qcow2), which is "
                    "only ever read.");
    if (options.forWipe && session.volume.FileSystemCode == FileSystemKind::MftFile)
        return fail("Wipe is refused: the source is a copied $MFT file, which is evidence and only ever read.");
    if (options.forWipe && mountedWritable(session.volume))
        return fail(std::string(lang::kFileWipeMounted.english));
    PrepareScan(session, mask);
    // A wipe lists the copies too, so that a copy's file it is given is refused with the reason.
    session.ListShadowCopies = !options.noShadowCopies;

    // Before a wipe, Ctrl-C stops the Extended scan at once instead of skipping a step, and the wipe
    // does not follow: a part of the scan is no ground to destroy records on.
    ScanPump pump(session, options.extended && !options.forWipe,
                  drawProgress && !options.quiet && ::isatty(STDERR_FILENO));
    ScanReport report;
    bool interrupted = false;
    {
        const InterruptScope interrupts;
        FileSystem& fileSystem = fileSystemOf(session);
        if (options.extended) {
            const auto extended =
                fileSystem.extendedScan(session, pump, pump, AvailablePhysicalMemory(),
                                        options.sweep ? ExtendedReach::WholeVolume : ExtendedReach::Probes);
            if (extended.bootSectorError)
                return fail(kBootSectorError);
            report = extended;
        } else {
            report = fileSystem.normalScan(session, pump, pump, AvailablePhysicalMemory());
        }
        interrupted = InterruptScope::count() != 0;
    }
    if (options.forWipe && (interrupted || report.end == ScanEnd::Stopped))
        return fail("Stopped during the scan: nothing is wiped.");
    if (session.FilesFound == 0)
        session.store.clear();
    // A scan cut short by memory has not examined every record: a failure, whatever it listed.
    if (report.outOfMemory)
        return fail(std::string(lang::kDriveMessage12.english));

    if (end)
        *end = report.end;
    if (!options.quiet) {
        if (report.end == ScanEnd::Stopped)
            std::cerr << "Stopped: the files found until then are listed.\n";
        if (report.recordsNotLoaded > 0)
            std::cerr << report.recordsNotLoaded << " MFT records could not be read (beyond the volume's end).\n";
        if (report.damagedRecords > 0)
            std::cerr << "MFT records skipped as damaged: " << report.damagedRecords << "\n";
        noteShadowCopies(session.shadowCopiesElsewhere, session.shadowCopiesDamaged);
    }
    return kExitDone;
}

int scanAndChoose(LinuxDriveSystem& drives, const ScanOptions& options, const std::string& folder,
                  const std::vector<std::string>& names, ScanSession& session, std::vector<ChosenFile>& chosen)
{
    if (const int status = scanVolume(drives, options, session, true); status != kExitDone)
        return status;
    chosen = chooseFiles(session.store, folder, names);
    if (session.store.entryCount() == 0)
        return kExitDone; // nothing found: the caller says so
    if (chosen.empty()) {
        std::cerr << kNoFilesSelected << "\n";
        return kExitFailed;
    }
    return kExitDone;
}

} // namespace orv::cli
