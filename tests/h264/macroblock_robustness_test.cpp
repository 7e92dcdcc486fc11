// Random valid slices (CAVLC, written here with their own count prediction for the coefficient
// tables) read back type for type; then the same slices, valid hand-built CABAC slices (intra, P, B,
// MBAFF, field) and CABAC headers over random data truncated at every byte and bit-flipped: every
// damaged stream ends cleanly, with the run's message or without.
#include "h264/support/mb_writer.h"
#include "h264/support/picture_writer.h"
#include "h264dec/macroblock.h"
#include "h264dec/nal_dispatch.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <random>

namespace macroblock_robustness_test { // one namespace per test file: a folder compiles as one source

namespace {

using namespace h264test;

struct Written
{
    std::vector<uint8_t> stream;
    std::vector<int> types; // decoded mode per macroblock
    std::vector<int> cbp;
};

int CbpCode(int cbp, bool intra)
{
    for (int k = 0; k < 48; ++k)
        if (kCodedBlockPattern[k][intra ? 0 : 1] == cbp)
            return k;
    return -1;
}

// A P (or I) slice of W x H macroblocks with random content.
Written RandomCavlcSlice(std::mt19937 &rng, bool intraSlice, int W = 3, int H = 2)
{
    Written out;
    StreamBuilder b(W, H);
    b.sps.num_ref_frames = 2;
    SliceHeaderFields h;
    h.slice_type = intraSlice ? 7 : 5;
    if (!intraSlice) {
        h.num_ref_idx_override_flag = 1;
        h.num_ref_pic_active_fwd_minus1 = 1;
    }
    // Coefficient counts per block, -1 before decoding: [mb][column][row 0..5].
    std::vector<std::array<std::array<int, 6>, 4>> nz(static_cast<size_t>(W * H));
    for (auto &m : nz)
        for (auto &c : m)
            c.fill(-1);
    auto rnd = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto count = [&](int m, int i, int j) {
        return nz[static_cast<size_t>(m)][static_cast<size_t>(i)][static_cast<size_t>(j)];
    };
    auto ncOf = [&](int m, int i, int j, bool chroma) {
        const int mx = m % W;
        int left = -1, up = -1;
        if (chroma) {
            left = i % 2 ? count(m, i - 1, j) : mx > 0 ? count(m - 1, i + 1, j) : -1;
            up = j == 5 ? count(m, i, 4) : m >= W ? count(m - W, i, 5) : -1;
        } else {
            left = i > 0 ? count(m, i - 1, j) : mx > 0 ? count(m - 1, 3, j) : -1;
            up = j > 0 ? count(m, i, j - 1) : m >= W ? count(m - W, i, 3) : -1;
        }
        const int n = (left >= 0) + (up >= 0);
        return n ? ((left >= 0 ? left : 0) + (up >= 0 ? up : 0)) / n : 0;
    };
    auto block = [&](BitWriter &w, int maxCoeff, int nc) {
        int c[16] = {};
        const int density = rnd(3) == 0 ? 0 : rnd(100);
        for (int k = 0; k < maxCoeff; ++k)
            if (rnd(100) < density)
                c[k] = (rnd(2) ? 1 : -1) * (rnd(4) ? 1 + rnd(3) : 1 + rnd(100));
        return WriteCavlcBlock(w, c, maxCoeff, nc);
    };
    b.CavlcSlice(h, intraSlice, [&](BitWriter &w) {
        int m = 0;
        while (m < W * H) {
            if (!intraSlice) {
                const int run = std::min(rnd(3), W * H - m);
                w.ue(static_cast<uint32_t>(run));
                for (int k = 0; k < run; ++k, ++m) {
                    out.types.push_back(0);
                    out.cbp.push_back(0);
                    for (auto &c : nz[static_cast<size_t>(m)])
                        c.fill(0);
                }
                if (m == W * H)
                    break;
            }
            // Types: 0..3 inter partitions, 4 8x8, 5 intra 4x4, 6 intra 16x16.
            const int t = intraSlice ? 5 + rnd(2) : rnd(7);
            int cbp = 0, i16 = 0;
            if (t == 6) {
                const int luma = rnd(2), chroma = rnd(3), mode = rnd(4);
                cbp = (luma ? 15 : 0) + 16 * chroma;
                i16 = 1 + mode + 4 * chroma + 12 * luma;
                w.ue(static_cast<uint32_t>(intraSlice ? i16 : i16 + 5));
            } else if (t == 5) {
                w.ue(intraSlice ? 0u : 5u);
            } else if (t < 3) {
                w.ue(static_cast<uint32_t>(t));
            } else {
                w.ue(t == 3 ? 3u : 4u); // 4: 8x8 with every reference index 0, none written
            }
            int subs[4] = {0, 0, 0, 0};
            if (t == 3 || t == 4)
                for (int &s : subs) {
                    s = rnd(4);
                    w.ue(static_cast<uint32_t>(s));
                }
            if (t == 5) {
                for (int k = 0; k < 16; ++k) {
                    if (rnd(2)) {
                        w.u(1, 1);
                    } else {
                        w.u(1, 0);
                        w.u(3, static_cast<uint32_t>(rnd(8)));
                    }
                }
            }
            if (t >= 5)
                w.ue(static_cast<uint32_t>(rnd(4)));
            if (t < 5) {
                const bool eight = t >= 3;
                const int parts = eight ? 4 : t == 0 ? 1 : 2;
                if (t != 4)
                    for (int p = 0; p < parts; ++p)
                        w.ue(static_cast<uint32_t>(rnd(2)));
                const int blocksPerSub[4] = {1, 2, 2, 4};
                for (int p = 0; p < parts; ++p)
                    for (int s = 0; s < (eight ? blocksPerSub[subs[p]] : 1); ++s) {
                        w.se(rnd(33) - 16);
                        w.se(rnd(33) - 16);
                    }
            }
            if (t != 6) {
                cbp = rnd(48);
                w.ue(static_cast<uint32_t>(CbpCode(cbp, t == 5) >= 0 ? CbpCode(cbp, t == 5) : 0));
                cbp = kCodedBlockPattern[CbpCode(cbp, t == 5)][t == 5 ? 0 : 1];
            }
            auto &mz = nz[static_cast<size_t>(m)];
            if (t == 6 || cbp)
                w.se(rnd(5) - 2);
            if (t == 6) {
                const int total = block(w, 16, ncOf(m, 0, 0, false));
                mz[0][0] = total;
            }
            for (int q = 0; q < 4; ++q)
                for (int k = 0; k < 4; ++k) {
                    const int i = 2 * (q % 2) + k % 2, j = 2 * (q / 2) + k / 2;
                    if (cbp & (1 << q))
                        mz[static_cast<size_t>(i)][static_cast<size_t>(j)] =
                            block(w, t == 6 ? 15 : 16, ncOf(m, i, j, false));
                    else
                        mz[static_cast<size_t>(i)][static_cast<size_t>(j)] = 0;
                }
            if (cbp > 15)
                for (int k = 0; k < 2; ++k)
                    block(w, 4, -1);
            for (int i = 0; i < 4; ++i)
                for (int j = 4; j < 6; ++j)
                    mz[static_cast<size_t>(i)][static_cast<size_t>(j)] = 0;
            if (cbp > 31)
                for (int plane = 0; plane < 2; ++plane)
                    for (int j = 4; j < 6; ++j)
                        for (int i = 2 * plane; i < 2 * plane + 2; ++i)
                            mz[static_cast<size_t>(i)][static_cast<size_t>(j)] =
                                block(w, 15, ncOf(m, i, j, true));
            const int modes[7] = {kMb16x16, kMb16x8, kMb8x16, kMb8x8, kMb8x8, kMbIntra4x4, kMbIntra16x16};
            out.types.push_back(modes[t]);
            out.cbp.push_back(cbp);
            ++m;
        }
    });
    out.stream = b.stream;
    return out;
}

TEST(MacroblockRobustness, RandomCavlcSlicesReadBack)
{
    std::mt19937 rng(21);
    for (int n = 0; n < 200; ++n) {
        const Written w = RandomCavlcSlice(rng, n % 4 == 0);
        DecodedStream d = DecodeStream(w.stream);
        ASSERT_FALSE(d.failed) << n << ": " << d.message;
        ASSERT_EQ(d.result.macroblocks, static_cast<int>(w.types.size())) << n;
        for (size_t m = 0; m < w.types.size(); ++m) {
            EXPECT_EQ(d.Mb(static_cast<int>(m)).mb_type, w.types[m]) << n << "/" << m;
            EXPECT_EQ(d.Mb(static_cast<int>(m)).coded_block_pattern, w.cbp[m]) << n << "/" << m;
        }
    }
}

struct Source
{
    std::vector<uint8_t> stream;
    bool valid = true; // a slice written to decode cleanly, not fuzz-like data
};

std::vector<Source> DamageSources()
{
    std::vector<Source> s;
    std::mt19937 rng(4);
    s.push_back({RandomCavlcSlice(rng, true).stream});
    s.push_back({RandomCavlcSlice(rng, false).stream});
    // Valid hand-built CABAC slices: intra, P with two references, B with every kind of macroblock,
    // MBAFF pairs of both forms, and a bottom field.
    auto cabacSlice = [&](int w, int h, int type, std::vector<MbSpec> mbs, int form) {
        StreamBuilder b(w, h, true);
        b.sps.num_ref_frames = 2;
        if (form != 0) {
            b.sps.frame_mbs_only_flag = 0;
            b.sps.mb_adaptive_frame_field_flag = form == 1 ? 1 : 0;
        }
        SliceOfPicture sl;
        sl.header.slice_type = type;
        sl.header.num_ref_idx_override_flag = type == 7 ? 0 : 1;
        sl.header.num_ref_pic_active_fwd_minus1 = 1;
        sl.header.field_pic_flag = form == 2 ? 1 : 0;
        sl.header.bottom_field_flag = form == 2 ? 1 : 0;
        sl.idr = type == 7;
        sl.mbs = std::move(mbs);
        WriteSlice(b, sl, static_cast<int>(sl.mbs.size()));
        s.push_back({b.stream});
    };
    std::vector<MbSpec> intra;
    for (int k = 0; k < 6; ++k) {
        MbSpec m = MbSpec::I16(5 * k - 12, k % 4);
        m.chroma_mode = (k + 1) % 4;
        if (k % 3 == 1) {
            m = MbSpec{MbKind::I4};
            for (int b = 0; b < 16; ++b)
                m.block_dc[b] = (3 * b + k) % 7 - 3;
        }
        m.chroma_dc[0] = k - 3;
        m.chroma_dc[1] = 2 - k;
        intra.push_back(m);
    }
    cabacSlice(3, 2, 7, intra, 0);
    cabacSlice(3, 2, 5,
               {MbSpec::Skip(false), MbSpec::P(7, -3, 1), MbSpec::I16(4), MbSpec::P(-2, 9, 0),
                MbSpec::Skip(false), MbSpec::P(1, 1, 1)},
               0);
    cabacSlice(3, 2, 6,
               {MbSpec::Skip(true), MbSpec{MbKind::BDirect}, MbSpec::B(0, 3, 1, 0, 0),
                MbSpec::B(1, 0, 0, -4, 2), MbSpec::B(2, 1, -1, 2, 2), MbSpec::I16(-6)},
               0);
    std::vector<MbSpec> pairs = {MbSpec::P(2, 5, 3),  MbSpec::P(-1, 0, 2), MbSpec::Skip(false),
                                 MbSpec::P(4, 4, 1),  MbSpec::I16(3),      MbSpec::P(0, -6, 0),
                                 MbSpec::Skip(false), MbSpec::Skip(false)};
    for (int k : {0, 1, 4, 5})
        pairs[static_cast<size_t>(k)].field = 1;
    cabacSlice(2, 4, 5, pairs, 1);
    cabacSlice(2, 2, 5, {MbSpec::P(3, 3, 2), MbSpec::Skip(false)}, 2);
    // CABAC, B and MBAFF headers over fixed data, as the fuzz target builds them.
    for (int sel : {1, 3, 5, 17, 21, 9, 0x2D}) {
        std::vector<uint8_t> bytes{static_cast<uint8_t>(sel)};
        for (int k = 0; k < 60; ++k)
            bytes.push_back(static_cast<uint8_t>(rng()));
        s.push_back({SliceStreamFromBytes(bytes.data(), bytes.size()), false});
    }
    return s;
}

TEST(MacroblockRobustness, EveryTruncationEndsCleanly)
{
    for (const Source &source : DamageSources()) {
        const std::vector<uint8_t> &stream = source.stream;
        if (source.valid) {
            const DecodedStream whole = DecodeStream(stream);
            ASSERT_FALSE(whole.failed) << whole.message;
        }
        for (size_t n = 0; n < stream.size(); ++n) {
            const DecodedStream d =
                DecodeStream(std::vector<uint8_t>(stream.begin(), stream.begin() + static_cast<long>(n)));
            if (d.failed) {
                EXPECT_FALSE(d.message.empty());
            }
        }
    }
}

TEST(MacroblockRobustness, EveryBitFlipEndsCleanly)
{
    for (const Source &source : DamageSources())
        for (size_t n = 0; n < source.stream.size() * 8; n += 3) {
            std::vector<uint8_t> damaged = source.stream;
            damaged[n / 8] ^= static_cast<uint8_t>(0x80 >> (n % 8));
            const DecodedStream d = DecodeStream(damaged);
            if (d.failed) {
                EXPECT_FALSE(d.message.empty());
            }
        }
}

// An intra macroblock whose intra pattern lies in a partition marked as damaged is taken as a
// skipped macroblock in any picture but the first; in the first it stays intra.
TEST(MacroblockRobustness, IntraMacroblockOfADamagedPartitionBecomesSkipped)
{
    for (const int number : {0, 3}) {
        h264test::StreamBuilder b(1, 1);
        h264test::SliceHeaderFields h;
        h.slice_type = 5;
        b.CavlcSlice(h, false, [](h264test::BitWriter &w) {
            w.ue(0); // no skip run
            w.ue(8); // intra 16x16 DC in a P slice
            w.ue(2);
            w.se(0);
            int dc[16] = {5};
            h264test::WriteCavlcBlock(w, dc, 16, 0);
        });
        zn::MessageRecorder recorder;
        H264DecoderState dec;
        h264dec_open_memory(dec, b.stream);
        NaluPtr nalu = dec_AllocNALU(1 << 16);
        ASSERT_EQ(h264dec_next_slice_unit(dec, nalu.get()), 1);
        h264dec_read_slice_unit(dec, *nalu);
        dec.img.number = number;
        dec.slice.partitions[0].bitstream->error_flag = 1;
        h264test::ReadSliceMacroblocks(dec);
        const DecoderMacroblock &mb = (*dec.img.mb_data)[0];
        EXPECT_EQ(mb.mb_type, number == 0 ? kMbIntra16x16 : kMbSkipOrDirect);
        EXPECT_EQ(mb.lost_flag, 1); // one partition carries the type too
        EXPECT_EQ(recorder.Count(), 0u);
    }
}

} // namespace

} // namespace macroblock_robustness_test
