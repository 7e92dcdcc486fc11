// One-dimensional orthonormal DCTs. The fast path follows the classic split: the even outputs of a
// DCT-II of size N are a DCT-II of the folded sum x[n] + x[N-1-n], the odd ones a DCT-IV of the folded
// difference; the DCT-IV itself is a permutation, butterfly stages of rotations, and a final
// half-angle rotation. The references evaluate the defining cosine sums directly.
#include "modules/sbc/sbc_dct.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace {

constexpr double kSqrtHalf = 0.70710677f;
constexpr float kPi = 3.1415927f;

// (a, b) -> (a cos t + b sin t, a sin t - b cos t) with three multiplications.
inline void Rotate(const float *e, float &a, float &b)
{
    const double h = (static_cast<double>(a) + b) * e[0];
    const double na = h + static_cast<double>(b) * e[1];
    const double nb = static_cast<double>(a) * e[2] - h;
    a = static_cast<float>(na);
    b = static_cast<float>(nb);
}

// The two-point orthonormal transform (its own inverse): the butterfly at both ends of the
// even/odd split.
inline void SumDiff(double a, double b, float &sum, float &diff)
{
    sum = static_cast<float>((a + b) * kSqrtHalf);
    diff = static_cast<float>((a - b) * kSqrtHalf);
}

// Four work arrays of h floats for one level of the recursion: on the stack for the block sides the
// modules use (a transform runs for every block of a picture, so it must not allocate), on the heap
// beyond.
class Work
{
public:
    explicit Work(int h) : m_h(h)
    {
        if (h > kStack) {
            m_heap.resize(4 * static_cast<size_t>(h));
            m_base = m_heap.data();
        }
    }
    float *operator[](int i) { return m_base + static_cast<ptrdiff_t>(i) * m_h; }

private:
    static constexpr int kStack = 32;
    int m_h;
    float m_stack[4 * kStack];
    std::vector<float> m_heap;
    float *m_base = m_stack;
};

// SbcDct4Perm of the sizes the modules use, made once.
const std::vector<int> &Dct4Perm(int m, std::vector<int> &other)
{
    static const std::vector<std::vector<int>> small = [] {
        std::vector<std::vector<int>> p;
        for (int size = 1; size <= 64; size *= 2)
            p.push_back(SbcDct4Perm(size));
        return p;
    }();
    for (size_t k = 0; k < small.size(); ++k)
        if (static_cast<int>(small[k].size()) == m)
            return small[k];
    other = SbcDct4Perm(m);
    return other;
}

} // namespace

SbcDctTable SbcDctTables(int n)
{
    SbcDctTable t;
    t.size = n;
    const int angles = n - 1;
    int i = 0;
    for (int a = 4; i < angles; a *= 2) {
        for (int off = 1; off < a && i < angles; off += 4, ++i) {
            const double th = off * static_cast<double>(kPi) / a;
            auto push = [](std::vector<float> &v, double x) {
                const double c = std::cos(x), s = std::sin(x);
                v.push_back(static_cast<float>(c));
                v.push_back(static_cast<float>(s - c));
                v.push_back(static_cast<float>(s + c));
            };
            if (i < n / 2 - 1)
                push(t.full, th);
            push(t.half, th / 2);
        }
    }
    return t;
}

std::vector<int> SbcDct4Perm(int m)
{
    std::vector<int> p(m), q;
    for (int i = 0; i < m; ++i)
        p[i] = i;
    for (int a = 4; a <= m; a *= 2) {
        q = p;
        for (int b = 0; b * a < m; ++b) {
            const int ba = b * a;
            for (int l = 0; l < a / 2; ++l) {
                if (b % 2 == 0) {
                    p[ba + 2 * l] = q[ba + l];
                    p[ba + 2 * l + 1] = q[ba + a - 1 - l];
                } else {
                    p[ba + 2 * l] = q[ba + a / 2 - 1 - l];
                    p[ba + 2 * l + 1] = q[ba + a / 2 + l];
                }
            }
        }
    }
    return p;
}

void SbcDct4(const SbcDctTable &t, const float *x, float *y, int m)
{
    if (m == 2) {
        y[0] = static_cast<float>(0.9238795f * static_cast<double>(x[0]) +
                                  0.38268343f * static_cast<double>(x[1]));
        y[1] = static_cast<float>(0.38268343f * static_cast<double>(x[0]) -
                                  0.9238795f * static_cast<double>(x[1]));
        return;
    }
    std::vector<int> unusual;
    const std::vector<int> &perm = Dct4Perm(m, unusual);
    const double scale = std::sqrt(2.0 / m);
    float *z = y;
    for (int i = 0; i < m; ++i)
        z[i] = static_cast<float>(scale * x[perm[i]]);
    for (int h = 1; 2 * h < m; h *= 2) {
        for (int g = 0; g < m; g += 4 * h) {
            for (int j = 0; j < h; ++j)
                Rotate(&t.full[3 * (h - 1 + j)], z[g + 2 * h + 2 * j], z[g + 2 * h + 2 * j + 1]);
            for (int j = 0; j < 2 * h; ++j) {
                const double a = z[g + j], b = z[g + 2 * h + j];
                z[g + j] = static_cast<float>(a + b);
                z[g + 2 * h + j] = static_cast<float>(a - b);
            }
        }
    }
    for (int i = 0; i < m / 2; ++i)
        Rotate(&t.half[3 * (m / 2 - 1 + i)], z[2 * i], z[2 * i + 1]);
    for (int i = 0; i < m / 4; ++i)
        std::swap(z[2 * i + 1], z[m - 1 - 2 * i]);
}

void SbcDct2(const SbcDctTable &t, float *x, float *y, int n)
{
    if (n == 2) {
        SumDiff(x[0], x[1], y[0], y[1]);
        return;
    }
    const int h = n / 2;
    Work work(h);
    float *u = work[0], *d = work[1], *ou = work[2], *od = work[3];
    for (int i = 0; i < h; ++i)
        SumDiff(x[i], x[n - 1 - i], u[i], d[i]);
    SbcDct2(t, u, ou, h);
    SbcDct4(t, d, od, h);
    for (int k = 0; k < h; ++k) {
        y[2 * k] = ou[k];
        y[2 * k + 1] = od[k];
    }
}

void SbcIdct2(const SbcDctTable &t, float *x, float *y, int n)
{
    if (n == 2) {
        SumDiff(x[0], x[1], y[0], y[1]);
        return;
    }
    const int h = n / 2;
    Work work(h);
    float *even = work[0], *odd = work[1], *u = work[2], *d = work[3];
    for (int k = 0; k < h; ++k) {
        even[k] = x[2 * k];
        odd[k] = x[2 * k + 1];
    }
    SbcIdct2(t, even, u, h);
    SbcDct4(t, odd, d, h);
    for (int i = 0; i < h; ++i)
        SumDiff(u[i], d[i], y[i], y[n - 1 - i]);
}

void SbcDct2Reference(const float *x, float *y, int n)
{
    for (int k = 0; k < n; ++k) {
        double s = 0;
        for (int i = 0; i < n; ++i)
            s += x[i] * std::cos(M_PI * k * (2 * i + 1) / (2.0 * n));
        y[k] = static_cast<float>(s * std::sqrt((k == 0 ? 1.0 : 2.0) / n));
    }
}

void SbcIdct2Reference(const float *x, float *y, int n)
{
    for (int i = 0; i < n; ++i) {
        double s = 0;
        for (int k = 0; k < n; ++k)
            s += x[k] * std::sqrt((k == 0 ? 1.0 : 2.0) / n) * std::cos(M_PI * k * (2 * i + 1) / (2.0 * n));
        y[i] = static_cast<float>(s);
    }
}

void SbcDct4Reference(const float *x, float *y, int m)
{
    for (int k = 0; k < m; ++k) {
        double s = 0;
        for (int i = 0; i < m; ++i)
            s += x[i] * std::cos(M_PI * (2 * i + 1) * (2 * k + 1) / (4.0 * m));
        y[k] = static_cast<float>(s * std::sqrt(2.0 / m));
    }
}
