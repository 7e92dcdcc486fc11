// Motion-compensated prediction: each macroblock is copied from one or two reference pictures at
// half-pel positions (bilinear averages of neighbours) and, for bidirectional or dual-prime
// prediction, the two copies are averaged. Interlaced pictures predict each field from a field of
// the reference, so a reference plane is seen either as a frame or as one of its two fields.
#include "mpeg/mpgdec/mpgdec_picture.h"

#include "mpeg/mpgdec/mpeg_kernels.h"

#include <algorithm>

namespace zn {

namespace {

struct PlaneView
{
    uint8_t *base = nullptr;
    int stride = 0;
    int width = 0;
    int height = 0;
};

// One block of w x h samples at (x, y) of dst, from src displaced by (dx, dy) half-pels. Positions
// outside the reference (damaged vectors) repeat its edge samples.
void PredictBlock(const PlaneView &src, const PlaneView &dst, int x, int y, int w, int h, int dx, int dy,
                  bool average, bool plain)
{
    if (!src.base || !dst.base || x < 0 || y < 0 || x + w > dst.width || y + h > dst.height)
        return;
    const int sx = x + (dx >> 1), sy = y + (dy >> 1);
    const int hx = dx & 1, hy = dy & 1;
    uint8_t *d = dst.base + static_cast<ptrdiff_t>(y) * dst.stride + x;
    const bool inside = sx >= 0 && sy >= 0 && sx + w + hx <= src.width && sy + h + hy <= src.height;
    if (inside) {
        const uint8_t *s = src.base + static_cast<ptrdiff_t>(sy) * src.stride + sx;
        (plain ? PredictRowsPlain : PredictRowsFast)(s, src.stride, d, dst.stride, w, h, hx, hy, average);
        return;
    }
    auto at = [&](int px, int py) {
        px = std::clamp(px, 0, src.width - 1);
        py = std::clamp(py, 0, src.height - 1);
        return static_cast<int>(src.base[static_cast<ptrdiff_t>(py) * src.stride + px]);
    };
    for (int j = 0; j < h; ++j, d += dst.stride) {
        for (int i = 0; i < w; ++i) {
            int px = sx + i, py = sy + j;
            int v;
            if (!hx && !hy)
                v = at(px, py);
            else if (hx && !hy)
                v = (at(px, py) + at(px + 1, py) + 1) >> 1;
            else if (!hx)
                v = (at(px, py) + at(px, py + 1) + 1) >> 1;
            else
                v = (at(px, py) + at(px + 1, py) + at(px, py + 1) + at(px + 1, py + 1) + 2) >> 2;
            d[i] = static_cast<uint8_t>(average ? (d[i] + v + 1) >> 1 : v);
        }
    }
}

} // namespace

void MpegPictureDecoder::mpgdec_mcpredict(int bx, int by)
{
    const int cf = d.chroma_format;
    auto planeWidth = [&](int c) { return c ? d.chroma_width : d.coded_width; };
    auto planeHeight = [&](int c) { return c ? d.chroma_height : d.coded_height; };
    // A whole frame, or one field (parity 0 top, 1 bottom) of a store.
    auto frameView = [&](uint8_t *const store[3], int c) {
        return PlaneView{store[c], planeWidth(c), planeWidth(c), planeHeight(c)};
    };
    auto fieldView = [&](uint8_t *const store[3], int c, int parity) {
        if (!store[c])
            return PlaneView{};
        return PlaneView{store[c] + parity * planeWidth(c), 2 * planeWidth(c), planeWidth(c),
                         planeHeight(c) / 2};
    };
    // Luma block (x, y, w, h) and vector; chroma follows at the subsampled scale, its vector halved
    // toward zero in each subsampled direction.
    auto predict = [&](auto viewOf, uint8_t *const ref[3], auto dstOf, int x, int y, int w, int h, int dx,
                       int dy, bool average) {
        for (int c = 0; c < 3; ++c) {
            int cx = x, cy = y, cw = w, ch = h, cdx = dx, cdy = dy;
            if (c) {
                if (cf != 3) {
                    cx /= 2;
                    cw /= 2;
                    cdx /= 2;
                }
                if (cf == 1) {
                    cy /= 2;
                    ch /= 2;
                    cdy /= 2;
                }
            }
            PredictBlock(viewOf(ref, c), dstOf(c), cx, cy, cw, ch, cdx, cdy, average, d.plain_kernels);
        }
    };
    auto dualPrimeVector = [&](int mv, int m) { return (mv * m + (mv > 0 ? 1 : 0)) >> 1; };

    const bool isP = d.picture_coding_type == 2;
    const bool forward = (macroblock_type & kMbForward) || isP;
    bool predicted = false;

    if (d.picture_structure == 3) {
        auto curFrame = [&](int c) { return frameView(d.current_frame, c); };
        auto curField = [&](int parity) {
            return [&, parity](int c) { return fieldView(d.current_frame, c, parity); };
        };
        auto refField = [&](int parity) {
            return [&, parity](uint8_t *const store[3], int c) { return fieldView(store, c, parity); };
        };
        auto doDirection = [&](uint8_t *const ref[3], int s, bool average) {
            int mt = (s == 0 && !(macroblock_type & kMbForward)) ? 2 : motion_type;
            if (s == 1 && mt != 2)
                mt = 1; // backward prediction: frame when asked, field for every other value
            if (mt == 2) {
                predict(frameView, ref, curFrame, bx, by, 16, 16, PMV[0][s][0], PMV[0][s][1], average);
            } else if (mt == 1) {
                predict(refField(field_select[0][s]), ref, curField(0), bx, by / 2, 16, 8, PMV[0][s][0],
                        PMV[0][s][1] >> 1, average);
                predict(refField(field_select[1][s]), ref, curField(1), bx, by / 2, 16, 8, PMV[1][s][0],
                        PMV[1][s][1] >> 1, average);
            } else if (mt == 3) {
                int mvx = PMV[0][0][0], mvy = PMV[0][0][1] >> 1;
                int m0 = d.top_field_first ? 1 : 3, m1 = d.top_field_first ? 3 : 1;
                int dx0 = dualPrimeVector(mvx, m0) + dmvector[0],
                    dy0 = dualPrimeVector(mvy, m0) + dmvector[1] - 1;
                int dx1 = dualPrimeVector(mvx, m1) + dmvector[0],
                    dy1 = dualPrimeVector(mvy, m1) + dmvector[1] + 1;
                predict(refField(0), ref, curField(0), bx, by / 2, 16, 8, mvx, mvy, average);
                predict(refField(1), ref, curField(0), bx, by / 2, 16, 8, dx0, dy0, true);
                predict(refField(1), ref, curField(1), bx, by / 2, 16, 8, mvx, mvy, average);
                predict(refField(0), ref, curField(1), bx, by / 2, 16, 8, dx1, dy1, true);
            } else {
                d.MessageOnce("invalid motion_type\n");
            }
        };
        if (forward) {
            doDirection(d.forward_ref, 0, false);
            predicted = true;
        }
        if (macroblock_type & kMbBackward)
            doDirection(d.backward_ref, 1, predicted);
        return;
    }

    // Field picture: the current field is a plane of its own.
    const int parity = d.picture_structure == 2 ? 1 : 0;
    auto curField = [&](int c) {
        return PlaneView{d.current_frame[c], 2 * planeWidth(c), planeWidth(c), planeHeight(c) / 2};
    };
    auto refField = [&](int sel) {
        return [&, sel](uint8_t *const store[3], int c) { return fieldView(store, c, sel); };
    };
    // The second field of a P frame may predict from the first field of its own frame.
    auto forwardStore = [&](int sel) -> uint8_t *const * {
        return (isP && d.second_field && sel != parity) ? d.backward_ref : d.forward_ref;
    };
    if (forward) {
        int mt = (macroblock_type & kMbForward) ? motion_type : 1;
        if (mt == 1) {
            int sel = field_select[0][0];
            predict(refField(sel), forwardStore(sel), curField, bx, by, 16, 16, PMV[0][0][0], PMV[0][0][1],
                    false);
        } else if (mt == 2) {
            int sel0 = field_select[0][0], sel1 = field_select[1][0];
            predict(refField(sel0), forwardStore(sel0), curField, bx, by, 16, 8, PMV[0][0][0], PMV[0][0][1],
                    false);
            predict(refField(sel1), forwardStore(sel1), curField, bx, by + 8, 16, 8, PMV[1][0][0],
                    PMV[1][0][1], false);
        } else if (mt == 3) {
            int mvx = PMV[0][0][0], mvy = PMV[0][0][1];
            int dx = dualPrimeVector(mvx, 1) + dmvector[0];
            int dy = dualPrimeVector(mvy, 1) + dmvector[1] + (parity ? 1 : -1);
            predict(refField(parity), d.forward_ref, curField, bx, by, 16, 16, mvx, mvy, false);
            predict(refField(1 - parity), d.second_field ? d.backward_ref : d.forward_ref, curField, bx, by,
                    16, 16, dx, dy, true);
        } else {
            d.MessageOnce("invalid motion_type\n");
        }
        predicted = true;
    }
    if (macroblock_type & kMbBackward) {
        if (motion_type == 1) {
            predict(refField(field_select[0][1]), d.backward_ref, curField, bx, by, 16, 16, PMV[0][1][0],
                    PMV[0][1][1], predicted);
        } else if (motion_type == 2) {
            predict(refField(field_select[0][1]), d.backward_ref, curField, bx, by, 16, 8, PMV[0][1][0],
                    PMV[0][1][1], predicted);
            predict(refField(field_select[1][1]), d.backward_ref, curField, bx, by + 8, 16, 8, PMV[1][1][0],
                    PMV[1][1][1], predicted);
        }
    }
}

} // namespace zn
