// The results window over a store and over a scanned fixture volume: the tree with its folder
// pictures, the layout, the file list model, the information panel, Restore and Wipe with a Stop,
// the preview and find in results.

#include <QAbstractItemModelTester>
#include <QCloseEvent>
#include <QCryptographicHash>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "results/FileSystem.h"
#include "scan/FindChecks.h"
#include "scan/NormalScan.h"
#include "shell/LanguageCatalogue.h"
#include "shell/ui/LanguageLocale.h"
#include "shell/ui/ResultsWindow.h"
#include "tests/support/RecordBuilder.h"
#include "tests/ui/UiTestSupport.h"

using namespace orv;
using namespace orv::ui;
using namespace orv::ui::test;

namespace {

// A results window whose dialogs answer at once and remember what they were told.
struct Harness
{
    ScanSession session;
    LanguageCatalogue texts;
    QStringList messages;
    QStringList questions;
    QList<QUrl> opened;
    QStringList dialogs; // Options, About and Help as the top buttons opened them
    std::filesystem::path restoreFolder;
    std::filesystem::path mountPoint;
    std::int32_t language = 1;
    bool restoreStreams = false; // Options: restore named streams beside their files
    std::function<bool(const QString&)> answer = [](const QString&) { return true; };
    std::unique_ptr<TForm2> window;

    Harness() { session.volume.Drive = "C:"; }

    void open()
    {
        window = std::make_unique<TForm2>(ResultsServices{
            .session = session,
            .texts = texts,
            .inform = [this](const QString& message) { messages << message; },
            .ask =
                [this](const QString& question) {
                    questions << question;
                    return answer(question);
                },
            .importantNotice = [] {},
            .showNote = [] { return false; },
            .restoreStreams = [this] { return restoreStreams; },
            .restoreFolder = [this] { return restoreFolder; },
            .osMajorVersion = 10,
            .openUrl = [this](const QUrl& url) { opened << url; },
            .options = [this] { dialogs << QStringLiteral("options"); },
            .about = [this] { dialogs << QStringLiteral("about"); },
            .help = [this] { dialogs << QStringLiteral("help"); },
            .mountPoint =
                [this](const std::string& drive) { return drive == "C:" ? mountPoint : std::filesystem::path(); },
            .languageIndex = language,
        });
        window->setPumpInterval(std::chrono::milliseconds(0));
        window->ShowForm();
    }
    QStringList shownNames() const
    {
        QStringList names;
        for (int row = 0; row < window->model()->rowCount(); ++row)
            names << window->model()->fileName(row);
        return names;
    }
    // Ctrl-clicks a row, as a user adds a file to the selection.
    void select(const QString& name)
    {
        FileListModel* model = window->model();
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->fileName(row) == name)
                window->FList()->selectionModel()->select(model->index(row, 0),
                                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
};

QString sha256(const std::filesystem::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(QCryptographicHash::hash(in.readAll(), QCryptographicHash::Sha256).toHex());
}

} // namespace

class ResultsWindowTest : public QObject
{
    Q_OBJECT

private:
    TempFolder m_folder;
    std::unique_ptr<LinuxDriveSystem> m_drives;

    // The demo volume scanned as drive C:, as the main window leaves it for the results window.
    bool scanDemo(Harness& h, const char* name = "demo")
    {
        const std::filesystem::path source = std::filesystem::path(ORV_FIXTURES_DIR) / (std::string(name) + ".img");
        if (!std::filesystem::exists(source))
            return false;
        const std::filesystem::path image = m_folder / "demo.img";
        std::filesystem::remove(image);
        std::filesystem::copy_file(source, image);
        m_drives =
            std::make_unique<LinuxDriveSystem>(LinuxDriveSources{{}, "/nonexistent", "/nonexistent", "/nonexistent"});
        m_drives->addDrive("C:", image.string());
        if (RunFindChecks(h.session, *m_drives, "C:", u"", 10).check != FindCheck::Ok)
            return false;
        PrepareScan(h.session, u"");
        GuiPump pump(std::chrono::milliseconds(0));
        ScanProgress progress;
        fileSystemOf(h.session).normalScan(h.session, pump, progress, std::uint64_t{1} << 30);
        h.restoreFolder = m_folder / "restored";
        return true;
    }

    void showFolder(Harness& h, const QString& section)
    {
        QTreeWidgetItem* root = h.window->DList()->topLevelItem(0);
        const auto node = walkToFolder(
            root, section.toStdU16String(), [](QTreeWidgetItem* item) { return item->text(0).toStdU16String(); },
            [](QTreeWidgetItem* item) {
                std::vector<QTreeWidgetItem*> children;
                for (int i = 0; i < item->childCount(); ++i)
                    children.push_back(item->child(i));
                return children;
            });
        QVERIFY(node);
        h.window->DList()->setCurrentItem(*node);
    }

    // A new Normal scan of the same volume, as the user runs after a wipe.
    static void rescan(Harness& h)
    {
        h.session.store.clear();
        PrepareScan(h.session, u"");
        GuiPump pump(std::chrono::milliseconds(0));
        ScanProgress progress;
        fileSystemOf(h.session).normalScan(h.session, pump, progress, std::uint64_t{1} << 30);
    }

private slots:
    void initTestCase() { setUpIconTheme(); }

    // A file that could not be restored is named with the reason, in the window's language: an
    // empty file, and a row whose file a wipe took meanwhile.
    void restoreSaysWhyAFileDidNotComeBackInTheUsersLanguage()
    {
        Harness h;
        if (!scanDemo(h, "ntfs-c4096"))
            QSKIP("fixture images are not unpacked");
        h.texts = LoadLanguageCatalogue(ORV_RESOURCES_DIR, 2);
        h.language = 2;
        h.open();
        // A folder without files: Restore and Wipe say that nothing is chosen.
        h.window->model()->showFolder(u"C:\\no such folder\\");
        h.window->Button1Click();
        h.window->Button2Click();
        QCOMPARE(h.messages, QStringList(2, QStringLiteral("Keine Dateien ausgewählt!")));
        showFolder(h, QStringLiteral("C:\\"));
        h.select(QStringLiteral("gone-empty.dat"));
        h.window->Button1Click();
        QCOMPARE(h.messages.last(),
                 QStringLiteral("0 Datei(en) vollständig wiederhergestellt.\n"
                                "gone-empty.dat ist leer: Es gibt nichts wiederherzustellen."));
        const QString other = h.shownNames().filter(QStringLiteral(".txt")).value(0);
        QVERIFY(!other.isEmpty());
        h.select(other);
        h.window->Button2Click(); // wiped: its row stays in view until the folder is chosen again
        h.window->FList()->clearSelection();
        h.select(other);
        h.window->Button1Click();
        QCOMPARE(h.messages.last(),
                 QStringLiteral("0 Datei(en) vollständig wiederhergestellt.\n") + other +
                     QStringLiteral(": Die Datei ist nicht mehr in den Ergebnissen (sie wurde vernichtet)."));
    }
    void treeFollowsTheSectionsInStoreOrder()
    {
        Harness h;
        const TempFolder outside;
        const QDir mounted(qPath(outside / "mnt"));
        h.mountPoint = mounted.path().toStdString();
        QVERIFY(mounted.mkpath(QStringLiteral("A/B")));
        QVERIFY(mounted.mkpath(QStringLiteral("X")));
        QVERIFY(QDir(qPath(outside.path())).mkpath(QStringLiteral("X"))); // beside the mount point, not on it
        h.session.store.write(u"C:\\", u"root.txt", u"1#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\A\\B\\", u"b.txt", u"1#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\Z\\", u"z.txt", u"1#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\A\\C\\", u"c.txt", u"1#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\a\\", u"lower.txt", u"1#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\Мои документы\\", u"отчёт.txt", u"1#01.01.2020#10:00#5");
        // A folder of another drive (a list the user kept beside the program) gets a root of its
        // own; whether it exists is asked of the scanned drive.
        h.session.store.write(u"D:\\X\\", u"x.txt", u"1#01.01.2020#10:00#5");
        // Names from the volume never lead out of the mount point.
        h.session.store.write(u"C:\\..\\X\\", u"up.txt", u"1#01.01.2020#10:00#5");
        h.open();
        QTreeWidget* tree = h.window->DList();
        QCOMPARE(tree->topLevelItemCount(), 2);
        QTreeWidgetItem* root = tree->topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("C:"));
        QVERIFY(root->isExpanded());
        QStringList children;
        for (int i = 0; i < root->childCount(); ++i)
            children << root->child(i)->text(0);
        // Node texts compare with their case: "a" is a folder of its own.
        QCOMPARE(children,
                 (QStringList{QStringLiteral("A"), QStringLiteral("Z"), QStringLiteral("a"),
                              QStringLiteral("Мои документы"), QStringLiteral("..")}));
        QTreeWidgetItem* a = root->child(0);
        QCOMPARE(a->childCount(), 2);
        QCOMPARE(a->child(1)->text(0), QStringLiteral("C"));
        const auto image = [](QTreeWidgetItem* node) { return node->data(0, TForm2::FolderImageRole).toInt(); };
        QCOMPARE(image(a), int(TForm2::FolderExists));
        QCOMPARE(image(a->child(0)), int(TForm2::FolderExists)); // A\\B is on the mounted volume
        QCOMPARE(image(a->child(1)), int(TForm2::FolderGone));
        QCOMPARE(image(root->child(1)), int(TForm2::FolderGone));
        QTreeWidgetItem* other = tree->topLevelItem(1);
        QCOMPARE(other->text(0), QStringLiteral("D:"));
        QCOMPARE(image(other->child(0)), int(TForm2::FolderExists));
        QTreeWidgetItem* up = root->child(root->childCount() - 1);
        QCOMPARE(up->text(0), QStringLiteral(".."));
        QCOMPARE(image(up), int(TForm2::FolderGone));
        QCOMPARE(image(up->child(0)), int(TForm2::FolderGone));

        // No folder is chosen on opening; the root lists the files of C:\ once chosen.
        QCOMPARE(h.window->model()->rowCount(), 0);
        tree->setCurrentItem(root);
        QCOMPARE(h.shownNames(), QStringList{QStringLiteral("root.txt")});
        QCOMPARE(h.window->currentFolderPath(), std::u16string(u"C:\\"));
        tree->setCurrentItem(root->child(3));
        QCOMPARE(h.shownNames(), QStringList{QStringLiteral("отчёт.txt")});
        QCOMPARE(h.window->Label1b()->text(), QStringLiteral("отчёт.txt"));

        // Not mounted: every folder below the roots is gone.
        h.mountPoint.clear();
        h.window->ShowForm();
        QCOMPARE(image(tree->topLevelItem(0)->child(0)->child(0)), int(TForm2::FolderGone));
    }

    void windowPlacesItsControlsAndLimitsTheSplitter_data()
    {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << 1;
        QTest::newRow("German") << 2;
        QTest::newRow("Russian") << 6;
        QTest::newRow("Portuguese") << 7;
    }
    void windowPlacesItsControlsAndLimitsTheSplitter()
    {
        QFETCH(int, language);
        Harness h;
        h.language = language;
        h.open();
        TForm2& window = *h.window;
        QCOMPARE(window.size(), QSize(705, 559));
        const std::pair<const char*, QRect> places[] = {
            {"ListPanel", {29, 47, 644, 328}},    {"ProgressBar", {32, 382, 233, 14}},
            {"SelectLabel", {392, 381, 136, 14}}, {"DeSelectLabel", {536, 381, 136, 14}},
            {"FindEdit", {26, 438, 158, 22}},     {"Button4A", {186, 437, 31, 25}},
            {"PreviewImage", {256, 420, 48, 48}}, {"Button1A", {246, 488, 144, 60}},
            {"Button2A", {392, 488, 144, 60}},    {"Button3A", {536, 488, 144, 60}},
            {"Button1Label", {302, 504, 70, 30}}, {"Button2Label", {456, 504, 70, 30}},
            {"Button3Label", {598, 504, 70, 30}}, {"TopButton1A", {538, 4, 30, 22}},
            {"TopButton4A", {624, 4, 30, 22}},    {"TopButton5A", {653, 5, 36, 22}},
        };
        for (const auto& [name, place] : places) {
            QWidget* control = window.findChild<QWidget*>(QLatin1String(name));
            QVERIFY2(control, name);
            QCOMPARE(control->geometry(), place);
        }
        QCOMPARE(window.ResultLabel()->pos(), QPoint(32, 382));
        // The values stand in one column, clear of the longest name, and end inside the panel.
        const int valueLeft = window.Label1b()->x();
        QVERIFY(valueLeft >= 420);
        for (QLabel* value : {window.Label1b(), window.Label2b(), window.Label3b()}) {
            QCOMPARE(value->x(), valueLeft);
            QCOMPARE(value->geometry().right(), 679);
        }
        for (const char* name : {"Label1a", "Label2a", "Label3a"})
            QVERIFY(window.findChild<QLabel*>(QLatin1String(name))->geometry().right() + 4 < valueLeft);
        QVERIFY(!window.ProgressBar()->isVisible());
        QVERIFY(window.dragBandContains(QPoint(500, 10)));
        QVERIFY(!window.dragBandContains(QPoint(540, 10))); // the top buttons are not part of the band

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTableView* list = window.FList();
        const auto fileColumnFits = [list] {
            int others = 0;
            for (int column = 1; column < 5; ++column)
                others += list->columnWidth(column);
            return list->columnWidth(0) == list->width() - others - 24;
        };
        QCOMPARE(window.DList()->width(), 170);
        QCOMPARE(list->columnWidth(FileListModel::Date), 80);
        QVERIFY(list->columnWidth(FileListModel::Recoverability) >= 70);
        QVERIFY(fileColumnFits());
        // The tree keeps at least 170 pixels and leaves the list at least 400 of the window.
        QSplitter* splitter = window.ListSplitter();
        splitter->setSizes({400, 240});
        QCOMPARE(window.DList()->width(), 705 - 400);
        splitter->setSizes({60, 580});
        QCOMPARE(window.DList()->width(), 170);
        QTRY_VERIFY(fileColumnFits());
    }

    void fileListModelSortsAndStaysConsistent()
    {
        Harness h;
        h.session.store.write(u"C:\\", u"b.txt", u"1#02.01.2020#10:00#10");
        h.session.store.write(u"C:\\", u"A.txt", u"2#01.01.2020#11:00#9");
        h.session.store.write(u"C:\\", u"c.txt", u"3#03.01.2020#09:00#1024");
        h.session.store.write(u"C:\\", u"blank", u"");
        FileListModel model(h.session, h.texts);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.showFolder(u"C:\\");
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(model.data(model.index(0, FileListModel::Date)).toString(), QStringLiteral("02.01.2020"));
        QCOMPARE(model.data(model.index(0, FileListModel::Time)).toString(), QStringLiteral("10:00"));
        // The column shows a size it can hold; the tooltip and the sort keep the bytes.
        QCOMPARE(model.data(model.index(0, FileListModel::Size)).toString(), QStringLiteral("10 b"));
        QCOMPARE(model.data(model.index(2, FileListModel::Size)).toString(), QStringLiteral("1 Kb"));
        QCOMPARE(model.data(model.index(2, FileListModel::Size), Qt::ToolTipRole).toString(), QStringLiteral("1024 b"));
        const std::pair<std::int64_t, const char*> sizes[] = {{1023, "1023 b"},        {419430400, "400 Mb"},
                                                              {1073741823, "1023 Mb"}, {1073741824, "1 Gb"},
                                                              {3000000000, "2 Gb"},    {std::int64_t{5} << 40, "5 Tb"}};
        for (const auto& [bytes, shown] : sizes)
            QCOMPARE(columnSizeText(bytes), QLatin1String(shown));
        QCOMPARE(model.fileName(3), QString()); // a key without a value is a blank row
        model.sort(FileListModel::Name);
        QCOMPARE(model.fileName(1), QStringLiteral("A.txt"));
        QCOMPARE(model.fileName(3), QStringLiteral("c.txt"));
        model.sort(FileListModel::Name);
        QCOMPARE(model.fileName(1), QStringLiteral("A.txt"));
        // Sizes sort as numbers: 9 before 10.
        model.sort(FileListModel::Size);
        QCOMPARE(model.fileName(1), QStringLiteral("A.txt"));
        QCOMPARE(model.fileName(2), QStringLiteral("b.txt"));
        model.showFolder(u"C:\\missing\\");
        QCOMPARE(model.rowCount(), 0);
    }

    void dateColumnSortsByTheRecordedCreationTime()
    {
        // Date texts in a day.month.year format do not sort as dates; the records' times do.
        Harness h;
        constexpr std::uint64_t kDay = 864'000'000'000ull;
        constexpr std::uint64_t kJune15 = 132'682'340'960'000'000ull;
        const std::pair<const char16_t*, std::uint64_t> files[] = {
            {u"a.txt", kJune15 + 40 * kDay}, {u"b.txt", kJune15}, {u"c.txt", kJune15 + 20 * kDay}};
        const char16_t* texts[] = {u"25.07.2021", u"15.06.2021", u"05.07.2021"};
        h.session.volume.MftRecordSize = 1024;
        std::vector<std::uint8_t> buffer(4 * 1024, 0);
        for (std::size_t i = 0; i < 3; ++i) {
            const auto record = orv::test::RecordBuilder()
                                    .inUse(false)
                                    .standardInformation(files[i].second)
                                    .fileName(files[i].first, 5)
                                    .residentData({1})
                                    .build(false);
            std::copy(record.begin(), record.end(), buffer.begin() + static_cast<std::ptrdiff_t>(i * 1024));
            h.session.store.write(u"C:\\", files[i].first,
                                  formatStoredValue(static_cast<std::int64_t>(i * 1024), texts[i], u"10:00:00", 1));
        }
        h.session.volume.MftBuffer.assign(std::move(buffer));
        FileListModel model(h.session, h.texts);
        model.showFolder(u"C:\\");
        model.sort(FileListModel::Date);
        QCOMPARE(model.fileName(0), QStringLiteral("b.txt"));
        QCOMPARE(model.fileName(1), QStringLiteral("c.txt"));
        QCOMPARE(model.fileName(2), QStringLiteral("a.txt"));
        QCOMPARE(model.data(model.index(0, FileListModel::Date)).toString(), QStringLiteral("15.06.2021"));
        // In another language the date is written its way, from the record's time.
        model.setLocale(languageLocale(6));
        QCOMPARE(model.data(model.index(0, FileListModel::Date)).toString(), QStringLiteral("15.06.2021"));
        model.setLocale(languageLocale(2));
        QCOMPARE(model.data(model.index(0, FileListModel::Date)).toString(), QStringLiteral("15.06.21"));
    }

    // Sizes in the program's own English units, or in the chosen language's units and numbers.
    void sizesInTheChosenLanguage()
    {
        const struct
        {
            int language;
            qint64 bytes;
            const char* size;
            const char* column;
        } table[] = {
            {1, 1536, "1 Kb", "1 Kb"},
            {2, 512, "512 Bytes", "512 Bytes"},
            {2, 1536, "1 kB", "1 kB"},
            {2, 5 * 1048576 + 1, "5 MB", "5 MB"},
            {2, 3000000000, "3000000000", "2 GB"},
            {3, 1536, "1 ko", "1 ko"},
            {6, 1536, "1 кБ", "1 кБ"},
            {6, 2 * 1048576, "2 МБ", "2 МБ"},
        };
        for (const auto& row : table) {
            const std::optional<QLocale> locale = languageLocale(row.language);
            QCOMPARE(sizeText(row.bytes, locale), QString::fromUtf8(row.size));
            QCOMPARE(columnSizeText(row.bytes, locale), QString::fromUtf8(row.column));
        }
    }

    void sizeTexts_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("shown");
        const std::pair<qint64, const char*> table[] = {
            {0, "0 b"},
            {1023, "1023 b"},
            {1024, "1 Kb"},
            {1536, "1 Kb"},
            {1048575, "1023 Kb"},
            {1048576, "1 Mb"},
            {1073741823, "1023 Mb"},
            {1073741824, "1073741824"},
            {3000000000, "3000000000"},
        };
        for (const auto& [bytes, shown] : table)
            QTest::newRow(shown) << bytes << QString::fromLatin1(shown);
    }
    void sizeTexts()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, shown);
        QCOMPARE(sizeText(bytes), shown);
    }

    void fileTypeIconsComeFromTheThemeOncePerExtension()
    {
        FileIcons icons;
        if (icons.forExtension(QStringLiteral(".Dir")).name().isEmpty())
            QSKIP("no icon theme is installed");
        QCOMPARE(icons.forExtension(QStringLiteral(".Dir")).name(), QStringLiteral("folder"));
        QCOMPARE(icons.forExtension(QStringLiteral(".")).name(), QStringLiteral("text-x-generic"));
        QCOMPARE(icons.forExtension(QStringLiteral(".qqzz")).name(), QStringLiteral("application-x-executable"));
        QVERIFY(icons.forExtension(QStringLiteral(".dir")).name() != QLatin1String("folder"));
        const QString photo = icons.forExtension(QStringLiteral(".jpg")).name();
        QVERIFY2(photo == QLatin1String("image-jpeg") || photo == QLatin1String("image-x-generic"), qPrintable(photo));
        QCOMPARE(icons.forExtension(QStringLiteral(".JPG")).cacheKey(),
                 icons.forExtension(QStringLiteral(".jpg")).cacheKey());
    }

    void panelFollowsTheFirstSelectedRowAndSelectAllLeavesIt()
    {
        Harness h;
        h.session.store.write(u"C:\\", u"empty.jpg", u"1#01.01.2020#10:00#0");
        h.session.store.write(u"C:\\", u"notes.txt", u"2#01.01.2020#10:00#1536");
        h.session.store.write(u"C:\\", u"photo.jpeg", u"3#01.01.2020#10:00#2048");
        h.open();
        h.window->DList()->setCurrentItem(h.window->DList()->topLevelItem(0));
        TForm2& window = *h.window;
        // Row 0 is chosen on opening the folder: a file of size 0 shows no picture.
        QCOMPARE(window.Label1b()->text(), QStringLiteral("empty.jpg"));
        QCOMPARE(window.Label2b()->text(), QStringLiteral("0 b"));
        QVERIFY(window.PreviewImage()->pixmap().isNull());
        window.FList()->selectRow(2);
        QCOMPARE(window.Label1b()->text(), QStringLiteral("photo.jpeg"));
        QCOMPARE(window.Label2b()->text(), QStringLiteral("2 Kb"));
        QVERIFY(!window.PreviewImage()->pixmap().isNull()); // not a .JPG: the type's icon
        h.select(QStringLiteral("notes.txt"));
        QCOMPARE(window.Label1b()->text(), QStringLiteral("notes.txt")); // the first of the selected rows
        QCOMPARE(window.selectedCount(), 2);

        window.SelectLabelClick();
        QCOMPARE(window.selectedCount(), 3);
        QCOMPARE(window.Label1b()->text(), QStringLiteral("notes.txt"));
        QVERIFY(!window.ProgressLabel()->isVisibleTo(&window));
        window.DeselectLabelClick();
        QCOMPARE(window.selectedCount(), 0);
        QCOMPARE(window.Label1b()->text(), QStringLiteral("notes.txt"));

        // A folder without files: Select all does nothing.
        h.session.store.write(u"C:\\Empty\\Inner\\", u"x.txt", u"1#01.01.2020#10:00#1");
        window.ShowForm();
        window.DList()->setCurrentItem(window.DList()->topLevelItem(0)->child(0));
        QCOMPARE(window.model()->rowCount(), 0);
        window.SelectLabelClick();
        QCOMPARE(window.selectedCount(), 0);
    }

    void findStepsThroughFoldersAndStartsOver()
    {
        Harness h;
        h.session.store.write(u"C:\\", u"a.doc", u"1#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\One\\", u"x.txt", u"1#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\Two\\", u"y.doc", u"1#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\Three\\", u"z.txt", u"1#01.01.2020#10:00#5");
        h.open();
        h.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        const auto find = [&](const QString& mask) {
            h.window->FindEdit()->setText(mask);
            QTest::keyClick(h.window->FindEdit(), Qt::Key_Return);
            return h.window->currentFolderPath();
        };
        QCOMPARE(find(QStringLiteral("*.txt")), std::u16string(u"C:\\One\\"));
        QCOMPARE(find(QStringLiteral("*.txt")), std::u16string(u"C:\\Three\\"));
        // Past the last match nothing is selected; the search after that starts over.
        QCOMPARE(find(QStringLiteral("*.txt")), std::u16string(u"C:\\Three\\"));
        QCOMPARE(find(QStringLiteral(" *.TXT ")), std::u16string(u"C:\\One\\"));
        QVERIFY(h.messages.isEmpty());
        find(QStringLiteral("*.pdf"));
        find(QString()); // Enter in an empty field: no message
        QCOMPARE(h.messages, QStringList{QStringLiteral("File not found!")});
        click(h.window->FindButton()->normalPicture());
        QCOMPARE(h.messages.last(), QStringLiteral("File or mask to find is empty!"));
    }

    void restoreWithStopThenWholeRestore()
    {
        Harness h;
        if (!scanDemo(h))
            QSKIP("fixture images are not unpacked");
        h.open();
        TForm2& window = *h.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        showFolder(h, QStringLiteral("C:\\Documents\\Reports\\2026\\"));
        const QStringList names = h.shownNames();
        QCOMPARE(names.size(), 6);
        QVERIFY(!window.Label3b()->text().isEmpty());

        // While the restore runs its button reads Stop, the other commands rest and the window
        // stays open; a Stop confirmed while the first file is written ends the run early.
        window.SelectLabelClick();
        bool checked = false;
        QTimer ticks;
        ticks.setInterval(0);
        connect(&ticks, &QTimer::timeout, &window, [&] {
            if (!window.ProgressLabel()->text().startsWith(QStringLiteral("File 1/")))
                return;
            ticks.stop();
            QVERIFY(window.busy());
            QCOMPARE(window.RestoreButton()->caption()->text(), QStringLiteral("Stop"));
            QVERIFY(!window.WipeButton()->isEnabled() && !window.CloseButton()->isEnabled());
            QVERIFY(!window.FindButton()->isEnabled());
            QVERIFY(window.ProgressBar()->isVisible() && !window.ResultLabel()->isVisible());
            QCloseEvent close;
            QApplication::sendEvent(&window, &close);
            QVERIFY(!close.isAccepted());
            click(window.CloseButton()->normalPicture());
            QVERIFY(window.isVisible());
            // Options and About wait for the restore; Help opens at once.
            for (int top = 1; top <= 3; ++top)
                click(window.TopButton(top)->normalPicture());
            QCOMPARE(h.dialogs, QStringList{QStringLiteral("help")});
            click(window.RestoreButton()->normalPicture());
            checked = true;
        });
        ticks.start();
        click(window.RestoreButton()->normalPicture());
        QVERIFY(checked);
        QVERIFY(!window.busy());
        QCOMPARE(window.RestoreButton()->caption()->text(), QStringLiteral("Restore"));
        QVERIFY(window.WipeButton()->isEnabled() && window.CloseButton()->isEnabled());
        QVERIFY(!window.ProgressBar()->isVisible() && window.ResultLabel()->isVisible());
        QCOMPARE(window.selectedCount(), 0); // the selection is cleared at the end
        QVERIFY(h.questions.contains(QStringLiteral("Are you sure you wish to cancel this operation?")));
        int written = 0;
        for (const auto& entry : std::filesystem::directory_iterator(h.restoreFolder))
            written += entry.is_regular_file() ? 1 : 0;
        QVERIFY(written >= 1 && written < names.size());
        // A Stop between two files leaves the count; one inside a file names that file, which is
        // not kept.
        const QString end = h.messages.last();
        if (end.contains(QLatin1Char('\n'))) {
            const QString head = QString::number(written) +
                QStringLiteral(" file(s) restored whole.\nStopped while being restored, not kept: ");
            QVERIFY2(end.startsWith(head), qPrintable(end));
            const QString cut = end.mid(head.size());
            QVERIFY(names.contains(cut));
            QVERIFY(!std::filesystem::exists(h.restoreFolder / cut.toStdString()));
        } else {
            QCOMPARE(end, QString::number(written) + QStringLiteral(" file(s) restored!"));
        }

        // The whole folder, byte for byte, and the folder opened at the end.
        std::filesystem::remove_all(h.restoreFolder);
        h.messages.clear();
        h.opened.clear();
        window.SelectLabelClick();
        click(window.RestoreButton()->normalPicture());
        const std::pair<const char*, const char*> expected[] = {
            {"annual-report-draft.doc", "90cfcd85b5f1c3ecc89ead7a327082d57bc002bca137d556ac7aa29e62d60ca2"},
            {"sales-figures.pdf", "beb75b71a2fc2d35edf1cf151d09617850706cb4cec7e03f49350b437cec2352"},
            {"team-targets.txt", "325b3cb7addeb02d63ec9199607161d25690d22b34fd8d1d2f617214d3c77fe7"},
        };
        for (const auto& [name, digest] : expected)
            QCOMPARE(sha256(h.restoreFolder / name), QLatin1String(digest));
        QCOMPARE(h.messages.last(), QStringLiteral("6 file(s) restored!"));
        QCOMPARE(h.opened, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(h.restoreFolder.string()))});
    }

    void namedStreamsAreShownAndRestoredBesideTheFileWhenAsked()
    {
        Harness h;
        if (!scanDemo(h, "ntfs-features"))
            QSKIP("the ntfs-features fixture is not unpacked");
        h.open();
        TForm2& window = *h.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        showFolder(h, QStringLiteral("C:\\Streams\\"));
        QCOMPARE(h.shownNames(), QStringList{QStringLiteral("setup-notes.txt")});
        window.FList()->selectRow(0);
        QCOMPARE(window.StreamsValue()->text(), QStringLiteral("Summary (19 Kb), Zone.Identifier (87 b)"));
        const auto streamFile = [&](const char* stream) {
            return h.restoreFolder / (std::string("setup-notes.txt:") + stream);
        };
        // Without the option only the file comes back; with it, every stream beside it.
        for (const bool withStreams : {false, true}) {
            std::filesystem::remove_all(h.restoreFolder);
            h.restoreStreams = withStreams;
            window.FList()->selectRow(0);
            click(window.RestoreButton()->normalPicture());
            QCOMPARE(sha256(h.restoreFolder / "setup-notes.txt"),
                     QLatin1String("457b519ee1c7c15aeb60c6759cb9004226f4ada91ed6f3610a0ae1fc38f0d9d7"));
            QCOMPARE(std::filesystem::exists(streamFile("Zone.Identifier")), withStreams);
        }
        QCOMPARE(sha256(streamFile("Zone.Identifier")),
                 QLatin1String("d20b462304009ca12c098726bff1f49b593a0abd1dff6f75315986933213b2c7"));
        QCOMPARE(sha256(streamFile("Summary")),
                 QLatin1String("5ac54a2632ee53a83e55bed23d74ea2b91de0ce9d66116f9c58f1e47391b5673"));
    }

    void restoreEndNamesAStoppedFileAndTheBarFollowsItsBytes()
    {
        Harness h;
        if (!scanDemo(h, "ntfs-features"))
            QSKIP("fixture images are not unpacked");
        h.open();
        TForm2& window = *h.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        showFolder(h, QStringLiteral("C:\\Fragmented\\"));
        window.DeselectLabelClick();
        h.select(QStringLiteral("scattered.txt"));
        QCOMPARE(window.selectedCount(), 1);

        // 3.6 MB in thousands of pieces: the bar moves while the one file is written, and a Stop
        // then cuts it.
        QList<int> inside;
        QTimer ticks;
        ticks.setInterval(0);
        connect(&ticks, &QTimer::timeout, &window, [&] {
            if (!window.busy() || !window.ProgressLabel()->text().isEmpty())
                return;
            if (inside.isEmpty() || inside.last() != window.ProgressBar()->value())
                inside << window.ProgressBar()->value();
            if (inside.size() < 4)
                return;
            ticks.stop();
            click(window.RestoreButton()->normalPicture());
        });
        ticks.start();
        click(window.RestoreButton()->normalPicture());
        QVERIFY2(inside.size() >= 4, "the bar stood still inside the file");
        QVERIFY(inside.last() > inside.first() && inside.last() < window.ProgressBar()->maximum());
        QCOMPARE(h.messages.last(),
                 QStringLiteral("0 file(s) restored whole.\nStopped while being restored, not kept: scattered.txt"));
        QVERIFY(!std::filesystem::exists(h.restoreFolder / "scattered.txt"));
    }

    void restoreEndNamesDamagedFiles()
    {
        Harness h;
        if (!scanDemo(h))
            QSKIP("fixture images are not unpacked");
        h.open();
        TForm2& window = *h.window;
        window.show();
        showFolder(h, QStringLiteral("C:\\Documents\\Reports\\2026\\"));
        QCOMPARE(h.shownNames().size(), 6);
        // The volume's clusters past its first ones cannot be read since the scan (its $MFT, which
        // the scan's view reads, still can): what lay in clusters is written as zeros and named;
        // resident contents come whole from the record.
        struct LostAfter : SectorDevice
        {
            std::shared_ptr<SectorDevice> bytes;
            bool read(std::uint64_t at, std::span<std::uint8_t> out) override
            {
                return at + out.size() <= 64 * 1024 && bytes->read(at, out);
            }
            bool write(std::uint64_t, std::span<const std::uint8_t>) override { return false; }
        };
        auto lost = std::make_shared<LostAfter>();
        lost->bytes = h.session.volume.Device;
        h.session.volume.Device = lost;
        window.SelectLabelClick();
        click(window.RestoreButton()->normalPicture());
        const QStringList lines = h.messages.last().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].endsWith(QStringLiteral(" file(s) restored whole.")), qPrintable(lines[0]));
        const QString damagedHead = QStringLiteral("Restored with unreadable parts written as zeros: ");
        QVERIFY2(lines[1].startsWith(damagedHead), qPrintable(lines[1]));
        const int whole = lines[0].section(QLatin1Char(' '), 0, 0).toInt();
        const QStringList damaged = lines[1].mid(damagedHead.size()).split(QStringLiteral(", "));
        QVERIFY(damaged.size() >= 1 && damaged.size() <= 3 + 1);
        QVERIFY(whole + 1 <= 6);
        QVERIFY(h.shownNames().contains(damaged.first()));
        QVERIFY(std::filesystem::is_regular_file(h.restoreFolder / damaged.first().toStdString()));
    }

    void wipeWithStopMidwayThenANewScan()
    {
        Harness h;
        if (!scanDemo(h))
            QSKIP("fixture images are not unpacked");
        h.open();
        TForm2& window = *h.window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString folder = QStringLiteral("C:\\Documents\\Letters\\");
        showFolder(h, folder);
        const QStringList names = h.shownNames();
        QCOMPARE(names.size(), 4);
        window.SelectLabelClick();

        // Stop is pressed once the first record is gone: that wipe finishes, the rest are skipped.
        const std::u16string section = folder.toStdU16String();
        const std::u16string first = names.first().toStdU16String();
        QTimer ticks;
        ticks.setInterval(0);
        connect(&ticks, &QTimer::timeout, &window, [&] {
            if (!window.busy() || h.session.store.valueExists(section, first))
                return;
            ticks.stop();
            QCOMPARE(window.WipeButton()->caption()->text(), QStringLiteral("Stop"));
            QVERIFY(!window.RestoreButton()->isEnabled());
            click(window.WipeButton()->normalPicture());
        });
        ticks.start();
        click(window.WipeButton()->normalPicture());
        QVERIFY(!window.busy());
        QCOMPARE(h.questions,
                 (QStringList{QStringLiteral("Are you sure to wipe selected files?"),
                              QStringLiteral("Are you sure you wish to cancel this operation?")}));
        QCOMPARE(h.messages.last(), QStringLiteral("1 file(s) wiped!"));
        QCOMPARE(window.WipeButton()->caption()->text(), QStringLiteral("Wipe"));
        // The rows stay until the folder is chosen again; the wiped one no longer has a record.
        QCOMPARE(h.shownNames(), names);
        QVERIFY(!window.model()->locator(0));
        QVERIFY(window.model()->locator(1));

        h.window.reset();
        rescan(h);
        QVERIFY(!h.session.store.valueExists(section, first));
        for (qsizetype i = 1; i < names.size(); ++i)
            QVERIFY(h.session.store.valueExists(section, names[i].toStdU16String()));
    }

    // Two deleted files of one name in one folder of a FAT32 stick are two rows, and each row
    // restores and wipes its own file, never the other.
    void filesOfOneNameOnAFatVolumeStayApart()
    {
        Harness h;
        if (!scanDemo(h, "fat32"))
            QSKIP("fixture images are not unpacked");
        h.open();
        TForm2& window = *h.window;
        window.show();
        showFolder(h, QStringLiteral("C:\\"));
        std::vector<int> rows;
        for (int row = 0; row < window.model()->rowCount(); ++row)
            if (window.model()->fileName(row) == QStringLiteral("_EPORT.TXT"))
                rows.push_back(row);
        QCOMPARE(rows.size(), std::size_t{2});
        // In German a FAT entry's date is written as German dates are, from the entry's own time.
        const QString shown = window.model()->data(window.model()->index(rows[0], FileListModel::Date)).toString();
        window.model()->setLocale(languageLocale(2));
        const QString german = window.model()->data(window.model()->index(rows[0], FileListModel::Date)).toString();
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d\\d$")).match(german).hasMatch(),
                 qPrintable(shown + QStringLiteral(" -> ") + german));
        window.model()->setLocale(std::nullopt);
        const int smaller = window.model()->fileSize(rows[0]) < window.model()->fileSize(rows[1]) ? rows[0] : rows[1];
        const int larger = smaller == rows[0] ? rows[1] : rows[0];
        const std::int64_t largerSize = window.model()->fileSize(larger);
        QVERIFY(largerSize > window.model()->fileSize(smaller));

        window.FList()->selectionModel()->select(window.model()->index(larger, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        click(window.RestoreButton()->normalPicture());
        QCOMPARE(h.messages.last(), QStringLiteral("1 file(s) restored!"));
        QCOMPARE(static_cast<std::int64_t>(std::filesystem::file_size(h.restoreFolder / "_EPORT.TXT")), largerSize);

        window.FList()->selectionModel()->select(window.model()->index(smaller, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        click(window.WipeButton()->normalPicture());
        QCOMPARE(h.messages.last(), QStringLiteral("1 file(s) wiped!"));
        h.window.reset();
        rescan(h);
        std::vector<std::int64_t> left;
        h.session.store.forEachIn(u"C:\\", [&](std::u16string_view key, std::u16string_view value) {
            if (key == u"_EPORT.TXT")
                left.push_back(parseStoredValue(value).size);
        });
        QCOMPARE(left, std::vector<std::int64_t>{largerSize});
    }

    void previewOfADeletedPhoto()
    {
        Harness h;
        if (!scanDemo(h))
            QSKIP("fixture images are not unpacked");
        h.open();
        showFolder(h, QStringLiteral("C:\\Pictures\\Holiday\\Beach\\"));
        // Grading rows as they are drawn leaves the record a running restore or preview decoded
        // alone, down to the run list it is walking.
        h.session.MFTFile.FSize = 4242;
        h.session.MFTFile.ClusterList = {{7, 3}};
        const DataRun* walked = h.session.MFTFile.ClusterList.data();
        FileListModel fresh(h.session, h.texts);
        fresh.showFolder(u"C:\\Pictures\\Holiday\\Beach\\");
        QCOMPARE(fresh.data(fresh.index(0, FileListModel::Recoverability)).toString(), QStringLiteral("Good"));
        QCOMPARE(h.session.MFTFile.FSize, std::int64_t{4242});
        QVERIFY((h.session.MFTFile.ClusterList == std::vector<DataRun>{{7, 3}}));
        QCOMPARE(h.session.MFTFile.ClusterList.data(), walked);

        FileListModel* model = h.window->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->fileName(row) != QLatin1String("sunset.jpg"))
                continue;
            h.window->FList()->selectRow(row);
            const QImage picture = h.window->PreviewImage()->pixmap().toImage();
            QCOMPARE(picture.size(), QSize(48, 48));
            // The photo fills the box's middle: its centre pixel is drawn, not left transparent.
            QVERIFY(qAlpha(picture.pixel(24, 24)) == 255);
            QCOMPARE(h.window->Label2b()->text(), QStringLiteral("113 Kb"));
            return;
        }
        QFAIL("sunset.jpg is not listed");
    }

    void closingClearsTheStore()
    {
        Harness h;
        h.session.store.write(u"C:\\", u"a.txt", u"1#01.01.2020#10:00#5");
        h.open();
        UserScript user;
        user.then([&h] { return h.window->isVisible(); }, [&h] { click(h.window->TopButton(5)->normalPicture()); });
        h.window->run();
        QVERIFY(user.done());
        QCOMPARE(h.session.store.sections().size(), std::size_t{0});
        QCOMPARE(h.window->DList()->topLevelItemCount(), 0);
    }

    // The program as a user drives it: a scan opens the results window, a restore passes the
    // notice, the question and the final message, and closing the window empties the store.
    void programRestoresThroughItsDialogs()
    {
        const QString image = QStringLiteral(ORV_FIXTURES_DIR "/demo.img");
        if (!QFile::exists(image))
            QSKIP("fixture images are not unpacked");
        const TempFolder copies;
        const QString copy = qPath(copies / "demo.img");
        QVERIFY(QFile::copy(image, copy));
        TestSystem system({QStringLiteral("E: ") + copy});
        Program program(system.services());
        TForm1& form = *program.form1;
        form.setPumpInterval(std::chrono::milliseconds(0));
        form.restoreFolder() = (copies / "restored").string();
        form.show();
        QStringList seen;
        UserScript user;
        user.then([] { return modal("TForm2") != nullptr; },
                  [] {
                      auto* results = static_cast<TForm2*>(modal("TForm2"));
                      results->setPumpInterval(std::chrono::milliseconds(0));
                      results->FindEdit()->setText(QStringLiteral("sunset.jpg"));
                      click(results->FindButton()->normalPicture());
                      click(results->SelectLabel());
                      click(results->RestoreButton()->caption());
                  });
        user.then([] { return modal("TForm6c") != nullptr; },
                  [&seen] {
                      seen << QStringLiteral("notice");
                      clickButton(modal("TForm6c"), "Button1A");
                  });
        user.then([] { return modal("TForm6b") != nullptr; },
                  [&seen] {
                      seen << infoText(modal("TForm6b"));
                      clickButton(modal("TForm6b"), "Button1A");
                  });
        user.then([] { return modal("TForm6a") != nullptr; },
                  [&seen] {
                      seen << infoText(modal("TForm6a"));
                      clickButton(modal("TForm6a"), "Button1A");
                  });
        user.then([] { return modal("TForm2") != nullptr && !static_cast<TForm2*>(modal("TForm2"))->busy(); },
                  [] { clickButton(modal("TForm2"), "Button3A"); });
        click(form.FindButton()->normalPicture());
        QVERIFY(user.done());
        QCOMPARE(seen,
                 (QStringList{QStringLiteral("notice"),
                              QStringLiteral("Restore selected files?\nThey will be saved in: ") +
                                  QString::fromStdString((copies / "restored").string()),
                              QStringLiteral("3 file(s) restored!")}));
        QCOMPARE(sha256((copies / "restored" / "sunset.jpg").string()),
                 QStringLiteral("6f6e69809783a838d9815dd6c9fb4784781f3038ab91c56195fdfc694238f122"));
        QCOMPARE(form.session().store.sections().size(), std::size_t{0});
    }
};

QTEST_MAIN(ResultsWindowTest)
#include "ResultsWindowTest.moc"
