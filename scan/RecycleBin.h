#pragma once

// The Recycle Bin of an NTFS volume. A file put in the bin becomes "$R<id>.<ext>" (its content)
// in $Recycle.Bin\<SID>\, beside "$I<id>.<ext>", which keeps its original full path, its size and
// when it was put there; emptying the bin deletes both. The scans list a deleted $R file (and the
// tree of a deleted $R folder) under the original folder and name its $I gives.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace orv {

struct VolumeContext;

// What an $I file says.
struct RecycleInfo
{
    int version = 0; // 1 (Windows Vista to 8.1) or 2 (Windows 10 on)
    std::int64_t size = 0; // of the file or folder when it was put in the bin
    std::uint64_t deletedTime = 0; // FILETIME (UTC)
    std::u16string originalPath; // "C:\Users\...\name.ext" as Windows knew it
};

// The content of an $I file; nothing when it is not one of the two versions or its path does not
// fit in it.
std::optional<RecycleInfo> parseRecycleInfo(std::span<const std::uint8_t> bytes);

// Whether a name is the bin's own folder, "$Recycle.Bin" in any case.
bool isRecycleBinFolder(std::u16string_view name);

// "<id>.<ext>" of a "$R<id>.<ext>" (or "$I" with `marker` 'I') name; nothing for other names,
// the bin's own folder among them.
std::optional<std::u16string_view> recycleId(std::u16string_view name, char16_t marker = u'R');

// Where a file of the bin is listed: the folder (the drive's section, "E:\A\B\") and the name.
// The original path's own drive letter is the one Windows gave the volume; the listing files it
// under the scanned drive. Empty, "." and ".." steps of the path are dropped.
struct ListedPlace
{
    std::u16string folder;
    std::u16string name;
};
ListedPlace originalPlace(std::string_view drive, std::u16string_view originalPath);

// The $I records a scan has read, by the folder that holds them (the SID folder's record number)
// and their id.
class RecycleBinIndex
{
public:
    void add(std::int64_t folder, std::u16string_view id, RecycleInfo info);
    const RecycleInfo* find(std::int64_t folder, std::u16string_view id) const;
    bool empty() const { return m_infos.empty(); }

private:
    std::map<std::pair<std::int64_t, std::u16string>, RecycleInfo, std::less<>> m_infos;
};

// What the listing shows of a file that came out of the bin: when it went in and where from.
struct RecycledFile
{
    std::uint64_t deletedTime = 0; // FILETIME (UTC)
    std::u16string originalPath;
};

// The files of a scan that came out of the bin, by the offset of their record.
using RecycledFiles = std::unordered_map<std::int64_t, RecycledFile>;

// The content of the $I file whose record lies at `recordOffset` of the volume's MftBuffer: its
// resident bytes, or the first clusters of its runs. Nothing when it cannot be read or parsed.
std::optional<RecycleInfo> readRecycleInfo(VolumeContext& volume, std::int64_t recordOffset);

} // namespace orv
