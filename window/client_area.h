#pragma once

#include <QColor>
#include <QRect>
#include <QSize>
#include <QWidget>

#include "window/printed_text.h"

// Form1's client area: the fixed layout that the window's scroll area shows.
// Print writes on it, and while the drawing area has the keyboard focus it
// draws a focus ring just outside that area, so the picture's own pixels stay
// untouched.
class ClientArea : public QWidget {
    Q_OBJECT

public:
    explicit ClientArea(QSize size, QWidget* parent = nullptr);

    [[nodiscard]] PrintedText* printedText() const { return printed_; }

    // The child that gets the ring while it has the focus; set once.
    void setFocusRingFor(QWidget* child);

    // The band the ring occupies, in pixels of the client area; empty without
    // a child to ring.
    [[nodiscard]] QRect focusRingBounds() const;

    // The palette's highlight, as the system's own controls show focus; where
    // a theme's highlight hardly stands out from the window, as some dark
    // themes' do, the window's text colour instead: the ring must show at
    // 3:1 at least, as WCAG asks of a focus indicator.
    [[nodiscard]] QColor focusRingColour() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Room between the ring and the ringed child, and the ring's width, in
    // pixels: the ring must clear the button and the prompt.
    static constexpr int kRingGap = 2;
    static constexpr int kRingWidth = 2;

    void updateFocusRing();

    PrintedText* const printed_;
    QWidget* ringed_ = nullptr;
};
