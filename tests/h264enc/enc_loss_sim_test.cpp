// The simulated receivers of loss-aware decisions. The quarter-sample fetch equals the encoder's
// interpolated reference plane; loss draws follow the program's generator (checked against the
// generator's own formula) and keep their rates within a Hoeffding bound; concealment is checked case
// by case on small pictures against the table; and whole runs of the real mode decision show that a
// receiver without losses reconstructs and deblocks exactly the encoder's pictures, that a receiver that
// loses every inter residual shows the encoder's prediction, and one that loses everything shows grey.
#include "h264dec/h264_shared.h"
#include "h264enc/enc_deblock.h"
#include "h264enc/enc_run.h"
#include "h264enc/frame_store.h"
#include "h264enc/intra_refresh.h"
#include "h264enc/loss_sim.h"
#include "h264enc/mode_decision.h"
#include "h264enc/motion_search.h"
#include "h264enc/quarter_plane.h"
#include "h264enc/slice_coder.h"
#include "platform/messages.h"
#include "platform/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <random>

namespace enc_loss_sim_test {

using namespace h264enc;
using h264enc::Array2D; // the decoder has its own, global one

// ---------------------------------------------------------------------------------------------
// Quarter-sample fetch

// The encoder's quarter-sample plane of a picture, the oracle of the receivers' fetch.
Array2D<uint8_t> QuarterPlane(const Array2D<uint8_t> &luma)
{
    Array2D<int> work;
    Array2D<uint8_t> plane;
    plane.allocate(4 * luma.rows() + 2 * kQuarterMargin, 4 * luma.cols() + 2 * kQuarterMargin, "test");
    interpolate_quarter_plane(luma, work, plane);
    return plane;
}

TEST(EncLossSim, FetchFromEveryReceiverReferenceEqualsTheEncodersQuarterSamplePlane)
{
    // Two receivers with two references each (32x16 pictures): random samples, alternating extremes
    // (clipping) and a ramp, stored so that every receiver and age holds a different one.
    const int w = 32, h = 16;
    EncoderParams in;
    in.SourceWidth = w;
    in.SourceHeight = h;
    in.NumberReferenceFrames = 1;
    in.NumberOfDecoders = 2;
    EncoderImage img;
    init_image_geometry(in, img);
    LossSimState st;
    h264enc_losssim_init(st, in, img);
    ASSERT_EQ(st.ring_size, 2);
    std::mt19937 rng(11);
    Array2D<uint8_t> pics[4];
    for (int kind = 0; kind < 4; ++kind) {
        pics[kind].allocate(h, w, "test");
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pics[kind][y][x] = static_cast<uint8_t>(kind == 0   ? rng() % 256
                                                        : kind == 1 ? ((x + y) % 2) * 255
                                                        : kind == 2 ? (x * 37 + y * 11) % 256
                                                                    : 255 - rng() % 64);
    }
    // Receiver d holds pictures 2d + 1 (newest) and 2d.
    for (int d = 0; d < 2; ++d) {
        losssim_store_reference(st, d, pics[2 * d]);
        losssim_store_reference(st, d, pics[2 * d + 1]);
    }
    st.stored = 2;
    for (int d = 0; d < 2; ++d)
        for (int k = 0; k < 2; ++k) {
            const Array2D<uint8_t> plane = QuarterPlane(pics[2 * d + 1 - k]);
            // Inside, in the plane's margin and far outside (where it repeats its border samples).
            for (int y4 = -70; y4 < 4 * h + 70; ++y4)
                for (int x4 = -70; x4 < 4 * w + 70; ++x4) {
                    int block[4][4];
                    h264enc_losssim_fetch(st, d, k, y4, x4, block);
                    for (int y = 0; y < 4; ++y)
                        for (int x = 0; x < 4; ++x)
                            ASSERT_EQ(block[y][x], get_pel_quarter_clamped(plane, y4 + 4 * y, x4 + 4 * x))
                                << "receiver " << d << " reference " << k << " at (" << y4 << ", " << x4
                                << ")";
                }
        }
    // One bright sample in black: the half sample beside it is (20 x 255 + 16) / 32 = 159, the one two
    // samples away (-5 x 255 + 16) / 32 clipped to 0, and the quarter between them (255 + 159) / 2 = 207.
    Array2D<uint8_t> dot;
    dot.allocate(h, w, "test");
    dot[4][4] = 255;
    losssim_store_reference(st, 0, dot);
    int block[4][4];
    h264enc_losssim_fetch(st, 0, 0, 16, 10, block);
    EXPECT_EQ(block[0][0], 0);
    EXPECT_EQ(block[0][1], 159);
    h264enc_losssim_fetch(st, 0, 0, 16, 11, block);
    EXPECT_EQ(block[0][1], 207);
}

// ---------------------------------------------------------------------------------------------
// Loss draws

// The generator as its definition states it, to predict the draws independently.
struct Lcg
{
    uint32_t seed;
    int Next()
    {
        seed = seed * 214013u + 2531011u;
        return static_cast<int>((seed >> 16) & 32767);
    }
};

std::unique_ptr<EncoderRun> DrawRun(int w_mbs, int h_mbs, int a, int b, int c, int partition, int slice_mode)
{
    auto run = std::make_unique<EncoderRun>();
    EncoderParams &in = run->input;
    in.SourceWidth = 16 * w_mbs;
    in.SourceHeight = 16 * h_mbs;
    in.NumberReferenceFrames = 1;
    in.NumberOfDecoders = 1;
    in.LossRateA = a;
    in.LossRateB = b;
    in.LossRateC = c;
    in.PartitionMode = partition;
    in.SliceMode = slice_mode;
    init_image_geometry(in, run->img);
    h264enc_losssim_init(run->losssim, in, run->img);
    return run;
}

// The status a macroblock gets from its three draws (C, B, A order), by the rule.
int StatusOf(int r1, int r2, int r3, int a, int b, int c, int partition)
{
    int s = a > r3 * 100.0 / 32767 ? 1 : 2 * (b > r2 * 100.0 / 32767) + 3 * (c > r1 * 100.0 / 32767);
    return partition == 0 && s != 0 ? 1 : s;
}

TEST(EncLossSim, LossDrawsFollowTheProgramsGeneratorAndRepeatWithItsSeed)
{
    const struct
    {
        int a, b, c, partition;
    } cases[] = {{10, 0, 0, 0}, {30, 40, 50, 1}, {0, 50, 50, 0}, {0, 35, 65, 1}, {100, 0, 0, 1}};
    for (const auto &k : cases) {
        auto run = DrawRun(11, 9, k.a, k.b, k.c, k.partition, 0);
        zn::SeedRand(1234);
        h264enc_losssim_draw_losses(*run);
        const Array2D<uint8_t> first = run->losssim.loss;
        Lcg g{1234};
        for (int n = 0; n < 99; ++n) {
            const int r1 = g.Next(), r2 = g.Next(), r3 = g.Next();
            ASSERT_EQ(first[n / 11][n % 11], StatusOf(r1, r2, r3, k.a, k.b, k.c, k.partition))
                << "macroblock " << n << " rates " << k.a << " " << k.b << " " << k.c;
        }
        zn::SeedRand(1234);
        h264enc_losssim_draw_losses(*run);
        EXPECT_TRUE(std::equal(first.data(), first.data() + 99, run->losssim.loss.data()));
    }
}

TEST(EncLossSim, OneStatusPerSliceAndThreeDrawsPerSlice)
{
    auto run = DrawRun(11, 9, 30, 30, 30, 1, 1);
    // Slices of 7 macroblocks in raster order.
    for (int n = 0; n < 99; ++n)
        run->img.mb_data[static_cast<size_t>(n)].slice_index = n / 7;
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        zn::SeedRand(seed);
        h264enc_losssim_draw_losses(*run);
        Lcg g{seed};
        for (int slice = 0; slice * 7 < 99; ++slice) {
            const int r1 = g.Next(), r2 = g.Next(), r3 = g.Next();
            const int expect = StatusOf(r1, r2, r3, 30, 30, 30, 1);
            for (int n = 7 * slice; n < std::min(99, 7 * slice + 7); ++n)
                ASSERT_EQ(run->losssim.loss[n / 11][n % 11], expect) << "seed " << seed << " mb " << n;
        }
        // The generator went on exactly three draws per slice (15 slices).
        ASSERT_EQ(zn::Rand(), g.Next());
    }
}

TEST(EncLossSim, LossRatesHoldOverManyDrawsWithinAHoeffdingBound)
{
    // The exact probability that rate > r x 100 / 32767 for r uniform over 0..32767.
    auto p = [](int rate) {
        int n = 0;
        for (int r = 0; r <= 32767; ++r)
            n += rate > r * 100.0 / 32767 ? 1 : 0;
        return n / 32768.0;
    };
    const int a = 10, b = 20, c = 30;
    auto run = DrawRun(11, 9, a, b, c, 1, 0);
    zn::SeedRand(99);
    const int maps = 2000, n = maps * 99;
    long long count[6] = {};
    for (int m = 0; m < maps; ++m) {
        h264enc_losssim_draw_losses(*run);
        for (int i = 0; i < 99; ++i)
            ++count[run->losssim.loss[i / 11][i % 11]];
    }
    const double pa = p(a), pb = p(b), pc = p(c);
    const double expect[6] = {(1 - pa) * (1 - pb) * (1 - pc), pa, (1 - pa) * pb * (1 - pc),
                              (1 - pa) * (1 - pb) * pc,       0,  (1 - pa) * pb * pc};
    // P(|mean - p| >= t) <= 2 exp(-2 n t^2): t for a chance of one in a billion.
    const double t = std::sqrt(std::log(2 / 1e-9) / (2.0 * n));
    for (int s = 0; s < 6; ++s)
        EXPECT_NEAR(static_cast<double>(count[s]) / n, expect[s], t) << "status " << s;
    EXPECT_EQ(count[4], 0);
}

TEST(EncLossSim, ReceiversThatDoNotFitEndTheRunWithTheAllocationText)
{
    zn::MessageRecorder rec;
    EncoderParams in;
    in.SourceWidth = 176;
    in.SourceHeight = 144;
    in.NumberReferenceFrames = 5;
    in.NumberOfDecoders = 200000; // 200000 x 8 QCIF pictures: beyond what an allocation may ask
    EncoderImage img;
    init_image_geometry(in, img);
    LossSimState st;
    EXPECT_THROW(h264enc_losssim_init(st, in, img), H264FatalError);
    EXPECT_TRUE(rec.Contains("Could not allocate memory: init_global_buffers: decref"));
    EXPECT_FALSE(st.allocated());
}

// ---------------------------------------------------------------------------------------------
// Concealment

// A 48x32 picture (3 x 2 macroblocks) with one receiver whose previous picture and current decoding
// are known patterns.
struct ConcealFixture
{
    std::unique_ptr<EncoderRun> run;
    static int Prev(int y, int x) { return (3 * x + 5 * y) % 256; }
    static int Cur(int y, int x) { return 250 - (x + 2 * y) % 97; }
    // Macroblock modes: skip, 16x16 (one sample right), intra 4x4, intra 16x16, 8x8 (two samples up),
    // skip.
    static constexpr int kModes[6] = {kModeSkip, kMode16x16, kModeI4, kModeI16, kMode8x8, kModeSkip};
    static constexpr int kMv[6][2] = {{0, 0}, {4, 0}, {0, 0}, {0, 0}, {0, -8}, {0, 0}};

    explicit ConcealFixture(int type)
    {
        run = DrawRun(3, 2, 0, 0, 0, 1, 0);
        run->img.type = type;
        LossSimState &st = run->losssim;
        st.stored = 1;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 48; ++x) {
                losssim_reference(st, 0, 0)[y * 48 + x] = static_cast<uint8_t>(Prev(y, x));
                st.best[0][y][x] = static_cast<uint8_t>(Cur(y, x));
            }
        for (int m = 0; m < 6; ++m) {
            st.modes[m / 3][m % 3] = static_cast<uint8_t>(kModes[m]);
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i) {
                    LossBlockSource &s =
                        st.sources[static_cast<size_t>((4 * (m / 3) + j) * 12 + 4 * (m % 3) + i)];
                    if (kModes[m] == kModeI4 || kModes[m] == kModeI16)
                        continue;
                    s.use[0] = 1;
                    s.slot[0] = 0;
                    s.mv[0][0] = kMv[m][0];
                    s.mv[0][1] = kMv[m][1];
                }
        }
    }
    // The value a sample of macroblock m should have: 'c' current, 'p' previous, 'v' predicted from the
    // vector without residual, 'g' grey.
    static int Expected(char what, int m, int y, int x)
    {
        switch (what) {
        case 'c':
            return Cur(y, x);
        case 'p':
            return Prev(y, x);
        case 'v':
            return Prev(std::clamp(y + kMv[m][1] / 4, 0, 31), std::clamp(x + kMv[m][0] / 4, 0, 47));
        default:
            return 127;
        }
    }
};

TEST(EncLossSim, ConcealmentByStatusAndMacroblockKind)
{
    // Per status, what each of the six macroblocks becomes (skip, inter, intra, intra, inter, skip).
    const struct
    {
        int type, status;
        const char *result;
    } cases[] = {
        {kTypeP, kLossNone, "cccccc"},   {kTypeP, kLossAll, "pppppp"},    {kTypeP, kLossPartB, "ccppcc"},
        {kTypeP, kLossPartC, "cvccvc"},  {kTypeP, kLossPartBC, "cvppvc"}, {kTypeI, kLossAll, "gggggg"},
        {kTypeI, kLossPartB, "gggggg"},  {kTypeI, kLossPartC, "cccccc"},  {kTypeI, kLossPartBC, "gggggg"},
        {kTypeSP, kLossPartC, "cvccvc"},
    };
    for (const auto &k : cases) {
        ConcealFixture f(k.type);
        LossSimState &st = f.run->losssim;
        for (int m = 0; m < 6; ++m)
            st.loss[m / 3][m % 3] = static_cast<uint8_t>(k.status);
        h264enc_losssim_conceal(*f.run, 0);
        for (int m = 0; m < 6; ++m)
            for (int y = 16 * (m / 3); y < 16 * (m / 3) + 16; ++y)
                for (int x = 16 * (m % 3); x < 16 * (m % 3) + 16; ++x)
                    ASSERT_EQ(st.best[0][y][x], ConcealFixture::Expected(k.result[m], m, y, x))
                        << "type " << k.type << " status " << k.status << " macroblock " << m << " (" << y
                        << ", " << x << ")";
    }
    // A mixed map touches only the lost macroblocks, each by its own status.
    ConcealFixture f(kTypeP);
    LossSimState &st = f.run->losssim;
    const int statuses[6] = {kLossAll, kLossPartC, kLossPartB, kLossNone, kLossPartBC, kLossPartBC};
    const char result[7] = "pvpcvc";
    for (int m = 0; m < 6; ++m)
        st.loss[m / 3][m % 3] = static_cast<uint8_t>(statuses[m]);
    h264enc_losssim_conceal(*f.run, 0);
    for (int m = 0; m < 6; ++m)
        for (int y = 16 * (m / 3); y < 16 * (m / 3) + 16; ++y)
            for (int x = 16 * (m % 3); x < 16 * (m % 3) + 16; ++x)
                ASSERT_EQ(st.best[0][y][x], ConcealFixture::Expected(result[m], m, y, x))
                    << "macroblock " << m;
}

// ---------------------------------------------------------------------------------------------
// Whole runs through the real mode decision

// A textured picture moving by fractional amounts, so that the search picks quarter-sample vectors;
// with `flicker` every other picture is brighter, so that the older reference is the better one.
std::vector<uint8_t> MovingTexture(int w, int h, int k, int flicker)
{
    std::vector<uint8_t> y(static_cast<size_t>(w) * h);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            const double v = 128 + 50 * std::sin(0.35 * (i + 0.75 * k)) +
                             40 * std::cos(0.27 * (j - 0.5 * k)) + 25 * std::sin(0.13 * (i + j + 1.25 * k)) +
                             ((i * 7 + j * 13 + k) % 5) + flicker * (k % 2);
            y[static_cast<size_t>(j * w + i)] = static_cast<uint8_t>(std::clamp(static_cast<int>(v), 0, 255));
        }
    return y;
}

// The mode decision, then a look at the coded macroblock, then the receivers' final decoding.
class WatchingCoder : public MacroblockCoder
{
public:
    std::function<void(EncoderRun &)> watch;
    int encode_macroblock(EncoderRun &run) override
    {
        const int cost = m_inner.encode_macroblock(run);
        if (watch)
            watch(run);
        losssim_finish_macroblock(run);
        return cost;
    }

private:
    ModeDecisionCoder m_inner;
};

// The encoder's picture loop for I and P pictures, with the receivers' steps at the picture's end.
struct LossRun
{
    std::unique_ptr<EncoderRun> run;
    int w, h;
    int flicker = 0;

    LossRun(int width, int height, int decoders, int a, int b, int c, int partition, int refs,
            int bframes = 0)
        : run(std::make_unique<EncoderRun>()), w(width), h(height)
    {
        EncoderParams &in = run->input;
        in.NumberBFrames = bframes;
        in.SourceWidth = w;
        in.SourceHeight = h;
        in.NumberReferenceFrames = refs;
        in.SearchRange = 4;
        in.RestrictSearchRange = 2;
        in.UseHadamard = 1;
        in.InterSearch16x16 = in.InterSearch16x8 = in.InterSearch8x16 = in.InterSearch8x8 = 1;
        in.InterSearch8x4 = in.InterSearch4x8 = in.InterSearch4x4 = 1;
        in.ContextInitMethod = 1;
        in.NumberOfDecoders = decoders;
        in.LossRateA = a;
        in.LossRateB = b;
        in.LossRateC = c;
        in.PartitionMode = partition;
        EncoderImage &img = run->img;
        init_image_geometry(in, img);
        init_picture_order(in, img);
        h264enc_fmo_init(run->fmo, w / 16, h / 16, FmoSettingsOf(in));
        create_context_memory(run->cabac_models, in, img.mb_count);
        run->org_frame.allocate(w, h, "test");
        run->rec_frame.allocate(w, h, "test");
        run->interp_work.allocate(h + 8, 2 * w + 16, "test");
        init_frame_buffers(run->refs, in, img);
        MacroblockMotion &mo = run->motion;
        mo.refs = img.max_ref + 2;
        mo.search_mv.assign(static_cast<size_t>(mo.refs) * 8, BlockVectors{});
        mo.predicted_mv.assign(static_cast<size_t>(mo.refs) * 8, BlockVectors{});
        mo.partition_costs.assign(static_cast<size_t>(8 * (mo.refs + 1) * 4), 0);
        run->moving_map.assign(img.maps.ref_map.size(), 1);
        Init_Motion_Search_Module(*run);
        intra_refresh_init(run->refresh, w / 16, h / 16, 0); // the run's seeding point of the generator
        h264enc_losssim_init(run->losssim, in, img);
    }

    // Codes picture k (I first, then P) of the moving texture; `after_slices` looks at the undeblocked
    // picture, `after_end` at the stored one.
    void Code(int k, WatchingCoder &coder, const std::function<void()> &after_slices,
              const std::function<void()> &after_end)
    {
        EncoderRun &r = *run;
        EncoderImage &img = r.img;
        img.number = k;
        img.type = k == 0 ? kTypeI : kTypeP;
        img.qp = 28;
        img.ref_frame_num = k % (img.max_ref + 1);
        ReferenceStore &s = r.refs.frm;
        if (s.short_count == s.short_slots) { // the sliding window, as the run keeps it
            RefFrame &last = *s.picbuf_short[static_cast<size_t>(s.short_count - 1)];
            last.used = 0;
            last.pic_num = last.pic_id = -1;
            --s.short_count;
            --img.refs_in_use;
        }
        img.idr_flag = k == 0 ? 1 : 0;
        img.frame_in_gop = k;
        img.toppoc = img.poc_step * k;
        img.tr = img.toppoc / 2;
        img.num_ref_minus1 = std::max(img.refs_in_use - 1, 0);
        Picture(img.tr, coder, after_slices, after_end);
        r.tr_forward = r.tr_backward;
        r.tr_backward = img.toppoc;
    }

    // Codes the B picture between the last two I or P pictures (one B picture per gap).
    void CodeB(WatchingCoder &coder, const std::function<void()> &after_slices)
    {
        EncoderImage &img = run->img;
        img.type = kTypeB;
        img.qp = 30;
        img.idr_flag = 0;
        img.frame_in_gop = img.number + 1;
        img.toppoc = img.poc_step * (img.number - 1) + 2;
        img.tr = img.toppoc / 2;
        img.num_ref_minus1 = std::max(img.refs_in_use - 1, 0);
        img.stored_b_ref = 0;
        MotionMaps &m = img.maps;
        std::fill(m.fw_ref_map.begin(), m.fw_ref_map.end(), -1);
        std::fill(m.bw_ref_map.begin(), m.bw_ref_map.end(), -1);
        std::fill(m.fw_mv_map.begin(), m.fw_mv_map.end(), std::array<int, 2>{0, 0});
        std::fill(m.bw_mv_map.begin(), m.bw_mv_map.end(), std::array<int, 2>{0, 0});
        Picture(img.tr, coder, after_slices, [] {});
    }

    // Codes the current picture from source time t; I and P pictures become references.
    void Picture(int t, WatchingCoder &coder, const std::function<void()> &after_slices,
                 const std::function<void()> &after_end)
    {
        EncoderRun &r = *run;
        EncoderImage &img = r.img;
        const std::vector<uint8_t> y = MovingTexture(w, h, t, flicker);
        std::copy(y.begin(), y.end(), r.org_frame.y.data());
        for (int c = 0; c < 2; ++c)
            std::fill(r.org_frame.uv[c].data(), r.org_frame.uv[c].data() + w * h / 4, uint8_t{128});
        r.org = &r.org_frame;
        r.rec = &r.rec_frame;
        select_frame_refs(r.refs, img, h);
        set_mref_arrays(r.refs);
        img.field_picture = 0;
        h264enc_code_picture_slices(r, coder);
        free_picture_slices(r.frame_pic);
        after_slices();
        deblock_picture(img, r.rec->y, &r.rec->uv);
        if (img.type != kTypeB)
            MakeReference();
        losssim_end_picture(r); // after the picture became a reference, as the run calls it
        after_end();
    }

    void MakeReference()
    {
        EncoderRun &r = *run;
        EncoderImage &img = r.img;
        FrameStores &fs = r.refs;
        add_short_term_frame(fs, img.ref_frame_num, img.number);
        RefFrame &f = *fs.fb->picbuf_short.front();
        interpolate_quarter_plane(r.rec->y, r.interp_work, f.mref);
        for (int c = 0; c < 2; ++c)
            std::copy(r.rec->uv[c].data(), r.rec->uv[c].data() + w * h / 4, f.mcef[c].data());
        std::copy(r.rec->y.data(), r.rec->y.data() + w * h, f.Refbuf11.data());
        set_mref_arrays(fs);
        img.refs_in_use = std::min({img.refs_in_use + 1, img.max_ref + 1, fs.frm.short_slots});
    }

    bool Equal(const Array2D<uint8_t> &a) const { return Equal(a.data()); }
    bool Equal(const uint8_t *a) const { return std::equal(a, a + w * h, run->rec->y.data()); }
    // Receiver d's newest reference.
    const uint8_t *Newest(int d) const { return losssim_reference(run->losssim, d, 0); }
};

double OwnSquaredError(const EncoderRun &run)
{
    const int mx = 16 * run.img.mb_x, my = 16 * run.img.mb_y;
    double sum = 0;
    for (int y = my; y < my + 16; ++y)
        for (int x = mx; x < mx + 16; ++x)
            sum += (run.org->y[y][x] - run.rec->y[y][x]) * (run.org->y[y][x] - run.rec->y[y][x]);
    return sum;
}

bool IsInter(int mode)
{
    return mode == kMode16x16 || mode == kMode16x8 || mode == kMode8x16 || mode == kMode8x8;
}

// The encoder's own prediction of luma sample (y, x) of a P picture, from its reference planes by the
// motion maps; `stored` 1 once the picture itself has become the newest reference.
int EncoderPredictionAt(EncoderRun &run, int y, int x, int stored = 0)
{
    const MotionMaps &m = run.img.maps;
    const size_t at = m.At(x / 4, y / 4);
    const RefFrame &f = *(*run.refs.current)[static_cast<size_t>(m.ref_map[at] + stored)];
    return get_pel_quarter_clamped(f.mref, 4 * y + m.mv_map[at][1], 4 * x + m.mv_map[at][0]);
}

TEST(EncLossSim, WithoutLossesEveryReceiverReconstructsAndDeblocksTheEncodersPictures)
{
    LossRun lr(64, 48, 3, 0, 0, 0, 0, 2);
    lr.flicker = 40;
    WatchingCoder coder;
    int fractional = 0, farther = 0, checked = 0;
    coder.watch = [&](EncoderRun &run) {
        // A candidate's expected distortion is the encoder's own while nothing is lost.
        ASSERT_EQ(losssim_expected_distortion(run), OwnSquaredError(run)) << "mb " << run.img.mb_index;
        ++checked;
        const MotionMaps &m = run.img.maps;
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) {
                const size_t at = m.At(4 * run.img.mb_x + i, 4 * run.img.mb_y + j);
                if (run.img.type == kTypeP && m.ref_map[at] >= 0) {
                    fractional += (m.mv_map[at][0] & 3) || (m.mv_map[at][1] & 3) ? 1 : 0;
                    farther += m.ref_map[at] > 0 ? 1 : 0;
                }
            }
    };
    for (int k = 0; k < 5; ++k) {
        lr.Code(
            k, coder,
            [&] {
                for (int d = 0; d < 3; ++d)
                    ASSERT_TRUE(lr.Equal(lr.run->losssim.best[static_cast<size_t>(d)]))
                        << "picture " << k << " receiver " << d;
            },
            [&] {
                for (int d = 0; d < 3; ++d)
                    ASSERT_TRUE(lr.Equal(lr.Newest(d))) << "deblocked picture " << k << " receiver " << d;
            });
        ASSERT_FALSE(HasFatalFailure());
    }
    EXPECT_EQ(checked, 5 * 12);
    EXPECT_GT(fractional, 0); // the quarter-sample fetch took part
    EXPECT_GT(farther, 0);    // and the older receiver references
}

TEST(EncLossSim, WithoutLossesReceiversDecodeBPicturesFromBothReferences)
{
    LossRun lr(64, 48, 2, 0, 0, 0, 0, 2, 1);
    WatchingCoder coder;
    int both = 0, backward = 0;
    coder.watch = [&](EncoderRun &run) {
        ASSERT_EQ(losssim_expected_distortion(run), OwnSquaredError(run)) << "mb " << run.img.mb_index;
        if (run.img.type != kTypeB)
            return;
        const MotionMaps &m = run.img.maps;
        const size_t at = m.At(4 * run.img.mb_x, 4 * run.img.mb_y);
        both += m.fw_ref_map[at] >= 0 && m.bw_ref_map[at] >= 0 ? 1 : 0;
        backward += m.fw_ref_map[at] < 0 && m.bw_ref_map[at] >= 0 ? 1 : 0;
    };
    auto same = [&] {
        for (int d = 0; d < 2; ++d)
            ASSERT_TRUE(lr.Equal(lr.run->losssim.best[static_cast<size_t>(d)])) << "receiver " << d;
    };
    for (int k = 0; k < 3; ++k) {
        lr.Code(k, coder, same, [] {});
        ASSERT_FALSE(HasFatalFailure());
        if (k > 0) {
            lr.CodeB(coder, same);
            ASSERT_FALSE(HasFatalFailure());
        }
    }
    EXPECT_GT(both + backward, 0);
}

TEST(EncLossSim, RunsRepeatTheirLossesBecauseTheRunSeedsTheGenerator)
{
    // Two runs with losses: the run's start seeds the generator, so the receivers of both runs hold the
    // same pictures, while the receivers of one run, drawing one after the other, differ.
    std::vector<std::vector<uint8_t>> pictures[2];
    for (int attempt = 0; attempt < 2; ++attempt) {
        zn::SeedRand(1000 + attempt); // whatever came before the run
        LossRun lr(64, 48, 3, 20, 30, 30, 1, 1);
        WatchingCoder coder;
        for (int k = 0; k < 4; ++k)
            lr.Code(
                k, coder, [] {},
                [&] {
                    for (int d = 0; d < 3; ++d)
                        pictures[attempt].emplace_back(lr.Newest(d), lr.Newest(d) + 64 * 48);
                });
    }
    ASSERT_EQ(pictures[0].size(), 12u);
    EXPECT_EQ(pictures[0], pictures[1]);
    int differing = 0;
    for (size_t k = 0; k < 12; k += 3)
        differing += pictures[0][k] != pictures[0][k + 1] || pictures[0][k] != pictures[0][k + 2] ? 1 : 0;
    EXPECT_GT(differing, 0);
}

TEST(EncLossSim, LosingEveryInterResidualLeavesTheEncodersPrediction)
{
    LossRun lr(64, 48, 2, 0, 0, 100, 1, 1);
    WatchingCoder coder;
    std::vector<int> modes;
    coder.watch = [&](EncoderRun &run) { modes.push_back(run.img.CurrentMb().mb_mode); };
    Array2D<uint8_t> deblocked;
    deblocked.allocate(48, 64, "test");
    int inter = 0;
    for (int k = 0; k < 2; ++k) {
        modes.clear();
        lr.Code(
            k, coder, [] {},
            [&] {
                EncoderRun &run = *lr.run;
                for (int d = 0; d < 2; ++d) {
                    const uint8_t *got = lr.Newest(d);
                    for (int y = 0; y < 48; ++y)
                        for (int x = 0; x < 64; ++x) {
                            const int mode = modes[static_cast<size_t>((y / 16) * 4 + x / 16)];
                            // The I picture has no inter residual to lose; in the P picture the inter
                            // macroblocks are their prediction, the others as coded and deblocked.
                            const int expect = k == 1 && IsInter(mode) ? EncoderPredictionAt(run, y, x, 1)
                                                                       : run.rec->y[y][x];
                            ASSERT_EQ(got[y * 64 + x], expect) << "picture " << k << " receiver " << d << " ("
                                                               << y << ", " << x << ") mode " << mode;
                        }
                }
            });
        ASSERT_FALSE(HasFatalFailure());
        if (k == 1)
            for (int mode : modes)
                inter += IsInter(mode) ? 1 : 0;
    }
    EXPECT_GT(inter, 0);
}

TEST(EncLossSim, LosingEverythingLeavesGreyAndTheExpectedDistortionFollowsIt)
{
    LossRun lr(64, 48, 2, 100, 0, 0, 0, 1);
    WatchingCoder coder;
    int compared = 0;
    coder.watch = [&](EncoderRun &run) {
        if (run.img.type != kTypeP)
            return;
        // The receivers hold only grey: an inter macroblock decodes as 127 plus the encoder's residual,
        // an intra one as the encoder's reconstruction.
        const int mode = run.img.CurrentMb().mb_mode;
        const int mx = 16 * run.img.mb_x, my = 16 * run.img.mb_y;
        double expect = 0;
        for (int y = my; y < my + 16; ++y)
            for (int x = mx; x < mx + 16; ++x) {
                int v = run.rec->y[y][x];
                if (mode != kModeI4 && mode != kModeI16)
                    v = std::clamp(127 + v - EncoderPredictionAt(run, y, x), 0, 255);
                expect += (run.org->y[y][x] - v) * (run.org->y[y][x] - v);
            }
        ASSERT_EQ(losssim_expected_distortion(run), expect) << "mb " << run.img.mb_index << " mode " << mode;
        ++compared;
    };
    for (int k = 0; k < 3; ++k) {
        lr.Code(
            k, coder, [] {},
            [&] {
                for (int d = 0; d < 2; ++d) {
                    const uint8_t *got = lr.Newest(d);
                    for (int i = 0; i < 64 * 48; ++i)
                        ASSERT_EQ(got[i], 127) << "picture " << k << " receiver " << d;
                }
            });
        ASSERT_FALSE(HasFatalFailure());
    }
    EXPECT_EQ(compared, 2 * 12);
}

} // namespace enc_loss_sim_test
