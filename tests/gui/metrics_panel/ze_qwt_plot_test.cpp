// The metrics chart and the RD legend, offscreen: scales, frame clicks, panning, wheel zoom,
// fitting, the hover tooltip, the frame columns as drawn, ownership of curves, legend items.
#include "metrics_panel/ze_metric_curve.h"
#include "metrics_panel/ze_nox_rd_curves_legend.h"
#include "metrics_panel/ze_qwt_plot.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

#include <qwt_legend_label.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_map.h>
#include <qwt_scale_widget.h>

#include <gtest/gtest.h>

#include <memory>

using ze::nox::gui::MetricCurve;
using ze::nox::gui::RdMetricCurve;
using ze::nox::gui::ZeMetricsPlot;
using ze::nox::gui::ZeNoxRdCurvesLegend;

namespace {

class MetricsPlot : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_plot = std::make_unique<ZeMetricsPlot>();
        m_plot->resize(640, 400);
        m_plot->show();
        QCoreApplication::processEvents();
        m_plot->replot();
    }

    ZeMetricsPlot& plot() { return *m_plot; }
    QWidget* canvas() { return m_plot->canvas(); }

    QwtInterval interval(int axis)
    {
        m_plot->updateAxes();
        return m_plot->axisInterval(axis);
    }

    // A per-frame curve on the chart with points (x0 + i, values[i]).
    MetricCurve* addCurve(int x0, std::vector<double> const& values, QColor color = Qt::blue)
    {
        auto c = std::make_unique<MetricCurve>(QStringLiteral("c%1").arg(m_curves.size()), color, Qt::SolidLine,
                                               QwtSymbol::NoSymbol);
        c->attach(m_plot.get());
        for (size_t i = 0; i < values.size(); ++i)
            c->addValue(x0 + static_cast<int>(i), values[i]);
        // The chart draws its new points together, a moment later.
        EXPECT_TRUE(QTest::qWaitFor([this] { return !m_plot->isReplotPending(); }, 2000));
        m_curves.push_back(std::move(c));
        return m_curves.back().get();
    }

    // Canvas pixel at the middle of a frame, as the chart maps it.
    int pixelOfFrame(double frame)
    {
        m_plot->updateAxes();
        return static_cast<int>(m_plot->canvasMap(QwtPlot::xBottom).transform(frame));
    }

    static void Mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }

    static void Wheel(QWidget* w, int delta)
    {
        QPoint const pos(w->width() / 2, w->height() / 2);
        QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &e);
    }

    void drag(QPoint from, QPoint to, int steps)
    {
        Mouse(canvas(), QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        for (int i = 1; i <= steps; ++i) {
            QPoint const p = from + (to - from) * i / steps;
            Mouse(canvas(), QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
        }
        Mouse(canvas(), QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    }

    QColor canvasPixel(int x, int y) { return canvas()->grab().toImage().pixelColor(x, y); }

    std::unique_ptr<ZeMetricsPlot> m_plot;
    std::vector<std::unique_ptr<MetricCurve>> m_curves;
};

void ExpectInterval(QwtInterval const& i, double lo, double hi)
{
    EXPECT_DOUBLE_EQ(i.minValue(), lo);
    EXPECT_DOUBLE_EQ(i.maxValue(), hi);
}

TEST_F(MetricsPlot, DefaultScalesAndFrameCount)
{
    ExpectInterval(interval(QwtPlot::xBottom), 0, 300);
    ExpectInterval(interval(QwtPlot::yLeft), 0, 100);
    EXPECT_TRUE(plot().axisAutoScale(QwtPlot::yLeft));
    EXPECT_FALSE(plot().axisAutoScale(QwtPlot::xBottom));

    // The total only grows; the x scale follows the latest count.
    plot().setTotalFrameCount(500);
    plot().setTotalFrameCount(200);
    ExpectInterval(interval(QwtPlot::xBottom), 0, 200);
    plot().scaleX(0, 900); // bounded by the total, still 500
    ExpectInterval(interval(QwtPlot::xBottom), 0, 500);

    ZeMetricsPlot fresh;
    fresh.setTotalFrameCount(40);
    fresh.updateAxes();
    ExpectInterval(fresh.axisInterval(QwtPlot::xBottom), 0, 40);

    // A count of 0 (no streams left) is taken as it is.
    fresh.setTotalFrameCount(0);
    fresh.updateAxes();
    ExpectInterval(fresh.axisInterval(QwtPlot::xBottom), 0, 0);

    // Degenerate x scale: a click finds no frame instead of dividing by zero.
    MetricCurve c(QStringLiteral("c"), Qt::red, Qt::SolidLine, QwtSymbol::NoSymbol);
    c.attach(&fresh);
    c.addValue(0, 1.0);
    fresh.resize(300, 200);
    fresh.show();
    QCoreApplication::processEvents();
    QSignalSpy spy(&fresh, &ZeMetricsPlot::curFrameSelectionChanged);
    Mouse(fresh.canvas(), QEvent::MouseButtonPress, QPoint(50, 50), Qt::LeftButton, Qt::LeftButton);
    Mouse(fresh.canvas(), QEvent::MouseButtonRelease, QPoint(50, 50), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(spy.count(), 0);
}

TEST_F(MetricsPlot, ShortClickSelectsFrame)
{
    struct Case
    {
        char const* name;
        int total;
        int frame;
        bool withCurve;
        Qt::MouseButton button;
        int releaseOffset;
        int holdMs;
        int expected; // -1: nothing emitted
    };
    Case const kCases[] = {
        {"short click", 50, 20, true, Qt::LeftButton, 0, 0, 20},
        {"first frame", 50, 0, true, Qt::LeftButton, 0, 0, 0},
        {"moved before release", 50, 20, true, Qt::LeftButton, 1, 0, -1},
        {"held too long", 50, 20, true, Qt::LeftButton, 0, 250, -1},
        {"right of the last frame", 30, 40, true, Qt::LeftButton, 0, 0, -1},
        {"no curve on the chart", 50, 20, false, Qt::LeftButton, 0, 0, -1},
        {"right button", 50, 20, true, Qt::RightButton, 0, 0, -1},
    };
    for (Case const& c : kCases) {
        SCOPED_TRACE(c.name);
        m_curves.clear();
        SetUp();
        plot().setTotalFrameCount(c.total);
        plot().scaleX(0, 50);
        if (c.withCurve)
            addCurve(0, {1, 2, 3});
        plot().replot();

        QSignalSpy spy(&plot(), &ZeMetricsPlot::curFrameSelectionChanged);
        QPoint const pos(pixelOfFrame(c.frame), canvas()->height() / 2);
        Mouse(canvas(), QEvent::MouseButtonPress, pos, c.button, c.button);
        if (c.holdMs)
            QTest::qSleep(c.holdMs);
        Mouse(canvas(), QEvent::MouseButtonRelease, pos + QPoint(c.releaseOffset, 0), c.button, Qt::NoButton);
        if (c.expected < 0) {
            EXPECT_EQ(spy.count(), 0);
        } else {
            ASSERT_EQ(spy.count(), 1);
            EXPECT_EQ(spy.at(0).at(0).toInt(), c.expected);
        }
    }
}

TEST_F(MetricsPlot, DragPansWithinTheFrames)
{
    plot().setTotalFrameCount(1000);
    plot().scaleX(0, 300);
    plot().replot();
    int const w = canvas()->width();
    int const y = canvas()->height() / 2;

    // Dragging right at the start keeps the scale at 0 with its span.
    drag(QPoint(100, y), QPoint(300, y), 4);
    ExpectInterval(interval(QwtPlot::xBottom), 0, 300);

    // Half a canvas to the left moves half a span.
    drag(QPoint(w - 10, y), QPoint(w - 10 - w / 2, y), 1);
    QwtInterval const moved = interval(QwtPlot::xBottom);
    EXPECT_NEAR(moved.minValue(), 150, 1);
    EXPECT_NEAR(moved.width(), 300, 1);

    // Far past the last frame the scale stops there, span kept, never reversed.
    for (int i = 0; i < 6; ++i)
        drag(QPoint(w - 10, y), QPoint(10, y), 3);
    QwtInterval const end = interval(QwtPlot::xBottom);
    EXPECT_EQ(end.maxValue(), 1000);
    EXPECT_NEAR(end.minValue(), 700, 1);

    // The y scale moves with vertical drags inside its limits and never turns over.
    plot().scaleY(20, 50);
    plot().replot();
    int const h = canvas()->height();
    drag(QPoint(w / 2, 10), QPoint(w / 2, 10 + h / 3), 1);
    QwtInterval const up = interval(QwtPlot::yLeft);
    EXPECT_NEAR(up.minValue(), 30, 0.5);
    EXPECT_NEAR(up.maxValue(), 60, 0.5);
    for (int i = 0; i < 10; ++i)
        drag(QPoint(w / 2, 10), QPoint(w / 2, h - 10), 3);
    QwtInterval const top = interval(QwtPlot::yLeft);
    EXPECT_LT(top.minValue(), top.maxValue());
    EXPECT_LE(top.maxValue(), 100);
}

TEST_F(MetricsPlot, WheelZoomsTheAxisUnderTheMouse)
{
    struct Case
    {
        char const* name;
        int axis;
        double lo, hi;
        int delta;
        double expLo, expHi;
    };
    Case const kCases[] = {
        {"x from 0: only the upper bound, out", QwtPlot::xBottom, 0, 300, -120, 0, 307},
        {"x from 0: only the upper bound, in", QwtPlot::xBottom, 0, 300, 120, 0, 292},
        {"x inside: both bounds towards the middle", QwtPlot::xBottom, 100, 300, 120, 104, 295},
        {"x: upper bound at least the smallest span", QwtPlot::xBottom, 0, 50, 120, 0, 50},
        {"x: no step, no change", QwtPlot::xBottom, 100, 300, 0, 100, 300},
        {"y in", QwtPlot::yLeft, 0, 100, 120, 50 - 50 / 1.02, 50 + 50 / 1.02},
        {"y out stays inside the limits", QwtPlot::yLeft, 0, 100, -120, 0, 100},
    };
    plot().setTotalFrameCount(1000);
    for (Case const& c : kCases) {
        SCOPED_TRACE(c.name);
        plot().setAxisScale(c.axis, c.lo, c.hi);
        plot().replot();
        Wheel(plot().axisWidget(c.axis), c.delta);
        QwtInterval const i = interval(c.axis);
        EXPECT_NEAR(i.minValue(), c.expLo, 1e-9);
        EXPECT_NEAR(i.maxValue(), c.expHi, 1e-9);
    }
}

TEST_F(MetricsPlot, DoubleClickFitsAxisToCurves)
{
    plot().setTotalFrameCount(100);
    plot().setAutoScaleY(false);
    plot().scaleY(0, 100);
    addCurve(10, std::vector<double>(51, 35.0)); // x 10..60, flat: no valid rectangle
    addCurve(20, {30, 40});                      // x 20..21, y 30..40
    plot().replot();

    Mouse(plot().axisWidget(QwtPlot::xBottom), QEvent::MouseButtonDblClick, QPoint(5, 5), Qt::LeftButton,
          Qt::LeftButton);
    // Only curves with a real extent count: the flat one is left out, and the span is at least 50.
    ExpectInterval(interval(QwtPlot::xBottom), 20, 50);

    addCurve(5, {32, 45, 33});
    Mouse(plot().axisWidget(QwtPlot::yLeft), QEvent::MouseButtonDblClick, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
    ExpectInterval(interval(QwtPlot::yLeft), 30, 45);
    Mouse(plot().axisWidget(QwtPlot::xBottom), QEvent::MouseButtonDblClick, QPoint(5, 5), Qt::LeftButton,
          Qt::LeftButton);
    ExpectInterval(interval(QwtPlot::xBottom), 5, 50);
}

TEST_F(MetricsPlot, HoverTooltipShowsEveryCurveLongEnough)
{
    plot().setTotalFrameCount(10);
    plot().scaleX(0, 50);
    plot().setValuesPrecise(3);
    addCurve(0, {1.0, 1.5, 2.25, 3.125, 4.0}, QColor(0x11, 0x22, 0x33));
    addCurve(0, {7.0, 8.0}, QColor(0xaa, 0xbb, 0xcc));
    plot().replot();

    auto hoverAt = [&](double frame) {
        Mouse(canvas(), QEvent::MouseMove, QPoint(pixelOfFrame(frame), canvas()->height() / 2), Qt::NoButton,
              Qt::NoButton);
    };
    hoverAt(1);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("<b>Frame 1</b><br><font color='#112233'>1.500</font>"
                                               "<br><font color='#aabbcc'>8.000</font>"));
    hoverAt(3);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("<b>Frame 3</b><br><font color='#112233'>3.125</font>"));
    hoverAt(20); // past the total: the tooltip goes
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 2000));
}

TEST_F(MetricsPlot, FrameColumnsAreDrawnOverTheWholeScale)
{
    plot().setTotalFrameCount(50);
    plot().scaleX(0, 50);
    plot().setCurFrame(10);
    int const mid = canvas()->height() / 2;
    QColor const background = canvasPixel(pixelOfFrame(30), mid);
    EXPECT_LT(canvasPixel(pixelOfFrame(10), mid).lightness(), background.lightness());

    // Curves far above the default scale: the y scale follows them, the column is not part of
    // the scaling and still spans the canvas from top to bottom.
    addCurve(20, {200, 400, 300});
    QwtInterval const y = interval(QwtPlot::yLeft);
    EXPECT_GE(y.minValue(), 150);
    EXPECT_LE(y.maxValue(), 450);
    EXPECT_LT(canvasPixel(pixelOfFrame(10), 10).lightness(), background.lightness());
    EXPECT_LT(canvasPixel(pixelOfFrame(10), canvas()->height() - 10).lightness(), background.lightness());

    // Outside the frames there is no column; after a reset none either.
    plot().setCurFrame(51);
    EXPECT_EQ(canvasPixel(pixelOfFrame(10), mid), background);
    plot().setCurFrame(10);
    plot().resetToDefault();
    plot().scaleX(0, 50);
    plot().replot();
    EXPECT_EQ(canvasPixel(pixelOfFrame(10), mid), background);
    ExpectInterval(interval(QwtPlot::xBottom), 0, 50);
}

TEST(MetricsPlotOwnership, ChartGoesBeforeItsCurves)
{
    auto plot = std::make_unique<ZeMetricsPlot>();
    MetricCurve frames(QStringLiteral("a"), Qt::red, Qt::SolidLine, QwtSymbol::Ellipse);
    RdMetricCurve rd(QStringLiteral("rd"), Qt::green, 0);
    frames.attach(plot.get());
    rd.attach(plot.get());
    frames.addValue(0, 1.0);
    rd.addValue(1000, 30.0);

    plot.reset(); // must neither delete the curves nor leave them pointing at the chart
    EXPECT_EQ(frames.plotCurve()->plot(), nullptr);
    EXPECT_EQ(rd.plotCurve()->plot(), nullptr);
    frames.addValue(1, 2.0);
    rd.addValue(2000, 40.0);
    EXPECT_EQ(frames.plotCurve()->dataSize(), 2u);
    EXPECT_EQ(rd.plotCurve()->dataSize(), 2u);
}

TEST(RdCurvesLegend, ListsTheChartsCurvesOverTheCanvas)
{
    ZeMetricsPlot plot;
    plot.resize(800, 500);
    RdMetricCurve before(QStringLiteral("Fast: PSNR Y"), Qt::red, 0);
    before.attach(&plot);
    auto* legend = new ZeNoxRdCurvesLegend(&plot);
    // The chart's own legend goes, as the metrics panel does for RD charts.
    plot.insertLegend(nullptr, QwtPlot::RightLegend, -1);
    RdMetricCurve after(QStringLiteral("Slow: PSNR Y"), Qt::blue, 1);
    after.attach(&plot);

    auto titleOf = [&](RdMetricCurve const& c) {
        auto* label = qobject_cast<QwtLegendLabel*>(legend->legendWidget(plot.itemToInfo(c.plotCurve())));
        return label ? label->data().title().text() : QString();
    };
    EXPECT_EQ(titleOf(before), QStringLiteral("Fast: PSNR Y"));
    EXPECT_EQ(titleOf(after), QStringLiteral("Slow: PSNR Y"));
    after.setTitle(QStringLiteral("Slower: PSNR Y"));
    EXPECT_EQ(titleOf(after), QStringLiteral("Slower: PSNR Y"));
    before.detach(&plot);
    EXPECT_EQ(legend->legendWidget(plot.itemToInfo(before.plotCurve())), nullptr);

    plot.show();
    QCoreApplication::processEvents();
    plot.resize(900, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(legend->size(), QSize(350, 100));
    EXPECT_EQ(legend->pos(), QPoint(plot.canvas()->width() - 350, plot.canvas()->height() - 100 - 15));
    EXPECT_EQ(legend->parentWidget(), &plot);
}

} // namespace

namespace {

// A chart that counts its replots.
class CountingPlot : public ZeMetricsPlot
{
public:
    void replot() override
    {
        ++replots;
        ZeMetricsPlot::replot();
    }
    int replots = 0;
};

// A value per frame does not redraw the chart: the values of a moment are drawn by one replot,
// and a hidden chart draws when it is shown.
TEST(MetricsPlotReplots, ValuesInQuickSuccessionAreDrawnTogether)
{
    CountingPlot shown;
    shown.resize(400, 300);
    shown.show();
    CountingPlot hidden;
    QCoreApplication::processEvents();
    MetricCurve a(QStringLiteral("a"), Qt::red, Qt::SolidLine, QwtSymbol::Ellipse);
    MetricCurve b(QStringLiteral("b"), Qt::blue, Qt::SolidLine, QwtSymbol::Ellipse);
    a.attach(&shown);
    b.attach(&hidden);
    shown.replots = 0;
    hidden.replots = 0;
    for (int f = 0; f < 1000; ++f) {
        a.addValue(f, 100.0 + f);
        b.addValue(f, 100.0 + f);
    }
    EXPECT_EQ(shown.replots, 0);
    EXPECT_TRUE(shown.isReplotPending());
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown.replots > 0; }, 2000));
    QTest::qWait(3 * ZeMetricsPlot::kReplotDelayMs);
    EXPECT_EQ(shown.replots, 1);
    // The drawn scale holds the new values.
    EXPECT_GE(shown.axisInterval(QwtPlot::yLeft).maxValue(), 1000.0);
    EXPECT_EQ(hidden.replots, 0);
    hidden.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(hidden.replots, 1);
    EXPECT_FALSE(hidden.isReplotPending());
}

// RD charts hold bit rates on the x axis: fitting and zooming go by the curves' bit rates, not
// by frame counts (no 50-frame minimum span, no cap at the frame count).
TEST(MetricsPlotBitRates, FitAndZoomFollowTheCurvesBitRates)
{
    struct Case
    {
        char const* name;
        std::vector<int> rates;
        double fitLo, fitHi;
    };
    Case const cases[] = {
        {"1000..8000 kbps", {1000, 2000, 4000, 8000}, 1000, 8000},
        {"beyond the frame-count cap", {160000, 320000}, 160000, 320000},
        {"a single bit rate", {5000}, 4500, 5500},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ZeMetricsPlot plot;
        plot.setBitRateAxis(true);
        plot.setAutoScaleX(true);
        plot.resize(640, 400);
        plot.show();
        RdMetricCurve rd(QStringLiteral("rd"), Qt::red, 0);
        rd.attach(&plot);
        double quality = 30;
        for (int rate : c.rates)
            rd.addValue(rate, quality++);
        plot.replot();

        QWidget* axis = plot.axisWidget(QwtPlot::xBottom);
        QPoint const pos(5, 5);
        QMouseEvent dbl(QEvent::MouseButtonDblClick, pos, axis->mapToGlobal(pos), Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(axis, &dbl);
        QwtInterval fit = plot.axisInterval(QwtPlot::xBottom);
        EXPECT_NEAR(fit.minValue(), c.fitLo, 1e-9);
        EXPECT_NEAR(fit.maxValue(), c.fitHi, 1e-9);

        // Zooming out widens around the middle; the points stay in view.
        QPoint const mid(axis->width() / 2, axis->height() / 2);
        for (int i = 0; i < 3; ++i) {
            QWheelEvent out(mid, axis->mapToGlobal(mid), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                            Qt::NoScrollPhase, false);
            QApplication::sendEvent(axis, &out);
        }
        QwtInterval const wide = plot.axisInterval(QwtPlot::xBottom);
        EXPECT_LT(wide.minValue(), c.fitLo);
        EXPECT_GT(wide.maxValue(), c.fitHi);
        EXPECT_GE(wide.minValue(), 0.0);
    }
}

} // namespace
TEST_F(MetricsPlot, YAxisLabelsNeverOverlap)
{
    // From a tall chart to one just taller than its minimum: neighbouring labels ("100", "80",
    // ...) stay at least a text line apart, and the top label lies inside the axis.
    int const line = QFontMetrics(plot().axisWidget(QwtPlot::yLeft)->font()).height();
    for (int height : {400, 160, 90, 60}) {
        m_plot->resize(640, height);
        QCoreApplication::processEvents();
        m_plot->replot();
        QList<double> const ticks = plot().axisScaleDiv(QwtPlot::yLeft).ticks(QwtScaleDiv::MajorTick);
        ASSERT_GE(ticks.size(), 2) << height;
        QwtScaleMap const map = plot().canvasMap(QwtPlot::yLeft);
        for (int k = 1; k < ticks.size(); ++k)
            EXPECT_GE(std::abs(map.transform(ticks[k]) - map.transform(ticks[k - 1])), line) << height;
    }
}
