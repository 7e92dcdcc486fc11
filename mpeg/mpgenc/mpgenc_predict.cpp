// Motion-compensated prediction of each macroblock into the prediction store. A frame picture predicts
// its macroblock from a frame, or each of its two fields from a chosen reference field; a field picture
// predicts from reference fields, the second field of a P frame also from the first field of its own
// frame. Bidirectional and dual-prime predictions average two copies.
#include "mpeg/mpgenc/mpgenc_predict.h"

#include "mpeg/mpgdec/mpeg_kernels.h"
#include "mpeg/mpgenc/mpgenc.h"
#include "platform/messages.h"

#include <algorithm>

// The decoder's prediction kernel (its plain form is this definition, sample by sample): encoder and
// decoder predict alike by construction.
void PredictBlock(const uint8_t *src, int srcStride, uint8_t *dst, int dstStride, int w, int h, int dx,
                  int dy, bool average)
{
    const uint8_t *s = src + (dx >> 1) + static_cast<long>(dy >> 1) * srcStride;
    zn::PredictRowsFast(s, srcStride, dst, dstStride, w, h, dx & 1, dy & 1, average);
}

namespace {

// The derived vectors of dual prime, rounded away from zero: h(v) = v / 2, g(v) = 3 v / 2.
int HalfOf(int v)
{
    return (v + (v > 0)) >> 1;
}

int ThreeHalvesOf(int v)
{
    return (3 * v + (v > 0)) >> 1;
}

} // namespace

void DualPrimeVectors(int out[2][2], const int dmvector[2], int mx, int my, int pictStruct, int topFirst)
{
    if (pictStruct == FRAME_PICTURE) {
        // The field nearer in time to its opposite-parity reference gets the shorter vector; the
        // -1 and +1 take out the half-line offset between the two fields.
        const bool tff = topFirst != 0;
        out[0][0] = (tff ? HalfOf(mx) : ThreeHalvesOf(mx)) + dmvector[0];
        out[0][1] = (tff ? HalfOf(my) : ThreeHalvesOf(my)) + dmvector[1] - 1;
        out[1][0] = (tff ? ThreeHalvesOf(mx) : HalfOf(mx)) + dmvector[0];
        out[1][1] = (tff ? ThreeHalvesOf(my) : HalfOf(my)) + dmvector[1] + 1;
        return;
    }
    out[0][0] = HalfOf(mx) + dmvector[0];
    out[0][1] = HalfOf(my) + dmvector[1] + (pictStruct == TOP_FIELD ? -1 : 1);
    out[1][0] = out[1][1] = 0;
}

namespace {

// One prediction of a 16-wide luminance area and its 4:2:0 chrominance. lx is the luminance line
// stride of the views (the frame width, or twice it for fields); a field view starts field x lx / 2
// samples in. Chrominance halves every size, position and vector component, the vectors truncated
// toward zero.
void PredictComponents(uint8_t *const src[3], int srcField, uint8_t *const dst[3], int dstField, int lx,
                       int x, int y, int h, int dx, int dy, bool average)
{
    const long half = lx / 2;
    PredictBlock(src[0] + srcField * half + x + static_cast<long>(y) * lx, lx,
                 dst[0] + dstField * half + x + static_cast<long>(y) * lx, lx, 16, h, dx, dy, average);
    const int cl = lx / 2, cx = x / 2, cy = y / 2;
    for (int c = 1; c < 3; ++c)
        PredictBlock(src[c] + srcField * (half / 2) + cx + static_cast<long>(cy) * cl, cl,
                     dst[c] + dstField * (half / 2) + cx + static_cast<long>(cy) * cl, cl, 8, h / 2, dx / 2,
                     dy / 2, average);
}

// An intra macroblock's prediction is mid-grey, so its blocks carry the samples less 128.
void ClearMacroblock(uint8_t *const dst[3], int dstField, int lx, int x, int y)
{
    const long half = lx / 2;
    for (int j = 0; j < 16; ++j)
        std::fill_n(dst[0] + dstField * half + x + static_cast<long>(y + j) * lx, 16, uint8_t{128});
    for (int c = 1; c < 3; ++c)
        for (int j = 0; j < 8; ++j)
            std::fill_n(dst[c] + dstField * (half / 2) + x / 2 + static_cast<long>(y / 2 + j) * (lx / 2), 8,
                        uint8_t{128});
}

} // namespace

void MpegEncoder::PredictPicture(uint8_t *const oldRef[3], uint8_t *const newRef[3], uint8_t *const pred[3])
{
    const MpegEncoderState &s = m_s;
    const int w = s.width;
    const bool frame = s.pict_struct == FRAME_PICTURE;
    const int parity = s.pict_struct == BOTTOM_FIELD ? 1 : 0;
    const int lx = frame ? w : 2 * w;
    for (int j = 0, k = 0; j < s.height2; j += 16)
        for (int i = 0; i < w; i += 16, ++k) {
            const MacroblockRecord &mb = m_mbinfo[static_cast<size_t>(k)];
            if (mb.mb_type & MB_INTRA) {
                ClearMacroblock(pred, frame ? 0 : parity, lx, i, j);
                continue;
            }
            const bool forward = (mb.mb_type & MB_FORWARD) || s.pict_type == P_TYPE;
            const bool backward = mb.mb_type & MB_BACKWARD;
            if (frame) {
                // Field prediction in a frame picture: each field of the macroblock, 8 field lines from
                // line j / 2, with its own vector (stored in frame units) and reference field.
                auto fields = [&](uint8_t *const ref[3], int sdir, bool average) {
                    for (int cp = 0; cp < 2; ++cp)
                        PredictComponents(ref, mb.mv_field_sel[cp][sdir], pred, cp, 2 * w, i, j / 2, 8,
                                          mb.MV[cp][sdir][0], mb.MV[cp][sdir][1] >> 1, average);
                };
                if (forward) {
                    if (mb.motion_type == MC_FRAME || !(mb.mb_type & MB_FORWARD)) {
                        PredictComponents(oldRef, 0, pred, 0, w, i, j, 16, mb.MV[0][0][0], mb.MV[0][0][1],
                                          false);
                    } else if (mb.motion_type == MC_FIELD) {
                        fields(oldRef, 0, false);
                    } else if (mb.motion_type == MC_DMV) {
                        const int mx = mb.MV[0][0][0], my = mb.MV[0][0][1] >> 1;
                        int v[2][2];
                        DualPrimeVectors(v, mb.dmvector, mx, my, FRAME_PICTURE, s.topfirst);
                        for (int cp = 0; cp < 2; ++cp)
                            PredictComponents(oldRef, cp, pred, cp, 2 * w, i, j / 2, 8, mx, my, false);
                        PredictComponents(oldRef, 1, pred, 0, 2 * w, i, j / 2, 8, v[0][0], v[0][1], true);
                        PredictComponents(oldRef, 0, pred, 1, 2 * w, i, j / 2, 8, v[1][0], v[1][1], true);
                    } else {
                        zn::ShowMessage("Predict-Error: invalid motion_type in frame picture");
                    }
                }
                if (backward) {
                    if (mb.motion_type == MC_FRAME)
                        PredictComponents(newRef, 0, pred, 0, w, i, j, 16, mb.MV[0][1][0], mb.MV[0][1][1],
                                          forward);
                    else
                        fields(newRef, 1, forward);
                }
                continue;
            }
            // Field picture: the reference frame of a selected field; the second field of a P frame
            // finds the opposite parity in its own frame.
            auto refOf = [&](int sel) {
                return (s.pict_type == P_TYPE && s.secondfield && sel != parity) ? newRef : oldRef;
            };
            if (forward) {
                if (mb.motion_type == MC_FIELD || !(mb.mb_type & MB_FORWARD)) {
                    const int sel = mb.mv_field_sel[0][0];
                    PredictComponents(refOf(sel), sel, pred, parity, lx, i, j, 16, mb.MV[0][0][0],
                                      mb.MV[0][0][1], false);
                } else if (mb.motion_type == MC_16X8) {
                    for (int half = 0; half < 2; ++half) {
                        const int sel = mb.mv_field_sel[half][0];
                        PredictComponents(refOf(sel), sel, pred, parity, lx, i, j + 8 * half, 8,
                                          mb.MV[half][0][0], mb.MV[half][0][1], false);
                    }
                } else if (mb.motion_type == MC_DMV) {
                    int v[2][2];
                    DualPrimeVectors(v, mb.dmvector, mb.MV[0][0][0], mb.MV[0][0][1], s.pict_struct,
                                     s.topfirst);
                    PredictComponents(oldRef, parity, pred, parity, lx, i, j, 16, mb.MV[0][0][0],
                                      mb.MV[0][0][1], false);
                    PredictComponents(s.secondfield ? newRef : oldRef, 1 - parity, pred, parity, lx, i, j, 16,
                                      v[0][0], v[0][1], true);
                } else {
                    zn::ShowMessage("Predict-Error: invalid motion_type in field picture");
                }
            }
            if (backward) {
                if (mb.motion_type == MC_FIELD) {
                    PredictComponents(newRef, mb.mv_field_sel[0][1], pred, parity, lx, i, j, 16,
                                      mb.MV[0][1][0], mb.MV[0][1][1], forward);
                } else if (mb.motion_type == MC_16X8) {
                    for (int half = 0; half < 2; ++half)
                        PredictComponents(newRef, mb.mv_field_sel[half][1], pred, parity, lx, i, j + 8 * half,
                                          8, mb.MV[half][1][0], mb.MV[half][1][1], forward);
                } else {
                    zn::ShowMessage("Predict-Error: invalid motion_type in field picture");
                }
            }
        }
}
