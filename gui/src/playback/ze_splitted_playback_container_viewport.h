#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>

namespace ze::nox::gui {

// The geometry of the playback area as plain values: the widget's size, the picture's size,
// the zoom ratio, the viewport (the rectangle the picture is drawn in, in widget coordinates)
// and the split line's position relative to the viewport's width. No widget, no painting.
class ZeSplittedPlaybackViewport
{
public:
    static constexpr double kMinZoomRatio = 0.5;
    static constexpr double kMaxZoomRatio = 1000.0;
    static constexpr double kZoomInFactor = 1.25;
    static constexpr double kZoomOutFactor = 0.8;
    // Pixels of the picture that stay inside the widget however far it is moved.
    static constexpr double kKeptInside = 100.0;
    static constexpr double kSplitLineWidth = 2.0;
    static constexpr int kSplitLineGrabMargin = 10;

    // Where the picture's parts are taken from (picture pixels) and drawn to (widget pixels).
    struct Parts
    {
        QRectF refSrc;
        QRectF leftSrc;
        QRectF rightSrc;
        QRectF leftDst;
        QRectF rightDst;
        QRectF splitLine;
        QRect splitLineGrabArea;
    };

    static bool isZoomAllowed(double ratio) { return ratio >= kMinZoomRatio && ratio <= kMaxZoomRatio; }

    void setWidgetSize(QSize const& size) { m_widget = size; }
    QSize widgetSize() const { return m_widget; }
    // An empty size: no picture (the viewport then takes the widget's size at the zoom ratio).
    void setPictureSize(QSizeF const& size) { m_picture = size; }
    bool hasPicture() const { return !m_picture.isEmpty(); }
    // The picture's size, or the widget's while there is no picture.
    QSizeF displayedSize() const { return hasPicture() ? m_picture : QSizeF(m_widget); }

    double zoomRatio() const { return m_zoomRatio; }
    QRectF viewport() const { return m_viewport; }
    double splitLineRelPos() const { return m_splitLineRelPos; }
    // Values outside 0..1 are clamped.
    void setSplitLineRelPos(double pos);

    // Moves and sizes the viewport, keeping kKeptInside pixels of it inside the widget.
    void setViewport(QRectF const& rect);
    // The viewport's size becomes the displayed size at the zoom ratio (position kept).
    void fitViewportSize();
    // Centres a picture of w x h at the zoom ratio, then sizes and bounds the viewport.
    void centre(double w, double h);
    // The centring of the view commands (the callers set zoom 1 first): from the current
    // viewport size, then sized and bounded.
    void centreCurrent();
    // Zooms to ratio keeping the picture point at relativeToPoint (relative to the viewport's
    // top-left; a null point means the widget's centre) where it is. False, and nothing
    // changes, when ratio lies outside the limits.
    bool zoom(double ratio, QPointF const& relativeToPoint);
    // The ratio at which the displayed picture fits the widget in both dimensions; 0 when
    // either is empty.
    double fitRatio() const;
    // Zooms to fitRatio() with the whole picture centred. False, and nothing changes, when that
    // ratio lies outside the limits.
    bool fit();
    // The widget went from oldSize to the current size: a shown picture keeps its place
    // relative to the centre, an empty area gets the default frame.
    void resized(QSize const& oldSize, bool anyDecoder);
    // Moves the picture by (dx, dy); the split line stays where it is on screen.
    void pan(int dx, int dy);
    // Puts the split line under widget x.
    void dragSplitLineTo(double x);
    // The zoom selection from start to pos: clamped to the viewport, with the widget's aspect.
    QRectF selection(QPointF const& start, QPointF const& pos) const;
    // Zooms so that the selection fills the widget's width with its top-left corner at the
    // widget's top-left. False when the ratio lies outside the limits (nothing changes).
    bool zoomToSelection(QRectF const& selection);

    Parts parts() const;

private:
    QSize m_widget;
    QSizeF m_picture;
    double m_zoomRatio = 1.0;
    QRectF m_viewport;
    double m_splitLineRelPos = 0.5;
};

} // namespace ze::nox::gui
