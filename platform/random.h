// The process-wide pseudo-random generator: integers 0 .. 32767, as the coding modules expect.
// One generator for the whole program so that the seeding points (channel errors, dither, codebook
// initialisation) behave as one stream; tests seed it to make runs reproducible.
#pragma once

#include <cstdint>

namespace zn {

constexpr int kRandMax = 32767;

int Rand();                  // next value, 0 .. kRandMax
void SeedRand(uint32_t seed); // restart the sequence from a seed
void SeedRandFromClock();    // reseed from the clock (unless a test has pinned the seed)

// While a test pins the seed, SeedRandFromClock() reseeds with the pinned value instead, so runs that
// the program would seed from the clock become reproducible.
void PinRandSeed(uint32_t seed);
void UnpinRandSeed();

} // namespace zn
