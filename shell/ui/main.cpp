// orvandel: the desktop program. One copy per user; a second start brings the first to the front
// and hands it the disk images it was given.
#include <QApplication>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/SystemMemory.h"
#include "platform/linux/CurlHttpClient.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "platform/linux/LinuxSystemFacts.h"
#include "platform/linux/RegistryFileBackend.h"
#include "shell/Product.h"
#include "shell/ui/DeviceMonitor.h"
#include "shell/ui/FileListModel.h"
#include "shell/ui/Program.h"
#include "shell/ui/SingleInstance.h"

namespace {

bool hasEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

// True when a local socket answers at this path.
bool socketAnswers(const std::string& path)
{
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answered = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return answered;
}

// Whether a display server can be reached, as far as can be told before Qt tries (Qt ends the
// process when it cannot connect). A local X display (":N") and a Wayland socket are checked; a
// remote X display is taken on trust.
bool displayReachable()
{
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland) {
        const std::string name = wayland;
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (name.front() == '/' ? socketAnswers(name) : runtime && socketAnswers(std::string(runtime) + "/" + name))
            return true;
    }
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
    const std::string name = display;
    if (name.front() != ':')
        return true;
    const std::string number =
        name.substr(1, name.find('.') == std::string::npos ? std::string::npos : name.find('.') - 1);
    return socketAnswers("/tmp/.X11-unix/X" + number);
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");

    // Answered before a display is looked for, so that they work on a server and in scripts.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("orvandel %s\n", std::string(orv::kProductVersion).c_str());
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs("usage: orvandel [--version] [--help] [IMAGE...]\n"
                       "Finds and restores deleted files on NTFS, FAT and exFAT drives; each disk IMAGE named joins "
                       "the drive list.\n",
                       stdout);
            return 0;
        }
    }

    // Without a display Qt would abort; say so and end instead. A platform chosen by hand
    // (offscreen, vnc) is the user's to answer for.
    if (!hasEnvironment("QT_QPA_PLATFORM") && !displayReachable()) {
        std::fputs("orvandel: no display is available; orvandel-cli scans without one.\n", stderr);
        return 1;
    }

    QApplication app(argc, argv);
    app.setApplicationName(QString::fromUtf8(orv::kProductName.data(), static_cast<int>(orv::kProductName.size())));
    app.setQuitOnLastWindowClosed(false);

    // Disk images named on the command line ("Open with" in a file manager) join the drive list;
    // a copy that runs already is handed them. Paths are made absolute: the running copy has a
    // working folder of its own.
    QStringList images;
    for (const QString& argument : app.arguments().mid(1))
        if (!argument.startsWith(QLatin1Char('-')))
            images.append(QFileInfo(argument).absoluteFilePath());

    orv::ui::SingleInstance instance;
    if (instance.activateRunningCopy(images)) {
        // The running copy is not asked to answer; give it a moment to come to the front.
        QThread::msleep(500);
        return 0;
    }
    instance.listen();
    orv::ui::setUpIconTheme();

    orv::LinuxDriveSystem drives(orv::LinuxDriveSources{orv::LinuxDriveSources::defaultDriveMapFile()});
    orv::RegistryFileBackend settings;
    orv::LinuxSystemFacts facts;
    orv::CurlHttpClient http;
    orv::ui::Program program(orv::ui::Services{drives, settings, facts, http, &orv::AvailablePhysicalMemory});

    orv::ui::DeviceMonitor devices;
    QObject::connect(&devices, &orv::ui::DeviceMonitor::changed, program.form1.get(), &orv::ui::TForm1::DeviceChange);
    QObject::connect(&instance, &orv::ui::SingleInstance::activationRequested, program.form1.get(),
                     &orv::ui::TForm1::activateFromSecondStart);
    QObject::connect(&instance, &orv::ui::SingleInstance::imageHanded, program.form1.get(),
                     [&drives, &program](const QString& image) { orv::ui::addImage(drives, *program.form1, image); });
    QObject::connect(program.form1.get(), &orv::ui::TForm1::closed, &app, &QCoreApplication::quit);

    // Images that open join the list before it is first shown; the others are named, with why,
    // in one message once the window is there.
    const QString refused = orv::ui::addImages(drives, *program.form1, images);
    program.form1->show();
    if (!refused.isEmpty())
        QTimer::singleShot(0, program.form1.get(), [&program, refused] { program.form1->ShowInformation(refused); });
    return app.exec();
}
