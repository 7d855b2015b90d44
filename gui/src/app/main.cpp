// The application: the application object and the one main window, then the event loop.
#include "app/ze_nox_gui_app.h"
#include "app/ze_nox_gui_main_window.h"

int main(int argc, char* argv[])
{
    ze::nox::gui::ZeNoxGuiApp app(argc, argv);
    // Declared after the application object, so it is destroyed first.
    ze::nox::gui::ZeNoxGuiMainWindow window(nullptr);
    window.show();
    return app.exec();
}
