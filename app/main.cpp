// Zantho: starts the Qt application and hands over to the shell.
#include "platform/qt/gui_platform.h"

#include <QApplication>
#include <QMainWindow>
#include <clocale>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Numbers in tables, reports and PostScript are always written in the C locale.
    std::setlocale(LC_NUMERIC, "C");
    zn::InstallGuiPlatform();
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Zantho"));
    window.resize(1024, 768);
    window.show();
    return app.exec();
}
