#pragma once

// Files found by their content: the whole-disc scan shows every free cluster it reads to a
// ContentCarving, which notes the clusters where a known format begins. Once the scan has listed
// the files it knows by name (their clusters are "explained"), carve() reads each noted file
// through its format's parser, over the free clusters no listed file explains, and keeps the ones
// whose structure checks out as runs of clusters, never as bytes.

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "platform/SectorDevice.h"
#include "volume/FoundEntry.h"

namespace orv {

struct FoundByContent
{
    std::string extension; // lower case, without the dot: "jpg"
    std::uint64_t firstCluster = 0;
    std::vector<ClusterRun> runs; // the file's clusters in file order
    std::uint64_t size = 0; // bytes
    bool whole = false; // the parser found the file's end with every check passed
    bool contentChecked = false; // the checks covered the content itself (CRCs, a decoder)
    bool guessed = false; // its second fragment was found by a guess of where it continues
};

// What a scan of found files reports for the note it prints.
struct CarvingReport
{
    std::uint64_t candidates = 0; // clusters where a format's signature began
    std::uint64_t fragmentGuesses = 0; // files put together from two fragments
    bool budgetSpent = false; // the fragment search stopped at its budget
};

class ContentCarving
{
public:
    struct Geometry
    {
        std::uint64_t bytesPerCluster = 0;
        std::uint64_t firstCluster = 0; // the number of the volume's first cluster (2 on FAT)
        std::uint64_t lastCluster = 0;
        std::uint64_t firstPosition = 0; // the byte position of the first cluster on the device
    };

    // The file system under the scan says where its clusters lie and which ones are in use.
    void setVolume(const Geometry& geometry, std::function<bool(std::uint64_t)> inUse);
    const Geometry& geometry() const { return m_geometry; }
    bool ready() const { return m_geometry.bytesPerCluster > 0 && m_inUse != nullptr; }

    // The bytes of consecutive clusters from `firstCluster` as the sweep read them; in-use clusters
    // among them are passed over. Clusters are shown in increasing order.
    void look(std::uint64_t firstCluster, std::span<const std::uint8_t> bytes);

    // `look` in two halves: what each cluster shows, worked out on any thread (it changes
    // nothing), then noted in increasing cluster order. The sweep glances at a piece on the thread
    // that read it, while its bytes are fresh in that core's cache.
    enum class TextState : std::uint8_t { None, Full, Ending };
    static constexpr std::uint8_t kNoFormat = 0xFF;
    struct Sign
    {
        bool free = true; // in use, or outside the volume: passed over
        std::uint8_t format = kNoFormat; // the index in carve::formats() of the one that begins here
        TextState text = TextState::None;
        bool mayBeginText = false;
    };
    struct Glance
    {
        std::uint64_t firstCluster = 0;
        std::vector<Sign> signs; // one per cluster shown
    };
    void glance(std::uint64_t firstCluster, std::span<const std::uint8_t> bytes, Glance& out) const;
    void note(const Glance& glance);

    // Clusters (or device bytes) a file the scan listed by name takes: never found by content.
    void explainClusters(std::uint64_t first, std::uint64_t count);
    void explainBytes(std::uint64_t position, std::uint64_t length);

    // Reads every noted file; `keepGoing` is asked between files and ends the work early, and
    // `progress` hears how many of the noted beginnings were read, of how many.
    std::vector<FoundByContent> carve(SectorDevice& device, const std::function<bool()>& keepGoing,
                                      const std::function<void(std::uint64_t, std::uint64_t)>& progress = {});

    const CarvingReport& report() const { return m_report; }
    std::uint64_t bytePosition(std::uint64_t cluster) const
    {
        return m_geometry.firstPosition + (cluster - m_geometry.firstCluster) * m_geometry.bytesPerCluster;
    }
    std::uint64_t bytesPerCluster() const { return m_geometry.bytesPerCluster; }

    // A format's index in carve::formats(), or kText for a run of text clusters.
    static constexpr std::uint8_t kText = 0xFF;
    struct Candidate
    {
        std::uint64_t cluster;
        std::uint8_t format;
    };

private:
    Geometry m_geometry;
    std::function<bool(std::uint64_t)> m_inUse;
    std::vector<Candidate> m_candidates;
    std::vector<ClusterRun> m_explained; // merged and sorted by carve()
    TextState m_previousText = TextState::None;
    Glance m_glance; // of `look`, kept for its memory
    CarvingReport m_report;

    friend class CarvedFile;
    friend class Carver;
};

// The text clusters look at: how a run of text begins and ends (exposed for the tests).
bool isTextCluster(std::span<const std::uint8_t> bytes, std::size_t* textBytes);

} // namespace orv
