#include "window/form1.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QScrollArea>
#include <QTime>
#include <QVBoxLayout>

#include <exception>

#include "setview/colour.h"
#include "setview/escape_counts.h"
#include "window/accessibility.h"

namespace {

// The layout, in logical pixels of the client area. It never follows the
// window's size: a window forced smaller scrolls it instead.
constexpr QPoint kPictureAt{56, 64};
constexpr QRect kButtonGeometry{576, 544, 57, 17};
constexpr float kPromptX = 55;
constexpr float kPromptY = 580;
// Wide enough for the button's right edge (633), tall enough for the prompt.
constexpr QSize kClientSize{650, 610};

}  // namespace

Form1::Form1(Clock timer, QWidget* parent)
    : QWidget(parent),
      clientArea_(new ClientArea(kClientSize)),
      Picture1(new ::Picture1(clientArea_)),
      Command1(new QPushButton(QStringLiteral("new"), clientArea_)),
      timer_(std::move(timer)) {
    // Before a screen reader asks about the window or the picture: Qt keeps
    // its first answer for each object.
    installAccessibleInterfaces();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(kClientSize);

    // Scroll bars appear only when a window manager forces the window below
    // the layout's size; without a frame the client area's origin is the
    // window's, so every control sits where it always has.
    auto* const scrollArea = new QScrollArea(this);
    scrollArea->setFrameShape(QFrame::NoFrame);
    // Tab goes from the picture to "new" and back, never to the scroll area;
    // moving the focus to a control scrolls that control into view.
    scrollArea->setFocusPolicy(Qt::NoFocus);
    scrollArea->setWidget(clientArea_);
    auto* const layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollArea);

    Picture1->move(kPictureAt);
    Picture1->setAccessibleName(tr("Mandelbrot set"));
    Picture1->setAccessibleDescription(
        tr("Picture of the Mandelbrot set. Press a mouse button on it to zoom in ten times about that point."));

    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(kButtonGeometry);
    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    Command1->setAccessibleName(tr("new"));
    Command1->setAccessibleDescription(tr("Start over from the whole set in new colours."));

    setTabOrder(Picture1, Command1);
    Picture1->setFocus();
    clientArea_->setFocusRingFor(Picture1);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Picture1, &::Picture1::MouseDown, this, &Form1::Picture1_MouseDown);
}

float Form1::systemTimer() { return static_cast<float>(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0F; }

void Form1::Form_Load() {
    Show();
    Randomize(timer_());
    Cls();
    wid = 500;
    hei = 500;
    ResetView();
    RenderSet();
}

void Form1::Command1_Click() {
    Picture1->Cls();
    ResetView();
    RenderSet();
}

void Form1::Picture1_MouseDown(int /*Button*/, int /*Shift*/, float X, float Y) {
    if (!setview::zoomAt(*this, X, Y)) {
        // One more press would overflow the scales; the picture already shows
        // the deepest view there is.
        QApplication::beep();
        return;
    }
    Cls();
    RenderSet();
}

void Form1::ResetView() { setview::resetView(*this, random_); }

void Form1::RenderSet() {
    // Whatever goes wrong in a drawing, the drawing goes on to its end and
    // the prompt is printed: the user can always press again.
    try {
        const setview::CountGrid grid = setview::escapeCounts(*this);
        const setview::ColourTable colours = setview::colourTable(*this);
        for (int x = 0; x < grid.columns; ++x) {
            for (int y = 0; y < grid.rows; ++y) {
                Picture1->PSet(static_cast<float>(x), static_cast<float>(y),
                               colours[static_cast<std::size_t>(grid.at(x, y))]);
            }
        }
    } catch (const std::exception&) {
    }
    CurrentX = kPromptX;
    CurrentY = kPromptY;
    Print(QStringLiteral("Select interesting area and CLICK"), LineEnd::Stay);
    Print(QStringLiteral(" *"));
    clientArea_->printedText()->announce();
    emit drawingFinished();
}

void Form1::Cls() {
    clientArea_->printedText()->clear();
    CurrentX = 0;
    CurrentY = 0;
}

void Form1::Print(const QString& text, LineEnd end) {
    const QFontMetricsF metrics(clientArea_->font());
    clientArea_->printedText()->add({QPointF(CurrentX, CurrentY), text});
    if (end == LineEnd::Stay) {
        CurrentX += static_cast<float>(metrics.horizontalAdvance(text));
    } else {
        CurrentX = 0;
        CurrentY += static_cast<float>(metrics.lineSpacing());
    }
}

void Form1::Show() { show(); }

void Form1::Randomize(float seed) { random_.Randomize(seed); }

QString Form1::printedText() const { return clientArea_->printedText()->text(); }
