// The three block-matching searches and their judges. A candidate is judged over the positions of
// its window where both the current and the reference pixel lie in the bordered frame; near the
// picture edge fewer positions count, so the measure is a mean, not a sum. The zero displacement sits
// in the middle of every candidate list, which is what a block gets when nothing can be judged.
#include "mpeg/me/bm_search.h"
#include "mpeg/me/me_measures.h"

#include "image/numeric.h"
#include "platform/messages.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <vector>

namespace {

// Once-per-run messages (the searches would otherwise repeat them for every block).
struct RunMessages
{
    bool noPoints = false;
    bool sadRep = false;
    bool ssdRep = false;
    bool ssdRevision = false;
    bool criterion = false;
    bool field = false;
};
RunMessages &Once()
{
    static RunMessages m;
    return m;
}

void ShowOnce(bool &shown, const char *text)
{
    if (shown)
        return;
    shown = true;
    zn::ShowMessage(text);
}

// Counted positions along one axis: p = 0, step, 2 step, ... below n with both a + p and c + p inside
// [-border, size + border - 1]. Returns the first and last position, or first > last when none.
void AxisRange(int a, int c, int n, int step, int border, int size, int *first, int *last)
{
    const int lo = std::max({0, -border - a, -border - c});
    const int hi = std::min({n - 1, size + border - 1 - a, size + border - 1 - c});
    *first = (lo + step - 1) / step * step;
    *last = hi;
}

int CountOn(int first, int last, int step)
{
    return first > last ? 0 : (last - first) / step + 1;
}

template <class T> const T *Row(void **rows, int r)
{
    return IndexRow<T>(rows, r);
}

int Saturate(int v)
{
    return std::clamp(v, -128, 127);
}

int GetComponent(const VF *vf, bool a, int idx)
{
    const void *plane = a ? vf->planeA : vf->planeB;
    switch (vf->rep) {
    case 0:
        return static_cast<const int8_t *>(plane)[idx];
    case 1:
        return static_cast<const int32_t *>(plane)[idx];
    default:
        return static_cast<int>(static_cast<const float *>(plane)[idx]);
    }
}

void SetComponent(VF *vf, bool a, int idx, int v)
{
    void *plane = a ? vf->planeA : vf->planeB;
    switch (vf->rep) {
    case 0:
        static_cast<int8_t *>(plane)[idx] = static_cast<int8_t>(Saturate(v));
        break;
    case 1:
        static_cast<int32_t *>(plane)[idx] = v;
        break;
    default:
        static_cast<float *>(plane)[idx] = static_cast<float>(v);
    }
}

// The frames as row tables over the bordered index ranges; released on leaving the search.
class FramePair
{
public:
    FramePair(const Img *cur, const Img *prev, int border)
    {
        if (!cur || !prev || border < 0 || !cur->plane[0] || !prev->plane[0] || cur->rep != prev->rep ||
            cur->rows != prev->rows || cur->cols != prev->cols)
            return;
        height = cur->rows - 2 * border;
        width = cur->cols - 2 * border;
        if (height <= 0 || width <= 0)
            return;
        m_border = border;
        rep = cur->rep;
        curRows = IndexArray(cur->plane[0], rep, -border, height + border - 1, -border, width + border - 1);
        prevRows = IndexArray(prev->plane[0], rep, -border, height + border - 1, -border, width + border - 1);
    }
    ~FramePair()
    {
        FreeIndexArray(curRows, -m_border);
        FreeIndexArray(prevRows, -m_border);
    }
    FramePair(const FramePair &) = delete;
    FramePair &operator=(const FramePair &) = delete;
    bool Ok() const { return curRows && prevRows; }

    void **curRows = nullptr;
    void **prevRows = nullptr;
    int height = 0, width = 0, rep = 0;

private:
    int m_border = 0;
};

struct SearchArgs
{
    const Img *cur, *prev;
    VF *out;
    const VF *start;
    int winH, winW, reach, criterion, border, offX, offY, step;
    const char *criterionText;
};

struct Judge
{
    const FramePair &f;
    const SearchArgs &a;
    // Index of the best candidate around the centre for the window at the origin; the middle entry
    // when the criterion is unknown or the frames cannot be judged.
    int operator()(int ox, int oy, int cx, int cy, const std::vector<int> &ca,
                   const std::vector<int> &cb) const
    {
        const BmCandidates list{static_cast<int>(ca.size()), ca.data(), cb.data()};
        int best = list.length / 2;
        if (a.criterion == ME_CRITERION_SAD)
            BmMinSAD(f.curRows, ox, oy, f.prevRows, cx, cy, f.rep, a.winH, a.winW, list, &best, a.step,
                     a.border, f.height, f.width);
        else if (a.criterion == ME_CRITERION_SSD)
            BmMinSSD(f.curRows, ox, oy, f.prevRows, cx, cy, f.rep, a.winH, a.winW, list, &best, a.step,
                     a.border, f.height, f.width);
        else
            ShowOnce(Once().criterion, a.criterionText);
        return best;
    }
};

// The block loop the searches share: blocks in raster order over the picture, the block index
// addressing both fields. search(ox, oy, cx, cy, &dA, &dB) finds the displacement from the centre.
template <class Search> void ForEachBlock(const SearchArgs &a, Search search)
{
    VF *out = a.out;
    if (!FieldUsable(out))
        return;
    const VF *start = a.start;
    if (start && (!FieldUsable(start) || start->rows != out->rows || start->cols != out->cols)) {
        ShowOnce(Once().field, "Block matching - The starting vector field does not match the block grid");
        return;
    }
    FramePair f(a.cur, a.prev, a.border);
    if (!f.Ok())
        return;
    const int step = std::max(1, a.step);
    SearchArgs args = a;
    args.step = step;
    const Judge judge{f, args};
    for (int br = 0; br < out->rows; ++br) {
        const int y = br * out->blockHeight;
        if (y >= f.height)
            break;
        for (int bc = 0; bc < out->cols; ++bc) {
            const int x = bc * out->blockWidth;
            if (x >= f.width)
                break;
            const int idx = br * out->cols + bc;
            const int sA = start ? GetComponent(start, true, idx) : 0;
            const int sB = start ? GetComponent(start, false, idx) : 0;
            const int ox = x - a.offX;
            const int oy = y - a.offY;
            int dA = 0, dB = 0;
            search(judge, ox, oy, ox + sA, oy + sB, &dA, &dB);
            SetComponent(out, true, idx, sA + dA);
            SetComponent(out, false, idx, sB + dB);
        }
    }
}

template <class T>
void MinSSD(void **curRows, int ox, int oy, void **prevRows, int cx, int cy, int winH, int winW,
            const BmCandidates &list, int *best, int step, int border, int height, int width)
{
    float bestMeasure = FLT_MAX;
    int chosen = -1;
    for (int k = 0; k < list.length; ++k) {
        const int rx = cx - list.a[k];
        const int ry = cy - list.b[k];
        int i0, i1, j0, j1;
        AxisRange(oy, ry, winH, step, border, height, &i0, &i1);
        AxisRange(ox, rx, winW, step, border, width, &j0, &j1);
        const double count = static_cast<double>(CountOn(i0, i1, step)) * CountOn(j0, j1, step);
        if (count == 0)
            continue;
        double sum = 0;
        bool lost = false;
        for (int i = i0; i <= i1 && !lost; i += step) {
            const T *c = Row<T>(curRows, oy + i) + ox;
            const T *p = Row<T>(prevRows, ry + i) + rx;
            for (int j = j0; j <= j1; j += step) {
                const double d = static_cast<double>(c[j]) - static_cast<double>(p[j]);
                sum += d * d;
            }
            // The sum only grows: once its mean reaches the best, this candidate cannot win.
            lost = static_cast<float>(sum / count) >= bestMeasure;
        }
        const float measure = static_cast<float>(sum / count);
        if (!lost && measure < bestMeasure) {
            bestMeasure = measure;
            chosen = k;
        }
    }
    if (chosen >= 0)
        *best = chosen;
    else
        *best = list.length / 2;
}

} // namespace

void BmBeginRun()
{
    Once() = RunMessages{};
}

bool BmWindowSadPlain(void **curRows, int ox, int oy, void **prevRows, int rx, int ry, int winH, int winW,
                      int step, int border, int height, int width, double *mean)
{
    double sum = 0;
    long count = 0;
    auto inside = [&](int r, int c) {
        return r >= -border && r <= height + border - 1 && c >= -border && c <= width + border - 1;
    };
    for (int i = 0; i < winH; i += step)
        for (int j = 0; j < winW; j += step) {
            if (!inside(oy + i, ox + j) || !inside(ry + i, rx + j))
                continue;
            const double c = Row<float>(curRows, oy + i)[ox + j];
            const double p = Row<float>(prevRows, ry + i)[rx + j];
            sum += std::fabs(c - p);
            ++count;
        }
    if (count == 0)
        return false;
    *mean = sum / static_cast<double>(count);
    return true;
}

bool BmWindowSad(void **curRows, int ox, int oy, void **prevRows, int rx, int ry, int winH, int winW,
                 int step, int border, int height, int width, double *mean)
{
    int i0, i1, j0, j1;
    AxisRange(oy, ry, winH, step, border, height, &i0, &i1);
    AxisRange(ox, rx, winW, step, border, width, &j0, &j1);
    const long count = static_cast<long>(CountOn(i0, i1, step)) * CountOn(j0, j1, step);
    if (count == 0)
        return false;
    double sum = 0;
    if (step == 1) {
        for (int i = i0; i <= i1; ++i) {
            const float *c = Row<float>(curRows, oy + i) + ox;
            const float *p = Row<float>(prevRows, ry + i) + rx;
            for (int j = j0; j <= j1; ++j)
                sum += std::fabs(static_cast<double>(c[j]) - static_cast<double>(p[j]));
        }
    } else {
        for (int i = i0; i <= i1; i += step) {
            const float *c = Row<float>(curRows, oy + i) + ox;
            const float *p = Row<float>(prevRows, ry + i) + rx;
            for (int j = j0; j <= j1; j += step)
                sum += std::fabs(static_cast<double>(c[j]) - static_cast<double>(p[j]));
        }
    }
    *mean = sum / static_cast<double>(count);
    return true;
}

void BmMinSAD(void **curRows, int ox, int oy, void **prevRows, int cx, int cy, int rep, int winH, int winW,
              const BmCandidates &list, int *best, int step, int border, int height, int width)
{
    if (rep != IMG_REP_FLOAT) {
        ShowOnce(Once().sadRep, "BmMinSAD - Invalid representation in ths implementation");
        return;
    }
    step = std::max(1, step);
    float bestMeasure = FLT_MAX;
    int chosen = -1;
    for (int k = 0; k < list.length; ++k) {
        double mean;
        if (!BmWindowSad(curRows, ox, oy, prevRows, cx - list.a[k], cy - list.b[k], winH, winW, step, border,
                         height, width, &mean))
            continue;
        const float measure = static_cast<float>(mean);
        if (measure < bestMeasure) {
            bestMeasure = measure;
            chosen = k;
        }
    }
    if (chosen >= 0) {
        *best = chosen;
        return;
    }
    if (!Once().noPoints) {
        Once().noPoints = true;
        zn::ShowMessage("BmMinSAD - Software Error: Not enough points in window for calculation SAD");
        zn::ShowMessage("Report this error to the authors, plus conditions under which it happened");
        zn::ShowMessage("Optimal motion vector is reset to zero ...");
    }
    *best = list.length / 2;
}

void BmMinSSD(void **curRows, int ox, int oy, void **prevRows, int cx, int cy, int rep, int winH, int winW,
              const BmCandidates &list, int *best, int step, int border, int height, int width)
{
    // The squared-difference criterion was never finished for the module; it warns before it runs.
    ShowOnce(Once().ssdRevision, "BmMinSSD - Needs software revision: probably going to crash");
    step = std::max(1, step);
    switch (rep) {
    case IMG_REP_BYTE:
        MinSSD<uint8_t>(curRows, ox, oy, prevRows, cx, cy, winH, winW, list, best, step, border, height,
                        width);
        break;
    case IMG_REP_INT:
        MinSSD<int32_t>(curRows, ox, oy, prevRows, cx, cy, winH, winW, list, best, step, border, height,
                        width);
        break;
    case IMG_REP_FLOAT:
        MinSSD<float>(curRows, ox, oy, prevRows, cx, cy, winH, winW, list, best, step, border, height, width);
        break;
    default:
        ShowOnce(Once().ssdRep, "BmMinSSD - Invalid Image representation");
    }
}

void BmBruteForceSearch(const Img *cur, const Img *prev, VF *out, const VF *start, int winH, int winW,
                        int reach, int criterion, int border, int offX, int offY, int step)
{
    const int d = std::clamp(reach, 0, 127);
    // Vertical entry outer, horizontal inner, each -d .. +d: the displacement (+d, +d) comes first.
    std::vector<int> ca, cb;
    for (int b = -d; b <= d; ++b)
        for (int a = -d; a <= d; ++a) {
            ca.push_back(a);
            cb.push_back(b);
        }
    const SearchArgs args{cur,
                          prev,
                          out,
                          start,
                          winH,
                          winW,
                          d,
                          criterion,
                          border,
                          offX,
                          offY,
                          step,
                          "BmBruteForceSearch - Invalid evaluation criterium"};
    ForEachBlock(args, [&](const Judge &judge, int ox, int oy, int cx, int cy, int *dA, int *dB) {
        const int k = judge(ox, oy, cx, cy, ca, cb);
        *dA = -ca[k];
        *dB = -cb[k];
    });
}

void BmOneTimeSearch(const Img *cur, const Img *prev, VF *out, const VF *start, int winH, int winW, int reach,
                     int criterion, int border, int offX, int offY, int step)
{
    const int d = std::clamp(reach, 0, 127);
    std::vector<int> line, zeros(2 * d + 1, 0);
    for (int v = -d; v <= d; ++v)
        line.push_back(v);
    const SearchArgs args{cur,
                          prev,
                          out,
                          start,
                          winH,
                          winW,
                          d,
                          criterion,
                          border,
                          offX,
                          offY,
                          step,
                          "BmOneTimeSearch - Invalid evaluation criterium"};
    ForEachBlock(args, [&](const Judge &judge, int ox, int oy, int cx, int cy, int *dA, int *dB) {
        // Horizontal first, then vertical at the horizontal displacement just chosen.
        *dA = -line[judge(ox, oy, cx, cy, line, zeros)];
        *dB = -line[judge(ox, oy, cx + *dA, cy, zeros, line)];
    });
}

void BmNStepSearch(const Img *cur, const Img *prev, VF *out, const VF *start, int winH, int winW, int reach,
                   int criterion, int border, int offX, int offY, int step)
{
    // Seven steps already reach 127, the most a signed byte holds.
    const int n = std::clamp(reach, 0, 7);
    const SearchArgs args{cur,
                          prev,
                          out,
                          start,
                          winH,
                          winW,
                          n,
                          criterion,
                          border,
                          offX,
                          offY,
                          step,
                          "BmNStepSearch - Criterium not yet implemented"};
    // Nine candidates per step E: vertical displacement +E, 0, -E outer, horizontal likewise inner.
    std::vector<std::vector<int>> ca(n), cb(n);
    for (int s = 0; s < n; ++s) {
        const int e = 1 << s;
        for (int b = -e; b <= e; b += e)
            for (int a = -e; a <= e; a += e) {
                ca[s].push_back(a);
                cb[s].push_back(b);
            }
    }
    ForEachBlock(args, [&](const Judge &judge, int ox, int oy, int cx, int cy, int *dA, int *dB) {
        for (int s = n - 1; s >= 0; --s) {
            const int k = judge(ox, oy, cx + *dA, cy + *dB, ca[s], cb[s]);
            *dA -= ca[s][k];
            *dB -= cb[s][k];
        }
    });
}
