#pragma once

#include "decoders/ze_nox_decoder.h"
#include "display/frame.h"

#include <QSet>
#include <QString>
#include <QThread>
#include <QVector>

#include <atomic>

namespace ze::nox::core {

// Row of a metric in the per-frame metric values.
enum ZeVideoQualityMetric : int {
    ZE_VIDEO_QUALITY_METRIC_PSNR = 0,
    ZE_VIDEO_QUALITY_METRIC_SSIM = 1,
    ZE_VIDEO_QUALITY_METRIC_VMAF = 2,
};

QString GetZeVideoQualityMetricName(ZeVideoQualityMetric metric);

// One frame's quality result: 12 values indexed metric x 4 + component (PSNR Y, U, V, YUV,
// then SSIM, then VMAF). The YUV entry is the weighted mean of the three planes.
using MetricValues = QVector<double>;

// Measures one distorted stream against the reference on a thread of its own, with two
// decoders of its own. Per-frame values and progress are emitted from worker threads.
class ZeQualityMetricCalculator : public QThread
{
    Q_OBJECT
public:
    explicit ZeQualityMetricCalculator(QObject* parent = nullptr);
    ~ZeQualityMetricCalculator() override;

    // Opens both files and starts the thread; 0, or the first failing code of creating or
    // opening a decoder. Null parameters: type from the file name, whole stream validated.
    ZeNoxCoreError start(QString const& distFile, StreamParams const* distParams, QString const& refFile,
                         StreamParams const* refParams, int threads, int refFirst, int refLast, int distFirst,
                         int distLast, QSet<ZeVideoQualityMetric> metrics, YuvRequiredParamsCallbackFn callback);
    // Requests a stop at the next frame pull and waits for the thread.
    void stop();
    // The distorted stream's bit rate at 25 frames per second; 0 without a distorted stream.
    int getAvgBitrateKbps() const;
    // "yuv420p10le" for a reference deeper than 8 bits, "yuv420p" otherwise, empty when closed.
    QString getVmafColorFormatName() const;

    // The measurement's frame pull, in frame order under the driver's pull lock: hands over the next
    // pair of decoded frames (0), or answers 1 on an error, 2 when there are no more frames.
    int readFrameCallback();
    // Writes the planes of a frame pair handed over by the pull as float planes (rows stride bytes
    // apart) and gives its decoded frames back to the read-ahead; on a driver worker, outside any lock.
    void fillFrameCallback(int frame, float* ref[4], float* dis[4], int const stride[4]);
    // Per-frame delivery (called by the driver's workers, in frame order).
    void frameMetricsReadyCallback(int frameNum, QVector<double> const& values);

    // Read by the owner once the thread has finished.
    std::atomic_bool m_stopRequested{false};
    // Set only when the measurement ran over every frame of the ranges without a failure or stop.
    std::atomic_bool m_finished{false};
    // Folder of the VMAF model files; set by the owner before every start.
    QString m_vmafModelsDir;

signals:
    void frameMetricsReady(int frameNum, QVector<double> const& metricValues);
    void progress(int percent);

protected:
    void run() override;

private:
    class ReadAhead;

    void reset();
    bool checkStreamsMatch() const;

    ZeNoxDecoder* m_distDecoder = nullptr;
    ZeNoxDecoder* m_refDecoder = nullptr;
    int m_threadCount = 0;
    QSet<ZeVideoQualityMetric> m_metrics;
    // Both streams decoded ahead of the measurement on threads of their own (during a run only).
    ReadAhead* m_refAhead = nullptr;
    ReadAhead* m_distAhead = nullptr;
    int m_planeWidths[4] = {};
    int m_planeHeights[4] = {};
    int m_frameCount = 0;
    int m_framesRead = 0;
    // Frame pairs the ranges hold, frames delivered, and whether a pull failed, for m_finished.
    int m_framesExpected = 0;
    std::atomic_int m_framesDelivered{0};
    std::atomic_bool m_pullFailed{false};
};

} // namespace ze::nox::core
