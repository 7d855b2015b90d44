#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <QSize>
#include <QTimer>

#include <qwt_plot.h>
#include <qwt_plot_shapeitem.h>

class QMouseEvent;
class QWheelEvent;

namespace ze::nox::gui {

// Chart of the metrics panel. On per-frame charts the x axis counts frames: the current frame
// and the frame under the mouse are marked by shaded columns, hovering shows every curve's value
// at that frame, a short click selects a frame, dragging pans and the wheel over an axis zooms
// it; a double click on an axis fits it to the curves. The RD charts use the same widget with
// bit rates on the x axis.
//
// The chart does not own the curves attached to it: they belong to the curve objects that
// attach them, and are only detached (never deleted) when the chart goes first.
class ZeMetricsPlot : public QwtPlot
{
    Q_OBJECT

public:
    explicit ZeMetricsPlot(QWidget* parent = nullptr);
    ~ZeMetricsPlot() override;

    bool eventFilter(QObject* object, QEvent* event) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    void setMinYValue(double value);
    void setMaxYValue(int value);
    void setValuesPrecise(int decimals);
    void setAutoScaleX(bool on);
    void setAutoScaleY(bool on);
    // Frames of the longest stream; grows only, except that a count of 0 or less is taken as is.
    void setTotalFrameCount(int count);
    // RD charts: the x axis holds bit rates, so fitting, zooming and panning go by the range of
    // the curves rather than by the frame count.
    void setBitRateAxis(bool on) { m_bitRateAxis = on; }
    bool isBitRateAxis() const { return m_bitRateAxis; }
    // Asks for a replot soon: changes that come in quick succession (a value per frame and
    // curve) are drawn together by one replot. A hidden chart replots when it is shown.
    void scheduleReplot();
    bool isReplotPending() const { return m_replotPending; }
    // Delay of a scheduled replot, in milliseconds.
    static constexpr int kReplotDelayMs = 50;

    // The default scales of resetToDefault, and clamped scales; none of them replots.
    void scaleToDefaults();
    void scaleX(int lower, int upper);
    void scaleY(double lower, double upper);

public slots:
    void setCurFrame(int frameNum);
    void updateCurFrameSelection();
    void resetToDefault();
    // Replots with the frame markers taken off, so that they take no part in the autoscaling.
    void replot() override;

signals:
    void curFrameSelectionChanged(int curFrameNum);
    void resized();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Fewer y-axis steps on a short canvas, so that the labels do not overlap.
    void fitYAxisLabels(int canvasHeight);
    static constexpr int kYAxisMaxMajorSteps = 8;
    bool canvasEvent(QEvent* event);
    bool yAxisEvent(QEvent* event);
    bool xAxisEvent(QEvent* event);
    void pan(QPoint const& pos);
    void hover(QMouseEvent const* event);
    void fitX();
    void fitY();
    // Left and right edge of the attached curves; false without a curve that has points.
    bool curvesXRange(double& left, double& right) const;
    // Bit-rate charts: largest x the scale may reach (twice the curves' right edge).
    double bitRateLimit() const;
    void zoomBitRateAxis(double factor);

    bool hasCurves() const;
    // Frame under a canvas position, -1 when there is none.
    int frameAt(QPoint const& pos) const;
    QRectF frameColumn(int frame) const;

    QPoint m_pressPos;
    QPoint m_dragPos;
    QElapsedTimer m_pressTime;
    QwtPlotShapeItem m_curFrameMarker;
    QwtPlotShapeItem m_hoverFrameMarker;
    int m_minSpanX = 50;
    int m_maxX = 100000;
    double m_minY = 0;
    int m_maxY = 100;
    int m_valuesPrecise = 2;
    int m_curFrame = -1;
    int m_hoverFrame = -1;
    int m_totalFrameCount = 0;
    bool m_bitRateAxis = false;
    bool m_replotPending = false;
    QTimer m_replotTimer;
};

} // namespace ze::nox::gui
