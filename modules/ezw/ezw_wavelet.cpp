// 9/7 wavelet with periodic extension: a line is taken as one period of an endless signal, so a
// level needs no border rule and is exactly invertible for any even length. Here: the filters, the
// plain transform (the reference that ezw_wavelet_fast.cpp matches bit for bit), the pyramid and its
// display.
#include "modules/ezw/ezw_wavelet.h"

#include "image/znimage.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kH[9] = {0.02674875741080976,  -0.01686411844287495, -0.07822326652898785,
                          0.2668641184428723,   0.6029490182363579,   0.2668641184428723,
                          -0.07822326652898785, -0.01686411844287495, 0.02674875741080976};
constexpr double kG[7] = {-0.04563588155712474, -0.028771763114249786, 0.2956358815571235,  0.557543526228497,
                          0.2956358815571235,   -0.028771763114249786, -0.04563588155712474};
constexpr double kS = 1.4142135623730951;

inline int Wrap(int i, int n)
{
    i %= n;
    return i < 0 ? i + n : i;
}

// Filters every line of length n (stride between samples `step`, lines `lines` apart by `lineStep`)
// at the even positions: out[j/2] = sum_k f[k] in[(j + off - k) mod n].
void AnalyseLines(const double *in, int n, int lines, size_t step, size_t lineStep, const EzwFilter &f,
                  double *out, size_t outStep, size_t outLineStep)
{
    std::vector<int> idx(static_cast<size_t>(n) * f.taps);
    for (int j = 0; j < n; j += 2)
        for (int k = 0; k < f.taps; ++k)
            idx[static_cast<size_t>(j) * f.taps + k] = Wrap(j + f.offset - k, n);
    for (int l = 0; l < lines; ++l) {
        const double *line = in + l * lineStep;
        double *o = out + l * outLineStep;
        for (int j = 0; j < n; j += 2) {
            const int *ix = &idx[static_cast<size_t>(j) * f.taps];
            double sum = 0;
            for (int k = 0; k < f.taps; ++k)
                sum += f.k[k] * line[ix[k] * step];
            o[(j / 2) * outStep] = sum;
        }
    }
}

// Synthesis along lines: the band of n/2 samples sits at the even places of an n-sample line whose
// odd places are zero; out[j] = sum_k f[k] up[(j + off - k) mod n] over the non-zero places only
// (the skipped terms are exact zeros, so the sums equal the full ones). Adds into out.
void SynthesiseLines(const double *band, int n, int lines, size_t step, size_t lineStep, const EzwFilter &f,
                     double *out, size_t outStep, size_t outLineStep)
{
    for (int l = 0; l < lines; ++l) {
        const double *b = band + l * lineStep;
        double *o = out + l * outLineStep;
        for (int j = 0; j < n; ++j) {
            double sum = 0;
            for (int k = 0; k < f.taps; ++k) {
                const int p = Wrap(j + f.offset - k, n);
                if ((p & 1) == 0)
                    sum += f.k[k] * b[(p / 2) * step];
            }
            o[j * outStep] += sum;
        }
    }
}

} // namespace

void Ezw_filters(EzwFilterSet *f)
{
    f->aL.taps = 9;
    f->aL.offset = 4;
    f->aH.taps = 7;
    f->aH.offset = 4;
    f->sL.taps = 7;
    f->sL.offset = 3;
    f->sH.taps = 9;
    f->sH.offset = 3;
    for (int k = 0; k < 9; ++k) {
        f->aL.k[k] = kS * kH[k];
        f->sH.k[k] = kS * ((k % 2 == 0) ? kH[k] : -kH[k]);
    }
    for (int k = 0; k < 7; ++k) {
        f->aH.k[k] = kS * ((k % 2 == 1) ? kG[k] : -kG[k]);
        f->sL.k[k] = kS * kG[k];
    }
}

void EzwAnalysisPlain(const EzwPlane &in, EzwPlane *ll, EzwPlane *lh, EzwPlane *hl, EzwPlane *hh,
                      const EzwFilterSet &f)
{
    const int W = in.cols, H = in.rows;
    EzwPlane lo, hi;
    lo.Resize(H, W / 2);
    hi.Resize(H, W / 2);
    // Rows: a low-pass output sits on sample j, a high-pass one on j + 1.
    AnalyseLines(in.v.data(), W, H, 1, W, f.aL, lo.v.data(), 1, W / 2);
    AnalyseLines(in.v.data(), W, H, 1, W, f.aH, hi.v.data(), 1, W / 2);
    for (EzwPlane *b : {ll, lh, hl, hh})
        b->Resize(H / 2, W / 2);
    // Columns.
    AnalyseLines(lo.v.data(), H, W / 2, W / 2, 1, f.aL, ll->v.data(), W / 2, 1);
    AnalyseLines(hi.v.data(), H, W / 2, W / 2, 1, f.aL, hl->v.data(), W / 2, 1);
    AnalyseLines(lo.v.data(), H, W / 2, W / 2, 1, f.aH, lh->v.data(), W / 2, 1);
    AnalyseLines(hi.v.data(), H, W / 2, W / 2, 1, f.aH, hh->v.data(), W / 2, 1);
}

void EzwSynthesisPlain(const EzwPlane &hh, const EzwPlane &hl, const EzwPlane &lh, const EzwPlane &ll,
                       EzwPlane *out, const EzwFilterSet &f)
{
    const int W = ll.cols, H = ll.rows;
    // P (from LL and LH) and Q (from HL and HH) keep only their even columns: the odd ones are the
    // zeros of the row upsampling.
    EzwPlane P, Q;
    P.Resize(2 * H, W);
    Q.Resize(2 * H, W);
    SynthesiseLines(ll.v.data(), 2 * H, W, W, 1, f.sL, P.v.data(), W, 1);
    SynthesiseLines(lh.v.data(), 2 * H, W, W, 1, f.sH, P.v.data(), W, 1);
    SynthesiseLines(hl.v.data(), 2 * H, W, W, 1, f.sL, Q.v.data(), W, 1);
    SynthesiseLines(hh.v.data(), 2 * H, W, W, 1, f.sH, Q.v.data(), W, 1);
    out->Resize(2 * H, 2 * W);
    SynthesiseLines(P.v.data(), 2 * W, 2 * H, 1, W, f.sL, out->v.data(), 1, 2 * W);
    SynthesiseLines(Q.v.data(), 2 * W, 2 * H, 1, W, f.sH, out->v.data(), 1, 2 * W);
}

void EzwPyramid::Allocate(int w, int h, int l, bool clear)
{
    width = w;
    height = h;
    levels = l;
    detail.resize(static_cast<size_t>(3 * l)); // planes already held keep their storage
    for (int i = 0; i < l; ++i)
        for (int t = 1; t <= 3; ++t) {
            if (clear)
                Band(i, t).Resize(h >> (i + 1), w >> (i + 1));
            else
                Band(i, t).Reshape(h >> (i + 1), w >> (i + 1));
        }
    if (clear)
        ll.Resize(h >> l, w >> l);
    else
        ll.Reshape(h >> l, w >> l);
}

void Ezw_subband_image(ZnImage *target, const EzwPyramid &p)
{
    const int W = p.width, H = p.height, L = p.levels;
    target->Alloc(H, W);
    float *img = target->Data();
    std::fill(img, img + static_cast<size_t>(W) * H, 0.0f);
    // Band regions in the picture: (row0, col0, rows, cols) and the plane that fills them. The last
    // row and column of each band stay 0, so they show mid-grey.
    struct Region
    {
        int r0, c0, h, w;
        const EzwPlane *plane;
    };
    std::vector<Region> regions;
    for (int i = 0; i < L; ++i) {
        const int w = W >> (i + 1), h = H >> (i + 1);
        regions.push_back({h, w, h, w, &p.Band(i, 3)});
        regions.push_back({h, 0, h, w, &p.Band(i, 1)});
        regions.push_back({0, w, h, w, &p.Band(i, 2)});
    }
    regions.push_back({0, 0, H >> L, W >> L, &p.ll});
    for (const Region &g : regions) {
        for (int r = 0; r + 1 < g.h; ++r)
            for (int c = 0; c + 1 < g.w; ++c)
                img[static_cast<size_t>(g.r0 + r) * W + g.c0 + c] = static_cast<float>(g.plane->at(r, c));
        float lo = 0, hi = 0;
        for (int r = 0; r < g.h; ++r)
            for (int c = 0; c < g.w; ++c) {
                const float v = img[static_cast<size_t>(g.r0 + r) * W + g.c0 + c];
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        const float m = std::max(-lo, hi);
        const float scale = m == 0.0f ? 1.0f : 127.0f / m;
        for (int r = 0; r < g.h; ++r)
            for (int c = 0; c < g.w; ++c) {
                float &v = img[static_cast<size_t>(g.r0 + r) * W + g.c0 + c];
                v = scale * v + 128.0f;
            }
    }
    for (int k = 1; k <= L; ++k) {
        const int h = H >> k, w = W >> k;
        for (int r = 0; r < 2 * h; ++r)
            img[static_cast<size_t>(r) * W + (w - 1)] = 0.0f;
        for (int c = 0; c < 2 * w; ++c)
            img[static_cast<size_t>(h - 1) * W + c] = 0.0f;
    }
}
