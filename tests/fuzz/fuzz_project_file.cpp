// The project-file loader on any bytes, inside the application object as in the program. A
// dialog the loader opens (the codec-type question, the raw-parameters dialog) is cancelled at
// once. Rules: a failed load leaves an empty project without file name; a loaded project saved
// again loads again with the same files and curves.
#include "fuzz_support.h"

#include "app/ze_nox_gui_app.h"
#include "project/ze_nox_gui_project.h"

#include <QApplication>
#include <QDialog>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>

using namespace ze::nox::gui;

#if defined(__SANITIZE_ADDRESS__) || (defined(__has_feature) && __has_feature(address_sanitizer))
// The toolkit's platform plugin and font caches keep singletons alive until exit.
extern "C" char const* __lsan_default_suppressions()
{
    return "leak:libQt5Core\nleak:libQt5Gui\nleak:libQt5Widgets\nleak:libqoffscreen\n"
           "leak:libfontconfig\nleak:libglib\n";
}
#endif

namespace {

ZeNoxGuiApp* sApp = nullptr;

// Cancels every modal window as soon as its event loop runs.
void CancelDialogs()
{
    static QTimer sTimer;
    sTimer.setInterval(0);
    QObject::connect(&sTimer, &QTimer::timeout, [] {
        if (QWidget* const w = QApplication::activeModalWidget()) {
            if (auto* d = qobject_cast<QDialog*>(w))
                d->reject();
            else
                w->close();
        }
    });
    sTimer.start();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings and logs of this run only, never the user's.
    QStandardPaths::setTestModeEnabled(true);
    QString const store = fuzzsupport::ScratchDir().filePath(QStringLiteral("settings"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, store);
    sApp = new ZeNoxGuiApp(*argc, *argv);
    fuzzsupport::QuietLogs();
    CancelDialogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    QString const path = fuzzsupport::WriteScratch(QStringLiteral("case.json"), data, size);
    ZeNoxGuiProject project;
    ZeNoxGuiError const res = project.loadFromFile(path);
    if (res != ZE_NOX_GUI_OK) {
        FUZZ_CHECK(project.isEmpty() && project.sourceFiles().isEmpty() && project.rdCurves().isEmpty(),
                   "load gave %d and kept %d files, %d curves", int(res), int(project.sourceFiles().size()),
                   int(project.rdCurves().size()));
        return 0;
    }
    int const files = int(project.sourceFiles().size());
    int const curves = int(project.rdCurves().size());
    QString const again = fuzzsupport::ScratchDir().filePath(QStringLiteral("again.json"));
    QFile::remove(again);
    project.setFileName(again);
    project.saveToFile();
    ZeNoxGuiProject reloaded;
    ZeNoxGuiError const res2 = reloaded.loadFromFile(again);
    FUZZ_CHECK(res2 == ZE_NOX_GUI_OK, "the saved project does not load: %d", int(res2));
    FUZZ_CHECK(int(reloaded.sourceFiles().size()) == files && int(reloaded.rdCurves().size()) == curves,
               "saved %d files, %d curves; loaded %d, %d", files, curves, int(reloaded.sourceFiles().size()),
               int(reloaded.rdCurves().size()));
    return 0;
}
