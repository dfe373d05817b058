#include "window/picture1.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTouchEvent>

#include <cmath>

Picture1::Picture1(QWidget* parent)
    : QWidget(parent),
      image_(kSide, kSide, QImage::Format_RGB32),
      pixels_(reinterpret_cast<QRgb*>(image_.bits())) {
    setObjectName(QStringLiteral("Picture1"));
    setFixedSize(kSide, kSide);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_AcceptTouchEvents);
    // The image covers every pixel, so Qt need not clear behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    Cls();
}

void Picture1::Cls() {
    image_.fill(palette().color(QPalette::Base));
    repaintRequested_ = true;
    update();
}

void Picture1::paintEvent(QPaintEvent* /*event*/) {
    repaintRequested_ = false;
    QPainter painter(this);
    // No smoothing: at two device pixels per pixel each point is a 2 x 2 block.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(rect(), image_);
}

void Picture1::mousePressEvent(QMouseEvent* event) {
    buttonsDown_ |= event->button();
    emitMouseDown(*event);
}

void Picture1::mouseReleaseEvent(QMouseEvent* event) {
    buttonsDown_ &= ~event->button();
    event->accept();
}

void Picture1::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click reaches a widget either as this
    // event alone or as a press followed by this event. It is one press and
    // zooms once: only when its press has not been seen does this count.
    if (!buttonsDown_.testFlag(event->button())) {
        buttonsDown_ |= event->button();
        emitMouseDown(*event);
    }
    event->accept();
}

bool Picture1::event(QEvent* event) {
    // A touch that begins is a press of the left button where the finger is;
    // the rest of it, a swipe, more fingers or the lift, zooms no further.
    // Qt's own mouse press made from a touch would round the finger's place
    // to a whole pixel, which may be the neighbour of the one under it.
    switch (event->type()) {
    case QEvent::TouchBegin: {
        const auto& touch = static_cast<QTouchEvent&>(*event);
        emitMouseDown(Qt::LeftButton, touch.modifiers(), mapFromGlobal(touch.points().constFirst().globalPosition()));
        [[fallthrough]];
    }
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
        event->accept();
        return true;
    default:
        return QWidget::event(event);
    }
}

void Picture1::emitMouseDown(QMouseEvent& event) {
    event.accept();
    emitMouseDown(event.button(), event.modifiers(), event.position());
}

void Picture1::emitMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers keys, QPointF position) {
    // The handler's customary codes: 1 left, 2 right, 4 middle for the button
    // (Qt's own values agree), and 1 Shift, 2 Ctrl, 4 Alt for the keys.
    const int shift = (keys.testFlag(Qt::ShiftModifier) ? 1 : 0) | (keys.testFlag(Qt::ControlModifier) ? 2 : 0) |
                      (keys.testFlag(Qt::AltModifier) ? 4 : 0);
    const qreal ratio = devicePixelRatioF();
    emit MouseDown(static_cast<int>(button), shift, pointShownAt(position.x(), ratio),
                   pointShownAt(position.y(), ratio));
}

float Picture1::pointShownAt(qreal position, qreal ratio) {
    // X11 rounds a mouse's place to a whole pixel, which is then as near to
    // the pointer's point as anyone can tell.
    if (position == std::floor(position)) {
        return static_cast<float>(position);
    }
    // Windows gives it as the device pixel divided by the ratio, a hair off
    // at a ratio such as 1.5; a finger may be anywhere. The device pixel
    // under the position, then: where a pixel is drawn larger than one device
    // pixel, as on a scaled screen, a press anywhere on the device pixels
    // that show it is a press on that pixel. At a fractional ratio a device
    // pixel shows the grid point its middle lies in, the first of two when
    // the middle falls between them, as Qt scales an image without smoothing.
    const qreal device = std::floor(position * ratio + 1.0 / 64);
    return static_cast<float>(std::ceil((device + 0.5) / ratio) - 1);
}
