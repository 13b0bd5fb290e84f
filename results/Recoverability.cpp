#include "results/Recoverability.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "results/FileContent.h"
#include "volume/BootSector.h"
#include "volume/SectorIo.h"

namespace orv {

std::string_view gradeKey(Grade grade)
{
    switch (grade) {
    case Grade::Poor: return "Poor";
    case Grade::Average: return "Average";
    case Grade::Good: return "Good";
    case Grade::None: break;
    }
    return {};
}

static_assert(std::endian::native == std::endian::little, "the bitmap is counted in little-endian words");

std::int64_t countUsedClusters(std::span<const std::uint8_t> bitmap, std::int64_t start, std::int64_t count)
{
    const auto bits = static_cast<std::int64_t>(bitmap.size()) * 8;
    if (start < 0 || count <= 0 || start >= bits)
        return 0;
    std::int64_t end = std::min(bits, start > bits - count ? bits : start + count);
    std::int64_t used = 0;
    std::int64_t c = start;
    const auto bit = [&](std::int64_t k) { return (bitmap[static_cast<std::size_t>(k / 8)] >> (k % 8)) & 1; };
    for (; c < end && c % 64 != 0; ++c)
        used += bit(c);
    for (; c + 64 <= end; c += 64) {
        std::uint64_t word = 0;
        std::memcpy(&word, bitmap.data() + c / 8, 8); // bit k of byte j is cluster 8j + k: little-endian order
        used += std::popcount(word);
    }
    for (; c < end; ++c)
        used += bit(c);
    return used;
}

int recoverabilityPercent(std::int64_t used, std::int64_t total)
{
    if (total <= 0)
        return 0;
    // used x 100 / total, rounded to nearest with halves to even, in integers. No volume has 2^56
    // clusters, so the product cannot overflow.
    used = std::clamp<std::int64_t>(used, 0, total);
    const std::int64_t scaled = std::min<std::int64_t>(used, std::int64_t{1} << 56) * 100;
    total = std::min<std::int64_t>(total, std::int64_t{1} << 56);
    std::int64_t quotient = scaled / total;
    const std::int64_t remainder = scaled % total;
    if (2 * remainder > total || (2 * remainder == total && quotient % 2 == 1))
        ++quotient;
    return 100 - static_cast<int>(quotient);
}

bool SignatureMatches(VolumeContext& volume, std::int64_t cluster, std::u16string_view extension)
{
    if (volume.FileSystemCode != FileSystemKind::Ntfs || volume.BytesPerSector <= 0)
        return false;
    std::vector<std::uint8_t> sector(static_cast<std::size_t>(volume.BytesPerSector));
    const std::int64_t first = ClusterToSector(volume, cluster);
    if (first < 0 || !ReadSectors(volume, static_cast<std::uint64_t>(first), sector))
        return false;
    // Printable bytes only, letters in upper case: a signature may stand anywhere in the sector
    // and blanks or control bytes between its letters do not break it.
    std::string text;
    for (const std::uint8_t b : sector)
        if (b > 32)
            text += static_cast<char>(b >= 'a' && b <= 'z' ? b - 32 : b);
    if (text.empty())
        return false;
    const auto has = [&](const char* word) { return text.find(word) != std::string::npos; };
    if (extension == u".JPG")
        return has("JF");
    if (extension == u".BMP")
        return has("BM");
    if (extension == u".PNG")
        return has("PNG");
    if (extension == u".GIF")
        return has("GIF");
    if (extension == u".SWF")
        return has("FW");
    if (extension == u".HTM")
        return has("HTM");
    if (extension == u".HTML")
        return has("HTML");
    if (extension == u".PSD")
        return has("BPS");
    if (extension == u".DOC" || extension == u".XLS" || extension == u".PPT")
        return sector[0] == 0xD0 && sector[1] == 0xCF;
    return false;
}

namespace {

std::u16string upperExtension(std::u16string_view name)
{
    const auto dot = name.rfind(u'.');
    std::u16string extension(dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot));
    for (char16_t& c : extension)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - 32);
    return extension;
}

// An earlier file system's runs in clusters of the volume, each widened to the clusters it
// touches: the $Bitmap that tells which are in use now counts in those.
std::vector<DataRun> inVolumeClusters(const std::vector<DataRun>& runs, std::int64_t from, std::int64_t to)
{
    std::vector<DataRun> converted;
    // Both sizes are powers of two: one is a whole multiple of the other.
    const auto scale = [&](std::int64_t clusters, bool up) -> std::int64_t {
        if (from >= to) {
            const std::int64_t factor = from / to;
            constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
            return clusters > kMost / factor ? kMost : clusters * factor;
        }
        const std::int64_t divisor = to / from;
        return clusters / divisor + (up && clusters % divisor != 0);
    };
    for (const DataRun& run : runs) {
        if (run.hole || run.start < 0 || run.length <= 0) {
            converted.push_back({run.start, scale(run.length, true), run.hole});
            continue;
        }
        const std::int64_t first = scale(run.start, false);
        const std::int64_t end = run.length > std::numeric_limits<std::int64_t>::max() - run.start
            ? std::numeric_limits<std::int64_t>::max()
            : scale(run.start + run.length, true);
        converted.push_back({first, end - first, false});
    }
    return converted;
}

} // namespace

Grade AnalyzeProbabilityNTFS(ScanSession& session, std::int64_t recordOffset, std::u16string_view fileName)
{
    return AnalyzeProbabilityNTFS(session.volume, session.MFTFile, recordOffset, fileName);
}

Grade AnalyzeProbabilityNTFS(VolumeContext& volume, TMFTFile& decoded, std::int64_t recordOffset,
                             std::u16string_view fileName)
{
    if (recordOffset < 0 ||
        DecodeRecordNTFS(volume, static_cast<std::size_t>(recordOffset), decoded) == RecordStatus::NotARecord)
        return Grade::None;
    const TMFTFile& file = decoded;
    if (file.Encrypted)
        return Grade::Poor; // its clusters hold ciphertext, whatever state they are in
    if (file.FSize == 0)
        return Grade::Poor;
    if (file.Resident)
        return Grade::Good;
    // Clusters that hold data count by their state in the bitmap; a hole is recoverable by
    // definition (its content is zeros), except inside a compressed file, where it is only the
    // room the compression saved. What cannot be read at all (lost with an extension record, or
    // outside the volume) counts as overwritten.
    const bool compressed = file.CompressionUnit > 0;
    const std::int64_t volumeClusters = volumeClusterCount(volume);
    std::int64_t total = 0, used = 0;
    bool lost = file.Incomplete;
    const auto add = [](std::int64_t& sum, std::int64_t n) {
        sum = n > std::numeric_limits<std::int64_t>::max() - sum ? std::numeric_limits<std::int64_t>::max() : sum + n;
    };
    std::optional<std::int64_t> firstCluster;
    const bool earlierClusters = file.BytesPerCluster > 0 && volume.BytesPerCluster > 0 &&
        file.BytesPerCluster != volume.BytesPerCluster &&
        (file.BytesPerCluster % volume.BytesPerCluster == 0 || volume.BytesPerCluster % file.BytesPerCluster == 0);
    const std::vector<DataRun> runs = earlierClusters
        ? inVolumeClusters(file.ClusterList, file.BytesPerCluster, volume.BytesPerCluster)
        : file.ClusterList;
    for (const DataRun& run : runs) {
        if (run.length <= 0)
            continue;
        if (run.hole) {
            if (!compressed)
                add(total, run.length);
            continue;
        }
        add(total, run.length);
        if (run.start < 0 || run.start >= volumeClusters || run.length > volumeClusters - run.start) {
            add(used, run.length);
            lost = true;
            continue;
        }
        if (!firstCluster)
            firstCluster = run.start;
        add(used, countUsedClusters(volume.VolumeBitmap, run.start, run.length));
    }
    // Runs that end before the file does leave its end unknown.
    if (!compressed && volume.BytesPerCluster > 0) {
        const std::int64_t needed = file.FSize / volume.BytesPerCluster + (file.FSize % volume.BytesPerCluster != 0);
        if (needed > total) {
            const std::int64_t missing = std::min(needed - total, volumeClusters);
            add(total, missing);
            add(used, missing);
            lost = true;
        }
    }
    if (total == 0)
        return Grade::Poor;
    int percent = recoverabilityPercent(used, total);
    if (lost)
        percent = std::min(percent, 80); // never Good: some of it cannot come back
    if (percent < 50 && firstCluster) {
        static constexpr std::u16string_view kSigned[] = {u".JPG", u".BMP",  u".PNG", u".PSD", u".GIF", u".SWF",
                                                          u".HTM", u".HTML", u".DOC", u".XLS", u".PPT"};
        const std::u16string extension = upperExtension(fileName);
        if (std::find(std::begin(kSigned), std::end(kSigned), extension) != std::end(kSigned) &&
            SignatureMatches(volume, *firstCluster, extension))
            percent = 50;
    }
    return percent < 50 ? Grade::Poor : percent <= 80 ? Grade::Average : Grade::Good;
}

} // namespace orv
