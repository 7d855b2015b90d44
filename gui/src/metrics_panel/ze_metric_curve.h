#pragma once

#include <QColor>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QVector>

#include <qwt_symbol.h>

class QwtPlot;
class QwtPlotCurve;

namespace ze::nox::gui {

class ZeMetricsPlot;

// Per-frame curve of one stream on a chart: x is the frame number, y the value. Owns its Qwt
// curve, which draws straight from the points kept here.
class MetricCurve : public QObject
{
    Q_OBJECT

public:
    MetricCurve(QString const& title, QColor const& color, Qt::PenStyle penStyle, QwtSymbol::Style symbolStyle);
    ~MetricCurve() override;

    // Removes every point and asks the chart the curve is on for a replot.
    virtual void clear();

    QString title() const;
    void attach(ZeMetricsPlot* plot);
    // Takes the curve off whatever chart holds it; the argument is not used.
    void detach(ZeMetricsPlot* plot);

    QVector<double> const& xValues() const { return m_xValues; }
    QVector<double> const& yValues() const { return m_yValues; }
    QwtPlotCurve* plotCurve() const { return m_plotCurve; }

public slots:
    // Appends the point, asks its chart for a replot, then emits pointAdded.
    void addValue(int frameNum, double value);

signals:
    void pointAdded(int frameNum, double value);

protected:
    // Hands the points to the Qwt curve and asks its chart for a replot.
    void updateSamples();

    QwtPlotCurve* m_plotCurve = nullptr;
    QVector<double> m_xValues;
    QVector<double> m_yValues;
};

// Right stream minus left stream, per frame: a point is added as soon as both curves have
// delivered the same frame; a frame that only one side has delivered waits until clear(). The
// points both curves already hold at construction are paired at once.
class MetricDiffCurve : public MetricCurve
{
    Q_OBJECT

public:
    MetricDiffCurve(MetricCurve const* left, MetricCurve const* right);
    ~MetricDiffCurve() override;

    void clear() override;

public slots:
    void onNewLeftPoint(int frameNum, double value);
    void onNewRightPoint(int frameNum, double value);

private:
    void pairStoredPoints(MetricCurve const& left, MetricCurve const& right);

    struct PendingPoint
    {
        int frameNum;
        double value;
    };

    QList<PendingPoint> m_pendingLeft;
    QList<PendingPoint> m_pendingRight;
};

// RD curve: one point per stream, average bit rate (kbps, kept ascending) against mean quality.
class RdMetricCurve : public QObject
{
    Q_OBJECT

public:
    // `index` picks the point symbol: Ellipse, Rect, Diamond, Triangle, Cross, Hexagon at
    // |index| mod 6.
    RdMetricCurve(QString const& title, QColor const& color, int index);
    ~RdMetricCurve() override;

    virtual void clear();

    void setTitle(QString const& title);
    QString title() const;
    void attach(QwtPlot* plot);
    // Takes the curve off whatever chart holds it; the argument is not used.
    void detach(QwtPlot* plot);

    // Removes the first point whose bit rate equals x exactly; nothing when there is none.
    void removeValueAtX(double x);

    // Linear interpolation on the first segment whose bit rates enclose x; 0 when none does.
    double yValueAt(double x) const;
    // Left and right edge of the points; 0 without points.
    double minX() const;
    double maxX() const;
    static double calcRectangleArea(QPointF const& a, QPointF const& b);
    static double calcRightAngledTriangleArea(QPointF const& a, QPointF const& b, QPointF const& c);
    // Area between the curve and the zero line from bit rate x1 to x2; 0 unless both lie on the
    // curve and x1 is not after x2.
    double calcAreaUnder(double x1, double x2) const;

    QVector<double> const& xValues() const { return m_xValues; }
    QVector<double> const& yValues() const { return m_yValues; }
    QwtPlotCurve* plotCurve() const { return m_plotCurve; }

public slots:
    // Inserts the point before the first stored one whose bit rate is not less.
    void addValue(int bitrate, double value);

signals:
    void pointAdded(int bitrate, double value);

private:
    void updateSamples();
    // Index of the first segment whose bit rates enclose x, -1 when none does.
    int segmentAt(double x) const;

    QwtPlotCurve* m_plotCurve = nullptr;
    QVector<double> m_xValues;
    QVector<double> m_yValues;
};

} // namespace ze::nox::gui
