// Geometry of the playback area as plain values: zoom limits and fixed points, the part of the
// picture kept inside the widget, selections, the split parts and resizing.
#include "playback/ze_splitted_playback_container_viewport.h"

#include <gtest/gtest.h>

#include <cmath>

using ze::nox::gui::ZeSplittedPlaybackViewport;
using View = ZeSplittedPlaybackViewport;

namespace {

// An 800 x 600 widget showing a centred 200 x 100 picture at zoom 1.
View Centred(QSize widget = QSize(800, 600), QSizeF picture = QSizeF(200, 100))
{
    View v;
    v.setWidgetSize(widget);
    v.setPictureSize(picture);
    v.centre(picture.width(), picture.height());
    return v;
}

// The widget position of picture pixel (px, py).
QPointF WidgetPos(View const& v, QPointF const& picturePoint)
{
    return v.viewport().topLeft() + picturePoint * v.zoomRatio();
}

} // namespace

TEST(PlaybackViewport, ZoomRatiosWithinTheLimitsOnly)
{
    struct Case
    {
        double ratio;
        bool accepted;
    };
    for (Case c : {Case{1.25, true}, Case{0.5, true}, Case{1000.0, true}, Case{0.4999, false}, Case{1000.5, false},
                   Case{0.0, false}, Case{NAN, false}}) {
        View v = Centred();
        QRectF const before = v.viewport();
        EXPECT_EQ(v.zoom(c.ratio, QPointF()), c.accepted) << c.ratio;
        if (c.accepted) {
            EXPECT_DOUBLE_EQ(v.zoomRatio(), c.ratio);
            EXPECT_DOUBLE_EQ(v.viewport().width(), 200 * c.ratio);
        } else {
            EXPECT_DOUBLE_EQ(v.zoomRatio(), 1.0) << c.ratio;
            EXPECT_EQ(v.viewport(), before) << c.ratio;
        }
    }
}

TEST(PlaybackViewport, ZoomKeepsThePointItIsAbout)
{
    struct Case
    {
        QPointF picturePoint; // null: about the widget's centre
        double ratio;
    };
    // (0, 0) itself is the null point, which means the widget's centre.
    for (Case c : {Case{QPointF(1, 1), 4.0}, Case{QPointF(50, 25), 2.5}, Case{QPointF(199, 99), 0.5},
                   Case{QPointF(120, 10), 31.0}}) {
        View v = Centred();
        QPointF const fixed = WidgetPos(v, c.picturePoint);
        // The point is given relative to the viewport, in widget pixels.
        ASSERT_TRUE(v.zoom(c.ratio, fixed - v.viewport().topLeft()));
        QPointF const after = WidgetPos(v, c.picturePoint);
        EXPECT_NEAR(after.x(), fixed.x(), 1e-9) << c.ratio;
        EXPECT_NEAR(after.y(), fixed.y(), 1e-9) << c.ratio;
    }
    // A null point: the picture point under the widget's centre pixel stays there.
    View v = Centred();
    QPointF const centre((800 - 1) / 2, (600 - 1) / 2);
    QPointF const under = (centre - v.viewport().topLeft()) / v.zoomRatio();
    ASSERT_TRUE(v.zoom(8.0, QPointF()));
    EXPECT_NEAR(WidgetPos(v, under).x(), centre.x(), 1e-9);
    EXPECT_NEAR(WidgetPos(v, under).y(), centre.y(), 1e-9);
}

TEST(PlaybackViewport, FitRatioFitsBothDimensions)
{
    struct Case
    {
        QSize widget;
        QSizeF picture;
        double ratio;
    };
    for (Case c : {Case{QSize(1920, 600), QSizeF(1280, 720), 600.0 / 720}, // wide widget: the height limits
                   Case{QSize(640, 1000), QSizeF(1280, 720), 0.5},         // tall widget: the width limits
                   Case{QSize(2560, 1440), QSizeF(1280, 720), 2.0},        // same aspect
                   Case{QSize(0, 600), QSizeF(1280, 720), 0.0}, Case{QSize(800, 600), QSizeF(), 1.0}}) {
        View v;
        v.setWidgetSize(c.widget);
        v.setPictureSize(c.picture);
        EXPECT_DOUBLE_EQ(v.fitRatio(), c.ratio) << c.widget.width() << "x" << c.widget.height();
    }
    // Fitting shows the whole picture, centred, even where the widget's centre pixel is not
    // its exact centre.
    View v;
    v.setWidgetSize(QSize(528, 432));
    v.setPictureSize(QSizeF(176, 144));
    v.centre(176, 144);
    ASSERT_TRUE(v.fit());
    EXPECT_EQ(v.viewport(), QRectF(0, 0, 528, 432));
    View empty;
    empty.setWidgetSize(QSize(0, 0));
    EXPECT_FALSE(empty.fit());
}

TEST(PlaybackViewport, AMovedPictureKeepsAHundredPixelsInside)
{
    struct Case
    {
        int dx, dy;
        QPointF topLeft; // expected
    };
    // Picture 200 x 100 at (300, 250) in 800 x 600.
    for (Case c : {Case{-5000, 0, QPointF(100 - 200, 250)}, Case{5000, 0, QPointF(800 - 100, 250)},
                   Case{0, -5000, QPointF(300, 100 - 100)}, Case{0, 5000, QPointF(300, 600 - 100)},
                   Case{-50, 20, QPointF(250, 270)}}) {
        View v = Centred();
        ASSERT_EQ(v.viewport().topLeft(), QPointF(300, 250));
        v.pan(c.dx, c.dy);
        EXPECT_EQ(v.viewport().topLeft(), c.topLeft) << c.dx << "," << c.dy;
        EXPECT_EQ(v.viewport().size(), QSizeF(200, 100));
    }
}

TEST(PlaybackViewport, PanningKeepsTheSplitLineOnScreen)
{
    View v = Centred();
    double const x = v.parts().splitLine.center().x();
    v.pan(40, 0);
    EXPECT_NEAR(v.parts().splitLine.center().x(), x, 1e-9);
    EXPECT_NEAR(v.splitLineRelPos(), 0.3, 1e-12);
    // Past the picture's edge the line stops at the edge.
    v.pan(500, 0);
    EXPECT_DOUBLE_EQ(v.splitLineRelPos(), 0.0);
}

TEST(PlaybackViewport, SplitPartsCoverThePicture)
{
    for (double s : {0.0, 0.25, 0.5, 1.0}) {
        View v = Centred();
        ASSERT_TRUE(v.zoom(2.0, QPointF()));
        v.setSplitLineRelPos(s);
        View::Parts const p = v.parts();
        QRectF const vp = v.viewport();
        EXPECT_DOUBLE_EQ(p.leftSrc.width() + p.rightSrc.width(), 200) << s;
        EXPECT_DOUBLE_EQ(p.leftSrc.width(), 200 * s);
        EXPECT_DOUBLE_EQ(p.leftDst.left(), vp.left());
        EXPECT_DOUBLE_EQ(p.leftDst.right(), p.rightDst.left());
        EXPECT_DOUBLE_EQ(p.rightDst.right(), vp.right());
        EXPECT_DOUBLE_EQ(p.refSrc.width(), 200);
        // The line sits on the boundary, with a grab margin either side.
        EXPECT_DOUBLE_EQ(p.splitLine.center().x(), p.leftDst.right());
        EXPECT_TRUE(p.splitLineGrabArea.contains(QPoint(int(p.leftDst.right()) - 9, int(vp.center().y()))));
        EXPECT_FALSE(p.splitLineGrabArea.contains(QPoint(int(p.leftDst.right()) - 14, int(vp.center().y()))));
    }
    View none;
    none.setWidgetSize(QSize(100, 100));
    EXPECT_TRUE(none.parts().refSrc.isEmpty()) << "no picture, no source";
}

TEST(PlaybackViewport, SelectionKeepsTheWidgetsAspectInsideThePicture)
{
    View v = Centred(QSize(800, 400), QSizeF(400, 200));
    ASSERT_EQ(v.viewport(), QRectF(200, 100, 400, 200));
    struct Case
    {
        QPointF start, pos;
        QRectF expected;
    };
    for (Case c : {Case{QPointF(300, 150), QPointF(400, 190), QRectF(300, 150, 100, 50)},
                   // Up and to the left.
                   Case{QPointF(400, 200), QPointF(300, 100), QRectF(300, 150, 100, 50)},
                   // Too tall for the picture: the height is cut at its edge, the width follows.
                   Case{QPointF(300, 250), QPointF(500, 290), QRectF(300, 250, 100, 50)},
                   // The end point is held inside the picture.
                   Case{QPointF(500, 150), QPointF(2000, 160), QRectF(500, 150, 100, 50)}}) {
        EXPECT_EQ(v.selection(c.start, c.pos), c.expected) << c.start.x() << "," << c.start.y();
    }
}

TEST(PlaybackViewport, ZoomToSelectionPutsItsCornerTopLeft)
{
    View v = Centred(QSize(800, 400), QSizeF(400, 200));
    QRectF const sel(300, 150, 100, 50); // picture pixels (100, 50) to (200, 100)
    ASSERT_TRUE(v.zoomToSelection(sel));
    EXPECT_DOUBLE_EQ(v.zoomRatio(), 8.0);
    EXPECT_EQ(v.viewport(), QRectF(-800, -400, 3200, 1600));

    // A selection that would need more than the largest zoom leaves the view.
    View w = Centred(QSize(800, 400), QSizeF(400, 200));
    QRectF const before = w.viewport();
    EXPECT_FALSE(w.zoomToSelection(QRectF(300, 150, 0.5, 0.25)));
    EXPECT_EQ(w.viewport(), before);
    EXPECT_DOUBLE_EQ(w.zoomRatio(), 1.0);
}

TEST(PlaybackViewport, ResizingKeepsThePictureCentred)
{
    View v = Centred();
    v.setWidgetSize(QSize(1000, 700));
    v.resized(QSize(800, 600), true);
    EXPECT_EQ(v.viewport(), QRectF(400, 300, 200, 100));
    // Without decoders the viewport is the empty area's frame.
    View e;
    e.setWidgetSize(QSize(400, 200));
    e.resized(QSize(), false);
    EXPECT_EQ(e.viewport(), QRectF(30, 15, 340, 170));
}
