// Codebook design and VQ coding pinned by checksum: the bits of every designed codebook, its log,
// and the pictures coded with it at every rate, over pictures with texture, noise, fractional grey
// levels, flat areas and exactly repeated blocks (where distances tie and cells empty), with both
// starts and several vector shapes. A faster search must keep every bit of these.
#include "image/znimage.h"
#include "modules/vq/vq_coder.h"
#include "modules/vq/vq_design.h"
#include "platform/random.h"
#include "support/photo_image.h"
#include "support/test_support.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace vq_pinned_test { // one namespace per test file: a folder compiles as one source

namespace {

struct Picture
{
    const char *name;
    int cols, rows;
    std::vector<float> levels;
};

Picture Make(const char *name, int cols, int rows, const std::function<float(int x, int y)> &f)
{
    Picture p{name, cols, rows, std::vector<float>(static_cast<size_t>(cols) * rows)};
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            p.levels[static_cast<size_t>(y) * cols + x] = f(x, y);
    return p;
}

// The part of the picture at the top left, rows x cols.
void Crop(const Picture &p, int rows, int cols, ZnImage *out)
{
    out->Alloc(rows, cols);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            out->Data()[static_cast<size_t>(y) * cols + x] = p.levels[static_cast<size_t>(y) * p.cols + x];
}

const std::vector<Picture> &Pictures()
{
    static const std::vector<Picture> pictures = [] {
        std::vector<Picture> v;
        v.push_back(Make("textured", 120, 80, [](int x, int y) {
            return static_cast<float>(
                (30 + x + y / 2 + ((x / 12 + y / 10) % 2) * 70 + (x * 7 + y * 13) % 19) % 256);
        }));
        std::mt19937 rng(3);
        std::vector<float> tile(64);
        for (float &t : tile)
            t = static_cast<float>(rng() & 255);
        // Flat left third, a repeated 8 x 8 random tile, and a two-level checker: equal blocks and
        // equal distances everywhere.
        v.push_back(Make("ties", 120, 80, [&tile](int x, int y) {
            if (x < 40)
                return 77.0f;
            if (x < 80)
                return tile[static_cast<size_t>(y % 8) * 8 + x % 8];
            return ((x / 4 + y / 2) % 2) ? 255.0f : 0.0f;
        }));
        std::mt19937 noise(8);
        v.push_back(Make("noise", 60, 40, [&noise](int, int) { return static_cast<float>(noise() & 255); }));
        // Grey levels with fractions, as a colour picture's luminance has them.
        v.push_back(Make("fractional", 100, 60, [](int x, int y) {
            return 127.5f + 120.0f * std::sin(0.07f * x + 0.011f * y * y) + 0.3008f * (x % 3);
        }));
        return v;
    }();
    return pictures;
}

struct Setting
{
    int w, h, rmin, rmax, init;
    uint32_t seed;
    float threshold;
    int maxIterations;
};

constexpr Setting kSettings[] = {
    {4, 4, 1, 6, kVqInitRandom, 3, 0.01f, 20},   {2, 2, 1, 8, kVqInitConstant, 0, 0.01f, 20},
    {4, 2, 3, 7, kVqInitRandom, 9, 0.001f, 10},  {10, 10, 1, 4, kVqInitConstant, 0, 1.0f, 30},
    {10, 2, 5, 5, kVqInitRandom, 17, 0.1f, 100},
};

struct Pinned
{
    uint64_t codebook, log, coded;
};

Pinned DesignAndCode(const Picture &pic, const Setting &s)
{
    ZnImage train;
    Crop(pic, pic.rows, pic.cols, &train);
    zn::PinRandSeed(s.seed);
    ZnImage codebook;
    std::string lastLog;
    VqCodebookDesign(train.img, &codebook, s.w, s.h, s.rmin, s.rmax, s.init, s.threshold, s.maxIterations,
                     [&lastLog](const std::string &text) { lastLog = text; });
    zn::UnpinRandSeed();
    Pinned p{};
    p.codebook = zntest::Fnv1a(codebook.Data(), sizeof(float) * codebook.Rows() * codebook.Cols());
    p.log = zntest::Fnv1a(lastLog.data(), lastLog.size());
    // The coder on the largest whole-block part of the picture, at every rate of the codebook.
    const int rows = train.Rows() / s.h * s.h, cols = train.Cols() / s.w * s.w;
    ZnImage src, rec;
    Crop(pic, rows, cols, &src);
    rec.Alloc(rows, cols);
    p.coded = zntest::Fnv1a(nullptr, 0);
    for (int r = s.rmin; r <= s.rmax; ++r) {
        EXPECT_GT(VqCodec(src.img, codebook.img, rec.img, r, 0.0f), 0.0f);
        p.coded = zntest::Fnv1a(rec.Data(), sizeof(float) * rows * cols, p.coded);
    }
    return p;
}

// Checksums of the codebook, the last log text and the coded pictures.
constexpr Pinned kPinned[4][5] = {
    {{0xebed22d75ae943bfull, 0x55c04451563fd58aull, 0x18186bcccf276f8eull},
     {0x8d3790f3e924e0f4ull, 0xd76723565f54b576ull, 0x4052cc860c15d651ull},
     {0xe65c6dd0077f1310ull, 0x1e709fe75f90dd3full, 0x612b9684b755b680ull},
     {0x2d405993cc7ea71eull, 0x475b65efc0c6eb7bull, 0x591b3ed8cad7dcd6ull},
     {0x9f978082005dd0a9ull, 0xda208fa6a076d96bull, 0xc89d4cdc3e3cdb4aull}},
    {{0x64e10f6d0415ef58ull, 0xecf788031e78ae44ull, 0xe136bc52fac50f01ull},
     {0xd36bdb6938bea1deull, 0x34faf9122cf906beull, 0x6c294b3d929719b9ull},
     {0x7c1c920644f0b63aull, 0x2fae4c5a94eac510ull, 0xb9ce2a1e55d8b2f5ull},
     {0x8ee0fddbf78f2c73ull, 0x3b21ef57e3dfe3abull, 0x669ac32d2cd7e9a5ull},
     {0x515eaf838b91d910ull, 0x79d4a8dedd5f78fcull, 0x8237eea113fa2065ull}},
    {{0xb23317c4419b41ddull, 0x50f09433d38a7c92ull, 0x900768c2746c181full},
     {0x9a3650f0f66c7e31ull, 0x1595bd82be94ed0cull, 0x41796d50b4b94b49ull},
     {0x65e475926ef8e0c0ull, 0xd38587343ff31db8ull, 0x06145a0440d39bbaull},
     {0x4eb8a75a1187e85dull, 0x1f1868e337046bfeull, 0x484ff6c2caf18d46ull},
     {0x08c85d7ec8532814ull, 0x26d67260c42613d2ull, 0x8192b3ed54983288ull}},
    {{0x99de31db8ace731bull, 0xaa46cc1958d942fbull, 0x97f9b72755c92f28ull},
     {0x0977aa959dd16e6eull, 0xb62a57acaf6e6abcull, 0x95997bc4cf5b6ff1ull},
     {0x006affee63c42454ull, 0x98571f77fd14d418ull, 0x0d8761f95c935001ull},
     {0x0b39ce6fe597e17full, 0xc9d7907245f1bcb4ull, 0x6bc8013beb62f294ull},
     {0x4116e77d9b48f4bdull, 0x63e86d697e0a6821ull, 0xfaed332d77aa0ef8ull}},
};

void ExpectPinned(const Pinned &got, const Pinned &want)
{
    EXPECT_EQ(got.codebook, want.codebook) << std::hex << got.codebook;
    EXPECT_EQ(got.log, want.log) << std::hex << got.log;
    EXPECT_EQ(got.coded, want.coded) << std::hex << got.coded;
}

TEST(VqPinned, CodebooksLogsAndCodedPicturesKeepTheirChecksums)
{
    const std::vector<Picture> &pictures = Pictures();
    for (size_t i = 0; i < pictures.size(); ++i)
        for (size_t k = 0; k < std::size(kSettings); ++k) {
            const Setting &s = kSettings[k];
            SCOPED_TRACE(testing::Message() << pictures[i].name << " " << s.w << "x" << s.h << " rates "
                                            << s.rmin << ".." << s.rmax << " start " << s.init);
            ExpectPinned(DesignAndCode(pictures[i], s), kPinned[i][k]);
        }
}

TEST(VqPinned, PhotographKeepsItsChecksums)
{
    ZN_REQUIRE_PHOTO("camera");
    ZnImage z;
    ASSERT_TRUE(zntest::LoadPhotoImage("camera", &z));
    const Picture photo{"camera", z.Cols(), z.Rows(),
                        std::vector<float>(z.Data(), z.Data() + z.Rows() * z.Cols())};
    ExpectPinned(DesignAndCode(photo, {4, 4, 1, 8, kVqInitRandom, 5, 0.01f, 20}),
                 {0x0956a9343c54d98aull, 0x23eec5b19a64e83dull, 0xd500da756c5f48eaull});
}

} // namespace

} // namespace vq_pinned_test
