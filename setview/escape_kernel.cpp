// The SIMD kernel behind escapeCounts, compiled once per Highway target and
// chosen at run time.
//
// Each vector lane carries one point. A lane whose point has finished takes
// the next point of the tile at the next block boundary, so that one slow
// point never holds idle lanes beside it. Several independent vectors are kept
// in flight to hide the latency of the multiply-add chain.
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
using ActiveMask = hn::Mask<DoubleTag>;

// Four independent vectors cover the nine-cycle latency of one pass.
constexpr std::size_t kVectors = 4;
// Passes between two looks at the lanes: longer blocks waste more lane passes
// after a point has finished, shorter ones spend more time on bookkeeping.
// While points escape, blocks are counted and short; after a few blocks in
// which none did, they are uncounted and long, and a vector in which a point
// escapes after all makes its block again, counted.
constexpr std::int64_t kCountedBlockPasses = 8;
constexpr std::int64_t kUncountedBlockPasses = 32;
constexpr int kQuietBlocksBeforeUncounted = 3;
constexpr std::size_t kMaxLanes = HWY_MAX_BYTES / sizeof(double);

// Walks a tile's points column by column, top to bottom.
class PointCursor {
public:
    explicit PointCursor(const Tile& tile) : tile_(tile), x_(tile.columnBegin) {}

    [[nodiscard]] bool done() const { return x_ >= tile_.columnEnd || tile_.rows <= 0; }
    [[nodiscard]] double real() const { return tile_.real[x_]; }
    [[nodiscard]] double imaginary() const { return tile_.imaginary[y_]; }
    [[nodiscard]] std::int64_t index() const {
        return static_cast<std::int64_t>(x_) * tile_.rows + y_;
    }

    void advance() {
        if (++y_ == tile_.rows) {
            y_ = 0;
            ++x_;
        }
    }

private:
    const Tile& tile_;
    int x_;
    int y_ = 0;
};

// The lanes of one vector between blocks, laid out for scalar access.
struct LaneBlock {
    HWY_ALIGN double zx[kMaxLanes];
    HWY_ALIGN double zy[kMaxLanes];
    HWY_ALIGN double real[kMaxLanes];
    HWY_ALIGN double imaginary[kMaxLanes];
    HWY_ALIGN std::int64_t n[kMaxLanes];
    HWY_ALIGN std::int64_t active[kMaxLanes];
    std::int64_t point[kMaxLanes];      // index into the counts, or -1 when idle
    std::int64_t startPass[kMaxLanes];  // block pass at which the point began
};

struct LaneVectors {
    DoubleVec zx, zy, real, imaginary;
    CountVec n;
    ActiveMask active;
};

// One pass of the iterate, exactly as the reference loop makes it. Returns
// x2 + y2 of the squares it used, which the test for the next pass reads.
HWY_INLINE DoubleVec iterate(DoubleVec& zx, DoubleVec& zy, DoubleVec real, DoubleVec imaginary) {
    const DoubleTag d;
    const DoubleVec x2 = hn::Mul(zx, zx);
    const DoubleVec y2 = hn::Mul(zy, zy);
    zy = hn::Add(hn::Mul(hn::Mul(hn::Set(d, 2.0), zy), zx), imaginary);
    zx = hn::Add(hn::Sub(x2, y2), real);
    return hn::Add(x2, y2);
}

// One pass for the lanes still running: counts it, makes it, and applies the
// test that decides on the next one. A lane that fails the test stays stopped
// whatever its iterate does afterwards; NaN fails it too.
HWY_INLINE void makePass(LaneVectors& lane, DoubleVec bound) {
    const CountTag di;
    const DoubleTag d;
    lane.n = hn::Sub(lane.n, hn::BitCast(di, hn::VecFromMask(d, lane.active)));
    const DoubleVec sum = iterate(lane.zx, lane.zy, lane.real, lane.imaginary);
    lane.active = hn::And(lane.active, hn::Lt(sum, bound));
}

// Counted passes for all vectors. The vectors are copied into locals for the
// block so that they live in registers rather than in the arrays the
// bookkeeping reads.
HWY_INLINE void runCountedBlock(LaneVectors (&vectors)[kVectors], std::int64_t passes, DoubleVec bound) {
    LaneVectors local[kVectors];
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        local[v] = vectors[v];
    }
    for (std::int64_t p = 0; p < passes; ++p) {
#pragma GCC unroll 16
        for (std::size_t v = 0; v < kVectors; ++v) {
            makePass(local[v], bound);
        }
    }
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        vectors[v] = local[v];
    }
}

// Uncounted passes for all vectors, for blocks in which no point is expected
// to finish. Where every sum stayed below the bound, every lane made every
// pass and its count simply grows by `passes`. A vector in which some lane
// failed the test is taken back to the start of the block and made again
// with counted passes, which find the exact pass. NaN fails the test; it is
// checked on the last sum as well because Max treats NaN differently on
// different targets, and once a sum is NaN every later one is too.
// Returns whether any vector had to be made again.
HWY_INLINE bool runUncountedBlock(LaneVectors (&vectors)[kVectors], std::int64_t passes, DoubleVec bound) {
    const DoubleTag d;
    const CountTag di;
    // Plain vectors indexed only inside fully unrolled loops, so that GCC
    // keeps them all in registers.
    DoubleVec zx[kVectors];
    DoubleVec zy[kVectors];
    DoubleVec peak[kVectors];
    DoubleVec sum[kVectors];
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        zx[v] = vectors[v].zx;
        zy[v] = vectors[v].zy;
        peak[v] = hn::Zero(d);
        sum[v] = hn::Zero(d);
    }
    for (std::int64_t p = 0; p < passes; ++p) {
#pragma GCC unroll 16
        for (std::size_t v = 0; v < kVectors; ++v) {
            sum[v] = iterate(zx[v], zy[v], vectors[v].real, vectors[v].imaginary);
            peak[v] = hn::Max(peak[v], sum[v]);
        }
    }
    bool stayed[kVectors];
#pragma GCC unroll 16
    for (std::size_t v = 0; v < kVectors; ++v) {
        stayed[v] = hn::AllTrue(d, hn::And(hn::Lt(peak[v], bound), hn::Lt(sum[v], bound)));
        if (stayed[v]) {
            vectors[v].zx = zx[v];
            vectors[v].zy = zy[v];
            vectors[v].n = hn::Add(vectors[v].n, hn::Set(di, passes));
        }
    }
    bool replayed = false;
    for (std::size_t v = 0; v < kVectors; ++v) {
        if (!stayed[v]) {
            replayed = true;
            for (std::int64_t p = 0; p < passes; ++p) {
                makePass(vectors[v], bound);
            }
        }
    }
    return replayed;
}

std::uint64_t CountTileImpl(const Tile& tile) {
    const DoubleTag d;
    const CountTag di;
    const std::size_t lanes = hn::Lanes(d);

    PointCursor cursor(tile);
    LaneBlock blocks[kVectors];
    LaneVectors vectors[kVectors];
    // The earliest startPass of a running lane; the current pass when there is
    // none, as if a point had just begun.
    std::int64_t oldestStart[kVectors] = {};

    const auto store = [&](std::size_t v) {
        LaneBlock& block = blocks[v];
        hn::Store(vectors[v].zx, d, block.zx);
        hn::Store(vectors[v].zy, d, block.zy);
        hn::Store(vectors[v].real, d, block.real);
        hn::Store(vectors[v].imaginary, d, block.imaginary);
        hn::Store(vectors[v].n, di, block.n);
        hn::Store(hn::BitCast(di, hn::VecFromMask(d, vectors[v].active)), di, block.active);
    };
    const auto load = [&](std::size_t v) {
        const LaneBlock& block = blocks[v];
        vectors[v].zx = hn::Load(d, block.zx);
        vectors[v].zy = hn::Load(d, block.zy);
        vectors[v].real = hn::Load(d, block.real);
        vectors[v].imaginary = hn::Load(d, block.imaginary);
        vectors[v].n = hn::Load(di, block.n);
        vectors[v].active = hn::MaskFromVec(hn::BitCast(d, hn::Load(di, block.active)));
    };

    // Writes the counts of finished lanes and gives them the next points.
    // Returns whether any lane of the vector still has a point.
    const auto refill = [&](std::size_t v, std::int64_t pass) {
        store(v);
        LaneBlock& block = blocks[v];
        bool busy = false;
        oldestStart[v] = pass;
        for (std::size_t i = 0; i < lanes; ++i) {
            const bool running = block.point[i] >= 0 && block.active[i] != 0 && block.n[i] < kIterationLimit;
            if (!running) {
                if (block.point[i] >= 0) {
                    tile.counts[block.point[i]] = static_cast<std::uint8_t>(block.n[i]);
                }
                if (cursor.done()) {
                    block.point[i] = -1;
                    block.zx[i] = block.zy[i] = block.real[i] = block.imaginary[i] = 0;
                    block.n[i] = 1;
                    block.active[i] = 0;
                    continue;
                }
                block.point[i] = cursor.index();
                block.real[i] = cursor.real();
                block.imaginary[i] = cursor.imaginary();
                cursor.advance();
                block.zx[i] = block.zy[i] = 0;
                block.n[i] = 1;
                block.active[i] = -1;
                block.startPass[i] = pass;
            }
            busy = true;
            oldestStart[v] = std::min(oldestStart[v], block.startPass[i]);
        }
        load(v);
        return busy;
    };

    for (std::size_t v = 0; v < kVectors; ++v) {
        std::fill(std::begin(blocks[v].point), std::end(blocks[v].point), -1);
        std::fill(std::begin(blocks[v].active), std::end(blocks[v].active), 0);
        std::fill(std::begin(blocks[v].n), std::end(blocks[v].n), 1);
        std::fill(std::begin(blocks[v].zx), std::end(blocks[v].zx), 0.0);
        std::fill(std::begin(blocks[v].zy), std::end(blocks[v].zy), 0.0);
        std::fill(std::begin(blocks[v].real), std::end(blocks[v].real), 0.0);
        std::fill(std::begin(blocks[v].imaginary), std::end(blocks[v].imaginary), 0.0);
        load(v);
    }

    const DoubleVec bound = hn::Set(d, kEscapeBound);
    std::int64_t pass = 0;
    std::uint64_t laneSlots = 0;
    bool idle[kVectors] = {};
    int quietBlocks = 0;  // counted blocks in a row in which no point escaped
    for (;;) {
        bool anyBusy = false;
        std::int64_t oldest = pass;
        for (std::size_t v = 0; v < kVectors; ++v) {
            if (idle[v]) {
                continue;
            }
            // A lane that began at `oldestStart` has n = 1 + pass - oldestStart.
            const bool atLimit = pass - oldestStart[v] + 1 >= kIterationLimit;
            if (atLimit || !hn::AllTrue(d, vectors[v].active)) {
                idle[v] = !refill(v, pass);
            }
            anyBusy = anyBusy || !idle[v];
            oldest = std::min(oldest, oldestStart[v]);
        }
        if (!anyBusy) {
            break;
        }
        // No running lane may pass the limit inside the block: then the loop
        // test n < 200 holds for every pass the block makes, and only the
        // escape test needs checking per pass.
        // Where points escape often, counting every pass is cheaper than
        // making blocks twice; where they rarely do, it is the other way.
        const bool counted = quietBlocks < kQuietBlocksBeforeUncounted;
        const std::int64_t blockPasses = counted ? kCountedBlockPasses : kUncountedBlockPasses;
        const std::int64_t passes = std::min(blockPasses, kIterationLimit - 1 - (pass - oldest));
        if (counted) {
            runCountedBlock(vectors, passes, bound);
            bool escaped = false;
            for (const LaneVectors& lane : vectors) {
                escaped = escaped || !hn::AllTrue(d, lane.active);
            }
            quietBlocks = escaped ? 0 : quietBlocks + 1;
        } else if (runUncountedBlock(vectors, passes, bound)) {
            quietBlocks = 0;
        }
        pass += passes;
        laneSlots += static_cast<std::uint64_t>(passes) * kVectors * lanes;
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
