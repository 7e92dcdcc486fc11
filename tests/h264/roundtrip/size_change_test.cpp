// A stream whose picture size changes: the encoder's streams at QCIF, CIF and QCIF again, written back
// to back (each with its own parameter sets and IDR picture), decode as one run. Every part comes out
// at its own size exactly as it decodes alone and as the encoder reconstructed it, the document takes
// each size in turn, and the save file, which holds one size, keeps the pictures of its first size
// and refuses the others with one message.
#include "h264/support/h264_roundtrip.h"
#include "h264/support/recording_host.h"
#include "h264dec/decoder_run.h"
#include "h264enc/support/encoder_fixture.h"
#include "image/yuv_writer.h"
#include "platform/format.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace size_change_test { // one namespace per test file: a folder compiles as one source

namespace {

struct Part
{
    int w, h, frames;
    std::vector<unsigned char> stream, rec, alone;
};

// Codes a synthetic pan with the dialog's values (IBPBP) into <tag>.264 with its reconstruction, and
// decodes the stream on its own.
void Code(const zntest::ScratchDir &dir, const std::string &tag, Part &p, unsigned seed)
{
    const std::vector<uint8_t> pan = enctest::SyntheticPan(p.w, p.h, p.frames, 2, 1, seed);
    ASSERT_TRUE(
        zntest::WriteFileBytes(dir.File(tag + ".yuv"), std::vector<unsigned char>(pan.begin(), pan.end())));
    auto v = enctest::DialogValues(dir.File(tag + ".yuv"), p.w, p.h, p.frames, dir.File(tag + ".264"));
    const enctest::EncodeResult e = enctest::Encode(
        enctest::WriteSettings(dir.Path(), v, {"ReconFile = \"" + dir.File(tag + "_rec.yuv") + "\""}));
    ASSERT_TRUE(e.ok) << e.message;
    p.stream = zntest::ReadFileBytes(dir.File(tag + ".264"));
    p.rec = zntest::ReadFileBytes(dir.File(tag + "_rec.yuv"));
    const zntest::H264DecodeResult d =
        zntest::DecodeH264ToYuv(dir.File(tag + ".264"), dir.File(tag + "_dec.yuv"));
    ASSERT_TRUE(d.ok) << d.message;
    p.alone = zntest::ReadFileBytes(dir.File(tag + "_dec.yuv"));
    ASSERT_EQ(p.alone, p.rec);
    ASSERT_EQ(p.rec.size(), static_cast<size_t>(p.frames) * p.w * p.h * 3 / 2);
}

TEST(H264SizeChange, QcifCifQcifDecodeAsOneRunEachPartAtItsOwnSize)
{
    zntest::ScratchDir dir;
    Part parts[3] = {{176, 144, 5, {}, {}, {}}, {352, 288, 3, {}, {}, {}}, {176, 144, 5, {}, {}, {}}};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        ASSERT_NO_FATAL_FAILURE(Code(dir, zn::Format("part%d", k), parts[k], 11 + k));
    }
    std::vector<unsigned char> stream, want;
    for (const Part &p : parts) {
        stream.insert(stream.end(), p.stream.begin(), p.stream.end());
        want.insert(want.end(), p.alone.begin(), p.alone.end());
    }
    ASSERT_TRUE(zntest::WriteFileBytes(dir.File("joined.264"), stream));

    // The run as the dialog makes it, with the encoder's leaky-bucket file and a save file.
    h264test::RecordingHost host;
    host.save = std::make_unique<CYuvFileWriter>(dir.File("saved.yuv"));
    zn::MessageRecorder boxes;
    const std::string out = dir.File("joined.yuv");
    H264Decoder(dir.File("joined.264"), out, dir.File("H264LeakyBucketParam.cfg"), false, false, &host);
    host.save.reset();
    const std::vector<unsigned char> got = zntest::ReadFileBytes(out);
    ASSERT_EQ(got.size(), want.size());
    size_t at = 0;
    for (int k = 0; k < 3; ++k) {
        const size_t n = parts[k].alone.size();
        EXPECT_TRUE(std::equal(got.begin() + static_cast<std::ptrdiff_t>(at),
                               got.begin() + static_cast<std::ptrdiff_t>(at + n), parts[k].alone.begin()))
            << "part " << k;
        at += n;
    }
    EXPECT_EQ(host.displays.size(), 13u);
    EXPECT_EQ(host.document.GetWidth(), 176);
    EXPECT_EQ(host.document.GetHeight(), 144);
    EXPECT_NE(host.text.find("Number of Frames Decoded\t: 13\r\n\tI: 3;"), std::string::npos) << host.text;

    // One message for the CIF pictures; the QCIF pictures of both ends are saved.
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{
                  "(SaveYUVFrame) Frame dimensions (nrow) have been changed!\r\nFrame not saved"});
    std::vector<unsigned char> saved = parts[0].alone;
    saved.insert(saved.end(), parts[2].alone.begin(), parts[2].alone.end());
    EXPECT_TRUE(zntest::ReadFileBytes(dir.File("saved.yuv")) == saved);
    const std::vector<unsigned char> header = zntest::ReadFileBytes(dir.File("saved.hdr"));
    const std::string hdr(header.begin(), header.end());
    EXPECT_NE(hdr.find("\n144 "), std::string::npos) << hdr;
    EXPECT_NE(hdr.find("\n176 "), std::string::npos) << hdr;
    EXPECT_NE(hdr.find("\n10 "), std::string::npos) << hdr;
}

} // namespace

} // namespace size_change_test
