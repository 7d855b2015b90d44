#include "playback/ze_splitted_playback_container.h"

#include "decoders/ffmpeg_utils.h"
#include "decoders/ze_nox_decoder.h"
#include "app/ze_nox_gui_app.h"
#include "app/ze_nox_gui_settings.h"
#include "common/ze_nox_core_error.h"
#include "common/ze_stream.h"

#include <QCursor>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QUrl>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace ze::nox::gui {

using core::Component;
using core::Frame;
using core::ZeNoxDecoder;
using Stepper = ZeSplittedPlaybackStepper;
using View = ZeSplittedPlaybackViewport;

const QBrush ZeSplittedPlaybackContainer::m_splitLineBrush(Qt::gray, Qt::SolidPattern);
const QPen ZeSplittedPlaybackContainer::m_highlighDraggingPen(QBrush(QColor(130, 130, 130)), 3, Qt::DotLine);
const QString ZeSplittedPlaybackContainer::m_helpStringHeader1 = QStringLiteral("Open a project:");
const QString ZeSplittedPlaybackContainer::m_helpStringText1 = QStringLiteral("- File > Open Project...\n");
const QString ZeSplittedPlaybackContainer::m_helpStringHeader2 = QStringLiteral("Add video files:");
const QString ZeSplittedPlaybackContainer::m_helpStringText2 =
    QStringLiteral("- Open an existing project\n- Press '+' in Project View\n- Drop files here\n\n"
                   "Files are added to Project View\n");

namespace {

ZeNoxGuiSettings* Settings()
{
    ZeNoxGuiApp* app = theApp();
    return app ? app->settings() : nullptr;
}

constexpr PlaybackRole kRoles[] = {PLAYBACK_ROLE_LEFT, PLAYBACK_ROLE_RIGHT, PLAYBACK_ROLE_REFERENCE};
constexpr PlaybackRole kSideRoles[] = {PLAYBACK_ROLE_LEFT, PLAYBACK_ROLE_RIGHT};

} // namespace

void ZeSplittedPlaybackContainer::Side::clearPictures()
{
    frame.reset();
    diffFrame.reset();
    image = QImage();
    diffImage = QImage();
}

ZeSplittedPlaybackContainer::ZeSplittedPlaybackContainer(QWidget* parent)
    : QWidget(parent), m_splitLinePen(QBrush(Qt::gray), 1, Qt::SolidLine),
      m_zoomRectPen(QBrush(Qt::gray), 1, Qt::SolidLine),
      m_dragHighlightBrush(QColor(170, 170, 170, 170), Qt::SolidPattern),
      m_infoBackgroundBrush(QColor(255, 255, 255, 220), Qt::SolidPattern)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("ZeSplittedPlaybackContainer"));
    setAttribute(Qt::WA_MouseTracking);
    setAutoFillBackground(false);
    setAcceptDrops(true);

    if (ZeNoxGuiSettings* settings = Settings()) {
        // A stored value is untrusted: anything outside 0..1 (or not a number) means the middle.
        double const pos = settings->getVericalSplitLineRelPos();
        m_view.setSplitLineRelPos((std::isfinite(pos) && pos >= 0.0 && pos <= 1.0) ? pos : 0.5);
    }
    m_view.setWidgetSize(size());
}

ZeSplittedPlaybackContainer::~ZeSplittedPlaybackContainer()
{
    m_playbackTimer.stop();
    if (ZeNoxGuiSettings* settings = Settings())
        settings->saveVericalSplitLineRelPos(m_view.splitLineRelPos());
}

// ---- decoders ----

bool ZeSplittedPlaybackContainer::anyDecoder() const
{
    return std::any_of(m_sides.begin(), m_sides.end(), [](Side const& s) { return s.dec != nullptr; });
}

bool ZeSplittedPlaybackContainer::isPresentAndOpened(ZeNoxDecoder const* dec)
{
    return dec && dec->isOpened();
}

void ZeSplittedPlaybackContainer::setSideDec(PlaybackRole role, ZeNoxDecoder* dec)
{
    Side& s = side(role);
    if (dec != s.dec) {
        // Frames filled by another decoder may hold planes of another size or format, which the
        // AV1 and VVC decoders would write into: the place starts afresh.
        s.clearPictures();
        setProblem(s, QString());
    }
    s.dec = dec;
    s.label = QFileInfo(dec->filename()).completeBaseName();
}

void ZeSplittedPlaybackContainer::setLeftDec(ZeNoxDecoder* dec)
{
    if (!dec) {
        closeLeftFile();
        return;
    }
    setSideDec(PLAYBACK_ROLE_LEFT, dec);
    resetViewportForDecoders();
}

void ZeSplittedPlaybackContainer::setRightDec(ZeNoxDecoder* dec)
{
    if (!dec) {
        closeRightFile();
        return;
    }
    setSideDec(PLAYBACK_ROLE_RIGHT, dec);
    resetViewportForDecoders();
}

void ZeSplittedPlaybackContainer::setRefDec(ZeNoxDecoder* dec)
{
    // An emptied reference does not stop playback: the left and right streams play on.
    if (dec)
        setSideDec(PLAYBACK_ROLE_REFERENCE, dec);
    else
        closeReferenceFile();
    resetViewportForDecoders();
}

void ZeSplittedPlaybackContainer::resetViewportForDecoders()
{
    ZeNoxDecoder const* first = nullptr;
    for (Side const& s : m_sides)
        if (!first && s.dec)
            first = s.dec;
    syncViewGeometry();
    double const w = first ? first->width() : width();
    double const h = first ? first->height() : height();
    m_view.centre(w, h);
    update();
}

void ZeSplittedPlaybackContainer::closeSide(PlaybackRole role)
{
    Side& s = side(role);
    s.clearPictures();
    s.dec = nullptr;
    s.label.clear();
    setProblem(s, QString());
}

void ZeSplittedPlaybackContainer::setProblem(Side& s, QString const& problem)
{
    if (s.problem == problem)
        return;
    s.problem = problem;
    emit problemsChanged();
}

QString ZeSplittedPlaybackContainer::problemOf(ZeNoxDecoder const* dec) const
{
    for (Side const& s : m_sides)
        if (dec && s.dec == dec)
            return s.problem;
    return QString();
}

void ZeSplittedPlaybackContainer::closeLeftFile()
{
    pause();
    closeSide(PLAYBACK_ROLE_LEFT);
    update();
}

void ZeSplittedPlaybackContainer::closeRightFile()
{
    pause();
    closeSide(PLAYBACK_ROLE_RIGHT);
    update();
}

void ZeSplittedPlaybackContainer::closeReferenceFile()
{
    closeSide(PLAYBACK_ROLE_REFERENCE);
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
    if (dec == side(PLAYBACK_ROLE_LEFT).dec)
        closeLeftFile();
    else if (dec == side(PLAYBACK_ROLE_RIGHT).dec)
        closeRightFile();
    else if (dec == side(PLAYBACK_ROLE_REFERENCE).dec)
        closeReferenceFile();
}

int ZeSplittedPlaybackContainer::totalFrameCount() const
{
    int n = 0;
    for (Side const& s : m_sides)
        n = std::max(n, Stepper::framesInRange(s.dec));
    return n;
}

int ZeSplittedPlaybackContainer::curFrameNumber() const
{
    int n = -1;
    for (Side const& s : m_sides)
        if (isPresentAndOpened(s.dec))
            n = std::max(n, s.dec->curFrameNumber());
    return n;
}

// ---- steps ----

ZeSplittedPlaybackStepper ZeSplittedPlaybackContainer::stepper()
{
    Stepper::Places places;
    for (PlaybackRole role : kRoles)
        places[role] = {side(role).dec, &side(role).frame};
    return Stepper(places);
}

bool ZeSplittedPlaybackContainer::applyStep(Stepper::Result const& result)
{
    for (PlaybackRole role : kRoles) {
        Side& s = side(role);
        switch (result.outcomes[role]) {
        case Stepper::NOT_STEPPED: break;
        case Stepper::FAILED:
        case Stepper::RAN_OUT: s.frame.fillImage(s.image, m_visibleComponent); break;
        case Stepper::DELIVERED: {
            if (s.image.isNull())
                s.frame.fillImage(s.image, core::COMPONENT_YUV);
            bool const isRef = role == PLAYBACK_ROLE_REFERENCE;
            if ((isRef && m_viewMode == VIEW_MODE_REFERENCE) || (!isRef && m_viewMode == VIEW_MODE_LEFT_RIGHT))
                s.frame.fillImage(s.image, m_visibleComponent);
            break;
        }
        }
    }
    // A place left without a picture says why: a stream that has no frame there any more has
    // ended, any other failure is a frame that cannot be decoded.
    for (PlaybackRole role : kRoles) {
        Side& s = side(role);
        if (result.outcomes[role] == Stepper::NOT_STEPPED || !s.dec)
            continue;
        int const last = Stepper::framesInRange(s.dec) - 1;
        int const asked = result.frames[role];
        QString problem;
        if (s.image.isNull()) {
            if (result.errors[role] == core::ZE_NOX_CORE_END_OF_FILE || asked > last)
                problem = last < 0 ? tr("has no frames") : tr("ends at frame %1").arg(last);
            else
                problem = tr("cannot decode frame %1: %2").arg(asked).arg(core::ErrToString(result.errors[role]));
        }
        setProblem(s, problem);
    }
    if (!result.anyStepped)
        return false;

    if (m_viewMode == VIEW_MODE_HEATMAP_DIFF || m_viewMode == VIEW_MODE_BW_DIFF) {
        applyDiffModeMaximum();
        fillHeatMapImages();
    }
    syncViewGeometry();
    m_view.fitViewportSize();
    update();

    int n = 0;
    for (Side const& s : m_sides)
        n = std::max(n, s.dec ? s.dec->curFrameNumber() : 0);
    emit curFrameChanged(n);
    return result.anyDelivered;
}

void ZeSplittedPlaybackContainer::showFirstFrame()
{
    applyStep(stepper().first());
}

void ZeSplittedPlaybackContainer::showNextFrame()
{
    applyStep(stepper().next());
}

void ZeSplittedPlaybackContainer::showFrame(int frameNum)
{
    applyStep(stepper().frame(frameNum));
}

void ZeSplittedPlaybackContainer::showPrevFrame()
{
    applyStep(stepper().previous());
}

void ZeSplittedPlaybackContainer::showLastFrame()
{
    applyStep(stepper().last());
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
    bool const delivered = applyStep(stepper().next());
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

void ZeSplittedPlaybackContainer::setHeatmapMaxValue(int maximum)
{
    if (maximum == m_heatmapMaxValue)
        return;
    m_heatmapMaxValue = maximum;
    emit heatmapMaxValueChanged(maximum);
}

void ZeSplittedPlaybackContainer::applyDiffModeMaximum()
{
    setHeatmapMaxValue(m_viewMode == VIEW_MODE_BW_DIFF ? 1 : 127);
}

void ZeSplittedPlaybackContainer::refillSideImages()
{
    for (PlaybackRole role : kSideRoles) {
        Side& s = side(role);
        if (isPresentAndOpened(s.dec))
            s.frame.fillImage(s.image, m_visibleComponent);
    }
}

void ZeSplittedPlaybackContainer::refillRefImage()
{
    Side& ref = side(PLAYBACK_ROLE_REFERENCE);
    if (isPresentAndOpened(ref.dec))
        ref.frame.fillImage(ref.image, m_visibleComponent);
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
    setHeatmapMaxValue(std::max(1, maximum));
    fillHeatMapImages();
    update();
}

void ZeSplittedPlaybackContainer::fillHeatMapImages()
{
    Side const& ref = side(PLAYBACK_ROLE_REFERENCE);
    for (PlaybackRole role : kSideRoles) {
        Side& s = side(role);
        if (isPresentAndOpened(s.dec) && isPresentAndOpened(ref.dec)) {
            Frame::getDiff(s.diffFrame, s.frame, ref.frame);
            s.diffFrame.fillImageAsHeatMap(s.diffImage, m_visibleComponent, m_heatmapMaxValue);
        } else {
            // Without both streams there is no difference: no stale heat map of an earlier pair.
            s.diffFrame.reset();
            s.diffImage = QImage();
        }
    }
}

// ---- geometry ----

QSizeF ZeSplittedPlaybackContainer::pictureSize() const
{
    for (Side const& s : m_sides)
        if (!s.image.isNull())
            return s.image.size();
    return QSizeF();
}

void ZeSplittedPlaybackContainer::syncViewGeometry()
{
    m_view.setWidgetSize(size());
    m_view.setPictureSize(pictureSize());
}

void ZeSplittedPlaybackContainer::setViewport(QRectF const& rect)
{
    syncViewGeometry();
    m_view.setViewport(rect);
    update();
}

void ZeSplittedPlaybackContainer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    syncViewGeometry();
    m_view.resized(event->oldSize(), anyDecoder());
    update();
}

// ---- zoom ----

void ZeSplittedPlaybackContainer::zoom(double ratio, QPointF const& relativeToPoint)
{
    syncViewGeometry();
    if (!m_view.zoom(ratio, relativeToPoint))
        return;
    update();
    emit zoomRatioChanged(m_view.zoomRatio());
}

void ZeSplittedPlaybackContainer::zoomIn(QPointF relativeToPoint)
{
    zoom(m_view.zoomRatio() * View::kZoomInFactor, relativeToPoint);
}

void ZeSplittedPlaybackContainer::zoomIn()
{
    zoomIn(QPointF());
}

void ZeSplittedPlaybackContainer::zoomOut(QPointF relativeToPoint)
{
    zoom(m_view.zoomRatio() * View::kZoomOutFactor, relativeToPoint);
}

void ZeSplittedPlaybackContainer::zoomOut()
{
    zoomOut(QPointF());
}

void ZeSplittedPlaybackContainer::zoomToActualSize()
{
    zoom(1.0, QPointF());
    syncViewGeometry();
    m_view.centreCurrent();
    update();
}

void ZeSplittedPlaybackContainer::resetToDefaultView()
{
    m_view.setSplitLineRelPos(0.5);
    zoomToActualSize();
}

void ZeSplittedPlaybackContainer::zoomToWindowSize()
{
    zoomToActualSize();
    if (m_view.viewport().width() <= 0)
        return;
    syncViewGeometry();
    if (!m_view.fit())
        return;
    update();
    emit zoomRatioChanged(m_view.zoomRatio());
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
    View::Parts const parts = m_view.parts();
    QRectF const viewport = m_view.viewport();
    Side const& left = side(PLAYBACK_ROLE_LEFT);
    Side const& right = side(PLAYBACK_ROLE_RIGHT);
    Side const& ref = side(PLAYBACK_ROLE_REFERENCE);
    bool const diffMode = m_viewMode == VIEW_MODE_HEATMAP_DIFF || m_viewMode == VIEW_MODE_BW_DIFF;
    if (m_viewMode == VIEW_MODE_REFERENCE) {
        if (ref.image.isNull())
            drawMissingPicture(painter, viewport, ref);
        else
            drawFrame(painter, ref.image, ref.frame, parts.refSrc, viewport);
    } else if (m_viewMode == VIEW_MODE_LEFT_RIGHT) {
        if (left.image.isNull())
            drawMissingPicture(painter, parts.leftDst, left);
        else
            drawFrame(painter, left.image, left.frame, parts.leftSrc, parts.leftDst);
        if (right.image.isNull())
            drawMissingPicture(painter, parts.rightDst, right);
        else
            drawFrame(painter, right.image, right.frame, parts.rightSrc, parts.rightDst);
    } else if (diffMode) {
        // A difference needs both pictures: the part tells which of them is missing and why.
        auto diffPart = [&](Side const& s, QRectF const& src, QRectF const& dst) {
            if (!s.image.isNull() && !s.diffImage.isNull())
                drawFrame(painter, s.diffImage, s.diffFrame, src, dst);
            else if (s.image.isNull() || !ref.dec)
                drawMissingPicture(painter, dst, s.image.isNull() ? s : ref);
            else if (ref.image.isNull())
                drawMissingPicture(painter, dst, ref);
            else
                drawProblem(painter, dst, s.label, tr("differs from the reference in picture size or format"));
        };
        diffPart(left, parts.leftSrc, parts.leftDst);
        diffPart(right, parts.rightSrc, parts.rightDst);
    }
    if (m_viewMode == VIEW_MODE_LEFT_RIGHT || diffMode)
        drawVerticalSplitLine(painter, parts.splitLine);
    drawStreamsInfo(painter, parts);
    if (m_isDragging) {
        int const w = m_highlighDraggingPen.width();
        painter.setPen(m_highlighDraggingPen);
        painter.setBrush(m_dragHighlightBrush);
        painter.drawRect(QRect(1, 1, width() - w - 1, height() - w - 1));
    }
    if (m_isZoomRectSelecting)
        drawZoomRectSelection(painter);
    drawZoomRatio(painter, parts);
}

void ZeSplittedPlaybackContainer::drawFrame(QPainter& painter, QImage const& image, Frame const& frame,
                                            QRectF const& src, QRectF const& dst)
{
    painter.drawImage(dst, image, src);
    double const z = m_view.zoomRatio();
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
                text =
                    QStringLiteral("%1\n%2\n%3")
                        .arg(QString::number(pv.c0, base), QString::number(pv.c1, base), QString::number(pv.c2, base));
                break;
            case core::COMPONENT_U: text = QString::number(pv.c1, base); break;
            case core::COMPONENT_V: text = QString::number(pv.c2, base); break;
            default: text = QString::number(pv.c0, base); break;
            }
            painter.drawText(cell, Qt::AlignCenter, text);
        }
    }
}

void ZeSplittedPlaybackContainer::drawStreamsInfo(QPainter& painter, View::Parts const& parts)
{
    if (!m_showStreamInfo)
        return;
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    int const h = QFontMetrics(font).height();
    double const ww = width();
    double const wh = height();
    QRectF const v = m_view.viewport();

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
    Side const& left = side(PLAYBACK_ROLE_LEFT);
    Side const& right = side(PLAYBACK_ROLE_RIGHT);
    Side const& ref = side(PLAYBACK_ROLE_REFERENCE);
    if (left.dec) {
        QRectF const& part = parts.leftDst;
        double const x = part.x() < 0 ? 5 : part.x() + 5;
        double const w = std::max(0.0, part.right() - std::max(part.x(), 0.0) - 10);
        box(QRectF(x, y, w, h), Qt::AlignLeft | Qt::AlignBottom, Qt::blue, text(left.dec, left.label));
    }
    if (right.dec) {
        QRectF const& part = parts.rightDst;
        double const x = part.x() < 0 ? 5 : part.x() + 5;
        double const w = std::max(0.0, std::min(ww - 1, part.right()) - std::max(part.x(), 0.0) - 10);
        box(QRectF(x, y, w, h), Qt::AlignRight | Qt::AlignBottom, QColor(3, 172, 19), text(right.dec, right.label));
    }
    if (ref.dec) {
        double const ry = v.y() > 0 ? v.y() + 5 : 5;
        box(QRectF(v.x(), ry, v.width(), h), Qt::AlignHCenter | Qt::AlignTop, QColor(55, 55, 55),
            text(ref.dec, ref.label));
    }
}

void ZeSplittedPlaybackContainer::drawZoomRatio(QPainter& painter, View::Parts const& parts)
{
    if (pictureSize().isEmpty())
        return;
    QFont font = painter.font();
    font.setPixelSize(36);
    painter.setFont(font);
    painter.setPen(Qt::darkGray);
    int const left = int(std::min(double(width() - 1), parts.rightDst.right()) - 135);
    int const top = int(std::max(0.0, parts.rightDst.y()) + 5);
    painter.drawText(QRect(left, top, 130, 40), Qt::AlignRight | Qt::AlignTop,
                     QStringLiteral("x%1").arg(m_view.zoomRatio(), 3, 'f', 2));
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

void ZeSplittedPlaybackContainer::drawMissingPicture(QPainter& painter, QRectF const& rect, Side const& s)
{
    if (!s.dec)
        drawHelpText(painter, rect);
    else if (!s.problem.isEmpty())
        drawProblem(painter, rect, s.label, s.problem);
}

void ZeSplittedPlaybackContainer::drawProblem(QPainter& painter, QRectF const& rect, QString const& name,
                                              QString const& problem)
{
    painter.save();
    QFont font = painter.font();
    font.setPixelSize(14);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(176, 0, 0));
    // The name above, the reason below, both centred in the part and wrapped to it.
    QRectF const area = rect.adjusted(10, 10, -10, -10);
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("%1\n%2").arg(name, problem));
    painter.restore();
}

void ZeSplittedPlaybackContainer::drawVerticalSplitLine(QPainter& painter, QRectF const& line)
{
    painter.setPen(m_splitLinePen);
    painter.setBrush(m_splitLineBrush);
    painter.drawRect(line);
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
    if (!anyDecoder()) {
        event->ignore();
        return;
    }
    int const d = event->angleDelta().y() / 4;
    if (d == 0) {
        event->ignore();
        return;
    }
    QPointF const pos = QPointF(mapFromGlobal(QCursor::pos())) - m_view.viewport().topLeft();
    if (d > 0)
        zoomIn(pos);
    else
        zoomOut(pos);
}

void ZeSplittedPlaybackContainer::mousePressEvent(QMouseEvent* event)
{
    syncViewGeometry();
    bool const anyDec = anyDecoder();
    QPointF const pos = event->localPos();
    QRectF const v = m_view.viewport();
    if (event->button() == Qt::LeftButton) {
        if (anyDec && m_isCtrlPressed && v.contains(pos) && !m_isSplitLineDragging && !m_isPanning) {
            m_isZoomRectSelecting = true;
            m_zoomRectStart = pos;
            m_zoomRect = QRectF();
            setCursor(Qt::CrossCursor);
        }
        if (m_view.parts().splitLineGrabArea.contains(pos.toPoint()) && !m_isPanning && !m_isZoomRectSelecting) {
            m_isSplitLineDragging = true;
            m_lastSplitLineDragX = pos.x();
        }
        if (anyDec && v.contains(QPointF(int(pos.x()), int(pos.y()))) && !m_isSplitLineDragging &&
            !m_isZoomRectSelecting) {
            m_isPanning = true;
            m_panStart = pos.toPoint();
            setCursor(Qt::ClosedHandCursor);
        }
    } else if (event->button() == Qt::RightButton) {
        m_view.setSplitLineRelPos(0.5);
        zoomToActualSize();
    }
}

void ZeSplittedPlaybackContainer::mouseMoveEvent(QMouseEvent* event)
{
    syncViewGeometry();
    QPointF const pos = event->localPos();
    m_isMouseInViewport = m_view.viewport().contains(pos);
    bool const overLine = m_view.parts().splitLineGrabArea.contains(pos.toPoint());
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
        if (height() <= 0)
            return;
        m_zoomRect = m_view.selection(m_zoomRectStart, pos);
        update();
    } else if (m_isSplitLineDragging) {
        if (pos.x() != m_lastSplitLineDragX && m_view.viewport().width() > 0) {
            m_view.dragSplitLineTo(pos.x());
            update();
            m_lastSplitLineDragX = pos.x();
        }
    } else if (m_isPanning) {
        QPoint const q = pos.toPoint();
        if (q == m_panStart)
            return;
        m_view.pan(q.x() - m_panStart.x(), q.y() - m_panStart.y());
        update();
        m_panStart = q;
    }
}

void ZeSplittedPlaybackContainer::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    syncViewGeometry();
    if (m_isZoomRectSelecting) {
        if (m_zoomRect.width() > 2 && m_zoomRect.height() > 2) {
            QRectF const sel = m_zoomRect;
            stopZoomRectSelection();
            if (m_view.zoomToSelection(sel)) {
                update();
                emit zoomRatioChanged(m_view.zoomRatio());
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
        if (anyDecoder() && m_isMouseInViewport) {
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
