// The main of both test programs. The cases run inside an application object, so that widgets,
// queued signals and QSignalSpy work: a QApplication for the core tests, the program's own
// application object for the GUI tests (built with SERAVIN_TEST_GUI_APP), so that theApp(), its
// settings and its log exist as in the program. The offscreen platform is used when no other is
// set, and the settings store is a temporary folder of this run, never the user's. With
// SERAVIN_TEST_NO_APP=1 no application object is made: a test then makes its own (used by the
// tests of the application object's life, run as a child process).
#if defined(SERAVIN_TEST_GUI_APP)
#include "app/ze_nox_gui_app.h"
using TestApplication = ze::nox::gui::ZeNoxGuiApp;
#else
#include <QApplication>
using TestApplication = QApplication;
#endif

#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
// Leaks are reported for our own code; the toolkit's platform plugin and font caches keep
// singletons alive until exit and are not ours to fix.
extern "C" char const* __lsan_default_suppressions()
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

    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir settingsDir;
    if (!settingsDir.isValid()) {
        std::fprintf(stderr, "no temporary folder for the settings\n");
        return 1;
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());

    // Listing the tests must print nothing else (the program's log also writes to standard output).
    if (::testing::GTEST_FLAG(list_tests) || qEnvironmentVariable("SERAVIN_TEST_NO_APP") == QLatin1String("1"))
        return RUN_ALL_TESTS();
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
