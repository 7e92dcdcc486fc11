// Quarter-sample interpolation (see the header). Positions are quarter samples, y = -16 .. 4h + 15 and
// x = -16 .. 4w + 15, stored 16 further on. All divisions truncate toward zero and every value is
// clamped to 0..255.
#include "h264enc/quarter_plane.h"

#include <algorithm>

namespace h264enc {

namespace {

constexpr int kMargin = 16;

uint8_t Clip(int v)
{
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

void PrepareWork(const Array2D<uint8_t> &luma, Array2D<int> &work)
{
    const int h = luma.rows(), w = luma.cols();
    if (work.rows() < h + 8 || work.cols() < 2 * w + 16)
        work.allocate(h + 8, 2 * w + 16, "init_global_buffers: interpolation work");
    // Horizontal pass: whole samples x 1024, half samples as the unscaled six-tap sum x 32.
    for (int i = -4; i < h + 4; ++i) {
        const uint8_t *row = luma[std::clamp(i, 0, h - 1)];
        int *out = work[i + 4];
        auto p = [&](int x) { return static_cast<int>(row[std::clamp(x, 0, w - 1)]); };
        for (int x = -4; x < w + 4; ++x) {
            out[2 * (x + 4)] = p(x) * 1024;
            out[2 * (x + 4) + 1] =
                (20 * (p(x) + p(x + 1)) - 5 * (p(x - 1) + p(x + 2)) + p(x - 2) + p(x + 3)) * 32;
        }
    }
}

// Vertical pass into the even rows (whole and half sample rows) at even columns.
void VerticalPass(const Array2D<int> &work, int h, int w, Array2D<uint8_t> &plane)
{
    const int rows = h + 8;
    for (int j = 0; j < 2 * w + 16; ++j) {
        auto wk = [&](int m) { return work[std::clamp(m, 0, rows - 1)][j]; };
        for (int m = 0; m < rows; ++m) {
            const int x = 2 * j - 16;
            plane[4 * m - 16 + kMargin][x + kMargin] = Clip((wk(m) + 512) / 1024);
            if (4 * m - 14 > 4 * h + 15)
                continue;
            const int v = 20 * (wk(m) + wk(m + 1)) - 5 * (wk(m - 1) + wk(m + 2)) + wk(m - 2) + wk(m + 3);
            plane[4 * m - 14 + kMargin][x + kMargin] = Clip((v / 32 + 512) / 1024);
        }
    }
}

} // namespace

void interpolate_quarter_plane_reference(const Array2D<uint8_t> &luma, Array2D<int> &work,
                                         Array2D<uint8_t> &plane)
{
    const int h = luma.rows(), w = luma.cols();
    PrepareWork(luma, work);
    VerticalPass(work, h, w, plane);
    auto P = [&](int y, int x) { return static_cast<int>(plane[y + kMargin][x + kMargin]); };
    const int maxX = 4 * w + 14, maxY = 4 * h + 14;
    for (int y = -16; y <= 4 * h + 14; y += 2)
        for (int x = -15; x <= 4 * w + 15; x += 2)
            plane[y + kMargin][x + kMargin] = Clip((P(y, x - 1) + P(y, std::min(x + 1, maxX))) / 2);
    for (int y = -15; y <= 4 * h + 15; y += 2) {
        const int yd = std::min(y + 1, maxY);
        for (int x = -16; x <= 4 * w + 15; ++x) {
            const int xr = std::min(x + 1, maxX);
            int v;
            if (x % 2 == 0) {
                v = (P(y - 1, x) + P(yd, x)) / 2;
            } else {
                const int a = (y + 15) % 4, b = (x + 16) % 4;
                if ((a == 0 && b == 1) || (a == 2 && b == 3))
                    v = (P(yd, x - 1) + P(y - 1, xr)) / 2;
                else
                    v = (P(y - 1, x - 1) + P(yd, xr)) / 2;
            }
            plane[y + kMargin][x + kMargin] = Clip(v);
        }
    }
}

void interpolate_quarter_plane(const Array2D<uint8_t> &luma, Array2D<int> &work, Array2D<uint8_t> &plane)
{
    // Same steps, with the clamps only where a row or column can reach them.
    const int h = luma.rows(), w = luma.cols();
    PrepareWork(luma, work);
    VerticalPass(work, h, w, plane);
    const int cols = 4 * w + 32;
    for (int y = -16; y <= 4 * h + 14; y += 2) {
        uint8_t *row = plane[y + kMargin];
        // x = -15 .. 4w + 13 in the row's own positions 1 .. cols - 3, then the last one clamped.
        for (int c = 1; c < cols - 2; c += 2)
            row[c] = static_cast<uint8_t>((row[c - 1] + row[c + 1]) / 2);
        row[cols - 1] = static_cast<uint8_t>((row[cols - 2] + row[cols - 2]) / 2);
    }
    const int maxRow = 4 * h + 14 + kMargin;
    for (int y = -15; y <= 4 * h + 15; y += 2) {
        const uint8_t *up = plane[y - 1 + kMargin];
        const uint8_t *down = plane[std::min(y + 1 + kMargin, maxRow)];
        uint8_t *row = plane[y + kMargin];
        // (y + 15) mod 4 is 0 or 2: the diagonal runs one way or the other on alternate odd rows.
        const bool firstKind = (y + 15) % 4 == 0;
        for (int c = 0; c < cols; c += 2)
            row[c] = static_cast<uint8_t>((up[c] + down[c]) / 2);
        for (int c = 1; c < cols; c += 2) {
            const int cr = std::min(c + 1, cols - 2);
            // c = x + 16: b = c mod 4 is 1 or 3.
            const bool anti = firstKind ? c % 4 == 1 : c % 4 == 3;
            row[c] = static_cast<uint8_t>(anti ? (down[c - 1] + up[cr]) / 2 : (up[c - 1] + down[cr]) / 2);
        }
    }
}

} // namespace h264enc
