// The module-dialog test harness.
#include "modules/module_harness.h"

#include "image/cdib.h"
#include "shell/compression_app.h"
#include "shell/dialog_support.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/main_frame.h"
#include "shell/rd_doc_glue.h"

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
    CDibFrame *f = LastChain(doc);
    return f ? f->windowTitle().toStdString() : std::string();
}

const CDib *ModuleHarness::ChainImage(CDibDoc *doc)
{
    CDibFrame *f = LastChain(doc);
    return f && f->View() ? f->View()->GetDib() : nullptr;
}

std::string ModuleHarness::ChainImageName(CDibDoc *doc)
{
    const CDib *dib = ChainImage(doc);
    return dib ? dib->m_title : std::string();
}

std::string ModuleHarness::ChainDescription(CDibDoc *doc)
{
    CDibFrame *f = LastChain(doc);
    return f && f->View() ? f->View()->m_sDescription.toStdString() : std::string();
}

std::string ModuleHarness::SaveChainImage(CDibDoc *doc, const std::string &fileName)
{
    const CDib *dib = ChainImage(doc);
    const std::string path = m_dir.File(fileName);
    EXPECT_TRUE(dib && dib->SaveDibFile(path));
    return path;
}

} // namespace zntest
