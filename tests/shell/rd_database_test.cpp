// The R(D) point store without windows: a fake document stands in for the two dialogs.
#include "platform/messages.h"
#include "shell/rd_database.h"
#include "support/test_support.h"

#include <array>
#include <clocale>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace rd_database_test { // one namespace per test file: a folder compiles as one source

using namespace zn;

namespace {

struct FakeDialogs : RDDocumentLink, RDStoringLink, RDPlotLink
{
    bool storingOpen = true;
    bool plotOpen = false;
    std::vector<std::string> calls; // "msg:<text>", "modules", "stopped", "profiles"
    std::string lastMessage;
    std::string title = "lena";
    std::string userDir = "/tmp/";
    std::vector<RDSaveRequest> saveRequests;
    std::string savePath; // empty: the user cancels

    RDStoringLink *StoringDlg() override { return storingOpen ? this : nullptr; }
    RDPlotLink *PlotDlg() override { return plotOpen ? this : nullptr; }
    std::string ImageTitle() override { return title; }
    std::string UserDir() override { return userDir; }
    bool AskSaveFile(const RDSaveRequest &r, std::string *path) override
    {
        saveRequests.push_back(r);
        *path = savePath;
        return !savePath.empty();
    }
    void SetLastMessage(const std::string &t) override
    {
        lastMessage = t;
        calls.push_back("msg:" + t);
    }
    void UpdateModuleList() override { calls.push_back("modules"); }
    void SetStoppedState() override { calls.push_back("stopped"); }
    void UpdateProfileList() override { calls.push_back("profiles"); }
};

class RDStore : public ::testing::Test
{
protected:
    RDStore() : db(std::make_unique<CRDDataBase>()) { db->m_pDoc = &fake; }

    // Records one curve of the given points (rate, snr) for a key under a name.
    void Record(const std::string &key, const std::string &name, std::vector<std::pair<float, float>> pts)
    {
        db->StartStoring(key, name);
        for (auto [r, s] : pts)
            db->StoreRDPoint(key, r, s, s + 10, 100.0f / (r + 1));
        db->StopStoring();
    }
    std::vector<std::string> Names(int slot) const
    {
        std::vector<std::string> n;
        for (int c = 0; c < db->m_nNumberOfCurves[slot]; ++c)
            n.push_back(db->m_ModuleData[slot].m_sProfileName[c]);
        return n;
    }
    std::vector<float> Rates(int slot, int curve) const
    {
        const auto &d = db->m_ModuleData[slot];
        return std::vector<float>(d.m_Curve[curve].m_fRate,
                                  d.m_Curve[curve].m_fRate + d.m_nNumberOfPoints[curve]);
    }

    MessageRecorder boxes;
    FakeDialogs fake;
    std::unique_ptr<CRDDataBase> db;
};

TEST_F(RDStore, SlotsKeysAndIllegalKeys)
{
    const char *keys[] = {"PCM", "DPCM", "VQ", "FRAC", "DCT", "JPEG", "SBC", "EZW", "SPIHT", "JPEG2000"};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(db->GetModuleIndex(keys[i]), i);
        EXPECT_EQ(db->m_sModuleName[i], keys[i]);
    }
    for (int i = 10; i < MAXIMUM_NUMBER_OF_MODULES; ++i)
        EXPECT_EQ(db->m_sModuleName[i], "_EMPTY_");
    EXPECT_EQ(boxes.Count(), 0u);
    for (const char *bad : {"pcm", "_EMPTY_", "", "JPEG2"}) {
        boxes.Clear();
        EXPECT_EQ(db->GetModuleIndex(bad), 0) << bad;
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{
                                     "(CRDDataBase::GetModuleIndex) Illegal Module Name Used. Assume PCM"});
    }
    EXPECT_EQ(db->m_nCurrentModule, -1);
    EXPECT_EQ(db->m_nCurrentCurve, -1);
    EXPECT_FALSE(db->IsStoring());
}

TEST_F(RDStore, EmptyCurveIsDroppedOnStop)
{
    Record("PCM", "A", {{1, 20}});
    fake.calls.clear();
    db->StartStoring("PCM", "B");
    EXPECT_EQ(fake.lastMessage, "Start storing R(D) for PCM");
    EXPECT_EQ(db->m_nNumberOfCurves[0], 2);
    EXPECT_TRUE(db->IsStoring());
    EXPECT_EQ(db->GetCurrentModule(), 0);
    db->StopStoring();
    EXPECT_EQ(fake.lastMessage, "(PCM) 0 R(D) points stored");
    EXPECT_EQ(db->m_nNumberOfCurves[0], 1);
    EXPECT_FALSE(db->IsStoring());
    EXPECT_EQ(db->m_nCurrentModule, -1);
    EXPECT_EQ(db->m_nCurrentCurve, -1);
}

// The selection sort exchanges its pick with the front, so points of equal rate may change places;
// the expected orders are the exchanges worked by hand.
TEST_F(RDStore, StopSortsByRateWithExchangesAndAllFourColumns)
{
    struct Case
    {
        std::vector<std::array<float, 4>> recorded; // rate, snr, psnr, mse
        std::vector<std::array<float, 4>> sorted;
    };
    const Case cases[] = {
        // (2.0, 10), (2.0, 20), (1.0, 30): the 1.0 swaps with the first 2.0, which lands last.
        {{{2.0f, 10, 20, 1}, {2.0f, 20, 30, 2}, {1.0f, 30, 40, 3}},
         {{1.0f, 30, 40, 3}, {2.0f, 20, 30, 2}, {2.0f, 10, 20, 1}}},
        {{{2.0f, 30, 40, 3}, {1.0f, 21, 31, 21}, {0.5f, 15, 25, 15}, {1.0f, 22, 32, 22}, {0.5f, 16, 26, 16}},
         {{0.5f, 15, 25, 15}, {0.5f, 16, 26, 16}, {1.0f, 22, 32, 22}, {1.0f, 21, 31, 21}, {2.0f, 30, 40, 3}}},
        // Already in order, equal rates included: nothing moves.
        {{{1.0f, 1, 2, 3}, {1.0f, 4, 5, 6}, {3.0f, 7, 8, 9}},
         {{1.0f, 1, 2, 3}, {1.0f, 4, 5, 6}, {3.0f, 7, 8, 9}}},
    };
    int curve = 0;
    for (const Case &c : cases) {
        db->StartStoring("DCT", "D" + std::to_string(curve));
        for (const auto &p : c.recorded)
            db->StoreRDPoint("DCT", p[0], p[1], p[2], p[3]);
        if (curve == 1) {
            EXPECT_EQ(fake.lastMessage, "(DCT) Store R=0.5 bpp; SNR=16.0 dB");
        }
        db->StopStoring();
        const auto &d = db->m_ModuleData[4];
        ASSERT_TRUE(d.m_bCurveClosed[curve]);
        ASSERT_EQ(d.m_nNumberOfPoints[curve], static_cast<int>(c.sorted.size()));
        for (size_t k = 0; k < c.sorted.size(); ++k) {
            EXPECT_EQ(d.m_Curve[curve].m_fRate[k], c.sorted[k][0]) << curve << "/" << k;
            EXPECT_EQ(d.m_Curve[curve].m_fSNR[k], c.sorted[k][1]) << curve << "/" << k;
            EXPECT_EQ(d.m_Curve[curve].m_fPSNR[k], c.sorted[k][2]) << curve << "/" << k;
            EXPECT_EQ(d.m_Curve[curve].m_fMSE[k], c.sorted[k][3]) << curve << "/" << k;
        }
        ++curve;
    }
    EXPECT_EQ(fake.lastMessage, "(DCT) 3 R(D) points stored");
}

TEST_F(RDStore, PointsOnlyForTheModuleBeingRecorded)
{
    db->StoreRDPoint("PCM", 1, 2, 3, 4); // idle: silently ignored
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(boxes.Count(), 0u);
    db->StartStoring("PCM", "P");
    db->StoreRDPoint("PCM", 1, 20, 30, 4);
    db->StoreRDPoint("DPCM", 2, 25, 35, 3);
    EXPECT_EQ(fake.lastMessage, "(PCM) Result of DPCM not stored");
    EXPECT_EQ(db->m_ModuleData[0].m_nNumberOfPoints[0], 1);
    EXPECT_EQ(db->m_nNumberOfCurves[1], 0);
    EXPECT_EQ(db->m_ModuleData[0].m_Curve[0].m_fRate[0], 1.0f);
}

TEST_F(RDStore, The251stPointIsDropped)
{
    db->StartStoring("SBC", "S");
    for (int k = 0; k < MAXIMUM_NUMBER_OF_POINTS; ++k)
        db->StoreRDPoint("SBC", 0.01f * k, 10, 20, 30);
    EXPECT_EQ(fake.lastMessage, "(SBC) Store R=2.5 bpp; SNR=10.0 dB");
    db->StoreRDPoint("SBC", 9.0f, 99, 99, 99);
    EXPECT_EQ(fake.lastMessage, "(SBC) Not stored. Max. (250) reached.");
    EXPECT_EQ(db->m_ModuleData[6].m_nNumberOfPoints[0], 250);
    db->StopStoring();
    EXPECT_EQ(fake.lastMessage, "(SBC) 250 R(D) points stored");
    EXPECT_EQ(Rates(6, 0).back(), 0.01f * 249);
    EXPECT_EQ(boxes.Count(), 0u);
}

TEST_F(RDStore, The101stCurveReusesTheLastOne)
{
    for (int c = 0; c < MAXIMUM_NUMBER_OF_CURVES; ++c)
        Record("VQ", "V" + std::to_string(c), {{float(c), 1}});
    EXPECT_EQ(boxes.Count(), 0u);
    EXPECT_EQ(db->GetDefaultProfileName("VQ"), "VQ_0101");
    Record("VQ", "extra", {{0.25f, 7}, {0.125f, 6}});
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{"Maximum number (100) of RD-curves for Module VQ reached.\n"
                                       "Overwriting lastly stored RD-curve."});
    EXPECT_EQ(db->m_nNumberOfCurves[2], 100);
    EXPECT_EQ(db->m_ModuleData[2].m_sProfileName[99], "extra");
    EXPECT_EQ(db->m_ModuleData[2].m_sProfileName[98], "V98");
    EXPECT_EQ(Rates(2, 99), (std::vector<float>{0.125f, 0.25f}));
    EXPECT_EQ(db->GetNumberOfCurves(), 100);
}

TEST_F(RDStore, DeletingMiddleAndLastCurve)
{
    Record("PCM", "a", {{1, 10}});
    Record("PCM", "b", {{2, 20}, {3, 30}});
    Record("PCM", "c", {{4, 40}, {5, 50}, {6, 60}});
    Record("JPEG", "j", {{1, 1}});
    db->EraseOneCurve("b");
    EXPECT_EQ(Names(0), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(Rates(0, 0), (std::vector<float>{1}));
    EXPECT_EQ(Rates(0, 1), (std::vector<float>{4, 5, 6}));
    EXPECT_EQ(db->m_ModuleData[0].m_Curve[1].m_fSNR[2], 60.0f);
    EXPECT_TRUE(db->m_ModuleData[0].m_bCurveClosed[1]);
    db->EraseOneCurve("c");
    EXPECT_EQ(Names(0), (std::vector<std::string>{"a"}));
    db->EraseOneCurve("nowhere");
    EXPECT_EQ(db->GetNumberOfCurves(), 2);
    db->EraseOneCurve("j");
    EXPECT_EQ(db->m_nNumberOfCurves[5], 0);
    EXPECT_EQ(boxes.Count(), 0u);
    db->EraseAllCurves();
    EXPECT_EQ(db->GetNumberOfCurves(), 0);
}

TEST_F(RDStore, EraseSkipsTheOpenCurveWithAMessage)
{
    Record("PCM", "a", {{1, 10}});
    db->StartStoring("PCM", "open");
    db->StoreRDPoint("PCM", 2, 3, 4, 5);
    db->EraseOneCurve("open");
    EXPECT_EQ(boxes.Texts(),
              std::vector<std::string>{
                  "(RDDataBase::EraseOneCurve: Curve not closed.\r\nThis error should not occur"});
    EXPECT_EQ(db->m_nNumberOfCurves[0], 2);
    // Deleting an earlier curve while recording keeps the recording on the same curve.
    db->EraseOneCurve("a");
    db->StoreRDPoint("PCM", 1, 3, 4, 5);
    db->StopStoring();
    EXPECT_EQ(Names(0), (std::vector<std::string>{"open"}));
    EXPECT_EQ(Rates(0, 0), (std::vector<float>{1, 2}));
}

TEST_F(RDStore, DefaultProfileNames)
{
    EXPECT_EQ(db->GetDefaultProfileName("PCM"), "PCM_0001");
    Record("PCM", db->GetDefaultProfileName("PCM"), {{1, 1}});
    Record("PCM", db->GetDefaultProfileName("PCM"), {{1, 1}});
    EXPECT_EQ(db->GetDefaultProfileName("PCM"), "PCM_0003");
    EXPECT_EQ(db->GetDefaultProfileName("JPEG2000"), "JPEG2000_0001");
}

TEST_F(RDStore, DefaultNameNeverRepeatsAStoredNameAfterADelete)
{
    for (int i = 0; i < 3; ++i)
        Record("PCM", db->GetDefaultProfileName("PCM"), {{1, 1}});
    db->EraseOneCurve("PCM_0001");
    // Two curves left (PCM_0002, PCM_0003): counting alone would give PCM_0003 again.
    EXPECT_EQ(db->GetDefaultProfileName("PCM"), "PCM_0004");
    db->EraseOneCurve("PCM_0003");
    EXPECT_EQ(db->GetDefaultProfileName("PCM"), "PCM_0003");
}

TEST_F(RDStore, ActivationMessagesAndCounts)
{
    db->SetModuleIsActive("PCM", true);
    db->SetModuleIsActive("JPEG2000", true);
    EXPECT_EQ(db->GetNumberOfActiveModules(), 2);
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"modules", "modules"}));
    db->SetModuleIsActive("PCM", true);
    db->SetModuleIsActive("DPCM", false);
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{
                                 "(SetModuleIsActive) ERROR, Module PCM is already set to active",
                                 "(SetModuleIsActive) ERROR, Module DPCM is already set to not active"}));
    EXPECT_EQ(db->GetNumberOfActiveModules(), 2);
    fake.storingOpen = false;
    fake.calls.clear();
    db->SetModuleIsActive("JPEG2000", false);
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(db->GetNumberOfActiveModules(), 1);
}

TEST_F(RDStore, ClosingTheRecordedModuleStopsTheRecording)
{
    db->SetModuleIsActive("PCM", true);
    db->SetModuleIsActive("DPCM", true);
    fake.plotOpen = true;
    db->StartStoring("PCM", "p");
    db->StoreRDPoint("PCM", 2, 20, 30, 1);
    db->StoreRDPoint("PCM", 1, 10, 20, 2);
    fake.calls.clear();
    db->SetModuleIsActive("DPCM", false); // another module: recording goes on
    EXPECT_TRUE(db->IsStoring());
    EXPECT_EQ(fake.calls, std::vector<std::string>{"modules"});
    fake.calls.clear();
    db->SetModuleIsActive("PCM", false);
    EXPECT_FALSE(db->IsStoring());
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{"msg:(PCM) 2 R(D) points stored", "profiles", "stopped", "modules"}));
    EXPECT_TRUE(db->m_ModuleData[0].m_bCurveClosed[0]);
    EXPECT_EQ(Rates(0, 0), (std::vector<float>{1, 2}));
}

TEST_F(RDStore, StatusTextExactly)
{
    fake.title = "camera";
    db->SetModuleIsActive("PCM", true);
    db->SetModuleIsActive("JPEG2000", true);
    Record("PCM", "a", {{1, 1}});
    Record("JPEG2000", "b", {{1, 1}});
    Record("JPEG2000", "c", {{1, 1}});
    std::string modules = "PCM\t(active)    \t: 1 profiles stored\n"
                          "DPCM\t(not active)\t: 0 profiles stored\n"
                          "VQ\t(not active)\t: 0 profiles stored\n"
                          "FRAC\t(not active)\t: 0 profiles stored\n"
                          "DCT\t(not active)\t: 0 profiles stored\n"
                          "JPEG\t(not active)\t: 0 profiles stored\n"
                          "SBC\t(not active)\t: 0 profiles stored\n"
                          "EZW\t(not active)\t: 0 profiles stored\n"
                          "SPIHT\t(not active)\t: 0 profiles stored\n"
                          "JPEG200\t(active)    \t: 2 profiles stored\n"
                          "\nSave R(D) data in a text file?";
    EXPECT_EQ(db->StatusText(), "Current status of database storing R(D) points\n"
                                "Original image \t\t: camera\n"
                                "Data currently being stored\t: NO\nNumber of profile stored\t: 3\n"
                                "Number of active modules\t: 2\n\n" +
                                    modules);
    db->StartStoring("PCM", "x");
    std::string recording = db->StatusText();
    EXPECT_NE(recording.find("Data currently being stored\t: YES\nNumber of profiles stored\t: 4\n"
                             "Number of active modules\t: 2\n\nPCM\t(active)    \t: 2 profiles stored\n"),
              std::string::npos)
        << recording;
}

std::string ReadAll(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

const char *kPcmAndEzwReport = " -----------------------------------------\n"
                               "|              PCM                       |\n"
                               " -----------------------------------------\n\n"
                               "Profile name : PCM_0001\n"
                               "  Bit rate       SNR      PSNR      MSE\n"
                               "    1.00        12.35     22.35    50.000\n"
                               "    3.00        18.00     28.00    25.000\n\n"
                               " -----------------------------------------\n"
                               "|              JPEG2000                       |\n"
                               " -----------------------------------------\n\n"
                               "Profile name : mine\n"
                               "  Bit rate       SNR      PSNR      MSE\n"
                               "    0.25        -1.50      8.50    80.000\n\n";

TEST_F(RDStore, ReportTextSkipsEmptySlotsAndOpenCurves)
{
    Record("PCM", "PCM_0001", {{3, 18}, {1, 12.345f}});
    Record("JPEG2000", "mine", {{0.25f, -1.5f}});
    db->StartStoring("JPEG2000", "open");
    db->StoreRDPoint("JPEG2000", 1, 1, 1, 1);
    EXPECT_EQ(db->ReportText(), kPcmAndEzwReport);
}

TEST_F(RDStore, ReportStatusAppendsTheReportToTheChosenFile)
{
    zntest::ScratchDir dir;
    fake.userDir = dir.Path();
    fake.title = "coins";
    Record("PCM", "PCM_0001", {{3, 18}, {1, 12.345f}});
    Record("JPEG2000", "mine", {{0.25f, -1.5f}});

    boxes.Script({MsgAnswer::No});
    db->ReportStatus();
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Messages()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(boxes.Messages()[0].icon, MsgIcon::Question);
    EXPECT_TRUE(fake.saveRequests.empty());

    fake.savePath = dir.File("Coins_RD.txt");
    boxes.Script({MsgAnswer::Yes, MsgAnswer::Yes});
    db->ReportStatus();
    db->ReportStatus();
    ASSERT_EQ(fake.saveRequests.size(), 2u);
    const RDSaveRequest &r = fake.saveRequests[0];
    EXPECT_EQ(r.dir, dir.Path());
    EXPECT_EQ(r.defaultName, "coins_RD.txt");
    EXPECT_EQ(r.defaultExt, ".txt");
    EXPECT_EQ(r.filter, "Text File (*.txt)|*.txt||");
    EXPECT_EQ(r.title, "Save the R(D) Data As...");
    EXPECT_FALSE(r.confirmOverwrite); // the report is appended to, never replaced
    EXPECT_EQ(ReadAll(fake.savePath), std::string(kPcmAndEzwReport) + kPcmAndEzwReport);
    EXPECT_EQ(boxes.Count(), 3u);
}

TEST_F(RDStore, FailedReportWriteIsReported)
{
    Record("PCM", "a", {{1, 1}});
    std::string bad = "/nonexistent-folder/x/report.txt";
    EXPECT_FALSE(db->AppendReport(bad));
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "The R(D) data could not be written to\n" + bad);
    if (access("/dev/full", W_OK) == 0) { // a write that fails only at flush time
        boxes.Clear();
        EXPECT_FALSE(db->AppendReport("/dev/full"));
        EXPECT_EQ(boxes.Count(), 1u);
    }
}

// The report is read by other tools: a German locale must not turn 1.00 into 1,00.
TEST_F(RDStore, NumbersUseADecimalPointUnderAGermanLocale)
{
    const char *de = std::setlocale(LC_ALL, "de_DE.UTF-8");
    if (!de) {
        if (zntest::RunningUnderCi())
            FAIL() << "locale de_DE.UTF-8 missing (scripts/deps makes it)";
        GTEST_SKIP() << "locale de_DE.UTF-8 missing";
    }
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5"); // the locale really is in force
    Record("PCM", "PCM_0001", {{3, 18}, {1, 12.345f}});
    Record("JPEG2000", "mine", {{0.25f, -1.5f}});
    db->StartStoring("JPEG2000", "open");
    db->StoreRDPoint("JPEG2000", 1.5f, 2.5f, 3, 4);
    EXPECT_EQ(fake.lastMessage, "(JPEG2000) Store R=1.5 bpp; SNR=2.5 dB");
    std::string report = db->ReportText();
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(report, kPcmAndEzwReport);
}

} // namespace

} // namespace rd_database_test
