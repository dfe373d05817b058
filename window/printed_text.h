#pragma once

#include <QObject>
#include <QPointF>
#include <QRect>
#include <QString>

#include <vector>

class QPainter;
class QWidget;

// What Print has written on the window since the last Cls: pieces of text at
// their places on the surface that shows them. It is an object of its own so
// that screen readers find the prompt as an entry of its own, next to the
// picture and the button, and hear it each time a drawing finishes.
class PrintedText : public QObject {
    Q_OBJECT

public:
    struct Piece {
        QPointF topLeft;  // in pixels of the surface
        QString text;
        bool operator==(const Piece&) const = default;
    };

    // The text is shown on `surface`, which also owns it.
    explicit PrintedText(QWidget* surface);

    // The prompt is printed over its own earlier copy after every "new"; an
    // identical piece on top of another changes nothing on screen, so it is
    // kept once rather than piling up for as long as the window lives.
    void add(const Piece& piece);
    void clear();

    // The pieces in the order they were printed, run together.
    [[nodiscard]] QString text() const;

    // What the pieces cover, in pixels of the surface.
    [[nodiscard]] QRect rect() const;

    [[nodiscard]] QWidget* surface() const { return surface_; }

    void paint(QPainter& painter) const;

    // Tells screen readers that a drawing has finished and what the window
    // now says.
    void announce();

private:
    QWidget* const surface_;
    std::vector<Piece> pieces_;
};
