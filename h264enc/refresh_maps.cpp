// The pixel-age and refresh maps of RestrictRefFrames. A sample's age counts the reference pictures
// since it was last intra coded; a reference older than that age would bring back what the intra
// refresh replaced (an error that a decoder may still carry), so such references are not used where
// a block's prediction reads refreshed samples.
#include "h264enc/enc_run.h"
#include "h264enc/motion_search.h"
#include "h264enc/rd_decision.h"

#include <algorithm>

namespace h264enc {

namespace {

int AgeCap(const EncoderRun &run)
{
    return std::clamp(run.input.NumberReferenceFrames + 1, 1, 255);
}

// The whole-sample range a prediction at quarter-sample position p4 (one dimension) reads: two samples
// before to three after a fractional position.
void SampleRange(int p4, int *lo, int *hi)
{
    const int whole = p4 >> 2;
    const bool fractional = (p4 & 3) != 0;
    *lo = fractional ? whole - 2 : whole;
    *hi = fractional ? whole + 3 : whole;
}

} // namespace

void prepare_pixel_age_map(EncoderRun &run)
{
    RdState &rd = run.rd;
    const EncoderImage &img = run.img;
    if (rd.age_width == img.width && rd.age_height == img.height && !rd.pixel_age.empty())
        return;
    rd.age_width = img.width;
    rd.age_height = img.height;
    rd.pixel_age.assign(static_cast<size_t>(img.width) * static_cast<size_t>(img.height),
                        static_cast<uint8_t>(AgeCap(run)));
    rd.refresh.assign(static_cast<size_t>(img.width / 8) * static_cast<size_t>(img.height / 8), 0);
}

void set_refresh_flags(EncoderRun &run, int refreshed)
{
    if (run.input.RestrictRefFrames == 0)
        return;
    prepare_pixel_age_map(run);
    const EncoderImage &img = run.img;
    const int cols = img.width / 8;
    for (int k = 0; k < 4; ++k) {
        const int bx = 2 * img.mb_x + k % 2, by = 2 * img.mb_y + k / 2;
        run.rd.refresh[static_cast<size_t>(by) * static_cast<size_t>(cols) + static_cast<size_t>(bx)] =
            refreshed ? 1 : 0;
    }
}

void update_pixel_age_map(EncoderRun &run)
{
    const EncoderImage &img = run.img;
    // B pictures are never references: their intra blocks refresh nothing a later picture reads.
    if (run.input.RestrictRefFrames == 0 || img.type == kTypeB)
        return;
    prepare_pixel_age_map(run);
    RdState &rd = run.rd;
    if (img.type == kTypeI) {
        std::fill(rd.pixel_age.begin(), rd.pixel_age.end(), 1);
    } else {
        const int cap = AgeCap(run), cols = img.width / 8;
        for (int by = 0; by < img.height / 8; ++by)
            for (int bx = 0; bx < cols; ++bx) {
                const bool fresh =
                    rd.refresh[static_cast<size_t>(by) * static_cast<size_t>(cols) + static_cast<size_t>(bx)];
                for (int y = 8 * by; y < 8 * by + 8; ++y) {
                    uint8_t *row =
                        rd.pixel_age.data() + static_cast<size_t>(y) * static_cast<size_t>(img.width);
                    for (int x = 8 * bx; x < 8 * bx + 8; ++x)
                        row[x] = static_cast<uint8_t>(fresh ? 1 : std::min(row[x] + 1, cap));
                }
            }
    }
    std::fill(rd.refresh.begin(), rd.refresh.end(), 0);
}

int reference_is_reliable(EncoderRun &run, int block, int r, int type)
{
    prepare_pixel_age_map(run);
    const EncoderImage &img = run.img;
    const RdState &rd = run.rd;
    // The 4x4 blocks the block covers.
    int x0 = 0, y0 = 0, w = 4, h = 4;
    if (type == kMode16x8) {
        y0 = 2 * block;
        h = 2;
    } else if (type == kMode8x16) {
        x0 = 2 * block;
        w = 2;
    } else if (type >= kSub8x8) {
        x0 = 2 * (block % 2);
        y0 = 2 * (block / 2);
        w = h = 2;
    }
    const BlockVectors &mv = run.motion.Mv(r, type);
    for (int j = y0; j < y0 + h; ++j)
        for (int i = x0; i < x0 + w; ++i) {
            const std::array<int, 2> &v = mv[static_cast<size_t>(j)][static_cast<size_t>(i)];
            const int px = img.luma_x() + 4 * i, py = img.luma_y() + 4 * j;
            int xlo, xhi, ylo, yhi, dummy;
            SampleRange(4 * px + v[0], &xlo, &dummy);
            SampleRange(4 * (px + 3) + v[0], &dummy, &xhi);
            SampleRange(4 * py + v[1], &ylo, &dummy);
            SampleRange(4 * (py + 3) + v[1], &dummy, &yhi);
            xlo = std::clamp(xlo, 0, img.width - 1);
            xhi = std::clamp(xhi, 0, img.width - 1);
            ylo = std::clamp(ylo, 0, img.height - 1);
            yhi = std::clamp(yhi, 0, img.height - 1);
            for (int y = ylo; y <= yhi; ++y) {
                const uint8_t *row =
                    rd.pixel_age.data() + static_cast<size_t>(y) * static_cast<size_t>(img.width);
                for (int x = xlo; x <= xhi; ++x)
                    if (row[x] < r + 1)
                        return 0;
            }
        }
    return 1;
}

} // namespace h264enc
