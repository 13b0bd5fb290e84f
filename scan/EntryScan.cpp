// The scans of a FAT-family volume: the file system's walk finds the entries, this lists them.

#include <algorithm>
#include <cstdint>
#include <new>

#include "base/Utf16.h"
#include "scan/DateText.h"
#include "scan/EntryVolume.h"
#include "scan/ScanCommon.h"
#include "scan/WildcardMask.h"

namespace orv {

namespace {

// What one listed entry costs to keep, about: its store entry, and its entries and content map.
constexpr std::int64_t kBytesPerListedEntry = 1024;

// The date and time texts of an entry's time, made once per distinct time.
class EntryTimeTexts
{
public:
    void format(const std::optional<EntryTime>& when, std::u16string& date, std::u16string& time)
    {
        if (!when) {
            date.clear();
            time.clear();
            return;
        }
        if (!m_last || !(*m_last == *when)) {
            m_last = when;
            const LocalDateTime local{when->year, when->month, when->day, when->hour, when->minute, when->second, 0};
            m_date = shortDateText(local);
            m_time = longTimeText(local);
        }
        date = m_date;
        time = m_time;
    }

private:
    std::optional<EntryTime> m_last;
    std::u16string m_date, m_time;
};

} // namespace

ScanReport listEntryVolume(ScanSession& session, Pump& pump, ScanProgress& progress, bool extended, bool wholeVolume,
                           std::uint64_t availablePhysicalMemory)
{
    ScanReport report;
    session.ScanRunning = true;
    session.listedEntries.clear();
    session.openedEntry = -1;
    progress.stepStarted(extended ? ScanStep::FindFiles : ScanStep::Loading);
    PercentShown shown(progress);
    shown.reset();
    const auto finish = [&](ScanEnd end) {
        progress.progressBar(200);
        report.end = session.ScanRunning ? end : ScanEnd::Stopped;
        session.ScanRunning = false;
        return report;
    };
    const std::shared_ptr<EntryVolume> volume = session.entryVolume;
    if (!volume || !session.volume.Device)
        return finish(ScanEnd::Finished);

    const auto mask = session.FileMask == kMatchEverything ? std::nullopt : WildcardMask::compile(session.FileMask);
    const std::int64_t budget = memoryBudget(availablePhysicalMemory);
    const std::u16string drive = fromAscii(session.volume.Drive) + u"\\";
    EntryTimeTexts times;
    std::u16string date, time;
    bool stopped = false;
    const auto keepGoing = [&] {
        pump.step();
        // Skip leaves the Extended scan's search with what it found so far, as on NTFS.
        if (!session.ScanRunning || session.SkipRequested)
            stopped = true;
        return !stopped;
    };
    // The whole-disc scan also finds files by their content in the free clusters it reads; what a
    // directory entry still names (listed or masked out) is never one of them.
    ContentCarving* carving = extended && wholeVolume ? session.carving.get() : nullptr;
    if (carving)
        carving->setVolume({volume->bytesPerCluster(), 2, volume->lastCluster(), volume->clusterPosition(2)},
                           [volume](std::uint64_t cluster) { return volume->clusterInUse(cluster); });
    const FoundEntryVisit visit = [&](const FoundEntry& entry) {
        if (++session.RecordsExamined % 10 == 0)
            progress.recordsExamined(session.RecordsExamined);
        if (carving)
            for (const ClusterRun& run : entry.content)
                carving->explainClusters(run.first, run.count);
        if (entry.directory || entry.name.empty())
            return true;
        if (mask && !mask->matches(entry.name))
            return true;
        if (static_cast<std::int64_t>(session.listedEntries.size()) >= budget / kBytesPerListedEntry) {
            report.outOfMemory = true;
            return false;
        }
        times.format(entry.modified, date, time);
        const FileLocator locator{FileLocator::Kind::DirectoryEntry,
                                  static_cast<std::int64_t>(session.listedEntries.size())};
        session.listedEntries.push_back(entry);
        session.store.write(drive + entry.folder, entry.name,
                            formatStoredValue(locator, date, time, static_cast<std::int64_t>(entry.size)));
        progress.filesFound(++session.FilesFound);
        return true;
    };
    try {
        if (extended) {
            const auto clamp = [](std::uint64_t n) {
                return static_cast<std::int64_t>(std::min<std::uint64_t>(n, INT64_MAX));
            };
            volume->extendedScan(
                *session.volume.Device, wholeVolume, visit, keepGoing,
                [&](std::uint64_t done, std::uint64_t total) { shown.showShare(clamp(done), clamp(total)); },
                carving ? ClusterLook([carving](std::uint64_t first, std::span<const std::uint8_t> bytes) {
                    carving->look(first, bytes);
                })
                        : ClusterLook{});
        } else {
            volume->normalScan(*session.volume.Device, visit, keepGoing);
        }
        session.SkipRequested = false;
        // A Stop shows as the running flag cleared; a Skip only ends the search early.
        return finish(report.outOfMemory ? ScanEnd::Stopped : ScanEnd::Finished);
    } catch (const std::bad_alloc&) {
        report.outOfMemory = true;
        return finish(ScanEnd::Stopped);
    }
}

} // namespace orv
