#pragma once

#include <QImage>
#include <QWidget>

#include "setview/colour.h"

// The drawing area. It keeps the picture as an image of logical pixels, which
// outlives covering, minimising and repainting, and scales it to the screen
// without smoothing, so every grid point stays one crisp block of its colour.
class Picture1 : public QWidget {
    Q_OBJECT

public:
    // Width and height of the drawing area, in pixels.
    static constexpr int kSide = 500;

    explicit Picture1(QWidget* parent = nullptr);

    // Erases the picture to the background colour.
    void Cls();

    // Sets the pixel at (x, y) to `colour`; a point outside the drawing area
    // changes nothing. Inline and cheap: a drawing sets a quarter of a
    // million pixels.
    void PSet(float x, float y, setview::Colour colour) {
        // Written so that NaN fails the test too. Truncation is the floor
        // for the non-negative values that pass.
        if (!(x >= 0.0F && x < static_cast<float>(kSide) && y >= 0.0F && y < static_cast<float>(kSide))) {
            return;
        }
        pixels_[static_cast<qsizetype>(y) * kSide + static_cast<qsizetype>(x)] =
            qRgb(setview::redOf(colour), setview::greenOf(colour), setview::blueOf(colour));
        // One repaint request per frame: asking for every pixel would cost
        // more than setting it.
        if (!repaintRequested_) {
            repaintRequested_ = true;
            update();
        }
    }

signals:
    // A mouse button went down over the picture: which button, which modifier
    // keys, and where, in logical pixels.
    void MouseDown(int Button, int Shift, float X, float Y);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void emitMouseDown(QMouseEvent& event);
    void emitMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers keys, QPointF position);
    // The grid point, along one axis, that the screen shows at a position
    // of the widget drawn at that device pixel ratio.
    static float pointShownAt(qreal position, qreal ratio);

    // The image is never shared, so its pixels stay where bits() put them.
    QImage image_;
    QRgb* pixels_;  // kSide per line: 32-bit pixels need no padding
    Qt::MouseButtons buttonsDown_;
    bool repaintRequested_ = false;
};
