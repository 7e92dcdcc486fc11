// Vectors and matrices over arbitrary index ranges, and LU solving (Crout's method with implicit
// partial pivoting). The prediction model solves its normal equations with these, 1-based.
#include "image/numeric.h"

#include "platform/messages.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <utility>

// The shifted pointers point outside their blocks when lo > 0; the arithmetic goes through integers
// so that only in-range addresses are ever formed as pointers by the compiler's rules.
namespace {

template <class T> T *Shift(T *p, long by)
{
    return reinterpret_cast<T *>(reinterpret_cast<uintptr_t>(p) + by * static_cast<long>(sizeof(T)));
}

} // namespace

float *vector(long lo, long hi)
{
    float *v = new (std::nothrow) float[hi - lo + 1]();
    if (!v) {
        zn::ShowMessage("allocation failure in vector()");
        return nullptr;
    }
    return Shift(v, -lo);
}

int *IntVector(long lo, long hi)
{
    int *v = new (std::nothrow) int[hi - lo + 1]();
    return v ? Shift(v, -lo) : nullptr;
}

void FreeVector(float *v, long lo, long)
{
    if (v)
        delete[] Shift(v, lo);
}

void FreeIntVector(int *v, long lo, long)
{
    if (v)
        delete[] Shift(v, lo);
}

float **matrix(long rl, long rh, long cl, long ch)
{
    float **m = new (std::nothrow) float *[rh - rl + 1]();
    if (!m) {
        zn::ShowMessage("allocation failure 1 in matrix()");
        return nullptr;
    }
    m = Shift(m, -rl);
    for (long r = rl; r <= rh; ++r) {
        float *row = new (std::nothrow) float[ch - cl + 1]();
        if (!row)
            zn::ShowMessage("allocation failure 2 in matrix()");
        m[r] = row ? Shift(row, -cl) : nullptr;
    }
    return m;
}

void FreeMatrix(float **m, long rl, long rh, long cl, long)
{
    if (!m)
        return;
    for (long r = rh; r >= rl; --r)
        if (m[r])
            delete[] Shift(m[r], cl);
    delete[] Shift(m, rl);
}

int ludcmp(float **a, int n, int *indx, float *d)
{
    float *vv = vector(1, n);
    if (!vv)
        return 1;
    *d = 1.0f;
    for (int i = 1; i <= n; ++i) {
        double big = 0;
        for (int j = 1; j <= n; ++j)
            big = std::max(big, static_cast<double>(std::fabs(a[i][j])));
        if (big == 0) {
            zn::ShowMessage("Singular matrix in routine ludcmp");
            FreeVector(vv, 1, n);
            return 1;
        }
        vv[i] = static_cast<float>(1.0 / big);
    }
    for (int j = 1; j <= n; ++j) {
        for (int i = 1; i < j; ++i) {
            double sum = a[i][j];
            for (int k = 1; k < i; ++k)
                sum -= static_cast<double>(a[i][k]) * a[k][j];
            a[i][j] = static_cast<float>(sum);
        }
        double big = 0;
        int imax = j;
        for (int i = j; i <= n; ++i) {
            double sum = a[i][j];
            for (int k = 1; k < j; ++k)
                sum -= static_cast<double>(a[i][k]) * a[k][j];
            a[i][j] = static_cast<float>(sum);
            double merit = vv[i] * std::fabs(sum);
            if (merit >= big) { // equal merit: the later row wins
                big = merit;
                imax = i;
            }
        }
        if (j != imax) {
            for (int k = 1; k <= n; ++k)
                std::swap(a[imax][k], a[j][k]);
            *d = -*d;
            vv[imax] = vv[j];
        }
        indx[j] = imax;
        if (a[j][j] == 0.0f)
            a[j][j] = 1.0e-20f;
        if (j != n) {
            float inv = static_cast<float>(1.0 / a[j][j]);
            for (int i = j + 1; i <= n; ++i)
                a[i][j] *= inv;
        }
    }
    FreeVector(vv, 1, n);
    return 0;
}

void LuBackSubst(float **a, int n, const int *indx, float *b)
{
    int ii = 0; // first non-zero entry of b, so leading zeros cost nothing
    for (int i = 1; i <= n; ++i) {
        int ip = indx[i];
        double sum = b[ip];
        b[ip] = b[i];
        if (ii) {
            for (int j = ii; j <= i - 1; ++j)
                sum -= static_cast<double>(a[i][j]) * b[j];
        } else if (sum != 0) {
            ii = i;
        }
        b[i] = static_cast<float>(sum);
    }
    for (int i = n; i >= 1; --i) {
        double sum = b[i];
        for (int j = i + 1; j <= n; ++j)
            sum -= static_cast<double>(a[i][j]) * b[j];
        b[i] = static_cast<float>(sum / a[i][i]);
    }
}
