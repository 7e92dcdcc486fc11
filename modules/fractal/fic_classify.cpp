// fic_block_class: brightness order, spread order, and the class tables of the negative-scale search.
#include "modules/fractal/fic_classify.h"

namespace {

// Decreasing order of v; neighbours swap only when the later one is strictly larger, so equal values
// keep their quadrant order.
std::array<int, 4> OrderDecreasing(const std::array<double, 4> &v)
{
    std::array<int, 4> order{0, 1, 2, 3};
    for (int pass = 0; pass < 3; ++pass)
        for (int i = 0; i < 3 - pass; ++i)
            if (v[order[i + 1]] > v[order[i]]) {
                const int t = order[i];
                order[i] = order[i + 1];
                order[i + 1] = t;
            }
    return order;
}

// N1: rows for first classes 0 and 1, then 2.
constexpr int kNegSecond[2][24] = {
    {23, 17, 21, 11, 15, 9, 22, 16, 19, 5, 13, 3, 20, 10, 18, 4, 7, 1, 14, 8, 12, 2, 6, 0},
    {16, 22, 10, 20, 8, 14, 17, 23, 4, 18, 2, 12, 11, 21, 5, 19, 0, 6, 9, 15, 3, 13, 1, 7},
};
// N2.
constexpr int kNegOrientation[2][8] = {
    {7, 4, 5, 6, 1, 2, 3, 0},
    {2, 3, 0, 1, 6, 7, 4, 5},
};

} // namespace

FicBlockClass fic_block_class(const std::array<double, 4> &s, const std::array<double, 4> &t, double n)
{
    FicBlockClass bc;
    bc.sum = s[0] + s[1] + s[2] + s[3];
    bc.sumSq = t[0] + t[1] + t[2] + t[3];

    const std::array<int, 4> bright = OrderDecreasing(s);
    int o = bright[0];
    std::array<int, 4> num;
    for (int i = 0; i < 4; ++i)
        num[i] = (bright[i] - o + 4) % 4;
    int p = 1;
    while (p < 3 && num[p] != 2)
        ++p;
    bc.first = p - 1;
    if (num[3] == 1 || (bc.first == 2 && num[2] == 1))
        o += 4;
    bc.orientation = o;

    std::array<double, 4> spread;
    for (int q = 0; q < 4; ++q)
        spread[q] = t[q] - s[q] * s[q] / n;
    const std::array<int, 4> byspread = OrderDecreasing(spread);
    std::array<int, 4> r;
    for (int i = 0; i < 4; ++i) {
        r[i] = (byspread[i] - (o % 4) + 4) % 4;
        if (o >= 4 && (r[i] == 1 || r[i] == 3))
            r[i] = 4 - r[i];
    }
    // The exchanges that sort the spread order weigh 6, 2 or 1 by the smallest quadrant they move:
    // a unique number for each of the 24 orders.
    int second = 0;
    for (int pass = 0; pass < 3; ++pass)
        for (int i = 0; i < 3 - pass; ++i)
            if (r[i] > r[i + 1]) {
                second += (r[i] == 0 || r[i + 1] == 0) ? 6 : ((r[i] == 1 || r[i + 1] == 1) ? 2 : 1);
                const int x = r[i];
                r[i] = r[i + 1];
                r[i + 1] = x;
            }
    bc.second = second;
    return bc;
}

void fic_quadrant_sums_full(const unsigned char *image, int cols, int x, int y, int b, int c,
                            std::array<double, 4> *s, std::array<double, 4> *t)
{
    const int hb = b / 2, hc = c / 2;
    const int qx[4] = {x, x, x + hb, x + hb};
    const int qy[4] = {y, y + hc, y + hc, y};
    for (int q = 0; q < 4; ++q) {
        long ss = 0, tt = 0;
        for (int r = 0; r < hc; ++r) {
            const unsigned char *row = image + static_cast<long>(qy[q] + r) * cols + qx[q];
            for (int k = 0; k < hb; ++k) {
                ss += row[k];
                tt += row[k] * row[k];
            }
        }
        (*s)[q] = static_cast<double>(ss);
        (*t)[q] = static_cast<double>(tt);
    }
}

void fic_quadrant_sums_half(const double *half, int halfCols, int x, int y, int dd, std::array<double, 4> *s,
                            std::array<double, 4> *t)
{
    const int h = dd / 2, q4 = dd / 4;
    const int qx[4] = {x, x, x + h, x + h};
    const int qy[4] = {y, y + h, y + h, y};
    for (int q = 0; q < 4; ++q) {
        double ss = 0, tt = 0;
        for (int r = 0; r < q4; ++r) {
            const double *row = half + static_cast<long>(qy[q] / 2 + r) * halfCols + qx[q] / 2;
            for (int k = 0; k < q4; ++k) {
                ss += row[k];
                tt += row[k] * row[k];
            }
        }
        (*s)[q] = ss;
        (*t)[q] = tt;
    }
}

int FicNegativeSecondClass(int first, int second)
{
    return kNegSecond[first == 2 ? 1 : 0][second];
}

int FicNegativeOrientation(int first, int orientation)
{
    return kNegOrientation[first == 2 ? 1 : 0][orientation];
}
