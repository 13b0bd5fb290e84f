#include "results/FileContent.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "ntfs/BootSector.h"
#include "ntfs/Lznt1.h"
#include "volume/SectorIo.h"

namespace orv {

std::string ContentReport::reason() const
{
    std::string text;
    const auto add = [&](const std::string& part) { text += (text.empty() ? "" : "; ") + part; };
    if (undecodableUnit >= 0)
        add("it is compressed in units of 2^" + std::to_string(undecodableUnit) +
            " clusters, which no volume writes and which cannot be decoded; its content is left out");
    if (recordDamaged)
        add("the record is damaged");
    if (partLost)
        add("part of its run list was in an extension record that is gone");
    if (zeroedBytes > 0)
        add(std::to_string(zeroedBytes) + " bytes could not be read and are zeros");
    if (badUnits > 0)
        add(badUnits == 1 ? "compressed unit " + std::to_string(firstBadUnit) + " could not be decompressed"
                          : std::to_string(badUnits) + " compressed units (the first is unit " +
                    std::to_string(firstBadUnit) + ") could not be decompressed");
    return text;
}

namespace {

// Where the file's clusters come from, cluster by cluster in file order.
class ClusterMap
{
public:
    enum class Kind { Data, Hole, Unreadable };
    struct Piece
    {
        Kind kind;
        std::int64_t cluster; // for Data
        std::int64_t count; // clusters, at least 1
    };

    ClusterMap(std::int64_t volumeClusters, const std::vector<DataRun>& runs)
        : m_runs(runs), m_volumeClusters(volumeClusters)
    {}

    // The next piece of at most `most` clusters; nothing when the runs end.
    std::optional<Piece> next(std::int64_t most)
    {
        while (m_run < m_runs.size() && m_within >= m_runs[m_run].length) {
            ++m_run;
            m_within = 0;
        }
        if (m_run >= m_runs.size() || most <= 0)
            return std::nullopt;
        const DataRun& run = m_runs[m_run];
        const std::int64_t count = std::min(most, run.length - m_within);
        Piece piece{Kind::Data, 0, count};
        if (run.hole)
            piece.kind = Kind::Hole;
        else if (run.start < 0 || run.start >= m_volumeClusters || run.length > m_volumeClusters - run.start)
            piece.kind = Kind::Unreadable; // lost with its extension record, or not on this volume
        else
            piece.cluster = run.start + m_within;
        m_within += count;
        return piece;
    }

    std::int64_t volumeClusters() const { return m_volumeClusters; }

private:
    const std::vector<DataRun>& m_runs;
    std::size_t m_run = 0;
    std::int64_t m_within = 0;
    std::int64_t m_volumeClusters = 0;
};

// Clusters of `bytesPerCluster` bytes, a whole number of sectors: the volume's, or an earlier file
// system's.
// `origin` is where that file system's cluster 0 lies on the volume.
bool readClusters(VolumeContext& volume, std::int64_t bytesPerCluster, std::int64_t cluster,
                  std::span<std::uint8_t> into, std::int64_t origin = 0)
{
    std::int64_t position = 0;
    if (cluster < 0 || volume.BytesPerSector <= 0 || origin < 0 ||
        __builtin_mul_overflow(cluster, bytesPerCluster, &position) ||
        __builtin_add_overflow(position, origin, &position)) {
        std::fill(into.begin(), into.end(), std::uint8_t{0});
        return false;
    }
    if (position % volume.BytesPerSector == 0)
        return ReadSectors(volume, static_cast<std::uint64_t>(position / volume.BytesPerSector), into);
    // Clusters of a file system that began inside one of this volume's sectors.
    if (volume.Device && volume.Device->read(static_cast<std::uint64_t>(position), into))
        return true;
    std::fill(into.begin(), into.end(), std::uint8_t{0});
    return false;
}

class ContentWriter
{
public:
    ContentWriter(VolumeContext& volume, const TMFTFile& file, Pump& pump, const std::function<bool()>& keepGoing,
                  const std::function<bool(std::span<const std::uint8_t>)>& sink,
                  const std::function<bool(std::int64_t)>& gap)
        : m_volume(volume), m_file(file), m_pump(pump), m_keepGoing(keepGoing), m_sink(sink), m_gap(gap),
          m_bytesPerCluster(file.BytesPerCluster > 0 ? file.BytesPerCluster : volume.BytesPerCluster),
          m_map(volumeClusterCount(volume, m_bytesPerCluster), file.ClusterList)
    {}

    ContentReport run()
    {
        if (m_file.Resident) {
            const auto length = std::min<std::size_t>(
                m_file.ResidentBuf.size(), static_cast<std::size_t>(std::max<std::int64_t>(m_file.ResidentLength, 0)));
            if (length > 0 && !m_sink(std::span(m_file.ResidentBuf).first(length)))
                m_report.outputFailed = true;
            m_report.written = static_cast<std::int64_t>(length);
            return m_report;
        }
        if (m_bytesPerCluster <= 0 || m_volume.BytesPerSector <= 0 || m_file.FSize <= 0)
            return m_report;
        m_report.partLost = m_file.Incomplete;
        if (m_file.UndecodableCompressionUnit >= 0) {
            // Read as it lies, the stream would be LZNT1 bytes; decoded with a guessed unit, other
            // bytes in other places. Neither is the file.
            m_report.undecodableUnit = m_file.UndecodableCompressionUnit;
            m_report.damaged = true;
            return m_report;
        }
        const bool done = m_file.CompressionUnit > 0 ? compressed() : plain();
        if (done && m_report.written < m_file.FSize)
            tail();
        m_report.damaged = m_report.damaged || m_report.zeroedBytes > 0 || m_report.badUnits > 0 ||
            m_report.recordDamaged || m_report.partLost;
        return m_report;
    }

private:
    bool goOn()
    {
        m_pump.step();
        if (m_keepGoing())
            return true;
        m_report.stopped = true;
        return false;
    }

    // Hands `bytes` on, zeroing what lies past the valid length. False when the sink refused.
    bool put(std::span<std::uint8_t> bytes)
    {
        const std::int64_t at = m_report.written;
        if (at + static_cast<std::int64_t>(bytes.size()) > m_file.ValidLength) {
            const std::int64_t from = std::max<std::int64_t>(m_file.ValidLength - at, 0);
            std::fill(bytes.begin() + from, bytes.end(), std::uint8_t{0});
        }
        if (!m_sink(bytes)) {
            m_report.outputFailed = true;
            return false;
        }
        m_report.written += static_cast<std::int64_t>(bytes.size());
        return true;
    }

    std::int64_t left() const { return m_file.FSize - m_report.written; }

    // Counts stored clusters the runs hand over: more than the volume holds is a damaged record,
    // however the runs repeat them. False then.
    bool takeStored(std::int64_t clusters)
    {
        m_storedClusters += clusters;
        if (m_storedClusters <= m_map.volumeClusters())
            return true;
        m_report.recordDamaged = true;
        return false;
    }

    // Zeros for bytes the runs do not give: only while a volume could have held them, as a length
    // beyond that is a damaged record rather than a file.
    bool zeros(std::int64_t bytes, bool unread)
    {
        while (bytes > 0) {
            if (!goOn())
                return false;
            const std::int64_t piece = std::min(bytes, kContentChunk);
            if (unread)
                m_report.zeroedBytes +=
                    std::max<std::int64_t>(std::min(piece, m_file.ValidLength - m_report.written), 0);
            if (m_gap) {
                if (!m_gap(piece)) {
                    m_report.outputFailed = true;
                    return false;
                }
                m_report.written += piece;
            } else {
                m_buffer.assign(static_cast<std::size_t>(piece), 0);
                if (!put(m_buffer))
                    return false;
            }
            bytes -= piece;
        }
        return true;
    }

    bool plain()
    {
        const std::int64_t chunkClusters = std::max<std::int64_t>(kContentChunk / m_bytesPerCluster, 1);
        while (left() > 0) {
            const auto piece = m_map.next(chunkClusters);
            if (!piece)
                return true;
            const std::int64_t bytes = std::min(piece->count * m_bytesPerCluster, left());
            if (piece->kind != ClusterMap::Kind::Hole && !takeStored(piece->count))
                return false;
            if (piece->kind != ClusterMap::Kind::Data || m_report.written >= m_file.ValidLength) {
                if (!zeros(bytes, piece->kind == ClusterMap::Kind::Unreadable))
                    return false;
                continue;
            }
            if (!goOn())
                return false;
            // Whole sectors are read; a piece cut at the file's size is rounded up to them.
            const std::int64_t readBytes =
                (bytes + m_volume.BytesPerSector - 1) / m_volume.BytesPerSector * m_volume.BytesPerSector;
            m_buffer.resize(static_cast<std::size_t>(readBytes));
            if (!readClusters(m_volume, m_bytesPerCluster, piece->cluster, m_buffer, m_file.ClusterOrigin))
                m_report.zeroedBytes +=
                    std::max<std::int64_t>(std::min(bytes, m_file.ValidLength - m_report.written), 0);
            if (!put(std::span(m_buffer).first(static_cast<std::size_t>(bytes))))
                return false;
        }
        return true;
    }

    bool compressed()
    {
        const std::int64_t unitClusters = m_file.CompressionUnit;
        const std::int64_t bpc = m_bytesPerCluster;
        if (unitClusters > kContentChunk / bpc) {
            // No volume compresses in units this large: the record is damaged.
            m_report.recordDamaged = true;
            return false;
        }
        const std::int64_t unitBytes = unitClusters * bpc;
        std::vector<std::uint8_t> stored(static_cast<std::size_t>(unitBytes));
        std::vector<std::uint8_t> unit(static_cast<std::size_t>(unitBytes));
        for (std::int64_t index = 0; left() > 0; ++index) {
            if (!goOn())
                return false;
            // The unit's clusters: those with data come first, then holes.
            std::int64_t real = 0, covered = 0;
            bool unreadable = false;
            while (covered < unitClusters) {
                const auto piece = m_map.next(unitClusters - covered);
                if (!piece)
                    break;
                if (piece->kind == ClusterMap::Kind::Data) {
                    if (!readClusters(m_volume, m_bytesPerCluster, piece->cluster,
                                      std::span(stored).subspan(static_cast<std::size_t>(real * bpc),
                                                                static_cast<std::size_t>(piece->count * bpc)),
                                      m_file.ClusterOrigin))
                        unreadable = true;
                    real += piece->count;
                } else if (piece->kind == ClusterMap::Kind::Unreadable) {
                    unreadable = true;
                    real += piece->count;
                }
                covered += piece->count;
            }
            if (covered == 0)
                return true; // the runs end here
            if (!takeStored(real))
                return false;
            const std::int64_t bytes = std::min(unitBytes, left());
            if (real == 0 && m_gap) {
                if (!zeros(bytes, false))
                    return false;
                continue;
            }
            if (real == unitClusters) {
                // Stored as is: compressing did not make it smaller.
                if (unreadable)
                    m_report.zeroedBytes +=
                        std::max<std::int64_t>(std::min(bytes, m_file.ValidLength - m_report.written), 0);
                std::copy(stored.begin(), stored.end(), unit.begin());
            } else if (real == 0) {
                std::fill(unit.begin(), unit.end(), std::uint8_t{0});
            } else if (unreadable ||
                       !decompressLznt1Unit(std::span(stored).first(static_cast<std::size_t>(real * bpc)), unit)) {
                std::fill(unit.begin(), unit.end(), std::uint8_t{0});
                if (m_report.badUnits++ == 0)
                    m_report.firstBadUnit = index;
            }
            if (!put(std::span(unit).first(static_cast<std::size_t>(bytes))))
                return false;
        }
        return true;
    }

    // The runs ended before the file's size: the rest is zeros while a volume could hold it.
    void tail()
    {
        const std::int64_t missing = left();
        if (missing / m_bytesPerCluster >= m_map.volumeClusters()) {
            m_report.recordDamaged = true;
            return;
        }
        zeros(missing, true);
    }

    VolumeContext& m_volume;
    const TMFTFile& m_file;
    Pump& m_pump;
    const std::function<bool()>& m_keepGoing;
    const std::function<bool(std::span<const std::uint8_t>)>& m_sink;
    const std::function<bool(std::int64_t)>& m_gap;
    std::int64_t m_bytesPerCluster;
    std::int64_t m_storedClusters = 0;
    ClusterMap m_map;
    ContentReport m_report;
    std::vector<std::uint8_t> m_buffer;
};

} // namespace

ContentReport streamFileContent(VolumeContext& volume, const TMFTFile& file, Pump& pump,
                                const std::function<bool()>& keepGoing,
                                const std::function<bool(std::span<const std::uint8_t>)>& sink)
{
    return ContentWriter(volume, file, pump, keepGoing, sink, {}).run();
}

ContentReport streamFileContent(VolumeContext& volume, const TMFTFile& file, Pump& pump,
                                const std::function<bool()>& keepGoing,
                                const std::function<bool(std::span<const std::uint8_t>)>& sink,
                                const std::function<bool(std::int64_t)>& gap)
{
    return ContentWriter(volume, file, pump, keepGoing, sink, gap).run();
}

std::int64_t storedContentBytes(VolumeContext& volume, const TMFTFile& file)
{
    if (file.Resident)
        return static_cast<std::int64_t>(file.ResidentBuf.size());
    const std::int64_t bytesPerCluster = file.BytesPerCluster > 0 ? file.BytesPerCluster : volume.BytesPerCluster;
    if (bytesPerCluster <= 0 || file.FSize <= 0)
        return 0;
    if (file.CompressionUnit > 0)
        return file.FSize; // a unit with any stored cluster comes out whole
    const std::int64_t volumeClusters = volumeClusterCount(volume, bytesPerCluster);
    std::int64_t clusters = 0;
    for (const DataRun& run : file.ClusterList) {
        // Only clusters that can be read are written; the rest, like holes, stay holes.
        if (run.hole || run.length <= 0 || run.start < 0 || run.start >= volumeClusters ||
            run.length > volumeClusters - run.start)
            continue;
        clusters = run.length > volumeClusters - clusters ? volumeClusters : clusters + run.length;
    }
    return clusters >= file.FSize / bytesPerCluster + 1 ? file.FSize : std::min(file.FSize, clusters * bytesPerCluster);
}

} // namespace orv
