#pragma once

#include <QPushButton>
#include <QString>
#include <QWidget>

#include <functional>

#include "setview/random_source.h"
#include "setview/view_state.h"
#include "window/client_area.h"
#include "window/picture1.h"

// The program's one window. Its public fields are the view state (wid, hei,
// di, dj, zoomx1 ... f); its handlers run to their end, drawing included,
// before Qt delivers the next event, so presses made meanwhile wait their turn.
// The controls and the printed text sit on a client area of fixed layout in a
// scroll area, so that a window forced smaller keeps all of them in reach.
class Form1 : public QWidget, public setview::ViewState {
    Q_OBJECT

    // First, because the controls below are built on it.
    ClientArea* const clientArea_;

public:
    // Seconds since midnight; tests pass a fixed clock to get fixed colours.
    using Clock = std::function<float()>;

    explicit Form1(Clock timer = systemTimer, QWidget* parent = nullptr);

    ::Picture1* const Picture1;
    QPushButton* const Command1;

    // Where the next Print begins, in pixels of the client area.
    float CurrentX = 0;
    float CurrentY = 0;

    // Start-up: show the window, seed the colours, draw the whole set.
    void Form_Load();

    void ResetView();
    void RenderSet();

    // Erases what was printed on the window; the controls keep their images.
    void Cls();

    enum class LineEnd { Stay, Break };
    void Print(const QString& text, LineEnd end = LineEnd::Break);

    void Show();

    static float systemTimer();

    // The text printed since the last Cls, line by line, for whoever cannot
    // see it.
    [[nodiscard]] QString printedText() const;

public slots:
    void Command1_Click();
    void Picture1_MouseDown(int Button, int Shift, float X, float Y);

signals:
    // A drawing has finished and its prompt is printed.
    void drawingFinished();

private:
    void Randomize(float seed);

    Clock timer_;
    setview::RandomSource random_;
};
