// The codebook-design dialog: its start state, the size cascade, the rate-range rules, when Apply
// is offered, Apply, Save Codebook and OK; and the Codebook page adopting a designed codebook.
#include "vq/dialog/vq_fixture.h"

#include "modules/vq/codebook_design_dlg.h"
#include "shell/dib_frame.h"
#include "shell/shell_fixture.h"

#include <QGroupBox>
#include <QPlainTextEdit>

using zntest::ModuleHarness;

namespace vqtest {
namespace {

constexpr int kDesignApply = CCodebookDesignDlg::IDC_APPLY;
constexpr int kSave = CCodebookDesignDlg::IDC_SAVE;
const int kWidthIds[] = {1235, 1234, 1233, 1232, 1898};  // 2 4 6 8 10
const int kHeightIds[] = {1237, 1238, 1239, 1240, 1149}; // 2 4 6 8 10
const int kMinIds[] = {1243, 1244, 1245, 1246, 1247, 1248, 1249, 1250, 1251, 1252, 1336, 1337};
const int kMaxIds[] = {1892, 2169, 2170, 2171, 1554, 1894, 2172, 2174, 1895, 1896, 1338, 1339};

// Runs the design dialog on a training image of cols x rows; inside its loop, fn drives it. Returns
// what DoModalDesign returned.
int RunDesign(int cols, int rows, const std::function<void(CCodebookDesignDlg *)> &fn, ZnImage *codebook,
              const std::string &name = "picture")
{
    ZnImage train;
    train.Alloc(rows, cols);
    for (int i = 0; i < rows * cols; ++i)
        train.Data()[i] = static_cast<float>((i * 37 + (i / cols) * 11) % 256);
    CCodebookDesignDlg dlg;
    bool ran = false;
    zntest::WhenModal<CCodebookDesignDlg>([&](CCodebookDesignDlg *d) {
        ran = true;
        fn(d);
        if (d->isVisible())
            ModuleHarness::Click(d, IDCANCEL);
    });
    const int result = dlg.DoModalDesign(&train, codebook, name);
    EXPECT_TRUE(ran);
    return result;
}

std::vector<bool> Enabled(const QWidget *d, std::initializer_list<int> ids)
{
    std::vector<bool> out;
    for (int id : ids)
        out.push_back(ModuleHarness::IsEnabled(d, id));
    return out;
}

std::string Log(const CCodebookDesignDlg *d)
{
    return zntest::ModuleHarness::ResultText(d, CCodebookDesignDlg::IDC_LOG);
}

struct DesignTest : VqDialogTest
{
};

TEST_F(DesignTest, OpensWithTheDefaults)
{
    ZnImage codebook;
    RunDesign(
        80, 80,
        [](CCodebookDesignDlg *d) {
            EXPECT_EQ(d->windowTitle().toStdString(), "Codebook Design");
            for (int id : {1234, 1238, 1243, 2174, 1267, 1274, 1271})
                EXPECT_TRUE(ModuleHarness::IsChecked(d, id)) << id;
            for (int id : {1235, 1237, 1244, 2172, 1268, 1273, 1270})
                EXPECT_FALSE(ModuleHarness::IsChecked(d, id)) << id;
            for (int i = 0; i < 12; ++i) {
                EXPECT_EQ(ModuleHarness::IsEnabled(d, kMinIds[i]), i < 8) << i;
                EXPECT_TRUE(ModuleHarness::IsEnabled(d, kMaxIds[i])) << i;
            }
            for (int id : kWidthIds)
                EXPECT_TRUE(ModuleHarness::IsEnabled(d, id));
            EXPECT_TRUE(ModuleHarness::IsEnabled(d, kDesignApply));
            EXPECT_FALSE(ModuleHarness::IsEnabled(d, kSave));
            EXPECT_FALSE(ModuleHarness::IsEnabled(d, IDOK));
            EXPECT_EQ(d->PendingParams(), (CodebookDesignParams{4, 4, 1, 8, 20, 0.01f, 2}));
            EXPECT_EQ(d->AppliedParams(), (CodebookDesignParams{-1, -1, -1, -1, -1, -1.0f, -1}));
        },
        &codebook);
}

TEST_F(DesignTest, SizesThatDoNotTileThePictureAreSwitchedOff)
{
    struct Case
    {
        int side;
        std::vector<bool> enabled; // 2 4 6 8 10
        int pending;
    };
    const Case cases[] = {
        {250, {true, true, true, true, true}, 4},   // 10 divides: nothing is tested further
        {258, {true, true, true, false, false}, 4}, // 6 divides
        {254, {true, false, false, false, false}, 2}, {256, {true, true, true, true, false}, 4}, // 8 divides
        {64, {true, true, true, true, false}, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.side);
        ZnImage codebook;
        // The width is tested against the columns and the height against the rows.
        RunDesign(
            c.side, 40,
            [&](CCodebookDesignDlg *d) {
                EXPECT_EQ(Enabled(d, {1235, 1234, 1233, 1232, 1898}), c.enabled);
                EXPECT_EQ(Enabled(d, {1237, 1238, 1239, 1240, 1149}), std::vector<bool>(5, true));
                EXPECT_EQ(d->PendingParams().w, c.pending);
                EXPECT_EQ(ModuleHarness::IsChecked(d, c.pending == 2 ? 1235 : 1234), true);
                EXPECT_EQ(d->PendingParams().h, 4);
            },
            &codebook);
        RunDesign(
            40, c.side,
            [&](CCodebookDesignDlg *d) {
                EXPECT_EQ(Enabled(d, {1237, 1238, 1239, 1240, 1149}), c.enabled);
                EXPECT_EQ(d->PendingParams().h, c.pending);
                EXPECT_EQ(ModuleHarness::IsChecked(d, c.pending == 2 ? 1237 : 1238), true);
            },
            &codebook);
    }
}

TEST_F(DesignTest, RateRowsKeepTheRangeInOrder)
{
    ZnImage codebook;
    RunDesign(
        64, 64,
        [](CCodebookDesignDlg *d) {
            ModuleHarness::Click(d, kMinIds[4]); // min 5
            for (int i = 0; i < 12; ++i)
                EXPECT_EQ(ModuleHarness::IsEnabled(d, kMaxIds[i]), i >= 4) << i;
            ModuleHarness::Click(d, kMaxIds[5]); // max 6
            for (int i = 0; i < 12; ++i)
                EXPECT_EQ(ModuleHarness::IsEnabled(d, kMinIds[i]), i <= 5) << i;
            ModuleHarness::Click(d, kMaxIds[11]); // max 12 opens every minimum again
            for (int i = 0; i < 12; ++i)
                EXPECT_TRUE(ModuleHarness::IsEnabled(d, kMinIds[i])) << i;
            EXPECT_EQ(d->PendingParams().rmin, 5);
            EXPECT_EQ(d->PendingParams().rmax, 12);
        },
        &codebook);
}

TEST_F(DesignTest, ApplyIsOfferedWhenTheParametersChanged)
{
    ZnImage codebook;
    RunDesign(
        16, 16,
        [](CCodebookDesignDlg *d) {
            ModuleHarness::Click(d, kMaxIds[2]); // 1..3: a quick design
            ModuleHarness::Click(d, kDesignApply);
            EXPECT_FALSE(ModuleHarness::IsEnabled(d, kDesignApply));
            EXPECT_EQ(d->AppliedParams(), d->PendingParams());
            ModuleHarness::Click(d, 1267); // the pending value again: nothing
            EXPECT_FALSE(ModuleHarness::IsEnabled(d, kDesignApply));
            ModuleHarness::Click(d, 1266); // 30 iterations
            EXPECT_TRUE(ModuleHarness::IsEnabled(d, kDesignApply));
            ModuleHarness::Click(d, 1267); // back to what was applied
            EXPECT_FALSE(ModuleHarness::IsEnabled(d, kDesignApply));
            for (int id : {1272, 1270, 1232, 1240, 1245}) {
                ModuleHarness::Click(d, id);
                EXPECT_TRUE(ModuleHarness::IsEnabled(d, kDesignApply)) << id;
            }
        },
        &codebook);
    // "11" and "12" always offer Apply; the other rates only when the range differs.
    RunDesign(
        16, 16,
        [](CCodebookDesignDlg *d) {
            ModuleHarness::Click(d, kMaxIds[2]);
            ModuleHarness::Click(d, kDesignApply);
            ASSERT_FALSE(ModuleHarness::IsEnabled(d, kDesignApply));
            ModuleHarness::Click(d, kMaxIds[11]);
            EXPECT_TRUE(ModuleHarness::IsEnabled(d, kDesignApply));
            ModuleHarness::Click(d, kMaxIds[2]);
            EXPECT_FALSE(ModuleHarness::IsEnabled(d, kDesignApply));
            ModuleHarness::Click(d, kMaxIds[11]);
            ModuleHarness::Click(d, kMinIds[10]);
            EXPECT_TRUE(ModuleHarness::IsEnabled(d, kDesignApply));
            ModuleHarness::Click(d, kMinIds[0]);
            EXPECT_TRUE(ModuleHarness::IsEnabled(d, kDesignApply));
            ModuleHarness::Click(d, kMaxIds[2]);
            EXPECT_FALSE(ModuleHarness::IsEnabled(d, kDesignApply));
        },
        &codebook);
}

TEST_F(DesignTest, ApplySaveAndOk)
{
    ZnImage codebook;
    const std::string userDir = theApp.m_sUserDir.toStdString();
    const std::string path = userDir + "picture_4x4_min1_max8.cbk";
    files.answers = {path};
    const int result = RunDesign(
        64, 64,
        [&](CCodebookDesignDlg *d) {
            zn::PinRandSeed(1);
            ModuleHarness::Click(d, kDesignApply);
            EXPECT_TRUE(
                Log(d).ends_with(" New Codebook creation completed\r\n Save the new Codebook and push the OK "
                                 "button to use it to encode the current image"))
                << Log(d);
            EXPECT_EQ(Log(d).rfind(" Bitrate :8\tNumber of vectors :256\r\n\r\n Iteration :(0)", 0), 0u);
            EXPECT_TRUE(ModuleHarness::IsEnabled(d, kSave));
            EXPECT_FALSE(ModuleHarness::IsEnabled(d, IDOK));
            ModuleHarness::Click(d, kSave);
            ASSERT_EQ(files.requests.size(), 1u);
            const ModuleFileRequest &r = files.requests[0];
            EXPECT_TRUE(r.save);
            EXPECT_EQ(r.title.toStdString(), "Save the Current Codebook As...");
            EXPECT_EQ(r.initialDir.toStdString(), userDir);
            EXPECT_EQ(r.initialName.toStdString(), "picture_4x4_min1_max8.cbk");
            EXPECT_EQ(r.filter.toStdString(), "Codebook File (*.cbk)|*.cbk||");
            EXPECT_TRUE(ModuleHarness::IsEnabled(d, IDOK));
            // OK stays once a codebook was saved, also after another design.
            ModuleHarness::Click(d, kMaxIds[3]);
            ModuleHarness::Click(d, kDesignApply);
            EXPECT_TRUE(ModuleHarness::IsEnabled(d, IDOK));
            ModuleHarness::Click(d, IDOK);
        },
        &codebook);
    zn::UnpinRandSeed();
    EXPECT_EQ(result, IDOK);
    // The dialog hands back the last design (rates 1..4) as floats; the file holds the first one.
    VqCodebookHeader hd;
    EXPECT_EQ(VqReadHeader(codebook, &hd), "");
    EXPECT_EQ(hd.rmax, 4);
    EXPECT_EQ(codebook.Cols(), 16 * 4 + 4);
    CDib file;
    ASSERT_GT(file.LoadDibFile(path, true), 0);
    EXPECT_EQ(file.GetWidth(), 1028);
    EXPECT_EQ(file.GetHeight(), 32);
}

TEST_F(DesignTest, CancelAndFailedSaves)
{
    ZnImage codebook;
    files.answers = {"", "/nonexistent-folder/x.cbk"};
    const int result = RunDesign(
        16, 16,
        [&](CCodebookDesignDlg *d) {
            ModuleHarness::Click(d, kMaxIds[1]);
            ModuleHarness::Click(d, kDesignApply);
            ModuleHarness::Click(d, kSave); // cancelled
            EXPECT_FALSE(ModuleHarness::IsEnabled(d, IDOK));
            EXPECT_TRUE(messages.Texts().empty());
            ModuleHarness::Click(d, kSave); // cannot be written: the reader is told
            EXPECT_EQ(messages.Count(), 1u);
            EXPECT_NE(messages.Texts()[0].find("/nonexistent-folder/x.cbk"), std::string::npos);
            ModuleHarness::Click(d, IDCANCEL);
        },
        &codebook);
    EXPECT_EQ(result, IDCANCEL);
}

// The Codebook page: a design ended with OK becomes the codebook, window A shows it under the
// document's title, and a cancelled design leaves the loaded one.
TEST_F(DesignTest, TheCodebookPageAdoptsADesign)
{
    Open("house", *Photo(64, 48));
    Load(SaveCodebook("loaded.cbk", *MakeCodebook(4, 4, 1, 5, FlatLevel)));
    ASSERT_NE(doc->m_pResultFrameA, nullptr);
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameA), "CODEBOOK IMAGE: loaded");
    const ZnImage *loaded = dlg->CodebookPage()->CodebookImage();

    zntest::WhenModal<CCodebookDesignDlg>([](CCodebookDesignDlg *d) { ModuleHarness::Click(d, IDCANCEL); });
    ModuleHarness::Click(dlg, CVqCodebookDlg::IDC_CREATE);
    EXPECT_EQ(dlg->CodebookPage()->CodebookImage(), loaded);

    files.answers = {h.Dir().File("designed.cbk")};
    zntest::WhenModal<CCodebookDesignDlg>([](CCodebookDesignDlg *d) {
        ModuleHarness::Click(d, 1232); // 8 wide
        ModuleHarness::Click(d, 2170); // rates 1..3
        ModuleHarness::Click(d, kDesignApply);
        ModuleHarness::Click(d, kSave);
        ModuleHarness::Click(d, IDOK);
    });
    ModuleHarness::Click(dlg, CVqCodebookDlg::IDC_CREATE);
    EXPECT_NE(dlg->CodebookPage()->CodebookImage(), loaded);
    EXPECT_EQ(dlg->PendingCodebook(), dlg->CodebookPage()->CodebookImage());
    EXPECT_EQ(ModuleHarness::Caption(doc->m_pResultFrameA), "CODEBOOK IMAGE for house");
    EXPECT_EQ(ModuleHarness::ImageName(doc->m_pResultFrameA), "No_name_codebook");
    EXPECT_EQ(GroupText(dlg), "Set Bits per 8x4 Vector");
    EXPECT_EQ(dlg->PendingBits(), 2);
    Apply();
    EXPECT_EQ(ModuleHarness::ChainImageName(doc), "VQ_house_2_No");
    EXPECT_EQ(zntest::ReportedMeasure(Text(), "  Coded Bitrate\t\t:"), 0.06);
}

} // namespace
} // namespace vqtest
