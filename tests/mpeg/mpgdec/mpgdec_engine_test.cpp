// Decoder stages on their own: the code tables, the inverse transform against double precision, the
// end of a stream, the options that change what is shown, and damaged or foreign input.
#include "mpeg/mpgdec/decode_stream.h"
#include "mpeg/mpgdec/field_stream.h"
#include "mpeg/mpgdec/mpeg1_block_stream.h"
#include "mpeg/mpgdec/mpeg_decoder.h"
#include "mpeg/mpgdec/mpgdec_vlc.h"
#include "mpeg/mpgdec/stream_bits.h"
#include "platform/messages.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace mpgdec_engine_test { // one namespace per test file: a folder compiles as one source

namespace {

// The tables' code lengths checked by their Kraft sums: complete codes sum to 1, and each gap is
// exactly the codes the standards leave unused.
TEST(MpegVlc, CodeLengthsLeaveOnlyTheUnusedCodes)
{
    using namespace zn::mpgvlc;
    const double b = 1.0 / 2048.0;
    // Unused: 0000 0000 xxx, 0000 0010 xxx and 0000 0001 001 to 0000 0001 110.
    EXPECT_DOUBLE_EQ(KraftSum(AddressIncrement()), 1.0 - 8 * b - 8 * b - 6 * b);
    EXPECT_DOUBLE_EQ(KraftSum(MacroblockType(1)), 0.75);
    EXPECT_DOUBLE_EQ(KraftSum(MacroblockType(2)), 1.0 - 1.0 / 64.0);
    EXPECT_DOUBLE_EQ(KraftSum(MacroblockType(3)), 1.0 - 1.0 / 64.0);
    EXPECT_DOUBLE_EQ(KraftSum(CodedBlockPattern()), 1.0 - 1.0 / 512.0);
    EXPECT_DOUBLE_EQ(KraftSum(MotionCode()), 1.0 - 3.0 / 256.0); // 0000 001, 0000 0001, 0000 0000
    EXPECT_DOUBLE_EQ(KraftSum(DcSize(false)), 1.0);
    EXPECT_DOUBLE_EQ(KraftSum(DcSize(true)), 1.0);
    // Coefficient codes (signs excluded): only twelve leading zeros are unused; table one leaves
    // six twelve-bit codes free, moved to shorter codes.
    EXPECT_DOUBLE_EQ(KraftSum(Coefficients(false, false)), 1.0 - 1.0 / 4096.0);
    EXPECT_DOUBLE_EQ(KraftSum(Coefficients(true, false)), 1.0 - 1.0 / 4096.0);
    EXPECT_DOUBLE_EQ(KraftSum(Coefficients(false, true)), 1.0 - 7.0 / 4096.0);
}

// The forward transform of IEEE 1180: pixel blocks in [-l, h], transformed in double precision and
// rounded; the inverse must come back within 1 of the double-precision inverse everywhere.
TEST(MpegIdct, RandomBlocksStayWithinOneOfDoublePrecision)
{
    std::mt19937 rng(1180);
    const double pi = std::acos(-1.0);
    auto c = [&](int u) { return u == 0 ? std::sqrt(0.125) : 0.5; };
    struct Range
    {
        int low, high;
    };
    for (Range r : {Range{256, 255}, Range{5, 5}, Range{300, 300}}) {
        std::uniform_int_distribution<int> pix(-r.low, r.high);
        int peak = 0;
        for (int trial = 0; trial < 2000; ++trial) {
            double x[64], coef[64];
            for (double &v : x)
                v = pix(rng);
            short blk[64];
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) {
                    double s = 0;
                    for (int i = 0; i < 8; ++i)
                        for (int j = 0; j < 8; ++j)
                            s += x[i * 8 + j] * std::cos((2 * j + 1) * u * pi / 16) *
                                 std::cos((2 * i + 1) * v * pi / 16);
                    s *= c(u) * c(v);
                    coef[v * 8 + u] = std::clamp(std::round(s), -2048.0, 2047.0);
                    blk[v * 8 + u] = static_cast<short>(coef[v * 8 + u]);
                }
            zn::CMpegDecoder::InverseDct(blk);
            for (int i = 0; i < 8; ++i)
                for (int j = 0; j < 8; ++j) {
                    double s = 0;
                    for (int v = 0; v < 8; ++v)
                        for (int u = 0; u < 8; ++u)
                            s += c(u) * c(v) * coef[v * 8 + u] * std::cos((2 * j + 1) * u * pi / 16) *
                                 std::cos((2 * i + 1) * v * pi / 16);
                    int ref = static_cast<int>(std::clamp(std::round(s), -256.0, 255.0));
                    peak = std::max(peak, std::abs(ref - blk[i * 8 + j]));
                }
        }
        EXPECT_LE(peak, 1) << "range -" << r.low << ".." << r.high;
    }
}

std::string Encode(const zntest::ScratchDir &dir, const std::string &name, const std::string &args,
                   int frames = 10)
{
    std::string path = dir.File(name);
    std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v " +
                      std::to_string(frames) + " " + args + " " + zntest::ShellQuote(path);
    return zntest::Run(cmd) == 0 ? path : "";
}

std::vector<std::string> Types(const zntest::DecodedStream &s)
{
    std::vector<std::string> t;
    for (const auto &f : s.frames)
        t.push_back(f.type);
    return t;
}

TEST(MpegDecoder, ReferenceFramesFollowOneReferenceLateAndTheLastIsLabelled)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    // Coded I P B B P B B: shown I B B P B B P(last).
    std::string path = Encode(dir, "ipbb.m2v", "-c:v mpeg2video -bf 2 -g 30 -q:v 5", 7);
    ASSERT_FALSE(path.empty());
    auto s = zntest::DecodeMpegFile(path);
    EXPECT_EQ(Types(s), (std::vector<std::string>{"I", "B", "B", "P", "B", "B", "P (last)"}));
    std::string intra = Encode(dir, "iii.m1v", "-c:v mpeg1video -g 1 -q:v 5", 3);
    EXPECT_EQ(Types(zntest::DecodeMpegFile(intra)), (std::vector<std::string>{"I", "I", "I (last)"}));
}

TEST(MpegDecoder, StreamWithoutEndCodeDecodesTheSameFrames)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    std::string path = Encode(dir, "a.m2v", "-c:v mpeg2video -bf 2 -q:v 5");
    ASSERT_FALSE(path.empty());
    auto bytes = zntest::ReadFileBytes(path);
    std::vector<uint8_t> base(bytes.begin(), bytes.end());
    if (base.size() >= 4 && base[base.size() - 1] == 0xB7 && base[base.size() - 2] == 0x01)
        base.resize(base.size() - 4);
    auto reference = zntest::DecodeMpegBytes(base);
    ASSERT_EQ(reference.frames.size(), 10u);
    // The end code, and lengths that are not a multiple of four (zero bytes are stuffing).
    std::vector<std::vector<uint8_t>> tails = {
        {0x00, 0x00, 0x01, 0xB7}, {0x00}, {0x00, 0x00}, {0x00, 0x00, 0x00}};
    for (const auto &tail : tails) {
        auto data = base;
        data.insert(data.end(), tail.begin(), tail.end());
        auto s = zntest::DecodeMpegBytes(data);
        ASSERT_EQ(s.frames.size(), reference.frames.size()) << tail.size();
        for (size_t k = 0; k < s.frames.size(); ++k)
            EXPECT_EQ(s.frames[k].y, reference.frames[k].y) << "tail " << tail.size() << " frame " << k;
    }
}

TEST(MpegDecoder, NoBFramesShowsTheReferenceFramesUnchanged)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    std::string path = Encode(dir, "b.m2v", "-c:v mpeg2video -bf 2 -q:v 5", 12);
    ASSERT_FALSE(path.empty());
    auto full = zntest::DecodeMpegFile(path);
    zntest::DecodeOptions opt;
    opt.skipB = true;
    auto noB = zntest::DecodeMpegFile(path, opt);
    std::vector<const zntest::DecodedFrame *> refs;
    for (const auto &f : full.frames)
        if (f.type[0] != 'B')
            refs.push_back(&f);
    ASSERT_EQ(noB.frames.size(), refs.size());
    for (size_t k = 0; k < refs.size(); ++k) {
        EXPECT_EQ(noB.frames[k].type, refs[k]->type);
        EXPECT_EQ(noB.frames[k].y, refs[k]->y) << k;
    }
}

TEST(MpegDecoder, OutputModesOnIntraPicturesShowTheDecodedPicture)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    std::string path = Encode(dir, "i.m2v", "-c:v mpeg2video -g 1 -q:v 5", 3);
    ASSERT_FALSE(path.empty());
    auto decoded = zntest::DecodeMpegFile(path);
    for (int mode : {1, 2}) {
        zntest::DecodeOptions opt;
        opt.outputMode = mode;
        auto s = zntest::DecodeMpegFile(path, opt);
        ASSERT_EQ(s.frames.size(), decoded.frames.size());
        for (size_t k = 0; k < s.frames.size(); ++k)
            EXPECT_EQ(s.frames[k].y, decoded.frames[k].y) << "mode " << mode;
    }
    // In mode 2 the P and B pictures show their coded difference around grey: mostly near 128.
    std::string pb = Encode(dir, "pb.m2v", "-c:v mpeg2video -bf 2 -q:v 5", 7);
    zntest::DecodeOptions opt;
    opt.outputMode = 2;
    auto s = zntest::DecodeMpegFile(pb, opt);
    ASSERT_FALSE(s.frames.empty());
    const auto &b = s.frames[1];
    ASSERT_EQ(b.type, "B");
    size_t nearGrey = 0;
    for (uint8_t v : b.y)
        nearGrey += std::abs(v - 128) <= 8;
    EXPECT_GT(nearGrey, b.y.size() / 2);
}

// Packet headers the system layer does not read end the run with one message: an MPEG-2 program
// stream (its pack header), and an MPEG-1 video packet whose first header byte after stuffing is 0x81.
TEST(MpegDecoder, PacketHeadersItCannotReadEndTheRunWithTheirMessage)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    const std::string vob = Encode(dir, "p.vob", "-c:v mpeg2video -q:v 5 -f vob", 3);
    const std::string mpg = Encode(dir, "s.mpg", "-c:v mpeg1video -q:v 5 -f mpeg", 3);
    ASSERT_FALSE(vob.empty());
    ASSERT_FALSE(mpg.empty());
    std::vector<unsigned char> system = zntest::ReadFileBytes(mpg);
    ASSERT_FALSE(zntest::DecodeMpegBytes({system.begin(), system.end()}).frames.empty());
    size_t at = 0;
    while (at + 6 < system.size() &&
           !(system[at] == 0 && system[at + 1] == 0 && system[at + 2] == 1 && system[at + 3] == 0xE0))
        ++at;
    at += 6; // start code and packet length
    while (at < system.size() && system[at] == 0xFF)
        ++at;
    ASSERT_LT(at, system.size());
    system[at] = 0x81;
    const std::vector<unsigned char> program = zntest::ReadFileBytes(vob);
    for (const auto &bytes : {program, system}) {
        zn::MessageRecorder rec;
        const auto s = zntest::DecodeMpegBytes({bytes.begin(), bytes.end()});
        EXPECT_FALSE(s.error.empty());
        EXPECT_TRUE(s.frames.empty());
        EXPECT_EQ(rec.Texts(), std::vector<std::string>{"Mpgdec_NextPacket: Fatal - Error in packet header"});
    }
}

// An MPEG-1 coefficient is level x quantiser x matrix entry / 8, up to 255 x 31 x 255 / 8: far past
// the 12 bits the inverse transform is built for. Held to -2048..2047 first, the block is the
// transform of the held coefficient (a closed formula); the unheld value would give another picture
// (ffmpeg, which does not hold them, shows wrapped samples there). Within 12 bits ffmpeg agrees.
TEST(MpegDecoder, Mpeg1CoefficientsBeyondTwelveBitsAreHeldBeforeTheTransform)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    const double pi = std::acos(-1.0);
    struct Case
    {
        int q, run, level;
        bool horizontal; // run 0: natural position 1 (horizontal); run 1: position 8 (vertical)
        int coefficient; // (level q 16 / 8 - 1) | 1, with its sign, held
        int unheld;
    };
    for (const Case &c : {Case{8, 0, 20, true, 319, 319}, Case{31, 0, 20, true, 1239, 1239},
                          Case{31, 0, 50, true, 2047, 3099}, Case{31, 1, -50, false, -2048, -3099},
                          Case{31, 0, 255, true, 2047, 15809}, Case{31, 1, -200, false, -2048, -12399}}) {
        SCOPED_TRACE(std::to_string(c.level) + " after run " + std::to_string(c.run));
        zn::MessageRecorder rec;
        const std::vector<uint8_t> stream = zntest::Mpeg1IntraBlockStream(c.q, {{c.run, c.level}});
        const auto s = zntest::DecodeMpegBytes(stream);
        ASSERT_EQ(s.frames.size(), 1u);
        const std::vector<uint8_t> &y = s.frames[0].y;
        ASSERT_EQ(y.size(), 256u);
        int worstHeld = 0, worstUnheld = 0;
        for (int row = 0; row < 8; ++row)
            for (int col = 0; col < 8; ++col) {
                // One coefficient of frequency 1: F / (4 sqrt 2) x cos((2t + 1) pi / 16) around grey.
                const double wave =
                    std::cos((2 * (c.horizontal ? col : row) + 1) * pi / 16) / (4 * std::sqrt(2.0));
                auto sample = [&](int f) {
                    return static_cast<int>(std::clamp(std::round(128 + f * wave), 0.0, 255.0));
                };
                const int got = y[static_cast<size_t>(16 * row + col)];
                worstHeld = std::max(worstHeld, std::abs(got - sample(c.coefficient)));
                worstUnheld = std::max(worstUnheld, std::abs(got - sample(c.unheld)));
            }
        EXPECT_LE(worstHeld, 1);
        if (c.unheld != c.coefficient) {
            EXPECT_GT(worstUnheld, 8);
        } else {
            ASSERT_TRUE(zntest::WriteFileBytes(dir.File("c.m1v"), {stream.begin(), stream.end()}));
            const auto ff = zntest::FfmpegFrames(dir.File("c.m1v"), "yuv420p", 16, 16);
            ASSERT_EQ(ff.size(), 1u);
            EXPECT_LE(zntest::MaxAbsDiff(ff[0], y, y.size()), 1);
        }
        // The other blocks stay grey.
        for (int row = 8; row < 16; ++row)
            EXPECT_EQ(y[static_cast<size_t>(16 * row + 12)], 128);
        EXPECT_EQ(rec.Count(), 0u);
    }
}

// With matrix entries of 1 and quantiser 1 an MPEG-1 product rounds to 0, and making it odd gives -1
// before the sign: a block of 63 such coefficients is not flat, and ffmpeg reads it the same way.
TEST(MpegDecoder, Mpeg1ProductsThatRoundToZeroComeOutOdd)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    std::vector<zntest::RunLevel> coefficients;
    for (int k = 0; k < 63; ++k)
        coefficients.push_back({0, k % 5 == 2 ? -1 : 1});
    const std::vector<uint8_t> stream =
        zntest::Mpeg1IntraBlockStream(1, coefficients, std::vector<uint8_t>(64, 1));
    const auto s = zntest::DecodeMpegBytes(stream);
    ASSERT_EQ(s.frames.size(), 1u);
    const std::vector<uint8_t> &y = s.frames[0].y;
    int farthest = 0;
    for (uint8_t v : y)
        farthest = std::max(farthest, std::abs(v - 128));
    EXPECT_GE(farthest, 3);
    ASSERT_TRUE(zntest::WriteFileBytes(dir.File("z.m1v"), {stream.begin(), stream.end()}));
    const auto ff = zntest::FfmpegFrames(dir.File("z.m1v"), "yuv420p", 16, 16);
    ASSERT_EQ(ff.size(), 1u);
    EXPECT_LE(zntest::MaxAbsDiff(ff[0], y, y.size()), 1);
}

// A sequence scalable extension of spatial scalability: told for each component and once more, then
// the pictures decode as the layer alone (nothing here predicts from the lower layer).
TEST(MpegDecoder, SpatialScalabilityIsToldFourTimesAndTheLayerDecodesAlone)
{
    const auto level = [](int f, int field, int c, int x, int y) {
        return 30 + 9 * f + 40 * field + x + 2 * y + 5 * c;
    };
    const std::vector<uint8_t> plain = zntest::FieldCodedStream(64, 64, 2, level);
    // The extension goes right after the sequence extension (the first start code after the header).
    zntest::StreamBits ext;
    ext.StartCode(0xB5);
    ext.Put(5, 4);   // sequence scalable extension
    ext.Put(1, 2);   // spatial scalability
    ext.Put(1, 4);   // layer 1
    ext.Put(32, 14); // lower layer 32 x 32, subsampled by 2 both ways
    ext.Put(1, 1);
    ext.Put(32, 14);
    ext.Put((1 << 15) | (2 << 10) | (1 << 5) | 2, 20);
    ext.Align();
    auto nextStart = [&](size_t from) {
        while (from + 3 < plain.size() && !(plain[from] == 0 && plain[from + 1] == 0 && plain[from + 2] == 1))
            ++from;
        return from;
    };
    const size_t sequenceExtension = nextStart(4);
    ASSERT_EQ(plain[sequenceExtension + 3], 0xB5);
    const size_t at = nextStart(sequenceExtension + 4);
    std::vector<uint8_t> scalable(plain.begin(), plain.begin() + static_cast<ptrdiff_t>(at));
    scalable.insert(scalable.end(), ext.Bytes().begin(), ext.Bytes().end());
    scalable.insert(scalable.end(), plain.begin() + static_cast<ptrdiff_t>(at), plain.end());

    zn::MessageRecorder rec;
    const auto alone = zntest::DecodeMpegBytes(plain);
    EXPECT_EQ(rec.Count(), 0u);
    const auto s = zntest::DecodeMpegBytes(scalable);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>(4, "Scalability SC_SPAT no longer supported"));
    EXPECT_EQ(s.error, "");
    ASSERT_EQ(s.frames.size(), 2u);
    ASSERT_EQ(alone.frames.size(), 2u);
    for (size_t f = 0; f < 2; ++f) {
        EXPECT_EQ(s.frames[f].y, alone.frames[f].y);
        EXPECT_EQ(s.frames[f].cb, alone.frames[f].cb);
    }
}

TEST(MpegDecoder, EmptyAndForeignInputHoldsNoPicture)
{
    zn::MessageRecorder rec;
    EXPECT_FALSE(zntest::DecodeMpegBytes({}).opened);
    EXPECT_FALSE(zntest::DecodeMpegBytes({0x00, 0x00, 0x01, 0xB7}).opened);
    std::vector<uint8_t> text(5000, 'a');
    EXPECT_FALSE(zntest::DecodeMpegBytes(text).opened);
    // A sequence header of size 0 ends the run with a message.
    std::vector<uint8_t> zero = {0,    0,    1, 0xB3, 0, 0, 0, 0x13, 0xFF, 0xFF,
                                 0xE0, 0x18, 0, 0,    1, 0, 0, 0x0F, 0xFF, 0xF8};
    auto s = zntest::DecodeMpegBytes(zero);
    EXPECT_TRUE(s.opened);
    EXPECT_FALSE(s.error.empty());
}

// Damaged streams end without a crash, a hang or an error escaping the run.
TEST(MpegDecoder, TruncatedAndBitFlippedStreamsDecodeSafely)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    zntest::ScratchDir dir;
    std::vector<std::string> streams = {
        Encode(dir, "t1.m2v", "-c:v mpeg2video -flags +ilme+ildct -bf 2 -q:v 6", 6),
        Encode(dir, "t2.mpg", "-c:v mpeg1video -bf 2 -q:v 6 -f mpeg", 6),
        Encode(dir, "t3.m2v", "-c:v mpeg2video -pix_fmt yuv422p -intra_vlc 1 -alternate_scan 1 -bf 1 -q:v 6",
               6),
    };
    zn::MessageRecorder rec;
    std::mt19937 rng(7);
    zntest::DecodeOptions opt;
    opt.keepPixels = false;
    opt.overlay = true;
    for (const std::string &path : streams) {
        ASSERT_FALSE(path.empty());
        auto bytes = zntest::ReadFileBytes(path);
        std::vector<uint8_t> data(bytes.begin(), bytes.end());
        for (size_t cut = 1; cut < data.size(); cut += 1 + data.size() / 97) {
            auto s = zntest::DecodeMpegBytes(
                std::vector<uint8_t>(data.begin(), data.begin() + static_cast<ptrdiff_t>(cut)), opt);
            (void)s;
        }
        for (int trial = 0; trial < 60; ++trial) {
            auto damaged = data;
            int flips = 1 + trial % 20;
            for (int f = 0; f < flips; ++f) {
                size_t pos = std::uniform_int_distribution<size_t>(0, damaged.size() - 1)(rng);
                damaged[pos] ^= static_cast<uint8_t>(1u << std::uniform_int_distribution<int>(0, 7)(rng));
            }
            auto s = zntest::DecodeMpegBytes(damaged, opt);
            (void)s;
        }
    }
    SUCCEED();
}

} // namespace

} // namespace mpgdec_engine_test
