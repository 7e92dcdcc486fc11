// Whole streams on real-texture pans, checked by ffmpeg as an independent decoder: no syntax error
// with every check on, the decoded pictures agree with the encoder's own reconstruction, and ffprobe
// sees the profile, level and picture types the encoder meant to write.
#include "mpeg/mpgenc/encoder_support.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

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
    int mpeg1, progressive, frameDct, topFirst;
    const char *fieldOrder; // as ffprobe names it
};
const Standard kStandards[] = {{"MPEG-1", 1, 1, 1, 1, "progressive"},
                               {"MPEG-2 progressive", 0, 1, 1, 1, "progressive"},
                               {"MPEG-2 interlaced, frame DCT flags on", 0, 0, 1, 1, "tt"},
                               {"MPEG-2 interlaced, frame DCT flags off", 0, 0, 0, 1, "tt"},
                               {"MPEG-2 interlaced, bottom field first", 0, 0, 0, 0, "bb"}};

// Picture types in display order from the GOP rule: I at each GOP start, P every M frames after.
std::string DisplayTypes(int N, int M, int frames)
{
    std::string t(static_cast<size_t>(frames), 'B');
    // Coding order reproduces the rule: reference frames at 0 and every M after, clamped at the end.
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

} // namespace

TEST(MpegEncoderStream, PansDecodeCleanlyInFfmpegAndMatchTheReconstruction)
{
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_PHOTO("camera");
    ScratchDir dir;
    const int w = 176, h = 160, frames = 14;
    const std::vector<Frame420> pan = MakeColourPan(dir.Path(), w, h, frames, 3, 1);
    ASSERT_EQ(pan.size(), static_cast<size_t>(frames));
    for (const Standard &st : kStandards)
        for (const Gop &g : kGops)
            for (int motion : {1, 31}) {
                SCOPED_TRACE(std::string(st.name) + ", " + g.name + ", motion " + std::to_string(motion));
                MpegEncoderParams p;
                p.mpeg1 = st.mpeg1;
                p.progressive = st.progressive;
                p.frameDctI = p.frameDctP = p.frameDctB = st.frameDct;
                p.topFieldFirst = st.topFirst;
                p.N = g.N;
                p.M = g.M;
                p.maxMotion = motion;
                const std::string out = dir.File("out.mpg");
                const EncodeResult r = EncodeFrames(p, w, h, pan, out, st.progressive);
                ASSERT_TRUE(r.ok);
                EXPECT_TRUE(r.messages.empty()) << r.messages.front();
                EXPECT_EQ(FfmpegErrors(out), "");
                const std::vector<Frame420> dec = FfmpegDecode(out, w, h);
                ASSERT_EQ(dec.size(), static_cast<size_t>(frames));
                ASSERT_EQ(r.recon.size(), static_cast<size_t>(frames));
                for (int f = 0; f < frames; ++f) {
                    EXPECT_GE(Psnr(dec[f], r.recon[f], static_cast<size_t>(w) * h), 50.0) << "frame " << f;
                    EXPECT_GE(Psnr(dec[f], r.recon[f], dec[f].size()), 50.0) << "frame " << f;
                    EXPECT_GE(Psnr(pan[f], r.recon[f], static_cast<size_t>(w) * h), 25.0) << "frame " << f;
                }
                std::string probe;
                zntest::Run("ffprobe -v error -show_entries frame=pict_type -of csv=p=0 " + ShellQuote(out),
                            &probe);
                std::string types;
                for (char c : probe)
                    if (c == 'I' || c == 'P' || c == 'B')
                        types += c;
                EXPECT_EQ(types, DisplayTypes(g.N, g.M, frames));
                if (!st.mpeg1) {
                    std::string prof;
                    zntest::Run("ffprobe -v error -show_entries stream=profile,level -of csv=p=0 " +
                                    ShellQuote(out),
                                &prof);
                    EXPECT_EQ(prof.substr(0, 6), "Main,8");
                    std::string order;
                    zntest::Run("ffprobe -v error -show_entries stream=field_order -of csv=p=0 " +
                                    ShellQuote(out),
                                &order);
                    EXPECT_EQ(order.substr(0, order.find_first_of("\r\n,")), st.fieldOrder);
                }
            }
}
