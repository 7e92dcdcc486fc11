// Zantho: starts the Qt application and hands over to the application object.
#include "platform/qt/gui_platform.h"
#include "shell/compression_app.h"

#include <QApplication>
#include <clocale>

// Generated: connects each module dialog to its document command (app/CMakeLists.txt).
void ZnRegisterModules();

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Numbers in tables, reports and PostScript are always written in the C locale.
    std::setlocale(LC_NUMERIC, "C");
    zn::InstallGuiPlatform();
    ZnRegisterModules();
    if (!theApp.InitInstance(QApplication::arguments()))
        return 1;
    const int loop = app.exec();
    const int code = theApp.ExitInstance();
    return loop != 0 ? loop : code;
}
