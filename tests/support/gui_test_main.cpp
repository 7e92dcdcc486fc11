// main() of the GUI tests: an offscreen QApplication, C numeric locale, a private settings folder.
#include "support/test_support.h"

#include <QApplication>
#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never touch the user's own settings.
    static zntest::ScratchDir config;
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
