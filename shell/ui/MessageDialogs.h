#pragma once

#include <QCheckBox>
#include <QEventLoop>

#include <QPointer>
#include <array>
#include <vector>

#include "shell/LanguageCatalogue.h"
#include "shell/ui/SkinWidgets.h"

namespace orv {
class SettingsBackend;
}

namespace orv::ui {

// The colour of the dialogs' messages and of the labels beside their controls.
inline const QColor kDialogTextColour(0x9E, 0xCD, 0xFF);

// A skinned window shown modally: it holds the caller until it closes, whatever closes it.
class SkinDialog : public SkinWindow
{
    Q_OBJECT
public:
    SkinDialog(QSize clientSize, const QString& background);
    // Shown centred on the given window, or on the screen when there is none.
    void setCentreOn(QWidget* window) { m_centreOn = window; }
    void exec();
    // The button Enter presses when the focus is on no other button (Yes, Close, Continue, Save);
    // it holds the focus when the dialog opens. Esc always closes, which answers "No".
    void setDefaultButton(ImageButton* button) { m_default = button; }
    ImageButton* defaultButton() const { return m_default; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

    // The title in the top band, in white.
    QLabel* addTitle(const QString& title, QRect geometry);
    // A 93 x 30 button with its caption in white.
    ImageButton* addDialogButton(const QString& name, QPoint at, const QString& caption, const QFont& font);

private:
    void placeCentred();

    QEventLoop* m_loop = nullptr;
    QPointer<QWidget> m_centreOn;
    ImageButton* m_default = nullptr;
};

// The dialogs' common parts: the title, the message and the place of their drag band.
class MessageDialog : public SkinDialog
{
    Q_OBJECT
public:
    MessageDialog(QSize clientSize, const QString& background, const QString& title, QRect infoGeometry);
    QLabel* infoLabel() const { return m_info; }

private:
    QLabel* m_info;
};

// TForm6a: a message with a Close button.
class InformationDialog final : public MessageDialog
{
    Q_OBJECT
public:
    explicit InformationDialog(const LanguageCatalogue& texts);
    void showMessage(const QString& text);
};

// TForm6b: a question with Yes and No. The answer starts as "No" on every show, so only a press
// on Yes makes it "Yes".
class ConfirmationDialog final : public MessageDialog
{
    Q_OBJECT
public:
    explicit ConfirmationDialog(const LanguageCatalogue& texts);
    // Enter answers with the default button: Yes, or No for a question whose Yes cannot be undone.
    enum class Default { Yes, No };
    bool ask(const QString& question, Default answer = Default::Yes);
    QString answer() const { return m_answer; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString m_answer = QStringLiteral("No");
    ImageButton* m_yes;
    ImageButton* m_no;
};

// TForm6c, the notice before a restore. Continue with the box ticked turns the notice off for
// good: "ShowNote" is written false.
class ImportantNotice final : public MessageDialog
{
    Q_OBJECT
public:
    ImportantNotice(const LanguageCatalogue& texts, std::int32_t languageIndex, SettingsBackend& settings,
                    bool& showNote);
    QCheckBox* checkBox() const { return m_check; }
    QLabel* checkLabel() const { return m_checkLabel; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QCheckBox* m_check;
    QLabel* m_checkLabel;
};

QString text(const LanguageCatalogue& texts, const LanguageText& entry);

// What a system error number means for the user, in the catalogue's language ("the disk is full").
QString causeText(const LanguageCatalogue& texts, int error);

// Why a mask that is not well formed cannot be used, in the catalogue's language; empty for a
// well-formed mask.
QString maskFaultText(const LanguageCatalogue& texts, std::u16string_view mask);

// The row of five small buttons at the right end of a main window's top band (Options, Help,
// About, Minimise, Close) with their hints; `lefts` are their left edges.
std::vector<ImageButton*> addTopButtons(SkinWindow& window, const std::array<int, 5>& lefts,
                                        const LanguageCatalogue& texts);

} // namespace orv::ui
