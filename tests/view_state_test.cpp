#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "setview/escape_counts.h"
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

namespace {

TEST(ZoomAt, WorkedExampleCentresThePressedPoint) {
    ViewState view = testviews::wholeSet();
    ASSERT_TRUE(setview::zoomAt(view, 375, 125));  // shows 1 + 1i before the press
    EXPECT_EQ(view.di, 1250.0);
    EXPECT_EQ(view.dj, -1250.0);
    EXPECT_EQ(view.zoomx1, 1250.0);
    EXPECT_EQ(view.zoomy1, 1250.0);
    // The reciprocal first, then the product: not the same bits as 2 / 10.
    EXPECT_EQ(view.zoomx2, 2 * (1.0 / 10));
    EXPECT_EQ(view.zoomy2, 2 * (1.0 / 10));
    EXPECT_DOUBLE_EQ(setview::columnReal(view, 250), 1.0);
    EXPECT_DOUBLE_EQ(setview::rowImaginary(view, 250), 1.0);
    EXPECT_DOUBLE_EQ(setview::columnReal(view, 0), 0.8);
    EXPECT_DOUBLE_EQ(setview::rowImaginary(view, 0), 1.2);
}

TEST(ZoomAt, KeepsScaleTimesShiftAtTheCentre) {
    ViewState view = testviews::wholeSet();
    const float presses[][2] = {{10, 20}, {499, 3}, {250, 250}, {123, 77}, {0, 499}, {260, 240}};
    double pixelsPerUnit = view.zoomx1;
    for (const auto& press : presses) {
        const double real = setview::columnReal(view, static_cast<int>(press[0]));
        ASSERT_TRUE(setview::zoomAt(view, press[0], press[1]));
        pixelsPerUnit *= 10;
        EXPECT_EQ(view.zoomx1, pixelsPerUnit);
        EXPECT_NEAR(view.zoomx2 * view.zoomx1, 250.0, 1e-9);
        EXPECT_NEAR(view.zoomy2 * view.zoomy1, 250.0, 1e-9);
        // The pressed column now shows at the centre column.
        EXPECT_NEAR(setview::columnReal(view, 250), real, 1e-9);
    }
}

TEST(ZoomAt, PressAtTheCentreOnlyMagnifies) {
    ViewState view = testviews::wholeSet();
    ASSERT_TRUE(setview::zoomAt(view, 250, 250));
    EXPECT_EQ(view.di, 0.0);
    EXPECT_EQ(view.dj, 0.0);
    EXPECT_EQ(setview::columnReal(view, 250), 0.0);
    EXPECT_EQ(setview::rowImaginary(view, 250), 0.0);
    EXPECT_DOUBLE_EQ(setview::columnReal(view, 500), 0.2);
}

TEST(ZoomAt, RefusesThePressThatWouldOverflow) {
    ViewState view = testviews::wholeSet();
    int applied = 0;
    for (int i = 0; i < 400; ++i) {
        const ViewState before = view;
        if (setview::zoomAt(view, 400, 100)) {
            ++applied;
            EXPECT_NE(view, before);
        } else {
            EXPECT_EQ(view, before);  // untouched, not half-updated
        }
        ASSERT_TRUE(std::isfinite(view.zoomx1) && std::isfinite(view.di) && std::isfinite(view.dj));
    }
    // 125 x 10^k stays finite up to k = 305; the offsets grow as fast.
    EXPECT_GT(applied, 290);
    EXPECT_LT(applied, 310);
    RandomSource random(5);
    setview::resetView(view, random);
    EXPECT_EQ(view.zoomx1, 125.0);
    EXPECT_TRUE(setview::zoomAt(view, 400, 100));
}

}  // namespace
