// The module-dialog test harness.
#include "modules/module_harness.h"

#include "image/cdib.h"
#include "platform/random.h"
#include "shell/compression_app.h"
#include "shell/dialog_support.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/main_frame.h"
#include "shell/rd_doc_glue.h"
#include "shell/settings_dlg.h"
#include "shell/shell_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace zntest {

std::unique_ptr<CDib> MakeGreyDib(int width, int height, const std::function<int(int x, int y)> &pixel)
{
    auto dib = std::make_unique<CDib>();
    dib->Create24(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t *row = dib->StoredRow(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const uint8_t v = static_cast<uint8_t>(std::clamp(pixel(x, y), 0, 255));
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
        }
    }
    return dib;
}

int GreyAt(const CDib &dib, int x, int y)
{
    return dib.StoredRow(dib.GetHeight() - 1 - y)[3 * x];
}

double MagickPsnr(const std::string &a, const std::string &b)
{
    std::string out;
    Run("compare -metric PSNR " + ShellQuote(a) + " " + ShellQuote(b) + " null: 2>&1", &out);
    if (out.rfind("inf", 0) == 0)
        return std::numeric_limits<double>::infinity();
    char *end = nullptr;
    const double v = std::strtod(out.c_str(), &end);
    return end == out.c_str() ? std::nan("") : v;
}

::testing::AssertionResult PsnrAgrees(double ours, double magick, double tol)
{
    if (std::isinf(magick)) {
        if (std::isinf(ours) || ours == 60.0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "ImageMagick finds no error, ours is " << ours;
    }
    if (std::fabs(ours - magick) <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "ours " << ours << ", ImageMagick " << magick << ", tolerance " << tol;
}

double ReportedMeasure(const std::string &text, const std::string &label)
{
    const size_t at = text.find(label);
    if (at == std::string::npos)
        return std::nan("");
    const char *s = text.c_str() + at + label.size();
    char *end = nullptr;
    const double v = std::strtod(s, &end);
    return end == s ? std::nan("") : v;
}

double ReportedPsnr(const std::string &text)
{
    return ReportedMeasure(text, "  PSNR\t\t\t:");
}

void CheckCorpusImages(const std::function<bool(CDibDoc *doc, const std::string &reference)> &check)
{
    const auto files = CorpusFiles("bmp");
    ScratchDir dir;
    int checked = 0;
    for (const std::string &file : files) {
        CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(file));
        ASSERT_NE(doc, nullptr) << file;
        const std::string reference = dir.File("reference.bmp");
        ASSERT_TRUE(doc->m_pDib->SaveDibFile(reference)) << file;
        if (check(doc, reference))
            ++checked;
    }
    if (!files.empty())
        std::printf("corpus: %d files checked\n", checked);
}

ModuleHarness::ModuleHarness()
{
    theApp.m_sUserDir = QString::fromStdString(m_dir.Path());
    theApp.m_sImageDir = theApp.m_sUserDir;
    RegisterRDDialogs(); // Store and Plot R(D) Points, as the program's start-up does
    m_pFrame = new CMainFrame;
    m_pFrame->LoadFrame();
    theApp.m_pMainWnd = m_pFrame;
    m_pFrame->show();
}

ModuleHarness::~ModuleHarness()
{
    if (m_pFrame->MdiArea())
        m_pFrame->MdiArea()->closeAllSubWindows();
    QApplication::processEvents();
    theApp.m_pMainWnd = nullptr;
    delete m_pFrame;
}

CDibDoc *ModuleHarness::OpenImage(const std::string &title, const CDib &image)
{
    m_lastPath = m_dir.File(title + ".bmp");
    EXPECT_TRUE(image.SaveDibFile(m_lastPath));
    CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(m_lastPath));
    EXPECT_NE(doc, nullptr);
    return doc;
}

CDibDoc *ModuleHarness::OpenStream(const std::string &fileName, const std::vector<unsigned char> &bytes)
{
    m_lastPath = m_dir.File(fileName);
    EXPECT_TRUE(WriteFileBytes(m_lastPath, bytes));
    return CDibDoc::OpenDocumentFile(QString::fromStdString(m_lastPath));
}

QDialog *ModuleHarness::OpenModule(CDibDoc *doc, int commandId)
{
    doc->OnCommand(commandId);
    QDialog **member = doc->DialogMember(commandId);
    return member ? *member : nullptr;
}

void ModuleHarness::Click(const QWidget *dialog, int id)
{
    auto *b = zn::FindControl<QAbstractButton>(dialog, id);
    ASSERT_NE(b, nullptr) << "no button " << id;
    ASSERT_TRUE(b->isEnabled()) << "button " << id << " is disabled";
    b->click();
}

bool ModuleHarness::IsChecked(const QWidget *dialog, int id)
{
    auto *b = zn::FindControl<QAbstractButton>(dialog, id);
    return b && b->isChecked();
}

bool ModuleHarness::IsEnabled(const QWidget *dialog, int id)
{
    QWidget *w = zn::FindControl(dialog, id);
    return w && w->isEnabled();
}

std::string ModuleHarness::ResultText(const QWidget *dialog, int id)
{
    auto *box = zn::FindControl<QPlainTextEdit>(dialog, id);
    if (!box)
        return {};
    return box->toPlainText().replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toStdString();
}

CDibFrame *ModuleHarness::LastChain(CDibDoc *doc)
{
    const auto chain = doc->ChainFrames();
    return chain.empty() ? nullptr : chain.back();
}

int ModuleHarness::ChainCount(CDibDoc *doc)
{
    return static_cast<int>(doc->ChainFrames().size());
}

std::string ModuleHarness::ChainCaption(CDibDoc *doc)
{
    return Caption(LastChain(doc));
}

const CDib *ModuleHarness::ChainImage(CDibDoc *doc)
{
    return Image(LastChain(doc));
}

std::vector<int> ModuleHarness::Greys(const CDib *dib)
{
    std::vector<int> greys;
    if (dib)
        for (int y = 0; y < dib->GetHeight(); ++y)
            for (int x = 0; x < dib->GetWidth(); ++x)
                greys.push_back(GreyAt(*dib, x, y));
    return greys;
}

std::vector<int> ModuleHarness::ChainGreys(CDibDoc *doc)
{
    return Greys(ChainImage(doc));
}

std::vector<int> ModuleHarness::ApplySeeded(const QWidget *dialog, int applyId, CDibDoc *doc, int seed)
{
    zn::SeedRand(seed);
    Click(dialog, applyId);
    return ChainGreys(doc);
}

std::string ModuleHarness::Caption(CDibFrame *frame)
{
    return frame ? frame->windowTitle().toStdString() : std::string();
}

const CDib *ModuleHarness::Image(CDibFrame *frame)
{
    return frame && frame->View() ? frame->View()->GetDib() : nullptr;
}

std::string ModuleHarness::ImageName(CDibFrame *frame)
{
    const CDib *dib = Image(frame);
    return dib ? dib->m_title : std::string();
}

std::string ModuleHarness::Description(CDibFrame *frame)
{
    return frame && frame->View() ? frame->View()->m_sDescription.toStdString() : std::string();
}

bool ModuleHarness::ApplyOpensPreferences(const QWidget *dialog, int applyId)
{
    theApp.m_sTableDir.clear();
    bool preferences = false;
    WhenModal<CSettingsDlg>([&preferences](CSettingsDlg *settings) {
        preferences = true;
        settings->reject();
    });
    Click(dialog, applyId);
    return preferences;
}

std::string ModuleHarness::ChainImageName(CDibDoc *doc)
{
    return ImageName(LastChain(doc));
}

std::string ModuleHarness::ChainDescription(CDibDoc *doc)
{
    return Description(LastChain(doc));
}

std::string ModuleHarness::SaveChainImage(CDibDoc *doc, const std::string &fileName)
{
    const CDib *dib = ChainImage(doc);
    const std::string path = m_dir.File(fileName);
    EXPECT_TRUE(dib && dib->SaveDibFile(path));
    return path;
}

} // namespace zntest
