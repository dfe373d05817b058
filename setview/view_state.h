#pragma once

#include <cstdint>

namespace setview {

class RandomSource;

// Which part of the complex plane the drawing area shows, how a pass count
// becomes a colour, and how far one press magnifies. The field names are the
// ones the program has always used; the window exposes them as its own public
// fields.
//
// A pixel (x, y) shows the point
//   cr = (x + di) / zoomx1 - zoomx2,   ci = zoomy2 - (y + dj) / zoomy1.
// di, dj, zoomx2 and zoomy2 hold integers after a reset and fractions after a
// zoom; doubles hold both exactly.
struct ViewState {
    std::int16_t wid = 0;  // last column index of the grid
    std::int16_t hei = 0;  // last row index of the grid
    double di = 0;         // column offset, in pixels at the current scale
    double dj = 0;         // row offset, in pixels at the current scale
    double zoomx1 = 0;     // pixels per unit of the real axis
    double zoomx2 = 0;     // minus the real part at offset column 0
    double zoomy1 = 0;     // pixels per unit of the imaginary axis
    double zoomy2 = 0;     // the imaginary part at offset row 0
    float fn1 = 0;         // red factor
    float fn2 = 0;         // green factor
    float fn3 = 0;         // blue factor
    std::int16_t f = 0;    // magnification per press

    bool operator==(const ViewState&) const = default;
};

// Rnd x 10 in single precision. Rnd < 1 keeps the product below 10: the
// largest Rnd, 1 - 2^-24, gives 10 - 2^-20 after rounding.
float colourFactor(float rnd);

// Back to the whole set with three new colour factors, drawn red, green, blue
// from `random`. wid and hei are read, never written.
void resetView(ViewState& view, RandomSource& random);

// Magnifies the view by f about the pixel (X, Y), which then shows at the
// centre column and row. Returns false, leaving the view untouched, when the
// result would not be finite: past roughly 300 presses the scales would
// overflow, and a view that cannot be drawn is no use to anyone.
bool zoomAt(ViewState& view, float X, float Y);

}  // namespace setview
