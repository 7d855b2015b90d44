#pragma once

#include <QString>

namespace ze::nox::core {

// Row of a metric in the per-frame metric values.
enum ZeVideoQualityMetric : int {
    ZE_VIDEO_QUALITY_METRIC_PSNR = 0,
    ZE_VIDEO_QUALITY_METRIC_SSIM = 1,
    ZE_VIDEO_QUALITY_METRIC_VMAF = 2,
};

QString GetZeVideoQualityMetricName(ZeVideoQualityMetric metric);

} // namespace ze::nox::core
