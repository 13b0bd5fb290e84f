#include "shell/ui/FileListModel.h"

#include <QApplication>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QStyle>

#include <algorithm>
#include <limits>

#include "results/FileSystem.h"
#include "scan/ListedFileFacts.h"
#include "shell/ui/MessageDialogs.h"
#include "volume/FileTime.h"

namespace orv::ui {

namespace {

QString qs(const std::u16string& text)
{
    return QString::fromStdU16String(text);
}

QString extensionOf(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QStringLiteral(".") : name.mid(dot);
}

// File names read from the left, sizes from the right, the rest from the middle.
Qt::Alignment columnAlignment(int column)
{
    switch (column) {
    case FileListModel::Name: return Qt::AlignLeft | Qt::AlignVCenter;
    case FileListModel::Size: return Qt::AlignRight | Qt::AlignVCenter;
    default: return Qt::AlignCenter;
    }
}

int gradeRank(Grade grade)
{
    return static_cast<int>(grade);
}

} // namespace

QString gradeText(const LanguageCatalogue& texts, Grade grade)
{
    switch (grade) {
    case Grade::Good: return text(texts, lang::kFileGood);
    case Grade::Average: return text(texts, lang::kFileAverage);
    case Grade::Poor: return text(texts, lang::kFilePoor);
    case Grade::None: break;
    }
    return {};
}

void setUpIconTheme()
{
    // Without a desktop (a bare X server) Qt searches no icon folder and knows no theme; the
    // system's icon folders and the common freedesktop theme stand in. A desktop's own theme and
    // folders still come first.
    QStringList folders = QIcon::themeSearchPaths();
    for (const QString& folder : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                                           QStandardPaths::LocateDirectory))
        if (!folders.contains(folder))
            folders << folder;
    QIcon::setThemeSearchPaths(folders);
    if (QIcon::themeName().isEmpty())
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    const QString fallback = QIcon::fallbackThemeName();
    if (fallback.isEmpty() || fallback == QLatin1String("hicolor"))
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
}

QIcon FileIcons::forExtension(const QString& extension)
{
    // ".Dir" names a folder only in exactly that spelling: "notes.dir" is a file like any other.
    const bool folder = extension == QLatin1String(".Dir");
    const QString key = folder ? extension : extension.toUpper();
    const auto cached = m_cache.constFind(key);
    if (cached != m_cache.constEnd())
        return *cached;
    // Without an icon theme (a bare X server) the style's own pictures stand in.
    const auto themed = [](const QString& name, QStyle::StandardPixmap fallback) {
        QIcon found = QIcon::fromTheme(name);
        if (found.isNull() && qobject_cast<QApplication*>(QCoreApplication::instance()))
            found = QApplication::style()->standardIcon(fallback);
        return found;
    };
    QIcon icon;
    if (folder) {
        icon = themed(QStringLiteral("folder"), QStyle::SP_DirIcon);
    } else if (key == QLatin1String(".")) {
        icon = themed(QStringLiteral("text-x-generic"), QStyle::SP_FileIcon);
    } else {
        static const QMimeDatabase mimes;
        const QMimeType type =
            mimes.mimeTypeForFile(QStringLiteral("x") + extension.toLower(), QMimeDatabase::MatchExtension);
        if (type.isValid() && !type.isDefault()) {
            icon = QIcon::fromTheme(type.iconName());
            if (icon.isNull())
                icon = QIcon::fromTheme(type.genericIconName());
        }
        // A type the desktop does not know is shown as a program of its own.
        if (icon.isNull())
            icon = themed(QStringLiteral("application-x-executable"), QStyle::SP_FileIcon);
    }
    m_cache.insert(key, icon);
    return icon;
}

QIcon FileIcons::forName(const QString& name)
{
    return forExtension(extensionOf(name));
}

namespace {

// `count` whole units of 1024^power in the locale's form ("3 kB", "3 ko", "3 кБ"), or in the
// program's own English ("3 Kb") without one.
QString inUnits(std::int64_t count, int power, const std::optional<QLocale>& locale)
{
    static const char* const kOwn[] = {" b", " Kb", " Mb", " Gb", " Tb"};
    if (!locale)
        return QString::number(count) + QLatin1String(kOwn[power]);
    // The locale's unit: what it writes for one whole unit, without the number.
    const qint64 one = qint64{1} << (10 * power);
    QString unit = locale->formattedDataSize(power == 0 ? 2 : one, 0, QLocale::DataSizeTraditionalFormat);
    unit.remove(0, locale->toString(power == 0 ? 2 : 1).size());
    return locale->toString(static_cast<qlonglong>(count)) + unit;
}

} // namespace

QString sizeText(std::int64_t bytes, const std::optional<QLocale>& locale)
{
    constexpr std::int64_t kb = 1024, mb = kb * 1024, gb = mb * 1024;
    if (bytes < kb)
        return inUnits(bytes, 0, locale);
    if (bytes < mb)
        return inUnits(bytes / kb, 1, locale);
    if (bytes < gb)
        return inUnits(bytes / mb, 2, locale);
    return QString::number(bytes);
}

QString columnSizeText(std::int64_t bytes, const std::optional<QLocale>& locale)
{
    constexpr std::int64_t kb = 1024, mb = kb * 1024, gb = mb * 1024, tb = gb * 1024;
    if (bytes < gb)
        return sizeText(bytes, locale);
    if (bytes < tb)
        return inUnits(bytes / gb, 3, locale);
    return inUnits(bytes / tb, 4, locale);
}

FileListModel::FileListModel(ScanSession& session, const LanguageCatalogue& texts, QObject* parent)
    : QAbstractTableModel(parent), m_session(session), m_texts(texts)
{}

void FileListModel::showFolder(const std::u16string& section)
{
    beginResetModel();
    m_folder = section;
    m_rows.clear();
    m_session.store.forEachIn(section, [&](std::u16string_view key, std::u16string_view value) {
        // A key without a value is a blank row: no name, nothing to restore.
        if (value.empty()) {
            m_rows.emplace_back();
            return;
        }
        StoredFile stored = parseStoredValue(value);
        m_rows.push_back({std::u16string(key), std::move(stored.date), std::move(stored.time), stored.size,
                          stored.locator, std::nullopt});
    });
    endResetModel();
}

std::optional<FileLocator> FileListModel::locator(int row) const
{
    if (row < 0 || row >= rowCount())
        return std::nullopt;
    const Row& shown = m_rows[static_cast<std::size_t>(row)];
    if (!shown.locator || shown.name.empty() ||
        !m_session.store.valueExists(m_folder, shown.name, locatorText(*shown.locator)))
        return std::nullopt;
    return shown.locator;
}

std::optional<FileLocator> FileListModel::listedLocator(int row) const
{
    if (row < 0 || row >= rowCount())
        return std::nullopt;
    return m_rows[static_cast<std::size_t>(row)].locator;
}

std::int64_t FileListModel::fileSize(int row) const
{
    return row < 0 || row >= rowCount() ? 0 : m_rows[static_cast<std::size_t>(row)].size;
}

QString FileListModel::fileName(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    return qs(m_rows[static_cast<std::size_t>(row)].name);
}

Grade FileListModel::gradeOf(const Row& row) const
{
    if (!row.grade) {
        // Rows are graded when they are first drawn, which may happen inside a restore's or a
        // preview's pumping while it streams the file opened in the session: grading never
        // disturbs that file.
        row.grade = row.locator ? fileSystemOf(m_session).grade(m_session, *row.locator, row.name) : Grade::None;
    }
    return *row.grade;
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case Name: return qs(row.name);
        case Date: return dateText(row);
        case Time: return qs(row.time);
        case Size: return row.name.empty() ? QString() : columnSizeText(row.size, m_locale);
        case Recoverability: return gradeText(m_texts, gradeOf(row));
        }
        break;
    case Qt::ToolTipRole:
        // The column shows a size it can hold; the exact bytes are one look away.
        if (column == Size && !row.name.empty())
            return inUnits(row.size, 0, m_locale);
        break;
    case SortRole:
        switch (column) {
        case Name: return QString::fromStdU16String(ResultsStore::fold(row.name));
        // The texts are in the user's date format ("12/10/26"), which does not sort; the creation
        // time in the record does.
        case Date: return static_cast<qlonglong>(creationTimeOf(row).value_or(-1));
        case Time: {
            const auto created = creationTimeOf(row);
            const auto local = created ? fileTimeToLocal(static_cast<std::uint64_t>(*created)) : std::nullopt;
            return static_cast<qlonglong>(local ? local->hour * 3600 + local->minute * 60 + local->second : -1);
        }
        case Size: return static_cast<qlonglong>(row.size);
        case Recoverability: return gradeRank(gradeOf(row));
        }
        break;
    case Qt::DecorationRole:
        if (column == Name && !row.name.empty())
            return m_icons.forName(qs(row.name));
        break;
    case Qt::TextAlignmentRole: return QVariant::fromValue(columnAlignment(column));
    default: break;
    }
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::TextAlignmentRole)
        return QVariant::fromValue(columnAlignment(section));
    // A heading cut to its column's width shows whole in its tooltip.
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Name: return text(m_texts, lang::kFileFile);
    case Date: return text(m_texts, lang::kFileDate);
    case Time: return text(m_texts, lang::kFileTime);
    case Size: return text(m_texts, lang::kFileSize);
    case Recoverability: return text(m_texts, lang::kFileRecoverability);
    }
    return {};
}

QString FileListModel::dateText(const Row& row) const
{
    // Another language writes the date its own way ("10.12.26"), from the time in the record.
    if (m_locale && !row.date.empty())
        if (const auto created = creationTimeOf(row))
            if (const auto local = fileTimeToLocal(static_cast<std::uint64_t>(*created)))
                if (const QDate day(local->year, local->month, local->day); day.isValid())
                    return m_locale->toString(day, QLocale::ShortFormat);
    return qs(row.date);
}

std::optional<std::int64_t> FileListModel::creationTimeOf(const Row& row) const
{
    if (!row.locator)
        return std::nullopt;
    const auto facts = fileSystemOf(m_session).facts(m_session, *row.locator);
    const auto fileTime = facts ? facts->creationTime : std::nullopt;
    if (!fileTime || *fileTime > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return std::nullopt;
    return static_cast<std::int64_t>(*fileTime);
}

void FileListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount || m_rows.size() < 2)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();

    std::vector<std::size_t> order_(m_rows.size());
    for (std::size_t i = 0; i < order_.size(); ++i)
        order_[i] = i;
    std::vector<QVariant> keys(m_rows.size());
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        keys[i] = data(this->index(static_cast<int>(i), column), SortRole);
    const auto less = [&](std::size_t a, std::size_t b) {
        return QVariant::compare(keys[a], keys[b]) == QPartialOrdering::Less;
    };
    std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
        return order == Qt::AscendingOrder ? less(a, b) : less(b, a);
    });
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newRow(m_rows.size());
    for (std::size_t i = 0; i < order_.size(); ++i) {
        newRow[order_[i]] = static_cast<int>(i);
        sorted.push_back(std::move(m_rows[order_[i]]));
    }
    m_rows = std::move(sorted);
    QModelIndexList after;
    for (const QModelIndex& index : before)
        after.push_back(this->index(newRow[static_cast<std::size_t>(index.row())], index.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace orv::ui
