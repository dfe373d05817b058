// picture_check: does a screenshot of the drawing area show exactly what the
// program's arithmetic gives after a given sequence of presses?
//
//   picture_check PICTURE.png [X,Y ...]
//
// The presses are replayed on the whole-set view. The colour factors are
// random, so they are recovered from the picture itself: for every channel,
// every single-precision factor in [0, 10) that explains the colour of the
// highest count present is tried against all counts present. The picture
// passes when some factors reproduce every one of its 500 x 500 pixels.

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
    for (int rounded = observed[highest]; rounded < 10 * highest + 1; rounded += 255) {
        const float low = (static_cast<float>(rounded) - 0.5F) / static_cast<float>(highest);
        const float high = (static_cast<float>(rounded) + 0.5F) / static_cast<float>(highest);
        for (float factor = std::nextafter(std::max(0.0F, low), 0.0F); factor <= high && factor < 10.0F;
             factor = std::nextafter(factor, 10.0F)) {
            bool fits = true;
            for (int n = 0; n <= highest && fits; ++n) {
                fits = observed[n] < 0 || setview::colourChannel(n, factor) == observed[n];
            }
            if (fits) {
                return factor;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: picture_check PICTURE.png [X,Y ...]\n");
        return 2;
    }
    const QImage picture = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
    if (picture.size() != QSize(kSide, kSide)) {
        std::fprintf(stderr, "%s: not a %d x %d picture\n", argv[1], kSide, kSide);
        return 2;
    }

    setview::RandomSource random;
    setview::ViewState view;
    view.wid = kSide;
    view.hei = kSide;
    setview::resetView(view, random);
    for (int i = 2; i < argc; ++i) {
        const QStringList press = QString::fromLocal8Bit(argv[i]).split(QLatin1Char(','));
        if (press.size() != 2 || !setview::zoomAt(view, press[0].toFloat(), press[1].toFloat())) {
            std::fprintf(stderr, "bad press: %s\n", argv[i]);
            return 2;
        }
    }
    const setview::CountGrid grid = setview::escapeCounts(view);

    const std::optional<float> red = recoverFactor(grid, picture, [](QRgb pixel) { return qRed(pixel); });
    const std::optional<float> green = recoverFactor(grid, picture, [](QRgb pixel) { return qGreen(pixel); });
    const std::optional<float> blue = recoverFactor(grid, picture, [](QRgb pixel) { return qBlue(pixel); });
    if (!red || !green || !blue) {
        std::fprintf(stderr, "%s: no colour factors reproduce this picture for %d press(es)\n", argv[1], argc - 2);
        return 1;
    }
    std::set<int> counts(grid.counts.begin(), grid.counts.end());
    std::printf("%s: matches, %zu distinct counts, factors %.7g %.7g %.7g\n", argv[1], counts.size(),
                static_cast<double>(*red), static_cast<double>(*green), static_cast<double>(*blue));
    return 0;
}
