// Test entry: every test binary runs headless with one QApplication.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QUELT_SOURCE_DIR", QUELT_SOURCE_DIR_DEFAULT, 0);
    setenv("QUELT_BIN_DIR", QUELT_BIN_DIR_DEFAULT, 0);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Dessa");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
