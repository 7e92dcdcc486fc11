// PCM quantisation of a window and the channel model shared by the scalar and vector coders: each
// transmitted code bit flips independently with probability p, and the flipped code word is read back
// as an index. A received index that names no level decodes as the middle level.
#include "modules/sbc/sbc_quant.h"

#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/random.h"

#include <vector>

namespace {

bool g_seeded = false; // the generator is seeded from the clock once per program run

} // namespace

int SbcBitErrors(int index, int codeLen, float p)
{
    if (!(p > 0))
        return index;
    if (!g_seeded) {
        zn::SeedRandFromClock();
        g_seeded = true;
    }
    const float scale = 1.0f / 32767.0f;
    // Code words longer than an index can hold are not produced by any quantiser; flip at most 31.
    if (codeLen > 31)
        codeLen = 31;
    unsigned mask = 0;
    for (int i = 0; i < codeLen; ++i) {
        mask <<= 1;
        if (zn::Rand() * scale < p)
            mask |= 1u;
    }
    return static_cast<int>(static_cast<unsigned>(index) ^ mask);
}

void SbcPcmQuantize(float *rate, float *distortion, const Quant *q, float p, void *plane, int, int rows,
                    int cols, long first, long stride)
{
    *rate = 0;
    *distortion = 0;
    if (!SbcQuantUsable(q))
        throw zn::RunAborted("SbcPcmQuantize-No quantizer for the samples");
    const long n = static_cast<long>(rows) * cols;
    if (n <= 0)
        return;
    const int levels = q->levels;
    const float *thr = q->thresholds.data();
    const float *rec = q->reconstruction.data();
    const int32_t *codeLen = q->code->VlcCodeLen.data();
    std::vector<int> indices(n);
    float *x = static_cast<float *>(plane) + first;
    float dist = 0; // single precision, as the reported figure is defined
    long i = 0;
    for (int r = 0; r < rows; ++r, x += stride) {
        for (int c = 0; c < cols; ++c) {
            const float v = x[c];
            const int k = SbcQuantCell(v, thr, levels);
            int received = k;
            if (p > 0) {
                received = SbcBitErrors(k, codeLen[k], p);
                if (received >= levels)
                    received = (levels - 1) / 2;
            }
            x[c] = rec[received];
            indices[i++] = k;
            const float e = v - rec[k];
            dist += e * e;
        }
    }
    float bits = 0;
    switch (q->code->type) {
    case VLC_TYPE_FLC:
    case VLC_TYPE_TABLE:
        for (int k : indices)
            bits += codeLen[k];
        break;
    case VLC_TYPE_ARITH:
        bits = static_cast<float>(SbcArithBits(indices.data(), n, q->code));
        break;
    default:
        zn::ShowMessage("SbcPcmQuantize-Invalid VLC type");
        break;
    }
    *rate = bits / n;
    *distortion = dist / n;
}
