#pragma once

#include <array>
#include <cstdint>

#include "setview/escape_counts.h"

namespace setview {

struct ViewState;

// A colour as the program builds it: red + 256 x green + 65536 x blue.
using Colour = std::uint32_t;

constexpr Colour RGB(int red, int green, int blue) {
    return static_cast<Colour>(red) + 256U * static_cast<Colour>(green) +
           65536U * static_cast<Colour>(blue);
}

constexpr int redOf(Colour colour) { return static_cast<int>(colour & 0xFFU); }
constexpr int greenOf(Colour colour) { return static_cast<int>((colour >> 8U) & 0xFFU); }
constexpr int blueOf(Colour colour) { return static_cast<int>((colour >> 16U) & 0xFFU); }

// round(n x factor) Mod 255. The product stays in single precision and a half
// rounds to the even neighbour, so a factor of 2.5 and n = 3 give 8. A channel
// is 0 ... 254, never 255.
int colourChannel(int n, float factor);

// The colour of every pass count 0 ... kIterationLimit for the view's three
// factors: a colour depends on nothing else, so a drawing needs it only once.
using ColourTable = std::array<Colour, kIterationLimit + 1>;
ColourTable colourTable(const ViewState& view);

}  // namespace setview
