// The H.264 encoder dialog on a raw YUV document: the pages and the values they set, the limits one
// page sets for another, the settings file Apply writes, the input it hands the encoder, and the
// result text and source frames the run's reports produce. The run here is a scripted stand-in that
// reads the settings file and reports as the encoder does.
#include "modules/module_harness.h"

#include "modules/keyboard_user.h"

#include "h264enc/settings_file.h"
#include "h264enc/ui/h264enc_dlg.h"
#include "h264enc/ui/h264enc_pages.h"
#include "image/cdib.h"
#include "modules/common/file_dialog.h"
#include "platform/errors.h"
#include "platform/keypoll.h"
#include "platform/messages.h"
#include "shell/compression_app.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/doc_commands.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QtTest/QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace h264enc_dlg_test { // one namespace per test file: a folder compiles as one source

using zntest::ModuleHarness;
namespace enc = h264enc;

namespace {

// Luminance of picture f (0 first) at (x, y): a ramp moving right by 5 levels per picture.
int Luma(int x, int y, int f)
{
    return (3 * x + 2 * y + 5 * f) & 255;
}

// A sequence file with its header; chroma 2 is planar 4:2:0, 1 planar 4:2:2, 0 Y only. Chroma rows
// repeat, so a vertical chroma filter that keeps flat areas flat leaves them as they are; grey
// sequences (chroma 128) show their luminance in every colour channel.
void WriteSequence(const std::string &path, int width, int height, int frames, int chroma, int extra,
                   bool grey)
{
    std::ofstream out(path, std::ios::binary);
    for (int f = 0; f < frames; ++f) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                out.put(static_cast<char>(Luma(x, y, f)));
        const int chromaRows = chroma == 2 ? height / 2 : chroma == 1 ? height : 0;
        for (int plane = 0; plane < 2; ++plane)
            for (int y = 0; y < chromaRows; ++y)
                for (int x = 0; x < width / 2; ++x)
                    out.put(static_cast<char>(grey ? 128 : plane == 0 ? 100 + x : 160 - x));
        for (int e = 0; e < extra; ++e)
            out.put('\x55');
    }
    std::ofstream hdr(path.substr(0, path.rfind('.')) + ".hdr");
    hdr << height << "\n" << width << "\n1\n" << chroma << "\n" << frames << "\n" << extra << "\n";
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    for (std::string &line : lines)
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
    return lines;
}

std::string ReadText(const std::string &path)
{
    const std::vector<unsigned char> bytes = zntest::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

enc::H264FrameReport Report(int frame, const char *type, int bits, int qp, int intra = -1)
{
    enc::H264FrameReport r;
    r.source_frame = frame;
    r.type_letters = type;
    r.bits = bits;
    r.qp = qp;
    r.snr_y = 38.25f;
    r.snr_u = 41.04f;
    r.snr_v = 40.96f;
    r.milliseconds = 12;
    r.intra_mbs = intra;
    return r;
}

struct H264encDlgFixture : ::testing::Test
{
    void SetUp() override
    {
        RegisterH264EncoderModule();
        oldFileHook = SetModuleFileDialogHook([this](const ModuleFileRequest &r) {
            requests.push_back(r);
            return answer;
        });
        oldRun = SetH264EncoderRun([this](const std::string &settings, enc::H264EncoderHost *host) {
            ++runs;
            settingsPath = settings;
            settingsText = ReadText(settings);
            if (script)
                script(host);
        });
        oldHelp = zn::SetHelpHandler([this](int id) { helpIds.push_back(id); });
    }
    void TearDown() override
    {
        SetModuleFileDialogHook(oldFileHook);
        SetH264EncoderRun(oldRun);
        zn::SetHelpHandler(oldHelp);
    }
    CH264encDlg *Open(int width, int height, int frames, int chroma = 2, int extra = 0,
                      const std::string &name = "seq.yuv", bool grey = false)
    {
        sequence = h.Dir().File(name);
        WriteSequence(sequence, width, height, frames, chroma, extra, grey);
        doc = CDibDoc::OpenDocumentFile(QString::fromStdString(sequence));
        EXPECT_NE(doc, nullptr);
        return doc ? h.Open<CH264encDlg>(doc, zn::cmd::kH264Encoder) : nullptr;
    }
    // Names the output stream through the File page's save dialog.
    void ChooseFile(CH264encDlg *dlg, const std::string &path)
    {
        answer = QString::fromStdString(path);
        ModuleHarness::Click(dlg->FilePage(), CH264encFileDlg::IDC_SAVE_AS);
    }
    CH264encDlg *OpenWithFile(int width, int height, int frames, int chroma = 2, int extra = 0,
                              const std::string &name = "seq.yuv", bool grey = false)
    {
        CH264encDlg *dlg = Open(width, height, frames, chroma, extra, name, grey);
        if (dlg)
            ChooseFile(dlg, h.Dir().File("out.264"));
        return dlg;
    }
    std::vector<bool> Tabs(CH264encDlg *dlg) const
    {
        std::vector<bool> t;
        for (int i = 0; i < dlg->TabCtrl()->GetItemCount(); ++i)
            t.push_back(dlg->TabCtrl()->IsTabEnabled(i));
        return t;
    }
    // The values of the file Apply wrote, read back as the encoder reads them.
    enc::EncoderParams Written() const
    {
        enc::EncoderParams p;
        enc::parse_settings_into(settingsText, p);
        return p;
    }
    // Steps a page's spinner as the arrows do.
    static void Step(CH264encSpinPage *page, int steps)
    {
        for (int n = 0; n < std::abs(steps); ++n)
            page->Spin()->stepBy(steps > 0 ? 1 : -1);
    }
    static int Shown(CH264encSpinPage *page) { return page->Edit()->text().toInt(); }

    zn::MessageRecorder messages;
    ModuleHarness h;
    CDibDoc *doc = nullptr;
    std::string sequence;
    QString answer;
    std::vector<ModuleFileRequest> requests;
    ModuleFileDialogHook oldFileHook;
    H264EncoderRun oldRun;
    int runs = 0;
    std::string settingsPath, settingsText;
    std::function<void(enc::H264EncoderHost *)> script;
    zn::HelpHandler oldHelp;
    std::vector<int> helpIds;
};

TEST_F(H264encDlgFixture, OnlyTheFilePageUntilAStreamIsNamedWhosePathKeepsItsCase)
{
    CH264encDlg *dlg = Open(48, 32, 4);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle().toStdString(), "H.264 Encoder: seq");
    EXPECT_EQ(doc->m_pH264encDlg, dlg);
    // Pages in tab order, with their templates; the SP frames page is never made.
    const std::vector<std::pair<std::string, int>> tabs = {
        {"File", 292},       {"IntraFrame", 298},    {"IntraFrame cont", 300},
        {"InterFrame", 299}, {"Inter Search", 294},  {"Inter Search Modes", 293},
        {"B-Frames", 295},   {"Entropy Coding", 297}};
    ASSERT_EQ(dlg->TabCtrl()->GetItemCount(), static_cast<int>(tabs.size()));
    for (size_t i = 0; i < tabs.size(); ++i) {
        const int index = static_cast<int>(i);
        EXPECT_EQ(dlg->TabCtrl()->GetTabText(index).toStdString(), tabs[i].first);
        auto *page = dynamic_cast<CModulePage *>(dlg->TabCtrl()->GetPage(index));
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->IDD(), tabs[i].second);
        EXPECT_EQ(page->GetOwner(), dlg);
    }
    EXPECT_TRUE(dlg->findChildren<CH264encSPFramesDlg *>().isEmpty());
    const std::vector<bool> onlyFile = {true, false, false, false, false, false, false, false};
    EXPECT_EQ(Tabs(dlg), onlyFile);
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, CH264encDlg::IDC_APPLY));

    // A cancelled save dialog changes nothing.
    answer.clear();
    ModuleHarness::Click(dlg->FilePage(), CH264encFileDlg::IDC_SAVE_AS);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].save);
    EXPECT_EQ(requests[0].title.toStdString(), "Save the H.264 Video Stream As ...");
    EXPECT_EQ(requests[0].filter.toStdString(), "H.264 Stream (*.264)|*.264||");
    EXPECT_EQ(requests[0].initialName.toStdString(), "seq.264");
    EXPECT_EQ(requests[0].initialDir.toStdString(), h.Dir().Path());
    EXPECT_EQ(requests[0].defaultSuffix.toStdString(), "264");
    EXPECT_EQ(Tabs(dlg), onlyFile);
    EXPECT_FALSE(dlg->HasSequenceReader());

    // A name the settings file cannot carry is refused with a message.
    for (const char *bad : {"a#b.264", "a\"b.264"}) {
        messages.Clear();
        ChooseFile(dlg, h.Dir().File(bad));
        EXPECT_EQ(messages.Count(), 1u) << bad;
        EXPECT_EQ(Tabs(dlg), onlyFile) << bad;
        EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, CH264encDlg::IDC_APPLY));
    }

    // Named: the path reaches the dialog in its own case; the sequence's sizes are taken.
    messages.Clear();
    const std::string named = h.Dir().File("Clips/MyStream.264");
    ChooseFile(dlg, named);
    EXPECT_EQ(messages.Count(), 0u);
    EXPECT_EQ(dlg->m_values.output_file, named);
    EXPECT_EQ(dlg->FilePage()->m_sFileName.toStdString(), "MyStream.264");
    EXPECT_EQ(Tabs(dlg), std::vector<bool>(8, true));
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, CH264encDlg::IDC_APPLY));
    EXPECT_TRUE(dlg->HasSequenceReader());
    EXPECT_EQ(dlg->m_values.input_file, sequence);
    EXPECT_EQ(dlg->m_values.width, 48);
    EXPECT_EQ(dlg->m_values.height, 32);
    EXPECT_EQ(dlg->m_values.sequence_frames, 4);
    EXPECT_EQ(dlg->m_nMacroblocks, 6);
    EXPECT_EQ(dlg->m_nPicturesToCode, 2); // (4 - 1) / 2 + 1
    // Every tab can be brought forward; the tab rows stay inside their control.
    EXPECT_LE(dlg->TabCtrl()->TabBar()->width(), dlg->TabCtrl()->width());
    for (int i = 0; i < 8; ++i) {
        dlg->TabCtrl()->SelectTab(i);
        EXPECT_EQ(dlg->TabCtrl()->GetCurSel(), i);
    }
}

TEST_F(H264encDlgFixture, PagesIgnoreEnterAndEscapeAndAskTheDialogForHelp)
{
    CH264encDlg *dlg = OpenWithFile(32, 32, 3);
    ASSERT_NE(dlg, nullptr);
    for (int i = 0; i < 8; ++i) {
        QWidget *page = dlg->TabCtrl()->GetPage(i);
        dlg->TabCtrl()->SelectTab(i);
        QTest::keyClick(page, Qt::Key_Return);
        QTest::keyClick(page, Qt::Key_Escape);
        EXPECT_TRUE(dlg->isVisible()) << i;
        EXPECT_EQ(doc->m_pH264encDlg, dlg) << i;
        QTest::keyClick(page, Qt::Key_F1);
    }
    EXPECT_EQ(helpIds, std::vector<int>(8, kHelpContextBase + CH264encDlg::IDD));
    // The document-attached notice changes nothing; Cancel forgets the dialog and hides it.
    dlg->SendMessage(WM_DOCUMENT_ATTACHED);
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, CH264encDlg::IDC_APPLY));
    ModuleHarness::Click(dlg, IDCANCEL);
    EXPECT_EQ(doc->m_pH264encDlg, nullptr);
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(H264encDlgFixture, SimplePagesSetTheirSettings)
{
    CH264encDlg *dlg = OpenWithFile(32, 32, 3);
    ASSERT_NE(dlg, nullptr);
    int notices = 0;
    for (int i = 0; i < 8; ++i)
        QObject::connect(static_cast<CModulePage *>(dlg->TabCtrl()->GetPage(i)), &CModulePage::Notify, dlg,
                         [&notices](int) { ++notices; });

    // Inter Search: every button sets its range, and the chosen one tells the dialog again.
    for (const CH264encSearchDlg::Choice &c : CH264encSearchDlg::kChoices) {
        ModuleHarness::Click(dlg->SearchPage(), c.id);
        EXPECT_EQ(dlg->m_values.SearchRange, c.range) << c.id;
    }
    notices = 0;
    ModuleHarness::Click(dlg->SearchPage(), 2001);
    ModuleHarness::Click(dlg->SearchPage(), 2001);
    EXPECT_EQ(notices, 2);
    EXPECT_EQ(dlg->m_values.SearchRange, 16);

    // Inter Search Modes: each box is its own key.
    const struct
    {
        int id;
        int enc::SettingsDialogValues::*key;
    } modes[7] = {{2014, &enc::SettingsDialogValues::InterSearch16x16},
                  {2015, &enc::SettingsDialogValues::InterSearch16x8},
                  {2016, &enc::SettingsDialogValues::InterSearch8x16},
                  {2017, &enc::SettingsDialogValues::InterSearch8x8},
                  {2018, &enc::SettingsDialogValues::InterSearch8x4},
                  {2020, &enc::SettingsDialogValues::InterSearch4x8},
                  {2019, &enc::SettingsDialogValues::InterSearch4x4}};
    for (const auto &m : modes) {
        EXPECT_TRUE(ModuleHarness::IsChecked(dlg->SearchModesPage(), m.id));
        ModuleHarness::Click(dlg->SearchModesPage(), m.id);
        for (const auto &other : modes)
            EXPECT_EQ(dlg->m_values.*other.key, other.id == m.id ? 0 : 1) << m.id << " " << other.id;
        ModuleHarness::Click(dlg->SearchModesPage(), m.id);
        EXPECT_EQ(dlg->m_values.*m.key, 1);
    }

    // Entropy Coding: only a change of method tells the dialog.
    notices = 0;
    ModuleHarness::Click(dlg->EntropyPage(), CH264encEntropyDlg::IDC_CABAC);
    EXPECT_EQ(notices, 0);
    ModuleHarness::Click(dlg->EntropyPage(), CH264encEntropyDlg::IDC_UVLC);
    EXPECT_EQ(dlg->m_values.SymbolMode, 0);
    ModuleHarness::Click(dlg->EntropyPage(), CH264encEntropyDlg::IDC_UVLC);
    EXPECT_EQ(notices, 1);
    ModuleHarness::Click(dlg->EntropyPage(), CH264encEntropyDlg::IDC_CABAC);
    EXPECT_EQ(dlg->m_values.SymbolMode, 1);

    // IntraFrame cont: clearing "Use inter-pixels for prediction" constrains intra prediction.
    EXPECT_TRUE(ModuleHarness::IsChecked(dlg->IntraContPage(), CH264encIntraContDlg::IDC_INTER_PIXELS));
    ModuleHarness::Click(dlg->IntraContPage(), CH264encIntraContDlg::IDC_INTER_PIXELS);
    EXPECT_EQ(dlg->m_values.UseConstrainedIntraPred, 1);
    EXPECT_EQ(dlg->m_values.UseHadamard, 1);
    ModuleHarness::Click(dlg->IntraContPage(), CH264encIntraContDlg::IDC_HADAMARD);
    EXPECT_EQ(dlg->m_values.UseHadamard, 0);
    ModuleHarness::Click(dlg->IntraContPage(), CH264encIntraContDlg::IDC_INTER_PIXELS);
    EXPECT_EQ(dlg->m_values.UseConstrainedIntraPred, 0);
}

TEST_F(H264encDlgFixture, SpinnerPagesEditTheValueTheirRadioChooses)
{
    // 59 frames, every other one coded: 30 I/P pictures, 15 macroblocks a picture.
    CH264encDlg *dlg = OpenWithFile(80, 48, 59);
    ASSERT_NE(dlg, nullptr);
    ASSERT_EQ(dlg->m_nPicturesToCode, 30);
    CH264encIntraDlg *intra = dlg->IntraPage();
    CH264encInterDlg *inter = dlg->InterPage();
    CH264encBFramesDlg *bframes = dlg->BFramesPage();
    const struct
    {
        CH264encSpinPage *page;
        int radio;
        const char *group;
        int low, high, shown;
    } cases[] = {
        {intra, CH264encIntraDlg::IDC_QP_FIRST, "Set QP for First Frame (Intra)", 0, 51, 28},
        {intra, CH264encIntraDlg::IDC_QP_REMAIN, "Set QP for Other Frames", 0, 51, 28},
        {intra, CH264encIntraDlg::IDC_I_FRAMES, "Set Period of I-Frames (0=Only First)", 0, 29, 0},
        {inter, CH264encInterDlg::IDC_SKIP, "Set #Frames to be Skipped", 0, 58, 1},
        {inter, CH264encInterDlg::IDC_INTRA_MB, "Set #Forced Intra-MBs Per Frame", 0, 15, 0},
        {inter, CH264encInterDlg::IDC_REFERENCE, "Set #Previous Frames Used", 1, 5, 1},
        {bframes, CH264encBFramesDlg::IDC_QP, "Set QP for B frames", 0, 51, 30},
        {bframes, CH264encBFramesDlg::IDC_B_FRAMES, "Number of B Frames", 0, 1, 1},
    };
    for (const auto &c : cases) {
        ModuleHarness::Click(c.page, c.radio);
        EXPECT_EQ(c.page->Group()->title().toStdString(), c.group);
        EXPECT_EQ(c.page->Spin()->minimum(), c.low) << c.group;
        EXPECT_EQ(c.page->Spin()->maximum(), c.high) << c.group;
        EXPECT_EQ(Shown(c.page), c.shown) << c.group;
    }

    // Each value goes to its own key.
    ModuleHarness::Click(intra, CH264encIntraDlg::IDC_I_FRAMES);
    Step(intra, 29);
    Step(intra, 3);
    EXPECT_EQ(dlg->m_values.IntraPeriod, 29);
    ModuleHarness::Click(intra, CH264encIntraDlg::IDC_QP_FIRST);
    Step(intra, -8);
    ModuleHarness::Click(intra, CH264encIntraDlg::IDC_QP_REMAIN);
    Step(intra, 12);
    EXPECT_EQ(dlg->m_values.QPFirstFrame, 20);
    EXPECT_EQ(dlg->m_values.QPRemainingFrame, 40);
    EXPECT_EQ(dlg->m_values.IntraPeriod, 29);
    ModuleHarness::Click(inter, CH264encInterDlg::IDC_INTRA_MB);
    Step(inter, 20);
    ModuleHarness::Click(inter, CH264encInterDlg::IDC_REFERENCE);
    Step(inter, 2);
    EXPECT_EQ(dlg->m_values.RandomIntraMBRefresh, 15);
    EXPECT_EQ(dlg->m_values.NumberReferenceFrames, 3);
    ModuleHarness::Click(bframes, CH264encBFramesDlg::IDC_QP);
    Step(bframes, 5);
    EXPECT_EQ(dlg->m_values.QPBPicture, 35);
    EXPECT_EQ(dlg->m_values.NumberBFrames, 1);

    // Direct mode: the spinner gives way to the two types; only a change tells the dialog.
    ModuleHarness::Click(bframes, CH264encBFramesDlg::IDC_DIRECT);
    EXPECT_EQ(bframes->Group()->title().toStdString(), "Set Direct Mode Type");
    EXPECT_FALSE(bframes->Spin()->isVisibleTo(bframes));
    EXPECT_TRUE(bframes->GetDlgItem(CH264encBFramesDlg::IDC_TEMPORAL)->isVisibleTo(bframes));
    EXPECT_TRUE(ModuleHarness::IsChecked(bframes, CH264encBFramesDlg::IDC_SPATIAL));
    int notices = 0;
    QObject::connect(bframes, &CModulePage::Notify, dlg, [&notices](int) { ++notices; });
    ModuleHarness::Click(bframes, CH264encBFramesDlg::IDC_SPATIAL);
    EXPECT_EQ(notices, 0);
    ModuleHarness::Click(bframes, CH264encBFramesDlg::IDC_TEMPORAL);
    EXPECT_EQ(dlg->m_values.DirectModeType, 0);
    EXPECT_FALSE(ModuleHarness::IsChecked(bframes, CH264encBFramesDlg::IDC_SPATIAL));
    EXPECT_EQ(notices, 1);
    ModuleHarness::Click(bframes, CH264encBFramesDlg::IDC_B_FRAMES);
    EXPECT_TRUE(bframes->Spin()->isVisibleTo(bframes));
    EXPECT_FALSE(bframes->GetDlgItem(CH264encBFramesDlg::IDC_TEMPORAL)->isVisibleTo(bframes));
    EXPECT_EQ(dlg->m_values.DirectModeType, 0);
}

TEST_F(H264encDlgFixture, FramesSkippedLimitTheBFramesAndTheIntraPeriod)
{
    // 10 frames, every other one coded: 5 I/P pictures.
    CH264encDlg *dlg = OpenWithFile(32, 32, 10);
    ASSERT_NE(dlg, nullptr);
    CH264encIntraDlg *intra = dlg->IntraPage();
    CH264encInterDlg *inter = dlg->InterPage();
    CH264encBFramesDlg *bframes = dlg->BFramesPage();
    Step(intra, 6);
    EXPECT_EQ(dlg->m_values.IntraPeriod, 4);
    ModuleHarness::Click(inter, CH264encInterDlg::IDC_SKIP);

    // Two, then three skipped frames: (10 - 1) / 3 + 1 = 4, then (10 - 1) / 4 + 1 = 3 I/P pictures, so
    // the period drops to 3, then to 2.
    Step(inter, 1);
    EXPECT_EQ(dlg->m_values.IntraPeriod, 3);
    Step(inter, 1);
    EXPECT_EQ(dlg->m_values.FrameSkip, 3);
    EXPECT_EQ(dlg->m_nPicturesToCode, 3);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>(2, "Period of I-Frames Changed"));
    EXPECT_EQ(dlg->m_values.IntraPeriod, 2);
    EXPECT_EQ(intra->m_nPeriod, 2);
    EXPECT_EQ(Shown(intra), 2);

    // Room for three B pictures now: the B-frame spinner renews its range before it steps.
    Step(bframes, 5);
    EXPECT_EQ(dlg->m_values.NumberBFrames, 3);

    // The B-frame spinner shows the quantiser: lowering the count must not move that number.
    ModuleHarness::Click(bframes, CH264encBFramesDlg::IDC_QP);
    messages.Clear();
    Step(inter, -2);
    EXPECT_EQ(dlg->m_values.FrameSkip, 1);
    EXPECT_EQ(
        messages.Texts(),
        std::vector<std::string>(2, "Number of B Frames Changed - Cannot exceed number of skipped frames !"));
    EXPECT_EQ(dlg->m_values.NumberBFrames, 1);
    EXPECT_EQ(bframes->m_nBFrames, 1);
    EXPECT_EQ(Shown(bframes), 30);
    EXPECT_EQ(dlg->m_values.QPBPicture, 30);

    // No skipped frame: no B picture, and the count's spinner shows it.
    ModuleHarness::Click(bframes, CH264encBFramesDlg::IDC_B_FRAMES);
    messages.Clear();
    Step(inter, -1);
    EXPECT_EQ(dlg->m_values.FrameSkip, 0);
    EXPECT_EQ(dlg->m_values.NumberBFrames, 0);
    EXPECT_EQ(Shown(bframes), 0);
    EXPECT_EQ(messages.Count(), 1u);

    // The I-frame spinner shows a quantiser while the period is lowered: its number stays.
    ModuleHarness::Click(intra, CH264encIntraDlg::IDC_I_FRAMES);
    Step(intra, 9);
    EXPECT_EQ(dlg->m_values.IntraPeriod, 9);
    ModuleHarness::Click(intra, CH264encIntraDlg::IDC_QP_REMAIN);
    messages.Clear();
    Step(inter, 4);
    EXPECT_EQ(dlg->m_values.IntraPeriod, 1); // (10 - 1) / 5 + 1 = 2 pictures
    EXPECT_EQ(messages.Texts(), std::vector<std::string>(4, "Period of I-Frames Changed"));
    EXPECT_EQ(Shown(intra), 28);
    EXPECT_EQ(dlg->m_values.QPRemainingFrame, 28);
    ModuleHarness::Click(intra, CH264encIntraDlg::IDC_I_FRAMES);
    EXPECT_EQ(Shown(intra), 1);
    EXPECT_EQ(intra->Spin()->maximum(), 1);
}

TEST_F(H264encDlgFixture, TheSPFramesPageStandsAloneWithTheSameSpinner)
{
    int pictures = 30;
    CH264encSPFramesDlg page([&pictures] { return pictures; }, nullptr);
    int notices = 0;
    QObject::connect(&page, &CModulePage::Notify, &page, [&notices](int m) {
        EXPECT_EQ(m, WM_H264ENC_SPFRAMES);
        ++notices;
    });
    EXPECT_EQ(page.Group()->title().toStdString(), "Set Number of SP Frames");
    ModuleHarness::Click(&page, CH264encSPFramesDlg::IDC_SP_FRAMES);
    EXPECT_EQ(page.Group()->title().toStdString(), "Set SP-Picture Periodicity");
    Step(&page, 40);
    EXPECT_EQ(page.m_nPeriod, 29);
    // A smaller frame count takes effect at the next step.
    pictures = 10;
    Step(&page, 1);
    EXPECT_EQ(page.m_nPeriod, 9);
    ModuleHarness::Click(&page, CH264encSPFramesDlg::IDC_QP_BLOCK);
    EXPECT_EQ(page.Group()->title().toStdString(), "Set QP for Predicted Blocks");
    Step(&page, 1);
    ModuleHarness::Click(&page, CH264encSPFramesDlg::IDC_QP_ERROR);
    EXPECT_EQ(page.Group()->title().toStdString(), "Set QP for Prediction Error");
    Step(&page, -1);
    EXPECT_EQ(page.m_nQPBlock, 28);
    EXPECT_EQ(page.m_nQPError, 27);
    EXPECT_EQ(notices, 29 + 1 + 1 + 1);
}

TEST_F(H264encDlgFixture, ApplyWritesTheSettingsOfThePagesAndRunsTheEncoder)
{
    CH264encDlg *dlg = OpenWithFile(64, 48, 10);
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg->IntraPage(), CH264encIntraDlg::IDC_I_FRAMES);
    Step(dlg->IntraPage(), 3);
    ModuleHarness::Click(dlg->IntraPage(), CH264encIntraDlg::IDC_QP_FIRST);
    Step(dlg->IntraPage(), -4);
    ModuleHarness::Click(dlg->IntraPage(), CH264encIntraDlg::IDC_QP_REMAIN);
    Step(dlg->IntraPage(), 2);
    ModuleHarness::Click(dlg->IntraContPage(), CH264encIntraContDlg::IDC_HADAMARD);
    ModuleHarness::Click(dlg->IntraContPage(), CH264encIntraContDlg::IDC_INTER_PIXELS);
    ModuleHarness::Click(dlg->InterPage(), CH264encInterDlg::IDC_REFERENCE);
    Step(dlg->InterPage(), 1);
    ModuleHarness::Click(dlg->InterPage(), CH264encInterDlg::IDC_SKIP);
    Step(dlg->InterPage(), 1);
    ModuleHarness::Click(dlg->InterPage(), CH264encInterDlg::IDC_INTRA_MB);
    Step(dlg->InterPage(), 3);
    ModuleHarness::Click(dlg->SearchPage(), 2026);
    ModuleHarness::Click(dlg->SearchModesPage(), CH264encSearchModesDlg::IDC_8x4);
    ModuleHarness::Click(dlg->BFramesPage(), CH264encBFramesDlg::IDC_B_FRAMES);
    Step(dlg->BFramesPage(), 1);
    ModuleHarness::Click(dlg->BFramesPage(), CH264encBFramesDlg::IDC_QP);
    Step(dlg->BFramesPage(), -2);
    ModuleHarness::Click(dlg->BFramesPage(), CH264encBFramesDlg::IDC_DIRECT);
    ModuleHarness::Click(dlg->BFramesPage(), CH264encBFramesDlg::IDC_TEMPORAL);
    ModuleHarness::Click(dlg->EntropyPage(), CH264encEntropyDlg::IDC_UVLC);
    ASSERT_EQ(messages.Count(), 0u);

    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    ASSERT_EQ(runs, 1);
    EXPECT_EQ(settingsPath, h.Dir().File("H264EncoderSettings.cfg"));
    // 73 settings, in groups parted by empty lines.
    size_t settings = 0;
    for (const std::string &line : Lines(settingsText))
        settings += line.empty() ? 0 : 1;
    EXPECT_EQ(settings, 73u);
    const enc::EncoderParams p = Written();
    EXPECT_EQ(p.InputFile, sequence);
    EXPECT_EQ(p.OutputFile, h.Dir().File("out.264"));
    EXPECT_EQ(p.SourceWidth, 64);
    EXPECT_EQ(p.SourceHeight, 48);
    EXPECT_EQ(p.FramesToBeEncoded, 4); // (10 - 1) / 3 + 1
    EXPECT_EQ(p.FrameSkip, 2);
    EXPECT_EQ(p.IntraPeriod, 3);
    EXPECT_EQ(p.QPFirstFrame, 24);
    EXPECT_EQ(p.QPRemainingFrame, 30);
    EXPECT_EQ(p.UseHadamard, 0);
    EXPECT_EQ(p.UseConstrainedIntraPred, 1);
    EXPECT_EQ(p.NumberReferenceFrames, 2);
    EXPECT_EQ(p.RandomIntraMBRefresh, 3);
    EXPECT_EQ(p.SearchRange, 20);
    EXPECT_EQ(std::vector<int>({p.InterSearch16x16, p.InterSearch16x8, p.InterSearch8x16, p.InterSearch8x8,
                                p.InterSearch8x4, p.InterSearch4x8, p.InterSearch4x4}),
              std::vector<int>({1, 1, 1, 1, 0, 1, 1}));
    EXPECT_EQ(p.NumberBFrames, 2);
    EXPECT_EQ(p.QPBPicture, 28);
    EXPECT_EQ(p.DirectModeType, 0);
    EXPECT_EQ(p.SymbolMode, 0);
    // The SP values keep their starting ones.
    EXPECT_EQ(p.SPPicturePeriodicity, 0);
    EXPECT_EQ(p.QPSPPicture, 28);
    EXPECT_EQ(p.QPSP2Picture, 27);
    EXPECT_EQ(p.LeakyBucketParamFile, h.Dir().File("H264LeakyBucketParam.cfg"));
    EXPECT_EQ(ModuleHarness::ResultText(dlg, CH264encDlg::IDC_RESULTS),
              "Number of Frames\t\t: 10\r\nI/P frames to be Encoded\t: 4");
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, CH264encDlg::IDC_APPLY));
}

TEST_F(H264encDlgFixture, ReportsBuildTheResultTextAndShowEachSourceFrame)
{
    CH264encDlg *dlg = OpenWithFile(32, 32, 10, 2, 0, "seq.yuv", true);
    ASSERT_NE(dlg, nullptr);
    // The order a run with one B picture codes ten frames in.
    const int order[9] = {0, 2, 1, 4, 3, 6, 5, 8, 7};
    std::vector<std::string> titles;
    std::vector<int> shownLuma;
    script = [&](enc::H264EncoderHost *host) {
        for (int frame : order) {
            const bool b = frame % 2 == 1, i = frame == 0;
            host->h264enc_show_frame(Report(frame,
                                            i   ? "I"
                                            : b ? "B"
                                                : "P",
                                            1000 + frame, b ? 30 : 28, i || b ? -1 : frame));
            titles.push_back(doc->m_pMainFrame->windowTitle().toStdString());
            shownLuma.push_back(zntest::GreyAt(*doc->m_pDib, 5, 7));
        }
        enc::H264RunStatistics s;
        s.sequence_type = "IBPBP (QP: I 28, P 28, B 30)";
        s.snr_ya = 38.26f;
        s.snr_ua = 41.0f;
        s.snr_va = 40.94f;
        s.total_bits = 9036;
        s.bits_first_picture = 1000;
        s.bits_p = 4020;
        s.bits_b = 4016;
        s.picture_rate = 30.0f;
        s.kbit_per_second = 27.108f;
        host->h264enc_show_statistics(s);
        host->h264enc_append_text("\r\nEncoder mode selection");
    };
    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    ASSERT_EQ(runs, 1);
    const std::string text = ModuleHarness::ResultText(dlg, CH264encDlg::IDC_RESULTS);
    EXPECT_EQ(
        text.rfind("Number of Frames\t\t: 10\r\nI/P frames to be Encoded\t: 5\r\n\r\nDisplay Order\t:  1"
                   "\r\nBit Stream Order\t:  1\r\nPicture Type\t:  I\r\nBit Rate\t\t:  1000 (bits)"
                   "\r\nQuantizer Param.\t:  28\r\nSNR (Y)\t\t:  38.2 (dB)\r\nSNR (U)\t\t:  41.0 (dB)"
                   "\r\nSNR (V)\t\t:  41.0 (dB)\r\n\r\nDisplay Order\t:  3\r\nBit Stream Order\t:  2"
                   "\r\nPicture Type\t:  P\r\nBit Rate\t\t:  1002 (bits)\r\nQuantizer Param.\t:  28"
                   "\r\nSNR (Y)\t\t:  38.2 (dB)\r\nSNR (U)\t\t:  41.0 (dB)\r\nSNR (V)\t\t:  41.0 (dB)"
                   "\r\nIntra MBs\t\t:  2\r\n\r\nDisplay Order\t:  2\r\nBit Stream Order\t:  3",
                   0),
        0u)
        << text;
    // Display and bit-stream orders of every block; "Intra MBs" in the P blocks only.
    std::vector<int> display, stream;
    int intraLines = 0;
    for (const std::string &line : Lines(text)) {
        if (line.rfind("Display Order\t:  ", 0) == 0)
            display.push_back(std::stoi(line.substr(17)));
        if (line.rfind("Bit Stream Order\t:  ", 0) == 0)
            stream.push_back(std::stoi(line.substr(20)));
        if (line.rfind("Intra MBs", 0) == 0)
            ++intraLines;
    }
    EXPECT_EQ(display, (std::vector<int>{1, 3, 2, 5, 4, 7, 6, 9, 8}));
    EXPECT_EQ(stream, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(intraLines, 4);
    EXPECT_NE(
        text.find("\r\n\r\nH.264 ENCODING STATISTICS\r\nSequence type:\r\n   IBPBP (QP: I 28, P 28, B 30)"
                  "\r\nAverage SNR (Y) \t: 38.3 (dB)\r\nAverage SNR (U) \t: 41.0 (dB)"
                  "\r\nAverage SNR (V) \t: 40.9 (dB)\r\nTotal #bits\t: 9036\r\n    (I: 1000; P: 4020; "
                  "B: 4016)\r\nBit rate @ 30.0 (Hz)\t: 27.1 (kbit/s)\r\n\r\nEncoder mode selection"),
        std::string::npos)
        << text;
    // The document's window showed the source frame of each picture, in coding order.
    ASSERT_EQ(titles.size(), 9u);
    for (size_t n = 0; n < 9; ++n) {
        EXPECT_EQ(titles[n], "seq - Frame #" + std::to_string(order[n] + 1));
        EXPECT_EQ(shownLuma[n], Luma(5, 7, order[n])) << n;
    }

    // A second Apply starts afresh; a run without B pictures reports the other bit line.
    script = [](enc::H264EncoderHost *host) {
        host->h264enc_show_frame(Report(0, "I", 800, 28));
        enc::H264RunStatistics s;
        s.sequence_type = "IPPP (QP: I 28, P 28)";
        s.total_bits = 800;
        s.bits_first_picture = 800;
        s.picture_rate = 15.0f;
        s.kbit_per_second = 12.0f;
        host->h264enc_show_statistics(s);
    };
    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    const std::string second = ModuleHarness::ResultText(dlg, CH264encDlg::IDC_RESULTS);
    EXPECT_EQ(
        second.rfind("Number of Frames\t\t: 10\r\nI/P frames to be Encoded\t: 5\r\n\r\nDisplay Order\t:  1"
                     "\r\nBit Stream Order\t:  1\r\n",
                     0),
        0u);
    EXPECT_EQ(second.find("Display Order\t:  3"), std::string::npos);
    EXPECT_NE(second.find(
                  "\r\nTotal bits :  800\r\n    (I: 800, P: 0)\r\nBit rate @ 15.0 (Hz)\t: 12.0 (kbit/s)\r\n"),
              std::string::npos)
        << second;
    EXPECT_EQ(dlg->m_sResultText.toStdString(), second);
}

TEST_F(H264encDlgFixture, ARunErrorEndsTheApplyAndTheDialogStaysUsable)
{
    CH264encDlg *dlg = OpenWithFile(32, 32, 4);
    ASSERT_NE(dlg, nullptr);
    script = [](enc::H264EncoderHost *host) {
        host->h264enc_show_frame(Report(0, "I", 800, 28));
        throw zn::RunAborted("Error input parameter search_range, check configuration file");
    };
    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"Error input parameter search_range, check configuration file"});
    // An error whose message the run showed itself is not shown twice.
    messages.Clear();
    script = [](enc::H264EncoderHost *) { throw zn::RunAborted("shown", zn::kMessageShown); };
    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    EXPECT_EQ(messages.Count(), 0u);
    script = [](enc::H264EncoderHost *host) { host->h264enc_show_frame(Report(0, "I", 700, 28)); };
    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    EXPECT_EQ(runs, 3);
    EXPECT_NE(ModuleHarness::ResultText(dlg, CH264encDlg::IDC_RESULTS).find("Bit Rate\t\t:  700 (bits)"),
              std::string::npos);
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, CH264encDlg::IDC_APPLY));
}

TEST_F(H264encDlgFixture, NoRunWithoutItsSettingsFileOrWithASizeTheEncoderCannotCode)
{
    // The user folder is gone when Apply writes the file: the Part's texts, and no run.
    CH264encDlg *dlg = Open(32, 32, 4);
    ASSERT_NE(dlg, nullptr);
    const std::string gone = h.Dir().File("gone/");
    theApp.m_sUserDir = QString::fromStdString(gone);
    ChooseFile(dlg, h.Dir().File("out.264"));
    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(
        ModuleHarness::ResultText(dlg, CH264encDlg::IDC_RESULTS),
        "Number of Frames\t\t: 4\r\nI/P frames to be Encoded\t: 2\r\nError creating H.263 configuration "
        "file\r\n" +
            gone + "H264EncoderSettings.cfg\r\n Failing ...\r\n");
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, CH264encDlg::IDC_APPLY));
    dlg->OnCancel();
    theApp.m_sUserDir = QString::fromStdString(h.Dir().Path());

    // 40 x 32: the message before the run, and no settings file.
    CH264encDlg *odd = OpenWithFile(40, 32, 3, 2, 0, "odd.yuv");
    ASSERT_NE(odd, nullptr);
    messages.Clear();
    ModuleHarness::Click(odd, CH264encDlg::IDC_APPLY);
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"Unsupported image format x=40,y=32, must be a multiple of 16"});
    EXPECT_EQ(runs, 0);
    struct stat st;
    EXPECT_NE(stat(h.Dir().File("H264EncoderSettings.cfg").c_str(), &st), 0);
}

TEST_F(H264encDlgFixture, ASequenceInAFolderWithAHashIsRefused)
{
    ASSERT_EQ(mkdir(h.Dir().File("take#2").c_str(), 0700), 0);
    CH264encDlg *dlg = Open(32, 32, 3, 2, 0, "take#2/seq.yuv");
    ASSERT_NE(dlg, nullptr);
    ChooseFile(dlg, h.Dir().File("out.264"));
    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    EXPECT_EQ(runs, 0);
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_NE(messages.Texts()[0].find("take#2"), std::string::npos);
}

TEST_F(H264encDlgFixture, ASequenceWhoseHeaderIsGoneKeepsThePagesClosed)
{
    CH264encDlg *dlg = Open(32, 32, 3);
    ASSERT_NE(dlg, nullptr);
    ASSERT_EQ(std::remove(h.Dir().File("seq.hdr").c_str()), 0);
    ChooseFile(dlg, h.Dir().File("out.264"));
    EXPECT_GE(messages.Count(), 1u);
    EXPECT_FALSE(dlg->HasSequenceReader());
    EXPECT_FALSE(ModuleHarness::IsEnabled(dlg, CH264encDlg::IDC_APPLY));
    EXPECT_FALSE(dlg->TabCtrl()->IsTabEnabled(CH264encDlg::kIntraTab));
}

// Sequences the encoder cannot read as they are reach it as a 4:2:0 copy in the user folder.
TEST_F(H264encDlgFixture, OtherLayoutsAreConvertedTo420)
{
    const struct
    {
        int chroma, extra;
    } cases[] = {{1, 0}, {0, 0}, {2, 7}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "chroma " << c.chroma << " extra " << c.extra);
        runs = 0;
        CH264encDlg *dlg =
            OpenWithFile(32, 16, 3, c.chroma, c.extra, zn::Format("seq%d%d.yuv", c.chroma, c.extra));
        ASSERT_NE(dlg, nullptr);
        ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
        ASSERT_EQ(runs, 1);
        const std::string copy = h.Dir().File("H264EncoderInput.yuv");
        EXPECT_EQ(Written().InputFile, copy);
        const std::vector<unsigned char> bytes = zntest::ReadFileBytes(copy);
        ASSERT_EQ(bytes.size(), 3u * (32 * 16 * 3 / 2));
        for (int f = 0; f < 3; ++f) {
            const unsigned char *pic = bytes.data() + f * (32 * 16 * 3 / 2);
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 32; ++x)
                    ASSERT_EQ(pic[y * 32 + x], Luma(x, y, f)) << f << " " << x << " " << y;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 16; ++x) {
                    ASSERT_EQ(pic[512 + y * 16 + x], c.chroma == 0 ? 128 : 100 + x);
                    ASSERT_EQ(pic[512 + 128 + y * 16 + x], c.chroma == 0 ? 128 : 160 - x);
                }
        }
        dlg->OnCancel();
    }
}

// The dialog with the encoder itself: the stream, the report of the ten-frame example, a stop after
// the first picture, and a run error that leaves the dialog usable.
struct H264encDlgRunFixture : H264encDlgFixture
{
    void SetUp() override
    {
        H264encDlgFixture::SetUp();
        SetH264EncoderRun(nullptr);
    }
    void TearDown() override
    {
        zn::SetKeyPoller(oldPoller);
        H264encDlgFixture::TearDown();
    }
    zn::KeyPoller oldPoller = zn::SetKeyPoller([] { return false; });
};

TEST_F(H264encDlgRunFixture, TheTenFrameExampleReportsNinePicturesInCodingOrder)
{
    CH264encDlg *dlg = OpenWithFile(32, 32, 10);
    ASSERT_NE(dlg, nullptr);
    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    EXPECT_EQ(messages.Count(), 0u) << (messages.Count() ? messages.Texts()[0] : "");
    const std::string text = ModuleHarness::ResultText(dlg, CH264encDlg::IDC_RESULTS);
    EXPECT_EQ(text.rfind("Number of Frames\t\t: 10\r\nI/P frames to be Encoded\t: 5\r\n", 0), 0u);
    std::vector<int> display, stream;
    std::vector<std::string> types;
    std::vector<bool> intraLine;
    for (const std::string &line : Lines(text)) {
        if (line.rfind("Display Order\t:  ", 0) == 0)
            display.push_back(std::stoi(line.substr(17)));
        if (line.rfind("Bit Stream Order\t:  ", 0) == 0)
            stream.push_back(std::stoi(line.substr(20)));
        if (line.rfind("Picture Type\t:  ", 0) == 0) {
            types.push_back(line.substr(16));
            intraLine.push_back(false);
        }
        if (line.rfind("Intra MBs\t\t:  ", 0) == 0 && !intraLine.empty())
            intraLine.back() = true;
    }
    EXPECT_EQ(display, (std::vector<int>{1, 3, 2, 5, 4, 7, 6, 9, 8}));
    EXPECT_EQ(stream, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    ASSERT_EQ(types.size(), 9u);
    for (size_t n = 0; n < types.size(); ++n)
        EXPECT_EQ(intraLine[n], types[n] == "P") << n << " " << types[n];
    EXPECT_NE(text.find("H.264 ENCODING STATISTICS"), std::string::npos);
    EXPECT_NE(text.find("Encoder mode selection and motion vector bit usage"), std::string::npos);
    EXPECT_GT(zntest::ReadFileBytes(h.Dir().File("out.264")).size(), 0u);
    // The last picture coded is the B picture of display order 8.
    EXPECT_EQ(doc->m_pMainFrame->windowTitle().toStdString(), "seq - Frame #8");
}

// The name typed into the save dialog is no reason to ask whether to stop; a key pressed while the
// pictures are coded is.
TEST_F(H264encDlgRunFixture, OnlyAKeyPressedWhileCodingAsksToStop)
{
    CH264encDlg *dlg = Open(32, 32, 6);
    ASSERT_NE(dlg, nullptr);
    zntest::ExpectKeyQuestionOnlyForKeysOfTheRun(
        "H.264 Decoder interrupted by User\nContinue with rest of sequence?",
        [&](zntest::KeyboardUser &user) {
            SetModuleFileDialogHook([&](const ModuleFileRequest &) {
                user.TypeFileName(QStringLiteral("typed.264"));
                return QString::fromStdString(h.Dir().File("typed.264"));
            });
            ModuleHarness::Click(dlg->FilePage(), CH264encFileDlg::IDC_SAVE_AS);
        },
        [&] { ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY); });
}

TEST_F(H264encDlgRunFixture, AStopAfterTheFirstPictureAndARunErrorLeaveTheDialogUsable)
{
    CH264encDlg *dlg = OpenWithFile(32, 32, 10);
    ASSERT_NE(dlg, nullptr);
    zn::SetKeyPoller([] { return true; });
    messages.Script({zn::MsgAnswer::No});
    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    ASSERT_EQ(messages.Count(), 1u);
    EXPECT_EQ(messages.Messages()[0].buttons, zn::MsgButtons::YesNo);
    const std::string stopped = ModuleHarness::ResultText(dlg, CH264encDlg::IDC_RESULTS);
    EXPECT_NE(stopped.find("Display Order\t:  1"), std::string::npos);
    EXPECT_EQ(stopped.find("Display Order\t:  2"), std::string::npos);
    EXPECT_NE(stopped.find("H.264 ENCODING STATISTICS"), std::string::npos);

    // The sequence is gone: the encoder cannot open it, says so, and the next Apply runs again.
    zn::SetKeyPoller([] { return false; });
    messages.Clear();
    ASSERT_EQ(std::rename(sequence.c_str(), (sequence + ".away").c_str()), 0);
    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    EXPECT_GE(messages.Count(), 1u);
    EXPECT_TRUE(ModuleHarness::IsEnabled(dlg, CH264encDlg::IDC_APPLY));
    ASSERT_EQ(std::rename((sequence + ".away").c_str(), sequence.c_str()), 0);
    messages.Clear();
    ModuleHarness::Click(dlg, CH264encDlg::IDC_APPLY);
    EXPECT_EQ(messages.Count(), 0u);
    EXPECT_NE(ModuleHarness::ResultText(dlg, CH264encDlg::IDC_RESULTS).find("Display Order\t:  9"),
              std::string::npos);
}

} // namespace

} // namespace h264enc_dlg_test
