#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>

#include "setview/tiles.h"

namespace setview {

void forEachTile(std::int64_t points, std::int64_t tilePoints,
                 const std::function<void(std::int64_t begin, std::int64_t end)>& count) {
    // The simple partitioner keeps every task at one tile, so that two cores
    // share the work evenly even when one side of the picture is much slower.
    tbb::parallel_for(
        tbb::blocked_range<std::int64_t>(0, points, tilePoints),
        [&](const tbb::blocked_range<std::int64_t>& tile) { count(tile.begin(), tile.end()); },
        tbb::simple_partitioner{});
}

}  // namespace setview
