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
// The same results as DequantIntra and DequantNonIntra, working on the non-zero levels only (a zero
// level reconstructs to zero in every form), which are found eight at a time.
void DequantIntraFast(const int16_t *src, int16_t *dst, int dcPrec, const uint8_t *matrix, int mquant,
                      bool mpeg1);
void DequantNonIntraFast(const int16_t *src, int16_t *dst, const uint8_t *matrix, int mquant, bool mpeg1);

// floor(n / d) as a multiplication and a shift, exact for every n below 2^22 (d from 1 to 2^16): with
// l = ceil(log2 d) and m = floor(2^(22 + l) / d) + 1, m d lies in (2^(22 + l), 2^(22 + l) + 2^l], which
// keeps n m / 2^(22 + l) within the same integer as n / d.
struct ExactDivisor
{
    uint64_t m = 1;
    int shift = 0;
    explicit ExactDivisor(uint32_t d = 1);
    uint32_t Divide(uint32_t n) const { return static_cast<uint32_t>((n * m) >> shift); }
};

// QuantIntra and QuantNonIntra for one matrix, with the same results: the divisions become exact
// multiplications, and the coefficients that quantise to zero (most of them) are found first, eight
// at a time, by comparing |x| with the least magnitude that gives a level of 1.
class FastQuantiser
{
public:
    explicit FastQuantiser(const uint8_t *matrix);
    int Intra(const int16_t *src, int16_t *dst, int dcPrec, int mquant, bool mpeg1);
    int NonIntra(const int16_t *src, int16_t *dst, int mquant, bool mpeg1);

private:
    // The thresholds and the quantiser's divisor, kept for the last quantiser of each kind.
    void Prepare(int mquant, bool intra);
    uint8_t m_matrix[64];
    ExactDivisor m_weight[64];
    int m_mquant = -1;
    bool m_intra = false;
    ExactDivisor m_step;
    alignas(16) int16_t m_least[64];
};
