// FAT12/16/32 and exFAT behind the file-system seam: a listed file is a directory entry the scan
// kept in session.listedEntries, its content runs of clusters.

#include <algorithm>
#include <vector>

#include "results/FileSystem.h"
#include "scan/EntryVolume.h"

namespace orv {

namespace {

const FoundEntry* entryAt(const ScanSession& session, const FileLocator& file)
{
    if (file.kind != FileLocator::Kind::DirectoryEntry || file.value < 0 ||
        static_cast<std::uint64_t>(file.value) >= session.listedEntries.size())
        return nullptr;
    return &session.listedEntries[static_cast<std::size_t>(file.value)];
}

// The bytes the content map covers, saturating.
std::uint64_t mappedBytes(const FoundEntry& entry, std::uint64_t bytesPerCluster)
{
    std::uint64_t bytes = 0;
    for (const ClusterRun& run : entry.content) {
        std::uint64_t runBytes = 0;
        if (__builtin_mul_overflow(run.count, bytesPerCluster, &runBytes) ||
            __builtin_add_overflow(bytes, runBytes, &bytes))
            return UINT64_MAX;
    }
    return bytes;
}

class EntryFileSystem final : public FileSystem
{
public:
    ScanReport normalScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                          std::uint64_t availablePhysicalMemory) override
    {
        return listEntryVolume(session, pump, progress, false, false, availablePhysicalMemory);
    }

    ExtendedScanReport extendedScan(ScanSession& session, Pump& pump, ScanProgress& progress,
                                    std::uint64_t availablePhysicalMemory, ExtendedReach reach) override
    {
        ExtendedScanReport report;
        static_cast<ScanReport&>(report) = listEntryVolume(
            session, pump, progress, true, reach == ExtendedReach::WholeVolume, availablePhysicalMemory);
        return report;
    }

    std::optional<ListedFileFacts> facts(ScanSession& session, const FileLocator& file) override
    {
        const FoundEntry* entry = entryAt(session, file);
        if (!entry)
            return std::nullopt;
        ListedFileFacts facts;
        facts.hasData = true;
        facts.size = static_cast<std::int64_t>(entry->size);
        if (const auto& t = entry->modified)
            facts.localTime = LocalDateTime{t->year, t->month, t->day, t->hour, t->minute, t->second};
        return facts;
    }

    Grade grade(ScanSession& session, const FileLocator& file, std::u16string_view) override
    {
        const FoundEntry* entry = entryAt(session, file);
        if (!entry || !session.entryVolume)
            return Grade::None;
        // Good only where the map needs no guess and every cluster of it is free and unclaimed;
        // a map the volume's end cut short cannot give the whole file.
        const bool whole = mappedBytes(*entry, session.entryVolume->bytesPerCluster()) >= entry->size;
        switch (entry->certainty) {
        case ContentCertainty::Exact: return whole ? Grade::Good : Grade::Average;
        case ContentCertainty::Guessed: return Grade::Average;
        case ContentCertainty::FirstClusterInUse: return Grade::Poor;
        }
        return Grade::None;
    }

    OpenedFile open(ScanSession& session, const FileLocator& file) override
    {
        OpenedFile opened;
        const FoundEntry* entry = entryAt(session, file);
        if (!entry || !session.entryVolume) {
            session.openedEntry = -1;
            opened.reason = "no directory entry at this place";
            return opened;
        }
        session.openedEntry = file.value;
        opened.found = true;
        opened.emptyIsWhole = true;
        opened.size = static_cast<std::int64_t>(std::min<std::uint64_t>(entry->size, INT64_MAX));
        opened.storedBytes = opened.size;
        // No signature check before a preview: the decoder itself tells a reused first cluster.
        return opened;
    }

    ContentReport stream(ScanSession& session, Pump& pump, const std::function<bool()>& keepGoing,
                         const std::function<bool(std::span<const std::uint8_t>)>& sink,
                         const std::function<bool(std::int64_t)>& gap) override
    {
        ContentReport report;
        const FoundEntry* entry = entryAt(session, {FileLocator::Kind::DirectoryEntry, session.openedEntry});
        const std::shared_ptr<EntryVolume> volume = session.entryVolume;
        if (!entry || !volume || !session.volume.Device)
            return report;
        SectorDevice& device = *session.volume.Device;
        const std::uint64_t clusterBytes = volume->bytesPerCluster();
        std::uint64_t left = entry->size;
        std::vector<std::uint8_t> chunk;
        const auto give = [&](std::uint64_t position, std::uint64_t length, bool readable) {
            while (length > 0) {
                if (!keepGoing()) {
                    report.stopped = true;
                    return false;
                }
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(length, kContentChunk));
                chunk.assign(take, 0);
                bool given = true;
                if (!readable || !device.read(position, chunk)) {
                    std::fill(chunk.begin(), chunk.end(), std::uint8_t{0});
                    report.zeroedBytes += static_cast<std::int64_t>(take);
                    given = !gap;
                }
                if (!(given ? sink(chunk) : gap(static_cast<std::int64_t>(take)))) {
                    report.outputFailed = true;
                    return false;
                }
                report.written += static_cast<std::int64_t>(take);
                position += take;
                length -= take;
                left -= take;
                pump.step();
            }
            return true;
        };
        for (const ClusterRun& run : entry->content) {
            if (left == 0)
                break;
            const bool inside = run.first >= 2 && run.first <= volume->lastCluster() && run.count > 0 &&
                run.count - 1 <= volume->lastCluster() - run.first;
            std::uint64_t runBytes = 0;
            if (__builtin_mul_overflow(run.count, clusterBytes, &runBytes))
                runBytes = UINT64_MAX;
            const std::uint64_t length = std::min(left, runBytes);
            if (!give(inside ? volume->clusterPosition(run.first) : 0, length, inside))
                return finish(report);
        }
        // What the map does not reach (the volume ended first) comes as zeros: the file keeps its
        // size and the report says it is not whole.
        if (left > 0 && !give(0, left, false))
            return finish(report);
        return finish(report);
    }

    WipeOutcome wipe(ScanSession& session, const FileLocator& file) override
    {
        VolumeContext& volume = session.volume;
        if (volume.Device && volume.Device->readOnly())
            return {false, "the source is a disk image container, which is only ever read"};
        if (mountedWritable(volume))
            return {false, "the volume is mounted for writing; unmount it first"};
        const FoundEntry* entry = entryAt(session, file);
        if (!entry || !session.entryVolume || !volume.Device)
            return {false, "no directory entry at this place"};
        switch (session.entryVolume->wipe(*volume.Device, *entry)) {
        case EntryVolume::WipeResult::Wiped: return {true, {}};
        case EntryVolume::WipeResult::Changed: return {false, "the directory entry has changed since the scan"};
        case EntryVolume::WipeResult::Live: return {false, "the directory entry belongs to a live file"};
        case EntryVolume::WipeResult::IoError: break;
        }
        return {false, "the volume refused the write"};
    }

private:
    static ContentReport finish(ContentReport report)
    {
        report.damaged = report.zeroedBytes > 0 || report.recordDamaged;
        return report;
    }
};

} // namespace

FileSystem& bareMftFileSystem();
FileSystem& ntfsWithShadowCopies();

FileSystem& entryFileSystem()
{
    static EntryFileSystem entries;
    return entries;
}

FileSystem& foundByContentBeside(FileSystem& listed);

FileSystem& fileSystemOf(const ScanSession& session)
{
    if (session.entryVolume)
        return foundByContentBeside(entryFileSystem());
    // A bare $MFT file has no volume, so no shadow copies either.
    return foundByContentBeside(session.volume.FileSystemCode == FileSystemKind::MftFile ? bareMftFileSystem()
                                                                                         : ntfsWithShadowCopies());
}

} // namespace orv
