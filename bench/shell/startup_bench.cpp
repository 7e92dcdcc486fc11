// Start-up to the main window: the application object's whole start (settings, main frame with its
// menus, tool bar and status bar, start image, welcome box) until the main window is shown, and the
// matching exit. Runs offscreen with a private settings folder that names all four directories.
#include "platform/qt/settings_store.h"
#include "shell/compression_app.h"
#include "shell/main_frame.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <clocale>
#include <cstdlib>

namespace {

void BM_StartToMainWindow(benchmark::State &state)
{
    for (auto _ : state) {
        if (!theApp.InitInstance({QStringLiteral("zantho")})) {
            state.SkipWithError("start-up failed");
            return;
        }
        QCoreApplication::processEvents(); // the first paint of the main window
        benchmark::DoNotOptimize(theApp.m_pMainWnd->isVisible());
        state.PauseTiming();
        theApp.ExitInstance();
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
}
// The first start of the process pays for fonts, styles and resources once; later starts do not.
BENCHMARK(BM_StartToMainWindow)->Name("FirstStartInProcess")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartToMainWindow)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toUtf8().constData(), 1);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    zn::AppSettings s;
    s.imageDir = s.tableDir = s.codebookDir = s.userDir = config.path() + '/';
    zn::SettingsStore::Save(s);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
