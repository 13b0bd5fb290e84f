#pragma once

#include <QDialog>

#include <filesystem>
#include <functional>

#include "FileListModel.h"
#include "FindInResults.h"
#include "GuiPump.h"
#include "LanguageCatalogue.h"
#include "Operations.h"
#include "ScanSession.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

namespace orv::ui {

// What the results window needs from the program: the scan's session, the texts, the message
// dialogs, the restore folder and the desktop's handler for folders and links. The program
// passes its own windows; tests pass doubles that answer at once.
struct ResultsServices
{
    ScanSession& session;
    const LanguageCatalogue& texts;
    std::function<void(const QString&)> inform;
    std::function<bool(const QString&)> ask;
    std::function<void()> importantNotice;
    std::function<bool()> showNote;
    std::function<std::filesystem::path()> restoreFolder;
    std::int32_t osMajorVersion = 7;
    std::function<void(const QUrl&)> openUrl;
    std::function<void()> options;
    std::function<void()> about;
    std::function<void()> help;
};

// The results window: the folder tree of the scan's store, the files of the chosen folder with
// their grades, the information panel with its preview, and Restore, Wipe and Find in results.
class TForm2 final : public QDialog, private OperationUi
{
    Q_OBJECT
public:
    explicit TForm2(ResultsServices services);
    ~TForm2() override;

    // Builds the tree, shows the window modally and clears the store once it closes.
    void run();

    QTreeWidget* DList() const { return m_tree; }
    QTableView* FList() const { return m_list; }
    FileListModel* model() const { return m_model; }
    QLabel* PreviewImage() const { return m_preview; }
    QLabel* NameLabel() const { return m_nameLabel; }
    QLabel* SizeLabel() const { return m_sizeLabel; }
    QLabel* GradeLabel() const { return m_gradeLabel; }
    QLabel* ProgressLabel() const { return m_counter; }
    QLineEdit* FindEdit() const { return m_findEdit; }
    QPushButton* RestoreButton() const { return m_restore; }
    QPushButton* WipeButton() const { return m_wipe; }
    bool busy() const { return ResultsBusy; }

    // The window's commands, as their buttons run them.
    void ShowForm();
    void showFolder(QTreeWidgetItem* node);
    void Button1Click(); // Restore, or Stop while it runs
    void Button2Click(); // Wipe, or Stop while it runs
    void FindClick();
    void SelectAll(bool selected);

    void setPumpInterval(std::chrono::milliseconds interval) { m_pumpInterval = interval; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void currentRowChanged(int row);
    void showPreview(int row);
    void startOperation(QPushButton* button);
    void endOperation(QPushButton* button, const LanguageText& caption);
    void askStop(QPushButton* clicked);

    // OperationUi: Restore and Wipe speak to the user through these.
    bool AskConfirmation(const LanguageText& question) override;
    void ShowInformation(const LanguageText& text, std::optional<int> count) override;
    void ShowProblem(const std::string& text) override;
    void ShowImportantNotice() override;
    void progress(int percent) override;
    void counter(int done, int selected) override;

    ResultsServices m_services;
    bool ResultsBusy = false;
    int FindCursor = -1;
    QPushButton* m_running = nullptr; // the Restore or Wipe button of the operation that runs
    std::chrono::milliseconds m_pumpInterval{10};
    FileIcons m_icons;

    QSplitter* m_splitter = nullptr;
    QTreeWidget* m_tree = nullptr;
    QTableView* m_list = nullptr;
    FileListModel* m_model = nullptr;
    QLabel* m_nameLabel = nullptr;
    QLabel* m_sizeLabel = nullptr;
    QLabel* m_gradeLabel = nullptr;
    QLabel* m_preview = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_counter = nullptr;
    QLineEdit* m_findEdit = nullptr;
    QPushButton* m_find = nullptr;
    QPushButton* m_restore = nullptr;
    QPushButton* m_wipe = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_selectAll = nullptr;
    QPushButton* m_deselectAll = nullptr;
};

} // namespace orv::ui
