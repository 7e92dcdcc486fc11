// The decoder dialog's Apply with every view on, at CIF, in an offscreen main window: the document
// window, windows A, B, chain and D and the legend are all updated for every picture, as a user sees
// them. The figure is pictures per second of wall time (the frame loop's budget is 50 ms a picture,
// 20 per second). With --show SECONDS it runs on the display given by QT_QPA_PLATFORM/DISPLAY once and
// keeps the windows up that long, for a look, bringing each tab forward in turn.
#include "h264/support/run_streams.h"
#include "h264dec/ui/h264dec_dlg.h"
#include "image/cdib.h"
#include "platform/messages.h"
#include "platform/qt/gui_platform.h"
#include "shell/compression_app.h"
#include "shell/dialog_support.h"
#include "shell/dib_doc.h"
#include "shell/doc_commands.h"
#include "shell/main_frame.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr int kGroups = 10; // I0 then ten P-B-B groups: 31 pictures

void Click(QWidget *dlg, int id)
{
    if (auto *b = zn::FindControl<QAbstractButton>(dlg, id))
        b->click();
}

} // namespace

int main(int argc, char **argv)
{
    int show = 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--show") == 0)
            show = std::atoi(argv[i + 1]);
    if (!show)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    zn::InstallGuiPlatform();  // the frame loop's key poll lets every window repaint between pictures
    zn::MessageRecorder boxes; // nothing may stop the run
    const std::string dir = "/tmp/zn_h264dec_apply_bench_" + std::to_string(getpid()) + "/";
    std::system(("mkdir -p " + dir).c_str());
    const std::string path = dir + "pan.264";
    // The stream, and the leaky-bucket file the decoder finds in the user's folder.
    if (!h264test::WriteBytes(path, h264test::IbbpStream(false, 22, 18, kGroups)) ||
        h264test::WriteLeakyBucketFile(dir).empty())
        return 1;
    theApp.m_sUserDir = theApp.m_sImageDir = QString::fromStdString(dir);
    RegisterH264DecoderModule();
    auto *frame = new CMainFrame;
    frame->LoadFrame();
    theApp.m_pMainWnd = frame;
    frame->resize(1600, 1000);
    frame->show();
    CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(path));
    if (!doc)
        return 1;
    doc->OnCommand(zn::cmd::kH264Decoder);
    auto *dlg = dynamic_cast<CH264decDlg *>(doc->m_pH264decDlg);
    if (!dlg)
        return 1;
    for (int id : {2067, 2076, 2078, 2080, 2071, 2084, 2087})
        Click(dlg, id);
    const int pictures = 1 + 3 * kGroups;
    const int runs = show ? 1 : 5;
    double best = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        Click(dlg, CH264decDlg::IDC_APPLY);
        QApplication::processEvents();
        const double fps = pictures * 1000.0 / std::max<qint64>(1, t.elapsed());
        best = std::max(best, fps);
        std::printf("Apply with every view on, CIF, %d pictures: %.1f pictures/s\n", pictures, fps);
    }
    std::printf("best: %.1f pictures/s (budget 20)\n", best);
    if (boxes.Count())
        std::printf("messages: %s\n", boxes.Texts().front().c_str());
    if (show) {
        // One tab after the other, three seconds each, so every page can be looked at.
        QTimer tabs;
        QObject::connect(&tabs, &QTimer::timeout, dlg, [dlg] {
            CXTabCtrl *t = dlg->TabCtrl();
            t->SelectTab((t->GetCurSel() + 1) % t->GetItemCount());
        });
        tabs.start(3000);
        QTimer::singleShot(show * 1000, &app, &QApplication::quit);
        app.exec();
    }
    theApp.m_pMainWnd = nullptr;
    if (frame->MdiArea())
        frame->MdiArea()->closeAllSubWindows();
    delete frame;
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
