#pragma once

#include "frame.h"
#include "ze_nox_core_error.h"

#include <QBrush>
#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QPair>
#include <QPen>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

class QPainter;

namespace ze::nox::core {
class ZeNoxDecoder;
}

namespace ze::nox::gui {

// The comparison playback area: borrows up to three decoders (left, right, reference), decodes
// their frames into frames of its own on the global thread pool, and draws the left and right
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

    using DecoderFramePair = QPair<core::ZeNoxDecoder*, core::Frame*>;
    using DecoderAction = std::function<core::ZeNoxCoreError(DecoderFramePair const&)>;

    explicit ZeSplittedPlaybackContainer(QWidget* parent = nullptr);
    ~ZeSplittedPlaybackContainer() override;

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

    bool isLeftFileOpened() const { return m_leftDec != nullptr; }
    bool isRightFileOpened() const { return m_rightDec != nullptr; }
    bool isReferenceFileOpened() const { return m_refDec != nullptr; }

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
    double zoomRatio() const { return m_zoomRatio; }
    double splitLineRelPos() const { return m_splitLineRelPos; }
    QRectF viewport() const { return m_viewport; }
    QRect splitLineGrabArea() const { return m_splitLineGrabArea; }
    QImage const& leftImage() const { return m_leftImage; }
    QImage const& rightImage() const { return m_rightImage; }
    QImage const& refImage() const { return m_refImage; }
    QImage const& leftDiffImage() const { return m_leftDiffImage; }
    QImage const& rightDiffImage() const { return m_rightDiffImage; }

    // The step machinery: one pool task per pair, the GUI thread waiting for all of them, then
    // the conversion, repaint and curFrameChanged. images[i] belongs to pairs[i]. True when at
    // least one decoder delivered a picture.
    bool doActionWithAllDecoders(DecoderAction const& action);
    bool doActionWithSpecificDecoders(QList<DecoderFramePair> const& pairs, QList<QImage*> const& images,
                                      DecoderAction const& action);

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
    void setSideDec(core::ZeNoxDecoder*& place, QString& label, core::Frame& frame, core::Frame& diffFrame,
                    QImage& image, QImage& diffImage, core::ZeNoxDecoder* dec);
    void closeSide(core::ZeNoxDecoder*& place, QString& label, core::Frame& frame, core::Frame& diffFrame,
                   QImage& image, QImage& diffImage);
    void resetViewportForDecoders();
    // The GUI-thread branch of Previous and Last for a stream that has run out before the target.
    void runOutStream(core::ZeNoxDecoder* dec, core::Frame& frame, QImage& image);
    bool isPresentAndOpened(core::ZeNoxDecoder const* dec) const;
    void refillSideImages();
    void refillRefImage();
    void applyDiffModeMaximum();

    void fillHeatMapImages();
    QSizeF pictureSize() const;
    void recalcDisplayRectSize();
    void recalcDrawRects();
    void setViewport(QRectF const& rect);
    void setDefaultViewport();
    void zoom(double ratio, QPointF const& relativeToPoint);
    void stopZoomRectSelection();

    void drawFrame(QPainter& painter, QImage const& image, core::Frame const& frame, QRectF const& src,
                   QRectF const& dst);
    void drawStreamsInfo(QPainter& painter);
    void drawZoomRatio(QPainter& painter);
    void drawHelpText(QPainter& painter, QRectF const& rect);
    void drawVerticalSplitLine(QPainter& painter);
    void drawZoomRectSelection(QPainter& painter);

    core::ZeNoxDecoder* m_leftDec = nullptr;
    core::ZeNoxDecoder* m_rightDec = nullptr;
    core::ZeNoxDecoder* m_refDec = nullptr;
    QString m_leftLabel;
    QString m_rightLabel;
    QString m_refLabel;
    core::Frame m_leftFrame;
    core::Frame m_rightFrame;
    core::Frame m_refFrame;
    core::Frame m_leftDiffFrame;
    core::Frame m_rightDiffFrame;
    QImage m_leftImage;
    QImage m_rightImage;
    QImage m_refImage;
    QImage m_leftDiffImage;
    QImage m_rightDiffImage;
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

    double m_zoomRatio = 1.0;
    double m_minZoomRatio = 0.5;
    double m_maxZoomRatio = 1000.0;
    QRectF m_viewport;
    double m_splitLineRelPos = 0.5;
    double m_splitLineX = -1;
    QRectF m_leftDrawRect;
    QRectF m_rightDrawRect;
    QRectF m_refSrcRect;
    QRectF m_leftSrcRect;
    QRectF m_rightSrcRect;
    double m_splitLineWidth = 2.0;
    QRectF m_splitLineRect;
    int m_splitLineGrabMargin = 10;
    QRect m_splitLineGrabArea;
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
