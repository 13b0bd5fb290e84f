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

// Creates or replaces `name` directly inside the open folder `folder`; a symbolic link under that
// name is not followed (the open fails), and the name cannot reach another folder. The new
// descriptor, or -1.
int createInFolder(int folder, const std::string& name);

// The folder a file goes to when its path is kept: the restore folder plus the file's folder on
// the volume ("C:\Docs\Old\"), drive letter dropped, each name made safe ("_" for one that cannot
// be a name). Missing folders are made; nothing when one cannot be made or a link or a file
// stands where a folder should be, so a link planted in the restore folder never leads out of it.
std::optional<std::filesystem::path> keptPathFolder(const std::filesystem::path& restoreFolder,
                                                    std::u16string_view volumeFolder);

} // namespace orv
