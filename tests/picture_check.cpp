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

#include <QImage>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <optional>
#include <set>

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
};

// "2" or "3/2"; at least one device pixel per pixel, so that no point can be
// left out, and a whole number of device pixels across the drawing area.
std::optional<Scale> parseScale(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('/'));
    Scale scale;
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

// The drawing area's own 500 x 500 pixels, each read from the middle of its
// block. At scale 3/2 that device pixel lies wholly inside the block, so it
// cannot rightly show a neighbour.
QImage middlesOf(const QImage& screenshot, Scale scale) {
    QImage picture(kSide, kSide, QImage::Format_RGB32);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            picture.setPixel(x, y, screenshot.pixel(scale.middleOf(x), scale.middleOf(y)));
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
int strayPixels(const QImage& screenshot, Scale scale, const setview::CountGrid& grid,
                const QRgb (&colourOf)[setview::kIterationLimit + 1], QPoint& first) {
    int stray = 0;
    for (int y = 0; y < screenshot.height(); ++y) {
        for (int x = 0; x < screenshot.width(); ++x) {
            const QRgb pixel = screenshot.pixel(x, y);
            bool covered = false;
            for (int row = scale.firstPointUnder(y); row <= scale.lastPointUnder(y) && !covered; ++row) {
                for (int column = scale.firstPointUnder(x); column <= scale.lastPointUnder(x) && !covered; ++column) {
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
    if (screenshot.size() != QSize(side, side)) {
        std::fprintf(stderr, "%s: not a %d x %d picture\n", file, side, side);
        return 2;
    }
    const QImage picture = middlesOf(screenshot, scale);

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
    const int stray = strayPixels(screenshot, scale, grid, colourOf, first);
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
