#include "scan/NormalScan.h"

#include <algorithm>
#include <limits>
#include <new>

#include "scan/ScanCommon.h"
#include "scan/WildcardMask.h"
#include "volume/BootSector.h"
#include "volume/SectorIo.h"

namespace orv {

namespace {

// What one listed file costs to keep, at most: its store entry and the digest Wipe checks. The
// memory budget limits the listed files, the one thing a scan holds that grows with the volume.
constexpr std::int64_t kBytesPerListedFile = 400;
constexpr std::int64_t kFirstCandidate = 28; // records 0 to 27 belong to the file system itself
constexpr std::int64_t kRootRecord = 5;
constexpr std::size_t kLongestPath = 256;
constexpr std::u16string_view kUnknownFolder = u"Unknown Deleted Folder\\";

// The bytes of the extents, saturating: a crafted run list must not wrap the sum.
std::int64_t totalBytes(const VolumeContext& volume)
{
    std::int64_t bytes = 0;
    for (const DataRun& extent : volume.MftExtentList) {
        std::int64_t extentBytes = 0;
        if (extent.length > 0 &&
            (__builtin_mul_overflow(extent.length, volume.BytesPerCluster, &extentBytes) ||
             __builtin_add_overflow(bytes, extentBytes, &bytes)))
            return std::numeric_limits<std::int64_t>::max();
    }
    return bytes;
}

// Extents that reach past the end of the device are cut there: a damaged run list must not make
// us set aside memory for bytes that cannot be read. Returns the bytes cut.
std::int64_t clipExtentsToDevice(VolumeContext& volume)
{
    const auto deviceBytes = volume.Device ? volume.Device->size() : std::nullopt;
    const std::int64_t before = totalBytes(volume);
    const std::int64_t deviceClusters = deviceBytes
        ? static_cast<std::int64_t>(std::min<std::uint64_t>(*deviceBytes, std::numeric_limits<std::int64_t>::max())) /
            volume.BytesPerCluster
        : std::numeric_limits<std::int64_t>::max() / std::max<std::int64_t>(volume.BytesPerCluster, 1);
    for (DataRun& extent : volume.MftExtentList) {
        if (extent.start < 0 || extent.start >= deviceClusters)
            extent.length = 0;
        else
            extent.length = std::min(extent.length, deviceClusters - extent.start);
    }
    std::erase_if(volume.MftExtentList, [](const DataRun& extent) { return extent.length <= 0; });
    return before - totalBytes(volume);
}

// The extents cut to the $MFT's own data size: records past it were never written, and a run list
// that claims far more (a damaged or crafted one) must not make us load it.
void clipExtentsToDataSize(VolumeContext& volume)
{
    if (volume.MftDataSize <= 0 || volume.BytesPerCluster <= 0)
        return;
    std::int64_t wanted =
        volume.MftDataSize / volume.BytesPerCluster + (volume.MftDataSize % volume.BytesPerCluster != 0);
    for (DataRun& extent : volume.MftExtentList) {
        extent.length = std::min(extent.length, wanted);
        wanted -= extent.length;
    }
    std::erase_if(volume.MftExtentList, [](const DataRun& extent) { return extent.length <= 0; });
}

enum class Climb { Found, SkipFile, Stopped };

// Builds the folder path of a file from its parent record upwards, reading each folder's record at
// its number in MftBuffer into `record`.
Climb climbFolders(ScanSession& session, Pump& pump, std::int64_t parent, std::u16string& path,
                   std::vector<std::uint8_t>& record)
{
    VolumeContext& volume = session.volume;
    path.clear();
    std::int64_t current = parent;
    for (;;) {
        pump.step();
        if (!session.ScanRunning)
            return Climb::Stopped;
        if (current > session.MftLoadedBytes / volume.MftRecordSize)
            return Climb::SkipFile;
        const std::int64_t offset = current * volume.MftRecordSize;
        if (offset + volume.MftRecordSize > session.MftLoadedBytes || !volume.MftBuffer.read(offset, record))
            return Climb::SkipFile;
        // Fixed up before reading: a long folder name crosses the end of the first 512 bytes.
        ApplyRecordFixups(record);
        if (!SurveyAttributes(record))
            return Climb::SkipFile;
        // The folder's name may live in an extension record; of its names, the long one.
        const auto parts = readRecordParts(&volume, record, offset);
        const auto names = parts ? longNames(parts->names) : std::vector<FileNameEntry>{};
        if (names.empty())
            return Climb::SkipFile;
        const std::u16string* name = &names.front().name;
        const std::optional<std::int64_t> next = names.front().parent;
        if (parts->directory) {
            path = *name + u"\\" + path;
        } else {
            // The folder's record now holds something else; what it names above is not this
            // file's folder, so the climb ends here.
            path = std::u16string(kUnknownFolder) + path;
            return Climb::Found;
        }
        current = *next;
        if (current <= kRootRecord || *name == u"." || name->empty() || path.size() > kLongestPath)
            return Climb::Found;
    }
}

// The section for a path climbed from the parent: the drive first, ending in "\".
bool finishPath(const std::string& drive, std::u16string& path)
{
    if (path.empty() || path.size() > kLongestPath)
        return false;
    if (path.front() == u'\\')
        path.erase(0, 1);
    if (path == u".\\")
        path.clear();
    std::u16string prefix = fromAscii(drive);
    prefix += u'\\';
    if (path.find(prefix) == std::u16string::npos)
        path.insert(0, prefix);
    return true;
}

ScanEnd collectDeletedFiles(ScanSession& session, Pump& pump, ScanProgress& progress, ScanReport& report,
                            std::int64_t budget)
{
    VolumeContext& volume = session.volume;
    const std::int64_t recordSize = volume.MftRecordSize;
    const std::int64_t loaded = session.MftLoadedBytes;
    const auto mask = session.FileMask == kMatchEverything ? std::nullopt : WildcardMask::compile(session.FileMask);

    std::int64_t cachedParent = 0;
    std::u16string cachedPath;
    std::u16string path;
    FileFacts facts;
    DateTexts dates;
    int width = 0;
    progress.progressBar(0);

    // Candidates are copied out of the view and fixed up there; so are folders climbed through.
    std::vector<std::uint8_t> candidate(static_cast<std::size_t>(recordSize));
    std::vector<std::uint8_t> folder(static_cast<std::size_t>(recordSize));

    for (std::int64_t r = recordSize; r + recordSize <= loaded; r += recordSize) {
        if (++session.RecordsExamined % 100 == 0)
            progress.recordsExamined(session.RecordsExamined);
        const std::int64_t percent = r * 100 / loaded;
        if (2 * percent != width) {
            width = static_cast<int>(2 * percent);
            progress.progressBar(width);
            progress.progressLabel(static_cast<int>(percent));
        }
        pump.step();
        if (!session.ScanRunning)
            return ScanEnd::Stopped;

        if (r / recordSize < kFirstCandidate)
            continue;
        // Most records are told apart by their first bytes, looked at where they lie.
        std::span<const std::uint8_t> header = volume.MftBuffer.peek(r, static_cast<std::size_t>(recordSize));
        if (header.empty()) {
            volume.MftBuffer.read(r, candidate);
            header = candidate;
        }
        if (!mft::startsLikeRecord(header) || (header[mft::kFlags] & mft::kFlagInUse))
            continue;
        std::copy(header.begin(), header.end(), candidate.begin());
        const std::span<std::uint8_t> record(candidate);
        const auto survey = fixUpAndSurvey(record, report);
        if (!survey)
            continue;
        const FileTest test = takeFileFacts(&volume, record, r, mask ? &*mask : nullptr, dates, facts);
        if (test == FileTest::Damaged)
            ++report.damagedRecords;
        if (test != FileTest::Listed)
            continue;

        // A file with several hard links is listed under each of its names.
        const auto list = [&](std::int64_t parent, const std::u16string& name) {
            if (parent != cachedParent) {
                const Climb climb = climbFolders(session, pump, parent, path, folder);
                if (climb == Climb::Stopped)
                    return false;
                if (climb == Climb::SkipFile || !finishPath(volume.Drive, path))
                    return true;
                cachedParent = parent;
                cachedPath = path;
            }
            if (cachedPath.empty())
                return true; // parent 0: the cache's starting state, no folder
            if (static_cast<std::int64_t>(session.store.entryCount()) >= budget / kBytesPerListedFile) {
                report.outOfMemory = true;
                return false;
            }
            session.store.write(cachedPath, name, formatStoredValue(r, facts.date, facts.time, facts.size));
            volume.MftBuffer.rememberListed(r, record);
            progress.filesFound(++session.FilesFound);
            return true;
        };
        if (!list(facts.parent, facts.name))
            return ScanEnd::Stopped;
        for (const FileLink& link : facts.moreLinks)
            if (!list(link.parent, link.name))
                return ScanEnd::Stopped;
    }
    return ScanEnd::Finished;
}

} // namespace

ScanReport NTFSFind1(ScanSession& session, Pump& pump, ScanProgress& progress, std::uint64_t availablePhysicalMemory)
{
    ScanReport report;
    VolumeContext& volume = session.volume;
    session.ScanRunning = true;
    progress.stepStarted(ScanStep::Loading);

    const auto finish = [&](ScanEnd end) {
        progress.progressBar(200);
        report.end = session.ScanRunning ? end : ScanEnd::Stopped;
        session.ScanRunning = false;
        return report;
    };
    if (volume.BytesPerCluster <= 0 || volume.MftRecordSize <= 0)
        return finish(ScanEnd::Finished);

    clipExtentsToDataSize(volume);
    volume.CurrentMftExtents = volume.MftExtentList;
    // The $MFT is read where it lies, record by record: its size costs no memory, so no record is
    // left out for a budget, only those past the end of the device.
    report.recordsNotLoaded = clipExtentsToDevice(volume) / volume.MftRecordSize;
    session.MftLoadedBytes = totalBytes(volume);
    std::vector<MftView::Piece> pieces;
    for (const DataRun& extent : volume.MftExtentList)
        pieces.push_back({extent.start * volume.BytesPerCluster, extent.length * volume.BytesPerCluster});
    volume.MftBuffer.open(volume.Device, std::move(pieces));
    pump.step();
    if (!session.ScanRunning)
        return finish(ScanEnd::Stopped);

    // $Bitmap (record 6) tells the grades which clusters are in use now.
    session.MFTFile.ClusterList.clear();
    volume.MftBufferByNumber = true; // the buffer is the $MFT: record N lies at N x MftRecordSize
    volume.RecordIndex.clear();
    volume.EarlierRegions.clear();
    if (6 * volume.MftRecordSize + volume.MftRecordSize <= session.MftLoadedBytes)
        DecodeRecordNTFS(volume, static_cast<std::size_t>(6 * volume.MftRecordSize), session.MFTFile);
    if (!loadVolumeBitmap(session, pump))
        return finish(ScanEnd::Stopped);
    pump.step();
    if (!session.ScanRunning)
        return finish(ScanEnd::Stopped);

    // What the scan keeps grows with what it lists; when memory runs out that is said, never
    // passed off as a scan that found less.
    try {
        return finish(collectDeletedFiles(session, pump, progress, report, memoryBudget(availablePhysicalMemory)));
    } catch (const std::bad_alloc&) {
        report.outOfMemory = true;
        return finish(ScanEnd::Stopped);
    }
}

} // namespace orv
