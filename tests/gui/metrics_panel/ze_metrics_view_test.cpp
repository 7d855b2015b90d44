// The metrics panel: BD rates of hand-computed curves, the tab messages as the project fills,
// and real measurements of small clips from Run to the RD points and BD rates, stopped runs and
// failed streams, and the removal of measured files.
#include "gui/modal_script.h"
#include "test_support.h"

#include "metrics_panel/ze_metric_curve.h"
#include "metrics_panel/ze_metrics_view.h"
#include "app/ze_nox_gui_app.h"
#include "project/ze_nox_gui_project.h"
#include "metrics_panel/ze_qwt_plot.h"
#include "metrics_panel/ze_video_stream_metrics.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace ze::nox::gui;

namespace {

// A widget of the panel's form by its object name.
template <typename T>
T* Child(QWidget const& view, char const* name)
{
    T* w = view.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

struct Point
{
    int bitrate;
    double value;
};

// The panel's BD rate of two RD metric curves is that of their points, whatever their counts;
// the values themselves are the BD-rate unit's tests.
TEST(MetricsViewBdRate, CurvesOfDifferentPointCounts)
{
    struct Case
    {
        char const* name;
        std::vector<Point> anchor;
        std::vector<Point> compared;
        double expected; // NaN: no BD rate exists
    };
    Case const cases[] = {
        {"two points against three", {{1000, 30}, {2000, 40}}, {{1200, 31}, {2400, 36}, {4800, 41}}, 52.9473},
        {"constant rate ratio", {{1000, 30}, {2000, 40}}, {{1500, 30}, {3000, 40}}, 50.0},
        {"single point", {{1000, 30}}, {{1200, 31}, {2400, 36}}, std::nan("")},
    };
    ZeMetricsView view;
    for (Case const& c : cases) {
        RdMetricCurve anchor(QStringLiteral("a"), Qt::red, 0);
        RdMetricCurve compared(QStringLiteral("b"), Qt::blue, 1);
        for (Point const& p : c.anchor)
            anchor.addValue(p.bitrate, p.value);
        for (Point const& p : c.compared)
            compared.addValue(p.bitrate, p.value);
        double const got = view.calcBdRate(anchor, compared);
        if (std::isnan(c.expected))
            EXPECT_TRUE(std::isnan(got)) << c.name << ": " << got;
        else
            EXPECT_NEAR(got, c.expected, 1e-4) << c.name;
    }
}

// The global project, emptied before and after each test.
class MetricsViewProject : public ::testing::Test
{
protected:
    void SetUp() override { project()->reset(); }
    void TearDown() override { project()->reset(); }

    static ZeNoxGuiProject* project() { return theApp()->project(); }

    static ZeNoxSourceFile* add(QString const& path)
    {
        EXPECT_EQ(project()->addSourceFile(path), ZE_NOX_GUI_OK) << path.toStdString();
        return project()->srcFileByName(path);
    }

    // The 300-frame reference and an encode of it, the reference chosen: one stream to measure.
    static ZeNoxSourceFile* addReferenceAndEncode()
    {
        ZeNoxSourceFile* ref = add(TestMediaPath("calc_300f_64x48_ref.y4m"));
        add(TestMediaPath("calc_300f_64x48_dis.y4m"));
        ref->setIsRefFile(true);
        return ref;
    }

    static ZeNoxRdCurve* addCurve(QString const& name, QList<ZeNoxSourceFile*> const& files)
    {
        EXPECT_EQ(project()->addRdCurve(name), ZE_NOX_GUI_OK);
        ZeNoxRdCurve* curve = project()->rdCurveByName(name);
        for (ZeNoxSourceFile* f : files)
            curve->addSrcFile(f);
        return curve;
    }

    static bool showsMessage(ZeMetricsView const& view, QStackedWidget* stack)
    {
        (void)view;
        return stack->currentIndex() == stack->count() - 1;
    }
};

TEST_F(MetricsViewProject, TabsTellWhatIsMissing)
{
    ZeMetricsView view;
    QStackedWidget* stacks[] = {Child<QStackedWidget>(view, "stackedWidget"),
                                Child<QStackedWidget>(view, "stackedWidget_2"),
                                Child<QStackedWidget>(view, "stackedWidget_3")};
    QLabel* labels[] = {Child<QLabel>(view, "messageLabel_1"), Child<QLabel>(view, "messageLabel_2"),
                        Child<QLabel>(view, "messageLabel_3")};
    QTabWidget* tabs = Child<QTabWidget>(view, "tabWidget");
    QPushButton* run = Child<QPushButton>(view, "runMetricsCalc");

    // An empty project shows every chart and no warning icon.
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(showsMessage(view, stacks[i])) << i;
        EXPECT_TRUE(tabs->tabIcon(i).isNull()) << i;
    }

    ZeNoxSourceFile* ref = add(VmafClipPath("clips/A_176x144_420p_ref.y4m"));
    ZeNoxSourceFile* a = add(VmafClipPath("clips/A_176x144_420p_crf23.y4m"));
    ZeNoxSourceFile* b = add(VmafClipPath("clips/A_176x144_420p_crf40.y4m"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(showsMessage(view, stacks[i])) << i;
        EXPECT_EQ(labels[i]->text(), QStringLiteral("Reference file is not chosen")) << i;
        EXPECT_FALSE(tabs->tabIcon(i).isNull()) << i;
    }
    EXPECT_TRUE(view.streams().isEmpty());
    EXPECT_FALSE(run->isEnabled());

    QSignalSpy runAvailable(&view, &ZeMetricsView::runMetricsCalcAvailabilityChanged);
    ref->setIsRefFile(true);
    EXPECT_FALSE(showsMessage(view, stacks[0]));
    EXPECT_EQ(labels[1]->text(), QStringLiteral("Left and right files are not chosen"));
    EXPECT_EQ(labels[2]->text(), QStringLiteral("No RD Curves, or RD Curves are empty"));
    EXPECT_EQ(view.streams().size(), 2);
    EXPECT_TRUE(run->isEnabled());
    ASSERT_FALSE(runAvailable.isEmpty());
    EXPECT_TRUE(runAvailable.last().at(0).toBool());

    a->setIsLeftFile(true);
    b->setIsRightFile(true);
    EXPECT_FALSE(showsMessage(view, stacks[1]));

    // Curves with files but no anchor: the RD charts stay hidden behind the anchor message.
    addCurve(QStringLiteral("x264"), {a, b});
    project()->setRdCurveAnchor(nullptr);
    EXPECT_EQ(labels[2]->text(), QStringLiteral("RD Curve Anchor is not set. BD Rates will not be calculated"));
    Child<QComboBox>(view, "metrics")->setCurrentIndex(9); // "VMAF: Y" while the message shows: the message stays
    EXPECT_TRUE(showsMessage(view, stacks[2]));
    project()->setRdCurveAnchor(project()->rdCurveByName(QStringLiteral("x264")));
    EXPECT_EQ(stacks[2]->currentIndex(), 9);

    // Making a compared file the reference swaps the collections.
    ref->setIsRefFile(false);
    a->setIsRefFile(true);
    EXPECT_EQ(view.streams().size(), 2);
    EXPECT_FALSE(view.streams().contains(a));
    EXPECT_TRUE(view.streams().contains(ref));

    // No reference at all: no collection, Run unavailable.
    a->setIsRefFile(false);
    EXPECT_TRUE(view.streams().isEmpty());
    EXPECT_FALSE(run->isEnabled());
    EXPECT_FALSE(runAvailable.last().at(0).toBool());
}

TEST_F(MetricsViewProject, LongCurveNamesAreShortenedInTheCurveTitles)
{
    ZeMetricsView view;
    ZeNoxSourceFile* ref = add(VmafClipPath("clips/A_176x144_420p_ref.y4m"));
    ZeNoxSourceFile* a = add(VmafClipPath("clips/A_176x144_420p_crf23.y4m"));
    ref->setIsRefFile(true);
    ZeNoxRdCurve* curve = addCurve(QStringLiteral("abcdefghijklmnopqrstuvwxyz0123"), {a});
    ZeMetricsView::RdPlotCurve const* plot = view.rdPlotCurves().value(curve, nullptr);
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->name(), QStringLiteral("abcdefghijklmnopqrstuvwxy..."));
    EXPECT_EQ(plot->metricCurve(ze::nox::core::ZE_VIDEO_QUALITY_METRIC_VMAF, ze::nox::core::COMPONENT_YUV)->title(),
              QStringLiteral("abcdefghijklmnopqrstuvwxy...: VMAF YUV"));
    EXPECT_EQ(plot->sources().size(), 1);
}

// Three compared streams: two RD curves of equal point counts against the anchor, and one with
// a single file whose count differs.
TEST_F(MetricsViewProject, CompleteRunDrawsCurvesRdPointsAndBdRates)
{
    ZeMetricsView view;
    ZeNoxSourceFile* ref = add(VmafClipPath("clips/A_176x144_420p_ref.y4m"));
    ZeNoxSourceFile* a = add(VmafClipPath("clips/A_176x144_420p_crf23.y4m"));
    ZeNoxSourceFile* b = add(VmafClipPath("clips/A_176x144_420p_crf40.y4m"));
    ref->setIsRefFile(true);
    a->setIsLeftFile(true);
    b->setIsRightFile(true);
    ZeNoxRdCurve* anchor = addCurve(QStringLiteral("Anchor"), {a, b});
    ZeNoxRdCurve* same = addCurve(QStringLiteral("Same"), {b, a});
    ZeNoxRdCurve* single = addCurve(QStringLiteral("Single"), {a});
    project()->setRdCurveAnchor(anchor);
    ASSERT_EQ(view.streams().size(), 2);

    QSignalSpy started(&view, &ZeMetricsView::started);
    QSignalSpy stopped(&view, &ZeMetricsView::stopped);
    QSignalSpy stopAvailable(&view, &ZeMetricsView::stopMetricsCalcAvailabilityChanged);
    view.startCalculation();
    ASSERT_TRUE(stopped.wait(60000));
    EXPECT_EQ(started.count(), 1);
    ASSERT_EQ(stopped.count(), 1);
    EXPECT_TRUE(stopped.at(0).at(0).toBool());
    EXPECT_FALSE(view.isRunning());
    EXPECT_EQ(Child<QStackedWidget>(view, "runStopMetricsStack")->currentWidget(), Child<QWidget>(view, "page"));
    ASSERT_GE(stopAvailable.count(), 2);
    EXPECT_TRUE(stopAvailable.at(0).at(0).toBool());
    EXPECT_FALSE(stopAvailable.last().at(0).toBool());

    // Every frame reached the per-frame, average and difference curves.
    int const psnrY = 0;
    for (ZeVideoStreamMetrics const* s : view.streams()) {
        ASSERT_EQ(s->m_frameCurves[psnrY]->xValues().size(), 10);
        EXPECT_EQ(s->m_avgCurves[psnrY]->xValues().size(), 10);
        EXPECT_EQ(s->m_counts[psnrY], 10);
        double sum = 0;
        for (double v : s->m_frameCurves[psnrY]->yValues())
            sum += v;
        EXPECT_NEAR(s->m_means[psnrY], sum / 10, 1e-9);
    }
    ASSERT_NE(view.diffCurves()[psnrY], nullptr);
    EXPECT_EQ(view.diffCurves()[psnrY]->xValues().size(), 10);

    // RD charts scale by bit rates, per-frame charts by frames.
    EXPECT_TRUE(Child<ZeMetricsPlot>(view, "plotRdCurvesPsnrY")->isBitRateAxis());
    EXPECT_FALSE(Child<ZeMetricsPlot>(view, "plotPsnrY")->isBitRateAxis());

    // One RD point per file of each curve: the stream's bit rate and its mean.
    ZeVideoStreamMetrics const* sa = view.streams().value(a);
    ZeVideoStreamMetrics const* sb = view.streams().value(b);
    RdMetricCurve const* rd = view.rdPlotCurves().value(anchor)->metricCurve(
        ze::nox::core::ZE_VIDEO_QUALITY_METRIC_PSNR, ze::nox::core::COMPONENT_Y);
    ASSERT_EQ(rd->xValues().size(), 2);
    int const rateA = sa->m_calculator.getAvgBitrateKbps();
    int const rateB = sb->m_calculator.getAvgBitrateKbps();
    EXPECT_GT(rateA, 0);
    EXPECT_TRUE(rd->xValues().contains(rateA) && rd->xValues().contains(rateB));
    EXPECT_TRUE(rd->yValues().contains(sa->m_means[psnrY]));

    // BD rates: the anchor's own row is zero; equal points give 0; a single point has no rate.
    ZeMetricsView::BdRateTable const& table = view.bdRates();
    ASSERT_EQ(table.size(), 3);
    auto const row = [&](ZeNoxRdCurve const* c) {
        return table.value(qMakePair(static_cast<ZeNoxRdCurve const*>(anchor), c));
    };
    for (ZeNoxRdCurve const* c : {static_cast<ZeNoxRdCurve const*>(anchor), static_cast<ZeNoxRdCurve const*>(same)})
        for (auto const& values : row(c))
            for (double v : values)
                EXPECT_EQ(v, 0.0);
    for (auto const& values : row(single))
        for (double v : values)
            EXPECT_TRUE(std::isnan(v)) << v;
    QString const text = view.bdLabel()->text();
    EXPECT_TRUE(text.contains(QStringLiteral("<b>BD Rates:</b><br>Anchor: <span style=' color:black;'> anchor</span>")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Same: <span style=' color:black;'> 0.00%</span>")));
    EXPECT_TRUE(text.contains(QStringLiteral("Single: <span style=' color:black;'> n/a</span>")));

    // Editing an RD curve empties the table, and the text says that Run computes the rates again;
    // the RD points stay, taken from the values the streams hold.
    same->setName(QStringLiteral("Same2"));
    EXPECT_TRUE(view.bdRates().isEmpty());
    EXPECT_EQ(view.bdLabel()->text(), QStringLiteral("<html><head/><body><b>BD Rates:</b><br>The RD curves have "
                                                     "changed. Press Run to compute the BD rates again.</body></html>"));
    EXPECT_FALSE(view.bdLabel()->text().contains(QStringLiteral("Same: ")));
    EXPECT_EQ(rd->xValues().size(), 2);
    RdMetricCurve const* singleRd = view.rdPlotCurves().value(single)->metricCurve(
        ze::nox::core::ZE_VIDEO_QUALITY_METRIC_PSNR, ze::nox::core::COMPONENT_Y);
    single->removeSrcFiles({a});
    EXPECT_TRUE(singleRd->xValues().isEmpty());
    single->addSrcFile(b);
    ASSERT_EQ(singleRd->yValues().size(), 1);
    EXPECT_EQ(singleRd->yValues()[0], sb->m_means[psnrY]);

    // A measured file leaves the project: its collection goes and no RD curve keeps it.
    project()->removeSourceFile(b);
    EXPECT_EQ(view.streams().size(), 1);
    for (ZeMetricsView::RdPlotCurve const* plot : view.rdPlotCurves()) {
        if (!plot)
            continue;
        for (ZeVideoStreamMetrics const* s : plot->sources())
            EXPECT_EQ(s, sa);
    }
    EXPECT_EQ(view.diffCurves()[psnrY], nullptr);
}

TEST_F(MetricsViewProject, StopDuringRunIsNotFinished)
{
    ZeMetricsView view;
    addReferenceAndEncode();
    ASSERT_EQ(view.streams().size(), 1);
    ZeVideoStreamMetrics* stream = view.streams().begin().value();

    // Stop as soon as the first frames are measured.
    QObject::connect(stream, &ZeVideoStreamMetrics::progress, &view, [&view](int percent) {
        if (percent > 0 && percent < 100)
            view.stopCalculation();
    });
    QSignalSpy stopped(&view, &ZeMetricsView::stopped);
    view.startCalculation();
    ASSERT_TRUE(stopped.count() > 0 || stopped.wait(60000));
    EXPECT_FALSE(stopped.at(0).at(0).toBool());
    EXPECT_TRUE(view.bdRates().isEmpty());
    EXPECT_TRUE(view.bdLabel()->text().isEmpty());
    EXPECT_LT(stream->m_counts[0], 300);
    EXPECT_EQ(Child<QStackedWidget>(view, "runStopMetricsStack")->currentWidget(), Child<QWidget>(view, "page"));
}

// A stream of another size is named with the reason on the Metrics tab and in a warning
// before the run; the others are measured, the run is not complete, and the stream that was
// not measured draws no RD point.
TEST_F(MetricsViewProject, StreamThatCannotBeMeasuredFailsTheRun)
{
    ZeMetricsView view;
    ZeNoxSourceFile* ref = add(VmafClipPath("clips/A_176x144_420p_ref.y4m"));
    ZeNoxSourceFile* good = add(VmafClipPath("clips/A_176x144_420p_crf23.y4m"));
    ZeNoxSourceFile* other = add(VmafClipPath("clips/B_177x99_420p_crf30.y4m")); // another size
    ref->setIsRefFile(true);
    ZeNoxRdCurve* curve = addCurve(QStringLiteral("c"), {other, good});
    ASSERT_EQ(view.streams().size(), 2);

    QString warning;
    ModalScript script({[&warning](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        warning = box->text();
        box->button(QMessageBox::Ok)->click();
    }});
    QSignalSpy started(&view, &ZeMetricsView::started);
    QSignalSpy stopped(&view, &ZeMetricsView::stopped);
    view.startCalculation();
    EXPECT_EQ(script.remaining(), 0);
    EXPECT_TRUE(warning.contains(QStringLiteral("B_177x99_420p_crf30.y4m"))) << warning.toStdString();
    QString const expected = QStringLiteral(
        "B_177x99_420p_crf30.y4m cannot be measured: its frame size 177x99 differs from the reference's 176x144");
    EXPECT_EQ(view.streamMessagesLabel()->text(), expected);
    EXPECT_FALSE(view.streamMessagesLabel()->isHidden());
    ASSERT_TRUE(stopped.count() > 0 || stopped.wait(60000));
    QTest::qWait(50);
    EXPECT_EQ(started.count(), 1);
    ASSERT_EQ(stopped.count(), 1);
    EXPECT_FALSE(stopped.at(0).at(0).toBool());
    EXPECT_TRUE(view.bdRates().isEmpty());
    EXPECT_EQ(view.streams().value(good)->m_counts[0], 10);
    RdMetricCurve const* rd = view.rdPlotCurves().value(curve)->metricCurve(ze::nox::core::ZE_VIDEO_QUALITY_METRIC_PSNR,
                                                                            ze::nox::core::COMPONENT_Y);
    ASSERT_EQ(rd->yValues().size(), 1);
    EXPECT_EQ(rd->yValues()[0], view.streams().value(good)->m_means[0]);

    // The stream leaves the project: its line goes with it.
    project()->removeSourceFile(other);
    EXPECT_TRUE(view.streamMessagesLabel()->text().isEmpty());
    EXPECT_TRUE(view.streamMessagesLabel()->isHidden());
}

// Cancel in the warning before the run starts nothing.
TEST_F(MetricsViewProject, CancelledWarningStartsNoRun)
{
    ZeMetricsView view;
    ZeNoxSourceFile* ref = add(VmafClipPath("clips/A_176x144_420p_ref.y4m"));
    add(VmafClipPath("clips/A_176x144_420p_crf23.y4m"));
    add(TestMediaPath("calc_5f_64x48_444.y4m")); // another size and pixel format
    ref->setIsRefFile(true);
    ModalScript script({[](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Cancel)->click();
    }});
    QSignalSpy started(&view, &ZeMetricsView::started);
    view.startCalculation();
    EXPECT_EQ(script.remaining(), 0);
    EXPECT_EQ(started.count(), 0);
    EXPECT_FALSE(view.isRunning());
    EXPECT_TRUE(
        view.streamMessagesLabel()->text().contains(QStringLiteral("calc_5f_64x48_444.y4m cannot be measured")));
}

} // namespace

namespace {

// A stream may end before another stream's thread has reported its start (each start reaches
// the panel queued). The run goes on until the last thread ends: one started(), one stopped().
TEST_F(MetricsViewProject, StreamEndingBeforeAnotherStartsDoesNotEndTheRun)
{
    ZeMetricsView view;
    addReferenceAndEncode();
    ASSERT_EQ(view.streams().size(), 1);

    QSignalSpy started(&view, &ZeMetricsView::started);
    QSignalSpy stopped(&view, &ZeMetricsView::stopped);
    view.startCalculation();
    // A quick stream that started and ended before the event loop ran.
    view.onMetricsStarted();
    view.onMetricsStopped();
    EXPECT_EQ(stopped.count(), 0);
    ASSERT_TRUE(stopped.wait(60000));
    EXPECT_EQ(started.count(), 1);
    ASSERT_EQ(stopped.count(), 1);
    EXPECT_TRUE(stopped.at(0).at(0).toBool());
}

} // namespace

namespace {

TEST(MetricsViewTabs, ReopensOnTheTabItWasClosedOn)
{
    {
        ZeMetricsView view;
        Child<QTabWidget>(view, "tabWidget")->setCurrentIndex(2);
    }
    ZeMetricsView view;
    EXPECT_EQ(Child<QTabWidget>(view, "tabWidget")->currentIndex(), 2);
    Child<QTabWidget>(view, "tabWidget")->setCurrentIndex(0);
}

} // namespace

namespace {

// The BD-rate text of the chosen chart: the anchor first, then each curve's value with its sign
// and colour, or n/a where no BD rate exists. The RD points are set by hand; a complete run's
// end computes the table.
TEST_F(MetricsViewProject, BdRateTextShowsSignColourAndMissingValues)
{
    ZeMetricsView view;
    ZeNoxSourceFile* ref = add(VmafClipPath("clips/A_176x144_420p_ref.y4m"));
    ZeNoxSourceFile* a = add(VmafClipPath("clips/A_176x144_420p_crf23.y4m"));
    ref->setIsRefFile(true);
    struct Curve
    {
        char const* name;
        std::vector<Point> points;
        char const* line; // empty: checked for the anchor
    };
    Curve const curves[] = {
        {"Anchor", {{1000, 30}, {2000, 40}}, ""},
        {"More", {{1500, 30}, {3000, 40}}, "More: <span style=' color:red;'> +50.00%</span>"},
        {"Less", {{500, 30}, {1000, 40}}, "Less: <span style=' color:green;'> -50.00%</span>"},
        {"Same", {{1000, 30}, {2000, 40}}, "Same: <span style=' color:black;'> 0.00%</span>"},
        {"Three", {{1200, 31}, {2400, 36}, {4800, 41}}, "Three: <span style=' color:red;'> +52.95%</span>"},
        {"Flat", {{1000, 35}, {2000, 35}}, "Flat: <span style=' color:black;'> n/a</span>"},
        {"Single", {{1000, 35}}, "Single: <span style=' color:black;'> n/a</span>"},
    };
    for (Curve const& c : curves)
        addCurve(QString::fromLatin1(c.name), {a});
    project()->setRdCurveAnchor(project()->rdCurveByName(QStringLiteral("Anchor")));
    for (Curve const& c : curves) {
        ZeMetricsView::RdPlotCurve* plot = view.rdPlotCurves().value(project()->rdCurveByName(c.name), nullptr);
        ASSERT_NE(plot, nullptr);
        RdMetricCurve* rd =
            plot->metricCurve(ze::nox::core::ZE_VIDEO_QUALITY_METRIC_PSNR, ze::nox::core::COMPONENT_YUV);
        for (Point const& p : c.points)
            rd->addValue(p.bitrate, p.value);
    }

    Child<QComboBox>(view, "metrics")->setCurrentIndex(0); // "PSNR: YUV"
    emit view.stopped(true);
    QString const text = view.bdLabel()->text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("<html><head/><body><b>BD Rates:</b><br>Anchor: <span "
                                               "style=' color:black;'> anchor</span><br>")))
        << text.toStdString();
    for (Curve const& c : curves) {
        if (*c.line) {
            EXPECT_TRUE(text.contains(QString::fromLatin1(c.line))) << c.name << "\n" << text.toStdString();
        }
    }
    EXPECT_TRUE(text.endsWith(QStringLiteral("</body></html>")));

    // The anchor losing its place empties the table.
    project()->setRdCurveAnchor(nullptr);
    EXPECT_TRUE(view.bdRates().isEmpty());
    EXPECT_TRUE(view.bdLabel()->text().isEmpty());
}

} // namespace

namespace {

// Keeps the GUI thread away from its event loop until every calculator thread of the panel has
// ended, so that all their signals arrive together and in any order.
void KeepGuiBusyUntilCalculatorsEnd(ZeMetricsView const& view)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        bool running = false;
        for (ZeVideoStreamMetrics const* s : view.streams())
            running = running || !s->m_calculator.isFinished();
        if (!running || timer.elapsed() > 60000)
            return;
        QThread::msleep(2);
    }
}

// A copy of a test clip under another name, for a second stream of the same content.
QString CopyOf(QTemporaryDir const& dir, QString const& source, QString const& name)
{
    QString const path = dir.filePath(name);
    EXPECT_TRUE(QFile::copy(source, path)) << path.toStdString();
    return path;
}

// One stream ends after a few frames while the other runs on; the GUI thread is busy while
// both end, so their thread signals arrive together. The run ends once, when both have ended.
TEST_F(MetricsViewProject, RunEndsWhenEveryStartedCalculatorHasEnded)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ZeMetricsView view;
    ZeNoxSourceFile* ref = add(TestMediaPath("calc_300f_64x48_ref.y4m"));
    ZeNoxSourceFile* longer = add(TestMediaPath("calc_300f_64x48_dis.y4m"));
    ZeNoxSourceFile* quick = add(CopyOf(dir, TestMediaPath("calc_300f_64x48_dis.y4m"), QStringLiteral("quick.y4m")));
    ref->setIsRefFile(true);
    longer->setLastFrameNumber(59);
    quick->setLastFrameNumber(1);
    ASSERT_EQ(view.streams().size(), 2);

    QSignalSpy started(&view, &ZeMetricsView::started);
    QSignalSpy stopped(&view, &ZeMetricsView::stopped);
    view.startCalculation();
    EXPECT_TRUE(view.isRunning());
    KeepGuiBusyUntilCalculatorsEnd(view);
    ASSERT_TRUE(stopped.count() > 0 || stopped.wait(60000));
    QTest::qWait(20); // anything still queued arrives
    EXPECT_EQ(started.count(), 1);
    ASSERT_EQ(stopped.count(), 1);
    EXPECT_TRUE(stopped.at(0).at(0).toBool());
    EXPECT_FALSE(view.isRunning());
    EXPECT_EQ(view.streams().value(quick)->m_counts[0], 2);
    EXPECT_EQ(view.streams().value(longer)->m_counts[0], 60);
}

// While a run goes, no project change offers Run, and Run itself does not restart the streams;
// the run's end offers it again.
TEST_F(MetricsViewProject, RunIsNotOfferedDuringARun)
{
    ZeMetricsView view;
    addReferenceAndEncode();
    QPushButton* run = Child<QPushButton>(view, "runMetricsCalc");
    ZeVideoStreamMetrics* stream = view.streams().begin().value();

    QSignalSpy available(&view, &ZeMetricsView::runMetricsCalcAvailabilityChanged);
    QSignalSpy started(&view, &ZeMetricsView::started);
    QSignalSpy stopped(&view, &ZeMetricsView::stopped);
    bool changedDuringRun = false;
    QObject::connect(stream, &ZeVideoStreamMetrics::progress, &view, [&](int percent) {
        if (changedDuringRun || percent <= 0 || !view.isRunning())
            return;
        changedDuringRun = true;
        available.clear();
        // A project change during the run: another file is added.
        add(TestMediaPath("calc_5f_80x48.y4m"));
        ASSERT_FALSE(available.isEmpty());
        for (QList<QVariant> const& args : available)
            EXPECT_FALSE(args.at(0).toBool());
        EXPECT_FALSE(run->isEnabled());
        view.startCalculation(); // ignored: the run goes on
    });
    view.startCalculation();
    ASSERT_TRUE(stopped.wait(60000));
    EXPECT_TRUE(changedDuringRun);
    EXPECT_EQ(started.count(), 1);
    ASSERT_EQ(stopped.count(), 1);
    EXPECT_EQ(stream->m_counts[0], 300);
    ASSERT_FALSE(available.isEmpty());
    EXPECT_TRUE(available.last().at(0).toBool());
    EXPECT_TRUE(run->isEnabled());
}

// The left/right difference survives project changes that keep the pair's values, and follows
// a new pair with the values both streams hold.
TEST_F(MetricsViewProject, DifferenceChartIsRebuiltFromTheStoredValues)
{
    ZeMetricsView view;
    ZeNoxSourceFile* ref = add(VmafClipPath("clips/A_176x144_420p_ref.y4m"));
    ZeNoxSourceFile* a = add(VmafClipPath("clips/A_176x144_420p_crf23.y4m"));
    ZeNoxSourceFile* b = add(VmafClipPath("clips/A_176x144_420p_crf40.y4m"));
    ref->setIsRefFile(true);
    a->setIsLeftFile(true);
    b->setIsRightFile(true);
    QSignalSpy stopped(&view, &ZeMetricsView::stopped);
    view.startCalculation();
    ASSERT_TRUE(stopped.wait(60000));
    int const psnrY = 0;
    auto const expectDifference = [&](ZeNoxSourceFile const* left, ZeNoxSourceFile const* right) {
        MetricDiffCurve const* diff = view.diffCurves()[psnrY];
        ASSERT_NE(diff, nullptr);
        MetricCurve const* l = view.streams().value(left)->curve(psnrY);
        MetricCurve const* r = view.streams().value(right)->curve(psnrY);
        ASSERT_EQ(diff->xValues().size(), 10);
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(diff->xValues()[i], l->xValues()[i]);
            EXPECT_DOUBLE_EQ(diff->yValues()[i], r->yValues()[i] - l->yValues()[i]);
        }
    };
    expectDifference(a, b);

    add(TestMediaPath("calc_5f_80x48.y4m")); // a project change
    expectDifference(a, b);

    // The pair swaps sides: the difference changes sign.
    a->setIsLeftFile(false);
    b->setIsRightFile(false);
    b->setIsLeftFile(true);
    a->setIsRightFile(true);
    expectDifference(b, a);
    EXPECT_GT(view.diffCurves()[psnrY]->yValues()[0], 0.0); // crf23 (now right) is better than crf40
}

// Two streams of one content at one size share a bit rate. Removing one from the project
// leaves the other's point on every curve that holds both, in either order.
TEST_F(MetricsViewProject, RemovingAStreamKeepsTheOtherPointAtTheSameBitRate)
{
    ZeMetricsView view;
    ZeNoxSourceFile* ref = add(VmafClipPath("clips/A_176x144_420p_ref.y4m"));
    ZeNoxSourceFile* a = add(VmafClipPath("clips/A_176x144_420p_crf23.y4m"));
    ZeNoxSourceFile* b = add(VmafClipPath("clips/A_176x144_420p_crf40.y4m"));
    ref->setIsRefFile(true);
    ZeNoxRdCurve* ab = addCurve(QStringLiteral("ab"), {a, b});
    ZeNoxRdCurve* ba = addCurve(QStringLiteral("ba"), {b, a});
    QSignalSpy stopped(&view, &ZeMetricsView::stopped);
    view.startCalculation();
    ASSERT_TRUE(stopped.wait(60000));
    ZeVideoStreamMetrics const* sa = view.streams().value(a);
    ASSERT_EQ(sa->m_calculator.getAvgBitrateKbps(), view.streams().value(b)->m_calculator.getAvgBitrateKbps());
    double const meanA = sa->m_means[0];

    project()->removeSourceFile(b);
    for (ZeNoxRdCurve const* c : {ab, ba}) {
        RdMetricCurve const* rd = view.rdPlotCurves().value(c)->metricCurve(ze::nox::core::ZE_VIDEO_QUALITY_METRIC_PSNR,
                                                                            ze::nox::core::COMPONENT_Y);
        ASSERT_EQ(rd->yValues().size(), 1) << c->name().toStdString();
        EXPECT_EQ(rd->yValues()[0], meanA) << c->name().toStdString();
    }
}

// Without the VMAF model files no stream can be measured: Run names the missing file and the
// folder it was looked for in, on the Metrics tab and in the warning, and starts nothing.
TEST_F(MetricsViewProject, MissingModelsFolderIsNamedWhenRunIsPressed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ZeMetricsView view;
    addReferenceAndEncode();

    struct Case
    {
        char const* name;
        QString folder;
        bool createFolder;
        char const* missing;
    };
    Case const cases[] = {
        {"no folder", dir.filePath(QStringLiteral("models")), false, "vmaf_v0.6.1.pkl"},
        {"empty folder", dir.filePath(QStringLiteral("empty")), true, "vmaf_v0.6.1.pkl"},
    };
    for (Case const& c : cases) {
        if (c.createFolder)
            ASSERT_TRUE(QDir().mkpath(c.folder));
        view.setVmafModelsDir(c.folder);
        QString warning;
        ModalScript script({[&warning](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w))
                warning = box->text();
            w->close();
        }});
        QSignalSpy started(&view, &ZeMetricsView::started);
        view.startCalculation();
        EXPECT_EQ(started.count(), 0) << c.name;
        EXPECT_FALSE(view.isRunning()) << c.name;
        QString const text = view.streamMessagesLabel()->text();
        EXPECT_TRUE(text.contains(QString::fromLatin1(c.missing))) << c.name << ": " << text.toStdString();
        EXPECT_TRUE(text.contains(QDir::toNativeSeparators(c.folder))) << c.name << ": " << text.toStdString();
        EXPECT_TRUE(warning.contains(QString::fromLatin1(c.missing))) << c.name << ": " << warning.toStdString();
        EXPECT_EQ(script.unexpected(), 0);
        EXPECT_TRUE(Child<QPushButton>(view, "runMetricsCalc")->isEnabled());
    }
}

} // namespace

namespace {

// Each stream that cannot be measured gets a line with its name and the reason; with none left
// to measure, Run warns and starts nothing.
TEST_F(MetricsViewProject, StreamsThatCannotBeMeasuredAreNamedWithTheReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ZeMetricsView view;
    ZeNoxSourceFile* ref = add(TestMediaPath("calc_300f_64x48_ref.y4m"));
    add(TestMediaPath("calc_5f_64x48_444.y4m"));
    add(TestMediaPath("calc_5f_80x48.y4m"));
    QString const gone = CopyOf(dir, TestMediaPath("calc_300f_64x48_dis.y4m"), QStringLiteral("gone.y4m"));
    add(gone);
    ref->setIsRefFile(true);
    ASSERT_EQ(view.streams().size(), 3);
    ASSERT_TRUE(QFile::remove(gone)); // deleted after it was opened

    QString warning;
    ModalScript script({[&warning](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        warning = box->text();
        box->close();
    }});
    QSignalSpy started(&view, &ZeMetricsView::started);
    view.startCalculation();
    EXPECT_EQ(script.remaining(), 0);
    EXPECT_EQ(started.count(), 0);
    QStringList const lines = view.streamMessagesLabel()->text().split(QLatin1Char('\n'));
    QStringList const expected = {
        QStringLiteral("calc_5f_64x48_444.y4m cannot be measured: its pixel format YUV 4:4:4 8 bit differs from "
                       "the reference's YUV 4:2:0 8 bit"),
        QStringLiteral("calc_5f_80x48.y4m cannot be measured: its frame size 80x48 differs from the reference's "
                       "64x48"),
        QStringLiteral("gone.y4m cannot be measured: the file cannot be read"),
    };
    EXPECT_EQ(lines, expected) << view.streamMessagesLabel()->text().toStdString();
    for (QString const& line : expected)
        EXPECT_TRUE(warning.contains(line)) << warning.toStdString();

    // A new reference: the reasons found against the old one go.
    ref->setIsRefFile(false);
    EXPECT_TRUE(view.streamMessagesLabel()->text().isEmpty());
}

} // namespace

namespace {

// Removing the reference during a run cuts it short: the run is not reported finished.
TEST_F(MetricsViewProject, RunCutShortByRemovingTheReferenceIsNotFinished)
{
    ZeMetricsView view;
    ZeNoxSourceFile* ref = addReferenceAndEncode();
    ASSERT_EQ(view.streams().size(), 1);
    QSignalSpy stopped(&view, &ZeMetricsView::stopped);
    view.startCalculation();
    ASSERT_TRUE(view.isRunning());
    ref->setIsRefFile(false); // while the run goes: its stream leaves the panel
    ASSERT_TRUE(stopped.count() > 0 || stopped.wait(60000));
    ASSERT_EQ(stopped.count(), 1);
    EXPECT_FALSE(stopped.at(0).at(0).toBool());
    EXPECT_TRUE(view.bdRates().isEmpty());
    EXPECT_FALSE(view.isRunning());
}

// A stopped run keeps the values of the frames it measured, labelled as partial on the Metrics
// tab with the count measured.
TEST_F(MetricsViewProject, StoppedRunLabelsItsPartialValues)
{
    ZeMetricsView view;
    addReferenceAndEncode();
    ZeVideoStreamMetrics* stream = view.streams().begin().value();
    QSignalSpy stopped(&view, &ZeMetricsView::stopped);
    view.startCalculation();
    view.stopCalculation(); // at once: the run cannot have reached its end
    ASSERT_TRUE(stopped.count() > 0 || stopped.wait(60000));
    QTest::qWait(20);
    EXPECT_FALSE(stopped.at(0).at(0).toBool());
    int const measured = stream->m_counts[0];
    ASSERT_LT(measured, 300);
    EXPECT_EQ(view.streamMessagesLabel()->text(),
              QStringLiteral("calc_300f_64x48_dis.y4m: partial values, %1 of 300 frames measured").arg(measured));
}

// A file replaced on disk after it was added is opened again before it is measured: the project
// shows its new properties, and the Metrics tab and the log say that it changed. One that no
// longer opens is named with its reason and not measured.
TEST_F(MetricsViewProject, FileReplacedOnDiskIsOpenedAgainBeforeItIsMeasured)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ZeMetricsView view;
    ZeNoxSourceFile* ref = add(TestMediaPath("panel_a_64x48.y4m"));
    QString const path = CopyOf(dir, TestMediaPath("panel_b_64x48.y4m"), QStringLiteral("enc.y4m"));
    ZeNoxSourceFile* enc = add(path);
    ref->setIsRefFile(true);
    ASSERT_EQ(enc->originalFrameCount(), 12);

    // Re-encoded in place, now 120 frames long.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::copy(TestMediaPath("panel_120f_64x48.y4m"), path));
    QSignalSpy stopped(&view, &ZeMetricsView::stopped);
    {
        MessageCapture log;
        view.startCalculation();
        ASSERT_TRUE(stopped.count() > 0 || stopped.wait(60000));
        EXPECT_GE(log.count(QtWarningMsg, QStringLiteral("has changed on disk")), 1) << log.dump();
    }
    EXPECT_TRUE(stopped.at(0).at(0).toBool());
    EXPECT_EQ(enc->originalFrameCount(), 120);
    EXPECT_TRUE(view.streamMessagesLabel()->text().startsWith(
        QStringLiteral("enc.y4m has changed on disk since it was opened and was opened again: 120 frames")))
        << view.streamMessagesLabel()->text().toStdString();
    ASSERT_EQ(view.streams().size(), 1);
    EXPECT_EQ(view.streams().begin().value()->m_counts[0], 12);

    // Overwritten with text: no longer a stream. The raw-parameters question is cancelled; the
    // file is named with the reason and nothing is measured.
    ASSERT_TRUE(WriteAll(path, QByteArray("twenty-one bytes text")));
    QString warning;
    ModalScript script({[](QWidget* w) { w->close(); }, // the raw-parameters question
                        [&warning](QWidget* w) {
                            if (auto* box = qobject_cast<QMessageBox*>(w))
                                warning = box->text();
                            w->close();
                        }});
    QSignalSpy started(&view, &ZeMetricsView::started);
    view.startCalculation();
    EXPECT_EQ(script.remaining(), 0);
    EXPECT_EQ(started.count(), 0);
    EXPECT_EQ(enc->openStatus(), ZeNoxSourceFile::FailedToOpen);
    EXPECT_TRUE(view.streams().isEmpty());
    QString const line = QStringLiteral("enc.y4m has changed on disk and cannot be opened (%1): it is not measured")
                             .arg(ErrToString(enc->lastResult()));
    EXPECT_EQ(view.streamMessagesLabel()->text(), line);
    EXPECT_TRUE(warning.contains(line)) << warning.toStdString();
}

} // namespace
