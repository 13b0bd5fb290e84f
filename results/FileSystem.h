#pragma once

// The file-system seam: what the results window, restore, preview, wipe and the command line ask
// of the file system a scan listed files from. They hold a listed file's locator and never ask
// which file system it names; the session's volume says which one answers.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "results/FileContent.h"
#include "results/Recoverability.h"
#include "results/Wipe.h"
#include "scan/ExtendedScan.h"
#include "scan/FileLocator.h"
#include "scan/ListedFileFacts.h"
#include "scan/ScanSession.h"

namespace orv {

// A listed file made ready to be read: what restore and preview need to know before its bytes.
struct OpenedFile
{
    bool found = false; // false: nothing usable lies at the locator; `reason` says why
    std::string reason;
    std::int64_t size = 0;
    // The bytes a restore writes to disk at most, its holes left as holes.
    std::int64_t storedBytes = 0;
    bool encrypted = false; // its bytes are ciphertext
    // A size of 0 is the file itself (a directory entry says so), not a record without content:
    // it restores as an empty file.
    bool emptyIsWhole = false;
    // The cluster its first bytes lie in as they are (not compressed, not a hole), for the
    // signature check of a preview; nothing when there is none.
    std::optional<std::int64_t> firstStoredCluster;
};

class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // The scans, after RunFindChecks and PrepareScan: they list into the session's store.
    virtual ScanReport normalScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                                  std::uint64_t availablePhysicalMemory) = 0;
    virtual ExtendedScanReport extendedScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                                            std::uint64_t availablePhysicalMemory, ExtendedReach reach) = 0;

    // What a listing shows of a file beyond the store's texts, and its grade. Neither disturbs a
    // file opened for reading.
    virtual std::optional<ListedFileFacts> facts(ScanSession& session, const FileLocator& file) = 0;
    virtual Grade grade(ScanSession& session, const FileLocator& file, std::u16string_view name) = 0;

    // Makes the file ready to be read; its content then comes from stream(), in order, at its size.
    // The zeros the volume never stored for it (holes, what cannot be read) go to `gap` as a count
    // of bytes when one is given, so a restored file can be sparse where the original was; to
    // `sink` otherwise.
    virtual OpenedFile open(ScanSession& session, const FileLocator& file) = 0;
    virtual ContentReport stream(ScanSession& session, Pump& pump, const std::function<bool()>& keepGoing,
                                 const std::function<bool(std::span<const std::uint8_t>)>& sink,
                                 const std::function<bool(std::int64_t)>& gap) = 0;

    // Overwrites what names the file on the volume, only while it is still as the scan found it.
    virtual WipeOutcome wipe(ScanSession& session, const FileLocator& file) = 0;

    // The named streams beside a file's content (an NTFS file's Zone.Identifier and the like);
    // none where the file system has none.
    virtual std::vector<NamedStream> streams(ScanSession&, const FileLocator&) { return {}; }
    // Makes one of them ready to be read as open() makes the file; stream() then gives its bytes.
    virtual OpenedFile openStream(ScanSession&, const FileLocator&, const std::u16string&)
    {
        OpenedFile none;
        none.reason = "this file system keeps no named streams";
        return none;
    }
};

// The file system of the session's volume (of the last Find).
FileSystem& fileSystemOf(const ScanSession& session);

} // namespace orv
