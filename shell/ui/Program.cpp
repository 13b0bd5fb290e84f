#include "shell/ui/Program.h"

#include <QDesktopServices>
#include <QFile>
#include <QUrl>

#include "platform/DriveSystem.h"
#include "platform/linux/FileDevice.h"
#include "platform/linux/LinuxDriveSystem.h"
#include "shell/Settings.h"
#include "shell/ui/OptionsAbout.h"
#include "shell/ui/ResultsWindow.h"

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

bool addImage(LinuxDriveSystem& drives, TForm1& form, const QString& path)
{
    const std::string local = QFile::encodeName(path).toStdString();
    if (openImageFile(local).get() < 0) {
        form.ShowInformation(path + QStringLiteral(": ") + text(form.texts(), lang::kDriveNotAnImage));
        return false;
    }
    if (drives.addImage(local).empty())
        return false;
    form.DeviceChange();
    return true;
}

} // namespace orv::ui
