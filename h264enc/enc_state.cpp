// The picture record's slices and the motion maps of a picture.
#include "h264enc/enc_state.h"

#include <cstring>
#include <new>

namespace h264enc {

void MotionMaps::allocate(int block_cols, int block_rows)
{
    cols = block_cols;
    rows = block_rows;
    const size_t n = static_cast<size_t>(cols) * static_cast<size_t>(rows);
    try {
        ref_map.assign(n, -1);
        fw_ref_map.assign(n, -1);
        bw_ref_map.assign(n, -1);
        mv_map.assign(n, {0, 0});
        fw_mv_map.assign(n, {0, 0});
        bw_mv_map.assign(n, {0, 0});
    } catch (const std::bad_alloc &) {
        out_of_memory_exit("init_img: motion maps");
    }
}

int get_mem_ACcoeff(CoefficientArrays &c)
{
    std::memset(c.cofAC, 0, sizeof c.cofAC);
    return static_cast<int>(sizeof c.cofAC);
}

int get_mem_DCcoeff(CoefficientArrays &c)
{
    std::memset(c.cofDC, 0, sizeof c.cofDC);
    return static_cast<int>(sizeof c.cofDC);
}

Picture malloc_picture()
{
    return Picture();
}

void release_picture_slices(Picture &pic)
{
    pic.slices.clear();
}

void free_picture_slices(Picture &pic)
{
    release_picture_slices(pic);
    pic.no_slices = 0;
}

} // namespace h264enc
