// Quantisers and inverse quantisers of MPEG-1/2 video: weighted by a matrix, scaled by the
// macroblock's quantiser. The inverse forms are exactly a decoder's, so encoder and decoder
// reconstruct the same pictures.
#pragma once

#include <cstdint>

int QuantIntra(const int16_t *src, int16_t *dst, int dcPrec, const uint8_t *matrix, int mquant, bool mpeg1);
int QuantNonIntra(const int16_t *src, int16_t *dst, const uint8_t *matrix, int mquant, bool mpeg1);
void DequantIntra(const int16_t *src, int16_t *dst, int dcPrec, const uint8_t *matrix, int mquant,
                  bool mpeg1);
void DequantNonIntra(const int16_t *src, int16_t *dst, const uint8_t *matrix, int mquant, bool mpeg1);
void DequantIntraMpeg1(const int16_t *src, int16_t *dst, int dcPrec, const uint8_t *matrix, int mquant);
void DequantNonIntraMpeg1(const int16_t *src, int16_t *dst, const uint8_t *matrix, int mquant);
