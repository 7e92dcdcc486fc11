// Pins of the codec's own output: the bytes the encoder writes, its reconstructions and reports, and
// the pictures the decoder makes of them, as checksums, over a matrix of set-ups (both standards,
// frame and field pictures, progressive and interlaced sources, every GOP shape the dialog offers,
// the search widths and the rates), a system stream with every packet header form, damaged streams,
// and streams of ffmpeg's encoders with the coding tools ours does not use. The oracle tests hold the
// pictures against ffmpeg within a tolerance; these catch any change at all, which is what a faster
// kernel must never make. A change of a checksum must be one made on purpose (a different bit in a
// slice, a mended picture): say so where the table changes. A failure prints the value to re-pin.
#include "mpeg/mpgdec/decode_stream.h"
#include "mpeg/mpgdec/field_stream.h"
#include "mpeg/mpgenc/encoder_support.h"
#include "platform/format.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>

namespace mpeg_output_pins_test { // one namespace per test file: a folder compiles as one source

using namespace zntest;

namespace {

constexpr int kFrames = 7;

// FNV-1a, 64 bits.
class Checksum
{
public:
    void Add(const uint8_t *p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            m_h = (m_h ^ p[i]) * 0x100000001b3ULL;
    }
    void Add(const std::vector<uint8_t> &v) { Add(v.data(), v.size()); }
    void Add(const std::string &s) { Add(reinterpret_cast<const uint8_t *>(s.data()), s.size() + 1); }
    void Add(int v) { Add(std::to_string(v)); }
    void Add(uint64_t v) { Add(std::to_string(v)); }
    uint64_t Value() const { return m_h; }

private:
    uint64_t m_h = 0xcbf29ce484222325ULL;
};

// A scene of smooth shading and sharp-edged squares moving 2 samples right and 2 down per frame, but
// for its lower right part: flat macroblocks that stand still, which intra coding rebuilds exactly and
// later pictures skip. An interlaced source samples the bottom field half a frame later, so each field
// moves on its own and dual prime finds its use.
Frame420 MovingScene(int t, bool interlaced, int width, int height)
{
    Frame420 f(static_cast<size_t>(width) * height * 3 / 2);
    uint8_t *cb = f.data() + width * height, *cr = cb + width * height / 4;
    auto scene = [](int u, int v) {
        const int shade = (u * u + 2 * v * v + 3 * u * v) / 24 % 120;
        return 40 + shade + ((u / 12 + v / 12) % 2) * 70;
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int at = 2 * t + (interlaced && (y & 1) ? 1 : 0);
            const bool still = x >= width / 2 && y >= height / 2;
            const size_t c = static_cast<size_t>(y / 2) * (width / 2) + x / 2;
            if (still) {
                f[static_cast<size_t>(y) * width + x] =
                    static_cast<uint8_t>(40 + (x / 16 * 37 + y / 16 * 53) % 150);
                cb[c] = 100;
                cr[c] = 150;
            } else {
                f[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(scene(x + at, y + at));
                cb[c] = static_cast<uint8_t>(96 + (x + at + 3 * y) / 2 % 64);
                cr[c] = static_cast<uint8_t>(160 - (2 * x + y + at) / 2 % 48);
            }
        }
    return f;
}

uint64_t DecodedChecksum(const DecodedStream &s)
{
    Checksum c;
    c.Add(s.opened ? 1 : 0);
    c.Add(s.error);
    for (const DecodedFrame &f : s.frames) {
        c.Add(f.type);
        c.Add(f.number);
        c.Add(f.y);
        c.Add(f.cb);
        c.Add(f.cr);
    }
    return c.Value();
}

// The decoded pictures in every output mode and without B frames, and the messages shown; with the
// plain forms of the decoder's kernels, or the fast ones that every run uses.
uint64_t DecodeAllWays(const std::vector<uint8_t> &bytes, bool plainKernels = false)
{
    zn::MessageRecorder rec;
    Checksum c;
    for (int mode = 0; mode < 4; ++mode) {
        DecodeOptions o;
        o.outputMode = mode % 3;
        o.overlay = mode == 0;
        o.skipB = mode == 3;
        o.plainKernels = plainKernels;
        c.Add(DecodedChecksum(DecodeMpegBytes(bytes, o)));
    }
    for (const std::string &t : rec.Texts())
        c.Add(t);
    return c.Value();
}

// An MPEG-1 system stream around a video elementary stream: a pack header before every packet, a
// system header, audio and padding packets between the video packets, and the video packet headers
// in every form the system layer allows (stuffing, buffer size, time stamps), ending in the end code.
std::vector<uint8_t> SystemStream(const std::vector<uint8_t> &video)
{
    std::vector<uint8_t> out;
    auto code = [&](uint8_t c) { out.insert(out.end(), {0x00, 0x00, 0x01, c}); };
    auto packet = [&](uint8_t id, const std::vector<uint8_t> &header, const uint8_t *payload, size_t n) {
        code(id);
        const size_t length = header.size() + n;
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.push_back(static_cast<uint8_t>(length));
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), payload, payload + n);
    };
    const std::vector<uint8_t> headers[] = {
        {0x0F},
        {0xFF, 0xFF, 0x0F},
        {0x40, 0x20, 0x0F},
        {0x21, 0x00, 0x01, 0x00, 0x01},
        {0xFF, 0x60, 0x2E, 0x21, 0x00, 0x01, 0x00, 0x01},
        {0x31, 0x00, 0x01, 0x00, 0x01, 0x11, 0x00, 0x01, 0x00, 0x01},
        {0x40, 0x20, 0x31, 0x00, 0x01, 0x00, 0x01, 0x11, 0x00, 0x01, 0x00, 0x01},
    };
    const std::vector<uint8_t> filler(37, 0xFF);
    size_t at = 0;
    for (int k = 0; at < video.size(); ++k) {
        code(0xBA);
        out.insert(out.end(), {0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91});
        if (k == 0)
            packet(0xBB, {0x80, 0x1B, 0x91, 0x04, 0xE1, 0xFF}, nullptr, 0);
        if (k % 3 == 1)
            packet(0xC0, {0x0F}, filler.data(), filler.size());
        if (k % 4 == 2)
            packet(0xBE, {}, filler.data(), 11);
        const size_t n = std::min(video.size() - at, static_cast<size_t>(211 + 97 * (k % 5)));
        packet(0xE0, headers[k % 7], video.data() + at, n);
        at += n;
    }
    code(0xB9);
    return out;
}

// Every 151st byte past the sequence header with one bit flipped: faults in slices, macroblock
// modes, vectors and coefficients, each resynchronised at the next slice.
std::vector<uint8_t> Damaged(std::vector<uint8_t> bytes)
{
    for (size_t i = 200, bit = 0; i < bytes.size(); i += 151, ++bit)
        bytes[i] ^= static_cast<uint8_t>(1u << (bit % 8));
    return bytes;
}

struct Pin
{
    const char *name;
    int mpeg1, M, progressive, fieldPictures, topFieldFirst;
    uint64_t stream;  // the encoder's bytes
    uint64_t decoded; // our decoder's pictures of them, every way
    uint64_t damaged; // the stream with flipped bits
    // The rest of the matrix; the first six set-ups keep the values they were pinned with.
    int N = 6, maxMotion = 15;
    float rate = 1000000.f;
    int width = 96, height = 64;
    int frameDct = 0;   // bits 0, 1, 2: frame prediction and frame DCT only in I, P, B pictures
    uint64_t recon = 0; // the encoder's reconstructions and per-picture reports (0: not pinned)
};

std::string Hex(uint64_t v)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%016" PRIx64 "ULL", v);
    return b;
}

// Columns: name, MPEG-1, M, progressive source, field pictures, top field first; then the checksums
// of the stream, of its decoded pictures and of the damaged stream's; then N, largest motion per
// picture distance, rate, size, frame-only prediction per picture type (bits I, P, B), and the
// checksum of the reconstructions and reports.
// clang-format off
const Pin kPins[] = {
    {"mpeg1",                   1, 3, 1, 0, 1,
     0x7327cd78dc09b65eULL, 0x94ed01e8a1eacb62ULL, 0xf662b00ea7e6bf65ULL, 6, 15, 1000000.f, 96, 64, 0,
     0x7a0a1c793f564ddbULL},
    {"mpeg2-progressive",       0, 3, 1, 0, 1,
     0x9bb294e136c56181ULL, 0xf4904157c8bfb0a6ULL, 0x4c236b7b08aaf91cULL, 6, 15, 1000000.f, 96, 64, 0,
     0x87f02874b85a94e0ULL},
    {"mpeg2-interlaced",        0, 3, 0, 0, 1,
     0x652c80426c67831dULL, 0xf0909fa08f557110ULL, 0x2834298fd51da70aULL, 6, 15, 1000000.f, 96, 64, 0,
     0x0ef7428fcb912a23ULL},
    {"mpeg2-dual-prime",        0, 1, 0, 0, 1,
     0x994037c8da6dd696ULL, 0x6a6815e3c08395a1ULL, 0x8f3e4723bb71e5dbULL, 6, 15, 1000000.f, 96, 64, 0,
     0x1aa470142fbdf703ULL},
    {"mpeg2-fields",            0, 3, 0, 1, 1,
     0xba0b91a0f7af863dULL, 0xff94a43e631e9e25ULL, 0x2329bca6ddfc37a2ULL, 6, 15, 1000000.f, 96, 64, 0,
     0xa467bf530cc08e8cULL},
    {"mpeg2-fields-bottom",     0, 1, 0, 1, 0,
     0xbb06203e1dd56736ULL, 0x281a769a0d1bc77cULL, 0x842fc690fff02317ULL, 6, 15, 1000000.f, 96, 64, 0,
     0xeebf27750c4f1e88ULL},
    {"mpeg1-intra-only",        1, 1, 1, 0, 0,
     0x3c0e6f4b839d9373ULL, 0x722657130094dcfdULL, 0x1914853f03a55d25ULL, 1, 15, 1150000.f, 96, 64, 0,
     0x21a9a49523048dcaULL},
    {"mpeg1-128k-motion31",     1, 3, 1, 0, 0,
     0x45e50e67b908e640ULL, 0xd2759101b4522752ULL, 0xa38af4a5820d0846ULL, 12, 31, 128000.f, 176, 144, 0,
     0x9bfffc14f4b8bbd0ULL},
    {"mpeg2-8M-motion1",        0, 3, 1, 0, 0,
     0xb9bc8f04affc8a04ULL, 0xd33c3ad1ce03cd50ULL, 0x6e1d8ba59755f063ULL, 12, 1, 8000000.f, 176, 144, 0,
     0x71537af5198b76a5ULL},
    {"mpeg2-ipp-motion5",       0, 1, 1, 0, 0,
     0x1c893c7a2f2bbd85ULL, 0x6180d7cedeb58760ULL, 0xd111874df5eeaadcULL, 12, 5, 384000.f, 176, 144, 0,
     0xcd7601177057297aULL},
    {"mpeg2-interlaced-n3",     0, 3, 0, 0, 0,
     0x5703c9710a889fa5ULL, 0x56a463192cb48aa5ULL, 0x1395b612ae9c22d9ULL, 3, 20, 2000000.f, 176, 144, 0,
     0x683cc49c4528f8f0ULL},
    {"mpeg2-interlaced-frame-p",0, 3, 0, 0, 1,
     0x4fb8b086b15aad07ULL, 0x7c73630f3144a44bULL, 0xd97ddbdf9237d6abULL, 6, 10, 768000.f, 176, 144, 2,
     0x5307f5a3d7f4c065ULL},
    {"mpeg2-fields-motion31",   0, 3, 0, 1, 1,
     0x324eb41b43fbbfcbULL, 0x1094da1aeff17db2ULL, 0x5f14597fe2b0775cULL, 12, 31, 3500000.f, 176, 144, 0,
     0xd701134cea7808f0ULL},
};
// clang-format on

// What the encoder reconstructed and reported: the decoder's pictures, the quality figures to the last
// bit of their doubles, the statistics text and the bits per pixel.
uint64_t ReconChecksum(const EncodeResult &r)
{
    Checksum c;
    for (const Frame420 &f : r.recon)
        c.Add(f);
    for (const MpegPictureReport &rep : r.reports) {
        c.Add(zn::Format("%d %d %d %c %a %a %a %a %a %a %a", rep.codedFrame, rep.field, rep.frameNo, rep.type,
                         rep.mse[0], rep.mse[1], rep.mse[2], rep.snr[0], rep.snr[1], rep.snr[2],
                         static_cast<double>(rep.bitsPerPixel)));
        c.Add(rep.statistics);
    }
    return c.Value();
}

TEST(MpegOutputPins, EncodedStreamsAndTheirDecodedPicturesAreUnchanged)
{
    ScratchDir dir;
    for (const Pin &pin : kPins) {
        SCOPED_TRACE(pin.name);
        std::vector<Frame420> frames;
        for (int t = 0; t < kFrames; ++t)
            frames.push_back(MovingScene(t, !pin.progressive, pin.width, pin.height));
        MpegEncoderParams p;
        p.mpeg1 = pin.mpeg1;
        p.M = pin.M;
        p.N = pin.N;
        p.maxMotion = pin.maxMotion;
        p.bitRate = pin.rate;
        p.progressive = pin.progressive;
        p.fieldPictures = pin.fieldPictures;
        p.topFieldFirst = pin.topFieldFirst;
        p.frameDctI = pin.frameDct & 1;
        p.frameDctP = (pin.frameDct >> 1) & 1;
        p.frameDctB = (pin.frameDct >> 2) & 1;
        const std::string path = dir.File(std::string(pin.name) + ".mpg");
        const EncodeResult r = EncodeFrames(p, pin.width, pin.height, frames, path, pin.progressive);
        ASSERT_TRUE(r.ok);
        const std::vector<unsigned char> file = ReadFileBytes(path);
        const std::vector<uint8_t> bytes(file.begin(), file.end());
        Checksum stream;
        stream.Add(bytes);
        const uint64_t decoded = DecodeAllWays(bytes);
        EXPECT_EQ(Hex(stream.Value()), Hex(pin.stream)) << "stream";
        EXPECT_EQ(Hex(decoded), Hex(pin.decoded)) << "decoded";
        EXPECT_EQ(Hex(DecodeAllWays(Damaged(bytes))), Hex(pin.damaged)) << "damaged";
        EXPECT_EQ(Hex(ReconChecksum(r)), Hex(pin.recon)) << "reconstructions and reports";
        EXPECT_EQ(Hex(DecodeAllWays(bytes, true)), Hex(decoded)) << "plain kernels";
        // The system layer hands the decoder the same bytes, whatever the packets look like.
        EXPECT_EQ(Hex(DecodeAllWays(SystemStream(bytes))), Hex(decoded)) << "system";
    }
}

// Field pictures whose blocks are flat: the test-side writer's stream, decoded every way.
TEST(MpegOutputPins, FieldCodedIntraStreamIsUnchanged)
{
    const std::vector<uint8_t> bytes =
        FieldCodedStream(64, 64, 3, [](int frame, int field, int c, int x, int y) {
            return (frame * 37 + field * 11 + c * 50 + x * 3 + y * 5) % 256;
        });
    const uint64_t decoded = DecodeAllWays(bytes);
    EXPECT_EQ(Hex(decoded), Hex(0x6a1de9d6e65125f5ULL));
    EXPECT_EQ(Hex(DecodeAllWays(SystemStream(bytes))), Hex(decoded));
}

// Streams of ffmpeg's encoders, for the coding tools and code paths ours never writes: MPEG-1 escapes
// at fine quantisers, custom matrices, field DCT and field prediction in frame pictures of either
// field order, the alternate scan, the intra code table, the non-linear quantiser scale, a DC
// precision of 10 bits, 4:2:2 and a size that is not whole macroblocks.
struct FfmpegPin
{
    const char *name, *source, *args;
    uint64_t stream;  // the stream ffmpeg 5.1 writes with -bitexact
    uint64_t decoded; // our decoder's pictures of it, every way
    uint64_t damaged; // the stream with flipped bits
};

// clang-format off
const FfmpegPin kFfmpegPins[] = {
    {"mpeg1-fine", "testsrc2=size=176x144:rate=25",
     "-c:v mpeg1video -bf 2 -g 6 -qmin 1 -q:v 1",
     0x6bc45cfc417fcc9aULL, 0xc47df003f1a839eaULL, 0x422bcfd68ef2f754ULL},
    {"mpeg1-matrices", "testsrc2=size=176x144:rate=25",
     "-c:v mpeg1video -bf 1 -g 5 -q:v 6 -intra_matrix 8,12,16,20,24,28,32,36,12,16,20,24,28,32,36,40,"
     "16,20,24,28,32,36,40,44,20,24,28,32,36,40,44,48,24,28,32,36,40,44,48,52,28,32,36,40,44,48,52,56,"
     "32,36,40,44,48,52,56,60,36,40,44,48,52,56,60,64",
     0x7848fab7cb957feeULL, 0x384739e3fd697055ULL, 0x0fac4464c921bc34ULL},
    {"mpeg2-interlaced-tff", "testsrc2=size=176x144:rate=25,setfield=tff",
     "-c:v mpeg2video -flags +ilme+ildct -top 1 -bf 2 -g 6 -q:v 3",
     0x54a18bb464fa2ecdULL, 0x68e8945c56e56afaULL, 0xba0a6eb9d13f880dULL},
    {"mpeg2-interlaced-bff", "testsrc2=size=176x160:rate=25,setfield=bff",
     "-c:v mpeg2video -flags +ilme+ildct -top 0 -bf 2 -g 6 -q:v 5",
     0x357add2f281d2e11ULL, 0x0417996b7c91ebd0ULL, 0x111e5157a5f39e23ULL},
    {"mpeg2-altscan-intravlc-nonlinear", "testsrc2=size=176x144:rate=25",
     "-c:v mpeg2video -alternate_scan 1 -intra_vlc 1 -non_linear_quant 1 -qmax 28 -bf 2 -g 6 -q:v 2",
     0x38f0edce5613eff3ULL, 0xbd3bd0a41e4de50eULL, 0xb0b140b71d52e3ceULL},
    {"mpeg2-dc10-422", "testsrc2=size=176x144:rate=25,format=yuv422p",
     "-c:v mpeg2video -pix_fmt yuv422p -dc 10 -bf 1 -g 4 -q:v 2",
     0x5949eed74d810a9eULL, 0x5d531a1c447765ebULL, 0xb651dea96aedc47bULL},
    {"mpeg2-odd-size", "testsrc2=size=170x118:rate=25",
     "-c:v mpeg2video -bf 2 -g 6 -q:v 4",
     0x5faabce17f926c1bULL, 0x99b782f7079f3d46ULL, 0x30d5f0b0cd94578cULL},
};
// clang-format on

TEST(MpegOutputPins, PicturesOfFfmpegStreamsAreUnchanged)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ScratchDir dir;
    for (const FfmpegPin &pin : kFfmpegPins) {
        SCOPED_TRACE(pin.name);
        const std::string path = dir.File(std::string(pin.name) + ".mpv");
        const std::string cmd = "ffmpeg -v error -y -f lavfi -i " + std::string(pin.source) +
                                " -frames:v 9 -threads 1 -fflags +bitexact -flags +bitexact " + pin.args +
                                " -f rawvideo " + ShellQuote(path);
        ASSERT_EQ(zntest::Run(cmd), 0) << cmd;
        const std::vector<unsigned char> file = ReadFileBytes(path);
        const std::vector<uint8_t> bytes(file.begin(), file.end());
        Checksum stream;
        stream.Add(bytes);
        const uint64_t decoded = DecodeAllWays(bytes);
        // The fast kernels against the plain ones hold for any stream, whatever ffmpeg wrote.
        EXPECT_EQ(Hex(DecodeAllWays(bytes, true)), Hex(decoded)) << "plain kernels";
        const std::vector<uint8_t> damaged = Damaged(bytes);
        EXPECT_EQ(Hex(DecodeAllWays(damaged, true)), Hex(DecodeAllWays(damaged))) << "plain kernels, damaged";
        // Another ffmpeg may write other bytes for the same settings: the pictures are then decoded, and
        // checked only by the oracle tests and against the plain kernels.
        if (stream.Value() != pin.stream) {
            std::printf("%s: ffmpeg wrote another stream (%s, pinned %s; pictures %s): not compared\n",
                        pin.name, Hex(stream.Value()).c_str(), Hex(pin.stream).c_str(), Hex(decoded).c_str());
            continue;
        }
        EXPECT_EQ(Hex(decoded), Hex(pin.decoded)) << "decoded";
        EXPECT_EQ(Hex(DecodeAllWays(damaged)), Hex(pin.damaged)) << "damaged";
    }
}

} // namespace

} // namespace mpeg_output_pins_test
