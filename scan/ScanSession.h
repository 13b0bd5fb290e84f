#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ntfs/MftRecord.h"
#include "ntfs/VolumeContext.h"
#include "scan/ContentCarving.h"
#include "scan/ListedFileFacts.h"
#include "scan/RecycleBin.h"
#include "scan/ResultsStore.h"
#include "volume/FoundEntry.h"

namespace orv {

// Lets the front end breathe during a long operation: process events, draw progress, notice
// Ctrl-C. A Stop or Skip the user confirms inside it clears ScanRunning or sets SkipRequested on
// the session; the scan tests the flags right after every step.
class Pump
{
public:
    virtual ~Pump() = default;
    virtual void step() = 0;
};

// The steps a scan announces in the main window's hint line.
enum class ScanStep {
    Loading, // the Normal scan, "Please wait..."
    FindMftRecords, // the Extended scan's four steps
    ReadMftRecords,
    FindFolders,
    FindFiles,
};

// What the main window shows while a scan runs. The scans call it exactly when the window's
// controls change, so a window only binds these to its labels and progress bar.
class ScanProgress
{
public:
    virtual ~ScanProgress() = default;
    virtual void stepStarted(ScanStep) {}
    // Width of the progress bar in pixels, 0 to 200.
    virtual void progressBar(int /*width*/) {}
    // The percentage under the bar; the window writes it as "<percent> %".
    virtual void progressLabel(int /*percent*/) {}
    // Label1b and Label2b.
    virtual void recordsExamined(std::int64_t) {}
    virtual void filesFound(std::int64_t) {}
};

// The mode of the running scan: a Normal scan stops on the Find button, an Extended scan skips
// its current step.
enum class ScanMode { Normal, Extended };

// Raises one of the session's operation flags for the length of a scope and lowers it however
// the scope is left: an early return or an exception can never leave a window believing that an
// operation still runs. Lowering is also how Stop is asked for, so the flag is not restored to an
// earlier value.
class FlagScope
{
public:
    explicit FlagScope(bool& flag) : m_flag(flag) { m_flag = true; }
    ~FlagScope() { m_flag = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
};

// How a scan ended.
enum class ScanEnd { Finished, Stopped };

// What a scan met besides the files it listed, for the front ends to report.
struct ScanReport
{
    ScanEnd end = ScanEnd::Finished;
    std::int64_t recordsNotLoaded = 0; // $MFT records beyond the memory budget or the volume's end
    std::int64_t damagedRecords = 0; // records that begin like a record but whose layout is broken
    bool outOfMemory = false; // the $MFT or the regions could not be held in memory
};

struct ScanSession;

// A Volume Shadow Copy of the volume of the last Find: the volume as it stood when the copy was
// made, read like a volume of its own in a session of its own (its $MFT, bitmap and decoded
// record), so a file it holds is graded, previewed and restored from the copy.
struct ShadowCopy
{
    int number = 0; // 1 for the oldest
    std::uint64_t creationTime = 0; // NTFS time (UTC)
    std::string identifier;
    std::shared_ptr<ScanSession> session; // null when the copy cannot be read from this volume
    // The volume's byte ranges where the copy may differ from the volume as it is now; nothing
    // when that is not known (then every block may differ).
    std::optional<std::vector<ByteRange>> changed;
};

// The state of the scans: the volume of the last Find, the loaded $MFT, the decoded record, the
// results, the counters and what runs now. The program makes one and passes it by reference;
// tests make their own.
struct ScanSession
{
    VolumeContext volume;
    TMFTFile MFTFile;
    ResultsStore store;

    // What runs now. A long loop tests its flag after every pump step; a Stop the user confirms
    // inside the pump clears it. Commands that must not run meanwhile test them and do nothing.
    bool ScanRunning = false; // a scan of the main window
    bool SkipRequested = false; // the Extended scan is to leave its current step
    bool ResultsBusy = false; // an operation of the results window: tree, list, preview, restore, wipe, find
    ScanMode RunningMode = ScanMode::Normal; // of the scan that runs: what its Stop button does
    // From the Find command's checks to the end of its scan, results window included: a Find or a
    // close that arrives after a Stop was confirmed, before the scan noticed, must wait for it.
    bool FindActive = false;
    bool ResultsOpen = false; // the results window of the last Find is shown
    bool ListingDrives = false; // the main window rebuilds its drive list
    std::int64_t RecordsExamined = 0;
    std::int64_t FilesFound = 0;
    std::u16string FileMask = std::u16string(u"*.*");

    // The bytes of the $MFT the Normal scan loaded (records are examined up to here), and the
    // bytes of the regions the Extended scan read.
    std::int64_t MftLoadedBytes = 0;

    // What the Normal scan read of each record it listed, kept when a listing of every file wants
    // more than the store holds (creation times, residency, grades); empty otherwise.
    bool keepListedRecords = false;
    ListedRecords listedRecords;

    // A restore also writes each named stream of a file beside it, as "NAME:STREAM".
    bool RestoreStreams = false;

    // The files the scan listed out of the Recycle Bin (by record offset): when they were put in
    // it and their original path.
    RecycledFiles recycledFiles;

    // A FAT-family volume of the last Find and the directory entries its scan listed: a listed
    // file's locator is its place here. Empty for NTFS.
    std::shared_ptr<class EntryVolume> entryVolume;
    std::vector<FoundEntry> listedEntries;
    std::int64_t openedEntry = -1; // the listed entry made ready to be read (restore, preview)

    // The shadow copies of the last Find's NTFS volume, oldest first, and those whose data lies on
    // another volume (listed with no session). The scans list what the copies hold beyond the
    // live volume unless ListShadowCopies is cleared; ShadowCopyFolder is the catalogue's words
    // for a copy's folder ("Shadow copy %1 (%2)": its number and local creation time).
    bool ListShadowCopies = true;
    std::u16string ShadowCopyFolder = u"Shadow copy %1 (%2)";
    std::vector<ShadowCopy> shadowCopies;
    int shadowCopiesElsewhere = 0;
    int shadowCopiesDamaged = 0; // in the volume, but their copy of the volume cannot be read as NTFS
    int openedShadowCopy = 0; // the copy whose file is made ready to be read; 0 for the volume itself

    // Files found by their content in the whole-disc scan: `carving` notes where formats begin while
    // the scan reads the volume (null in every other scan), and a found file's locator is its place
    // in `foundByContent`. They are listed under FoundByContentFolder, the catalogue's words.
    std::shared_ptr<ContentCarving> carving;
    std::vector<FoundByContent> foundByContent;
    CarvingReport carvingReport;
    ContentCarving::Geometry foundGeometry; // where the found files' clusters lie
    std::int64_t openedFound = -1; // the found file made ready to be read; -1 for any other
    std::u16string FoundByContentFolder = u"Found by content";

    // "find.ini" beside the program: the Extended scan starts its store from it when it exists.
    std::filesystem::path findIniFile;
};

} // namespace orv
