#include "metrics/ze_quality_metric_calculator.h"

#include "decoders/ffmpeg_utils.h"
#include "metrics/vmaf_driver.h"
#include "decoders/ze_nox_decoder_factory.h"

#include <QDebug>
#include <QDir>

#include <algorithm>
#include <cstring>

extern "C" {
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

int ReadFrameCallback(float* ref[4], float* dis[4], float* tmp[4], int stride[4], void* user)
{
    auto* context = static_cast<RunContext*>(user);
    if (!context || !context->calculator)
        return 1;
    QVector<float*> const r = {ref[0], ref[1], ref[2], ref[3]};
    QVector<float*> const d = {dis[0], dis[1], dis[2], dis[3]};
    QVector<float*> const t = {tmp[0], tmp[1], tmp[2], tmp[3]};
    QVector<int> const s = {stride[0], stride[1], stride[2], stride[3]};
    return context->calculator->readFrameCallback(r, d, t, s);
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

// Writes component c of a picture as float rows of `width` samples, `dstStride` bytes apart, on the
// 8-bit scale (8-bit samples as they are, deeper ones x 0.25). Goes by the format's descriptor, so
// semi-planar and packed pictures give proper planes and P010's high-aligned words their values.
bool ComponentToFloat(AVFrame const* frame, int c, int width, int height, float* dst, int dstStride)
{
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!desc || c >= desc->nb_components || width <= 0 || height <= 0)
        return false;
    AVComponentDescriptor const& comp = desc->comp[c];
    uint8_t const* plane = frame->data[comp.plane];
    int const pitch = frame->linesize[comp.plane];
    if (!plane || pitch <= 0)
        return false;
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
    return true;
}

} // namespace

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
    m_distFrame.reset();
    m_refFrame.reset();
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

    int widths[4];
    int heights[4];
    PlaneGeometry(m_refDecoder, widths, heights);
    m_frameCount = std::min(m_distDecoder->getOriginalFrameCount(), m_refDecoder->getOriginalFrameCount());

    bool const uhd = m_refDecoder->width() > 3839 && m_refDecoder->height() > 2159;
    const QString modelName = uhd ? QStringLiteral("vmaf_4k_v0.6.1.pkl") : QStringLiteral("vmaf_v0.6.1.pkl");
    const QByteArray modelPath = QDir(m_vmafModelsDir).absoluteFilePath(modelName).toUtf8();
    const QByteArray format = getVmafColorFormatName().toUtf8();
    qDebug() << "Start VMAF calculation: format =" << format.constData() << ", model =" << modelPath.constData();

    double pooled = 0.0;
    int const result =
        compute_vmaf(&pooled, format.constData(), widths, heights, &ReadFrameCallback, &context, modelPath.constData(),
                     nullptr, nullptr, 0, 0, 0, 0, 1, 1, 0, nullptr, m_threadCount, 1, 0, &FrameMetricsReadyCallback);
    if (result != 0)
        qCritical() << "Failed to run VMAF quality metric calculation. Error code" << result;

    // A failure, a stop or a short delivery must not look like a finished run.
    m_finished = result == 0 && !m_stopRequested && !m_pullFailed && m_framesDelivered == m_framesExpected;
    emit progress(100);
}

int ZeQualityMetricCalculator::readFrameCallback(QVector<float*> const& ref, QVector<float*> const& dis,
                                                 QVector<float*> const& /*tmp*/, QVector<int> const& strides)
{
    if (!m_refDecoder || !m_distDecoder)
        return 1;
    if (m_stopRequested)
        return 2;
    for (ZeNoxDecoder* decoder : {m_refDecoder, m_distDecoder}) {
        if (decoder->curFrameNumber() == decoder->lastFrameNumber() - decoder->firstFrameNumber())
            return 2;
    }

    const ZeNoxCoreError refErr = m_refDecoder->curFrameNumber() < 0 ? m_refDecoder->getFirstFrame(m_refFrame)
                                                                     : m_refDecoder->getNextFrame(m_refFrame);
    const ZeNoxCoreError distErr = m_distDecoder->curFrameNumber() < 0 ? m_distDecoder->getFirstFrame(m_distFrame)
                                                                       : m_distDecoder->getNextFrame(m_distFrame);
    if (refErr != ZE_NOX_CORE_OK || distErr != ZE_NOX_CORE_OK || !m_refFrame.isValid() || !m_distFrame.isValid()) {
        m_pullFailed = true;
        return 1;
    }
    if (m_refFrame.pixelFormat() != m_distFrame.pixelFormat() ||
        m_refFrame.pixelFormat() != m_refDecoder->pixelFormat()) {
        qCritical() << QStringLiteral("Unable to calculate metrics. Pixel formats are different: %1 and %2")
                           .arg(static_cast<int>(m_refFrame.pixelFormat()))
                           .arg(static_cast<int>(m_distFrame.pixelFormat()));
        m_pullFailed = true;
        return 1;
    }

    int widths[4];
    int heights[4];
    PlaneGeometry(m_refDecoder, widths, heights);
    // The pictures must hold at least the visible size (decoders give exactly that).
    if (m_refFrame.width() < widths[0] || m_refFrame.height() < heights[0] || m_distFrame.width() < widths[0] ||
        m_distFrame.height() < heights[0]) {
        m_pullFailed = true;
        return 1;
    }
    for (int c = 0; c < 3 && c < strides.size(); ++c) {
        if (strides[c] <= 0)
            continue;
        if (!ComponentToFloat(m_refFrame.avFrame(), c, widths[c], heights[c], ref[c], strides[c]) ||
            !ComponentToFloat(m_distFrame.avFrame(), c, widths[c], heights[c], dis[c], strides[c])) {
            m_pullFailed = true;
            return 1;
        }
    }

    ++m_framesRead;
    if (m_frameCount > 0)
        emit progress(m_framesRead * 100 / m_frameCount);
    return 0;
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
