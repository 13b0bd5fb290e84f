#include "OptionsAbout.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "MessageDialogs.h"
#include "Product.h"
#include "Settings.h"
#include "SettingsBackend.h"

namespace orv::ui {

TForm3::TForm3(const LanguageCatalogue& texts, SettingsBackend& settings, std::string& restoreFolder)
    : m_settings(settings), m_restoreFolder(restoreFolder), m_pickerTitle(text(texts, lang::kFileSelect2))
{
    setObjectName(QStringLiteral("TForm3"));
    setWindowTitle(text(texts, lang::kButtonsOptions));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(m_pickerTitle, this));
    auto* row = new QHBoxLayout;
    m_folder = new QLineEdit(QString::fromStdString(restoreFolder), this);
    m_folder->setObjectName(QStringLiteral("FolderEdit"));
    m_folder->setMinimumWidth(320);
    row->addWidget(m_folder, 1);
    auto* browseButton = new QPushButton(QStringLiteral("..."), this);
    browseButton->setObjectName(QStringLiteral("BrowseButton"));
    browseButton->setAutoDefault(false);
    row->addWidget(browseButton);
    layout->addLayout(row);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* saveButton = new QPushButton(text(texts, lang::kButtonsSave), this);
    saveButton->setObjectName(QStringLiteral("SaveButton"));
    auto* closeButton = new QPushButton(text(texts, lang::kButtonsClose), this);
    closeButton->setObjectName(QStringLiteral("CloseButton"));
    closeButton->setAutoDefault(false);
    buttons->addWidget(saveButton);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);
    connect(browseButton, &QPushButton::clicked, this, &TForm3::browse);
    connect(saveButton, &QPushButton::clicked, this, [this] {
        save();
        accept();
    });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TForm3::browse()
{
    const QString picked = QFileDialog::getExistingDirectory(this, m_pickerTitle, m_folder->text());
    if (!picked.isEmpty())
        m_folder->setText(picked);
}

void TForm3::save()
{
    m_restoreFolder = m_folder->text().toStdString();
    WriteSettingString(m_settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kSaveDir, m_restoreFolder);
}

QStringList TForm5a::addresses()
{
    return {QStringLiteral("https://www.orvandel.example/"), QStringLiteral("https://www.orvandel.example/support"),
            QStringLiteral("https://www.orvandel.example/license"), QStringLiteral("https://www.orvandel.example/privacy")};
}

TForm5a::TForm5a(const LanguageCatalogue& texts, std::function<void(const QUrl&)> openUrl)
{
    setObjectName(QStringLiteral("TForm5a"));
    setWindowTitle(text(texts, lang::kAboutAbout));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QString::fromUtf8(kProductName.data(), static_cast<int>(kProductName.size())), this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    title->setFont(big);
    layout->addWidget(title);
    auto* version = new QLabel(text(texts, lang::kAboutVersion) + QLatin1Char(' ') +
                                   QString::fromUtf8(kProductVersion.data(), static_cast<int>(kProductVersion.size())),
                               this);
    version->setObjectName(QStringLiteral("VersionLabel"));
    layout->addWidget(version);
    const QStringList urls = addresses();
    const QString captions[] = {text(texts, lang::kAboutWebsite), text(texts, lang::kAboutSupport),
                                text(texts, lang::kAboutLicense), text(texts, lang::kAboutPolicy)};
    for (int i = 0; i < 4; ++i) {
        auto* link = new QPushButton(captions[i], this);
        link->setObjectName(QStringLiteral("Link%1").arg(i + 1));
        link->setFlat(true);
        link->setAutoDefault(false);
        link->setCursor(Qt::PointingHandCursor);
        layout->addWidget(link);
        const QUrl url(urls[i]);
        connect(link, &QPushButton::clicked, this, [openUrl, url] {
            if (openUrl)
                openUrl(url);
        });
    }
    auto* closeButton = new QPushButton(text(texts, lang::kButtonsClose), this);
    closeButton->setObjectName(QStringLiteral("CloseButton"));
    layout->addWidget(closeButton, 0, Qt::AlignRight);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace orv::ui
