#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "setview/random_source.h"
#include "setview/view_state.h"
#include "views.h"

namespace {

using setview::RandomSource;
using setview::ViewState;

TEST(RandomSource, StaysInUnitIntervalAndFactorsStayBelowTen) {
    RandomSource random(12345);
    for (int i = 0; i < 100000; ++i) {
        const float value = random.Rnd();
        ASSERT_GE(value, 0.0F);
        ASSERT_LT(value, 1.0F);
    }
    const float largestRnd = std::nextafter(1.0F, 0.0F);
    EXPECT_LT(setview::colourFactor(largestRnd), 10.0F);
    EXPECT_EQ(setview::colourFactor(0.0F), 0.0F);
}

TEST(RandomSource, RandomizeDependsOnTheTimeOfDay) {
    RandomSource morning;
    RandomSource evening;
    morning.Randomize(30000.25F);
    evening.Randomize(70000.5F);
    RandomSource morningAgain;
    morningAgain.Randomize(30000.25F);
    const float first = morning.Rnd();
    EXPECT_NE(first, evening.Rnd());
    EXPECT_EQ(first, morningAgain.Rnd());
}

TEST(ResetView, SetsTheWholeSetWhateverCameBefore) {
    ViewState view = testviews::pressed(testviews::wholeSet(), {{375, 125}, {10, 490}, {250, 250}});
    view.f = 3;
    RandomSource random(7);
    setview::resetView(view, random);

    EXPECT_EQ(view.wid, 500);
    EXPECT_EQ(view.hei, 500);
    EXPECT_EQ(view.di, 0.0);
    EXPECT_EQ(view.dj, 0.0);
    EXPECT_EQ(view.f, 10);
    EXPECT_EQ(view.zoomx1, 125.0);
    EXPECT_EQ(view.zoomx2, 2.0);
    EXPECT_EQ(view.zoomy1, 125.0);
    EXPECT_EQ(view.zoomy2, 2.0);
    for (const float factor : {view.fn1, view.fn2, view.fn3}) {
        EXPECT_GE(factor, 0.0F);
        EXPECT_LT(factor, 10.0F);
    }
}

TEST(ResetView, TakesThreeConsecutiveDrawsRedGreenBlue) {
    RandomSource random(99);
    RandomSource witness(99);
    ViewState first;
    first.wid = 500;
    first.hei = 321;
    setview::resetView(first, random);
    ViewState second = first;
    setview::resetView(second, random);

    const float draws[6] = {witness.Rnd(), witness.Rnd(), witness.Rnd(),
                            witness.Rnd(), witness.Rnd(), witness.Rnd()};
    EXPECT_EQ(first.fn1, draws[0] * 10.0F);
    EXPECT_EQ(first.fn2, draws[1] * 10.0F);
    EXPECT_EQ(first.fn3, draws[2] * 10.0F);
    EXPECT_EQ(second.fn1, draws[3] * 10.0F);
    EXPECT_EQ(second.fn2, draws[4] * 10.0F);
    EXPECT_EQ(second.fn3, draws[5] * 10.0F);

    // Same geometry both times; hei is odd-sized on purpose: Int(321 / 4) = 80.
    EXPECT_EQ(second.zoomy1, 80.0);
    second.fn1 = first.fn1;
    second.fn2 = first.fn2;
    second.fn3 = first.fn3;
    EXPECT_EQ(first, second);
}

}  // namespace
