#pragma once

// The scan that `scan`, `restore` and `wipe` begin with, and the choice of the files the latter
// two work on.

#include <string>
#include <utility>
#include <vector>

#include "cli/Source.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "scan/ResultsStore.h"
#include "scan/ScanSession.h"

namespace orv::cli {

struct ScanOptions
{
    SourceOptions source;
    bool extended = false;
    bool sweep = false; // with extended: read the whole volume instead of probing it
    std::string mask;
    bool quiet = false;
    bool forWipe = false; // a read-only source (a container) is refused before the scan
    bool noShadowCopies = false; // leave out the files only the volume's shadow copies hold
};

// Runs the Find checks and the scan; kExitDone when the session holds the results, else the
// status to exit with (the message printed). Notes on what the scan could not do go to stderr
// unless quiet. `end`, when given, hears whether the scan ran to its end or was stopped (Ctrl-C).
int scanVolume(LinuxDriveSystem& drives, const ScanOptions& options, ScanSession& session, bool drawProgress,
               ScanEnd* end = nullptr);

// Every file of the store in store order: sections in order, keys in order.
template <typename Visit>
void forEachListedFile(const ResultsStore& store, Visit&& visit)
{
    StoredFile stored;
    store.forEach([&](std::u16string_view section, std::u16string_view key, std::u16string_view value) {
        parseStoredValue(value, stored);
        visit(section, key, std::as_const(stored));
    });
}

// The same for the entries from `from` up to `to` of the store.
template <typename Visit>
void forEachListedFileBetween(const ResultsStore& store, ResultsStore::Place from, ResultsStore::Place to,
                              Visit&& visit)
{
    StoredFile stored;
    store.forEachBetween(from, to,
                         [&](std::u16string_view section, std::u16string_view key, std::u16string_view value) {
                             parseStoredValue(value, stored);
                             visit(section, key, std::as_const(stored));
                         });
}

// A file a restore or wipe works on.
struct ChosenFile
{
    std::u16string folder, name;
    StoredFile stored;
};

// Scans, then picks the files a restore or wipe works on, in store order: every listed file,
// those of one folder, or the named ones in it (folder and names compared as the store compares
// them). kExitDone when there are some, or when the scan found nothing at all (`chosen` is then
// empty).
int scanAndChoose(LinuxDriveSystem& drives, const ScanOptions& options, const std::string& folder,
                  const std::vector<std::string>& names, ScanSession& session, std::vector<ChosenFile>& chosen);

} // namespace orv::cli
