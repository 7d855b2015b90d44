#include "metrics_panel/ze_qwt_plot.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainterPath>
#include <QPen>
#include <QResizeEvent>
#include <QToolTip>
#include <QWheelEvent>

#include <qwt_legend.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_widget.h>

#include <algorithm>
#include <climits>
#include <cmath>

namespace ze::nox::gui {

namespace {

// Integer part of a scale bound; values beyond int (or not a number) are bounded rather than
// converted, which would be undefined.
int CutToInt(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (v <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(v);
}

// Event positions in whole pixels, halves rounded away from zero.
QPoint PixelPos(QPointF const& p)
{
    return QPoint(static_cast<int>(std::lround(p.x())), static_cast<int>(std::lround(p.y())));
}

// The wheel's delta in the single-axis form: the larger of the two components.
int WheelDelta(QWheelEvent const* event)
{
    QPoint const a = event->angleDelta();
    return std::abs(a.x()) > std::abs(a.y()) ? a.x() : a.y();
}

// A frame column, or nothing for an empty rectangle.
void SetColumn(QwtPlotShapeItem& marker, QRectF const& rect)
{
    if (rect.isNull())
        marker.setShape(QPainterPath());
    else
        marker.setRect(rect);
}

} // namespace

ZeMetricsPlot::ZeMetricsPlot(QWidget* parent) : QwtPlot(parent)
{
    // Curves belong to the objects that attach them; the chart must not delete them.
    setAutoDelete(false);

    m_replotTimer.setSingleShot(true);
    m_replotTimer.setInterval(kReplotDelayMs);
    connect(&m_replotTimer, &QTimer::timeout, this, [this] {
        if (m_replotPending)
            replot();
    });

    m_curFrameMarker.setBrush(QBrush(QColor(47, 47, 47, 87), Qt::SolidPattern));
    m_curFrameMarker.setPen(QPen(Qt::NoPen));
    m_curFrameMarker.setShape(QPainterPath());
    m_hoverFrameMarker.setBrush(QBrush(QColor(157, 157, 157, 77), Qt::SolidPattern));
    m_hoverFrameMarker.setPen(QPen(Qt::NoPen));
    m_hoverFrameMarker.setShape(QPainterPath());
    m_curFrameMarker.attach(this);
    m_hoverFrameMarker.attach(this);

    canvas()->setAttribute(Qt::WA_MouseTracking);

    setAxisScale(xBottom, 0, std::min(m_maxX, std::max(m_minSpanX, 300)));
    setAxisScale(yLeft, std::max(0.0, m_minY), std::min(m_maxY, 100));
    setAxisAutoScale(yLeft, true);
    insertLegend(new QwtLegend(), QwtPlot::BottomLegend, -1);

    canvas()->installEventFilter(this);
    axisWidget(yLeft)->installEventFilter(this);
    axisWidget(xBottom)->installEventFilter(this);
}

ZeMetricsPlot::~ZeMetricsPlot()
{
    // The markers are members: take them off before the base class walks its items.
    m_curFrameMarker.detach();
    m_hoverFrameMarker.detach();
}

QSize ZeMetricsPlot::sizeHint() const
{
    return QSize(150, 70);
}

QSize ZeMetricsPlot::minimumSizeHint() const
{
    return QSize(100, 50);
}

void ZeMetricsPlot::setMinYValue(double value)
{
    m_minY = value;
    setAxisScale(yLeft, m_minY, m_maxY);
}

void ZeMetricsPlot::setMaxYValue(int value)
{
    m_maxY = value;
    setAxisScale(yLeft, m_minY, m_maxY);
}

void ZeMetricsPlot::setValuesPrecise(int decimals)
{
    m_valuesPrecise = decimals;
}

void ZeMetricsPlot::setAutoScaleX(bool on)
{
    setAxisAutoScale(xBottom, on);
}

void ZeMetricsPlot::setAutoScaleY(bool on)
{
    setAxisAutoScale(yLeft, on);
}

void ZeMetricsPlot::setTotalFrameCount(int count)
{
    m_totalFrameCount = count > 0 ? std::max(m_totalFrameCount, count) : count;
    m_maxX = m_totalFrameCount;
    setAxisScale(xBottom, 0, std::min(m_maxX, std::max(m_minSpanX, std::min(count, 300))));
}

void ZeMetricsPlot::scaleToDefaults()
{
    setAxisScale(xBottom, 0, std::min(m_maxX, std::max(m_minSpanX, 300)));
    setAxisScale(yLeft, std::max(0.0, m_minY), std::min(m_maxY, 100));
}

void ZeMetricsPlot::scaleX(int lower, int upper)
{
    setAxisScale(xBottom, std::max(lower, 0), std::min(m_maxX, std::max(m_minSpanX, upper)));
}

void ZeMetricsPlot::scaleY(double lower, double upper)
{
    setAxisScale(yLeft, std::max(lower, m_minY), std::min<double>(m_maxY, upper));
}

void ZeMetricsPlot::setCurFrame(int frameNum)
{
    m_curFrame = frameNum;
    updateCurFrameSelection();
}

void ZeMetricsPlot::updateCurFrameSelection()
{
    SetColumn(m_curFrameMarker, frameColumn(m_curFrame));
    replot();
}

void ZeMetricsPlot::resetToDefault()
{
    scaleToDefaults();
    setAxisAutoScale(yLeft, true);
    m_curFrameMarker.setShape(QPainterPath());
    m_hoverFrameMarker.setShape(QPainterPath());
    replot();
}

void ZeMetricsPlot::scheduleReplot()
{
    m_replotPending = true;
    // A hidden chart (another metric's page) draws nothing: it waits until it is shown.
    if (isVisible() && !m_replotTimer.isActive())
        m_replotTimer.start();
}

void ZeMetricsPlot::showEvent(QShowEvent* event)
{
    QwtPlot::showEvent(event);
    if (m_replotPending)
        replot();
}

void ZeMetricsPlot::replot()
{
    m_replotPending = false;
    m_replotTimer.stop();
    m_curFrameMarker.detach();
    m_hoverFrameMarker.detach();
    QwtPlot::replot();

    // The y scale may have been rescaled to the curves: shown columns keep spanning all of it.
    QwtInterval const y = axisInterval(yLeft);
    for (QwtPlotShapeItem* marker : {&m_curFrameMarker, &m_hoverFrameMarker}) {
        QPainterPath const shape = marker->shape();
        if (shape.isEmpty())
            continue;
        QRectF const r = shape.boundingRect();
        marker->setRect(QRectF(r.left(), y.minValue(), r.width(), y.isValid() ? y.width() : 0.0));
    }

    m_curFrameMarker.attach(this);
    m_hoverFrameMarker.attach(this);
}

bool ZeMetricsPlot::eventFilter(QObject* object, QEvent* event)
{
    bool consumed = false;
    if (object == canvas()) {
        if (event->type() == QEvent::Resize)
            fitYAxisLabels(static_cast<QResizeEvent*>(event)->size().height());
        consumed = canvasEvent(event);
    } else if (object == axisWidget(yLeft))
        consumed = yAxisEvent(event);
    else if (object == axisWidget(xBottom))
        consumed = xAxisEvent(event);
    // The base class keeps the canvas margins and layout up to date on the canvas events
    // that the handlers let through.
    return consumed || QwtPlot::eventFilter(object, event);
}

void ZeMetricsPlot::fitYAxisLabels(int canvasHeight)
{
    // A label every two text lines at most: on a short chart the default eight steps would
    // draw "100", "80", ... over each other.
    int const lineHeight = std::max(1, QFontMetrics(axisWidget(yLeft)->font()).height());
    int const steps = std::clamp(canvasHeight / (2 * lineHeight), 1, kYAxisMaxMajorSteps);
    if (steps != axisMaxMajor(yLeft))
        setAxisMaxMajor(yLeft, steps);
}

bool ZeMetricsPlot::canvasEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton)
            return false;
        m_pressPos = m_dragPos = PixelPos(e->localPos());
        m_pressTime.restart();
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton && PixelPos(e->localPos()) == m_pressPos && m_pressTime.isValid() &&
            m_pressTime.elapsed() <= 179) {
            int const f = frameAt(canvas()->mapFromGlobal(PixelPos(e->screenPos())));
            if (f >= 0 && f < m_totalFrameCount)
                emit curFrameSelectionChanged(f);
        }
        return true;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->buttons() == Qt::LeftButton)
            pan(PixelPos(e->localPos()));
        else
            hover(e);
        return true;
    }
    case QEvent::Resize:
        emit resized();
        // Let the canvas and the base class see the new size as well.
        return false;
    default: return false;
    }
}

bool ZeMetricsPlot::yAxisEvent(QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        fitY();
        replot();
        return true;
    }
    if (event->type() == QEvent::Wheel) {
        int const delta = WheelDelta(static_cast<QWheelEvent*>(event));
        if (delta == 0)
            return false; // scroll phase events carry no step
        double const factor = delta > 0 ? 1.0 / 1.02 : 1.02;
        QwtInterval const y = axisInterval(yLeft);
        double const c = (y.minValue() + y.maxValue()) / 2.0;
        double const lower = std::max(c - factor * (c - y.minValue()), m_minY);
        double const upper = std::min<double>(m_maxY, c + factor * (y.maxValue() - c));
        if (lower < upper) {
            setAxisScale(yLeft, lower, upper);
            replot();
        }
    }
    return false;
}

bool ZeMetricsPlot::xAxisEvent(QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        fitX();
        replot();
        return true;
    }
    if (event->type() == QEvent::Wheel) {
        int const delta = WheelDelta(static_cast<QWheelEvent*>(event));
        if (delta == 0)
            return false;
        double const factor = delta > 0 ? 1.0 / 1.05 : 1.05;
        if (m_bitRateAxis) {
            zoomBitRateAxis(factor);
            return false;
        }
        QwtInterval const x = axisInterval(xBottom);
        double const c = (x.minValue() + x.maxValue()) / 2.0;
        int const lower = x.minValue() == 0.0 ? 0 : std::max(0, CutToInt(c - factor * (c - x.minValue())));
        int const upper = std::min(m_maxX, std::max(m_minSpanX, CutToInt(c + factor * (x.maxValue() - c))));
        if (lower < upper) {
            setAxisScale(xBottom, lower, upper);
            replot();
        }
    }
    return false;
}

void ZeMetricsPlot::pan(QPoint const& pos)
{
    double const w = canvas()->width();
    double const h = canvas()->height();
    int const dx = pos.x() - m_dragPos.x();
    int const dy = pos.y() - m_dragPos.y();

    if (w > 0 && h > 0) {
        QwtInterval const x = axisInterval(xBottom);
        double const spanX = x.maxValue() - x.minValue();
        double const shiftX = -dx / w * spanX;
        double lowerX = x.minValue() + shiftX;
        double upperX = x.maxValue() + shiftX;
        if (lowerX < 0) {
            lowerX = 0;
            upperX = spanX;
        }
        if (m_bitRateAxis) {
            // Bit rates: stop at the limit of the curves' range, keeping the span.
            double const limit = std::max(bitRateLimit(), spanX);
            if (upperX > limit) {
                upperX = limit;
                lowerX = std::max(0.0, limit - spanX);
            }
            if (lowerX < upperX)
                setAxisScale(xBottom, lowerX, upperX);
        } else {
            int lower = std::max(0, CutToInt(lowerX));
            int upper = CutToInt(upperX);
            if (upper > m_maxX) {
                // Stop at the last frame as at the first: keep the span instead of squeezing it
                // (squeezing would end in a reversed scale).
                upper = m_maxX;
                lower = std::max(0, CutToInt(m_maxX - spanX));
            }
            upper = std::min(m_maxX, std::max(m_minSpanX, upper));
            if (lower < upper)
                setAxisScale(xBottom, lower, upper);
        }

        QwtInterval const y = axisInterval(yLeft);
        double const shiftY = dy / h * (y.maxValue() - y.minValue());
        double const lowerY = std::max(y.minValue() + shiftY, m_minY);
        double const upperY = std::min<double>(m_maxY, y.maxValue() + shiftY);
        if (lowerY < upperY)
            setAxisScale(yLeft, lowerY, upperY);
    }

    m_dragPos = pos;
    updateCurFrameSelection();
}

void ZeMetricsPlot::hover(QMouseEvent const* event)
{
    int const f = frameAt(PixelPos(event->localPos()));

    QString text = QStringLiteral("<b>Frame %1</b><br>").arg(f);
    if (f >= 0) {
        bool first = true;
        for (QwtPlotItem* item : itemList(QwtPlotItem::Rtti_PlotCurve)) {
            auto* curve = static_cast<QwtPlotCurve*>(item);
            if (curve->dataSize() <= static_cast<size_t>(f))
                continue;
            text += QStringLiteral("%1<font color='%2'>%3</font>")
                        .arg(first ? QString() : QStringLiteral("<br>"), curve->pen().color().name(),
                             QString::number(curve->sample(f).y(), 'f', m_valuesPrecise));
            first = false;
        }
    }

    QPoint const global = PixelPos(event->screenPos());
    if (f >= 0 && f < m_totalFrameCount)
        QToolTip::showText(global, text);
    else
        QToolTip::showText(global, QString());

    if (f != m_hoverFrame) {
        m_hoverFrame = f;
        SetColumn(m_hoverFrameMarker, frameColumn(f));
        replot();
    }
}

bool ZeMetricsPlot::curvesXRange(double& left, double& right) const
{
    bool any = false;
    for (QwtPlotItem const* item : itemList(QwtPlotItem::Rtti_PlotCurve)) {
        auto const* curve = static_cast<QwtPlotCurve const*>(item);
        if (curve->dataSize() == 0)
            continue;
        QRectF const r = item->boundingRect();
        if (!std::isfinite(r.left()) || !std::isfinite(r.right()))
            continue;
        left = any ? std::min(left, r.left()) : r.left();
        right = any ? std::max(right, r.right()) : r.right();
        any = true;
    }
    return any;
}

double ZeMetricsPlot::bitRateLimit() const
{
    double left = 0;
    double right = 0;
    if (!curvesXRange(left, right) || !(right > 0))
        return 1e9;
    return 2.0 * right;
}

void ZeMetricsPlot::zoomBitRateAxis(double factor)
{
    QwtInterval const x = axisInterval(xBottom);
    double const c = (x.minValue() + x.maxValue()) / 2.0;
    double lower = std::max(0.0, c - factor * (c - x.minValue()));
    double upper = std::min(std::max(bitRateLimit(), x.maxValue()), c + factor * (x.maxValue() - c));
    // Below a span of one kbps there is nothing more to see.
    if (upper - lower < 1.0)
        return;
    if (lower < upper) {
        setAxisScale(xBottom, lower, upper);
        replot();
    }
}

void ZeMetricsPlot::fitX()
{
    if (m_bitRateAxis) {
        double left = 0;
        double right = 0;
        if (!curvesXRange(left, right))
            return;
        if (right - left < 1.0) {
            // A single bit rate: a span around it, so that the point is not on the frame.
            double const pad = std::max(1.0, 0.1 * std::abs(left));
            left = std::max(0.0, left - pad);
            right += pad;
        }
        setAxisScale(xBottom, left, right);
        updateCurFrameSelection();
        return;
    }
    int const upper0 = std::min(m_maxX, std::max(m_totalFrameCount, m_minSpanX));
    setAxisScale(xBottom, 0, upper0);

    double left = upper0;
    double right = 0;
    bool any = false;
    for (QwtPlotItem const* item : itemList(QwtPlotItem::Rtti_PlotCurve)) {
        QRectF const r = item->boundingRect();
        if (!r.isValid())
            continue;
        left = std::min(left, r.left());
        right = std::max(right, r.right());
        any = true;
    }
    if (!any)
        return;
    setAxisScale(xBottom, std::max(0, CutToInt(left)), std::min(m_maxX, std::max(m_minSpanX, CutToInt(right))));
    updateCurFrameSelection();
}

void ZeMetricsPlot::fitY()
{
    QwtInterval const y = axisInterval(yLeft);
    double bottom = y.maxValue();
    double top = y.minValue();
    bool any = false;
    for (QwtPlotItem const* item : itemList(QwtPlotItem::Rtti_PlotCurve)) {
        QRectF const r = item->boundingRect();
        if (!r.isValid())
            continue;
        // Qwt's rectangles hold y upwards: top() is the least value.
        bottom = std::min(bottom, r.top());
        top = std::max(top, r.bottom());
        any = true;
    }
    if (!any)
        return;
    setAxisScale(yLeft, std::max(bottom, m_minY), std::min<double>(m_maxY, top));
    updateCurFrameSelection();
}

bool ZeMetricsPlot::hasCurves() const
{
    return !itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty();
}

int ZeMetricsPlot::frameAt(QPoint const& pos) const
{
    if (!hasCurves())
        return -1;
    QwtInterval const x = axisInterval(xBottom);
    double const span = x.maxValue() - x.minValue();
    double const w = canvas()->width();
    // A canvas without width or a scale without span has no frame anywhere.
    if (w <= 0 || span == 0 || !std::isfinite(span))
        return -1;
    double const v = pos.x() / (w / span) + x.minValue() + 0.5;
    if (!std::isfinite(v) || v < INT_MIN || v > INT_MAX)
        return -1;
    return static_cast<int>(v);
}

QRectF ZeMetricsPlot::frameColumn(int frame) const
{
    if (frame < 0 || frame > m_totalFrameCount)
        return QRectF();
    QwtInterval const y = axisInterval(yLeft);
    return QRectF(frame - 0.5, y.minValue(), 1.0, y.isValid() ? y.width() : 0.0);
}

} // namespace ze::nox::gui
