// The separable transforms of the subband library pinned by checksum: the QMF tree and the block
// DCT, forward and back, on pictures whose sides run across many lines and columns. Any change to the
// order in which lines are walked must leave every bit of the bands and reconstructions as it is.
#include "image/znimage.h"
#include "modules/sbc/disp_subb.h"
#include "modules/sbc/sbc_dct.h"
#include "modules/sbc/subb.h"
#include "sbc_test_util.h"
#include "support/test_support.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace transform_pinned_test { // one namespace per test file: a folder compiles as one source

using namespace sbctest;

namespace {

uint64_t PlaneSum(const float *p, long n)
{
    return zntest::Fnv1a(p, sizeof(float) * static_cast<size_t>(n));
}

struct Pinned
{
    uint64_t bands, rebuilt;
};

TEST(TransformPinned, QmfTreesKeepTheirBits)
{
    const std::string dir = ZN_BUILD_DIR "/tables/";
    struct Case
    {
        const char *bank;
        std::vector<int> splits;
        Pinned pinned;
    };
    const Case cases[] = {
        {"02", {1, 1, 1}, {0x385e2a26ecf38b6aull, 0x6459fc1de7f59f79ull}},
        {"16b", {1, 1, 1}, {0x831dd4e5024f8d09ull, 0x783d739323693da5ull}},
        {"16b", {1, 4, 16}, {0x3b3a59d80dffc229ull, 0x9462a7ec41bd14c2ull}},
        {"32e", {1, 4, 16}, {0x9a3e80908f4f9fc9ull, 0x5fbd190fc114d15eull}},
        {"08a", {1, 2, 3}, {0xebd36089824979b7ull, 0x0b8ec27c253b449bull}},
    };
    const ImgPtr img = TestPicture(256, 384, 7);
    const long n = 256L * 384;
    for (const Case &c : cases) {
        Filt *raw = nullptr;
        ReadFilt(&raw, dir, "qmf", c.bank);
        ASSERT_NE(raw, nullptr) << c.bank;
        std::vector<int> splits = c.splits;
        Subb *sb = nullptr;
        SbcSplitModHigh(&sb, img.get(), raw, static_cast<int>(splits.size()), splits.data(), 0);
        ASSERT_NE(sb, nullptr);
        const uint64_t bands = PlaneSum(sb->FloatPlane(), n);
        Img *rec = nullptr;
        SbcReconModHigh(&rec, sb, raw, 1);
        ASSERT_NE(rec, nullptr);
        const uint64_t rebuilt = PlaneSum(rec->FloatPlane(), n);
        FreeImg(rec);
        FreeFilt(raw);
        EXPECT_EQ(bands, c.pinned.bands) << c.bank << " " << splits.size() << ": " << std::hex << bands;
        EXPECT_EQ(rebuilt, c.pinned.rebuilt) << c.bank << " " << splits.size() << ": " << std::hex << rebuilt;
    }
}

TEST(TransformPinned, BlockDctsKeepTheirBits)
{
    struct Case
    {
        int br, bc;
        Pinned pinned;
    };
    const Case cases[] = {{2, 2, {0xc515ee376a6f8574ull, 0xc31fd378201b5407ull}},
                          {8, 8, {0x42d479387c75e4a3ull, 0x4d6422943e707567ull}},
                          {16, 16, {0x060d8a283d88fa14ull, 0x9c53088a35a68b5full}},
                          {4, 8, {0xb8f45556e76d4478ull, 0x605153c5d89ed676ull}},
                          {16, 2, {0x4cb4d4df3d1e4e14ull, 0xf254a7be9aa2b0c7ull}}};
    const ImgPtr img = TestPicture(256, 384, 9);
    const long n = 256L * 384;
    for (const Case &c : cases) {
        Subb *sb = nullptr;
        SbcSplitDct(&sb, img.get(), c.br, c.bc, 0);
        ASSERT_NE(sb, nullptr);
        const uint64_t bands = PlaneSum(sb->FloatPlane(), n);
        Img *rec = nullptr;
        SbcReconDct(&rec, sb, 1);
        ASSERT_NE(rec, nullptr);
        const uint64_t rebuilt = PlaneSum(rec->FloatPlane(), n);
        FreeImg(rec);
        EXPECT_EQ(bands, c.pinned.bands) << c.br << "x" << c.bc << ": " << std::hex << bands;
        EXPECT_EQ(rebuilt, c.pinned.rebuilt) << c.br << "x" << c.bc << ": " << std::hex << rebuilt;
    }
}

// The display of the bands: each scaled by its peak, framed (factor 0) or interleaved in blocks.
TEST(TransformPinned, BandDisplaysKeepTheirBits)
{
    const std::string dir = ZN_BUILD_DIR "/tables/";
    const ImgPtr img = TestPicture(256, 384, 5);
    Filt *raw = nullptr;
    ReadFilt(&raw, dir, "qmf", "16b");
    ASSERT_NE(raw, nullptr);
    int splits[3] = {1, 4, 16};
    Subb *qmf = nullptr;
    SbcSplitModHigh(&qmf, img.get(), raw, 3, splits, 0);
    FreeFilt(raw);
    Subb *dct = nullptr;
    SbcSplitDct(&dct, img.get(), 8, 8, 0);
    ASSERT_NE(qmf, nullptr);
    ASSERT_NE(dct, nullptr);
    struct Case
    {
        Subb *sb;
        int factor;
        uint64_t pinned;
    };
    const Case cases[] = {
        {qmf, 0, 0x72aa167aadc2030bull}, {dct, 0, 0x6a76d2d1cea56c39ull}, {dct, 8, 0x1bc591d712ac945aull}};
    for (const Case &c : cases) {
        ZnImage shown;
        shown.DispSubb(c.sb, c.factor);
        const uint64_t got = PlaneSum(shown.Data(), 256L * 384);
        EXPECT_EQ(got, c.pinned) << "factor " << c.factor << ": " << std::hex << got;
    }
    FreeSubb(qmf);
    FreeSubb(dct);
}

} // namespace

} // namespace transform_pinned_test
