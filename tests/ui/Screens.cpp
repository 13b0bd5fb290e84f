// Draws the desktop program's windows into PNG files, in their real states (idle, scanning, each
// dialog), for a look at their layout in any language: screens OUTDIR LANGUAGE IMAGE.
#include <QApplication>
#include <QFile>

#include "UiTestSupport.h"

using namespace orv;
using namespace orv::ui;
using namespace orv::ui::test;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fputs("usage: screens OUTDIR LANGUAGE IMAGE\n", stderr);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int language = QString::fromLocal8Bit(argv[2]).toInt();
    TestSystem system({QStringLiteral("E: ") + QString::fromLocal8Bit(argv[3])}, language);
    for (const char* file : {"English.ini", "German.ini", "French.ini", "Spanish.ini", "Italian.ini", "Russian.ini",
                             "Portuguese.ini"})
        QFile::copy(QStringLiteral(ORV_RESOURCES_DIR "/") + QLatin1String(file), system.folder.filePath(QLatin1String(file)));
    Program program(system.services());
    TForm1& form = *program.form1;
    form.setPumpInterval(std::chrono::milliseconds(0));
    form.setResultsWindow([](ScanSession&) {});
    form.show();
    QApplication::processEvents();
    auto save = [&out](QWidget* window, const QString& name) { window->grab().save(out + QLatin1Char('/') + name + QStringLiteral(".png")); };
    save(&form, QStringLiteral("main-idle"));

    UserScript user;
    user.then([&form] { return form.session().ScanRunning; }, [&] {
        save(&form, QStringLiteral("main-scanning"));
        click(form.FindButton()->normalPicture());
    });
    user.then([] { return modal("TForm6b") != nullptr; }, [&] {
        save(modal("TForm6b"), QStringLiteral("confirmation"));
        clickButton(modal("TForm6b"), "Button2A");
    });
    form.ModeBox()->setCurrentIndex(1);
    click(form.FindButton()->normalPicture());

    user.then([] { return modal("TForm6a") != nullptr; }, [&] {
        save(modal("TForm6a"), QStringLiteral("information"));
        clickButton(modal("TForm6a"), "Button1A");
    });
    click(form.TopButton(2)->normalPicture());

    bool showNote = true;
    ImportantNotice notice(form.texts(), language, system.settings, showNote);
    user.then([&notice] { return notice.isVisible(); }, [&] {
        click(notice.checkLabel());
        save(&notice, QStringLiteral("notice"));
        notice.close();
    });
    notice.exec();
    return 0;
}
