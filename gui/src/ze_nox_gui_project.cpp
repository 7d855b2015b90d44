#include "ze_nox_gui_project.h"

namespace ze::nox::gui {

ZeNoxGuiProject::ZeNoxGuiProject(QObject* parent)
    : QObject(parent)
{
}

ZeNoxGuiProject::~ZeNoxGuiProject() = default;

} // namespace ze::nox::gui
