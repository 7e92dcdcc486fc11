// SSE2 helpers shared by the decoder's and the encoder's pixel kernels.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>

namespace zn::simd {

// (a + b + c + d + 2) >> 2 of four byte vectors, exactly, in bytes: with p, q the rounded-up means of
// the pairs and r theirs, r is one too high just when p and q differ in their last bit and one of the
// pairs had an odd sum (each rounding up then added a half that the exact sum does not have).
inline __m128i Mean4(__m128i a, __m128i b, __m128i c, __m128i d)
{
    const __m128i p = _mm_avg_epu8(a, b), q = _mm_avg_epu8(c, d);
    const __m128i odd = _mm_or_si128(_mm_xor_si128(a, b), _mm_xor_si128(c, d));
    const __m128i excess = _mm_and_si128(_mm_and_si128(_mm_xor_si128(p, q), odd), _mm_set1_epi8(1));
    return _mm_sub_epi8(_mm_avg_epu8(p, q), excess);
}

} // namespace zn::simd

#endif
