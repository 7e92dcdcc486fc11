// scripts/first-run-setup run as a new user's first start would run it, in a home of its own: the
// settings it writes, the codebooks it designs, loaded and used by the VQ dialog, and the MPEG stream
// it makes, opened as a document and checked against ffprobe and ffmpeg.
#include "mpeg/mpgdec/decode_stream.h"
#include "mpeg/mpgdec/mpgdec_register.h"
#include "support/test_support.h"
#include "vq/dialog/vq_fixture.h"

#include <QFileInfo>
#include <filesystem>
#include <gtest/gtest.h>

namespace first_run_setup_test { // one namespace per test file: a folder compiles as one source

namespace {

using zntest::ModuleHarness;

// The value of key=... in the settings file, or "".
std::string Setting(const std::string &conf, const std::string &key)
{
    const size_t at = conf.find("\n" + key + "=");
    if (at == std::string::npos)
        return {};
    const size_t from = at + key.size() + 2;
    return conf.substr(from, conf.find('\n', from) - from);
}

std::string ReadText(const std::string &path)
{
    const auto bytes = zntest::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

struct FirstRunSetup : ::testing::Test
{
    // Runs the script from the source tree with the test's build tree; its exit status.
    int RunSetup(std::string *out)
    {
        const std::filesystem::path source =
            std::filesystem::path(ZN_TEST_DATA_DIR).parent_path().parent_path();
        std::string cmd = "cd " + zntest::ShellQuote(source.string());
        const std::string homeDir = home.Path().substr(0, home.Path().size() - 1); // as $HOME: no '/'
        cmd += " && HOME=" + zntest::ShellQuote(homeDir);
        cmd += " XDG_CONFIG_HOME=" + zntest::ShellQuote(home.File("config"));
        cmd += " ZANTHO_BUILD_DIR=" + zntest::ShellQuote(ZN_BUILD_DIR);
        cmd += " scripts/first-run-setup 2>&1";
        return zntest::Run(cmd, out);
    }
    zntest::ScratchDir home;
};

TEST_F(FirstRunSetup, LeavesCodebooksTheVqDialogLoadsAndAStreamThatOpens)
{
    for (const char *photo : {"camera", "coins", "moon"})
        ZN_REQUIRE_PHOTO(photo);
    ZN_REQUIRE_TOOL("ffmpeg");
    ZN_REQUIRE_TOOL("ffprobe");
    std::string out;
    ASSERT_EQ(RunSetup(&out), 0) << out;
    const std::string conf = ReadText(home.File("config/Orbekast/Zantho.conf"));
    const std::string codebookDir = Setting(conf, "codebookDir");
    const std::string imageDir = Setting(conf, "imageDir");
    ASSERT_EQ(codebookDir, home.Path() + "Zantho/codebooks/") << conf;
    ASSERT_EQ(imageDir, home.Path() + "Zantho/samples/") << conf;

    // ---- codebooks: one per vector size, each loaded from the folder Load Codebook opens ----
    RegisterVqModule();
    theApp.m_sCodebookDir = QString::fromStdString(codebookDir);
    CDib camera;
    ASSERT_GT(camera.LoadDibFile(imageDir + "camera.bmp", true), 0);
    struct Case
    {
        const char *file;
        int size;
        int bits;       // the default the dialog checks for rates 1 to 8
        double minPsnr; // a trained codebook at that rate does at least this well on the photograph
    } cases[] = {{"samples_2x2_min1_max8.cbk", 2, 4, 27.0},
                 {"samples_4x4_min1_max8.cbk", 4, 4, 24.0},
                 {"samples_8x8_min1_max8.cbk", 8, 4, 20.0}};
    int found = 0;
    for (const auto &entry : std::filesystem::directory_iterator(codebookDir))
        found += entry.path().extension() == ".cbk";
    EXPECT_EQ(found, 3);
    for (const Case &c : cases) {
        zn::MessageRecorder messages;
        vqtest::FileDialogScript files;
        ModuleHarness h;
        CDibDoc *doc = h.OpenImage("camera", camera);
        auto *dlg = h.Open<CVqDlg>(doc, zn::cmd::kVq);
        files.answers.push_back(codebookDir + c.file);
        ModuleHarness::Click(dlg, CVqCodebookDlg::IDC_LOAD);
        ASSERT_EQ(files.requests.size(), 1u);
        EXPECT_EQ(files.requests[0].initialDir.toStdString(), codebookDir);
        ASSERT_TRUE(messages.Texts().empty()) << c.file << ": " << messages.Texts()[0];
        EXPECT_EQ(vqtest::GroupText(dlg), zn::Format("Set Bits per %dx%d Vector", c.size, c.size)) << c.file;
        EXPECT_EQ(dlg->PendingBits(), c.bits) << c.file;
        ASSERT_TRUE(ModuleHarness::IsEnabled(dlg, vqtest::kApply)) << c.file;
        ModuleHarness::Click(dlg, vqtest::kApply);
        const std::string text = ModuleHarness::ResultText(dlg, vqtest::kResults);
        EXPECT_NEAR(zntest::ReportedMeasure(text, "  Coded Bitrate\t\t:"), double(c.bits) / (c.size * c.size),
                    0.005)
            << text;
        EXPECT_GT(zntest::ReportedPsnr(text), c.minPsnr) << c.file << "\n" << text;
    }

    // ---- the MPEG stream: listed by the open dialog's first filter, an MPEG-2 stream of the pan ----
    const std::string stream = imageDir + "camera_pan.mpg";
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(stream))) << out;
    std::string probe;
    ASSERT_EQ(zntest::Run("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                          "stream=codec_name,width,height,nb_read_frames -of csv=p=0 " +
                              zntest::ShellQuote(stream),
                          &probe),
              0);
    EXPECT_EQ(probe.rfind("mpeg2video,352,288,30", 0), 0u) << probe;
    const zntest::DecodedStream decoded = zntest::DecodeMpegFile(stream);
    ASSERT_TRUE(decoded.opened) << decoded.error;
    EXPECT_TRUE(decoded.error.empty()) << decoded.error;
    EXPECT_EQ(decoded.mpeg2, 1);
    ASSERT_EQ(decoded.frames.size(), 30u);
    const auto reference = zntest::FfmpegFrames(stream, "yuv420p", 352, 288);
    ASSERT_EQ(reference.size(), 30u);
    // Frames leave the decoder in display order, as ffmpeg gives them.
    for (size_t i = 0; i < 30; ++i)
        EXPECT_GT(zntest::LumaPsnr(decoded.frames[i].y, reference[i], 352 * 288), 45.0) << "frame " << i;
    {
        zn::MessageRecorder messages;
        ModuleHarness h;
        RegisterMpegDecoderModule();
        CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(stream));
        ASSERT_NE(doc, nullptr);
        EXPECT_EQ(doc->m_nDocType, 3);
        EXPECT_TRUE(messages.Texts().empty());
    }

    // ---- a second start changes nothing that is there ----
    const auto stamp = std::filesystem::last_write_time(codebookDir + "samples_4x4_min1_max8.cbk");
    const auto streamStamp = std::filesystem::last_write_time(stream);
    ASSERT_EQ(RunSetup(&out), 0) << out;
    EXPECT_EQ(std::filesystem::last_write_time(codebookDir + "samples_4x4_min1_max8.cbk"), stamp);
    EXPECT_EQ(std::filesystem::last_write_time(stream), streamStamp);
    EXPECT_EQ(ReadText(home.File("config/Orbekast/Zantho.conf")), conf);
}

} // namespace

} // namespace first_run_setup_test
