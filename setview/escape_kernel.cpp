// The SIMD kernel behind escapeCounts, compiled once per Highway target and
// chosen at run time.
//
// Where points stop within a few passes, as in most of the area around the
// set, runs of consecutive points are counted straight away, one point per
// lane, with no lane bookkeeping at all. Elsewhere each vector lane carries
// one point, and a lane whose point has finished takes the next point of the
// tile at the next block boundary, so that one slow point never holds idle
// lanes beside it. A point in the main cardioid or the disc of period two
// gets its count, the limit, as it is taken, and its lane the next point at
// once: those points fill most of many views and would make every pass.
// Several independent vectors are kept in flight to hide the latency of the
// multiply-add chain.
//
// Every lane performs exactly the arithmetic of the reference loop, in the
// same order and precision (2 * zy may come out as zy + zy, which gives the
// same bits for every double); the build forbids FMA contraction. Only the
// bookkeeping differs: a pass is counted for the lanes still running, and a
// lane that fails the escape test stays stopped. Where no point is expected
// to escape, blocks of passes run without that bookkeeping and are made again
// with it in the rare case that a point did escape.
//
// The kernel is written for any vector length. On SVE the length is known
// only at run time, so the lane count is always Lanes(d), and vectors never
// sit in arrays or structs, which cannot hold vectors of unknown size: the
// lanes' state lives in plain aligned memory, sized for the longest vector a
// target allows, and the hot loops load it into vector variables.

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

// 2 * zy: with a constant 2 the compiler makes it zy + zy, the same bits. In
// counted passes that suits; in uncounted passes the adders are the busiest
// units, and a 2 the compiler cannot see keeps it a multiplication, which
// moves the work to the multipliers and makes those passes about a tenth
// faster.
const volatile double kOpaqueTwo = 2.0;

// Independent vectors in flight. Four just cover the nine-cycle latency of
// one pass, and the pass units still wait on it now and then; five leave
// room, and more no longer fit the registers. AVX2 is the exception: its
// sixteen registers cannot hold the counts and flags of five vectors, which
// then go through memory on every counted pass. With four, counted passes
// run about 7 % faster, and the boundary view draws about a tenth faster;
// uncounted passes, with less room for the latency, lose up to 3 %. (SSE4's
// two-lane passes, with as many registers, are faster with five all the
// same.)
#if HWY_TARGET == HWY_AVX2
constexpr std::size_t kVectors = 4;
#else
constexpr std::size_t kVectors = 5;
#endif
// Room for the lanes of the longest vectors this target may have; a
// processor with shorter ones uses the first kVectors * Lanes(d) entries.
constexpr std::size_t kMaxAllLanes = kVectors * hn::MaxLanes(DoubleTag());
static_assert(kMaxAllLanes <= kImaginaryPadding, "one run of imaginary parts must stay inside the padding");

// On AVX-512 the escape test writes a mask register. There the running
// flags of the vectors in flight stay in mask registers across a block: a pass
// is counted by an add under the flags, and the test is a compare under them,
// which clears the flag of a lane that fails. Between blocks the flags are a
// byte of bits per vector. Elsewhere the test gives a vector, and the flags
// are vectors of all ones, subtracted from the counts and ANDed with the test.
#undef SETVIEW_MASK_REGISTERS
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
#define SETVIEW_MASK_REGISTERS 1
using RunningFlags = std::uint8_t;  // a bit for each lane of a vector
constexpr std::size_t kRunningEntries = kVectors;
using Running = hn::Mask<CountTag>;
#else
#define SETVIEW_MASK_REGISTERS 0
using RunningFlags = std::int64_t;  // all ones for a lane that runs
constexpr std::size_t kRunningEntries = kMaxAllLanes;
using Running = CountVec;
#endif
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
// Runs of kVectors * Lanes(d) consecutive points are tried with up to
// kProbePasses counted passes, looking every kProbeStep passes whether all
// have stopped. A run in which a point goes on is left to the lanes, and the
// next try waits for twice as many points as the last, up to 2^kMaxProbeBackoff
// runs, so that inside the set tries cost next to nothing. Tries of eight
// passes take more runs but fail more often: on x86 the whole view draws 2 %
// (AVX-512) to 13 % (AVX2) faster with four, in WebAssembly 5 % slower.
#if HWY_TARGET == HWY_WASM
constexpr std::int64_t kProbePasses = 8;
#else
constexpr std::int64_t kProbePasses = 4;
#endif
constexpr std::int64_t kProbeStep = 4;
constexpr int kMaxProbeBackoff = 6;

// The state of every lane, vector after vector: lane l of vector v is entry
// v * Lanes(d) + l of each array; running, whose layout depends on the
// target, is read and written only through runningAt and isRunning.
struct LaneState {
    HWY_ALIGN double zx[kMaxAllLanes];
    HWY_ALIGN double zy[kMaxAllLanes];
    HWY_ALIGN double real[kMaxAllLanes];
    HWY_ALIGN double imaginary[kMaxAllLanes];
    HWY_ALIGN std::int64_t n[kMaxAllLanes];
    HWY_ALIGN RunningFlags running[kRunningEntries];  // whether the lane's point goes on
    HWY_ALIGN std::int64_t point[kMaxAllLanes];       // where its count goes
};

// The running flags of vector v, as the counted passes keep them, and
// setting them.
HWY_INLINE Running runningAt(const LaneState& lanes, std::size_t v) {
#if SETVIEW_MASK_REGISTERS
    return hn::LoadMaskBits(CountTag(), &lanes.running[v]);
#else
    const CountTag di;
    return hn::Load(di, lanes.running + v * hn::Lanes(di));
#endif
}

HWY_INLINE void setRunningAt(LaneState& lanes, std::size_t v, Running running) {
#if SETVIEW_MASK_REGISTERS
    hn::StoreMaskBits(CountTag(), running, &lanes.running[v]);
#else
    const CountTag di;
    hn::Store(running, di, lanes.running + v * hn::Lanes(di));
#endif
}

// Whether the lanes of vector v are running, and setting that.
HWY_INLINE hn::Mask<CountTag> isRunning(const LaneState& lanes, std::size_t v) {
#if SETVIEW_MASK_REGISTERS
    return runningAt(lanes, v);
#else
    return hn::MaskFromVec(runningAt(lanes, v));
#endif
}

HWY_INLINE void setRunning(LaneState& lanes, std::size_t v, hn::Mask<CountTag> running) {
#if SETVIEW_MASK_REGISTERS
    setRunningAt(lanes, v, running);
#else
    setRunningAt(lanes, v, hn::VecFromMask(CountTag(), running));
#endif
}

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

// One pass of the lanes of the vector at `at`, over their memory: with the
// vectors' offsets known, GCC keeps them in registers across the loops.
HWY_INLINE DoubleVec iterateAt(LaneState& lanes, std::size_t at, DoubleVec two) {
    const DoubleTag d;
    DoubleVec zx = hn::Load(d, lanes.zx + at);
    DoubleVec zy = hn::Load(d, lanes.zy + at);
    const DoubleVec sum = iterate(zx, zy, hn::Load(d, lanes.real + at), hn::Load(d, lanes.imaginary + at), two);
    hn::Store(zx, d, lanes.zx + at);
    hn::Store(zy, d, lanes.zy + at);
    return sum;
}

// One counted pass of the lanes of the vector at `at`: the running lanes
// count it, make it, and go on running only if they pass the test that
// follows it. A lane that fails the test stays stopped whatever its iterate
// does afterwards; NaN fails it too. Highway 1.0 has no add or compare under
// a mask, and GCC does not fuse IfThenElse or And into them, hence the
// intrinsics for mask registers.
HWY_INLINE Running countedPass(LaneState& lanes, std::size_t at, Running running, DoubleVec two) {
    const DoubleTag d;
    const CountTag di;
    const CountVec n = hn::Load(di, lanes.n + at);
#if SETVIEW_MASK_REGISTERS
    hn::Store(CountVec{_mm512_mask_add_epi64(n.raw, running.raw, n.raw, hn::Set(di, 1).raw)}, di, lanes.n + at);
    const DoubleVec sum = iterateAt(lanes, at, two);
    return Running{_mm512_mask_cmp_pd_mask(running.raw, sum.raw, hn::Set(d, kEscapeBound).raw, _CMP_LT_OQ)};
#else
    hn::Store(hn::Sub(n, running), di, lanes.n + at);
    const DoubleVec sum = iterateAt(lanes, at, two);
    return hn::And(running, hn::BitCast(di, hn::VecFromMask(d, hn::Lt(sum, hn::Set(d, kEscapeBound)))));
#endif
}

// `passes` counted passes for the lanes of vector v.
HWY_INLINE void makeCountedPasses(LaneState& lanes, std::size_t v, std::int64_t passes) {
    const DoubleVec two = hn::Set(DoubleTag(), 2.0);
    const std::size_t at = v * hn::Lanes(DoubleTag());
    Running running = runningAt(lanes, v);
    for (std::int64_t p = 0; p < passes; ++p) {
        running = countedPass(lanes, at, running, two);
    }
    setRunningAt(lanes, v, running);
}

// A block of kPasses counted passes for all vectors, interleaved pass by pass
// so that the vectors' chains overlap. Written over the lanes' memory: with
// the vectors' offsets known, GCC keeps them in registers across the block.
// Mask registers may sit in an array, and keep the flags there; vectors
// cannot on SVE, so there the flags go through the lanes' memory too.
template <std::int64_t kPasses>
HWY_INLINE void runCountedBlock(LaneState& lanes) {
#if SETVIEW_MASK_REGISTERS
    const DoubleVec two = hn::Set(DoubleTag(), 2.0);
    const std::size_t count = hn::Lanes(DoubleTag());
    Running running[kVectors];
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        running[v] = runningAt(lanes, v);
    }
    for (std::int64_t p = 0; p < kPasses; ++p) {
#pragma GCC unroll 16
        for (std::size_t v = 0; v < kVectors; ++v) {
            running[v] = countedPass(lanes, v * count, running[v], two);
        }
    }
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        setRunningAt(lanes, v, running[v]);
    }
#else
    for (std::int64_t p = 0; p < kPasses; ++p) {
#pragma GCC unroll 16
        for (std::size_t v = 0; v < kVectors; ++v) {
            makeCountedPasses(lanes, v, 1);
        }
    }
#endif
}

// How many lanes are running, over all vectors.
HWY_INLINE std::size_t runningLanes(const LaneState& lanes) {
    const CountTag di;
    std::size_t total = 0;
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        total += hn::CountTrue(di, isRunning(lanes, v));
    }
    return total;
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
HWY_INLINE bool runUncountedBlock(LaneState& lanes, std::int64_t passes) {
    const DoubleTag d;
    const CountTag di;
    const std::size_t count = hn::Lanes(d);
    const std::size_t allLanes = kVectors * count;
    const DoubleVec two = hn::Set(d, kOpaqueTwo);
    const DoubleVec bound = hn::Set(d, kEscapeBound);
    // Where a vector made again starts from, and the largest sum each lane
    // saw in the block.
    HWY_ALIGN double startZx[kMaxAllLanes];
    HWY_ALIGN double startZy[kMaxAllLanes];
    HWY_ALIGN double peak[kMaxAllLanes];
    std::copy_n(lanes.zx, allLanes, startZx);
    std::copy_n(lanes.zy, allLanes, startZy);
    std::fill_n(peak, allLanes, 0.0);
    for (std::int64_t p = 0; p < passes; ++p) {
#pragma GCC unroll 16
        for (std::size_t v = 0; v < kVectors; ++v) {
            const std::size_t at = v * count;
            const DoubleVec sum = iterateAt(lanes, at, two);
            hn::Store(hn::Max(hn::Load(d, peak + at), sum), d, peak + at);
        }
    }
    bool replayed = false;
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        const std::size_t at = v * count;
        const DoubleVec zx = hn::Load(d, lanes.zx + at);
        const DoubleVec zy = hn::Load(d, lanes.zy + at);
        const DoubleVec next = hn::Add(hn::Mul(zx, zx), hn::Mul(zy, zy));
        if (hn::AllTrue(d, hn::And(hn::Lt(hn::Load(d, peak + at), bound), hn::Lt(next, bound)))) {
            const CountVec n = hn::Load(di, lanes.n + at);
            hn::Store(hn::Add(n, hn::IfThenElseZero(isRunning(lanes, v), hn::Set(di, passes))), di, lanes.n + at);
        } else {
            replayed = true;
            hn::Store(hn::Load(d, startZx + at), d, lanes.zx + at);
            hn::Store(hn::Load(d, startZy + at), d, lanes.zy + at);
            makeCountedPasses(lanes, v, passes);
        }
    }
    return replayed;
}

// staysToTheLimit for each lane, with the same operations in the same order.
HWY_INLINE hn::Mask<DoubleTag> staysToTheLimit(DoubleVec real, DoubleVec imaginary) {
    const DoubleTag d;
    const DoubleVec fromCusp = hn::Sub(real, hn::Set(d, 0.25));
    const DoubleVec y2 = hn::Mul(imaginary, imaginary);
    const DoubleVec q = hn::Add(hn::Mul(fromCusp, fromCusp), y2);
    const DoubleVec fromMinusOne = hn::Add(real, hn::Set(d, 1.0));
    const auto inCardioid = hn::Lt(hn::Mul(q, hn::Add(q, fromCusp)), hn::Mul(hn::Set(d, 0.25 * kPulledIn), y2));
    const auto inDisc = hn::Lt(hn::Add(hn::Mul(fromMinusOne, fromMinusOne), y2), hn::Set(d, 0.0625 * kPulledIn));
    return hn::Or(inCardioid, inDisc);
}

// The ranks of every pattern of finished lanes in a vector of kTableLanes
// lanes: row `bits` holds, for each lane, how many of the set bits of `bits`
// come before it.
constexpr std::size_t kTableLanes = 4;
struct RankTable {
    HWY_ALIGN std::int64_t ranks[std::size_t{1} << kTableLanes][kTableLanes] = {};
    constexpr RankTable() {
        for (std::size_t bits = 0; bits < (std::size_t{1} << kTableLanes); ++bits) {
            for (std::size_t lane = 0; lane < kTableLanes; ++lane) {
                ranks[bits][lane] = std::popcount(bits & ((std::size_t{1} << lane) - 1));
            }
        }
    }
};

// The rank of each lane of `isFinished` among those lanes: how many of them
// come before it; the other lanes get any rank below the lane count. AVX-512
// gives every such lane the next of 0, 1, 2, ... in one expand instruction
// (Highway 1.0 has no Expand, hence the intrinsic there). Vectors of four
// lanes, as on AVX2, look them up in a table. Elsewhere the ranks are a
// running sum over the lanes, made in log2(lanes) steps that each add the
// sums so far, shifted up by twice as many lanes as the step before: one
// step for two lanes, and as many as SVE's vectors need.
HWY_INLINE CountVec ranksOf(hn::Mask<CountTag> isFinished) {
    const CountTag di;
    const CountVec lane = hn::Iota(di, 0);
#if SETVIEW_MASK_REGISTERS && (HWY_MAJOR > 1 || HWY_MINOR >= 1)
    return hn::Expand(lane, isFinished);
#elif SETVIEW_MASK_REGISTERS
    return CountVec{_mm512_maskz_expand_epi64(isFinished.raw, lane.raw)};
#else
    if constexpr (hn::MaxLanes(di) == kTableLanes) {
        static constexpr RankTable kTable;
        std::uint8_t bits[8] = {};
        hn::StoreMaskBits(di, isFinished, bits);
        return hn::Load(di, kTable.ranks[bits[0]]);
    } else {
        const CountVec one = hn::And(hn::VecFromMask(di, isFinished), hn::Set(di, 1));
        CountVec finishedUpTo = one;
        for (std::int64_t shift = 1; shift < static_cast<std::int64_t>(hn::Lanes(di)); shift *= 2) {
            const auto from = hn::IndicesFromVec(di, hn::Max(hn::Sub(lane, hn::Set(di, shift)), hn::Zero(di)));
            const CountVec shifted = hn::TableLookupLanes(finishedUpTo, from);
            finishedUpTo = hn::Add(finishedUpTo, hn::IfThenElseZero(hn::Lt(hn::Set(di, shift - 1), lane), shifted));
        }
        return hn::Sub(finishedUpTo, one);
    }
#endif
}

// Writes the counts of vector v's finished lanes and gives them the next
// points of the tile, in lane order; lanes left without a point stop, at
// zero. A new point that stays to the limit gets that count and does not
// run, and `settled` tells that one did. Returns the number of finished
// lanes. The lanes' first points come with kFirst, when there are no counts
// to write yet.
// Requires tile.rows >= Lanes(d), so that the new points span two columns at
// most.
template <bool kFirst>
HWY_INLINE int refill(LaneState& lanes, std::size_t v, Cursor& cursor, const Tile& tile, bool& settled) {
    const DoubleTag d;
    const CountTag di;
    const std::size_t count = hn::Lanes(d);
    const std::size_t at = v * count;
    const CountVec n = hn::Load(di, lanes.n + at);
    settled = false;
    const auto goesOn =
        hn::And(isRunning(lanes, v), hn::Lt(n, hn::Set(di, kIterationLimit)));
    if (!kFirst && hn::AllTrue(di, goesOn)) {
        return 0;
    }
    const auto isFinished = hn::Not(goesOn);

    // Every lane writes its count, finished or not, with no branch: a
    // running lane's count is overwritten when its point finishes, and a lane
    // left without a point keeps its last point and writes the same count
    // again. A lane may have run past the limit inside a block; its count is
    // the limit.
    if constexpr (!kFirst) {
        HWY_ALIGN std::int64_t written[hn::MaxLanes(di)];
        hn::Store(hn::Min(n, hn::Set(di, kIterationLimit)), di, written);
        std::uint8_t* const counts = tile.counts;
        for (std::size_t lane = 0; lane < count; ++lane) {
            counts[lanes.point[at + lane]] = static_cast<std::uint8_t>(written[lane]);
        }
    }

    // The finished lane with rank r among the finished ones takes the r-th
    // next point.
    const CountVec rank = ranksOf(isFinished);
    const CountVec point = hn::Add(hn::Set(di, cursor.next), rank);
    const auto isNew = hn::And(isFinished, hn::Lt(point, hn::Set(di, tile.end)));
    const auto nextColumn = hn::Lt(hn::Set(di, tile.rows - 1), hn::Add(hn::Set(di, cursor.row), rank));
    const DoubleVec real = hn::IfThenElse(hn::RebindMask(d, nextColumn), hn::Set(d, tile.real[cursor.column + 1]),
                                          hn::Set(d, tile.real[cursor.column]));
    const DoubleVec imaginary =
        hn::TableLookupLanes(hn::LoadU(d, tile.imaginary + cursor.row), hn::IndicesFromVec(d, rank));

    const auto finishedD = hn::RebindMask(d, isFinished);
    const auto isNewD = hn::RebindMask(d, isNew);
    const auto staysD = hn::And(isNewD, staysToTheLimit(real, imaginary));
    const auto stays = hn::RebindMask(di, staysD);
    settled = !hn::AllFalse(d, staysD);
    hn::Store(hn::IfThenZeroElse(finishedD, hn::Load(d, lanes.zx + at)), d, lanes.zx + at);
    hn::Store(hn::IfThenZeroElse(finishedD, hn::Load(d, lanes.zy + at)), d, lanes.zy + at);
    hn::Store(hn::IfThenElse(finishedD, hn::IfThenElseZero(isNewD, real), hn::Load(d, lanes.real + at)), d,
              lanes.real + at);
    hn::Store(hn::IfThenElse(finishedD, hn::IfThenElseZero(isNewD, imaginary), hn::Load(d, lanes.imaginary + at)),
              d, lanes.imaginary + at);
    hn::Store(hn::IfThenElse(isNew, hn::IfThenElse(stays, hn::Set(di, kIterationLimit), hn::Set(di, 1)), n), di,
              lanes.n + at);
    hn::Store(hn::IfThenElse(isNew, point, hn::Load(di, lanes.point + at)), di, lanes.point + at);
    setRunning(lanes, v, hn::Or(goesOn, hn::AndNot(stays, isNew)));

    const auto finishedLanes = static_cast<int>(hn::CountTrue(di, isFinished));
    cursor.advance(std::min<std::int64_t>(finishedLanes, tile.end - cursor.next), tile.rows);
    return finishedLanes;
}

// Refills vector v as refill does, and again as long as a new point stayed
// to the limit, so that every lane ends up running or out of points.
// Returns the number of lanes that had finished their passes.
HWY_INLINE int refillLanes(LaneState& lanes, std::size_t v, Cursor& cursor, const Tile& tile) {
    bool settled = false;
    const int finishedLanes = refill<false>(lanes, v, cursor, tile, settled);
    while (settled) {
        refill<false>(lanes, v, cursor, tile, settled);
    }
    return finishedLanes;
}

// Tries the next run of kVectors * Lanes(d) points of the tile, one point per
// lane, with up to kProbePasses counted passes. If they all stop, writes
// their counts, moves the cursor past them and returns true; otherwise
// changes nothing and returns false. Requires the run to lie within the tile
// and to span two columns at most.
HWY_INLINE bool probe(Cursor& cursor, const Tile& tile, std::uint64_t& laneSlots) {
    const DoubleTag d;
    const CountTag di;
    const std::size_t count = hn::Lanes(d);
    const std::size_t run = kVectors * count;
    const DoubleVec thisColumn = hn::Set(d, tile.real[cursor.column]);
    const DoubleVec nextColumn = hn::Set(d, tile.real[cursor.column + 1]);
    const CountVec lastRow = hn::Set(di, tile.rows - 1 - cursor.row);  // in lanes from the run's start
    LaneState lanes;
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        const std::size_t at = v * count;
        const auto inNextColumn = hn::Lt(lastRow, hn::Iota(di, static_cast<std::int64_t>(at)));
        hn::Store(hn::IfThenElse(hn::RebindMask(d, inNextColumn), nextColumn, thisColumn), d, lanes.real + at);
        hn::Store(hn::LoadU(d, tile.imaginary + cursor.row + static_cast<std::int64_t>(at)), d, lanes.imaginary + at);
        hn::Store(hn::Zero(d), d, lanes.zx + at);
        hn::Store(hn::Zero(d), d, lanes.zy + at);
        hn::Store(hn::Set(di, 1), di, lanes.n + at);
        setRunning(lanes, v, hn::MaskFromVec(hn::Set(di, -1)));
    }
    for (std::int64_t passes = kProbeStep;; passes += kProbeStep) {
        runCountedBlock<kProbeStep>(lanes);
        laneSlots += kProbeStep * run;
        if (runningLanes(lanes) == 0) {
            break;
        }
        if (passes >= kProbePasses) {
            return false;
        }
    }
    const hn::RebindToUnsigned<CountTag> du;
    const hn::Rebind<std::uint8_t, decltype(du)> bytes;
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        const std::size_t at = v * count;
        hn::StoreU(hn::TruncateTo(bytes, hn::BitCast(du, hn::Load(di, lanes.n + at))), bytes,
                   tile.counts + cursor.next + at);
    }
    cursor.advance(static_cast<std::int64_t>(run), tile.rows);
    return true;
}

// Where the next try of a run of points may start, and how long the last
// tries failed in a row.
struct Probing {
    std::int64_t from;
    int backoff;
};

// Counts runs of points at the cursor while they stop within the probe's
// passes. Keeps a run's worth of points back for the lanes, which must all
// get a point when they first fill.
HWY_INLINE void probeAhead(Probing& probing, Cursor& cursor, const Tile& tile, std::uint64_t& laneSlots) {
    const auto run = static_cast<std::int64_t>(kVectors * hn::Lanes(DoubleTag()));
    while (cursor.next >= probing.from && tile.end - cursor.next >= 2 * run) {
        if (!probe(cursor, tile, laneSlots)) {
            probing.from = cursor.next + (run << probing.backoff);
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
    const CountTag di;
    const std::size_t count = hn::Lanes(di);
    const std::size_t allLanes = kVectors * count;
    if (tile.rows < static_cast<int>(count) || tile.end - tile.begin < static_cast<std::int64_t>(allLanes)) {
        return countOneByOne(tile);
    }

    Cursor cursor{.next = tile.begin, .column = tile.begin / tile.rows, .row = tile.begin % tile.rows};
    std::uint64_t laneSlots = 0;
    // Columns shorter than a run of points are left to the lanes.
    Probing probing{.from = tile.rows >= static_cast<int>(allLanes) ? tile.begin : tile.end, .backoff = 0};
    probeAhead(probing, cursor, tile, laneSlots);

    // Every lane gets a point: the tile has a point for every lane at least,
    // and probing keeps that many back.
    // Points that stay to the limit are passed over only once every lane
    // has had its first point, which it needs for the counts it writes.
    LaneState lanes{};
    int finishedLanes = 0;
    bool settled = false;
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        finishedLanes += refill<true>(lanes, v, cursor, tile, settled);
    }
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        refillLanes(lanes, v, cursor, tile);
    }

    int quietBlocks = 0;  // blocks in a row in which no point escaped
    for (std::size_t running = runningLanes(lanes); running > 0; running = runningLanes(lanes)) {
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
                runCountedBlock<kShortCountedBlockPasses>(lanes);
            } else {
                passes = kLongCountedBlockPasses;
                runCountedBlock<kLongCountedBlockPasses>(lanes);
            }
            escaped = runningLanes(lanes) < running;
        } else {
            CountVec largest = hn::Zero(di);  // the largest count of a running lane
            for (std::size_t v = 0; v < kVectors; ++v) {
                largest = hn::Max(largest, hn::IfThenElseZero(isRunning(lanes, v), hn::Load(di, lanes.n + v * count)));
            }
            passes = std::min(kUncountedBlockPasses, kIterationLimit - hn::GetLane(hn::MaxOfLanes(di, largest)));
            escaped = runUncountedBlock(lanes, passes);
        }
        quietBlocks = escaped ? 0 : quietBlocks + 1;
        laneSlots += static_cast<std::uint64_t>(passes) * allLanes;

        probeAhead(probing, cursor, tile, laneSlots);
        finishedLanes = 0;
#pragma GCC unroll 16
        for (std::size_t v = 0; v < kVectors; ++v) {
            finishedLanes += refillLanes(lanes, v, cursor, tile);
        }
    }
    return laneSlots;
}

// The name of the Highway target this code was compiled for.
const char* TargetNameImpl() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace setview
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace setview {

HWY_EXPORT(CountTileImpl);
HWY_EXPORT(TargetNameImpl);

std::uint64_t countTile(const Tile& tile) { return HWY_DYNAMIC_DISPATCH(CountTileImpl)(tile); }

const char* countTarget() { return HWY_DYNAMIC_DISPATCH(TargetNameImpl)(); }

}  // namespace setview
#endif
