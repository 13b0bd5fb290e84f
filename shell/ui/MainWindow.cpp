#include "shell/ui/MainWindow.h"

#include "shell/ui/Accessibility.h"
#include "shell/ui/LanguageLocale.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QUrl>

#include "base/Utf16.h"
#include "platform/DriveSystem.h"
#include "results/FileSystem.h"
#include "scan/ExtendedScan.h"
#include "scan/FindChecks.h"
#include "scan/NormalScan.h"
#include "shell/InstallStatistics.h"
#include "shell/LanguageLayout.h"
#include "shell/Product.h"
#include "shell/ui/AnimationPlayer.h"
#include "volume/SectorIo.h"

namespace orv::ui {

namespace {

const QColor kLabelColour(0xD2, 0xE8, 0xFD);
const QColor kCounterColour(0xC5, 0xDD, 0xFD);
// ModeBox: Normal, Extended, and the Extended scan that reads the whole volume.
constexpr int kWholeVolumeMode = 2;
const QColor kCaptionColour(0xB0, 0xCB, 0xFB);
// The light panel behind the drive, mode and mask, as the window's picture draws it.
const QRect kChoicePanel(40, 44, 366, 54);

struct MaskType
{
    const LanguageText& text;
    const char* mask;
};

const MaskType kMaskTypes[] = {
    {lang::kFileType12, "*.*"},  {lang::kFileType1, "*.txt"},  {lang::kFileType2, "*.doc"},
    {lang::kFileType3, "*.xls"}, {lang::kFileType4, "*.jpg"},  {lang::kFileType5, "*.gif"},
    {lang::kFileType6, "*.mp3"}, {lang::kFileType7, "*.wma"},  {lang::kFileType8, "*.mpg"},
    {lang::kFileType9, "*.avi"}, {lang::kFileType10, "*.zip"}, {lang::kFileType11, "*.rar"},
};

std::u16string toU16(const QString& text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
}

} // namespace

TForm1::TForm1(Services services) : SkinWindow(nullptr, QSize(446, 360), QStringLiteral("main")), m_services(services)
{
    setObjectName(QStringLiteral("TForm1"));
    setAccessibleRole(this, kMainWindowRole);
    setWindowTitle(QString::fromUtf8(kProductName.data(), static_cast<int>(kProductName.size())));
    setFont(skinFont(QStringLiteral("Arial"), 11, false));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Start-up work, in the order the rest of the program relies on: folders, the results store,
    // the settings, the language, the texts, the Information dialog.
    m_folders = LocateFolders(m_services.facts);
    m_session.findIniFile = std::filesystem::path(m_folders.ApplicationFolder) / "find.ini";
    m_session.store = ResultsStore(m_session.findIniFile);
    // The results window grades its rows and sorts by creation time from what the scan kept of
    // each record, instead of reading every listed record again while the list is drawn.
    m_session.keepListedRecords = true;
    // The first start speaks the user's language; later starts keep the stored choice.
    m_startup = ApplyStartupSettings(m_services.settings, m_folders.RestoreFolder,
                                     LanguageIndexForLocale(m_services.facts.messagesLocale()));
    m_texts = LoadLanguageCatalogue(m_folders.ApplicationFolder, m_startup.LanguageIndex);
    useLanguage(m_startup.LanguageIndex);

    const QFont labelFont = skinFont(QStringLiteral("Arial"), 11, false);
    // The choices share the panel drawn at the top (kChoicePanel): the mode is widest, as its
    // whole-disc entry is the longest text; the mask's two-line caption stays inside the panel.
    setPanels({kChoicePanel});
    m_driveLabel = addLabel(QStringLiteral("DriveLabel"), QRect(48, 52, 102, 16), kLabelColour, labelFont);
    m_modeLabel = addLabel(QStringLiteral("ModeLabel"), QRect(156, 52, 148, 16), kLabelColour, labelFont);
    m_maskLabel = addLabel(QStringLiteral("MaskLabel"), QRect(310, 45, 94, 24), kLabelColour, labelFont,
                           Qt::AlignLeft | Qt::AlignBottom);
    m_maskLabel->setWordWrap(true);

    m_driveBox = new QComboBox(this);
    m_driveBox->setObjectName(QStringLiteral("DriveBox"));
    m_driveBox->setGeometry(48, 70, 102, 22);
    m_modeBox = new QComboBox(this);
    m_modeBox->setObjectName(QStringLiteral("ModeBox"));
    m_modeBox->setGeometry(156, 70, 148, 22);
    m_maskEdit = new QLineEdit(QStringLiteral("*.*"), this);
    m_maskEdit->setObjectName(QStringLiteral("MaskEdit"));
    m_maskEdit->setGeometry(310, 70, 72, 22);
    m_maskEdit->installEventFilter(this);
    m_maskBox = new QComboBox(this);
    m_maskBox->setObjectName(QStringLiteral("MaskBox"));
    m_maskBox->setGeometry(384, 70, 20, 22);
    m_maskBox->view()->setMinimumWidth(150);
    // The focus frame of the choices is drawn on the dark panel: in the captions' light blue.
    for (QComboBox* box : {m_driveBox, m_modeBox, m_maskBox}) {
        QPalette palette = box->palette();
        palette.setColor(QPalette::Highlight, kCaptionColour);
        palette.setColor(QPalette::HighlightedText, Qt::black);
        box->setPalette(palette);
    }

    m_hintLabel =
        addLabel(QStringLiteral("HintLabel"), QRect(22, 100, 400, 30), kLabelColour, labelFont, Qt::AlignCenter);
    m_hintLabel->setWordWrap(true);

    m_aviPanel = addLabel(QStringLiteral("AviPanel"), QRect(43, 130, 154, 115), kLabelColour, labelFont);
    m_aviPanel->setAutoFillBackground(true);
    QPalette panel = m_aviPanel->palette();
    panel.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    m_aviPanel->setPalette(panel);
    m_aviPanel->setPixmap(skinPicture(QStringLiteral("still"), QSize(154, 115)));
    m_animation = new AnimationPlayer(m_aviPanel, this);
    m_sweepTimer.setInterval(80);
    connect(&m_sweepTimer, &QTimer::timeout, this, [this] {
        m_sweepAngle = (m_sweepAngle + 12) % 360;
        m_aviPanel->setPixmap(sweepPicture(m_sweepAngle));
    });
    setAccessibleRole(m_aviPanel, QAccessible::Animation);

    m_progressBar = addLabel(QStringLiteral("ProgressBar"), QRect(39, 247, 0, 31), kLabelColour, labelFont);
    m_progressBar->setPixmap(skinPicture(QStringLiteral("progress"), QSize(200, 31)));
    m_progressBar->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setAccessibleRole(m_progressBar, QAccessible::ProgressBar);
    m_progressLabel = addLabel(QStringLiteral("ProgressLabel"), QRect(126, 256, 60, 14), QColor(Qt::white),
                               skinFont(QStringLiteral("Arial"), 11, true));
    m_progressLabel->hide();

    const QFont counterFont = skinFont(QStringLiteral("Arial"), 11, true);
    m_label1a = addLabel(QStringLiteral("Label1a"), QRect(20, 310, 150, 14), kCounterColour, counterFont,
                         Qt::AlignRight | Qt::AlignVCenter);
    m_label1b = addLabel(QStringLiteral("Label1b"), QRect(176, 310, 80, 14), kCounterColour, counterFont);
    m_label2a = addLabel(QStringLiteral("Label2a"), QRect(20, 326, 150, 14), kCounterColour, counterFont,
                         Qt::AlignRight | Qt::AlignVCenter);
    m_label2b = addLabel(QStringLiteral("Label2b"), QRect(176, 326, 80, 14), kCounterColour, counterFont);
    m_label1b->setText(QStringLiteral("0"));
    m_label2b->setText(QStringLiteral("0"));

    // The Find button's two picture sets: idle and busy.
    const QSize findSize(168, 126);
    m_idleNormal = skinPicture(QStringLiteral("find_normal"), findSize);
    m_idleHover = skinPicture(QStringLiteral("find_hover"), findSize);
    m_busyNormal = skinPicture(QStringLiteral("busy_normal"), findSize);
    m_busyHover = skinPicture(QStringLiteral("busy_hover"), findSize);

    m_topButtons = addTopButtons(*this, {290, 318, 347, 376, 405}, m_texts);
    const QFont captionFont = skinFont(QStringLiteral("Verdana"), 11, true);
    m_findButton = addButton(QStringLiteral("Button1"), QRect(QPoint(260, 153), findSize),
                             QStringLiteral("find_normal"), QStringLiteral("find_hover"));
    m_findButton->addCaption(QRect(342, 238, 80, 14), QString(), kCaptionColour, captionFont);
    m_closeButton = addButton(QStringLiteral("Button2"), QRect(260, 282, 168, 66), QStringLiteral("close_normal"),
                              QStringLiteral("close_hover"));
    m_closeButton->addCaption(QRect(342, 310, 70, 14), QString(), kCaptionColour, captionFont);

    connect(m_findButton, &ImageButton::clicked, this, &TForm1::Button1Click);
    connect(m_closeButton, &ImageButton::clicked, this, &TForm1::TopButton5Click);
    for (auto [button, dialog] :
         {std::pair{m_topButtons[0], &m_showOptions}, std::pair{m_topButtons[2], &m_showAbout}}) {
        connect(button, &ImageButton::clicked, this, [this, dialog] {
            if (!m_session.ScanRunning && !m_session.FindActive && *dialog)
                (*dialog)();
        });
    }
    connect(m_topButtons[1], &ImageButton::clicked, this, &TForm1::TopButton2Click);
    connect(m_topButtons[3], &ImageButton::clicked, this, [this] { showMinimized(); });
    connect(m_topButtons[4], &ImageButton::clicked, this, &TForm1::TopButton5Click);
    connect(m_maskBox, &QComboBox::activated, this, &TForm1::MaskBoxChange);

    // The top band left of the top buttons drags the window.
    setDragBand([](QPoint point) { return point.y() < 30 && point.x() < 290; });

    CreateTexts();
    m_information = std::make_unique<InformationDialog>(m_texts);

    // The keyboard goes through the choices first, then Find and Close, then the top row.
    QWidget* order[] = {m_driveBox,
                        m_modeBox,
                        m_maskEdit,
                        m_maskBox,
                        m_findButton->keyPlate(),
                        m_closeButton->keyPlate(),
                        m_topButtons[0]->keyPlate(),
                        m_topButtons[1]->keyPlate(),
                        m_topButtons[2]->keyPlate(),
                        m_topButtons[3]->keyPlate(),
                        m_topButtons[4]->keyPlate()};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    m_driveBox->setFocus(Qt::OtherFocusReason);
}

TForm1::~TForm1()
{
    // The results go first, then the Information dialog, then the language texts it showed.
    m_session.store.clear();
    m_information.reset();
    m_texts = LanguageCatalogue();
}

void TForm1::CreateTexts()
{
    m_driveLabel->setText(text(m_texts, lang::kDriveMessage1));
    m_modeLabel->setText(text(m_texts, lang::kDriveMessage11));
    m_modeBox->addItem(text(m_texts, lang::kDriveMessage11a));
    m_modeBox->addItem(text(m_texts, lang::kDriveMessage11b));
    m_modeBox->addItem(text(m_texts, lang::kDriveMessage11c));
    m_modeBox->setCurrentIndex(0);
    m_modeBox->view()->setMinimumWidth(180); // the whole-disc mode's name is wider than the box
    connect(m_modeBox, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_session.ScanRunning)
            m_hintLabel->setText(hintIdleText());
    });

    m_maskLabel->setText(text(m_texts, lang::kFileMask));
    for (const MaskType& type : kMaskTypes)
        m_maskBox->addItem(text(m_texts, type.text));
    m_maskBox->setCurrentIndex(0);

    m_hintLabel->setText(hintIdleText());

    m_label1a->setText(text(m_texts, lang::kProcessScanned));
    m_label2a->setText(text(m_texts, lang::kProcessFound));
    if (languageLayout(m_startup.LanguageIndex).smallFoundLabel) {
        QFont small = m_label2a->font();
        small.setPointSize(7);
        m_label2a->setFont(small);
    }

    m_findButton->setCaptionText(text(m_texts, lang::kButtonsFind));
    m_closeButton->setCaptionText(text(m_texts, lang::kButtonsClose));

    // Screen readers name the choices after the labels above them.
    m_driveBox->setAccessibleName(spokenText(m_driveLabel->text()));
    m_modeBox->setAccessibleName(spokenText(m_modeLabel->text()));
    m_maskEdit->setAccessibleName(spokenText(m_maskLabel->text()));
    // The arrow beside the mask chooses a mask for it: named by the same caption, its list by kind.
    m_maskBox->setAccessibleName(spokenText(m_maskLabel->text()));
    m_maskBox->setAccessibleDescription(text(m_texts, lang::kAccessFileTypes));
    m_progressBar->setAccessibleName(text(m_texts, lang::kAccessProgress));
    m_aviPanel->setAccessibleName(text(m_texts, lang::kAccessAnimation));
    fitTexts();
    fitComboBox(m_modeBox);
}

QString TForm1::hintIdleText() const
{
    const bool sweep = m_modeBox->currentIndex() == kWholeVolumeMode;
    return text(m_texts, sweep ? lang::kHintHint5 : lang::kHintHint4) + QLatin1Char('\n') +
        text(m_texts, lang::kHintHint3);
}

void TForm1::ShowInformation(const QString& message)
{
    m_information->showMessage(message);
}

bool TForm1::AskConfirmation(const QString& question, ConfirmationDialog::Default answer)
{
    return m_confirmation && m_confirmation->ask(question, answer);
}

void TForm1::showEvent(QShowEvent* event)
{
    SkinWindow::showEvent(event);
    if (!event->spontaneous())
        ShowForm();
}

void TForm1::ShowForm()
{
    if (m_session.ScanRunning || m_session.FindActive || m_session.ListingDrives)
        return;
    const FlagScope listing(m_session.ListingDrives);
    SendInstallStatisticsIfDue(m_services.settings, m_services.facts, m_services.http);

    m_label1b->setText(QStringLiteral("0"));
    m_label2b->setText(QStringLiteral("0"));
    m_session.store.clear();

    // The drive table is read in one go, so a change that arrives meanwhile cannot list a drive
    // twice; it is handled after this walk.
    m_driveBox->clear();
    for (const DriveEntry& entry : m_services.drives.drives()) {
        if (entry.letter == "A:")
            continue;
        if (const FileSystemKind kind = fileSystemOfDrive(m_services.drives, entry.letter); scannable(kind)) {
            const QString drive = QString::fromStdString(entry.letter) + QStringLiteral(" (") +
                QString::fromLatin1(fileSystemName(kind)) + QStringLiteral(")");
            // Seven images would all read "D: (NTFS)": an image file is also named by its file name.
            const QFileInfo source(QString::fromStdString(entry.path));
            const bool image = source.isFile() && !entry.path.starts_with("/dev/");
            m_driveBox->addItem(image ? drive + QLatin1Char(' ') + source.fileName() : drive, drive);
        }
    }
    if (m_driveBox->count() > 0)
        m_driveBox->setCurrentIndex(0);
    fitComboBox(m_driveBox);

    m_findButton->setPictures(m_idleNormal, m_idleHover);
    m_progressBar->resize(0, m_progressBar->height());
}

void TForm1::DeviceChange()
{
    // While the results window is open the main window is hidden and the store is in use; the
    // drive list is rebuilt when the main window shows again.
    if (m_session.ScanRunning || m_session.FindActive || m_session.ResultsOpen)
        return;
    ShowForm();
}

void TForm1::MaskBoxChange(int index)
{
    if (index >= 0 && index < static_cast<int>(std::size(kMaskTypes)))
        m_maskEdit->setText(QString::fromLatin1(kMaskTypes[index].mask));
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    // Enter in the mask acts as the Find button, with its checks.
    if (watched == m_maskEdit && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !m_maskEdit->text().isEmpty()) {
            Button1Click();
            return true;
        }
        return false;
    }
    return SkinWindow::eventFilter(watched, event);
}

void TForm1::TopButton2Click()
{
    // The manual beside the program (a build tree), or where the package installs it.
    const QString folder = QString::fromStdString(m_folders.ApplicationFolder) + QLatin1Char('/');
    for (const QString& help :
         {folder + QStringLiteral("manual.html"), folder + QStringLiteral(ORV_MANUAL_FROM_PROGRAM)})
        if (QFileInfo(help).isFile()) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(help).canonicalFilePath()));
            return;
        }
    ShowInformation(text(m_texts, lang::kMessagesHelpNotFound));
}

void TForm1::TopButton5Click()
{
    if (!m_session.ScanRunning && !m_session.FindActive)
        close();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // A scan's work lies further up this very call stack: the window may not go away under it.
    if (m_session.ScanRunning || m_session.FindActive) {
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}

void TForm1::activateFromSecondStart()
{
    QWidget* front = QApplication::activeModalWidget();
    if (!front)
        front = isVisible() ? this : QApplication::activeWindow();
    if (!front)
        front = this;
    if (isMinimized())
        showNormal();
    if (front->isMinimized())
        front->showNormal();
    front->raise();
    front->activateWindow();
}

void TForm1::Button1Click()
{
    if (m_session.ScanRunning) {
        if (m_session.RunningMode == ScanMode::Normal) {
            if (AskConfirmation(text(m_texts, lang::kProcessMessage2)))
                m_session.ScanRunning = false;
        } else {
            if (AskConfirmation(text(m_texts, lang::kProcessMessage4)))
                m_session.SkipRequested = true;
        }
        return;
    }
    if (m_session.FindActive)
        return;
    findCommand();
}

void TForm1::findCommand()
{
    const FindCheckResult check =
        RunFindChecks(m_session, m_services.drives, m_driveBox->currentData().toString().toStdString(),
                      toU16(m_maskEdit->text()), m_folders.OsMajorVersion);
    switch (check.check) {
    case FindCheck::Ok: break;
    case FindCheck::DriveNotFound: ShowInformation(text(m_texts, lang::kDriveMessage3)); return;
    case FindCheck::UnsupportedFileSystem: ShowInformation(text(m_texts, lang::kDriveMessage5)); return;
    case FindCheck::NoAccess:
        ShowInformation(text(m_texts, lang::kVistaMessage1) + QLatin1Char('\r') + text(m_texts, lang::kVistaMessage2));
        return;
    case FindCheck::BootSectorError: ShowInformation(text(m_texts, lang::kDriveMessage8)); return;
    case FindCheck::MftListError: ShowInformation(text(m_texts, lang::kDriveMessage9)); return;
    case FindCheck::BadMask:
        // A mask that cannot match anything sensibly is refused before the scan, with its reason.
        ShowInformation(text(m_texts, lang::kFileMask) + QStringLiteral(": ") + m_maskEdit->text().trimmed() +
                        QLatin1Char('\r') + maskFaultText(m_texts, NormaliseMask(toU16(m_maskEdit->text()))));
        return;
    }

    // Shown again after the results window, the window starts afresh as on its first show: Find
    // is over by then, so the drive list is rebuilt.
    if (runScan(m_modeBox->currentIndex() == 0 ? ScanMode::Normal : ScanMode::Extended))
        show();
}

bool TForm1::runScan(ScanMode mode)
{
    const FlagScope finding(m_session.FindActive);
    m_session.RunningMode = mode;
    startAnimation();
    setFittedText(m_hintLabel, text(m_texts, lang::kProcessMessage1));
    const std::u16string mask = NormaliseMask(toU16(m_maskEdit->text()));
    m_maskEdit->setText(QString::fromStdU16String(mask));
    PrepareScan(m_session, mask);
    // The desktop program always lists what the volume's shadow copies hold, under folders named
    // in the user's language.
    m_session.ListShadowCopies = true;
    m_session.ShadowCopyFolder = text(m_texts, lang::kFileShadowCopy).toStdU16String();
    m_session.FoundByContentFolder = text(m_texts, lang::kFileFoundByContent).toStdU16String();
    m_label1b->setText(QStringLiteral("0"));
    m_label2b->setText(QStringLiteral("0"));
    setScanningLook(mode == ScanMode::Extended);

    GuiPump pump(m_pumpInterval);
    const std::uint64_t memory = m_services.availableMemory ? m_services.availableMemory() : 0;
    bool bootSectorError = false;
    bool outOfMemory = false;
    if (mode == ScanMode::Normal) {
        outOfMemory = fileSystemOf(m_session).normalScan(m_session, pump, *this, memory).outOfMemory;
    } else {
        const ExtendedReach reach =
            m_modeBox->currentIndex() == kWholeVolumeMode ? ExtendedReach::WholeVolume : ExtendedReach::Probes;
        const ExtendedScanReport report = fileSystemOf(m_session).extendedScan(m_session, pump, *this, memory, reach);
        bootSectorError = report.bootSectorError;
        outOfMemory = report.outOfMemory;
    }
    m_session.ScanRunning = false;
    returnToIdle();
    if (bootSectorError) {
        // The Find checks read the boot sector a moment ago; when it fails now the drive went
        // away. The window is idle again before the message, so the user can go on.
        ShowInformation(text(m_texts, lang::kDriveMessage8));
        return false;
    }
    if (outOfMemory) {
        // Records were left unexamined: saying "found 0" or showing a part as the whole would mislead.
        m_session.store.clear();
        ShowInformation(text(m_texts, lang::kDriveMessage12));
        return false;
    }
    // Copies whose data lies on another volume cannot be read from this one: said once, not hidden.
    if (m_session.shadowCopiesElsewhere > 0)
        ShowInformation(text(m_texts, lang::kFileShadowCopiesElsewhere).arg(m_session.shadowCopiesElsewhere));
    return showScanOutcome();
}

void TForm1::setScanningLook(bool extended)
{
    for (QWidget* input : std::initializer_list<QWidget*>{m_driveBox, m_modeBox, m_maskBox, m_maskEdit})
        input->setEnabled(false);
    m_progressBar->resize(0, m_progressBar->height());
    m_progressLabel->clear();
    m_progressLabel->show();
    m_findButton->setPictures(m_busyNormal, m_busyHover);
    setCaptionFontForLanguage(true);
    m_findButton->setCaptionText(text(m_texts, extended ? lang::kButtonsSkip : lang::kButtonsStop));
    m_closeButton->setEnabled(false);
}

void TForm1::returnToIdle()
{
    for (QWidget* input : std::initializer_list<QWidget*>{m_driveBox, m_modeBox, m_maskBox, m_maskEdit})
        input->setEnabled(true);
    m_progressBar->resize(200, m_progressBar->height());
    m_progressLabel->hide();
    setFittedText(m_hintLabel, hintIdleText());
    stopAnimation();
    m_findButton->setPictures(m_idleNormal, m_idleHover);
    setCaptionFontForLanguage(false);
    m_findButton->setCaptionText(text(m_texts, lang::kButtonsFind));
    m_closeButton->setEnabled(true);
}

void TForm1::setCaptionFontForLanguage(bool busy)
{
    if (!languageLayout(m_startup.LanguageIndex).smallFindCaption)
        return;
    QFont font = m_findButton->caption()->font();
    font.setPointSize(busy ? 7 : 8);
    m_findButton->caption()->setFont(font);
}

bool TForm1::showScanOutcome()
{
    if (m_session.FilesFound != 0) {
        hide();
        const FlagScope open(m_session.ResultsOpen);
        if (m_showResults)
            m_showResults(m_session);
        return true;
    }
    m_session.store.clear();
    // A scan that found nothing, or was stopped before it found anything, did not fill the bar:
    // an empty bar behind the message says so.
    m_progressBar->resize(0, m_progressBar->height());
    ShowInformation(text(m_texts, lang::kProcessNotFound));
    return false;
}

void TForm1::startAnimation()
{
    const QString clip = QString::fromStdString(m_folders.ApplicationFolder) + QStringLiteral("/Recovery.avi");
    m_aviPlaying = m_animation->start(clip);
    m_sweepAngle = 0;
    m_sweepTimer.start();
}

void TForm1::stopAnimation()
{
    if (m_aviPlaying)
        m_animation->stop();
    m_aviPlaying = false;
    m_sweepTimer.stop();
    m_aviPanel->setPixmap(skinPicture(QStringLiteral("still"), m_aviPanel->size()));
}

QPixmap TForm1::sweepPicture(int angle) const
{
    // The still picture with its sweep turned by `angle` degrees about the disc's centre.
    QPixmap picture = skinPicture(QStringLiteral("still"), m_aviPanel->size());
    const QPointF centre(77, 57);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xD9, 0xE6, 0xF7));
    painter.drawEllipse(centre, 38.5, 38.5);
    painter.setBrush(QColor(0x3B, 0x82, 0xDB, 0x99));
    painter.drawPie(QRectF(centre.x() - 40, centre.y() - 40, 80, 80), (90 - angle) * 16, -58 * 16);
    painter.setPen(QPen(QColor(0x2A, 0x66, 0xB5), 2));
    painter.setBrush(QColor(0xF0, 0xF0, 0xF0));
    painter.drawEllipse(centre, 8, 8);
    return picture;
}

void TForm1::stepStarted(ScanStep step)
{
    switch (step) {
    case ScanStep::Loading: setFittedText(m_hintLabel, text(m_texts, lang::kProcessMessage1)); break;
    case ScanStep::FindMftRecords: setFittedText(m_hintLabel, text(m_texts, lang::kExtendedModeMessage1)); break;
    case ScanStep::ReadMftRecords: setFittedText(m_hintLabel, text(m_texts, lang::kExtendedModeMessage2)); break;
    case ScanStep::FindFolders: setFittedText(m_hintLabel, text(m_texts, lang::kExtendedModeMessage3)); break;
    case ScanStep::FindFiles: setFittedText(m_hintLabel, text(m_texts, lang::kExtendedModeMessage4)); break;
    }
}

void TForm1::progressBar(int width)
{
    m_progressBar->resize(std::clamp(width, 0, 200), m_progressBar->height());
    m_progressBar->repaint();
}

void TForm1::progressLabel(int percent)
{
    m_progressLabel->setText(QString::number(percent) + QStringLiteral(" %"));
}

void TForm1::recordsExamined(std::int64_t count)
{
    m_label1b->setText(QString::number(count));
}

void TForm1::filesFound(std::int64_t count)
{
    m_label2b->setText(QString::number(count));
}

} // namespace orv::ui
