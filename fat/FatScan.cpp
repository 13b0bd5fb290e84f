#include <algorithm>
#include <limits>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "fat/Fat.h"
#include "fat/FatDirectory.h"
#include "volume/ClusterSearch.h"

namespace orv::fat {

namespace {

// Deeper than any path FAT can name (260 characters); a deeper chain of folders is a loop or a
// crafted volume.
constexpr int kMaxDepth = 128;
// How many clusters held by others a content guess may step over before it gives up: past that
// the rest of the file is reported missing rather than searched for across the whole volume.
constexpr std::uint64_t kMaxSkippedClusters = 65536;
// The Extended scan reads the data area in pieces of this size.
constexpr std::uint64_t kReadPiece = 4 * 1024 * 1024;
// How far the search for a deleted folder's later cluster reads (free clusters only), for one
// folder and for the whole walk: enough for thousands of small files written before the folder
// grew, bounded so that a card of deleted photos stays a quick scan.
constexpr std::uint64_t kFolderSearchBytes = 256ull * 1024 * 1024;
constexpr std::uint64_t kWalkSearchBytes = 1024ull * 1024 * 1024;
// How many clusters the search may pass over (in use, or another file's content) without reading.
constexpr std::uint64_t kFolderSearchSpan = std::uint64_t{1} << 22;

// A folder's bytes as read, and where each cluster of them lies on the device.
struct FolderBytes
{
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint64_t> clusters; // empty for the fixed root folder of FAT12/16
    std::uint64_t fixedPosition = 0;
};

// A listed entry before its content map is made.
struct Listed
{
    FoundEntry found;
    std::uint64_t firstCluster = 0;
};

class Walker
{
public:
    Walker(SectorDevice& device, const Volume& volume, const std::function<bool()>& keepGoing)
        : m_device(device), m_volume(volume), m_g(volume.geometry()), m_fat32(m_g.fatBits() == 32),
          m_keepGoing(keepGoing)
    {}

    bool stopped() const { return m_stopped; }
    std::vector<Listed>& listed() { return m_listed; }
    bool folderRead(std::uint64_t cluster) const { return m_folderClusters.count(cluster) != 0; }

    bool keepGoing()
    {
        if (!m_stopped && m_keepGoing && !m_keepGoing())
            m_stopped = true;
        return !m_stopped;
    }

    void walkRoot()
    {
        FolderBytes root;
        if (m_fat32) {
            auto read = readChain(m_g.rootCluster);
            if (!read)
                return;
            root = std::move(*read);
        } else {
            root.fixedPosition = m_g.rootDirPosition;
            root.bytes.resize(m_g.rootDirBytes);
            if (!m_device.read(m_g.rootDirPosition, root.bytes))
                return;
        }
        m_folderPaths[m_fat32 ? m_g.rootCluster : 0] = u"";
        walk(root, u"", false, 0);
    }

    // A folder found by its shape; `requireFree` as for deleted folders in the walk.
    std::optional<FolderBytes> readFound(std::uint64_t first, bool requireFree)
    {
        return readGuessed(first, requireFree);
    }

    void walk(const FolderBytes& folder, const std::u16string& path, bool deletedFolder, int depth)
    {
        if (!keepGoing())
            return;
        walkDirectory(folder.bytes, m_fat32, [&](const DirectoryRecord& r) {
            if (r.dotEntry)
                return true;
            const bool deleted = deletedFolder || r.deleted;
            if (deleted)
                list(folder, path, r);
            if (r.directory() && depth < kMaxDepth && m_g.validCluster(r.firstCluster) &&
                !m_folderClusters.count(r.firstCluster)) {
                // A live folder is read by its chain; a deleted one (its chain is cleared) as a
                // guess from its first cluster, and only while that cluster is free: once another
                // file or folder holds it, its entries are not this folder's any more.
                std::optional<FolderBytes> sub;
                if (!deleted && m_volume.clusterInUse(r.firstCluster))
                    sub = readChain(r.firstCluster);
                else
                    sub = readGuessed(r.firstCluster, m_requireFree);
                if (sub) {
                    const std::u16string subPath = path + r.name + u'\\';
                    m_folderPaths[r.firstCluster] = subPath;
                    walk(*sub, subPath, deleted, depth + 1);
                }
            }
            return !m_stopped;
        });
    }

    void setRequireFree(bool requireFree) { m_requireFree = requireFree; }
    const std::u16string* folderPath(std::uint64_t cluster) const
    {
        const auto it = m_folderPaths.find(cluster);
        return it == m_folderPaths.end() ? nullptr : &it->second;
    }
    void nameFolder(std::uint64_t cluster, const std::u16string& path) { m_folderPaths[cluster] = path; }

    // Clusters the listed deleted folders were read from: claimed by those folders.
    const std::unordered_set<std::uint64_t>& deletedFolderClusters() const { return m_deletedFolderClusters; }

private:
    std::optional<FolderBytes> readChain(std::uint64_t first)
    {
        FolderBytes f;
        std::uint64_t cluster = first;
        std::unordered_set<std::uint64_t> seen;
        while (m_g.validCluster(cluster) && f.bytes.size() < kMaxFolderBytes && seen.insert(cluster).second) {
            if (m_folderClusters.count(cluster))
                break; // cross-linked into a folder already read
            if (!appendCluster(f, cluster))
                break;
            const auto next = m_volume.nextInChain(cluster);
            if (!next)
                break;
            cluster = *next;
        }
        if (f.clusters.empty())
            return std::nullopt;
        for (const std::uint64_t c : f.clusters)
            m_folderClusters.insert(c);
        return f;
    }

    bool blocked(std::uint64_t cluster) const
    {
        return m_volume.clusterInUse(cluster) || m_folderClusters.count(cluster) != 0;
    }

    std::optional<FolderBytes> readGuessed(std::uint64_t first, bool requireFree)
    {
        if (m_folderClusters.count(first) || (requireFree && m_volume.clusterInUse(first)))
            return std::nullopt;
        FolderBytes f;
        if (!appendCluster(f, first) || !looksLikeFolderStart(f.bytes, m_fat32, first, m_g.lastCluster()))
            return std::nullopt;
        std::uint64_t cluster = first;
        while (!hasEndMark(f.bytes) && f.bytes.size() < kMaxFolderBytes) {
            auto next = nextContiguous(cluster);
            if (!next)
                next = searchContinuation(f, cluster + 1);
            if (!next)
                break;
            cluster = *next;
            appendCluster(f, cluster);
        }
        for (const std::uint64_t c : f.clusters) {
            m_folderClusters.insert(c);
            m_deletedFolderClusters.insert(c);
        }
        return f;
    }

    bool continuationAt(std::uint64_t cluster)
    {
        FolderBytes probe;
        return appendCluster(probe, cluster) && looksLikeFolderContinuation(probe.bytes, m_fat32, m_g.lastCluster());
    }

    // The next cluster of a deleted folder when it lies right after the last one, stepping over
    // clusters others hold (they were taken before the folder grew).
    std::optional<std::uint64_t> nextContiguous(std::uint64_t last)
    {
        std::uint64_t cluster = last + 1, skipped = 0;
        while (m_g.validCluster(cluster) && blocked(cluster) && skipped < kMaxSkippedClusters) {
            ++cluster;
            ++skipped;
        }
        if (!m_g.validCluster(cluster) || blocked(cluster) || !continuationAt(cluster))
            return std::nullopt;
        return cluster;
    }

    // A folder that grew after files were written into it has its later clusters past those
    // files' content (mtools writes a whole folder's files first; Windows takes the next free
    // cluster when the folder fills): the nearest free cluster from `from` shaped like a folder's
    // continuation, without reading the clusters others hold or the content of the files this
    // folder already names.
    std::optional<std::uint64_t> searchContinuation(const FolderBytes& f, std::uint64_t from)
    {
        ClusterSearch search;
        search.from = from;
        search.last = m_g.lastCluster();
        search.bytesPerCluster = m_g.bytesPerCluster;
        search.position = [&](std::uint64_t c) { return m_g.clusterPosition(c); };
        search.skip = [&](std::uint64_t c) { return blocked(c); };
        walkDirectory(f.bytes, m_fat32, [&](const DirectoryRecord& r) {
            if (!r.dotEntry && !r.directory() && r.size > 0 && m_g.validCluster(r.firstCluster))
                search.passOver.emplace_back(r.firstCluster,
                                             r.firstCluster + (r.size + m_g.bytesPerCluster - 1) / m_g.bytesPerCluster);
            return true;
        });
        search.matches = [&](std::span<const std::uint8_t> bytes) {
            return looksLikeFolderContinuation(bytes, m_fat32, m_g.lastCluster());
        };
        search.keepGoing = [&] { return keepGoing(); };
        return searchForward(m_device, search, {kFolderSearchBytes, kFolderSearchSpan}, m_searchBudget);
    }

    static bool hasEndMark(std::span<const std::uint8_t> bytes)
    {
        for (std::size_t at = 0; at + kEntrySize <= bytes.size(); at += kEntrySize)
            if (bytes[at] == entry::kEnd)
                return true;
        return false;
    }

    bool appendCluster(FolderBytes& f, std::uint64_t cluster)
    {
        const std::size_t at = f.bytes.size();
        f.bytes.resize(at + m_g.bytesPerCluster);
        if (!m_device.read(m_g.clusterPosition(cluster), std::span(f.bytes).subspan(at))) {
            f.bytes.resize(at);
            return false;
        }
        f.clusters.push_back(cluster);
        return true;
    }

    std::uint64_t positionOf(const FolderBytes& f, std::size_t offset) const
    {
        if (f.clusters.empty())
            return f.fixedPosition + offset;
        return m_g.clusterPosition(f.clusters[offset / m_g.bytesPerCluster]) + offset % m_g.bytesPerCluster;
    }

    void list(const FolderBytes& f, const std::u16string& path, const DirectoryRecord& r)
    {
        Listed l;
        FoundEntry& e = l.found;
        e.folder = path;
        e.name = r.name;
        e.directory = r.directory();
        e.deleted = true;
        e.size = e.directory ? 0 : r.size;
        e.modified = r.modified;
        e.attributes = r.attributes;
        for (std::size_t slot = r.firstSlot; slot <= r.shortSlot; ++slot) {
            const std::uint64_t position = positionOf(f, slot * kEntrySize);
            if (!e.pieces.empty() && e.pieces.back().position + e.pieces.back().length == position)
                e.pieces.back().length += kEntrySize;
            else
                e.pieces.push_back({position, static_cast<std::uint32_t>(kEntrySize)});
        }
        const auto from = f.bytes.begin() + static_cast<std::ptrdiff_t>(r.firstSlot * kEntrySize);
        e.entryBytes.assign(from, from + static_cast<std::ptrdiff_t>((r.shortSlot - r.firstSlot + 1) * kEntrySize));
        l.firstCluster = r.firstCluster;
        m_listed.push_back(std::move(l));
    }

    SectorDevice& m_device;
    const Volume& m_volume;
    const Geometry& m_g;
    const bool m_fat32;
    const std::function<bool()>& m_keepGoing;
    bool m_stopped = false;
    bool m_requireFree = true;
    std::uint64_t m_searchBudget = kWalkSearchBytes;
    std::vector<Listed> m_listed;
    std::unordered_set<std::uint64_t> m_folderClusters;
    std::unordered_set<std::uint64_t> m_deletedFolderClusters;
    std::unordered_map<std::uint64_t, std::u16string> m_folderPaths;
};

void appendRun(std::vector<ClusterRun>& runs, std::uint64_t cluster)
{
    if (!runs.empty() && runs.back().first + runs.back().count == cluster)
        ++runs.back().count;
    else
        runs.push_back({cluster, 1});
}

// Content maps once the whole walk is known: which clusters other listed entries start (or their
// folders were read from) decides where a guess must step aside and where a run's end is confirmed.
void mapContent(std::vector<Listed>& listed, const Volume& volume,
                const std::unordered_set<std::uint64_t>& deletedFolderClusters)
{
    const Geometry& g = volume.geometry();
    std::unordered_map<std::uint64_t, int> starts;
    for (const Listed& l : listed)
        if (g.validCluster(l.firstCluster) && (l.found.directory || l.found.size > 0))
            ++starts[l.firstCluster];
    auto claimed = [&](std::uint64_t c) { return starts.count(c) != 0 || deletedFolderClusters.count(c) != 0; };
    auto blocked = [&](std::uint64_t c) { return volume.clusterInUse(c) || claimed(c); };

    for (Listed& l : listed) {
        FoundEntry& e = l.found;
        const std::uint64_t first = l.firstCluster;
        if (e.directory) {
            e.certainty = g.validCluster(first) && volume.clusterInUse(first) ? ContentCertainty::FirstClusterInUse
                                                                              : ContentCertainty::Exact;
            continue;
        }
        if (e.size == 0) {
            e.certainty = ContentCertainty::Exact;
            continue;
        }
        if (!g.validCluster(first)) {
            e.certainty = ContentCertainty::Guessed; // a size without a cluster: nothing to read
            continue;
        }
        const std::uint64_t needed = (e.size + g.bytesPerCluster - 1) / g.bytesPerCluster;
        const bool sharedStart = starts[first] > 1 || deletedFolderClusters.count(first) != 0;
        if (volume.clusterInUse(first) || sharedStart) {
            // Someone else's now; the run from it is still offered, so a user may try.
            const std::uint64_t count = std::min(needed, g.lastCluster() - first + 1);
            e.content.push_back({first, count});
            e.certainty = ContentCertainty::FirstClusterInUse;
            continue;
        }
        std::uint64_t taken = 0, skipped = 0, cluster = first, last = first;
        bool complete = true;
        while (taken < needed) {
            if (cluster > g.lastCluster() || skipped > kMaxSkippedClusters) {
                complete = false; // cut at the volume's end: the rest is missing
                break;
            }
            if (cluster != first && blocked(cluster)) {
                ++skipped;
                ++cluster;
                continue;
            }
            appendRun(e.content, cluster);
            last = cluster;
            ++taken;
            ++cluster;
        }
        const bool confirmedEnd = needed == 1 || last == g.lastCluster() || blocked(last + 1);
        e.certainty = complete && skipped == 0 && confirmedEnd ? ContentCertainty::Exact : ContentCertainty::Guessed;
    }
}

bool visitAll(std::vector<Listed>& listed, const FoundEntryVisit& visit)
{
    for (const Listed& l : listed)
        if (!visit(l.found))
            return false;
    return true;
}

} // namespace

bool normalScan(SectorDevice& device, const Volume& volume, const FoundEntryVisit& visit,
                const std::function<bool()>& keepGoing)
{
    Walker walker(device, volume, keepGoing);
    walker.walkRoot();
    mapContent(walker.listed(), volume, walker.deletedFolderClusters());
    if (!visitAll(walker.listed(), visit))
        return false;
    return !walker.stopped();
}

bool extendedScan(SectorDevice& device, const Volume& volume, bool wholeVolume, const FoundEntryVisit& visit,
                  const std::function<bool()>& keepGoing,
                  const std::function<void(std::uint64_t, std::uint64_t)>& progress, const ClusterLook& look)
{
    const Geometry& g = volume.geometry();
    const bool fat32 = g.fatBits() == 32;
    Walker walker(device, volume, keepGoing);
    walker.walkRoot();

    // Every cluster the walk did not read as a folder (free ones only, unless the whole volume
    // is asked for) is examined for the shape of a folder's first cluster.
    std::map<std::uint64_t, std::uint64_t> found; // first cluster -> the cluster its ".." names
    auto candidate = [&](std::uint64_t c) { return !walker.folderRead(c) && (wholeVolume || !volume.clusterInUse(c)); };
    const std::uint64_t total = g.clusterCount;
    const std::uint64_t perPiece = std::max<std::uint64_t>(1, kReadPiece / g.bytesPerCluster);
    std::vector<std::uint8_t> buffer;
    std::uint64_t cluster = 2;
    while (cluster <= g.lastCluster() && !walker.stopped()) {
        if (!candidate(cluster)) {
            ++cluster;
            continue;
        }
        std::uint64_t count = 1;
        while (count < perPiece && cluster + count <= g.lastCluster() && candidate(cluster + count))
            ++count;
        buffer.resize(count * g.bytesPerCluster);
        if (device.read(g.clusterPosition(cluster), buffer)) {
            if (look)
                look(cluster, buffer);
            for (std::uint64_t i = 0; i < count; ++i) {
                std::uint64_t parent = 0;
                const auto bytes = std::span(buffer).subspan(i * g.bytesPerCluster, g.bytesPerCluster);
                if (looksLikeFolderStart(bytes, fat32, cluster + i, g.lastCluster(), &parent))
                    found.emplace(cluster + i, parent);
            }
        }
        cluster += count;
        if (progress)
            progress(cluster - 2, total);
        walker.keepGoing();
    }
    if (progress && !walker.stopped())
        progress(total, total);

    // Found folders that another found folder names are reached through it; the rest start a
    // tree of their own.
    std::unordered_set<std::uint64_t> named;
    for (const auto& start : found) {
        if (walker.stopped())
            break;
        const std::uint64_t first = start.first;
        FolderBytes probe;
        probe.bytes.resize(g.bytesPerCluster);
        if (!device.read(g.clusterPosition(first), probe.bytes))
            continue;
        walkDirectory(probe.bytes, fat32, [&](const DirectoryRecord& r) {
            if (!r.dotEntry && r.directory() && r.firstCluster != first && found.count(r.firstCluster))
                named.insert(r.firstCluster);
            return true;
        });
    }
    walker.setRequireFree(!wholeVolume);
    auto walkFound = [&](std::uint64_t first, std::uint64_t parent) {
        auto bytes = walker.readFound(first, !wholeVolume);
        if (!bytes)
            return;
        const std::u16string* parentPath = parent != 0 ? walker.folderPath(parent) : nullptr;
        std::u16string path = parentPath ? *parentPath : std::u16string{};
        const std::string number = std::to_string(first);
        path += u"Folder ";
        path.append(number.begin(), number.end());
        path += u'\\';
        walker.nameFolder(first, path);
        walker.walk(*bytes, path, true, 1);
    };
    for (const auto& [first, parent] : found)
        if (!named.count(first) && !walker.folderRead(first) && !walker.stopped())
            walkFound(first, parent);
    // Folders that only name each other in a loop.
    for (const auto& [first, parent] : found)
        if (!walker.folderRead(first) && !walker.stopped())
            walkFound(first, parent);

    mapContent(walker.listed(), volume, walker.deletedFolderClusters());
    if (!visitAll(walker.listed(), visit))
        return false;
    return !walker.stopped();
}

} // namespace orv::fat
