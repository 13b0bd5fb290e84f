#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

// Where a listed file lies, as the first field of its stored value says: on NTFS the offset of its
// record in MftBuffer (RecordOffset, written as a decimal number), on FAT and exFAT its place in
// the session's listed directory entries (written "e" and the number), which keep what the
// entries said and where they lie. Everything that works on a listed file (restore, preview, wipe,
// grade) takes it to the file system that listed it.
struct FileLocator
{
    enum class Kind : std::uint8_t { MftRecord, DirectoryEntry };
    Kind kind = Kind::MftRecord;
    std::int64_t value = 0;
    bool operator==(const FileLocator&) const = default;
};

// The locator a stored value's first field names; nothing for a field that names none.
std::optional<FileLocator> parseLocator(std::u16string_view field);
// The field for a locator, as parseLocator reads it.
std::u16string locatorText(const FileLocator& locator);

} // namespace orv
