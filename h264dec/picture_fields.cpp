// Frames and fields.
#include "h264dec/picture_fields.h"

#include <algorithm>
#include <cstdlib>

namespace {

void SplitPlane(const Array2D<uint8_t> &frame, Array2D<uint8_t> &top, Array2D<uint8_t> &bottom)
{
    const int rows = std::min({frame.Rows() / 2, top.Rows(), bottom.Rows()});
    const int cols = std::min({frame.Cols(), top.Cols(), bottom.Cols()});
    for (int r = 0; r < rows; ++r) {
        std::copy(frame[2 * r], frame[2 * r] + cols, top[r]);
        std::copy(frame[2 * r + 1], frame[2 * r + 1] + cols, bottom[r]);
    }
}

void MergePlane(const Array2D<uint8_t> &top, const Array2D<uint8_t> &bottom, Array2D<uint8_t> &frame)
{
    const int rows = std::min({frame.Rows() / 2, top.Rows(), bottom.Rows()});
    const int cols = std::min({frame.Cols(), top.Cols(), bottom.Cols()});
    for (int r = 0; r < rows; ++r) {
        std::copy(top[r], top[r] + cols, frame[2 * r]);
        std::copy(bottom[r], bottom[r] + cols, frame[2 * r + 1]);
    }
}

void MovingFlags(ColocatedMotion &m, int cols, int rows)
{
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            (*m.moving)[y][x] = dec_block_is_still(m, x, y) ? 0 : 1;
}

} // namespace

void dec_split_planes(const DecodedPlanes &frame, DecodedPlanes &top, DecodedPlanes &bottom)
{
    SplitPlane(frame.y, top.y, bottom.y);
    for (int c = 0; c < 2 && c < frame.uv.Frames(); ++c)
        SplitPlane(frame.uv[c], top.uv[c], bottom.uv[c]);
}

void dec_merge_planes(const DecodedPlanes &top, const DecodedPlanes &bottom, DecodedPlanes &frame)
{
    MergePlane(top.y, bottom.y, frame.y);
    for (int c = 0; c < 2 && c < frame.uv.Frames(); ++c)
        MergePlane(top.uv[c], bottom.uv[c], frame.uv[c]);
}

bool dec_block_is_still(const ColocatedMotion &m, int bx, int by)
{
    return (*m.ref)[by][bx] == 0 && std::abs((*m.mv)[bx + 4][by][0]) <= 1 &&
           std::abs((*m.mv)[bx + 4][by][1]) <= 1;
}

void dec_save_direct_motion(ColocatedMotion &frame, ColocatedMotion &top, ColocatedMotion &bottom,
                            bool from_frame, int block_cols, int frame_block_rows)
{
    const int fieldRows = frame_block_rows / 2;
    ColocatedMotion *fields[2] = {&top, &bottom};
    if (from_frame) {
        MovingFlags(frame, block_cols, frame_block_rows);
        for (ColocatedMotion *f : fields) {
            for (int k = 0; k < fieldRows; ++k)
                for (int x = 0; x < block_cols + 4; ++x) {
                    (*f->mv)[x][k][0] = (*frame.mv)[x][2 * k][0];
                    (*f->mv)[x][k][1] = (*frame.mv)[x][2 * k][1] / 2;
                }
            for (int k = 0; k + 1 < fieldRows; k += 2)
                for (int c = 0; c + 1 < block_cols; c += 2) {
                    const int v = (*frame.ref)[2 * k][c];
                    const int r = v == -1 ? -1 : 2 * v;
                    (*f->ref)[k][c] = (*f->ref)[k][c + 1] = (*f->ref)[k + 1][c] = (*f->ref)[k + 1][c + 1] = r;
                }
            for (int k = 0; k < fieldRows; ++k)
                for (int x = 0; x < block_cols; ++x)
                    (*f->moving)[k][x] = (*frame.moving)[2 * k][x] || (*frame.moving)[2 * k + 1][x] ? 1 : 0;
        }
        return;
    }
    MovingFlags(top, block_cols, fieldRows);
    MovingFlags(bottom, block_cols, fieldRows);
    for (int k = 0; k < fieldRows; ++k)
        for (int x = 0; x < block_cols + 4; ++x)
            for (int row : {2 * k, 2 * k + 1}) {
                (*frame.mv)[x][row][0] = (*top.mv)[x][k][0];
                (*frame.mv)[x][row][1] = (*top.mv)[x][k][1] * 2;
            }
    for (int k = 0; k < fieldRows; k += 2)
        for (int c = 0; c + 1 < block_cols; c += 2) {
            const int v = (*top.ref)[k][c];
            const int r = v == -1 ? -1 : v / 2;
            for (int row = 2 * k; row < std::min(2 * k + 4, frame_block_rows); ++row)
                (*frame.ref)[row][c] = (*frame.ref)[row][c + 1] = r;
        }
    for (int k = 0; k < fieldRows; ++k)
        for (int x = 0; x < block_cols; ++x) {
            const int m = (*top.moving)[k][x] || (*bottom.moving)[k][x] ? 1 : 0;
            (*frame.moving)[2 * k][x] = (*frame.moving)[2 * k + 1][x] = m;
        }
}

void dec_save_b_motion(const Array3D<int> &fwd_mv, const Array2D<int> &fwd_ref, ColocatedMotion &into,
                       int block_cols, int block_rows)
{
    for (int y = 0; y < block_rows; ++y)
        for (int x = 0; x < block_cols; ++x) {
            (*into.ref)[y][x] = fwd_ref[y][x];
            for (int c = 0; c < 2; ++c)
                (*into.mv)[x + 4][y][c] = fwd_mv[x + 4][y][c];
        }
}
