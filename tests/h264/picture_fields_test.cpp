// Field pictures and MBAFF frames from hand-built streams: field pairs (I, P and a B pair) decode into
// interleaved frames, field P pictures predict from the field store (a coded index 0 names the field of the
// same parity), a frame after field pairs predicts from the merged frame, and MBAFF frames mix field and
// frame macroblock pairs, in intra prediction and in field prediction from the fields of the last frame.
#include "h264/support/picture_model.h"
#include "h264/support/stream_plan.h"
#include "h264dec/decoder_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace picture_fields_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

// Pictures by structure first, as these tests think of them.
PicturePlan Plan(int type, int frameNum, int poc, int structure, std::vector<MbSpec> mbs, int refIdc = 1)
{
    return MakePicture(type, frameNum, poc, std::move(mbs), structure, refIdc);
}

constexpr int kQp = 28;

int Clip(int v)
{
    return std::clamp(v, 0, 255);
}

void ExpectPicture(const Picture &want, const Picture &got, const std::string &what)
{
    ASSERT_EQ(FirstDifference(want, got), "") << what;
}

std::vector<MbSpec> FlatIntra(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<MbSpec> mbs;
    for (int k = 0; k < n; ++k) {
        MbSpec m = MbSpec::I16(static_cast<int>(rng() % 61) - 30);
        m.chroma_dc[0] = static_cast<int>(rng() % 21) - 10;
        m.chroma_dc[1] = static_cast<int>(rng() % 21) - 10;
        mbs.push_back(m);
    }
    return mbs;
}

TEST(H264PictureFields, FieldPairsInterleaveAndPredictFromTheFieldStore)
{
    StreamPlan plan;
    plan.frames_only = false;
    plan.width_mbs = 2;
    plan.height_mbs = 4; // fields of two macroblock rows
    const auto topI = FlatIntra(4, 1), bottomI = FlatIntra(4, 2);
    plan.pictures.push_back(Plan(7, 0, 0, 1, topI));
    plan.pictures.push_back(Plan(7, 0, 1, 2, bottomI));
    const Picture top0 = IntraDcPicture(2, 2, topI, {0, 0, 0, 0}, kQp);
    const Picture bottom0 = IntraDcPicture(2, 2, bottomI, {0, 0, 0, 0}, kQp);

    // The P pair: two references each; coded index 0 names the field of the same parity (stored
    // indices have their low bit inverted), index 1 the other one. The top field's list is
    // (bottom 0, top 0); the bottom field's (top 1, bottom 0, top 0).
    const int v[2][4][2] = {{{4, 2}, {-3, 5}, {9, -6}, {2, 2}}, {{-1, 3}, {6, 0}, {0, -7}, {13, 1}}};
    const int refs[4] = {0, 1, 1, 0};
    Picture top1(32, 32), bottom1(32, 32);
    std::vector<MbSpec> pmbs[2];
    for (int f = 0; f < 2; ++f)
        for (int k = 0; k < 4; ++k) {
            const int mx = k % 2, my = k / 2;
            pmbs[f].push_back(MbSpec::P(0, 0, refs[k]));
            const Picture &ref = f == 0 ? (refs[k] == 0 ? top0 : bottom0) : (refs[k] == 0 ? bottom0 : top1);
            MotionCompensate(f == 0 ? top1 : bottom1, ref, mx, my, v[f][k][0], v[f][k][1]);
        }
    // Vector differences from the test's predictor, over the stored (low-bit inverted) indices.
    for (int f = 0; f < 2; ++f) {
        std::vector<MbMotion> motion(4);
        const int stored[4] = {refs[0] ^ 1, refs[1] ^ 1, refs[2] ^ 1, refs[3] ^ 1};
        for (int k = 0; k < 4; ++k) {
            int px = 0, py = 0;
            Predict16x16(motion, 2, k % 2, k / 2, stored[k], px, py);
            pmbs[f][static_cast<size_t>(k)].mvd[0][0] = v[f][k][0] - px;
            pmbs[f][static_cast<size_t>(k)].mvd[0][1] = v[f][k][1] - py;
            motion[static_cast<size_t>(k)] = MbMotion{true, stored[k], {v[f][k][0], v[f][k][1]}};
        }
    }
    plan.pictures.push_back(Plan(5, 1, 4, 1, pmbs[0]));
    plan.pictures.push_back(Plan(5, 1, 5, 2, pmbs[1]));
    for (size_t k = 2; k < 4; ++k)
        plan.pictures[k].header = [](SliceHeaderFields &h) {
            h.num_ref_idx_override_flag = 1;
            h.num_ref_pic_active_fwd_minus1 = 1;
        };
    // A frame after the pairs predicts from the merged frame.
    plan.pictures.push_back(
        Plan(5, 2, 8, 0,
             {MbSpec::P(-5, 3), MbSpec::Skip(false), MbSpec::I16(4), MbSpec::Skip(false), MbSpec::P(8, 9),
              MbSpec::Skip(false), MbSpec::Skip(false), MbSpec::Skip(false)}));
    const Picture frame0 = Picture::Interleave(top0, bottom0), frame1 = Picture::Interleave(top1, bottom1);

    for (const bool cabac : {false, true}) {
        DecodeRunResult r = DecodeRun(plan.Write(cabac));
        ASSERT_FALSE(r.failed) << r.message;
        ASSERT_EQ(r.pictures, 3);
        ASSERT_EQ(r.sink->output.size(), 3u);
        ExpectPicture(frame0, r.sink->output[0], cabac ? "CABAC I pair" : "CAVLC I pair");
        ExpectPicture(frame1, r.sink->output[1], cabac ? "CABAC P pair" : "CAVLC P pair");
        const Picture &last = r.sink->output[2];
        // Skipped macroblocks away from the first row and column take predicted vectors: check the
        // two coded ones and the skipped first-row one exactly.
        Picture want(32, 64);
        MotionCompensate(want, frame1, 0, 0, -5, 3);
        MotionCompensate(want, frame1, 0, 2, 8, 9);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                ASSERT_EQ(last.Y(y, x), want.Y(y, x));
                ASSERT_EQ(last.Y(32 + y, x), want.Y(32 + y, x));
            }
    }
}

// A non-reference B field pair between an I pair and a P pair, every macroblock bi-predicted with zero
// vectors. The list is the field store, most recent first (P bottom, P top, I bottom, I top); forward
// indices skip the two later fields, and a top field of a non-reference B picture starts its backward
// index one entry on. Stored indices have their low bit inverted, so coded forward 0 is entry 3 (I top)
// and 1 is entry 2 (I bottom) in both fields; backward 0 (not coded: one backward reference) is P top
// for the top field and P bottom for the bottom one.
TEST(H264PictureFields, BFieldPairAveragesTheListedFields)
{
    StreamPlan plan;
    plan.frames_only = false;
    plan.width_mbs = 2;
    plan.height_mbs = 4;
    plan.num_ref_frames = 2;
    plan.pictures.push_back(Plan(7, 0, 0, 1, FlatIntra(4, 11)));
    plan.pictures.push_back(Plan(7, 0, 1, 2, FlatIntra(4, 12)));
    plan.pictures.push_back(Plan(5, 1, 8, 1, FlatIntra(4, 13)));
    plan.pictures.push_back(Plan(5, 1, 9, 2, FlatIntra(4, 14)));
    const int coded[2][4] = {{0, 1, 1, 0}, {1, 0, 0, 1}};
    for (int f = 0; f < 2; ++f) {
        std::vector<MbSpec> mbs;
        for (int k = 0; k < 4; ++k) {
            mbs.push_back(MbSpec::B(2, 0, 0, 0, 0));
            mbs.back().ref[0] = coded[f][k];
        }
        plan.pictures.push_back(Plan(6, 2, 4 + f, 1 + f, mbs, 0));
        plan.pictures.back().header = [](SliceHeaderFields &h) {
            h.num_ref_idx_override_flag = 1;
            h.num_ref_pic_active_fwd_minus1 = 1;
            h.num_ref_pic_active_bwd_minus1 = 0;
        };
    }
    for (const bool cabac : {false, true}) {
        DecodeRunResult r = DecodeRun(plan.Write(cabac));
        ASSERT_FALSE(r.failed) << r.message;
        ASSERT_EQ(r.sink->output.size(), 3u);
        const Picture &i0 = r.sink->output[0], &b = r.sink->output[1], &p = r.sink->output[2];
        Picture want[2];
        for (int f = 0; f < 2; ++f) {
            const Picture back = p.Field(f);
            want[f] = back;
            for (int k = 0; k < 4; ++k) {
                const Picture fwd = i0.Field(coded[f][k] == 0 ? 0 : 1);
                const int mx = k % 2, my = k / 2;
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x) {
                        const int Y = 16 * my + y, X = 16 * mx + x;
                        want[f].Y(Y, X) = (fwd.Y(Y, X) + back.Y(Y, X) + 1) / 2;
                    }
                for (int c = 0; c < 2; ++c)
                    for (int y = 0; y < 8; ++y)
                        for (int x = 0; x < 8; ++x) {
                            const int Y = 8 * my + y, X = 8 * mx + x;
                            want[f].C(c, Y, X) = (fwd.C(c, Y, X) + back.C(c, Y, X) + 1) / 2;
                        }
            }
        }
        ExpectPicture(Picture::Interleave(want[0], want[1]), b, cabac ? "CABAC B pair" : "CAVLC B pair");
    }
}

// MBAFF intra model: macroblocks in pair order; a frame macroblock covers 16 frame rows, a field
// macroblock every other row of its pair; DC prediction reads the rows its form sees.
Picture MbaffIntra(int wMbs, int hMbs, const std::vector<MbSpec> &mbs)
{
    Picture p(16 * wMbs, 16 * hMbs);
    for (size_t c = 0; c < mbs.size(); ++c) {
        const MbSpec &m = mbs[c];
        const int pair = static_cast<int>(c) / 2, s = static_cast<int>(c) % 2;
        const int mx = pair % wMbs, P = pair / wMbs, X = 16 * mx;
        const bool left = mx > 0;
        // Frame rows of the macroblock's luma rows and of the row above it (-1: none).
        auto lumaRow = [&](int r) { return m.field ? 2 * (16 * P + r) + s : 16 * (2 * P + s) + r; };
        const int above =
            m.field ? (P > 0 ? 2 * (16 * P - 1) + s : -1) : (2 * P + s > 0 ? 16 * (2 * P + s) - 1 : -1);
        int sa = 0, sl = 0;
        for (int k = 0; k < 16; ++k) {
            sa += above >= 0 ? p.Y(above, X + k) : 0;
            sl += left ? p.Y(lumaRow(k), X - 1) : 0;
        }
        const bool up = above >= 0;
        const int pred = up && left ? (sa + sl + 16) / 32 : up ? (sa + 8) / 16 : left ? (sl + 8) / 16 : 128;
        for (int r = 0; r < 16; ++r)
            for (int x = 0; x < 16; ++x)
                p.Y(lumaRow(r), X + x) = Clip(pred + I16DcOffset(m.luma_dc, kQp));
        auto chromaRow = [&](int r) { return m.field ? 2 * (8 * P + r) + s : 8 * (2 * P + s) + r; };
        const int cAbove =
            m.field ? (P > 0 ? 2 * (8 * P - 1) + s : -1) : (2 * P + s > 0 ? 8 * (2 * P + s) - 1 : -1);
        for (int k = 0; k < 2; ++k) {
            const int cx = X / 2;
            int sum[4] = {};
            for (int t = 0; t < 4; ++t) {
                sum[0] += up ? p.C(k, cAbove, cx + t) : 0;
                sum[1] += up ? p.C(k, cAbove, cx + 4 + t) : 0;
                sum[2] += left ? p.C(k, chromaRow(t), cx - 1) : 0;
                sum[3] += left ? p.C(k, chromaRow(4 + t), cx - 1) : 0;
            }
            int dc[2][2];
            ChromaDcPrediction(sum, up, left, dc);
            for (int r = 0; r < 8; ++r)
                for (int x = 0; x < 8; ++x)
                    p.C(k, chromaRow(r), cx + x) =
                        Clip(dc[x / 4][r / 4] + ChromaDcOffset(m.chroma_dc[k], kQp));
        }
    }
    return p;
}

TEST(H264PictureFields, MbaffFramesMixFieldAndFramePairs)
{
    StreamPlan plan;
    plan.frames_only = false;
    plan.mbaff = true;
    plan.width_mbs = 2;
    plan.height_mbs = 4;
    // Pairs in order: (0, 0) field, (1, 0) frame, (0, 1) frame, (1, 1) field.
    std::vector<MbSpec> intra = FlatIntra(8, 5);
    const int fieldPair[4] = {1, 0, 0, 1};
    for (size_t c = 0; c < intra.size(); ++c)
        intra[c].field = fieldPair[c / 2];
    plan.pictures.push_back(Plan(7, 0, 0, 0, intra));
    const Picture i0 = MbaffIntra(2, 4, intra);

    // A P frame: the first pair field macroblocks predicting from the fields of I0 (index 1 the top
    // field for the top macroblock, index 0 the bottom field for the bottom one), the rest skipped
    // with zero vectors (first row and column).
    std::vector<MbSpec> p(8, MbSpec::Skip(false));
    p[0] = MbSpec::P(5, -3, 1);
    p[1] = MbSpec::P(-2, 7, 0);
    p[0].field = p[1].field = 1;
    p[4] = MbSpec::I16(9);
    p[5] = MbSpec::I16(-9);
    plan.pictures.push_back(Plan(5, 1, 2, 0, p));

    const Picture top0 = i0.Field(0), bottom0 = i0.Field(1);
    Picture want = i0; // skipped frame macroblocks copy I0
    Picture topMb(32, 32), bottomMb(32, 32);
    MotionCompensate(topMb, top0, 0, 0, 5, -3);
    MotionCompensate(bottomMb, bottom0, 0, 0, -2, 7);
    for (int r = 0; r < 16; ++r)
        for (int x = 0; x < 16; ++x) {
            want.Y(2 * r, x) = topMb.Y(r, x);
            want.Y(2 * r + 1, x) = bottomMb.Y(r, x);
        }
    for (int k = 0; k < 2; ++k)
        for (int r = 0; r < 8; ++r)
            for (int x = 0; x < 8; ++x) {
                want.C(k, 2 * r, x) = topMb.C(k, r, x);
                want.C(k, 2 * r + 1, x) = bottomMb.C(k, r, x);
            }
    // Pair (0, 1) is a frame pair of intra macroblocks: DC from the P samples above it.
    for (int s = 0; s < 2; ++s) {
        const int Y = 32 + 16 * s, level = s == 0 ? 9 : -9;
        int sa = 0;
        for (int x = 0; x < 16; ++x)
            sa += want.Y(Y - 1, x);
        const int v = Clip((sa + 8) / 16 + I16DcOffset(level, kQp));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                want.Y(Y + y, x) = v;
        for (int k = 0; k < 2; ++k) {
            int sum[4] = {};
            for (int t = 0; t < 4; ++t) {
                sum[0] += want.C(k, Y / 2 - 1, t);
                sum[1] += want.C(k, Y / 2 - 1, 4 + t);
            }
            int dc[2][2];
            ChromaDcPrediction(sum, true, false, dc);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    want.C(k, Y / 2 + y, x) = dc[x / 4][y / 4];
        }
    }

    for (const bool cabac : {false, true}) {
        DecodeRunResult r = DecodeRun(plan.Write(cabac));
        ASSERT_FALSE(r.failed) << r.message;
        ASSERT_EQ(r.sink->output.size(), 2u);
        ExpectPicture(i0, r.sink->output[0], cabac ? "CABAC MBAFF I" : "CAVLC MBAFF I");
        ExpectPicture(want, r.sink->output[1], cabac ? "CABAC MBAFF P" : "CAVLC MBAFF P");
    }
}

// A non-reference B MBAFF frame after I0 and P1 (both MBAFF frames of intra pairs), every macroblock
// bi-predicted with zero vectors. A frame pair lists the frames (P1, I0) and starts its forward index
// one entry on: forward 0 is I0, backward 0 is P1. A field pair lists the fields most recent first
// (P1 bottom, P1 top, I0 bottom, I0 top) with the same offset of one entry, its indices stored as
// coded: forward 0 is P1 top, 1 I0 bottom, 2 I0 top; backward 0 is P1 bottom.
TEST(H264PictureFields, MbaffBFrameAveragesTheListedFramesAndFields)
{
    StreamPlan plan;
    plan.frames_only = false;
    plan.mbaff = true;
    plan.width_mbs = 2;
    plan.height_mbs = 4;
    plan.num_ref_frames = 2;
    std::vector<MbSpec> i0 = FlatIntra(8, 21), p1 = FlatIntra(8, 22);
    const int fieldPair[4] = {1, 0, 0, 1};
    const int coded[8] = {0, 2, 0, 0, 0, 0, 1, 2}; // forward index per macroblock, decoding order
    std::vector<MbSpec> b;
    for (size_t c = 0; c < 8; ++c) {
        i0[c].field = p1[c].field = fieldPair[(c / 2 + 1) % 4];
        b.push_back(MbSpec::B(2, 0, 0, 0, 0));
        b.back().ref[0] = coded[c];
        b.back().field = fieldPair[c / 2];
    }
    plan.pictures.push_back(Plan(7, 0, 0, 0, i0));
    plan.pictures.push_back(Plan(5, 1, 4, 0, p1));
    plan.pictures.push_back(Plan(6, 2, 2, 0, b, 0));
    plan.pictures.back().header = [](SliceHeaderFields &h) {
        h.num_ref_idx_override_flag = 1;
        h.num_ref_pic_active_fwd_minus1 = 1;
        h.num_ref_pic_active_bwd_minus1 = 0;
    };
    for (const bool cabac : {false, true}) {
        DecodeRunResult r = DecodeRun(plan.Write(cabac));
        ASSERT_FALSE(r.failed) << r.message;
        ASSERT_EQ(r.sink->output.size(), 3u);
        const Picture &I = r.sink->output[0], &B = r.sink->output[1], &P = r.sink->output[2];
        Picture want(32, 64);
        for (int c = 0; c < 8; ++c) {
            const int pair = c / 2, s = c % 2, mx = pair % 2, pairRow = pair / 2;
            const bool field = fieldPair[pair] != 0;
            // Frame rows of luma row y (chroma row y for chroma) of this macroblock.
            auto row = [&](int y, int size) {
                return field ? 2 * (size * pairRow + y) + s : size * (2 * pairRow + s) + y;
            };
            // The reference rows each direction reads: frame rows, or rows of one field.
            auto fetch = [&](const Picture &pic, int parity, int y, int size, int comp, int x) {
                const int fy = parity < 0 ? row(y, size) : 2 * (size * pairRow + y) + parity;
                return comp < 0 ? pic.Y(fy, x) : pic.C(comp, fy, x);
            };
            const Picture *fwd = &I, *bwd = &P;
            int fwdParity = -1, bwdParity = -1;
            if (field) {
                const int f = coded[c];
                fwd = f == 0 ? &P : &I;
                fwdParity = f == 1 ? 1 : 0;
                bwdParity = 1;
            }
            for (int comp = -1; comp < 2; ++comp) {
                const int size = comp < 0 ? 16 : 8, x0 = size * mx;
                for (int y = 0; y < size; ++y)
                    for (int x = x0; x < x0 + size; ++x) {
                        const int v = (fetch(*fwd, fwdParity, y, size, comp, x) +
                                       fetch(*bwd, bwdParity, y, size, comp, x) + 1) /
                                      2;
                        (comp < 0 ? want.Y(row(y, size), x) : want.C(comp, row(y, size), x)) = v;
                    }
            }
        }
        ExpectPicture(want, B, cabac ? "CABAC MBAFF B" : "CAVLC MBAFF B");
    }
}

// A field pair of intra 4x4 macroblocks opening the second slice of an MBAFF frame: its left pair lies
// in the first slice, so the field copy of the intra modes hides it too, and each field macroblock
// predicts like a macroblock without neighbours (the first 4x4 block from 128).
TEST(H264PictureFields, MbaffFieldMacroblocksStopAtSliceEdges)
{
    StreamPlan plan;
    plan.frames_only = false;
    plan.mbaff = true;
    plan.width_mbs = 2;
    plan.height_mbs = 2;
    std::vector<MbSpec> mbs = FlatIntra(2, 8);
    for (int k = 0; k < 2; ++k) {
        MbSpec m;
        m.kind = MbKind::I4;
        m.field = 1;
        for (int b = 0; b < 16; ++b)
            m.block_dc[b] = (5 * b + 3 * k) % 13 - 6;
        mbs.push_back(m);
    }
    PicturePlan pic = Plan(7, 0, 0, 0, mbs);
    pic.slice_starts = {0, 1};
    plan.pictures.push_back(pic);
    DecodeRunResult r = DecodeRun(plan.Write(false));
    ASSERT_FALSE(r.failed) << r.message;
    ASSERT_EQ(r.sink->output.size(), 1u);
    for (int parity = 0; parity < 2; ++parity) {
        const Picture alone = IntraDcPicture(1, 1, {mbs[2 + static_cast<size_t>(parity)]}, {0}, kQp);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(r.sink->output[0].Y(2 * y + parity, 16 + x), alone.Y(y, x))
                    << parity << ": " << x << "," << y;
    }
}

} // namespace

} // namespace picture_fields_test
