// The domain search, plain and fast. Every sum a match needs is a whole number of quarters (pixels
// are bytes, half-resolution samples are sums of four pixels divided by 4), far below 2^53, so
// the doubles of the plain search hold them exactly and the fast search may form them in integers
// and in any order. What is skipped is skipped by bounds on the error that hold for any scale in
// -1..1 and any offset, with margins far above the rounding of the error's expansion.
#include "modules/fractal/fic_search.h"

#include "modules/fractal/fic_classify.h"

#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Block sample (X, Y) seen through orientation o: the index of the sample FicOrient pairs it with.
int Turned(int o, int X, int Y, int b)
{
    int U, V;
    FicOrient(o, X, Y, b, b, &U, &V);
    return V * b + U;
}

} // namespace

void FicPackDomainLists(FicDomainLevel *level, const FicHalfCopies &half)
{
    const int b = level->rangeSide;
    const double n = static_cast<double>(b) * b;
    for (FicDomainList &list : level->lists) {
        list.norm.resize(list.entries.size());
        list.sums.resize(list.entries.size());
        list.samples.resize(list.entries.size() * static_cast<size_t>(b) * b);
        int16_t *out = list.samples.data();
        for (size_t k = 0; k < list.entries.size(); ++k) {
            const FicDomain &dom = level->domains[static_cast<size_t>(list.entries[k])];
            const double w = n * dom.sdd - dom.sd * dom.sd;
            list.norm[k] = std::sqrt(w);
            FicListEntry &entry = list.sums[k];
            entry.sd = dom.sd;
            entry.sdd = dom.sdd;
            entry.w = w;
            entry.sd4 = static_cast<int64_t>(dom.sd * 4);
            entry.h = dom.h;
            entry.v = dom.v;
            entry.orientation = dom.orientation;
            const double *corner = half.At(dom.h * level->grid.hstep, dom.v * level->grid.vstep);
            for (int Y = 0; Y < b; ++Y)
                for (int X = 0; X < b; ++X) {
                    const int t = Turned(dom.orientation, X, Y, b);
                    *out++ = static_cast<int16_t>(corner[static_cast<long>(t / b) * half.cols + t % b] * 4);
                }
        }
    }
}

FicMapFit FicFitMap(double n, double sr, double srr, double sd, double sdd, double w, double sdr, int sb,
                    int ob)
{
    FicMapFit fit;
    const double s = w != 0 ? (n * sdr - sd * sr) / w : 0.0;
    fit.scale = FicScaleIndex(s, sb);
    const double S = FicScale(fit.scale, sb);
    const double o = (sr - S * sd) / n;
    fit.offset = FicOffsetIndex(o, S, ob);
    const double O = FicOffset(fit.offset, S, ob);
    // The error of the quantised map, expanded in the sums; rounding can take an exact fit a hair
    // below zero, which is an error of zero.
    fit.e = (S * (S * sdd - 2 * sdr + 2 * sd * O) + O * (n * O - 2 * sr) + srr) / n;
    return fit;
}

namespace {

double RmsOf(double e)
{
    return e > 0 ? std::sqrt(e) : 0.0;
}

// One range against one domain, turned by orientation, on the half-resolution copy.
FicMapFit fic_match_error(const FicRange &r, const FicDomainLevel &level, const FicDomain &dom,
                          int orientation, const FicHalfCopies &half)
{
    const int b = r.b, c = r.b;
    const double n = static_cast<double>(b) * c;
    const double *corner = half.At(dom.h * level.grid.hstep, dom.v * level.grid.vstep);
    double sdr = 0;
    for (int Y = 0; Y < c; ++Y) {
        const uint8_t *row = r.image + static_cast<long>(r.y + Y) * r.cols + r.x;
        for (int X = 0; X < b; ++X) {
            int U, V;
            FicOrient(orientation, X, Y, b, c, &U, &V);
            sdr += row[X] * corner[static_cast<long>(V) * half.cols + U];
        }
    }
    return FicFitMap(n, r.sr, r.srr, dom.sd, dom.sdd, n * dom.sdd - dom.sd * dom.sd, sdr, r.sb, r.ob);
}

void Take(FicBest *best, const FicMapFit &fit, double rms, int h, int v, int orientation)
{
    best->rms = rms;
    best->e = fit.e;
    best->scale = fit.scale;
    best->offset = fit.offset;
    best->h = h;
    best->v = v;
    best->orientation = orientation;
    best->found = true;
}

} // namespace

void FicSearchListPlain(const FicRange &range, const FicDomainLevel &level, const FicDomainList &list,
                        int rangeOrientation, const FicHalfCopies &half, FicBest *best)
{
    for (int index : list.entries) {
        const FicDomain &dom = level.domains[static_cast<size_t>(index)];
        const int orientation = FicMatchOrientation(rangeOrientation, dom.orientation);
        const FicMapFit fit = fic_match_error(range, level, dom, orientation, half);
        const double rms = RmsOf(fit.e);
        // Strictly smaller: the first best in search order wins.
        if (rms < best->rms || !best->found)
            Take(best, fit, rms, dom.h, dom.v, orientation);
    }
}

namespace {

// What the fast search knows of a range before it meets a domain. With n pixels, R = sqrt(n Srr -
// Sr^2) and a domain's D = sqrt(w), n^2 e >= (R - |S| D)^2 for any offset, since the offset only
// moves the mean; so with |S| <= 1 a domain with D < R - n sqrt(e) cannot reach the error e. Once
// Sdr is known, the best unquantised map has n^2 e = R^2 - num^2 / w with num = n Sdr - Sd Sr, and
// the quantised one cannot do better. And |num| <= R D, so a domain with D > 2^sb R gets a scale
// below half a step: the zero index, whose map and error are those of the flat block of the range's
// mean, whatever the domain.
struct RangeBounds
{
    RangeBounds(const FicRange &r, double fitThreshold)
        : n(static_cast<double>(r.b) * r.b), fit(fitThreshold), Ar(n * r.srr - r.sr * r.sr), R(std::sqrt(Ar)),
          zeroNorm(std::ldexp(R, r.sb) * (1 + 1e-6))
    {
        Tighten(nullptr);
    }

    // The bounds for the current best: a domain must beat it strictly, and, while the range may
    // still be split, also come within the fit threshold.
    void Tighten(const FicBest *best)
    {
        double tau = std::numeric_limits<double>::infinity();
        if (best && best->found)
            tau = best->rms;
        if (fit >= 0 && fit < tau)
            tau = fit;
        if (std::isinf(tau)) {
            limit = -tau;
            Q16 = -tau;
            return;
        }
        // An error above E is an rms above tau: the margins cover the rounding of the error's
        // expansion (about 1e-9 on 8-bit sums) and of the square roots here many times over.
        const double E = (tau + 1e-6) * (tau + 1e-6) * (1 + 1e-9) + 1e-6;
        limit = R - n * std::sqrt(E) * (1 + 1e-9) - 1e-9 * R;
        Q16 = 16 * (Ar - n * n * E) / (1 + 1e-9);
    }
    // The domain's spread is too small to reach the bound.
    bool TooFlat(double norm) const { return norm < limit; }
    // The scale quantises to the zero index (norm = 0: a flat domain).
    bool ZeroScale(double norm) const { return norm > zeroNorm || norm == 0; }
    // Even the best unquantised map misses the bound; num4 = 4 num.
    bool MissesWith(double num4, double w) const { return Q16 > 0 && num4 * num4 <= w * Q16; }

    double n, fit, Ar, R, zeroNorm;
    double limit = 0, Q16 = 0;
};

#if defined(__SSE2__)
int64_t SumLanes(__m128i acc)
{
    acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(1, 0, 3, 2)));
    acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(acc);
}
#endif

// FicDot for a count fixed at compile time (range sides 4, 8 and 16), unrolled; 0 stands for any
// count.
template <int kCount> int64_t Dot(const int16_t *a, const int16_t *b, int count)
{
    if constexpr (kCount == 0) {
        return FicDot(a, b, count);
    } else {
#if defined(__SSE2__)
        // At most kCount / 8 pairs of 2 * 255 * 1020 in a lane: far inside 32 bits.
        __m128i acc = _mm_setzero_si128();
        for (int k = 0; k < kCount; k += 8)
            acc =
                _mm_add_epi32(acc, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + k)),
                                                  _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + k))));
        return SumLanes(acc);
#else
        (void)count;
        return FicDotPlain(a, b, kCount);
#endif
    }
}

class FastSearch
{
public:
    FastSearch(const FicRange &r, std::vector<int16_t> *scratch, FicBest *best, double fitThreshold)
        : m_range(r), m_count(r.b * r.b), m_scratch(scratch), m_best(best), m_bounds(r, fitThreshold)
    {
        m_bounds.Tighten(best);
    }

    const RangeBounds &Bounds() const { return m_bounds; }

    // The error every domain with the zero scale gives this range.
    const FicMapFit &ZeroFit()
    {
        if (!m_zeroKnown) {
            m_zeroFit = FicFitMap(m_bounds.n, m_range.sr, m_range.srr, 0, 0, 0, 0, m_range.sb, m_range.ob);
            m_zeroKnown = true;
        }
        return m_zeroFit;
    }

    // A candidate with its fit: taken when its rms is strictly smaller (an error not below the
    // best's cannot give one), or when it is the first.
    void Offer(const FicMapFit &fit, const FicListEntry &dom, int rangeOrientation)
    {
        if (m_best->found && !(fit.e < m_best->e))
            return;
        const double rms = RmsOf(fit.e);
        if (rms < m_best->rms || !m_best->found) {
            Take(m_best, fit, rms, dom.h, dom.v, FicMatchOrientation(rangeOrientation, dom.orientation));
            m_bounds.Tighten(m_best);
        }
    }

    // The range's pixels turned into the frame of its class: pixel (X, Y) of the frame is the
    // range's pixel at FicOrient(o, X, Y). A domain turned into its own frame pairs with it sample
    // for sample, since the match orientation turns one frame into the other.
    const int16_t *InFrame(int o)
    {
        const int b = m_range.b;
        m_scratch->resize(static_cast<size_t>(m_count));
        int16_t *out = m_scratch->data();
        for (int Y = 0; Y < b; ++Y)
            for (int X = 0; X < b; ++X) {
                const int t = Turned(o, X, Y, b);
                out[Y * b + X] =
                    m_range.image[static_cast<long>(m_range.y + t / b) * m_range.cols + m_range.x + t % b];
            }
        return out;
    }

    template <int kCount> void SearchList(const FicDomainList &list, int rangeOrientation)
    {
        const int count = kCount ? kCount : m_count;
        const int64_t sr = static_cast<int64_t>(m_range.sr);
        const double *norms = list.norm.data();
        const int16_t *frame = nullptr;
        const size_t size = list.entries.size();
        for (size_t k = 0; k < size; ++k) {
            const double norm = norms[k];
            if (m_bounds.TooFlat(norm))
                continue;
            const FicListEntry &dom = list.sums[k];
            if (m_bounds.ZeroScale(norm)) {
                // The same map and error for every such domain: the first one met keeps it.
                Offer(ZeroFit(), dom, rangeOrientation);
                continue;
            }
            if (!frame)
                frame = InFrame(rangeOrientation);
            const int64_t dot =
                Dot<kCount>(frame, list.samples.data() + k * static_cast<size_t>(count), count);
            // dot = 4 Sdr, and 4 num = n 4 Sdr - 4 Sd Sr: whole numbers below 2^47, exact.
            if (m_bounds.MissesWith(static_cast<double>(count * dot - dom.sd4 * sr), dom.w))
                continue;
            Offer(FicFitMap(m_bounds.n, m_range.sr, m_range.srr, dom.sd, dom.sdd, dom.w,
                            static_cast<double>(dot) / 4, m_range.sb, m_range.ob),
                  dom, rangeOrientation);
        }
    }

private:
    const FicRange &m_range;
    int m_count;
    std::vector<int16_t> *m_scratch;
    FicBest *m_best;
    RangeBounds m_bounds;
    bool m_zeroKnown = false;
    FicMapFit m_zeroFit;
};

template <int kCount>
void SearchBoth(FastSearch &search, const FicDomainList &first, int firstOrientation,
                const FicDomainList &second, int secondOrientation)
{
    search.SearchList<kCount>(first, firstOrientation);
    search.SearchList<kCount>(second, secondOrientation);
}

} // namespace

void FicSearchRangeFast(const FicRange &range, const FicDomainList &first, int firstOrientation,
                        const FicDomainList &second, int secondOrientation, double fitThreshold,
                        std::vector<int16_t> *scratch, FicBest *best)
{
    FastSearch search(range, scratch, best, fitThreshold);
    if (search.Bounds().Ar == 0) {
        // A flat range: every domain gets the zero scale and the same error, so nothing after the
        // first domain of the first list can beat it (the lists are never empty).
        search.Offer(search.ZeroFit(), first.sums[0], firstOrientation);
        return;
    }
    switch (range.b) {
    case 4:
        return SearchBoth<16>(search, first, firstOrientation, second, secondOrientation);
    case 8:
        return SearchBoth<64>(search, first, firstOrientation, second, secondOrientation);
    case 16:
        return SearchBoth<256>(search, first, firstOrientation, second, secondOrientation);
    default:
        return SearchBoth<0>(search, first, firstOrientation, second, secondOrientation);
    }
}

int64_t FicDotPlain(const int16_t *a, const int16_t *b, int count)
{
    int64_t sum = 0;
    for (int i = 0; i < count; ++i)
        sum += static_cast<int32_t>(a[i]) * b[i];
    return sum;
}

int64_t FicDot(const int16_t *a, const int16_t *b, int count)
{
    int64_t sum = 0;
    int i = 0;
#if defined(__SSE2__)
    // Pairs of products summed into 32-bit lanes: a pair is at most 2 * 255 * 1020, so a lane
    // holds 2048 pairs with room to spare; longer blocks go in slices of 16384 samples.
    while (count - i >= 8) {
        const int slice = count - i < 16384 ? (count - i) & ~7 : 16384;
        __m128i acc = _mm_setzero_si128();
        for (int k = 0; k < slice; k += 8) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i + k));
            const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i + k));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(x, y));
        }
        alignas(16) int32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i *>(lanes), acc);
        sum += static_cast<int64_t>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
        i += slice;
    }
#endif
    return sum + FicDotPlain(a + i, b + i, count - i);
}
