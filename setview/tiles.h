#pragma once

#include <cstdint>
#include <functional>

namespace setview {

// Calls count(begin, end) for consecutive stretches [begin, end) of the
// points 0 ... points - 1, each at most tilePoints long, and returns when all
// are done. Builds with threads spread the stretches over the threads of the
// current oneTBB arena; builds without (the web page, which runs on one
// thread) count them one after another.
void forEachTile(std::int64_t points, std::int64_t tilePoints,
                 const std::function<void(std::int64_t begin, std::int64_t end)>& count);

}  // namespace setview
