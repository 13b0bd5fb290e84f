// Draws the desktop program's windows into PNG files, in their real states (idle, scanning, each
// dialog), for a look at their layout in any language: screens OUTDIR LANGUAGE IMAGE.
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QTableView>
#include <QTreeWidget>

#include "results/FileSystem.h"
#include "scan/FindChecks.h"
#include "shell/ui/OptionsAbout.h"
#include "shell/ui/ResultsWindow.h"

#include "tests/ui/UiTestSupport.h"

using namespace orv;
using namespace orv::ui;
using namespace orv::ui::test;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    setUpIconTheme();
    if (argc < 4) {
        std::fputs("usage: screens OUTDIR LANGUAGE IMAGE\n", stderr);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int language = QString::fromLocal8Bit(argv[2]).toInt();
    TestSystem system({QStringLiteral("E: ") + QString::fromLocal8Bit(argv[3])}, language);
    for (const char* file :
         {"English.ini", "German.ini", "French.ini", "Spanish.ini", "Italian.ini", "Russian.ini", "Portuguese.ini"})
        QFile::copy(QStringLiteral(ORV_RESOURCES_DIR "/") + QLatin1String(file), qPath(system.folder / file));
    Program program(system.services());
    TForm1& form = *program.form1;
    form.setPumpInterval(std::chrono::milliseconds(0));
    form.setResultsWindow([](ScanSession&) {});
    form.show();
    QApplication::processEvents();
    auto save = [&out](QWidget* window, const QString& name) {
        window->grab().save(out + QLatin1Char('/') + name + QStringLiteral(".png"));
    };
    save(&form, QStringLiteral("main-idle"));

    UserScript user;
    user.then([&form] { return form.session().ScanRunning; },
              [&] {
                  save(&form, QStringLiteral("main-scanning"));
                  click(form.FindButton()->normalPicture());
              });
    user.then([] { return modal("TForm6b") != nullptr; },
              [&] {
                  save(modal("TForm6b"), QStringLiteral("confirmation"));
                  clickButton(modal("TForm6b"), "Button2A");
              });
    form.ModeBox()->setCurrentIndex(1);
    click(form.FindButton()->normalPicture());

    user.then([] { return modal("TForm6a") != nullptr; },
              [&] {
                  save(modal("TForm6a"), QStringLiteral("information"));
                  clickButton(modal("TForm6a"), "Button1A");
              });
    click(form.TopButton(2)->normalPicture());

    bool showNote = true;
    ImportantNotice notice(form.texts(), language, system.settings, showNote);
    user.then([&notice] { return notice.isVisible(); },
              [&] {
                  click(notice.checkLabel());
                  save(&notice, QStringLiteral("notice"));
                  notice.close();
              });
    notice.exec();

    // The results window over the image scanned as drive E:, showing its first folder that holds
    // a photo, with that photo as the current row; then Options and About.
    ScanSession session;
    bool restoring = false;
    if (RunFindChecks(session, system.drives, "E:", u"", 10).check == FindCheck::Ok) {
        PrepareScan(session, u"");
        // As the main window's Find names the folders of shadow copies: in the chosen language.
        session.ShadowCopyFolder = text(form.texts(), lang::kFileShadowCopy).toStdU16String();
        session.FoundByContentFolder = text(form.texts(), lang::kFileFoundByContent).toStdU16String();
        GuiPump pump(std::chrono::milliseconds(0));
        ScanProgress progress;
        // "whole" after the image: the whole-disc scan, which also lists the files found by content.
        if (argc > 4 && QString::fromLocal8Bit(argv[4]) == QStringLiteral("whole"))
            fileSystemOf(session).extendedScan(session, pump, progress, std::uint64_t{1} << 30,
                                               ExtendedReach::WholeVolume);
        else
            fileSystemOf(session).normalScan(session, pump, progress, std::uint64_t{1} << 30);
        TForm2 results(ResultsServices{.session = session,
                                       .texts = form.texts(),
                                       // Only the restore below is drawn with its message.
                                       .inform =
                                           [&form, &restoring](const QString& message) {
                                               if (restoring)
                                                   form.ShowInformation(message);
                                           },
                                       .ask = [](const QString&) { return true; },
                                       .showNote = [] { return false; },
                                       .restoreFolder = [&out] { return std::filesystem::path(out.toStdString()); },
                                       .osMajorVersion = 10,
                                       .mountPoint = [](const std::string&) { return std::filesystem::path(); },
                                       .languageIndex = language});
        results.ShowForm();
        results.show();
        results.FindEdit()->setText(QStringLiteral("*.jpg"));
        results.FindButtonClick();
        FileListModel* model = results.model();
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->fileName(row).endsWith(QStringLiteral(".jpg"), Qt::CaseInsensitive)) {
                results.FList()->selectRow(row);
                break;
            }
        QApplication::processEvents();
        save(&results, QStringLiteral("results"));

        // A restore that cannot give a file back says why: an empty file of the folder shown, if
        // it holds one (the root of ntfs-c4096 does).
        results.FindEdit()->clear();
        int empty = -1;
        for (int row = 0; row < model->rowCount() && empty < 0; ++row)
            if (!model->fileName(row).isEmpty() && model->fileSize(row) == 0)
                empty = row;
        if (empty >= 0) {
            results.FList()->selectRow(empty);
            user.then([] { return modal("TForm6a") != nullptr; },
                      [&] {
                          save(modal("TForm6a"), QStringLiteral("restore-refused"));
                          clickButton(modal("TForm6a"), "Button1A");
                      });
            restoring = true;
            results.Button1Click();
            restoring = false;
        }
    }
    // Qt's own folder picker, as Options opens it, in the chosen language.
    QFileDialog picker(nullptr, QStringLiteral("Options"), QStringLiteral("/tmp"));
    picker.setOption(QFileDialog::DontUseNativeDialog);
    picker.setFileMode(QFileDialog::Directory);
    picker.show();
    QApplication::processEvents();
    save(&picker, QStringLiteral("folder-picker"));
    std::string restoreFolder = "/home/user/Desktop/Restored Files";
    TForm3 options(form.texts(), language, system.settings, restoreFolder);
    options.show();
    QApplication::processEvents();
    save(&options, QStringLiteral("options"));
    TForm5a about(form.texts(), {});
    about.show();
    QApplication::processEvents();
    save(&about, QStringLiteral("about"));
    return 0;
}
