// Runs the GoogleTest cases inside a QApplication, so that widgets, queued signals and
// QSignalSpy work; the offscreen platform is used when no other is set.
#include <QApplication>
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// Leaks are reported for our own code; the toolkit's platform plugin and font caches keep
// singletons alive until exit and are not ours to fix.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt5Core\nleak:libQt5Gui\nleak:libQt5Widgets\nleak:libqoffscreen\n"
           "leak:libfontconfig\nleak:libglib\n";
}
#endif

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
