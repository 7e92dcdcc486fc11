// The EZW transform as the coder runs it. The sums are those of the plain transform, term by term
// in the same order, so the bits are the same; what changes is the walk through memory:
// - taps away from a line's ends read their samples directly; only the few outputs near the ends
//   wrap their index around the period;
// - the column filters run along rows, every column of an output row at once, instead of walking
//   down each column;
// - synthesis builds one output row at a time from the band rows it needs, so the column-filtered
//   planes of the plain version never exist, and the last level can go straight to the picture;
// - analysis reads the coder's bytes directly at the first level and reuses its two work planes at
//   every level.
#include "modules/ezw/ezw_wavelet.h"

#include <algorithm>

namespace {

inline int PeriodicIndex(int i, int n)
{
    i %= n;
    return i < 0 ? i + n : i;
}

// out[j/2] = 0 + sum over k of f[k] x[(j + off - k) mod n] for even j: one analysis filter on a line,
// plainly, every index wrapped.
void AnalyseRowWrapped(const double *x, int n, const EzwFilter &f, int j, double *out)
{
    double sum = 0;
    for (int k = 0; k < f.taps; ++k)
        sum += f.k[k] * x[PeriodicIndex(j + f.offset - k, n)];
    out[j / 2] = sum;
}

// The same for the filter's fixed length: the outputs whose taps stay inside the line read their
// samples directly.
template <int Taps> void AnalyseRowTaps(const double *x, int n, const EzwFilter &f, double *out)
{
    const int off = f.offset;
    double k[Taps]; // in registers: out might alias the filter as far as the compiler knows
    std::copy(f.k, f.k + Taps, k);
    int j = 0;
    for (; j < n && j + off - (Taps - 1) < 0; j += 2)
        AnalyseRowWrapped(x, n, f, j, out);
    for (; j + off < n; j += 2) {
        const double *p = x + j + off;
        double sum = 0;
        for (int t = 0; t < Taps; ++t)
            sum += k[t] * p[-t];
        out[j / 2] = sum;
    }
    for (; j < n; j += 2)
        AnalyseRowWrapped(x, n, f, j, out);
}

void AnalyseRow(const double *x, int n, const EzwFilter &f, double *out)
{
    if (f.taps == 9)
        AnalyseRowTaps<9>(x, n, f, out);
    else if (f.taps == 7)
        AnalyseRowTaps<7>(x, n, f, out);
    else
        for (int j = 0; j < n; j += 2)
            AnalyseRowWrapped(x, n, f, j, out);
}

// acc[c] += f * src[c] over a row.
inline void AddScaledRow(double *__restrict acc, const double *__restrict src, double f, int cols)
{
    for (int c = 0; c < cols; ++c)
        acc[c] += f * src[c];
}

// The row-filtered lines of one analysis level (lo and hi halves side by side, W doubles), given to
// the column filters by row number. A tall picture keeps only a window of them: the rows around the
// output row in a ring, and the first and last few, which the periodic extension reads at the other
// end. A short one keeps them all.
template <class Row> class FilteredRows
{
public:
    FilteredRows(int W, int H, Row row, const EzwFilterSet &f, EzwPlane *work)
        : m_W(W), m_H(H), m_row(row), m_f(f), m_work(*work)
    {
        const int maxOff = std::max(f.aL.offset, f.aH.offset);
        const int minOff = std::min(f.aL.offset, f.aH.offset);
        const int maxTaps = std::max(f.aL.taps, f.aH.taps);
        m_before = std::max(0, maxTaps - 1 - minOff);
        m_after = std::max(0, maxOff);
        m_line.resize(static_cast<std::size_t>(W));
        m_all = H < 4 * (kRing + m_before + m_after);
        if (m_all) {
            m_work.Reshape(H, W);
            for (int r = 0; r < H; ++r)
                Filter(r, &m_work.v[static_cast<std::size_t>(r) * W]);
            return;
        }
        // Ring, then the last m_before rows, then the first m_after rows.
        m_work.Reshape(kRing + m_before + m_after, W);
        for (int r = H - m_before; r < H; ++r)
            Filter(r, Slot(kRing + r - (H - m_before)));
    }

    // Row q of the periodic extension (q may lie a few rows outside 0..H-1).
    const double *Get(int q)
    {
        if (m_all)
            return &m_work.v[static_cast<std::size_t>(PeriodicIndex(q, m_H)) * m_W];
        if (q < 0)
            return Slot(kRing + q + m_before);
        if (q >= m_H)
            return Slot(kRing + m_before + (q - m_H));
        while (m_next <= q) {
            double *line = Slot(m_next % kRing);
            Filter(m_next, line);
            if (m_next < m_after)
                std::copy(line, line + m_W, Slot(kRing + m_before + m_next));
            ++m_next;
        }
        return Slot(q % kRing);
    }

private:
    static constexpr int kRing = 16; // more than the rows one output row reads
    double *Slot(int s) { return &m_work.v[static_cast<std::size_t>(s) * m_W]; }
    void Filter(int r, double *out)
    {
        const double *x = m_row(r, m_line.data());
        AnalyseRow(x, m_W, m_f.aL, out);
        AnalyseRow(x, m_W, m_f.aH, out + m_W / 2);
    }

    int m_W, m_H;
    Row m_row;
    const EzwFilterSet &m_f;
    EzwPlane &m_work;
    std::vector<double> m_line;
    int m_before = 0, m_after = 0, m_next = 0;
    bool m_all = false;
};

// One analysis level of an H x W picture whose rows come from row(r, line): rows filtered into lo
// and hi, then columns filtered into the four bands, one output row at a time. Each output is
// 0 + sum over k of f[k] times row (2i + off - k) of lo or hi, the terms in the plain order.
template <class Row>
void AnalyseLevel(int W, int H, Row row, EzwPlane *work, EzwPlane *ll, EzwPlane *lh, EzwPlane *hl,
                  EzwPlane *hh, const EzwFilterSet &f)
{
    FilteredRows<Row> rows(W, H, row, f, work);
    const int half = W / 2;
    for (EzwPlane *b : {ll, lh, hl, hh})
        b->Reshape(H / 2, half);
    for (int i = 0; i < H / 2; ++i) {
        const std::size_t at = static_cast<std::size_t>(i) * half;
        double *oLL = &ll->v[at], *oHL = &hl->v[at], *oLH = &lh->v[at], *oHH = &hh->v[at];
        // Rows are asked for from the highest down, so the ring has them all before the first use.
        rows.Get(2 * i + std::max(f.aL.offset, f.aH.offset));
        for (double *o : {oLL, oHL, oLH, oHH})
            std::fill(o, o + half, 0.0);
        for (int k = 0; k < f.aL.taps; ++k) {
            const double *x = rows.Get(2 * i + f.aL.offset - k);
            AddScaledRow(oLL, x, f.aL.k[k], half);
            AddScaledRow(oHL, x + half, f.aL.k[k], half);
        }
        for (int k = 0; k < f.aH.taps; ++k) {
            const double *x = rows.Get(2 * i + f.aH.offset - k);
            AddScaledRow(oLH, x, f.aH.k[k], half);
            AddScaledRow(oHH, x + half, f.aH.k[k], half);
        }
    }
}

// All levels; level 0 reads its rows through row(r, line).
template <class Row> void ForwardFrom(int W, int H, Row row, EzwPyramid *p, const EzwFilterSet &f)
{
    EzwPlane work, cur, next;
    const int L = p->levels;
    for (int i = 0; i < L; ++i) {
        EzwPlane *ll = i == L - 1 ? &p->ll : &next;
        if (i == 0) {
            AnalyseLevel(W, H, row, &work, ll, &p->Band(i, 1), &p->Band(i, 2), &p->Band(i, 3), f);
        } else {
            auto planeRow = [&cur](int r, double *) {
                return &cur.v[static_cast<std::size_t>(r) * cur.cols];
            };
            AnalyseLevel(cur.cols, cur.rows, planeRow, &work, ll, &p->Band(i, 1), &p->Band(i, 2),
                         &p->Band(i, 3), f);
        }
        if (ll == &next)
            std::swap(cur, next);
    }
}

// Adds to acc[c] the terms of the column synthesis of output row j from one band (H rows): the taps
// whose upsampled row is an even one, in the plain order, for every column at once.
void SynthesiseColumnsRow(const EzwPlane &band, int j, const EzwFilter &f, double *acc)
{
    const int cols = band.cols, n = 2 * band.rows;
    for (int k = 0; k < f.taps; ++k) {
        const int p = PeriodicIndex(j + f.offset - k, n);
        if (p & 1)
            continue;
        AddScaledRow(acc, &band.v[static_cast<std::size_t>(p / 2) * cols], f.k[k], cols);
    }
}

// out[m] += 0 + the taps of f over the upsampled line b (w samples at the even places of 2w), one
// output plainly: every index wrapped, the odd (zero) places skipped.
void SynthesiseRowWrapped(const double *b, int w, const EzwFilter &f, int m, double *out)
{
    double sum = 0;
    for (int k = 0; k < f.taps; ++k) {
        const int p = PeriodicIndex(m + f.offset - k, 2 * w);
        if ((p & 1) == 0)
            sum += f.k[k] * b[p / 2];
    }
    out[m] += sum;
}

// The same for a filter of Taps taps at offset Off, inside the line read directly. There the even
// places among m + off - t are those of t with the parity of m + off: for an output pair (2q, 2q + 1)
// the samples read are b[q + (Off - t) / 2] and b[q + (Off + 1 - t) / 2], so both outputs of a pair
// step through b together and the compiler can run several pairs at once.
template <int Taps, int Off> void SynthesiseRowTaps(const double *b, int w, const EzwFilter &f, double *out)
{
    const int n = 2 * w;
    double k[Taps]; // in registers: out might alias the filter as far as the compiler knows
    std::copy(f.k, f.k + Taps, k);
    // Pairs whose both outputs have all their taps inside the line.
    const int qa = (Taps - 1 - Off + 1) / 2 > 0 ? (Taps - 1 - Off + 1) / 2 : 0;
    const int qb = (n - 1 - Off) / 2; // 2q + 1 + Off < n
    int m = 0;
    for (; m < std::min(2 * qa, n); ++m)
        SynthesiseRowWrapped(b, w, f, m, out);
    for (int q = qa; q < qb; ++q) {
        double even = 0, odd = 0;
        for (int t = Off & 1; t < Taps; t += 2)
            even += k[t] * b[q + (Off - t) / 2];
        for (int t = (Off + 1) & 1; t < Taps; t += 2)
            odd += k[t] * b[q + (Off + 1 - t) / 2];
        out[2 * q] += even;
        out[2 * q + 1] += odd;
    }
    for (m = std::max(m, 2 * std::max(qb, qa)); m < n; ++m)
        SynthesiseRowWrapped(b, w, f, m, out);
}

void SynthesiseRow(const double *b, int w, const EzwFilter &f, double *out)
{
    if (f.taps == 9 && f.offset == 3) {
        SynthesiseRowTaps<9, 3>(b, w, f, out);
    } else if (f.taps == 7 && f.offset == 3) {
        SynthesiseRowTaps<7, 3>(b, w, f, out);
    } else {
        for (int m = 0; m < 2 * w; ++m)
            SynthesiseRowWrapped(b, w, f, m, out);
    }
}

// One synthesis level: bands of H x W to 2H rows of 2W, each handed to put(row, values) as it is made.
template <class Put>
void SynthesiseLevel(const EzwPlane &hh, const EzwPlane &hl, const EzwPlane &lh, const EzwPlane &ll,
                     const EzwFilterSet &f, Put put)
{
    const int W = ll.cols, H = ll.rows;
    std::vector<double> P(static_cast<std::size_t>(W)), Q(P.size()), acc(P.size()), out(2 * P.size());
    auto column = [&](const EzwPlane &low, const EzwPlane &high, int j, std::vector<double> &line) {
        // As the plain version adds into a zeroed plane: first the low band's sum, then the high one's.
        std::fill(acc.begin(), acc.end(), 0.0);
        SynthesiseColumnsRow(low, j, f.sL, acc.data());
        for (int c = 0; c < W; ++c)
            line[c] = 0.0 + acc[c];
        std::fill(acc.begin(), acc.end(), 0.0);
        SynthesiseColumnsRow(high, j, f.sH, acc.data());
        for (int c = 0; c < W; ++c)
            line[c] += acc[c];
    };
    for (int j = 0; j < 2 * H; ++j) {
        column(ll, lh, j, P);
        column(hl, hh, j, Q);
        std::fill(out.begin(), out.end(), 0.0);
        SynthesiseRow(P.data(), W, f.sL, out.data());
        SynthesiseRow(Q.data(), W, f.sH, out.data());
        put(j, out.data());
    }
}

} // namespace

void Ezw_analysis(const EzwPlane &in, EzwPlane *ll, EzwPlane *lh, EzwPlane *hl, EzwPlane *hh,
                  const EzwFilterSet &f)
{
    EzwPlane work;
    auto row = [&in](int r, double *) { return &in.v[static_cast<std::size_t>(r) * in.cols]; };
    AnalyseLevel(in.cols, in.rows, row, &work, ll, lh, hl, hh, f);
}

void Ezw_synthesis(const EzwPlane &hh, const EzwPlane &hl, const EzwPlane &lh, const EzwPlane &ll,
                   EzwPlane *out, const EzwFilterSet &f)
{
    const int W2 = 2 * ll.cols;
    out->Reshape(2 * ll.rows, W2);
    SynthesiseLevel(hh, hl, lh, ll, f, [&](int j, const double *row) {
        std::copy(row, row + W2, &out->v[static_cast<std::size_t>(j) * W2]);
    });
}

void EzwForward(const EzwPlane &image, EzwPyramid *p, const EzwFilterSet &f)
{
    auto row = [&image](int r, double *) { return &image.v[static_cast<std::size_t>(r) * image.cols]; };
    ForwardFrom(image.cols, image.rows, row, p, f);
}

void EzwForwardBytes(const std::vector<uint8_t> &bytes, int mean, EzwPyramid *p, const EzwFilterSet &f)
{
    const int W = p->width;
    auto row = [&bytes, mean, W](int r, double *line) {
        const uint8_t *b = &bytes[static_cast<std::size_t>(r) * W];
        for (int x = 0; x < W; ++x)
            line[x] = static_cast<double>(b[x] - mean);
        return static_cast<const double *>(line);
    };
    ForwardFrom(W, p->height, row, p, f);
}

void EzwInverseRows(const EzwPyramid &p, const EzwFilterSet &f,
                    const std::function<void(int row, const double *values)> &put)
{
    EzwPlane cur = p.ll, next;
    for (int i = p.levels - 1; i >= 1; --i) {
        Ezw_synthesis(p.Band(i, 3), p.Band(i, 2), p.Band(i, 1), cur, &next, f);
        std::swap(cur, next);
    }
    SynthesiseLevel(p.Band(0, 3), p.Band(0, 2), p.Band(0, 1), cur, f, put);
}

void EzwInverse(const EzwPyramid &p, EzwPlane *image, const EzwFilterSet &f)
{
    image->Reshape(p.height, p.width);
    EzwInverseRows(p, f, [&](int j, const double *row) {
        std::copy(row, row + p.width, &image->v[static_cast<std::size_t>(j) * p.width]);
    });
}
