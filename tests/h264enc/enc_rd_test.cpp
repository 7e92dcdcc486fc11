// Rate-distortion decisions: runs with RDOptimization 1 (CAVLC, CABAC, B pictures, several references,
// restricted references) decode in our decoder to exactly the reconstruction file and report exactly
// the bits of the stream's slices; the lambdas of the worked examples; the pixel ages and the
// reliability of references after an intra refresh.
#include "h264/support/h264_roundtrip.h"
#include "h264enc/enc_run.h"
#include "h264enc/rd_decision.h"
#include "h264enc/support/encoder_fixture.h"
#include "platform/format.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

namespace enc_rd_test {

namespace enc = h264enc;

struct RdRow
{
    const char *name;
    int width, height, frames;
    std::vector<std::string> settings;
};

void PrintTo(const RdRow &r, std::ostream *os)
{
    *os << r.name;
}

class RdRoundTrip : public ::testing::TestWithParam<RdRow>
{
};

TEST_P(RdRoundTrip, ReconstructionAndBitsMatchTheStream)
{
    const RdRow &row = GetParam();
    zntest::ScratchDir dir;
    const std::string yuv = dir.File("in.yuv");
    const auto seq = enctest::SyntheticPan(row.width, row.height, row.frames, 3, 1);
    zntest::WriteFileBytes(yuv, std::vector<unsigned char>(seq.begin(), seq.end()));
    auto v = enctest::DialogValues(yuv, row.width, row.height, row.frames, dir.File("out.264"));
    std::vector<std::string> lines = row.settings;
    for (const std::string &line : lines)
        if (line.rfind("FrameSkip = ", 0) == 0)
            v.FrameSkip = std::stoi(line.substr(12));
    lines.push_back("ReconFile = \"" + dir.File("rec.yuv") + "\"");
    const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, lines));
    ASSERT_TRUE(e.ok) << e.message;
    const zntest::H264DecodeResult d = zntest::DecodeH264ToYuv(dir.File("out.264"), dir.File("dec.yuv"));
    ASSERT_TRUE(d.ok) << d.message;
    const auto rec = zntest::ReadFileBytes(dir.File("rec.yuv"));
    const auto dec = zntest::ReadFileBytes(dir.File("dec.yuv"));
    const std::vector<uint8_t> recon(rec.begin(), rec.end()), decoded(dec.begin(), dec.end());
    const long long pictureBytes = row.width * row.height * 3 / 2;
    EXPECT_EQ(static_cast<long long>(recon.size()),
              static_cast<long long>(e.host.frames.size()) * pictureBytes);
    const long long at = enctest::FirstDifference(recon, decoded);
    EXPECT_EQ(at, -1) << "first difference in picture " << (at < 0 ? -1 : at / pictureBytes);
    const auto bytes = zntest::ReadFileBytes(dir.File("out.264"));
    const std::vector<uint8_t> stream(bytes.begin(), bytes.end());
    ASSERT_EQ(e.host.statistics.size(), 1u);
    EXPECT_EQ(e.host.statistics[0].total_bits,
              8 * (static_cast<long long>(stream.size()) - enctest::ParameterSetBytes(stream)));
}

const RdRow kRows[] = {
    {"IpppCavlc", 64, 48, 4, {"RDOptimization = 1", "SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0"}},
    {"IpppCabac", 64, 48, 4, {"RDOptimization = 1", "SymbolMode = 1", "NumberBFrames = 0", "FrameSkip = 0"}},
    {"IbpCavlc", 64, 48, 5, {"RDOptimization = 1", "SymbolMode = 0"}},
    {"IbpCabac", 64, 48, 5, {"RDOptimization = 1", "SymbolMode = 1"}},
    {"IbbpTemporalDirectCabac",
     64,
     48,
     7,
     {"RDOptimization = 1", "NumberBFrames = 2", "FrameSkip = 2", "DirectModeType = 0"}},
    {"ThreeReferencesCavlc",
     64,
     48,
     5,
     {"RDOptimization = 1", "SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0",
      "NumberReferenceFrames = 3"}},
    {"RestrictRefFrames1",
     64,
     48,
     6,
     {"RDOptimization = 1", "RestrictRefFrames = 1", "RandomIntraMBRefresh = 3", "NumberBFrames = 0",
      "FrameSkip = 0", "NumberReferenceFrames = 3"}},
    {"RestrictRefFrames2Cavlc",
     64,
     48,
     6,
     {"RDOptimization = 1", "RestrictRefFrames = 2", "SymbolMode = 0", "NumberBFrames = 0", "FrameSkip = 0",
      "NumberReferenceFrames = 3"}},
    {"SliceMode2Cavlc",
     64,
     48,
     4,
     {"RDOptimization = 1", "SymbolMode = 0", "SliceMode = 2", "SliceArgument = 60"}},
    {"ConstrainedIntraCabac", 64, 48, 4, {"RDOptimization = 1", "UseConstrainedIntraPred = 1"}},
    {"SpPicturesCabac",
     64,
     48,
     5,
     {"RDOptimization = 1", "SPPicturePeriodicity = 2", "NumberBFrames = 0", "FrameSkip = 0"}},
    {"IbbpTwoReferencesCavlc",
     64,
     48,
     7,
     {"RDOptimization = 1", "SymbolMode = 0", "NumberBFrames = 2", "FrameSkip = 2",
      "NumberReferenceFrames = 2"}},
    {"QcifDefaults", 176, 144, 3, {"RDOptimization = 1"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, RdRoundTrip, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

// The reconstruction file of a run on a 64x48 pan with the dialog's values and `lines`.
std::vector<unsigned char> Reconstruction(const std::vector<std::string> &lines, std::string *error)
{
    zntest::ScratchDir dir;
    const std::string yuv = dir.File("in.yuv");
    const auto seq = enctest::SyntheticPan(64, 48, 4, 3, 1);
    zntest::WriteFileBytes(yuv, std::vector<unsigned char>(seq.begin(), seq.end()));
    const auto v = enctest::DialogValues(yuv, 64, 48, 4, dir.File("out.264"));
    std::vector<std::string> all = lines;
    all.push_back("ReconFile = \"" + dir.File("rec.yuv") + "\"");
    const enctest::EncodeResult e = enctest::Encode(enctest::WriteSettings(dir.Path(), v, all));
    *error = e.ok ? "" : e.message;
    return zntest::ReadFileBytes(dir.File("rec.yuv"));
}

// Trial writes go to whichever partition an element belongs to, and are taken back there: the element
// bits, and so the decisions, do not depend on the partitioning.
TEST(RdDecisions, DataPartitioningKeepsTheDecisions)
{
    const std::vector<std::string> base = {"RDOptimization = 1", "SymbolMode = 0",
                                           "UseConstrainedIntraPred = 1", "NumberBFrames = 0",
                                           "FrameSkip = 0"};
    std::vector<std::string> partitioned = base;
    partitioned.push_back("PartitionMode = 1");
    std::string error;
    const auto whole = Reconstruction(base, &error);
    ASSERT_EQ(error, "");
    const auto parts = Reconstruction(partitioned, &error);
    ASSERT_EQ(error, "");
    ASSERT_FALSE(whole.empty());
    EXPECT_TRUE(whole == parts);
}

// The decisions differ from the cost rule's and pay off: on the pan, rate-distortion decisions code
// fewer bits than RDOptimization 0 at a quality at least as good.
TEST(RdDecisions, FewerBitsAtLeastTheQualityOfTheCostRule)
{
    for (const char *symbolMode : {"SymbolMode = 0", "SymbolMode = 1"}) {
        zntest::ScratchDir dir;
        const std::string yuv = dir.File("in.yuv");
        const int w = 96, h = 64, frames = 5;
        const auto seq = enctest::SyntheticPan(w, h, frames, 3, 1);
        zntest::WriteFileBytes(yuv, std::vector<unsigned char>(seq.begin(), seq.end()));
        long long bits[2] = {};
        double sse[2] = {};
        for (int rd = 0; rd < 2; ++rd) {
            const auto v = enctest::DialogValues(yuv, w, h, frames, dir.File("out.264"));
            const enctest::EncodeResult e =
                enctest::Encode(enctest::WriteSettings(dir.Path(), v,
                                                       {zn::Format("RDOptimization = %d", rd), symbolMode,
                                                        "ReconFile = \"" + dir.File("rec.yuv") + "\""}));
            ASSERT_TRUE(e.ok) << e.message;
            bits[rd] = e.host.statistics.at(0).total_bits;
            // Display order of the reconstruction against the source, luma only.
            const auto rec = zntest::ReadFileBytes(dir.File("rec.yuv"));
            ASSERT_EQ(rec.size(), seq.size());
            for (int f = 0; f < frames; ++f)
                for (int k = 0; k < w * h; ++k) {
                    const size_t at = static_cast<size_t>(f) * w * h * 3 / 2 + static_cast<size_t>(k);
                    const double d = static_cast<double>(rec[at]) - seq[at];
                    sse[rd] += d * d;
                }
        }
        EXPECT_LT(bits[1], bits[0]) << symbolMode;
        EXPECT_LE(sse[1], sse[0]) << symbolMode;
    }
}

} // namespace enc_rd_test

namespace enc_rd_test {

TEST(RdLambda, WorkedExamples)
{
    enc::EncoderParams in;
    enc::EncoderImage img;
    in.NumberBFrames = 0;
    img.type = enc::kTypeP;
    const double p28 = enc::rd_mode_lambda(in, img, 28);
    EXPECT_NEAR(p28, 34.27, 0.005);
    EXPECT_NEAR(p28, 0.85 * std::pow(2.0, 16.0 / 3.0), 1e-9);
    EXPECT_NEAR(enc::rd_motion_lambda(p28), 5.85, 0.005);
    // Without B pictures a B picture's lambda is four times the P one.
    img.type = enc::kTypeB;
    EXPECT_NEAR(enc::rd_mode_lambda(in, img, 28), 4 * p28, 1e-9);
    // With B pictures: qp 40 gives qp' = 28 and the factor min(4, 28 / 6) = 4.
    in.NumberBFrames = 1;
    EXPECT_NEAR(enc::rd_mode_lambda(in, img, 40), 0.68 * std::pow(2.0, 28.0 / 3.0) * 4, 1e-9);
    // qp' = 12 gives the lower bound 2 of the factor; P pictures keep factor 1.
    EXPECT_NEAR(enc::rd_mode_lambda(in, img, 24), 0.68 * 16 * 2, 1e-9);
    img.type = enc::kTypeP;
    EXPECT_NEAR(enc::rd_mode_lambda(in, img, 24), 0.68 * 16, 1e-9);
    // SP pictures: factor max(1.4, min(3, qp' / 12)).
    img.type = enc::kTypeSP;
    img.sp_mode = enc::kSpMode;
    EXPECT_NEAR(enc::rd_mode_lambda(in, img, 24), 0.68 * 16 * 1.4, 1e-9);
    EXPECT_NEAR(enc::rd_mode_lambda(in, img, 60), 0.68 * 65536 * 3, 1e-6);
}

// A 48x48 picture with two references of capped age, as after a run of P pictures.
std::unique_ptr<enc::EncoderRun> AgeRun()
{
    auto run = std::make_unique<enc::EncoderRun>();
    run->input.RestrictRefFrames = 1;
    run->input.NumberReferenceFrames = 2;
    run->img.width = run->img.height = 48;
    run->img.type = enc::kTypeP;
    run->motion.search_mv.resize(3 * 8);
    return run;
}

int Age(const enc::EncoderRun &run, int x, int y)
{
    return run.rd.pixel_age[static_cast<size_t>(y) * 48 + static_cast<size_t>(x)];
}

TEST(RdPixelAges, IntraPicturesResetAndRefreshedBlocksRestart)
{
    auto run = AgeRun();
    enc::prepare_pixel_age_map(*run);
    EXPECT_EQ(Age(*run, 0, 0), 3); // the cap: NumberReferenceFrames + 1
    run->img.type = enc::kTypeI;
    enc::update_pixel_age_map(*run);
    for (int y = 0; y < 48; y += 7)
        for (int x = 0; x < 48; x += 5)
            ASSERT_EQ(Age(*run, x, y), 1);
    run->img.type = enc::kTypeP;
    enc::update_pixel_age_map(*run);
    EXPECT_EQ(Age(*run, 20, 20), 2);
    // A refreshed macroblock restarts at 1; the others age up to the cap.
    run->img.mb_x = 1;
    run->img.mb_y = 1;
    enc::set_refresh_flags(*run, 1);
    enc::update_pixel_age_map(*run);
    enc::update_pixel_age_map(*run);
    EXPECT_EQ(Age(*run, 16, 16), 2);
    EXPECT_EQ(Age(*run, 31, 31), 2);
    EXPECT_EQ(Age(*run, 15, 16), 3);
    EXPECT_EQ(Age(*run, 32, 31), 3);
    // B pictures are not references and age nothing.
    run->img.type = enc::kTypeB;
    enc::update_pixel_age_map(*run);
    EXPECT_EQ(Age(*run, 16, 16), 2);
}

TEST(RdPixelAges, ReferenceIsReliableUnlessItsSamplesWereRefreshedSince)
{
    auto run = AgeRun();
    run->img.type = enc::kTypeI;
    enc::update_pixel_age_map(*run);
    run->img.type = enc::kTypeP;
    // The 8x8 block at samples (32..39, 16..23) refreshed in the last picture, the rest aged twice.
    run->img.mb_x = 2;
    run->img.mb_y = 1;
    enc::set_refresh_flags(*run, 0);
    run->rd.refresh[static_cast<size_t>(2 * 6 + 4)] = 1;
    enc::update_pixel_age_map(*run);
    EXPECT_EQ(Age(*run, 32, 16), 1);
    EXPECT_EQ(Age(*run, 31, 16), 2);
    // The macroblock at (16, 16) predicting its 16x16 block from reference 1.
    run->img.mb_x = run->img.mb_y = 1;
    auto setVector = [&](int x, int y) {
        for (auto &row : run->motion.Mv(1, enc::kMode16x16))
            for (auto &v : row)
                v = {x, y};
    };
    struct Case
    {
        int mvx, mvy, reliable;
    };
    const Case cases[] = {
        {0, 0, 1},       // reads 16..31 only
        {-4, 0, 1},      // one sample left
        {1, 0, 0},       // a quarter sample right: the interpolation reads up to sample 34
        {-8, 0, 1},      // two whole samples left
        {4 * 16, 0, 0},  // the refreshed block itself
        {0, 4 * 8, 1},   // eight rows down: 24..39, below the refreshed rows
        {-4 * 16, 0, 1}, // the macroblock to the left
    };
    for (const Case &c : cases) {
        setVector(c.mvx, c.mvy);
        EXPECT_EQ(enc::reference_is_reliable(*run, 0, 1, enc::kMode16x16), c.reliable)
            << c.mvx << "," << c.mvy;
        // Reference 0 is never older than a refresh.
        EXPECT_EQ(enc::reference_is_reliable(*run, 0, 0, enc::kMode16x16), 1);
    }
}

} // namespace enc_rd_test
