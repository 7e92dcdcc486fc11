// The QMF tree: separable two-band splits of rows and columns, applied to chosen bands level by level,
// and the merges that undo them. The high band uses the mirrored filter (h[k] with alternating signs),
// so aliasing from the decimation of one band cancels that of the other in the merge. Lines extend by
// half-sample symmetric folding, which keeps the bands free of border jumps; a line shorter than the
// filter folds again and again, so no tap ever reads outside it.
#include "modules/sbc/subb.h"

#include "modules/sbc/plane_lines.h"
#include "platform/messages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Index of the half-sample symmetric, periodically repeated extension of a line of n samples.
inline long Fold(long i, long n)
{
    const long period = 2 * n;
    i %= period;
    if (i < 0)
        i += period;
    return i < n ? i : period - 1 - i;
}

struct QmfWork
{
    const float *h = nullptr;
    int d = 0;
    int pad = 0;
    std::vector<float> line, ext, out, batch;

    QmfWork(const float *taps, int len, int maxLine)
        : h(taps), d(len), pad(len + 2), line(maxLine), ext(maxLine + 2 * (len + 2)), out(maxLine)
    {}

    void Extend(const float *x, int n)
    {
        for (long i = -pad; i < n + pad; ++i)
            ext[i + pad] = x[Fold(i, n)];
    }
    float At(long i) const { return ext[i + pad]; }

    // x[0..n-1] -> low in out[0..n/2-1], high in out[n/2..n-1]. Each output sums its taps in tap
    // order; four outputs go side by side, so that their sums advance together instead of each
    // waiting on its own last addition.
    void Split(int n)
    {
        Extend(line.data(), n);
        const int m2 = n / 2, q = d / 4, half = d / 2;
        const auto put = [&](int m, double a, double b) {
            out[m] = static_cast<float>(a + b);
            const double hi = a - b;
            out[m2 + m] = static_cast<float>(m % 2 ? -hi : hi);
        };
        int m = 0;
        for (; m + 4 <= m2; m += 4) {
            double a0 = 0, a1 = 0, a2 = 0, a3 = 0, b0 = 0, b1 = 0, b2 = 0, b3 = 0;
            for (int s = 0; s < half; ++s) {
                const double he = h[2 * s], ho = h[2 * s + 1];
                const long ea = 2 * m + 2 * q - 2 * s, ob = 2 * m + d - 2 * q - 1 - 2 * s;
                a0 += he * At(ea);
                a1 += he * At(ea + 2);
                a2 += he * At(ea + 4);
                a3 += he * At(ea + 6);
                b0 += ho * At(ob);
                b1 += ho * At(ob + 2);
                b2 += ho * At(ob + 4);
                b3 += ho * At(ob + 6);
            }
            put(m, a0, b0);
            put(m + 1, a1, b1);
            put(m + 2, a2, b2);
            put(m + 3, a3, b3);
        }
        for (; m < m2; ++m) {
            double a = 0, b = 0;
            for (int s = 0; s < half; ++s) {
                a += static_cast<double>(h[2 * s]) * At(2 * m + 2 * q - 2 * s);
                b += static_cast<double>(h[2 * s + 1]) * At(2 * m + d - 2 * q - 1 - 2 * s);
            }
            put(m, a, b);
        }
    }

    // low in line[0..n/2-1], high in line[n/2..n-1] -> out[0..n-1]. S and D interleaved as
    // z[2m] = S[m], z[2m+1] = D[m] mirror into each other exactly as a half-sample symmetric z does.
    void Merge(int n)
    {
        const int m2 = n / 2, q = d / 4, half = d / 2;
        std::vector<float> &z = out; // the interleaved S/D line, free again once extended
        for (int m = 0; m < m2; ++m) {
            const double lo = line[m], hi = m % 2 ? -line[m2 + m] : line[m2 + m];
            z[2 * m] = static_cast<float>(lo + hi);
            z[2 * m + 1] = static_cast<float>(lo - hi);
        }
        Extend(z.data(), n);
        // Four outputs pairs side by side, each summing in tap order, as in Split.
        int l = 0;
        for (; l + 4 <= m2; l += 4) {
            double e0 = 0, e1 = 0, e2 = 0, e3 = 0, o0 = 0, o1 = 0, o2 = 0, o3 = 0;
            for (int s = 0; s < half; ++s) {
                const double ge = 2.0 * h[2 * s + 1], go = 2.0 * h[2 * s];
                const long ev = 2L * (l + half - 1 - q - s), od = 2L * (l + q - s) + 1;
                e0 += ge * At(ev);
                e1 += ge * At(ev + 2);
                e2 += ge * At(ev + 4);
                e3 += ge * At(ev + 6);
                o0 += go * At(od);
                o1 += go * At(od + 2);
                o2 += go * At(od + 4);
                o3 += go * At(od + 6);
            }
            const double even[4] = {e0, e1, e2, e3}, odd[4] = {o0, o1, o2, o3};
            for (int j = 0; j < 4; ++j) {
                out[2 * (l + j)] = static_cast<float>(even[j]);
                out[2 * (l + j) + 1] = static_cast<float>(odd[j]);
            }
        }
        for (; l < m2; ++l) {
            double even = 0, odd = 0;
            for (int s = 0; s < half; ++s) {
                even += 2.0 * h[2 * s + 1] * At(2L * (l + half - 1 - q - s));
                odd += 2.0 * h[2 * s] * At(2L * (l + q - s) + 1);
            }
            out[2 * l] = static_cast<float>(even);
            out[2 * l + 1] = static_cast<float>(odd);
        }
    }
};

bool BankUsable(const Filt *filt)
{
    return filt && filt->type == FILT_FIRQMF && filt->ndim == 1 && !filt->dims1.empty() &&
           filt->dims1[0] >= 2 && filt->dims1[0] % 2 == 0 &&
           static_cast<int>(filt->coef1.size()) >= filt->dims1[0];
}

// One line operation (w.line -> w.out) along every line.
void EachLine(const PlaneLines &lines, QmfWork &w, void (QmfWork::*op)(int))
{
    ForEachLine(lines, w.batch, [&](float *line) {
        std::copy_n(line, lines.length, w.line.begin());
        (w.*op)(lines.length);
        std::copy_n(w.out.begin(), lines.length, line);
    });
}

// Rows of the R x C band at f through the line split (or merge), then its columns; a merge runs the
// two directions in the opposite order.
void SplitBand(float *plane, int cols, long f, int rows, int bandCols, QmfWork &w)
{
    EachLine(RowsOf(plane, cols, f, rows, bandCols), w, &QmfWork::Split);
    EachLine(ColumnsOf(plane, cols, f, rows, bandCols), w, &QmfWork::Split);
}

void MergeBand(float *plane, int cols, long f, int rows, int bandCols, QmfWork &w)
{
    EachLine(ColumnsOf(plane, cols, f, rows, bandCols), w, &QmfWork::Merge);
    EachLine(RowsOf(plane, cols, f, rows, bandCols), w, &QmfWork::Merge);
}

} // namespace

void SbcSplitModHigh(Subb **out, Img *src, const Filt *filt, int levels, int *splits, int takeOver)
{
    *out = nullptr;
    const bool usable = src && src->seqType == IMG_SEQ_MONO && src->rep == IMG_REP_FLOAT && src->plane[0];
    if (!usable || !BankUsable(filt))
        zn::ShowMessage("SbcSplitModHigh: Implementation problem. Check source code");
    if (!usable)
        return; // samples of another kind cannot be read as floats
    if (levels > SUBB_MAX_LEVELS)
        levels = SUBB_MAX_LEVELS;
    for (int i = 0, cap = 1; i < levels; ++i, cap *= 4)
        if (splits[i] > cap)
            splits[i] = cap;
    const int rows = src->rows, cols = src->cols;
    Subb *sb;
    if (takeOver)
        sb = SubbTakingPlane(src);
    else
        AllocSubb(&sb, rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO);
    *out = sb;
    sb->decomposed = SUBB_QMF_TREE;
    SubbComponent &comp = sb->comp[0];
    comp.levelsDone = 0;
    for (int i = 0; i < levels; ++i)
        comp.splits[i] = 0;
    float *plane = sb->FloatPlane();
    const long n = static_cast<long>(rows) * cols;
    if (!plane || n <= 0) {
        if (takeOver)
            FreeImg(src);
        return;
    }
    const float *source = takeOver ? plane : src->FloatPlane();
    MeanVari(&comp.mean, &comp.vari, source, IMG_REP_FLOAT, 0, n);
    for (long k = 0; k < n; ++k)
        plane[k] = source[k] - comp.mean;
    if (usable && BankUsable(filt)) {
        QmfWork w(filt->coef1.data(), filt->dims1[0], std::max(rows, cols));
        for (int i = 0; i < levels; ++i) {
            const int t = 1 << (i + 1);
            if (rows % t || cols % t)
                break;
            const int R = rows >> i, C = cols >> i;
            for (int j = 0; j < splits[i]; ++j) {
                const int pos = 4 * j;
                // Only a band of this level's size can split; anything else ends the level.
                if (pos >= comp.count || comp.count + 3 > SUBB_MAX_BANDS || comp.bandRows[pos] != R ||
                    comp.bandCols[pos] != C)
                    break;
                const long f = comp.first[pos];
                SplitBand(plane, cols, f, R, C, w);
                for (int k = comp.count - 1; k > pos; --k) {
                    comp.bandRows[k + 3] = comp.bandRows[k];
                    comp.bandCols[k + 3] = comp.bandCols[k];
                    comp.first[k + 3] = comp.first[k];
                }
                const long offs[4] = {f, f + C / 2, f + static_cast<long>(R / 2) * cols,
                                      f + static_cast<long>(R / 2) * cols + C / 2};
                for (int k = 0; k < 4; ++k) {
                    comp.bandRows[pos + k] = R / 2;
                    comp.bandCols[pos + k] = C / 2;
                    comp.first[pos + k] = static_cast<int32_t>(offs[k]);
                }
                comp.count += 3;
                ++comp.splits[i];
            }
            ++comp.levelsDone;
        }
    }
    if (takeOver)
        FreeImg(src);
}

void SbcReconModHigh(Img **out, Subb *sb, const Filt *filt, int takeOver)
{
    *out = nullptr;
    if (!sb)
        return;
    const bool usable =
        sb->seqType == IMG_SEQ_MONO && sb->rep == IMG_REP_FLOAT && sb->decomposed == SUBB_QMF_TREE;
    if (!usable || !BankUsable(filt))
        zn::ShowMessage("SbcReconModHigh: Implementation problem. Check source code");
    if (sb->seqType != IMG_SEQ_MONO || sb->rep != IMG_REP_FLOAT || !sb->plane[0] || sb->comp.empty())
        return; // only float luminance planes can be merged
    const int rows = sb->rows, cols = sb->cols;
    const long n = static_cast<long>(rows) * cols;
    Img *img;
    if (takeOver) {
        img = ImgTakingPlane(sb);
    } else {
        AllocImg(&img, rows, cols, IMG_REP_FLOAT, IMG_SEQ_MONO);
        if (img->plane[0])
            std::memcpy(img->plane[0], sb->plane[0], n * sizeof(float));
    }
    *out = img;
    float *plane = img->FloatPlane();
    const SubbComponent comp = sb->comp[0]; // a working copy of the lists
    if (plane && n > 0) {
        if (usable && BankUsable(filt)) {
            SubbComponent list = comp;
            QmfWork w(filt->coef1.data(), filt->dims1[0], std::max(rows, cols));
            for (int i = std::min(list.levelsDone, SUBB_MAX_LEVELS) - 1; i >= 0; --i) {
                const int R = rows >> i, C = cols >> i;
                for (int j = list.splits[i] - 1; j >= 0; --j) {
                    const int pos = 4 * j;
                    if (pos + 3 >= list.count || list.bandRows[pos] * 2 != R || list.bandCols[pos] * 2 != C)
                        continue; // not a band this level made: leave it rather than read past it
                    MergeBand(plane, cols, list.first[pos], R, C, w);
                    list.bandRows[pos] = R;
                    list.bandCols[pos] = C;
                    for (int k = pos + 1; k + 3 < list.count; ++k) {
                        list.bandRows[k] = list.bandRows[k + 3];
                        list.bandCols[k] = list.bandCols[k + 3];
                        list.first[k] = list.first[k + 3];
                    }
                    list.count -= 3;
                }
            }
        }
        for (long k = 0; k < n; ++k)
            plane[k] += comp.mean;
    }
    if (takeOver)
        FreeSubb(sb);
}
