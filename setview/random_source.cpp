#include "setview/random_source.h"

#include <bit>

namespace setview {

void RandomSource::Randomize(float timer) { engine_.seed(std::bit_cast<std::uint32_t>(timer)); }

float RandomSource::Rnd() {
    constexpr float kScale = 0x1p-24F;
    return static_cast<float>(engine_() >> 8U) * kScale;
}

}  // namespace setview
