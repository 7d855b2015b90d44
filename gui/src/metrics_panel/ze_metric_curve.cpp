#include "metrics_panel/ze_metric_curve.h"

#include "metrics_panel/ze_qwt_plot.h"

#include <QHash>
#include <QPen>
#include <QSet>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace ze::nox::gui {

namespace {

// Qwt keeps pointers to our vectors: they are handed over again after every change.
void SetRawSamples(QwtPlotCurve* curve, QVector<double> const& x, QVector<double> const& y)
{
    curve->setRawSamples(x.constData(), y.constData(), std::min(x.size(), y.size()));
}

// Charts of the panel draw their changes together, a little later; any other chart at once.
void Replot(QwtPlotCurve const* curve)
{
    QwtPlot* plot = curve->plot();
    if (!plot)
        return;
    if (auto* chart = qobject_cast<ZeMetricsPlot*>(plot))
        chart->scheduleReplot();
    else
        plot->replot();
}

} // namespace

// ---------------------------------------------------------------------------------------------

MetricCurve::MetricCurve(QString const& title, QColor const& color, Qt::PenStyle penStyle, QwtSymbol::Style symbolStyle)
    : m_plotCurve(new QwtPlotCurve(title))
{
    m_plotCurve->setPen(QPen(QBrush(color), 2, penStyle));
    m_plotCurve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    if (symbolStyle != QwtSymbol::NoSymbol)
        m_plotCurve->setSymbol(
            new QwtSymbol(symbolStyle, QBrush(Qt::white, Qt::SolidPattern), QPen(color), QSize(8, 8)));
    m_plotCurve->setLegendAttribute(QwtPlotCurve::LegendShowLine, true);
    m_plotCurve->setLegendAttribute(QwtPlotCurve::LegendShowSymbol, true);
    m_plotCurve->setLegendAttribute(QwtPlotCurve::LegendShowBrush, true);
}

MetricCurve::~MetricCurve()
{
    MetricCurve::clear();
    delete m_plotCurve; // also takes it off its chart
}

void MetricCurve::clear()
{
    m_xValues.clear();
    m_yValues.clear();
    updateSamples();
}

QString MetricCurve::title() const
{
    return m_plotCurve ? m_plotCurve->title().text() : QString();
}

void MetricCurve::attach(ZeMetricsPlot* plot)
{
    m_plotCurve->attach(plot);
}

void MetricCurve::detach(ZeMetricsPlot* /*plot*/)
{
    m_plotCurve->detach();
}

void MetricCurve::addValue(int frameNum, double value)
{
    m_xValues.append(frameNum);
    m_yValues.append(value);
    updateSamples();
    emit pointAdded(frameNum, value);
}

void MetricCurve::updateSamples()
{
    SetRawSamples(m_plotCurve, m_xValues, m_yValues);
    Replot(m_plotCurve);
}

// ---------------------------------------------------------------------------------------------

MetricDiffCurve::MetricDiffCurve(MetricCurve const* left, MetricCurve const* right)
    : MetricCurve(
          QStringLiteral("diff: %1 - %2").arg(right ? right->title() : QString(), left ? left->title() : QString()),
          QColor(255, 94, 19), Qt::SolidLine, QwtSymbol::NoSymbol)
{
    if (left)
        connect(left, &MetricCurve::pointAdded, this, &MetricDiffCurve::onNewLeftPoint);
    if (right)
        connect(right, &MetricCurve::pointAdded, this, &MetricDiffCurve::onNewRightPoint);
    if (left && right)
        pairStoredPoints(*left, *right);
}

void MetricDiffCurve::pairStoredPoints(MetricCurve const& left, MetricCurve const& right)
{
    // The points both curves already hold: a difference for every frame of both, in the right
    // curve's order; a frame of one side only waits for the other as a new point would.
    QHash<int, double> leftByFrame;
    int const nl = std::min(left.xValues().size(), left.yValues().size());
    for (int i = 0; i < nl; ++i)
        leftByFrame.insert(static_cast<int>(left.xValues()[i]), left.yValues()[i]);
    QSet<int> paired;
    int const nr = std::min(right.xValues().size(), right.yValues().size());
    for (int i = 0; i < nr; ++i) {
        int const frame = static_cast<int>(right.xValues()[i]);
        auto const it = leftByFrame.constFind(frame);
        if (it == leftByFrame.constEnd() || paired.contains(frame)) {
            m_pendingRight.append({frame, right.yValues()[i]});
            continue;
        }
        paired.insert(frame);
        m_xValues.append(frame);
        m_yValues.append(right.yValues()[i] - it.value());
    }
    for (int i = 0; i < nl; ++i) {
        int const frame = static_cast<int>(left.xValues()[i]);
        if (!paired.contains(frame))
            m_pendingLeft.append({frame, left.yValues()[i]});
    }
    if (!m_xValues.isEmpty())
        updateSamples();
}

MetricDiffCurve::~MetricDiffCurve() = default;

void MetricDiffCurve::clear()
{
    m_pendingLeft.clear();
    m_pendingRight.clear();
    MetricCurve::clear();
}

void MetricDiffCurve::onNewLeftPoint(int frameNum, double value)
{
    for (int i = 0; i < m_pendingRight.size(); ++i) {
        if (m_pendingRight[i].frameNum == frameNum) {
            double const right = m_pendingRight[i].value;
            m_pendingRight.removeAt(i);
            addValue(frameNum, right - value);
            return;
        }
    }
    m_pendingLeft.append({frameNum, value});
}

void MetricDiffCurve::onNewRightPoint(int frameNum, double value)
{
    for (int i = 0; i < m_pendingLeft.size(); ++i) {
        if (m_pendingLeft[i].frameNum == frameNum) {
            double const left = m_pendingLeft[i].value;
            m_pendingLeft.removeAt(i);
            addValue(frameNum, value - left);
            return;
        }
    }
    m_pendingRight.append({frameNum, value});
}

// ---------------------------------------------------------------------------------------------

RdMetricCurve::RdMetricCurve(QString const& title, QColor const& color, int index)
    : m_plotCurve(new QwtPlotCurve(title))
{
    static QwtSymbol::Style const kStyles[] = {QwtSymbol::Ellipse,  QwtSymbol::Rect,  QwtSymbol::Diamond,
                                               QwtSymbol::Triangle, QwtSymbol::Cross, QwtSymbol::Hexagon};
    // The remainder first: abs(INT_MIN) does not exist.
    QwtSymbol::Style const style = kStyles[std::abs(index % 6)];

    m_plotCurve->setPen(QPen(QBrush(color), 2, Qt::SolidLine));
    m_plotCurve->setRenderHint(QwtPlotItem::RenderAntialiased, true);
    m_plotCurve->setSymbol(new QwtSymbol(style, QBrush(), QPen(color), QSize(12, 12)));
}

RdMetricCurve::~RdMetricCurve()
{
    RdMetricCurve::clear();
    delete m_plotCurve;
}

void RdMetricCurve::clear()
{
    m_xValues.clear();
    m_yValues.clear();
    updateSamples();
}

void RdMetricCurve::setTitle(QString const& title)
{
    m_plotCurve->setTitle(title);
}

QString RdMetricCurve::title() const
{
    return m_plotCurve ? m_plotCurve->title().text() : QString();
}

void RdMetricCurve::attach(QwtPlot* plot)
{
    m_plotCurve->attach(plot);
}

void RdMetricCurve::detach(QwtPlot* /*plot*/)
{
    m_plotCurve->detach();
}

void RdMetricCurve::addValue(int bitrate, double value)
{
    if (m_xValues.size() != m_yValues.size())
        return;
    int const at =
        static_cast<int>(std::lower_bound(m_xValues.cbegin(), m_xValues.cend(), double(bitrate)) - m_xValues.cbegin());
    m_xValues.insert(at, bitrate);
    m_yValues.insert(at, value);
    updateSamples();
    emit pointAdded(bitrate, value);
}

void RdMetricCurve::removeValueAtX(double x)
{
    int const at = m_xValues.indexOf(x);
    if (at < 0 || at >= m_yValues.size())
        return;
    m_xValues.removeAt(at);
    m_yValues.removeAt(at);
    updateSamples();
}

int RdMetricCurve::segmentAt(double x) const
{
    int const n = std::min(m_xValues.size(), m_yValues.size());
    for (int i = 0; i + 1 < n; ++i) {
        if (m_xValues[i] <= x && x <= m_xValues[i + 1])
            return i;
    }
    return -1;
}

double RdMetricCurve::yValueAt(double x) const
{
    int const i = segmentAt(x);
    if (i < 0)
        return 0.0;
    double const x0 = m_xValues[i];
    double const x1 = m_xValues[i + 1];
    double const y0 = m_yValues[i];
    double const y1 = m_yValues[i + 1];
    // Two streams at the same bit rate make a vertical segment: take its first end rather
    // than divide by zero.
    if (x1 == x0)
        return y0;
    return y0 + (y1 - y0) * (x - x0) / (x1 - x0);
}

double RdMetricCurve::minX() const
{
    return m_xValues.isEmpty() ? 0.0 : m_plotCurve->boundingRect().left();
}

double RdMetricCurve::maxX() const
{
    return m_xValues.isEmpty() ? 0.0 : m_plotCurve->boundingRect().right();
}

double RdMetricCurve::calcRectangleArea(QPointF const& a, QPointF const& b)
{
    return std::abs(b.x() - a.x()) * std::abs(b.y() - a.y());
}

double RdMetricCurve::calcRightAngledTriangleArea(QPointF const& a, QPointF const& b, QPointF const& c)
{
    // The right angle is at the corner whose two sides are closest to perpendicular.
    QPointF const corners[3][3] = {{a, b, c}, {b, c, a}, {c, a, b}};
    double bestCos = 2.0;
    double area = 0.0;
    for (auto const& t : corners) {
        QPointF const u = t[1] - t[0];
        QPointF const v = t[2] - t[0];
        double const lu = std::hypot(u.x(), u.y());
        double const lv = std::hypot(v.x(), v.y());
        if (lu == 0.0 || lv == 0.0)
            return 0.0; // two corners coincide: no triangle
        double const cosine = std::abs(QPointF::dotProduct(u, v)) / (lu * lv);
        if (cosine < bestCos) {
            bestCos = cosine;
            area = 0.5 * lu * lv;
        }
    }
    return area;
}

double RdMetricCurve::calcAreaUnder(double x1, double x2) const
{
    int const s1 = segmentAt(x1);
    int const s2 = segmentAt(x2);
    if (s1 < 0 || s2 < 0 || s1 > s2 || x1 > x2)
        return 0.0;

    double area = 0.0;
    for (int i = s1; i <= s2; ++i) {
        QPointF const p = i == s1 ? QPointF(x1, yValueAt(x1)) : QPointF(m_xValues[i], m_yValues[i]);
        QPointF const q = i == s2 ? QPointF(x2, yValueAt(x2)) : QPointF(m_xValues[i + 1], m_yValues[i + 1]);
        double const low = std::min(p.y(), q.y());
        area += calcRectangleArea(QPointF(p.x(), 0.0), QPointF(q.x(), low));
        if (p.y() != q.y()) {
            QPointF const corner = p.y() < q.y() ? QPointF(q.x(), p.y()) : QPointF(p.x(), q.y());
            area += calcRightAngledTriangleArea(p, q, corner);
        }
    }
    return area;
}

void RdMetricCurve::updateSamples()
{
    SetRawSamples(m_plotCurve, m_xValues, m_yValues);
    Replot(m_plotCurve);
}

} // namespace ze::nox::gui
