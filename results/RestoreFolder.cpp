#include "results/RestoreFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/Utf16.h"
#include "platform/UniqueFd.h"

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

int createTemporary(int folder, std::string& name)
{
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        const int fd =
            ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        // The lock tells a restore started later that this file's writer is alive (the id in the
        // name does too, but not across process namespaces). It goes with the descriptor.
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            // A file system without locks: the process id in the name still guards the file.
        }
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

std::optional<std::string> publishTemporary(int folder, const std::string& temporary, const std::string& name)
{
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        errno = EINVAL;
        return std::nullopt;
    }
    const auto dot = name.rfind('.');
    const bool extension = dot != std::string::npos && dot > 0;
    const std::string stem = extension ? name.substr(0, dot) : name;
    const std::string tail = extension ? name.substr(dot) : std::string();
    for (int n = 0; n < 100000; ++n) {
        const std::string candidate = n == 0 ? name : stem + " (" + std::to_string(n) + ")" + tail;
        // RENAME_NOREPLACE: whatever stands under the name (a file, a FIFO, a link) stays as it is.
        if (::renameat2(folder, temporary.c_str(), folder, candidate.c_str(), RENAME_NOREPLACE) == 0)
            return candidate;
        if (errno != EEXIST)
            return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

namespace {

// True unless the process whose id a temporary file's name holds is surely gone. A name without
// an id (or with ours: this run starts only now and writes nothing yet) is judged by its lock alone.
bool writerMayRun(std::string_view name)
{
    name.remove_prefix(kTemporaryPrefix.size());
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash > 9)
        return false;
    pid_t pid = 0;
    for (const char c : name.substr(0, dash)) {
        if (c < '0' || c > '9')
            return false;
        pid = pid * 10 + (c - '0');
    }
    if (pid <= 0 || pid == ::getpid())
        return false;
    // EPERM: it runs, as another user.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

} // namespace

void removeLeftTemporaries(int folder)
{
    const int copy = ::dup(folder);
    if (copy < 0)
        return;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return;
    }
    std::vector<std::string> left;
    while (const dirent* entry = ::readdir(dir))
        if (std::string_view(entry->d_name).starts_with(kTemporaryPrefix))
            left.push_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& name : left) {
        if (writerMayRun(name))
            continue;
        // Opened without following a link and without waiting on a FIFO; the lock is taken only to
        // learn that nobody holds it, and held while the name goes.
        const UniqueFd file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (file.get() >= 0 && ::flock(file.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            continue;
        ::unlinkat(folder, name.c_str(), 0);
    }
}

int openRestoreFolder(const std::filesystem::path& folder)
{
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

int keptPathFolder(int restoreFolder, std::u16string_view volumeFolder, std::filesystem::path& relative)
{
    relative.clear();
    struct stat owner
    {};
    if (::fstat(restoreFolder, &owner) != 0)
        return -1;
    UniqueFd folder(::dup(restoreFolder));
    std::u16string_view rest = volumeFolder;
    if (rest.size() >= 2 && rest[1] == u':')
        rest.remove_prefix(2);
    std::size_t start = 0;
    while (start < rest.size() && folder.get() >= 0) {
        std::size_t end = rest.find(u'\\', start);
        if (end == std::u16string_view::npos)
            end = rest.size();
        if (end > start) {
            std::string part = restoreFileName(rest.substr(start, end - start));
            if (part.empty())
                part.assign(1, '_');
            relative /= part;
            const bool made = ::mkdirat(folder.get(), part.c_str(), 0700) == 0;
            if (!made && errno != EEXIST)
                return -1;
            // O_NOFOLLOW: a link standing in the folder's place fails here, whoever put it there
            // and whenever; a file fails O_DIRECTORY.
            UniqueFd next(::openat(folder.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (next.get() >= 0 && made && ::fchown(next.get(), owner.st_uid, owner.st_gid) != 0) {
                // A file system without owners keeps the folder as made.
            }
            // A folder someone else made in the restore folder would hand them the restored bytes; ours
            // (or the owner's) is fine.
            struct stat found
            {};
            if (next.get() >= 0 &&
                (::fstat(next.get(), &found) != 0 || (found.st_uid != owner.st_uid && found.st_uid != ::geteuid())))
                return -1;
            folder = std::move(next);
        }
        start = end + 1;
    }
    return folder.release();
}

} // namespace orv
