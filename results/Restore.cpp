#include "Restore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "FdTransfer.h"
#include "FileContent.h"
#include "RestoreFolder.h"
#include "UniqueFd.h"
#include "Utf16.h"

namespace orv {


RestoreOutcome UndeleteFileNTFS(ScanSession& session, std::int64_t recordOffset, std::u16string_view name, int row,
                                const std::filesystem::path& folder, Pump& pump,
                                const std::function<bool()>& keepGoing)
{
    RestoreOutcome outcome;
    if (!keepGoing())
        return outcome;
    if (recordOffset < 0 ||
        DecodeRecordNTFS(session.volume, static_cast<std::size_t>(recordOffset), session.MFTFile) == RecordStatus::NotARecord) {
        outcome.reason = "no MFT record at this offset";
        return outcome;
    }
    const TMFTFile& file = session.MFTFile;
    if (file.FSize == 0) {
        outcome.reason = "the file is empty";
        return outcome;
    }

    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) {
        outcome.status = RestoreOutcome::Status::Failed;
        outcome.outputError = true;
        outcome.reason = "cannot open the restore folder: " + std::string(std::strerror(errno));
        return outcome;
    }
    std::string outputName = restoreFileName(name);
    int created = createInFolder(dir.get(), outputName);
    if (created < 0) {
        outputName = "File" + std::to_string(row);
        created = createInFolder(dir.get(), outputName);
    }
    UniqueFd out(created);
    if (out.get() < 0) {
        outcome.status = RestoreOutcome::Status::Failed;
        outcome.reason = "cannot create the file: " + std::string(std::strerror(errno));
        return outcome;
    }
    outcome.path = folder / outputName;

    int writeError = 0;
    const ContentReport content = streamFileContent(session.volume, file, pump, keepGoing, [&](std::span<const std::uint8_t> bytes) {
        if (writeAll(out.get(), bytes))
            return true;
        writeError = errno;
        return false;
    });
    outcome.bytes = content.written;
    outcome.stopped = content.stopped;
    if (::close(out.release()) != 0 && !content.outputFailed)
        writeError = errno;
    if (content.outputFailed || writeError != 0) {
        outcome.status = RestoreOutcome::Status::Failed;
        outcome.outputError = true;
        outcome.reason = "writing failed: " + std::string(std::strerror(writeError ? writeError : EIO));
        return outcome;
    }
    outcome.status = content.damaged ? RestoreOutcome::Status::Damaged : RestoreOutcome::Status::Restored;
    outcome.reason = content.reason();
    if (file.Encrypted) {
        outcome.status = RestoreOutcome::Status::Encrypted;
        outcome.reason = "the file is encrypted (EFS): its bytes are ciphertext" + (outcome.reason.empty() ? "" : "; " + outcome.reason);
    }
    return outcome;
}

} // namespace orv
