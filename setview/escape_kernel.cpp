// The SIMD kernel behind escapeCounts, compiled once per Highway target and
// chosen at run time.
//
// Where points stop within a few passes, as in most of the area around the
// set, runs of consecutive points are counted straight away, one point per
// lane, with no lane bookkeeping at all. Elsewhere each vector lane carries
// one point, and a lane whose point has finished takes the next point of the
// tile at the next block boundary, so that one slow point never holds idle
// lanes beside it. Several independent vectors are kept in flight to hide the
// latency of the multiply-add chain.
//
// Every lane performs exactly the arithmetic of the reference loop, in the
// same order and precision (2 * zy may come out as zy + zy, which gives the
// same bits for every double); the build forbids FMA contraction. Only the
// bookkeeping differs: a pass is counted for the lanes still running, and a
// lane that fails the escape test stays stopped. Where no point is expected
// to escape, blocks of passes run without that bookkeeping and are made again
// with it in the rare case that a point did escape.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "setview/escape_kernel.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "setview/escape_counts.h"
#include "setview/escape_kernel.h"

HWY_BEFORE_NAMESPACE();
namespace setview {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

using DoubleTag = hn::ScalableTag<double>;
using CountTag = hn::RebindToSigned<DoubleTag>;
using DoubleVec = hn::Vec<DoubleTag>;
using CountVec = hn::Vec<CountTag>;

constexpr std::size_t kLanes = HWY_LANES(double);

// 2 * zy: with a constant 2 the compiler makes it zy + zy, the same bits. In
// counted passes that suits; in uncounted passes the adders are the busiest
// units, and a 2 the compiler cannot see keeps it a multiplication, which
// moves the work to the multipliers and makes those passes about a tenth
// faster.
const volatile double kOpaqueTwo = 2.0;

// Independent vectors in flight. Four just cover the nine-cycle latency of
// one pass, and the pass units still wait on it now and then; five leave
// room, and more no longer fit the registers.
constexpr std::size_t kVectors = 5;
constexpr std::size_t kAllLanes = kVectors * kLanes;
static_assert(kAllLanes <= kImaginaryPadding, "one run of imaginary parts must stay inside the padding");
// Passes between two looks at the lanes: longer blocks waste more lane passes
// after a point has finished, shorter ones spend more time on bookkeeping.
// While points escape, blocks are counted: short while many lanes finish at
// each look, as in the fast-escaping area around the set, long otherwise.
// After a few blocks in which no point escaped, blocks are uncounted and
// long, and a vector in which a point escapes after all makes its block
// again, counted.
constexpr std::int64_t kShortCountedBlockPasses = 8;
constexpr std::int64_t kLongCountedBlockPasses = 48;
constexpr int kFinishedLanesForShortBlocks = 3;
constexpr std::int64_t kUncountedBlockPasses = 64;
constexpr int kQuietBlocksBeforeUncounted = 3;
// Runs of kAllLanes consecutive points are tried with up to kProbePasses
// counted passes, looking every kProbeStep passes whether all have stopped.
// A run in which a point goes on is left to the lanes, and the next try
// waits for twice as many points as the last, up to 2^kMaxProbeBackoff runs,
// so that inside the set tries cost next to nothing.
constexpr std::int64_t kProbePasses = 8;
constexpr std::int64_t kProbeStep = 4;
constexpr int kMaxProbeBackoff = 6;

// For each set of finished lanes (bit l for lane l), the rank of each lane
// among them: the finished lane with rank r takes the r-th next point.
struct RankTable {
    std::int64_t rank[std::size_t{1} << kLanes][kLanes];
};
constexpr RankTable makeRankTable() {
    RankTable table{};
    for (std::size_t bits = 0; bits < (std::size_t{1} << kLanes); ++bits) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            table.rank[bits][lane] = std::popcount(bits & ((std::size_t{1} << lane) - 1));
        }
    }
    return table;
}
HWY_ALIGN constexpr RankTable kRanks = makeRankTable();

// The state of every lane. Plain vectors, indexed only inside fully unrolled
// loops, so that GCC keeps what it can in registers.
struct Lanes {
    DoubleVec zx[kVectors];
    DoubleVec zy[kVectors];
    DoubleVec real[kVectors];
    DoubleVec imaginary[kVectors];
    CountVec n[kVectors];
    CountVec running[kVectors];  // all ones while the lane's point goes on
    CountVec point[kVectors];    // where its count goes
};

// The next points of the tile, in drawing order.
struct Cursor {
    std::int64_t next;
    std::int64_t column;
    std::int64_t row;

    // Moves past `taken` points, which never span more than two columns.
    void advance(std::int64_t taken, int rows) {
        next += taken;
        row += taken;
        if (row >= rows) {
            row -= rows;
            ++column;
        }
    }
};

// One pass of the iterate, exactly as the reference loop makes it, with
// `two` holding 2 in every lane. Returns x2 + y2 of the squares it used,
// which the test for the next pass reads.
HWY_INLINE DoubleVec iterate(DoubleVec& zx, DoubleVec& zy, DoubleVec real, DoubleVec imaginary, DoubleVec two) {
    const DoubleVec x2 = hn::Mul(zx, zx);
    const DoubleVec y2 = hn::Mul(zy, zy);
    zy = hn::Add(hn::Mul(hn::Mul(two, zy), zx), imaginary);
    zx = hn::Add(hn::Sub(x2, y2), real);
    return hn::Add(x2, y2);
}

// One pass for the lanes still running: counts it, makes it, and applies the
// test that decides on the next one. A lane that fails the test stays stopped
// whatever its iterate does afterwards; NaN fails it too.
HWY_INLINE void makePass(DoubleVec& zx, DoubleVec& zy, DoubleVec real, DoubleVec imaginary, CountVec& n,
                         CountVec& running, DoubleVec bound) {
    const DoubleTag d;
    const CountTag di;
    n = hn::Sub(n, running);
    const DoubleVec sum = iterate(zx, zy, real, imaginary, hn::Set(d, 2.0));
    running = hn::And(running, hn::BitCast(di, hn::VecFromMask(d, hn::Lt(sum, bound))));
}

// A block of counted passes for all vectors. Returns whether a lane stopped.
template <std::int64_t kPasses>
HWY_INLINE bool runCountedBlock(Lanes& lanes, DoubleVec bound) {
    const CountTag di;
    CountVec before[kVectors];
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        before[v] = lanes.running[v];
    }
    for (std::int64_t p = 0; p < kPasses; ++p) {
#pragma GCC unroll 16
        for (std::size_t v = 0; v < kVectors; ++v) {
            makePass(lanes.zx[v], lanes.zy[v], lanes.real[v], lanes.imaginary[v], lanes.n[v], lanes.running[v],
                     bound);
        }
    }
    CountVec stopped = hn::Zero(di);
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        stopped = hn::Or(stopped, hn::AndNot(lanes.running[v], before[v]));
    }
    return !hn::AllTrue(di, hn::Eq(stopped, hn::Zero(di)));
}

// Uncounted passes for all vectors, for blocks in which no point is expected
// to finish. Where every sum stayed below the bound, every lane made every
// pass and its count simply grows by `passes`. A vector in which some lane
// failed the test is taken back to the start of the block and made again
// with counted passes, which find the exact pass.
// NaN fails the test, but Max drops NaN on some targets. Once a sum is NaN,
// so is the iterate and every later sum, so the test is also applied to the
// squares of the final iterate, which catches NaN on every target (and sends
// to the counted passes a lane that is about to escape anyway).
// Returns whether any vector had to be made again.
HWY_INLINE bool runUncountedBlock(Lanes& lanes, std::int64_t passes, DoubleVec bound) {
    const DoubleTag d;
    const CountTag di;
    DoubleVec zx[kVectors];
    DoubleVec zy[kVectors];
    DoubleVec peak[kVectors];
    const DoubleVec two = hn::Set(d, kOpaqueTwo);
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        zx[v] = lanes.zx[v];
        zy[v] = lanes.zy[v];
        peak[v] = hn::Zero(d);
    }
    for (std::int64_t p = 0; p < passes; ++p) {
#pragma GCC unroll 16
        for (std::size_t v = 0; v < kVectors; ++v) {
            peak[v] = hn::Max(peak[v], iterate(zx[v], zy[v], lanes.real[v], lanes.imaginary[v], two));
        }
    }
    bool replayed = false;
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        const DoubleVec next = hn::Add(hn::Mul(zx[v], zx[v]), hn::Mul(zy[v], zy[v]));
        if (hn::AllTrue(d, hn::And(hn::Lt(peak[v], bound), hn::Lt(next, bound)))) {
            lanes.zx[v] = zx[v];
            lanes.zy[v] = zy[v];
            lanes.n[v] = hn::Add(lanes.n[v], hn::And(lanes.running[v], hn::Set(di, passes)));
        } else {
            replayed = true;
            for (std::int64_t p = 0; p < passes; ++p) {
                makePass(lanes.zx[v], lanes.zy[v], lanes.real[v], lanes.imaginary[v], lanes.n[v],
                         lanes.running[v], bound);
            }
        }
    }
    return replayed;
}

// Writes the counts of vector v's finished lanes and gives them the next
// points of the tile; lanes left without a point stop, at zero. Returns the
// number of finished lanes. The lanes' first points come with kFirst, when
// there are no counts to write yet.
// Requires tile.rows >= kLanes, so that the new points span two columns at
// most.
template <bool kFirst>
HWY_INLINE int refill(Lanes& lanes, std::size_t v, CountVec finished, Cursor& cursor, const Tile& tile) {
    const DoubleTag d;
    const CountTag di;

    // Every lane writes its count, finished or not, with no branch: a running
    // lane's count is overwritten when its point finishes, and a lane left
    // without a point keeps its last point and writes the same count again.
    // A lane may have run past the limit inside a block; its count is the
    // limit.
    if constexpr (!kFirst) {
        HWY_ALIGN std::int64_t counts[kLanes];
        HWY_ALIGN std::int64_t points[kLanes];
        hn::Store(hn::Min(lanes.n[v], hn::Set(di, kIterationLimit)), di, counts);
        hn::Store(lanes.point[v], di, points);
#pragma GCC unroll 16
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            tile.counts[points[lane]] = static_cast<std::uint8_t>(counts[lane]);
        }
    }

    const auto isFinished = hn::MaskFromVec(finished);
    std::uint8_t bits[8] = {};
    hn::StoreMaskBits(di, isFinished, bits);
    const CountVec rank = hn::Load(di, kRanks.rank[bits[0]]);
    const CountVec point = hn::Add(hn::Set(di, cursor.next), rank);
    const auto isNew = hn::And(isFinished, hn::Lt(point, hn::Set(di, tile.end)));
    const auto nextColumn = hn::Lt(hn::Set(di, tile.rows - 1), hn::Add(hn::Set(di, cursor.row), rank));

    const auto finishedD = hn::RebindMask(d, isFinished);
    const auto isNewD = hn::RebindMask(d, isNew);
    const DoubleVec real = hn::IfThenElse(hn::RebindMask(d, nextColumn), hn::Set(d, tile.real[cursor.column + 1]),
                                          hn::Set(d, tile.real[cursor.column]));
    const DoubleVec imaginary =
        hn::TableLookupLanes(hn::LoadU(d, tile.imaginary + cursor.row), hn::IndicesFromVec(d, rank));

    lanes.zx[v] = hn::IfThenZeroElse(finishedD, lanes.zx[v]);
    lanes.zy[v] = hn::IfThenZeroElse(finishedD, lanes.zy[v]);
    lanes.real[v] = hn::IfThenElse(finishedD, hn::IfThenElseZero(isNewD, real), lanes.real[v]);
    lanes.imaginary[v] = hn::IfThenElse(finishedD, hn::IfThenElseZero(isNewD, imaginary), lanes.imaginary[v]);
    lanes.n[v] = hn::IfThenElse(isNew, hn::Set(di, 1), lanes.n[v]);
    lanes.point[v] = hn::IfThenElse(isNew, point, lanes.point[v]);
    lanes.running[v] = hn::Or(hn::AndNot(finished, lanes.running[v]), hn::VecFromMask(di, isNew));

    const int finishedLanes = std::popcount(static_cast<unsigned>(bits[0]));
    const std::int64_t taken = std::min<std::int64_t>(finishedLanes, tile.end - cursor.next);
    cursor.advance(taken, tile.rows);
    return finishedLanes;
}

// Tries the next run of kAllLanes points of the tile, one point per lane, with
// up to kProbePasses counted passes. If they all stop, writes their counts,
// moves the cursor past them and returns true; otherwise changes nothing and
// returns false. Requires tile.rows >= kAllLanes, so that the run spans two
// columns at most, and kAllLanes points left.
HWY_INLINE bool probe(Cursor& cursor, const Tile& tile, std::uint64_t& laneSlots) {
    const DoubleTag d;
    const CountTag di;
    const DoubleVec bound = hn::Set(d, kEscapeBound);
    const DoubleVec thisColumn = hn::Set(d, tile.real[cursor.column]);
    const DoubleVec nextColumn = hn::Set(d, tile.real[cursor.column + 1]);
    const CountVec lastRow = hn::Set(di, tile.rows - 1 - cursor.row);  // in lanes from the run's start
    DoubleVec zx[kVectors];
    DoubleVec zy[kVectors];
    DoubleVec real[kVectors];
    DoubleVec imaginary[kVectors];
    CountVec n[kVectors];
    CountVec running[kVectors];
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        const auto offset = static_cast<std::int64_t>(v * kLanes);
        real[v] = hn::IfThenElse(hn::RebindMask(d, hn::Lt(lastRow, hn::Iota(di, offset))), nextColumn, thisColumn);
        imaginary[v] = hn::LoadU(d, tile.imaginary + cursor.row + offset);
        zx[v] = zy[v] = hn::Zero(d);
        n[v] = hn::Set(di, 1);
        running[v] = hn::Set(di, -1);
    }
    for (std::int64_t passes = 0;;) {
        for (std::int64_t p = 0; p < kProbeStep; ++p) {
#pragma GCC unroll 16
            for (std::size_t v = 0; v < kVectors; ++v) {
                makePass(zx[v], zy[v], real[v], imaginary[v], n[v], running[v], bound);
            }
        }
        passes += kProbeStep;
        laneSlots += kProbeStep * kAllLanes;
        CountVec anyRunning = running[0];
#pragma GCC unroll 16
        for (std::size_t v = 1; v < kVectors; ++v) {
            anyRunning = hn::Or(anyRunning, running[v]);
        }
        if (hn::AllTrue(di, hn::Eq(anyRunning, hn::Zero(di)))) {
            break;
        }
        if (passes >= kProbePasses) {
            return false;
        }
    }
    HWY_ALIGN std::int64_t counts[kAllLanes];
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        hn::Store(n[v], di, counts + v * kLanes);
    }
    std::uint8_t* const out = tile.counts + cursor.next;
#pragma GCC unroll 64
    for (std::size_t i = 0; i < kAllLanes; ++i) {
        out[i] = static_cast<std::uint8_t>(counts[i]);
    }
    cursor.advance(static_cast<std::int64_t>(kAllLanes), tile.rows);
    return true;
}

// Where the next try of a run of points may start, and how long the last
// tries failed in a row.
struct Probing {
    std::int64_t from;
    int backoff;
};

// Counts runs of points at the cursor while they stop within the probe's
// passes. Keeps kAllLanes points back for the lanes, which must all get a
// point when they first fill.
HWY_INLINE void probeAhead(Probing& probing, Cursor& cursor, const Tile& tile, std::uint64_t& laneSlots) {
    constexpr auto kRun = static_cast<std::int64_t>(kAllLanes);
    while (cursor.next >= probing.from && tile.end - cursor.next >= 2 * kRun) {
        if (!probe(cursor, tile, laneSlots)) {
            probing.from = cursor.next + (kRun << probing.backoff);
            probing.backoff = std::min(probing.backoff + 1, kMaxProbeBackoff);
            return;
        }
        probing.backoff = 0;
    }
}

// For tiles too small to give every lane a point, or whose columns are
// shorter than a vector: one point at a time.
std::uint64_t countOneByOne(const Tile& tile) {
    for (std::int64_t p = tile.begin; p < tile.end; ++p) {
        tile.counts[p] = static_cast<std::uint8_t>(escapeCount(tile.real[p / tile.rows], tile.imaginary[p % tile.rows]));
    }
    return 0;
}

std::uint64_t CountTileImpl(const Tile& tile) {
    const DoubleTag d;
    const CountTag di;
    if (tile.rows < static_cast<int>(kLanes) || tile.end - tile.begin < static_cast<std::int64_t>(kAllLanes)) {
        return countOneByOne(tile);
    }

    Cursor cursor{.next = tile.begin, .column = tile.begin / tile.rows, .row = tile.begin % tile.rows};
    std::uint64_t laneSlots = 0;
    // Columns shorter than a run of points are left to the lanes.
    Probing probing{.from = tile.rows >= static_cast<int>(kAllLanes) ? tile.begin : tile.end, .backoff = 0};
    probeAhead(probing, cursor, tile, laneSlots);

    // Every lane gets a point: the tile has kAllLanes points at least, and
    // probing keeps that many back.
    Lanes lanes;
    int finishedLanes = 0;
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        lanes.zx[v] = lanes.zy[v] = lanes.real[v] = lanes.imaginary[v] = hn::Zero(d);
        lanes.n[v] = hn::Set(di, 1);
        lanes.running[v] = hn::Zero(di);
        lanes.point[v] = hn::Set(di, tile.begin);
        finishedLanes += refill<true>(lanes, v, hn::Set(di, -1), cursor, tile);
    }

    const DoubleVec bound = hn::Set(d, kEscapeBound);
    const CountVec limit = hn::Set(di, kIterationLimit);
    int quietBlocks = 0;  // blocks in a row in which no point escaped
    for (;;) {
        // Where points escape often, counting every pass is cheaper than
        // making blocks twice; where they rarely do, it is the other way.
        // A counted block may take a lane past the limit, which costs a few
        // lane passes but keeps every counted block the same length; its
        // count is cut back to the limit when it is written. An uncounted
        // block stops at the limit, so that lanes which began together
        // finish together.
        std::int64_t passes = 0;
        bool escaped = false;
        if (quietBlocks < kQuietBlocksBeforeUncounted) {
            if (finishedLanes >= kFinishedLanesForShortBlocks) {
                passes = kShortCountedBlockPasses;
                escaped = runCountedBlock<kShortCountedBlockPasses>(lanes, bound);
            } else {
                passes = kLongCountedBlockPasses;
                escaped = runCountedBlock<kLongCountedBlockPasses>(lanes, bound);
            }
        } else {
            CountVec largest = hn::Zero(di);  // the largest count of a running lane
#pragma GCC unroll 16
            for (std::size_t v = 0; v < kVectors; ++v) {
                largest = hn::Max(largest, hn::And(lanes.running[v], lanes.n[v]));
            }
            passes = std::min(kUncountedBlockPasses, kIterationLimit - hn::GetLane(hn::MaxOfLanes(di, largest)));
            escaped = runUncountedBlock(lanes, passes, bound);
        }
        quietBlocks = escaped ? 0 : quietBlocks + 1;
        laneSlots += static_cast<std::uint64_t>(passes) * kAllLanes;

        probeAhead(probing, cursor, tile, laneSlots);
        CountVec anyRunning = hn::Zero(di);
        finishedLanes = 0;
#pragma GCC unroll 16
        for (std::size_t v = 0; v < kVectors; ++v) {
            const CountVec goesOn = hn::And(lanes.running[v], hn::VecFromMask(di, hn::Lt(lanes.n[v], limit)));
            if (!hn::AllTrue(di, hn::MaskFromVec(goesOn))) {
                finishedLanes += refill<false>(lanes, v, hn::Not(goesOn), cursor, tile);
            }
            anyRunning = hn::Or(anyRunning, lanes.running[v]);
        }
        if (hn::AllTrue(di, hn::Eq(anyRunning, hn::Zero(di)))) {
            break;
        }
    }
    return laneSlots;
}

}  // namespace HWY_NAMESPACE
}  // namespace setview
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace setview {

HWY_EXPORT(CountTileImpl);

std::uint64_t countTile(const Tile& tile) { return HWY_DYNAMIC_DISPATCH(CountTileImpl)(tile); }

}  // namespace setview
#endif
