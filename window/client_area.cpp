#include "window/client_area.h"

#include <QEvent>
#include <QPainter>
#include <QPen>
#include <QRegion>

#include <algorithm>
#include <cmath>

namespace {

// Relative luminance and contrast ratio, as WCAG defines them.
double luminance(const QColor& colour) {
    const auto linear = [](float channel) {
        const double c = channel;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

double contrast(const QColor& one, const QColor& other) {
    const auto [darker, lighter] = std::minmax({luminance(one), luminance(other)});
    return (lighter + 0.05) / (darker + 0.05);
}

}  // namespace

ClientArea::ClientArea(QSize size, QWidget* parent) : QWidget(parent), printed_(new PrintedText(this)) {
    setObjectName(QStringLiteral("ClientArea"));
    setFixedSize(size);
}

void ClientArea::setFocusRingFor(QWidget* child) {
    ringed_ = child;
    // Focus changes reach the child, not its parent, which paints the ring.
    ringed_->installEventFilter(this);
    updateFocusRing();
}

QRect ClientArea::focusRingBounds() const {
    if (ringed_ == nullptr) {
        return {};
    }
    const int reach = kRingGap + kRingWidth;
    return ringed_->geometry().adjusted(-reach, -reach, reach, reach);
}

QColor ClientArea::focusRingColour() const {
    const QColor highlight = palette().color(QPalette::Highlight);
    return contrast(highlight, palette().color(QPalette::Window)) >= 3.0 ? highlight
                                                                        : palette().color(QPalette::WindowText);
}

void ClientArea::updateFocusRing() {
    // Only the band around the child: repainting the child itself would cost
    // a copy of the whole picture and show nothing new.
    update(QRegion(focusRingBounds()).subtracted(QRegion(ringed_->geometry())));
}

bool ClientArea::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ringed_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        updateFocusRing();
    }
    return QWidget::eventFilter(watched, event);
}

void ClientArea::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    printed_->paint(painter);
    if (ringed_ != nullptr && ringed_->hasFocus()) {
        // A square pen centred on a rectangle half a pen inside the band
        // fills exactly the band, at any device pixel ratio.
        const qreal inset = kRingWidth / 2.0;
        painter.setPen(QPen(focusRingColour(), kRingWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(focusRingBounds()).adjusted(inset, inset, -inset, -inset));
    }
}
