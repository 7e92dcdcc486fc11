// What the DCT and subband module tests share: the dialog fixture, a photo-like test image, the
// generated tables, combo-box selection as a user makes it, the measures read back from the result
// text, and the corpus check.
#pragma once

#include "modules/module_harness.h"

#include "image/cdib.h"
#include "platform/messages.h"
#include "platform/random.h"
#include "shell/compression_app.h"
#include "shell/dialog_support.h"
#include "shell/dib_doc.h"
#include "shell/rd_database.h"

#include <QComboBox>
#include <cmath>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <vector>

namespace codingtest {

inline const std::string kTables = std::string(ZN_BUILD_DIR) + "/tables/";

// Smooth shading, hard edges and a fine texture, so low and high bands both carry energy.
inline std::unique_ptr<CDib> Photo(int w = 128, int h = 96)
{
    return zntest::MakeGreyDib(w, h, [w, h](int x, int y) {
        const double v = 110 + 60 * std::sin(y * 0.05) * std::cos(x * 0.04) +
                         ((x / 24 + y / 20) % 3 == 0 ? 45 : 0) +
                         (x > w / 2 && y > h / 2 ? 12 * std::sin(x * 0.9) * std::sin(y * 0.7) : 0);
        return static_cast<int>(v);
    });
}

// Chooses entry `index` of the drop-down list with that id as a user does.
inline void Choose(const QWidget *dialog, int id, int index)
{
    auto *c = zn::FindControl<QComboBox>(dialog, id);
    ASSERT_NE(c, nullptr) << "no list " << id;
    c->setCurrentIndex(index);
    emit c->activated(index);
}

inline double ReportedPsnr(const std::string &text)
{
    return zntest::ReportedPsnr(text);
}
inline double ReportedRate(const std::string &text)
{
    return zntest::ReportedMeasure(text, "  Coded Bitrate\t\t:");
}

// A DCT or subband dialog opened on an image of its own document, with the generated tables set and
// every message recorded.
template <class Dlg, void (*Register)(), int kCommand, int kApply, int kResults>
struct DialogFixture : ::testing::Test
{
    void SetUp() override
    {
        Register();
        theApp.m_sTableDir = QString::fromStdString(kTables);
    }
    void TearDown() override { zn::UnpinRandSeed(); }

    Dlg *Open(const std::string &title, const CDib &image)
    {
        doc = h.OpenImage(title, image);
        return h.template Open<Dlg>(doc, kCommand);
    }
    std::string Text() { return zntest::ModuleHarness::ResultText(dlg, kResults); }
    void Apply() { zntest::ModuleHarness::Click(dlg, kApply); }

    // R(D) points go to the store only while it records this module (key). The store keeps a curve's
    // points by rate, so the runs of the rate buttons, clicked in any order, rise in rate and quality.
    void ExpectPointsOnlyWhileRecording(const std::string &key, const std::string &otherKey,
                                        std::initializer_list<int> risingRateIds)
    {
        zn::CRDDataBase &rd = *doc->m_pRDData;
        const int module = rd.GetModuleIndex(key);
        Apply(); // not recording
        rd.StartStoring(otherKey, "other");
        Apply(); // recording another module
        rd.StopStoring();
        EXPECT_EQ(rd.m_nNumberOfCurves[module], 0);
        EXPECT_EQ(rd.m_ModuleData[rd.GetModuleIndex(otherKey)].m_nNumberOfPoints[0], 0);

        rd.StartStoring(key, "rising");
        for (int id : risingRateIds) {
            zntest::ModuleHarness::Click(dlg, id);
            Apply();
        }
        rd.StopStoring();
        const auto &data = rd.m_ModuleData[module];
        ASSERT_EQ(data.m_nNumberOfPoints[0], static_cast<int>(risingRateIds.size()));
        const auto &c = data.m_Curve[0];
        for (size_t i = 0; i + 1 < risingRateIds.size(); ++i) {
            EXPECT_LT(c.m_fRate[i], c.m_fRate[i + 1]);
            EXPECT_LT(c.m_fPSNR[i], c.m_fPSNR[i + 1]);
            EXPECT_LT(c.m_fSNR[i], c.m_fSNR[i + 1]);
            EXPECT_GT(c.m_fMSE[i], c.m_fMSE[i + 1]);
        }
    }

    // With no tables directory, Apply tells the user and opens the Preferences; nothing is coded.
    void ExpectEmptyTablesDirOpensPreferences()
    {
        EXPECT_TRUE(zntest::ModuleHarness::ApplyOpensPreferences(dlg, kApply));
        EXPECT_EQ(messages.Texts(),
                  std::vector<std::string>{
                      "Sorry: No Tables Directory Selected.\r\nPlease set the Tables Directory path!"});
        EXPECT_EQ(zntest::ModuleHarness::ChainCount(doc), 0);
    }

    zn::MessageRecorder messages;
    zntest::ModuleHarness h;
    CDibDoc *doc = nullptr;
    Dlg *dlg = nullptr;
};

// Outside images: each one with even sides (the document offers the module only then) is coded once
// with the dialog's defaults, and its reported PSNR checked against ImageMagick on the document's
// own grey image.
template <class Dlg> void CheckCorpus(zntest::ModuleHarness &h, int command, int apply, int results)
{
    zntest::CheckCorpusImages([&](CDibDoc *doc, const std::string &reference) {
        if (doc->m_pDib->GetWidth() % 2 || doc->m_pDib->GetHeight() % 2)
            return false;
        auto *dlg = h.Open<Dlg>(doc, command);
        EXPECT_NE(dlg, nullptr) << reference;
        if (!dlg)
            return false;
        zntest::ModuleHarness::Click(dlg, apply);
        const double magick = zntest::MagickPsnr(reference, h.SaveChainImage(doc, "result.bmp"));
        EXPECT_TRUE(zntest::PsnrAgrees(ReportedPsnr(zntest::ModuleHarness::ResultText(dlg, results)), magick,
                                       0.05 + 1e-3))
            << doc->m_pDib->m_title;
        return true;
    });
}

} // namespace codingtest
