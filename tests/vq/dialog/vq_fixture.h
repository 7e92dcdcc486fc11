// What the VQ dialog tests share: a dialog on a document of its own, codebook files written as the
// design dialog writes them, and the file dialogs answered by the test.
#pragma once

#include "modules/module_harness.h"

#include "image/cdib.h"
#include "image/znimage.h"
#include "modules/vq/vq_codebook.h"
#include "modules/vq/vq_dlg.h"
#include "modules/common/file_dialog.h"
#include "modules/vq/vq_pages.h"
#include "platform/messages.h"
#include "platform/random.h"
#include "shell/compression_app.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace vqtest {

constexpr int kApply = CVqDlg::IDC_APPLY;
constexpr int kResults = CVqDlg::IDC_RESULTS;

// Smooth shading, edges and texture.
inline std::unique_ptr<CDib> Photo(int w = 64, int h = 48)
{
    return zntest::MakeGreyDib(w, h, [](int x, int y) {
        return static_cast<int>(110 + 60 * std::sin(y * 0.09) * std::cos(x * 0.07) +
                                ((x / 12 + y / 10) % 3 == 0 ? 45 : 0) + ((x * 7 + y * 13) % 9));
    });
}

// A codebook image whose component c of vector i at rate r is comp(r, i, c) (whole numbers, so the
// file holds them exactly).
inline std::unique_ptr<ZnImage> MakeCodebook(int w, int h, int rmin, int rmax,
                                             const std::function<int(int r, int i, int c)> &comp)
{
    auto cb = std::make_unique<ZnImage>();
    int rows = 0, cols = 0;
    VqCodebookSize(w, h, rmin, rmax, &rows, &cols);
    cb->Alloc(rows, cols);
    std::fill(cb->Data(), cb->Data() + static_cast<size_t>(rows) * cols, 0.0f);
    const float head[4] = {static_cast<float>(w), static_cast<float>(h), static_cast<float>(rmin),
                           static_cast<float>(rmax)};
    std::copy(head, head + 4, cb->Data());
    VqPlacement cursor(w, cols);
    for (int r = rmin; r <= rmax; ++r) {
        std::vector<float> v(static_cast<size_t>(1 << r) * w * h);
        for (int i = 0; i < (1 << r); ++i)
            for (int c = 0; c < w * h; ++c)
                v[static_cast<size_t>(i) * w * h + c] = static_cast<float>(comp(r, i, c));
        VqPutRateVectors(cb.get(), {w, h, rmin, rmax}, r, v.data(), &cursor);
    }
    return cb;
}

// Flat vectors spread over the grey range: vector i of rate r is the level (i + 0.5) * 256 / 2^r.
inline int FlatLevel(int r, int i, int)
{
    return static_cast<int>((i + 0.5) * 256.0 / (1 << r));
}

inline std::string WriteCodebookFile(const std::string &path, const ZnImage &codebook)
{
    CDib file;
    codebook.ZnImageToDib(&file);
    EXPECT_TRUE(file.SaveDibFile(path));
    return path;
}

// Answers the module's file dialogs: every request is kept, the answers are given in order ("" is
// Cancel), and the real dialog is back at the end.
struct FileDialogScript
{
    FileDialogScript()
    {
        previous = SetModuleFileDialogHook([this](const ModuleFileRequest &r) {
            requests.push_back(r);
            if (answers.empty())
                return QString();
            const QString a = QString::fromStdString(answers.front());
            answers.erase(answers.begin());
            return a;
        });
    }
    ~FileDialogScript() { SetModuleFileDialogHook(previous); }
    std::vector<ModuleFileRequest> requests;
    std::vector<std::string> answers;
    ModuleFileDialogHook previous;
};

struct VqDialogTest : ::testing::Test
{
    void SetUp() override
    {
        RegisterVqModule();
        theApp.m_sCodebookDir = QString::fromStdString(h.Dir().Path());
    }
    void TearDown() override { zn::UnpinRandSeed(); }

    CVqDlg *Open(const std::string &title, const CDib &image)
    {
        doc = h.OpenImage(title, image);
        dlg = h.Open<CVqDlg>(doc, zn::cmd::kVq);
        return dlg;
    }
    // Loads a codebook file through the Codebook page as a user does.
    void Load(const std::string &path)
    {
        files.answers.push_back(path);
        zntest::ModuleHarness::Click(dlg, CVqCodebookDlg::IDC_LOAD);
    }
    std::string SaveCodebook(const std::string &name, const ZnImage &codebook)
    {
        return WriteCodebookFile(h.Dir().File(name), codebook);
    }
    std::string Text() { return zntest::ModuleHarness::ResultText(dlg, kResults); }
    void Apply() { zntest::ModuleHarness::Click(dlg, kApply); }

    zn::MessageRecorder messages;
    FileDialogScript files;
    zntest::ModuleHarness h;
    CDibDoc *doc = nullptr;
    CVqDlg *dlg = nullptr;
};

// The title of the bits page's group box, which names the vector shape.
inline std::string GroupText(CVqDlg *dlg)
{
    return dlg->BitsPage()->Group()->title().toStdString();
}

} // namespace vqtest
