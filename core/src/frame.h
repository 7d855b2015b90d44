#pragma once

#include <QString>

namespace ze::nox::core {

// Which part of a picture is meant; also the column of a component in the per-frame metric values.
enum Component : int {
    COMPONENT_Y = 0,
    COMPONENT_U = 1,
    COMPONENT_V = 2,
    COMPONENT_YUV = 3,
};

QString GetComponentName(Component component);

} // namespace ze::nox::core
