#include "results/Operations.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "base/Utf16.h"
#include "platform/UniqueFd.h"
#include "results/FileSystem.h"
#include "results/Restore.h"
#include "results/RestoreFolder.h"
#include "results/Wipe.h"

namespace orv {

namespace {

template <typename Row>
int selectedCount(const std::vector<Row>& rows)
{
    int count = 0;
    for (const Row& row : rows)
        count += row.selected ? 1 : 0;
    return count;
}

// i x 100 / n rounded to the nearest integer, halves to the even one.
int roundedPercent(std::int64_t i, std::int64_t n)
{
    const std::int64_t scaled = i * 100;
    std::int64_t quotient = scaled / n;
    const std::int64_t remainder = scaled % n;
    if (2 * remainder > n || (2 * remainder == n && quotient % 2 == 1))
        ++quotient;
    return static_cast<int>(quotient);
}

// The first checks of both commands: rows to work on, and some of them selected.
template <typename Row>
bool rowsChosen(const std::vector<Row>& rows, OperationUi& ui, OperationResult& result)
{
    if (rows.empty())
        return false;
    result.selected = selectedCount(rows);
    if (result.selected == 0) {
        ui.ShowInformation(lang::kFileMessage2);
        result.end = OperationResult::End::NoSelection;
        return false;
    }
    return true;
}

// Where the row's file lies, while the store still lists it.
std::optional<FileLocator> locatorOf(const ScanSession& session, const std::u16string& folder,
                                     const std::u16string& name, const std::optional<FileLocator>& row)
{
    const std::optional<std::u16string> text = row ? std::optional(locatorText(*row)) : std::nullopt;
    const std::u16string value = session.store.read(folder, name, {}, text);
    if (value.find(u'#') == std::u16string::npos)
        return std::nullopt;
    return parseStoredValue(value).locator;
}

// The rows of a run, with ResultsBusy raised for their length. A Stop confirmed inside the pump
// clears it: the remaining rows are passed over and the file being written ends after its piece.
// Every file is made relative to the restore folder's descriptor `folderFd`. Gives the reason of
// an output error, which ends the run.
std::string restoreRows(ScanSession& session, const std::vector<ListedRow>& rows, int folderFd,
                        const std::filesystem::path& restoreFolder, RestoreLayout layout, OperationUi& ui, Pump& pump,
                        OperationResult& result)
{
    const FlagScope busy(session.ResultsBusy);
    ui.progress(0);
    int shown = 0;
    std::string problem;
    const auto keepGoing = [&] { return session.ResultsBusy; };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        pump.step();
        if (!session.ResultsBusy)
            continue;
        if (const int p = roundedPercent(static_cast<std::int64_t>(i), static_cast<std::int64_t>(rows.size()));
            p != shown)
            ui.progress(shown = p);
        const ListedRow& row = rows[i];
        if (!row.selected)
            continue;
        RestoreOutcome outcome;
        std::filesystem::path relative;
        const UniqueFd kept(layout == RestoreLayout::KeepPaths ? keptPathFolder(folderFd, row.folder, relative) : -1);
        const int folder = layout == RestoreLayout::KeepPaths ? kept.get() : folderFd;
        if (folder < 0) {
            outcome.status = RestoreOutcome::Status::Failed;
            outcome.problem = RestoreOutcome::Problem::FolderNotMade;
            outcome.reason = "its folder cannot be made inside the restore folder";
        } else if (const auto locator = locatorOf(session, row.folder, row.name, row.locator)) {
            outcome = UndeleteFile(session, *locator, row.name, static_cast<int>(i), folder, restoreFolder / relative,
                                   pump, keepGoing,
                                   [&ui](std::int64_t written, std::int64_t size) { ui.fileProgress(written, size); });
            using Status = RestoreOutcome::Status;
            if (outcome.status == Status::Restored || outcome.status == Status::Damaged ||
                outcome.status == Status::Encrypted)
                ++result.done;
            if (outcome.status == Status::Damaged || outcome.status == Status::Encrypted)
                ++result.damaged;
            if (outcome.outputError) {
                result.outputError = true;
                problem = outcome.reason;
            }
        } else {
            outcome.problem = RestoreOutcome::Problem::NotListed;
            outcome.reason = "the file is no longer listed";
        }
        ui.fileRestored(row.folder, row.name, outcome);
        ui.counter(result.done, result.selected);
        if (result.outputError)
            break;
        // Its named streams beside it, each as "NAME:STREAM" after the name the file was given.
        using Status = RestoreOutcome::Status;
        const auto locator = session.RestoreStreams && !outcome.path.empty() &&
                (outcome.status == Status::Restored || outcome.status == Status::Damaged ||
                 outcome.status == Status::Encrypted)
            ? locatorOf(session, row.folder, row.name, row.locator)
            : std::nullopt;
        for (const NamedStream& stream :
             locator ? fileSystemOf(session).streams(session, *locator) : std::vector<NamedStream>{}) {
            if (!session.ResultsBusy)
                break;
            const std::u16string name = fromUtf8(outcome.path.filename().string()) + u":" + stream.name;
            const RestoreOutcome written = UndeleteFile(session, *locator, name, static_cast<int>(i), folder,
                                                        restoreFolder / relative, pump, keepGoing, {}, &stream.name);
            ui.fileRestored(row.folder, row.name + u":" + stream.name, written);
            if (written.outputError) {
                result.outputError = true;
                problem = written.reason;
                break;
            }
        }
        if (result.outputError)
            break;
    }
    ui.progress(100);
    return problem;
}

// The file system a folder is on, or would be on once made: that of the nearest folder on its path
// that exists.
std::optional<dev_t> fileSystemOf(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::path at = std::filesystem::absolute(folder, error);
    if (error)
        return std::nullopt;
    for (;;) {
        struct stat info
        {};
        if (::stat(at.c_str(), &info) == 0)
            return info.st_dev;
        if (!at.has_relative_path())
            return std::nullopt;
        at = at.parent_path();
    }
}

// True when writing into a folder of file system `device` would write onto the scanned volume:
// a mount of its block device or image file, directly or through a loop device. Restored files
// would then take the free clusters that still hold the deleted files being restored.
bool onScannedVolume(VolumeContext& volume, dev_t device)
{
    if (!volume.Device)
        return false;
    const std::vector<SourceMount> mounts = volume.Device->mounts({});
    return std::any_of(mounts.begin(), mounts.end(), [&](const SourceMount& m) { return m.device == device; });
}

// Makes the missing folders of `folder`, each private and owned as the folder it is made in, so
// the restore folder made under pkexec belongs to the user who picked it, not to root.
bool makeRestoreFolder(const std::filesystem::path& folder)
{
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(folder, error);
    if (error)
        return false;
    std::filesystem::path at;
    for (const auto& part : whole) {
        const std::filesystem::path parent = at;
        at /= part;
        if (at == parent || ::mkdir(at.c_str(), 0700) != 0)
            continue; // there already, or it fails below
        struct stat owner
        {};
        // lchown: should the new folder be swapped for a link meanwhile, the link is what changes.
        if (::stat(parent.c_str(), &owner) == 0 && ::lchown(at.c_str(), owner.st_uid, owner.st_gid) != 0) {
            // A file system without owners keeps the folder as made.
        }
    }
    return std::filesystem::is_directory(folder, error);
}

void wipeRows(ScanSession& session, const std::vector<FileRow>& rows, const std::u16string& currentFolderPath,
              OperationUi& ui, Pump& pump, OperationResult& result)
{
    const FlagScope busy(session.ResultsBusy);
    ui.progress(0);
    int shown = 0;
    for (const FileRow& row : rows) {
        pump.step();
        if (!session.ResultsBusy || !row.selected)
            continue;
        if (const int p = result.done * 100 / result.selected; p != shown)
            ui.progress(shown = p);
        const auto locator = locatorOf(session, currentFolderPath, row.name, row.locator);
        if (!locator) {
            // Listed no more (an earlier wipe took it): nothing is left to keep.
            session.store.deleteKey(currentFolderPath, row.name);
            continue;
        }
        if (const WipeOutcome wiped = fileSystemOf(session).wipe(session, *locator); !wiped.wiped) {
            ui.fileNotWiped(row.name, wiped.reason);
            continue;
        }
        ++result.done;
        session.store.deleteKey(currentFolderPath, row.name, locatorText(*locator));
    }
    ui.progress(100);
}

} // namespace

OperationResult RunRestore(ScanSession& session, const std::vector<FileRow>& rows,
                           const std::u16string& currentFolderPath, const std::filesystem::path& restoreFolder,
                           bool showNote, OperationUi& ui, Pump& pump)
{
    std::vector<ListedRow> listed;
    listed.reserve(rows.size());
    for (const FileRow& row : rows)
        listed.push_back({currentFolderPath, row.name, row.selected, row.locator});
    return RunRestore(session, listed, restoreFolder, RestoreLayout::Flat, showNote, ui, pump);
}

OperationResult RunRestore(ScanSession& session, const std::vector<ListedRow>& rows,
                           const std::filesystem::path& restoreFolder, RestoreLayout layout, bool showNote,
                           OperationUi& ui, Pump& pump)
{
    OperationResult result;
    if (!rowsChosen(rows, ui, result))
        return result;
    if (showNote)
        ui.ShowImportantNotice();
    // Both refusals come before the question and the folder: a refused restore leaves nothing behind.
    const std::u16string restoreFolderText = fromUtf8(restoreFolder.string());
    if (std::any_of(rows.begin(), rows.end(), [&](const ListedRow& row) { return row.folder == restoreFolderText; })) {
        ui.ShowInformation(lang::kFileMessage6);
        result.end = OperationResult::End::Refused;
        return result;
    }
    if (const auto device = fileSystemOf(restoreFolder); device && onScannedVolume(session.volume, *device)) {
        ui.ShowInformation(lang::kFileRestoreOnScannedDrive);
        result.end = OperationResult::End::Refused;
        return result;
    }
    // The folder is made only once the user agreed: a No leaves nothing behind.
    if (!ui.askRestoreInto(restoreFolder)) {
        result.end = OperationResult::End::Declined;
        return result;
    }
    const UniqueFd folder(makeRestoreFolder(restoreFolder) ? openRestoreFolder(restoreFolder) : -1);
    if (folder.get() < 0) {
        ui.ShowInformation(lang::kFileMessage13);
        result.end = OperationResult::End::Refused;
        return result;
    }
    // Asked again of the folder opened, which is the one written: the path may have changed.
    if (struct stat opened{}; ::fstat(folder.get(), &opened) != 0 || onScannedVolume(session.volume, opened.st_dev)) {
        ui.ShowInformation(lang::kFileRestoreOnScannedDrive);
        result.end = OperationResult::End::Refused;
        return result;
    }

    result.end = OperationResult::End::Ran;
    ui.runStarted();
    removeLeftTemporaries(folder.get());
    const std::string problem = restoreRows(session, rows, folder.get(), restoreFolder, layout, ui, pump, result);
    ui.runFinished();
    if (result.outputError)
        ui.ShowProblem(problem);
    ui.ShowInformation(lang::kFileMessage14, result.done);
    return result;
}

OperationResult RunWipe(ScanSession& session, const std::vector<FileRow>& rows, const std::u16string& currentFolderPath,
                        int osMajorVersion, OperationUi& ui, Pump& pump)
{
    OperationResult result;
    if (osMajorVersion == 6) {
        ui.ShowInformation(lang::kVistaMessage3);
        result.end = OperationResult::End::Refused;
        return result;
    }
    if (!rowsChosen(rows, ui, result))
        return result;
    // A shadow copy is only ever read, and a file found by its content has no record to wipe: when
    // every chosen file is of one such kind, nothing is asked.
    const auto allOfKind = [&](FileLocator::Kind kind) {
        return std::all_of(rows.begin(), rows.end(), [&](const FileRow& row) {
            if (!row.selected)
                return true;
            const auto locator = locatorOf(session, currentFolderPath, row.name, row.locator);
            return locator && locator->kind == kind;
        });
    };
    for (const auto& [kind, text] : {std::pair{FileLocator::Kind::ShadowCopyRecord, &lang::kFileWipeShadowCopy},
                                     std::pair{FileLocator::Kind::FoundByContent, &lang::kFileWipeFoundByContent}})
        if (allOfKind(kind)) {
            ui.ShowInformation(*text);
            result.end = OperationResult::End::Refused;
            return result;
        }
    if (mountedWritable(session.volume)) {
        ui.ShowInformation(lang::kFileWipeMounted);
        result.end = OperationResult::End::Refused;
        return result;
    }
    // Refused before the question: a container is only ever read, and an image file or device
    // opened without write access would turn every wipe into a silent no.
    if (session.volume.Device && !session.volume.Device->canWrite()) {
        ui.ShowInformation(session.volume.Device->readOnly() ? lang::kFileWipeContainer : lang::kFileWipeReadOnly);
        result.end = OperationResult::End::Refused;
        return result;
    }
    if (!ui.AskConfirmation(lang::kFileMessage9)) {
        result.end = OperationResult::End::Declined;
        return result;
    }

    result.end = OperationResult::End::Ran;
    ui.runStarted();
    wipeRows(session, rows, currentFolderPath, ui, pump, result);
    ui.runFinished();
    ui.ShowInformation(lang::kFileMessage10, result.done);
    return result;
}

} // namespace orv
