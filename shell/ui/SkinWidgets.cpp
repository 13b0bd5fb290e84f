#include "shell/ui/SkinWidgets.h"

#include "shell/ui/Accessibility.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QSvgRenderer>
#include <QWindow>
#include <QtMath>

#include <algorithm>

namespace orv::ui {

QPixmap skinPicture(const QString& name, QSize size)
{
    const qreal ratio = std::max<qreal>(1.0, qApp ? qApp->devicePixelRatio() : 1.0);
    QPixmap pixmap(QSize(qCeil(size.width() * ratio), qCeil(size.height() * ratio)));
    pixmap.setDevicePixelRatio(ratio);
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

namespace {

const char* const kBasePixelSize = "orvBasePixelSize";
const char* const kFullText = "orvFullText";
const char* const kFittedPixelSize = "orvFittedPixelSize";
const QColor kFocusMark(0xB0, 0xCB, 0xFB);

bool fitsInto(const QLabel* label, const QFont& font, const QString& text)
{
    const QFontMetrics metrics(font);
    const QRect box = label->contentsRect();
    if (label->wordWrap()) {
        const QRect needed = metrics.boundingRect(QRect(0, 0, box.width(), 1 << 20),
                                                  Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text);
        return needed.width() <= box.width() && needed.height() <= box.height();
    }
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines)
        if (metrics.horizontalAdvance(line) > box.width())
            return false;
    return static_cast<int>(lines.size()) * metrics.height() <= box.height() || lines.size() == 1;
}

// The text cut at a word (wrapped labels) or a character, with "…" at the end, so that it fits.
QString cutToFit(const QLabel* label, const QFont& font, const QString& text)
{
    const QString ellipsis(QChar(0x2026));
    if (!label->wordWrap()) {
        const QFontMetrics metrics(font);
        return metrics.elidedText(text.section(QLatin1Char('\n'), 0, 0), Qt::ElideRight, label->contentsRect().width());
    }
    QString shown = text;
    while (!shown.isEmpty() && !fitsInto(label, font, shown + ellipsis)) {
        const qsizetype space = shown.lastIndexOf(QLatin1Char(' '));
        shown.truncate(space > 0 ? space : shown.size() - 1);
    }
    return shown + ellipsis;
}

} // namespace

KeyPlate::KeyPlate(QWidget* window, const QString& name, QRect geometry) : QAbstractButton(window)
{
    setObjectName(name);
    setGeometry(geometry);
    // The pictures below keep the mouse: hover and clicks work as before.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::TabFocus);
    raise();
}

void KeyPlate::describe(const QString& name, const QString& description)
{
    setText(spokenText(name));
    setAccessibleName(spokenText(name));
    setAccessibleDescription(spokenText(description.isEmpty() ? name : description));
    setToolTip(QString());
}

void KeyPlate::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    if (!hasFocus())
        return;
    // The mark follows the skin's rounded plates, in the captions' light blue.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kFocusMark, 1.5, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5), 4, 4);
}

void KeyPlate::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void fitComboBox(QComboBox* box, int smallestPixelSize)
{
    QStyleOptionComboBox option;
    option.initFrom(box);
    const int field =
        box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box).width();
    const auto widest = [box](const QFont& font) {
        const QFontMetrics metrics(font);
        int width = 0;
        for (int i = 0; i < box->count(); ++i)
            width = std::max(width, metrics.horizontalAdvance(box->itemText(i)));
        return width;
    };
    QFont font = box->font();
    box->view()->setMinimumWidth(0);
    if (widest(font) > field) {
        font.setPixelSize(QFontInfo(font).pixelSize());
        while (font.pixelSize() > smallestPixelSize && widest(font) > field)
            font.setPixelSize(font.pixelSize() - 1);
        box->setFont(font);
    }
    // Still too wide at the smallest type: the list opens as wide as its longest entry, so every
    // entry reads whole there, and the box's tooltip gives the whole text of the one it shows.
    const int needed = widest(font);
    if (needed > field)
        box->view()->setMinimumWidth(needed + box->width() - field);
    const auto showWhole = [box, field](int) {
        const bool cut = box->fontMetrics().horizontalAdvance(box->currentText()) > field;
        box->setToolTip(cut ? box->currentText() : QString());
    };
    if (!box->property("orvWholeTextTip").toBool()) {
        box->setProperty("orvWholeTextTip", true);
        QObject::connect(box, &QComboBox::currentIndexChanged, box, showWhole);
    }
    showWhole(box->currentIndex());
}

QString fullText(const QLabel* label)
{
    const QVariant full = label->property(kFullText);
    return full.isValid() ? full.toString() : label->text();
}

void setFittedText(QLabel* label, const QString& text, int smallestPixelSize)
{
    label->setProperty(kFullText, QVariant());
    label->setText(text);
    fitLabel(label, smallestPixelSize);
}

void fitLabel(QLabel* label, int smallestPixelSize)
{
    const QString text = fullText(label);
    QFont font = label->font();
    // The size the label was given, unless the font is still the one an earlier fit chose; a font
    // set since then (a window's own smaller type) is the new starting point.
    const int current = QFontInfo(font).pixelSize();
    const QVariant fitted = label->property(kFittedPixelSize);
    QVariant base = label->property(kBasePixelSize);
    if (!base.isValid() || !fitted.isValid() || fitted.toInt() != current)
        base = current;
    label->setProperty(kBasePixelSize, base);
    label->setProperty(kFittedPixelSize, base);
    const bool hadCut = label->property(kFullText).isValid();
    if (hadCut) {
        label->setProperty(kFullText, QVariant());
        label->setToolTip(QString());
        label->setText(text);
    }
    font.setPixelSize(base.toInt());
    if (text.isEmpty() || !label->pixmap().isNull() || fitsInto(label, font, text)) {
        if (current != base.toInt())
            label->setFont(font);
        return;
    }
    while (font.pixelSize() > smallestPixelSize && !fitsInto(label, font, text))
        font.setPixelSize(font.pixelSize() - 1);
    label->setFont(font);
    label->setProperty(kFittedPixelSize, QFontInfo(font).pixelSize());
    if (fitsInto(label, font, text))
        return;
    label->setText(cutToFit(label, font, text));
    label->setProperty(kFullText, text);
    label->setToolTip(text);
}

ImageButton::ImageButton(SkinWindow* window, const QString& name, QRect geometry, const QPixmap& normal,
                         const QPixmap& hover)
    : QObject(window), m_window(window), m_a(new QLabel(window)), m_b(new QLabel(window)),
      m_plate(new KeyPlate(window, name + QStringLiteral("Key"), geometry))
{
    setObjectName(name);
    m_a->setObjectName(name + QLatin1Char('A'));
    m_b->setObjectName(name + QLatin1Char('B'));
    for (QLabel* picture : {m_a, m_b}) {
        picture->setGeometry(geometry);
        track(picture);
        // The key plate is the button for assistive technology; its pictures only draw it.
        hideFromAssistiveTechnology(picture);
    }
    setPictures(normal, hover);
    m_b->hide();
    connect(m_plate, &QAbstractButton::clicked, this, [this] {
        if (m_enabled)
            emit clicked();
    });
}

void ImageButton::describe()
{
    const QString caption = m_label ? fullText(m_label) : QString();
    if (caption.isEmpty())
        m_plate->describe(m_hint, m_hint);
    else
        m_plate->describe(caption, m_hint);
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
    hideFromAssistiveTechnology(m_label);
    track(m_label);
    m_label->raise();
    m_plate->raise();
    describe();
    return m_label;
}

void ImageButton::setCaptionText(const QString& text)
{
    if (!m_label)
        return;
    setFittedText(m_label, text);
    describe();
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
    m_hint = hint;
    describe();
}

void ImageButton::setEnabled(bool enabled)
{
    m_enabled = enabled;
    for (QLabel* part : {m_a, m_b, m_label})
        if (part)
            part->setEnabled(enabled);
    m_plate->setEnabled(enabled);
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
    case QEvent::MouseMove: hover(); return false;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* part = static_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton && part->rect().contains(mouse->position().toPoint())) {
            emit clicked();
            return true;
        }
        return false;
    }
    default: return false;
    }
}

SkinWindow::SkinWindow(QWidget* parent, QSize clientSize, const QString& background)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_background(new QLabel(this))
{
    installAccessibility();
    setFixedSize(clientSize);
    m_background->setObjectName(QStringLiteral("WndImage"));
    hideFromAssistiveTechnology(m_background);
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

void SkinWindow::fitTexts()
{
    for (QLabel* label : findChildren<QLabel*>())
        if (!fullText(label).isEmpty())
            fitLabel(label);
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
    default: return false;
    }
}

} // namespace orv::ui
