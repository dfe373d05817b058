#include "setview/escape_counts.h"

#include <algorithm>
#include <atomic>

#include "setview/escape_kernel.h"
#include "setview/tiles.h"

namespace setview {

namespace {

CountGrid emptyGrid(const ViewState& view, int columns) {
    CountGrid grid;
    grid.columns = std::max(0, columns);
    grid.rows = std::max(0, view.hei + 1);
    grid.counts.assign(static_cast<std::size_t>(grid.columns) * static_cast<std::size_t>(grid.rows), 0);
    return grid;
}

// Enough points per task to amortise its start and the drain of its lanes at
// the end, few enough that two cores finish together even when one side of
// the picture is much slower: about eight columns.
constexpr std::int64_t kTilePoints = 4096;

}  // namespace

CountGrid referenceCounts(const ViewState& view) {
    CountGrid grid = emptyGrid(view, view.wid + 1);
    for (int x = 0; x < grid.columns; ++x) {
        const double cr = columnReal(view, x);
        for (int y = 0; y < grid.rows; ++y) {
            const double ci = rowImaginary(view, y);
            grid.counts[static_cast<std::size_t>(x) * static_cast<std::size_t>(grid.rows) +
                        static_cast<std::size_t>(y)] = static_cast<std::uint8_t>(escapeCount(cr, ci));
        }
    }
    return grid;
}

CountGrid escapeCounts(const ViewState& view, CountStats* stats) {
    return escapeCounts(view, Columns{.first = 0, .count = view.wid + 1}, stats);
}

CountGrid escapeCounts(const ViewState& view, Columns band, CountStats* stats) {
    const int gridColumns = std::max(0, view.wid + 1);
    const int first = std::clamp(band.first, 0, gridColumns);
    const auto bandEnd = static_cast<int>(
        std::clamp(std::int64_t{band.first} + std::max(0, band.count), std::int64_t{first}, std::int64_t{gridColumns}));
    CountGrid grid = emptyGrid(view, bandEnd - first);
    // Padded as the kernel's tiles describe.
    std::vector<double> real(static_cast<std::size_t>(grid.columns) + kRealPadding, 0.0);
    std::vector<double> imaginary(static_cast<std::size_t>(grid.rows) + kImaginaryPadding, 0.0);
    for (int x = 0; x < grid.columns; ++x) {
        real[static_cast<std::size_t>(x)] = columnReal(view, first + x);
    }
    for (int y = 0; y < grid.rows; ++y) {
        imaginary[static_cast<std::size_t>(y)] = rowImaginary(view, y);
    }
    for (std::size_t i = 0; i < kImaginaryPadding && grid.rows > 0; ++i) {
        imaginary[static_cast<std::size_t>(grid.rows) + i] = imaginary[i % static_cast<std::size_t>(grid.rows)];
    }

    std::atomic<std::uint64_t> laneSlots{0};
    forEachTile(static_cast<std::int64_t>(grid.counts.size()), kTilePoints, [&](std::int64_t begin, std::int64_t end) {
        const Tile tile{.real = real.data(),
                        .imaginary = imaginary.data(),
                        .rows = grid.rows,
                        .begin = begin,
                        .end = end,
                        .counts = grid.counts.data()};
        laneSlots.fetch_add(countTile(tile), std::memory_order_relaxed);
    });

    if (stats != nullptr) {
        stats->laneSlots = laneSlots.load();
        stats->passes = 0;
        stats->settled = 0;
        for (std::size_t p = 0; p < grid.counts.size(); ++p) {
            if (staysToTheLimit(real[p / static_cast<std::size_t>(grid.rows)],
                                imaginary[p % static_cast<std::size_t>(grid.rows)])) {
                ++stats->settled;
            } else {
                stats->passes += static_cast<std::uint64_t>(grid.counts[p] - 1);
            }
        }
    }
    return grid;
}

}  // namespace setview
