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
    explicit Picture1(QWidget* parent = nullptr);

    // Erases the picture to the background colour.
    void Cls();

    // Sets the pixel at (x, y) to `colour`; a point outside the drawing area
    // changes nothing.
    void PSet(float x, float y, setview::Colour colour);

    [[nodiscard]] const QImage& image() const { return image_; }

signals:
    // A mouse button went down over the picture: which button, which modifier
    // keys, and where, in logical pixels.
    void MouseDown(int Button, int Shift, float X, float Y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void emitMouseDown(QMouseEvent& event);

    QImage image_;
    Qt::MouseButtons buttonsDown_;
    bool repaintRequested_ = false;
};
