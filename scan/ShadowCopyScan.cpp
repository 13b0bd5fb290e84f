#include "scan/ShadowCopyScan.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "ntfs/BootSector.h"
#include "ntfs/MftExtents.h"
#include "ntfs/RecordLayout.h"
#include "scan/ScanCommon.h"
#include "scan/WildcardMask.h"
#include "volume/FileTime.h"
#include "volume/LeReader.h"
#include "volume/ShadowStores.h"

namespace orv {

namespace {

constexpr std::int64_t kFirstCandidate = 16; // records 0 to 15 are the file system's own
constexpr std::int64_t kRootRecord = 5;
constexpr int kDeepestFolder = 256;
constexpr std::u16string_view kUnknownFolder = u"Unknown Deleted Folder\\";
// $STANDARD_INFORMATION: the last time the file's content was written, a FILETIME at 0x08 of its
// content.
constexpr std::size_t kSiModified = 0x08;

// A copy's scan runs under the session's own Stop: the pump of the front end clears the session's
// flag, and the copy's scan hears it through its own.
class CopyPump final : public Pump
{
public:
    CopyPump(ScanSession& session, ScanSession& copy, Pump& pump) : m_session(session), m_copy(copy), m_pump(pump) {}
    void step() override
    {
        m_pump.step();
        if (!m_session.ScanRunning || m_session.SkipRequested)
            m_copy.ScanRunning = false;
    }

private:
    ScanSession& m_session;
    ScanSession& m_copy;
    Pump& m_pump;
};

// The $MFT of a volume, readable by record offset, as the Normal scan opens it: extents cut to the
// $MFT's own size and to the device.
std::int64_t openMft(VolumeContext& volume)
{
    if (volume.BytesPerCluster <= 0 || volume.MftRecordSize <= 0 || !volume.Device)
        return 0;
    const auto deviceBytes = volume.Device->size();
    std::int64_t wanted = volume.MftDataSize > 0 ? volume.MftDataSize : std::numeric_limits<std::int64_t>::max();
    std::vector<MftView::Piece> pieces;
    std::int64_t loaded = 0;
    for (const DataRun& extent : volume.MftExtentList) {
        std::int64_t start = 0, bytes = 0;
        if (extent.start < 0 || extent.length <= 0 ||
            __builtin_mul_overflow(extent.start, volume.BytesPerCluster, &start) ||
            __builtin_mul_overflow(extent.length, volume.BytesPerCluster, &bytes))
            break;
        if (deviceBytes) {
            const auto size = static_cast<std::int64_t>(std::min<std::uint64_t>(*deviceBytes, INT64_MAX));
            if (start >= size)
                break;
            bytes = std::min(bytes, size - start);
        }
        bytes = std::min(bytes, wanted);
        if (bytes <= 0)
            break;
        pieces.push_back({start, bytes});
        loaded += bytes;
        wanted -= bytes;
    }
    volume.CurrentMftExtents = volume.MftExtentList;
    volume.MftBufferByNumber = true;
    volume.RecordIndex.clear();
    volume.EarlierRegions.clear();
    volume.MftBuffer.open(volume.Device, std::move(pieces));
    return loaded / volume.MftRecordSize * volume.MftRecordSize;
}

// The folder paths of a volume's records ("Docs\Old\", "" for the root), each record read once.
class FolderPaths
{
public:
    FolderPaths(VolumeContext& volume, std::int64_t loaded) : m_volume(volume), m_loaded(loaded) {}

    // Nothing when the folder record cannot be read at all.
    std::optional<std::u16string> of(std::int64_t folder, int depth = 0)
    {
        if (folder == kRootRecord)
            return std::u16string();
        if (const auto known = m_paths.find(folder); known != m_paths.end())
            return known->second;
        std::optional<std::u16string> path;
        if (depth < kDeepestFolder)
            path = climb(folder, depth);
        m_paths.emplace(folder, path);
        return path;
    }

private:
    std::optional<std::u16string> climb(std::int64_t folder, int depth)
    {
        const std::int64_t size = m_volume.MftRecordSize;
        if (folder < 0 || size <= 0 || folder > m_loaded / size - 1)
            return std::nullopt;
        m_record.assign(static_cast<std::size_t>(size), 0);
        if (!m_volume.MftBuffer.read(folder * size, m_record) || !mft::startsLikeRecord(m_record))
            return std::nullopt;
        ApplyRecordFixups(m_record);
        if (!SurveyAttributes(m_record))
            return std::nullopt;
        const auto parts = readRecordParts(&m_volume, m_record, folder * size);
        auto names = parts ? longNames(parts->names) : std::vector<FileNameEntry>{};
        if (names.empty())
            return std::nullopt;
        // The folder's record now holds something else: what it names above is not the folder.
        if (!parts->directory)
            return std::u16string(kUnknownFolder);
        const FileNameEntry entry = names.front();
        if (entry.parent == folder)
            return std::nullopt;
        auto above = of(entry.parent, depth + 1);
        if (!above)
            return std::nullopt;
        return *above + entry.name + u"\\";
    }

    VolumeContext& m_volume;
    const std::int64_t m_loaded;
    std::vector<std::uint8_t> m_record;
    std::unordered_map<std::int64_t, std::optional<std::u16string>> m_paths;
};

// The modification time of a fixed-up record's $STANDARD_INFORMATION.
std::optional<std::uint64_t> modifiedTime(std::span<const std::uint8_t> record, const AttributeSurvey& survey)
{
    if (survey.StandardInformation == 0)
        return std::nullopt;
    const LeReader r(record);
    const auto contentOffset = r.u16(survey.StandardInformation + attr::kContentOffset);
    const auto contentLength = r.u32(survey.StandardInformation + attr::kContentLength);
    if (!contentOffset || !contentLength || *contentLength < kSiModified + 8)
        return std::nullopt;
    return r.u64(survey.StandardInformation + *contentOffset + kSiModified);
}

// What the live volume holds: every file in use at its path, with its size and modification time,
// kept as a hash of the folded path (a collision would also need the same size and time to hide
// a file, and costs far less memory than the paths).
class LiveFiles
{
public:
    struct Held
    {
        std::int64_t size = 0;
        std::uint64_t modified = 0;
        bool operator==(const Held&) const = default;
    };

    static std::uint64_t key(std::u16string_view path) { return std::hash<std::u16string>{}(ResultsStore::fold(path)); }
    void add(std::u16string_view path, Held held) { m_files.emplace(key(path), held); }
    bool holds(std::u16string_view path, Held held) const
    {
        const auto [first, last] = m_files.equal_range(key(path));
        return std::any_of(first, last, [&](const auto& entry) { return entry.second == held; });
    }

private:
    std::unordered_multimap<std::uint64_t, Held> m_files;
};

// One file record of a volume, with the names it is listed under.
struct FoundRecord
{
    FileFacts facts;
    std::uint64_t modified = 0;
    bool inUse = false;
};

// Calls visit(offset, found) for every file record of the volume from record 16 on that is in use,
// and with `deleted` also for those that are not (from record 28 on, as the Normal scan takes
// them). `skipPiece(first, length)` may pass over a stretch of the $MFT before it is read, and
// `skip(offset, raw)` a record before it is decoded. False when stopped.
template <typename SkipPiece, typename Skip, typename Visit>
bool walkFiles(ScanSession& session, VolumeContext& volume, std::int64_t loaded, bool deleted, Pump& pump,
               SkipPiece&& skipPiece, Skip&& skip, Visit&& visit)
{
    constexpr std::int64_t kFirstDeleted = 28; // records 0 to 27 belong to the file system itself
    const std::int64_t size = volume.MftRecordSize;
    constexpr std::int64_t kPiece = 1024 * 1024;
    const std::int64_t pieceBytes = std::max(size, kPiece / size * size);
    std::vector<std::uint8_t> piece;
    std::vector<std::uint8_t> record(static_cast<std::size_t>(size));
    DateTexts dates;
    FoundRecord found;
    ScanReport ignored;
    for (std::int64_t first = kFirstCandidate * size; first < loaded; first += pieceBytes) {
        pump.step();
        if (!session.ScanRunning || session.SkipRequested)
            return false;
        const std::int64_t length = std::min(pieceBytes, loaded - first);
        if (skipPiece(first, length))
            continue;
        piece.assign(static_cast<std::size_t>(length), 0);
        volume.MftBuffer.read(first, piece);
        for (std::int64_t within = 0; within + size <= length; within += size) {
            const std::int64_t offset = first + within;
            const auto raw = std::span<const std::uint8_t>(piece).subspan(static_cast<std::size_t>(within),
                                                                          static_cast<std::size_t>(size));
            if (!mft::startsLikeRecord(raw))
                continue;
            found.inUse = raw[mft::kFlags] & mft::kFlagInUse;
            if ((!found.inUse && (!deleted || offset / size < kFirstDeleted)) || skip(offset, raw))
                continue;
            std::copy(raw.begin(), raw.end(), record.begin());
            const auto survey = fixUpAndSurvey(record, ignored);
            if (!survey)
                continue;
            if (takeFileFacts(&volume, record, offset, nullptr, dates, found.facts) != FileTest::Listed)
                continue;
            found.modified = modifiedTime(record, *survey).value_or(0);
            visit(offset, std::as_const(found));
        }
    }
    return true;
}

std::u16string numberText(std::int64_t n)
{
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string replaced(std::u16string text, std::u16string_view mark, std::u16string_view with)
{
    if (const auto at = text.find(mark); at != std::u16string::npos)
        text.replace(at, mark.size(), with);
    return text;
}

} // namespace

std::u16string shadowCopyFolderName(std::u16string_view words, int number, std::uint64_t creationTime)
{
    std::u16string when;
    if (const auto local = fileTimeToLocal(creationTime)) {
        std::array<char, 32> text{};
        std::snprintf(text.data(), text.size(), "%04d-%02d-%02d %02d:%02d", local->year, local->month, local->day,
                      local->hour, local->minute);
        when.assign(text.data(), text.data() + std::char_traits<char>::length(text.data()));
    }
    std::u16string name = replaced(replaced(std::u16string(words), u"%1", numberText(number)), u"%2", when);
    // A folder name: a catalogue's words must not make a deeper path of it.
    std::replace(name.begin(), name.end(), u'\\', u'-');
    return name;
}

ScanEnd listShadowCopies(ScanSession& session, Pump& pump, ScanProgress& progress,
                         std::uint64_t availablePhysicalMemory, ScanReport& report)
{
    // A Skip in an Extended scan leaves its current step, and the copies are its last: they end
    // there, with what they listed. A Stop stops the scan.
    session.SkipRequested = false;
    const auto ended = [&] {
        session.SkipRequested = false;
        return session.ScanRunning ? ScanEnd::Finished : ScanEnd::Stopped;
    };
    // What a listed file costs to keep, as the Normal scan counts it.
    constexpr std::int64_t kBytesPerListedFile = 400;
    const auto mostFiles = static_cast<std::size_t>(memoryBudget(availablePhysicalMemory) / kBytesPerListedFile);
    session.shadowCopies.clear();
    session.shadowCopiesElsewhere = 0;
    session.shadowCopiesDamaged = 0;
    session.openedShadowCopy = 0;
    VolumeContext& volume = session.volume;
    if (!session.ListShadowCopies || volume.FileSystemCode != FileSystemKind::Ntfs || !volume.Device ||
        volume.TotalSectors <= 0 || volume.BytesPerSector <= 0)
        return ScanEnd::Finished;
    const ShadowStores stores = openShadowStores(volume.Device,
                                                 static_cast<std::uint64_t>(volume.TotalSectors) *
                                                     static_cast<std::uint64_t>(volume.BytesPerSector));
    session.shadowCopiesElsewhere = stores.elsewhere;
    for (const ShadowStore& store : stores.stores) {
        ShadowCopy copy{store.number, store.creationTime, store.identifier, nullptr, store.changed};
        if (store.device) {
            auto copySession = std::make_shared<ScanSession>();
            VolumeContext& copyVolume = copySession->volume;
            copyVolume.Drive = volume.Drive;
            copyVolume.Device = store.device;
            copyVolume.FileSystemCode = FileSystemKind::Ntfs;
            if (readBootSector(copyVolume) == BootSectorStatus::Ok && ReadMftExtentsNTFS(copyVolume))
                copy.session = std::move(copySession);
            else
                ++session.shadowCopiesDamaged;
        }
        session.shadowCopies.push_back(std::move(copy));
    }
    const bool anyReadable = std::any_of(session.shadowCopies.begin(), session.shadowCopies.end(),
                                         [](const ShadowCopy& copy) { return copy.session != nullptr; });
    if (!anyReadable)
        return ScanEnd::Finished;
    pump.step();
    if (!session.ScanRunning || session.SkipRequested)
        return ended();

    // The live volume as the copies are compared with it: its own $MFT, whatever the scan before
    // read (the Extended scan's regions hold more than the files in use now).
    VolumeContext live;
    static_cast<VolumeDevice&>(live) = static_cast<const VolumeDevice&>(volume);
    live.MftStartCluster = volume.MftStartCluster;
    live.MftRecordSize = volume.MftRecordSize;
    if (!ReadMftExtentsNTFS(live))
        return ScanEnd::Finished;
    const std::int64_t liveLoaded = openMft(live);
    const std::int64_t recordSize = live.MftRecordSize;
    LiveFiles liveFiles;
    {
        FolderPaths paths(live, liveLoaded);
        const bool walked = walkFiles(
            session, live, liveLoaded, false, pump, [](std::int64_t, std::int64_t) { return false; },
            [](std::int64_t, std::span<const std::uint8_t>) { return false; },
            [&](std::int64_t, const FoundRecord& found) {
                const auto add = [&](std::int64_t parent, const std::u16string& name) {
                    if (const auto folder = paths.of(parent))
                        liveFiles.add(*folder + name, {found.facts.size, found.modified});
                };
                add(found.facts.parent, found.facts.name);
                for (const FileLink& link : found.facts.moreLinks)
                    add(link.parent, link.name);
            });
        if (!walked)
            return ended();
    }

    const auto mask = session.FileMask == kMatchEverything ? std::nullopt : WildcardMask::compile(session.FileMask);
    const std::u16string drive = fromAscii(volume.Drive) + u"\\";
    std::vector<std::uint8_t> liveRecord(static_cast<std::size_t>(std::max<std::int64_t>(recordSize, 0)));
    for (ShadowCopy& copy : session.shadowCopies) {
        if (!copy.session)
            continue;
        ScanSession& copySession = *copy.session;
        copySession.FileMask = session.FileMask;
        const std::u16string folder =
            drive + shadowCopyFolderName(session.ShadowCopyFolder, copy.number, copy.creationTime) + u"\\";
        const auto listFile = [&](std::u16string_view section, std::u16string key, std::int64_t recordOffset,
                                  std::u16string_view date, std::u16string_view time, std::int64_t size) {
            const auto locator = shadowCopyLocator(copy.number, recordOffset);
            if (!locator)
                return;
            if (session.store.entryCount() >= mostFiles) {
                // Said, never passed off as copies that hold less.
                report.outOfMemory = true;
                session.ScanRunning = false;
                return;
            }
            // As the Normal scan keys a name: its first "=" would end the key.
            if (const auto equals = key.find(u'='); equals != std::u16string::npos)
                key.erase(equals, 1);
            session.store.write(section, key, formatStoredValue(*locator, date, time, size));
            progress.filesFound(++session.FilesFound);
        };

        // The copy read like a volume: its $MFT, and its $Bitmap for the grades of its deleted files.
        CopyPump copyPump(session, copySession, pump);
        VolumeContext& copyVolume = copySession.volume;
        copySession.ScanRunning = true;
        copySession.MftLoadedBytes = openMft(copyVolume);
        const std::int64_t copyLoaded = copySession.MftLoadedBytes;
        copySession.MFTFile.ClusterList.clear();
        if (7 * copyVolume.MftRecordSize <= copyLoaded)
            DecodeRecordNTFS(copyVolume, static_cast<std::size_t>(6 * copyVolume.MftRecordSize), copySession.MFTFile);
        try {
            if (!loadVolumeBitmap(copySession, copyPump))
                return ended();
        } catch (const std::bad_alloc&) {
            copyVolume.VolumeBitmap.clear(); // its deleted files are graded as if nothing took their clusters
        }

        // The files in use in the copy that the live volume does not hold as they were, and the
        // copy's own deleted records. A record the copy holds byte for byte as the live volume does
        // is the same file in the same state (deleted ones the live scan lists itself); only the
        // others are decoded, so the work follows what changed since the copy was made.
        FolderPaths copyPaths(copyVolume, copyLoaded);
        const auto unchanged = [&](std::int64_t offset, std::span<const std::uint8_t> raw) {
            if (copyVolume.MftRecordSize != recordSize || offset + recordSize > liveLoaded)
                return false;
            return live.MftBuffer.read(offset, liveRecord) && std::equal(raw.begin(), raw.end(), liveRecord.begin());
        };
        // Where the copy kept no block, its $MFT reads as the live one does: not read at all.
        const auto keptNothing = [&](std::int64_t first, std::int64_t length) {
            if (!copy.changed || copyVolume.MftRecordSize != recordSize || first + length > liveLoaded)
                return false;
            for (std::int64_t at = first; at < first + length; at += recordSize) {
                const std::int64_t position = copyVolume.MftBuffer.devicePosition(at);
                if (position < 0 || position != live.MftBuffer.devicePosition(at) ||
                    meetsRanges(*copy.changed, static_cast<std::uint64_t>(position),
                                static_cast<std::uint64_t>(recordSize)))
                    return false;
            }
            return true;
        };
        DateTexts dates;
        const bool walked = walkFiles(
            session, copyVolume, copyLoaded, true, copyPump, keptNothing, unchanged,
            [&](std::int64_t offset, const FoundRecord& found) {
                std::u16string date, time;
                if (found.facts.creationTime)
                    dates.format(*found.facts.creationTime, date, time);
                const auto list = [&](std::int64_t parent, const std::u16string& name) {
                    if (mask && !mask->matches(name))
                        return;
                    const auto path = copyPaths.of(parent);
                    if (!path || (found.inUse && liveFiles.holds(*path + name, {found.facts.size, found.modified})))
                        return;
                    listFile(folder + *path, name, offset, date, time, found.facts.size);
                };
                list(found.facts.parent, found.facts.name);
                for (const FileLink& link : found.facts.moreLinks)
                    list(link.parent, link.name);
            });
        // Its $MFT is read again on demand (grades, restore): the blocks the walk cached go.
        openMft(copyVolume);
        session.RecordsExamined += copyLoaded / std::max<std::int64_t>(recordSize, 1);
        progress.recordsExamined(session.RecordsExamined / 100 * 100);
        if (!walked)
            return ended();
    }
    return ScanEnd::Finished;
}

} // namespace orv
