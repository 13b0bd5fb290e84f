#include "InterimResults.h"

#include <QDialog>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "MessageDialogs.h"
#include "Product.h"

namespace orv::ui {

void ShowInterimResults(const ScanSession& session, const LanguageCatalogue& texts)
{
    QDialog dialog;
    dialog.setObjectName(QStringLiteral("TForm2"));
    dialog.setWindowTitle(QString::fromUtf8(kProductName.data(), static_cast<int>(kProductName.size())) +
                          QStringLiteral(" - ") + text(texts, lang::kProcessFound) + QLatin1Char(' ') +
                          QString::number(session.FilesFound));
    dialog.resize(705, 559);
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QTreeWidget(&dialog);
    list->setObjectName(QStringLiteral("FList"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({text(texts, lang::kFileFile), text(texts, lang::kFileDate), text(texts, lang::kFileTime),
                           text(texts, lang::kFileSize)});
    for (const std::u16string& section : session.store.sections()) {
        const QString folder = QString::fromStdU16String(section);
        for (const std::u16string& key : session.store.keys(section)) {
            const StoredFile stored = parseStoredValue(session.store.read(section, key));
            auto* item = new QTreeWidgetItem(list);
            item->setText(0, folder + QString::fromStdU16String(key));
            item->setText(1, QString::fromStdU16String(stored.date));
            item->setText(2, QString::fromStdU16String(stored.time));
            item->setText(3, QString::number(stored.size));
            item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        }
    }
    for (int column = 1; column < 4; ++column)
        list->resizeColumnToContents(column);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    layout->addWidget(list);
    auto* close = new QPushButton(text(texts, lang::kButtonsClose), &dialog);
    close->setObjectName(QStringLiteral("Button3"));
    QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignRight);
    dialog.exec();
}

} // namespace orv::ui
