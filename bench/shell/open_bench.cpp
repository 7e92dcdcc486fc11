// Opening a 512 x 512 still image as a document: read, window placed, first scaled draw, closed.
// The target is well under 50 ms per open.
#include "image/cdib.h"
#include "shell/dib_doc.h"
#include "shell/dib_frame.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string MakeImage(int bits)
{
    const std::string path =
        "/tmp/zn_open_bench_" + std::to_string(getpid()) + "_" + std::to_string(bits) + ".bmp";
    CDib dib;
    if (bits == 24) {
        dib.Create24(512, 512);
        for (int k = 0; k < 512; ++k)
            for (int x = 0; x < 3 * 512; ++x)
                dib.StoredRow(k)[x] = static_cast<uint8_t>((x / 3) ^ k);
    } else {
        RGBQUAD pal[256];
        for (int i = 0; i < 256; ++i)
            pal[i].rgbBlue = pal[i].rgbGreen = pal[i].rgbRed = static_cast<uint8_t>(i);
        dib.Create8(512, 512, pal, 256);
        for (int k = 0; k < 512; ++k)
            for (int x = 0; x < 512; ++x)
                dib.StoredRow(k)[x] = static_cast<uint8_t>(x ^ k);
    }
    dib.SaveDibFile(path);
    return path;
}

void BM_OpenStillImage512(benchmark::State &state)
{
    const std::string path = MakeImage(static_cast<int>(state.range(0)));
    QMainWindow window;
    auto *area = new QMdiArea;
    window.setCentralWidget(area);
    window.resize(1024, 700);
    window.show();
    CDibDoc::SetMdiArea(area);
    for (auto _ : state) {
        CDibDoc *doc = CDibDoc::OpenDocumentFile(QString::fromStdString(path));
        if (!doc) {
            state.SkipWithError("open failed");
            break;
        }
        doc->MainView()->grab(); // the first draw: grey conversion and scaling
        doc->m_pMainFrame->close();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    CDibDoc::SetMdiArea(nullptr);
    std::remove(path.c_str());
}
BENCHMARK(BM_OpenStillImage512)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
