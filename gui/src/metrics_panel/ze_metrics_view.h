#pragma once

#include "display/frame.h"
#include "app/ze_nox_gui_errors.h"
#include "metrics/ze_quality_metric_calculator.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <array>

class QLabel;
class QwtPlot;
class Ui_ZeMetricsWindow;

namespace ze::nox::gui {

class MetricDiffCurve;
class RdMetricCurve;
class ZeMetricsPlot;
class ZeNoxRdCurve;
class ZeNoxRdCurvesLegend;
class ZeNoxSourceFile;
class ZeVideoStreamMetrics;

// The metrics panel: per-frame, left/right difference and RD charts of every metric and
// component, the quality calculation of every compared stream, and the BD rates of the RD curves
// against the project's anchor curve. Mirrors the project on every projectChanged(true).
class ZeMetricsView : public QWidget
{
    Q_OBJECT
public:
    // BD rates of one curve against the anchor, [metric][component].
    using BdRateValues = std::array<std::array<double, 4>, 3>;
    using BdRateTable = QMap<QPair<ZeNoxRdCurve const*, ZeNoxRdCurve const*>, BdRateValues>;

    // The 12 RD metric curves of one project RD curve and the streams that give their points.
    class RdPlotCurve
    {
    public:
        struct Entry
        {
            RdMetricCurve* curve = nullptr;
            QList<ZeVideoStreamMetrics const*> sources;
        };

        RdPlotCurve() = default;
        ~RdPlotCurve();
        RdPlotCurve(RdPlotCurve const&) = delete;
        RdPlotCurve& operator=(RdPlotCurve const&) = delete;

        QString name() const { return m_name; }
        void setName(QString const& name);
        void addCurve(ze::nox::core::ZeVideoQualityMetric metric, ze::nox::core::Component component,
                      RdMetricCurve* curve);
        void setSources(QList<ZeVideoStreamMetrics const*> const& sources);
        QList<ZeVideoStreamMetrics const*> sources() const { return m_entries[0][0].sources; }
        // Drops the stream of that canonical path from every entry; the points are taken again
        // from the remaining sources.
        void removeSource(QString const& canonicalPath);
        // One point per source with measured frames: (bit rate, running mean of the entry's chart).
        void gatherValues();
        RdMetricCurve* metricCurve(ze::nox::core::ZeVideoQualityMetric metric,
                                   ze::nox::core::Component component) const;
        void clear();
        double minX(ze::nox::core::ZeVideoQualityMetric metric, ze::nox::core::Component component) const;
        double maxX(ze::nox::core::ZeVideoQualityMetric metric, ze::nox::core::Component component) const;
        void attachCurve(ze::nox::core::ZeVideoQualityMetric metric, ze::nox::core::Component component, QwtPlot* plot);

    private:
        QString m_name;
        Entry m_entries[3][4];
    };

    // Height of a chart: never less than the least, and the preferred at first start where the
    // screen allows it.
    static constexpr int kMinChartHeight = 180;
    static constexpr int kPreferredChartHeight = 240;

    explicit ZeMetricsView(QWidget* parent = nullptr);
    ~ZeMetricsView() override;

    // The least height and kPreferredChartHeight for the chart.
    QSize sizeHint() const override;

    // BD rate of `compared` against `anchor` in per cent (CalcBdRate): the change of the rate at
    // equal quality; not a number where none exists.
    double calcBdRate(RdMetricCurve const& anchor, RdMetricCurve const& compared) const;
    BdRateValues calcBdRate(RdPlotCurve const& anchor, RdPlotCurve const& compared) const;
    BdRateTable calcBdRates() const;
    BdRateTable const& bdRates() const { return m_bdRates; }

    void clear();
    void setTotalFrameCount(int count);
    // From the start of a run until every calculator that started in it has ended.
    bool isRunning() const { return m_runActive; }
    // Run is offered with a reference, streams to compare and no run going.
    bool isRunAvailable() const;
    // Folder of the VMAF model files; empty: the application's.
    void setVmafModelsDir(QString const& dir) { m_vmafModelsDir = dir; }
    QString vmafModelsDir() const;
    // Why the stream cannot be measured against the reference; empty when it can.
    QString cannotMeasureReason(ZeVideoStreamMetrics const& stream) const;
    // Why no stream can be measured (a missing VMAF model file); empty when nothing is missing.
    QString missingModelReason() const;
    // The lines of the Metrics tab that name the streams that cannot be measured and why.
    QLabel* streamMessagesLabel() const { return m_streamMessages; }

    void updateStreamList();
    ZeNoxGuiError addStream(ZeNoxSourceFile const* file);
    void removeStream(ZeNoxSourceFile const* file);
    void updateRdCurveList();
    ZeNoxGuiError addRdCurve(ZeNoxRdCurve const* curve);
    void removeRdCurve(ZeNoxRdCurve const* curve);
    void setLeftRightForDiff(ZeNoxSourceFile const* left, ZeNoxSourceFile const* right);
    void setReferenceStream(ZeNoxSourceFile const* file);
    QString getNormalizedFilename(QString const& name) const;

    // Read access for the window and the tests.
    QHash<ZeNoxSourceFile const*, ZeVideoStreamMetrics*> const& streams() const { return m_streams; }
    QMap<ZeNoxRdCurve const*, RdPlotCurve*> const& rdPlotCurves() const { return m_rdPlotCurves; }
    QVector<MetricDiffCurve*> const& diffCurves() const { return m_diffCurves; }
    QLabel* bdLabel() const { return m_bdLabel; }

public slots:
    void onProjectChanged(bool configurationValid);
    void onMetricsStarted();
    void onMetricsProgress(int percent);
    void onMetricsStopped();
    void selectFrame(int frameNum);
    void startCalculation();
    void stopCalculation();
    void resetToDefault();

signals:
    void started();
    void stopped(bool isFinished = false);
    void runMetricsCalcAvailabilityChanged(bool available);
    void stopMetricsCalcAvailabilityChanged(bool available);
    void curFrameSelectionChanged(int frameNum);

private slots:
    void enableDisableTabs();
    void clearBdRates();
    void updateCurBdRateText();

private:
    void onStarted();
    void onStopped(bool isFinished);
    void updateRunAvailability();
    // One message line per stream that cannot be measured (empty text removes it), shown on the
    // Metrics tab.
    void setStreamMessage(ZeVideoStreamMetrics const* stream, QString const& text);
    void updateStreamMessages();
    // Opens again the reference and compared files that changed on disk since they were opened;
    // the lines naming the files that could not be opened.
    QStringList reopenChangedFiles();
    // Takes every RD curve's points again from the streams' current means.
    void rebuildRdPoints();
    void onRdCurveChanged();
    void placeBdLabel(ZeMetricsPlot* plot);
    void clearRdMetricCurves();
    void deleteDiffCurves();
    static QString canonicalPath(QString const& name);

    Ui_ZeMetricsWindow* m_ui = nullptr;
    ZeNoxSourceFile const* m_refSrcFile = nullptr;
    QHash<ZeNoxSourceFile const*, ZeVideoStreamMetrics*> m_streams;
    ZeNoxSourceFile const* m_leftSrcFile = nullptr;
    ZeNoxSourceFile const* m_rightSrcFile = nullptr;
    QVector<MetricDiffCurve*> m_diffCurves;
    QVector<ZeMetricsPlot*> m_diffPlots;
    QList<ZeMetricsPlot*> m_plots;
    ZeMetricsPlot* m_rdPlots[3][4] = {};
    QList<ZeNoxRdCurvesLegend*> m_rdLegends;
    QMap<ZeNoxRdCurve const*, RdPlotCurve*> m_rdPlotCurves;
    BdRateTable m_bdRates;
    // BD rates were shown and an RD curve has changed since: the text asks for a new run.
    bool m_bdRatesStale = false;
    QLabel* m_bdLabel = nullptr;
    QLabel* m_streamMessages = nullptr;
    QString m_generalMessage;
    // What Run found of files replaced on disk since they were opened, one line each.
    QStringList m_changedFileMessages;
    QMap<ZeVideoStreamMetrics const*, QString> m_messages;
    QString m_vmafModelsDir;
    int m_maxProgress = -1;
    // The streams whose calculator started in the current run and has not ended yet: the run
    // ends when the last of them ends, whatever order their thread signals arrive in.
    QSet<QObject const*> m_runStreams;
    bool m_runActive = false;
    // Cleared when a stream of the current run ends (or leaves) without every frame measured.
    bool m_runComplete = true;
};

} // namespace ze::nox::gui
