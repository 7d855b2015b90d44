#include "metrics_panel/ze_video_stream_metrics.h"

#include "metrics_panel/ze_metric_curve.h"
#include "app/ze_nox_gui_app.h"
#include "project/ze_nox_source_file.h"
#include "metrics_panel/ze_qwt_plot.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaType>

#include <algorithm>

namespace ze::nox::gui {

ZeVideoStreamMetrics::ZeVideoStreamMetrics(ZeNoxSourceFile const& srcFile, QVector<ZeMetricsPlot*> const& plots,
                                           QObject* parent)
    : QObject(parent), m_fileName(srcFile.fullFilename()), m_srcFile(&srcFile), m_color(srcFile.color()),
      m_calculator(nullptr), m_plots(plots)
{
    qRegisterMetaType<QVector<double>>("QVector<double>");
    QString const name = QFileInfo(m_fileName).fileName();
    for (ZeMetricsPlot* plot : m_plots) {
        auto* frameCurve = new MetricCurve(name, m_color.lighter(150), Qt::SolidLine, QwtSymbol::Ellipse);
        frameCurve->attach(plot);
        m_frameCurves.append(frameCurve);
        auto* avgCurve =
            new MetricCurve(QStringLiteral("%1, Avg").arg(name), m_color.darker(200), Qt::DotLine, QwtSymbol::NoSymbol);
        avgCurve->attach(plot);
        m_avgCurves.append(avgCurve);
        m_counts.append(0);
        m_means.append(0.0);
    }
    connect(&m_calculator, &ze::nox::core::ZeQualityMetricCalculator::frameMetricsReady, this,
            &ZeVideoStreamMetrics::onFrameMetricsReady, Qt::QueuedConnection);
    connect(&m_calculator, &QThread::started, this, &ZeVideoStreamMetrics::started);
    connect(&m_calculator, &QThread::finished, this, &ZeVideoStreamMetrics::logRunEnd);
    connect(&m_calculator, &QThread::finished, this, &ZeVideoStreamMetrics::stopped);
    connect(&m_calculator, &ze::nox::core::ZeQualityMetricCalculator::progress, this, &ZeVideoStreamMetrics::progress);
}

ZeVideoStreamMetrics::~ZeVideoStreamMetrics()
{
    stopCalculation();
    clear();
    qDeleteAll(m_frameCurves);
    qDeleteAll(m_avgCurves);
}

MetricCurve* ZeVideoStreamMetrics::curve(int index) const
{
    return index >= 0 && index < m_frameCurves.size() ? m_frameCurves[index] : nullptr;
}

void ZeVideoStreamMetrics::clear()
{
    for (MetricCurve* c : m_frameCurves)
        c->clear();
    for (MetricCurve* c : m_avgCurves)
        c->clear();
    m_counts.fill(0);
    m_means.fill(0.0);
}

ze::nox::core::ZeNoxCoreError
ZeVideoStreamMetrics::startCalculation(ZeNoxSourceFile const* refSrcFile, int numThreadsPerFile,
                                       QSet<ze::nox::core::ZeVideoQualityMetric> requiredMetrics)
{
    m_calculator.stop();
    m_calculator.wait();
    logRunEnd();
    // Results and thread signals of the run just ended may still be queued here; they belong to
    // no run any more and would land in the new run's curves.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    emit stopped();
    clear();
    if (!refSrcFile)
        return ze::nox::core::ZE_NOX_CORE_OK;
    // The files' current records: a file opened again since this collection was made has new ones.
    ze::nox::core::StreamParams const params = m_srcFile->streamParams();
    ze::nox::core::StreamParams const refParams = refSrcFile->streamParams();
    m_expectedFrames = std::min(m_srcFile->frameCount(), refSrcFile->frameCount());
    m_run = {m_fileName,
             refSrcFile->fullFilename(),
             m_srcFile->firstFrameNumber(),
             m_srcFile->lastFrameNumber(),
             refSrcFile->firstFrameNumber(),
             refSrcFile->lastFrameNumber(),
             numThreadsPerFile};
    m_runTime.start();
    ze::nox::core::ZeNoxCoreError const r =
        m_calculator.start(m_fileName, params.valid ? &params : nullptr, refSrcFile->fullFilename(),
                           refParams.valid ? &refParams : nullptr, numThreadsPerFile, refSrcFile->firstFrameNumber(),
                           refSrcFile->lastFrameNumber(), m_srcFile->firstFrameNumber(), m_srcFile->lastFrameNumber(),
                           requiredMetrics, &ZeNoxGuiApp::GetYuvRequiredParams);
    ZeNoxGuiApp::LogMeasurementStart(m_run, r);
    if (r != ze::nox::core::ZE_NOX_CORE_OK)
        m_runTime.invalidate(); // no run to end
    return r;
}

void ZeVideoStreamMetrics::logRunEnd()
{
    if (!m_runTime.isValid())
        return;
    int const frames = m_counts.isEmpty() ? 0 : m_counts.first();
    QString const result = m_calculator.m_finished && !m_calculator.m_stopRequested ? QStringLiteral("finished")
                           : m_calculator.m_stopRequested                           ? QStringLiteral("stopped")
                                                                                    : QStringLiteral("failed");
    ZeNoxGuiApp::LogMeasurementEnd(m_run, frames, m_runTime.elapsed(), result);
    m_runTime.invalidate();
}

void ZeVideoStreamMetrics::stopCalculation()
{
    m_calculator.stop();
    m_calculator.wait();
    // The values of the frames measured before the stop are still queued: they belong to the
    // run that ends here, and its end reports how many there are.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    logRunEnd();
    emit stopped();
}

void ZeVideoStreamMetrics::onFrameMetricsReady(int frameNum, QVector<double> const& values)
{
    for (int k = 0; k < m_frameCurves.size() && k < m_avgCurves.size() && k < values.size(); ++k) {
        if (!m_frameCurves[k])
            continue;
        m_frameCurves[k]->addValue(frameNum, values[k]);
        double const mean = (m_means[k] * m_counts[k] + values[k]) / (m_counts[k] + 1);
        m_means[k] = mean;
        m_avgCurves[k]->addValue(frameNum, mean);
        ++m_counts[k];
    }
}

} // namespace ze::nox::gui
