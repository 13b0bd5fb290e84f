#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

// Where a listed file lies, as the first field of its stored value says: on NTFS the offset of its
// record in MftBuffer (RecordOffset, written as a decimal number), on FAT and exFAT its place in
// the session's listed directory entries (written "e" and the number), which keep what the
// entries said and where they lie; for a file found by its content in the whole-disc scan, its
// place in the session's found files (written "c" and the number); for a file a Volume Shadow Copy holds, the copy and the offset of
// the record in that copy's own $MFT (written "s" and the number). Everything that works on a
// listed file (restore, preview, wipe, grade) takes it to the file system that listed it.
struct FileLocator
{
    enum class Kind : std::uint8_t { MftRecord, DirectoryEntry, ShadowCopyRecord, FoundByContent };
    Kind kind = Kind::MftRecord;
    std::int64_t value = 0;
    bool operator==(const FileLocator&) const = default;
};

// A shadow copy's record packs the copy's number (1 to 2^14) above the offset in its $MFT (below 2^48).
inline constexpr int kShadowOffsetBits = 48;
inline constexpr std::int64_t kShadowOffsetMask = (std::int64_t{1} << kShadowOffsetBits) - 1;
inline constexpr int kMostShadowCopies = 1 << 14;

// The locator of the record at `recordOffset` of copy `copy`; nothing when either lies out of range.
inline std::optional<FileLocator> shadowCopyLocator(int copy, std::int64_t recordOffset)
{
    if (copy < 1 || copy > kMostShadowCopies || recordOffset < 0 || recordOffset > kShadowOffsetMask)
        return std::nullopt;
    return FileLocator{FileLocator::Kind::ShadowCopyRecord,
                       (static_cast<std::int64_t>(copy) << kShadowOffsetBits) | recordOffset};
}
inline int shadowCopyOf(const FileLocator& locator)
{
    return static_cast<int>(locator.value >> kShadowOffsetBits);
}
inline std::int64_t shadowRecordOffsetOf(const FileLocator& locator)
{
    return locator.value & kShadowOffsetMask;
}

// The locator a stored value's first field names; nothing for a field that names none.
std::optional<FileLocator> parseLocator(std::u16string_view field);
// The field for a locator, as parseLocator reads it.
std::u16string locatorText(const FileLocator& locator);

} // namespace orv
