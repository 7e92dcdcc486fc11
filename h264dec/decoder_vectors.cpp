// Motion vectors drawn into the vector view: a mid-grey dot at the block's corner and a white line
// from it that is as many pixels long as the vector has whole samples, so the view shows direction and
// length at the picture's own scale. Forward and backward vectors are told apart by colour.
#include "h264dec/decoder_analysis.h"
#include "h264dec/decoder_state.h"

#include <cstdlib>

namespace {

int Step(int v)
{
    return v <= 0 ? -1 : 1;
}

} // namespace

void h264dec_draw_vector(H264DecoderState &dec, int x, int y, int, int dx, int dy, int u_mark, int v_mark)
{
    DecoderAnalysis &a = dec.analysis;
    if (!a.paint || !a.vectors_drawn || !a.vis_vec_y.HasData())
        return;
    const int H = a.vis_vec_y.Rows(), W = a.vis_vec_y.Cols();
    auto inside = [&](int r, int c) { return r >= 0 && r < H && c >= 0 && c < W; };
    if (!inside(y, x))
        return;
    a.overlays_dirty = true;
    a.vis_vec_y[y][x] = 150;
    if (!inside(y + Step(dy), x + Step(dx)) || (dx == 0 && dy == 0))
        return;
    auto paint = [&](int r, int c) {
        a.vis_vec_y[r][c] = 255;
        if (u_mark)
            a.vis_vec_uv[0][r][c] = 255;
        if (v_mark)
            a.vis_vec_uv[1][r][c] = 0;
    };
    if (dx / 4 == 0 && dy / 4 == 0) {
        // Shorter than a sample: one pixel next to the start shows the direction.
        if (dx == 0)
            paint(y + Step(dy), x);
        else if (dy == 0)
            paint(y, x + Step(dx));
        else
            paint(y + Step(dy), x + Step(dx));
        return;
    }
    const bool vertical = std::abs(dy) >= std::abs(dx);
    const int major = vertical ? dy : dx, minor = vertical ? dx : dy;
    const int n = std::abs(major / 4);
    const double slope = static_cast<double>(std::abs(minor)) / std::abs(major);
    // (major offset, minor offset) to (row, column); a line paints only over empty samples, so start
    // dots and earlier lines stay.
    auto at = [&](int i, int j, int &r, int &c) {
        r = vertical ? y + i * Step(major) : y + j * Step(minor);
        c = vertical ? x + j * Step(minor) : x + i * Step(major);
    };
    auto paintEmpty = [&](int i, int j) {
        int r, c;
        at(i, j, r, c);
        if (a.vis_vec_y[r][c] == 0)
            paint(r, c);
    };
    int j = 0;
    for (int i = 0; i < n; ++i) {
        int r, c;
        at(i, j, r, c);
        if (!inside(r, c))
            return;
        if (i > 0 && static_cast<int>((i - 1) * slope) != static_cast<int>(i * slope)) {
            paintEmpty(i, j);
            ++j;
            at(i, j, r, c);
            if (!inside(r, c))
                return;
        }
        paintEmpty(i, j);
    }
}
