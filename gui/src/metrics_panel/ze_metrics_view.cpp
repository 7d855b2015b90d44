#include "metrics_panel/ze_metrics_view.h"

#include "ui_ze_metrics_view.h"
#include "metrics_panel/ze_bd_rate.h"
#include "metrics_panel/ze_metric_curve.h"
#include "app/ze_nox_gui_app.h"
#include "project/ze_nox_gui_project.h"
#include "app/ze_nox_gui_settings.h"
#include "app/ze_nox_gui_utils.h"
#include "metrics_panel/ze_nox_rd_curves_legend.h"
#include "metrics_panel/ze_qwt_plot.h"
#include "metrics_panel/ze_video_stream_metrics.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QSet>
#include <QStyle>
#include <QThread>

#include <qwt_scale_widget.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace ze::nox::gui {

using ze::nox::core::Component;
using ze::nox::core::ZeVideoQualityMetric;

namespace {

constexpr int kMetrics = 3;
constexpr int kComponents = 4;

// The RD points of a curve, in its stored order.
std::vector<ZeRdPoint> PointsOf(RdMetricCurve const& curve)
{
    QVector<double> const& x = curve.xValues();
    QVector<double> const& y = curve.yValues();
    std::vector<ZeRdPoint> points;
    int const n = std::min(x.size(), y.size());
    points.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        points.push_back({x[i], y[i]});
    return points;
}

QString MetricName(int m)
{
    return ze::nox::core::GetZeVideoQualityMetricName(static_cast<ZeVideoQualityMetric>(m));
}

QString ComponentName(int c)
{
    return ze::nox::core::GetComponentName(static_cast<Component>(c));
}

bool ValidIndex(ZeVideoQualityMetric metric, Component component)
{
    return metric >= 0 && metric < kMetrics && component >= 0 && component < kComponents;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// RdPlotCurve

ZeMetricsView::RdPlotCurve::~RdPlotCurve()
{
    for (auto& row : m_entries)
        for (Entry& e : row) {
            delete e.curve;
            e.curve = nullptr;
        }
}

void ZeMetricsView::RdPlotCurve::setName(QString const& name)
{
    m_name = name;
    for (int m = 0; m < kMetrics; ++m)
        for (int c = 0; c < kComponents; ++c)
            if (m_entries[m][c].curve)
                m_entries[m][c].curve->setTitle(QStringLiteral("%1: %2 %3").arg(name, MetricName(m), ComponentName(c)));
}

void ZeMetricsView::RdPlotCurve::addCurve(ZeVideoQualityMetric metric, Component component, RdMetricCurve* curve)
{
    if (!ValidIndex(metric, component))
        return;
    Entry& e = m_entries[metric][component];
    if (e.curve != curve)
        delete e.curve;
    e.curve = curve;
    e.sources.clear();
}

void ZeMetricsView::RdPlotCurve::setSources(QList<ZeVideoStreamMetrics const*> const& sources)
{
    for (auto& row : m_entries)
        for (Entry& e : row)
            e.sources = sources;
}

void ZeMetricsView::RdPlotCurve::removeSource(QString const& canonicalPath)
{
    bool removed = false;
    for (auto& row : m_entries)
        for (Entry& e : row) {
            for (ZeVideoStreamMetrics const* s : QList<ZeVideoStreamMetrics const*>(e.sources))
                if (s && QFileInfo(s->m_fileName).canonicalFilePath() == canonicalPath) {
                    e.sources.removeAll(s);
                    removed = true;
                    break;
                }
        }
    // Streams of one content at one size may share a bit rate: the points are taken again from
    // the remaining sources rather than removed by bit rate.
    if (removed) {
        clear();
        gatherValues();
    }
}

void ZeMetricsView::RdPlotCurve::gatherValues()
{
    for (int m = 0; m < kMetrics; ++m)
        for (int c = 0; c < kComponents; ++c) {
            Entry& e = m_entries[m][c];
            if (!e.curve)
                continue;
            int const k = m * kComponents + c;
            // A stream without a measured frame has no quality to draw.
            for (ZeVideoStreamMetrics const* s : e.sources)
                if (s && k < s->m_means.size() && k < s->m_counts.size() && s->m_counts[k] > 0)
                    e.curve->addValue(s->m_calculator.getAvgBitrateKbps(), s->m_means[k]);
        }
}

RdMetricCurve* ZeMetricsView::RdPlotCurve::metricCurve(ZeVideoQualityMetric metric, Component component) const
{
    return ValidIndex(metric, component) ? m_entries[metric][component].curve : nullptr;
}

void ZeMetricsView::RdPlotCurve::clear()
{
    for (auto& row : m_entries)
        for (Entry& e : row)
            if (e.curve)
                e.curve->clear();
}

double ZeMetricsView::RdPlotCurve::minX(ZeVideoQualityMetric metric, Component component) const
{
    RdMetricCurve const* c = metricCurve(metric, component);
    return c ? c->minX() : 0.0;
}

double ZeMetricsView::RdPlotCurve::maxX(ZeVideoQualityMetric metric, Component component) const
{
    RdMetricCurve const* c = metricCurve(metric, component);
    return c ? c->maxX() : 0.0;
}

void ZeMetricsView::RdPlotCurve::attachCurve(ZeVideoQualityMetric metric, Component component, QwtPlot* plot)
{
    RdMetricCurve* c = metricCurve(metric, component);
    if (c && plot)
        c->attach(plot);
}

// ---------------------------------------------------------------------------------------------
// Panel

ZeMetricsView::ZeMetricsView(QWidget* parent) : QWidget(parent), m_ui(new Ui_ZeMetricsWindow)
{
    m_ui->setupUi(this);

    ZeMetricsPlot* const frames[12] = {m_ui->plotPsnrY, m_ui->plotPsnrU, m_ui->plotPsnrV, m_ui->plotPsnrYuv,
                                       m_ui->plotSsimY, m_ui->plotSsimU, m_ui->plotSsimV, m_ui->plotSsimYuv,
                                       m_ui->plotVmafY, m_ui->plotVmafU, m_ui->plotVmafV, m_ui->plotVmafYuv};
    ZeMetricsPlot* const diffs[12] = {m_ui->plotDiffPsnrY,   m_ui->plotDiffPsnrU,   m_ui->plotDiffPsnrV,
                                      m_ui->plotDiffPsnrYuv, m_ui->plotDiffSsimY,   m_ui->plotDiffSsimU,
                                      m_ui->plotDiffSsimV,   m_ui->plotDiffSsimYuv, m_ui->plotDiffVmafY,
                                      m_ui->plotDiffVmafU,   m_ui->plotDiffVmafV,   m_ui->plotDiffVmafYuv};
    ZeMetricsPlot* const rds[12] = {m_ui->plotRdCurvesPsnrY,   m_ui->plotRdCurvesPsnrU,   m_ui->plotRdCurvesPsnrV,
                                    m_ui->plotRdCurvesPsnrYuv, m_ui->plotRdCurvesSsimY,   m_ui->plotRdCurvesSsimU,
                                    m_ui->plotRdCurvesSsimV,   m_ui->plotRdCurvesSsimYuv, m_ui->plotRdCurvesVmafY,
                                    m_ui->plotRdCurvesVmafU,   m_ui->plotRdCurvesVmafV,   m_ui->plotRdCurvesVmafYuv};
    for (ZeMetricsPlot* p : frames)
        m_plots.append(p);
    for (ZeMetricsPlot* p : diffs)
        m_diffPlots.append(p);
    m_diffCurves = QVector<MetricDiffCurve*>(m_diffPlots.size(), nullptr);
    for (ZeMetricsPlot* p : diffs)
        m_plots.append(p);
    for (int k = 0; k < 12; ++k)
        m_rdPlots[k / kComponents][k % kComponents] = rds[k];

    for (ZeMetricsPlot* p : rds)
        m_rdLegends.append(new ZeNoxRdCurvesLegend(p));

    // The chart keeps a readable height: the tabs sit beside it and no margins take its room.
    utils::PlaceTabsBeside(m_ui->tabWidget);
    m_ui->gridLayout_7->setContentsMargins(0, 0, 0, 0);
    for (QLayout* page : {m_ui->gridLayout_5, m_ui->gridLayout_2, m_ui->gridLayout_3})
        page->setContentsMargins(0, 0, 0, 0);
    for (ZeMetricsPlot* p : m_plots)
        p->setMinimumHeight(kMinChartHeight);
    for (ZeMetricsPlot* p : rds)
        p->setMinimumHeight(kMinChartHeight);

    m_bdLabel = new QLabel(m_ui->rdCurvesTab);

    // Below the per-frame charts: one line per stream that cannot be measured.
    m_streamMessages = new QLabel(m_ui->metricsTab);
    m_streamMessages->setObjectName(QStringLiteral("streamMessages"));
    m_streamMessages->setTextFormat(Qt::PlainText);
    m_streamMessages->setWordWrap(true);
    m_streamMessages->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_streamMessages->setStyleSheet(QStringLiteral("color: #b00000;"));
    m_streamMessages->setVisible(false);
    m_ui->gridLayout_5->addWidget(m_streamMessages, 1, 0);

    struct Item
    {
        char const* text;
        int data;
    };
    static Item const kItems[] = {{"PSNR: YUV", 3},  {"PSNR: Y", 0}, {"PSNR: U", 1}, {"PSNR: V", 2},
                                  {"SSIM: YUV", 7},  {"SSIM: Y", 4}, {"SSIM: U", 5}, {"SSIM: V", 6},
                                  {"VMAF: YUV", 11}, {"VMAF: Y", 8}, {"VMAF: U", 9}, {"VMAF: V", 10}};
    for (Item const& item : kItems)
        m_ui->metrics->addItem(QString::fromLatin1(item.text), item.data);

    for (QStackedWidget* stack : {m_ui->stackedWidget, m_ui->stackedWidget_2, m_ui->stackedWidget_3}) {
        connect(m_ui->metrics, QOverload<int>::of(&QComboBox::currentIndexChanged), stack, [stack](int index) {
            if (stack->currentIndex() != stack->count() - 1)
                stack->setCurrentIndex(index);
        });
    }
    connect(m_ui->metrics, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ZeMetricsView::updateCurBdRateText);

    for (int i = 0; i < m_plots.size(); ++i) {
        ZeMetricsPlot* p = m_plots[i];
        bool const isDiff = i >= 12;
        int const metric = (i % 12) / kComponents;
        if (metric == ze::nox::core::ZE_VIDEO_QUALITY_METRIC_SSIM) {
            p->setMaxYValue(1);
            p->setValuesPrecise(5);
        }
        if (isDiff)
            p->setMinYValue(metric == ze::nox::core::ZE_VIDEO_QUALITY_METRIC_SSIM ? -1 : -100);
        p->setAutoScaleY(true);
        connect(p, &ZeMetricsPlot::curFrameSelectionChanged, this, &ZeMetricsView::curFrameSelectionChanged);
    }
    for (int k = 0; k < 12; ++k) {
        ZeMetricsPlot* p = rds[k];
        if (k / kComponents == ze::nox::core::ZE_VIDEO_QUALITY_METRIC_SSIM) {
            p->setMaxYValue(1);
            p->setValuesPrecise(5);
        }
        p->setAutoScaleX(true);
        p->setBitRateAxis(true);
        p->setAutoScaleY(true);
        connect(p, &ZeMetricsPlot::resized, this, [this, p] { placeBdLabel(p); });
    }

    if (ZeNoxGuiApp* app = theApp()) {
        connect(app->project(), &ZeNoxGuiProject::projectChanged, this, &ZeMetricsView::onProjectChanged);
        connect(app->project(), &ZeNoxGuiProject::rdCurveChanged, this, &ZeMetricsView::onRdCurveChanged);
    }
    connect(m_ui->runMetricsCalc, &QPushButton::clicked, this, &ZeMetricsView::startCalculation);
    connect(m_ui->stopMetricsCalc, &QPushButton::clicked, this, &ZeMetricsView::stopCalculation);
    connect(this, &ZeMetricsView::started, this, &ZeMetricsView::onStarted, Qt::DirectConnection);
    connect(this, &ZeMetricsView::stopped, this, &ZeMetricsView::onStopped, Qt::DirectConnection);

    if (theApp() && theApp()->settings())
        m_ui->tabWidget->setCurrentIndex(theApp()->settings()->getMetricsViewOpenedTabIdx());
    enableDisableTabs();
}

QSize ZeMetricsView::sizeHint() const
{
    QSize const least = minimumSizeHint();
    return QSize(least.width(), least.height() + kPreferredChartHeight - kMinChartHeight);
}

ZeMetricsView::~ZeMetricsView()
{
    if (theApp() && theApp()->settings())
        theApp()->settings()->saveMetricsViewOpenedTabIdx(m_ui->tabWidget->currentIndex());
    // The panel is going: the streams' last signals are not its business any more.
    for (ZeVideoStreamMetrics* s : qAsConst(m_streams))
        disconnect(s, nullptr, this, nullptr);
    stopCalculation();
    clear();
    deleteDiffCurves();
    qDeleteAll(m_streams);
    m_streams.clear();
    // The RD metric curves come off their charts before the form deletes the charts.
    for (RdPlotCurve* c : qAsConst(m_rdPlotCurves))
        delete c;
    m_rdPlotCurves.clear();
    delete m_ui;
}

QString ZeMetricsView::canonicalPath(QString const& name)
{
    return QFileInfo(name).canonicalFilePath();
}

// ---------------------------------------------------------------------------------------------
// BD rates

double ZeMetricsView::calcBdRate(RdMetricCurve const& anchor, RdMetricCurve const& compared) const
{
    return CalcBdRate(PointsOf(anchor), PointsOf(compared));
}

ZeMetricsView::BdRateValues ZeMetricsView::calcBdRate(RdPlotCurve const& anchor, RdPlotCurve const& compared) const
{
    BdRateValues out{};
    for (int m = 0; m < kMetrics; ++m)
        for (int c = 0; c < kComponents; ++c) {
            auto const metric = static_cast<ZeVideoQualityMetric>(m);
            auto const component = static_cast<Component>(c);
            RdMetricCurve const* a = anchor.metricCurve(metric, component);
            RdMetricCurve const* b = compared.metricCurve(metric, component);
            out[m][c] = a && b ? calcBdRate(*a, *b) : std::numeric_limits<double>::quiet_NaN();
        }
    return out;
}

ZeMetricsView::BdRateTable ZeMetricsView::calcBdRates() const
{
    BdRateTable table;
    ZeNoxRdCurve const* anchor = theApp() ? theApp()->project()->rdCurveAnchor() : nullptr;
    if (!anchor)
        return table;
    RdPlotCurve const* anchorPlot = m_rdPlotCurves.value(anchor, nullptr);
    if (!anchorPlot)
        return table;
    for (auto it = m_rdPlotCurves.cbegin(); it != m_rdPlotCurves.cend(); ++it) {
        RdPlotCurve const* plot = it.value();
        if (!plot || plot->sources().isEmpty())
            continue;
        BdRateValues values{};
        if (it.key() != anchor)
            values = calcBdRate(*anchorPlot, *plot);
        table.insert(qMakePair(anchor, it.key()), values);
    }
    return table;
}

void ZeMetricsView::clearBdRates()
{
    m_bdRates.clear();
}

void ZeMetricsView::updateCurBdRateText()
{
    if (m_bdRates.isEmpty()) {
        // Rates that a curve edit made out of date are not dropped without a word.
        bool const stale = m_bdRatesStale && theApp() && theApp()->project()->rdCurveAnchor();
        m_bdLabel->setText(stale ? QStringLiteral("<html><head/><body><b>BD Rates:</b><br>The RD curves have changed. "
                                                  "Press Run to compute the BD rates again.</body></html>")
                                 : QString());
        m_bdLabel->adjustSize();
        return;
    }
    int const k = m_ui->metrics->currentData().toInt();
    int const metric = k / kComponents;
    int const component = k % kComponents;
    if (metric < 0 || metric >= kMetrics || component < 0) {
        m_bdLabel->setText(QString());
        return;
    }
    QString text = QStringLiteral("<html><head/><body><b>BD Rates:</b><br>");
    QString const line = QStringLiteral("%1: <span style=' color:%2;'> %3</span><br>");
    for (int pass = 0; pass < 2; ++pass) {
        for (auto it = m_bdRates.cbegin(); it != m_bdRates.cend(); ++it) {
            bool const isAnchor = it.key().first == it.key().second;
            if (isAnchor != (pass == 0))
                continue;
            RdPlotCurve const* plot = m_rdPlotCurves.value(it.key().second, nullptr);
            if (!plot)
                continue;
            if (isAnchor) {
                text += line.arg(plot->name(), QStringLiteral("black"), QStringLiteral("anchor"));
                continue;
            }
            double const v = it.value()[metric][component];
            if (std::isnan(v)) {
                // Curves without a common quality range or without a line fit have no BD rate.
                text += line.arg(plot->name(), QStringLiteral("black"), QStringLiteral("n/a"));
                continue;
            }
            QString const value =
                QStringLiteral("%1%2%").arg(v > 0 ? QStringLiteral("+") : QString(), QString::number(v, 'f', 2));
            QString const color = v > 0    ? QStringLiteral("red")
                                  : v == 0 ? QStringLiteral("black")
                                           : QStringLiteral("green");
            text += line.arg(plot->name(), color, value);
        }
    }
    text += QStringLiteral("</body></html>");
    m_bdLabel->setText(text);
    m_bdLabel->adjustSize();
    if (ZeMetricsPlot* p = m_rdPlots[metric][component])
        m_bdLabel->move(p->axisWidget(QwtPlot::yLeft)->width() + 30, 20);
}

void ZeMetricsView::placeBdLabel(ZeMetricsPlot* plot)
{
    if (!plot)
        return;
    m_bdLabel->move(plot->axisWidget(QwtPlot::yLeft)->width() + 30, 20);
    m_bdLabel->setVisible(plot->canvas()->height() >= m_bdLabel->height());
}

// ---------------------------------------------------------------------------------------------
// Tabs

void ZeMetricsView::enableDisableTabs()
{
    ZeNoxGuiProject const* project = theApp() ? theApp()->project() : nullptr;
    bool const empty = !project || project->isEmpty();
    bool const hasRef = m_refSrcFile != nullptr;
    bool hasDiff = false;
    for (MetricDiffCurve const* c : qAsConst(m_diffCurves))
        hasDiff = hasDiff || c;
    hasDiff = hasDiff && hasRef;
    bool hasRd = false;
    for (RdPlotCurve const* c : qAsConst(m_rdPlotCurves))
        hasRd = hasRd || (c && !c->sources().isEmpty());
    hasRd = hasRd && hasRef;
    bool const hasAnchor = project && project->rdCurveAnchor();

    QString const noRef = QStringLiteral("Reference file is not chosen");
    struct Tab
    {
        QWidget* page;
        QStackedWidget* stack;
        QLabel* label;
        bool showCharts;
        QString message;
    };
    Tab const tabs[] = {
        {m_ui->metricsTab, m_ui->stackedWidget, m_ui->messageLabel_1, empty || hasRef, noRef},
        {m_ui->lrQualityDiffTab, m_ui->stackedWidget_2, m_ui->messageLabel_2, empty || hasDiff,
         hasRef ? QStringLiteral("Left and right files are not chosen") : noRef},
        {m_ui->rdCurvesTab, m_ui->stackedWidget_3, m_ui->messageLabel_3, empty || (hasRd && hasAnchor),
         !hasRef  ? noRef
         : !hasRd ? QStringLiteral("No RD Curves, or RD Curves are empty")
                  : QStringLiteral("RD Curve Anchor is not set. BD Rates will not be calculated")},
    };
    for (Tab const& t : tabs) {
        int const idx = m_ui->tabWidget->indexOf(t.page);
        if (t.showCharts) {
            t.stack->setCurrentIndex(m_ui->metrics->currentIndex());
            m_ui->tabWidget->setTabIcon(idx, QIcon());
        } else {
            t.stack->setCurrentIndex(t.stack->count() - 1);
            t.label->setText(t.message);
            m_ui->tabWidget->setTabIcon(idx, style()->standardIcon(QStyle::SP_MessageBoxWarning));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Calculation control

QString ZeMetricsView::vmafModelsDir() const
{
    if (!m_vmafModelsDir.isEmpty())
        return m_vmafModelsDir;
    return theApp() ? theApp()->vmafModelsDir() : QString();
}

QString ZeMetricsView::missingModelReason() const
{
    if (!m_refSrcFile)
        return QString();
    // The calculator picks the model by the picture size: the 4K model from 3840x2160 up. It
    // reads the model file and the support vectors beside it.
    bool const uhd = m_refSrcFile->width() > 3839 && m_refSrcFile->height() > 2159;
    QString const model = uhd ? QStringLiteral("vmaf_4k_v0.6.1.pkl") : QStringLiteral("vmaf_v0.6.1.pkl");
    QString const dir = vmafModelsDir();
    QDir const folder(dir);
    for (QString const& name : {model, model + QStringLiteral(".model")}) {
        if (QFileInfo(folder.absoluteFilePath(name)).isFile())
            continue;
        if (dir.isEmpty() || !folder.exists())
            return QStringLiteral("No stream can be measured: the VMAF models folder %1 does not exist (the model "
                                  "file %2 was looked for there)")
                .arg(QDir::toNativeSeparators(folder.absolutePath()), name);
        return QStringLiteral("No stream can be measured: the VMAF model file %1 is missing in %2")
            .arg(name, QDir::toNativeSeparators(folder.absolutePath()));
    }
    return QString();
}

QString ZeMetricsView::cannotMeasureReason(ZeVideoStreamMetrics const& stream) const
{
    ZeNoxSourceFile const* ref = m_refSrcFile;
    ZeNoxSourceFile const* file = stream.m_srcFile;
    if (!ref || !file)
        return QString();
    QFileInfo const info(stream.m_fileName);
    if (stream.m_fileName.isEmpty() || !info.isFile() || !info.isReadable())
        return QStringLiteral("the file cannot be read");
    QFileInfo const refInfo(ref->fullFilename());
    if (ref->fullFilename().isEmpty() || !refInfo.isFile() || !refInfo.isReadable())
        return QStringLiteral("the reference file cannot be read");
    if (file->width() != ref->width() || file->height() != ref->height())
        return QStringLiteral("its frame size %1x%2 differs from the reference's %3x%4")
            .arg(file->width())
            .arg(file->height())
            .arg(ref->width())
            .arg(ref->height());
    if (file->pixelFormatName() != ref->pixelFormatName())
        return QStringLiteral("its pixel format %1 differs from the reference's %2")
            .arg(file->pixelFormatName(), ref->pixelFormatName());
    return QString();
}

void ZeMetricsView::setStreamMessage(ZeVideoStreamMetrics const* stream, QString const& text)
{
    if (text.isEmpty())
        m_messages.remove(stream);
    else
        m_messages.insert(stream, text);
    updateStreamMessages();
}

void ZeMetricsView::updateStreamMessages()
{
    QStringList lines;
    if (!m_generalMessage.isEmpty())
        lines.append(m_generalMessage);
    lines += m_changedFileMessages;
    QStringList streamLines;
    for (auto it = m_messages.cbegin(); it != m_messages.cend(); ++it)
        streamLines.append(it.value());
    streamLines.sort();
    lines += streamLines;
    m_streamMessages->setText(lines.join(QLatin1Char('\n')));
    m_streamMessages->setVisible(!lines.isEmpty());
}

QStringList ZeMetricsView::reopenChangedFiles()
{
    m_changedFileMessages.clear();
    if (!theApp() || !m_refSrcFile)
        return {};
    QList<ZeNoxSourceFile const*> files = {m_refSrcFile};
    for (ZeVideoStreamMetrics const* s : qAsConst(m_streams))
        files.append(s->m_srcFile);
    // Reopening changes the project: the collections follow it (one that no longer opens goes).
    QList<ZeNoxSourceFile*> const reopened = theApp()->project()->reopenChangedFiles(files);
    QStringList unopened;
    for (ZeNoxSourceFile const* f : reopened) {
        QString line;
        if (f->decoder()) {
            line =
                QStringLiteral("%1 has changed on disk since it was opened and was opened again: %2 frames, %3x%4, %5")
                    .arg(f->shortFilename())
                    .arg(f->originalFrameCount())
                    .arg(f->width())
                    .arg(f->height())
                    .arg(f->pixelFormatName());
        } else {
            line = QStringLiteral("%1 has changed on disk and cannot be opened (%2): it is not measured")
                       .arg(f->shortFilename(), ErrToString(f->lastResult()));
            unopened.append(line);
        }
        theApp()->warningLog(line, QStringLiteral("Run Metrics Calculation"));
        m_changedFileMessages.append(line);
    }
    updateStreamMessages();
    return unopened;
}

bool ZeMetricsView::isRunAvailable() const
{
    return m_refSrcFile && !m_streams.isEmpty() && !m_runActive;
}

void ZeMetricsView::updateRunAvailability()
{
    bool const available = isRunAvailable();
    m_ui->runMetricsCalc->setEnabled(available);
    emit runMetricsCalcAvailabilityChanged(available);
}

void ZeMetricsView::startCalculation()
{
    if (!m_refSrcFile) {
        if (theApp())
            theApp()->warningLog(QStringLiteral("Run Metrics Calculation"),
                                 QStringLiteral("Reference file is not opened."));
        QMessageBox::warning(this, QStringLiteral("Run Metrics Calculation"),
                             QStringLiteral("The reference file is not opened. Please open the reference file and "
                                            "repeat the operation."),
                             QMessageBox::Ok);
        return;
    }
    // A run in progress is never thrown away by a second Run.
    if (m_runActive)
        return;

    // Streams that cannot be measured are named before anything starts.
    m_messages.clear();
    m_generalMessage.clear();
    QStringList const unopened = reopenChangedFiles();
    if (!m_refSrcFile)
        return;
    if (!m_refSrcFile->decoder()) {
        m_generalMessage = QStringLiteral("No stream can be measured: the reference %1 cannot be opened (%2)")
                               .arg(m_refSrcFile->shortFilename(), ErrToString(m_refSrcFile->lastResult()));
        updateStreamMessages();
        if (theApp())
            theApp()->warningLog(m_generalMessage, QStringLiteral("Run Metrics Calculation"));
        QMessageBox::warning(this, QStringLiteral("Run Metrics Calculation"), m_generalMessage, QMessageBox::Ok);
        return;
    }
    m_generalMessage = missingModelReason();
    QList<ZeVideoStreamMetrics*> measurable;
    for (ZeVideoStreamMetrics* s : qAsConst(m_streams)) {
        QString const reason = cannotMeasureReason(*s);
        if (!reason.isEmpty())
            m_messages.insert(
                s, QStringLiteral("%1 cannot be measured: %2").arg(QFileInfo(s->m_fileName).fileName(), reason));
        else if (m_generalMessage.isEmpty())
            measurable.append(s);
    }
    updateStreamMessages();
    if (!m_generalMessage.isEmpty() || !m_messages.isEmpty() || !unopened.isEmpty()) {
        QStringList lines;
        if (!m_generalMessage.isEmpty())
            lines.append(m_generalMessage);
        lines += unopened;
        for (QString const& line : qAsConst(m_messages))
            lines.append(line);
        if (theApp())
            for (QString const& line : qAsConst(lines))
                if (!unopened.contains(line)) // logged when the file was opened again
                    theApp()->warningLog(line, QStringLiteral("Run Metrics Calculation"));
        if (measurable.isEmpty()) {
            QMessageBox::warning(this, QStringLiteral("Run Metrics Calculation"),
                                 QStringLiteral("No stream can be measured:\n\n%1").arg(lines.join(QLatin1Char('\n'))),
                                 QMessageBox::Ok);
            return;
        }
        QMessageBox::StandardButton const answer =
            QMessageBox::warning(this, QStringLiteral("Run Metrics Calculation"),
                                 QStringLiteral("%1\n\nMeasure the other streams?").arg(lines.join(QLatin1Char('\n'))),
                                 QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
        if (answer != QMessageBox::Ok)
            return;
        // The project may have changed while the question was open.
        if (m_runActive || !m_refSrcFile)
            return;
        QList<ZeVideoStreamMetrics*> still;
        for (ZeVideoStreamMetrics* s : qAsConst(measurable))
            for (ZeVideoStreamMetrics* present : qAsConst(m_streams))
                if (present == s)
                    still.append(s);
        measurable = still;
    }

    stopCalculation();
    clear();
    int const n = m_streams.size();
    int const t = QThread::idealThreadCount();
    int const threads = n == 0 ? 0 : (t >= n ? t / n : 1);
    QString const modelsDir = vmafModelsDir();
    QSet<ZeVideoQualityMetric> const metrics = {ze::nox::core::ZE_VIDEO_QUALITY_METRIC_PSNR,
                                                ze::nox::core::ZE_VIDEO_QUALITY_METRIC_SSIM,
                                                ze::nox::core::ZE_VIDEO_QUALITY_METRIC_VMAF};
    m_runStreams.clear();
    m_runComplete = true;
    for (ZeVideoStreamMetrics* s : qAsConst(measurable)) {
        s->m_calculator.m_vmafModelsDir = modelsDir;
        // The stream's own stop signal of the restart comes before it joins the run.
        if (s->startCalculation(m_refSrcFile, threads, metrics) == ze::nox::core::ZE_NOX_CORE_OK)
            m_runStreams.insert(s);
        else
            setStreamMessage(s, QStringLiteral("%1 cannot be measured: the file cannot be opened or read")
                                    .arg(QFileInfo(s->m_fileName).fileName()));
    }
    if (m_runStreams.isEmpty())
        return;
    m_runActive = true;
    emit started();
}

void ZeMetricsView::stopCalculation()
{
    for (ZeVideoStreamMetrics* s : qAsConst(m_streams))
        s->stopCalculation();
}

void ZeMetricsView::onMetricsStarted()
{
    m_bdLabel->setText(QString());
}

void ZeMetricsView::onMetricsStopped()
{
    m_maxProgress = -1;
    QObject const* const source = sender();
    // Stop signals of streams outside the run (restarts, stops while idle, a thread's end that
    // was already counted by a stop) change nothing.
    if (!m_runActive || !source || !m_runStreams.remove(source))
        return;
    for (ZeVideoStreamMetrics const* s : qAsConst(m_streams)) {
        if (s != source)
            continue;
        int const measured = s->m_counts.isEmpty() ? 0 : s->m_counts.first();
        QString const name = QFileInfo(s->m_fileName).fileName();
        if (!s->m_calculator.m_finished && !s->m_calculator.m_stopRequested)
            setStreamMessage(s, QStringLiteral("%1 could not be measured to its end: the file could not be read "
                                               "or its frames do not match the reference's")
                                    .arg(name));
        else if (measured < s->m_expectedFrames)
            setStreamMessage(s, QStringLiteral("%1: partial values, %2 of %3 frames measured")
                                    .arg(name)
                                    .arg(measured)
                                    .arg(s->m_expectedFrames));
        if (measured < s->m_expectedFrames)
            m_runComplete = false;
    }
    if (!m_runStreams.isEmpty())
        return;
    int const c = m_streams.size();
    int f = 0;
    for (ZeVideoStreamMetrics const* s : qAsConst(m_streams))
        if (s->m_calculator.m_finished && !s->m_calculator.m_stopRequested)
            ++f;
    m_runActive = false;
    // Progress is shared by all streams, so a stream that ends after another reached 100 % would
    // keep the RD point of its last rise; the points are taken again from the final means.
    rebuildRdPoints();
    emit stopped(m_runComplete && c == f);
}

void ZeMetricsView::onMetricsProgress(int percent)
{
    if (percent <= m_maxProgress)
        return;
    m_maxProgress = percent;
    rebuildRdPoints();
}

void ZeMetricsView::rebuildRdPoints()
{
    for (RdPlotCurve* c : qAsConst(m_rdPlotCurves)) {
        if (!c)
            continue;
        c->clear();
        c->gatherValues();
    }
}

void ZeMetricsView::onStarted()
{
    m_ui->runStopMetricsStack->setCurrentWidget(m_ui->page_2);
    updateRunAvailability();
    emit stopMetricsCalcAvailabilityChanged(true);
}

void ZeMetricsView::onStopped(bool isFinished)
{
    m_ui->runStopMetricsStack->setCurrentWidget(m_ui->page);
    if (isFinished) {
        m_bdRates = calcBdRates();
        m_bdRatesStale = false;
        updateCurBdRateText();
    }
    updateRunAvailability();
    emit stopMetricsCalcAvailabilityChanged(false);
}

void ZeMetricsView::onRdCurveChanged()
{
    m_bdRatesStale = m_bdRatesStale || !m_bdRates.isEmpty();
    clearBdRates();
    updateCurBdRateText();
    clearRdMetricCurves();
}

void ZeMetricsView::clearRdMetricCurves()
{
    for (RdPlotCurve* c : qAsConst(m_rdPlotCurves))
        if (c)
            c->clear();
}

void ZeMetricsView::clear()
{
    for (ZeVideoStreamMetrics* s : qAsConst(m_streams))
        s->clear();
    for (MetricDiffCurve* c : qAsConst(m_diffCurves))
        if (c)
            c->clear();
    clearBdRates();
    m_bdRatesStale = false;
    updateCurBdRateText();
    clearRdMetricCurves();
    m_maxProgress = -1;
}

void ZeMetricsView::resetToDefault()
{
    clear();
    for (ZeMetricsPlot* p : qAsConst(m_plots))
        p->resetToDefault();
}

void ZeMetricsView::selectFrame(int frameNum)
{
    for (ZeMetricsPlot* p : qAsConst(m_plots))
        p->setCurFrame(frameNum);
}

void ZeMetricsView::setTotalFrameCount(int count)
{
    for (ZeMetricsPlot* p : qAsConst(m_plots))
        p->setTotalFrameCount(count);
}

// ---------------------------------------------------------------------------------------------
// Project synchronisation

void ZeMetricsView::onProjectChanged(bool configurationValid)
{
    if (!configurationValid || !theApp())
        return;
    ZeNoxGuiProject* project = theApp()->project();
    int total = 0;
    for (ze::nox::core::ZeNoxDecoder const* d : project->getAllDecoders({ZeNoxSourceFile::Opened})) {
        if (!d)
            continue;
        int const last = d->lastFrameNumber() == -1 ? d->getOriginalFrameCount() - 1 : d->lastFrameNumber();
        int const first = d->firstFrameNumber() == -1 ? 0 : d->firstFrameNumber();
        total = std::max(total, last - first + 1);
    }
    setTotalFrameCount(total);
    enableDisableTabs();
    updateStreamList();
    updateRdCurveList();
    setLeftRightForDiff(project->leftSrcFile(), project->rightSrcFile());
    setReferenceStream(project->refSrcFile());
}

void ZeMetricsView::updateStreamList()
{
    QSet<ZeNoxSourceFile const*> wanted;
    if (theApp()) {
        ZeNoxGuiProject const* project = theApp()->project();
        ZeNoxSourceFile const* ref = project->refSrcFile();
        if (ref)
            for (ZeNoxSourceFile const* f : project->sourceFiles({ZeNoxSourceFile::Opened}))
                if (f != ref)
                    wanted.insert(f);
    }
    for (ZeNoxSourceFile const* f : qAsConst(wanted))
        if (!m_streams.contains(f))
            addStream(f);
    QList<ZeNoxSourceFile const*> const present = m_streams.keys();
    for (ZeNoxSourceFile const* f : present)
        if (!wanted.contains(f))
            removeStream(f);
}

ZeNoxGuiError ZeMetricsView::addStream(ZeNoxSourceFile const* file)
{
    if (!file)
        return ZE_NOX_GUI_INVALID_ARGUMENT;
    if (m_streams.contains(file))
        return ZE_NOX_GUI_INTERNAL_ERROR;
    auto* s = new (std::nothrow) ZeVideoStreamMetrics(*file, m_plots.mid(0, 12).toVector(), this);
    if (!s)
        return ZE_NOX_GUI_FAILED_TO_CONSTRUCT;
    m_streams.insert(file, s);
    connect(s, &ZeVideoStreamMetrics::started, this, &ZeMetricsView::onMetricsStarted);
    connect(s, &ZeVideoStreamMetrics::progress, this, &ZeMetricsView::onMetricsProgress);
    connect(s, &ZeVideoStreamMetrics::stopped, this, &ZeMetricsView::onMetricsStopped);
    return ZE_NOX_GUI_OK;
}

void ZeMetricsView::removeStream(ZeNoxSourceFile const* file)
{
    // The file may already be deleted: only its pointer is used, as the key.
    if (!file || !m_streams.contains(file))
        return;
    ZeVideoStreamMetrics* s = m_streams.value(file);
    QString const path = canonicalPath(s->m_fileName);
    for (RdPlotCurve* c : qAsConst(m_rdPlotCurves)) {
        if (!c || !c->sources().contains(s))
            continue;
        c->removeSource(path);
        // A file that no longer exists has no canonical path to be found by; the collection
        // must not stay behind in the curve all the same.
        if (c->sources().contains(s)) {
            QList<ZeVideoStreamMetrics const*> rest = c->sources();
            rest.removeAll(s);
            c->setSources(rest);
            c->clear();
            c->gatherValues();
        }
    }
    if (file == m_leftSrcFile || file == m_rightSrcFile)
        deleteDiffCurves();
    setStreamMessage(s, QString());
    // A stream that leaves during a run takes frames of the run with it.
    if (m_runStreams.contains(s))
        m_runComplete = false;
    // Its end may be the end of the run: the collection is out of the panel's lists by then.
    m_streams.remove(file);
    delete s;
}

void ZeMetricsView::updateRdCurveList()
{
    if (!theApp())
        return;
    QList<ZeNoxRdCurve*> const wanted = theApp()->project()->rdCurves();
    QSet<ZeNoxRdCurve const*> wantedSet;
    for (ZeNoxRdCurve const* c : wanted)
        wantedSet.insert(c);
    for (ZeNoxRdCurve const* c : wanted)
        if (!m_rdPlotCurves.value(c, nullptr))
            addRdCurve(c);
    QList<ZeNoxRdCurve const*> const present = m_rdPlotCurves.keys();
    for (ZeNoxRdCurve const* c : present)
        if (!wantedSet.contains(c))
            removeRdCurve(c);

    for (ZeNoxRdCurve const* curve : wanted) {
        RdPlotCurve* plot = m_rdPlotCurves.value(curve, nullptr);
        if (!plot)
            continue;
        QString name = curve->name();
        if (name.size() > 24)
            name = QStringLiteral("%1...").arg(name.left(25));
        plot->setName(name);
        QList<ZeVideoStreamMetrics const*> sources;
        for (ZeNoxSourceFile const* f : curve->srcFiles()) {
            QString const path = canonicalPath(f->fullFilename());
            for (ZeVideoStreamMetrics const* s : qAsConst(m_streams))
                if (!path.isEmpty() && canonicalPath(s->m_fileName) == path)
                    sources.append(s);
        }
        plot->setSources(sources);
        // The points follow the curve's files at once, from the values the streams hold.
        plot->clear();
        plot->gatherValues();
    }
}

ZeNoxGuiError ZeMetricsView::addRdCurve(ZeNoxRdCurve const* curve)
{
    if (!curve)
        return ZE_NOX_GUI_INVALID_ARGUMENT;
    // A key without a record is a removed curve; a new curve may come back at its address.
    if (m_rdPlotCurves.value(curve, nullptr))
        return ZE_NOX_GUI_OK;
    auto* plot = new RdPlotCurve;
    plot->setName(curve->name());
    int const n = m_rdPlotCurves.size();
    QColor const color = theApp() && theApp()->settings() ? theApp()->settings()->getColorFromPool(n) : QColor();
    for (int m = 0; m < kMetrics; ++m)
        for (int c = 0; c < kComponents; ++c) {
            auto* rd = new RdMetricCurve(
                QStringLiteral("%1: %2 %3").arg(curve->name(), MetricName(m), ComponentName(c)), color, n);
            plot->addCurve(static_cast<ZeVideoQualityMetric>(m), static_cast<Component>(c), rd);
        }
    QList<ZeVideoStreamMetrics const*> sources;
    for (ZeNoxSourceFile const* f : curve->srcFiles()) {
        QString const path = canonicalPath(f->fullFilename());
        for (ZeVideoStreamMetrics const* s : qAsConst(m_streams))
            if (!path.isEmpty() && canonicalPath(s->m_fileName) == path)
                sources.append(s);
    }
    plot->setSources(sources);
    for (int m = 0; m < kMetrics; ++m)
        for (int c = 0; c < kComponents; ++c) {
            ZeMetricsPlot* chart = m_rdPlots[m][c];
            chart->insertLegend(nullptr, QwtPlot::RightLegend, -1);
            plot->attachCurve(static_cast<ZeVideoQualityMetric>(m), static_cast<Component>(c), chart);
        }
    m_rdPlotCurves.insert(curve, plot);
    return ZE_NOX_GUI_OK;
}

void ZeMetricsView::removeRdCurve(ZeNoxRdCurve const* curve)
{
    if (!curve || !m_rdPlotCurves.contains(curve))
        return;
    delete m_rdPlotCurves.value(curve);
    m_rdPlotCurves[curve] = nullptr;
    for (auto it = m_bdRates.begin(); it != m_bdRates.end();) {
        if (it.key().first == curve || it.key().second == curve)
            it = m_bdRates.erase(it);
        else
            ++it;
    }
}

void ZeMetricsView::deleteDiffCurves()
{
    for (MetricDiffCurve*& c : m_diffCurves) {
        if (c)
            c->detach(nullptr);
        delete c;
        c = nullptr;
    }
}

void ZeMetricsView::setLeftRightForDiff(ZeNoxSourceFile const* left, ZeNoxSourceFile const* right)
{
    deleteDiffCurves();
    ZeVideoStreamMetrics const* l = left ? m_streams.value(left, nullptr) : nullptr;
    ZeVideoStreamMetrics const* r = right ? m_streams.value(right, nullptr) : nullptr;
    if (l && r) {
        for (int i = 0; i < m_diffPlots.size(); ++i) {
            MetricCurve const* lc = l->curve(i);
            MetricCurve const* rc = r->curve(i);
            if (!lc || !rc)
                continue;
            auto* diff = new MetricDiffCurve(lc, rc);
            m_diffCurves[i] = diff;
            diff->attach(m_diffPlots[i]);
        }
    }
    m_leftSrcFile = left;
    m_rightSrcFile = right;
    enableDisableTabs();
}

void ZeMetricsView::setReferenceStream(ZeNoxSourceFile const* file)
{
    if (file != m_refSrcFile) {
        // Reasons found against another reference no longer hold.
        m_messages.clear();
        m_generalMessage.clear();
        m_changedFileMessages.clear();
        updateStreamMessages();
    }
    m_refSrcFile = file;
    if (!file) {
        stopCalculation();
        clear();
    }
    updateRunAvailability();
    enableDisableTabs();
}

QString ZeMetricsView::getNormalizedFilename(QString const& name) const
{
    return QFileInfo(QFileInfo(name).absoluteFilePath()).canonicalFilePath();
}

} // namespace ze::nox::gui
