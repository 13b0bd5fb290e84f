#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "scan/FileLocator.h"
#include "scan/ScanSession.h"

namespace orv {

struct RestoreOutcome
{
    enum class Status {
        Restored, // the whole file was written
        Damaged, // written at its size, but some of its bytes could not be read and are zeros
        Skipped, // nothing to write: no usable record, or a file of size 0
        Failed, // the output could not be created or written; the reason says why
        Encrypted, // written as it lies on the volume: the bytes are ciphertext
        Stopped, // Stop came while it was written: what was written is removed, as it is not the file
    };
    Status status = Status::Skipped;
    // Why a file was skipped or failed, as a kind the desktop program words in the user's language
    // (`reason` is the English wording the command line prints), and the system's error number
    // behind it when there is one.
    enum class Problem {
        None,
        NotOnVolume, // its record or entry is no longer there as scanned (wiped, reused)
        NotListed, // the results no longer list it
        Empty, // a file of size 0: nothing to write
        NoRoom, // the restore folder's disk has too little free space for it
        FolderNotMade, // its folder could not be made inside the restore folder
        CannotCreate, // no file can be made in the restore folder
        CannotWrite, // writing its bytes failed
        CannotName, // the written file could not be given its name
        CannotOpenFolder, // the restore folder could not be opened
    };
    Problem problem = Problem::None;
    int error = 0;
    std::string reason;
    std::filesystem::path path; // the file written
    std::int64_t bytes = 0;
    bool stopped = false; // Stop came while it was written: the file holds what came before
    bool outputError = false; // writing failed (disk full, rights): the run should end
};

// Writes the deleted file at `locator` (through the session's file system) into the open folder `folder` under its
// own name, or "name (1).ext", "name (2).ext"... when that is taken (an existing file is never
// replaced); "File" + row when the name cannot be one. The file is written under a hidden
// temporary name, made to belong to the folder's owner, synced and only then given its name, so no
// file under a real name is ever partial. Every file is made relative to the folder's descriptor
// and never through a symbolic link, so nothing lands outside the folder, whatever happens to its
// path meanwhile; `folderPath` only names the file in the outcome. `keepGoing` is asked between
// pieces (Stop). `written`, when given, hears the bytes written so far and the file's size after
// every piece, so a large file shows its progress. Opens the file in the session (NTFS: decodes
// into session.MFTFile).
// With `stream`, that named stream of the file is written instead, under `name` as given.
RestoreOutcome UndeleteFile(ScanSession& session, const FileLocator& locator, std::u16string_view name, int row,
                            int folder, const std::filesystem::path& folderPath, Pump& pump,
                            const std::function<bool()>& keepGoing,
                            const std::function<void(std::int64_t, std::int64_t)>& written = {},
                            const std::u16string* stream = nullptr);

// The same for the NTFS record at `recordOffset` of MftBuffer.
RestoreOutcome UndeleteFileNTFS(ScanSession& session, std::int64_t recordOffset, std::u16string_view name, int row,
                                int folder, const std::filesystem::path& folderPath, Pump& pump,
                                const std::function<bool()>& keepGoing,
                                const std::function<void(std::int64_t, std::int64_t)>& written = {});

// The same into the folder at `folder`, opened for this one file (a link there is refused).
RestoreOutcome UndeleteFileNTFS(ScanSession& session, std::int64_t recordOffset, std::u16string_view name, int row,
                                const std::filesystem::path& folder, Pump& pump, const std::function<bool()>& keepGoing,
                                const std::function<void(std::int64_t, std::int64_t)>& written = {});

} // namespace orv
