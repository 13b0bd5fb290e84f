#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QWidget>

#include <functional>
#include <vector>

namespace orv::ui {

// A picture of the skin, drawn from the program's own resources at exactly the given size, with
// as many pixels as the screen gives that size (twice as many each way at a scale factor of 2), so
// the vector pictures stay sharp instead of being blown up.
QPixmap skinPicture(const QString& name, QSize size);

class SkinWindow;

// The keyboard's way to a control drawn as pictures: it lies over the pictures without taking
// the mouse from them, takes the focus in the Tab order, shows a focus mark in the skin's colours,
// runs the control on Space and Enter, and tells assistive technology the control's name and
// what it does.
class KeyPlate final : public QAbstractButton
{
    Q_OBJECT
public:
    KeyPlate(QWidget* window, const QString& name, QRect geometry);
    // The name a screen reader says, and the longer description (the hint) when there is one.
    void describe(const QString& name, const QString& description);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// Makes a label's text readable in its rectangle, measured with the label's font: a text that
// does not fit is drawn smaller, down to `smallestPixelSize`, and if it still does not fit it is
// cut at the end with "…" and the whole text goes into the label's tooltip. A text that fits is
// left exactly as it is. The label's first font stays the starting point for every later text.
void fitLabel(QLabel* label, int smallestPixelSize = 9);
// setText followed by fitLabel, for texts that change while the window is open.
void setFittedText(QLabel* label, const QString& text, int smallestPixelSize = 9);
// A drop-down list whose entries are wider than its field is drawn in smaller type, down to
// `smallestPixelSize`, so the chosen entry reads whole; one whose entries fit keeps its font. An
// entry too wide even then reads whole in the opened list and, while shown, in the tooltip.
void fitComboBox(QComboBox* box, int smallestPixelSize = 9);
// The whole text of a fitted label, also when it shows only its start.
QString fullText(const QLabel* label);

// The program's push button: a normal picture (A), a hover picture (B) in the same place, and an
// optional caption label centred on them. Exactly one of the two pictures is visible. All parts
// share one click and one hover handler; a disabled button reacts to neither.
class ImageButton : public QObject
{
    Q_OBJECT
public:
    ImageButton(SkinWindow* window, const QString& name, QRect geometry, const QPixmap& normal, const QPixmap& hover);

    QLabel* normalPicture() const { return m_a; }
    QLabel* hoverPicture() const { return m_b; }
    QLabel* caption() const { return m_label; }
    KeyPlate* keyPlate() const { return m_plate; }

    // Adds the caption label at its own place (window coordinates).
    QLabel* addCaption(QRect geometry, const QString& text, const QColor& colour, const QFont& font);
    void setPictures(const QPixmap& normal, const QPixmap& hover);
    void setHint(const QString& hint);
    // A new caption, fitted to its label; the name assistive technology reads follows it.
    void setCaptionText(const QString& text);
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    bool isHovered() const { return m_b->isVisible(); }
    // Back to the normal picture when the hover picture shows.
    void reset();

signals:
    void clicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void hover();
    void track(QWidget* part);
    void describe();

    SkinWindow* m_window;
    QLabel* m_a;
    QLabel* m_b;
    QLabel* m_label = nullptr;
    KeyPlate* m_plate;
    QString m_hint;
    bool m_enabled = true;
};

// A borderless window drawn from a background picture. The pointer over the background puts every
// button back to its normal picture; a press in the drag band moves the window. Dialogs get a
// rounded outline that hides column 0 and row 0.
class SkinWindow : public QWidget
{
    Q_OBJECT
public:
    SkinWindow(QWidget* parent, QSize clientSize, const QString& background);

    QLabel* background() const { return m_background; }
    const std::vector<ImageButton*>& buttons() const { return m_buttons; }

    // The band that drags the window, as a test on a point in window coordinates.
    void setDragBand(std::function<bool(QPoint)> contains) { m_dragBand = std::move(contains); }
    bool dragBandContains(QPoint point) const { return m_dragBand && m_dragBand(point); }

    // The outline of the dialogs: the picture's area from (1, 1) with corners rounded by 4 pixels.
    void applyRoundedOutline();

    // Every button back to normal, in the order they were made.
    void resetButtons();

    // Fits every label of the window that shows a text (see fitLabel).
    void fitTexts();

    // The panels the window's picture draws (window coordinates): a label that overlaps one lies
    // wholly inside it.
    void setPanels(std::vector<QRect> panels) { m_panels = std::move(panels); }
    const std::vector<QRect>& panels() const { return m_panels; }

    ImageButton* addButton(const QString& name, QRect geometry, const QString& normalPicture,
                           const QString& hoverPicture);

    // A label in the skin's manner: transparent, its font and colour given.
    QLabel* addLabel(const QString& name, QRect geometry, const QColor& colour, const QFont& font,
                     Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class ImageButton;

    QLabel* m_background;
    std::vector<ImageButton*> m_buttons;
    std::function<bool(QPoint)> m_dragBand;
    std::vector<QRect> m_panels;
    // Moving by hand when the window system cannot move the window itself (no window manager).
    bool m_dragging = false;
    QPoint m_dragOffset;
};

// Fonts of the skin: Arial and Verdana by name, with the system's fallback when they are missing.
QFont skinFont(const QString& family, int pixelHeight, bool bold);

} // namespace orv::ui
