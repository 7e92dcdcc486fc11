// Trellis-coded quantisation: the subsets and unions of the Parts' examples, the Viterbi search against
// a search over every path, the decoder retracing the encoder's states, the scalar fallback, and both
// objects in the transform pipeline.
#include "jpeg2000/support/codec_messages.h"
#include "jpeg2000/support/transform_pipeline.h"

#include "jpeg2000/local_services.h"
#include "jpeg2000/marker_elements.h"
#include "jpeg2000/tcq_quantizer.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>

namespace tcq_test { // one namespace per test file: a folder compiles as one source

using namespace zn::j2k;
using j2ktest::Image;
using j2ktest::Plane;

TEST(J2kTcq, SubsetsUnionsAndIndicesOfTheExamples)
{
    // v = 0.2: D0 0, D1 0, D2 1, D3 -1.
    EXPECT_EQ(tcq_nearest_point(0, 0.2), 0);
    EXPECT_EQ(tcq_nearest_point(1, 0.2), 0);
    EXPECT_EQ(tcq_nearest_point(2, 0.2), 1);
    EXPECT_EQ(tcq_nearest_point(3, 0.2), -1);
    // From state 0 (union A): index 0 for D0's point 0, index 1 for D2's point 1.
    EXPECT_EQ(tcq_point_to_index(0, false), 0);
    EXPECT_EQ(tcq_point_to_index(1, false), 1);
    // v = 4.0 exactly: D3's candidates 2 and 6 tie; the larger magnitude wins.
    EXPECT_EQ(tcq_nearest_point(3, 4.0), 6);
    EXPECT_EQ(tcq_nearest_point(3, -4.0), -5);
    // D3's point -1 reached from state 2 is index 1 of union B, and decodes to -0.875 a there.
    EXPECT_EQ(tcq_from(5, 0), 2);
    EXPECT_EQ(tcq_subset(5, 0), 3);
    EXPECT_EQ(tcq_point_to_index(-1, true), 1);
    int64_t idx[3] = {1, 1, 1}; // odd indices: state 0 -> 4 -> 2
    float values[3];
    int states[3];
    tcq_dequantise(idx, 3, 2.0f, values, states); // a = 1
    EXPECT_EQ(states[1], 4);
    EXPECT_EQ(states[2], 2);
    EXPECT_FLOAT_EQ(values[0], 0.875f);
    EXPECT_FLOAT_EQ(values[2], -0.875f);
    // Every index names a point of its union and back, and even indices lie in D0 or D1.
    for (int64_t c = -40; c <= 40; ++c)
        for (bool b : {false, true}) {
            int64_t p = tcq_index_to_point(c, b);
            EXPECT_EQ(tcq_point_to_index(p, b), c);
            int subset = (c & 1) ? (b ? 3 : 2) : (b ? 1 : 0);
            EXPECT_EQ(tcq_nearest_point(subset, double(p)), p) << c << " " << b;
        }
}

// On blocks of up to 10 samples the Viterbi cost is the least cost over all 2^n paths.
TEST(J2kTcq, ViterbiEqualsTheSearchOverEveryPath)
{
    std::mt19937 rng(41);
    std::uniform_real_distribution<float> dist(-30.0f, 30.0f);
    for (int n = 1; n <= 10; ++n)
        for (int trial = 0; trial < 6; ++trial) {
            std::vector<float> x(static_cast<size_t>(n));
            for (float &v : x)
                v = dist(rng);
            float u = 1.5f;
            std::vector<int64_t> indices(x.size());
            float cost = tcq_quantise(x.data(), n, u, indices.data());
            double best = 1e300;
            for (uint32_t path = 0; path < (1u << n); ++path) {
                int state = 0;
                double total = 0;
                for (int i = 0; i < n; ++i) {
                    // Of the two branches leaving `state`, the path's bit picks one.
                    int taken = 0, target = -1, subset = 0;
                    for (int s = 0; s < 8 && target < 0; ++s)
                        for (int bit = 0; bit < 2; ++bit)
                            if (tcq_from(s, bit) == state && taken++ == int((path >> i) & 1)) {
                                target = s;
                                subset = tcq_subset(s, bit);
                                break;
                            }
                    double v = double(x[size_t(i)]) / u;
                    double d = double(tcq_nearest_point(subset, v)) - v;
                    total += d * d;
                    state = target;
                }
                best = std::min(best, total);
            }
            EXPECT_NEAR(cost, best, 1e-4 * std::max(1.0, best)) << n << " " << trial;
        }
}

// The dequantiser walks the states the quantiser chose; every value lies within a step of its sample.
TEST(J2kTcq, TheDequantiserRetracesTheQuantisersStates)
{
    std::mt19937 rng(5);
    std::normal_distribution<float> dist(0.0f, 12.0f);
    for (int trial = 0; trial < 20; ++trial) {
        int n = 1 + int(rng() % 200);
        std::vector<float> x(static_cast<size_t>(n)), back(x.size());
        for (float &v : x)
            v = dist(rng);
        float u = 0.5f + float(rng() % 4);
        std::vector<int64_t> indices(x.size());
        std::vector<int> enc(x.size()), dec(x.size());
        tcq_quantise(x.data(), n, u, indices.data(), enc.data());
        tcq_dequantise(indices.data(), n, 2 * u, back.data(), dec.data());
        EXPECT_EQ(enc, dec) << trial;
        for (int i = 0; i < n; ++i)
            EXPECT_LE(std::fabs(back[size_t(i)] - x[size_t(i)]), 2.25f * u) << trial << " " << i;
    }
    auto order = tcq_scan_order(6, 2);
    std::vector<std::pair<int, int>> want = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}, {1, 1},
                                             {2, 1}, {3, 1}, {4, 0}, {5, 0}, {4, 1}, {5, 1}};
    EXPECT_EQ(order, want);
}

namespace {

void WriteText(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}

} // namespace

// The objects in the pipeline: type of quantisation 2; with every plane decoded (midpoint bits set)
// the trellis decoding beats reading the same indices with the scalar rule ("-Qno_tcq").
TEST(J2kTcq, ObjectsInThePipeline)
{
    zntest::ScratchDir dir;
    WriteText(dir.File("fine"), "(1,1)\n4 4 4 4\n");
    double mse[2] = {0, 0};
    for (int scalar = 0; scalar < 2; ++scalar) {
        zn::MessageRecorder rec;
        J2kRun run;
        Image im = Image::Grey(40, 36);
        j2ktest::TransformPipeline p(
            im, {"-Qtcq", "-Flev", "3", "-Fsteps", dir.File("fine")}, dir.File("t.j2c"),
            scalar ? std::vector<std::string>{"-Qno_tcq"} : std::vector<std::string>{},
            [] { return create_tcq_quantizer(); });
        std::vector<Plane> image = j2ktest::RandomImage(im, 9);
        p.Encode(image);
        p.store.midpoint_bit = [&](int c, int l, int b) {
            int K = 0;
            p.rev->get_band_quant_info(c, l, b, nullptr, nullptr, &K);
            return K;
        };
        int worst = 0;
        p.Decode(
            0,
            [&](int, int c, const canvas_rect &r, int y, const std::vector<int32_t> &row) {
                for (int x = 0; x < r.cols; ++x) {
                    int e = row[size_t(x)] - image[size_t(c)].At(y, x);
                    worst = std::max(worst, std::abs(e));
                    mse[scalar] += double(e) * e;
                }
            },
            [] { return create_tcq_dequantizer(); });
        EXPECT_EQ(p.in->get_marker_val(-1, elt::QuantizationType, 0, 0), 2);
        if (!scalar) {
            EXPECT_LE(worst, 4);
        }
        ASSERT_NE(p.fwd->lra(), nullptr); // "-Qtcq" turns the rate allocation's model on
    }
    EXPECT_LT(mse[0], mse[1]);
}

// A block in which one word lacks the midpoint bit is read with the scalar rule, odd magnitudes lowered.
TEST(J2kTcq, ABlockWithoutMidpointsIsReadAsScalar)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder rec;
    J2kRun run;
    j2ktest::InfoRoundTrip rt(Image::Grey(8, 8), {"-Flev", "1"}, dir.File("s.j2c"));
    zntest::BlockLineStore store(4, 4);
    float delta = 0;
    int K = 0;
    rt.rev->get_band_quant_info(0, 1, 3, &delta, nullptr, &K);
    ASSERT_GE(K, 2);
    for (int y = 0; y < 4; ++y) {
        uint32_t row[4];
        for (int x = 0; x < 4; ++x)
            row[x] = (uint32_t(3) << K) | (uint32_t(1) << (K - 1)) | (x == 1 ? kSignBit : 0u);
        if (y == 2)
            row[3] &= ~(uint32_t(1) << (K - 1));
        store.push_block_line(row, 0, 1, 3, 4);
    }
    store.StartDecoding();
    auto d = create_tcq_dequantizer();
    d->initialize(1, rt.rev.get(), &store, rt.in.get(), nullptr);
    float row[4];
    d->pull_float_row(row, 0, 1, 3, 4);
    EXPECT_FLOAT_EQ(row[0], 2 * delta);
    EXPECT_FLOAT_EQ(row[1], -2 * delta);
}

TEST(J2kTcq, Refusals)
{
    zntest::ScratchDir dir;
    zn::MessageRecorder rec;
    J2kRun run;
    j2ktest::InfoRoundTrip rev(Image::Grey(8, 8), {"-Frev"}, dir.File("r.j2c"));
    zntest::BlockLineStore store;
    EXPECT_THROW(create_tcq_quantizer()->initialize(1, rev.fwd.get(), &store, nullptr), zn::RunAborted);
    EXPECT_TRUE(j2ktest::Showed(rec, "Cannot use TCQ with reversible decompositions!"));
    j2ktest::Args bad({"-Qno_tcq", "Y"});
    j2ktest::InfoRoundTrip plain(Image::Grey(8, 8), {}, dir.File("p.j2c"));
    EXPECT_THROW(
        create_tcq_dequantizer()->initialize(1, plain.rev.get(), &store, plain.in.get(), bad.line.get()),
        zn::RunAborted);
    EXPECT_TRUE(j2ktest::Showed(rec, "The `-Qno_tcq' argument takes no parameters!"));
}

} // namespace tcq_test
