// Per-frame, difference and RD curves: points as the chart gets them, difference pairing,
// the ordered RD points, symbols and the RD curve's interpolation and areas.
#include "metrics_panel/ze_metric_curve.h"
#include "metrics_panel/ze_qwt_plot.h"

#include <QSignalSpy>

#include <qwt_plot_curve.h>
#include <qwt_symbol.h>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <memory>
#include <vector>

using ze::nox::gui::MetricCurve;
using ze::nox::gui::MetricDiffCurve;
using ze::nox::gui::RdMetricCurve;
using ze::nox::gui::ZeMetricsPlot;

namespace {

std::vector<QPointF> Samples(QwtPlotCurve const* c)
{
    std::vector<QPointF> out;
    for (size_t i = 0; i < c->dataSize(); ++i)
        out.push_back(c->sample(static_cast<int>(i)));
    return out;
}

TEST(MetricCurve, PointsReachTheChartInOrderAndLeaveWithTheCurve)
{
    ZeMetricsPlot plot;
    auto curve = std::make_unique<MetricCurve>(QStringLiteral("a.264"), Qt::red, Qt::DotLine, QwtSymbol::Ellipse);
    curve->attach(&plot);
    QSignalSpy spy(curve.get(), &MetricCurve::pointAdded);

    // Enough points to make the vectors grow several times under the chart's feet.
    for (int f = 0; f < 1000; ++f)
        curve->addValue(f, 30.0 + f % 7);
    std::vector<QPointF> const s = Samples(curve->plotCurve());
    ASSERT_EQ(s.size(), 1000u);
    EXPECT_EQ(s[0], QPointF(0, 30));
    EXPECT_EQ(s[999], QPointF(999, 30 + 999 % 7));
    ASSERT_EQ(spy.count(), 1000);
    EXPECT_EQ(spy.at(5).at(0).toInt(), 5);
    EXPECT_DOUBLE_EQ(spy.at(5).at(1).toDouble(), 35.0);
    EXPECT_EQ(curve->title(), QStringLiteral("a.264"));
    EXPECT_EQ(curve->xValues().size(), 1000);

    curve->clear();
    EXPECT_EQ(curve->plotCurve()->dataSize(), 0u);
    EXPECT_TRUE(curve->yValues().isEmpty());
    curve->addValue(3, 1.0);
    EXPECT_EQ(Samples(curve->plotCurve()), std::vector<QPointF>{QPointF(3, 1.0)});

    curve.reset();
    EXPECT_TRUE(plot.itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty());
}

TEST(MetricDiffCurve, PairsFramesOfBothSides)
{
    struct Step
    {
        bool left;
        int frame;
        double value;
    };
    struct Case
    {
        char const* name;
        std::vector<Step> steps;
        std::vector<QPointF> expected;
    };
    std::vector<Case> const kCases = {
        {"left first", {{true, 3, 30.0}, {false, 3, 32.5}}, {{3, 2.5}}},
        {"right first", {{false, 3, 32.5}, {true, 3, 30.0}}, {{3, 2.5}}},
        {"one side only stays pending", {{false, 4, 31.0}, {false, 5, 31.0}, {true, 6, 1.0}}, {}},
        {"frames matched by number, in arrival order",
         {{true, 1, 10.0}, {true, 2, 20.0}, {false, 2, 25.0}, {false, 1, 11.0}},
         {{2, 5.0}, {1, 1.0}}},
        {"a matched pending point is used once",
         {{true, 7, 1.0}, {false, 7, 2.0}, {false, 7, 5.0}, {true, 7, 1.5}},
         {{7, 1.0}, {7, 3.5}}},
    };
    for (Case const& c : kCases) {
        SCOPED_TRACE(c.name);
        MetricCurve left(QStringLiteral("L"), Qt::red, Qt::SolidLine, QwtSymbol::NoSymbol);
        MetricCurve right(QStringLiteral("R"), Qt::blue, Qt::SolidLine, QwtSymbol::NoSymbol);
        MetricDiffCurve diff(&left, &right);
        EXPECT_EQ(diff.title(), QStringLiteral("diff: R - L"));
        for (Step const& s : c.steps)
            (s.left ? left : right).addValue(s.frame, s.value);
        EXPECT_EQ(Samples(diff.plotCurve()), c.expected);
    }
}

TEST(MetricDiffCurve, ClearDropsPendingPointsAndSidesMayGoFirst)
{
    auto left = std::make_unique<MetricCurve>(QStringLiteral("L"), Qt::red, Qt::SolidLine, QwtSymbol::NoSymbol);
    MetricCurve right(QStringLiteral("R"), Qt::blue, Qt::SolidLine, QwtSymbol::NoSymbol);
    MetricDiffCurve diff(left.get(), &right);

    left->addValue(5, 10.0);
    diff.clear();
    right.addValue(5, 12.0); // the cleared left point no longer pairs
    EXPECT_EQ(diff.plotCurve()->dataSize(), 0u);
    left->addValue(5, 11.0);
    EXPECT_EQ(Samples(diff.plotCurve()), std::vector<QPointF>{QPointF(5, 1.0)});

    left.reset();
    right.addValue(6, 1.0); // no sender left for the other side; nothing breaks
    EXPECT_EQ(diff.plotCurve()->dataSize(), 1u);
}

TEST(RdMetricCurve, KeepsBitRatesAscending)
{
    ZeMetricsPlot plot;
    RdMetricCurve rd(QStringLiteral("Fast: PSNR Y"), Qt::red, 0);
    rd.attach(&plot);
    QSignalSpy spy(&rd, &RdMetricCurve::pointAdded);

    rd.addValue(300, 3.0);
    rd.addValue(100, 1.0);
    rd.addValue(200, 2.0);
    rd.addValue(200, 2.5); // before the stored 200
    EXPECT_EQ(rd.xValues(), (QVector<double>{100, 200, 200, 300}));
    EXPECT_EQ(rd.yValues(), (QVector<double>{1.0, 2.5, 2.0, 3.0}));
    EXPECT_EQ(Samples(rd.plotCurve()), (std::vector<QPointF>{{100, 1.0}, {200, 2.5}, {200, 2.0}, {300, 3.0}}));
    EXPECT_EQ(spy.count(), 4);
    EXPECT_DOUBLE_EQ(rd.minX(), 100);
    EXPECT_DOUBLE_EQ(rd.maxX(), 300);

    rd.removeValueAtX(250);
    EXPECT_EQ(rd.xValues().size(), 4);
    rd.removeValueAtX(200); // the first at that rate
    EXPECT_EQ(rd.xValues(), (QVector<double>{100, 200, 300}));
    EXPECT_EQ(rd.yValues(), (QVector<double>{1.0, 2.0, 3.0}));
    EXPECT_EQ(rd.plotCurve()->dataSize(), 3u);

    rd.clear();
    EXPECT_EQ(rd.plotCurve()->dataSize(), 0u);
    EXPECT_DOUBLE_EQ(rd.minX(), 0);
    EXPECT_DOUBLE_EQ(rd.maxX(), 0);
}

TEST(RdMetricCurve, SymbolFollowsTheIndex)
{
    struct Case
    {
        int index;
        QwtSymbol::Style style;
    };
    Case const kCases[] = {
        {0, QwtSymbol::Ellipse}, {2, QwtSymbol::Diamond}, {5, QwtSymbol::Hexagon},
        {6, QwtSymbol::Ellipse}, {-1, QwtSymbol::Rect},   {INT_MIN, QwtSymbol::Diamond},
    };
    for (Case const& c : kCases) {
        SCOPED_TRACE(c.index);
        RdMetricCurve rd(QStringLiteral("x"), QColor(10, 20, 30), c.index);
        QwtSymbol const* s = rd.plotCurve()->symbol();
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->style(), c.style);
        EXPECT_EQ(s->size(), QSize(12, 12));
        EXPECT_EQ(s->brush().style(), Qt::NoBrush);
        EXPECT_EQ(s->pen().color(), QColor(10, 20, 30));
    }
}

TEST(RdMetricCurve, InterpolatesAndMeasuresAreaUnder)
{
    RdMetricCurve rd(QStringLiteral("x"), Qt::red, 0);
    rd.addValue(100, 10.0);
    rd.addValue(200, 30.0);
    rd.addValue(300, 20.0);

    struct YCase
    {
        double x, y;
    };
    for (YCase const c : {YCase{100, 10}, YCase{150, 20}, YCase{200, 30}, YCase{250, 25}, YCase{300, 20}, YCase{99, 0},
                          YCase{301, 0}}) {
        SCOPED_TRACE(c.x);
        EXPECT_DOUBLE_EQ(rd.yValueAt(c.x), c.y);
    }

    struct AreaCase
    {
        double x1, x2, area;
    };
    for (AreaCase const c : {AreaCase{100, 300, 100 * 20 + 100 * 25}, AreaCase{150, 250, 50 * 25 + 50 * 27.5},
                             AreaCase{120, 180, 60 * 20}, AreaCase{50, 250, 0}, AreaCase{250, 150, 0}}) {
        SCOPED_TRACE(QStringLiteral("%1..%2").arg(c.x1).arg(c.x2).toStdString());
        EXPECT_NEAR(rd.calcAreaUnder(c.x1, c.x2), c.area, 1e-9);
    }

    // Two streams at one bit rate: a vertical segment gives finite values.
    RdMetricCurve same(QStringLiteral("y"), Qt::red, 0);
    same.addValue(100, 10.0);
    same.addValue(100, 20.0);
    same.addValue(200, 30.0);
    EXPECT_TRUE(std::isfinite(same.yValueAt(100)));
    EXPECT_NEAR(same.calcAreaUnder(100, 200), 100 * 20.0, 1e-9);

    RdMetricCurve one(QStringLiteral("z"), Qt::red, 0);
    one.addValue(100, 10.0);
    EXPECT_EQ(one.yValueAt(100), 0.0);
    EXPECT_EQ(one.calcAreaUnder(100, 100), 0.0);

    // The right angle may sit at any corner.
    QPointF const a(0, 0), b(3, 0), c(0, 4);
    for (auto const& t : {std::vector<QPointF>{a, b, c}, {b, c, a}, {c, a, b}, {c, b, a}})
        EXPECT_DOUBLE_EQ(RdMetricCurve::calcRightAngledTriangleArea(t[0], t[1], t[2]), 6.0);
    EXPECT_DOUBLE_EQ(RdMetricCurve::calcRectangleArea(QPointF(5, 1), QPointF(2, 3)), 6.0);
}

} // namespace
