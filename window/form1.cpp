#include "window/form1.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QTime>

#include <algorithm>
#include <exception>

#include "setview/colour.h"
#include "setview/escape_counts.h"

namespace {

// The layout, in logical pixels of the client area. It never follows the
// window's size.
constexpr QPoint kPictureAt{56, 64};
constexpr QRect kButtonGeometry{576, 544, 57, 17};
constexpr float kPromptX = 55;
constexpr float kPromptY = 580;
// Wide enough for the button's right edge (633), tall enough for the prompt.
constexpr QSize kClientSize{650, 610};

}  // namespace

Form1::Form1(Clock timer, QWidget* parent)
    : QWidget(parent),
      Picture1(new ::Picture1(this)),
      Command1(new QPushButton(QStringLiteral("new"), this)),
      timer_(std::move(timer)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(kClientSize);

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
    emit drawingFinished();
}

void Form1::Cls() {
    printed_.clear();
    CurrentX = 0;
    CurrentY = 0;
    announcePrintedText();
    update();
}

void Form1::announcePrintedText() {
    // Screen readers learn of the prompt through the window's description;
    // Qt tells them when it changes.
    setAccessibleDescription(printedText());
}

void Form1::Print(const QString& text, LineEnd end) {
    const QFontMetricsF metrics(font());
    const PrintedText piece{QPointF(CurrentX, CurrentY), text};
    // The prompt is printed over its own earlier copy after every "new"; an
    // identical piece on top of another changes nothing on screen, so it is
    // kept once rather than piling up for as long as the window lives.
    if (std::find(printed_.begin(), printed_.end(), piece) == printed_.end()) {
        printed_.push_back(piece);
        announcePrintedText();
        update();
    }
    if (end == LineEnd::Stay) {
        CurrentX += static_cast<float>(metrics.horizontalAdvance(text));
    } else {
        CurrentX = 0;
        CurrentY += static_cast<float>(metrics.lineSpacing());
    }
}

void Form1::Show() { show(); }

void Form1::Randomize(float seed) { random_.Randomize(seed); }

QString Form1::printedText() const {
    QString text;
    for (const PrintedText& piece : printed_) {
        text += piece.text;
    }
    return text;
}

void Form1::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    const qreal ascent = QFontMetricsF(font()).ascent();
    for (const PrintedText& piece : printed_) {
        painter.drawText(piece.topLeft + QPointF(0, ascent), piece.text);
    }
}
