#include "frame.h"

namespace ze::nox::core {

QString GetComponentName(Component component)
{
    switch (component) {
    case COMPONENT_Y: return QStringLiteral("Y");
    case COMPONENT_U: return QStringLiteral("U");
    case COMPONENT_V: return QStringLiteral("V");
    case COMPONENT_YUV: return QStringLiteral("YUV");
    default: return QString();
    }
}

} // namespace ze::nox::core
