// The results window over a store and over a scanned fixture volume: the tree, the file list
// model, the information panel, Restore with a Stop, Wipe, the preview, find in results, and the
// Options and About dialogs.

#include <QAbstractItemModelTester>
#include <QCloseEvent>
#include <QCryptographicHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "FindChecks.h"
#include "NormalScan.h"
#include "OptionsAbout.h"
#include "ResultsWindow.h"
#include "RecordBuilder.h"
#include "UiTestSupport.h"

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
    std::filesystem::path restoreFolder;
    std::function<bool(const QString&)> answer = [](const QString&) { return true; };
    std::unique_ptr<TForm2> window;

    void open()
    {
        window = std::make_unique<TForm2>(ResultsServices{
            session,
            texts,
            [this](const QString& message) { messages << message; },
            [this](const QString& question) {
                questions << question;
                return answer(question);
            },
            [] {},
            [] { return false; },
            [this] { return restoreFolder; },
            10,
            [this](const QUrl& url) { opened << url; },
            {},
            {},
            {},
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
    void select(const QString& name)
    {
        FileListModel* model = window->model();
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->fileName(row) == name)
                model->setData(model->index(row, 0), Qt::Checked, Qt::CheckStateRole);
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
    QTemporaryDir m_folder;
    std::unique_ptr<LinuxDriveSystem> m_drives;

    // The demo volume scanned as drive C:, as the main window leaves it for the results window.
    bool scanDemo(Harness& h)
    {
        const std::filesystem::path source = std::filesystem::path(ORV_FIXTURES_DIR) / "demo.img";
        if (!std::filesystem::exists(source))
            return false;
        const std::filesystem::path image = std::filesystem::path(m_folder.path().toStdString()) / "demo.img";
        std::filesystem::remove(image);
        std::filesystem::copy_file(source, image);
        m_drives = std::make_unique<LinuxDriveSystem>(
            LinuxDriveSources{{}, "/nonexistent", "/nonexistent", "/nonexistent"});
        m_drives->addDrive("C:", image.string());
        if (RunFindChecks(h.session, *m_drives, "C:", u"", 10).check != FindCheck::Ok)
            return false;
        PrepareScan(h.session, u"");
        GuiPump pump(std::chrono::milliseconds(0));
        ScanProgress progress;
        NTFSFind1(h.session, pump, progress, std::uint64_t{1} << 30);
        h.restoreFolder = std::filesystem::path(m_folder.path().toStdString()) / "restored";
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

private slots:
    void treeFollowsTheSectionsInStoreOrder()
    {
        Harness h;
        h.session.store.write(u"C:\\", u"root.txt", u"x#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\A\\B\\", u"b.txt", u"x#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\Z\\", u"z.txt", u"x#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\a\\C\\", u"c.txt", u"x#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\Мои документы\\", u"отчёт.txt", u"x#01.01.2020#10:00#5");
        h.open();
        QTreeWidget* tree = h.window->DList();
        QCOMPARE(tree->topLevelItemCount(), 1);
        QTreeWidgetItem* root = tree->topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("C:"));
        QCOMPARE(root->childCount(), 3);
        QCOMPARE(root->child(0)->text(0), QStringLiteral("A"));
        QCOMPARE(root->child(1)->text(0), QStringLiteral("Z"));
        QCOMPARE(root->child(2)->text(0), QStringLiteral("Мои документы"));
        QCOMPARE(root->child(0)->childCount(), 2);
        QCOMPARE(root->child(0)->child(1)->text(0), QStringLiteral("C"));
        // The root node is current on opening and lists the files of C:\.
        QCOMPARE(h.shownNames(), QStringList{QStringLiteral("root.txt")});
        tree->setCurrentItem(root->child(2));
        QCOMPARE(h.shownNames(), QStringList{QStringLiteral("отчёт.txt")});
    }

    void fileListModelSortsSelectsAndStaysConsistent()
    {
        Harness h;
        h.session.store.write(u"C:\\", u"b.txt", u"x#02.01.2020#10:00#10");
        h.session.store.write(u"C:\\", u"A.txt", u"x#01.01.2020#11:00#9");
        h.session.store.write(u"C:\\", u"c.txt", u"x#03.01.2020#09:00#1024");
        FileListModel model(h.session, h.texts);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.showFolder(u"C:\\");
        QCOMPARE(model.rowCount(), 3);
        model.sort(FileListModel::Name);
        QCOMPARE(model.fileName(0), QStringLiteral("A.txt"));
        QCOMPARE(model.fileName(2), QStringLiteral("c.txt"));
        model.sort(FileListModel::Name);
        QCOMPARE(model.fileName(0), QStringLiteral("A.txt"));
        // Sizes sort as numbers: 9 before 10.
        model.sort(FileListModel::Size);
        QCOMPARE(model.fileName(0), QStringLiteral("A.txt"));
        QCOMPARE(model.fileName(1), QStringLiteral("b.txt"));
        QCOMPARE(model.selectedCount(), 0);
        model.setAllSelected(true);
        QCOMPARE(model.selectedCount(), 3);
        model.setAllSelected(false);
        QCOMPARE(model.selectedCount(), 0);
        model.showFolder(u"C:\\missing\\");
        QCOMPARE(model.rowCount(), 0);
        model.setAllSelected(true);
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
        QVERIFY(h.session.volume.MftBuffer.reset(4 * 1024));
        for (std::size_t i = 0; i < 3; ++i) {
            const auto record = orv::test::RecordBuilder().inUse(false).standardInformation(files[i].second)
                                    .fileName(files[i].first, 5).residentData({1}).build(false);
            std::copy(record.begin(), record.end(), h.session.volume.MftBuffer.begin() + i * 1024);
            h.session.store.write(u"C:\\", files[i].first,
                                  formatStoredValue(static_cast<std::int64_t>(i * 1024), texts[i], u"10:00:00", 1));
        }
        FileListModel model(h.session, h.texts);
        model.showFolder(u"C:\\");
        model.sort(FileListModel::Date);
        QCOMPARE(model.fileName(0), QStringLiteral("b.txt"));
        QCOMPARE(model.fileName(1), QStringLiteral("c.txt"));
        QCOMPARE(model.fileName(2), QStringLiteral("a.txt"));
    }

    void sizeTexts()
    {
        QCOMPARE(sizeText(0), QStringLiteral("0 b"));
        QCOMPARE(sizeText(1023), QStringLiteral("1023 b"));
        QCOMPARE(sizeText(1536), QStringLiteral("1 Kb"));
        QCOMPARE(sizeText(1048575), QStringLiteral("1023 Kb"));
        QCOMPARE(sizeText(1048576), QStringLiteral("1 Mb"));
        QCOMPARE(sizeText(1073741823), QStringLiteral("1023 Mb"));
        QCOMPARE(sizeText(3000000000), QStringLiteral("2 Gb"));
    }

    void findStepsThroughFoldersAndWraps()
    {
        Harness h;
        h.session.store.write(u"C:\\", u"a.doc", u"x#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\One\\", u"x.txt", u"x#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\Two\\", u"y.doc", u"x#01.01.2020#10:00#5");
        h.session.store.write(u"C:\\Three\\", u"z.txt", u"x#01.01.2020#10:00#5");
        h.open();
        const auto find = [&](const QString& mask) {
            h.window->FindEdit()->setText(mask);
            QTest::keyClick(h.window->FindEdit(), Qt::Key_Return);
            return h.window->model()->folder();
        };
        QCOMPARE(find(QStringLiteral("*.txt")), std::u16string(u"C:\\One\\"));
        QCOMPARE(find(QStringLiteral("*.txt")), std::u16string(u"C:\\Three\\"));
        QCOMPARE(find(QStringLiteral("*.txt")), std::u16string(u"C:\\One\\"));
        QVERIFY(h.messages.isEmpty());
        find(QStringLiteral("*.pdf"));
        find(QString());
        QCOMPARE(h.messages, (QStringList{QStringLiteral("File not found!"),
                                          QStringLiteral("File or mask to find is empty!")}));
    }

    void restoreWithStopThenWholeRestoreThenWipe()
    {
        Harness h;
        if (!scanDemo(h))
            QSKIP("fixture images are not unpacked");
        h.open();
        showFolder(h, QStringLiteral("C:\\Pictures\\Holiday\\Beach\\"));
        const QStringList names = h.shownNames();
        QVERIFY(names.contains(QStringLiteral("sunset.jpg")));
        QVERIFY(!h.window->GradeLabel()->text().isEmpty());

        // While the restore runs the window stays open and Wipe does nothing; a Stop confirmed
        // while the first file is written ends the run early.
        h.window->model()->setAllSelected(true);
        QTimer::singleShot(0, h.window.get(), [&h] {
            QVERIFY(h.window->busy());
            QCloseEvent close;
            QApplication::sendEvent(h.window.get(), &close);
            QVERIFY(!close.isAccepted());
            h.window->WipeButton()->click();
            QVERIFY(h.window->busy());
            h.window->RestoreButton()->click();
        });
        h.window->RestoreButton()->click();
        QVERIFY(!h.window->busy());
        QCOMPARE(h.window->RestoreButton()->text(), QStringLiteral("Restore"));
        QVERIFY(h.questions.contains(QStringLiteral("Are you sure you wish to cancel this operation?")));
        int written = 0;
        for (const auto& entry : std::filesystem::directory_iterator(h.restoreFolder))
            written += entry.is_regular_file() ? 1 : 0;
        QVERIFY(written < names.size());

        // The whole folder, byte for byte, and the folder opened at the end.
        std::filesystem::remove_all(h.restoreFolder);
        h.messages.clear();
        h.opened.clear();
        h.window->RestoreButton()->click();
        QCOMPARE(sha256(h.restoreFolder / "sunset.jpg"),
                 QStringLiteral("6f6e69809783a838d9815dd6c9fb4784781f3038ab91c56195fdfc694238f122"));
        QCOMPARE(sha256(h.restoreFolder / "sandcastle.jpg"),
                 QStringLiteral("f57b2c04500290feb2cd31f017e5aa50de8a0e2e473cd07b47dffe2b7eb86cd1"));
        QCOMPARE(h.messages.last(), QString::number(names.size()) + QStringLiteral(" file(s) restored!"));
        QCOMPARE(h.opened, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(h.restoreFolder.string()))});

        // Wiping one file takes it off the list and out of the next scan.
        h.window->model()->setAllSelected(false);
        h.select(QStringLiteral("waves.jpg"));
        h.window->WipeButton()->click();
        QCOMPARE(h.messages.last(), QStringLiteral("1 file(s) wiped!"));
        QVERIFY(!h.shownNames().contains(QStringLiteral("waves.jpg")));
        QCOMPARE(h.shownNames().size(), names.size() - 1);
        h.window.reset();
        h.session.store.clear();
        PrepareScan(h.session, u"");
        GuiPump pump(std::chrono::milliseconds(0));
        ScanProgress progress;
        NTFSFind1(h.session, pump, progress, std::uint64_t{1} << 30);
        QVERIFY(h.session.store.valueExists(u"C:\\Pictures\\Holiday\\Beach\\", u"sunset.jpg"));
        QVERIFY(!h.session.store.valueExists(u"C:\\Pictures\\Holiday\\Beach\\", u"waves.jpg"));
    }

    void previewOfADeletedPhotoAndIconsOfOtherFiles()
    {
        Harness h;
        if (!scanDemo(h))
            QSKIP("fixture images are not unpacked");
        h.open();
        showFolder(h, QStringLiteral("C:\\Pictures\\Holiday\\Beach\\"));
        // Grading rows as they are drawn leaves the record a running restore decoded alone.
        h.session.MFTFile.FSize = 4242;
        h.session.MFTFile.ClusterList = {{7, 3}};
        FileListModel fresh(h.session, h.texts);
        fresh.showFolder(u"C:\\Pictures\\Holiday\\Beach\\");
        QCOMPARE(fresh.data(fresh.index(0, FileListModel::Recoverability)).toString(), QStringLiteral("Good"));
        QCOMPARE(h.session.MFTFile.FSize, std::int64_t{4242});
        QVERIFY((h.session.MFTFile.ClusterList == std::vector<DataRun>{{7, 3}}));

        QTableView* list = h.window->FList();
        for (int row = 0; row < h.window->model()->rowCount(); ++row) {
            if (h.window->model()->fileName(row) != QLatin1String("sunset.jpg"))
                continue;
            list->setCurrentIndex(h.window->model()->index(row, 0));
            const QImage picture = h.window->PreviewImage()->pixmap().toImage();
            QCOMPARE(picture.size(), QSize(48, 48));
            // The photo fills the box's middle: its centre pixel is drawn, not left transparent.
            QVERIFY(qAlpha(picture.pixel(24, 24)) == 255);
            QVERIFY(h.window->SizeLabel()->text().endsWith(QStringLiteral("113 Kb")));
            return;
        }
        QFAIL("sunset.jpg is not listed");
    }

    void closingClearsTheStore()
    {
        Harness h;
        h.session.store.write(u"C:\\", u"a.txt", u"x#01.01.2020#10:00#5");
        h.open();
        h.window->show();
        QTimer::singleShot(0, h.window.get(), [&h] { h.window->close(); });
        h.window->run();
        QCOMPARE(h.session.store.sections().size(), std::size_t{0});
    }

    void optionsSaveTheRestoreFolderAndAboutOpensItsLinks()
    {
        TestSystem system;
        LanguageCatalogue texts;
        std::string folder = "/home/user/Desktop/Restored Files";
        TForm3 options(texts, system.settings, folder);
        QCOMPARE(options.FolderEdit()->text(), QString::fromStdString(folder));
        options.FolderEdit()->setText(QStringLiteral("/tmp/elsewhere"));
        options.findChild<QPushButton*>(QStringLiteral("SaveButton"))->click();
        QCOMPARE(folder, std::string("/tmp/elsewhere"));
        QCOMPARE(ReadSettingString(system.settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kSaveDir),
                 std::string("/tmp/elsewhere"));

        QList<QUrl> opened;
        TForm5a about(texts, [&opened](const QUrl& url) { opened << url; });
        QVERIFY(about.findChild<QLabel*>(QStringLiteral("VersionLabel"))->text().startsWith(QStringLiteral("Version ")));
        for (int i = 1; i <= 4; ++i)
            about.findChild<QPushButton*>(QStringLiteral("Link%1").arg(i))->click();
        QCOMPARE(opened.size(), 4);
        for (const QUrl& url : opened)
            QCOMPARE(url.host(), QStringLiteral("www.orvandel.example"));
    }

    // The program as a user drives it: a scan opens the results window, a restore passes the
    // notice, the question and the final message, and closing the window empties the store.
    void programRestoresThroughItsDialogs()
    {
        const QString image = QStringLiteral(ORV_FIXTURES_DIR "/demo.img");
        if (!QFile::exists(image))
            QSKIP("fixture images are not unpacked");
        QTemporaryDir copies;
        const QString copy = copies.filePath(QStringLiteral("demo.img"));
        QVERIFY(QFile::copy(image, copy));
        TestSystem system({QStringLiteral("E: ") + copy});
        Program program(system.services());
        TForm1& form = *program.form1;
        form.setPumpInterval(std::chrono::milliseconds(0));
        form.restoreFolder() = copies.filePath(QStringLiteral("restored")).toStdString();
        form.show();
        QStringList seen;
        UserScript user;
        user.then([] { return modal("TForm2") != nullptr; }, [] {
            auto* results = static_cast<TForm2*>(modal("TForm2"));
            results->setPumpInterval(std::chrono::milliseconds(0));
            results->FindEdit()->setText(QStringLiteral("sunset.jpg"));
            results->FindClick();
            results->model()->setAllSelected(true);
            results->RestoreButton()->click();
        });
        user.then([] { return modal("TForm6c") != nullptr; }, [&seen] {
            seen << QStringLiteral("notice");
            clickButton(modal("TForm6c"), "Button1A");
        });
        user.then([] { return modal("TForm6b") != nullptr; }, [&seen] {
            seen << infoText(modal("TForm6b"));
            clickButton(modal("TForm6b"), "Button1A");
        });
        user.then([] { return modal("TForm6a") != nullptr; }, [&seen] {
            seen << infoText(modal("TForm6a"));
            clickButton(modal("TForm6a"), "Button1A");
        });
        user.then([] { return modal("TForm2") != nullptr && !static_cast<TForm2*>(modal("TForm2"))->busy(); },
                  [] { modal("TForm2")->findChild<QPushButton*>(QStringLiteral("Button3"))->click(); });
        click(form.FindButton()->normalPicture());
        QVERIFY(user.done());
        QCOMPARE(seen, (QStringList{QStringLiteral("notice"), QStringLiteral("Restore selected files?"),
                                    QStringLiteral("3 file(s) restored!")}));
        QCOMPARE(sha256(copies.filePath(QStringLiteral("restored/sunset.jpg")).toStdString()),
                 QStringLiteral("6f6e69809783a838d9815dd6c9fb4784781f3038ab91c56195fdfc694238f122"));
        QCOMPARE(form.session().store.sections().size(), std::size_t{0});
    }

    void mainWindowOpensOptionsAndAbout()
    {
        TestSystem system;
        Program program(system.services());
        TForm1& form = *program.form1;
        form.show();
        UserScript user;
        user.then([] { return modal("TForm3") != nullptr; }, [] {
            QWidget* options = modal("TForm3");
            options->findChild<QLineEdit*>(QStringLiteral("FolderEdit"))->setText(QStringLiteral("/tmp/picked"));
            options->findChild<QPushButton*>(QStringLiteral("SaveButton"))->click();
        });
        click(form.TopButton(1)->normalPicture());
        QVERIFY(user.done());
        QCOMPARE(form.restoreFolder(), std::string("/tmp/picked"));
        user.then([] { return modal("TForm5a") != nullptr; },
                  [] { modal("TForm5a")->findChild<QPushButton*>(QStringLiteral("CloseButton"))->click(); });
        click(form.TopButton(3)->normalPicture());
        QVERIFY(user.done());
    }
};

QTEST_MAIN(ResultsWindowTest)
#include "ResultsWindowTest.moc"
