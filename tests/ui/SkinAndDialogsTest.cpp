// The skinned windows' hover, drag and outline rules, and the message dialogs.
#include <QCheckBox>
#include <QTest>

#include "shell/Settings.h"
#include "shell/ui/MessageDialogs.h"
#include "tests/ui/UiTestSupport.h"

using namespace orv;
using namespace orv::ui;
using namespace orv::ui::test;

class SkinAndDialogsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { setUpIconTheme(); }
    void hoverShowsOnePairAtATime();
    void dragBandMovesTheWindowOnlyInsideIt();
    void dialogsHaveARoundedOutline();
    void confirmationStartsAtNoOnEveryShow();
    void confirmationAnswersFromTheKeyboard();
    void noticeWritesShowNoteOnlyWhenTicked_data();
    void noticeWritesShowNoteOnlyWhenTicked();
    void noticePlacesItsBoxByLanguage_data();
    void noticePlacesItsBoxByLanguage();
};

void SkinAndDialogsTest::hoverShowsOnePairAtATime()
{
    SkinWindow window(nullptr, QSize(320, 190), QStringLiteral("dialog"));
    ImageButton* first =
        window.addButton(QStringLiteral("Button1"), QRect(20, 140, 93, 30), QStringLiteral("dialog_button_normal"),
                         QStringLiteral("dialog_button_hover"));
    ImageButton* second =
        window.addButton(QStringLiteral("Button2"), QRect(170, 140, 93, 30), QStringLiteral("dialog_button_normal"),
                         QStringLiteral("dialog_button_hover"));
    first->addCaption(QRect(20, 140, 93, 30), QStringLiteral("Yes"), Qt::white, window.font());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto pairIsExclusive = [](ImageButton* b) {
        return b->normalPicture()->isVisible() != b->hoverPicture()->isVisible();
    };

    // Over the caption label, the pair's hover picture shows.
    QTest::mouseMove(first->caption(), QPoint(5, 5));
    QTRY_VERIFY(first->isHovered());
    QVERIFY(!second->isHovered());
    // Straight onto the other button: only the second shows its hover picture.
    QTest::mouseMove(second->normalPicture(), QPoint(5, 5));
    QTRY_VERIFY(second->isHovered());
    QVERIFY(!first->isHovered());
    QVERIFY(pairIsExclusive(first) && pairIsExclusive(second));
    // Over the background everything is back to normal.
    QTest::mouseMove(window.background(), QPoint(5, 5));
    QTRY_VERIFY(!second->isHovered());

    // A disabled pair neither hovers nor clicks.
    int clicks = 0;
    connect(first, &ImageButton::clicked, this, [&clicks] { ++clicks; });
    first->setEnabled(false);
    QTest::mouseMove(first->normalPicture(), QPoint(6, 6));
    QTest::mouseClick(first->normalPicture(), Qt::LeftButton, {}, QPoint(6, 6));
    QVERIFY(!first->isHovered());
    QCOMPARE(clicks, 0);
    first->setEnabled(true);
    QTest::mouseClick(first->normalPicture(), Qt::LeftButton, {}, QPoint(6, 6));
    QCOMPARE(clicks, 1);
}

void SkinAndDialogsTest::dragBandMovesTheWindowOnlyInsideIt()
{
    SkinWindow window(nullptr, QSize(446, 360), QStringLiteral("main"));
    window.setDragBand([](QPoint p) { return p.y() < 30 && p.x() < 290; });
    window.move(100, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    struct DragCase
    {
        const char* what;
        QPoint press;
        bool moves;
    };
    const DragCase cases[] = {
        {"title band", {100, 10}, true},
        {"band right of the top buttons' left edge", {300, 10}, false},
        {"below the band", {100, 40}, false},
    };
    for (const DragCase& c : cases) {
        const QPoint before = window.pos();
        QWidget* under = window.background();
        QTest::mousePress(under, Qt::LeftButton, {}, c.press);
        QTest::mouseMove(under, c.press + QPoint(25, 15));
        QTest::mouseRelease(under, Qt::LeftButton, {}, c.press + QPoint(25, 15));
        QVERIFY2((window.pos() != before) == c.moves, c.what);
    }
}

void SkinAndDialogsTest::dialogsHaveARoundedOutline()
{
    LanguageCatalogue texts;
    InformationDialog dialog(texts);
    const QRegion outline = dialog.mask();
    QVERIFY(!outline.isEmpty());
    for (const QPoint hidden : {QPoint(0, 0), QPoint(0, 100), QPoint(150, 0), QPoint(1, 1), QPoint(319, 189)})
        QVERIFY2(!outline.contains(hidden), qPrintable(QStringLiteral("%1,%2").arg(hidden.x()).arg(hidden.y())));
    for (const QPoint shown : {QPoint(1, 100), QPoint(160, 1), QPoint(160, 95), QPoint(318, 100)})
        QVERIFY2(outline.contains(shown), qPrintable(QStringLiteral("%1,%2").arg(shown.x()).arg(shown.y())));
}

void SkinAndDialogsTest::confirmationStartsAtNoOnEveryShow()
{
    LanguageCatalogue texts;
    ConfirmationDialog dialog(texts);
    UserScript user;
    auto visible = [&dialog] { return dialog.isVisible(); };
    user.then(visible, [&] { clickButton(&dialog, "Button2A"); }); // No
    user.then(visible, [&] { clickButton(&dialog, "Button1A"); }); // Yes
    user.then(visible, [&] { dialog.close(); }); // closed otherwise
    QCOMPARE(dialog.ask(QStringLiteral("First?")), false);
    QCOMPARE(dialog.ask(QStringLiteral("Second?")), true);
    QCOMPARE(dialog.ask(QStringLiteral("Third?")), false);
    QCOMPARE(dialog.answer(), QStringLiteral("No"));
    QCOMPARE(dialog.infoLabel()->text(), QStringLiteral("Third?"));
}

void SkinAndDialogsTest::confirmationAnswersFromTheKeyboard()
{
    // Enter is Yes; Esc is No; Tab to No and Space is No; Space on Yes (the focus on opening) is Yes.
    LanguageCatalogue texts;
    ConfirmationDialog dialog(texts);
    UserScript user;
    const auto withFocus = [&dialog] { return dialog.isVisible() && QApplication::focusWidget(); };
    const auto key = [](int code) { QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(code)); };
    user.then(withFocus, [&] { key(Qt::Key_Return); });
    user.then(withFocus, [&] { key(Qt::Key_Escape); });
    user.then(withFocus, [&] {
        key(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->accessibleName(), QStringLiteral("No"));
        key(Qt::Key_Space);
    });
    user.then(withFocus, [&] { key(Qt::Key_Space); });
    // A question whose Yes cannot be undone (Wipe) holds the focus on No: Enter, Enter answers No.
    user.then(withFocus, [&] {
        QCOMPARE(QApplication::focusWidget()->accessibleName(), QStringLiteral("No"));
        key(Qt::Key_Return);
    });
    user.then(withFocus, [&] { key(Qt::Key_Return); });
    QCOMPARE(dialog.ask(QStringLiteral("Enter?")), true);
    QCOMPARE(dialog.ask(QStringLiteral("Esc?")), false);
    QCOMPARE(dialog.ask(QStringLiteral("No?")), false);
    QCOMPARE(dialog.ask(QStringLiteral("Space?")), true);
    QCOMPARE(dialog.ask(QStringLiteral("Wipe?"), ConfirmationDialog::Default::No), false);
    QCOMPARE(dialog.ask(QStringLiteral("Enter again?")), true); // the next question is Yes by default again
    QVERIFY(user.done());
}

void SkinAndDialogsTest::noticeWritesShowNoteOnlyWhenTicked_data()
{
    QTest::addColumn<int>("labelClicks");
    QTest::addColumn<bool>("written");
    QTest::newRow("left alone") << 0 << false;
    QTest::newRow("ticked by its text") << 1 << true;
    QTest::newRow("ticked and unticked") << 2 << false;
}

void SkinAndDialogsTest::noticeWritesShowNoteOnlyWhenTicked()
{
    QFETCH(int, labelClicks);
    QFETCH(bool, written);
    TestSystem system;
    LanguageCatalogue texts;
    bool showNote = true;
    ImportantNotice notice(texts, 1, system.settings, showNote);
    UserScript user;
    user.then([&] { return notice.isVisible(); },
              [&] {
                  for (int i = 0; i < labelClicks; ++i)
                      click(notice.checkLabel());
                  clickButton(&notice, "Button1A");
              });
    notice.exec();
    QVERIFY(user.done());
    QCOMPARE(showNote, !written);
    const auto stored = system.settings.readValue(RegistryRoot::CurrentUser, kSettingsKey, setting::kShowNote);
    QCOMPARE(stored.has_value(), written);
    if (written)
        QVERIFY(!ReadSettingBool(system.settings, RegistryRoot::CurrentUser, kSettingsKey, setting::kShowNote));
}

void SkinAndDialogsTest::noticePlacesItsBoxByLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("boxLeft");
    QTest::newRow("English") << 1 << 80;
    QTest::newRow("Spanish") << 4 << 110;
    QTest::newRow("Russian") << 6 << 70;
}

void SkinAndDialogsTest::noticePlacesItsBoxByLanguage()
{
    QFETCH(int, language);
    QFETCH(int, boxLeft);
    TestSystem system;
    LanguageCatalogue texts;
    bool showNote = true;
    ImportantNotice notice(texts, language, system.settings, showNote);
    QCOMPARE(notice.checkBox()->x(), boxLeft);
    QCOMPARE(notice.checkLabel()->x(), boxLeft + 25);
}

QTEST_MAIN(SkinAndDialogsTest)
#include "SkinAndDialogsTest.moc"
