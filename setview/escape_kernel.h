#pragma once

#include <cstdint>

namespace setview {

// One tile of columns for the SIMD kernel: every row of the columns
// [columnBegin, columnEnd), with the points of each column and row already
// computed.
struct Tile {
    const double* real = nullptr;       // real part by column
    const double* imaginary = nullptr;  // imaginary part by row
    int rows = 0;
    int columnBegin = 0;
    int columnEnd = 0;
    std::uint8_t* counts = nullptr;  // column by column, `rows` high
};

// Fills the tile's counts with the best SIMD target of this processor.
// Returns the lane passes spent, useful or not.
std::uint64_t countTile(const Tile& tile);

}  // namespace setview
