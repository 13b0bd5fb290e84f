#include "shell/ui/Accessibility.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>

#include <algorithm>

#include "shell/ui/MessageDialogs.h"
#include "shell/ui/SkinWidgets.h"

namespace orv::ui {

namespace {

const char* const kHidden = "orvAccessibleHidden";
const char* const kRole = "orvAccessibleRole";

bool hidden(const QWidget* widget)
{
    return widget->property(kHidden).toBool();
}

// The child widgets a screen reader is shown: not windows of their own, not pictures that only
// draw a control.
QList<QWidget*> shownChildren(const QWidget* parent)
{
    QList<QWidget*> shown;
    for (QObject* object : parent->children())
        if (auto* widget = qobject_cast<QWidget*>(object); widget && !widget->isWindow() && !hidden(widget))
            shown.append(widget);
    return shown;
}

// A skinned window: a frame, a dialog or an alert, named by its title; a message window's text is
// its description, so it is read when the window opens.
class WindowInterface final : public QAccessibleWidget
{
public:
    explicit WindowInterface(QWidget* window) : QAccessibleWidget(window) {}

    // Asked anew each time: a window's interface may be made while the window is still being built,
    // before its own constructor gave it its role.
    QAccessible::Role role() const override
    {
        const QVariant role = widget()->property(kRole);
        if (role.isValid())
            return static_cast<QAccessible::Role>(role.toInt());
        // A skinned dialog asks or tells something; the other skinned windows are main windows.
        return qobject_cast<const SkinDialog*>(widget()) ? QAccessible::Dialog : kMainWindowRole;
    }

    QString text(QAccessible::Text kind) const override
    {
        switch (kind) {
        case QAccessible::Name: return spokenText(widget()->windowTitle());
        case QAccessible::Description:
            if (const auto* message = qobject_cast<const MessageDialog*>(widget()))
                return spokenText(fullText(message->infoLabel()));
            return {};
        default: return QAccessibleWidget::text(kind);
        }
    }
    int childCount() const override { return static_cast<int>(shownChildren(widget()).size()); }
    QAccessibleInterface* child(int index) const override
    {
        const QList<QWidget*> children = shownChildren(widget());
        return index >= 0 && index < children.size() ? QAccessible::queryAccessibleInterface(children.at(index))
                                                     : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child ? static_cast<int>(shownChildren(widget()).indexOf(qobject_cast<QWidget*>(child->object()))) : -1;
    }
};

// A drop-down list named by its caption, with the entry it shows as its value. (Qt on Linux names
// it by the entry and leaves the caption to a label relation that not every reader follows.)
class ComboInterface final : public QAccessibleWidget
{
public:
    explicit ComboInterface(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
    QString text(QAccessible::Text kind) const override
    {
        switch (kind) {
        case QAccessible::Name:
            return box()->accessibleName().isEmpty() ? box()->currentText() : spokenText(box()->accessibleName());
        case QAccessible::Value: return box()->currentText();
        default: return QAccessibleWidget::text(kind);
        }
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = box()->view()->isVisible();
        return state;
    }
    // The opened list, with its entries.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == box()->view() ? 0 : -1;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& action) override
    {
        if (action == showMenuAction() || action == pressAction())
            box()->showPopup();
    }
};

// A picture that stands for a control, named by its accessible name: the main window's progress
// bar (its value the share of the bar drawn), a preview, the scanning animation.
class PictureInterface final : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    PictureInterface(QLabel* label, QAccessible::Role role) : QAccessibleWidget(label, role) {}

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface && role() == QAccessible::ProgressBar)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    int percent() const
    {
        const auto* label = static_cast<const QLabel*>(widget());
        const qreal whole = label->pixmap().deviceIndependentSize().width();
        return whole > 0 ? std::clamp(qRound(label->width() * 100 / whole), 0, 100) : 0;
    }
    QVariant currentValue() const override { return percent(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name)
            return spokenText(widget()->accessibleName());
        if (kind == QAccessible::Value && role() == QAccessible::ProgressBar)
            return QString::number(percent()) + QLatin1Char('%');
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* programInterfaces(const QString& className, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    // Only for the object's own class, the first one asked: its base classes keep Qt's answers.
    if (!widget || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    const QVariant role = widget->property(kRole);
    if (qobject_cast<SkinWindow*>(widget))
        return new WindowInterface(widget);
    if (auto* box = qobject_cast<QComboBox*>(widget); box && className == QLatin1String("QComboBox"))
        return new ComboInterface(box);
    if (auto* label = qobject_cast<QLabel*>(widget); label && role.isValid())
        return new PictureInterface(label, static_cast<QAccessible::Role>(role.toInt()));
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(programInterfaces);
}

QString spokenText(const QString& text)
{
    QString spoken = text;
    spoken.remove(QChar(0x00AD));
    spoken.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return spoken.simplified();
}

void descriptionChanged(QWidget* window)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(window, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

void hideFromAssistiveTechnology(QWidget* widget)
{
    widget->setProperty(kHidden, true);
}

void setAccessibleRole(QWidget* widget, QAccessible::Role role)
{
    widget->setProperty(kRole, static_cast<int>(role));
    // An interface made before (a screen reader listening while the window is built) was Qt's own:
    // the next one asked for is made with the role.
    if (!qobject_cast<SkinWindow*>(widget) && QAccessible::isActive())
        if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace orv::ui
