#include "setview/colour.h"

#include <cmath>

#include "setview/view_state.h"

namespace setview {

int colourChannel(int n, float factor) {
    const float product = static_cast<float>(n) * factor;
    // Factors come from [0, 10); a hand-set negative or non-finite one would
    // have no channel value at all, and converting it would be undefined.
    if (!(product >= 0.0F && std::isfinite(product))) {
        return 0;
    }
    // nearbyint rounds halves to even in the default rounding mode; fmod of
    // an integral float by 255 is exact.
    return static_cast<int>(std::fmod(std::nearbyint(product), 255.0F));
}

ColourTable colourTable(const ViewState& view) {
    ColourTable table{};
    for (int n = 0; n <= kIterationLimit; ++n) {
        table[static_cast<std::size_t>(n)] = RGB(colourChannel(n, view.fn1), colourChannel(n, view.fn2),
                                                 colourChannel(n, view.fn3));
    }
    return table;
}

}  // namespace setview
