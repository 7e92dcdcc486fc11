// Quarter-sample luma fetch.
#include "h264dec/luma_interp.h"

#include <algorithm>

namespace {

int Clip255(int v)
{
    return std::clamp(v, 0, 255);
}

// Six taps over s[0..5].
template <class F> int Taps(F s)
{
    return s(0) - 5 * s(1) + 20 * s(2) + 20 * s(3) - 5 * s(4) + s(5);
}

struct Sampler
{
    const LumaPlaneView &p;
    int At(int row, int col) const
    {
        row = std::clamp(row, 0, p.max_y);
        col = std::clamp(col, 0, p.width - 1);
        return (*p.plane)[row][col];
    }
    // Unrounded horizontal half sample right of (row, col), vertical one below it.
    int H(int row, int col) const
    {
        return Taps([&](int k) { return At(row, col - 2 + k); });
    }
    int V(int row, int col) const
    {
        return Taps([&](int k) { return At(row - 2 + k, col); });
    }
};

} // namespace

void h264dec_luma_block_reference(const LumaPlaneView &p, int x_pos, int y_pos, int block[4][4])
{
    const int dx = x_pos & 3, dy = y_pos & 3;
    const int x = (x_pos - dx) / 4, y = (y_pos - dy) / 4;
    const Sampler s{p};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const int r = y + j, c = x + i;
            int out = 0;
            if (dx == 0 && dy == 0) {
                out = s.At(r, c);
            } else if (dy == 0) {
                out = Clip255((s.H(r, c) + 16) / 32);
                if (dx & 1)
                    out = (out + s.At(r, c + dx / 2)) / 2;
            } else if (dx == 0) {
                out = Clip255((s.V(r, c) + 16) / 32);
                if (dy & 1)
                    out = (out + s.At(r + dy / 2, c)) / 2;
            } else if (dx == 2) {
                out = Clip255((Taps([&](int k) { return s.H(r - 2 + k, c); }) + 512) / 1024);
                if (dy & 1)
                    out = (out + Clip255((s.H(r + dy / 2, c) + 16) / 32)) / 2;
            } else if (dy == 2) {
                out = Clip255((Taps([&](int k) { return s.V(r, c - 2 + k); }) + 512) / 1024);
                out = (out + Clip255((s.V(r, c + dx / 2) + 16) / 32)) / 2;
            } else {
                const int a = Clip255((s.H(r + (dy == 3 ? 1 : 0), c) + 16) / 32);
                const int b = Clip255((s.V(r, c + (dx == 3 ? 1 : 0)) + 16) / 32);
                out = (a + b) / 2;
            }
            block[i][j] = out;
        }
}

void h264dec_luma_block_fast(const LumaPlaneView &p, int x_pos, int y_pos, int block[4][4])
{
    const int dx = x_pos & 3, dy = y_pos & 3;
    const int x = (x_pos - dx) / 4, y = (y_pos - dy) / 4;
    // Window rows y-2..y+6, columns x-2..x+6, clamped once.
    int w[9][9];
    if (x >= 2 && x + 6 < p.width && y >= 2 && y + 6 <= p.max_y) {
        // Inside the plane: no clamping.
        for (int r = 0; r < 9; ++r) {
            const uint8_t *row = (*p.plane)[y - 2 + r] + x - 2;
            for (int c = 0; c < 9; ++c)
                w[r][c] = row[c];
        }
    } else {
        int cols[9];
        for (int c = 0; c < 9; ++c)
            cols[c] = std::clamp(x - 2 + c, 0, p.width - 1);
        for (int r = 0; r < 9; ++r) {
            const uint8_t *row = (*p.plane)[std::clamp(y - 2 + r, 0, p.max_y)];
            for (int c = 0; c < 9; ++c)
                w[r][c] = row[cols[c]];
        }
    }
    if (dx == 0 && dy == 0) {
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i)
                block[i][j] = w[j + 2][i + 2];
        return;
    }
    auto tapRow = [&](const int *v) { return v[0] - 5 * v[1] + 20 * v[2] + 20 * v[3] - 5 * v[4] + v[5]; };
    // One direction only: the half samples of that direction alone.
    if (dy == 0) {
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) {
                int out = Clip255((tapRow(&w[j + 2][i]) + 16) / 32);
                if (dx & 1)
                    out = (out + w[j + 2][i + 2 + dx / 2]) / 2;
                block[i][j] = out;
            }
        return;
    }
    if (dx == 0) {
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) {
                const int c = i + 2;
                const int v = w[j][c] - 5 * w[j + 1][c] + 20 * w[j + 2][c] + 20 * w[j + 3][c] -
                              5 * w[j + 4][c] + w[j + 5][c];
                int out = Clip255((v + 16) / 32);
                if (dy & 1)
                    out = (out + w[j + 2 + dy / 2][c]) / 2;
                block[i][j] = out;
            }
        return;
    }
    // hRaw[r][i]: unrounded horizontal half sample of window row r at output column i.
    int hRaw[9][4];
    // vRaw[j][c]: unrounded vertical half sample of output row j at window column c.
    int vRaw[4][9];
    for (int r = 0; r < 9; ++r)
        for (int i = 0; i < 4; ++i)
            hRaw[r][i] = tapRow(&w[r][i]);
    for (int j = 0; j < 4; ++j)
        for (int c = 0; c < 9; ++c)
            vRaw[j][c] = w[j][c] - 5 * w[j + 1][c] + 20 * w[j + 2][c] + 20 * w[j + 3][c] - 5 * w[j + 4][c] +
                         w[j + 5][c];
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            int out = 0;
            if (dy == 0) {
                out = Clip255((hRaw[j + 2][i] + 16) / 32);
                if (dx & 1)
                    out = (out + w[j + 2][i + 2 + dx / 2]) / 2;
            } else if (dx == 0) {
                out = Clip255((vRaw[j][i + 2] + 16) / 32);
                if (dy & 1)
                    out = (out + w[j + 2 + dy / 2][i + 2]) / 2;
            } else if (dx == 2) {
                const int col[6] = {hRaw[j][i],     hRaw[j + 1][i], hRaw[j + 2][i],
                                    hRaw[j + 3][i], hRaw[j + 4][i], hRaw[j + 5][i]};
                out = Clip255((tapRow(col) + 512) / 1024);
                if (dy & 1)
                    out = (out + Clip255((hRaw[j + 2 + dy / 2][i] + 16) / 32)) / 2;
            } else if (dy == 2) {
                out = Clip255((tapRow(&vRaw[j][i]) + 512) / 1024);
                out = (out + Clip255((vRaw[j][i + 2 + dx / 2] + 16) / 32)) / 2;
            } else {
                const int a = Clip255((hRaw[j + 2 + (dy == 3 ? 1 : 0)][i] + 16) / 32);
                const int b = Clip255((vRaw[j][i + 2 + (dx == 3 ? 1 : 0)] + 16) / 32);
                out = (a + b) / 2;
            }
            block[i][j] = out;
        }
}

void h264dec_get_luma_block(H264DecoderState &dec, int ref, int x_pos, int y_pos, int block[4][4])
{
    const DecoderImage &img = dec.img;
    LumaPlaneView v;
    v.plane = (*dec.mref)[static_cast<size_t>(ref)];
    v.width = img.width;
    const bool fieldMb = img.structure == kFrame && img.MbaffFrameFlag && img.mb_field_flag;
    v.max_y = fieldMb ? img.height / 2 - 1 : img.height - 1;
    v.max_y = std::min(v.max_y, v.plane->Rows() - 1);
    v.width = std::min(v.width, v.plane->Cols());
    h264dec_luma_block_fast(v, x_pos, y_pos, block);
}
