#include "scan/RecycleBin.h"

#include <algorithm>
#include <vector>

#include "ntfs/MftRecord.h"
#include "ntfs/VolumeContext.h"
#include "volume/LeReader.h"
#include "volume/SectorIo.h"

namespace orv {

namespace {

constexpr std::size_t kPathAt = 0x18; // version 1: the path, 260 UTF-16 characters
constexpr std::size_t kVersion1PathChars = 260;
constexpr std::size_t kLengthAt = 0x18; // version 2: the path's length in characters, its NUL included
constexpr std::size_t kVersion2PathAt = 0x1C;
// Windows' longest path; a larger count is not an $I file's.
constexpr std::uint32_t kLongestPathChars = 32768;
// An $I file is a few hundred bytes; version 2 holds at most the longest path.
constexpr std::int64_t kLargestInfo = kVersion2PathAt + 2 * kLongestPathChars;

// The UTF-16 text of `chars` characters at `at`, up to its first NUL.
std::u16string textUpToNul(const LeReader& reader, std::size_t at, std::size_t chars)
{
    std::u16string text;
    for (std::size_t i = 0; i < chars; ++i) {
        const auto c = reader.u16(at + 2 * i);
        if (!c || *c == 0)
            break;
        text.push_back(static_cast<char16_t>(*c));
    }
    return text;
}

} // namespace

std::optional<RecycleInfo> parseRecycleInfo(std::span<const std::uint8_t> bytes)
{
    const LeReader reader(bytes);
    const auto version = reader.u64(0);
    const auto size = reader.u64(0x08);
    const auto when = reader.u64(0x10);
    if (!version || !size || !when)
        return std::nullopt;
    RecycleInfo info;
    if (*version == 1) {
        if (!reader.has(kPathAt, 2))
            return std::nullopt;
        // Windows writes the whole field; a shorter file still names its path up to where it ends.
        const std::size_t chars = std::min(kVersion1PathChars, (bytes.size() - kPathAt) / 2);
        info.originalPath = textUpToNul(reader, kPathAt, chars);
    } else if (*version == 2) {
        const auto chars = reader.u32(kLengthAt);
        if (!chars || *chars == 0 || *chars > kLongestPathChars ||
            !reader.has(kVersion2PathAt, 2 * std::size_t{*chars}))
            return std::nullopt;
        info.originalPath = textUpToNul(reader, kVersion2PathAt, *chars);
    } else {
        return std::nullopt;
    }
    if (info.originalPath.empty())
        return std::nullopt;
    info.version = static_cast<int>(*version);
    info.size = static_cast<std::int64_t>(*size);
    info.deletedTime = *when;
    return info;
}

bool isRecycleBinFolder(std::u16string_view name)
{
    constexpr std::u16string_view kBin = u"$recycle.bin";
    return name.size() == kBin.size() && std::equal(name.begin(), name.end(), kBin.begin(), [](char16_t a, char16_t b) {
               return (a >= u'A' && a <= u'Z' ? static_cast<char16_t>(a + 32) : a) == b;
           });
}

std::optional<std::u16string_view> recycleId(std::u16string_view name, char16_t marker)
{
    if (name.size() < 3 || name[0] != u'$' || name[1] != marker)
        return std::nullopt;
    // The bin's own folder begins like a content name.
    if (isRecycleBinFolder(name))
        return std::nullopt;
    return name.substr(2);
}

ListedPlace originalPlace(std::string_view drive, std::u16string_view originalPath)
{
    std::u16string_view path = originalPath;
    // "C:\..." names the volume by the letter Windows gave it; "\\?\C:\..." the same, longer.
    if (path.starts_with(u"\\\\?\\"))
        path.remove_prefix(4);
    if (path.size() >= 2 && path[1] == u':')
        path.remove_prefix(2);
    std::vector<std::u16string_view> steps;
    while (!path.empty()) {
        const std::size_t end = std::min(path.find_first_of(u"\\/"), path.size());
        const std::u16string_view step = path.substr(0, end);
        if (!step.empty() && step != u"." && step != u"..")
            steps.push_back(step);
        path.remove_prefix(std::min(end + 1, path.size()));
    }
    ListedPlace place;
    place.folder = fromAscii(drive) + u"\\";
    if (steps.empty())
        return place;
    for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
        place.folder += steps[i];
        place.folder += u'\\';
    }
    place.name = steps.back();
    return place;
}

void RecycleBinIndex::add(std::int64_t folder, std::u16string_view id, RecycleInfo info)
{
    m_infos.insert_or_assign({folder, std::u16string(id)}, std::move(info));
}

const RecycleInfo* RecycleBinIndex::find(std::int64_t folder, std::u16string_view id) const
{
    const auto it = m_infos.find(std::pair(folder, std::u16string(id)));
    return it == m_infos.end() ? nullptr : &it->second;
}

std::optional<RecycleInfo> readRecycleInfo(VolumeContext& volume, std::int64_t recordOffset)
{
    TMFTFile file;
    if (recordOffset < 0 || DecodeRecordNTFS(volume, static_cast<std::size_t>(recordOffset), file) != RecordStatus::Ok)
        return std::nullopt;
    if (file.Resident)
        return parseRecycleInfo(std::span(file.ResidentBuf)
                                    .first(static_cast<std::size_t>(
                                        std::clamp<std::int64_t>(file.ResidentLength, 0, file.ResidentBuf.size()))));
    // Kept in clusters: its first run holds all of it, as it is never larger than a few clusters.
    // A bare $MFT file has none.
    if (volume.FileSystemCode == FileSystemKind::MftFile)
        return std::nullopt;
    const std::int64_t bytesPerCluster = file.BytesPerCluster > 0 ? file.BytesPerCluster : volume.BytesPerCluster;
    if (file.ClusterList.empty() || file.ClusterList.front().hole || file.Encrypted || file.CompressionUnit > 0 ||
        bytesPerCluster <= 0 || volume.BytesPerSector <= 0 || file.FSize <= 0 || file.FSize > kLargestInfo)
        return std::nullopt;
    const DataRun& run = file.ClusterList.front();
    std::int64_t first = 0, runBytes = 0;
    if (run.start < 0 || __builtin_mul_overflow(run.start, bytesPerCluster, &first) ||
        __builtin_mul_overflow(run.length, bytesPerCluster, &runBytes) || runBytes < file.FSize)
        return std::nullopt;
    const std::int64_t sectors = (file.FSize + volume.BytesPerSector - 1) / volume.BytesPerSector;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(sectors * volume.BytesPerSector));
    if (!ReadSectors(volume, static_cast<std::uint64_t>(first / volume.BytesPerSector), bytes))
        return std::nullopt;
    bytes.resize(static_cast<std::size_t>(file.FSize));
    return parseRecycleInfo(bytes);
}

} // namespace orv
