#include <gtest/gtest.h>

#include <limits>

#include "setview/colour.h"
#include "setview/view_state.h"

namespace {

using setview::colourChannel;

TEST(ColourChannel, RoundsHalvesToEven) {
    EXPECT_EQ(colourChannel(3, 2.5F), 8);    // 7.5 -> 8
    EXPECT_EQ(colourChannel(5, 2.5F), 12);   // 12.5 -> 12
    EXPECT_EQ(colourChannel(1, 0.5F), 0);    // 0.5 -> 0
    EXPECT_EQ(colourChannel(3, 0.5F), 2);    // 1.5 -> 2
    EXPECT_EQ(colourChannel(7, 1.25F), 9);   // 8.75 -> 9
}

TEST(ColourChannel, MultipliesInSinglePrecision) {
    // 0.1F is a little above 0.1; in single precision 5 x 0.1F rounds to
    // exactly 0.5, which then goes to the even 0. A double product would stay
    // above the half and give 1.
    EXPECT_EQ(static_cast<double>(5 * 0.1F), 0.5);
    EXPECT_EQ(colourChannel(5, 0.1F), 0);
}

TEST(ColourChannel, WrapsAtTwoHundredFiftyFiveAndNeverReachesIt) {
    EXPECT_EQ(colourChannel(51, 5.0F), 0);    // 255 Mod 255
    EXPECT_EQ(colourChannel(200, 9.99F), 213);  // 1998 Mod 255
    for (int n = 0; n <= setview::kIterationLimit; ++n) {
        for (float factor = 0.0F; factor < 10.0F; factor += 0.01F) {
            const int channel = colourChannel(n, factor);
            ASSERT_GE(channel, 0);
            ASSERT_LE(channel, 254) << n << " x " << factor;
        }
    }
}

TEST(ColourChannel, ZeroFactorGivesZeroAndNonsenseFactorsStayHarmless) {
    for (int n = 0; n <= setview::kIterationLimit; ++n) {
        EXPECT_EQ(colourChannel(n, 0.0F), 0);
    }
    EXPECT_EQ(colourChannel(3, std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(colourChannel(3, std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(colourChannel(3, -1.0F), 0);
}

TEST(ColourTable, PacksRedGreenBlueTheClassicWay) {
    EXPECT_EQ(setview::RGB(1, 2, 3), 1U + 2U * 256U + 3U * 65536U);
    setview::ViewState view;
    view.fn1 = 1.0F;
    view.fn2 = 2.5F;
    view.fn3 = 0.0F;
    const setview::ColourTable table = setview::colourTable(view);
    EXPECT_EQ(table[3], setview::RGB(3, 8, 0));
    EXPECT_EQ(table[200], setview::RGB(200, 500 % 255, 0));
    EXPECT_EQ(setview::redOf(table[200]), 200);
    EXPECT_EQ(setview::greenOf(table[200]), 245);
    EXPECT_EQ(setview::blueOf(table[200]), 0);
}

}  // namespace
