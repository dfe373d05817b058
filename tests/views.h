#pragma once

#include <initializer_list>
#include <utility>

#include "setview/random_source.h"
#include "setview/view_state.h"

namespace testviews {

// The view right after start-up, with colours from a fixed seed.
inline setview::ViewState wholeSet(std::uint32_t seed = 1) {
    setview::RandomSource random(seed);
    setview::ViewState view;
    view.wid = 500;
    view.hei = 500;
    setview::resetView(view, random);
    return view;
}

// The view after pressing at each of `presses` in turn.
inline setview::ViewState pressed(setview::ViewState view, std::initializer_list<std::pair<float, float>> presses) {
    for (const auto& [x, y] : presses) {
        setview::zoomAt(view, x, y);
    }
    return view;
}

}  // namespace testviews
