#pragma once

#include "decoders/ze_nox_decoder.h"
#include "app/ze_nox_gui_app.h"
#include "metrics/ze_quality_metric_calculator.h"

#include <QColor>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>

namespace ze::nox::gui {

class MetricCurve;
class ZeMetricsPlot;
class ZeNoxSourceFile;

// The metrics panel's record of one compared stream: its calculator, and per chart the per-frame
// curve, the running-average curve, the count of frames received and their running mean.
class ZeVideoStreamMetrics : public QObject
{
    Q_OBJECT
public:
    // Chart k shows value k of the calculator's per-frame values (metric x 4 + component).
    ZeVideoStreamMetrics(ZeNoxSourceFile const& srcFile, QVector<ZeMetricsPlot*> const& plots,
                         QObject* parent = nullptr);
    ~ZeVideoStreamMetrics() override;

    // Per-frame curve of chart `index`; null outside the charts.
    MetricCurve* curve(int index) const;
    // Empties every curve, count and mean.
    void clear();

    QString const m_fileName;
    ZeNoxSourceFile const* const m_srcFile;
    QColor const m_color;
    ze::nox::core::ZeQualityMetricCalculator m_calculator;
    QVector<ZeMetricsPlot*> const m_plots;
    QVector<MetricCurve*> m_frameCurves;
    QVector<MetricCurve*> m_avgCurves;
    QVector<int> m_counts;
    QVector<double> m_means;
    // Frame pairs the last started run set out to measure: the shorter of the two ranges.
    int m_expectedFrames = 0;

public slots:
    // Stops a running measurement, clears, and with a reference starts a new one; the result of
    // starting the calculator (0 when its thread runs; also 0 without a reference).
    ze::nox::core::ZeNoxCoreError startCalculation(ze::nox::gui::ZeNoxSourceFile const* refSrcFile,
                                                   int numThreadsPerFile,
                                                   QSet<ze::nox::core::ZeVideoQualityMetric> requiredMetrics);
    void stopCalculation();

signals:
    void started();
    void stopped();
    void progress(int percent);

private:
    void onFrameMetricsReady(int frameNum, QVector<double> const& values);
    // Writes the log line of the run that has just ended, once.
    void logRunEnd();

    ZeNoxGuiApp::MeasurementRun m_run;
    QElapsedTimer m_runTime;
};

} // namespace ze::nox::gui
