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
// name is never opened), readable by its owner only. Its name, which holds this process's id, goes
// to `name`; the descriptor, which holds a lock on the file while it is open, or -1 with errno set.
int createTemporary(int folder, std::string& name);

// Gives the whole temporary file its final name: `name` when it is free, else "stem (1).ext",
// "stem (2).ext"...; an existing file is never replaced. The name given, or nothing when `name`
// cannot be a name here (errno set).
std::optional<std::string> publishTemporary(int folder, const std::string& temporary, const std::string& name);

// The prefix of the temporary files ("PREFIX<pid>-<n>"): a run that was killed leaves only such a
// file, which the next restore into that folder removes.
inline constexpr std::string_view kTemporaryPrefix = ".orvandel-restore-";

// Removes the temporary files a killed restore left directly inside `folder`. Another restore into
// the same folder may be writing one right now: a file is removed only when its writer is gone,
// that is when the process its name holds no longer runs and nobody holds its lock.
void removeLeftTemporaries(int folder);

// The restore folder, opened once for a whole run: every file and kept-path folder is then made
// relative to this descriptor, so swapping the folder (or a folder above it) for a link during the
// run cannot send a byte elsewhere. A link in the folder's own place is refused. -1 with errno set.
int openRestoreFolder(const std::filesystem::path& folder);

// The folder a file goes to when its path is kept, opened: the restore folder plus the file's
// folder on the volume ("C:\Docs\Old\"), drive letter dropped, each name made safe ("_" for one
// that cannot be a name). Walked one name at a time from the restore folder's descriptor; a
// missing folder is made private (0700) and given the restore folder's owner, and a link or a file
// that stands where a folder should be fails the walk, so a link planted in the restore folder never
// leads out of it. `relative` gets the folder's path below the restore folder, for reports.
// -1 when a folder cannot be made or opened.
int keptPathFolder(int restoreFolder, std::u16string_view volumeFolder, std::filesystem::path& relative);

} // namespace orv
