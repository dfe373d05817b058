#pragma once

#include <cstdint>
#include <vector>

#include "setview/view_state.h"

namespace setview {

// A point stops when its pass counter reaches this value.
inline constexpr int kIterationLimit = 200;
// ... or when x2 + y2 of the latest pass is no longer below this bound.
inline constexpr double kEscapeBound = 4.0;
// What staysToTheLimit pulls its bounds in by: far more than its own
// arithmetic can err.
inline constexpr double kPulledIn = 1.0 - 0x1p-40;

// The pass counts n of the (wid + 1) x (hei + 1) grid, column by column as
// the drawing walks it. Each column is one contiguous run, so threads that
// fill neighbouring columns never write to the same cache line.
struct CountGrid {
    int columns = 0;
    int rows = 0;
    std::vector<std::uint8_t> counts;

    [[nodiscard]] int at(int x, int y) const {
        return counts[static_cast<std::size_t>(x) * static_cast<std::size_t>(rows) + static_cast<std::size_t>(y)];
    }
};

// The real part shown by column x, and the imaginary part shown by row y.
// Both count paths take their points from here, so they see the same bits.
inline double columnReal(const ViewState& view, int x) { return ((x + view.di) / view.zoomx1) - view.zoomx2; }
inline double rowImaginary(const ViewState& view, int y) { return view.zoomy2 - ((y + view.dj) / view.zoomy1); }

// The count n of the point c = cr + i ci: the loop of the drawing, pass by
// pass, exactly as it is defined.
inline int escapeCount(double cr, double ci) {
    double zx = 0;
    double zy = 0;
    double x2 = 0;
    double y2 = 0;
    int n = 1;
    // The test sees x2 and y2 of the pass before the latest one, so an
    // escaping point always makes one pass more than it needs.
    while (n < kIterationLimit && x2 + y2 < kEscapeBound) {
        x2 = zx * zx;
        y2 = zy * zy;
        zy = ((2 * zy) * zx) + ci;
        zx = (x2 - y2) + cr;
        ++n;
    }
    return n;
}

// Whether c lies in the main cardioid or in the disc of the bulb of period
// two. The iterate of such a point is drawn to an attracting fixed point or
// cycle of two and never comes near the bound, so its loop runs to the limit:
// its count is 200 without a pass made. The fast path counts them so; the
// reference loop knows nothing of it, and the tests hold the two equal. The
// bounds are pulled in by far more than this arithmetic can err, so that a
// point taken for inside is inside; a point just outside the cardioid would
// anyway need far more passes than the limit to escape.
inline bool staysToTheLimit(double cr, double ci) {
    const double fromCusp = cr - 0.25;
    const double y2 = ci * ci;
    const double q = (fromCusp * fromCusp) + y2;
    const double fromMinusOne = cr + 1.0;
    return q * (q + fromCusp) < (0.25 * kPulledIn) * y2 || (fromMinusOne * fromMinusOne) + y2 < 0.0625 * kPulledIn;
}

// The definition of the counts: the plain loop, column by column, one point
// after the other. Slow, and kept as the yardstick for escapeCounts.
CountGrid referenceCounts(const ViewState& view);

// How much work a drawing took: passes that points made, lane passes that
// the vector units spent, useful or not, and points that staysToTheLimit
// counted without a pass.
struct CountStats {
    std::uint64_t passes = 0;
    std::uint64_t laneSlots = 0;
    std::uint64_t settled = 0;
};

// The same counts as referenceCounts, bit for bit, spread over SIMD lanes and
// the threads of the current oneTBB arena (one thread in builds without).
CountGrid escapeCounts(const ViewState& view, CountStats* stats = nullptr);

// A band of the grid's columns: first, first + 1, ... first + count - 1.
struct Columns {
    int first = 0;
    int count = 0;
};

// The counts of one band of the grid's columns, cut to the grid, exactly as
// escapeCounts counts them there: for whoever spreads one drawing over
// workers of its own, as the web page does. Column x of the result is column
// band.first + x of the grid.
CountGrid escapeCounts(const ViewState& view, Columns band, CountStats* stats = nullptr);

}  // namespace setview
