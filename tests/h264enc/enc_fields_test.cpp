// Field and picture-adaptive frame/field coding: round trips of the main paths (fields with I, P and B
// pictures and both direct modes, picture-adaptive runs that choose both forms), CAVLC and CABAC; the
// decision rule; the co-located motion a B picture finds in the form that was not coded. More rows run in the
// heavy pass (heavy/).
#include "h264dec/dec_memory.h"
#include "h264dec/picture_fields.h"
#include "h264enc/field_coding.h"
#include "h264enc/support/field_round_trip.h"

#include <gtest/gtest.h>

#include <random>

namespace enc_fields_test {

using enc_fields::FieldRow;
using enc_fields::kIppp;
using enc_fields::With;

const FieldRow kRows[] = {
    {"FieldsCavlc", 4, With(kIppp, {"InterlaceCodingOption = 2", "SymbolMode = 0"})},
    {"FieldsCabac", 4, With(kIppp, {"InterlaceCodingOption = 2", "SymbolMode = 1"})},
    {"FieldsIbpSpatialDirect",
     5,
     {"InterlaceCodingOption = 2", "NumberBFrames = 1", "FrameSkip = 1", "DirectModeType = 1"}},
    {"FieldsIbbpTemporalDirectCavlc",
     4,
     {"InterlaceCodingOption = 2", "NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 0",
      "SymbolMode = 0"}},
    {"AdaptiveInterlacedIbpSpatialDirectCavlc",
     5,
     {"InterlaceCodingOption = 1", "NumberBFrames = 1", "FrameSkip = 1", "DirectModeType = 1",
      "SymbolMode = 0"},
     5,
     1},
    {"AdaptiveInterlacedIbpTemporalDirect",
     5,
     {"InterlaceCodingOption = 1", "NumberBFrames = 1", "FrameSkip = 1", "DirectModeType = 0"},
     5,
     1},
    {"AdaptiveInterlacedIbpTemporalDirectCavlc",
     5,
     {"InterlaceCodingOption = 1", "NumberBFrames = 1", "FrameSkip = 1", "DirectModeType = 0",
      "SymbolMode = 0"},
     7,
     4},
    // Several CABAC slices a picture, the model chosen per slice position: adaptively (each form's
    // choices carried to the other after the decision) or fixed.
    {"AdaptiveInterlacedIbpCabacSlicesAdaptiveModel", 5,
     enc_fields::IbpCabacSlices(1, 50, {"ContextInitMethod = 1"}), 7, 4},
    {"AdaptiveInterlacedIbpCabacSlicesFixedModel", 5,
     enc_fields::IbpCabacSlices(1, 50, {"ContextInitMethod = 0", "FixedModelNumber = 2"}), 7, 4},
};

class FieldRoundTrip : public ::testing::TestWithParam<FieldRow>
{
};

TEST_P(FieldRoundTrip, ReconstructionEqualsTheDecodersOutput)
{
    enc_fields::CheckFieldRoundTrip(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, FieldRoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

// The picture-adaptive rule: fields when lambda x frame bits + frame error is at least the same sum of
// the fields, a tie going to the fields; lambda = 0.85 x 2^((qp - 12) / 3), four times that for B and
// SP pictures.
TEST(FieldCodingDecision, LambdaAndTieRule)
{
    EXPECT_DOUBLE_EQ(h264enc::frame_field_lambda(12, false), 0.85);
    EXPECT_DOUBLE_EQ(h264enc::frame_field_lambda(15, false), 1.7);
    EXPECT_DOUBLE_EQ(h264enc::frame_field_lambda(15, true), 6.8);
    EXPECT_TRUE(h264enc::choose_fields(2.0, 100, 50, 100, 50)); // tie
    EXPECT_TRUE(h264enc::choose_fields(2.0, 100, 50, 90, 69));  // 250 >= 249
    EXPECT_FALSE(h264enc::choose_fields(2.0, 100, 50, 90, 71)); // 250 < 251
    EXPECT_FALSE(h264enc::choose_fields(0.5, 0, 10, 1000, 0));  // 10 < 500
}

// The co-located motion a B picture finds in the form that was not coded: the encoder's derivations
// must equal the decoder's, on random motion of both kinds of source.
TEST(FieldCodingColocated, DerivedFormsEqualTheDecoders)
{
    const int cols = 8, frameRows = 16, fieldRows = frameRows / 2;
    std::mt19937 rng(7);
    auto randomRef = [&] { return static_cast<int>(rng() % 5) - 1; };
    auto randomMv = [&] { return static_cast<int>(rng() % 9) - 4; };
    for (bool fromFrame : {true, false}) {
        SCOPED_TRACE(fromFrame ? "fields from a frame" : "frame from a field pair");
        // Decoder side: vectors [block column + 4][block row][component], the rest [row][column].
        Array3D<int> mv[3];
        Array2D<int> ref[3], moving[3];
        for (int f = 0; f < 3; ++f) {
            const int rows = f == 0 ? frameRows : fieldRows;
            dec_get_mem3Dint(mv[f], cols + 4, rows, 3);
            dec_get_mem2Dint(ref[f], rows, cols);
            dec_get_mem2Dint(moving[f], rows, cols);
        }
        h264enc::ColocatedForms forms;
        auto fill = [&](int f, h264enc::ColocatedMotion &m) {
            const int rows = f == 0 ? frameRows : fieldRows;
            m.cols = cols;
            m.rows = rows;
            m.ref.assign(static_cast<size_t>(cols * rows), 0);
            m.mv.assign(m.ref.size(), {0, 0});
            m.moving.assign(m.ref.size(), 0);
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < cols; ++x) {
                    const size_t at = static_cast<size_t>(y * cols + x);
                    m.ref[at] = ref[f][y][x] = randomRef();
                    m.mv[at] = {mv[f][x + 4][y][0] = randomMv(), mv[f][x + 4][y][1] = randomMv()};
                    const bool still =
                        m.ref[at] == 0 && std::abs(m.mv[at][0]) <= 1 && std::abs(m.mv[at][1]) <= 1;
                    m.moving[at] = still ? 0 : 1;
                }
        };
        if (fromFrame) {
            fill(0, forms.frame);
            h264enc::derive_fields_from_frame(forms);
        } else {
            fill(1, forms.field[0]);
            fill(2, forms.field[1]);
            h264enc::derive_frame_from_fields(forms);
        }
        ::ColocatedMotion frame{&mv[0], &ref[0], &moving[0]}, top{&mv[1], &ref[1], &moving[1]},
            bottom{&mv[2], &ref[2], &moving[2]};
        dec_save_direct_motion(frame, top, bottom, fromFrame, cols, frameRows);
        const h264enc::ColocatedMotion *ours[3] = {&forms.frame, &forms.field[0], &forms.field[1]};
        for (int f = 0; f < 3; ++f) {
            const int rows = f == 0 ? frameRows : fieldRows;
            ASSERT_EQ(ours[f]->rows, rows);
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < cols; ++x) {
                    const size_t at = static_cast<size_t>(y * cols + x);
                    ASSERT_EQ(ours[f]->ref[at], ref[f][y][x]) << "form " << f << " block " << x << "," << y;
                    ASSERT_EQ(ours[f]->mv[at][0], mv[f][x + 4][y][0])
                        << "form " << f << " block " << x << "," << y;
                    ASSERT_EQ(ours[f]->mv[at][1], mv[f][x + 4][y][1])
                        << "form " << f << " block " << x << "," << y;
                    ASSERT_EQ(ours[f]->moving[at], moving[f][y][x])
                        << "form " << f << " block " << x << "," << y;
                }
        }
    }
}

} // namespace enc_fields_test
