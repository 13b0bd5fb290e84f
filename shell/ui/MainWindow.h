#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

#include "platform/HttpClient.h"
#include "platform/SettingsBackend.h"
#include "platform/SystemFacts.h"
#include "scan/ScanSession.h"
#include "shell/LanguageCatalogue.h"
#include "shell/ProcessFolders.h"
#include "shell/Settings.h"
#include "shell/ui/GuiPump.h"
#include "shell/ui/MessageDialogs.h"
#include "shell/ui/SkinWidgets.h"

namespace orv {
class DriveSystem;
}

namespace orv::ui {

class AnimationPlayer;

// What the main window needs from the system. The program passes the real services; tests pass
// doubles for the drive table, the settings file and the network.
struct Services
{
    DriveSystem& drives;
    SettingsBackend& settings;
    SystemFacts& facts;
    HttpClient& http;
    std::uint64_t (*availableMemory)() = nullptr;
};

// The main window: drive, mode and mask, the Find button that also stops or skips a running scan,
// the progress of the scan, and the row of top buttons.
class TForm1 final : public SkinWindow, private ScanProgress
{
    Q_OBJECT
public:
    explicit TForm1(Services services);
    ~TForm1() override;

    // The program's message and question dialogs. The Confirmation dialog is made after the main
    // window and handed to it.
    void setConfirmation(ConfirmationDialog* dialog) { m_confirmation = dialog; }
    void ShowInformation(const QString& message);
    bool AskConfirmation(const QString& question,
                         ConfirmationDialog::Default answer = ConfirmationDialog::Default::Yes);

    // The window that shows the store after a scan that found files; a later window replaces
    // the interim list.
    void setResultsWindow(std::function<void(ScanSession&)> show) { m_showResults = std::move(show); }

    // Options and About, opened by their top buttons when no scan runs.
    void setDialogs(std::function<void()> options, std::function<void()> about)
    {
        m_showOptions = std::move(options);
        m_showAbout = std::move(about);
    }

    ScanSession& session() { return m_session; }
    SettingsBackend& settingsBackend() { return m_services.settings; }
    DriveSystem& driveSystem() { return m_services.drives; }
    // The folder restores go to; Options changes it.
    std::string& restoreFolder() { return m_startup.RestoreFolder; }
    const LanguageCatalogue& texts() const { return m_texts; }
    const ProcessFolders& folders() const { return m_folders; }
    const StartupSettings& startup() const { return m_startup; }
    bool& showNote() { return m_startup.ShowNote; }
    InformationDialog* information() const { return m_information.get(); }

    QComboBox* DriveBox() const { return m_driveBox; }
    QComboBox* ModeBox() const { return m_modeBox; }
    QLineEdit* MaskEdit() const { return m_maskEdit; }
    QComboBox* MaskBox() const { return m_maskBox; }
    QLabel* HintLabel() const { return m_hintLabel; }
    QLabel* ProgressBar() const { return m_progressBar; }
    QLabel* ProgressLabel() const { return m_progressLabel; }
    QLabel* Label1b() const { return m_label1b; }
    QLabel* Label2b() const { return m_label2b; }
    ImageButton* FindButton() const { return m_findButton; }
    ImageButton* CloseButton() const { return m_closeButton; }
    ImageButton* TopButton(int number) const { return m_topButtons.at(static_cast<std::size_t>(number - 1)); }

    // The pump the scans use; tests shorten its interval so that every step handles events.
    void setPumpInterval(std::chrono::milliseconds interval) { m_pumpInterval = interval; }

    // Help: the help file opened by the desktop, or a message that it is missing.
    void TopButton2Click();
    // The Find command: checks and starts a scan, or asks to stop or skip the running one.
    void Button1Click();
    // The system reports that drives came or went.
    void DeviceChange();
    // The window is shown, or the drives changed: fresh counters, empty store, drives listed anew.
    void ShowForm();
    // A second start of the program asks this copy to come to the front.
    void activateFromSecondStart();

signals:
    // The window closed for good: the program ends.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateTexts();
    void MaskBoxChange(int index);
    void TopButton5Click();
    void findCommand();
    // The scan the checks allowed, then its outcome, with FindActive raised throughout; true when
    // the results window was shown.
    bool runScan(ScanMode mode);
    void setScanningLook(bool extended);
    void returnToIdle();
    bool showScanOutcome();
    QString hintIdleText() const;
    void setCaptionFontForLanguage(bool busy);
    void startAnimation();
    void stopAnimation();
    QPixmap sweepPicture(int angle) const;

    // ScanProgress: the scans drive the labels and the bar through these.
    void stepStarted(ScanStep step) override;
    void progressBar(int width) override;
    void progressLabel(int percent) override;
    void recordsExamined(std::int64_t count) override;
    void filesFound(std::int64_t count) override;

    Services m_services;
    ProcessFolders m_folders;
    ScanSession m_session;
    StartupSettings m_startup;
    LanguageCatalogue m_texts;
    std::unique_ptr<InformationDialog> m_information;
    ConfirmationDialog* m_confirmation = nullptr;
    std::function<void(ScanSession&)> m_showResults;
    std::function<void()> m_showOptions;
    std::function<void()> m_showAbout;
    std::chrono::milliseconds m_pumpInterval{10};

    QComboBox* m_driveBox = nullptr;
    QComboBox* m_modeBox = nullptr;
    QLineEdit* m_maskEdit = nullptr;
    QComboBox* m_maskBox = nullptr;
    QLabel* m_driveLabel = nullptr;
    QLabel* m_modeLabel = nullptr;
    QLabel* m_maskLabel = nullptr;
    QLabel* m_hintLabel = nullptr;
    QLabel* m_aviPanel = nullptr;
    QLabel* m_progressBar = nullptr;
    QLabel* m_progressLabel = nullptr;
    QLabel* m_label1a = nullptr;
    QLabel* m_label1b = nullptr;
    QLabel* m_label2a = nullptr;
    QLabel* m_label2b = nullptr;
    ImageButton* m_findButton = nullptr;
    ImageButton* m_closeButton = nullptr;
    std::vector<ImageButton*> m_topButtons;
    QPixmap m_idleNormal, m_idleHover, m_busyNormal, m_busyHover;

    AnimationPlayer* m_animation = nullptr;
    bool m_aviPlaying = false;
    // The scanning picture's sweep turns while a scan runs, also before the clip is loaded and
    // where no clip can play.
    QTimer m_sweepTimer;
    int m_sweepAngle = 0;
};

} // namespace orv::ui
