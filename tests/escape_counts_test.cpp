#include <gtest/gtest.h>
#include <hwy/tests/hwy_gtest.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "setview/escape_counts.h"
#include "setview/escape_kernel.h"
#include "views.h"

namespace {

using setview::CountGrid;
using setview::ViewState;

TEST(ReferenceCounts, WholeSetEdgeCases) {
    const CountGrid grid = setview::referenceCounts(testviews::wholeSet());
    ASSERT_EQ(grid.columns, 501);
    ASSERT_EQ(grid.rows, 501);
    EXPECT_EQ(grid.counts.size(), 251001U);

    EXPECT_EQ(grid.at(250, 250), 200);  // c = 0 never leaves
    EXPECT_EQ(grid.at(0, 0), 3);        // |c|^2 = 8
    EXPECT_EQ(grid.at(500, 0), 3);
    EXPECT_EQ(grid.at(0, 500), 3);
    EXPECT_EQ(grid.at(500, 500), 3);
    // c = -2: |z|^2 stays exactly 4, which is not below the bound.
    EXPECT_EQ(grid.at(0, 250), 3);
    EXPECT_EQ(grid.at(125, 250), 200);  // c = -1, a cycle of period two
    EXPECT_EQ(*std::min_element(grid.counts.begin(), grid.counts.end()), 3);
    EXPECT_EQ(*std::max_element(grid.counts.begin(), grid.counts.end()), 200);
}

TEST(ReferenceCounts, EscapingPointMakesOneMorePass) {
    // c = 1 (column 375, row 250): z = 0, 1, 2, 5. |z_2|^2 = 4 is the first
    // not below 4, so the loop stops after computing z_3 with n = 2 + 2.
    const CountGrid grid = setview::referenceCounts(testviews::wholeSet());
    EXPECT_EQ(grid.at(375, 250), 4);
}

TEST(ReferenceCounts, GridFollowsWidAndHei) {
    ViewState view = testviews::wholeSet();
    view.wid = 3;
    view.hei = 0;
    EXPECT_EQ(setview::referenceCounts(view).counts.size(), 4U);
    view.wid = -1;
    EXPECT_TRUE(setview::referenceCounts(view).counts.empty());
    EXPECT_TRUE(setview::escapeCounts(view).counts.empty());
}

void expectSameCounts(const ViewState& view) {
    const CountGrid expected = setview::referenceCounts(view);
    const CountGrid actual = setview::escapeCounts(view);
    ASSERT_EQ(actual.columns, expected.columns);
    ASSERT_EQ(actual.rows, expected.rows);
    ASSERT_EQ(actual.counts.size(), expected.counts.size());
    if (std::memcmp(actual.counts.data(), expected.counts.data(), expected.counts.size()) != 0) {
        for (int y = 0; y < expected.rows; ++y) {
            for (int x = 0; x < expected.columns; ++x) {
                ASSERT_EQ(actual.at(x, y), expected.at(x, y)) << "first difference at (" << x << ", " << y << ")";
            }
        }
    }
}

// Runs every case once per SIMD target compiled into the program.
class FastCounts : public hwy::TestWithParamTarget {};
HWY_TARGET_INSTANTIATE_TEST_SUITE_P(FastCounts);

TEST_P(FastCounts, EqualReferenceOnFixedViews) {
    const ViewState whole = testviews::wholeSet();
    expectSameCounts(whole);
    expectSameCounts(testviews::pressed(whole, {{375, 125}}));
    expectSameCounts(testviews::pressed(whole, {{250, 250}, {250, 250}, {250, 250}}));
    expectSameCounts(testviews::pressed(whole, {{190, 190}, {190, 190}, {190, 190}}));
}

TEST_P(FastCounts, EqualReferenceOnRandomPressSequences) {
    std::mt19937 engine(2024);
    std::uniform_int_distribution<int> coordinate(0, 499);
    std::uniform_int_distribution<int> depth(1, 20);
    for (int sequence = 0; sequence < 6; ++sequence) {
        ViewState view = testviews::wholeSet();
        const int presses = depth(engine);
        for (int i = 0; i < presses; ++i) {
            setview::zoomAt(view, static_cast<float>(coordinate(engine)), static_cast<float>(coordinate(engine)));
        }
        SCOPED_TRACE(::testing::Message() << "sequence " << sequence << ", " << presses << " presses");
        expectSameCounts(view);
    }
}

TEST_P(FastCounts, EqualReferenceOnExtremeViews) {
    ViewState view = testviews::wholeSet();
    view.di = 1e300;  // every point far outside
    expectSameCounts(view);
    view = testviews::wholeSet();
    view.di = -1.5e154;  // squares overflow to infinity within a pass or two
    view.zoomx1 = 1e-3;
    expectSameCounts(view);
    view = testviews::wholeSet();
    view.zoomy1 = 1e-320;  // subnormal scale
    expectSameCounts(view);
    view = testviews::wholeSet();
    view.zoomx1 = 0;  // division by zero: infinities and one NaN column
    expectSameCounts(view);
    view = testviews::wholeSet();
    view.zoomy2 = std::numeric_limits<double>::quiet_NaN();
    expectSameCounts(view);
    view = testviews::wholeSet();
    view.dj = std::numeric_limits<double>::infinity();
    expectSameCounts(view);
    view = testviews::wholeSet();
    view.wid = 37;  // tiles and vectors that do not divide the grid evenly
    view.hei = 2;
    expectSameCounts(view);
}

TEST_P(FastCounts, EqualReferenceOnSmallGrids) {
    // Columns shorter than, equal to and just longer than a vector; grids
    // with fewer points than the lanes in flight; vectors whose points run
    // from one column into the next; columns just shorter and longer than
    // the runs of points that are counted without lanes.
    using Size = std::pair<std::int16_t, std::int16_t>;
    for (const auto& [wid, hei] : {Size{0, 0}, Size{0, 10}, Size{3, 1}, Size{3, 3}, Size{4, 4}, Size{6, 8},
                                   Size{40, 4}, Size{9, 62}, Size{60, 18}, Size{60, 20}, Size{60, 40}}) {
        SCOPED_TRACE(::testing::Message() << "wid " << wid << ", hei " << hei);
        ViewState view = testviews::pressed(testviews::wholeSet(), {{190, 190}});
        view.wid = wid;
        view.hei = hei;
        expectSameCounts(view);
    }
}

TEST_P(FastCounts, StopsANaNPointThatArrivesAmongQuietOnes) {
    // Every point stays for good except those of one column whose real part
    // is NaN. They take lanes while the tile runs uncounted blocks, and must
    // still stop at their second pass. No view makes such a column, but the
    // kernel must count any tile right.
    constexpr int kRows = 64;
    constexpr int kColumns = 40;
    std::vector<double> real(kColumns + setview::kRealPadding, -0.1);
    std::vector<double> imaginary(kRows + setview::kImaginaryPadding, 0.05);
    real[30] = std::numeric_limits<double>::quiet_NaN();
    std::vector<std::uint8_t> counts(kRows * kColumns);
    const setview::Tile tile{.real = real.data(),
                             .imaginary = imaginary.data(),
                             .rows = kRows,
                             .begin = 0,
                             .end = kRows * kColumns,
                             .counts = counts.data()};
    setview::countTile(tile);
    for (int p = 0; p < kRows * kColumns; ++p) {
        ASSERT_EQ(counts[static_cast<std::size_t>(p)], setview::escapeCount(real[p / kRows], imaginary[p % kRows]))
            << "point " << p;
    }
    EXPECT_EQ(counts[30 * kRows], 3);
}

TEST(FastCounts, EqualReferenceForEveryThreadCount) {
    const ViewState boundary = testviews::pressed(testviews::wholeSet(), {{190, 190}, {190, 190}});
    const int hardware = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
    for (const int threads : {1, 2, 3, hardware}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads");
        tbb::task_arena arena(threads);
        arena.execute([&] { expectSameCounts(boundary); });
    }
}

TEST(FastCounts, KeepsMostLanesBusyOnTheBoundary) {
    setview::CountStats stats;
    const ViewState boundary =
        testviews::pressed(testviews::wholeSet(), {{190, 190}, {190, 190}, {190, 190}});
    setview::escapeCounts(boundary, &stats);
    EXPECT_GT(stats.passes, 25'000'000U);
    EXPECT_GE(static_cast<double>(stats.passes), 0.8 * static_cast<double>(stats.laneSlots));
}

}  // namespace
