#include "window/printed_text.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QPainter>
#include <QWidget>

#include <algorithm>

PrintedText::PrintedText(QWidget* surface) : QObject(surface), surface_(surface) {
    setObjectName(QStringLiteral("PrintedText"));
}

void PrintedText::add(const Piece& piece) {
    if (std::find(pieces_.begin(), pieces_.end(), piece) != pieces_.end()) {
        return;
    }
    pieces_.push_back(piece);
    surface_->update();
}

void PrintedText::clear() {
    if (!pieces_.empty()) {
        pieces_.clear();
        surface_->update();
    }
}

QString PrintedText::text() const {
    QString text;
    for (const Piece& piece : pieces_) {
        text += piece.text;
    }
    return text;
}

QRect PrintedText::rect() const {
    const QFontMetricsF metrics(surface_->font());
    QRectF covered;
    for (const Piece& piece : pieces_) {
        covered |= QRectF(piece.topLeft, QSizeF(metrics.horizontalAdvance(piece.text), metrics.height()));
    }
    return covered.toAlignedRect();
}

void PrintedText::paint(QPainter& painter) const {
    painter.setPen(surface_->palette().color(QPalette::WindowText));
    painter.setFont(surface_->font());
    const qreal ascent = QFontMetricsF(surface_->font()).ascent();
    for (const Piece& piece : pieces_) {
        painter.drawText(piece.topLeft + QPointF(0, ascent), piece.text);
    }
}

void PrintedText::announce() {
    // Qt 6.4 has no announcement event on Linux: it drops QAccessible::Alert,
    // and its name and description changes carry the object instead of the
    // new text, which Orca 43 then refuses to speak ("bad content"), even for
    // the object with the focus. What Orca does speak, whatever has the focus,
    // is a notification that becomes showing: "notification Select
    // interesting area and CLICK *". So each finished drawing sends exactly
    // that, and nothing else: the handler that erases the prompt prints it
    // again before it returns, so no screen reader ever sees it change.
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}
