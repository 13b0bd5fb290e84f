// The Options and About dialogs: where their controls sit, the restore folder they show, pick and
// save, the About links, their placement over the main window, and both opened from the program.
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QUrl>

#include "shell/Settings.h"
#include "shell/ui/OptionsAbout.h"
#include "tests/ui/UiTestSupport.h"

using namespace orv;
using namespace orv::ui;
using namespace orv::ui::test;

namespace {

// One of the two dialogs over a throwaway settings file, in the program's built-in English.
struct DialogMaker
{
    TestSystem system;
    LanguageCatalogue texts;
    std::string restoreFolder = "/home/user/Desktop/Restored Files";
    QList<QUrl> opened;

    std::unique_ptr<TForm3> options(std::int32_t languageIndex = 1)
    {
        return std::make_unique<TForm3>(texts, languageIndex, system.settings, restoreFolder);
    }
    std::unique_ptr<TForm5a> about()
    {
        return std::make_unique<TForm5a>(texts, [this](const QUrl& url) { opened << url; });
    }
    std::unique_ptr<SkinDialog> make(const QString& name)
    {
        if (name == QLatin1String("TForm3"))
            return options();
        return about();
    }
};

QFileDialog* picker()
{
    return qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
}

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { setUpIconTheme(); }
    void controlsSitWhereTheWindowIsDrawn_data();
    void controlsSitWhereTheWindowIsDrawn();
    void dragBandEndsAboveTheFirstLine_data();
    void dragBandEndsAboveTheFirstLine();
    void saveCaptionIsSmallerInFrench_data();
    void saveCaptionIsSmallerInFrench();
    void browseStartsAtTheShownFolderAndKeepsItOnCancel_data();
    void browseStartsAtTheShownFolderAndKeepsItOnCancel();
    void aboutShowsTheVersionAndOpensEachLinkStayingOpen();
    void dialogCentresOnItsWindowAndStaysOnTheScreen_data();
    void dialogCentresOnItsWindowAndStaysOnTheScreen();
    void programOpensOptionsAndAbout();
};

void DialogsTest::controlsSitWhereTheWindowIsDrawn_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("geometry");
    const struct
    {
        const char* dialog;
        const char* control;
        QRect geometry;
    } rows[] = {
        {"TForm3", "WndImage", {0, 0, 320, 190}},    {"TForm3", "Label1", {16, 46, 286, 32}},
        {"TForm3", "Edit1", {16, 88, 251, 22}},      {"TForm3", "Button1A", {271, 87, 31, 25}},
        {"TForm3", "Button2A", {58, 138, 93, 30}},   {"TForm3", "Button2Label", {58, 138, 93, 30}},
        {"TForm3", "Button3A", {170, 138, 93, 30}},  {"TForm3", "Button3Label", {170, 138, 93, 30}},
        {"TForm5a", "WndImage", {0, 0, 400, 230}},   {"TForm5a", "VersionLabel", {128, 52, 145, 13}},
        {"TForm5a", "Button1A", {162, 188, 93, 30}}, {"TForm5a", "Button1Label", {162, 188, 93, 30}},
    };
    for (const auto& row : rows)
        QTest::addRow("%s %s", row.dialog, row.control)
            << QString::fromLatin1(row.dialog) << QString::fromLatin1(row.control) << row.geometry;
}

void DialogsTest::controlsSitWhereTheWindowIsDrawn()
{
    QFETCH(QString, dialog);
    QFETCH(QString, control);
    QFETCH(QRect, geometry);
    DialogMaker maker;
    const auto window = maker.make(dialog);
    QCOMPARE(window->objectName(), dialog);
    auto* widget = window->findChild<QWidget*>(control);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), geometry);
    QVERIFY(widget->isVisibleTo(window.get()));
    if (control == QLatin1String("WndImage"))
        QCOMPARE(window->size(), geometry.size());
}

void DialogsTest::dragBandEndsAboveTheFirstLine_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<int>("band");
    QTest::newRow("Options, above the prompt") << QStringLiteral("TForm3") << QStringLiteral("Label1") << 46;
    QTest::newRow("About, above the version") << QStringLiteral("TForm5a") << QStringLiteral("VersionLabel") << 52;
}

void DialogsTest::dragBandEndsAboveTheFirstLine()
{
    QFETCH(QString, dialog);
    QFETCH(QString, firstLine);
    QFETCH(int, band);
    DialogMaker maker;
    const auto window = maker.make(dialog);
    QCOMPARE(window->findChild<QWidget*>(firstLine)->y(), band);
    for (const int x : {2, window->width() / 2, window->width() - 2}) {
        QVERIFY(window->dragBandContains(QPoint(x, 1)));
        QVERIFY(window->dragBandContains(QPoint(x, band - 1)));
        QVERIFY(!window->dragBandContains(QPoint(x, band)));
    }
    // Pressing on the title moves the dialog: the title lies in the band.
    window->move(100, 100);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto* title = window->findChild<QLabel*>(QStringLiteral("ActionLabel"));
    QTest::mousePress(title, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(title, QPoint(40, 25));
    QTest::mouseRelease(title, Qt::LeftButton, {}, QPoint(40, 25));
    QVERIFY(window->pos() != QPoint(100, 100));
}

void DialogsTest::saveCaptionIsSmallerInFrench_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("savePixels");
    QTest::newRow("English") << 1 << 11;
    QTest::newRow("German") << 2 << 11;
    // 7 points at 96 dots per inch.
    QTest::newRow("French") << 3 << 9;
    QTest::newRow("Spanish") << 4 << 11;
}

void DialogsTest::saveCaptionIsSmallerInFrench()
{
    QFETCH(int, language);
    QFETCH(int, savePixels);
    DialogMaker maker;
    const auto options = maker.options(language);
    QCOMPARE(options->findChild<QLabel*>(QStringLiteral("Button2Label"))->font().pixelSize(), savePixels);
    QCOMPARE(options->findChild<QLabel*>(QStringLiteral("Button3Label"))->font().pixelSize(), 11);
}

void DialogsTest::browseStartsAtTheShownFolderAndKeepsItOnCancel_data()
{
    QTest::addColumn<bool>("pick");
    QTest::newRow("a folder picked") << true;
    QTest::newRow("picker cancelled") << false;
}

void DialogsTest::browseStartsAtTheShownFolderAndKeepsItOnCancel()
{
    QFETCH(bool, pick);
    DialogMaker maker;
    const TempFolder place;
    const QString current = qPath(place / "current");
    const QString other = qPath(place / "other");
    QVERIFY(QDir().mkpath(current) && QDir().mkpath(other));
    maker.restoreFolder = current.toStdString();
    const auto options = maker.options();

    QString title;
    QString start;
    QString shown;
    UserScript user;
    user.then([&] { return options->isVisible(); }, [&] { clickButton(options.get(), "Button1A"); });
    user.then([] { return picker() != nullptr; },
              [&] {
                  title = picker()->windowTitle();
                  start = picker()->directory().absolutePath();
                  if (pick) {
                      picker()->setDirectory(other);
                      QMetaObject::invokeMethod(picker(), "accept");
                  } else {
                      picker()->reject();
                  }
              });
    user.then([&] { return QApplication::activeModalWidget() == options.get(); },
              [&] {
                  shown = options->FolderEdit()->text();
                  clickButton(options.get(), "Button3A");
              });
    options->exec();
    QVERIFY(user.done());

    QCOMPARE(title, QStringLiteral("Select folder to save restored files"));
    QCOMPARE(start, current);
    QCOMPARE(shown, pick ? other : current);
    // Close keeps the folder in use, and writes nothing.
    QCOMPARE(maker.restoreFolder, current.toStdString());
    QVERIFY(!maker.system.settings.readValue(RegistryRoot::CurrentUser, kSettingsKey, setting::kSaveDir));
}

void DialogsTest::aboutShowsTheVersionAndOpensEachLinkStayingOpen()
{
    DialogMaker maker;
    const auto about = maker.about();
    // Without a language file: the built-in word, a blank and the version, no colon.
    QCOMPARE(about->findChild<QLabel*>(QStringLiteral("VersionLabel"))->text(), QStringLiteral("Version 4.5"));

    // The left column ends at a common right edge, the right one starts at a common left edge.
    const struct
    {
        const char* link;
        int left;
        int right;
        int top;
    } anchors[] = {
        {"Label1", -1, 213, 140}, {"Label2", -1, 212, 160}, {"Label3", 222, -1, 140}, {"Label4", 222, -1, 160}};
    for (const auto& anchor : anchors) {
        const QRect place = about->findChild<QLabel*>(QLatin1String(anchor.link))->geometry();
        QVERIFY2(!place.isEmpty(), anchor.link);
        QCOMPARE(anchor.left < 0 ? place.x() + place.width() : place.x(), anchor.left < 0 ? anchor.right : anchor.left);
        QCOMPARE(place.y(), anchor.top);
    }

    QList<bool> openAfterClick;
    UserScript user;
    user.then([&] { return about->isVisible(); },
              [&] {
                  for (const char* link : {"Label1", "Label2", "Label3", "Label4"}) {
                      clickButton(about.get(), link);
                      openAfterClick << (QApplication::activeModalWidget() == about.get() && about->isVisible());
                  }
                  clickButton(about.get(), "Button1A");
              });
    about->exec();
    QVERIFY(user.done());
    QVERIFY(!about->isVisible());
    QCOMPARE(openAfterClick, (QList<bool>{true, true, true, true}));
    QList<QUrl> expected;
    for (const QString& address : TForm5a::addresses())
        expected << QUrl(address);
    QCOMPARE(maker.opened, expected);
    QCOMPARE(QSet<QUrl>(expected.begin(), expected.end()).size(), 4);
}

void DialogsTest::dialogCentresOnItsWindowAndStaysOnTheScreen_data()
{
    QTest::addColumn<QPoint>("windowAt");
    QTest::addColumn<bool>("centred");
    QTest::newRow("window on the screen") << QPoint(60, 50) << true;
    QTest::newRow("window off the top left") << QPoint(-400, -330) << false;
    QTest::newRow("window off the bottom right") << QPoint(5000, 5000) << false;
}

void DialogsTest::dialogCentresOnItsWindowAndStaysOnTheScreen()
{
    QFETCH(QPoint, windowAt);
    QFETCH(bool, centred);
    QWidget main;
    main.setFixedSize(446, 360);
    main.move(windowAt);
    main.show();
    DialogMaker maker;
    const auto about = maker.about();
    about->setCentreOn(&main);
    QRect placed;
    UserScript user;
    user.then([&] { return about->isVisible(); },
              [&] {
                  placed = about->geometry();
                  about->close();
              });
    about->exec();
    QVERIFY(user.done());
    QVERIFY(main.screen()->availableGeometry().contains(placed));
    if (centred)
        QCOMPARE(placed.center(), main.geometry().center());
}

// The program as a user drives it: Options from the main window's top button shows the folder in
// use, Close forgets a pick, Save keeps one; About opens and closes the same way.
void DialogsTest::programOpensOptionsAndAbout()
{
    TestSystem system;
    Program program(system.services());
    TForm1& form = *program.form1;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString restored = qPath(system.folder / "Restored Files");
    QCOMPARE(QString::fromStdString(form.restoreFolder()), restored);

    QStringList shown;
    QList<QRect> places;
    bool editable = true;
    UserScript user;
    auto options = [] { return static_cast<TForm3*>(modal("TForm3")); };
    user.then([&] { return options() != nullptr; },
              [&] {
                  shown << options()->FolderEdit()->text();
                  places << options()->geometry();
                  // Never typed into, but drawn readable: dark text on a white field.
                  const QPalette field = options()->FolderEdit()->palette();
                  editable = !options()->FolderEdit()->isReadOnly() ||
                      field.color(QPalette::Text).lightness() + 100 > field.color(QPalette::Base).lightness();
                  // A pick the user then closes on.
                  options()->FolderEdit()->setText(QStringLiteral("/tmp/unsaved"));
                  clickButton(options(), "Button3A");
              });
    click(form.TopButton(1)->normalPicture());
    QVERIFY(user.done());
    QCOMPARE(form.restoreFolder(), restored.toStdString());

    user.then([&] { return options() != nullptr; },
              [&] {
                  shown << options()->FolderEdit()->text();
                  options()->FolderEdit()->setText(QStringLiteral("/tmp/picked"));
                  // Named streams are restored only when asked for, and Save keeps the choice.
                  QCheckBox* streams = options()->findChild<QCheckBox*>(QStringLiteral("StreamsBox"));
                  QVERIFY(streams && !streams->isChecked());
                  streams->setChecked(true);
                  clickButton(options(), "Button2A");
              });
    click(form.TopButton(1)->normalPicture());
    QVERIFY(user.done());
    QCOMPARE(shown, (QStringList{restored, restored}));
    QVERIFY(!editable);
    QCOMPARE(form.restoreFolder(), std::string("/tmp/picked"));
    QCOMPARE(ReadSettingString(system.settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kSaveDir),
             std::string("/tmp/picked"));
    QVERIFY(ReadSettingBool(system.settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kRestoreStreams));

    user.then([] { return modal("TForm5a") != nullptr; },
              [&] {
                  places << modal("TForm5a")->geometry();
                  clickButton(modal("TForm5a"), "Button1A");
              });
    click(form.TopButton(3)->normalPicture());
    QVERIFY(user.done());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    for (const QRect& place : places)
        QCOMPARE(place.center(), form.geometry().center());
}

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
