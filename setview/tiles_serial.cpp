#include <algorithm>

#include "setview/tiles.h"

namespace setview {

void forEachTile(std::int64_t points, std::int64_t tilePoints,
                 const std::function<void(std::int64_t begin, std::int64_t end)>& count) {
    for (std::int64_t begin = 0; begin < points; begin += tilePoints) {
        count(begin, std::min(begin + tilePoints, points));
    }
}

}  // namespace setview
