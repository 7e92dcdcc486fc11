// Shared set-up of the document tests: an MDI area of 1024 x 700 in a main window, and small image
// files made on the spot.
#pragma once

#include "image/cdib.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"
#include "shell/module_dialog.h"
#include "support/test_support.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace doctest {

// A grey 24-bit image whose pixel (x, y from the top) is f(x, y).
template <typename F> inline void MakeGrey24(CDib &dib, int w, int h, F f)
{
    dib.Create24(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t *row = dib.StoredRow(h - 1 - y);
        for (int x = 0; x < w; ++x)
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<uint8_t>(f(x, y));
    }
}

inline void WriteBmp(const std::string &path, int w, int h, int value)
{
    CDib dib;
    MakeGrey24(dib, w, h, [value](int, int) { return value; });
    ASSERT_TRUE(dib.SaveDibFile(path)) << path;
}

// An 8-bit grey-palette BMP.
inline void WriteBmp8(const std::string &path, int w, int h, int value)
{
    RGBQUAD pal[256];
    for (int k = 0; k < 256; ++k)
        pal[k].rgbBlue = pal[k].rgbGreen = pal[k].rgbRed = static_cast<uint8_t>(k);
    CDib dib;
    dib.Create8(w, h, pal, 256);
    for (int k = 0; k < h; ++k)
        std::fill(dib.StoredRow(k), dib.StoredRow(k) + w, static_cast<uint8_t>(value));
    ASSERT_TRUE(dib.SaveDibFile(path)) << path;
}

// The first byte of the pixel at the top left.
inline int TopLeft(const CDib *dib)
{
    return dib->StoredRow(dib->GetHeight() - 1)[0];
}

class DocFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_window = std::make_unique<QMainWindow>();
        m_area = new QMdiArea;
        m_window->setCentralWidget(m_area);
        m_window->resize(1024, 700);
        m_window->show();
        m_area->resize(1024, 700);
        m_area->viewport()->resize(1024, 700);
        CDibDoc::SetMdiArea(m_area);
    }
    void TearDown() override
    {
        m_area->closeAllSubWindows();
        Flush();
        CDibDoc::SetMdiArea(nullptr);
        m_window.reset();
        Flush();
        EXPECT_TRUE(CDibDoc::Documents().empty());
    }
    static void Flush()
    {
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    CDibDoc *OpenBmp(const std::string &name, int w, int h, int value = 100)
    {
        WriteBmp(m_dir.File(name), w, h, value);
        return CDibDoc::OpenDocumentFile(QString::fromStdString(m_dir.File(name)));
    }
    int SubWindowCount() const { return static_cast<int>(m_area->subWindowList().size()); }

    zntest::ScratchDir m_dir;
    std::unique_ptr<QMainWindow> m_window;
    QMdiArea *m_area = nullptr;
};

// A stand-in module dialog on the shared module-dialog base, with an R(D) key or none; counts how
// often it was made and attached.
class StandInModule : public CModuleDialog
{
public:
    static inline int made = 0;
    static inline int attached = 0;
    StandInModule(const char *caption, const char *rdKey) : CModuleDialog(149, Template(caption))
    {
        if (rdKey)
            SetRDKey(rdKey);
    }
    void OnDocumentAttached() override { ++attached; }

private:
    static ModuleTemplate Template(const char *caption)
    {
        ModuleTemplate t;
        t.caption = QString::fromLatin1(caption);
        t.tabId = 1501;
        t.applyId = 1058;
        t.resultId = 1503;
        return t;
    }
};

inline CDibDoc::ModuleFactory StandInFactory(const char *caption, const char *rdKey)
{
    return [caption, rdKey](CDibDoc *doc) -> QDialog * {
        auto *dlg = new StandInModule(caption, rdKey);
        dlg->m_pStartDibDoc = doc;
        dlg->Create();
        ++StandInModule::made;
        return dlg;
    };
}

} // namespace doctest
