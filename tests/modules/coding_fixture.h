// What the DCT and subband module tests share: a photo-like test image, the generated tables,
// combo-box selection as a user makes it, the measures read back from the result text, the result
// windows A and B, and the Preferences dialog that an empty tables directory opens.
#pragma once

#include "modules/module_harness.h"

#include "image/cdib.h"
#include "shell/compression_app.h"
#include "shell/dialog_support.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

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

// A measure of the result text ("  PSNR\t\t\t:" and friends); NaN when absent or "Infinite".
inline double Measure(const std::string &text, const std::string &label)
{
    const size_t at = text.find(label);
    if (at == std::string::npos)
        return std::nan("");
    const char *s = text.c_str() + at + label.size();
    char *end = nullptr;
    const double v = std::strtod(s, &end);
    return end == s ? std::nan("") : v;
}
inline double ReportedPsnr(const std::string &text)
{
    return Measure(text, "  PSNR\t\t\t:");
}
inline double ReportedRate(const std::string &text)
{
    return Measure(text, "  Coded Bitrate\t\t:");
}

inline std::string Caption(CDibFrame *f)
{
    return f ? f->windowTitle().toStdString() : std::string();
}
inline std::string ImageName(CDibFrame *f)
{
    return f && f->View() && f->View()->GetDib() ? f->View()->GetDib()->m_title : std::string();
}
inline std::string Description(CDibFrame *f)
{
    return f && f->View() ? f->View()->m_sDescription.toStdString() : std::string();
}

// Closes the next modal dialog (the Preferences) once it is up, and records its type name.
inline void RejectNextModal(std::string *className)
{
    QTimer::singleShot(10, [className] {
        if (QWidget *w = QApplication::activeModalWidget()) {
            *className = w->metaObject()->className();
            w->close();
        } else {
            RejectNextModal(className);
        }
    });
}

// Outside images: each one with even sides (the document offers the module only then) is opened as a
// document, coded once with the dialog's defaults, and its reported PSNR checked against ImageMagick
// on the document's own grey image. Prints the corpus line when there were files.
template <class Dlg> void CheckCorpus(zntest::ModuleHarness &h, int command, int apply, int results)
{
    const auto files = zntest::CorpusFiles("bmp");
    int checked = 0;
    for (const std::string &file : files) {
        CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(file));
        ASSERT_NE(doc, nullptr) << file;
        if (doc->m_pDib->GetWidth() % 2 || doc->m_pDib->GetHeight() % 2)
            continue;
        const std::string reference = h.Dir().File("reference.bmp");
        ASSERT_TRUE(doc->m_pDib->SaveDibFile(reference));
        auto *dlg = h.Open<Dlg>(doc, command);
        ASSERT_NE(dlg, nullptr) << file;
        zntest::ModuleHarness::Click(dlg, apply);
        const double magick = zntest::MagickPsnr(reference, h.SaveChainImage(doc, "result.bmp"));
        EXPECT_NEAR(ReportedPsnr(zntest::ModuleHarness::ResultText(dlg, results)), magick, 0.05 + 1e-3)
            << file;
        ++checked;
    }
    if (!files.empty())
        std::printf("corpus: %d files checked\n", checked);
}

} // namespace codingtest
