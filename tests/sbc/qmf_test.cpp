// The QMF tree: the line split against its closed form, band lists per split pattern, short lines,
// and split-merge round trips with every filter bank of the tables directory.
#include "modules/sbc/subb.h"
#include "platform/messages.h"
#include "sbc_test_util.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace qmf_test { // one namespace per test file: a folder compiles as one source

using namespace sbctest;

namespace {

struct FiltDel
{
    void operator()(Filt *f) const { FreeFilt(f); }
};
using FiltPtr = std::unique_ptr<Filt, FiltDel>;

FiltPtr Bank(const std::vector<float> &h)
{
    Filt *f;
    const int n = static_cast<int>(h.size());
    AllocFilt1d(&f, n, n, FILT_FIRQMF);
    f->coef1 = h;
    f->coef2 = h;
    return FiltPtr(f);
}

// Mirror an index into 0..n-1 as often as it takes (half-sample symmetric extension).
int Mirror(int i, int n)
{
    while (i < 0 || i >= n) {
        if (i < 0)
            i = -1 - i;
        if (i >= n)
            i = 2 * n - 1 - i;
    }
    return i;
}

// The analysis of one line in closed form, for filters whose length is a multiple of 4:
// low[m] = sum h[k] x[2m + d/2 - k], high[m] = (-1)^m sum (-1)^k h[k] x[2m + d/2 - k].
void ClosedFormSplit(const std::vector<double> &x, const std::vector<float> &h, std::vector<double> &out)
{
    const int n = static_cast<int>(x.size()), d = static_cast<int>(h.size());
    out.assign(n, 0);
    for (int m = 0; m < n / 2; ++m) {
        double lo = 0, hi = 0;
        for (int k = 0; k < d; ++k) {
            const double v = h[k] * x[Mirror(2 * m + d / 2 - k, n)];
            lo += v;
            hi += k % 2 ? -v : v;
        }
        out[m] = lo;
        out[n / 2 + m] = m % 2 ? -hi : hi;
    }
}

Subb *Split(Img *img, const Filt *f, std::vector<int> splits)
{
    Subb *sb = nullptr;
    SbcSplitModHigh(&sb, img, f, static_cast<int>(splits.size()), splits.data(), 0);
    return sb;
}

} // namespace

TEST(QmfTree, BandCountsFollowTheSplitPattern)
{
    FiltPtr f = Bank({0.5f, 0.5f});
    ImgPtr img = TestPicture(64, 64);
    struct Case
    {
        std::vector<int> splits;
        int bands;
    };
    const Case cases[] = {{{1}, 4},         {{1, 1}, 7},      {{1, 4}, 16}, {{1, 4, 4}, 28},
                          {{1, 4, 12}, 52}, {{1, 4, 16}, 64}, {{3, 9}, 16}, {{1, 1, 1, 1, 1, 1}, 19},
                          {{1, 1, 4}, 19},  {{1, 1, 16}, 19}};
    for (const Case &c : cases) {
        Subb *sb = Split(img.get(), f.get(), c.splits);
        ASSERT_NE(sb, nullptr);
        EXPECT_EQ(sb->comp[0].count, c.bands);
        // The bands tile the image exactly.
        long area = 0;
        for (int i = 0; i < sb->comp[0].count; ++i)
            area += static_cast<long>(sb->comp[0].bandRows[i]) * sb->comp[0].bandCols[i];
        EXPECT_EQ(area, 64 * 64);
        FreeSubb(sb);
    }
    // 100 is a multiple of 4, not of 8: only two of three levels are done.
    ImgPtr odd = TestPicture(100, 100);
    Subb *sb = Split(odd.get(), f.get(), {1, 4, 4});
    EXPECT_EQ(sb->comp[0].count, 16);
    EXPECT_EQ(sb->comp[0].levelsDone, 2);
    FreeSubb(sb);
}

TEST(QmfTree, TwoTapBankReconstructsExactly)
{
    FiltPtr f = Bank({0.5f, 0.5f});
    ImgPtr img = TestPicture(64, 32);
    Subb *sb = Split(img.get(), f.get(), {1, 4, 16});
    // Level 0, first row: low = (x0 + x1) / 2 of the mean-free samples.
    const float *x = img->FloatPlane(), m = sb->comp[0].mean;
    Img *out;
    SbcReconModHigh(&out, sb, f.get(), 1);
    ImgPtr rec(out);
    EXPECT_LT(Mse(x, rec->FloatPlane(), 64 * 32), 1e-9);
    (void)m;

    ImgPtr flat = FloatImage(32, 32);
    std::fill(flat->FloatPlane(), flat->FloatPlane() + 1024, 61.0f);
    sb = Split(flat.get(), f.get(), {1, 4});
    for (int i = 0; i < 1024; ++i)
        EXPECT_EQ(sb->FloatPlane()[i], 0.0f);
    SbcReconModHigh(&out, sb, f.get(), 1);
    for (int i = 0; i < 1024; ++i)
        EXPECT_EQ(out->FloatPlane()[i], 61.0f);
    FreeImg(out);
}

TEST(QmfTree, LinesShorterThanTheFilterFoldRepeatedly)
{
    // A 16-tap filter on 8 x 8 and 4 x 4 images: at the deeper levels lines have 2 or 4 samples, far
    // fewer than the filter's half-length of 8; the extension must fold again and again.
    std::vector<float> h(16);
    for (int k = 0; k < 16; ++k)
        h[k] = static_cast<float>(0.1 + 0.05 * k - 0.004 * k * k);
    FiltPtr f = Bank(h);
    for (int size : {4, 8}) {
        ImgPtr img = TestPicture(size, size, 9);
        Subb *sb = Split(img.get(), f.get(), {1});
        ASSERT_EQ(sb->comp[0].count, 4);
        // Reference: the closed form over rows, then columns, of the mean-free image.
        std::vector<std::vector<double>> a(size, std::vector<double>(size));
        for (int r = 0; r < size; ++r)
            for (int c = 0; c < size; ++c)
                a[r][c] = img->FloatPlane()[r * size + c] - sb->comp[0].mean;
        std::vector<double> line(size), out;
        for (int r = 0; r < size; ++r) {
            ClosedFormSplit(a[r], h, out);
            a[r] = out;
        }
        for (int c = 0; c < size; ++c) {
            for (int r = 0; r < size; ++r)
                line[r] = a[r][c];
            ClosedFormSplit(line, h, out);
            for (int r = 0; r < size; ++r)
                a[r][c] = out[r];
        }
        for (int r = 0; r < size; ++r)
            for (int c = 0; c < size; ++c)
                EXPECT_NEAR(sb->FloatPlane()[r * size + c], a[r][c], 1e-2) << size << ": " << r << "," << c;
        FreeSubb(sb);

        // A deep tree on the tiny image splits down to 1 x 1 bands and merges without reading outside.
        sb = Split(img.get(), f.get(), {1, 1, 1});
        Img *rec;
        SbcReconModHigh(&rec, sb, f.get(), 1);
        ASSERT_NE(rec, nullptr);
        for (int i = 0; i < size * size; ++i)
            EXPECT_TRUE(std::isfinite(rec->FloatPlane()[i]));
        FreeImg(rec);
    }
}

TEST(QmfTree, EveryBankOfTheTablesReconstructsAThreeLevelTree)
{
    const std::string dir = ZN_BUILD_DIR "/tables/";
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << "tables not generated in " << dir;
    ImgPtr img = TestPicture(512, 512, 4);
    struct Case
    {
        const char *name;
        double minPsnr;
    };
    const Case cases[] = {{"02", 200}, {"08a", 40}, {"12a", 40}, {"16b", 40}, {"24c", 40}, {"32e", 40}};
    for (const Case &c : cases) {
        Filt *raw = nullptr;
        ReadFilt(&raw, dir, "qmf", c.name);
        ASSERT_NE(raw, nullptr) << c.name;
        FiltPtr f(raw);
        for (const std::vector<int> &splits : {std::vector<int>{1, 1, 1}, std::vector<int>{1, 4, 16}}) {
            Subb *sb = Split(img.get(), f.get(), splits);
            ASSERT_EQ(sb->comp[0].levelsDone, 3);
            Img *out;
            SbcReconModHigh(&out, sb, f.get(), 1);
            ImgPtr rec(out);
            const double psnr = Psnr(img->FloatPlane(), rec->FloatPlane(), 512 * 512);
            if (c.minPsnr > 100)
                EXPECT_LT(Mse(img->FloatPlane(), rec->FloatPlane(), 512 * 512), 1e-8) << c.name;
            else
                EXPECT_GE(psnr, c.minPsnr)
                    << "qmf" << c.name << " splits " << splits.size() << "/" << splits[2];
        }
    }
}

TEST(QmfTree, RefusesUnusableInputWithItsMessage)
{
    FiltPtr f = Bank({0.5f, 0.5f});
    f->type = FILT_FIR;
    ImgPtr img = TestPicture(16, 16);
    zn::MessageRecorder rec;
    Subb *sb = Split(img.get(), f.get(), {1});
    EXPECT_TRUE(rec.Contains("SbcSplitModHigh: Implementation problem. Check source code"));
    ASSERT_NE(sb, nullptr);
    EXPECT_EQ(sb->comp[0].count, 1); // nothing split with a bank of the wrong kind
    FreeSubb(sb);

    // Byte samples are not read as floats: no record, and nothing merged from a byte record.
    rec.Clear();
    Img *bytes;
    AllocImg(&bytes, 16, 16, IMG_REP_BYTE, IMG_SEQ_MONO);
    FiltPtr good = Bank({0.5f, 0.5f});
    sb = reinterpret_cast<Subb *>(1);
    int splits[1] = {1};
    SbcSplitModHigh(&sb, bytes, good.get(), 1, splits, 1);
    EXPECT_EQ(sb, nullptr);
    EXPECT_EQ(rec.Count(), 1u);
    FreeImg(bytes);
    AllocSubb(&sb, 16, 16, IMG_REP_BYTE, IMG_SEQ_MONO);
    sb->decomposed = SUBB_QMF_TREE;
    Img *out = reinterpret_cast<Img *>(1);
    SbcReconModHigh(&out, sb, good.get(), 0);
    EXPECT_EQ(out, nullptr);
    FreeSubb(sb);
}

} // namespace qmf_test
