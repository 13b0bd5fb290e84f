#include "RestoreFolder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "Utf16.h"

namespace orv {

std::string restoreFileName(std::u16string_view name)
{
    std::string local = toUtf8(name);
    for (char& c : local)
        if (c == '/' || c == '\0')
            c = '_';
    if (local.empty() || local == "." || local == "..")
        return {};
    return local;
}

int createInFolder(int folder, const std::string& name)
{
    if (name.empty() || name.find('/') != std::string::npos)
        return -1;
    return ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
}

std::optional<std::filesystem::path> keptPathFolder(const std::filesystem::path& restoreFolder,
                                                    std::u16string_view volumeFolder)
{
    std::filesystem::path folder = restoreFolder;
    std::u16string_view rest = volumeFolder;
    if (rest.size() >= 2 && rest[1] == u':')
        rest.remove_prefix(2);
    std::size_t start = 0;
    while (start < rest.size()) {
        std::size_t end = rest.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = rest.size();
        if (end > start) {
            std::string part = restoreFileName(rest.substr(start, end - start));
            if (part.empty())
                part.assign(1, '_');
            folder /= part;
            struct stat info {};
            if (::lstat(folder.c_str(), &info) == 0) {
                if (!S_ISDIR(info.st_mode))
                    return std::nullopt; // a link or a file stands where the folder should be
            } else if (::mkdir(folder.c_str(), 0755) != 0) {
                return std::nullopt;
            }
        }
        start = end + 1;
    }
    return folder;
}

} // namespace orv
