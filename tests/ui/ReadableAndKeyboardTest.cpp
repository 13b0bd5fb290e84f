// Every window in every language, read as a user and driven as a keyboard user: no text that
// does not fit its place, every control with a name and a role for assistive technology, a whole
// restore done with Tab, Space and Enter, and Esc that never throws the results away.
#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QSet>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

#include "scan/FindChecks.h"
#include "scan/NormalScan.h"
#include "shell/ui/OptionsAbout.h"
#include "shell/ui/ResultsWindow.h"
#include "tests/ui/UiTestSupport.h"

using namespace orv;
using namespace orv::ui;
using namespace orv::ui::test;

namespace {

const char* const kLanguageFiles[] = {"English.ini", "German.ini",  "French.ini",    "Spanish.ini",
                                      "Italian.ini", "Russian.ini", "Portuguese.ini"};

QString demoImage()
{
    return QStringLiteral(ORV_FIXTURES_DIR "/demo.img");
}

// A program started in one language over a copy of the demo volume as drive E:.
struct Started
{
    TestSystem system;
    std::unique_ptr<Program> program;

    explicit Started(int language, std::function<void(TForm1&)> beforeShow = {})
        : system({QStringLiteral("E: ") + qPath(std::filesystem::path(ORV_FIXTURES_DIR) / "demo.img")}, language)
    {
        for (const char* file : kLanguageFiles)
            QFile::copy(QStringLiteral(ORV_RESOURCES_DIR "/") + QLatin1String(file), qPath(system.folder / file));
        program = std::make_unique<Program>(system.services());
        form().setPumpInterval(std::chrono::milliseconds(0));
        if (beforeShow)
            beforeShow(form());
        form().show();
    }
    TForm1& form() { return *program->form1; }
};

// What does not fit in one window, one line per fault: a label whose text runs past its box or
// past the window, a label cut short where cutting is no answer, a list heading wider than its
// column, a choice wider than its box.
QStringList unreadable(QWidget* window)
{
    QStringList faults;
    const QString where = window->objectName() + QLatin1Char('.');
    for (QLabel* label : window->findChildren<QLabel*>()) {
        const QString text = label->text();
        if (text.isEmpty() || !label->isVisibleTo(window) || !label->pixmap().isNull())
            continue;
        const QFontMetrics metrics(label->font());
        const QRect box = label->contentsRect();
        bool fits = true;
        if (label->wordWrap()) {
            const QRect needed = metrics.boundingRect(QRect(0, 0, box.width(), 1 << 20), Qt::TextWordWrap, text);
            fits = needed.width() <= box.width() && needed.height() <= box.height();
        } else {
            const QStringList lines = text.split(QLatin1Char('\n'));
            for (const QString& line : lines)
                fits = fits && metrics.horizontalAdvance(line) <= box.width();
            fits = fits && (lines.size() == 1 || lines.size() * metrics.height() <= box.height());
        }
        if (!fits)
            faults << where + label->objectName() + QStringLiteral(" does not fit: ") + text;
        if (!window->rect().contains(QRect(label->mapTo(window, QPoint(0, 0)), label->size())))
            faults << where + label->objectName() + QStringLiteral(" runs past the window: ") + text;
        // A text on a panel of the window's picture stays on it, and no two texts touch.
        const QRect placed(label->mapTo(window, QPoint(0, 0)), label->size());
        if (auto* skin = qobject_cast<SkinWindow*>(window))
            for (const QRect& panel : skin->panels())
                if (panel.intersects(placed) && !panel.contains(placed))
                    faults << where + label->objectName() + QStringLiteral(" sticks out of its panel: ") + text;
        for (QLabel* other : window->findChildren<QLabel*>())
            if (other != label && other->parentWidget() == label->parentWidget() && !other->text().isEmpty() &&
                other->isVisibleTo(window) && other->pixmap().isNull() &&
                other->geometry().intersects(label->geometry()) && label->objectName() < other->objectName())
                faults << where + label->objectName() + QStringLiteral(" runs into ") + other->objectName();
        // Only a file's name may be cut (it can be of any length); its tooltip then holds it whole.
        if (!label->toolTip().isEmpty() && label->objectName() != QLatin1String("Label1b"))
            faults << where + label->objectName() + QStringLiteral(" is cut: ") + label->toolTip();
    }
    for (QHeaderView* header : window->findChildren<QHeaderView*>()) {
        if (header->orientation() != Qt::Horizontal || !header->isVisibleTo(window))
            continue;
        const QFontMetrics metrics(header->font());
        // The header draws a heading inside its margins.
        const int margins = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        for (int section = 0; section < header->count(); ++section) {
            const QString heading = header->model()->headerData(section, Qt::Horizontal).toString();
            if (metrics.horizontalAdvance(heading) + margins > header->sectionSize(section))
                faults << where + QStringLiteral("heading does not fit: ") + heading;
        }
    }
    for (QComboBox* box : window->findChildren<QComboBox*>()) {
        if (box->objectName() == QLatin1String("MaskBox"))
            continue; // shows only its arrow by design; its list is wide enough
        QStyleOptionComboBox option;
        option.initFrom(box);
        const QRect field =
            box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
        // An entry wider than the box must read whole in the opened list, and in the box's
        // tooltip while it is the one shown.
        const int list = std::max(field.width(), box->view()->minimumWidth() - (box->width() - field.width()));
        for (int i = 0; i < box->count(); ++i) {
            const int advance = box->fontMetrics().horizontalAdvance(box->itemText(i));
            // The mode is read in its box, whichever is chosen ("Erweitert (ganzer Datenträger)").
            if (box->objectName() == QLatin1String("ModeBox") && advance > field.width())
                faults << where + QStringLiteral("mode cut in its box: ") + box->itemText(i);
            if (advance > list)
                faults << where + box->objectName() + QStringLiteral(" entry does not fit: ") + box->itemText(i);
            else if (advance > field.width() && i == box->currentIndex() && box->toolTip() != box->itemText(i))
                faults << where + box->objectName() + QStringLiteral(" shown entry cut without its tooltip: ") +
                        box->itemText(i);
        }
    }
    return faults;
}

// Every control a user can reach has a name and a role for assistive technology.
QStringList unnamed(QWidget* window)
{
    QStringList faults;
    for (QWidget* control : window->findChildren<QWidget*>()) {
        if (!(control->focusPolicy() & Qt::TabFocus) || !control->isVisibleTo(window))
            continue;
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(control);
        const QString what = window->objectName() + QLatin1Char('.') + control->objectName() + QLatin1Char(' ') +
            QLatin1String(control->metaObject()->className());
        if (!access) {
            faults << what + QStringLiteral(": no accessible interface");
            continue;
        }
        if (access->text(QAccessible::Name).trimmed().isEmpty())
            faults << what + QStringLiteral(": no name");
        const QAccessible::Role role = access->role();
        if (role == QAccessible::NoRole || role == QAccessible::Client || role == QAccessible::Pane)
            faults << what + QStringLiteral(": no role");
    }
    // Every picture button can be reached: each has its keyboard plate with a description.
    if (auto* skin = qobject_cast<SkinWindow*>(window))
        for (ImageButton* button : skin->buttons())
            if (button->keyPlate()->accessibleDescription().isEmpty())
                faults << window->objectName() + QLatin1Char('.') + button->objectName() +
                        QStringLiteral(": no description");
    return faults;
}

// What a screen reader finds in a window through the accessibility tree: the window with its role
// (a frame, a dialog, an alert whose description is its message), every control once and named,
// the drop-down lists named by their captions with the entry shown as their value, and no soft
// hyphen in any name.
QStringList unspoken(QWidget* window, QAccessible::Role role)
{
    QStringList faults;
    const QString where = window->objectName() + QLatin1Char('.');
    QAccessibleInterface* top = QAccessible::queryAccessibleInterface(window);
    if (!top)
        return {where + QStringLiteral(" no accessible interface")};
    if (top->role() != role)
        faults << where + QStringLiteral(" role %1, not %2").arg(top->role()).arg(role);
    if (top->text(QAccessible::Name).isEmpty())
        faults << where + QStringLiteral(" no name");
    if (auto* message = qobject_cast<MessageDialog*>(window);
        message && top->text(QAccessible::Description) != fullText(message->infoLabel()).simplified())
        faults << where + QStringLiteral(" description is not its message: ") + top->text(QAccessible::Description);
    const QSet<QAccessible::Role> controls{QAccessible::PushButton,  QAccessible::ComboBox, QAccessible::EditableText,
                                           QAccessible::CheckBox,    QAccessible::Tree,     QAccessible::Table,
                                           QAccessible::ProgressBar, QAccessible::Splitter, QAccessible::Animation};
    QList<QAccessibleInterface*> nodes;
    std::function<void(QAccessibleInterface*)> collect = [&](QAccessibleInterface* node) {
        for (int i = 0; i < node->childCount(); ++i)
            if (QAccessibleInterface* child = node->child(i); child && child->object() &&
                child->object()->isWidgetType() && static_cast<QWidget*>(child->object())->window() == window) {
                nodes << child;
                collect(child);
            }
    };
    collect(top);
    QList<QRect> buttons;
    for (QAccessibleInterface* node : nodes) {
        const QString name = node->text(QAccessible::Name);
        const QString what = where + node->object()->objectName() + QLatin1Char(' ');
        if (name.contains(QChar(0x00AD)))
            faults << what + QStringLiteral("soft hyphen in: ") + name;
        if (controls.contains(node->role()) && name.trimmed().isEmpty())
            faults << what + QStringLiteral("no name");
        if (node->role() == QAccessible::PushButton)
            buttons << node->rect();
        if (auto* box = qobject_cast<QComboBox*>(node->object())) {
            if (name != box->accessibleName())
                faults << what + QStringLiteral("named by its entry: ") + name;
            if (node->text(QAccessible::Value) != box->currentText())
                faults << what + QStringLiteral("value is not its entry");
        }
    }
    // A button is there once: nothing else lies on it (its pictures, its caption).
    for (QAccessibleInterface* node : nodes)
        for (const QRect& button : buttons)
            if (node->role() != QAccessible::PushButton && !node->rect().isEmpty() && button.contains(node->rect()))
                faults << where + node->object()->objectName() + QStringLiteral(" lies on a button");
    return faults;
}

QWidget* focused()
{
    return QApplication::focusWidget();
}

void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* target = focused();
    QVERIFY2(target, "no widget has the focus");
    QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
}

// Tab until `target` has the focus, at most `limit` times; false when it never comes.
bool tabTo(QWidget* target, int limit = 20)
{
    for (int i = 0; i < limit && focused() != target; ++i)
        QTest::keyClick(focused(), Qt::Key_Tab);
    return focused() == target;
}

// A modal dialog of that name, shown and holding the focus.
std::function<bool()> dialogWithFocus(const char* name)
{
    return [name] {
        QWidget* dialog = modal(name);
        return dialog && focused() && focused()->window() == dialog;
    };
}

} // namespace

class ReadableAndKeyboardTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { setUpIconTheme(); }
    void everyWindowReadsWholeInEveryLanguage_data();
    void everyWindowReadsWholeInEveryLanguage();
    void keyboardAloneRestoresFiles();
    void escapeKeepsTheResults();
};

void ReadableAndKeyboardTest::everyWindowReadsWholeInEveryLanguage_data()
{
    QTest::addColumn<int>("language");
    for (int language = 1; language <= 7; ++language)
        QTest::newRow(kLanguageFiles[language - 1]) << language;
}

void ReadableAndKeyboardTest::everyWindowReadsWholeInEveryLanguage()
{
    QFETCH(int, language);
    if (!QFile::exists(demoImage()))
        QSKIP("fixture images are not unpacked");
    Started app(language, [](TForm1& form) { form.setResultsWindow([](ScanSession&) {}); });
    TForm1& form = app.form();
    const LanguageCatalogue& texts = form.texts();
    // Qt's own dialogs (the folder picker of Options) speak the chosen language too.
    const QString lookIn = QCoreApplication::translate("QFileDialog", "Look in:");
    QVERIFY2((lookIn == QLatin1String("Look in:")) == (language == 1), qPrintable(lookIn));
    QStringList faults = unreadable(&form) + unnamed(&form) + unspoken(&form, QAccessible::Window);

    // Scanning (the step text, Stop), then the Stop question, answered No.
    UserScript user;
    user.then([&form] { return form.session().ScanRunning; },
              [&] {
                  faults << unreadable(&form);
                  click(form.FindButton()->normalPicture());
              });
    user.then([] { return modal("TForm6b") != nullptr; },
              [&] {
                  faults << unreadable(modal("TForm6b")) << unnamed(modal("TForm6b"))
                         << unspoken(modal("TForm6b"), QAccessible::Dialog);
                  clickButton(modal("TForm6b"), "Button2A");
              });
    click(form.FindButton()->normalPicture());
    QVERIFY(user.done());

    // Every message and question the program can show, and the longest end of a restore.
    const LanguageText* messages[] = {
        &lang::kDriveMessage3,   &lang::kDriveMessage5,        &lang::kDriveMessage8,  &lang::kDriveMessage9,
        &lang::kProcessNotFound, &lang::kMessagesHelpNotFound, &lang::kFileMessage2,   &lang::kFileMessage6,
        &lang::kFileMessage11,   &lang::kFileMessage13,        &lang::kFileMessage16,  &lang::kVistaMessage3,
        &lang::kMaskUnclosed,    &lang::kMaskEmptySet,         &lang::kMaskRangeStart, &lang::kMaskRangeBackwards};
    QStringList shown;
    for (const LanguageText* message : messages)
        shown << text(texts, *message);
    shown << text(texts, lang::kVistaMessage1) + QLatin1Char('\r') + text(texts, lang::kVistaMessage2);
    shown << text(texts, lang::kFileMask) + QStringLiteral(": [ab\r") + text(texts, lang::kMaskUnclosed);
    shown << QStringLiteral("12 ") + text(texts, lang::kFileMessage14);
    shown << QStringLiteral("12 ") + text(texts, lang::kFileMessage10);
    shown << QStringLiteral("2 ") + text(texts, lang::kRestoredWhole) + QLatin1Char('\n') +
            text(texts, lang::kRestoredStopped) + QStringLiteral(" holiday-video.mp4\n") +
            text(texts, lang::kRestoredDamaged) + QStringLiteral(" report.doc, sunset.jpg");
    for (const QString& message : shown) {
        user.then([] { return modal("TForm6a") != nullptr; },
                  [&] {
                      faults << unreadable(modal("TForm6a")) << unspoken(modal("TForm6a"), QAccessible::AlertMessage);
                      clickButton(modal("TForm6a"), "Button1A");
                  });
        form.ShowInformation(message);
    }
    for (const LanguageText* question :
         {&lang::kProcessMessage2, &lang::kProcessMessage4, &lang::kFileMessage7, &lang::kFileMessage9}) {
        user.then([] { return modal("TForm6b") != nullptr; },
                  [&] {
                      faults << unreadable(modal("TForm6b"));
                      clickButton(modal("TForm6b"), "Button2A");
                  });
        form.AskConfirmation(text(texts, *question));
    }
    QVERIFY(user.done());

    bool showNote = true;
    ImportantNotice notice(texts, language, app.system.settings, showNote);
    user.then([&notice] { return notice.isVisible(); },
              [&] {
                  faults << unreadable(&notice) << unnamed(&notice) << unspoken(&notice, QAccessible::Dialog);
                  notice.close();
              });
    notice.exec();
    std::string restoreFolder = "/home/user/Desktop/Restored Files";
    TForm3 options(texts, language, app.system.settings, restoreFolder);
    options.show();
    TForm5a about(texts, {});
    about.show();
    faults << unreadable(&options) << unnamed(&options) << unreadable(&about) << unnamed(&about)
           << unspoken(&options, QAccessible::Dialog) << unspoken(&about, QAccessible::Dialog);

    // The results window with the information panel filled by a photo of the demo volume.
    ScanSession session;
    QCOMPARE(RunFindChecks(session, app.system.drives, "E:", u"", 10).check, FindCheck::Ok);
    PrepareScan(session, u"");
    GuiPump pump(std::chrono::milliseconds(0));
    ScanProgress progress;
    NTFSFind1(session, pump, progress, std::uint64_t{1} << 30);
    TForm2 results(ResultsServices{.session = session,
                                   .texts = texts,
                                   .showNote = [] { return false; },
                                   .restoreFolder = [] { return std::filesystem::path("/tmp"); },
                                   .osMajorVersion = 10,
                                   .mountPoint = [](const std::string&) { return std::filesystem::path(); },
                                   .languageIndex = language});
    results.ShowForm();
    results.show();
    results.FindEdit()->setText(QStringLiteral("*.jpg"));
    results.FindButtonClick();
    QVERIFY(results.model()->rowCount() > 0);
    results.FList()->selectRow(0);
    QVERIFY(!results.Label3b()->text().isEmpty());
    faults << unreadable(&results) << unnamed(&results) << unspoken(&results, QAccessible::Window);

    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void ReadableAndKeyboardTest::keyboardAloneRestoresFiles()
{
    if (!QFile::exists(demoImage()))
        QSKIP("fixture images are not unpacked");
    // The program's own windows and dialogs, only the desktop's folder opening left out.
    Started app(1, [](TForm1& form) {
        form.setResultsWindow([&form](ScanSession& session) {
            TForm2 window(ResultsServices{
                .session = session,
                .texts = form.texts(),
                .inform = [&form](const QString& message) { form.ShowInformation(message); },
                .ask = [&form](const QString& question) { return form.AskConfirmation(question); },
                .importantNotice =
                    [&form] {
                        ImportantNotice notice(form.texts(), 1, form.settingsBackend(), form.showNote());
                        notice.exec();
                    },
                .showNote = [&form] { return form.showNote(); },
                .restoreFolder = [&form] { return std::filesystem::path(form.restoreFolder()); },
                .osMajorVersion = 10,
                .openUrl = [](const QUrl&) {},
                .mountPoint = [](const std::string&) { return std::filesystem::path(); },
            });
            window.run();
        });
    });
    TForm1& form = app.form();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(focused(), form.DriveBox());
    QStringList faults = unnamed(&form);

    QString finalMessage;
    QStringList restoredNames;
    TForm2* results = nullptr;
    UserScript user;
    // The results window opens with the focus in the folder tree: down to Documents, over to the
    // list, everything selected with Ctrl+A, then Restore.
    user.then([] { return modal("TForm2") && focused() && focused()->window() == modal("TForm2"); },
              [&] {
                  results = static_cast<TForm2*>(modal("TForm2"));
                  faults << unnamed(results);
                  QCOMPARE(focused(), results->DList());
                  for (int i = 0; i < 6 &&
                       (!results->DList()->currentItem() ||
                        results->DList()->currentItem()->text(0) != QLatin1String("Documents"));
                       ++i)
                      press(Qt::Key_Down);
                  QCOMPARE(results->DList()->currentItem()->text(0), QStringLiteral("Documents"));
                  for (int row = 0; row < results->model()->rowCount(); ++row)
                      restoredNames << results->model()->fileName(row);
                  QVERIFY(restoredNames.size() >= 2);
                  press(Qt::Key_Tab);
                  QCOMPARE(focused(), results->FList());
                  press(Qt::Key_A, Qt::ControlModifier);
                  QCOMPARE(results->selectedCount(), restoredNames.size());
                  // Deselect all and Select all from the keyboard too.
                  QVERIFY(tabTo(results->findChild<QWidget*>(QStringLiteral("DeSelectLabelKey"))));
                  press(Qt::Key_Space);
                  QCOMPARE(results->selectedCount(), 0);
                  // Like a click, the link leaves the focus in the list it changed.
                  QCOMPARE(focused(), results->FList());
                  QVERIFY(tabTo(results->findChild<QWidget*>(QStringLiteral("SelectLabelKey"))));
                  press(Qt::Key_Space);
                  QCOMPARE(results->selectedCount(), restoredNames.size());
                  QVERIFY(tabTo(results->RestoreButton()->keyPlate()));
                  press(Qt::Key_Space);
              });
    // The notice: Enter is Continue. The question: Enter is Yes. The end: Enter closes it.
    user.then(dialogWithFocus("TForm6c"), [&] {
        faults << unnamed(modal("TForm6c"));
        press(Qt::Key_Return);
    });
    user.then(dialogWithFocus("TForm6b"), [&] {
        // The question says where the files go.
        QCOMPARE(infoText(modal("TForm6b")),
                 QStringLiteral("Restore selected files?\nThey will be saved in: ") +
                     QString::fromStdString(form.restoreFolder()));
        press(Qt::Key_Enter);
    });
    user.then(dialogWithFocus("TForm6a"), [&] {
        finalMessage = infoText(modal("TForm6a"));
        press(Qt::Key_Space);
    });
    // Back in the results window: Esc changes nothing, Close (reached by Tab) ends it.
    user.then([&] { return results && modal("TForm2") == results; },
              [&] {
                  // A window manager gives the window back its activation when the message closes.
                  results->activateWindow();
                  QVERIFY(QTest::qWaitForWindowActive(results));
                  QVERIFY(focused() && focused()->window() == results);
                  press(Qt::Key_Escape);
                  QVERIFY(results->isVisible());
                  QVERIFY(tabTo(results->CloseButton()->keyPlate()));
                  press(Qt::Key_Return);
              });

    // From the drive list to Find: the choices first, then the button.
    QVERIFY(tabTo(form.FindButton()->keyPlate(), 4));
    press(Qt::Key_Space);
    QVERIFY(user.done());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    QCOMPARE(finalMessage, QString::number(restoredNames.size()) + QStringLiteral(" file(s) restored!"));
    const std::filesystem::path folder = form.restoreFolder();
    for (const QString& name : restoredNames)
        QVERIFY2(std::filesystem::is_regular_file(folder / name.toStdString()), qPrintable(name));
    QVERIFY(form.isVisible());
}

void ReadableAndKeyboardTest::escapeKeepsTheResults()
{
    if (!QFile::exists(demoImage()))
        QSKIP("fixture images are not unpacked");
    Started app(1, [](TForm1& form) { form.setResultsWindow([](ScanSession&) {}); });
    ScanSession session;
    QCOMPARE(RunFindChecks(session, app.system.drives, "E:", u"", 10).check, FindCheck::Ok);
    PrepareScan(session, u"");
    GuiPump pump(std::chrono::milliseconds(0));
    ScanProgress progress;
    NTFSFind1(session, pump, progress, std::uint64_t{1} << 30);
    const std::size_t found = session.store.entryCount();
    QVERIFY(found > 0);
    TForm2 results(ResultsServices{.session = session, .texts = app.form().texts()});
    results.ShowForm();
    results.show();
    QVERIFY(QTest::qWaitForWindowActive(&results));
    results.FindEdit()->setText(QStringLiteral("*.jpg"));
    results.FindButtonClick();
    // From the tree, the list and the search field alike.
    for (QWidget* place : std::initializer_list<QWidget*>{results.DList(), results.FList(), results.FindEdit()}) {
        place->setFocus();
        QTest::keyClick(place, Qt::Key_Escape);
        QVERIFY(results.isVisible());
        QCOMPARE(session.store.entryCount(), found);
        QVERIFY(results.model()->rowCount() > 0);
    }
}

QTEST_MAIN(ReadableAndKeyboardTest)
#include "ReadableAndKeyboardTest.moc"
