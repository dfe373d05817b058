#include "setview/view_state.h"

#include <cmath>

#include "setview/random_source.h"

namespace setview {

namespace {

// The platform's Int: the largest integer not above the argument.
double Int(double value) { return std::floor(value); }

bool allFinite(const ViewState& view) {
    return std::isfinite(view.di) && std::isfinite(view.dj) && std::isfinite(view.zoomx1) &&
           std::isfinite(view.zoomx2) && std::isfinite(view.zoomy1) && std::isfinite(view.zoomy2);
}

}  // namespace

float colourFactor(float rnd) { return rnd * 10.0F; }

void resetView(ViewState& view, RandomSource& random) {
    view.di = 0;
    view.dj = 0;
    view.f = 10;
    view.fn1 = colourFactor(random.Rnd());
    view.fn2 = colourFactor(random.Rnd());
    view.fn3 = colourFactor(random.Rnd());
    // A true division before Int: 4 units across the drawing area.
    view.zoomx1 = Int(view.wid / 4.0);
    view.zoomx2 = 2;
    view.zoomy1 = Int(view.hei / 4.0);
    view.zoomy2 = 2;
}

bool zoomAt(ViewState& view, float X, float Y) {
    ViewState next = view;
    // The offset moves by the press position at the old scale first and is
    // rescaled only afterwards; this keeps zoomx2 * zoomx1 at Int(wid / 2),
    // which is what brings the pressed point to the centre.
    next.di = (next.di + X) - Int(next.wid / 2.0);
    next.dj = (next.dj + Y) - Int(next.hei / 2.0);
    // The reciprocal is taken first and then multiplied: 2 * 0.1 is not
    // 2 / 10 in the last bit, and the picture depends on that bit.
    const double reciprocal = 1.0 / next.f;
    next.zoomx1 = next.zoomx1 * next.f;
    next.zoomx2 = next.zoomx2 * reciprocal;
    next.zoomy1 = next.zoomy1 * next.f;
    next.zoomy2 = next.zoomy2 * reciprocal;
    next.di = next.di * next.f;
    next.dj = next.dj * next.f;
    if (!allFinite(next)) {
        return false;
    }
    view = next;
    return true;
}

}  // namespace setview
