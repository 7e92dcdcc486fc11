// Distortion measures of the encoder's motion estimation: sums of absolute and of squared differences
// between a 16-wide reference area at a half-pel position and the current block, with and without
// averaging two references. Each measure has a plain form (one sample at a time, the definition)
// beside the fast one (SSE2 where the processor has it, whole rows per case otherwise); both give
// equal sums for every input, early stops included.
#pragma once

#include <cstdint>

// Half-pel flags hx, hy select the sample: copy, mean of two or of four neighbours, rounded up.
// At full-pel positions SadBlock stops after any line once the sum has reached `limit`.
int SadBlock(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy, int limit);
int SadBlockPlain(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy, int limit);
int SseBlock(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy);
int SseBlockPlain(const uint8_t *ref, const uint8_t *cur, int stride, int h, int hx, int hy);
// The reference is the rounded mean of two half-pel references p and q (bidirectional or dual prime).
int SadInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy);
int SadInterpolatedPlain(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                         int phy, int qhx, int qhy);
int SseInterpolated(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                    int phy, int qhx, int qhy);
int SseInterpolatedPlain(const uint8_t *p, const uint8_t *q, const uint8_t *cur, int stride, int h, int phx,
                         int phy, int qhx, int qhy);
// Sum of squares minus (sum)^2 / 256 of a 16 x 16 block: 256 times its variance.
int BlockVariance16(const uint8_t *p, int stride);
int BlockVariance16Plain(const uint8_t *p, int stride);
// Full-pel sum over a w x h area that stops after a line once it exceeds `best` (window searches).
int SadArea(const uint8_t *ref, int refStride, const uint8_t *cur, int curStride, int w, int h, int best);
int SadAreaPlain(const uint8_t *ref, int refStride, const uint8_t *cur, int curStride, int w, int h,
                 int best);
