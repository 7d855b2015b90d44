#include "ze_quality_metric_calculator.h"

namespace ze::nox::core {

QString GetZeVideoQualityMetricName(ZeVideoQualityMetric metric)
{
    switch (metric) {
    case ZE_VIDEO_QUALITY_METRIC_PSNR: return QStringLiteral("PSNR");
    case ZE_VIDEO_QUALITY_METRIC_SSIM: return QStringLiteral("SSIM");
    case ZE_VIDEO_QUALITY_METRIC_VMAF: return QStringLiteral("VMAF");
    default: return QString();
    }
}

} // namespace ze::nox::core
