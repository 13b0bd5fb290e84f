#include "results/Restore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "base/FdTransfer.h"
#include "base/Utf16.h"
#include "platform/UniqueFd.h"
#include "results/FileContent.h"
#include "results/FileSystem.h"
#include "results/RestoreFolder.h"

namespace orv {

RestoreOutcome UndeleteFile(ScanSession& session, const FileLocator& locator, std::u16string_view name, int row,
                            int folder, const std::filesystem::path& folderPath, Pump& pump,
                            const std::function<bool()>& keepGoing,
                            const std::function<void(std::int64_t, std::int64_t)>& written,
                            const std::u16string* stream)
{
    RestoreOutcome outcome;
    if (!keepGoing())
        return outcome;
    FileSystem& fileSystem = fileSystemOf(session);
    const OpenedFile file =
        stream ? fileSystem.openStream(session, locator, *stream) : fileSystem.open(session, locator);
    if (!file.found) {
        outcome.problem = RestoreOutcome::Problem::NotOnVolume;
        outcome.reason = file.reason;
        return outcome;
    }
    if (file.size == 0 && !file.emptyIsWhole) {
        outcome.problem = RestoreOutcome::Problem::Empty;
        outcome.reason = "the file is empty";
        return outcome;
    }

    // What the file needs on disk, its holes left as holes, against what the folder's file system
    // has left: a file that cannot fit is refused before anything is written, and the others go on.
    const std::int64_t needed = file.storedBytes;
    struct statvfs space
    {};
    if (::fstatvfs(folder, &space) == 0 && space.f_frsize > 0) {
        const std::uint64_t blocks = space.f_bavail;
        const std::uint64_t freeBytes = blocks > std::numeric_limits<std::uint64_t>::max() / space.f_frsize
            ? std::numeric_limits<std::uint64_t>::max()
            : blocks * space.f_frsize;
        if (static_cast<std::uint64_t>(needed) > freeBytes) {
            outcome.status = RestoreOutcome::Status::Failed;
            outcome.problem = RestoreOutcome::Problem::NoRoom;
            outcome.reason = "not enough free space in the restore folder: the file needs " + std::to_string(needed) +
                " bytes, " + std::to_string(freeBytes) + " are free";
            return outcome;
        }
    }

    std::string temporary;
    UniqueFd out(createTemporary(folder, temporary));
    if (out.get() < 0) {
        outcome.status = RestoreOutcome::Status::Failed;
        outcome.outputError = true; // the restore folder refuses files: every other file would fail too
        outcome.problem = RestoreOutcome::Problem::CannotCreate;
        outcome.error = errno;
        outcome.reason = "cannot create a file in the restore folder: " + std::string(std::strerror(errno));
        return outcome;
    }
    // The bytes of a deleted file are private to whoever owns the restore folder (under pkexec, the
    // user who started the program, not root).
    struct stat owner
    {};
    if (::fstat(folder, &owner) == 0 && ::fchown(out.get(), owner.st_uid, owner.st_gid) != 0 && errno != EPERM) {
        // A folder on a file system without owners keeps the file as made; that is no failure.
    }
    const auto discard = [&] { ::unlinkat(folder, temporary.c_str(), 0); };

    int writeError = 0;
    std::int64_t total = 0;
    const ContentReport content = fileSystem.stream(
        session, pump, keepGoing,
        [&](std::span<const std::uint8_t> bytes) {
            if (writeAll(out.get(), bytes)) {
                total += static_cast<std::int64_t>(bytes.size());
                if (written)
                    written(total, file.size);
                return true;
            }
            writeError = errno;
            return false;
        },
        [&](std::int64_t bytes) {
            // Zeros the volume never stored stay a hole here too: the file keeps its bytes and
            // takes no more room than the original did.
            if (::lseek(out.get(), static_cast<off_t>(bytes), SEEK_CUR) < 0) {
                writeError = errno;
                return false;
            }
            total += bytes;
            if (written)
                written(total, file.size);
            return true;
        });
    // A file that ends in a hole gets its size here.
    if (!content.outputFailed && writeError == 0 && ::ftruncate(out.get(), static_cast<off_t>(total)) != 0)
        writeError = errno;
    outcome.bytes = content.written;
    outcome.stopped = content.stopped;
    if (!content.outputFailed && writeError == 0 && !content.stopped && ::fsync(out.get()) != 0)
        writeError = errno;
    if (::close(out.release()) != 0 && !content.outputFailed && writeError == 0)
        writeError = errno;
    if (content.outputFailed || writeError != 0) {
        discard();
        outcome.status = RestoreOutcome::Status::Failed;
        outcome.outputError = true;
        outcome.problem = RestoreOutcome::Problem::CannotWrite;
        outcome.error = writeError ? writeError : EIO;
        outcome.reason = "writing failed: " + std::string(std::strerror(writeError ? writeError : EIO));
        return outcome;
    }
    if (content.stopped) {
        discard();
        outcome.status = RestoreOutcome::Status::Stopped;
        outcome.reason = "stopped before its end; the part written is removed";
        return outcome;
    }
    std::optional<std::string> given = publishTemporary(folder, temporary, restoreFileName(name));
    if (!given && (errno == EINVAL || errno == ENAMETOOLONG || errno == EILSEQ))
        given = publishTemporary(folder, temporary, "File" + std::to_string(row));
    if (!given) {
        const int error = errno;
        discard();
        outcome.status = RestoreOutcome::Status::Failed;
        outcome.outputError = true;
        outcome.problem = RestoreOutcome::Problem::CannotName;
        outcome.error = error;
        outcome.reason = "cannot name the file in the restore folder: " + std::string(std::strerror(error));
        return outcome;
    }
    outcome.path = folderPath / *given;

    outcome.status = content.damaged ? RestoreOutcome::Status::Damaged : RestoreOutcome::Status::Restored;
    outcome.reason = content.reason();
    if (file.encrypted) {
        outcome.status = RestoreOutcome::Status::Encrypted;
        outcome.reason = "the file is encrypted (EFS): its bytes are ciphertext" +
            (outcome.reason.empty() ? "" : "; " + outcome.reason);
    }
    return outcome;
}

RestoreOutcome UndeleteFileNTFS(ScanSession& session, std::int64_t recordOffset, std::u16string_view name, int row,
                                int folder, const std::filesystem::path& folderPath, Pump& pump,
                                const std::function<bool()>& keepGoing,
                                const std::function<void(std::int64_t, std::int64_t)>& written)
{
    return UndeleteFile(session, {FileLocator::Kind::MftRecord, recordOffset}, name, row, folder, folderPath, pump,
                        keepGoing, written);
}

RestoreOutcome UndeleteFileNTFS(ScanSession& session, std::int64_t recordOffset, std::u16string_view name, int row,
                                const std::filesystem::path& folder, Pump& pump, const std::function<bool()>& keepGoing,
                                const std::function<void(std::int64_t, std::int64_t)>& written)
{
    const UniqueFd dir(openRestoreFolder(folder));
    if (dir.get() < 0) {
        RestoreOutcome outcome;
        outcome.status = RestoreOutcome::Status::Failed;
        outcome.outputError = true;
        outcome.problem = RestoreOutcome::Problem::CannotOpenFolder;
        outcome.error = errno;
        outcome.reason = "cannot open the restore folder: " + std::string(std::strerror(errno));
        return outcome;
    }
    return UndeleteFileNTFS(session, recordOffset, name, row, dir.get(), folder, pump, keepGoing, written);
}

} // namespace orv
