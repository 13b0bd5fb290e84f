#include "exfat/Scan.h"

#include <algorithm>
#include <map>
#include <string>

#include "exfat/EntrySet.h"
#include "volume/ClusterSearch.h"

namespace orv::exfat {

namespace {

constexpr std::uint64_t kMaxDirectoryBytes = 256u << 20; // exFAT's own limit for a directory
constexpr std::uint64_t kGuessSkipBudget = 65536; // clusters a contiguous guess may step over
constexpr std::size_t kBatchBytes = 4u << 20; // Extended scan: read this much between keepGoing calls
constexpr std::uint32_t kNoOwner = 0xFFFFFFFF;
constexpr std::uint32_t kTiedOwners = 0xFFFFFFFE;
// How far the search for a deleted folder's later cluster reads (free clusters only), for one
// folder and for the whole walk, and how many clusters it may pass over without reading.
constexpr std::uint64_t kFolderSearchBytes = 256ull << 20;
constexpr std::uint64_t kWalkSearchBytes = 1ull << 30;
constexpr std::uint64_t kFolderSearchSpan = std::uint64_t{1} << 22;

struct Listed
{
    FoundEntry entry;
    EntrySetInfo info;
};

std::uint64_t clustersFor(std::uint64_t bytes, std::uint32_t bytesPerCluster)
{
    return bytes / bytesPerCluster + (bytes % bytesPerCluster != 0 ? 1 : 0);
}

// One bit per cluster.
class ClusterSet
{
public:
    explicit ClusterSet(std::uint64_t last) : m_bits(last + 1, false) {}
    bool has(std::uint64_t c) const { return c < m_bits.size() && m_bits[c]; }
    void add(std::uint64_t c)
    {
        if (c < m_bits.size())
            m_bits[c] = true;
    }

private:
    std::vector<bool> m_bits;
};

// A directory's bytes and where each of its clusters lies.
struct DirectoryBytes
{
    std::vector<std::uint64_t> clusters;
    std::vector<std::uint8_t> bytes;
};

class Scanner
{
public:
    Scanner(SectorDevice& device, const Volume& volume, const std::function<bool()>& keepGoing)
        : m_device(device), m_volume(volume), m_g(volume.geometry()), m_keepGoing(keepGoing),
          m_walked(volume.lastCluster())
    {}

    // The directory tree from the root. False when stopped.
    bool walk();
    // Folders by their shape in the clusters the walk did not read. False when stopped.
    bool findFolders(bool wholeVolume, const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                     const ClusterLook& look);
    // Content maps and certainty for everything collected, then the visits in order.
    // `ask`: consult keepGoing (false once the user said stop: what was found is still listed).
    bool finish(const FoundEntryVisit& visit, bool ask);

private:
    struct Pending
    {
        std::u16string path; // the folder's path, ending in "\" (empty for the root)
        bool deleted = false;
        bool grow = false; // a deleted folder whose chain is gone: its later clusters are searched for
        std::vector<std::uint64_t> clusters;
    };

    DirectoryBytes readDirectory(const std::vector<std::uint64_t>& clusters);
    // Every valid entry set of a directory, in order: (slot index, what it says).
    std::vector<std::pair<std::size_t, EntrySetInfo>> entrySets(std::span<const std::uint8_t> bytes) const;
    Listed makeListed(const DirectoryBytes& dir, std::size_t slot, const EntrySetInfo& info,
                      const std::u16string& folder, bool deleted) const;
    std::vector<std::uint64_t> liveClusters(const EntrySetInfo& info) const;
    std::vector<std::uint64_t> deletedClusters(const EntrySetInfo& info) const;
    bool looksLikeDirectory(std::span<const std::uint8_t> cluster) const;
    void growDeleted(DirectoryBytes& dir);

    void computeContent(Listed& item, const std::map<std::uint64_t, std::vector<std::size_t>>& starts,
                        std::size_t self) const;

    SectorDevice& m_device;
    const Volume& m_volume;
    const Geometry& m_g;
    const std::function<bool()>& m_keepGoing;
    ClusterSet m_walked;
    std::vector<Listed> m_listed;
    std::uint64_t m_searchBudget = kWalkSearchBytes;
};

DirectoryBytes Scanner::readDirectory(const std::vector<std::uint64_t>& clusters)
{
    DirectoryBytes dir;
    for (std::uint64_t c : clusters) {
        if (m_walked.has(c) || c < 2 || c > m_volume.lastCluster())
            continue; // read every cluster once: a loop or a cross-link ends here
        m_walked.add(c);
        dir.clusters.push_back(c);
    }
    dir.bytes.resize(dir.clusters.size() * m_g.bytesPerCluster);
    // Consecutive clusters in one read.
    for (std::size_t i = 0; i < dir.clusters.size();) {
        std::size_t n = 1;
        while (i + n < dir.clusters.size() && dir.clusters[i + n] == dir.clusters[i] + n &&
               n * m_g.bytesPerCluster < kBatchBytes)
            ++n;
        const auto into = std::span<std::uint8_t>(dir.bytes).subspan(i * m_g.bytesPerCluster, n * m_g.bytesPerCluster);
        readBytes(m_device, m_g.clusterPosition(dir.clusters[i]), into, m_g.bytesPerSector);
        i += n;
    }
    return dir;
}

std::vector<std::pair<std::size_t, EntrySetInfo>> Scanner::entrySets(std::span<const std::uint8_t> bytes) const
{
    std::vector<std::pair<std::size_t, EntrySetInfo>> sets;
    const std::size_t slots = bytes.size() / kEntrySize;
    for (std::size_t i = 0; i < slots;) {
        // Slots past an end-of-directory mark are read too: only a checksummed set is taken.
        if ((bytes[i * kEntrySize] & ~entry::kInUse) == entry::kDeletedFile) {
            if (auto info = decodeEntrySet(bytes.subspan(i * kEntrySize))) {
                const std::size_t count = info->entryCount;
                sets.emplace_back(i, std::move(*info));
                i += count;
                continue;
            }
        }
        ++i;
    }
    return sets;
}

Listed Scanner::makeListed(const DirectoryBytes& dir, std::size_t slot, const EntrySetInfo& info,
                           const std::u16string& folder, bool deleted) const
{
    Listed item;
    item.info = info;
    FoundEntry& e = item.entry;
    e.folder = folder;
    e.name = info.name;
    e.directory = info.directory();
    e.deleted = deleted;
    e.size = info.dataLength;
    e.modified = info.modified;
    e.attributes = info.attributes;
    const std::size_t from = slot * kEntrySize, length = info.entryCount * kEntrySize;
    e.entryBytes.assign(dir.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                        dir.bytes.begin() + static_cast<std::ptrdiff_t>(from + length));
    for (std::size_t at = from; at < from + length; at += kEntrySize) {
        const std::uint64_t position =
            m_g.clusterPosition(dir.clusters[at / m_g.bytesPerCluster]) + at % m_g.bytesPerCluster;
        if (!e.pieces.empty() && e.pieces.back().position + e.pieces.back().length == position)
            e.pieces.back().length += static_cast<std::uint32_t>(kEntrySize);
        else
            e.pieces.push_back({position, static_cast<std::uint32_t>(kEntrySize)});
    }
    return item;
}

// A live folder's clusters: its contiguous run, or its chain in the FAT.
std::vector<std::uint64_t> Scanner::liveClusters(const EntrySetInfo& info) const
{
    const std::uint64_t limit = std::min(
        clustersFor(std::min(info.dataLength, kMaxDirectoryBytes), m_g.bytesPerCluster), m_volume.lastCluster());
    std::vector<std::uint64_t> clusters;
    std::uint64_t c = info.firstCluster;
    while (clusters.size() < limit && c >= 2 && c <= m_volume.lastCluster()) {
        clusters.push_back(c);
        if (info.noFatChain) {
            ++c;
        } else {
            const auto next = m_volume.nextInChain(c);
            if (!next)
                break;
            c = *next;
        }
    }
    return clusters;
}

// A deleted folder's clusters: its contiguous run when NoFatChain said so, else its first cluster
// (growDeleted finds the rest by their shape); a cluster in use now holds someone else's bytes.
std::vector<std::uint64_t> Scanner::deletedClusters(const EntrySetInfo& info) const
{
    const std::uint64_t want = clustersFor(std::min(info.dataLength, kMaxDirectoryBytes), m_g.bytesPerCluster);
    std::vector<std::uint64_t> clusters;
    for (std::uint64_t c = info.firstCluster; c >= 2 && c <= m_volume.lastCluster() && clusters.size() < want; ++c) {
        if (m_volume.clusterInUse(c))
            break;
        clusters.push_back(c);
        if (!info.noFatChain)
            break;
    }
    return clusters;
}

// The later clusters of a deleted folder whose chain is gone, while its last one read has no
// end-of-directory mark: the next cluster of the chain the FAT may still hold, the cluster right
// after, or the nearest free cluster further on that is shaped like a folder's (a folder that
// grew after files were written into it lies past their content). The length the entry gave is
// no bound: a writer may have shrunk the folder as its files were deleted.
void Scanner::growDeleted(DirectoryBytes& dir)
{
    auto hasEndMark = [](std::span<const std::uint8_t> bytes) {
        for (std::size_t at = 0; at < bytes.size(); at += kEntrySize)
            if (bytes[at] == 0)
                return true;
        return false;
    };
    auto usable = [&](std::uint64_t c) {
        return c >= 2 && c <= m_volume.lastCluster() && !m_walked.has(c) && !m_volume.clusterInUse(c);
    };
    std::vector<std::uint8_t> cluster(m_g.bytesPerCluster);
    auto shapedAt = [&](std::uint64_t c) {
        return usable(c) && readBytes(m_device, m_g.clusterPosition(c), cluster, m_g.bytesPerSector) &&
            looksLikeDirectory(cluster);
    };
    while (!dir.clusters.empty() && !hasEndMark(dir.bytes) && dir.bytes.size() < kMaxDirectoryBytes && m_keepGoing()) {
        const std::uint64_t last = dir.clusters.back();
        std::optional<std::uint64_t> next;
        if (const auto chained = m_volume.nextInChain(last); chained && shapedAt(*chained))
            next = chained;
        else if (shapedAt(last + 1))
            next = last + 1;
        else {
            ClusterSearch search;
            search.from = last + 1;
            search.last = m_volume.lastCluster();
            search.bytesPerCluster = m_g.bytesPerCluster;
            search.position = [&](std::uint64_t c) { return m_g.clusterPosition(c); };
            search.skip = [&](std::uint64_t c) { return !usable(c); };
            for (const auto& [slot, info] : entrySets(dir.bytes))
                if (!info.directory() && info.dataLength > 0 && info.firstCluster >= 2)
                    search.passOver.emplace_back(info.firstCluster,
                                                 info.firstCluster + clustersFor(info.dataLength, m_g.bytesPerCluster));
            search.matches = [&](std::span<const std::uint8_t> bytes) { return looksLikeDirectory(bytes); };
            search.keepGoing = m_keepGoing;
            next = searchForward(m_device, search, {kFolderSearchBytes, kFolderSearchSpan}, m_searchBudget);
        }
        if (!next)
            break;
        const DirectoryBytes more = readDirectory({*next});
        dir.clusters.insert(dir.clusters.end(), more.clusters.begin(), more.clusters.end());
        dir.bytes.insert(dir.bytes.end(), more.bytes.begin(), more.bytes.end());
    }
}

bool Scanner::walk()
{
    std::vector<Pending> stack;
    {
        Pending root;
        std::uint64_t c = m_g.rootCluster;
        const std::uint64_t limit =
            std::min<std::uint64_t>(kMaxDirectoryBytes / m_g.bytesPerCluster, m_volume.lastCluster());
        while (root.clusters.size() < limit && c >= 2 && c <= m_volume.lastCluster()) {
            root.clusters.push_back(c);
            const auto next = m_volume.nextInChain(c);
            if (!next)
                break;
            c = *next;
        }
        stack.push_back(std::move(root));
    }
    while (!stack.empty()) {
        if (!m_keepGoing())
            return false;
        Pending dir = std::move(stack.back());
        stack.pop_back();
        DirectoryBytes bytes = readDirectory(dir.clusters);
        if (dir.grow)
            growDeleted(bytes);
        std::vector<Pending> children;
        for (const auto& [slot, info] : entrySets(bytes.bytes)) {
            const bool deleted = dir.deleted || !info.inUse;
            if (deleted)
                m_listed.push_back(makeListed(bytes, slot, info, dir.path, true));
            if (info.directory()) {
                Pending child;
                child.path = dir.path + info.name + u'\\';
                child.deleted = deleted;
                child.clusters = deleted ? deletedClusters(info) : liveClusters(info);
                child.grow = deleted && !info.noFatChain;
                children.push_back(std::move(child));
            }
        }
        // Depth first, in the order the folder lists them.
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back(std::move(*it));
    }
    return true;
}

bool Scanner::looksLikeDirectory(std::span<const std::uint8_t> cluster) const
{
    const std::size_t slots = cluster.size() / kEntrySize;
    std::size_t i = 0;
    // The tail of a set that began in the folder's previous cluster.
    while (i < slots && (cluster[i * kEntrySize] & 0x40) != 0 && plausibleEntryType(cluster[i * kEntrySize]))
        ++i;
    std::size_t sets = 0;
    while (i < slots) {
        const std::uint8_t type = cluster[i * kEntrySize];
        if (!plausibleEntryType(type))
            return false;
        if ((type & ~entry::kInUse) == entry::kDeletedFile) {
            const auto rest = cluster.subspan(i * kEntrySize);
            if (const auto info = decodeEntrySet(rest)) {
                ++sets;
                i += info->entryCount;
                continue;
            }
            if ((std::size_t{cluster[i * kEntrySize + 1]} + 1) * kEntrySize > rest.size())
                break; // a set that goes on in the next cluster
        }
        ++i;
    }
    return sets > 0;
}

bool Scanner::findFolders(bool wholeVolume, const std::function<void(std::uint64_t, std::uint64_t)>& progress,
                          const ClusterLook& look)
{
    const std::uint64_t last = m_volume.lastCluster();
    auto candidate = [&](std::uint64_t c) { return !m_walked.has(c) && (wholeVolume || !m_volume.clusterInUse(c)); };
    std::uint64_t total = 0;
    for (std::uint64_t c = 2; c <= last; ++c)
        total += candidate(c) ? 1 : 0;

    // Pass 1: which clusters look like a folder's.
    std::vector<std::uint64_t> found;
    std::uint64_t done = 0;
    const std::uint64_t perBatch = std::max<std::uint64_t>(1, kBatchBytes / m_g.bytesPerCluster);
    std::vector<std::uint8_t> batch;
    for (std::uint64_t c = 2; c <= last;) {
        if (!candidate(c)) {
            ++c;
            continue;
        }
        std::uint64_t n = 1;
        while (n < perBatch && c + n <= last && candidate(c + n))
            ++n;
        if (!m_keepGoing())
            return false;
        batch.assign(n * m_g.bytesPerCluster, 0);
        readBytes(m_device, m_g.clusterPosition(c), batch, m_g.bytesPerSector);
        if (look)
            look(c, batch);
        for (std::uint64_t k = 0; k < n; ++k)
            if (looksLikeDirectory(
                    std::span<const std::uint8_t>(batch).subspan(k * m_g.bytesPerCluster, m_g.bytesPerCluster)))
                found.push_back(c + k);
        done += n;
        if (progress)
            progress(done, total);
        c += n;
    }
    if (found.empty())
        return true;

    // Pass 2: which found cluster a folder entry of another found cluster names as its first, with
    // the length it gives. Each cluster is read with the next one when that was found too, so a set
    // that straddles the two decodes.
    struct Link
    {
        std::uint64_t parent = 0;
        std::uint64_t clusters = 0;
    };
    std::map<std::uint64_t, Link> links;
    const auto isFound = [&](std::uint64_t c) { return std::binary_search(found.begin(), found.end(), c); };
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (i % 256 == 0 && !m_keepGoing())
            return false;
        const std::uint64_t c = found[i];
        std::vector<std::uint8_t> bytes((isFound(c + 1) ? 2 : 1) * std::size_t{m_g.bytesPerCluster});
        readBytes(m_device, m_g.clusterPosition(c), bytes, m_g.bytesPerSector);
        for (const auto& [slot, info] : entrySets(bytes)) {
            if (slot * kEntrySize >= m_g.bytesPerCluster)
                break; // a set of the next cluster: read with that one
            if (info.directory() && info.firstCluster != c && isFound(info.firstCluster) &&
                !links.count(info.firstCluster))
                links[info.firstCluster] = {c, clustersFor(info.dataLength, m_g.bytesPerCluster)};
        }
    }

    // Pass 3: folders are runs of found clusters; one starts where a folder entry points, where the
    // run breaks, or where the length its entry gives is reached.
    struct Folder
    {
        std::vector<std::uint64_t> clusters;
        std::uint64_t expected = 0; // clusters, when a parent's entry says (0: unknown)
    };
    std::vector<Folder> folders;
    std::map<std::uint64_t, std::size_t> folderOf; // cluster -> folder index
    for (std::uint64_t c : found) {
        const auto link = links.find(c);
        bool extend = !folders.empty() && link == links.end() && folders.back().clusters.back() + 1 == c;
        if (extend && folders.back().expected != 0 && folders.back().clusters.size() >= folders.back().expected)
            extend = false;
        if (!extend) {
            folders.push_back({});
            if (link != links.end())
                folders.back().expected = link->second.clusters;
        }
        folders.back().clusters.push_back(c);
        folderOf[c] = folders.size() - 1;
    }

    // Pass 4: read each folder, name it from its parent's entry when there is one, and list it.
    std::vector<DirectoryBytes> contents(folders.size());
    std::vector<std::optional<std::u16string>> names(folders.size()); // from the parent's entry
    std::vector<std::optional<std::size_t>> parents(folders.size());
    std::vector<std::vector<std::pair<std::size_t, EntrySetInfo>>> sets(folders.size());
    for (std::size_t f = 0; f < folders.size(); ++f) {
        if (!m_keepGoing())
            return false;
        contents[f] = readDirectory(folders[f].clusters);
        sets[f] = entrySets(contents[f].bytes);
    }
    for (std::size_t f = 0; f < folders.size(); ++f)
        for (const auto& [slot, info] : sets[f]) {
            if (!info.directory())
                continue;
            const auto child = folderOf.find(info.firstCluster);
            if (child == folderOf.end() || child->second == f || parents[child->second])
                continue;
            if (folders[child->second].clusters.front() != info.firstCluster)
                continue;
            parents[child->second] = f;
            names[child->second] = info.name;
        }
    // Paths, parent first; a cycle of folders naming each other falls back to "Folder N\".
    std::vector<std::optional<std::u16string>> paths(folders.size());
    for (std::size_t f = 0; f < folders.size(); ++f) {
        std::vector<std::size_t> chain{f};
        while (parents[chain.back()] && !paths[chain.back()] && chain.size() <= folders.size()) {
            const std::size_t up = *parents[chain.back()];
            if (std::find(chain.begin(), chain.end(), up) != chain.end()) {
                parents[chain.back()].reset(); // the loop is cut at the folder that closes it
                break;
            }
            chain.push_back(up);
        }
        // From the top down, so each folder's parent has its path first.
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const std::size_t n = *it;
            if (paths[n])
                continue;
            if (parents[n] && paths[*parents[n]]) {
                paths[n] = *paths[*parents[n]] + *names[n] + u'\\';
            } else {
                const std::string text = "Folder " + std::to_string(folders[n].clusters.front()) + "\\";
                paths[n] = std::u16string(text.begin(), text.end());
            }
        }
    }
    for (std::size_t f = 0; f < folders.size(); ++f)
        for (const auto& [slot, info] : sets[f])
            m_listed.push_back(makeListed(contents[f], slot, info, *paths[f], true));
    return true;
}

void Scanner::computeContent(Listed& item, const std::map<std::uint64_t, std::vector<std::size_t>>& starts,
                             std::size_t self) const
{
    FoundEntry& e = item.entry;
    const EntrySetInfo& info = item.info;
    const std::uint64_t last = m_volume.lastCluster();
    e.content.clear();
    e.certainty = ContentCertainty::Exact;
    if (info.dataLength == 0)
        return; // an empty file: nothing to read, nothing to doubt
    const std::uint64_t first = info.firstCluster;
    if (first < 2 || first > last) {
        e.certainty = ContentCertainty::FirstClusterInUse; // no cluster of it can be read
        return;
    }
    const std::uint64_t needed = clustersFor(info.dataLength, m_g.bytesPerCluster);
    // Another listed entry starts at `c` (`anyAge`), or one not older than this one does.
    const auto startTaken = [&](std::uint64_t c, bool anyAge) {
        const auto it = starts.find(c);
        if (it == starts.end())
            return false;
        for (std::size_t other : it->second)
            if (other != self && (anyAge || m_listed[other].info.order() >= info.order()))
                return true;
        return false;
    };
    const auto addCluster = [&](std::uint64_t c) {
        if (!e.content.empty() && e.content.back().first + e.content.back().count == c)
            ++e.content.back().count;
        else
            e.content.push_back({c, 1});
    };
    const auto contiguous = [&] {
        e.content.push_back({first, std::min(needed, last - first + 1)});
        return needed > last - first + 1;
    };

    const bool firstTaken = m_volume.clusterInUse(first) || startTaken(first, false);
    if (info.noFatChain) {
        const bool cut = contiguous();
        bool othersInside = false;
        for (std::uint64_t c = first + 1; c < first + e.content.back().count && !othersInside; ++c)
            othersInside = m_volume.clusterInUse(c);
        e.certainty = firstTaken  ? ContentCertainty::FirstClusterInUse
            : cut || othersInside ? ContentCertainty::Guessed
                                  : ContentCertainty::Exact;
        return;
    }
    if (firstTaken) {
        contiguous(); // what a user may still try
        e.certainty = ContentCertainty::FirstClusterInUse;
        return;
    }
    // A chain the delete left whole in the FAT: as long as the file, free, ending in the end mark.
    {
        std::uint64_t c = first, count = 0;
        std::vector<ClusterRun> runs;
        bool whole = false;
        while (count < needed && count <= last && !m_volume.clusterInUse(c)) {
            if (!runs.empty() && runs.back().first + runs.back().count == c)
                ++runs.back().count;
            else
                runs.push_back({c, 1});
            ++count;
            const auto value = m_volume.fatEntry(c);
            if (!value)
                break;
            if (*value == 0xFFFFFFFF) {
                whole = count == needed;
                break;
            }
            const auto next = m_volume.nextInChain(c);
            if (!next)
                break;
            c = *next;
        }
        if (whole && needed > 1) {
            e.content = std::move(runs);
            return;
        }
    }
    // The contiguous guess, stepping over clusters that others hold.
    bool skipped = false;
    std::uint64_t taken = 0, steps = 0;
    for (std::uint64_t c = first; c <= last && taken < needed && steps <= kGuessSkipBudget; ++c) {
        // Past the first cluster another entry's start is its whatever the ages: it may have been
        // alive when this file was written and deleted since.
        if (!m_volume.clusterInUse(c) && (c == first || !startTaken(c, true))) {
            addCluster(c);
            ++taken;
        } else {
            skipped = true;
            ++steps;
        }
    }
    if (taken < needed || skipped) {
        e.certainty = ContentCertainty::Guessed;
        return;
    }
    // One contiguous run: exact when a single cluster, or when what follows belongs to another.
    const std::uint64_t after = first + needed;
    const bool endConfirmed = needed == 1 || after > last || m_volume.clusterInUse(after) || startTaken(after, true);
    e.certainty = endConfirmed ? ContentCertainty::Exact : ContentCertainty::Guessed;
}

bool Scanner::finish(const FoundEntryVisit& visit, bool ask)
{
    const auto keepGoing = [&] { return !ask || m_keepGoing(); };
    // Where each listed entry starts.
    std::map<std::uint64_t, std::vector<std::size_t>> starts;
    for (std::size_t i = 0; i < m_listed.size(); ++i)
        if (m_listed[i].info.dataLength != 0 && m_g.validCluster(m_listed[i].info.firstCluster))
            starts[m_listed[i].info.firstCluster].push_back(i);
    for (std::size_t i = 0; i < m_listed.size(); ++i) {
        if (i % 4096 == 0 && !keepGoing())
            return false;
        computeContent(m_listed[i], starts, i);
    }

    // Where two maps claim one cluster, the newer entry holds it; the other is not exact.
    std::vector<std::uint32_t> owner(m_volume.lastCluster() + 1, kNoOwner);
    std::uint64_t work = 0;
    const auto claims = [](const Listed& l) { return l.entry.certainty != ContentCertainty::FirstClusterInUse; };
    for (std::size_t i = 0; i < m_listed.size() && i < kTiedOwners; ++i) {
        if (!claims(m_listed[i]))
            continue;
        for (const ClusterRun& run : m_listed[i].entry.content)
            for (std::uint64_t c = run.first; c < run.first + run.count && c < owner.size(); ++c) {
                if (++work % (1u << 22) == 0 && !keepGoing())
                    return false;
                std::uint32_t& o = owner[c];
                if (o == kNoOwner || (o != kTiedOwners && m_listed[o].info.order() < m_listed[i].info.order()))
                    o = static_cast<std::uint32_t>(i);
                else if (o != kTiedOwners && m_listed[o].info.order() == m_listed[i].info.order())
                    o = kTiedOwners;
            }
    }
    for (std::size_t i = 0; i < m_listed.size() && i < kTiedOwners; ++i) {
        FoundEntry& e = m_listed[i].entry;
        if (!claims(m_listed[i]))
            continue;
        for (const ClusterRun& run : e.content)
            for (std::uint64_t c = run.first; c < run.first + run.count && c < owner.size(); ++c) {
                if (owner[c] == i)
                    continue;
                if (c == m_listed[i].info.firstCluster)
                    e.certainty = ContentCertainty::FirstClusterInUse;
                else if (e.certainty == ContentCertainty::Exact)
                    e.certainty = ContentCertainty::Guessed;
            }
    }

    for (std::size_t i = 0; i < m_listed.size(); ++i) {
        if (i % 4096 == 0 && !keepGoing())
            return false;
        if (!visit(m_listed[i].entry))
            return false;
    }
    return true;
}

} // namespace

bool normalScan(SectorDevice& device, const Volume& volume, const FoundEntryVisit& visit,
                const std::function<bool()>& keepGoing)
{
    Scanner scanner(device, volume, keepGoing);
    if (!scanner.walk()) {
        scanner.finish(visit, false);
        return false;
    }
    return scanner.finish(visit, true);
}

bool extendedScan(SectorDevice& device, const Volume& volume, bool wholeVolume, const FoundEntryVisit& visit,
                  const std::function<bool()>& keepGoing,
                  const std::function<void(std::uint64_t, std::uint64_t)>& progress, const ClusterLook& look)
{
    Scanner scanner(device, volume, keepGoing);
    if (!scanner.walk() || !scanner.findFolders(wholeVolume, progress, look)) {
        scanner.finish(visit, false);
        return false;
    }
    return scanner.finish(visit, true);
}

} // namespace orv::exfat
