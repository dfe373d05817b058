// picture_check: does a screenshot of the drawing area show exactly what the
// program's arithmetic gives after a given sequence of presses?
//
//   picture_check [--scale=S] PICTURE.png [X,Y ...]
//
// The presses are replayed on the whole-set view. The colour factors are
// random, so they are recovered from the picture itself: for every channel,
// every single-precision factor in [0, 10) that explains the colour of the
// highest count present is tried against all counts present. The picture
// passes when some factors reproduce every one of its 500 x 500 pixels. A
// picture of one colour where the counts differ is a blank area and fails.
//
// With --scale=S (a whole number or a fraction such as 3/2) the picture is a
// screenshot at S device pixels per pixel, 500 x S square. Each grid point
// covers an S x S block of it, and the device pixel in the middle of that
// block stands for the point when the factors are recovered. Then every
// device pixel must have the colour of a grid point it overlaps: at scale 2
// each 2 x 2 block is one colour, and at a fractional scale every point shows
// and no smoothing blends neighbours into a colour of their own.
//
// With a decimal scale such as --scale=1.7781, the picture is a screenshot of
// a page that a phone's browser scales, cropped to the drawing area as near
// as the screen shows it. Where the blocks of such a scale fall depends
// on how the browser places the page, so they are read off the picture: along
// each axis, every run of equal device lines must be one grid line, or a run
// of grid lines that are equal too, one such run after the other. The device
// line in the middle of each run stands for its points, and every device
// pixel must have the colour of the one grid point it shows.

#include <QImage>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <optional>
#include <set>
#include <vector>

#include "setview/colour.h"
#include "setview/escape_counts.h"
#include "setview/random_source.h"
#include "setview/view_state.h"

namespace {

constexpr int kSide = 500;

// Device pixels per pixel of the drawing area, as a fraction: a screenshot
// at output scale 3/2 shows each grid point as a 3/2 x 3/2 block.
struct Scale {
    int numerator = 1;
    int denominator = 1;

    [[nodiscard]] int deviceSide() const { return kSide * numerator / denominator; }
    // The first and the last grid point, along one axis, whose block device
    // pixel i overlaps.
    [[nodiscard]] int firstPointUnder(int i) const { return i * denominator / numerator; }
    [[nodiscard]] int lastPointUnder(int i) const {
        return std::min(((i + 1) * denominator + numerator - 1) / numerator - 1, kSide - 1);
    }
    // The device pixel in the middle of grid point g's block.
    [[nodiscard]] int middleOf(int g) const { return (2 * g + 1) * numerator / (2 * denominator); }
    // A decimal scale: blocks read off the picture.
    bool measured = false;
};

// "2", "3/2" or "1.7781"; at least one device pixel per pixel, so that no
// point can be left out, and a whole number of device pixels across the
// drawing area: a decimal scale rounds to the nearest.
std::optional<Scale> parseScale(const QString& text) {
    Scale scale;
    if (text.contains(QLatin1Char('.'))) {
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok || !(value >= 1.0 && value <= 8.0)) {
            return std::nullopt;
        }
        return Scale{static_cast<int>(std::lround(kSide * value)), kSide, true};
    }
    const QStringList parts = text.split(QLatin1Char('/'));
    bool numeratorOk = false;
    bool denominatorOk = true;
    scale.numerator = parts[0].toInt(&numeratorOk);
    if (parts.size() == 2) {
        scale.denominator = parts[1].toInt(&denominatorOk);
    }
    if (parts.size() > 2 || !numeratorOk || !denominatorOk || scale.denominator < 1 ||
        scale.numerator < scale.denominator || scale.numerator > 8 * scale.denominator ||
        kSide * scale.numerator % scale.denominator != 0) {
        return std::nullopt;
    }
    return scale;
}

// Along one axis of the screenshot: the grid points each device line may
// show, and the device line in the middle of each grid point's block.
struct Axis {
    std::vector<int> first;
    std::vector<int> last;
    std::vector<int> middle;
};

Axis axisOf(Scale scale) {
    Axis axis;
    for (int i = 0; i < scale.deviceSide(); ++i) {
        axis.first.push_back(scale.firstPointUnder(i));
        axis.last.push_back(scale.lastPointUnder(i));
    }
    for (int g = 0; g < kSide; ++g) {
        axis.middle.push_back(scale.middleOf(g));
    }
    return axis;
}

// Where each run of equal lines along an axis begins, and one past the last
// line. `value(x, y)` is a pixel or a count; columns are the lines across.
template <typename Value>
std::vector<int> runStarts(int lines, int length, bool columns, Value value) {
    std::vector<int> starts{0};
    for (int i = 1; i < lines; ++i) {
        for (int k = 0; k < length; ++k) {
            if (columns ? value(i, k) != value(i - 1, k) : value(k, i) != value(k, i - 1)) {
                starts.push_back(i);
                break;
            }
        }
    }
    starts.push_back(lines);
    return starts;
}

// The blocks of a page scaled by a browser, read off the picture: the n-th
// run of equal device lines shows the n-th run of equal grid lines. Nothing,
// where the runs do not pair up: a grid line missing, a block split by a
// blend, or the picture of another view.
std::optional<Axis> measuredAxis(const QImage& screenshot, const setview::CountGrid& grid, bool columns) {
    const std::vector<int> gridRuns =
        runStarts(kSide, kSide, columns, [&](int x, int y) { return grid.at(x, y); });
    const std::vector<int> deviceRuns =
        runStarts(columns ? screenshot.width() : screenshot.height(), columns ? screenshot.height() : screenshot.width(),
                  columns, [&](int x, int y) { return screenshot.pixel(x, y); });
    if (deviceRuns.size() != gridRuns.size()) {
        return std::nullopt;
    }
    Axis axis;
    for (std::size_t run = 0; run + 1 < gridRuns.size(); ++run) {
        axis.first.insert(axis.first.end(), deviceRuns[run + 1] - deviceRuns[run], gridRuns[run]);
        axis.middle.insert(axis.middle.end(), gridRuns[run + 1] - gridRuns[run],
                           (deviceRuns[run] + deviceRuns[run + 1]) / 2);
    }
    axis.last = axis.first;
    return axis;
}

// The drawing area's own 500 x 500 pixels, each read from the middle of its
// block. At scale 3/2 that device pixel lies wholly inside the block, so it
// cannot rightly show a neighbour.
QImage middlesOf(const QImage& screenshot, const Axis& across, const Axis& down) {
    QImage picture(kSide, kSide, QImage::Format_RGB32);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            picture.setPixel(x, y, screenshot.pixel(across.middle[x], down.middle[y]));
        }
    }
    return picture;
}

// A factor whose channel matches the picture for every count, or nothing.
std::optional<float> recoverFactor(const setview::CountGrid& grid, const QImage& picture, int (*channelOf)(QRgb)) {
    int observed[setview::kIterationLimit + 1];
    std::fill(std::begin(observed), std::end(observed), -1);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const int n = grid.at(x, y);
            const int channel = channelOf(picture.pixel(x, y));
            if (observed[n] >= 0 && observed[n] != channel) {
                return std::nullopt;  // one count, two colours: no factor explains that
            }
            observed[n] = channel;
        }
    }
    int highest = setview::kIterationLimit;
    while (observed[highest] < 0) {
        --highest;
    }
    const auto fits = [&](float factor) {
        for (int n = 0; n <= highest; ++n) {
            if (observed[n] >= 0 && setview::colourChannel(n, factor) != observed[n]) {
                return false;
            }
        }
        return true;
    };
    for (int rounded = observed[highest]; rounded < 10 * highest + 1; rounded += 255) {
        if (rounded == 0) {
            // Every factor up to 0.5 / highest colours every count present 0,
            // and there are a billion such floats: 0 stands for them all.
            if (fits(0.0F)) {
                return 0.0F;
            }
            continue;
        }
        const float low = (static_cast<float>(rounded) - 0.5F) / static_cast<float>(highest);
        const float high = (static_cast<float>(rounded) + 0.5F) / static_cast<float>(highest);
        for (float factor = std::nextafter(low, 0.0F); factor <= high && factor < 10.0F;
             factor = std::nextafter(factor, 10.0F)) {
            if (fits(factor)) {
                return factor;
            }
        }
    }
    return std::nullopt;
}

// Device pixels whose colour is that of none of the grid points they overlap:
// a blend of neighbours, a smoothed edge, or a block in the wrong place.
int strayPixels(const QImage& screenshot, const Axis& across, const Axis& down, const setview::CountGrid& grid,
                const QRgb (&colourOf)[setview::kIterationLimit + 1], QPoint& first) {
    int stray = 0;
    for (int y = 0; y < screenshot.height(); ++y) {
        for (int x = 0; x < screenshot.width(); ++x) {
            const QRgb pixel = screenshot.pixel(x, y);
            bool covered = false;
            for (int row = down.first[y]; row <= down.last[y] && !covered; ++row) {
                for (int column = across.first[x]; column <= across.last[x] && !covered; ++column) {
                    covered = colourOf[grid.at(column, row)] == pixel;
                }
            }
            if (!covered && stray++ == 0) {
                first = QPoint(x, y);
            }
        }
    }
    return stray;
}

bool isBlank(const QImage& screenshot) {
    for (int y = 0; y < screenshot.height(); ++y) {
        for (int x = 0; x < screenshot.width(); ++x) {
            if (screenshot.pixel(x, y) != screenshot.pixel(0, 0)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    int next = 1;
    Scale scale;
    const QString scaleOption = QStringLiteral("--scale=");
    if (next < argc && QString::fromLocal8Bit(argv[next]).startsWith(scaleOption)) {
        const std::optional<Scale> parsed = parseScale(QString::fromLocal8Bit(argv[next]).mid(scaleOption.size()));
        if (!parsed) {
            std::fprintf(stderr, "bad scale: %s\n", argv[next]);
            return 2;
        }
        scale = *parsed;
        ++next;
    }
    if (next >= argc) {
        std::fprintf(stderr, "usage: picture_check [--scale=S] PICTURE.png [X,Y ...]\n");
        return 2;
    }
    const char* const file = argv[next++];
    const QImage screenshot = QImage(QString::fromLocal8Bit(file)).convertToFormat(QImage::Format_RGB32);
    const int side = scale.deviceSide();
    // A measured scale's rounding and the browser's placing of the page may
    // each take or add a device pixel.
    const int slack = scale.measured ? 2 : 0;
    if (std::abs(screenshot.width() - side) > slack || std::abs(screenshot.height() - side) > slack) {
        std::fprintf(stderr, "%s: not a %d x %d picture\n", file, side, side);
        return 2;
    }

    setview::RandomSource random;
    setview::ViewState view;
    view.wid = kSide;
    view.hei = kSide;
    setview::resetView(view, random);
    const int presses = argc - next;
    for (; next < argc; ++next) {
        const QStringList press = QString::fromLocal8Bit(argv[next]).split(QLatin1Char(','));
        if (press.size() != 2 || !setview::zoomAt(view, press[0].toFloat(), press[1].toFloat())) {
            std::fprintf(stderr, "bad press: %s\n", argv[next]);
            return 2;
        }
    }
    const setview::CountGrid grid = setview::escapeCounts(view);
    const std::set<int> counts(grid.counts.begin(), grid.counts.end());
    // Factors that all round every count to one colour are below 0.0025
    // (odds of one in 10^10); a screen of one colour is a drawing area that
    // shows nothing yet, not the whole set drawn in black.
    if (counts.size() > 1 && isBlank(screenshot)) {
        std::fprintf(stderr, "%s: a blank area of one colour, #%06x, not a drawing\n", file,
                     screenshot.pixel(0, 0) & 0xFFFFFFU);
        return 1;
    }

    std::optional<Axis> across = axisOf(scale);
    std::optional<Axis> down = across;
    if (scale.measured) {
        across = measuredAxis(screenshot, grid, true);
        down = measuredAxis(screenshot, grid, false);
        if (!across || !down) {
            std::fprintf(stderr, "%s: the blocks of equal device pixels are not the grid's %s for %d press(es)\n",
                         file, across ? "rows" : "columns", presses);
            return 1;
        }
    }

    const QImage picture = middlesOf(screenshot, *across, *down);
    const std::optional<float> red = recoverFactor(grid, picture, [](QRgb pixel) { return qRed(pixel); });
    const std::optional<float> green = recoverFactor(grid, picture, [](QRgb pixel) { return qGreen(pixel); });
    const std::optional<float> blue = recoverFactor(grid, picture, [](QRgb pixel) { return qBlue(pixel); });
    if (!red || !green || !blue) {
        std::fprintf(stderr, "%s: no colour factors reproduce this picture for %d press(es)\n", file, presses);
        return 1;
    }

    QRgb colourOf[setview::kIterationLimit + 1];
    for (int n = 0; n <= setview::kIterationLimit; ++n) {
        colourOf[n] = qRgb(setview::colourChannel(n, *red), setview::colourChannel(n, *green),
                           setview::colourChannel(n, *blue));
    }
    QPoint first;
    const int stray = strayPixels(screenshot, *across, *down, grid, colourOf, first);
    if (stray > 0) {
        std::fprintf(stderr,
                     "%s: %d device pixel(s) at scale %d/%d show a colour of none of the grid points under them, "
                     "the first at (%d, %d): #%06x\n",
                     file, stray, scale.numerator, scale.denominator, first.x(), first.y(),
                     screenshot.pixel(first) & 0xFFFFFFU);
        return 1;
    }

    std::printf("%s: matches at scale %d/%d, %zu distinct counts, factors %.7g %.7g %.7g\n", file, scale.numerator,
                scale.denominator, counts.size(), static_cast<double>(*red), static_cast<double>(*green),
                static_cast<double>(*blue));
    return 0;
}
