#include <gtest/gtest.h>
#include <hwy/tests/hwy_gtest.h>
#if MANDELBROT_THREADS
#include <tbb/task_arena.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <tuple>
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

// The reference counts of a view, computed once however many targets and
// thread counts compare against them: under an emulator the plain loop is
// the slowest part of the suite.
const CountGrid& referenceOf(const ViewState& view) {
    static std::vector<std::pair<ViewState, CountGrid>> known;
    for (const auto& [seen, grid] : known) {
        if (seen == view) {
            return grid;
        }
    }
    known.emplace_back(view, setview::referenceCounts(view));
    return known.back().second;
}

void expectSameCounts(const ViewState& view) {
    const CountGrid& expected = referenceOf(view);
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

// The start-up view and views after presses where escaping and staying
// points mix.
std::vector<ViewState> fixedViews() {
    const ViewState whole = testviews::wholeSet();
    return {whole, testviews::pressed(whole, {{375, 125}}),
            testviews::pressed(whole, {{190, 190}, {190, 190}, {190, 190}})};
}

// Three presses into the bulb of period three: every point stays for all its
// passes, none is known to beforehand, and the lanes run long blocks without
// counting. The slowest view by far.
ViewState insideTheSet() { return testviews::pressed(testviews::wholeSet(), {{235, 157}, {250, 250}, {250, 250}}); }

// Views no press sequence makes, but the counts must be right for any view.
std::vector<ViewState> extremeViews() {
    std::vector<ViewState> views(7, testviews::wholeSet());
    views[0].di = 1e300;  // every point far outside
    views[1].di = -1.5e154;  // squares overflow to infinity within a pass or two
    views[1].zoomx1 = 1e-3;
    views[2].zoomy1 = 1e-320;  // subnormal scale
    views[3].zoomx1 = 0;  // division by zero: infinities and one NaN column
    views[4].zoomy2 = std::numeric_limits<double>::quiet_NaN();
    views[5].dj = std::numeric_limits<double>::infinity();
    views[6].wid = 37;  // tiles and vectors that do not divide the grid evenly
    views[6].hei = 2;
    return views;
}

// The fast path on this processor as the program uses it where it supports
// none of the SIMD targets compiled in (an ARM processor without the
// cryptography extension, say, such as a Raspberry Pi 4's): the build's
// baseline code. Elsewhere the program uses the best of the targets that the
// tests below run one by one.
TEST(FastCounts, EqualReferenceOnThisProcessorsOwnTarget) {
    std::printf("escapeCounts runs on the code compiled for %s here\n", setview::countTarget());
    if (!hwy::SupportedAndGeneratedTargets().empty()) {
        GTEST_SKIP() << "the tests of each SIMD target cover it";
    }
    for (const ViewState& view : fixedViews()) {
        expectSameCounts(view);
    }
    expectSameCounts(insideTheSet());
    for (const ViewState& view : extremeViews()) {
        expectSameCounts(view);
    }
}

// The SIMD targets compiled in and supported here, which the tests below run
// on one by one. A test run may name the targets it expects, so that an
// emulated processor that silently offers fewer fails instead of passing.
TEST(FastCounts, RunsOnEveryTargetThisProcessorOffers) {
    std::string tested;
    for (const std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
        tested += std::string(tested.empty() ? "" : " ") + hwy::TargetName(target);
    }
    std::printf("SIMD targets tested one by one here: %s\n", tested.empty() ? "none" : tested.c_str());
#if HWY_ARCH_X86_64
    // Highway's AVX-512 target needs these four; a build that left it out
    // would test, and draw, at half the width on such a processor.
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw")) {
        EXPECT_NE(tested.find("AVX3"), std::string::npos);
    }
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        EXPECT_NE(tested.find("AVX2"), std::string::npos);
    }
#endif
#if HWY_ARCH_WASM
    // The page counts with WebAssembly's SIMD; the tests' own build of the
    // core adds the scalar target, the kernel one lane wide.
    EXPECT_EQ(tested, "WASM EMU128");
#endif
    if (const char* expected = std::getenv("SETVIEW_EXPECTED_TARGETS")) {
        EXPECT_EQ(tested, expected);
    }
}

// Runs every case once per SIMD target compiled in and supported here. A
// processor may support none of them; the test above still covers it.
class FastCounts : public hwy::TestWithParamTarget {};
HWY_TARGET_INSTANTIATE_TEST_SUITE_P(FastCounts);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FastCounts);

TEST_P(FastCounts, EqualReferenceOnFixedViews) {
    for (const ViewState& view : fixedViews()) {
        expectSameCounts(view);
    }
}

TEST_P(FastCounts, EqualReferenceInsideTheSet) { expectSameCounts(insideTheSet()); }

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
    for (const ViewState& view : extremeViews()) {
        expectSameCounts(view);
    }
}

TEST_P(FastCounts, EqualReferenceOnSmallGrids) {
    // Columns shorter than, equal to and just longer than a vector; grids
    // with fewer points than the lanes in flight; vectors whose points run
    // from one column into the next; columns just shorter and longer than
    // the runs of points that are counted without lanes; grids of one row
    // and of one column.
    using Size = std::pair<std::int16_t, std::int16_t>;
    for (const auto& [wid, hei] : {Size{0, 0}, Size{0, 10}, Size{3, 1}, Size{3, 3}, Size{4, 4}, Size{6, 8},
                                   Size{40, 4}, Size{9, 62}, Size{60, 18}, Size{60, 20}, Size{60, 40},
                                   Size{500, 0}, Size{0, 500}}) {
        SCOPED_TRACE(::testing::Message() << "wid " << wid << ", hei " << hei);
        ViewState view = testviews::pressed(testviews::wholeSet(), {{190, 190}});
        view.wid = wid;
        view.hei = hei;
        expectSameCounts(view);
    }
}

// A tile is any stretch of the grid's points: it may start and end anywhere
// in a column, hold a number of points that is no multiple of the vector
// length, and have columns shorter than a vector or than a run of vectors.
// Its counts must be right, and the points outside it untouched.
TEST_P(FastCounts, CountsAnyStretchOfTheGrid) {
    // Points scattered over the boundary of the set, so that neighbours
    // differ and a point counted in another's place shows.
    const ViewState view = testviews::pressed(testviews::wholeSet(), {{190, 190}});
    constexpr std::uint8_t kUntouched = 0xEE;
    for (const int rows : {1, 2, 3, 5, 7, 8, 9, 15, 17, 31, 33, 39, 41, 159, 161, 501}) {
        const int columns = 7;
        std::vector<double> real(columns + setview::kRealPadding, 0.0);
        for (int x = 0; x < columns; ++x) {
            real[static_cast<std::size_t>(x)] = setview::columnReal(view, 20 + 70 * x);
        }
        std::vector<double> imaginary(static_cast<std::size_t>(rows) + setview::kImaginaryPadding);
        for (std::size_t i = 0; i < imaginary.size(); ++i) {
            const int row = static_cast<int>(i % static_cast<std::size_t>(rows));
            imaginary[i] = setview::rowImaginary(view, (11 + 53 * row) % 501);
        }
        const std::int64_t points = std::int64_t{rows} * columns;
        for (const auto& [begin, end] : {std::pair<std::int64_t, std::int64_t>{0, points}, {1, points - 1},
                                         {rows / 2, points - rows / 3}, {3, 3}, {5, 6}}) {
            SCOPED_TRACE(::testing::Message() << rows << " rows, points " << begin << " to " << end);
            std::vector<std::uint8_t> counts(static_cast<std::size_t>(points), kUntouched);
            setview::countTile({.real = real.data(),
                                .imaginary = imaginary.data(),
                                .rows = rows,
                                .begin = begin,
                                .end = end,
                                .counts = counts.data()});
            for (std::int64_t p = 0; p < points; ++p) {
                const int expected = begin <= p && p < end
                                         ? setview::escapeCount(real[static_cast<std::size_t>(p / rows)],
                                                                imaginary[static_cast<std::size_t>(p % rows)])
                                         : kUntouched;
                ASSERT_EQ(counts[static_cast<std::size_t>(p)], expected) << "point " << p;
            }
        }
    }
}

// The web page's workers each count a band of columns: cut to the grid, a
// band's counts must be the very columns of the whole grid.
TEST_P(FastCounts, CountsAnyBandOfColumns) {
    const ViewState view = testviews::pressed(testviews::wholeSet(), {{190, 190}});
    const CountGrid& whole = referenceOf(view);
    for (const auto& [first, count, kept] : {std::tuple{0, 501, 501}, {0, 1, 1}, {250, 37, 37}, {480, 100, 21},
                                              {-5, 10, 5}, {501, 3, 0}, {7, -2, 0}}) {
        SCOPED_TRACE(::testing::Message() << "band " << first << " + " << count);
        const CountGrid band = setview::escapeCounts(view, setview::Columns{.first = first, .count = count});
        ASSERT_EQ(band.columns, kept);
        ASSERT_EQ(band.rows, whole.rows);
        const std::size_t skipped = static_cast<std::size_t>(std::max(first, 0)) * static_cast<std::size_t>(whole.rows);
        EXPECT_TRUE(std::equal(band.counts.begin(), band.counts.end(), whole.counts.begin() + static_cast<std::ptrdiff_t>(skipped)));
    }
}

TEST_P(FastCounts, StopsANaNPointThatArrivesAmongQuietOnes) {
    // Every point stays for good except those of one column whose real part
    // is NaN. They take lanes while the tile runs uncounted blocks, and must
    // still stop at their second pass. No view makes such a column, but the
    // kernel must count any tile right.
    constexpr int kRows = 64;
    constexpr int kColumns = 40;
    // In the bulb of period three.
    std::vector<double> real(kColumns + setview::kRealPadding, -0.1226);
    std::vector<double> imaginary(kRows + setview::kImaginaryPadding, 0.7449);
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
        ASSERT_EQ(counts[static_cast<std::size_t>(p)],
                  setview::escapeCount(real[static_cast<std::size_t>(p / kRows)], imaginary[0]))
            << "point " << p;
    }
    EXPECT_EQ(counts[30 * kRows], 3);
}

#if MANDELBROT_THREADS
TEST(FastCounts, EqualReferenceForEveryThreadCount) {
    const ViewState boundary = testviews::pressed(testviews::wholeSet(), {{190, 190}, {190, 190}});
    const int hardware = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
    for (const int threads : {1, 2, 3, hardware}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads");
        tbb::task_arena arena(threads);
        arena.execute([&] { expectSameCounts(boundary); });
    }
}
#endif

TEST(FastCounts, KeepsMostLanesBusyOnTheBoundary) {
    setview::CountStats stats;
    const ViewState boundary =
        testviews::pressed(testviews::wholeSet(), {{190, 190}, {190, 190}, {190, 190}});
    setview::escapeCounts(boundary, &stats);
    EXPECT_GT(stats.passes, 25'000'000U);
    EXPECT_GE(static_cast<double>(stats.passes), 0.8 * static_cast<double>(stats.laneSlots));
}

// Around the meeting of the cardioid and the disc of period two nine points in
// ten stay to the limit, 45 million passes in all: the lanes make none of them.
TEST(FastCounts, MakesNoPassesForPointsKnownToStay) {
    setview::CountStats stats;
    setview::escapeCounts(testviews::pressed(testviews::wholeSet(), {{150, 250}}), &stats);
    EXPECT_GT(stats.settled, 200'000U);
    EXPECT_LT(stats.laneSlots, 5 * stats.passes);
}

}  // namespace
