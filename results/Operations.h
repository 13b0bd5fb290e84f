#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "results/Restore.h"
#include "scan/ScanSession.h"
#include "shell/LanguageTexts.h"

namespace orv {

// What Restore and Wipe need from the window that runs them: its dialogs and its progress
// display. Texts come as entries of the text table; the window looks them up in its catalogue.
class OperationUi
{
public:
    virtual ~OperationUi() = default;
    virtual bool AskConfirmation(const LanguageText& question) = 0;
    // The text, after "<count> " when a count is given ("3 file(s) restored!").
    virtual void ShowInformation(const LanguageText& text, std::optional<int> count = std::nullopt) = 0;
    // A message of our own that the text table has no entry for (an output error, with its reason).
    virtual void ShowProblem(const std::string& text) = 0;
    virtual void ShowImportantNotice() = 0;
    // The run begins, once every check passed and the user agreed: the window shows its bar and
    // turns the command's button into Stop.
    virtual void runStarted() {}
    virtual void progress(int percent) = 0;
    // The counter under the bar during a restore: "File <done>/<selected>".
    virtual void counter(int done, int selected) = 0;
    // Inside the file being restored: bytes written so far of its size, after every piece.
    virtual void fileProgress(std::int64_t written, std::int64_t size) { (void)written, (void)size; }
    // The run is over (done or stopped), before its final message: the window goes back to idle.
    virtual void runFinished() {}
    // A selected file of a restore was taken, with what became of it (also when it was skipped or
    // failed); a report lists these.
    virtual void fileRestored(const std::u16string& folder, const std::u16string& name, const RestoreOutcome& outcome)
    {
        (void)folder, (void)name, (void)outcome;
    }
    // A selected file of a wipe whose record was left as it was: it no longer matches the scan, or
    // the volume refused the write. Its row stays listed.
    virtual void fileNotWiped(const std::u16string& name, const std::string& reason) { (void)name, (void)reason; }
    // The question before a restore, naming the folder the files go to.
    virtual bool askRestoreInto(const std::filesystem::path& folder)
    {
        (void)folder;
        return AskConfirmation(lang::kFileMessage7);
    }
};

// A row of the file list: its caption (the store key) and whether it is selected.
struct FileRow
{
    std::u16string name;
    bool selected = false;
    // Which of the files of that name in the folder: several may share one. Without it, the first.
    std::optional<FileLocator> locator = std::nullopt;
};

// A listed file a restore can take, from any folder: the store's section and key, and whether it
// is selected.
struct ListedRow
{
    std::u16string folder;
    std::u16string name;
    bool selected = true;
    std::optional<FileLocator> locator = std::nullopt; // as FileRow's
};

// Where a restore writes: every file straight into the restore folder, or each into its folder on
// the volume, rebuilt inside the restore folder.
enum class RestoreLayout { Flat, KeepPaths };

struct OperationResult
{
    enum class End { NoRows, NoSelection, Refused, Declined, Ran };
    End end = End::NoRows;
    int selected = 0;
    int done = 0; // files restored (damaged ones included) or records wiped
    int damaged = 0; // restored with unreadable clusters written as zeros
    bool outputError = false;
};

// The Restore command: its checks and messages, then every selected row of the shown folder
// restored into the restore folder (made when missing). Sets the session's ResultsBusy for its length; a Stop
// confirmed inside the pump clears it, and the run ends after the piece being written. An output
// error (disk full, no rights) ends the run with a message and the counts so far.
OperationResult RunRestore(ScanSession& session, const std::vector<FileRow>& rows,
                           const std::u16string& currentFolderPath, const std::filesystem::path& restoreFolder,
                           bool showNote, OperationUi& ui, Pump& pump);

// The same run over listed files of any folders (the command line restores a whole scan). With
// KeepPaths a file whose folder cannot be made inside the restore folder fails, and the run goes on.
OperationResult RunRestore(ScanSession& session, const std::vector<ListedRow>& rows,
                           const std::filesystem::path& restoreFolder, RestoreLayout layout, bool showNote,
                           OperationUi& ui, Pump& pump);

// The Wipe command: its checks and messages, then the record of every selected row of the shown
// folder overwritten with zeros (only when it still matches the scan) and its store entry removed.
// A source that cannot be written is refused before the question; a row whose record was not
// wiped keeps its store entry.
OperationResult RunWipe(ScanSession& session, const std::vector<FileRow>& rows, const std::u16string& currentFolderPath,
                        int osMajorVersion, OperationUi& ui, Pump& pump);

} // namespace orv
