// Slice-group maps of the encoder. The evolving maps follow the published geometric rules: box-out
// spirals out from the centre (clockwise or not by the direction), raster fills in scan order from the
// first or the last macroblock, wipe fills column by column.
#include "h264enc/slice_group_map.h"

#include "platform/format.h"

#include <algorithm>
#include <new>

namespace h264enc {

namespace {

void Dispersed(EncoderFmo &f)
{
    const int n1 = f.settings.num_slice_groups_minus1 + 1;
    const int w = f.map.width_mbs;
    for (int i = 0; i < f.map.units; ++i) {
        const int c = i % w, r = i / w;
        f.map.MBAmap[static_cast<size_t>(i)] = r % 2 == 0 ? (c + 1) % n1 : (n1 / 2 + c + 1) % n1;
    }
}

void Box(EncoderFmo &f)
{
    const int w = f.map.width_mbs;
    const int x0 = f.settings.top_left_mb % w, y0 = f.settings.top_left_mb / w;
    const int x1 = f.settings.bottom_right_mb % w, y1 = f.settings.bottom_right_mb / w;
    for (int i = 0; i < f.map.units; ++i) {
        const int c = i % w, r = i / w;
        f.map.MBAmap[static_cast<size_t>(i)] = c >= x0 && c <= x1 && r >= y0 && r <= y1 ? 0 : 1;
    }
}

// Group 0 takes `count` macroblocks of the evolving pattern; the rest stay in group 1.
void Evolve(EncoderFmo &f, int count)
{
    std::vector<int> &m = f.map.MBAmap;
    const int w = f.map.width_mbs, h = f.map.height_units, units = f.map.units;
    const int dir = f.settings.change_direction ? 1 : 0;
    count = std::min(count, units);
    switch (f.settings.type) {
    case 4: { // box-out
        std::fill(m.begin(), m.end(), 1);
        int x = (w - dir) / 2, y = (h - dir) / 2;
        int left = x, top = y, right = x, bottom = y;
        int xDir = dir - 1, yDir = dir;
        for (int k = 0; k < count;) {
            const bool vacant = m[static_cast<size_t>(y * w + x)] == 1;
            if (vacant) {
                m[static_cast<size_t>(y * w + x)] = 0;
                ++k;
            }
            if (xDir == -1 && x == left) {
                left = std::max(left - 1, 0);
                x = left;
                xDir = 0;
                yDir = 2 * dir - 1;
            } else if (xDir == 1 && x == right) {
                right = std::min(right + 1, w - 1);
                x = right;
                xDir = 0;
                yDir = 1 - 2 * dir;
            } else if (yDir == -1 && y == top) {
                top = std::max(top - 1, 0);
                y = top;
                xDir = 1 - 2 * dir;
                yDir = 0;
            } else if (yDir == 1 && y == bottom) {
                bottom = std::min(bottom + 1, h - 1);
                y = bottom;
                xDir = 2 * dir - 1;
                yDir = 0;
            } else {
                x += xDir;
                y += yDir;
            }
        }
        break;
    }
    case 5: { // raster, from the first macroblock or back from the last
        const int upperLeft = dir ? units - count : count;
        for (int i = 0; i < units; ++i)
            m[static_cast<size_t>(i)] = i < upperLeft ? dir : 1 - dir;
        break;
    }
    case 6: { // wipe, column by column
        const int upperLeft = dir ? units - count : count;
        int k = 0;
        for (int c = 0; c < w; ++c)
            for (int r = 0; r < h; ++r)
                m[static_cast<size_t>(r * w + c)] = k++ < upperLeft ? dir : 1 - dir;
        break;
    }
    default:
        break;
    }
}

} // namespace

void h264enc_fmo_init(EncoderFmo &fmo, int width_mbs, int height_mbs, const FmoSettings &settings)
{
    fmo = EncoderFmo();
    fmo.settings = settings;
    fmo.next_start.fill(-1);
    const long long units = static_cast<long long>(width_mbs) * height_mbs;
    if (width_mbs <= 0 || height_mbs <= 0 || units > (1LL << 26))
        h264_fatal_error(zn::Format("Cannot allocate %lld bytes for the MBAmap, exit\n", 4 * units),
                         kH264StreamErrorCode);
    try {
        fmo.map.MBAmap.assign(static_cast<size_t>(units), 0);
    } catch (const std::bad_alloc &) {
        h264_fatal_error(zn::Format("Cannot allocate %lld bytes for the MBAmap, exit\n", 4 * units),
                         kH264StreamErrorCode);
    }
    fmo.map.width_mbs = width_mbs;
    fmo.map.height_units = height_mbs;
    fmo.map.units = static_cast<int>(units);
    fmo.map.last_group = settings.num_slice_groups_minus1;
    if (settings.num_slice_groups_minus1 == 0) {
        fmo.map.last_group = 0;
        return;
    }
    switch (settings.type) {
    case 0:
        h264_fatal_error("Type 0 MBAmap generation not yet implemented\n", kH264StreamErrorCode);
    case 1:
        Dispersed(fmo);
        break;
    case 2:
        h264_fatal_error("Type 2 MBAmap generation not yet implemented\n", kH264StreamErrorCode);
    case 3:
        Box(fmo);
        break;
    case 4:
    case 5:
    case 6:
        std::fill(fmo.map.MBAmap.begin(), fmo.map.MBAmap.end(), 1);
        break;
    default:
        h264_fatal_error(zn::Format("Illegal FmoMode %d , exit \n", settings.type), kH264StreamErrorCode);
    }
}

void h264enc_fmo_free(EncoderFmo &fmo)
{
    fmo.map = SliceGroupMap();
}

void h264enc_fmo_start_picture(EncoderFmo &fmo)
{
    for (int g = 0; g < kMaxSliceGroups; ++g)
        fmo.next_start[static_cast<size_t>(g)] = h264enc_fmo_first_mb(fmo, g);
}

int slice_group_picture_done()
{
    return 0;
}

namespace {

// The map entries the current picture codes: a field picture has half the frame's macroblocks, a
// macroblock-adaptive frame half as many pairs, and both find their groups in the first half of the map.
int CodedUnits(const EncoderFmo &fmo)
{
    return fmo.field_picture || fmo.pair_units ? fmo.map.units / 2 : fmo.map.units;
}

} // namespace

int h264enc_fmo_first_mb(const EncoderFmo &fmo, int group)
{
    // A group with no unit in the first half has no slice in a field or an adaptive frame: a start past
    // the last unit would code outside the picture.
    for (int i = 0; i < CodedUnits(fmo); ++i)
        if (fmo.map.MBAmap[static_cast<size_t>(i)] == group)
            return i;
    return -1;
}

int h264enc_fmo_last_mb(const EncoderFmo &fmo, int group)
{
    for (int i = CodedUnits(fmo) - 1; i >= 0; --i)
        if (fmo.map.MBAmap[static_cast<size_t>(i)] == group)
            return i;
    return -1;
}

int h264enc_fmo_next_mb(const EncoderFmo &fmo, int n)
{
    if (n < 0 || n >= fmo.map.units)
        return -1;
    const int g = fmo.map.MBAmap[static_cast<size_t>(n)];
    int m = n + 1;
    while (m < fmo.map.units && fmo.map.MBAmap[static_cast<size_t>(m)] != g)
        ++m;
    return m < CodedUnits(fmo) ? m : -1;
}

int h264enc_fmo_slice_start(const EncoderFmo &fmo, int group)
{
    if (group < 0 || group >= kMaxSliceGroups)
        return -1;
    return fmo.next_start[static_cast<size_t>(group)];
}

int h264enc_fmo_group_done(const EncoderFmo &fmo, int group)
{
    return h264enc_fmo_slice_start(fmo, group) < 0 ? 1 : 0;
}

int h264enc_fmo_set_slice_end(EncoderFmo &fmo, int n)
{
    if (n < 0 || n >= fmo.map.units)
        return -1;
    const int g = fmo.map.MBAmap[static_cast<size_t>(n)];
    const int next = h264enc_fmo_next_mb(fmo, n);
    if (g >= 0 && g < kMaxSliceGroups)
        fmo.next_start[static_cast<size_t>(g)] = next;
    return next;
}

void h264enc_fmo_update(EncoderFmo &fmo)
{
    if (fmo.settings.type < 4 || fmo.settings.type > 6 || fmo.settings.num_slice_groups_minus1 != 1)
        return;
    if (fmo.map_complete) {
        fmo.cycle = 0;
        fmo.map_complete = false;
    }
    ++fmo.cycle;
    const long long count = static_cast<long long>(fmo.cycle) * (fmo.settings.change_rate + 1);
    Evolve(fmo, static_cast<int>(std::min<long long>(count, fmo.map.units)));
    if (count >= fmo.map.units)
        fmo.map_complete = true;
}

} // namespace h264enc
