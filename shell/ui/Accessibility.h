#pragma once

#include <QAccessible>
#include <QString>

class QWidget;

namespace orv::ui {

// What assistive technology sees of the skinned windows. Qt shows a frameless window as a plain
// "filler", every picture of a picture button beside the button itself, and a drop-down list
// under the entry it shows instead of its name; these interfaces show the windows as frames,
// dialogs and alerts, leave out the pictures that only draw a control, and name every control by
// its caption.

// Installs the program's interfaces; later calls do nothing. Every skinned window calls it.
void installAccessibility();

// A text as a screen reader should say it: no soft hyphens (a break hint for the eye), and line
// breaks read as spaces.
QString spokenText(const QString& text);

// The widget only draws part of another control (a button's pictures and caption, a window's
// background): it is left out of the tree, so each control is there once.
void hideFromAssistiveTechnology(QWidget* widget);

// The role the widget is shown with, for a window (frame, dialog, alert) or a picture that stands
// for a control (a progress bar drawn as a picture grows as the scan goes).
void setAccessibleRole(QWidget* widget, QAccessible::Role role);

// The window's description (a message dialog's text) changed: a screen reader that holds the old
// one is told, since one dialog shows message after message.
void descriptionChanged(QWidget* window);

// The role of the program's main windows: shown to screen readers as frames.
inline constexpr QAccessible::Role kMainWindowRole = QAccessible::Window;

} // namespace orv::ui
