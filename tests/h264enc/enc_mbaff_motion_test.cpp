// Motion maps of macroblock-adaptive frames: after a frame macroblock its blocks enter the field forms,
// after a field macroblock its field's blocks enter the frame form, vertical components and reference
// indices rescaled between frame and field rows. The decoder's own carrying of its arrays is the oracle,
// on random motion of P and B pictures, for upper and lower macroblocks.
#include "h264dec/macroblock.h"
#include "h264enc/enc_run.h"

#include <gtest/gtest.h>

#include <random>

namespace enc_mbaff_motion_test { // one namespace per test file: a folder compiles as one source

namespace enc = h264enc;

constexpr int kWidth = 48, kHeight = 64; // 3 x 2 pairs

struct Block
{
    int ref[3]; // P list, forward, backward
    int mv[3][2];
};

Block RandomBlock(std::mt19937 &rng)
{
    Block b{};
    for (int l = 0; l < 3; ++l) {
        b.ref[l] = static_cast<int>(rng() % 6) - 1;
        for (int c = 0; c < 2; ++c)
            b.mv[l][c] = static_cast<int>(rng() % 41) - 20; // odd and negative vertical components too
    }
    return b;
}

// Decoder side: frame arrays or a field copy, block (x, y).
void PutDecoder(Array3D<int> &mv, Array2D<int> &ref, Array3D<int> &fmv, Array2D<int> &fref, Array3D<int> &bmv,
                Array2D<int> &bref, int x, int y, const Block &b)
{
    ref[y][x] = b.ref[0];
    fref[y][x] = b.ref[1];
    bref[y][x] = b.ref[2];
    for (int c = 0; c < 2; ++c) {
        mv[x + 4][y][c] = b.mv[0][c];
        fmv[x + 4][y][c] = b.mv[1][c];
        bmv[x + 4][y][c] = b.mv[2][c];
    }
}

void PutEncoder(enc::MotionMaps &m, int x, int y, const Block &b)
{
    const size_t at = m.At(x, y);
    m.ref_map[at] = b.ref[0];
    m.fw_ref_map[at] = b.ref[1];
    m.bw_ref_map[at] = b.ref[2];
    m.mv_map[at] = {b.mv[0][0], b.mv[0][1]};
    m.fw_mv_map[at] = {b.mv[1][0], b.mv[1][1]};
    m.bw_mv_map[at] = {b.mv[2][0], b.mv[2][1]};
}

TEST(MbaffMotionForms, CarriedFormsEqualTheDecoders)
{
    std::mt19937 rng(11);
    for (const int type : {kPictureP, kPictureB})
        for (const int field : {0, 1})
            for (const int lower : {0, 1}) {
                SCOPED_TRACE(::testing::Message()
                             << "type " << type << " field " << field << " lower " << lower);
                H264DecoderState dec;
                dec_alloc_macroblock_arrays(dec, kWidth, kHeight);
                DecoderImage &d = dec.img;
                d.width = kWidth;
                d.height = kHeight;
                d.MbaffFrameFlag = 1;
                d.structure = kFrame;
                d.type = type;
                enc::EncoderImage img;
                img.width = kWidth;
                img.height = kHeight;
                img.mbaff = 1;
                img.type = type == kPictureB ? enc::kTypeB : enc::kTypeP;
                img.maps.allocate(kWidth / 4, kHeight / 4);
                for (enc::MotionMaps &f : img.field_maps)
                    f.allocate(kWidth / 4, kHeight / 8);
                // Random contents everywhere, the same on both sides.
                MacroblockArrays &a = dec.mb_arrays;
                for (int y = 0; y < kHeight / 4; ++y)
                    for (int x = 0; x < kWidth / 4; ++x) {
                        const Block b = RandomBlock(rng);
                        PutDecoder(a.mv, a.ref_idx_arr, a.fwd_mv, a.fwd_ref, a.bwd_mv, a.bwd_ref, x, y, b);
                        PutEncoder(img.maps, x, y, b);
                    }
                for (int p = 0; p < 2; ++p)
                    for (int y = 0; y < kHeight / 8; ++y)
                        for (int x = 0; x < kWidth / 4; ++x) {
                            const Block b = RandomBlock(rng);
                            MbaffFieldCopy &f = a.field_copy[p];
                            PutDecoder(f.mv, f.ref_idx_arr, f.fwd_mv, f.fwd_ref, f.bwd_mv, f.bwd_ref, x, y,
                                       b);
                            PutEncoder(img.field_maps[p], x, y, b);
                        }
                // The macroblock of the second pair column, second pair row.
                const int w = kWidth / 16, mbX = 1, mbY = 2 + lower;
                d.current_mb_nr = 2 * (w * (mbY / 2) + mbX) + lower;
                d.mb_index = w * mbY + mbX;
                d.mb_x = mbX;
                d.mb_y = mbY;
                d.block_x = 4 * mbX;
                d.block_y = 4 * mbY;
                (*d.mb_data)[static_cast<size_t>(d.mb_index)].mb_field = field;
                h264dec_sync_mbaff_copies(dec);
                img.mb_index = d.mb_index;
                img.mb_x = mbX;
                img.mb_y = mbY;
                if (field)
                    enc::mbaff_motion_to_frame(img);
                else
                    enc::mbaff_motion_to_fields(img);
                auto same = [&](const enc::MotionMaps &m, Array3D<int> &mv, Array2D<int> &ref,
                                Array3D<int> &fmv, Array2D<int> &fref, Array3D<int> &bmv, Array2D<int> &bref,
                                int rows) {
                    for (int y = 0; y < rows; ++y)
                        for (int x = 0; x < kWidth / 4; ++x) {
                            const size_t at = m.At(x, y);
                            ASSERT_EQ(m.ref_map[at], ref[y][x]) << x << "," << y;
                            ASSERT_EQ(m.fw_ref_map[at], fref[y][x]) << x << "," << y;
                            ASSERT_EQ(m.bw_ref_map[at], bref[y][x]) << x << "," << y;
                            for (int c = 0; c < 2; ++c) {
                                ASSERT_EQ(m.mv_map[at][static_cast<size_t>(c)], mv[x + 4][y][c])
                                    << x << "," << y;
                                ASSERT_EQ(m.fw_mv_map[at][static_cast<size_t>(c)], fmv[x + 4][y][c])
                                    << x << "," << y;
                                ASSERT_EQ(m.bw_mv_map[at][static_cast<size_t>(c)], bmv[x + 4][y][c])
                                    << x << "," << y;
                            }
                        }
                };
                same(img.maps, a.mv, a.ref_idx_arr, a.fwd_mv, a.fwd_ref, a.bwd_mv, a.bwd_ref, kHeight / 4);
                for (int p = 0; p < 2; ++p) {
                    MbaffFieldCopy &f = a.field_copy[p];
                    same(img.field_maps[p], f.mv, f.ref_idx_arr, f.fwd_mv, f.fwd_ref, f.bwd_mv, f.bwd_ref,
                         kHeight / 8);
                }
            }
}

} // namespace enc_mbaff_motion_test
