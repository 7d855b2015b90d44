#include "playback/ze_splitted_playback_container_viewport.h"

#include <algorithm>
#include <cmath>

namespace ze::nox::gui {

namespace {

double ClampUnit(double v)
{
    return std::clamp(v, 0.0, 1.0);
}

} // namespace

void ZeSplittedPlaybackViewport::setSplitLineRelPos(double pos)
{
    m_splitLineRelPos = std::isfinite(pos) ? ClampUnit(pos) : 0.5;
}

void ZeSplittedPlaybackViewport::setViewport(QRectF const& rect)
{
    QRectF r = rect;
    double const ww = m_widget.width();
    double const wh = m_widget.height();
    if (r.y() + r.height() < kKeptInside)
        r.moveTop(kKeptInside - r.height());
    else if (r.y() > wh - kKeptInside)
        r.moveTop(wh - kKeptInside);
    if (r.x() + r.width() < kKeptInside)
        r.moveLeft(kKeptInside - r.width());
    else if (r.x() > ww - kKeptInside)
        r.moveLeft(ww - kKeptInside);
    m_viewport = r;
}

void ZeSplittedPlaybackViewport::fitViewportSize()
{
    QSizeF const pic = displayedSize();
    m_viewport.setSize(QSizeF(pic.width() * m_zoomRatio, pic.height() * m_zoomRatio));
}

void ZeSplittedPlaybackViewport::centre(double w, double h)
{
    m_viewport.moveLeft((m_widget.width() - w * m_zoomRatio) / 2);
    m_viewport.moveTop((m_widget.height() - h * m_zoomRatio) / 2);
    fitViewportSize();
    setViewport(m_viewport);
}

void ZeSplittedPlaybackViewport::centreCurrent()
{
    centre(m_viewport.width(), m_viewport.height());
}

bool ZeSplittedPlaybackViewport::zoom(double ratio, QPointF const& relativeToPoint)
{
    if (!isZoomAllowed(ratio))
        return false;
    QRectF const v = m_viewport;
    QPointF p = relativeToPoint;
    if (p.isNull())
        p = QPointF((m_widget.width() - 1) / 2 - v.x(), (m_widget.height() - 1) / 2 - v.y());
    double const nw = v.width() / m_zoomRatio * ratio;
    double const nh = v.height() / m_zoomRatio * ratio;
    // An empty viewport has no point to keep in place.
    double const nx = v.width() > 0 ? v.x() - p.x() / v.width() * (nw - v.width()) : v.x();
    double const ny = v.height() > 0 ? v.y() - p.y() / v.height() * (nh - v.height()) : v.y();
    m_zoomRatio = ratio;
    setViewport(QRectF(nx, ny, nw, nh));
    return true;
}

double ZeSplittedPlaybackViewport::fitRatio() const
{
    QSizeF const pic = displayedSize();
    if (pic.isEmpty() || m_widget.isEmpty())
        return 0;
    return std::min(m_widget.width() / pic.width(), m_widget.height() / pic.height());
}

bool ZeSplittedPlaybackViewport::fit()
{
    double const ratio = fitRatio();
    if (!isZoomAllowed(ratio))
        return false;
    m_zoomRatio = ratio;
    QSizeF const pic = displayedSize();
    centre(pic.width(), pic.height());
    return true;
}

void ZeSplittedPlaybackViewport::resized(QSize const& oldSize, bool anyDecoder)
{
    int const w = m_widget.width();
    int const h = m_widget.height();
    if (anyDecoder) {
        if (oldSize.isValid())
            m_viewport.translate(-((oldSize.width() - w) / 2), -((oldSize.height() - h) / 2));
    } else {
        m_viewport = QRectF(0.075 * w, 0.075 * h, 0.85 * w, 0.85 * h);
    }
    setViewport(m_viewport);
}

void ZeSplittedPlaybackViewport::pan(int dx, int dy)
{
    if (m_viewport.width() > 0)
        m_splitLineRelPos = ClampUnit(m_splitLineRelPos - dx / m_viewport.width());
    setViewport(m_viewport.translated(dx, dy));
}

void ZeSplittedPlaybackViewport::dragSplitLineTo(double x)
{
    if (m_viewport.width() > 0)
        m_splitLineRelPos = ClampUnit((x - m_viewport.x()) / m_viewport.width());
}

QRectF ZeSplittedPlaybackViewport::selection(QPointF const& start, QPointF const& pos) const
{
    QRectF const& v = m_viewport;
    if (m_widget.height() <= 0)
        return QRectF();
    QPointF const c(std::clamp(pos.x(), v.left(), v.right()), std::clamp(pos.y(), v.top(), v.bottom()));
    double const aspect = double(m_widget.width()) / m_widget.height();
    double const dx = c.x() - start.x();
    double const dy = c.y() - start.y();
    double w = std::abs(dx);
    double h = w / aspect;
    double top = dy < 0 ? start.y() - h : start.y();
    if (top < v.top() || top + h > v.bottom()) {
        h = dy < 0 ? start.y() - v.top() : v.bottom() - start.y();
        w = h * aspect;
        top = dy < 0 ? start.y() - h : start.y();
    }
    double const left = dx < 0 ? start.x() - w : start.x();
    return QRectF(left, top, w, h);
}

bool ZeSplittedPlaybackViewport::zoomToSelection(QRectF const& sel)
{
    if (sel.width() <= 0)
        return false;
    double const before = m_zoomRatio;
    double const f = m_widget.width() * before / sel.width();
    if (!isZoomAllowed(f))
        return false;
    QRectF const v = m_viewport;
    zoom(f, QPointF());
    QSizeF const pic = displayedSize();
    setViewport(
        QRectF(-(sel.x() - v.x()) / before * f, -(sel.y() - v.y()) / before * f, pic.width() * f, pic.height() * f));
    return true;
}

ZeSplittedPlaybackViewport::Parts ZeSplittedPlaybackViewport::parts() const
{
    Parts p;
    double const W = hasPicture() ? m_picture.width() : 0.0;
    double const H = hasPicture() ? m_picture.height() : 0.0;
    double const s = m_splitLineRelPos;
    QRectF const& v = m_viewport;
    p.refSrc = QRectF(0, 0, W, H);
    p.leftSrc = QRectF(0, 0, W * s, H);
    p.rightSrc = QRectF(W * s, 0, W - W * s, H);
    double const splitX = v.x() + s * v.width();
    p.leftDst = QRectF(v.x(), v.y(), splitX - v.x(), v.height());
    p.rightDst = QRectF(splitX, v.y(), v.width() - (splitX - v.x()), v.height());
    double const top = std::round(v.y());
    double const bottom = std::round(v.y() + v.height());
    p.splitLine = QRectF(splitX - kSplitLineWidth / 2, top, kSplitLineWidth, bottom - top - 1);
    p.splitLineGrabArea = QRect(QPoint(int(p.splitLine.x() - kSplitLineGrabMargin), int(top)),
                                QPoint(int(p.splitLine.x() + kSplitLineWidth + kSplitLineGrabMargin), int(bottom - 1)));
    return p;
}

} // namespace ze::nox::gui
