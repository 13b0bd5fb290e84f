// The main window over real images: the Find command's checks and messages, the Normal and the
// Extended scan with Stop and Skip confirmed while they run, the refused close, the mask
// controls, the single running copy.
#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QLocalServer>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "shell/ui/AnimationPlayer.h"
#include "shell/ui/Program.h"
#include "shell/ui/SingleInstance.h"
#include "tests/ui/UiTestSupport.h"

using namespace orv;
using namespace orv::ui;
using namespace orv::ui::test;

namespace {

QString fixture(const char* name)
{
    return QStringLiteral(ORV_FIXTURES_DIR "/%1.img").arg(QLatin1String(name));
}

// A started program: the main window shown, the Confirmation dialog made after it.
struct Started
{
    TestSystem system;
    Program program;
    QStringList results; // what the results window listed, one line per file
    QStringList messages; // what the Information dialog said

    explicit Started(const QStringList& driveMap, int language = 1)
        : system(driveMap, language), program(system.services())
    {
        form().setPumpInterval(std::chrono::milliseconds(0));
        form().setResultsWindow([this](ScanSession& session) {
            for (const auto& section : session.store.sections())
                for (const auto& key : session.store.keys(section))
                    results << QString::fromStdU16String(section + key);
        });
        form().show();
    }
    TForm1& form() { return *program.form1; }
};

// Answers the Information dialog and keeps its text.
void acceptMessage(UserScript& user, Started& app)
{
    user.then([] { return modal("TForm6a") != nullptr; },
              [&app] {
                  QWidget* dialog = modal("TForm6a");
                  app.messages << infoText(dialog);
                  clickButton(dialog, "Button1A");
              });
}

void answer(UserScript& user, const char* button, QString* question = nullptr)
{
    user.then([] { return modal("TForm6b") != nullptr; },
              [button, question] {
                  QWidget* dialog = modal("TForm6b");
                  if (question)
                      *question = infoText(dialog);
                  clickButton(dialog, button);
              });
}

bool isIdle(TForm1& form)
{
    return form.DriveBox()->isEnabled() && form.MaskEdit()->isEnabled() && form.CloseButton()->isEnabled() &&
        !form.ProgressLabel()->isVisible() && !form.session().ScanRunning &&
        form.FindButton()->caption()->text() == QStringLiteral("Find");
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { setUpIconTheme(); }
    void listsScannableDrivesButNeverA();
    void findReportsEachFailingCheck_data();
    void findReportsEachFailingCheck();
    void normalScanListsTheDeletedFiles();
    void normalScanStopsWhenStopIsConfirmed();
    void extendedScanSkipsAStepWhenConfirmed();
    void scanRunsWithTheAnimationClip();
    void scanningPictureMovesWhileTheBarGrows();
    void closeIsRefusedWhileScanning();
    void maskControls();
    void secondStartActivatesTheFirst();
    void socketOfAnotherUserIsNeverTrusted();
    void imageThatIsNoFileIsRefusedWithoutFreezing();
    void helpOpensTheManualInTheBrowser();
    void shadowCopiesAreListedAndThoseElsewhereSaid();
};

void MainWindowTest::listsScannableDrivesButNeverA()
{
    const QString notNtfs = QDir::temp().filePath(QStringLiteral("orv-zero.img"));
    {
        std::ofstream(notNtfs.toStdString()) << std::string(65536, '\0');
    }
    Started app({QStringLiteral("A: ") + fixture("demo"), QStringLiteral("D: ") + notNtfs,
                 QStringLiteral("E: ") + fixture("ntfs-c512"), QStringLiteral("F: ") + fixture("demo"),
                 QStringLiteral("G: ") + fixture("fat12"), QStringLiteral("H: ") + fixture("exfat"),
                 // A bare $MFT file copied off a volume is a source too.
                 QStringLiteral("I: " ORV_FIXTURES_DIR "/ntfs-s4096.mft")});
    QStringList listed;
    for (int i = 0; i < app.form().DriveBox()->count(); ++i)
        listed << app.form().DriveBox()->itemText(i);
    QCOMPARE(listed,
             (QStringList{QStringLiteral("E: (NTFS) ntfs-c512.img"), QStringLiteral("F: (NTFS) demo.img"),
                          QStringLiteral("G: (FAT12) fat12.img"), QStringLiteral("H: (exFAT) exfat.img"),
                          QStringLiteral("I: ($MFT) ntfs-s4096.mft")}));
    QCOMPARE(app.form().DriveBox()->currentIndex(), 0);

    // A device change rebuilds the list and selects its first entry again.
    app.form().DriveBox()->setCurrentIndex(1);
    app.form().DeviceChange();
    QCOMPARE(app.form().DriveBox()->count(), 5);
    QCOMPARE(app.form().DriveBox()->currentIndex(), 0);
    QFile::remove(notNtfs);
}

void MainWindowTest::findReportsEachFailingCheck_data()
{
    QTest::addColumn<QString>("image"); // behind drive E:, empty for no drive at all
    QTest::addColumn<QString>("mask");
    QTest::addColumn<bool>("removeImage");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty drive list") << QString() << "*.*" << false << "Drive not found!";
    QTest::newRow("drive removed since listed") << "demo"
                                                << "*.*" << true << "Drive not found!";
    QTest::newRow("mask not well formed")
        << "demo"
        << "[ab" << false << "File or mask to find: [ab\nThe mask has a \"[\" without \"]\".";
}

void MainWindowTest::findReportsEachFailingCheck()
{
    QFETCH(QString, image);
    QFETCH(QString, mask);
    QFETCH(bool, removeImage);
    QFETCH(QString, message);
    const TempFolder copies;
    const QString copy = qPath(copies / (image.toStdString() + ".img"));
    QStringList map;
    if (!image.isEmpty()) {
        QVERIFY(QFile::copy(fixture(image.toLatin1().constData()), copy));
        map << QStringLiteral("E: ") + copy;
        if (removeImage) {
            Started probe(map);
            Q_UNUSED(probe);
        }
    }
    Started app(map);
    if (removeImage)
        QFile::remove(copy);
    app.form().MaskEdit()->setText(mask);

    UserScript user;
    acceptMessage(user, app);
    click(app.form().FindButton()->normalPicture());
    QVERIFY(user.done());
    QCOMPARE(app.messages.size(), 1);
    QVERIFY2(app.messages[0].startsWith(message), qPrintable(app.messages[0]));
    QVERIFY(isIdle(app.form()));
    QVERIFY(app.results.isEmpty());
}

void MainWindowTest::normalScanListsTheDeletedFiles()
{
    Started app({QStringLiteral("E: ") + fixture("ntfs-c512")});
    app.form().MaskEdit()->setText(QStringLiteral("   "));
    QStringList hints;
    QStringList counters;
    UserScript user;
    user.then([&app] { return app.form().session().ScanRunning; },
              [&] {
                  hints << app.form().HintLabel()->text();
                  counters << app.form().FindButton()->caption()->text();
                  QVERIFY(!app.form().DriveBox()->isEnabled());
                  QVERIFY(!app.form().CloseButton()->isEnabled());
                  QVERIFY(app.form().ProgressLabel()->isVisible());
              });
    click(app.form().FindButton()->normalPicture());
    QVERIFY(user.done());
    QCOMPARE(hints, QStringList{QStringLiteral("Please wait...")});
    QCOMPARE(counters, QStringList{QStringLiteral("Stop")});
    // The blank mask became "*.*", and the scan found the image's deleted files.
    QCOMPARE(app.form().MaskEdit()->text(), QStringLiteral("*.*"));
    QCOMPARE(app.results.size(), 25);
    // Shown again after the results, the window starts afresh.
    QVERIFY(app.form().isVisible());
    QVERIFY(isIdle(app.form()));
    QCOMPARE(app.form().Label2b()->text(), QStringLiteral("0"));
    QCOMPARE(app.form().session().store.entryCount(), std::size_t(0));
    QCOMPARE(app.form().ProgressBar()->width(), 0);

    // A mask that matches nothing ends with the "Found 0" message.
    app.results.clear();
    app.form().MaskEdit()->setText(QStringLiteral("*.nothing"));
    int barBehindMessage = -1;
    user.then([] { return modal("TForm6a") != nullptr; },
              [&] { barBehindMessage = app.form().ProgressBar()->width(); });
    acceptMessage(user, app);
    click(app.form().FindButton()->normalPicture());
    QVERIFY(user.done());
    QCOMPARE(barBehindMessage, 0); // nothing found: no full bar behind the message
    QCOMPARE(app.messages, QStringList{QStringLiteral("Found 0 deleted files on this drive!")});
    QVERIFY(app.results.isEmpty());
    QVERIFY(isIdle(app.form()));
}

void MainWindowTest::normalScanStopsWhenStopIsConfirmed()
{
    Started app({QStringLiteral("E: ") + fixture("ntfs-c512")});
    TForm1& form = app.form();
    QString question;
    std::int64_t examinedAtNo = -1;
    UserScript user;
    // Stop answered No: the scan goes on; then Stop answered Yes a little later ends it.
    user.then([&form] { return form.session().ScanRunning; }, [&] { click(form.FindButton()->normalPicture()); });
    answer(user, "Button2A", &question);
    user.then([&form] { return form.session().ScanRunning && form.session().RecordsExamined > 0; },
              [&] {
                  examinedAtNo = form.session().RecordsExamined;
                  click(form.FindButton()->normalPicture());
              });
    answer(user, "Button1A");
    user.then([] { return modal("TForm6a") != nullptr; },
              [&app] {
                  app.messages << infoText(modal("TForm6a"));
                  clickButton(modal("TForm6a"), "Button1A");
              });
    click(form.FindButton()->normalPicture());

    QCOMPARE(question, QStringLiteral("Are you sure you wish to cancel this operation?"));
    QVERIFY(examinedAtNo > 0);
    // Ended early: fewer records than the image holds, and the window idle again.
    QVERIFY(form.session().RecordsExamined < 122);
    QVERIFY(isIdle(form));
    QVERIFY(app.results.size() < 25);
    QVERIFY(app.results.isEmpty() ==
            (app.messages == QStringList{QStringLiteral("Found 0 deleted files on this drive!")}));
}

void MainWindowTest::extendedScanSkipsAStepWhenConfirmed()
{
    Started app({QStringLiteral("E: ") + fixture("ntfs-c512")});
    TForm1& form = app.form();
    form.ModeBox()->setCurrentIndex(1);

    // The whole scan first: every step announced, the files of the image listed.
    QStringList steps;
    UserScript user;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString hint = form.HintLabel()->text();
        if (form.session().ScanRunning && (steps.isEmpty() || steps.last() != hint))
            steps << hint;
    });
    watch.start();
    click(form.FindButton()->normalPicture());
    watch.stop();
    QCOMPARE(steps,
             (QStringList{QStringLiteral("Please wait..."), QStringLiteral("Find MFT records"),
                          QStringLiteral("Read MFT records"), QStringLiteral("Find folders"),
                          QStringLiteral("Find files")}));
    const int all = static_cast<int>(app.results.size());
    QCOMPARE(all, 25);
    QVERIFY(isIdle(form));

    // Skip asked while finding folders: No first, then Yes. The files are still found, under
    // folders the shorter folder list could name.
    app.results.clear();
    QString question;
    QString caption;
    user.then(
        [&form] { return form.session().ScanRunning && form.HintLabel()->text() == QStringLiteral("Find folders"); },
        [&] {
            caption = form.FindButton()->caption()->text();
            click(form.FindButton()->normalPicture());
        });
    answer(user, "Button2A", &question);
    user.then(
        [&form] { return form.session().ScanRunning && form.HintLabel()->text() == QStringLiteral("Find folders"); },
        [&] { click(form.FindButton()->normalPicture()); });
    answer(user, "Button1A");
    click(form.FindButton()->normalPicture());
    QVERIFY(user.done());
    QCOMPARE(caption, QStringLiteral("Skip"));
    QCOMPARE(question, QStringLiteral("Skip current step?"));
    QCOMPARE(app.results.size(), all);
    QVERIFY(isIdle(form));

    // Skipped at the very start of finding the records, the scan still reads the $MFT the volume
    // names now: every file the Normal scan lists is there.
    app.results.clear();
    user.then(
        [&form] {
            return form.session().ScanRunning && form.HintLabel()->text() == QStringLiteral("Find MFT records");
        },
        [&] { click(form.FindButton()->normalPicture()); });
    answer(user, "Button1A");
    click(form.FindButton()->normalPicture());
    QVERIFY(user.done());
    QCOMPARE(app.results.size(), all);
    QVERIFY(isIdle(form));

    // The whole-disc mode: its own hint while idle, then the same steps and the same files.
    form.ModeBox()->setCurrentIndex(2);
    QVERIFY(form.HintLabel()->text().startsWith(QStringLiteral("Extended (whole disc) reads every sector")));
    app.results.clear();
    steps.clear();
    watch.start();
    click(form.FindButton()->normalPicture());
    watch.stop();
    QCOMPARE(steps,
             (QStringList{QStringLiteral("Please wait..."), QStringLiteral("Find MFT records"),
                          QStringLiteral("Read MFT records"), QStringLiteral("Find folders"),
                          QStringLiteral("Find files")}));
    QCOMPARE(app.results.size(), all);
    QVERIFY(isIdle(form));
    form.ModeBox()->setCurrentIndex(1);
    QVERIFY(form.HintLabel()->text().startsWith(QStringLiteral("Use Extended Mode")));
}

void MainWindowTest::scanRunsWithTheAnimationClip()
{
    // The clip beside the program plays during the scan and stops with it; the scan is the same.
    if (!AnimationPlayer::available())
        QSKIP("no AVI playback here (built without Qt Multimedia, or no GStreamer plug-ins)");
    Started app({QStringLiteral("E: ") + fixture("ntfs-c512")});
    QVERIFY(QFile::copy(QStringLiteral(ORV_RESOURCES_DIR "/Recovery.avi"), qPath(app.system.folder / "Recovery.avi")));
    QWidget* panel = app.form().findChild<QWidget*>(QStringLiteral("AviPanel"));
    UserScript user;
    user.then([&app] { return app.form().session().ScanRunning; },
              [&] {
                  // Keep the scan busy until the clip is loaded and shown.
                  QTRY_VERIFY_WITH_TIMEOUT(!panel->findChildren<QWidget*>().isEmpty() &&
                                               panel->findChildren<QWidget*>().first()->isVisible(),
                                           5000);
              });
    click(app.form().FindButton()->normalPicture());
    QVERIFY(user.done());
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(app.results.size(), 25);
    QVERIFY(isIdle(app.form()));
    for (QWidget* video : panel->findChildren<QWidget*>())
        QVERIFY(!video->isVisible());
}

void MainWindowTest::scanningPictureMovesWhileTheBarGrows()
{
    Started app({QStringLiteral("E: ") + fixture("ntfs-c512")});
    const auto* panel = app.form().findChild<QLabel*>(QStringLiteral("AviPanel"));
    const QImage still = panel->pixmap().toImage();
    QList<QImage> seen;
    UserScript user;
    user.then([&app] { return app.form().session().ScanRunning; },
              [&] {
                  // The scan waits here, as a long one would: the picture turns meanwhile.
                  QTRY_VERIFY(panel->pixmap().toImage() != still);
                  seen << panel->pixmap().toImage();
                  QTRY_VERIFY(panel->pixmap().toImage() != seen.first());
              });
    click(app.form().FindButton()->normalPicture());
    QVERIFY(user.done());
    QTRY_COMPARE(panel->pixmap().toImage(), still);
}

void MainWindowTest::closeIsRefusedWhileScanning()
{
    Started app({QStringLiteral("E: ") + fixture("ntfs-c512")});
    TForm1& form = app.form();
    QSignalSpy closed(&form, &TForm1::closed);
    bool stillOpen = false;
    UserScript user;
    user.then([&form] { return form.session().ScanRunning; },
              [&] {
                  form.close();
                  click(form.TopButton(5)->normalPicture());
                  stillOpen = form.isVisible();
              });
    click(form.FindButton()->normalPicture());
    QVERIFY(user.done());
    QVERIFY(stillOpen);
    QCOMPARE(closed.count(), 0);
    // The same request after the scan closes the window.
    click(form.CloseButton()->normalPicture());
    QCOMPARE(closed.count(), 1);
    QVERIFY(!form.isVisible());
}

void MainWindowTest::maskControls()
{
    Started app({QStringLiteral("E: ") + fixture("ntfs-c512")});
    TForm1& form = app.form();
    QCOMPARE(form.MaskBox()->count(), 12);
    struct MaskCase
    {
        int entry;
        const char* mask;
    };
    for (const MaskCase c : {MaskCase{8, "*.mpg"}, MaskCase{0, "*.*"}, MaskCase{11, "*.rar"}}) {
        form.MaskBox()->setCurrentIndex(c.entry);
        emit form.MaskBox()->activated(c.entry);
        QCOMPARE(form.MaskEdit()->text(), QLatin1String(c.mask));
    }

    // Enter in an empty mask does nothing; Enter in a mask acts as the Find button.
    form.MaskEdit()->clear();
    QTest::keyClick(form.MaskEdit(), Qt::Key_Return);
    QVERIFY(app.results.isEmpty());
    form.MaskEdit()->setText(QStringLiteral("*.*"));
    QTest::keyClick(form.MaskEdit(), Qt::Key_Return);
    QCOMPARE(app.results.size(), 25);
}

void MainWindowTest::secondStartActivatesTheFirst()
{
    const QString name = QStringLiteral("orv-test-%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(name);
    SingleInstance second(name);
    QVERIFY(!second.activateRunningCopy()); // nobody runs yet
    QVERIFY(first.listen());
    QSignalSpy activated(&first, &SingleInstance::activationRequested);
    QVERIFY(second.activateRunningCopy());
    QTRY_COMPARE(activated.count(), 1);

    // Images handed over arrive whole, whatever their names hold, before the activation.
    QSignalSpy handed(&first, &SingleInstance::imageHanded);
    const QStringList images = {QStringLiteral("/images/disk one.E01"), QStringLiteral("/tmp/a\nb %41 \u00e9.img")};
    QVERIFY(second.activateRunningCopy(images));
    QTRY_COMPARE(activated.count(), 2);
    QCOMPARE(handed.count(), 2);
    QCOMPARE(handed.at(0).at(0).toString(), images.at(0));
    QCOMPARE(handed.at(1).at(0).toString(), images.at(1));

    // The running copy restores its minimised window and brings it to the front.
    Started app({});
    connect(&first, &SingleInstance::activationRequested, &app.form(), &TForm1::activateFromSecondStart);
    app.form().showMinimized();
    QTRY_VERIFY(app.form().isMinimized());
    QVERIFY(second.activateRunningCopy());
    QTRY_VERIFY(!app.form().isMinimized());
}

namespace {

constexpr uid_t kNobody = 65534;

sockaddr_un socketAddress(const QString& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = path.toLocal8Bit();
    std::memcpy(address.sun_path, bytes.constData(), std::min<std::size_t>(bytes.size(), sizeof address.sun_path - 1));
    return address;
}

// Runs `body` in a child process as the user nobody and gives its exit status. Only system calls
// happen in the child: it is a copy of a process with threads.
template <typename Body>
pid_t asNobody(Body body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(3);
        ::_exit(body());
    }
    return child;
}

} // namespace

void MainWindowTest::socketOfAnotherUserIsNeverTrusted()
{
    // The place of the socket: the runtime folder only when it is this user's and private.
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir runtime;
    QVERIFY(::chmod(QFile::encodeName(runtime.path()).constData(), 0700) == 0);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QCOMPARE(SingleInstance::defaultName(), runtime.path() + QStringLiteral("/OrvandelRestore"));
    QVERIFY(::chmod(QFile::encodeName(runtime.path()).constData(), 0777) == 0);
    const QString fallback = SingleInstance::defaultName();
    QVERIFY2(!fallback.startsWith(runtime.path()), qPrintable(fallback));
    QVERIFY(fallback.isEmpty() || SingleInstance::privateFolder(QFileInfo(fallback).path()));
    qputenv("XDG_RUNTIME_DIR", savedRuntime);

    if (::geteuid() != 0)
        QSKIP("another user's socket needs root to make");
    QTemporaryDir shared;
    QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), 0777) == 0);
    const QString path = shared.path() + QStringLiteral("/socket");
    const QString got = shared.path() + QStringLiteral("/got");

    // Another user listens where a copy of ours would: nothing is handed to it, and this copy is
    // told to run as the first.
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const sockaddr_un address = socketAddress(path);
    const QByteArray gotPath = QFile::encodeName(got);
    const pid_t thief = asNobody([&] {
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (listener < 0 || ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener, 4) != 0)
            return 4;
        // The file of what it hears is there before it says it listens: it may be killed at once.
        const int taken = ::open(gotPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (taken < 0 || ::chmod(address.sun_path, 0777) != 0 || ::write(ready[1], "x", 1) != 1)
            return 5;
        const int peer = ::accept(listener, nullptr, nullptr);
        char buffer[512];
        for (ssize_t n; peer >= 0 && (n = ::read(peer, buffer, sizeof buffer)) > 0;)
            if (::write(taken, buffer, static_cast<std::size_t>(n)) != n)
                return 6;
        return 0;
    });
    char byte = 0;
    QCOMPARE(::read(ready[0], &byte, 1), ssize_t{1});
    SingleInstance second(path);
    QVERIFY(!second.activateRunningCopy({QStringLiteral("/cases/secret.E01")}));
    ::kill(thief, SIGKILL);
    ::waitpid(thief, nullptr, 0);
    QFile taken(got);
    QVERIFY(taken.open(QIODevice::ReadOnly));
    QCOMPARE(taken.readAll(), QByteArray());
    QFile::remove(path);

    // Another user's process connects to our copy: it is heard from no more than a stranger.
    SingleInstance first(path);
    QVERIFY(first.listen());
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0777) == 0);
    QSignalSpy activated(&first, &SingleInstance::activationRequested);
    QSignalSpy handed(&first, &SingleInstance::imageHanded);
    const pid_t stranger = asNobody([&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            return 4;
        const char orders[] = "open /dev/sda\n1152\n";
        return ::write(fd, orders, sizeof orders - 1) == static_cast<ssize_t>(sizeof orders - 1) ? 0 : 5;
    });
    int status = -1;
    while (::waitpid(stranger, &status, WNOHANG) == 0)
        QTest::qWait(10);
    QCOMPARE(WEXITSTATUS(status), 0); // it reached the socket and said its piece
    QTest::qWait(300);
    QCOMPARE(activated.count(), 0);
    QCOMPARE(handed.count(), 0);
    // Our own user is still heard.
    QVERIFY(SingleInstance(path).activateRunningCopy());
    QTRY_COMPARE(activated.count(), 1);
    ::close(ready[0]);
    ::close(ready[1]);
}

void MainWindowTest::imageThatIsNoFileIsRefusedWithoutFreezing()
{
    Started app({});
    QTemporaryDir folder;
    const QString fifo = folder.path() + QStringLiteral("/pipe.img");
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const auto listed = [&app] { return app.system.drives.drives().size(); };
    const std::size_t before = listed();

    // Handed over by a second start, as a copy that runs already gets it.
    const QString name = QStringLiteral("orv-test-fifo-%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(name);
    QVERIFY(first.listen());
    connect(&first, &SingleInstance::imageHanded, &app.form(),
            [&app](const QString& image) { addImage(app.system.drives, app.form(), image); });
    UserScript user;
    acceptMessage(user, app);
    QVERIFY(SingleInstance(name).activateRunningCopy({fifo}));
    QTRY_VERIFY(user.done());
    QCOMPARE(app.messages.size(), 1);
    QVERIFY2(app.messages[0].contains(fifo + QStringLiteral(": it is neither a disk image nor a drive")),
             qPrintable(app.messages[0]));

    // Named on the command line; a character device is refused the same way; an image joins.
    for (const QString& refused : {fifo, QStringLiteral("/dev/zero")}) {
        acceptMessage(user, app);
        QVERIFY(!addImage(app.system.drives, app.form(), refused));
        QVERIFY(user.done());
    }
    QCOMPARE(app.messages.size(), 3);
    QCOMPARE(listed(), before);
    QVERIFY(app.system.drives.addImage(fifo.toStdString()).empty());
    QVERIFY(addImage(app.system.drives, app.form(), fixture("ntfs-c4096")));
    QCOMPARE(listed(), before + 1);

    // Named together on the command line: one message names each that did not join, and why.
    const QString zeros = folder.path() + QStringLiteral("/zero.img");
    QFile zeroFile(zeros);
    QVERIFY(zeroFile.open(QIODevice::WriteOnly) && zeroFile.resize(1 << 20));
    zeroFile.close();
    const QString refusals =
        addImages(app.system.drives, app.form(),
                  {zeros, folder.path() + QStringLiteral("/does-not-exist.img"), folder.path(), fixture("ntfs-c512")});
    const QStringList lines = refusals.split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("These could not be opened:"));
    QCOMPARE(lines.mid(1),
             (QStringList{QStringLiteral("zero.img: it holds no NTFS, FAT or exFAT volume"),
                          QStringLiteral("does-not-exist.img: it does not exist"),
                          QFileInfo(folder.path()).fileName() +
                              QStringLiteral(": it is neither a disk image nor a drive")}));
}

// Help opens the manual through the desktop's handler of files; without a manual it says so.
class OpenedUrls : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

void MainWindowTest::helpOpensTheManualInTheBrowser()
{
    Started app({});
    OpenedUrls browser;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "open");
    UserScript user;
    acceptMessage(user, app);
    click(app.form().TopButton(2)->normalPicture());
    QVERIFY(user.done());
    QCOMPARE(app.messages, QStringList{QStringLiteral("Help file not found!")});
    QVERIFY(browser.opened.isEmpty());

    const std::filesystem::path manual = app.system.folder / "manual.html";
    std::filesystem::copy_file(ORV_RESOURCES_DIR "/manual/manual.html", manual);
    click(app.form().TopButton(2)->normalPicture());
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(browser.opened, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(manual.string()))});
    QCOMPARE(app.messages.size(), 1);
}

QTEST_MAIN(MainWindowTest)
void MainWindowTest::shadowCopiesAreListedAndThoseElsewhereSaid()
{
    const QString oneCopy = QStringLiteral(ORV_SHADOW_DISKS "/vss_2_stor.raw");
    const QString elsewhere = QStringLiteral(ORV_SHADOW_DISKS "/vss_3_volstor.raw");
    if (!QFileInfo::exists(oneCopy) || !QFileInfo::exists(elsewhere))
        QSKIP("the shadow-copy disks are not unpacked");
    // A copy's folder carries its creation time in local time.
    qputenv("TZ", "UTC");
    ::tzset();
    {
        Started app({QStringLiteral("E: ") + oneCopy});
        UserScript user;
        click(app.form().FindButton()->normalPicture());
        QVERIFY(user.done());
        QVERIFY2(app.results.contains(QStringLiteral("E:\\Shadow copy 1 (2021-03-10 22:44)\\test.txt")),
                 qPrintable(app.results.join(QLatin1Char('\n'))));
        QVERIFY(app.messages.isEmpty());
    }
    {
        // The disk's two NTFS partitions take E: and F:; the copies of the second keep their data on
        // the first.
        Started app({QStringLiteral("E: ") + elsewhere});
        QCOMPARE(app.form().DriveBox()->count(), 2);
        app.form().DriveBox()->setCurrentIndex(1);
        UserScript user;
        acceptMessage(user, app);
        acceptMessage(user, app);
        click(app.form().FindButton()->normalPicture());
        QVERIFY(user.done());
        QCOMPARE(app.messages,
                 (QStringList{QStringLiteral("2 shadow copies of the drive keep their data on another drive and cannot "
                                             "be read from this one: they are left out."),
                              QStringLiteral("Found 0 deleted files on this drive!")}));
        QVERIFY(isIdle(app.form()));
    }
}

#include "MainWindowTest.moc"
