#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

// What a restore may make inside the restore folder. Names and folder paths come from the volume,
// so each is made safe here, and nothing built from them reaches outside the restore folder.

// The file name a name from the volume gets in the restore folder: "/" and NUL become "_", and a
// name that is empty, "." or ".." cannot be one, so it gets nothing (the caller falls back).
std::string restoreFileName(std::u16string_view name);

// A new, hidden temporary file directly inside the open folder `folder`, for a file being
// restored: never a file that was there (a FIFO, a hard link or a link planted under a restored
// name is never opened), readable by its owner only. Its name goes to `name`; the descriptor, or
// -1 with errno set.
int createTemporary(int folder, std::string& name);

// Gives the whole temporary file its final name: `name` when it is free, else "stem (1).ext",
// "stem (2).ext"...; an existing file is never replaced. The name given, or nothing when `name`
// cannot be a name here (errno set).
std::optional<std::string> publishTemporary(int folder, const std::string& temporary, const std::string& name);

// The prefix of the temporary files: a run that was killed leaves only such a file, which the
// next restore into that folder removes.
inline constexpr std::string_view kTemporaryPrefix = ".orvandel-restore-";

// Removes the temporary files a killed restore left directly inside `folder`.
void removeLeftTemporaries(int folder);

// The folder a file goes to when its path is kept: the restore folder plus the file's folder on
// the volume ("C:\Docs\Old\"), drive letter dropped, each name made safe ("_" for one that cannot
// be a name). Missing folders are made; nothing when one cannot be made or a link or a file
// stands where a folder should be, so a link planted in the restore folder never leads out of it.
std::optional<std::filesystem::path> keptPathFolder(const std::filesystem::path& restoreFolder,
                                                    std::u16string_view volumeFolder);

} // namespace orv
