// Test entry: every test binary runs headless with one QApplication.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// An AddressSanitizer build checks for leaks at exit; the leaks of system
// libraries that are not ours are suppressed by the entries of tests/lsan.supp.
#define QUELT_LSAN_OPTIONS "suppressions=" QUELT_SOURCE_DIR_DEFAULT "/tests/lsan.supp:print_suppressions=0"
extern "C" const char* __lsan_default_options() { return QUELT_LSAN_OPTIONS; }
#endif

int main(int argc, char** argv)
{
#if defined(__SANITIZE_ADDRESS__)
    // ... and the same for the programs a test starts.
    setenv("LSAN_OPTIONS", QUELT_LSAN_OPTIONS, 0);
#endif
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QUELT_SOURCE_DIR", QUELT_SOURCE_DIR_DEFAULT, 0);
    setenv("QUELT_BIN_DIR", QUELT_BIN_DIR_DEFAULT, 0);
    // Settings of a folder of their own, never the user's, for the tests and
    // the programs they start; removed at the end.
    QTemporaryDir config(QDir::tempPath() + "/quelt-test-config-XXXXXX");
    if (config.isValid())
        setenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()).constData(), 1);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Dessa");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
