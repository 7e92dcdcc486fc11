// The encoder's 8 x 8 transforms: a separable floating-point forward DCT and the integer inverse DCT
// (row then column passes with 11-bit constants) that reconstructs the pictures.
#pragma once

#include <cstdint>

void ForwardDct(int16_t *block);         // vectorised: AVX where the processor has it, else two lanes
void ForwardDctTwoLanes(int16_t *block); // the two-lane form alone (tests)
void ForwardDctPlain(int16_t *block);    // the definition, row by row
void Idct(int16_t *block);
