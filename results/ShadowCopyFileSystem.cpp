// NTFS with its Volume Shadow Copies behind the file-system seam: the scans list the live volume,
// then what its copies hold beyond it; a file of a copy is a record of that copy's $MFT and is
// graded, opened and read in the copy's own session, never on the live volume.

#include <algorithm>
#include <utility>

#include "ntfs/RecordLayout.h"
#include "results/FileSystem.h"
#include "scan/ShadowCopyScan.h"
#include "shell/LanguageTexts.h"

namespace orv {

FileSystem& ntfsFileSystem();

namespace {

// The session of the copy a locator names, with the record's offset in it; null for any other.
std::pair<ScanSession*, FileLocator> copyOf(const ScanSession& session, const FileLocator& file)
{
    if (file.kind != FileLocator::Kind::ShadowCopyRecord)
        return {nullptr, file};
    const int number = shadowCopyOf(file);
    if (number < 1 || static_cast<std::size_t>(number) > session.shadowCopies.size())
        return {nullptr, file};
    const ShadowCopy& copy = session.shadowCopies[static_cast<std::size_t>(number - 1)];
    return {copy.session.get(), {FileLocator::Kind::MftRecord, shadowRecordOffsetOf(file)}};
}

class ShadowCopyFileSystem final : public FileSystem
{
public:
    ScanReport normalScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                          std::uint64_t availablePhysicalMemory) override
    {
        ScanReport report = ntfs().normalScan(session, pump, progress, availablePhysicalMemory);
        afterScan(session, pump, progress, availablePhysicalMemory, report);
        return report;
    }

    ExtendedScanReport extendedScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                                    std::uint64_t availablePhysicalMemory, ExtendedReach reach) override
    {
        ExtendedScanReport report = ntfs().extendedScan(session, pump, progress, availablePhysicalMemory, reach);
        if (!report.bootSectorError)
            afterScan(session, pump, progress, availablePhysicalMemory, report);
        return report;
    }

    std::optional<ListedFileFacts> facts(ScanSession& session, const FileLocator& file) override
    {
        if (file.kind != FileLocator::Kind::ShadowCopyRecord)
            return ntfs().facts(session, file);
        const auto [copy, record] = copyOf(session, file);
        return copy ? ntfs().facts(*copy, record) : std::nullopt;
    }

    Grade grade(ScanSession& session, const FileLocator& file, std::u16string_view name) override
    {
        if (file.kind != FileLocator::Kind::ShadowCopyRecord)
            return ntfs().grade(session, file, name);
        const auto [copy, record] = copyOf(session, file);
        if (!copy)
            return Grade::None;
        if (!inUse(*copy, record.value))
            return ntfs().grade(*copy, record, name);
        // A file in use in the copy owns the clusters the copy's bitmap marks for it: they hold its
        // content as the copy keeps it, so they count as its own, not as taken.
        std::vector<std::uint8_t> bitmap;
        std::swap(bitmap, copy->volume.VolumeBitmap);
        const Grade grade = ntfs().grade(*copy, record, name);
        std::swap(bitmap, copy->volume.VolumeBitmap);
        return grade;
    }

    OpenedFile open(ScanSession& session, const FileLocator& file) override
    {
        session.openedShadowCopy = 0;
        if (file.kind != FileLocator::Kind::ShadowCopyRecord)
            return ntfs().open(session, file);
        const auto [copy, record] = copyOf(session, file);
        if (!copy) {
            OpenedFile missing;
            missing.reason = "the shadow copy is not open";
            return missing;
        }
        OpenedFile opened = ntfs().open(*copy, record);
        // Its clusters are the copy's: a signature check on the live volume would read another file.
        opened.firstStoredCluster.reset();
        if (opened.found)
            session.openedShadowCopy = shadowCopyOf(file);
        return opened;
    }

    ContentReport stream(ScanSession& session, Pump& pump, const std::function<bool()>& keepGoing,
                         const std::function<bool(std::span<const std::uint8_t>)>& sink,
                         const std::function<bool(std::int64_t)>& gap) override
    {
        if (session.openedShadowCopy <= 0)
            return ntfs().stream(session, pump, keepGoing, sink, gap);
        const auto [copy, record] = copyOf(session, *shadowCopyLocator(session.openedShadowCopy, 0));
        if (!copy)
            return {};
        return ntfs().stream(*copy, pump, keepGoing, sink, gap);
    }

    std::vector<NamedStream> streams(ScanSession& session, const FileLocator& file) override
    {
        if (file.kind != FileLocator::Kind::ShadowCopyRecord)
            return ntfs().streams(session, file);
        const auto [copy, record] = copyOf(session, file);
        return copy ? ntfs().streams(*copy, record) : std::vector<NamedStream>{};
    }

    // As open(): a stream of a copy's file is read from the copy.
    OpenedFile openStream(ScanSession& session, const FileLocator& file, const std::u16string& name) override
    {
        session.openedShadowCopy = 0;
        if (file.kind != FileLocator::Kind::ShadowCopyRecord)
            return ntfs().openStream(session, file, name);
        const auto [copy, record] = copyOf(session, file);
        if (!copy) {
            OpenedFile missing;
            missing.reason = "the shadow copy is not open";
            return missing;
        }
        OpenedFile opened = ntfs().openStream(*copy, record, name);
        if (opened.found)
            session.openedShadowCopy = shadowCopyOf(file);
        return opened;
    }

    WipeOutcome wipe(ScanSession& session, const FileLocator& file) override
    {
        if (file.kind == FileLocator::Kind::ShadowCopyRecord)
            return {false, std::string(lang::kFileWipeShadowCopy.english)};
        return ntfs().wipe(session, file);
    }

private:
    static FileSystem& ntfs() { return ntfsFileSystem(); }

    static bool inUse(ScanSession& copy, std::int64_t offset)
    {
        std::uint8_t flags[2] = {};
        return copy.volume.MftBuffer.read(offset + static_cast<std::int64_t>(mft::kFlags), flags) &&
            (flags[0] & mft::kFlagInUse);
    }

    // The copies follow a scan of the live volume that ran to its end.
    static void afterScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                          std::uint64_t availablePhysicalMemory, ScanReport& report)
    {
        session.shadowCopies.clear();
        session.openedShadowCopy = 0;
        if (report.end != ScanEnd::Finished || !session.ListShadowCopies)
            return;
        const FlagScope running(session.ScanRunning);
        if (listShadowCopies(session, pump, progress, availablePhysicalMemory, report) == ScanEnd::Stopped)
            report.end = ScanEnd::Stopped;
    }
};

} // namespace

FileSystem& ntfsWithShadowCopies()
{
    static ShadowCopyFileSystem ntfs;
    return ntfs;
}

} // namespace orv
