#include "metrics/ze_quality_metric_calculator.h"

#include "decoders/ffmpeg_utils.h"
#include "decoders/ze_nox_decoder_factory.h"
#include "metrics/vmaf_driver.h"
#include "metrics/vmaf_plane.h"

#include <QDebug>
#include <QDir>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace ze::nox::core {

QString GetZeVideoQualityMetricName(ZeVideoQualityMetric metric)
{
    switch (metric) {
    case ZE_VIDEO_QUALITY_METRIC_PSNR: return QStringLiteral("PSNR");
    case ZE_VIDEO_QUALITY_METRIC_SSIM: return QStringLiteral("SSIM");
    case ZE_VIDEO_QUALITY_METRIC_VMAF: return QStringLiteral("VMAF");
    default: return QString();
    }
}

namespace {

struct RunContext
{
    ZeQualityMetricCalculator* calculator = nullptr;
};

int ReadFrameCallback(float* [4], float* [4], float* [4], int[4], void* user)
{
    auto* context = static_cast<RunContext*>(user);
    if (!context || !context->calculator)
        return 1;
    return context->calculator->readFrameCallback();
}

void FillFrameCallback(int frame, float* ref[4], float* dis[4], int stride[4], void* user)
{
    auto* context = static_cast<RunContext*>(user);
    if (context && context->calculator)
        context->calculator->fillFrameCallback(frame, ref, dis, stride);
}

void FrameMetricsReadyCallback(int frame, double values[3][4], void* user)
{
    auto* context = static_cast<RunContext*>(user);
    if (!context || !context->calculator)
        return;
    QVector<double> v(12);
    for (int m = 0; m < 3; ++m)
        for (int p = 0; p < 4; ++p)
            v[m * 4 + p] = values[m][p];
    context->calculator->frameMetricsReadyCallback(frame, v);
}

// Luma and chroma weights of the whole-picture value, by the distorted stream's format.
void YuvWeights(AVPixelFormat fmt, double& wY, double& wC)
{
    switch (fmt) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUV420P10LE:
        wY = 2.0 / 3.0;
        wC = 1.0 / 6.0;
        break;
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUV422P10LE:
        wY = 1.0 / 2.0;
        wC = 1.0 / 4.0;
        break;
    default:
        wY = 1.0 / 3.0;
        wC = 1.0 / 3.0;
        break;
    }
}

int CeilShift(int x, int shift)
{
    return -((-x) >> shift);
}

// Plane slot sizes of a picture: luma, two chroma planes of the format's subsampling, none.
void PlaneGeometry(ZeNoxDecoder const* decoder, int widths[4], int heights[4])
{
    int const w = decoder->width();
    int const h = decoder->height();
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(decoder->pixelFormat());
    int const cw = desc ? desc->log2_chroma_w : 1;
    int const ch = desc ? desc->log2_chroma_h : 1;
    widths[0] = w;
    widths[1] = widths[2] = CeilShift(w, cw);
    widths[3] = 0;
    heights[0] = h;
    heights[1] = heights[2] = CeilShift(h, ch);
    heights[3] = 0;
}

// Component c of a picture when the picture holds it, else nullptr.
AVComponentDescriptor const* ComponentOf(AVFrame const* frame, int c)
{
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!desc || c >= desc->nb_components)
        return nullptr;
    AVComponentDescriptor const& comp = desc->comp[c];
    return frame->data[comp.plane] && frame->linesize[comp.plane] > 0 ? &comp : nullptr;
}

// Whether the picture holds the three components the measurement converts.
bool HasThreeComponents(AVFrame const* frame)
{
    return ComponentOf(frame, 0) && ComponentOf(frame, 1) && ComponentOf(frame, 2);
}

// Writes component c of a picture as float rows of `width` samples, `dstStride` bytes apart, on the
// 8-bit scale (8-bit samples as they are, deeper ones x 0.25). Goes by the format's descriptor, so
// semi-planar and packed pictures give proper planes and P010's high-aligned words their values.
void ComponentToFloat(AVFrame const* frame, int c, int width, int height, float* dst, int dstStride)
{
    AVComponentDescriptor const* compPtr = ComponentOf(frame, c);
    if (!compPtr)
        return;
    AVComponentDescriptor const& comp = *compPtr;
    uint8_t const* plane = frame->data[comp.plane];
    int const pitch = frame->linesize[comp.plane];
    bool const wide = comp.depth > 8;
    float const scale = wide ? 0.25f : 1.0f;
    int const step = comp.step;
    unsigned const mask = (1u << comp.depth) - 1u;
    for (int y = 0; y < height; ++y) {
        uint8_t const* row = plane + static_cast<ptrdiff_t>(y) * pitch + comp.offset;
        float* out = reinterpret_cast<float*>(reinterpret_cast<uint8_t*>(dst) + static_cast<ptrdiff_t>(y) * dstStride);
        if (!wide && step == 1) {
            for (int x = 0; x < width; ++x)
                out[x] = static_cast<float>(row[x]);
        } else if (wide && step == 2 && comp.shift == 0) {
            uint16_t const* row16 = reinterpret_cast<uint16_t const*>(row);
            for (int x = 0; x < width; ++x)
                out[x] = static_cast<float>(row16[x]) * scale;
        } else if (wide) {
            for (int x = 0; x < width; ++x) {
                uint16_t v;
                std::memcpy(&v, row + static_cast<ptrdiff_t>(x) * step, sizeof(v));
                out[x] = static_cast<float>((v >> comp.shift) & mask) * scale;
            }
        } else {
            for (int x = 0; x < width; ++x)
                out[x] = static_cast<float>((row[static_cast<ptrdiff_t>(x) * step] >> comp.shift) & mask);
        }
    }
}

void FreePicture(void* opaque, uint8_t* data)
{
    vmaf::FreeSamples(data, reinterpret_cast<std::uintptr_t>(opaque));
}

// Gives a picture of the stream's size and format a buffer of its own on huge pages, which a
// decoder that writes into the picture it is given keeps using from frame to frame (a fresh
// picture on 4 KiB pages costs a page fault per 4 KiB at its first frame). Left as it is on failure.
void AllocateRingPicture(Frame& frame, int width, int height, AVPixelFormat format)
{
    AVFrame* f = frame.avFrame();
    if (!f || width <= 0 || height <= 0 || format == AV_PIX_FMT_NONE)
        return;
    int const size = av_image_get_buffer_size(format, width, height, 32);
    if (size <= 0)
        return;
    uint8_t* data = static_cast<uint8_t*>(vmaf::AllocateSamples(static_cast<std::size_t>(size)));
    if (!data)
        return;
    AVBufferRef* buf =
        av_buffer_create(data, size, &FreePicture, reinterpret_cast<void*>(static_cast<std::uintptr_t>(size)), 0);
    if (!buf) {
        vmaf::FreeSamples(data, static_cast<std::size_t>(size));
        return;
    }
    av_frame_unref(f);
    if (av_image_fill_arrays(f->data, f->linesize, data, format, width, height, 32) < 0) {
        av_buffer_unref(&buf);
        return;
    }
    f->buf[0] = buf;
    f->width = width;
    f->height = height;
    f->format = format;
}

} // namespace

// Decodes one stream's range ahead of the measurement on a thread of its own, into a ring of a few
// frames that are reused from frame to frame. Frame k lives in slot k % kDepth from its decoding
// until the measurement gives it back; the thread decodes frame k once frame k - kDepth is back.
class ZeQualityMetricCalculator::ReadAhead
{
public:
    static constexpr int kDepth = 4;
    enum class State { Ready, Failed, Stopped };

    // Decodes frames 0 .. count - 1 of the decoder's range (as the pull did: the first frame with
    // getFirstFrame when nothing was decoded since opening); ends early on a failure or a stop.
    ReadAhead(ZeNoxDecoder* decoder, int count, std::atomic_bool const& stop)
        : m_decoder(decoder), m_count(count), m_stop(stop), m_thread(&ReadAhead::loop, this)
    {
    }
    ~ReadAhead()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

    // Waits for frame k: Ready with the frame once it is decoded, Failed when its decoding (or an
    // earlier one) failed, Stopped when the thread ended before it because of a stop.
    State wait(int k, Frame*& frame)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return k < m_decoded || m_ended; });
        if (k < m_decoded) {
            frame = &m_frames[k % kDepth];
            return State::Ready;
        }
        return m_failed ? State::Failed : State::Stopped;
    }
    int count() const { return m_count; }
    // Frame k's slot (Ready from wait) may take a later frame.
    void release(int k)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_busy[k % kDepth] = false;
        }
        m_cv.notify_all();
    }

private:
    void loop()
    {
        for (Frame& frame : m_frames)
            AllocateRingPicture(frame, m_decoder->width(), m_decoder->height(), m_decoder->pixelFormat());
        for (int k = 0; k < m_count; ++k) {
            Frame& frame = m_frames[k % kDepth];
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_cv.wait(lock, [&] { return m_quit || !m_busy[k % kDepth]; });
                if (m_quit || m_stop)
                    break;
            }
            ZeNoxCoreError const err =
                m_decoder->curFrameNumber() < 0 ? m_decoder->getFirstFrame(frame) : m_decoder->getNextFrame(frame);
            bool const ok = err == ZE_NOX_CORE_OK && frame.isValid();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!ok) {
                    m_failed = true;
                    break;
                }
                m_busy[k % kDepth] = true;
                ++m_decoded;
            }
            m_cv.notify_all();
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ended = true;
        }
        m_cv.notify_all();
    }

    ZeNoxDecoder* const m_decoder;
    int const m_count;
    std::atomic_bool const& m_stop;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    Frame m_frames[kDepth];
    bool m_busy[kDepth] = {};
    int m_decoded = 0;
    bool m_failed = false;
    bool m_ended = false;
    bool m_quit = false;
    std::thread m_thread; // last: starts once everything above is set up
};

ZeQualityMetricCalculator::ZeQualityMetricCalculator(QObject* parent) : QThread(parent) {}

ZeQualityMetricCalculator::~ZeQualityMetricCalculator()
{
    m_stopRequested = true;
    wait();
    reset();
}

void ZeQualityMetricCalculator::reset()
{
    delete m_distDecoder;
    delete m_refDecoder;
    m_distDecoder = nullptr;
    m_refDecoder = nullptr;
    m_threadCount = 0;
    m_metrics.clear();
    m_stopRequested = false;
    m_frameCount = 0;
    m_framesRead = 0;
    m_framesExpected = 0;
    m_framesDelivered = 0;
    m_pullFailed = false;
    m_finished = false;
}

ZeNoxCoreError ZeQualityMetricCalculator::start(QString const& distFile, StreamParams const* distParams,
                                                QString const& refFile, StreamParams const* refParams, int threads,
                                                int refFirst, int refLast, int distFirst, int distLast,
                                                QSet<ZeVideoQualityMetric> metrics,
                                                YuvRequiredParamsCallbackFn callback)
{
    m_stopRequested = true;
    wait();
    reset();
    m_threadCount = threads;
    m_metrics = metrics;

    // Either decoder failing leaves the calculator as reset: nothing of the pair is kept.
    const ZeStreamType distType = distParams ? distParams->type : DetectStreamTypeByFilename(distFile);
    ZeOpenedNoxDecoder dist = CreateAndOpenNoxDecoder(distType, distFile, distParams, callback, false, true);
    if (dist.result != ZE_NOX_CORE_OK) {
        reset();
        return dist.result;
    }
    const ZeStreamType refType = refParams ? refParams->type : DetectStreamTypeByFilename(refFile);
    ZeOpenedNoxDecoder ref = CreateAndOpenNoxDecoder(refType, refFile, refParams, callback, false, true);
    if (ref.result != ZE_NOX_CORE_OK) {
        reset();
        return ref.result;
    }
    m_distDecoder = dist.decoder.release();
    m_refDecoder = ref.decoder.release();

    // The calculator owns both decoders.
    m_distDecoder->setParent(this);
    m_refDecoder->setParent(this);

    m_refDecoder->setFirstFrameNumber(refFirst);
    m_refDecoder->setLastFrameNumber(refLast);
    m_distDecoder->setFirstFrameNumber(distFirst);
    m_distDecoder->setLastFrameNumber(distLast);
    m_framesExpected = std::min(m_refDecoder->lastFrameNumber() - m_refDecoder->firstFrameNumber(),
                                m_distDecoder->lastFrameNumber() - m_distDecoder->firstFrameNumber()) +
                       1;

    QThread::start(QThread::InheritPriority);
    return ZE_NOX_CORE_OK;
}

void ZeQualityMetricCalculator::stop()
{
    m_stopRequested = true;
    wait();
}

int ZeQualityMetricCalculator::getAvgBitrateKbps() const
{
    return m_distDecoder ? m_distDecoder->bitrateKbps(25.0) : 0;
}

QString ZeQualityMetricCalculator::getVmafColorFormatName() const
{
    if (!m_refDecoder || !m_refDecoder->isOpened())
        return QString();
    return GetBitDepthFromAvPixFmt(m_refDecoder->pixelFormat()) > 8 ? QStringLiteral("yuv420p10le")
                                                                    : QStringLiteral("yuv420p");
}

bool ZeQualityMetricCalculator::checkStreamsMatch() const
{
    if (m_refDecoder->width() != m_distDecoder->width() || m_refDecoder->height() != m_distDecoder->height()) {
        qCritical() << QStringLiteral("Unable to calculate metrics. Resolutions are different: %1x%2 and %3x%4")
                           .arg(m_refDecoder->width())
                           .arg(m_refDecoder->height())
                           .arg(m_distDecoder->width())
                           .arg(m_distDecoder->height());
        return false;
    }
    if (m_refDecoder->pixelFormat() != m_distDecoder->pixelFormat()) {
        qCritical() << QStringLiteral("Unable to calculate metrics. Pixel formats are different: %1 and %2")
                           .arg(static_cast<int>(m_refDecoder->pixelFormat()))
                           .arg(static_cast<int>(m_distDecoder->pixelFormat()));
        return false;
    }
    return true;
}

void ZeQualityMetricCalculator::run()
{
    if (!m_refDecoder || !m_distDecoder || !checkStreamsMatch())
        return;

    m_finished = false;
    RunContext context{this};
    emit progress(0);

    PlaneGeometry(m_refDecoder, m_planeWidths, m_planeHeights);
    m_frameCount = std::min(m_distDecoder->getOriginalFrameCount(), m_refDecoder->getOriginalFrameCount());

    bool const uhd = m_refDecoder->width() > 3839 && m_refDecoder->height() > 2159;
    const QString modelName = uhd ? QStringLiteral("vmaf_4k_v0.6.1.pkl") : QStringLiteral("vmaf_v0.6.1.pkl");
    const QByteArray modelPath = QDir(m_vmafModelsDir).absoluteFilePath(modelName).toUtf8();
    const QByteArray format = getVmafColorFormatName().toUtf8();
    qDebug() << "Start VMAF calculation: format =" << format.constData() << ", model =" << modelPath.constData();

    // Each stream's range is decoded ahead on a thread of its own; the pull only hands the frames
    // over and the driver's workers convert them.
    auto const rangeLength = [](ZeNoxDecoder const* d) {
        return std::max(0, d->lastFrameNumber() - d->firstFrameNumber() + 1);
    };
    ReadAhead refAhead(m_refDecoder, rangeLength(m_refDecoder), m_stopRequested);
    ReadAhead distAhead(m_distDecoder, rangeLength(m_distDecoder), m_stopRequested);
    m_refAhead = &refAhead;
    m_distAhead = &distAhead;
    double pooled = 0.0;
    int const result = compute_vmaf(&pooled, format.constData(), m_planeWidths, m_planeHeights, &ReadFrameCallback,
                                    &context, modelPath.constData(), nullptr, nullptr, 0, 0, 0, 0, 1, 1, 0, nullptr,
                                    m_threadCount, 1, 0, &FrameMetricsReadyCallback, &FillFrameCallback);
    m_refAhead = nullptr;
    m_distAhead = nullptr;
    if (result != 0)
        qCritical() << "Failed to run VMAF quality metric calculation. Error code" << result;

    // A failure, a stop or a short delivery must not look like a finished run.
    m_finished = result == 0 && !m_stopRequested && !m_pullFailed && m_framesDelivered == m_framesExpected;
    emit progress(100);
}

int ZeQualityMetricCalculator::readFrameCallback()
{
    if (!m_refDecoder || !m_distDecoder || !m_refAhead || !m_distAhead)
        return 1;
    if (m_stopRequested)
        return 2;
    // The shorter range ends the measurement: frame k of one range is paired with frame k of the other.
    int const k = m_framesRead;
    if (k >= m_refAhead->count() || k >= m_distAhead->count())
        return 2;

    // Both are always waited for, as both frames were always decoded.
    Frame* ref = nullptr;
    Frame* dist = nullptr;
    ReadAhead::State const refState = m_refAhead->wait(k, ref);
    ReadAhead::State const distState = m_distAhead->wait(k, dist);
    if (refState == ReadAhead::State::Failed || distState == ReadAhead::State::Failed) {
        m_pullFailed = true;
        return 1;
    }
    if (refState != ReadAhead::State::Ready || distState != ReadAhead::State::Ready)
        return 2; // the read-ahead ended at a stop
    if (ref->pixelFormat() != dist->pixelFormat() || ref->pixelFormat() != m_refDecoder->pixelFormat()) {
        qCritical() << QStringLiteral("Unable to calculate metrics. Pixel formats are different: %1 and %2")
                           .arg(static_cast<int>(ref->pixelFormat()))
                           .arg(static_cast<int>(dist->pixelFormat()));
        m_pullFailed = true;
        return 1;
    }

    // The pictures must hold at least the visible size (decoders give exactly that) and every
    // component the conversion reads.
    if (ref->width() < m_planeWidths[0] || ref->height() < m_planeHeights[0] || dist->width() < m_planeWidths[0] ||
        dist->height() < m_planeHeights[0] || !HasThreeComponents(ref->avFrame()) ||
        !HasThreeComponents(dist->avFrame())) {
        m_pullFailed = true;
        return 1;
    }

    ++m_framesRead;
    if (m_frameCount > 0)
        emit progress(m_framesRead * 100 / m_frameCount);
    return 0;
}

void ZeQualityMetricCalculator::fillFrameCallback(int frame, float* ref[4], float* dis[4], int const stride[4])
{
    Frame* refFrame = nullptr;
    Frame* distFrame = nullptr;
    // Handed over by the pull, so both are ready and stay in their slots until released.
    if (m_refAhead->wait(frame, refFrame) == ReadAhead::State::Ready &&
        m_distAhead->wait(frame, distFrame) == ReadAhead::State::Ready) {
        for (int c = 0; c < 3; ++c) {
            if (stride[c] <= 0)
                continue;
            ComponentToFloat(refFrame->avFrame(), c, m_planeWidths[c], m_planeHeights[c], ref[c], stride[c]);
            ComponentToFloat(distFrame->avFrame(), c, m_planeWidths[c], m_planeHeights[c], dis[c], stride[c]);
        }
    }
    m_refAhead->release(frame);
    m_distAhead->release(frame);
}

void ZeQualityMetricCalculator::frameMetricsReadyCallback(int frameNum, QVector<double> const& values)
{
    QVector<double> v = values;
    v.resize(12);
    double wY = 0.0;
    double wC = 0.0;
    if (m_distDecoder)
        YuvWeights(m_distDecoder->pixelFormat(), wY, wC);
    for (int m = 0; m < 3; ++m)
        v[m * 4 + 3] = v[m * 4 + 1] * wC + v[m * 4 + 0] * wY + v[m * 4 + 2] * wC;
    ++m_framesDelivered;
    emit frameMetricsReady(frameNum, v);
}

} // namespace ze::nox::core
