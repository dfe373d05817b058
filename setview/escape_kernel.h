#pragma once

#include <cstdint>

namespace setview {

// Entries that follow the last column's real part: a refill reads the real
// parts of the cursor's column and the next, and once the grid is used up the
// cursor stands one column past the last.
inline constexpr int kRealPadding = 2;

// Entries that follow the last row's imaginary part: copies of the first
// rows, so that one load can take the rows of a column's end and the next
// column's start together. Covers a run of points of the kernel: five vectors
// of the longest vectors of doubles that any target has (SVE's 2048 bits).
inline constexpr int kImaginaryPadding = 5 * 32;

// A run of points for the SIMD kernel, in drawing order: point p lies in
// column p / rows and row p % rows, and its count goes to counts[p].
struct Tile {
    const double* real = nullptr;       // by column, plus kRealPadding entries
    const double* imaginary = nullptr;  // by row, plus kImaginaryPadding entries
    int rows = 0;
    std::int64_t begin = 0;
    std::int64_t end = 0;
    std::uint8_t* counts = nullptr;
};

// Fills the tile's counts with the best SIMD target of this processor.
// Returns the lane passes spent, useful or not.
std::uint64_t countTile(const Tile& tile);

// The name of the Highway target that countTile runs on this processor, such
// as "AVX3", "AVX2", "NEON" or "SVE2".
const char* countTarget();

}  // namespace setview
