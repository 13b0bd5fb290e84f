#pragma once

#include <filesystem>
#include <functional>
#include <unordered_map>

#include "results/FindInResults.h"
#include "results/Operations.h"
#include "scan/ScanSession.h"
#include "shell/LanguageCatalogue.h"
#include "shell/ui/FileListModel.h"
#include "shell/ui/GuiPump.h"
#include "shell/ui/MessageDialogs.h"

class QLineEdit;
class QProgressBar;
class QSplitter;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

namespace orv::ui {

// What the results window needs from the program: the scan's session, the texts, the message
// dialogs, the restore folder, the live file system behind the drive and the desktop's handler for
// folders and links. The program passes its own windows; tests pass doubles that answer at once.
// Built with designated initialisers, so every service is named where it is given.
struct ResultsServices
{
    ScanSession& session;
    const LanguageCatalogue& texts;
    std::function<void(const QString&)> inform{};
    std::function<bool(const QString&)> ask{};
    // A question whose Yes cannot be undone (Wipe): Enter answers No. Without it, `ask`.
    std::function<bool(const QString&)> askDefaultNo{};
    std::function<void()> importantNotice{};
    std::function<bool()> showNote{};
    // Whether Restore also writes each named stream beside its file (Options).
    std::function<bool()> restoreStreams{};
    std::function<std::filesystem::path()> restoreFolder{};
    std::int32_t osMajorVersion = 7;
    std::function<void(const QUrl&)> openUrl{};
    std::function<void()> options{};
    std::function<void()> about{};
    std::function<void()> help{};
    // Where the scanned drive is mounted now; empty when it is not, and then none of its folders
    // exists on the live file system.
    std::function<std::filesystem::path(const std::string& drive)> mountPoint{};
    std::int32_t languageIndex = 1;
};

// The results window: the folder tree of the scan's store, the files of the chosen folder with
// their grades, the information panel with its preview, and Restore, Wipe and Find in results.
class TForm2 final : public SkinDialog, private OperationUi
{
    Q_OBJECT
public:
    // The pictures of the folder tree's nodes.
    enum FolderImage { FolderExists = 0, FolderGone = 1 };
    static constexpr int FolderImageRole = Qt::UserRole + 1;

    explicit TForm2(ResultsServices services);
    ~TForm2() override;

    // Builds the tree, shows the window modally; closing it clears the store.
    void run();

    QTreeWidget* DList() const { return m_tree; }
    QTableView* FList() const { return m_list; }
    QSplitter* ListSplitter() const { return m_splitter; }
    FileListModel* model() const { return m_model; }
    QLabel* PreviewImage() const { return m_preview; }
    QLabel* Label1b() const { return m_label1b; }
    QLabel* Label2b() const { return m_label2b; }
    QLabel* Label3b() const { return m_label3b; }
    QLabel* StreamsValue() const { return m_streamsValue; }
    QLabel* ResultLabel() const { return m_resultLabel; }
    QLabel* ProgressLabel() const { return m_progressLabel; }
    QProgressBar* ProgressBar() const { return m_progressBar; }
    QLabel* SelectLabel() const { return m_selectLabel; }
    QLabel* DeSelectLabel() const { return m_deselectLabel; }
    QLineEdit* FindEdit() const { return m_findEdit; }
    ImageButton* RestoreButton() const { return m_restore; }
    ImageButton* WipeButton() const { return m_wipe; }
    ImageButton* CloseButton() const { return m_close; }
    ImageButton* FindButton() const { return m_find; }
    ImageButton* TopButton(int number) const { return m_topButtons.at(static_cast<std::size_t>(number - 1)); }
    bool busy() const { return m_services.session.ResultsBusy; }
    const std::u16string& currentFolderPath() const { return m_model->folder(); }

    // The window's commands, as their buttons run them.
    void ShowForm();
    void DListChange(QTreeWidgetItem* node);
    void Button1Click(); // Restore, or Stop while it runs
    void Button2Click(); // Wipe, or Stop while it runs
    void FindButtonClick();
    void SelectLabelClick();
    void DeselectLabelClick();
    // The rows of the list with their selection, as Restore and Wipe take them.
    std::vector<FileRow> fileRows() const;
    int selectedCount() const;

    void setPumpInterval(std::chrono::milliseconds interval) { m_pumpInterval = interval; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The folder tree of the store; ResultsBusy holds the window's commands off while it pumps.
    void buildTree();
    void AddTreePath(const std::u16string& path);
    void FlistChange();
    void showPreview(int row);
    void clearPanel();
    void ResizeForm();
    void setSelection(bool selected);
    void setCommandsEnabled(ImageButton* running, bool enabled);
    void askStop(ImageButton* clicked);

    // OperationUi: Restore and Wipe speak to the user through these.
    bool AskConfirmation(const LanguageText& question) override;
    void ShowInformation(const LanguageText& text, std::optional<int> count) override;
    void ShowProblem(const std::string& text) override;
    void ShowImportantNotice() override;
    void runStarted() override;
    void progress(int percent) override;
    void counter(int done, int selected) override;
    void fileProgress(std::int64_t written, std::int64_t size) override;
    void fileRestored(const std::u16string& folder, const std::u16string& name, const RestoreOutcome& outcome) override;
    void fileNotWiped(const std::u16string& name, const std::string& reason) override;
    bool askRestoreInto(const std::filesystem::path& folder) override;
    void runFinished() override;
    // The final message of a restore: the design's count when every file came whole, otherwise
    // the files restored whole and the names of those stopped, damaged or encrypted.
    QString restoreSummary(int done) const;

    ResultsServices m_services;
    int FindCursor = -1;
    ImageButton* m_running = nullptr; // the Restore or Wipe button of the operation that runs
    std::chrono::milliseconds m_pumpInterval{10};
    FileIcons m_icons;
    // Tree nodes by the texts of their path, so that a store of many folders builds in one pass.
    std::unordered_map<std::u16string, QTreeWidgetItem*> m_nodes;
    std::filesystem::path m_mountPoint;
    QIcon m_folderIcons[2];

    QWidget* m_listPanel = nullptr;
    QSplitter* m_splitter = nullptr;
    QTreeWidget* m_tree = nullptr;
    QTableView* m_list = nullptr;
    FileListModel* m_model = nullptr;
    QLabel* m_resultLabel = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QLabel* m_progressLabel = nullptr;
    QLabel* m_selectLabel = nullptr;
    QLabel* m_deselectLabel = nullptr;
    QLabel* m_findLabel = nullptr;
    QLineEdit* m_findEdit = nullptr;
    QLabel* m_preview = nullptr;
    QLabel* m_label1b = nullptr;
    QLabel* m_label2b = nullptr;
    QLabel* m_label3b = nullptr;
    // The named streams of the current file, under the grade; shown only when it has any.
    QLabel* m_streamsName = nullptr;
    QLabel* m_streamsValue = nullptr;
    ImageButton* m_restore = nullptr;
    ImageButton* m_wipe = nullptr;
    ImageButton* m_close = nullptr;
    ImageButton* m_find = nullptr;
    std::vector<ImageButton*> m_topButtons;
    KeyPlate* m_selectKey = nullptr;
    KeyPlate* m_deselectKey = nullptr;

    // What the running restore did with each file it took.
    int m_taken = 0;
    int m_whole = 0;
    int m_selected = 0;
    QStringList m_stoppedNames;
    QStringList m_damagedNames;
    QStringList m_encryptedNames;
    // Why each file that was not written was not, one line each, in the user's language.
    QStringList m_problemLines;
    QStringList m_notWipedNames;
};

} // namespace orv::ui
