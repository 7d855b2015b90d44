#include "ze_splitted_playback_container.h"

#include "ffmpeg_utils.h"
#include "ze_nox_decoder.h"
#include "ze_nox_gui_app.h"
#include "ze_nox_gui_settings.h"
#include "ze_stream.h"

#include <QCursor>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QUrl>
#include <QWheelEvent>
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <cmath>

namespace ze::nox::gui {

using core::Component;
using core::Frame;
using core::ZeNoxCoreError;
using core::ZeNoxDecoder;

const QBrush ZeSplittedPlaybackContainer::m_splitLineBrush(Qt::gray, Qt::SolidPattern);
const QPen ZeSplittedPlaybackContainer::m_highlighDraggingPen(QBrush(QColor(130, 130, 130)), 3, Qt::DotLine);
const QString ZeSplittedPlaybackContainer::m_helpStringHeader1 = QStringLiteral("Open a project:");
const QString ZeSplittedPlaybackContainer::m_helpStringText1 = QStringLiteral("- File > Open Project...\n");
const QString ZeSplittedPlaybackContainer::m_helpStringHeader2 = QStringLiteral("Add a video file(s):");
const QString ZeSplittedPlaybackContainer::m_helpStringText2 =
    QStringLiteral("- Open an existing project\n- Press '+' in Project View\n- Drop a file(s) here\n\n"
                   "Files are added to Project View\n");

namespace {

// Frames of the decoder's range; 0 for a decoder without frames.
int FramesInRange(ZeNoxDecoder const* dec)
{
    if (!dec)
        return 0;
    return std::max(0, dec->lastFrameNumber() - dec->firstFrameNumber() + 1);
}

ZeNoxGuiSettings* Settings()
{
    ZeNoxGuiApp* app = theApp();
    return app ? app->settings() : nullptr;
}

double ClampUnit(double v)
{
    return std::clamp(v, 0.0, 1.0);
}

} // namespace

ZeSplittedPlaybackContainer::ZeSplittedPlaybackContainer(QWidget* parent)
    : QWidget(parent)
    , m_splitLinePen(QBrush(Qt::gray), 1, Qt::SolidLine)
    , m_zoomRectPen(QBrush(Qt::gray), 1, Qt::SolidLine)
    , m_dragHighlightBrush(QColor(170, 170, 170, 170), Qt::SolidPattern)
    , m_infoBackgroundBrush(QColor(255, 255, 255, 220), Qt::SolidPattern)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("ZeSplittedPlaybackContainer"));
    resize(696, 531);
    setAttribute(Qt::WA_MouseTracking);
    setAutoFillBackground(false);
    auto* grid = new QGridLayout(this);
    grid->setObjectName(QStringLiteral("gridLayout"));
    setWindowTitle(QStringLiteral("Form"));
    setAcceptDrops(true);

    if (ZeNoxGuiSettings* settings = Settings()) {
        // A stored value is untrusted: anything outside 0..1 (or not a number) means the middle.
        double const pos = settings->getVericalSplitLineRelPos();
        m_splitLineRelPos = (std::isfinite(pos) && pos >= 0.0 && pos <= 1.0) ? pos : 0.5;
    }
}

ZeSplittedPlaybackContainer::~ZeSplittedPlaybackContainer()
{
    m_playbackTimer.stop();
    if (ZeNoxGuiSettings* settings = Settings())
        settings->saveVericalSplitLineRelPos(m_splitLineRelPos);
}

// ---- decoders ----

void ZeSplittedPlaybackContainer::setSideDec(ZeNoxDecoder*& place, QString& label, Frame& frame, Frame& diffFrame,
                                             QImage& image, QImage& diffImage, ZeNoxDecoder* dec)
{
    if (dec != place) {
        // Frames filled by another decoder may hold planes of another size or format, which the
        // AV1 and VVC decoders would write into: the place starts afresh.
        frame.reset();
        diffFrame.reset();
        image = QImage();
        diffImage = QImage();
    }
    place = dec;
    label = QFileInfo(dec->filename()).completeBaseName();
}

void ZeSplittedPlaybackContainer::setLeftDec(ZeNoxDecoder* dec)
{
    if (!dec) {
        closeLeftFile();
        return;
    }
    setSideDec(m_leftDec, m_leftLabel, m_leftFrame, m_leftDiffFrame, m_leftImage, m_leftDiffImage, dec);
    resetViewportForDecoders();
}

void ZeSplittedPlaybackContainer::setRightDec(ZeNoxDecoder* dec)
{
    if (!dec) {
        closeRightFile();
        return;
    }
    setSideDec(m_rightDec, m_rightLabel, m_rightFrame, m_rightDiffFrame, m_rightImage, m_rightDiffImage, dec);
    resetViewportForDecoders();
}

void ZeSplittedPlaybackContainer::setRefDec(ZeNoxDecoder* dec)
{
    if (dec) {
        if (dec != m_refDec) {
            m_refFrame.reset();
            m_refImage = QImage();
        }
        m_refDec = dec;
        m_refLabel = QFileInfo(dec->filename()).completeBaseName();
    } else {
        m_refImage = QImage();
        m_refFrame.reset();
        m_refDec = nullptr;
        m_refLabel.clear();
    }
    resetViewportForDecoders();
}

void ZeSplittedPlaybackContainer::resetViewportForDecoders()
{
    ZeNoxDecoder const* first = m_leftDec ? m_leftDec : (m_rightDec ? m_rightDec : m_refDec);
    double const w = first ? first->width() : width();
    double const h = first ? first->height() : height();
    m_viewport.moveLeft((width() - w * m_zoomRatio) / 2);
    m_viewport.moveTop((height() - h * m_zoomRatio) / 2);
    recalcDisplayRectSize();
    recalcDrawRects();
    setViewport(m_viewport);
}

void ZeSplittedPlaybackContainer::closeSide(ZeNoxDecoder*& place, QString& label, Frame& frame, Frame& diffFrame,
                                            QImage& image, QImage& diffImage)
{
    pause();
    image = QImage();
    diffImage = QImage();
    frame.reset();
    diffFrame.reset();
    place = nullptr;
    label.clear();
    update();
}

void ZeSplittedPlaybackContainer::closeLeftFile()
{
    closeSide(m_leftDec, m_leftLabel, m_leftFrame, m_leftDiffFrame, m_leftImage, m_leftDiffImage);
}

void ZeSplittedPlaybackContainer::closeRightFile()
{
    closeSide(m_rightDec, m_rightLabel, m_rightFrame, m_rightDiffFrame, m_rightImage, m_rightDiffImage);
}

void ZeSplittedPlaybackContainer::closeReferenceFile()
{
    m_refImage = QImage();
    m_refFrame.reset();
    m_refDec = nullptr;
    m_refLabel.clear();
}

void ZeSplittedPlaybackContainer::closeAllFiles()
{
    closeLeftFile();
    closeRightFile();
    closeReferenceFile();
}

void ZeSplittedPlaybackContainer::closeFile(ZeNoxDecoder* dec)
{
    if (!dec)
        return;
    if (dec == m_leftDec)
        closeLeftFile();
    else if (dec == m_rightDec)
        closeRightFile();
    else if (dec == m_refDec)
        closeReferenceFile();
}

int ZeSplittedPlaybackContainer::totalFrameCount() const
{
    return std::max({FramesInRange(m_leftDec), FramesInRange(m_rightDec), FramesInRange(m_refDec)});
}

int ZeSplittedPlaybackContainer::curFrameNumber() const
{
    int n = -1;
    for (ZeNoxDecoder const* dec : {m_leftDec, m_rightDec, m_refDec})
        if (dec && dec->isOpened())
            n = std::max(n, dec->curFrameNumber());
    return n;
}

bool ZeSplittedPlaybackContainer::isPresentAndOpened(ZeNoxDecoder const* dec) const
{
    return dec && dec->isOpened();
}

// ---- steps ----

bool ZeSplittedPlaybackContainer::doActionWithAllDecoders(DecoderAction const& action)
{
    QList<DecoderFramePair> pairs;
    QList<QImage*> images;
    if (m_leftDec) {
        pairs.append({m_leftDec, &m_leftFrame});
        images.append(&m_leftImage);
    }
    if (m_rightDec) {
        pairs.append({m_rightDec, &m_rightFrame});
        images.append(&m_rightImage);
    }
    if (m_refDec) {
        pairs.append({m_refDec, &m_refFrame});
        images.append(&m_refImage);
    }
    return doActionWithSpecificDecoders(pairs, images, action);
}

bool ZeSplittedPlaybackContainer::doActionWithSpecificDecoders(QList<DecoderFramePair> const& pairs,
                                                               QList<QImage*> const& images,
                                                               DecoderAction const& action)
{
    if (pairs.isEmpty() || images.size() != pairs.size())
        return false;

    // A decoder is stepped by one task only: a decoder held in two places is stepped once, and
    // the later place gets a reference to the picture of the first.
    QList<DecoderFramePair> tasks;
    QVector<int> taskOf(pairs.size());
    for (int i = 0; i < pairs.size(); ++i) {
        int found = -1;
        for (int t = 0; t < tasks.size(); ++t)
            if (tasks[t].first == pairs[i].first)
                found = t;
        if (found < 0) {
            found = tasks.size();
            tasks.append(pairs[i]);
        }
        taskOf[i] = found;
    }

    QFutureWatcher<ZeNoxCoreError> watcher;
    std::function<ZeNoxCoreError(DecoderFramePair const&)> fn = action;
    watcher.setFuture(QtConcurrent::mapped(tasks, fn));
    watcher.waitForFinished();

    bool delivered = false;
    for (int i = 0; i < pairs.size(); ++i) {
        Frame& frame = *pairs[i].second;
        QImage& image = *images[i];
        ZeNoxCoreError r = watcher.resultAt(taskOf[i]);
        Frame const& stepped = *tasks[taskOf[i]].second;
        if (r == core::ZE_NOX_CORE_OK && &stepped != &frame) {
            frame.reset();
            if (!stepped.isValid() || av_frame_ref(frame.avFrame(), stepped.avFrame()) < 0)
                r = core::ZE_NOX_CORE_OPERATION_FAILED;
        }
        if (r != core::ZE_NOX_CORE_OK) {
            frame.reset();
            frame.fillImage(image, m_visibleComponent);
            continue;
        }
        delivered = true;
        if (image.isNull())
            frame.fillImage(image, core::COMPONENT_YUV);
        bool const isRef = pairs[i].first == m_refDec;
        if ((isRef && m_viewMode == VIEW_MODE_REFERENCE) || (!isRef && m_viewMode == VIEW_MODE_LEFT_RIGHT))
            frame.fillImage(image, m_visibleComponent);
    }

    if (m_viewMode == VIEW_MODE_HEATMAP_DIFF || m_viewMode == VIEW_MODE_BW_DIFF) {
        applyDiffModeMaximum();
        fillHeatMapImages();
    }
    recalcDisplayRectSize();
    recalcDrawRects();
    update();

    int n = 0;
    for (ZeNoxDecoder const* dec : {m_leftDec, m_rightDec, m_refDec})
        n = std::max(n, dec ? dec->curFrameNumber() : 0);
    emit curFrameChanged(n);
    return delivered;
}

void ZeSplittedPlaybackContainer::showFirstFrame()
{
    doActionWithAllDecoders([](DecoderFramePair const& p) { return p.first->getFirstFrame(*p.second); });
}

void ZeSplittedPlaybackContainer::showNextFrame()
{
    doActionWithAllDecoders([](DecoderFramePair const& p) { return p.first->getNextFrame(*p.second); });
}

void ZeSplittedPlaybackContainer::showFrame(int frameNum)
{
    doActionWithAllDecoders(
        [frameNum](DecoderFramePair const& p) { return p.first->getFrame(frameNum, *p.second); });
}

void ZeSplittedPlaybackContainer::runOutStream(ZeNoxDecoder* dec, Frame& frame, QImage& image)
{
    ZeNoxCoreError r = dec->getLastFrame(frame);
    if (r == core::ZE_NOX_CORE_OK)
        r = dec->getNextFrame(frame);
    if (r != core::ZE_NOX_CORE_OK)
        frame.reset();
    frame.fillImage(image, m_visibleComponent);
}

void ZeSplittedPlaybackContainer::showPrevFrame()
{
    int const a = m_leftDec ? m_leftDec->curFrameNumber() : -1;
    int const b = m_rightDec ? m_rightDec->curFrameNumber() : -1;
    int const d = std::max(0, std::max(a, b) - 1);

    QList<DecoderFramePair> pairs;
    QList<QImage*> images;
    auto place = [&](ZeNoxDecoder* dec, Frame& frame, QImage& image) {
        if (!dec)
            return;
        int const k = dec->curFrameNumber();
        if (k < d)
            runOutStream(dec, frame, image);
        else if (k > d) {
            pairs.append({dec, &frame});
            images.append(&image);
        }
    };
    place(m_leftDec, m_leftFrame, m_leftImage);
    place(m_rightDec, m_rightFrame, m_rightImage);
    place(m_refDec, m_refFrame, m_refImage);
    doActionWithSpecificDecoders(pairs, images,
                                 [](DecoderFramePair const& p) { return p.first->getPrevFrame(*p.second); });
}

void ZeSplittedPlaybackContainer::showLastFrame()
{
    int t = -1;
    for (ZeNoxDecoder const* dec : {m_leftDec, m_rightDec, m_refDec})
        if (dec) {
            int const last = FramesInRange(dec) - 1;
            t = t < 0 ? last : std::min(t, last);
        }
    t = std::max(0, t);

    QList<DecoderFramePair> pairs;
    QList<QImage*> images;
    auto place = [&](ZeNoxDecoder* dec, Frame& frame, QImage& image) {
        if (!dec)
            return;
        if (FramesInRange(dec) - 1 < t)
            runOutStream(dec, frame, image);
        else {
            pairs.append({dec, &frame});
            images.append(&image);
        }
    };
    place(m_leftDec, m_leftFrame, m_leftImage);
    place(m_rightDec, m_rightFrame, m_rightImage);
    place(m_refDec, m_refFrame, m_refImage);
    doActionWithSpecificDecoders(pairs, images,
                                 [t](DecoderFramePair const& p) { return p.first->getFrame(t, *p.second); });
}

// ---- playback ----

void ZeSplittedPlaybackContainer::setTargetFps(int fps)
{
    if (fps > 0)
        m_playbackInterval = 1000 / fps;
}

void ZeSplittedPlaybackContainer::play()
{
    m_playbackTimer.stop();
    // Unique: a second play() without a pause must not step twice per tick.
    connect(&m_playbackTimer, &QTimer::timeout, this, &ZeSplittedPlaybackContainer::onPlaybackTimerTimeout,
            Qt::UniqueConnection);
    m_playedFrameCount = 0;
    m_fpsTime.start();
    m_isPlaying = true;
    m_playbackTimer.start(m_playbackInterval);
    emit playbackStarted();
}

void ZeSplittedPlaybackContainer::pause()
{
    m_isPlaying = false;
    m_fpsTime.invalidate();
    m_playbackTimer.stop();
    m_playbackTimer.disconnect();
    emit playbackPaused();
}

void ZeSplittedPlaybackContainer::onPlaybackTimerTimeout()
{
    ++m_playedFrameCount;
    m_playbackTimer.stop();
    if (curFrameNumber() == totalFrameCount()) {
        pause();
        return;
    }
    qint64 const t0 = m_fpsTime.isValid() ? m_fpsTime.elapsed() : 0;
    bool const delivered =
        doActionWithAllDecoders([](DecoderFramePair const& p) { return p.first->getNextFrame(*p.second); });
    // The step's signal may have paused playback already.
    if (!m_isPlaying)
        return;
    // No stream gave a picture (none present, all past their end or failing): nothing can advance
    // any more. The raw YUV decoder keeps its current frame at the end, so the count test above
    // never ends such a playback.
    if (!delivered) {
        pause();
        return;
    }
    qint64 const t1 = m_fpsTime.isValid() ? m_fpsTime.elapsed() : t0;
    m_playbackTimer.start(int(std::max<qint64>(1, m_playbackInterval - (t1 - t0))));
}

int ZeSplittedPlaybackContainer::curFps() const
{
    qint64 const e = m_fpsTime.isValid() ? m_fpsTime.elapsed() : 0;
    if (e < 1)
        return 0;
    return int((qint64(m_playedFrameCount) * 1000 + e) / e);
}

// ---- view options ----

void ZeSplittedPlaybackContainer::applyDiffModeMaximum()
{
    m_heatmapMaxValue = m_viewMode == VIEW_MODE_BW_DIFF ? 1 : 127;
}

void ZeSplittedPlaybackContainer::refillSideImages()
{
    if (isPresentAndOpened(m_leftDec))
        m_leftFrame.fillImage(m_leftImage, m_visibleComponent);
    if (isPresentAndOpened(m_rightDec))
        m_rightFrame.fillImage(m_rightImage, m_visibleComponent);
}

void ZeSplittedPlaybackContainer::refillRefImage()
{
    if (isPresentAndOpened(m_refDec))
        m_refFrame.fillImage(m_refImage, m_visibleComponent);
}

void ZeSplittedPlaybackContainer::setViewMode(ViewMode mode)
{
    m_viewMode = mode;
    if (mode == VIEW_MODE_LEFT_RIGHT)
        refillSideImages();
    else if (mode == VIEW_MODE_REFERENCE)
        refillRefImage();
    else if (mode == VIEW_MODE_HEATMAP_DIFF || mode == VIEW_MODE_BW_DIFF) {
        applyDiffModeMaximum();
        fillHeatMapImages();
    }
    update();
}

void ZeSplittedPlaybackContainer::setVisibleComponent(Component comp)
{
    m_visibleComponent = comp;
    refillSideImages();
    refillRefImage();
    if (m_viewMode == VIEW_MODE_HEATMAP_DIFF || m_viewMode == VIEW_MODE_BW_DIFF) {
        applyDiffModeMaximum();
        fillHeatMapImages();
    }
    update();
}

void ZeSplittedPlaybackContainer::setYuvValuesFormat(YuvValuesFormat format)
{
    m_yuvValuesFormat = format;
    update();
}

void ZeSplittedPlaybackContainer::showStreamInfo(bool show)
{
    m_showStreamInfo = show;
    update();
}

void ZeSplittedPlaybackContainer::onHeatmapMaxValueChanged(int maximum)
{
    // The frame's heat map divides by the maximum.
    m_heatmapMaxValue = std::max(1, maximum);
    fillHeatMapImages();
    update();
}

void ZeSplittedPlaybackContainer::fillHeatMapImages()
{
    auto side = [this](ZeNoxDecoder const* dec, Frame const& frame, Frame& diffFrame, QImage& diffImage) {
        if (isPresentAndOpened(dec) && isPresentAndOpened(m_refDec)) {
            Frame::getDiff(diffFrame, frame, m_refFrame);
            diffFrame.fillImageAsHeatMap(diffImage, m_visibleComponent, m_heatmapMaxValue);
        } else {
            // Without both streams there is no difference: no stale heat map of an earlier pair.
            diffFrame.reset();
            diffImage = QImage();
        }
    };
    side(m_leftDec, m_leftFrame, m_leftDiffFrame, m_leftDiffImage);
    side(m_rightDec, m_rightFrame, m_rightDiffFrame, m_rightDiffImage);
}

// ---- geometry ----

QSizeF ZeSplittedPlaybackContainer::pictureSize() const
{
    for (QImage const* image : {&m_leftImage, &m_rightImage, &m_refImage})
        if (!image->isNull())
            return image->size();
    return size();
}

void ZeSplittedPlaybackContainer::recalcDisplayRectSize()
{
    QSizeF const pic = pictureSize();
    m_viewport.setSize(QSizeF(pic.width() * m_zoomRatio, pic.height() * m_zoomRatio));
}

void ZeSplittedPlaybackContainer::recalcDrawRects()
{
    QSizeF pic(0, 0);
    for (QImage const* image : {&m_leftImage, &m_rightImage, &m_refImage})
        if (!image->isNull()) {
            pic = image->size();
            break;
        }
    double const W = pic.width();
    double const H = pic.height();
    double const s = m_splitLineRelPos;
    QRectF const& v = m_viewport;
    m_refSrcRect = QRectF(0, 0, W, H);
    m_leftSrcRect = QRectF(0, 0, W * s, H);
    m_rightSrcRect = QRectF(W * s, 0, W - W * s, H);
    m_splitLineX = v.x() + s * v.width();
    m_leftDrawRect = QRectF(v.x(), v.y(), m_splitLineX - v.x(), v.height());
    m_rightDrawRect = QRectF(m_splitLineX, v.y(), v.width() - (m_splitLineX - v.x()), v.height());
    double const top = std::round(v.y());
    double const bottom = std::round(v.y() + v.height());
    m_splitLineRect = QRectF(m_splitLineX - m_splitLineWidth / 2, top, m_splitLineWidth, bottom - top - 1);
    m_splitLineGrabArea = QRect(QPoint(int(m_splitLineRect.x() - m_splitLineGrabMargin), int(top)),
                                QPoint(int(m_splitLineRect.x() + m_splitLineWidth + m_splitLineGrabMargin),
                                       int(bottom - 1)));
}

void ZeSplittedPlaybackContainer::setViewport(QRectF const& rect)
{
    QRectF r = rect;
    double const ww = width();
    double const wh = height();
    if (r.y() + r.height() < 100)
        r.moveTop(100 - r.height());
    else if (r.y() > wh - 100)
        r.moveTop(wh - 100);
    if (r.x() + r.width() < 100)
        r.moveLeft(100 - r.width());
    else if (r.x() > ww - 100)
        r.moveLeft(ww - 100);
    m_viewport = r;
    recalcDrawRects();
    update();
}

void ZeSplittedPlaybackContainer::setDefaultViewport()
{
    m_viewport.moveLeft((width() - m_viewport.width() * m_zoomRatio) / 2);
    m_viewport.moveTop((height() - m_viewport.height() * m_zoomRatio) / 2);
    recalcDisplayRectSize();
    recalcDrawRects();
    setViewport(m_viewport);
}

void ZeSplittedPlaybackContainer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_leftDec || m_rightDec || m_refDec) {
        QSize const oldSize = event->oldSize();
        if (oldSize.isValid()) {
            m_viewport.translate(-((oldSize.width() - width()) / 2), -((oldSize.height() - height()) / 2));
        }
    } else {
        m_viewport = QRectF(0.075 * width(), 0.075 * height(), 0.85 * width(), 0.85 * height());
    }
    setViewport(m_viewport);
}

// ---- zoom ----

void ZeSplittedPlaybackContainer::zoom(double ratio, QPointF const& relativeToPoint)
{
    if (ratio < m_minZoomRatio || ratio > m_maxZoomRatio)
        return;
    QRectF const v = m_viewport;
    QPointF p = relativeToPoint;
    if (p.isNull())
        p = QPointF((width() - 1) / 2 - v.x(), (height() - 1) / 2 - v.y());
    double const nw = v.width() / m_zoomRatio * ratio;
    double const nh = v.height() / m_zoomRatio * ratio;
    // An empty viewport has no point to keep in place.
    double const nx = v.width() > 0 ? v.x() - p.x() / v.width() * (nw - v.width()) : v.x();
    double const ny = v.height() > 0 ? v.y() - p.y() / v.height() * (nh - v.height()) : v.y();
    m_zoomRatio = ratio;
    setViewport(QRectF(nx, ny, nw, nh));
    emit zoomRatioChanged(m_zoomRatio);
}

void ZeSplittedPlaybackContainer::zoomIn(QPointF relativeToPoint)
{
    zoom(m_zoomRatio * 1.25, relativeToPoint);
}

void ZeSplittedPlaybackContainer::zoomIn()
{
    zoomIn(QPointF());
}

void ZeSplittedPlaybackContainer::zoomOut(QPointF relativeToPoint)
{
    zoom(m_zoomRatio * 0.8, relativeToPoint);
}

void ZeSplittedPlaybackContainer::zoomOut()
{
    zoomOut(QPointF());
}

void ZeSplittedPlaybackContainer::zoomToActualSize()
{
    if (1.0 >= m_minZoomRatio && 1.0 <= m_maxZoomRatio)
        zoom(1.0, QPointF());
    setDefaultViewport();
}

void ZeSplittedPlaybackContainer::resetToDefaultView()
{
    m_splitLineRelPos = 0.5;
    zoomToActualSize();
}

void ZeSplittedPlaybackContainer::zoomToWindowSize()
{
    zoomToActualSize();
    if (m_viewport.width() <= 0)
        return;
    double const g = width() * m_zoomRatio / m_viewport.width();
    if (g >= m_minZoomRatio && g <= m_maxZoomRatio)
        zoom(g, QPointF());
}

void ZeSplittedPlaybackContainer::stopZoomRectSelection()
{
    unsetCursor();
    m_isZoomRectSelecting = false;
    m_zoomRect = QRectF();
    m_zoomRectStart = QPointF();
    update();
}

// ---- painting ----

void ZeSplittedPlaybackContainer::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    bool const diffMode = m_viewMode == VIEW_MODE_HEATMAP_DIFF || m_viewMode == VIEW_MODE_BW_DIFF;
    if (m_viewMode == VIEW_MODE_REFERENCE) {
        if (m_refImage.isNull())
            drawHelpText(painter, m_viewport);
        else
            drawFrame(painter, m_refImage, m_refFrame, m_refSrcRect, m_viewport);
    } else if (m_viewMode == VIEW_MODE_LEFT_RIGHT) {
        if (m_leftImage.isNull())
            drawHelpText(painter, m_leftDrawRect);
        else
            drawFrame(painter, m_leftImage, m_leftFrame, m_leftSrcRect, m_leftDrawRect);
        if (m_rightImage.isNull())
            drawHelpText(painter, m_rightDrawRect);
        else
            drawFrame(painter, m_rightImage, m_rightFrame, m_rightSrcRect, m_rightDrawRect);
    } else if (diffMode) {
        if (m_leftImage.isNull() || m_leftDiffImage.isNull())
            drawHelpText(painter, m_leftDrawRect);
        else
            drawFrame(painter, m_leftDiffImage, m_leftDiffFrame, m_leftSrcRect, m_leftDrawRect);
        if (m_rightImage.isNull() || m_rightDiffImage.isNull())
            drawHelpText(painter, m_rightDrawRect);
        else
            drawFrame(painter, m_rightDiffImage, m_rightDiffFrame, m_rightSrcRect, m_rightDrawRect);
    }
    if (m_viewMode == VIEW_MODE_LEFT_RIGHT || diffMode)
        drawVerticalSplitLine(painter);
    drawStreamsInfo(painter);
    if (m_isDragging) {
        int const w = m_highlighDraggingPen.width();
        painter.setPen(m_highlighDraggingPen);
        painter.setBrush(m_dragHighlightBrush);
        painter.drawRect(QRect(1, 1, width() - w - 1, height() - w - 1));
    }
    if (m_isZoomRectSelecting)
        drawZoomRectSelection(painter);
    drawZoomRatio(painter);
}

void ZeSplittedPlaybackContainer::drawFrame(QPainter& painter, QImage const& image, Frame const& frame,
                                            QRectF const& src, QRectF const& dst)
{
    painter.drawImage(dst, image, src);
    double const z = m_zoomRatio;
    if (z < 32)
        return;

    // Only cells of the picture that lie in the visible part of dst: at most the widget's area
    // divided by 32 x 32, whatever the zoom and wherever the picture has been moved.
    QRectF const visible = dst.intersected(QRectF(rect()));
    if (visible.isEmpty())
        return;
    int const picW = std::min({frame.width(), image.width(), int(std::ceil(src.x() + src.width()))});
    int const picH = std::min({frame.height(), image.height(), int(std::ceil(src.y() + src.height()))});
    int const x0 = std::max(0, int(std::floor(src.x() + (visible.left() - dst.x()) / z)));
    int const y0 = std::max(0, int(std::floor(src.y() + (visible.top() - dst.y()) / z)));
    int const x1 = std::min(picW - 1, int(std::floor(src.x() + (visible.right() - dst.x()) / z)));
    int const y1 = std::min(picH - 1, int(std::floor(src.y() + (visible.bottom() - dst.y()) / z)));
    if (x0 > x1 || y0 > y1)
        return;

    QFont font = painter.font();
    font.setPixelSize(std::min(14, int(z / 3) - 3));
    painter.setFont(font);
    painter.setBrush(Qt::NoBrush);
    int const base = m_yuvValuesFormat == YUV_VALUES_FORMAT_HEX ? 16 : 10;
    QString const sample = frame.bitDepth() >= 8 ? QStringLiteral("1234") : QStringLiteral("123");
    double const a = painter.boundingRect(QRectF(), Qt::AlignCenter, sample).width() / 2;
    bool const diffMode = m_viewMode == VIEW_MODE_HEATMAP_DIFF || m_viewMode == VIEW_MODE_BW_DIFF;
    QPen const gridPen(m_viewMode == VIEW_MODE_BW_DIFF ? Qt::gray : Qt::black);

    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            core::PixelValues const pv = frame.pixel(x, y);
            if (!pv.valid)
                continue;
            QRectF const cell(dst.x() + (x - src.x()) * z, dst.y() + (y - src.y()) * z, z, z);
            painter.setPen(gridPen);
            painter.drawRect(cell);
            QRectF const inDst = cell.intersected(dst);
            if (inDst.width() <= z / 2 + a)
                continue;
            int const v = diffMode ? frame.pixelRgb(x, y).c0 : pv.c0;
            int const g = v * 256.0 / 1024.0 > 30.0 ? 30 : 225;
            painter.setPen(QColor(g, g, g));
            QString text;
            switch (m_visibleComponent) {
            case core::COMPONENT_YUV:
                text = QStringLiteral("%1\n%2\n%3")
                           .arg(QString::number(pv.c0, base), QString::number(pv.c1, base),
                                QString::number(pv.c2, base));
                break;
            case core::COMPONENT_U:
                text = QString::number(pv.c1, base);
                break;
            case core::COMPONENT_V:
                text = QString::number(pv.c2, base);
                break;
            default:
                text = QString::number(pv.c0, base);
                break;
            }
            painter.drawText(cell, Qt::AlignCenter, text);
        }
    }
}

void ZeSplittedPlaybackContainer::drawStreamsInfo(QPainter& painter)
{
    if (!m_showStreamInfo)
        return;
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    int const h = QFontMetrics(font).height();
    double const ww = width();
    double const wh = height();
    QRectF const& v = m_viewport;

    auto text = [](ZeNoxDecoder const* dec, QString const& label) {
        return QStringLiteral("%1 | %2 | %3kbps@%4fps | %5x%6 | %7")
            .arg(label, core::GetStreamTypeName(dec->streamType()))
            .arg(dec->bitrateKbps(25.0))
            .arg(25.0)
            .arg(dec->width())
            .arg(dec->height())
            .arg(core::GetPixFmtName(dec->pixelFormat()));
    };
    auto box = [&](QRectF const& r, int flags, QColor const& colour, QString const& t) {
        QRectF const bound = painter.boundingRect(r, flags, t);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_infoBackgroundBrush);
        painter.drawRect(r.intersected(bound));
        painter.setPen(colour);
        painter.setBrush(Qt::NoBrush);
        painter.drawText(r, flags, t);
    };
    double const y = std::min(wh, v.y() + v.height()) - h - 5;
    if (m_leftDec) {
        QRectF const& part = m_leftDrawRect;
        double const x = part.x() < 0 ? 5 : part.x() + 5;
        double const w = std::max(0.0, part.right() - std::max(part.x(), 0.0) - 10);
        box(QRectF(x, y, w, h), Qt::AlignLeft | Qt::AlignBottom, Qt::blue, text(m_leftDec, m_leftLabel));
    }
    if (m_rightDec) {
        QRectF const& part = m_rightDrawRect;
        double const x = part.x() < 0 ? 5 : part.x() + 5;
        double const w = std::max(0.0, std::min(ww - 1, part.right()) - std::max(part.x(), 0.0) - 10);
        box(QRectF(x, y, w, h), Qt::AlignRight | Qt::AlignBottom, QColor(3, 172, 19), text(m_rightDec, m_rightLabel));
    }
    if (m_refDec) {
        double const ry = v.y() > 0 ? v.y() + 5 : 5;
        box(QRectF(v.x(), ry, v.width(), h), Qt::AlignHCenter | Qt::AlignTop, QColor(55, 55, 55),
            text(m_refDec, m_refLabel));
    }
}

void ZeSplittedPlaybackContainer::drawZoomRatio(QPainter& painter)
{
    if (m_leftImage.isNull() && m_rightImage.isNull() && m_refImage.isNull())
        return;
    QFont font = painter.font();
    font.setPixelSize(36);
    painter.setFont(font);
    painter.setPen(Qt::darkGray);
    int const left = int(std::min(double(width() - 1), m_rightDrawRect.right()) - 135);
    int const top = int(std::max(0.0, m_rightDrawRect.y()) + 5);
    painter.drawText(QRect(left, top, 130, 40), Qt::AlignRight | Qt::AlignTop,
                     QStringLiteral("x%1").arg(m_zoomRatio, 3, 'f', 2));
}

void ZeSplittedPlaybackContainer::drawHelpText(QPainter& painter, QRectF const& r)
{
    static QFont const headerFont = [] {
        QFont f;
        f.setPixelSize(14);
        f.setWeight(75);
        f.setBold(true);
        return f;
    }();
    static QFont const textFont;

    QStringList const texts = {m_helpStringHeader1, m_helpStringText1, m_helpStringHeader2, m_helpStringText2};
    double widest = 0;
    for (QString const& t : texts)
        widest = std::max(widest, painter.boundingRect(QRectF(0, 0, 100000, 100000), Qt::AlignLeft, t).width());
    if (widest >= r.width())
        return;

    double cw = 0;
    for (QString const& t : texts)
        cw = std::max(cw, painter.boundingRect(r, Qt::AlignLeft, t).width());
    painter.save();
    painter.setFont(headerFont);
    double const hh1 = painter.boundingRect(r, Qt::AlignLeft, m_helpStringHeader1).height();
    double const hh2 = painter.boundingRect(r, Qt::AlignLeft, m_helpStringHeader2).height();
    painter.setFont(textFont);
    double const th1 = painter.boundingRect(r, Qt::AlignLeft, m_helpStringText1).height();
    double const th2 = painter.boundingRect(r, Qt::AlignLeft, m_helpStringText2).height();

    double const x = r.x() + (r.width() - cw) / 2;
    double y = r.y() + (r.height() - (hh1 + 10 + th1 + 20 + hh2 + 10 + th2)) / 2;
    auto draw = [&](QFont const& f, QString const& t, double height, int flags) {
        painter.setFont(f);
        QRectF const own = painter.boundingRect(QRectF(x, y, cw, height), flags, t);
        painter.drawText(QRectF(x, y, std::max(cw, own.width()), height), flags, t);
    };
    draw(headerFont, m_helpStringHeader1, hh1, Qt::AlignHCenter | Qt::AlignTop);
    y += hh1 + 10;
    draw(textFont, m_helpStringText1, th1, Qt::AlignLeft | Qt::AlignVCenter);
    y += th1 + 20;
    draw(headerFont, m_helpStringHeader2, hh2, Qt::AlignHCenter | Qt::AlignTop);
    y += hh2 + 10;
    draw(textFont, m_helpStringText2, th2, Qt::AlignLeft | Qt::AlignVCenter);
    painter.restore();
}

void ZeSplittedPlaybackContainer::drawVerticalSplitLine(QPainter& painter)
{
    painter.setPen(m_splitLinePen);
    painter.setBrush(m_splitLineBrush);
    painter.drawRect(m_splitLineRect);
}

void ZeSplittedPlaybackContainer::drawZoomRectSelection(QPainter& painter)
{
    painter.setPen(m_zoomRectPen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(m_zoomRect);
}

// ---- input ----

void ZeSplittedPlaybackContainer::wheelEvent(QWheelEvent* event)
{
    if (!m_leftDec && !m_rightDec && !m_refDec) {
        event->ignore();
        return;
    }
    int const d = event->angleDelta().y() / 4;
    if (d == 0) {
        event->ignore();
        return;
    }
    QPointF const pos = QPointF(mapFromGlobal(QCursor::pos())) - m_viewport.topLeft();
    if (d > 0)
        zoom(m_zoomRatio * 1.25, pos);
    else
        zoom(m_zoomRatio * 0.8, pos);
}

void ZeSplittedPlaybackContainer::mousePressEvent(QMouseEvent* event)
{
    bool const anyDec = m_leftDec || m_rightDec || m_refDec;
    QPointF const pos = event->localPos();
    if (event->button() == Qt::LeftButton) {
        if (anyDec && m_isCtrlPressed && m_viewport.contains(pos) && !m_isSplitLineDragging && !m_isPanning) {
            m_isZoomRectSelecting = true;
            m_zoomRectStart = pos;
            m_zoomRect = QRectF();
            setCursor(Qt::CrossCursor);
        }
        if (m_splitLineGrabArea.contains(pos.toPoint()) && !m_isPanning && !m_isZoomRectSelecting) {
            m_isSplitLineDragging = true;
            m_lastSplitLineDragX = pos.x();
        }
        if (anyDec && m_viewport.contains(QPointF(int(pos.x()), int(pos.y()))) && !m_isSplitLineDragging &&
            !m_isZoomRectSelecting) {
            m_isPanning = true;
            m_panStart = pos.toPoint();
            setCursor(Qt::ClosedHandCursor);
        }
    } else if (event->button() == Qt::RightButton) {
        m_splitLineRelPos = 0.5;
        zoomToActualSize();
    }
}

void ZeSplittedPlaybackContainer::mouseMoveEvent(QMouseEvent* event)
{
    QPointF const pos = event->localPos();
    m_isMouseInViewport = m_viewport.contains(pos);
    bool const overLine = m_splitLineGrabArea.contains(pos.toPoint());
    if (overLine != m_isMouseOverSplitLine && !m_isZoomRectSelecting) {
        m_isMouseOverSplitLine = overLine;
        if (overLine)
            setCursor(Qt::SplitHCursor);
        else
            unsetCursor();
    }
    if (!(event->buttons() & Qt::LeftButton))
        return;

    if (m_isZoomRectSelecting) {
        QRectF const& v = m_viewport;
        QPointF const c(std::clamp(pos.x(), v.left(), v.right()), std::clamp(pos.y(), v.top(), v.bottom()));
        if (height() <= 0)
            return;
        double const aspect = double(width()) / height();
        double const dx = c.x() - m_zoomRectStart.x();
        double const dy = c.y() - m_zoomRectStart.y();
        double w = std::abs(dx);
        double h = w / aspect;
        double top = dy < 0 ? m_zoomRectStart.y() - h : m_zoomRectStart.y();
        if (top < v.top() || top + h > v.bottom()) {
            h = dy < 0 ? m_zoomRectStart.y() - v.top() : v.bottom() - m_zoomRectStart.y();
            w = h * aspect;
            top = dy < 0 ? m_zoomRectStart.y() - h : m_zoomRectStart.y();
        }
        double const left = dx < 0 ? m_zoomRectStart.x() - w : m_zoomRectStart.x();
        m_zoomRect = QRectF(left, top, w, h);
        update();
    } else if (m_isSplitLineDragging) {
        if (pos.x() != m_lastSplitLineDragX && m_viewport.width() > 0) {
            m_splitLineRelPos = ClampUnit((pos.x() - m_viewport.x()) / m_viewport.width());
            recalcDrawRects();
            update();
            m_lastSplitLineDragX = pos.x();
        }
    } else if (m_isPanning) {
        QPoint const q = pos.toPoint();
        if (q == m_panStart)
            return;
        int const dx = q.x() - m_panStart.x();
        int const dy = q.y() - m_panStart.y();
        if (m_viewport.width() > 0)
            m_splitLineRelPos = ClampUnit(m_splitLineRelPos - dx / m_viewport.width());
        setViewport(m_viewport.translated(dx, dy));
        m_panStart = q;
    }
}

void ZeSplittedPlaybackContainer::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (m_isZoomRectSelecting) {
        if (m_zoomRect.width() > 2 && m_zoomRect.height() > 2) {
            double const before = m_zoomRatio;
            double const f = width() * before / m_zoomRect.width();
            QRectF const sel = m_zoomRect;
            QRectF const v = m_viewport;
            stopZoomRectSelection();
            if (f >= m_minZoomRatio && f <= m_maxZoomRatio) {
                zoom(f, QPointF());
                QSizeF const pic = pictureSize();
                setViewport(QRectF(-(sel.x() - v.x()) / before * f, -(sel.y() - v.y()) / before * f,
                                   pic.width() * f, pic.height() * f));
            }
        }
    }
    if (m_isSplitLineDragging) {
        m_isSplitLineDragging = false;
        m_lastSplitLineDragX = -1;
    }
    if (m_isPanning) {
        m_isPanning = false;
        unsetCursor();
        m_panStart = QPoint(0, 0);
    }
}

void ZeSplittedPlaybackContainer::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Control) {
        if ((m_leftDec || m_rightDec || m_refDec) && m_isMouseInViewport) {
            m_isCtrlPressed = true;
            setCursor(Qt::CrossCursor);
        }
        return;
    }
    QWidget::keyPressEvent(event);
}

void ZeSplittedPlaybackContainer::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Control) {
        m_isCtrlPressed = false;
        unsetCursor();
        if (m_isZoomRectSelecting)
            stopZoomRectSelection();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void ZeSplittedPlaybackContainer::focusOutEvent(QFocusEvent* event)
{
    m_isCtrlPressed = false;
    m_isMouseInViewport = false;
    QWidget::focusOutEvent(event);
}

void ZeSplittedPlaybackContainer::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void ZeSplittedPlaybackContainer::dragMoveEvent(QDragMoveEvent* /*event*/)
{
    m_isDragging = true;
    update();
}

void ZeSplittedPlaybackContainer::dragLeaveEvent(QDragLeaveEvent* /*event*/)
{
    m_isDragging = false;
    update();
}

void ZeSplittedPlaybackContainer::dropEvent(QDropEvent* event)
{
    QStringList names;
    for (QUrl const& url : event->mimeData()->urls())
        names.append(url.toLocalFile());
    m_isDragging = false;
    update();
    event->acceptProposedAction();
    emit inputFilesDropped(names);
}

} // namespace ze::nox::gui
