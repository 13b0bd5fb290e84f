#pragma once

#include <QAbstractTableModel>
#include <QDate>
#include <QHash>
#include <QIcon>
#include <QLocale>

#include <optional>
#include <string>
#include <vector>

#include "results/Operations.h"
#include "results/Recoverability.h"
#include "scan/ScanSession.h"
#include "shell/LanguageCatalogue.h"

namespace orv::ui {

// Points the process's icon theme at the system's icon folders and the common freedesktop theme
// when no desktop chose them (a bare X server), so file-type icons are found. Once, after the
// application object exists and before the first window.
void setUpIconTheme();

// File-type icons from the desktop's MIME database and icon theme (see setUpIconTheme), one
// lookup per extension: the list asks for an icon on every row it paints.
class FileIcons
{
public:
    // `extension` with its dot, any case: "." is a file without one, ".Dir" a folder.
    QIcon forExtension(const QString& extension);
    QIcon forName(const QString& name);

private:
    QHash<QString, QIcon> m_cache;
};

// The files of the folder shown in the results window. Grades are worked out only when a row is
// painted or the list is sorted by them, so a folder of 100,000 files opens at once.
class FileListModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Name, Date, Time, Size, Recoverability, ColumnCount };
    // The raw value a column sorts by (numbers for the size and the grade).
    static constexpr int SortRole = Qt::UserRole + 1;

    FileListModel(ScanSession& session, const LanguageCatalogue& texts, QObject* parent = nullptr);
    // Dates and sizes in that language's form (see languageLocale); without one, as stored.
    void setLocale(std::optional<QLocale> locale) { m_locale = std::move(locale); }

    // Lists the files of a store section; an empty section empties the list.
    void showFolder(const std::u16string& section);
    const std::u16string& folder() const { return m_folder; }

    // The record of a row while the store still lists its file; a wiped file has none.
    std::optional<FileLocator> locator(int row) const;
    // Where the row's file was listed, whether or not the store still lists it.
    std::optional<FileLocator> listedLocator(int row) const;
    QString fileName(int row) const;
    std::int64_t fileSize(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    struct Row
    {
        std::u16string name;
        std::u16string date;
        std::u16string time;
        std::int64_t size = 0;
        std::optional<FileLocator> locator;
        mutable std::optional<Grade> grade;
    };
    Grade gradeOf(const Row& row) const;
    // The creation time (FILETIME) kept in the row's record, for sorting by date and time.
    std::optional<std::int64_t> creationTimeOf(const Row& row) const;
    QString dateText(const Row& row) const;

    ScanSession& m_session;
    const LanguageCatalogue& m_texts;
    std::optional<QLocale> m_locale;
    std::u16string m_folder;
    std::vector<Row> m_rows;
    mutable FileIcons m_icons;
};

// The size line of the information panel: bytes below 1 KB, whole KB below 1 MB, whole MB below
// 1 GB, and the bare byte count from 1 GB on. The units are the program's own ("b", "Kb", "Mb"),
// or with a locale that language's, and so is the form of the number.
QString sizeText(std::int64_t bytes, const std::optional<QLocale>& locale = std::nullopt);
// The Size column's text: as sizeText below 1 GB, whole GB and TB above, so it always fits the
// column (the exact bytes are its tooltip and its sort value).
QString columnSizeText(std::int64_t bytes, const std::optional<QLocale>& locale = std::nullopt);
// The grade in the window's language; empty for a row that is no file record.
QString gradeText(const LanguageCatalogue& texts, Grade grade);

} // namespace orv::ui
