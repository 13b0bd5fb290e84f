#include "shell/ui/Program.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sys/stat.h>

#include <cerrno>

#include "platform/DriveSystem.h"
#include "platform/linux/FileDevice.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "shell/Settings.h"
#include "shell/ui/OptionsAbout.h"
#include "shell/ui/ResultsWindow.h"
#include "volume/SectorIo.h"

namespace orv::ui {

Program::Program(Services services)
    : form1(std::make_unique<TForm1>(services)), form6b(std::make_unique<ConfirmationDialog>(form1->texts()))
{
    form1->setConfirmation(form6b.get());
    TForm1* main = form1.get();
    const auto openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    // Options and About live only while shown, over the main window even when the results
    // window opens them.
    const auto options = [main] {
        TForm3 dialog(main->texts(), main->startup().LanguageIndex, main->settingsBackend(), main->restoreFolder());
        dialog.setCentreOn(main);
        dialog.exec();
    };
    const auto about = [main, openUrl] {
        TForm5a dialog(main->texts(), openUrl);
        dialog.setCentreOn(main);
        dialog.exec();
    };
    form1->setDialogs(options, about);
    form1->setResultsWindow([main, openUrl, options, about](ScanSession& session) {
        ResultsServices windowServices{
            .session = session,
            .texts = main->texts(),
            .inform = [main](const QString& message) { main->ShowInformation(message); },
            .ask = [main](const QString& question) { return main->AskConfirmation(question); },
            .askDefaultNo =
                [main](const QString& question) {
                    return main->AskConfirmation(question, ConfirmationDialog::Default::No);
                },
            .importantNotice =
                [main] {
                    ImportantNotice notice(main->texts(), main->startup().LanguageIndex, main->settingsBackend(),
                                           main->showNote());
                    notice.exec();
                },
            .showNote = [main] { return main->showNote(); },
            .restoreStreams =
                [main] {
                    return ReadSettingBool(main->settingsBackend(), RegistryRoot::CurrentUser, kSettingsKey,
                                           setting::kRestoreStreams);
                },
            .restoreFolder = [main] { return std::filesystem::path(main->restoreFolder()); },
            .osMajorVersion = main->folders().OsMajorVersion,
            .openUrl = openUrl,
            .options = options,
            .about = about,
            .help = [main] { main->TopButton2Click(); },
            .mountPoint = [main](const std::string& drive) { return main->driveSystem().mountPoint(drive); },
            .languageIndex = main->startup().LanguageIndex,
        };
        TForm2 window(std::move(windowServices));
        window.run();
    });
}

namespace {

// Adds the image at `path` to the drive table; why it cannot join the drive list, or an empty text
// when it did (or was a drive already).
QString joinImage(LinuxDriveSystem& drives, const LanguageCatalogue& texts, const QString& path)
{
    const std::string local = QFile::encodeName(path).toStdString();
    struct stat info
    {};
    if (::stat(local.c_str(), &info) != 0)
        return causeText(texts, errno);
    if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode))
        return text(texts, lang::kCauseNotAnImage);
    errno = 0;
    if (openImageFile(local).get() < 0)
        return errno == EACCES || errno == EPERM ? text(texts, lang::kCauseNoReadAccess)
            : errno != 0                         ? causeText(texts, errno)
                                                 : text(texts, lang::kCauseNotAnImage);
    const std::string letter = drives.addImage(local);
    if (!letter.empty() && !scannable(fileSystemOfDrive(drives, letter)))
        return text(texts, lang::kDriveNoFileSystem);
    return {};
}

} // namespace

bool addImage(LinuxDriveSystem& drives, TForm1& form, const QString& path)
{
    const QString problem = joinImage(drives, form.texts(), path);
    if (!problem.isEmpty()) {
        form.ShowInformation(text(form.texts(), lang::kDriveNotOpened) + QLatin1Char('\n') + path +
                             QStringLiteral(": ") + problem);
        return false;
    }
    form.DeviceChange();
    return true;
}

QString addImages(LinuxDriveSystem& drives, TForm1& form, const QStringList& paths)
{
    QStringList lines;
    for (const QString& path : paths)
        if (const QString problem = joinImage(drives, form.texts(), path); !problem.isEmpty())
            lines << QFileInfo(path).fileName() + QStringLiteral(": ") + problem;
    if (lines.isEmpty())
        return {};
    return text(form.texts(), lang::kDriveNotOpened) + QLatin1Char('\n') + lines.join(QLatin1Char('\n'));
}

} // namespace orv::ui
