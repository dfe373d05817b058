#include "setview/escape_counts.h"

#include <algorithm>
#include <atomic>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>

#include "setview/escape_kernel.h"

namespace setview {

namespace {

CountGrid emptyGrid(const ViewState& view) {
    CountGrid grid;
    grid.columns = std::max(0, view.wid + 1);
    grid.rows = std::max(0, view.hei + 1);
    grid.counts.assign(static_cast<std::size_t>(grid.columns) * static_cast<std::size_t>(grid.rows), 0);
    return grid;
}

// Enough columns per task to amortise its start, few enough that two cores
// finish together even when one side of the picture is much slower.
constexpr int kTileColumns = 8;

}  // namespace

CountGrid referenceCounts(const ViewState& view) {
    CountGrid grid = emptyGrid(view);
    for (int x = 0; x < grid.columns; ++x) {
        const double cr = columnReal(view, x);
        for (int y = 0; y < grid.rows; ++y) {
            const double ci = rowImaginary(view, y);
            double zx = 0;
            double zy = 0;
            double x2 = 0;
            double y2 = 0;
            int n = 1;
            // The test sees x2 and y2 of the pass before the latest one, so an
            // escaping point always makes one pass more than it needs.
            while (n < kIterationLimit && x2 + y2 < kEscapeBound) {
                x2 = zx * zx;
                y2 = zy * zy;
                zy = ((2 * zy) * zx) + ci;
                zx = (x2 - y2) + cr;
                ++n;
            }
            grid.counts[static_cast<std::size_t>(x) * static_cast<std::size_t>(grid.rows) +
                        static_cast<std::size_t>(y)] = static_cast<std::uint8_t>(n);
        }
    }
    return grid;
}

CountGrid escapeCounts(const ViewState& view, CountStats* stats) {
    CountGrid grid = emptyGrid(view);
    std::vector<double> real(static_cast<std::size_t>(grid.columns));
    std::vector<double> imaginary(static_cast<std::size_t>(grid.rows));
    for (int x = 0; x < grid.columns; ++x) {
        real[static_cast<std::size_t>(x)] = columnReal(view, x);
    }
    for (int y = 0; y < grid.rows; ++y) {
        imaginary[static_cast<std::size_t>(y)] = rowImaginary(view, y);
    }

    std::atomic<std::uint64_t> laneSlots{0};
    tbb::parallel_for(
        tbb::blocked_range<int>(0, grid.columns, kTileColumns),
        [&](const tbb::blocked_range<int>& columns) {
            const Tile tile{.real = real.data(),
                            .imaginary = imaginary.data(),
                            .rows = grid.rows,
                            .columnBegin = columns.begin(),
                            .columnEnd = columns.end(),
                            .counts = grid.counts.data()};
            laneSlots.fetch_add(countTile(tile), std::memory_order_relaxed);
        },
        tbb::simple_partitioner{});

    if (stats != nullptr) {
        stats->laneSlots = laneSlots.load();
        stats->passes = 0;
        for (const std::uint8_t n : grid.counts) {
            stats->passes += static_cast<std::uint64_t>(n - 1);
        }
    }
    return grid;
}

}  // namespace setview
