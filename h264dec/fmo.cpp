// The slice-group map. With one slice group every unit is in group 0 and a slice runs in raster order
// from its first macroblock to the end of the picture; the other map types (an explicit list, a box
// over a background, and the evolving box-out, raster and wipe maps) are built the same way the
// encoder builds its own map.
#include "h264dec/fmo.h"

#include "h264dec/decoder_state.h"
#include "platform/format.h"
#include "platform/log.h"

#include <algorithm>
#include <new>

void h264dec_fmo_init(H264DecoderState &dec, int width_mbs, int height_units, const int *list,
                      int list_length)
{
    SliceGroupMap &map = dec.fmo;
    const long long units = static_cast<long long>(std::max(width_mbs, 0)) * std::max(height_units, 0);
    map.width_mbs = width_mbs;
    map.height_units = height_units;
    map.MBAmap.clear();
    try {
        if (units > kMaxDecoderArrayBytes / 4)
            throw std::bad_alloc();
        map.MBAmap.assign(static_cast<size_t>(units), 0);
    } catch (const std::bad_alloc &) {
        h264_fatal_error(zn::Format("cannot allocated %lld bytes for MBAmap, exit", units * 4),
                         kH264StreamErrorCode);
    }
    map.units = static_cast<int>(units);
    map.last_group = 0;
    if (!list || list_length <= 0)
        return;

    const DecoderImage &img = dec.img;
    for (int i = 0; i < map.units; ++i)
        map.MBAmap[static_cast<size_t>(i)] = list[i % list_length];
    map.last_group = img.slice_group_count;
    if (img.slice_group_count == 0 || img.slice_group_map_type < 3)
        return;
    if (img.slice_group_map_type == 3) {
        // A box between two corner units in group 0 over a background of group 1.
        const int w = std::max(width_mbs, 1);
        const int top = img.slice_group_top_left / w, left = img.slice_group_top_left % w;
        const int bottom = img.slice_group_bottom_right / w, right = img.slice_group_bottom_right % w;
        for (int i = 0; i < map.units; ++i) {
            const int y = i / w, x = i % w;
            map.MBAmap[static_cast<size_t>(i)] = (y >= top && y <= bottom && x >= left && x <= right) ? 0 : 1;
        }
        return;
    }
    if (img.slice_group_map_type <= 6)
        return;
    h264_fatal_error(zn::Format("Illegal FmoMode %d , exit ", img.slice_group_map_type),
                     kH264StreamErrorCode);
}

int h264dec_last_mb_of_picture(const H264DecoderState &dec, int)
{
    const SliceGroupMap &map = dec.fmo;
    for (int i = map.units - 1; i >= 0; --i)
        if (map.MBAmap[static_cast<size_t>(i)] == map.last_group)
            return i;
    return -1;
}

int h264dec_next_mb_in_group(const H264DecoderState &dec, int mb, int)
{
    const SliceGroupMap &map = dec.fmo;
    const int group = slice_group_of_mb(map, mb);
    for (int i = std::max(mb + 1, 0); i < map.units; ++i)
        if (map.MBAmap[static_cast<size_t>(i)] == group)
            return i;
    return -1;
}

int h264dec_last_slice_group(const H264DecoderState &dec)
{
    return dec.fmo.last_group;
}

void h264dec_fmo_free(H264DecoderState &dec)
{
    dec.fmo = SliceGroupMap{};
}

std::vector<int> BoxOutOrder(int width, int height, int direction)
{
    std::vector<int> order;
    if (width <= 0 || height <= 0)
        return order;
    const int units = width * height;
    std::vector<char> taken(static_cast<size_t>(units), 0);
    const int flag = direction ? 1 : 0;
    int x = (width - flag) / 2, y = (height - flag) / 2;
    int left = x, top = y, right = x, bottom = y;
    int xDir = flag - 1, yDir = flag;
    order.reserve(static_cast<size_t>(units));
    while (static_cast<int>(order.size()) < units) {
        const int k = y * width + x;
        if (!taken[static_cast<size_t>(k)]) {
            taken[static_cast<size_t>(k)] = 1;
            order.push_back(k);
        }
        if (xDir == -1 && x == left) {
            left = std::max(left - 1, 0);
            x = left;
            xDir = 0;
            yDir = 2 * flag - 1;
        } else if (xDir == 1 && x == right) {
            right = std::min(right + 1, width - 1);
            x = right;
            xDir = 0;
            yDir = 1 - 2 * flag;
        } else if (yDir == -1 && y == top) {
            top = std::max(top - 1, 0);
            y = top;
            xDir = 1 - 2 * flag;
            yDir = 0;
        } else if (yDir == 1 && y == bottom) {
            bottom = std::min(bottom + 1, height - 1);
            y = bottom;
            xDir = 2 * flag - 1;
            yDir = 0;
        } else {
            x += xDir;
            y += yDir;
        }
    }
    return order;
}

void h264dec_fmo_generate(const DecoderImage &img, SliceGroupMap &map)
{
    std::fill(map.MBAmap.begin(), map.MBAmap.end(), 1);
    const long long count = std::min<long long>((static_cast<long long>(img.slice_group_change_cycle) + 1) *
                                                    (static_cast<long long>(img.slice_group_change_rate) + 1),
                                                map.units);
    if (count <= 0)
        return;
    const int n = static_cast<int>(count);
    const bool reverse = img.slice_group_change_direction != 0;
    switch (img.slice_group_map_type) {
    case 4: {
        const std::vector<int> order = BoxOutOrder(map.width_mbs, map.height_units, reverse ? 1 : 0);
        for (int i = 0; i < n; ++i)
            map.MBAmap[static_cast<size_t>(order[static_cast<size_t>(i)])] = 0;
        break;
    }
    case 5:
        for (int i = 0; i < n; ++i)
            map.MBAmap[static_cast<size_t>(reverse ? map.units - 1 - i : i)] = 0;
        break;
    case 6:
        // Column by column from the top-left unit downwards, or backwards from the bottom-right unit.
        for (int i = 0; i < n; ++i) {
            const int k = reverse ? map.units - 1 - i : i;
            const int x = k / map.height_units, y = k % map.height_units;
            map.MBAmap[static_cast<size_t>(y * map.width_mbs + x)] = 0;
        }
        break;
    default:
        break;
    }
}
