// orvandel: the desktop program. One copy per user; a second start brings the first to the front.
#include <QApplication>
#include <QThread>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "CurlHttpClient.h"
#include "DeviceMonitor.h"
#include "LinuxDriveSystem.h"
#include "LinuxSystemFacts.h"
#include "Product.h"
#include "Program.h"
#include "RegistryFileBackend.h"
#include "SingleInstance.h"
#include "SystemMemory.h"

namespace {

bool hasEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");

    // Without a display Qt would abort; say so and end instead. A platform chosen by hand
    // (offscreen, vnc) is the user's to answer for.
    if (!hasEnvironment("QT_QPA_PLATFORM") && !hasEnvironment("DISPLAY") && !hasEnvironment("WAYLAND_DISPLAY")) {
        std::fputs("orvandel: no display is available (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "orvandel-cli scans without one.\n",
                   stderr);
        return 1;
    }

    QApplication app(argc, argv);
    app.setApplicationName(QString::fromUtf8(orv::kProductName.data(), static_cast<int>(orv::kProductName.size())));
    app.setQuitOnLastWindowClosed(false);

    orv::ui::SingleInstance instance;
    if (instance.activateRunningCopy()) {
        // The running copy is not asked to answer; give it a moment to come to the front.
        QThread::msleep(500);
        return 0;
    }
    instance.listen();

    orv::LinuxDriveSystem drives(orv::LinuxDriveSources{orv::LinuxDriveSources::defaultDriveMapFile()});
    orv::RegistryFileBackend settings;
    orv::LinuxSystemFacts facts;
    orv::CurlHttpClient http;
    orv::ui::Program program(orv::ui::Services{drives, settings, facts, http, &orv::AvailablePhysicalMemory});

    orv::ui::DeviceMonitor devices;
    QObject::connect(&devices, &orv::ui::DeviceMonitor::changed, program.form1.get(), &orv::ui::TForm1::DeviceChange);
    QObject::connect(&instance, &orv::ui::SingleInstance::activationRequested, program.form1.get(),
                     &orv::ui::TForm1::activateFromSecondStart);
    QObject::connect(program.form1.get(), &orv::ui::TForm1::closed, &app, &QCoreApplication::quit);

    program.form1->show();
    return app.exec();
}
