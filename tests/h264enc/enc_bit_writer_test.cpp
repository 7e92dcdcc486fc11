// Bit writer: Exp-Golomb codes against their published bit strings and against the decoder's readers
// over the whole codable range, the fast bit loop against the plain one, the coded block pattern
// mapping, alignment and trailing bits, and which writers mark a partition as holding content.
#include "h264dec/bitstream.h"
#include "h264dec/h264_shared.h"
#include "h264enc/bit_writer.h"
#include "h264enc/support/decoder_oracle.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <random>

namespace enc_bit_writer_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264enc;

std::string Ue(int v)
{
    SlicePartition p;
    write_ue_v("t", v, &p);
    return enctest::BitString(p.bitstream);
}

std::string Se(int v)
{
    SlicePartition p;
    write_se_v("t", v, &p);
    return enctest::BitString(p.bitstream);
}

TEST(ExpGolomb, PublishedCodeWords)
{
    const struct
    {
        bool isSe;
        int value;
        const char *bits;
    } cases[] = {{false, 0, "1"},
                 {false, 1, "010"},
                 {false, 2, "011"},
                 {false, 3, "00100"},
                 {false, 7, "0001000"},
                 {true, 1, "010"},
                 {true, -1, "011"},
                 {true, 2, "00100"},
                 {true, 0, "1"},
                 {true, -2, "00101"},
                 {false, 65534,
                  "000000000000000"
                  "1"
                  "111111111111111"}};
    for (const auto &c : cases)
        EXPECT_EQ(c.isSe ? Se(c.value) : Ue(c.value), c.bits) << c.value;
}

TEST(ExpGolomb, DecoderReadsEveryUeAndSeValueBack)
{
    SlicePartition ue, se;
    for (int v = 0; v <= kMaxUe; ++v)
        write_ue_v("t", v, &ue);
    for (int v = -kMaxSe; v <= kMaxSe; ++v)
        write_se_v("t", v, &se);
    auto dpUe = enctest::DecoderPartition(enctest::BytesOf(ue.bitstream, 8));
    for (int v = 0; v <= kMaxUe; ++v)
        ASSERT_EQ(h264dec_read_ue("t", dpUe->bitstream.get()), v);
    EXPECT_EQ(dpUe->bitstream->bit_offset, ue.bitstream.BitCount());
    auto dpSe = enctest::DecoderPartition(enctest::BytesOf(se.bitstream, 8));
    for (int v = -kMaxSe; v <= kMaxSe; ++v)
        ASSERT_EQ(h264dec_read_se("t", dpSe->bitstream.get()), v);
    EXPECT_EQ(dpSe->bitstream->bit_offset, se.bitstream.BitCount());
}

TEST(ExpGolomb, ValuesBeyondSixteenLeadingZerosAreRefused)
{
    // A 17th halving would be dropped and the code silently wrong: the writer ends the run instead.
    for (int v : {kMaxUe + 1, 1 << 20, -1}) {
        zn::MessageRecorder rec;
        SlicePartition p;
        EXPECT_THROW(write_ue_v("t", v, &p), H264FatalError) << v;
        EXPECT_EQ(p.bitstream.BitCount(), 0);
    }
    for (int v : {kMaxSe + 1, -kMaxSe - 1}) {
        zn::MessageRecorder rec;
        SlicePartition p;
        EXPECT_THROW(write_se_v("t", v, &p), H264FatalError) << v;
    }
}

TEST(BitWriter, FastLoopEqualsPlainLoop)
{
    std::mt19937 rng(7);
    h264enc::Bitstream fast, plain;
    for (int i = 0; i < 200000; ++i) {
        const int len = static_cast<int>(rng() % 33);
        const uint32_t bits = static_cast<uint32_t>(rng());
        write_bits(fast, bits, len);
        write_bits_reference(plain, bits, len);
    }
    ASSERT_EQ(fast.byte_count, plain.byte_count);
    EXPECT_EQ(fast.free_bits, plain.free_bits);
    EXPECT_EQ(fast.pending_byte, plain.pending_byte);
    EXPECT_TRUE(std::equal(fast.StreamBuffer.begin(), fast.StreamBuffer.begin() + fast.byte_count,
                           plain.StreamBuffer.begin()));
}

TEST(BitWriter, AlignmentAndTrailingBits)
{
    h264enc::Bitstream bs;
    EXPECT_EQ(byte_align_bitstream(bs), 0);
    write_bits(bs, 0b101, 3);
    EXPECT_EQ(byte_align_bitstream(bs), 5);
    ASSERT_EQ(bs.byte_count, 1);
    EXPECT_EQ(bs.StreamBuffer[0], 0xA0);
    write_rbsp_trailing_bits(bs); // aligned: the stop bit fills a byte of its own
    ASSERT_EQ(bs.byte_count, 2);
    EXPECT_EQ(bs.StreamBuffer[1], 0x80);
    write_bits(bs, 0b11, 2);
    write_rbsp_trailing_bits(bs);
    ASSERT_EQ(bs.byte_count, 3);
    EXPECT_EQ(bs.StreamBuffer[2], 0xE0);
}

TEST(BitWriter, BufferGrowsPastItsFirstSize)
{
    h264enc::Bitstream bs(4);
    for (int i = 0; i < 1000; ++i)
        write_bits(bs, 0xA5, 8);
    ASSERT_EQ(bs.byte_count, 1000);
    EXPECT_EQ(bs.StreamBuffer[999], 0xA5);
}

TEST(Elements, HeaderElementsLeavePartitionEmptyIntraModeFlagDoesNot)
{
    SlicePartition p;
    write_ue_v("SH: first_mb_in_slice", 5, &p);
    write_u_1("SH: flag", 1, &p);
    EXPECT_EQ(p.bitstream.has_content, 0);
    SyntaxItem mode;
    mode.category = h264enc::SE_INTRAPREDMODE;
    mode.value = -1;
    EXPECT_EQ(write_intra_pred_mode(&mode, &p), 1);
    EXPECT_EQ(p.bitstream.has_content, 1);
    SyntaxItem rem;
    rem.category = h264enc::SE_INTRAPREDMODE;
    rem.value = 5;
    EXPECT_EQ(write_intra_pred_mode(&rem, &p), 4);
    // Decoder: the flag, then 0 and the remaining mode.
    auto dp = enctest::DecoderPartition(enctest::BytesOf(p.bitstream, 4));
    dp->bitstream->bit_offset = 6; // past the two header elements (00110, 1)
    SyntaxSymbol s1, s2;
    ASSERT_EQ(h264dec_read_intra_mode(&s1, dp->bitstream.get()), 1);
    ASSERT_EQ(h264dec_read_intra_mode(&s2, dp->bitstream.get()), 1);
    EXPECT_EQ(s1.value1, -1);
    EXPECT_EQ(s2.value1, 5);
}

TEST(Elements, CodedBlockPatternsMapThroughTheDecodersColumns)
{
    for (int column = 0; column < 2; ++column) {
        SlicePartition p;
        for (int cbp = 0; cbp < 48; ++cbp) {
            SyntaxItem item;
            item.category = column == 0 ? h264enc::SE_CBP_INTRA : h264enc::SE_CBP_INTER;
            item.value = cbp;
            item.map = column == 0 ? map_cbp_intra : map_cbp_inter;
            write_element_uvlc(&item, &p);
        }
        auto dp = enctest::DecoderPartition(enctest::BytesOf(p.bitstream, 8));
        for (int cbp = 0; cbp < 48; ++cbp) {
            SyntaxSymbol s;
            s.map_fn = column == 0 ? h264dec_map_cbp_intra : h264dec_map_cbp_inter;
            ASSERT_EQ(h264dec_read_vlc(&s, dp->bitstream.get()), 1);
            EXPECT_EQ(s.value1, cbp) << "column " << column;
        }
    }
}

TEST(Elements, FixedLengthFieldsKeepTheirLowBits)
{
    SlicePartition p;
    write_u_v(8, "SPS: profile_idc", 0x1FF, &p);
    write_u_v(2, "PPS: weighted_bipred_idc", 2, &p);
    write_u_1("f", 3, &p);
    EXPECT_EQ(enctest::BitString(p.bitstream), "11111111"
                                               "10"
                                               "1");
}

} // namespace

} // namespace enc_bit_writer_test
