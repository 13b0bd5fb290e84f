#include "scan/NormalScan.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

#include "base/PageBytes.h"
#include "ntfs/BootSector.h"
#include "scan/GradeBasis.h"
#include "scan/PieceWalkers.h"
#include "scan/RecycleBin.h"
#include "scan/ScanCommon.h"
#include "scan/WildcardMask.h"
#include "volume/LeReader.h"
#include "volume/SectorIo.h"

namespace orv {

namespace {

// What one listed file costs to keep, at most: its store entry, the digest Wipe checks and, for a
// listing that shows more, what the scan kept of its record. The memory budget limits the listed
// files, the one thing a scan holds that grows with the volume.
constexpr std::int64_t kBytesPerListedFile = 400;
constexpr std::int64_t kFirstCandidate = 28; // records 0 to 27 belong to the file system itself
constexpr std::int64_t kRootRecord = 5;
constexpr std::size_t kLongestPath = 256;
constexpr std::u16string_view kUnknownFolder = u"Unknown Deleted Folder\\";
constexpr std::int64_t kPieceBytesForIndex = 1024 * 1024;

// Whether a record's bytes hold "$I" in UTF-16: the first test of an $I file in use, cheap enough
// to make on every record of the $MFT.
bool mayNameRecycleInfo(std::span<const std::uint8_t> record)
{
    constexpr std::uint8_t kText[] = {'$', 0, 'I', 0};
    return std::search(record.begin(), record.end(), std::begin(kText), std::end(kText)) != record.end();
}

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

// The extension records of a bare $MFT file by the base record each names, read from their
// headers in pieces.
void indexExtensionRecords(VolumeContext& volume, std::int64_t loaded)
{
    const std::int64_t recordSize = volume.MftRecordSize;
    const std::int64_t pieceBytes = std::max(recordSize, kPieceBytesForIndex / recordSize * recordSize);
    std::vector<std::uint8_t> piece;
    for (std::int64_t first = 0; first + recordSize <= loaded; first += pieceBytes) {
        piece.resize(static_cast<std::size_t>(std::min(pieceBytes, (loaded - first) / recordSize * recordSize)));
        volume.MftBuffer.readThrough(first, piece);
        for (std::size_t at = 0; at + static_cast<std::size_t>(recordSize) <= piece.size();
             at += static_cast<std::size_t>(recordSize)) {
            const auto record = std::span<const std::uint8_t>(piece).subspan(at, static_cast<std::size_t>(recordSize));
            if (!mft::startsLikeRecord(record))
                continue;
            if (const std::uint64_t base = LeReader(record).u64(mft::kBaseRecord).value_or(0) & 0xFFFF'FFFF'FFFFull)
                volume.ExtensionsByBase.emplace_back(
                    base, static_cast<std::uint64_t>((first + static_cast<std::int64_t>(at)) / recordSize));
        }
    }
    std::sort(volume.ExtensionsByBase.begin(), volume.ExtensionsByBase.end());
}

enum class Climb { Found, SkipFile, Stopped };

// What the record of a folder says, as the climbs to it need it: files of one folder and of its
// neighbours climb through the same records again and again, so they are read once each.
struct FolderStep
{
    std::int64_t number = -1; // the record's number; -1 for an empty place
    bool usable = false; // a record with a long name
    bool directory = false;
    std::u16string name;
    std::int64_t parent = 0;
};

class FolderSteps
{
public:
    explicit FolderSteps(VolumeContext& volume, std::int64_t loaded)
        : m_volume(volume), m_loaded(loaded), m_steps(kPlaces),
          m_record(static_cast<std::size_t>(std::max<std::int64_t>(volume.MftRecordSize, 0)))
    {}

    const FolderStep& at(std::int64_t number)
    {
        FolderStep& step = m_steps[static_cast<std::size_t>(number) % kPlaces];
        if (step.number == number)
            return step;
        step.number = number;
        step.usable = false;
        const std::int64_t recordSize = m_volume.MftRecordSize;
        const std::int64_t offset = number * recordSize;
        if (number > m_loaded / recordSize || offset + recordSize > m_loaded || !read(offset))
            return step;
        // Fixed up before reading: a long folder name crosses the end of the first 512 bytes.
        ApplyRecordFixups(m_record);
        if (!SurveyAttributes(m_record))
            return step;
        // The folder's name may live in an extension record; of its names, the long one.
        const auto parts = readRecordParts(&m_volume, m_record, offset);
        auto names = parts ? longNames(parts->names) : std::vector<FileNameEntry>{};
        if (names.empty())
            return step;
        step.usable = true;
        step.directory = parts->directory;
        step.name = std::move(names.front().name);
        step.parent = names.front().parent;
        return step;
    }

private:
    static constexpr std::size_t kPlaces = 4096;

    bool read(std::int64_t offset)
    {
        // Where the device is read by position, the record alone: the walkers read the $MFT in
        // pieces already, and a cached block read for one record would copy it a second time.
        MftView& view = m_volume.MftBuffer;
        return view.concurrentReads() ? view.readThrough(offset, m_record) : view.read(offset, m_record);
    }

    VolumeContext& m_volume;
    const std::int64_t m_loaded;
    std::vector<FolderStep> m_steps;
    std::vector<std::uint8_t> m_record;
};

// A folder put in the Recycle Bin whole ("$R<id>") that a climb passed through: its $I file lies
// beside it in `binFolder`, and `below` is the path from it down to the file's folder.
struct RecycledFolder
{
    std::int64_t binFolder = 0;
    std::u16string id;
    std::u16string below;
};

// Builds the folder path of a file from its parent record upwards.
Climb climbFolders(ScanSession& session, Pump& pump, FolderSteps& steps, std::int64_t parent, std::u16string& path,
                   std::optional<RecycledFolder>& recycled)
{
    VolumeContext& volume = session.volume;
    path.clear();
    recycled.reset();
    std::int64_t current = parent;
    for (;;) {
        pump.step();
        if (!session.ScanRunning)
            return Climb::Stopped;
        if (current < 0 || volume.MftRecordSize <= 0 || current > session.MftLoadedBytes / volume.MftRecordSize)
            return Climb::SkipFile;
        const FolderStep& step = steps.at(current);
        if (!step.usable)
            return Climb::SkipFile;
        const std::u16string& name = step.name;
        if (step.directory) {
            // The outermost such folder counts: the one the bin holds.
            if (const auto id = recycleId(name))
                recycled = RecycledFolder{step.parent, std::u16string(*id), path};
            path = name + u"\\" + path;
        } else {
            // The folder's record now holds something else; what it names above is not this
            // file's folder, so the climb ends here.
            path = std::u16string(kUnknownFolder) + path;
            return Climb::Found;
        }
        current = step.parent;
        if (current <= kRootRecord || name == u"." || name.empty() || path.size() > kLongestPath)
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

// The $MFT is examined in pieces of about a megabyte, on as many threads as the device can be read
// from at once; the files are listed from the pieces in record order on the scan's own thread, so
// the store is written in the same order whatever the threads did.
constexpr std::int64_t kPieceBytes = 1024 * 1024;
constexpr unsigned kMostWalkers = 4;

// A name under which a record is to be listed, as a walker found it.
struct FoundName
{
    std::int64_t offset = 0;
    std::int64_t parent = 0;
    std::uint32_t nameAt = 0, nameLength = 0; // in the piece's text
    std::uint32_t valueAt = 0, valueLength = 0; // its stored value, likewise
    MftView::Digest digest{};
    ListedRecord listed; // when the session keeps them
    bool recycled = false; // a "$R" file of the Recycle Bin, listed under its original name
};

// An "$I" file of the Recycle Bin, deleted or not: which $R it describes, in which folder.
struct FoundRecycleInfo
{
    std::int64_t offset = 0;
    std::int64_t parent = 0;
    std::u16string id;
};

// What the walkers found in one piece of the $MFT.
struct PieceFindings
{
    std::int64_t index = -1;
    std::u16string text;
    std::vector<FoundName> names;
    std::vector<FoundRecycleInfo> recycleInfos;
    std::int64_t records = 0; // examined
    std::int64_t damaged = 0;
};

// Examines pieces of the $MFT: one per walking thread, each with buffers of its own. What it reads
// of the volume goes through the view's thread-safe reads; the store and the session's counters are
// never touched here.
class PieceExaminer
{
public:
    using Findings = PieceFindings;

    PieceExaminer(ScanSession& session, const WildcardMask* mask, std::int64_t pieceBytes)
        : m_volume(session.volume), m_keepListed(session.keepListedRecords), m_loaded(session.MftLoadedBytes),
          m_pieceBytes(pieceBytes), m_mask(mask)
    {}

    void examine(std::int64_t index, PieceFindings& out)
    {
        out.index = index;
        out.text.clear();
        out.names.clear();
        out.recycleInfos.clear();
        out.records = 0;
        out.damaged = 0;
        walk(index, out);
    }

private:
    void walk(std::int64_t index, PieceFindings& out)
    {
        const std::int64_t recordSize = m_volume.MftRecordSize;
        m_candidate.resize(static_cast<std::size_t>(recordSize));
        ScanReport report;
        m_piece.walk(
            m_volume, m_loaded, m_pieceBytes, index, [&](std::int64_t r, std::span<const std::uint8_t> header) {
                if (r == 0)
                    return; // record 0 is the $MFT itself, and never counted
                ++out.records;
                // Most records are told apart by their first bytes.
                if (r / recordSize < kFirstCandidate || !mft::startsLikeRecord(header))
                    return;
                if (header[mft::kFlags] & mft::kFlagInUse) {
                    // A Recycle Bin's $I file in use still says where a deleted $R file came from.
                    // Only records that hold the UTF-16 text "$I" anywhere are read further.
                    if (mayNameRecycleInfo(header)) {
                        std::copy(header.begin(), header.end(), m_candidate.begin());
                        ScanReport ignored;
                        const std::span<std::uint8_t> record(m_candidate);
                        if (fixUpAndSurvey(record, ignored) &&
                            takeFileFacts(&m_volume, record, r, nullptr, m_dates, m_facts) == FileTest::RecycleInfo)
                            out.recycleInfos.push_back({r, m_facts.parent, m_facts.name.substr(2)});
                    }
                    return;
                }
                std::copy(header.begin(), header.end(), m_candidate.begin());
                const std::span<std::uint8_t> record(m_candidate);
                if (!fixUpAndSurvey(record, report))
                    return;
                const FileTest test = takeFileFacts(&m_volume, record, r, m_mask, m_dates, m_facts);
                if (test == FileTest::Damaged)
                    ++report.damagedRecords;
                if (test == FileTest::RecycleInfo)
                    out.recycleInfos.push_back({r, m_facts.parent, m_facts.name.substr(2)});
                if (test != FileTest::Listed)
                    return;
                found(r, record, out);
            });
        out.damaged = report.damagedRecords;
    }

    void found(std::int64_t r, std::span<std::uint8_t> record, PieceFindings& out)
    {
        FoundName found;
        found.offset = r;
        found.recycled = m_facts.recycled;
        found.valueAt = static_cast<std::uint32_t>(out.text.size());
        appendStoredValue(out.text, r, m_facts.date, m_facts.time, m_facts.size);
        found.valueLength = static_cast<std::uint32_t>(out.text.size() - found.valueAt);
        found.digest = m_volume.MftBuffer.digest(record);
        if (m_keepListed) {
            GradeBasis grade;
            if (decodeRecordOfView(m_volume, record, r, m_decoded) != RecordStatus::NotARecord)
                grade = gradeBasis(m_volume, m_decoded);
            found.listed = ListedRecord(r, {m_facts.creationTime, true, m_facts.resident, m_facts.size}, grade,
                                        mayHoldNamedStreams(record));
        }
        // A file with several hard links is listed under each of its names.
        const auto name = [&](std::int64_t parent, const std::u16string& text) {
            found.parent = parent;
            found.nameAt = static_cast<std::uint32_t>(out.text.size());
            found.nameLength = static_cast<std::uint32_t>(text.size());
            out.text += text;
            out.names.push_back(found);
        };
        name(m_facts.parent, m_facts.name);
        for (const FileLink& link : m_facts.moreLinks)
            name(link.parent, link.name);
    }

    VolumeContext& m_volume;
    const bool m_keepListed;
    const std::int64_t m_loaded;
    const std::int64_t m_pieceBytes;
    const WildcardMask* m_mask;
    RecordPiece m_piece;
    std::vector<std::uint8_t> m_candidate;
    DateTexts m_dates;
    FileFacts m_facts;
    TMFTFile m_decoded;
};

ScanEnd collectDeletedFiles(ScanSession& session, Pump& pump, ScanProgress& progress, ScanReport& report,
                            std::int64_t budget)
{
    VolumeContext& volume = session.volume;
    const std::int64_t recordSize = volume.MftRecordSize;
    const std::int64_t loaded = session.MftLoadedBytes;
    const auto mask = session.FileMask == kMatchEverything ? std::nullopt : WildcardMask::compile(session.FileMask);
    progress.progressBar(0);
    if (loaded < recordSize)
        return ScanEnd::Finished;

    const std::int64_t pieceBytes = std::max(recordSize, kPieceBytes / recordSize * recordSize);
    const std::int64_t pieces = (loaded / recordSize * recordSize + pieceBytes - 1) / pieceBytes;
    const WildcardMask* const maskOrNone = mask ? &*mask : nullptr;
    PieceWalkers<PieceExaminer> walkers(
        [&] { return std::make_unique<PieceExaminer>(session, maskOrNone, pieceBytes); }, pieces,
        volume.MftBuffer.concurrentReads(), kMostWalkers);

    std::int64_t cachedParent = 0;
    std::u16string cachedPath;
    std::optional<RecycledFolder> cachedRecycled;
    std::u16string path;
    std::optional<RecycledFolder> recycled;
    int width = 0;
    FolderSteps steps(volume, loaded);

    // Files of the Recycle Bin are listed once every $I file is known, at the end: an $I file
    // may lie anywhere in the $MFT, before or after its $R file.
    struct Deferred
    {
        FoundName found;
        std::u16string section, name, value;
        std::optional<RecycledFolder> folder;
    };
    std::vector<Deferred> deferred;
    std::vector<FoundRecycleInfo> infos;

    const auto list = [&](const std::u16string& section, std::u16string_view name, std::u16string_view value,
                          const FoundName& found) {
        if (static_cast<std::int64_t>(session.store.entryCount()) >= budget / kBytesPerListedFile) {
            report.outOfMemory = true;
            return false;
        }
        session.store.write(section, name, value);
        volume.MftBuffer.rememberListed(found.offset, found.digest);
        if (session.keepListedRecords)
            session.listedRecords.add(found.listed);
        progress.filesFound(++session.FilesFound);
        return true;
    };

    for (std::int64_t index = 0; index < pieces; ++index) {
        PieceFindings* findings = nullptr;
        for (;;) {
            pump.step();
            if (!session.ScanRunning)
                return ScanEnd::Stopped;
            if ((findings = walkers.next(index)))
                break;
        }
        // The count is shown in steps of a hundred records, as the window has always shown it.
        const std::int64_t shownBefore = session.RecordsExamined / 100;
        session.RecordsExamined += findings->records;
        report.damagedRecords += findings->damaged;
        if (session.RecordsExamined / 100 != shownBefore)
            progress.recordsExamined(session.RecordsExamined / 100 * 100);
        const std::int64_t percent = std::min(loaded, (index + 1) * pieceBytes) * 100 / loaded;
        if (2 * percent != width) {
            width = static_cast<int>(2 * percent);
            progress.progressBar(width);
            progress.progressLabel(static_cast<int>(percent));
        }

        infos.insert(infos.end(), findings->recycleInfos.begin(), findings->recycleInfos.end());
        const std::u16string_view text(findings->text);
        for (const FoundName& found : findings->names) {
            if (found.parent != cachedParent) {
                const Climb climb = climbFolders(session, pump, steps, found.parent, path, recycled);
                if (climb == Climb::Stopped)
                    return ScanEnd::Stopped;
                if (climb == Climb::SkipFile || !finishPath(volume.Drive, path))
                    continue;
                cachedParent = found.parent;
                cachedPath = path;
                cachedRecycled = recycled;
            }
            if (cachedPath.empty())
                continue; // parent 0: the cache's starting state, no folder
            const std::u16string_view name = text.substr(found.nameAt, found.nameLength);
            const std::u16string_view value = text.substr(found.valueAt, found.valueLength);
            if (found.recycled || cachedRecycled) {
                deferred.push_back({found, cachedPath, std::u16string(name), std::u16string(value), cachedRecycled});
                continue;
            }
            if (!list(cachedPath, name, value, found))
                return ScanEnd::Stopped;
        }
        walkers.done(index);
    }

    if (deferred.empty())
        return ScanEnd::Finished;
    RecycleBinIndex bin;
    for (const FoundRecycleInfo& info : infos) {
        pump.step();
        if (!session.ScanRunning)
            return ScanEnd::Stopped;
        if (auto content = readRecycleInfo(volume, info.offset))
            bin.add(info.parent, info.id, std::move(*content));
    }
    for (Deferred& file : deferred) {
        pump.step();
        if (!session.ScanRunning)
            return ScanEnd::Stopped;
        // Without a readable $I the file stays where it is, under its bin name.
        if (file.found.recycled) {
            if (const RecycleInfo* info = bin.find(file.found.parent, *recycleId(file.name))) {
                ListedPlace place = originalPlace(volume.Drive, info->originalPath);
                if (!place.name.empty()) {
                    file.section = std::move(place.folder);
                    file.name = std::move(place.name);
                    session.recycledFiles[file.found.offset] = {info->deletedTime, info->originalPath};
                }
            }
            if (mask && !mask->matches(file.name))
                continue;
        } else if (const RecycleInfo* info = bin.find(file.folder->binFolder, file.folder->id)) {
            const ListedPlace place = originalPlace(volume.Drive, info->originalPath);
            file.section = place.folder + place.name + u"\\" + file.folder->below;
            session.recycledFiles[file.found.offset] = {info->deletedTime,
                                                        info->originalPath + u"\\" + file.folder->below + file.name};
        }
        if (!list(file.section, file.name, file.value, file.found))
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

    volume.MftExtentShifts.clear();
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

    volume.ExtensionsByBase.clear();
    if (volume.FileSystemCode == FileSystemKind::MftFile)
        indexExtensionRecords(volume, session.MftLoadedBytes);
    pump.step();
    if (!session.ScanRunning)
        return finish(ScanEnd::Stopped);

    // $Bitmap (record 6) tells the grades which clusters are in use now.
    session.MFTFile.ClusterList.clear();
    volume.MftBufferByNumber = true; // the buffer is the $MFT: record N lies at N x MftRecordSize
    volume.RecordIndex.clear();
    volume.EarlierRegions.clear();
    // A bare $MFT file holds no clusters: $Bitmap's runs would name bytes of other records.
    if (volume.FileSystemCode != FileSystemKind::MftFile &&
        6 * volume.MftRecordSize + volume.MftRecordSize <= session.MftLoadedBytes)
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
