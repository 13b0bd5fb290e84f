#include "scan/ContentCarving.h"

#include <algorithm>
#include <array>

#include "carve/Format.h"

namespace orv {

namespace {

// A file is read over at most this many bytes, and its clusters may lie this many clusters apart
// at most (the ones between in use or taken by listed files): beyond, it is taken as ended.
constexpr std::uint64_t kLargestFile = std::uint64_t{4} << 30;
constexpr std::uint64_t kFarthestNextCluster = 65536;
// The fragment search: a second fragment is looked for this many clusters past the break at most,
// from this many places where the first may end; the bytes its guesses read are bounded per file
// and per scan, so a volume full of free space stays fast.
constexpr std::uint64_t kLargestGap = 2048;
constexpr std::uint64_t kMostSplits = 16;
constexpr std::uint64_t kSearchBytesPerFile = std::uint64_t{256} << 20;
constexpr std::uint64_t kSearchBytesPerScan = std::uint64_t{2} << 30;
// What the parsers may read beyond the files they find, over a whole scan: a file that never
// reaches its end (a PDF without a sound %%EOF reads on through free space) costs this much at
// most, and once it is spent every parse may read this much beyond what it needs.
constexpr std::uint64_t kWasteBudget = std::uint64_t{4} << 30;
constexpr std::uint64_t kSmallestLimit = std::uint64_t{64} << 20;
// At most this many clusters are noted as beginnings: a volume of nothing but text stays bounded.
constexpr std::size_t kMostCandidates = std::size_t{1} << 22;
// A run of text shorter than this is not worth listing: it is more likely a stray piece.
constexpr std::size_t kShortestText = 16;

bool contains(const std::vector<ClusterRun>& runs, std::uint64_t cluster)
{
    auto at = std::upper_bound(runs.begin(), runs.end(), cluster,
                               [](std::uint64_t c, const ClusterRun& run) { return c < run.first; });
    if (at == runs.begin())
        return false;
    --at;
    return cluster - at->first < at->count;
}

void appendCluster(std::vector<ClusterRun>& runs, std::uint64_t cluster)
{
    if (!runs.empty() && runs.back().first + runs.back().count == cluster)
        ++runs.back().count;
    else
        runs.push_back({cluster, 1});
}

// The first `count` clusters of runs.
std::vector<ClusterRun> firstClusters(const std::vector<ClusterRun>& runs, std::uint64_t count)
{
    std::vector<ClusterRun> out;
    for (const ClusterRun& run : runs) {
        if (count == 0)
            break;
        const std::uint64_t take = std::min(count, run.count);
        out.push_back({run.first, take});
        count -= take;
    }
    return out;
}

std::uint64_t clusterCount(const std::vector<ClusterRun>& runs)
{
    std::uint64_t n = 0;
    for (const ClusterRun& run : runs)
        n += run.count;
    return n;
}

// The k-th cluster of runs.
std::uint64_t clusterAt(const std::vector<ClusterRun>& runs, std::uint64_t k)
{
    for (const ClusterRun& run : runs) {
        if (k < run.count)
            return run.first + k;
        k -= run.count;
    }
    return 0;
}

} // namespace

bool isTextCluster(std::span<const std::uint8_t> bytes, std::size_t* textBytes)
{
    // Text is printable ASCII, tab, line ends and form feed, and well-formed UTF-8; a sequence that
    // the cluster's edge cuts counts as text. After the text only NULs may follow: the slack of the
    // file's last cluster.
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    // A cluster that continues a run may begin inside a UTF-8 sequence.
    while (i < n && i < 3 && (bytes[i] & 0xC0) == 0x80)
        ++i;
    while (i < n) {
        const std::uint8_t b = bytes[i];
        if (b >= 0x20 && b < 0x7F) {
            ++i;
            continue;
        }
        if (b == '\t' || b == '\n' || b == '\r' || b == '\f') {
            ++i;
            continue;
        }
        if (b < 0x80)
            break;
        const int length = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
        if (length == 0 || b > 0xF4)
            break;
        int k = 1;
        while (k < length && i + k < n && (bytes[i + k] & 0xC0) == 0x80)
            ++k;
        if (k < length && i + k < n)
            break; // not a sequence
        i += k;
    }
    if (textBytes)
        *textBytes = i;
    if (i == n)
        return true;
    if (i == 0)
        return false;
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.end(),
                       [](std::uint8_t b) { return b == 0; });
}

void ContentCarving::setVolume(const Geometry& geometry, std::function<bool(std::uint64_t)> inUse)
{
    m_geometry = geometry;
    m_inUse = std::move(inUse);
}

void ContentCarving::glance(std::uint64_t firstCluster, std::span<const std::uint8_t> bytes, Glance& out) const
{
    out.firstCluster = firstCluster;
    out.signs.clear();
    if (!ready())
        return;
    const std::uint64_t size = m_geometry.bytesPerCluster;
    const auto formats = carve::formats();
    out.signs.resize(static_cast<std::size_t>((bytes.size() + size - 1) / size));
    for (std::uint64_t at = 0; at < bytes.size(); at += size) {
        const std::uint64_t cluster = firstCluster + at / size;
        Sign& sign = out.signs[static_cast<std::size_t>(at / size)];
        if (cluster < m_geometry.firstCluster || cluster > m_geometry.lastCluster || m_inUse(cluster)) {
            sign.free = false;
            continue;
        }
        const auto bytesOfCluster = bytes.subspan(at, std::min<std::uint64_t>(size, bytes.size() - at));
        // Most free space is zeros (never written, or trimmed): no format and no text begins with
        // sixteen of them, and a zeroed cluster ends any run of text.
        if (const auto first = bytesOfCluster.first(std::min<std::size_t>(16, bytesOfCluster.size()));
            std::all_of(first.begin(), first.end(), [](std::uint8_t b) { return b == 0; }))
            continue;
        // The formats judge a copy: the sweep may show bytes in place, which another program
        // writing the device could change between two reads of one length.
        std::array<std::uint8_t, carve::kHeadBytes> headBytes;
        const auto seen = bytesOfCluster.first(std::min(bytesOfCluster.size(), carve::kHeadBytes));
        std::copy(seen.begin(), seen.end(), headBytes.begin());
        const auto head = std::span<const std::uint8_t>(headBytes).first(seen.size());
        for (std::size_t f = 0; f < formats.size() && sign.format == kNoFormat; ++f)
            if (formats[f].begins(head))
                sign.format = static_cast<std::uint8_t>(f);
        if (sign.format != kNoFormat)
            continue;
        std::size_t textBytes = 0;
        if (!isTextCluster(bytesOfCluster, &textBytes))
            continue;
        sign.text = textBytes == bytesOfCluster.size() ? TextState::Full : TextState::Ending;
        // A cluster inside a UTF-8 sequence, or with only a few characters before its NULs, begins
        // no run of text.
        sign.mayBeginText = (head[0] & 0xC0) != 0x80 && (sign.text == TextState::Full || textBytes >= kShortestText);
    }
}

void ContentCarving::note(const Glance& glance)
{
    for (std::size_t i = 0; i < glance.signs.size(); ++i) {
        const Sign& sign = glance.signs[i];
        if (!sign.free)
            continue;
        const std::uint64_t cluster = glance.firstCluster + i;
        if (sign.format != kNoFormat && m_candidates.size() < kMostCandidates)
            m_candidates.push_back({cluster, sign.format});
        // A run of text begins at a text cluster whose free predecessor was not text all through:
        // a cluster of text ending in NULs ends the run before it.
        if (sign.mayBeginText && m_previousText != TextState::Full && m_candidates.size() < kMostCandidates)
            m_candidates.push_back({cluster, kText});
        m_previousText = sign.text;
    }
}

void ContentCarving::look(std::uint64_t firstCluster, std::span<const std::uint8_t> bytes)
{
    glance(firstCluster, bytes, m_glance);
    note(m_glance);
}

void ContentCarving::explainClusters(std::uint64_t first, std::uint64_t count)
{
    if (count > 0)
        m_explained.push_back({first, count});
}

void ContentCarving::explainBytes(std::uint64_t position, std::uint64_t length)
{
    const std::uint64_t size = m_geometry.bytesPerCluster;
    if (size == 0 || length == 0 || position + length <= m_geometry.firstPosition)
        return;
    const std::uint64_t from = position < m_geometry.firstPosition ? 0 : position - m_geometry.firstPosition;
    const std::uint64_t to = position + length - m_geometry.firstPosition;
    explainClusters(m_geometry.firstCluster + from / size, (to + size - 1) / size - from / size);
}

// The candidate file's bytes as one mapping places them: from its first cluster, the free
// clusters in order that no listed file explains and no file found before takes. A guess of a
// second fragment keeps the first clusters of another mapping and continues at a later cluster.
class CarvedFile final : public carve::Bytes
{
public:
    CarvedFile(const class Carver& carver, SectorDevice& device, std::vector<ClusterRun> prefix, std::uint64_t next)
        : m_carver(carver), m_device(device), m_runs(std::move(prefix)), m_next(next)
    {
        m_clusters = clusterCount(m_runs);
    }

    std::size_t read(std::uint64_t offset, std::span<std::uint8_t> into) override;

    // Maps clusters until `count` are mapped or the mapping ends; the clusters mapped.
    std::uint64_t mapUpTo(std::uint64_t count);
    const std::vector<ClusterRun>& runs() const { return m_runs; }
    std::uint64_t bytesRead() const { return m_bytesRead; }

private:
    const Carver& m_carver;
    SectorDevice& m_device;
    std::vector<ClusterRun> m_runs;
    std::uint64_t m_clusters = 0;
    std::uint64_t m_next;
    bool m_ended = false;
    std::uint64_t m_bytesRead = 0;
};

class Carver
{
public:
    Carver(ContentCarving& carving, SectorDevice& device) : m_carving(carving), m_device(device) {}

    std::vector<FoundByContent> run(const std::function<bool()>& keepGoing,
                                    const std::function<void(std::uint64_t, std::uint64_t)>& progress);

    bool eligible(std::uint64_t cluster) const
    {
        const auto& g = m_carving.m_geometry;
        return cluster >= g.firstCluster && cluster <= g.lastCluster && !m_carving.m_inUse(cluster) &&
            !contains(m_carving.m_explained, cluster) && !taken(cluster);
    }
    bool taken(std::uint64_t cluster) const
    {
        auto at = m_taken.upper_bound(cluster);
        if (at == m_taken.begin())
            return false;
        --at;
        return cluster < at->second;
    }
    std::uint64_t lastCluster() const { return m_carving.m_geometry.lastCluster; }
    std::uint64_t bytesPerCluster() const { return m_carving.m_geometry.bytesPerCluster; }
    std::uint64_t position(std::uint64_t cluster) const { return m_carving.bytePosition(cluster); }

private:
    carve::Parse parse(std::uint8_t format, CarvedFile& file, std::uint64_t stopAfter);
    carve::Parse parseText(CarvedFile& file);
    void take(const std::vector<ClusterRun>& runs);
    FoundByContent found(const ContentCarving::Candidate& candidate, const carve::Parse& p,
                         const std::vector<ClusterRun>& runs, bool guessed);
    std::optional<FoundByContent> searchFragment(const ContentCarving::Candidate& candidate, const carve::Parse& cut);

    ContentCarving& m_carving;
    SectorDevice& m_device;
    std::map<std::uint64_t, std::uint64_t> m_taken; // first cluster -> end, of files found
    std::uint64_t m_searchBytes = 0;
    std::uint64_t m_wasted = 0; // bytes the parsers read beyond the files they found
};

std::uint64_t CarvedFile::mapUpTo(std::uint64_t count)
{
    while (m_clusters < count && !m_ended) {
        std::uint64_t cluster = m_next;
        const std::uint64_t farthest = std::min(m_carver.lastCluster(), cluster + kFarthestNextCluster);
        while (cluster <= farthest && !m_carver.eligible(cluster))
            ++cluster;
        if (cluster > farthest) {
            m_ended = true;
            break;
        }
        appendCluster(m_runs, cluster);
        ++m_clusters;
        m_next = cluster + 1;
    }
    return m_clusters;
}

std::size_t CarvedFile::read(std::uint64_t offset, std::span<std::uint8_t> into)
{
    const std::uint64_t size = m_carver.bytesPerCluster();
    if (into.empty() || offset >= kLargestFile)
        return 0;
    const std::uint64_t end = std::min<std::uint64_t>(offset + into.size(), kLargestFile);
    const std::uint64_t mapped = mapUpTo((end + size - 1) / size);
    const std::uint64_t available = std::min(end, mapped * size);
    if (available <= offset)
        return 0;
    // The runs in file order: each piece of the request that lies in one run is one device read.
    std::uint64_t runStart = 0; // the file offset of the current run
    std::size_t done = 0;
    for (const ClusterRun& run : m_runs) {
        const std::uint64_t runEnd = runStart + run.count * size;
        const std::uint64_t from = std::max(offset + done, runStart);
        const std::uint64_t to = std::min(available, runEnd);
        if (from < to) {
            const auto piece = into.subspan(done, static_cast<std::size_t>(to - from));
            if (!m_device.read(m_carver.position(run.first) + (from - runStart), piece))
                return done;
            done += piece.size();
            m_bytesRead += piece.size();
        }
        if (runEnd >= available)
            break;
        runStart = runEnd;
    }
    return done;
}

carve::Parse Carver::parse(std::uint8_t format, CarvedFile& file, std::uint64_t stopAfter)
{
    const std::uint64_t before = file.bytesRead();
    const carve::Parse p = format == ContentCarving::kText
        ? parseText(file)
        : carve::formats()[format].parse(
              file, std::max(kSmallestLimit, kWasteBudget - std::min(kWasteBudget, m_wasted)), stopAfter);
    const std::uint64_t read = file.bytesRead() - before;
    m_wasted += read > p.size ? read - p.size : 0;
    return p;
}

carve::Parse Carver::parseText(CarvedFile& file)
{
    // Text has no structure to check: the run ends at the first cluster that is not text all
    // through, at its last text byte. It never counts as checked.
    carve::Parse p;
    const std::uint64_t size = bytesPerCluster();
    std::vector<std::uint8_t> cluster(static_cast<std::size_t>(size));
    std::uint64_t offset = 0;
    while (offset < kLargestFile) {
        const std::size_t got = file.read(offset, cluster);
        std::size_t text = 0;
        const bool isText = got > 0 && isTextCluster(std::span(cluster).first(got), &text);
        if (!isText) {
            // The run ended at a cluster boundary: a file that fills its last cluster to the byte.
            p.verdict = offset > 0 ? carve::Verdict::Whole : carve::Verdict::None;
            p.size = offset;
            break;
        }
        if (text < got) {
            p.verdict = carve::Verdict::Whole;
            p.size = offset + text;
            break;
        }
        offset += got;
        if (got < size) {
            p.verdict = carve::Verdict::Whole;
            p.size = offset;
            break;
        }
    }
    if (p.size < kShortestText)
        p.verdict = carve::Verdict::None;
    p.goodUpTo = p.size;
    p.extension = "txt";
    return p;
}

void Carver::take(const std::vector<ClusterRun>& runs)
{
    for (const ClusterRun& run : runs)
        if (run.count > 0)
            m_taken[run.first] = run.first + run.count;
}

FoundByContent Carver::found(const ContentCarving::Candidate& candidate, const carve::Parse& p,
                             const std::vector<ClusterRun>& runs, bool guessed)
{
    FoundByContent file;
    file.extension = std::string(p.extension);
    file.firstCluster = candidate.cluster;
    file.size = p.size;
    file.runs = firstClusters(runs, (p.size + bytesPerCluster() - 1) / bytesPerCluster());
    file.whole = p.verdict == carve::Verdict::Whole;
    file.contentChecked = p.contentChecked;
    file.guessed = guessed;
    take(file.runs);
    return file;
}

std::optional<FoundByContent> Carver::searchFragment(const ContentCarving::Candidate& candidate,
                                                     const carve::Parse& cut)
{
    // The file broke somewhere in [goodUpTo, brokeAt): its first fragment ends at a cluster
    // boundary there, and its second begins a few free clusters further on. Each guess leaves out
    // `gap` clusters of the mapping after the first `split`; the nearest gaps are tried first. A
    // guess whose checks cover its bytes to the end wins at once; one that is only whole in its
    // layout is kept in case no checked one follows within twice its gap.
    const std::uint64_t size = bytesPerCluster();
    CarvedFile base(*this, m_device, {}, candidate.cluster);
    const std::uint64_t lowest = std::max<std::uint64_t>(1, cut.goodUpTo / size);
    const std::uint64_t highest = std::min((cut.brokeAt + size - 1) / size, lowest + kMostSplits);
    std::uint64_t spent = 0;
    struct Guess
    {
        carve::Parse parse;
        std::vector<ClusterRun> runs;
        std::uint64_t gap;
    };
    std::optional<Guess> layoutOnly;
    const auto settle = [&]() -> std::optional<FoundByContent> {
        // Layout alone is enough only where the file as it lay did not reach its end at all.
        if (!layoutOnly || cut.verdict != carve::Verdict::Cut)
            return std::nullopt;
        ++m_carving.m_report.fragmentGuesses;
        return found(candidate, layoutOnly->parse, layoutOnly->runs, true);
    };
    for (std::uint64_t gap = 1; gap <= kLargestGap; ++gap) {
        if (layoutOnly && gap > 2 * layoutOnly->gap + 16)
            return settle();
        for (std::uint64_t split = lowest; split < highest; ++split) {
            if (base.mapUpTo(split + gap + 1) < split + gap + 1)
                return settle(); // the free clusters end before the guess
            if (spent > kSearchBytesPerFile || m_searchBytes > kSearchBytesPerScan) {
                if (m_searchBytes > kSearchBytesPerScan)
                    m_carving.m_report.budgetSpent = true;
                return settle();
            }
            const std::uint64_t next = clusterAt(base.runs(), split + gap);
            CarvedFile guess(*this, m_device, firstClusters(base.runs(), split), next);
            const carve::Parse past = parse(candidate.format, guess, cut.brokeAt);
            spent += guess.bytesRead();
            m_searchBytes += guess.bytesRead();
            // The guess must get further than the file got as it lay. A unit whose length field lies
            // before the break ends where it said either way; one found by searching the bytes (a
            // PDF's last section) ends sooner once the gap is left out, so reaching brokeAt is not
            // asked.
            if (past.verdict == carve::Verdict::None ||
                (past.verdict != carve::Verdict::Whole && past.goodUpTo <= cut.goodUpTo))
                continue;
            CarvedFile whole(*this, m_device, firstClusters(base.runs(), split), next);
            const carve::Parse p = parse(candidate.format, whole, 0);
            spent += whole.bytesRead();
            m_searchBytes += whole.bytesRead();
            if (p.verdict != carve::Verdict::Whole)
                continue;
            if (p.contentChecked) {
                ++m_carving.m_report.fragmentGuesses;
                return found(candidate, p, whole.runs(), true);
            }
            if (!layoutOnly)
                layoutOnly = Guess{p, whole.runs(), gap};
        }
    }
    return settle();
}

std::vector<FoundByContent> Carver::run(const std::function<bool()>& keepGoing,
                                        const std::function<void(std::uint64_t, std::uint64_t)>& progress)
{
    auto& candidates = m_carving.m_candidates;
    auto& explained = m_carving.m_explained;
    std::sort(explained.begin(), explained.end(),
              [](const ClusterRun& a, const ClusterRun& b) { return a.first < b.first; });
    std::vector<ClusterRun> merged;
    for (const ClusterRun& run : explained) {
        if (!merged.empty() && run.first <= merged.back().first + merged.back().count)
            merged.back().count = std::max(merged.back().count, run.first + run.count - merged.back().first);
        else
            merged.push_back(run);
    }
    explained = std::move(merged);
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.cluster < b.cluster; });
    std::erase_if(candidates, [&](const auto& c) { return contains(explained, c.cluster); });
    m_carving.m_report.candidates = candidates.size();

    std::vector<FoundByContent> files;
    // First the files whose content checked out whole: they are certain, and what they take is
    // passed over when the others are read.
    std::vector<bool> done(candidates.size(), false);
    const std::uint64_t steps = 2 * candidates.size();
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (progress)
            progress(i, steps);
        if (!keepGoing())
            return files;
        const auto& c = candidates[i];
        if (c.format == ContentCarving::kText || taken(c.cluster))
            continue;
        CarvedFile file(*this, m_device, {}, c.cluster);
        const carve::Parse p = parse(c.format, file, 0);
        if (p.verdict == carve::Verdict::Whole && p.contentChecked) {
            files.push_back(found(c, p, file.runs(), false));
            done[i] = true;
        }
    }
    // Then the rest, around what the first pass took: whole files whose checks cover less, files
    // in two fragments, and the good beginnings of files that broke.
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (progress)
            progress(candidates.size() + i, steps);
        if (!keepGoing())
            break;
        const auto& c = candidates[i];
        if (done[i] || taken(c.cluster))
            continue;
        CarvedFile file(*this, m_device, {}, c.cluster);
        const carve::Parse p = parse(c.format, file, 0);
        if (p.verdict == carve::Verdict::None)
            continue;
        // A file that broke, or whose decoder stumbled though its layout held to the end (a JPEG
        // whose second fragment lies past another picture's data), may continue elsewhere.
        if ((p.verdict == carve::Verdict::Cut || !p.contentChecked) && p.brokeAt > p.goodUpTo)
            if (auto joined = searchFragment(c, p)) {
                files.push_back(std::move(*joined));
                continue;
            }
        if (p.size > 0)
            files.push_back(found(c, p, file.runs(), false));
    }
    std::sort(files.begin(), files.end(),
              [](const FoundByContent& a, const FoundByContent& b) { return a.firstCluster < b.firstCluster; });
    return files;
}

std::vector<FoundByContent> ContentCarving::carve(SectorDevice& device, const std::function<bool()>& keepGoing,
                                                  const std::function<void(std::uint64_t, std::uint64_t)>& progress)
{
    if (!ready())
        return {};
    return Carver(*this, device).run(keepGoing, progress);
}

} // namespace orv
