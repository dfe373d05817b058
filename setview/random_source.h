#pragma once

#include <cstdint>
#include <random>

namespace setview {

// The one pseudo-random generator of the program: uniform single-precision
// values in [0, 1), seeded once at start-up from the time of day. Tests seed it
// with a fixed value instead.
class RandomSource {
public:
    explicit RandomSource(std::uint32_t seed = 0) : engine_(seed) {}

    // Reseeds from the seconds since midnight, so that every start differs.
    void Randomize(float timer);

    // The next value in [0, 1): 24 random bits scaled by 2^-24 are exact in
    // single precision and never reach 1.
    float Rnd();

private:
    std::mt19937 engine_;
};

}  // namespace setview
