// Run state: what a run takes from its parameters, the SEI bookkeeping that never reaches the stream,
// and the one piece of state that outlives a run, the RTP counters.
#include "h264enc/enc_run.h"
#include "h264enc/nal_unit.h"
#include "h264enc/sei_state.h"

#include <gtest/gtest.h>

namespace enc_state_test { // one namespace per test file: a folder compiles as one source

namespace {

namespace enc = h264enc;

TEST(RunState, GeometryAndPictureOrderFromTheParameters)
{
    enc::EncoderParams p;
    p.SourceWidth = 352;
    p.SourceHeight = 288;
    p.NumberReferenceFrames = 2;
    p.AdditionalReferenceFrame = 3;
    p.NumberBFrames = 2;
    p.InterlaceCodingOption = 1;
    enc::EncoderImage img;
    enc::init_image_geometry(p, img);
    enc::init_picture_order(p, img);
    EXPECT_EQ(img.mb_count, 396);
    EXPECT_EQ(img.width_cr, 176);
    EXPECT_EQ(img.max_ref, 4);
    EXPECT_EQ(img.mb_data.size(), 396u);
    EXPECT_EQ(img.quad(-255), 65025);
    EXPECT_EQ(img.quad(7), 49);
    EXPECT_EQ(img.intra_pred_modes.rows(), 288 / 4 + 3);
    EXPECT_EQ(img.intra_pred_modes[0][0], -1);
    EXPECT_EQ(img.nzcoeff.at(21, 17, 3, 5), -1);
    EXPECT_EQ(img.poc_b_offset, -4);
    EXPECT_EQ(img.poc_step, 6);
    EXPECT_EQ(img.bottom_field_flag, 1);
    EXPECT_EQ(img.pic_order_present_flag, 1);
}

TEST(RunState, SeiStateHoldsElevenBuffersAndCountsPictures)
{
    enc::SeiState sei;
    enc::sei_init(sei, 0);
    EXPECT_EQ(sei.buffers, 11);
    EXPECT_EQ(sei.slots[1].payload.size(), static_cast<size_t>(enc::kSeiBufferSize));
    EXPECT_EQ(sei.writers[6].StreamBuffer.size(), static_cast<size_t>(enc::kSeiBufferSize));
    EXPECT_TRUE(sei.layer_characteristics.empty());
    const enc::SeiRunValues v{3, 0, 1};
    enc::sei_update_picture(sei, 0, enc::kTypeI, 0, 0, v);
    enc::sei_update_picture(sei, 0, enc::kTypeB, 0, 0, v); // B pictures do not count
    EXPECT_EQ(sei.layers[0].frame_counter, 1);
    enc::sei_update_picture(sei, 0, enc::kTypeP, 2, 0, v);
    EXPECT_EQ(sei.layers[0].last_picture, 1);
    enc::sei_set_picture_values(sei, 0, 0, 0, -1);
    EXPECT_EQ(sei.second_scene_id, -1);
    enc::sei_set_picture_values(sei, 1, 2, 4, 9);
    EXPECT_EQ(sei.second_scene_id, 9);
    enc::sei_free(sei);
    EXPECT_TRUE(sei.slots[0].payload.empty());
}

TEST(RunState, RtpCountersOutliveARunAndNothingElseDoes)
{
    enc::RtpCounters &c = enc::ProcessRtpCounters();
    const unsigned before = c.seq;
    {
        enc::EncoderRun run;
        EXPECT_EQ(run.out.rtp_counters, &c);
        NaluPtr n = enc::AllocNALU(4);
        n->len = 1;
        enc::ComposeRtpRecord(*n, *run.out.rtp_counters);
        run.stats.bit_counter = 1234;
        run.picture_bits.push_back(5);
    }
    enc::EncoderRun next;
    EXPECT_EQ(c.seq, before + 1);
    EXPECT_EQ(next.stats.bit_counter, 0);
    EXPECT_TRUE(next.picture_bits.empty());
    EXPECT_EQ(next.img.ref_frame_num, -1);
}

} // namespace

} // namespace enc_state_test
