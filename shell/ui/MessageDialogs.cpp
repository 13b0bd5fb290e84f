#include "shell/ui/MessageDialogs.h"

#include "shell/ui/Accessibility.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include <algorithm>
#include <cerrno>

#include "scan/WildcardMask.h"
#include "shell/LanguageLayout.h"
#include "shell/Settings.h"

namespace orv::ui {

namespace {
const QColor kWhite(0xFF, 0xFF, 0xFF);
} // namespace

QString text(const LanguageCatalogue& texts, const LanguageText& entry)
{
    return QString::fromStdString(texts.Lookup(entry));
}

QString causeText(const LanguageCatalogue& texts, int error)
{
    switch (error) {
    case ENOSPC: return text(texts, lang::kCauseDiskFull);
    case EROFS: return text(texts, lang::kCauseReadOnly);
    case EACCES:
    case EPERM: return text(texts, lang::kCauseNoAccess);
    case EDQUOT: return text(texts, lang::kCauseQuota);
    case ENAMETOOLONG: return text(texts, lang::kCauseNameTooLong);
    case EIO: return text(texts, lang::kCauseInputOutput);
    case ENOENT: return text(texts, lang::kCauseNotFound);
    default: return text(texts, lang::kCauseOther).arg(error);
    }
}

QString maskFaultText(const LanguageCatalogue& texts, std::u16string_view mask)
{
    WildcardMask::Fault fault = WildcardMask::Fault::None;
    WildcardMask::compile(mask, nullptr, &fault);
    switch (fault) {
    case WildcardMask::Fault::None: return {};
    case WildcardMask::Fault::RangeWithoutStart: return text(texts, lang::kMaskRangeStart);
    case WildcardMask::Fault::RangeBackwards: return text(texts, lang::kMaskRangeBackwards);
    case WildcardMask::Fault::Unclosed: return text(texts, lang::kMaskUnclosed);
    case WildcardMask::Fault::EmptySet: return text(texts, lang::kMaskEmptySet);
    }
    return {};
}

std::vector<ImageButton*> addTopButtons(SkinWindow& window, const std::array<int, 5>& lefts,
                                        const LanguageCatalogue& texts)
{
    static const char* const kPictures[] = {"top_options", "top_help", "top_about", "top_minimize", "top_close"};
    const LanguageText* hints[] = {&lang::kButtonsOptions, &lang::kButtonsHelp, &lang::kAboutAbout,
                                   &lang::kButtonsMinimize, &lang::kButtonsClose};
    std::vector<ImageButton*> buttons;
    for (std::size_t i = 0; i < lefts.size(); ++i) {
        // The Close button is a little wider and sits a pixel lower.
        const QRect geometry(lefts[i], i == 4 ? 5 : 4, i == 4 ? 36 : 30, 22);
        const QString picture = QString::fromLatin1(kPictures[i]);
        ImageButton* button = window.addButton(QStringLiteral("TopButton%1").arg(i + 1), geometry,
                                               picture + QStringLiteral("_normal"), picture + QStringLiteral("_hover"));
        button->setHint(text(texts, *hints[i]));
        buttons.push_back(button);
    }
    return buttons;
}

SkinDialog::SkinDialog(QSize clientSize, const QString& background) : SkinWindow(nullptr, clientSize, background)
{
    setWindowModality(Qt::ApplicationModal);
}

void SkinDialog::placeCentred()
{
    const QScreen* screen = m_centreOn ? m_centreOn->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QPoint centre =
        m_centreOn ? QRect(m_centreOn->mapToGlobal(QPoint(0, 0)), m_centreOn->size()).center() : area.center();
    // A window moved partly off the screen would put the dialog's drag band out of reach: the
    // dialog stays on the screen.
    const QPoint topLeft = centre - rect().center();
    move(std::max(area.left(), std::min(topLeft.x(), area.right() + 1 - width())),
         std::max(area.top(), std::min(topLeft.y(), area.bottom() + 1 - height())));
}

void SkinDialog::exec()
{
    placeCentred();
    QEventLoop loop;
    m_loop = &loop;
    show();
    raise();
    activateWindow();
    loop.exec(QEventLoop::DialogExec);
    m_loop = nullptr;
}

void SkinDialog::closeEvent(QCloseEvent* event)
{
    event->accept();
    hide();
    if (m_loop)
        m_loop->quit();
}

void SkinDialog::keyPressEvent(QKeyEvent* event)
{
    // Escape leaves a dialog the way its window's close does: a question stays answered "No".
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && m_default && m_default->isEnabled()) {
        m_default->keyPlate()->click();
        return;
    }
    SkinWindow::keyPressEvent(event);
}

void SkinDialog::showEvent(QShowEvent* event)
{
    SkinWindow::showEvent(event);
    if (m_default && m_default->isEnabled())
        m_default->keyPlate()->setFocus(Qt::OtherFocusReason);
}

QLabel* SkinDialog::addTitle(const QString& title, QRect geometry)
{
    setWindowTitle(title);
    QLabel* label =
        addLabel(QStringLiteral("ActionLabel"), geometry, kWhite, skinFont(QStringLiteral("Verdana"), 16, true));
    label->setText(title);
    return label;
}

ImageButton* SkinDialog::addDialogButton(const QString& name, QPoint at, const QString& caption, const QFont& font)
{
    const QRect geometry(at, QSize(93, 30));
    ImageButton* button =
        addButton(name, geometry, QStringLiteral("dialog_button_normal"), QStringLiteral("dialog_button_hover"));
    button->addCaption(geometry, caption, kWhite, font);
    return button;
}

MessageDialog::MessageDialog(QSize clientSize, const QString& background, const QString& title, QRect infoGeometry)
    : SkinDialog(clientSize, background)
{
    applyRoundedOutline();
    addTitle(title, QRect(14, 8, clientSize.width() - 28, 22));
    m_info = addLabel(QStringLiteral("InfoLabel"), infoGeometry, kDialogTextColour,
                      skinFont(QStringLiteral("Arial"), 12, true), Qt::AlignCenter);
    m_info->setWordWrap(true);
    // The band above the message drags the dialog.
    const int band = infoGeometry.top();
    setDragBand([band](QPoint point) { return point.y() < band; });
}

InformationDialog::InformationDialog(const LanguageCatalogue& texts)
    : MessageDialog(QSize(320, 190), QStringLiteral("dialog"), text(texts, lang::kMessagesInformation),
                    QRect(20, 40, 284, 84))
{
    setObjectName(QStringLiteral("TForm6a"));
    // A message is read out as it opens.
    setAccessibleRole(this, QAccessible::AlertMessage);
    ImageButton* close = addDialogButton(QStringLiteral("Button1"), QPoint(114, 140), text(texts, lang::kButtonsClose),
                                         skinFont(QStringLiteral("Verdana"), 11, true));
    connect(close, &ImageButton::clicked, this, &QWidget::close);
    setDefaultButton(close);
    fitTexts();
}

void InformationDialog::showMessage(const QString& message)
{
    // The program's messages join two texts with a carriage return; a label breaks lines at "\n".
    // A long message is drawn smaller rather than cut at the box's edge.
    setFittedText(infoLabel(), QString(message).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    descriptionChanged(this);
    exec();
}

ConfirmationDialog::ConfirmationDialog(const LanguageCatalogue& texts)
    : MessageDialog(QSize(320, 190), QStringLiteral("dialog"), text(texts, lang::kMessagesConfirmation),
                    QRect(20, 44, 284, 64))
{
    setObjectName(QStringLiteral("TForm6b"));
    const QFont font = skinFont(QStringLiteral("Verdana"), 11, true);
    m_yes = addDialogButton(QStringLiteral("Button1"), QPoint(58, 140), text(texts, lang::kButtonsYes), font);
    m_no = addDialogButton(QStringLiteral("Button2"), QPoint(170, 140), text(texts, lang::kButtonsNo), font);
    connect(m_yes, &ImageButton::clicked, this, [this] {
        m_answer = QStringLiteral("Yes");
        close();
    });
    connect(m_no, &ImageButton::clicked, this, &QWidget::close);
    setDefaultButton(m_yes);
    fitTexts();
}

void ConfirmationDialog::showEvent(QShowEvent* event)
{
    m_answer = QStringLiteral("No");
    MessageDialog::showEvent(event);
}

bool ConfirmationDialog::ask(const QString& question, Default answer)
{
    setFittedText(infoLabel(), QString(question).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    descriptionChanged(this);
    setDefaultButton(answer == Default::No ? m_no : m_yes);
    exec();
    setDefaultButton(m_yes);
    return m_answer == QLatin1String("Yes");
}

ImportantNotice::ImportantNotice(const LanguageCatalogue& texts, std::int32_t languageIndex, SettingsBackend& settings,
                                 bool& showNote)
    : MessageDialog(QSize(320, 240), QStringLiteral("notice"), text(texts, lang::kWarningsImportant),
                    QRect(20, 44, 284, 100))
{
    setObjectName(QStringLiteral("TForm6c"));
    setDragBand([](QPoint point) { return point.y() < 40; });
    infoLabel()->setText(text(texts, lang::kWarningsMessage3));

    m_check = new QCheckBox(this);
    m_check->setObjectName(QStringLiteral("Check1"));
    const int checkLeft = languageLayout(languageIndex).noticeCheckLeft;
    m_check->setGeometry(checkLeft, 166, 17, 17);

    m_checkLabel = addLabel(QStringLiteral("CheckLabel"), QRect(checkLeft + 17 + 8, 168, 200, 14), kDialogTextColour,
                            skinFont(QStringLiteral("Arial"), 11, false));
    m_checkLabel->setText(text(texts, lang::kWarningsMessage4));
    m_checkLabel->adjustSize();
    // A long text keeps to the dialog: it is drawn smaller rather than run past the edge.
    if (m_checkLabel->geometry().right() > width() - 12)
        m_checkLabel->resize(width() - 12 - m_checkLabel->x(), m_checkLabel->height());
    m_checkLabel->setCursor(Qt::PointingHandCursor);
    m_check->setAccessibleName(spokenText(m_checkLabel->text()));

    ImageButton* next =
        addDialogButton(QStringLiteral("Button1"), QPoint(110, 196), text(texts, lang::kButtonsContinue),
                        skinFont(QStringLiteral("Arial"), 11, true));
    connect(next, &ImageButton::clicked, this, [this, &settings, &showNote] {
        if (m_check->isChecked()) {
            showNote = false;
            WriteSettingBool(settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kShowNote, false);
        }
        close();
    });
    setDefaultButton(next);
    fitTexts();
}

bool ImportantNotice::eventFilter(QObject* watched, QEvent* event)
{
    // The text beside the box ticks and unticks it, as the box itself does.
    if (watched == m_checkLabel && event->type() == QEvent::MouseButtonRelease) {
        m_check->toggle();
        return true;
    }
    return MessageDialog::eventFilter(watched, event);
}

} // namespace orv::ui
