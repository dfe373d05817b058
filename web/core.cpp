// The program's core as the page uses it: Form1's view state and the parts
// of its handlers that compute, exported from WebAssembly. The page's script
// holds one instance, which keeps the view; each of its workers holds one
// more, into which the script copies the view to draw a band of columns.
// Every number of the picture is made here, by the code the desktop runs.

#include <emscripten/emscripten.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <vector>

#include "setview/colour.h"
#include "setview/escape_counts.h"
#include "setview/random_source.h"
#include "setview/view_state.h"

namespace {

// Picture1's drawable interior: the grid's last column and last row lie
// beyond it and are counted, but not shown.
constexpr int kPictureSide = 500;

setview::ViewState view;  // Form1's twelve fields
setview::RandomSource randomSource;  // Rnd, seeded once by Randomize

// Seconds since local midnight, as the desktop's Timer gives them.
float Timer() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    return static_cast<float>((local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) * 1000 + milliseconds) /
           1000.0F;
}

}  // namespace

// A band of the picture as a canvas takes it: `width` x `height` pixels of
// four bytes, red, green, blue and opaque alpha, row by row, whose top-left
// is column `left` of row 0.
struct Band {
    std::int32_t left = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    const std::uint8_t* pixels = nullptr;
};

extern "C" {

// Start-up: the colours seeded from the time of day, the whole set.
EMSCRIPTEN_KEEPALIVE void Form_Load() {
    randomSource.Randomize(Timer());
    view.wid = kPictureSide;
    view.hei = kPictureSide;
    setview::resetView(view, randomSource);
}

// "new": the whole set in three new colours.
EMSCRIPTEN_KEEPALIVE void Command1_Click() { setview::resetView(view, randomSource); }

// A press on the picture at grid point (X, Y). Returns 0, leaving the view as
// it is, at the deepest view there is, where one more press would overflow.
EMSCRIPTEN_KEEPALIVE int Picture1_MouseDown(float X, float Y) { return setview::zoomAt(view, X, Y) ? 1 : 0; }

// The view's fields, for a worker's instance to take over as they are.
EMSCRIPTEN_KEEPALIVE setview::ViewState* viewState() { return &view; }
EMSCRIPTEN_KEEPALIVE int viewStateSize() { return sizeof view; }

// The columns a drawing counts, which the page shares out in bands.
EMSCRIPTEN_KEEPALIVE int gridColumns() { return std::max(0, view.wid + 1); }

// Counts and colours columns first ... first + count - 1 of the current
// view, as RenderSet does, and returns what of them Picture1 shows. The band
// stays valid until the next call.
EMSCRIPTEN_KEEPALIVE const Band* RenderColumns(int first, int count) {
    static std::vector<std::uint32_t> pixels;
    static Band band;
    first = std::clamp(first, 0, gridColumns());
    const setview::CountGrid grid = setview::escapeCounts(view, setview::Columns{.first = first, .count = count});
    const setview::ColourTable colours = setview::colourTable(view);
    band.left = first;
    band.width = std::clamp(kPictureSide - first, 0, grid.columns);
    band.height = std::min(kPictureSide, grid.rows);
    pixels.assign(static_cast<std::size_t>(band.width) * static_cast<std::size_t>(band.height), 0);
    // A colour's bytes in memory are red, green, blue and a zero, which
    // becomes the alpha of an opaque pixel.
    constexpr std::uint32_t kOpaque = 0xFF000000U;
    for (int x = 0; x < band.width; ++x) {
        for (int y = 0; y < band.height; ++y) {
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(band.width) + static_cast<std::size_t>(x)] =
                colours[static_cast<std::size_t>(grid.at(x, y))] | kOpaque;
        }
    }
    band.pixels = reinterpret_cast<const std::uint8_t*>(pixels.data());
    return &band;
}

}  // extern "C"
