// Hand-built streams decoded to pictures that the test works out: intra 16x16 DC macroblocks whose
// only coefficient is a luma DC level (scaled here with the standard's DC formula), in one slice and
// in two slices (a slice boundary hides the macroblocks above).
#include "h264/support/mb_writer.h"
#include "h264dec/nal_dispatch.h"
#include "h264dec/picture_decode.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace {

using namespace h264test;

// Decodes every slice of the stream into the frame planes.
std::unique_ptr<H264DecoderState> DecodeSlices(const std::vector<uint8_t> &stream, std::string &error)
{
    zn::MessageRecorder recorder;
    auto dec = std::make_unique<H264DecoderState>();
    h264dec_open_memory(*dec, stream);
    NaluPtr nalu = dec_AllocNALU(1 << 16);
    try {
        while (h264dec_next_slice_unit(*dec, nalu.get())) {
            h264dec_read_slice_unit(*dec, *nalu);
            h264dec_decode_slice(*dec);
        }
    } catch (const zn::RunAborted &e) {
        error = e.what();
    }
    return dec;
}

// An intra 16x16 DC macroblock with no AC and no chroma: mb_type 3, chroma DC mode, no quantiser
// change, the luma DC block.
void I16DcMacroblock(BitWriter &w, int dcLevel)
{
    w.ue(3);
    w.ue(2);
    w.se(0);
    std::array<int, 16> dc{};
    dc[0] = dcLevel;
    WriteCavlcBlock(w, dc.data(), 16, 0);
}

// The sample of a flat 128 prediction plus a DC-only luma DC grid of level l at quantiser qp:
// f = l in every position, scaled as the standard writes it with LevelScale4x4 = 16 x normAdjust.
int FlatSample(int level, int qp)
{
    static const int kNorm[6] = {10, 11, 13, 14, 16, 18};
    const int ls = 16 * kNorm[qp % 6];
    const int dcY =
        qp >= 36 ? (level * ls) << (qp / 6 - 6) : (level * ls + (1 << (5 - qp / 6))) >> (6 - qp / 6);
    return std::clamp(128 + ((dcY + 32) >> 6), 0, 255);
}

SliceHeaderFields IntraHeader(int firstMb)
{
    SliceHeaderFields h;
    h.first_mb_in_slice = firstMb;
    h.slice_type = 7;
    h.disable_deblocking_filter_idc = 1;
    return h;
}

TEST(H264PictureDecode, IntraDcPictureInOneSlice)
{
    for (int level : {5, -7, 40}) {
        StreamBuilder b(2, 2);
        b.CavlcSlice(IntraHeader(0), true, [&](BitWriter &w) {
            I16DcMacroblock(w, level);
            for (int k = 1; k < 4; ++k)
                I16DcMacroblock(w, 0);
        });
        std::string error;
        auto dec = DecodeSlices(b.stream, error);
        ASSERT_TRUE(error.empty()) << error;
        const int qp = (*dec->img.mb_data)[0].qp;
        const int v = FlatSample(level, qp);
        const DecodedPlanes &p = dec->dec_picture_frame;
        // Every later macroblock's DC mean of the flat neighbours is v again.
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(p.y[y][x], v) << level << " at " << x << "," << y;
        for (int c = 0; c < 2; ++c)
            EXPECT_EQ(p.uv[c][9][3], 128);
    }
}

TEST(H264PictureDecode, SecondSliceDoesNotPredictFromTheFirst)
{
    StreamBuilder b(2, 2);
    b.CavlcSlice(IntraHeader(0), true, [&](BitWriter &w) {
        I16DcMacroblock(w, 20);
        I16DcMacroblock(w, 0);
    });
    b.CavlcSlice(IntraHeader(2), true, [&](BitWriter &w) {
        I16DcMacroblock(w, 0);
        I16DcMacroblock(w, 0);
    });
    std::string error;
    auto dec = DecodeSlices(b.stream, error);
    ASSERT_TRUE(error.empty()) << error;
    const int v = FlatSample(20, (*dec->img.mb_data)[0].qp);
    ASSERT_NE(v, 128);
    const DecodedPlanes &p = dec->dec_picture_frame;
    EXPECT_EQ(p.y[0][0], v);
    EXPECT_EQ(p.y[15][31], v);
    EXPECT_EQ(p.y[16][0], 128);
    EXPECT_EQ(p.y[31][31], 128);
}

TEST(H264PictureDecode, TruncatedStreamsEndCleanly)
{
    StreamBuilder b(2, 2);
    b.CavlcSlice(IntraHeader(0), true, [&](BitWriter &w) {
        for (int k = 0; k < 4; ++k)
            I16DcMacroblock(w, 3 * k + 1);
    });
    for (size_t cut = 1; cut < b.stream.size(); ++cut) {
        std::vector<uint8_t> s(b.stream.begin(), b.stream.begin() + static_cast<std::ptrdiff_t>(cut));
        std::string error;
        auto dec = DecodeSlices(s, error); // must neither crash nor hang
        (void)dec;
    }
    for (size_t bit = 0; bit < 8 * b.stream.size(); bit += 3) {
        std::vector<uint8_t> s = b.stream;
        s[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        std::string error;
        auto dec = DecodeSlices(s, error);
        (void)dec;
    }
}

} // namespace
