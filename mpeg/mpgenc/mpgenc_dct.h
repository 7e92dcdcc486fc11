// The encoder's 8 x 8 transforms: a separable floating-point forward DCT and the integer inverse DCT
// (row then column passes with 11-bit constants) that reconstructs the pictures.
#pragma once

#include <cstdint>

void ForwardDct(int16_t *block);         // vectorised: AVX where the processor has it, else two lanes
void ForwardDctTwoLanes(int16_t *block); // the two-lane form alone (tests)
void ForwardDctPlain(int16_t *block);    // the definition, row by row
void Idct(int16_t *block);
// A block with no coded levels reconstructs to zeros in both standards (MPEG-2's mismatch control
// leaves a lone 1 in the last coefficient, which the inverse transform rounds away): then an uncoded
// block of a predicted macroblock is its prediction, and needs neither dequantising nor transforming.
// Checked once on the transform itself.
bool UncodedBlockIsZero();
