// Pins of the codec's own output: the bytes the encoder writes and the pictures the decoder makes of
// them, as checksums, over frame and field pictures of both standards, a system stream with every
// packet header form, and damaged streams. The oracle tests hold the pictures against ffmpeg within a
// tolerance; these catch any change at all. A change of a checksum must be one made on purpose (a
// different bit in a slice, a mended picture): say so where the table changes.
#include "mpeg/mpgdec/decode_stream.h"
#include "mpeg/mpgdec/field_stream.h"
#include "mpeg/mpgenc/encoder_support.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>

namespace mpeg_output_pins_test { // one namespace per test file: a folder compiles as one source

using namespace zntest;

namespace {

constexpr int kWidth = 96, kHeight = 64, kFrames = 7;

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
Frame420 MovingScene(int t, bool interlaced)
{
    Frame420 f(static_cast<size_t>(kWidth) * kHeight * 3 / 2);
    uint8_t *cb = f.data() + kWidth * kHeight, *cr = cb + kWidth * kHeight / 4;
    auto scene = [](int u, int v) {
        const int shade = (u * u + 2 * v * v + 3 * u * v) / 24 % 120;
        return 40 + shade + ((u / 12 + v / 12) % 2) * 70;
    };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int at = 2 * t + (interlaced && (y & 1) ? 1 : 0);
            const bool still = x >= kWidth / 2 && y >= kHeight / 2;
            const size_t c = static_cast<size_t>(y / 2) * (kWidth / 2) + x / 2;
            if (still) {
                f[static_cast<size_t>(y) * kWidth + x] =
                    static_cast<uint8_t>(40 + (x / 16 * 37 + y / 16 * 53) % 150);
                cb[c] = 100;
                cr[c] = 150;
            } else {
                f[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(scene(x + at, y + at));
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

// The decoded pictures in every output mode and without B frames, and the messages shown.
uint64_t DecodeAllWays(const std::vector<uint8_t> &bytes)
{
    zn::MessageRecorder rec;
    Checksum c;
    for (int mode = 0; mode < 4; ++mode) {
        DecodeOptions o;
        o.outputMode = mode % 3;
        o.overlay = mode == 0;
        o.skipB = mode == 3;
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
};

std::string Hex(uint64_t v)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%016" PRIx64 "ULL", v);
    return b;
}

// clang-format off
const Pin kPins[] = {
    {"mpeg1",               1, 3, 1, 0, 1,
     0x7327cd78dc09b65eULL, 0x94ed01e8a1eacb62ULL, 0xf662b00ea7e6bf65ULL},
    {"mpeg2-progressive",   0, 3, 1, 0, 1,
     0x9bb294e136c56181ULL, 0xf4904157c8bfb0a6ULL, 0x4c236b7b08aaf91cULL},
    {"mpeg2-interlaced",    0, 3, 0, 0, 1,
     0x652c80426c67831dULL, 0xf0909fa08f557110ULL, 0x2834298fd51da70aULL},
    {"mpeg2-dual-prime",    0, 1, 0, 0, 1,
     0x994037c8da6dd696ULL, 0x6a6815e3c08395a1ULL, 0x8f3e4723bb71e5dbULL},
    {"mpeg2-fields",        0, 3, 0, 1, 1,
     0xba0b91a0f7af863dULL, 0xff94a43e631e9e25ULL, 0x2329bca6ddfc37a2ULL},
    {"mpeg2-fields-bottom", 0, 1, 0, 1, 0,
     0xbb06203e1dd56736ULL, 0x281a769a0d1bc77cULL, 0x842fc690fff02317ULL},
};
// clang-format on

TEST(MpegOutputPins, EncodedStreamsAndTheirDecodedPicturesAreUnchanged)
{
    ScratchDir dir;
    for (const Pin &pin : kPins) {
        SCOPED_TRACE(pin.name);
        std::vector<Frame420> frames;
        for (int t = 0; t < kFrames; ++t)
            frames.push_back(MovingScene(t, !pin.progressive));
        MpegEncoderParams p;
        p.mpeg1 = pin.mpeg1;
        p.M = pin.M;
        p.N = 6;
        p.bitRate = 1000000.f;
        p.progressive = pin.progressive;
        p.fieldPictures = pin.fieldPictures;
        p.topFieldFirst = pin.topFieldFirst;
        const std::string path = dir.File(std::string(pin.name) + ".mpg");
        const EncodeResult r = EncodeFrames(p, kWidth, kHeight, frames, path, pin.progressive);
        ASSERT_TRUE(r.ok);
        const std::vector<unsigned char> file = ReadFileBytes(path);
        const std::vector<uint8_t> bytes(file.begin(), file.end());
        Checksum stream;
        stream.Add(bytes);
        const uint64_t decoded = DecodeAllWays(bytes);
        EXPECT_EQ(Hex(stream.Value()), Hex(pin.stream)) << "stream";
        EXPECT_EQ(Hex(decoded), Hex(pin.decoded)) << "decoded";
        EXPECT_EQ(Hex(DecodeAllWays(Damaged(bytes))), Hex(pin.damaged)) << "damaged";
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

} // namespace

} // namespace mpeg_output_pins_test
