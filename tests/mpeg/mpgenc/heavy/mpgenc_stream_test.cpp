// Whole streams on real-texture pans, for every coding standard and picture structure the dialog
// offers, every GOP shape and both ends of the motion range. Our own decoder must rebuild the
// encoder's reconstruction to the bit; ffmpeg, an independent decoder, must find no syntax error and
// agree to within its inverse transform; ffprobe must see the profile, level, picture types and field
// order the encoder meant to write.
#include "mpeg/mpgdec/decode_stream.h"
#include "mpeg/mpgenc/encoder_support.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>

namespace mpgenc_stream_test { // one namespace per test file: a folder compiles as one source

using namespace zntest;

namespace {

struct Gop
{
    const char *name;
    int N, M;
};
const Gop kGops[] = {{"I only", 1, 1}, {"IBB", 3, 3},    {"I 11(P)", 12, 1},
                     {"IPP", 3, 1},    {"IBBPBB", 6, 3}, {"IBB3(PBB)", 12, 3}};

struct Standard
{
    const char *name;
    int mpeg1, progressive, frameDct, fieldPictures, topFirst;
    const char *fieldOrder; // ffprobe's stream field order for frame pictures
};
const Standard kStandards[] = {
    {"Mpeg1", 1, 1, 1, 0, 1, "progressive"},
    {"Mpeg2Progressive", 0, 1, 1, 0, 1, "progressive"},
    {"InterlacedFramesFrameDctOn", 0, 0, 1, 0, 1, "tt"},
    {"InterlacedFramesFrameDctOff", 0, 0, 0, 0, 1, "tt"},
    {"FieldPicturesTopFirst", 0, 0, 0, 1, 1, nullptr},
    {"FieldPicturesBottomFirst", 0, 0, 0, 1, 0, nullptr},
};

// Test names show the coding, not the bytes of the record.
void PrintTo(const Standard &s, std::ostream *os)
{
    *os << s.name;
}

// Picture types in display order from the GOP rule: I at each GOP start, P every M frames after.
std::string DisplayTypes(int N, int M, int frames)
{
    std::string t(static_cast<size_t>(frames), 'B');
    for (int i = 0; i < frames; ++i) {
        if (!(i == 0 || (i - 1) % M == 0))
            continue;
        int f0 = N * ((i + M - 1) / N) - M + 1;
        f0 = f0 < 0 ? 0 : f0;
        int f = i == 0 ? 0 : i + M - 1;
        f = f >= frames ? frames - 1 : f;
        t[static_cast<size_t>(f)] = i == f0 ? 'I' : 'P';
    }
    return t;
}

// One ffprobe run: per frame its type and field flags, then the stream's profile, level and order.
struct ProbeResult
{
    std::string types;                   // picture types in display order
    std::vector<std::string> fieldFlags; // "interlaced_frame,top_field_first" per frame
    std::string profileLevel, fieldOrder;
};

std::string Value(const std::string &line, const std::string &key)
{
    const size_t at = line.find("|" + key + "=");
    if (at == std::string::npos)
        return "";
    const size_t from = at + key.size() + 2;
    return line.substr(from, line.find('|', from) - from);
}

ProbeResult Probe(const std::string &path)
{
    std::string out;
    zntest::Run(
        "ffprobe -v error -show_entries stream=profile,level,field_order:frame=pict_type,interlaced_frame,"
        "top_field_first -of compact " +
            ShellQuote(path),
        &out);
    ProbeResult r;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("frame|", 0) == 0) {
            r.types += Value(line, "pict_type");
            r.fieldFlags.push_back(Value(line, "interlaced_frame") + "," + Value(line, "top_field_first"));
        } else if (line.rfind("stream|", 0) == 0) {
            r.profileLevel = Value(line, "profile") + "," + Value(line, "level");
            r.fieldOrder = Value(line, "field_order");
        }
    }
    return r;
}

class MpegEncoderStream : public ::testing::TestWithParam<Standard>
{
};

} // namespace

TEST_P(MpegEncoderStream, OurDecoderRebuildsTheReconstructionAndFfmpegAgrees)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_PHOTO("camera");
    const Standard &st = GetParam();
    ScratchDir dir;
    // A textured part of the photograph, moving 3 pels right and 1 down per frame; 14 frames reach
    // into a second GOP of twelve.
    const int w = 176, h = 128, frames = 14;
    const std::vector<Frame420> pan = MakeColourPan(dir.Path(), w, h, frames, 3, 1, "camera", "", 500, 500);
    ASSERT_EQ(pan.size(), static_cast<size_t>(frames));
    const size_t lumaSize = static_cast<size_t>(w) * h;
    for (const Gop &g : kGops)
        for (int motion : {1, 31}) {
            SCOPED_TRACE(std::string(st.name) + ", " + g.name + ", motion " + std::to_string(motion));
            MpegEncoderParams p;
            p.mpeg1 = st.mpeg1;
            p.progressive = st.progressive;
            p.frameDctI = p.frameDctP = p.frameDctB = st.frameDct;
            p.fieldPictures = st.fieldPictures;
            p.topFieldFirst = st.topFirst;
            p.N = g.N;
            p.M = g.M;
            p.maxMotion = motion;
            const std::string out = dir.File("out.mpg");
            const EncodeResult r = EncodeFrames(p, w, h, pan, out, st.progressive);
            ASSERT_TRUE(r.ok);
            EXPECT_TRUE(r.messages.empty()) << r.messages.front();
            ASSERT_EQ(r.recon.size(), static_cast<size_t>(frames));

            // Our decoder: every frame, every plane, to the bit.
            const DecodedStream ours = DecodeMpegFile(out);
            EXPECT_EQ(ours.error, "");
            ASSERT_EQ(ours.frames.size(), static_cast<size_t>(frames));
            for (int f = 0; f < frames; ++f) {
                const DecodedFrame &d = ours.frames[static_cast<size_t>(f)];
                Frame420 planes = d.y;
                planes.insert(planes.end(), d.cb.begin(), d.cb.end());
                planes.insert(planes.end(), d.cr.begin(), d.cr.end());
                EXPECT_TRUE(planes == r.recon[static_cast<size_t>(f)]) << "frame " << f;
                EXPECT_GE(Psnr(pan[f], r.recon[f], lumaSize), 25.0) << "frame " << f;
            }

            // ffmpeg: clean syntax and the same pictures up to its own inverse transform.
            EXPECT_EQ(FfmpegErrors(out), "");
            const std::vector<Frame420> dec = FfmpegDecode(out, w, h);
            ASSERT_EQ(dec.size(), static_cast<size_t>(frames));
            for (int f = 0; f < frames; ++f) {
                EXPECT_GE(Psnr(dec[f], r.recon[f], lumaSize), 50.0) << "frame " << f;
                EXPECT_GE(Psnr(dec[f], r.recon[f], dec[f].size()), 50.0) << "frame " << f;
            }

            // ffprobe: picture types in display order (a field pair shows its first field's type).
            const ProbeResult probe = Probe(out);
            EXPECT_EQ(probe.types, DisplayTypes(g.N, g.M, frames));
            if (st.mpeg1)
                continue;
            EXPECT_EQ(probe.profileLevel, "Main,8");
            if (st.fieldOrder) {
                EXPECT_EQ(probe.fieldOrder, st.fieldOrder);
            } else {
                // Field pictures carry no field-order flag (it is 0 in every field picture); the order
                // is the order of the fields, which ffprobe reports per frame.
                EXPECT_EQ(probe.fieldFlags, std::vector<std::string>(frames, st.topFirst ? "1,1" : "1,0"));
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Matrix, MpegEncoderStream, ::testing::ValuesIn(kStandards),
                         [](const ::testing::TestParamInfo<Standard> &info) { return info.param.name; });

} // namespace mpgenc_stream_test
