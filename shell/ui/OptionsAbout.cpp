#include "shell/ui/OptionsAbout.h"

#include "shell/ui/Accessibility.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QUrl>

#include "platform/SettingsBackend.h"
#include "shell/LanguageLayout.h"
#include "shell/Product.h"
#include "shell/Settings.h"

namespace orv::ui {

namespace {

const QColor kLinkColour(0xFF, 0xFF, 0x00);

QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TForm3::TForm3(const LanguageCatalogue& texts, std::int32_t languageIndex, SettingsBackend& settings,
               std::string& restoreFolder)
    : SkinDialog(QSize(320, 190), QStringLiteral("dialog")), m_settings(settings), m_restoreFolder(restoreFolder)
{
    setObjectName(QStringLiteral("TForm3"));
    applyRoundedOutline();
    addTitle(text(texts, lang::kButtonsOptions), QRect(14, 8, 292, 22));

    // The prompt doubles as the folder picker's title; it sits on the field below it.
    m_prompt = addLabel(QStringLiteral("Label1"), QRect(16, 46, 286, 32), kDialogTextColour,
                        skinFont(QStringLiteral("Arial"), 12, true), Qt::AlignLeft | Qt::AlignBottom);
    m_prompt->setWordWrap(true);
    m_prompt->setText(text(texts, lang::kFileSelect2));
    setDragBand([](QPoint point) { return point.y() < 46; });

    // The folder is only ever picked, never typed: a typed path could name no folder at all.
    m_folder = new QLineEdit(this);
    m_folder->setObjectName(QStringLiteral("Edit1"));
    m_folder->setGeometry(16, 88, 251, 22);
    m_folder->setFont(skinFont(QStringLiteral("Arial"), 12, false));
    // Read-only, not disabled: a disabled field draws its text light grey on light grey, and the
    // folder in use is the one thing this dialog shows.
    m_folder->setReadOnly(true);
    QPalette field = m_folder->palette();
    field.setColor(QPalette::Base, Qt::white);
    field.setColor(QPalette::Text, Qt::black);
    m_folder->setPalette(field);
    m_folder->setAccessibleName(spokenText(m_prompt->text()));

    // A file's named streams (its Zone.Identifier, say) come back beside it only when asked for.
    m_streams = new QCheckBox(text(texts, lang::kFileRestoreStreams), this);
    m_streams->setObjectName(QStringLiteral("StreamsBox"));
    m_streams->setGeometry(16, 114, 286, 18);
    m_streams->setFont(skinFont(QStringLiteral("Arial"), 9, false));
    m_streams->setAccessibleName(spokenText(m_streams->text()));

    ImageButton* browseButton = addButton(QStringLiteral("Button1"), QRect(271, 87, 31, 25),
                                          QStringLiteral("browse_normal"), QStringLiteral("browse_hover"));
    const QFont captionFont = skinFont(QStringLiteral("Verdana"), 11, true);
    // A "Save" too wide for the button at the usual size takes 7 points, drawn at the skin's 96
    // dots per inch.
    const QFont saveFont =
        languageLayout(languageIndex).smallSaveCaption ? skinFont(QStringLiteral("Verdana"), 9, true) : captionFont;
    ImageButton* saveButton =
        addDialogButton(QStringLiteral("Button2"), QPoint(58, 138), text(texts, lang::kButtonsSave), saveFont);
    ImageButton* closeButton =
        addDialogButton(QStringLiteral("Button3"), QPoint(170, 138), text(texts, lang::kButtonsClose), captionFont);
    connect(browseButton, &ImageButton::clicked, this, &TForm3::browse);
    connect(saveButton, &ImageButton::clicked, this, [this] {
        save();
        close();
    });
    connect(closeButton, &ImageButton::clicked, this, &QWidget::close);
    browseButton->setHint(m_prompt->text());
    setDefaultButton(saveButton);
    fitTexts();
}

void TForm3::showEvent(QShowEvent* event)
{
    m_folder->setText(QString::fromStdString(m_restoreFolder));
    m_streams->setChecked(
        ReadSettingBool(m_settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kRestoreStreams));
    SkinDialog::showEvent(event);
}

void TForm3::browse()
{
    // Cancelling, or a place with no folder on disk, returns nothing and leaves the field alone.
    const QString picked = QFileDialog::getExistingDirectory(this, m_prompt->text(), m_folder->text());
    if (!picked.isEmpty())
        m_folder->setText(picked);
}

void TForm3::save()
{
    m_restoreFolder = m_folder->text().toStdString();
    WriteSettingString(m_settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kSaveDir, m_restoreFolder);
    WriteSettingBool(m_settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kRestoreStreams,
                     m_streams->isChecked());
}

namespace {
QString urls(std::size_t i)
{
    return TForm5a::addresses().at(static_cast<qsizetype>(i));
}
} // namespace

QStringList TForm5a::addresses()
{
    return {QStringLiteral("https://www.orvandel.example/"), QStringLiteral("https://www.orvandel.example/support"),
            QStringLiteral("https://www.orvandel.example/license"),
            QStringLiteral("https://www.orvandel.example/privacy")};
}

TForm5a::TForm5a(const LanguageCatalogue& texts, std::function<void(const QUrl&)> openUrl)
    : SkinDialog(QSize(400, 230), QStringLiteral("about")), m_openUrl(std::move(openUrl))
{
    setObjectName(QStringLiteral("TForm5a"));
    applyRoundedOutline();
    addTitle(fromView(kProductName), QRect(10, 5, 380, 22));
    setWindowTitle(text(texts, lang::kAboutAbout));

    const QFont lineFont = skinFont(QStringLiteral("Arial"), 12, false);
    addLabel(QStringLiteral("ProduceLabel"), QRect(89, 32, 222, 15), kDialogTextColour, lineFont, Qt::AlignCenter)
        ->setText(QStringLiteral("\u00A9 2026 The Orvandel developers"));
    addLabel(QStringLiteral("VersionLabel"), QRect(128, 52, 145, 13), kDialogTextColour, lineFont, Qt::AlignCenter)
        ->setText(text(texts, lang::kAboutVersion) + QLatin1Char(' ') + fromView(kProductVersion));
    setDragBand([](QPoint point) { return point.y() < 52; });

    // The links on the left end at a common right edge, those on the right start at a common
    // left edge, so the two columns meet in the middle whatever the language.
    struct Link
    {
        const LanguageText& caption;
        int edge;
        int top;
        bool rightAligned;
    };
    const Link links[] = {
        {lang::kAboutWebsite, 213, 140, true},
        {lang::kAboutSupport, 212, 160, true},
        {lang::kAboutLicense, 222, 140, false},
        {lang::kAboutPolicy, 222, 160, false},
    };
    QFont linkFont = skinFont(QStringLiteral("Arial"), 11, false);
    linkFont.setUnderline(true);
    for (std::size_t i = 0; i < m_links.size(); ++i) {
        const Link& link = links[i];
        QLabel* label =
            addLabel(QStringLiteral("Label%1").arg(i + 1), QRect(link.edge, link.top, 0, 0), kLinkColour, linkFont,
                     link.rightAligned ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter);
        label->setText(text(texts, link.caption));
        label->adjustSize();
        if (link.rightAligned)
            label->move(link.edge - label->width(), link.top);
        label->setCursor(Qt::PointingHandCursor);
        m_links[i] = label;
        // The keyboard opens a link through a plate over it, as it presses a button.
        auto* key = new KeyPlate(this, label->objectName() + QStringLiteral("Key"), label->geometry());
        key->describe(label->text(), urls(i));
        // The link is read through its key plate, once.
        hideFromAssistiveTechnology(label);
        connect(key, &QAbstractButton::clicked, this, [this, i] {
            if (m_openUrl)
                m_openUrl(QUrl(urls(i)));
        });
    }

    ImageButton* closeButton =
        addDialogButton(QStringLiteral("Button1"), QPoint(162, 188), text(texts, lang::kButtonsClose),
                        skinFont(QStringLiteral("Verdana"), 11, true));
    connect(closeButton, &ImageButton::clicked, this, &QWidget::close);
    setDefaultButton(closeButton);
    fitTexts();
}

bool TForm5a::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QStringList urls = addresses();
        for (std::size_t i = 0; i < m_links.size(); ++i) {
            QLabel* link = m_links[i];
            if (watched != link)
                continue;
            // Like a button: the click counts where the press is let go over the link.
            if (mouse->button() == Qt::LeftButton && link->rect().contains(mouse->position().toPoint()) && m_openUrl)
                m_openUrl(QUrl(urls.at(static_cast<qsizetype>(i))));
            return true;
        }
    }
    return SkinDialog::eventFilter(watched, event);
}

} // namespace orv::ui
