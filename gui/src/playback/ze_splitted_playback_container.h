#pragma once

#include "display/frame.h"
#include "playback/ze_splitted_playback_container_stepper.h"
#include "playback/ze_splitted_playback_container_viewport.h"

#include <QBrush>
#include <QElapsedTimer>
#include <QImage>
#include <QPen>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <array>

class QPainter;

namespace ze::nox::core {
class ZeNoxDecoder;
}

namespace ze::nox::gui {

// The comparison playback area: borrows up to three decoders (left, right, reference), has them
// stepped together (ZeSplittedPlaybackStepper) into frames of its own, and draws the left and right
// pictures split by a movable vertical line, the reference alone, or the differences to the
// reference as heat maps, with zoom, pan and the sample values at high zoom.
// Decoders are borrowed: never opened, closed or deleted here. GUI thread only.
class ZeSplittedPlaybackContainer : public QWidget
{
    Q_OBJECT

public:
    enum ViewMode : int {
        VIEW_MODE_LEFT_RIGHT = 0,
        VIEW_MODE_REFERENCE = 1,
        VIEW_MODE_HEATMAP_DIFF = 2,
        VIEW_MODE_BW_DIFF = 3,
    };
    Q_ENUM(ViewMode)

    enum YuvValuesFormat : int {
        YUV_VALUES_FORMAT_DEC = 0,
        YUV_VALUES_FORMAT_HEX = 1,
    };
    Q_ENUM(YuvValuesFormat)

    explicit ZeSplittedPlaybackContainer(QWidget* parent = nullptr);
    ~ZeSplittedPlaybackContainer() override;

    // A 16:9 picture of a useful size; a layout gives the area what it can beyond that.
    QSize sizeHint() const override { return QSize(960, 540); }
    QSize minimumSizeHint() const override { return QSize(320, 180); }

    // A null decoder empties the place. A decoder other than the one held starts the place
    // afresh (its frames are reset).
    void setLeftDec(core::ZeNoxDecoder* dec);
    void setRightDec(core::ZeNoxDecoder* dec);
    void setRefDec(core::ZeNoxDecoder* dec);

    // Empties the first place (left, right, reference) that holds dec.
    void closeFile(core::ZeNoxDecoder* dec);
    void closeLeftFile();
    void closeRightFile();
    void closeReferenceFile();
    void closeAllFiles();

    bool isLeftFileOpened() const { return side(PLAYBACK_ROLE_LEFT).dec != nullptr; }
    bool isRightFileOpened() const { return side(PLAYBACK_ROLE_RIGHT).dec != nullptr; }
    bool isReferenceFileOpened() const { return side(PLAYBACK_ROLE_REFERENCE).dec != nullptr; }

    // Largest frames-in-range count of the present decoders; 0 without decoders.
    int totalFrameCount() const;
    // Largest current frame of the present, opened decoders; -1 when there is none.
    int curFrameNumber() const;
    // Steps per second of the running playback (0 while not playing).
    int curFps() const;

    bool isPlaying() const { return m_isPlaying; }
    int playbackInterval() const { return m_playbackInterval; }
    ViewMode viewMode() const { return m_viewMode; }
    core::Component visibleComponent() const { return m_visibleComponent; }
    YuvValuesFormat yuvValuesFormat() const { return m_yuvValuesFormat; }
    int heatmapMaxValue() const { return m_heatmapMaxValue; }
    double zoomRatio() const { return m_view.zoomRatio(); }
    double splitLineRelPos() const { return m_view.splitLineRelPos(); }
    QRectF viewport() const { return m_view.viewport(); }
    QRect splitLineGrabArea() const { return m_view.parts().splitLineGrabArea; }
    QImage const& leftImage() const { return side(PLAYBACK_ROLE_LEFT).image; }
    QImage const& rightImage() const { return side(PLAYBACK_ROLE_RIGHT).image; }
    QImage const& refImage() const { return side(PLAYBACK_ROLE_REFERENCE).image; }
    QImage const& leftDiffImage() const { return side(PLAYBACK_ROLE_LEFT).diffImage; }
    QImage const& rightDiffImage() const { return side(PLAYBACK_ROLE_RIGHT).diffImage; }
    // Why the place shows no picture after the last step ("cannot decode frame 12: ...", "ends at
    // frame 4"); empty while it shows one, and for an empty place.
    QString problem(PlaybackRole role) const { return side(role).problem; }
    // The problem of the place that holds dec; empty when none does.
    QString problemOf(core::ZeNoxDecoder const* dec) const;

public slots:
    void play();
    void pause();
    void showFrame(int frameNum);
    void showFirstFrame();
    void showPrevFrame();
    void showNextFrame();
    void showLastFrame();
    void setViewMode(ViewMode mode);
    void setTargetFps(int fps);
    void setVisibleComponent(core::Component comp);
    void setYuvValuesFormat(YuvValuesFormat format);
    void showStreamInfo(bool show);
    void resetToDefaultView();
    void zoomToWindowSize();
    void zoomToActualSize();
    void zoomIn(QPointF relativeToPoint);
    void zoomIn();
    void zoomOut(QPointF relativeToPoint);
    void zoomOut();
    void onHeatmapMaxValueChanged(int maximum);

signals:
    void curFrameChanged(int curFrameNum);
    void playbackStarted();
    void playbackPaused();
    void inputFilesDropped(QStringList filenames);
    void zoomRatioChanged(double zoomRatio);
    // The difference the heat map draws black changed (view mode or onHeatmapMaxValueChanged).
    void heatmapMaxValueChanged(int maximum);
    // A place's problem() came or went.
    void problemsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private slots:
    void onPlaybackTimerTimeout();

private:
    // One place: the borrowed decoder, its label, the frames decoded for it and their images.
    // The difference frame and image are used by the left and right places only.
    struct Side
    {
        core::ZeNoxDecoder* dec = nullptr;
        QString label;
        core::Frame frame;
        core::Frame diffFrame;
        QImage image;
        QImage diffImage;
        QString problem;

        // Drops frames and images (the decoder stays).
        void clearPictures();
    };

    Side& side(PlaybackRole role) { return m_sides[role]; }
    Side const& side(PlaybackRole role) const { return m_sides[role]; }
    bool anyDecoder() const;
    static bool isPresentAndOpened(core::ZeNoxDecoder const* dec);

    void setSideDec(PlaybackRole role, core::ZeNoxDecoder* dec);
    void closeSide(PlaybackRole role);
    void resetViewportForDecoders();
    ZeSplittedPlaybackStepper stepper();
    // Turns the step's outcomes into images, repaints and announces the frame. Nothing happens
    // when no place was stepped.
    bool applyStep(ZeSplittedPlaybackStepper::Result const& result);
    void refillSideImages();
    void refillRefImage();
    void applyDiffModeMaximum();
    void setHeatmapMaxValue(int maximum);

    void fillHeatMapImages();
    // The size of the first picture shown, or an empty size.
    QSizeF pictureSize() const;
    void syncViewGeometry();
    void setViewport(QRectF const& rect);
    void zoom(double ratio, QPointF const& relativeToPoint);
    void stopZoomRectSelection();

    void drawFrame(QPainter& painter, QImage const& image, core::Frame const& frame, QRectF const& src,
                   QRectF const& dst);
    void drawStreamsInfo(QPainter& painter, ZeSplittedPlaybackViewport::Parts const& parts);
    void drawZoomRatio(QPainter& painter, ZeSplittedPlaybackViewport::Parts const& parts);
    void drawHelpText(QPainter& painter, QRectF const& rect);
    // In the part of a place that has no picture: its problem with the stream's name, or for an
    // empty place the help text.
    void drawMissingPicture(QPainter& painter, QRectF const& rect, Side const& s);
    void drawProblem(QPainter& painter, QRectF const& rect, QString const& name, QString const& problem);
    void setProblem(Side& s, QString const& problem);
    void drawVerticalSplitLine(QPainter& painter, QRectF const& line);
    void drawZoomRectSelection(QPainter& painter);

    std::array<Side, kPlaybackRoleCount> m_sides;
    core::Component m_visibleComponent = core::COMPONENT_YUV;
    YuvValuesFormat m_yuvValuesFormat = YUV_VALUES_FORMAT_DEC;
    bool m_showStreamInfo = true;
    int m_heatmapMaxValue = 127;
    ViewMode m_viewMode = VIEW_MODE_LEFT_RIGHT;
    QTimer m_playbackTimer;
    QElapsedTimer m_fpsTime;
    int m_playbackInterval = 40;
    int m_playedFrameCount = 0;
    bool m_isPlaying = false;

    ZeSplittedPlaybackViewport m_view;
    QPen m_splitLinePen;
    QPen m_zoomRectPen;
    QPointF m_zoomRectStart;
    QRectF m_zoomRect;
    bool m_isZoomRectSelecting = false;
    bool m_isSplitLineDragging = false;
    bool m_isMouseOverSplitLine = false;
    bool m_isPanning = false;
    bool m_isCtrlPressed = false;
    bool m_isMouseInViewport = false;
    bool m_isDragging = false;
    double m_lastSplitLineDragX = -1;
    QPoint m_panStart;
    QBrush m_dragHighlightBrush;
    QBrush m_infoBackgroundBrush;

    static const QBrush m_splitLineBrush;
    static const QPen m_highlighDraggingPen;
    static const QString m_helpStringHeader1;
    static const QString m_helpStringText1;
    static const QString m_helpStringHeader2;
    static const QString m_helpStringText2;
};

} // namespace ze::nox::gui
