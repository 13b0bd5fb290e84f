#include "SkinWidgets.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QWindow>

namespace orv::ui {

QPixmap skinPicture(const QString& name, QSize size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/skin/%1.svg").arg(name));
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    return pixmap;
}

QFont skinFont(const QString& family, int pixelHeight, bool bold)
{
    QFont font(family);
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

ImageButton::ImageButton(SkinWindow* window, const QString& name, QRect geometry, const QPixmap& normal,
                         const QPixmap& hover)
    : QObject(window), m_window(window), m_a(new QLabel(window)), m_b(new QLabel(window))
{
    setObjectName(name);
    m_a->setObjectName(name + QLatin1Char('A'));
    m_b->setObjectName(name + QLatin1Char('B'));
    for (QLabel* picture : {m_a, m_b}) {
        picture->setGeometry(geometry);
        track(picture);
    }
    setPictures(normal, hover);
    m_b->hide();
}

void ImageButton::track(QWidget* part)
{
    part->setMouseTracking(true);
    part->setCursor(Qt::PointingHandCursor);
    part->installEventFilter(this);
}

QLabel* ImageButton::addCaption(QRect geometry, const QString& text, const QColor& colour, const QFont& font)
{
    m_label = new QLabel(text, m_window);
    m_label->setObjectName(objectName() + QStringLiteral("Label"));
    m_label->setGeometry(geometry);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setFont(font);
    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, colour);
    m_label->setPalette(palette);
    m_label->setAttribute(Qt::WA_TranslucentBackground);
    track(m_label);
    m_label->raise();
    return m_label;
}

void ImageButton::setPictures(const QPixmap& normal, const QPixmap& hover)
{
    m_a->setPixmap(normal);
    m_b->setPixmap(hover);
}

void ImageButton::setHint(const QString& hint)
{
    m_a->setToolTip(hint);
    m_b->setToolTip(hint);
}

void ImageButton::setEnabled(bool enabled)
{
    m_enabled = enabled;
    for (QLabel* part : {m_a, m_b, m_label})
        if (part)
            part->setEnabled(enabled);
    if (!enabled)
        reset();
}

void ImageButton::reset()
{
    if (!m_a->isVisibleTo(m_window)) {
        m_a->show();
        m_b->hide();
    }
}

void ImageButton::hover()
{
    if (m_b->isVisibleTo(m_window))
        return;
    m_window->resetButtons();
    m_b->show();
    m_a->hide();
    if (m_label)
        m_label->raise();
}

bool ImageButton::eventFilter(QObject* watched, QEvent* event)
{
    Q_UNUSED(watched);
    if (!m_enabled)
        return false;
    switch (event->type()) {
    case QEvent::MouseMove:
        hover();
        return false;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* part = static_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton && part->rect().contains(mouse->position().toPoint())) {
            emit clicked();
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

SkinWindow::SkinWindow(QWidget* parent, QSize clientSize, const QString& background)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_background(new QLabel(this))
{
    setFixedSize(clientSize);
    m_background->setObjectName(QStringLiteral("WndImage"));
    m_background->setGeometry(QRect(QPoint(0, 0), clientSize));
    m_background->setPixmap(skinPicture(background, clientSize));
    m_background->setMouseTracking(true);
    m_background->installEventFilter(this);
    setMouseTracking(true);
}

void SkinWindow::applyRoundedOutline()
{
    QPainterPath outline;
    outline.addRoundedRect(QRectF(1, 1, width() - 1, height() - 1), 2, 2);
    setMask(QRegion(outline.toFillPolygon().toPolygon()));
}

void SkinWindow::resetButtons()
{
    for (ImageButton* button : m_buttons)
        button->reset();
}

ImageButton* SkinWindow::addButton(const QString& name, QRect geometry, const QString& normalPicture,
                                   const QString& hoverPicture)
{
    auto* button = new ImageButton(this, name, geometry, skinPicture(normalPicture, geometry.size()),
                                   skinPicture(hoverPicture, geometry.size()));
    m_buttons.push_back(button);
    return button;
}

QLabel* SkinWindow::addLabel(const QString& name, QRect geometry, const QColor& colour, const QFont& font,
                             Qt::Alignment alignment)
{
    auto* label = new QLabel(this);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setFont(font);
    label->setAlignment(alignment);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TranslucentBackground);
    // Labels lie on the background: the pointer over them is the pointer over the background.
    label->setMouseTracking(true);
    label->installEventFilter(this);
    return label;
}

bool SkinWindow::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return false;
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (m_dragging && (mouse->buttons() & Qt::LeftButton)) {
            move(mouse->globalPosition().toPoint() - m_dragOffset);
            return true;
        }
        resetButtons();
        return false;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint point = widget->mapTo(this, mouse->position().toPoint());
        if (mouse->button() != Qt::LeftButton || !dragBandContains(point))
            return false;
        QWindow* handle = window()->windowHandle();
        if (handle && handle->startSystemMove())
            return true;
        m_dragging = true;
        m_dragOffset = mouse->globalPosition().toPoint() - pos();
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (m_dragging) {
            m_dragging = false;
            return true;
        }
        return false;
    default:
        return false;
    }
}

} // namespace orv::ui
