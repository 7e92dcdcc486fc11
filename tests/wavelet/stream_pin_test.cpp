// Checksums of SPIHT and EZW streams and of their decoded pictures, so that renaming and speeding up
// the coders cannot change a single bit unnoticed. The cases cover padding, every smoothing class,
// low and high rates, odd sizes and several level counts; lower decoding rates pin the embedded
// prefixes as well.
#include "modules/ezw/ezw_coder.h"
#include "modules/spiht/spiht_coder.h"
#include "wavelet/wavelet_test_util.h"

#include <gtest/gtest.h>

namespace stream_pin_test { // one namespace per test file: a folder compiles as one source

using namespace wavelettest;

namespace {

uint64_t Fnv(const void *data, size_t n, uint64_t h = 1469598103934665603ull)
{
    const auto *p = static_cast<const uint8_t *>(data);
    for (size_t k = 0; k < n; ++k)
        h = (h ^ p[k]) * 1099511628211ull;
    return h;
}

uint64_t Fnv(const std::vector<uint8_t> &v)
{
    return Fnv(v.data(), v.size());
}

uint64_t Fnv(const ZnImage &img)
{
    return Fnv(img.Data(), static_cast<size_t>(img.Rows()) * img.Cols() * sizeof(float));
}

enum class Coder { Spiht, Ezw };

struct Pin
{
    Coder coder;
    int w, h;
    float rate;    // encoder rate
    int setting;   // SPIHT: smoothing; EZW: levels
    float decRate; // a lower decoding rate
    uint64_t stream, picture, lowerPicture;
};

std::vector<uint8_t> Encode(const Pin &p, const ZnImage &img)
{
    return p.coder == Coder::Spiht ? SpihtEncode(img, nullptr, p.rate, p.setting).stream
                                   : EzwEncodeBytes(img, nullptr, p.rate, p.setting).stream;
}

void Decode(const Pin &p, const std::vector<uint8_t> &stream, float rate, ZnImage *out)
{
    if (p.coder == Coder::Spiht)
        SpihtDecode(stream, out, nullptr, rate);
    else
        EzwDecodeBytes(stream, out, nullptr, rate);
}

TEST(StreamPin, StreamsAndPictures)
{
    const Pin pins[] = {
        {Coder::Spiht, 256, 256, 1.0f, 0, 0.3f, 0xfea0739518aab111ull, 0x507b5c1a2d25147eull,
         0x5862c77feeb8f4f2ull},
        {Coder::Spiht, 256, 256, 0.1f, 3, 0.05f, 0x6ff056f753ece100ull, 0x9ee4b4690bd991d1ull,
         0x36583e9206c5b23bull},
        {Coder::Spiht, 100, 80, 3.0f, 7, 1.0f, 0x772745cef1ecae2eull, 0x10ab1a2934968167ull,
         0x58091d58df9b322dull},
        {Coder::Spiht, 300, 77, 0.5f, 5, 0.2f, 0x5ff7c7dfa5a67b54ull, 0xec409e018d7fe5c9ull,
         0xe4fbd14d8b1614d5ull},
        {Coder::Spiht, 512, 384, 0.75f, 1, 0.4f, 0x23bc07ac144dab6dull, 0xec5aceacc92ff3eaull,
         0x0d21569cde8d201dull},
        {Coder::Ezw, 256, 128, 1.5f, 1, 0.3f, 0xe58f09a330b353caull, 0xdd40e8bcb292bc7bull,
         0x3c02d846c7d3745eull},
        {Coder::Ezw, 256, 128, 1.5f, 3, 0.5f, 0x7ac6b4a346ddac0aull, 0x85a4da8f689c52a2ull,
         0x6f6aaea21a714230ull},
        {Coder::Ezw, 256, 256, 0.2f, 5, 0.05f, 0x64b4394a326b3b72ull, 0x4065e784aa6762e8ull,
         0xc7b851eacfd9cb48ull},
        {Coder::Ezw, 100, 70, 1.0f, 2, 0.4f, 0x2437d77e452a2fbfull, 0x14dc4ce73731f005ull,
         0xb280f0b2f5fcba4full},
        {Coder::Ezw, 512, 512, 3.0f, 7, 1.0f, 0x814563a24ab19164ull, 0xeb868ecf338d18f9ull,
         0x63f3c27f60abba9cull},
    };
    for (const Pin &p : pins) {
        const char *name = p.coder == Coder::Spiht ? "SPIHT " : "EZW ";
        const auto img = Scene(p.w, p.h);
        const std::vector<uint8_t> stream = Encode(p, *img);
        ZnImage full, lower;
        Decode(p, stream, p.rate, &full);
        Decode(p, stream, p.decRate, &lower);
        EXPECT_EQ(Fnv(stream), p.stream) << name << p.w << "x" << p.h << " " << p.rate;
        EXPECT_EQ(Fnv(full), p.picture) << name << p.w << "x" << p.h << " " << p.rate;
        EXPECT_EQ(Fnv(lower), p.lowerPicture) << name << p.w << "x" << p.h << " " << p.decRate;
    }
}

} // namespace

} // namespace stream_pin_test
