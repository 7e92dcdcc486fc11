// The frame/field DCT choice, the forward transform of the prediction error, reconstruction
// (inverse transform plus prediction), and the per-picture quality figures and macroblock statistics.
#include "mpeg/mpgenc/mpgenc.h"

#include "mpeg/mpgdec/mpeg_kernels.h"
#include "mpeg/mpgenc/mpgenc_dct.h"
#include "platform/format.h"
#include "platform/messages.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void MpegEncoder::DctTypeEstimation(uint8_t *const pred[3], uint8_t *const cur[3])
{
    const MpegEncoderState &s = m_s;
    for (int j = 0, k = 0; j < s.height2; j += 16)
        for (int i = 0; i < s.width; i += 16, ++k) {
            MacroblockRecord &mb = m_mbinfo[k];
            if (s.pict_struct != FRAME_PICTURE || s.frame_pred_dct) {
                mb.dct_type = 0;
                continue;
            }
            // Correlation of vertically adjacent lines: strong in a progressive-looking area, weak where
            // the two fields differ (motion between them), which is when field DCT compacts better.
            double s0 = 0, s1 = 0, q0 = 0, q1 = 0, p = 0;
            for (int jj = 0; jj < 16; jj += 2)
                for (int ii = 0; ii < 16; ++ii) {
                    const long a = i + ii + static_cast<long>(j + jj) * s.width;
                    const long b = a + s.width;
                    const double v0 = cur[0][a] - pred[0][a];
                    const double v1 = cur[0][b] - pred[0][b];
                    s0 += v0;
                    s1 += v1;
                    q0 += v0 * v0;
                    q1 += v1 * v1;
                    p += v0 * v1;
                }
            const double d = (q0 - s0 * s0 / 128.0) * (q1 - s1 * s1 / 128.0);
            mb.dct_type = (d > 0.0 && (p - s0 * s1 / 128.0) / std::sqrt(d) > 0.5) ? 0 : 1;
        }
}

namespace {

// Top-left sample and line stride of block b of a macroblock.
struct BlockPlace
{
    int comp;
    long offset;
    int stride;
};

BlockPlace Place(const MpegEncoderState &s, const MacroblockRecord &mb, int b, int x, int y)
{
    const long fieldOff = s.pict_struct == BOTTOM_FIELD ? 1 : 0;
    if (b < 4) {
        const int xo = 8 * (b & 1);
        if (s.pict_struct == FRAME_PICTURE && mb.dct_type)
            return {0, x + xo + static_cast<long>(y + ((b & 2) >> 1)) * s.width, 2 * s.width};
        return {0, x + xo + static_cast<long>(y + 8 * ((b & 2) >> 1)) * s.width2 + fieldOff * s.width,
                s.width2};
    }
    return {b == 4 ? 1 : 2, x / 2 + static_cast<long>(y / 2) * s.chrom_width2 + fieldOff * s.chrom_width,
            s.chrom_width2};
}

// The prediction error of one 8 x 8 block: what the transform codes.
void SubtractPrediction(const uint8_t *pred, const uint8_t *cur, int stride, int16_t *blk)
{
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            const long at = c + static_cast<long>(r) * stride;
            blk[8 * r + c] = static_cast<int16_t>(cur[at] - pred[at]);
        }
}

// The decoded error added back onto the prediction, clipped to sample range: the decoder's picture.
// The decoder's kernel: encoder and decoder reconstruct alike by construction.
void AddPrediction(const uint8_t *pred, uint8_t *cur, int stride, const int16_t *blk)
{
    zn::AddBlockFast(blk, pred, cur, stride);
}

// An uncoded block of a predicted macroblock: its prediction.
void CopyBlock(const uint8_t *pred, uint8_t *cur, int stride)
{
    for (int r = 0; r < 8; ++r)
        std::memcpy(cur + static_cast<long>(r) * stride, pred + static_cast<long>(r) * stride, 8);
}

// Mean squared error of a w x h area and the variance of its source samples. The sums are of whole
// numbers below 2^53, kept as integers (which vectorises): their doubles are those a sum in doubles
// would reach.
void PlaneMseVar(const uint8_t *org, const uint8_t *rec, int w, int h, int stride, double &mse, double &var)
{
    long long sum = 0, sum2 = 0, err = 0;
    for (int j = 0; j < h; ++j) {
        const uint8_t *o = org + static_cast<long>(j) * stride, *r = rec + static_cast<long>(j) * stride;
        int rowSum = 0, rowSum2 = 0, rowErr = 0; // at most 16383 samples a line: no overflow
        for (int i = 0; i < w; ++i) {
            const int v = o[i], e = v - r[i];
            rowSum += v;
            rowSum2 += v * v;
            rowErr += e * e;
        }
        sum += rowSum;
        sum2 += rowSum2;
        err += rowErr;
    }
    const double n = static_cast<double>(w) * h;
    const double dsum = static_cast<double>(sum), dsum2 = static_cast<double>(sum2);
    mse = static_cast<double>(err) / n;
    var = dsum2 / n - (dsum / n) * (dsum / n);
}

} // namespace

void MpegEncoder::Transform(uint8_t *const pred[3], uint8_t *const cur[3])
{
    const MpegEncoderState &s = m_s;
    for (int j = 0, k = 0; j < s.height2; j += 16)
        for (int i = 0; i < s.width; i += 16, ++k)
            for (int b = 0; b < s.block_count; ++b) {
                const BlockPlace pl = Place(s, m_mbinfo[k], b, i, j);
                int16_t *blk = m_blocks.data() + (static_cast<size_t>(k) * s.block_count + b) * 64;
                SubtractPrediction(pred[pl.comp] + pl.offset, cur[pl.comp] + pl.offset, pl.stride, blk);
                ForwardDct(blk);
            }
}

void MpegEncoder::InverseTransform(uint8_t *const pred[3], uint8_t *const cur[3])
{
    const MpegEncoderState &s = m_s;
    for (int j = 0, k = 0; j < s.height2; j += 16)
        for (int i = 0; i < s.width; i += 16, ++k)
            for (int b = 0; b < s.block_count; ++b) {
                const BlockPlace pl = Place(s, m_mbinfo[k], b, i, j);
                int16_t *blk = m_blocks.data() + (static_cast<size_t>(k) * s.block_count + b) * 64;
                if (!IsCoded(m_mbinfo[k], b) && UncodedBlockIsZero()) {
                    CopyBlock(pred[pl.comp] + pl.offset, cur[pl.comp] + pl.offset, pl.stride);
                    continue;
                }
                Idct(blk);
                AddPrediction(pred[pl.comp] + pl.offset, cur[pl.comp] + pl.offset, pl.stride, blk);
            }
}

void MpegEncoder::CalcSnr(uint8_t *const org[3], uint8_t *const rec[3], double mse[3], double snr[3]) const
{
    const MpegEncoderState &s = m_s;
    // The coded area: whole macroblocks, which is all the encoder ever sees of the source.
    const bool field = s.pict_struct != FRAME_PICTURE;
    for (int c = 0; c < 3; ++c) {
        const int w = c ? s.chrom_width : s.width;
        const int h = (c ? s.chrom_height : s.height) / (field ? 2 : 1);
        const int stride = c ? s.chrom_width2 : s.width2;
        const long start = s.pict_struct == BOTTOM_FIELD ? (c ? s.chrom_width : s.width) : 0;
        double var;
        PlaneMseVar(org[c] + start, rec[c] + start, w, h, stride, mse[c], var);
        snr[c] = 10.0 * std::log10(var / mse[c]);
    }
}

std::string MpegEncoder::Statistics() const
{
    const MpegEncoderState &s = m_s;
    const int mbs = s.mb_width * s.mb_height2;
    int nIntra = 0, nNcoded = 0, nSkipped = 0, nForw = 0, nBack = 0, nBidi = 0, nBlocks = 0;
    for (int k = 0; k < mbs; ++k) {
        const MacroblockRecord &mb = m_mbinfo[k];
        if (!mb.skipped) {
            if (mb.mb_type & MB_INTRA)
                ++nIntra;
            else if (!(mb.mb_type & MB_PATTERN))
                ++nNcoded;
        } else {
            ++nSkipped;
        }
        const bool f = mb.mb_type & MB_FORWARD, b = mb.mb_type & MB_BACKWARD;
        nForw += f && !b;
        nBack += b && !f;
        nBidi += f && b;
        for (int bit = 0; bit < s.block_count; ++bit)
            nBlocks += (mb.cbp >> bit) & 1;
    }
    auto line = [](const char *fmt, int n, int total) { return zn::Format(fmt, n, 100.0 * n / total); };
    std::string t;
    t += line(" #intra coded MB\t: %4d (%.1f%%)\r\n", nIntra, mbs);
    t += line(" #coded blocks   \t: %4d (%.1f%%)\r\n", nBlocks, mbs * s.block_count);
    t += line(" #not-coded MB  \t: %4d (%.1f%%)\r\n", nNcoded, mbs);
    t += line(" #skipped MB    \t: %4d (%.1f%%)\r\n", nSkipped, mbs);
    t += line(" #forw. pred. MB\t: %4d (%.1f%%)\r\n", nForw, mbs);
    t += line(" #backw. pred. B\t: %4d (%.1f%%)\r\n", nBack, mbs);
    t += line(" #interpolated MB\t: %4d (%.1f%%)\r\n", nBidi, mbs);
    t += "\r\n";
    for (int j = 0, k = 0; j < s.mb_height2; ++j) {
        for (int i = 0; i < s.mb_width; ++i, ++k) {
            const MacroblockRecord &mb = m_mbinfo[k];
            const bool f = mb.mb_type & MB_FORWARD, b = mb.mb_type & MB_BACKWARD;
            const bool fieldPred = mb.motion_type == MC_FIELD;
            if (mb.skipped)
                t += "S";
            else if (mb.mb_type & MB_INTRA)
                t += " I";
            else if (f && !b)
                t += fieldPred ? "f" : (mb.motion_type == MC_DMV ? "p" : "F");
            else if (b && !f)
                t += fieldPred ? "b" : "B";
            else if (f && b)
                t += fieldPred ? "d" : "D";
            else
                t += "0";
        }
        t += "\r\n";
    }
    return t;
}
