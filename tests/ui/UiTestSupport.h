#pragma once

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <deque>
#include <fstream>
#include <functional>

#include "platform/HttpClient.h"
#include "platform/SystemFacts.h"
#include "platform/SystemMemory.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "platform/linux/RegistryFileBackend.h"
#include "shell/ui/FileListModel.h"
#include "shell/ui/Program.h"
#include "tests/support/TempFolder.h"

namespace orv::ui::test {

using TempFolder = orv::test::TempFolder;

// A path in a test's temporary folder as Qt takes it.
inline QString qPath(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

// The system as a test sets it up: a drive map of its own, no detected devices, a settings file
// in a temporary folder, no network.
class FakeFacts final : public SystemFacts
{
public:
    explicit FakeFacts(QString folder) : m_folder(std::move(folder)) {}
    std::optional<std::int32_t> osMajorVersion() override { return 10; }
    std::string executablePath() override { return (m_folder + QStringLiteral("/orvandel")).toStdString(); }
    std::string programFilesFolder() override { return "/usr/bin"; }
    std::string desktopFolder() override { return m_folder.toStdString(); }
    std::string temporaryFolder() override { return (m_folder + QStringLiteral("/")).toStdString(); }
    bool isInternetConnected() override { return false; }
    // The test's own locale, never the one of the machine that runs it.
    std::string messagesLocale() override { return locale; }
    std::string locale = "C";

private:
    QString m_folder;
};

class NoHttp final : public HttpClient
{
public:
    std::optional<int> get(const std::string&, const HttpGetOptions&) override { return std::nullopt; }
};

struct TestSystem
{
    TempFolder folder;
    FakeFacts facts{qPath(folder.path())};
    NoHttp http;
    RegistryFileBackend settings{folder / "registry.reg"};
    LinuxDriveSystem drives;

    // drive map lines such as "E: /path/to/image"
    explicit TestSystem(const QStringList& driveMap = {}, int language = 1) : drives(makeSources(folder, driveMap))
    {
        if (language != 1)
            settings.writeValue(RegistryRoot::CurrentUser, kSettingsKey, setting::kLanguage,
                                RegistryValue::dword(static_cast<std::uint32_t>(language)));
    }

    Services services() { return Services{drives, settings, facts, http, &AvailablePhysicalMemory}; }

private:
    static LinuxDriveSources makeSources(const TempFolder& dir, const QStringList& driveMap)
    {
        std::filesystem::create_directories(dir / "sys");
        const std::filesystem::path map = dir / "drives";
        std::ofstream out(map);
        for (const QString& line : driveMap)
            out << line.toStdString() << '\n';
        LinuxDriveSources sources;
        sources.driveMapFile = map;
        sources.sysClassBlock = dir / "sys";
        sources.devFolder = dir / "sys";
        sources.mountInfo = dir / "none";
        return sources;
    }
};

// Plays the user while the program holds the test in a modal dialog or a running scan: every
// pass of the event loop, the first step whose moment has come runs, from the loop itself.
class UserScript : public QObject
{
public:
    struct Step
    {
        std::function<bool()> ready;
        std::function<void()> act;
    };

    UserScript()
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_steps.empty() || m_busy || !m_steps.front().ready())
                return;
            auto act = m_steps.front().act;
            m_steps.pop_front();
            // The step may open a modal dialog: run it outside this slot so the timer goes on.
            QTimer::singleShot(0, this, [this, act] {
                m_busy = false;
                act();
            });
            m_busy = true;
        });
        m_timer.start();
    }

    void then(std::function<bool()> ready, std::function<void()> act) { m_steps.push_back({ready, act}); }
    bool done() const { return m_steps.empty(); }

private:
    QTimer m_timer;
    std::deque<Step> m_steps;
    bool m_busy = false;
};

inline void click(QWidget* part)
{
    QTest::mouseClick(part, Qt::LeftButton, {}, QPoint(3, 3));
}

inline QWidget* modal(const char* name)
{
    QWidget* top = QApplication::activeModalWidget();
    return top && top->isVisible() && top->objectName() == QLatin1String(name) ? top : nullptr;
}

inline QString infoText(QWidget* dialog)
{
    return dialog->findChild<QLabel*>(QStringLiteral("InfoLabel"))->text();
}

inline void clickButton(QWidget* dialog, const char* name)
{
    click(dialog->findChild<QLabel*>(QLatin1String(name)));
}

} // namespace orv::ui::test
