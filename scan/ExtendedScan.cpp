#include "scan/ExtendedScan.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <unordered_map>
#include <utility>

#include "base/PageBytes.h"
#include "ntfs/AttributeCursor.h"
#include "ntfs/BootSector.h"
#include "ntfs/DataRuns.h"
#include "ntfs/MftExtents.h"
#include "scan/GradeBasis.h"
#include "scan/PieceWalkers.h"
#include "scan/RecycleBin.h"
#include "scan/ScanCommon.h"
#include "scan/WildcardMask.h"
#include "volume/SectorIo.h"

namespace orv {

namespace {

constexpr std::int64_t kProbePoints = 2000;
constexpr std::int64_t kChunkClusters = 128;
constexpr std::int64_t kPieceBytes = 1024 * 1024; // of MftBuffer, examined by one walker at a time
constexpr std::int64_t kSweepBytes = std::int64_t{4} << 20; // read at once by the whole-volume sweep
constexpr unsigned kSweepThreads = 2; // each with a few pieces in hand: memory stays a few dozen MiB
constexpr std::int64_t kSweepRetryBytes = std::int64_t{64} << 10; // and again in parts when that fails
// What one listed file costs to keep: the memory budget limits how many are listed.
constexpr std::int64_t kBytesPerListedFile = 400;
constexpr std::int64_t kRootRecord = 5;
constexpr std::uint32_t kBitmapAttribute = 0xB0;
constexpr std::uint64_t kLargestMftBitmap = std::uint64_t{64} << 20; // 2^29 records
constexpr int kFolderLevels = 11;
constexpr std::size_t kLongestPath = 256;

// Every folder record of the regions, in buffer order. A record number is looked up through the
// regions' record index, which extension records use too: the regions may hold several file
// systems' records of one number, and the first folder among them wins.
class FolderList
{
public:
    struct Folder
    {
        std::int64_t offset; // in MftBuffer
        std::uint64_t parent;
        std::u16string name;
    };

    explicit FolderList(const VolumeContext& volume) : m_volume(volume) {}
    // Folders are added in increasing buffer order.
    void add(std::int64_t offset, std::uint64_t parent, std::u16string name)
    {
        m_folders.push_back({offset, parent, std::move(name)});
    }
    const Folder* find(std::uint64_t record) const
    {
        if (record > std::numeric_limits<std::uint32_t>::max())
            return nullptr;
        const auto number = static_cast<std::uint32_t>(record);
        const auto& index = m_volume.RecordIndex;
        auto at = std::lower_bound(index.begin(), index.end(), VolumeContext::IndexedRecord{number, 0});
        for (; at != index.end() && at->number == number; ++at) {
            const std::int64_t offset = std::int64_t{at->slot} * m_volume.MftRecordSize;
            const auto folder = std::lower_bound(m_folders.begin(), m_folders.end(), offset,
                                                 [](const Folder& f, std::int64_t o) { return f.offset < o; });
            if (folder != m_folders.end() && folder->offset == offset)
                return &*folder;
        }
        return nullptr;
    }

private:
    const VolumeContext& m_volume;
    std::vector<Folder> m_folders;
};

// A region read into MftBuffer: where its bytes start there, and on the volume.
struct Region
{
    std::int64_t bufferOffset;
    std::int64_t cluster;
    std::int64_t clusters;
    std::int64_t shift = 0; // bytes into its first cluster where its first record begins
    std::int64_t bytes = 0; // in MftBuffer
};

// Regions as the search finds them: clusters, and where in the first one the records begin. An
// earlier file system that began at another sector than this one (a disk partitioned anew) has
// its $MFT at a position that is no cluster boundary here, only a sector boundary.
struct FoundRegion
{
    DataRun run;
    std::int64_t shift = 0;
};

class ExtendedScan
{
public:
    ExtendedScan(ScanSession& session, Pump& pump, ScanProgress& progress, std::uint64_t availableMemory,
                 ExtendedReach reach)
        : m_session(session), m_volume(session.volume), m_pump(pump), m_progress(progress), m_shown(progress),
          m_availableMemory(availableMemory), m_reach(reach)
    {}

    ExtendedScanReport run();

private:
    // Pump, then tell whether the step may go on.
    bool stepGoesOn()
    {
        m_pump.step();
        return m_session.ScanRunning && !m_session.SkipRequested;
    }
    void startStep(ScanStep step)
    {
        m_session.SkipRequested = false;
        m_progress.stepStarted(step);
        m_shown.reset();
    }

    void loadBitmap();
    void loadMftBitmap();
    void findRegions();
    void probe(std::vector<FoundRegion>& found, std::vector<std::uint8_t>& cluster);
    void sweep(std::vector<FoundRegion>& found);
    class SweepExaminer;
    bool readPiece(std::int64_t position, std::span<std::uint8_t> into) const;
    bool readRegions();
    void indexRecords();
    void findEarlierClusterSizes();
    std::optional<std::int64_t> volumePosition(std::int64_t bufferOffset) const;
    bool insideCurrentMft(std::int64_t position) const;
    void findFolders();
    class FolderExaminer;
    void findFiles();
    struct FoundFile;
    class FileExaminer;
    // Lists a file the walkers found under each of its names; false when the scan ends there.
    bool listFile(FoundFile& file, const WildcardMask* mask);
    // How findFolders and findFiles cut the regions: bytes a piece, and pieces (records at least 1).
    std::pair<std::int64_t, std::int64_t> regionPieces() const;
    std::optional<std::int64_t> edge(std::int64_t from, bool upwards, std::vector<std::uint8_t>& cluster);
    std::optional<FoundRegion> regionAround(std::int64_t hit, std::vector<std::uint8_t>& cluster);
    bool holdsRecord(std::int64_t cluster, std::vector<std::uint8_t>& buffer);
    std::optional<std::int64_t> startsRecord(std::int64_t cluster, std::vector<std::uint8_t>& buffer);
    std::optional<std::pair<std::int64_t, std::int64_t>> recordStart(std::int64_t cluster,
                                                                     std::vector<std::uint8_t>& buffer);
    bool readCluster(std::int64_t cluster, std::span<std::uint8_t> into);
    // Inside the $MFT in use now: whether it gives the record out; nothing outside that $MFT.
    std::optional<bool> givenOutByCurrentMft(std::int64_t bufferOffset) const;
    bool insideLiveFile(std::int64_t bufferOffset) const;
    // The path a file is listed under; a file inside a folder put in the Recycle Bin whole is
    // listed under that folder's original path, and `recycled` then says where it came from.
    std::optional<std::u16string> folderPath(std::uint64_t parent, const std::u16string& name,
                                             RecycledFile* recycled = nullptr);
    // The folders above a parent, innermost first, as far as a path names them: up to the root, to a
    // folder put in the Recycle Bin whole (whose $I file says where it came from), to a record that
    // is no folder of the regions, or kFolderLevels of them.
    struct FolderStep
    {
        const FolderList::Folder* folder;
        const RecycleInfo* bin; // the $I file of a folder put in the Recycle Bin whole
    };
    const std::vector<FolderStep>& folderSteps(std::uint64_t parent);

    ScanSession& m_session;
    VolumeContext& m_volume;
    Pump& m_pump;
    ScanProgress& m_progress;
    PercentShown m_shown;
    std::uint64_t m_availableMemory;
    ExtendedReach m_reach;

    ExtendedScanReport m_report;
    std::vector<DataRun> m_currentMft; // the $MFT the boot sector names, before the scan
    std::vector<std::uint8_t> m_mftBitmap; // which of its records it gives out now; empty when unknown
    std::int64_t m_clustersPerRecord = 1;
    std::int64_t m_clusters = 0; // the clusters the device really holds, whatever the boot sector claims
    std::vector<Region> m_regions;
    FolderList m_folders{m_volume};
    RecycleBinIndex m_bin; // the Recycle Bin's $I files, in use or deleted
    std::uint64_t m_stepsParent = ~std::uint64_t{0};
    std::vector<FolderStep> m_steps; // of m_stepsParent
    bool m_ended = false; // a stop or skip in the last step
};

bool ExtendedScan::readCluster(std::int64_t cluster, std::span<std::uint8_t> into)
{
    const std::int64_t sector = ClusterToSector(m_volume, cluster);
    if (sector < 0) {
        std::fill(into.begin(), into.end(), std::uint8_t{0});
        return false;
    }
    return ReadSectors(m_volume, static_cast<std::uint64_t>(sector), into);
}

void ExtendedScan::loadBitmap()
{
    // $Bitmap is record 6: six records past the start of the $MFT, whatever the sector size.
    std::vector<std::uint8_t> record;
    const bool read = m_currentMft.empty() ? false : ReadMftRecordNTFS(m_volume, 6, record);
    if (!read) {
        record.assign(static_cast<std::size_t>(m_volume.MftRecordSize), 0);
        const std::int64_t sector = ClusterToSector(m_volume, m_volume.MftStartCluster);
        const std::int64_t offset = 6 * m_volume.MftRecordSize;
        if (sector >= 0 && m_volume.BytesPerSector > 0 && offset % m_volume.BytesPerSector == 0)
            ReadSectors(m_volume, static_cast<std::uint64_t>(sector + offset / m_volume.BytesPerSector), record);
    }
    decodeRecord(record, m_session.MFTFile);
    loadVolumeBitmap(m_session, m_pump);
}

void ExtendedScan::loadMftBitmap()
{
    // The $MFT's own $BITMAP tells which of its records are given out now. A quick format writes a
    // new $MFT over the start of the earlier one, and the records it has not given out yet keep
    // the earlier file system's in-use flag: the flag alone would hide those earlier files.
    std::vector<std::uint8_t> record;
    if (m_currentMft.empty() || !ReadMftRecordNTFS(m_volume, 0, record))
        return;
    ApplyRecordFixups(record);
    AttributeCursor cursor(record);
    while (const auto header = cursor.next()) {
        if (header->type != kBitmapAttribute)
            continue;
        const auto bytes = cursor.bytes(*header);
        if (!bytes)
            return;
        const LeReader a(*bytes);
        if (a.u8(attr::kNameLength).value_or(1) != 0)
            continue;
        if (a.u8(attr::kNonResident).value_or(0) == 0) {
            const auto offset = a.u16(attr::kContentOffset);
            const auto length = a.u32(attr::kContentLength);
            if (const auto content = offset && length ? a.slice(*offset, *length) : std::nullopt)
                m_mftBitmap.assign(content->begin(), content->end());
            return;
        }
        // A run list continued in another record is not followed: the flag alone decides then.
        const auto runsOffset = a.u16(attr::kRunListOffset);
        const auto dataSize = a.u64(attr::kDataSize);
        if (!runsOffset || !dataSize || a.u64(attr::kLowestVcn).value_or(1) != 0 || *dataSize == 0 ||
            *dataSize > kLargestMftBitmap)
            return;
        std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(*dataSize), 0);
        std::size_t filled = 0;
        bool complete = true;
        decodeDataRuns(a, *runsOffset, [&](const DataRun& run) {
            const auto bytesPerCluster = static_cast<std::size_t>(m_volume.BytesPerCluster);
            const std::size_t left = bitmap.size() - filled;
            // Compared in clusters: a run length from disk times the cluster size could wrap.
            const std::size_t take = static_cast<std::uint64_t>(run.length) >= left / bytesPerCluster + 1
                ? left
                : static_cast<std::size_t>(run.length) * bytesPerCluster;
            if (take == 0)
                return;
            if (!run.hole) {
                std::vector<std::uint8_t> clusters((take + bytesPerCluster - 1) / bytesPerCluster * bytesPerCluster);
                if (!readCluster(run.start, clusters))
                    complete = false;
                std::copy_n(clusters.begin(), take, bitmap.begin() + static_cast<std::ptrdiff_t>(filled));
            }
            filled += take;
        });
        if (complete && filled == bitmap.size())
            m_mftBitmap = std::move(bitmap);
        return;
    }
}

std::optional<std::int64_t> ExtendedScan::startsRecord(std::int64_t cluster, std::vector<std::uint8_t>& buffer)
{
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    readCluster(cluster, buffer); // a failed read counts as a cluster without a record
    // A record begins on a sector boundary: the cluster's start, or a later sector of it when the
    // records belong to a file system that began elsewhere.
    const std::span<const std::uint8_t> bytes(buffer);
    for (std::size_t at = 0; at + 512 <= bytes.size() || at == 0; at += 512)
        if (mft::startsLikeRecord(bytes.subspan(at)))
            return static_cast<std::int64_t>(at);
    return std::nullopt;
}

std::optional<std::pair<std::int64_t, std::int64_t>> ExtendedScan::recordStart(std::int64_t cluster,
                                                                               std::vector<std::uint8_t>& buffer)
{
    // With clusters smaller than records, a record's later clusters do not begin with "FI";
    // such a cluster belongs to the record that begins a few clusters before it.
    for (std::int64_t back = 0; back < m_clustersPerRecord && back <= cluster; ++back)
        if (const auto shift = startsRecord(cluster - back, buffer))
            return std::pair(cluster - back, *shift);
    return std::nullopt;
}

bool ExtendedScan::holdsRecord(std::int64_t cluster, std::vector<std::uint8_t>& buffer)
{
    if (cluster < 0 || cluster >= m_clusters)
        return false;
    return recordStart(cluster, buffer).has_value();
}

std::optional<std::int64_t> ExtendedScan::edge(std::int64_t from, bool upwards, std::vector<std::uint8_t>& cluster)
{
    // Gallop away from a cluster known to hold records until one does not, then close in between
    // the last that did and the first that did not: a region of any size costs a few dozen reads,
    // and the edge is the region's last cluster that holds a record.
    const std::int64_t direction = upwards ? 1 : -1;
    std::int64_t good = from;
    std::int64_t bad = from;
    for (std::int64_t distance = 1;; distance *= 2) { // ends at the device's edges at the latest
        if (!stepGoesOn())
            return std::nullopt;
        const std::int64_t at = from + direction * std::min(distance, m_clusters);
        if (!holdsRecord(at, cluster)) {
            bad = at;
            break;
        }
        good = at;
    }
    while (std::abs(bad - good) > 1) {
        if (!stepGoesOn())
            return std::nullopt;
        const std::int64_t middle = good + (bad - good) / 2;
        (holdsRecord(middle, cluster) ? good : bad) = middle;
    }
    return good;
}

std::optional<FoundRegion> ExtendedScan::regionAround(std::int64_t hit, std::vector<std::uint8_t>& cluster)
{
    const auto low = edge(hit, false, cluster);
    if (!low)
        return std::nullopt;
    const auto high = edge(hit, true, cluster);
    if (!high)
        return std::nullopt;
    // Regions lie back to back in MftBuffer, where records are looked for every record size from
    // its start: a region must begin where a record begins and hold whole records.
    const auto start = recordStart(*low, cluster);
    if (!start)
        return FoundRegion{DataRun{*low, *high - *low + 1}, 0};
    return FoundRegion{DataRun{start->first, *high - start->first + 1}, start->second};
}

void ExtendedScan::probe(std::vector<FoundRegion>& found, std::vector<std::uint8_t>& cluster)
{
    // Probes from cluster 0 on, never less than a cluster apart, over the whole volume: a small
    // stick is probed cluster by cluster, and the last probes reach the volume's end.
    const std::int64_t total = m_clusters;
    const std::int64_t probeStep = std::max<std::int64_t>(1, total / kProbePoints);
    const auto covered = [&](std::int64_t at) {
        return std::any_of(found.begin(), found.end(),
                           [&](const FoundRegion& r) { return at >= r.run.start && at - r.run.start < r.run.length; });
    };
    for (std::int64_t probe = 0; probe < total; probe += probeStep) {
        if (!stepGoesOn())
            break;
        m_shown.showShare(probe, total);
        if (covered(probe) || !holdsRecord(probe, cluster))
            continue;
        if (const auto region = regionAround(probe, cluster))
            found.push_back(*region);
    }
}

bool ExtendedScan::readPiece(std::int64_t position, std::span<std::uint8_t> into) const
{
    // Straight from the device: the buffer is read over whole, so it is not zeroed first, which
    // costs as much as the copy itself once the volume is in the page cache.
    if (m_volume.Device && m_volume.Device->read(static_cast<std::uint64_t>(position), into))
        return true;
    // A piece with a bad sector in it: what can be read of it still counts, in small parts.
    bool whole = true;
    const auto part = static_cast<std::size_t>(std::max<std::int64_t>(kSweepRetryBytes, m_volume.BytesPerSector));
    for (std::size_t at = 0; at < into.size(); at += part) {
        const auto piece = into.subspan(at, std::min(part, into.size() - at));
        const auto sector = (position + static_cast<std::int64_t>(at)) / m_volume.BytesPerSector;
        whole = ReadSectors(m_volume, static_cast<std::uint64_t>(sector), piece) && whole;
    }
    return whole;
}

// Reads pieces of the volume for the sweep and finds where sound records begin in them, on a
// walking thread. A plain image file or block device is looked at where the system's cache holds
// it: copying a volume out of the cache costs more than the sweep's own work. Other devices, and a
// piece with a page that could not be read, are read into a buffer of the examiner's own, the
// copying then on every core.
class ExtendedScan::SweepExaminer
{
public:
    struct Findings
    {
        std::unique_ptr<DeviceView> view; // the piece in place, or
        PageBytes bytes; // the piece as read; both with one record further
        std::span<const std::uint8_t> piece; // whichever holds it
        std::vector<std::int64_t> records; // where a sound record begins, from the piece's start
        ContentCarving::Glance glance; // what its free clusters show, for the search by content
    };

    SweepExaminer(ExtendedScan& scan, std::int64_t pieceClusters)
        : m_scan(scan), m_volume(scan.m_volume), m_pieceClusters(pieceClusters),
          m_record(static_cast<std::size_t>(std::max<std::int64_t>(scan.m_volume.MftRecordSize, 0)))
    {}

    void examine(std::int64_t index, Findings& out)
    {
        const std::int64_t bytesPerCluster = m_volume.BytesPerCluster;
        const std::int64_t recordSize = m_volume.MftRecordSize;
        const std::int64_t total = m_scan.m_clusters;
        const std::int64_t first = index * m_pieceClusters;
        const std::int64_t clusters = std::min(m_pieceClusters, total - first);
        const std::int64_t bytes = clusters * bytesPerCluster;
        // A record that begins near a piece's end is read whole: each piece reads one record further.
        const std::int64_t readBytes = std::min(bytes + recordSize, (total - first) * bytesPerCluster);
        const std::int64_t position = first * bytesPerCluster;
        out.view = m_volume.Device
            ? m_volume.Device->view(static_cast<std::uint64_t>(position), static_cast<std::size_t>(readBytes))
            : nullptr;
        if (out.view) {
            findRecords(out.view->bytes(), bytes, out.records);
            // Every page was touched by the search: one that failed read as zeros, so the piece is
            // read again the slow way, which keeps what can be read of it.
            if (out.view->sound()) {
                out.piece = out.view->bytes();
                glance(first, bytes, out);
                return;
            }
            out.view.reset();
        }
        out.bytes.resize(static_cast<std::size_t>(m_pieceClusters * bytesPerCluster + recordSize));
        const auto into = std::span(out.bytes).first(static_cast<std::size_t>(readBytes));
        m_scan.readPiece(position, into);
        out.piece = into;
        findRecords(into, bytes, out.records);
        glance(first, bytes, out);
    }

private:
    // Files found by their content ride on the same reads: free clusters that begin a format.
    void glance(std::int64_t first, std::int64_t bytes, Findings& out) const
    {
        out.glance.signs.clear();
        if (m_scan.m_session.carving)
            m_scan.m_session.carving->glance(static_cast<std::uint64_t>(first),
                                             out.piece.first(static_cast<std::size_t>(bytes)), out.glance);
    }

    // Where a sound record begins in the first `bytes` of `piece`. Each one is judged on a copy:
    // bytes seen in place may change while they are read, and a record's checks read some of them
    // more than once.
    void findRecords(std::span<const std::uint8_t> piece, std::int64_t bytes, std::vector<std::int64_t>& records)
    {
        constexpr std::int64_t kStride = 512;
        const auto recordSize = static_cast<std::int64_t>(m_record.size());
        const auto length = static_cast<std::int64_t>(piece.size());
        records.clear();
        for (std::int64_t at = 0; at < bytes && at + recordSize <= length; at += kStride) {
            if (piece[static_cast<std::size_t>(at)] != 'F')
                continue;
            const auto record = piece.subspan(static_cast<std::size_t>(at), m_record.size());
            std::copy(record.begin(), record.end(), m_record.begin());
            if (isSoundRecord(m_record, m_record.size()))
                records.push_back(at);
        }
    }

    const ExtendedScan& m_scan;
    VolumeContext& m_volume;
    const std::int64_t m_pieceClusters;
    std::vector<std::uint8_t> m_record;
};

void ExtendedScan::sweep(std::vector<FoundRegion>& regions)
{
    // Reads the volume in large pieces from its first cluster to its last and takes every sector
    // that begins a sound record: records lie every record size from a cluster's start, or from
    // another sector when they belong to a file system that began elsewhere. Records back to back
    // make one region. What is kept grows with the records found, never with the volume.
    const std::int64_t bytesPerCluster = m_volume.BytesPerCluster;
    const std::int64_t recordSize = m_volume.MftRecordSize;
    const std::int64_t total = m_clusters;
    if (total <= 0 || recordSize <= 0)
        return;
    const std::int64_t pieceClusters = std::max<std::int64_t>(1, kSweepBytes / bytesPerCluster);
    const std::int64_t pieces = (total + pieceClusters - 1) / pieceClusters;
    // Pieces are read on several threads where the device is a file or block device read by
    // position, and looked through here in volume order.
    const auto file = m_volume.Device ? m_volume.Device->mappable() : std::nullopt;
    PieceWalkers<SweepExaminer> walkers([&] { return std::make_unique<SweepExaminer>(*this, pieceClusters); }, pieces,
                                        file && file->fd >= 0, kSweepThreads);
    // Runs of records back to back, in bytes of the volume.
    struct Run
    {
        std::int64_t first, end;
    };
    std::vector<Run> runs;
    for (std::int64_t index = 0; index < pieces; ++index) {
        const std::int64_t first = index * pieceClusters;
        SweepExaminer::Findings* piece = nullptr;
        while (stepGoesOn() && !(piece = walkers.next(index))) {}
        if (!piece)
            break;
        m_shown.showShare(first, total);
        if (m_session.carving)
            m_session.carving->note(piece->glance);
        for (const std::int64_t at : piece->records) {
            const std::int64_t position = first * bytesPerCluster + at;
            // A record that follows the last one (or a few unused ones after it) in its stride
            // continues its run, as long as no cluster between them lies outside it.
            if (!runs.empty() && position >= runs.back().end && (position - runs.back().first) % recordSize == 0 &&
                position / bytesPerCluster <= (runs.back().end - 1) / bytesPerCluster + 1)
                runs.back().end = position + recordSize;
            else if (runs.empty() || position >= runs.back().end)
                runs.push_back({position, position + recordSize});
        }
        walkers.done(index);
    }
    for (const Run& run : runs) {
        const std::int64_t from = run.first / bytesPerCluster;
        const std::int64_t to = (run.end - 1) / bytesPerCluster + 1;
        regions.push_back({DataRun{from, to - from}, run.first % bytesPerCluster});
    }
}

void ExtendedScan::findRegions()
{
    startStep(ScanStep::FindMftRecords);
    m_volume.MftExtentList.clear();
    m_volume.MftExtentShifts.clear();
    std::vector<std::uint8_t> cluster(static_cast<std::size_t>(m_volume.BytesPerCluster));

    // The $MFT in use now is always read, so the Extended scan lists at least what the Normal scan
    // lists. Its neighbours are searched too: a quick format leaves the earlier, longer $MFT's
    // records right behind the new one.
    std::vector<FoundRegion> found;
    for (const DataRun& extent : m_currentMft) {
        if (extent.length <= 0)
            continue;
        found.push_back({extent, 0});
        if (m_reach == ExtendedReach::WholeVolume)
            continue; // the sweep reads the neighbours anyway
        for (const std::int64_t end : {extent.start, extent.start + extent.length - 1}) {
            if (!holdsRecord(end, cluster))
                continue;
            if (const auto region = regionAround(end, cluster))
                found.push_back(*region);
        }
    }

    if (m_reach == ExtendedReach::WholeVolume)
        sweep(found);
    else
        probe(found, cluster);
    m_shown.show(100);

    // Regions that overlap or touch become one, in volume order, so that every record is read once.
    // A region is whole records long; rounding it up may make it reach the next one, which then
    // joins it too. Records that begin at another sector of their clusters than a region's own
    // belong to another file system: those regions stay apart.
    std::sort(found.begin(), found.end(), [](const FoundRegion& a, const FoundRegion& b) {
        return a.shift != b.shift ? a.shift < b.shift : a.run.start < b.run.start;
    });
    std::vector<DataRun>& regions = m_volume.MftExtentList;
    std::vector<std::int64_t>& shifts = m_volume.MftExtentShifts;
    for (const FoundRegion& region : found) {
        if (!regions.empty() && shifts.back() == region.shift &&
            region.run.start <= regions.back().start + regions.back().length) {
            DataRun& last = regions.back();
            last.length = std::max(last.length, region.run.start + region.run.length - last.start);
        } else {
            regions.push_back(region.run);
            shifts.push_back(region.shift);
        }
        DataRun& last = regions.back();
        last.length = (last.length + m_clustersPerRecord - 1) / m_clustersPerRecord * m_clustersPerRecord;
    }
    // In volume order, as the buffer is read; regions of one start stay in the order found.
    std::vector<std::size_t> order(regions.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return regions[a].start < regions[b].start; });
    std::vector<DataRun> sortedRegions;
    std::vector<std::int64_t> sortedShifts;
    for (const std::size_t i : order) {
        sortedRegions.push_back(regions[i]);
        sortedShifts.push_back(shifts[i]);
    }
    regions = std::move(sortedRegions);
    // Where every region begins at its cluster's start, there is nothing to keep.
    if (std::all_of(sortedShifts.begin(), sortedShifts.end(), [](std::int64_t shift) { return shift == 0; }))
        sortedShifts.clear();
    shifts = std::move(sortedShifts);
}

bool ExtendedScan::readRegions()
{
    startStep(ScanStep::ReadMftRecords);
    const std::int64_t bytesPerCluster = m_volume.BytesPerCluster;
    // Regions are read where they lie when their records are examined, however large they are; a
    // part skipped here reads as zeros.
    std::vector<MftView::Piece> pieces;
    std::int64_t write = 0;
    const auto count = static_cast<std::int64_t>(m_volume.MftExtentList.size());
    // Once stopped or skipped, the regions after are not read and the step is not asked again: a
    // Stop ends the scan at once, however many regions are left.
    bool goesOn = true;
    for (std::int64_t i = 0; i < count; ++i) {
        const DataRun& extent = m_volume.MftExtentList[static_cast<std::size_t>(i)];
        const std::int64_t shift = mftExtentShift(m_volume, static_cast<std::size_t>(i));
        const std::int64_t total = mftExtentBytes(m_volume, static_cast<std::size_t>(i));
        m_regions.push_back({write, extent.start, extent.length, shift, total});
        bool skipped = !goesOn || !stepGoesOn();
        if (count > 1 && !skipped)
            m_shown.show(i * 100 / (count - 1));
        for (std::int64_t done = 0; done < total;) {
            // Once skipped or stopped, the rest of the region is one piece that reads as zeros.
            const bool read = !skipped && stepGoesOn();
            skipped = !read;
            const std::int64_t bytes = read ? std::min(kChunkClusters * bytesPerCluster, total - done) : total - done;
            const std::int64_t position = read ? extent.start * bytesPerCluster + shift + done : -1;
            done += bytes;
            if (!pieces.empty() &&
                (pieces.back().position < 0 ? position < 0 : pieces.back().position + pieces.back().length == position))
                pieces.back().length += bytes;
            else
                pieces.push_back({position, bytes});
            write += bytes;
        }
        goesOn = !skipped;
    }
    m_session.MftLoadedBytes = write;
    m_volume.MftBuffer.open(m_volume.Device, std::move(pieces));
    return write > 0;
}

std::optional<bool> ExtendedScan::givenOutByCurrentMft(std::int64_t bufferOffset) const
{
    const auto region = std::upper_bound(m_regions.begin(), m_regions.end(), bufferOffset,
                                         [](std::int64_t offset, const Region& r) { return offset < r.bufferOffset; });
    if (region == m_regions.begin())
        return std::nullopt;
    const Region& r = *std::prev(region);
    const std::int64_t bytesPerCluster = m_volume.BytesPerCluster;
    const std::int64_t cluster = r.cluster + (bufferOffset - r.bufferOffset + r.shift) / bytesPerCluster;
    std::int64_t mftOffset = 0; // of the extents before this one, in the $MFT's own order
    for (const DataRun& extent : m_currentMft) {
        if (cluster >= extent.start && cluster - extent.start < extent.length) {
            if (m_mftBitmap.empty())
                return true;
            const std::int64_t withinCluster = (bufferOffset - r.bufferOffset + r.shift) % bytesPerCluster;
            const std::int64_t number =
                (mftOffset + (cluster - extent.start) * bytesPerCluster + withinCluster) / m_volume.MftRecordSize;
            const auto byte = static_cast<std::size_t>(number / 8);
            // Past the bitmap's end nothing is known: the flag decides.
            return byte >= m_mftBitmap.size() || (m_mftBitmap[byte] >> (number % 8) & 1) != 0;
        }
        mftOffset += extent.length * bytesPerCluster;
    }
    return std::nullopt;
}

bool ExtendedScan::insideLiveFile(std::int64_t bufferOffset) const
{
    const auto region = std::upper_bound(m_regions.begin(), m_regions.end(), bufferOffset,
                                         [](std::int64_t offset, const Region& r) { return offset < r.bufferOffset; });
    if (region == m_regions.begin())
        return false;
    const Region& r = *std::prev(region);
    const std::int64_t cluster = r.cluster + (bufferOffset - r.bufferOffset + r.shift) / m_volume.BytesPerCluster;
    return clusterInUse(m_volume.VolumeBitmap, cluster);
}

std::optional<std::int64_t> ExtendedScan::volumePosition(std::int64_t bufferOffset) const
{
    const auto region = std::upper_bound(m_regions.begin(), m_regions.end(), bufferOffset,
                                         [](std::int64_t offset, const Region& r) { return offset < r.bufferOffset; });
    if (region == m_regions.begin())
        return std::nullopt;
    const Region& r = *std::prev(region);
    if (bufferOffset - r.bufferOffset >= r.bytes)
        return std::nullopt;
    return r.cluster * m_volume.BytesPerCluster + r.shift + (bufferOffset - r.bufferOffset);
}

bool ExtendedScan::insideCurrentMft(std::int64_t position) const
{
    const std::int64_t cluster = position / m_volume.BytesPerCluster;
    return std::any_of(m_currentMft.begin(), m_currentMft.end(), [&](const DataRun& extent) {
        return cluster >= extent.start && cluster - extent.start < extent.length;
    });
}

namespace {

// A cluster size a file system could have had here: a power of two from 512 bytes to the largest
// we read, and whole sectors of this device, so its clusters can be read.
bool usableClusterSize(std::int64_t size, std::int64_t bytesPerSector)
{
    return size >= 512 && size <= kMaxBytesPerCluster && (size & (size - 1)) == 0 && bytesPerSector > 0 &&
        size % bytesPerSector == 0;
}

// The first segment of a record's unnamed $DATA: its runs and the cluster size its allocated size
// gives (allocated bytes over the clusters the segment maps). Nothing when the record has none.
struct FirstDataSegment
{
    std::vector<DataRun> runs;
    std::optional<std::int64_t> bytesPerCluster;
};

std::optional<FirstDataSegment> firstDataSegment(std::span<const std::uint8_t> record)
{
    AttributeCursor cursor(record);
    while (const auto header = cursor.next()) {
        if (header->typeByte() != attr::kData)
            continue;
        const auto bytes = cursor.bytes(*header);
        if (!bytes)
            return std::nullopt;
        const LeReader a(*bytes);
        if (a.u8(attr::kNameLength).value_or(1) != 0 || a.u8(attr::kNonResident).value_or(0) == 0 ||
            a.u64(attr::kLowestVcn).value_or(1) != 0)
            continue;
        const auto highest = a.u64(attr::kHighestVcn);
        const auto allocated = a.u64(attr::kAllocatedSize);
        const auto runsOffset = a.u16(attr::kRunListOffset);
        if (!highest || !allocated || !runsOffset || *highest >= (std::uint64_t{1} << 40))
            return std::nullopt;
        FirstDataSegment segment;
        decodeDataRuns(a, *runsOffset, [&](const DataRun& run) { segment.runs.push_back(run); });
        const std::uint64_t clusters = *highest + 1;
        if (*allocated % clusters == 0 && *allocated / clusters <= static_cast<std::uint64_t>(kMaxBytesPerCluster))
            segment.bytesPerCluster = static_cast<std::int64_t>(*allocated / clusters);
        return segment;
    }
    return std::nullopt;
}

} // namespace

void ExtendedScan::findEarlierClusterSizes()
{
    // Records outside the $MFT in use now belong to an earlier file system, whose run lists count
    // clusters of its own size: a quick format with another cluster size would otherwise have
    // every earlier file read from the wrong bytes. That size is told by the earlier $MFT's own
    // record 0 (where it lies against its first run's cluster number, or its allocated size over
    // its clusters; a copy in the earlier $MFTMirr tells it too) and by record 7, $Boot, whose run
    // at cluster 0 covers the boot area. Record 0 also tells where the earlier $MFT lay, so every
    // stretch inside it takes its size; a stretch that holds record 0 or 7 itself takes theirs.
    // Where neither is left (a quick format with the same cluster size writes its own over them),
    // the allocated sizes of the stretch's files tell it. Witnesses that disagree, or none at all,
    // leave the size unknown (0) rather than guessed.
    m_volume.EarlierRegions.clear();
    const std::int64_t recordSize = m_volume.MftRecordSize;
    const std::int64_t total = m_session.MftLoadedBytes;
    const std::int64_t bytesPerSector = m_volume.BytesPerSector;

    struct Stretch
    {
        std::int64_t bufferOffset, bytes, position; // position: on the volume, of its first byte
        std::vector<std::int64_t> witnessed; // sizes told by records 0 and 7 inside it
        std::vector<std::int64_t> files; // sizes told by other files' allocated sizes
    };
    struct EarlierMft
    {
        std::vector<std::pair<std::int64_t, std::int64_t>> bytes; // (position, length) on the volume
        std::int64_t bytesPerCluster;
        std::int64_t origin; // where its file system's cluster 0 lies on the volume
    };
    std::vector<Stretch> stretches;
    std::vector<EarlierMft> earlierMfts;
    std::vector<std::uint8_t> scratch(static_cast<std::size_t>(recordSize));
    for (std::int64_t at = 0; at + recordSize <= total; at += recordSize) {
        const auto position = volumePosition(at);
        if (!position || insideCurrentMft(*position))
            continue;
        if (!stretches.empty() && stretches.back().bufferOffset + stretches.back().bytes == at &&
            stretches.back().position + stretches.back().bytes == *position)
            stretches.back().bytes += recordSize;
        else
            stretches.push_back({at, recordSize, *position, {}, {}});

        if (!m_volume.MftBuffer.read(at, scratch) || !isSoundRecord(scratch, static_cast<std::size_t>(recordSize)))
            continue;
        const std::uint32_t number = *LeReader(scratch).u32(mft::kRecordNumber);
        ApplyRecordFixups(scratch);
        const auto data = firstDataSegment(scratch);
        if (!data || data->runs.empty() || data->runs.front().hole)
            continue;
        if (number != 0 && number != 7) {
            if (data->bytesPerCluster && usableClusterSize(*data->bytesPerCluster, bytesPerSector))
                stretches.back().files.push_back(*data->bytesPerCluster);
            continue;
        }
        std::optional<std::int64_t> size;
        if (number == 7) {
            if (data->runs.front().start == 0)
                size = data->bytesPerCluster;
        } else {
            const std::int64_t first = data->runs.front().start;
            // Found where its first run begins: that is the earlier $MFT itself. Elsewhere (the
            // $MFTMirr's copy) its allocated size tells.
            if (first > 0 && *position % first == 0 && usableClusterSize(*position / first, bytesPerSector))
                size = *position / first;
            else
                size = data->bytesPerCluster;
            // A copy of the current $MFT's record 0 (its mirror) names the current $MFT; it lies
            // on one of this volume's cluster boundaries.
            if (size == m_volume.BytesPerCluster && first == m_volume.MftStartCluster &&
                *position % m_volume.BytesPerCluster == 0)
                continue;
        }
        if (!size || !usableClusterSize(*size, bytesPerSector))
            continue;
        stretches.back().witnessed.push_back(*size);
        if (number == 0) {
            // Record 0 lies where its own first run begins: a file system that began at another
            // sector than this volume (a disk partitioned anew) has its cluster 0 that far before
            // it. Only a sector boundary of this volume can be such a start.
            std::int64_t origin = 0;
            const std::int64_t first = data->runs.front().start;
            if (first >= 0 && first < std::numeric_limits<std::int64_t>::max() / *size &&
                *position % m_volume.BytesPerCluster != 0 && *position - first * *size >= 0 &&
                (*position - first * *size) % 512 == 0)
                origin = *position - first * *size;
            EarlierMft mft{{}, *size, origin};
            for (const DataRun& run : data->runs)
                if (!run.hole && run.start >= 0 && run.start < std::numeric_limits<std::int64_t>::max() / *size &&
                    run.length < std::numeric_limits<std::int64_t>::max() / *size &&
                    run.start * *size <= std::numeric_limits<std::int64_t>::max() - origin)
                    mft.bytes.emplace_back(origin + run.start * *size, run.length * *size);
            earlierMfts.push_back(std::move(mft));
        }
    }

    for (Stretch& stretch : stretches) {
        std::vector<std::int64_t> sizes = stretch.witnessed;
        std::int64_t origin = 0;
        for (const EarlierMft& mft : earlierMfts)
            for (const auto& [position, length] : mft.bytes)
                if (stretch.position >= position && stretch.position - position < length) {
                    sizes.push_back(mft.bytesPerCluster);
                    origin = mft.origin;
                }
        // Without the earlier system records, its files tell it: each one's allocated size is its
        // clusters times the cluster size. Only when every one of them says the same.
        if (sizes.empty())
            sizes = stretch.files;
        const bool agreed = !sizes.empty() &&
            std::all_of(sizes.begin(), sizes.end(), [&](std::int64_t s) { return s == sizes.front(); });
        m_volume.EarlierRegions.push_back({stretch.bufferOffset, stretch.bytes, agreed ? sizes.front() : 0, origin});
    }
}

// Examines pieces of MftBuffer for folders and the Recycle Bin's $I files, on a walking thread
// with buffers of its own; the folder list and the bin's index are filled from its findings in
// buffer order.
class ExtendedScan::FolderExaminer
{
public:
    struct Found
    {
        std::int64_t at = 0; // in MftBuffer
        std::int64_t parent = 0;
        std::u16string name;
        bool folder = false; // else an $I file, whose content is read when it is taken
    };
    struct Findings
    {
        std::vector<Found> found;
        std::int64_t damaged = 0;
    };

    FolderExaminer(ExtendedScan& scan, std::int64_t pieceBytes)
        : m_volume(scan.m_volume), m_loaded(scan.m_session.MftLoadedBytes), m_pieceBytes(pieceBytes)
    {}

    void examine(std::int64_t index, Findings& out)
    {
        out.found.clear();
        out.damaged = 0;
        ScanReport report;
        m_piece.walk(m_volume, m_loaded, m_pieceBytes, index, [&](std::int64_t at, std::span<std::uint8_t> record) {
            if (!mft::startsLikeRecord(record))
                return;
            const auto survey = fixUpAndSurvey(record, report);
            if (!survey)
                return;
            // Folders in use and deleted folders alike; a folder's name may live in an extension
            // record, and of its names the long one counts.
            const auto parts = readRecordParts(&m_volume, record, at);
            if (!parts)
                return;
            auto names = longNames(parts->names);
            if (names.empty())
                return;
            std::u16string& name = names.front().name;
            const std::int64_t parent = names.front().parent;
            if (!parts->directory) {
                // A Recycle Bin's $I file says where the $R file beside it came from.
                if (recycleId(name, u'I') && parts->hasData)
                    out.found.push_back({at, parent, std::move(name), false});
                return;
            }
            // Of the folders named with a "$", the Recycle Bin's own and the folders it holds.
            if (name.empty() || (name.front() == u'$' && !recycleId(name) && !isRecycleBinFolder(name)))
                return;
            out.found.push_back({at, parent, std::move(name), true});
        });
        out.damaged = report.damagedRecords;
    }

private:
    VolumeContext& m_volume;
    const std::int64_t m_loaded;
    const std::int64_t m_pieceBytes;
    RecordPiece m_piece;
};

std::pair<std::int64_t, std::int64_t> ExtendedScan::regionPieces() const
{
    // Whole records a piece, and as many pieces as the regions' whole records fill.
    const std::int64_t recordSize = m_volume.MftRecordSize;
    const std::int64_t pieceBytes = std::max(recordSize, kPieceBytes / recordSize * recordSize);
    return {pieceBytes, (m_session.MftLoadedBytes / recordSize * recordSize + pieceBytes - 1) / pieceBytes};
}

void ExtendedScan::findFolders()
{
    startStep(ScanStep::FindFolders);
    const std::int64_t recordSize = m_volume.MftRecordSize;
    const std::int64_t total = m_session.MftLoadedBytes;
    if (total < recordSize)
        return;
    // Plain names, not a structured binding: the walkers' lambdas capture them.
    const std::pair<std::int64_t, std::int64_t> layout = regionPieces();
    const std::int64_t pieceBytes = layout.first;
    const std::int64_t pieces = layout.second;
    PieceWalkers<FolderExaminer> walkers([&] { return std::make_unique<FolderExaminer>(*this, pieceBytes); }, pieces,
                                         m_volume.MftBuffer.concurrentReads());
    for (std::int64_t index = 0; index < pieces; ++index) {
        FolderExaminer::Findings* findings = nullptr;
        do {
            if (!stepGoesOn())
                return;
        } while (!(findings = walkers.next(index)));
        m_shown.showShare(index * pieceBytes, total);
        m_report.damagedRecords += findings->damaged;
        for (FolderExaminer::Found& found : findings->found) {
            if (!found.folder) {
                if (auto info = readRecycleInfo(m_volume, found.at))
                    m_bin.add(found.parent, *recycleId(found.name, u'I'), std::move(*info));
                continue;
            }
            m_folders.add(found.at, static_cast<std::uint64_t>(found.parent), std::move(found.name));
        }
        walkers.done(index);
    }
}

const std::vector<ExtendedScan::FolderStep>& ExtendedScan::folderSteps(std::uint64_t parent)
{
    // Files of one folder follow one another: the folders above it are looked up once for them.
    if (m_stepsParent == parent)
        return m_steps;
    m_stepsParent = parent;
    m_steps.clear();
    std::uint64_t current = parent;
    for (int pass = 0; pass < kFolderLevels; ++pass) {
        const FolderList::Folder* folder = m_folders.find(current);
        if (!folder)
            break;
        current = folder->parent;
        if (folder->name.empty())
            break;
        const RecycleInfo* info = nullptr;
        if (const auto id = recycleId(folder->name))
            info = m_bin.find(static_cast<std::int64_t>(folder->parent), *id);
        m_steps.push_back({folder, info});
        if (info || current == kRootRecord)
            break;
    }
    return m_steps;
}

std::optional<std::u16string> ExtendedScan::folderPath(std::uint64_t parent, const std::u16string& name,
                                                       RecycledFile* recycled)
{
    m_pump.step();
    if (!m_session.ScanRunning || m_session.SkipRequested)
        return std::nullopt;
    std::u16string path;
    if (parent == kRootRecord) {
        // Files of the root folder are filed under the drive itself, as the Normal scan does.
        path = name;
    } else if (!m_folders.find(parent)) {
        path = u"Folder " + fromAscii(std::to_string(parent)) + u"\\" + name;
    } else {
        // The path is the folders' names from the outermost down, each ending in "\", then the
        // name; it ends at a folder put in the Recycle Bin whole, or once it grows too long.
        const std::vector<FolderStep>& steps = folderSteps(parent);
        std::size_t levels = 0; // folders the path names
        std::size_t length = name.size();
        const RecycleInfo* bin = nullptr;
        for (const FolderStep& step : steps) {
            if (step.bin) {
                bin = step.bin;
                break;
            }
            ++levels;
            length += step.folder->name.size() + 1;
            if (length > kLongestPath)
                break;
        }
        path.reserve(length);
        for (std::size_t level = levels; level-- > 0;) {
            path += steps[level].folder->name;
            path += u'\\';
        }
        path += name;
        if (bin) {
            const ListedPlace place = originalPlace(m_volume.Drive, bin->originalPath);
            if (recycled)
                *recycled = {bin->deletedTime, bin->originalPath + u"\\" + path};
            return place.folder + place.name + u"\\" + path;
        }
    }
    return fromAscii(m_volume.Drive) + u"\\" + path;
}

// A record the walkers found to list, with what the listing shows of it.
struct ExtendedScan::FoundFile
{
    std::int64_t at = 0; // in MftBuffer
    FileFacts facts;
    std::u16string value; // as the store keeps it
    MftView::Digest digest{};
    ListedRecord listed; // when the session keeps them
    std::int64_t records = 0; // of its piece examined up to it, and damaged: counted as it is listed
    std::int64_t damaged = 0;
};

// Examines pieces of MftBuffer for the files to list, on a walking thread with buffers of its own.
// It reads the volume through the view's thread-safe reads and the scan's tables built before this
// step; the store, the session and the Recycle Bin's index are left to the listing.
class ExtendedScan::FileExaminer
{
public:
    struct Findings
    {
        std::vector<FoundFile> files;
        std::int64_t records = 0;
        std::int64_t damaged = 0;
        // Bytes of the volume the piece's records still name, in record order (see explainContent).
        std::vector<std::pair<std::uint64_t, std::uint64_t>> explained;
    };

    FileExaminer(ExtendedScan& scan, const WildcardMask* mask, std::int64_t pieceBytes)
        : m_scan(scan), m_volume(scan.m_volume), m_mask(mask), m_pieceBytes(pieceBytes),
          m_keepListed(scan.m_session.keepListedRecords), m_explain(scan.m_session.carving != nullptr)
    {}

    void examine(std::int64_t index, Findings& out)
    {
        out.files.clear();
        out.records = 0;
        out.damaged = 0;
        out.explained.clear();
        ScanReport report;
        const std::int64_t loaded = m_scan.m_session.MftLoadedBytes;
        m_piece.walk(m_volume, loaded, m_pieceBytes, index, [&](std::int64_t at, std::span<std::uint8_t> record) {
            if (!mft::startsLikeRecord(record, 3))
                return;
            ++out.records;
            // A record of an earlier file system still carries its in-use flag: only the records the
            // $MFT in use now gives out, and those inside a live file (a disk image kept on the
            // volume: clusters the $Bitmap marks in use), are told apart by it.
            if ((record[mft::kFlags] & mft::kFlagInUse) &&
                m_scan.givenOutByCurrentMft(at).value_or(m_scan.insideLiveFile(at)))
                return;
            const auto survey = fixUpAndSurvey(record, report);
            if (!survey)
                return;
            if (m_explain)
                explainContent(record, at, out.explained);
            const FileTest test = takeFileFacts(&m_volume, record, at, m_mask, m_dates, m_facts);
            if (test == FileTest::Damaged)
                ++report.damagedRecords;
            if (test != FileTest::Listed)
                return;
            found(at, record, out);
            out.files.back().records = out.records;
            out.files.back().damaged = report.damagedRecords;
        });
        out.damaged = report.damagedRecords;
    }

private:
    void explainContent(std::span<std::uint8_t> record, std::int64_t at,
                        std::vector<std::pair<std::uint64_t, std::uint64_t>>& explained)
    {
        // Whatever a record still names is the file it names, listed or not (a mask may leave it
        // out): the clusters of every stream it keeps outside itself (named streams and folder
        // indexes too) are never a file found by content. An earlier file system's record counts in
        // its own clusters, from where that file system began.
        if (decodeRecordOfView(m_volume, record, at, m_decoded) == RecordStatus::NotARecord)
            return;
        const std::int64_t clusterBytes =
            m_decoded.BytesPerCluster > 0 ? m_decoded.BytesPerCluster : m_volume.BytesPerCluster;
        constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
        const LeReader reader(record);
        AttributeCursor cursor(record);
        while (const auto header = cursor.next()) {
            if (header->type == attr::kEndMarker || reader.u8(header->position + attr::kNonResident).value_or(0) == 0)
                continue;
            const auto runs = reader.u16(header->position + attr::kRunListOffset);
            if (!runs || *runs >= header->length)
                continue;
            const auto attribute = cursor.bytes(*header);
            if (!attribute)
                continue;
            decodeDataRuns(LeReader(*attribute), *runs, [&](const DataRun& run) {
                if (!run.hole && run.start >= 0 && run.length > 0 && run.start < kLargest / clusterBytes &&
                    run.length < kLargest / clusterBytes && m_decoded.ClusterOrigin >= 0)
                    explained.emplace_back(
                        static_cast<std::uint64_t>(m_decoded.ClusterOrigin + run.start * clusterBytes),
                        static_cast<std::uint64_t>(run.length * clusterBytes));
            });
        }
    }

    void found(std::int64_t at, std::span<std::uint8_t> record, Findings& out)
    {
        FoundFile& file = out.files.emplace_back();
        file.at = at;
        file.facts = m_facts;
        file.value = formatStoredValue(at, m_facts.date, m_facts.time, m_facts.size);
        file.digest = m_volume.MftBuffer.digest(record);
        // A listing that shows more than the store (the JSON: creation time, residency, grade) takes
        // it from the record in hand here, as the Normal scan does, instead of reading every listed
        // record again afterwards.
        if (m_keepListed) {
            GradeBasis grade;
            if (decodeRecordOfView(m_volume, record, at, m_decoded) != RecordStatus::NotARecord)
                grade = gradeBasis(m_volume, m_decoded);
            file.listed = ListedRecord(at, {m_facts.creationTime, true, m_facts.resident, m_facts.size}, grade,
                                       mayHoldNamedStreams(record));
        }
    }

    const ExtendedScan& m_scan;
    VolumeContext& m_volume;
    const WildcardMask* m_mask;
    const std::int64_t m_pieceBytes;
    const bool m_keepListed;
    const bool m_explain; // a whole-disc scan that also finds files by their content
    RecordPiece m_piece;
    DateTexts m_dates;
    FileFacts m_facts;
    TMFTFile m_decoded;
};

bool ExtendedScan::listFile(FoundFile& file, const WildcardMask* mask)
{
    FileFacts& facts = file.facts;
    const std::int64_t at = file.at;
    bool kept = !m_session.keepListedRecords;
    const auto keep = [&] {
        if (kept)
            return;
        kept = true;
        m_session.listedRecords.add(file.listed);
    };

    // A file of the Recycle Bin with a readable $I is listed where that says it came from.
    std::optional<std::u16string> binPath;
    if (facts.recycled) {
        if (const RecycleInfo* info = m_bin.find(facts.parent, *recycleId(facts.name))) {
            const ListedPlace place = originalPlace(m_volume.Drive, info->originalPath);
            if (!place.name.empty()) {
                binPath = place.folder + place.name;
                facts.name = place.name;
                m_session.recycledFiles[at] = {info->deletedTime, info->originalPath};
            }
        }
        if (mask && !mask->matches(facts.name))
            return true;
    }

    // A file with several hard links is listed under each of its names.
    const auto list = [&](std::int64_t parent, const std::u16string& name) {
        RecycledFile recycled;
        const auto path = binPath ? binPath : folderPath(static_cast<std::uint64_t>(parent), name, &recycled);
        if (!path)
            return false;
        if (!recycled.originalPath.empty())
            m_session.recycledFiles[at] = recycled;
        const std::u16string section = path->substr(0, path->rfind(u'\\') + 1);
        if (++m_session.FilesFound % 10 == 0)
            m_progress.filesFound(m_session.FilesFound);
        if (static_cast<std::int64_t>(m_session.store.entryCount()) >=
            memoryBudget(m_availableMemory) / kBytesPerListedFile) {
            m_report.outOfMemory = true;
            return false;
        }
        m_session.store.write(section, name, file.value);
        m_volume.MftBuffer.rememberListed(at, file.digest);
        keep();
        return true;
    };
    if (!list(facts.parent, facts.name))
        return false;
    for (const FileLink& link : facts.moreLinks)
        if (!list(link.parent, link.name))
            return false;
    return true;
}

void ExtendedScan::findFiles()
{
    startStep(ScanStep::FindFiles);
    const std::int64_t recordSize = m_volume.MftRecordSize;
    const std::int64_t total = m_session.MftLoadedBytes;
    if (total < recordSize)
        return;
    const auto mask = m_session.FileMask == kMatchEverything ? std::nullopt : WildcardMask::compile(m_session.FileMask);
    const WildcardMask* const maskOrNone = mask ? &*mask : nullptr;
    // The regions are examined in pieces on every core the device can be read from at once; the
    // files are listed from the pieces in buffer order here, so the store is written in the same
    // order whatever the threads did.
    // Plain names, not a structured binding: the walkers' lambdas capture them.
    const std::pair<std::int64_t, std::int64_t> layout = regionPieces();
    const std::int64_t pieceBytes = layout.first;
    const std::int64_t pieces = layout.second;
    PieceWalkers<FileExaminer> walkers([&] { return std::make_unique<FileExaminer>(*this, maskOrNone, pieceBytes); },
                                       pieces, m_volume.MftBuffer.concurrentReads());
    const auto examined = [&](std::int64_t records) {
        const std::int64_t before = m_session.RecordsExamined;
        m_session.RecordsExamined = records;
        if (records / 10 != before / 10)
            m_progress.recordsExamined(records / 10 * 10);
    };
    for (std::int64_t index = 0; index < pieces; ++index) {
        FileExaminer::Findings* findings = nullptr;
        do {
            if (!stepGoesOn())
                return;
        } while (!(findings = walkers.next(index)));
        m_shown.showShare(index * pieceBytes, total);
        for (const auto& [position, length] : findings->explained)
            m_session.carving->explainBytes(position, length);
        const std::int64_t records = m_session.RecordsExamined;
        const std::int64_t damaged = m_report.damagedRecords;
        for (FoundFile& file : findings->files) {
            if (!stepGoesOn())
                return;
            // Counted up to the record listed, as though the records were examined here one by one.
            examined(records + file.records);
            m_report.damagedRecords = damaged + file.damaged;
            if (!listFile(file, maskOrNone))
                return;
        }
        examined(records + findings->records);
        m_report.damagedRecords = damaged + findings->damaged;
        walkers.done(index);
    }
}

void ExtendedScan::indexRecords()
{
    // Extension records are found by the number each record keeps in its header.
    m_volume.MftBufferByNumber = false;
    m_volume.RecordIndex.clear();
    const std::int64_t recordSize = m_volume.MftRecordSize;
    // Room for every record slot at once: growing by doubling would hold the old index and one twice
    // its size together, which on a $MFT of millions of records is most of a scan's memory peak.
    // A place is kept in 32 bits: records past four billion (a 4 TiB $MFT) are not indexed.
    const std::int64_t slots = recordSize > 0
        ? std::min<std::int64_t>(m_session.MftLoadedBytes / recordSize, std::numeric_limits<std::uint32_t>::max())
        : 0;
    m_volume.RecordIndex.shrink_to_fit();
    m_volume.RecordIndex.reserve(static_cast<std::size_t>(slots));
    std::vector<std::uint8_t> header(mft::kRecordNumber + 4);
    for (std::int64_t slot = 0; slot < slots; ++slot) {
        const auto record = m_volume.MftBuffer.read(slot * recordSize, header) ? std::span<const std::uint8_t>(header)
                                                                               : std::span<const std::uint8_t>{};
        if (mft::startsLikeRecord(record))
            m_volume.RecordIndex.push_back(
                {*LeReader(record).u32(mft::kRecordNumber), static_cast<std::uint32_t>(slot)});
    }
    // The records of one region come in number order, so the index is a few sorted runs (one per
    // extent of a fragmented $MFT, the regions lying in volume order): they are merged, pairwise.
    auto& index = m_volume.RecordIndex;
    std::vector<std::size_t> runs{0};
    for (std::size_t i = 1; i < index.size(); ++i)
        if (index[i] < index[i - 1])
            runs.push_back(i);
    if (runs.size() > index.size() / 64) {
        std::sort(index.begin(), index.end()); // records in no order: merging would cost more
        return;
    }
    runs.push_back(index.size());
    while (runs.size() > 2) {
        std::vector<std::size_t> merged{0};
        for (std::size_t r = 0; r + 1 < runs.size(); r += 2) {
            const auto end = r + 2 < runs.size() ? runs[r + 2] : runs[r + 1];
            if (r + 2 < runs.size())
                std::inplace_merge(index.begin() + static_cast<std::ptrdiff_t>(runs[r]),
                                   index.begin() + static_cast<std::ptrdiff_t>(runs[r + 1]),
                                   index.begin() + static_cast<std::ptrdiff_t>(end));
            merged.push_back(end);
        }
        runs = std::move(merged);
    }
}

ExtendedScanReport ExtendedScan::run()
{
    if (!ReadBootSectorNTFS(m_volume) || m_volume.BytesPerCluster <= 0) {
        m_report.bootSectorError = true;
        return m_report;
    }
    if (!ReadMftExtentsNTFS(m_volume))
        m_volume.MftRecordSize = 1024;
    // Every loop of the scan is bounded by what the device holds: a run list or a boot sector may
    // claim 2^62 clusters of a 16 MiB image.
    m_clusters = volumeClusterCount(m_volume);
    m_currentMft.clear();
    for (const DataRun& extent : m_volume.MftExtentList) {
        if (extent.start < 0 || extent.start >= m_clusters || extent.length <= 0)
            break; // the records after it cannot be placed
        m_currentMft.push_back({extent.start, std::min(extent.length, m_clusters - extent.start), false});
        if (m_currentMft.back().length != extent.length)
            break;
    }
    m_volume.MftExtentList = m_currentMft;
    m_volume.MftExtentShifts.clear();
    m_volume.CurrentMftExtents = m_currentMft;
    m_volume.EarlierRegions.clear();
    m_clustersPerRecord =
        std::max<std::int64_t>(1, (m_volume.MftRecordSize + m_volume.BytesPerCluster - 1) / m_volume.BytesPerCluster);
    m_session.store = m_session.findIniFile.empty() ? ResultsStore() : ResultsStore(m_session.findIniFile);
    m_session.ScanRunning = true;
    m_session.SkipRequested = false;

    loadBitmap();
    loadMftBitmap();
    // The whole-disc scan also finds files by their content, in the clusters $Bitmap gives as free;
    // without a readable $Bitmap every cluster could be a live file's, so none is looked at.
    if (m_session.carving && !m_volume.VolumeBitmap.empty() && m_clusters > 0)
        m_session.carving->setVolume(
            {static_cast<std::uint64_t>(m_volume.BytesPerCluster), 0, static_cast<std::uint64_t>(m_clusters - 1), 0},
            [&bitmap = m_volume.VolumeBitmap](std::uint64_t cluster) {
                return clusterInUse(bitmap, static_cast<std::int64_t>(cluster));
            });
    m_pump.step();
    if (m_session.ScanRunning) {
        findRegions();
        m_pump.step();
        m_session.SkipRequested = false;
        if (m_session.ScanRunning && !m_volume.MftExtentList.empty() && readRegions()) {
            indexRecords();
            findEarlierClusterSizes();
            findFolders();
            m_pump.step();
            if (m_session.ScanRunning)
                findFiles();
        }
    }

    m_report.end = m_session.ScanRunning ? ScanEnd::Finished : ScanEnd::Stopped;
    m_session.ScanRunning = false;
    m_progress.progressBar(200);
    return m_report;
}

} // namespace

ExtendedScanReport NTFSFind2(ScanSession& session, Pump& pump, ScanProgress& progress,
                             std::uint64_t availablePhysicalMemory, ExtendedReach reach)
{
    // When memory runs out the scan says so, never that it found less.
    try {
        return ExtendedScan(session, pump, progress, availablePhysicalMemory, reach).run();
    } catch (const std::bad_alloc&) {
        session.ScanRunning = false;
        ExtendedScanReport report;
        report.end = ScanEnd::Stopped;
        report.outOfMemory = true;
        return report;
    }
}

} // namespace orv
