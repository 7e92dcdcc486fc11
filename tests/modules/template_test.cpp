// The template module driven through its dialog: inverting, mirroring, the texts, odd widths and
// the palette images it refuses.
#include "modules/module_harness.h"

#include "image/cdib.h"
#include "modules/template/tplt_dlg.h"
#include "platform/messages.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"

#include <gtest/gtest.h>

namespace template_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;

namespace {

constexpr int kApply = 1663;
constexpr int kResults = 1661;

int Level(int x, int y)
{
    return (x * 5 + y * 3) % 256;
}

struct TpltFixture : ::testing::Test
{
    void SetUp() override { RegisterTemplateModule(); }
    CtpltDlg *Open(const CDib &image)
    {
        doc = h.OpenImage("grey", image);
        return h.Open<CtpltDlg>(doc, zn::cmd::kTemplate);
    }
    zn::MessageRecorder messages;
    ModuleHarness h;
    CDibDoc *doc = nullptr;
};

TEST_F(TpltFixture, InvertAndMirrorChoices)
{
    struct Case
    {
        bool invert, mirror;
        const char *text;
    };
    const Case cases[] = {
        {false, false, "\r\nNumber of pixels processed\t: 4096\r\n"},
        {true, false,
         "The image intensities have been inverted\r\n\r\nNumber of pixels processed\t: 8192\r\n"},
        {false, true,
         "The image has been horizontally mirrored.\r\n\r\nNumber of pixels processed\t: 4096\r\n"},
        {true, true,
         "The image intensities have been inverted\r\nThe image has been horizontally mirrored.\r\n"
         "\r\nNumber of pixels processed\t: 8192\r\n"},
    };
    CtpltDlg *dlg = Open(*zntest::MakeGreyDib(64, 64, Level));
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "TEMPLATE: grey");
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(0).toStdString(), "Invert");
    EXPECT_EQ(dlg->TabCtrl()->GetTabText(1).toStdString(), "Mirror");
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1668));
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg, 1666));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        ModuleHarness::Click(dlg, c.invert ? 1667 : 1668);
        ModuleHarness::Click(dlg, c.mirror ? 1665 : 1666);
        ModuleHarness::Click(dlg, kApply);
        EXPECT_EQ(ModuleHarness::ResultText(dlg, kResults), c.text);
        EXPECT_EQ(ModuleHarness::ChainCaption(doc), "The name of the image window");
        EXPECT_EQ(ModuleHarness::ChainImageName(doc), "grey");
        EXPECT_EQ(ModuleHarness::ChainDescription(doc),
                  "This information shows up in the Image Information pane");
        const CDib &out = *ModuleHarness::ChainImage(doc);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const int v = Level(c.mirror ? 63 - x : x, y);
                ASSERT_EQ(zntest::GreyAt(out, x, y), c.invert ? 255 - v : v) << x << "," << y;
            }
    }
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 4);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(TpltFixture, OddWidthIsReportedAndStillCorrect)
{
    CtpltDlg *dlg = Open(*zntest::MakeGreyDib(101, 7, Level));
    ModuleHarness::Click(dlg, 1665);
    ModuleHarness::Click(dlg, kApply);
    EXPECT_EQ(
        messages.Texts(),
        std::vector<std::string>{
            "For this image is the actual elements per line (303) different from the stored one (304)."});
    const CDib &out = *ModuleHarness::ChainImage(doc);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 101; ++x)
            ASSERT_EQ(zntest::GreyAt(out, x, y), Level(100 - x, y));
}

TEST_F(TpltFixture, PaletteImageIsRefused)
{
    RGBQUAD palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = RGBQUAD{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
    CDib image;
    ASSERT_TRUE(image.Create8(33, 9, palette, 256));
    CtpltDlg *dlg = Open(image);
    ASSERT_EQ(doc->m_pDib->GetInfoHeader()->biBitCount, 8);
    ModuleHarness::Click(dlg, kApply);
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_NE(messages.Texts()[0].find("24-bit images only"), std::string::npos);
    EXPECT_EQ(ModuleHarness::ChainCount(doc), 0);
}

TEST_F(TpltFixture, CancelClearsTheDocumentPointer)
{
    CtpltDlg *dlg = Open(*zntest::MakeGreyDib(8, 8, Level));
    ModuleHarness::Click(dlg, 2);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(doc->m_pTpltDlg, nullptr);
    EXPECT_TRUE(messages.Texts().empty());
}

} // namespace

} // namespace template_test
