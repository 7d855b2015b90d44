#include "display/frame.h"

#include "decoders/ffmpeg_utils.h"

#include <QDebug>
#include <QFile>
#include <QImage>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace ze::nox::core {

// clang-format off
const uint8_t heatMapGradient[64][3] = {
    // 0-7
    {255, 255, 255}, {255, 255, 238}, {255, 255, 221}, {255, 255, 204},
    {255, 255, 188}, {255, 255, 172}, {255, 255, 156}, {255, 255, 142},
    // 8-15
    {255, 255, 128}, {255, 255, 114}, {255, 255, 102}, {255, 255, 90},
    {255, 255, 80}, {255, 255, 72}, {255, 255, 66}, {255, 255, 61},
    // 16-23
    {255, 248, 58}, {255, 241, 56}, {255, 235, 55}, {255, 229, 54},
    {255, 222, 53}, {255, 216, 51}, {255, 209, 50}, {255, 204, 49},
    // 24-31
    {255, 197, 48}, {255, 191, 47}, {254, 185, 46}, {254, 179, 44},
    {254, 172, 43}, {254, 167, 42}, {254, 161, 41}, {254, 155, 40},
    // 32-39
    {245, 144, 38}, {237, 134, 35}, {229, 123, 33}, {221, 112, 31},
    {212, 102, 29}, {204, 93, 27}, {196, 82, 25}, {189, 73, 23},
    // 40-47
    {180, 64, 21}, {172, 55, 19}, {165, 46, 17}, {157, 38, 16},
    {149, 29, 14}, {142, 22, 12}, {134, 16, 10}, {127, 5, 9},
    // 48-55
    {118, 4, 8}, {109, 4, 7}, {100, 3, 6}, {93, 3, 5},
    {84, 2, 4}, {76, 2, 3}, {68, 1, 3}, {60, 1, 2},
    // 56-63
    {52, 1, 2}, {45, 1, 1}, {38, 0, 1}, {31, 0, 1},
    {25, 0, 0}, {18, 0, 0}, {10, 0, 0}, {0, 0, 0},
};
// clang-format on

QString GetComponentName(Component component)
{
    switch (component) {
    case COMPONENT_Y: return QStringLiteral("Y");
    case COMPONENT_U: return QStringLiteral("U");
    case COMPONENT_V: return QStringLiteral("V");
    case COMPONENT_YUV: return QStringLiteral("YUV");
    default: return QString();
    }
}

const QString Frame::m_origImageJpegFormat = QStringLiteral("JPEG");

Frame::Frame() : m_frame(av_frame_alloc()) {}

Frame::~Frame()
{
    clear();
}

void Frame::clear()
{
    av_frame_free(&m_frame);
    av_frame_free(&m_frame8);
    clearRgbFrame();
    clearScaleContext();
}

void Frame::clearRgbFrame()
{
    av_frame_free(&m_rgbFrame);
}

void Frame::clearScaleContext()
{
    sws_freeContext(m_scaleContext);
    m_scaleContext = nullptr;
}

void Frame::reset()
{
    clear();
    m_frame = av_frame_alloc();
}

bool Frame::isValid() const
{
    return m_frame && m_frame->linesize[0] > 0 && m_frame->data[0];
}

int Frame::bitDepth() const
{
    return m_frame ? GetBitDepthFromAvPixFmt(static_cast<AVPixelFormat>(m_frame->format)) : 0;
}

int Frame::width() const
{
    return m_frame ? m_frame->width : 0;
}

int Frame::height() const
{
    return m_frame ? m_frame->height : 0;
}

AVPixelFormat Frame::pixelFormat() const
{
    return m_frame ? static_cast<AVPixelFormat>(m_frame->format) : AV_PIX_FMT_NONE;
}

bool Frame::allocatePicture(int width, int height, AVPixelFormat format)
{
    if (isValid() && m_frame->width == width && m_frame->height == height && m_frame->format == format &&
        av_frame_is_writable(m_frame))
        return true;
    reset();
    if (!m_frame)
        return false;
    m_frame->width = width;
    m_frame->height = height;
    m_frame->format = format;
    int const ret = av_frame_get_buffer(m_frame, 1);
    if (ret < 0) {
        qWarning() << "Failed to allocate data for image. Error code" << ret;
        reset();
        return false;
    }
    return true;
}

namespace {

// Samples are bytes up to 8 bits of depth and little-endian 16-bit words above.
int SampleBytes(AVPixelFormat format)
{
    return GetBitDepthFromAvPixFmt(format) > 8 ? 2 : 1;
}

// True when the sample values of the format can be read component by component: whole bytes or
// little-endian words, steps and offsets in whole samples, no palette, no hardware surface.
bool HasReadableSamples(AVPixFmtDescriptor const* desc, int sampleBytes)
{
    if (!desc || desc->nb_components < 1)
        return false;
    if (desc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BE |
                       AV_PIX_FMT_FLAG_FLOAT))
        return false;
    for (int c = 0; c < std::min<int>(desc->nb_components, 3); ++c) {
        AVComponentDescriptor const& comp = desc->comp[c];
        if (comp.depth > 8 * sampleBytes || comp.step % sampleBytes || comp.offset % sampleBytes)
            return false;
    }
    return true;
}

// Where the samples of one component lie: interleaved (NV12, P010) and packed (YUYV) layouts
// have a step above one sample and an offset into the row.
struct ComponentRows
{
    uint8_t const* base = nullptr; // plane start plus the component's offset
    ptrdiff_t linesize = 0;
    int step = 0;  // in samples
    int shift = 0; // right shift of the stored word
    int log2w = 0;
    int log2h = 0;
};

// The component c of the picture; a component the format lacks reads as 0 everywhere.
template <typename T>
ComponentRows GetComponentRows(AVFrame const* frame, AVPixFmtDescriptor const* desc, int c)
{
    static const T kZero = 0;
    ComponentRows rows;
    if (c >= desc->nb_components || !frame->data[desc->comp[c].plane]) {
        rows.base = reinterpret_cast<uint8_t const*>(&kZero);
        return rows;
    }
    AVComponentDescriptor const& comp = desc->comp[c];
    rows.base = frame->data[comp.plane] + comp.offset;
    rows.linesize = frame->linesize[comp.plane];
    rows.step = comp.step / static_cast<int>(sizeof(T));
    rows.shift = comp.shift;
    if (c > 0) {
        rows.log2w = desc->log2_chroma_w;
        rows.log2h = desc->log2_chroma_h;
    }
    return rows;
}

template <typename T>
inline const T* RowOf(ComponentRows const& r, int y)
{
    return reinterpret_cast<const T*>(r.base + static_cast<ptrdiff_t>(y >> r.log2h) * r.linesize);
}

template <typename T>
inline int SampleAt(ComponentRows const& r, const T* row, int x)
{
    return row[static_cast<ptrdiff_t>(x >> r.log2w) * r.step] >> r.shift;
}

// Colour index of each value below the maximum; values at or above it take index 63.
class HeatIndex
{
public:
    explicit HeatIndex(int maximum) : m_index(static_cast<size_t>(std::min(maximum, 1 << 16)) + 1)
    {
        int const n = static_cast<int>(m_index.size()) - 1;
        for (int v = 0; v < n; ++v)
            m_index[static_cast<size_t>(v)] = static_cast<uint8_t>(std::min(63, (63 * v) / maximum));
        m_index[static_cast<size_t>(n)] = 63;
        m_last = n;
    }
    inline void put(uint8_t* out, int x, int v) const
    {
        uint8_t const* colour = heatMapGradient[m_index[static_cast<size_t>(std::min(v, m_last))]];
        out[3 * x] = colour[0];
        out[3 * x + 1] = colour[1];
        out[3 * x + 2] = colour[2];
    }
    // Values from here on take index 63.
    int last() const { return m_last; }

private:
    std::vector<uint8_t> m_index;
    int m_last = 0;
};

// Packed R, G, B (low byte first) of every key of a row kernel, so a pixel is one load and
// one store. keyOf maps a key to the value HeatIndex::put would be given.
class HeatColours
{
public:
    template <typename KeyFn>
    HeatColours(HeatIndex const& heat, int keys, KeyFn keyOf) : m_rgb(static_cast<size_t>(keys))
    {
        for (int k = 0; k < keys; ++k) {
            uint8_t px[3];
            heat.put(px, 0, keyOf(k));
            m_rgb[static_cast<size_t>(k)] = px[0] | (px[1] << 8) | (px[2] << 16);
        }
    }
    // Writes the colour of key k at pixel x with one 4-byte store; its fourth byte lands on
    // the next pixel, so the last pixel of a row is written with putLast.
    inline void put(uint8_t* out, int x, int k) const
    {
        const uint32_t c = m_rgb[static_cast<size_t>(k)];
        std::memcpy(out + 3 * x, &c, 4);
    }
    inline void putLast(uint8_t* out, int x, int k) const
    {
        const uint32_t c = m_rgb[static_cast<size_t>(k)];
        std::memcpy(out + 3 * x, &c, 3);
    }
    int keys() const { return static_cast<int>(m_rgb.size()); }

private:
    std::vector<uint32_t> m_rgb;
};

// Component 3 of one row of a planar picture with chroma shifts LW, LH of 0 or 1. The key is
// (Y << (LW + LH)) + ((U + V) << LW); it is 0 exactly when Y, U and V are all 0.
template <typename T, int LW, int LH>
void CombinedRowPlanar(uint8_t* out, const T* rowY, const T* rowU, const T* rowV, int width, HeatColours const& c)
{
    int const last = c.keys() - 1;
    auto key = [&](int x) { return std::min((rowY[x] << (LW + LH)) + ((rowU[x >> LW] + rowV[x >> LW]) << LW), last); };
    for (int x = 0; x + 1 < width; ++x)
        c.put(out, x, key(x));
    if (width > 0)
        c.putLast(out, width - 1, key(width - 1));
}

// Colours of CombinedRowPlanar's keys for samples of the given depth.
HeatColours CombinedColours(HeatIndex const& heat, int depth, int lw, int lh)
{
    int const maxSample = (1 << depth) - 1;
    int const keys = (maxSample << (lw + lh)) + ((2 * maxSample) << lw) + 1;
    return HeatColours(heat, keys, [lw, lh](int key) {
        int m = (key >> (lw + lh)) / 3;
        return m + (m == 0 && key != 0);
    });
}

template <typename T>
void DrawHeatMap(AVFrame* dst, AVFrame const* src, AVPixFmtDescriptor const* desc, Component component, int maximum)
{
    int const width = src->width;
    int const height = src->height;
    const HeatIndex heat(maximum);
    const ComponentRows y0 = GetComponentRows<T>(src, desc, 0);
    const ComponentRows u0 = GetComponentRows<T>(src, desc, 1);
    const ComponentRows v0 = GetComponentRows<T>(src, desc, 2);
    // Component 3: m = ((t * Y + (t * U) / sh + (t * V) / sh) / t) / 3 with sw, sh the chroma
    // shifts plus one and t = sw * sh. For shifts of 0 and 1 they are powers of two and the
    // divisions become shifts.
    int const sw = desc->log2_chroma_w + 1;
    int const sh = desc->log2_chroma_h + 1;
    int const t = sw * sh;
    bool const shifts = desc->log2_chroma_w <= 1 && desc->log2_chroma_h <= 1;
    int const lt = desc->log2_chroma_w + desc->log2_chroma_h;
    int const lw = desc->log2_chroma_w;
    bool const planar = y0.step == 1 && u0.step == 1 && v0.step == 1 && !y0.shift && !u0.shift && !v0.shift;
    // Colour tables for the common layouts (samples of at most 12 bits keep them small).
    int const depth = desc->comp[0].depth;
    bool const tables = depth <= 12 && desc->nb_components >= (component == COMPONENT_Y ? 1 : 3);
    std::unique_ptr<HeatColours> combined;
    std::unique_ptr<HeatColours> direct;
    if (tables && component == COMPONENT_YUV && planar && lw <= 1 && desc->log2_chroma_h <= 1 &&
        (lw == 1 || desc->log2_chroma_h == 0))
        combined = std::make_unique<HeatColours>(CombinedColours(heat, depth, lw, desc->log2_chroma_h));
    if (tables && component == COMPONENT_Y && y0.step == 1 && y0.shift == 0)
        direct = std::make_unique<HeatColours>(heat, heat.last() + 1, [](int v) { return v; });
    for (int y = 0; y < height; ++y) {
        uint8_t* out = dst->data[0] + static_cast<ptrdiff_t>(y) * dst->linesize[0];
        const T* rowY = RowOf<T>(y0, y);
        const T* rowU = RowOf<T>(u0, y);
        const T* rowV = RowOf<T>(v0, y);
        switch (component) {
        case COMPONENT_Y:
            if (direct) {
                int const last = direct->keys() - 1;
                for (int x = 0; x + 1 < width; ++x)
                    direct->put(out, x, std::min<int>(rowY[x], last));
                direct->putLast(out, width - 1, std::min<int>(rowY[width - 1], last));
            } else if (y0.step == 1 && y0.shift == 0) {
                for (int x = 0; x < width; ++x)
                    heat.put(out, x, rowY[x]);
            } else {
                for (int x = 0; x < width; ++x)
                    heat.put(out, x, SampleAt(y0, rowY, x));
            }
            break;
        case COMPONENT_U:
            for (int x = 0; x < width; ++x)
                heat.put(out, x, SampleAt(u0, rowU, x));
            break;
        case COMPONENT_V:
            for (int x = 0; x < width; ++x)
                heat.put(out, x, SampleAt(v0, rowV, x));
            break;
        default:
            if (combined && lw == 1 && desc->log2_chroma_h == 1) {
                CombinedRowPlanar<T, 1, 1>(out, rowY, rowU, rowV, width, *combined);
                break;
            }
            if (combined && lw == 1 && desc->log2_chroma_h == 0) {
                CombinedRowPlanar<T, 1, 0>(out, rowY, rowU, rowV, width, *combined);
                break;
            }
            if (combined && lw == 0 && desc->log2_chroma_h == 0) {
                CombinedRowPlanar<T, 0, 0>(out, rowY, rowU, rowV, width, *combined);
                break;
            }
            for (int x = 0; x < width; ++x) {
                int const Y = SampleAt(y0, rowY, x);
                int const U = SampleAt(u0, rowU, x);
                int const V = SampleAt(v0, rowV, x);
                int m = shifts ? (((Y << lt) + ((U + V) << lw)) >> lt) / 3
                               : ((t * Y + (t * U) / sh + (t * V) / sh) / t) / 3;
                if (m == 0 && Y + U + V != 0)
                    m = 1;
                heat.put(out, x, m);
            }
            break;
        }
    }
}

template <typename T>
void AbsDiffRow(T* dst, const T* a, const T* b, int n)
{
    for (int i = 0; i < n; ++i)
        dst[i] = static_cast<T>(a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]);
}

// Bytes per row and rows of each plane of a picture of this size and format, rows packed.
bool PlaneGeometry(AVPixelFormat format, int width, int height, int bytes[4], int rows[4])
{
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(format);
    if (!desc || width <= 0 || height <= 0 || av_image_fill_linesizes(bytes, format, width) < 0)
        return false;
    for (int p = 0; p < 4; ++p) {
        bool const chroma = p == 1 || p == 2;
        rows[p] = bytes[p] > 0 ? (chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height) : 0;
    }
    return true;
}

bool DumpPicture(QString const& fileName, AVFrame const* frame)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    if (!frame->data[0] || frame->linesize[0] <= 0)
        return true;
    const AVPixelFormat format = static_cast<AVPixelFormat>(frame->format);
    if (format == AV_PIX_FMT_RGB24) {
        file.write(reinterpret_cast<char const*>(frame->data[0]),
                   static_cast<qint64>(frame->height) * frame->linesize[0]);
        return true;
    }
    int bytes[4] = {};
    int rows[4] = {};
    if (!PlaneGeometry(format, frame->width, frame->height, bytes, rows))
        return true;
    // Each plane's rows at their real byte width (16-bit samples, interleaved chroma); no alpha.
    for (int p = 0; p < 3; ++p) {
        if (!frame->data[p] || frame->linesize[p] < bytes[p] || bytes[p] <= 0)
            continue;
        for (int y = 0; y < rows[p]; ++y)
            file.write(reinterpret_cast<char const*>(frame->data[p] + static_cast<ptrdiff_t>(y) * frame->linesize[p]),
                       bytes[p]);
    }
    return true;
}

// image = a deep copy of the rows; a detached image of this size and format is overwritten
// in place (no allocation per picture shown).
void CopyToImage(QImage& image, uint8_t const* data, int width, int height, int linesize, QImage::Format format)
{
    if (image.isNull() || image.width() != width || image.height() != height || image.format() != format ||
        !image.isDetached()) {
        image = QImage(data, width, height, linesize, format).copy();
        return;
    }
    int const bytes = std::min<int>(linesize, image.bytesPerLine());
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), data + static_cast<ptrdiff_t>(y) * linesize, static_cast<size_t>(bytes));
}

// The 8-bit planar YUV format of a deeper little-endian planar YUV format; NONE otherwise.
AVPixelFormat EightBitCounterpart(AVPixFmtDescriptor const* desc)
{
    if (!desc || desc->nb_components != 3 || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) ||
        (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_HWACCEL |
                        AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)))
        return AV_PIX_FMT_NONE;
    for (int c = 0; c < 3; ++c) {
        AVComponentDescriptor const& comp = desc->comp[c];
        if (comp.plane != c || comp.step != 2 || comp.offset != 0 || comp.shift != 0 || comp.depth <= 8 ||
            comp.depth > 16 || comp.depth != desc->comp[0].depth)
            return AV_PIX_FMT_NONE;
    }
    if (desc->log2_chroma_w == 1 && desc->log2_chroma_h == 1)
        return AV_PIX_FMT_YUV420P;
    if (desc->log2_chroma_w == 1 && desc->log2_chroma_h == 0)
        return AV_PIX_FMT_YUV422P;
    if (desc->log2_chroma_w == 0 && desc->log2_chroma_h == 0)
        return AV_PIX_FMT_YUV444P;
    return AV_PIX_FMT_NONE;
}

// dst[i] = src[i] / 2^shift rounded to nearest, limited to 255 (words above the depth too).
void RoundRowTo8Bits(uint8_t* dst, uint16_t const* src, int n, int shift)
{
    unsigned const half = 1u << (shift - 1);
    for (int i = 0; i < n; ++i) {
        unsigned const v = (static_cast<unsigned>(src[i]) + half) >> shift;
        dst[i] = static_cast<uint8_t>(v < 255u ? v : 255u);
    }
}

} // namespace

AVFrame const* Frame::roundedTo8Bits()
{
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(pixelFormat());
    const AVPixelFormat format8 = EightBitCounterpart(desc);
    if (format8 == AV_PIX_FMT_NONE)
        return nullptr;
    int const width = m_frame->width;
    int const height = m_frame->height;
    if (m_frame8 && (m_frame8->width != width || m_frame8->height != height || m_frame8->format != format8))
        av_frame_free(&m_frame8);
    if (!m_frame8) {
        m_frame8 = av_frame_alloc();
        if (!m_frame8)
            return nullptr;
        m_frame8->width = width;
        m_frame8->height = height;
        m_frame8->format = format8;
        if (av_frame_get_buffer(m_frame8, 32) < 0) {
            av_frame_free(&m_frame8);
            return nullptr;
        }
    }
    int const shift = desc->comp[0].depth - 8;
    for (int p = 0; p < 3; ++p) {
        int const pw = p ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width;
        int const ph = p ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        if (!m_frame->data[p] || m_frame->linesize[p] < 2 * pw)
            return nullptr;
        for (int y = 0; y < ph; ++y)
            RoundRowTo8Bits(
                m_frame8->data[p] + static_cast<ptrdiff_t>(y) * m_frame8->linesize[p],
                reinterpret_cast<uint16_t const*>(m_frame->data[p] + static_cast<ptrdiff_t>(y) * m_frame->linesize[p]),
                pw, shift);
    }
    return m_frame8;
}

PixelValues Frame::pixel(int x, int y) const
{
    PixelValues result;
    if (!isValid() || x < 0 || y < 0 || x >= m_frame->width || y >= m_frame->height)
        return result;
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(pixelFormat());
    int const sampleBytes = SampleBytes(pixelFormat());
    if (!HasReadableSamples(desc, sampleBytes))
        return result;
    int values[3] = {0, 0, 0};
    for (int c = 0; c < std::min<int>(desc->nb_components, 3); ++c) {
        AVComponentDescriptor const& comp = desc->comp[c];
        uint8_t const* plane = m_frame->data[comp.plane];
        if (!plane)
            continue;
        int const cx = c > 0 ? x >> desc->log2_chroma_w : x;
        int const cy = c > 0 ? y >> desc->log2_chroma_h : y;
        uint8_t const* p = plane + static_cast<ptrdiff_t>(cy) * m_frame->linesize[comp.plane] +
                           static_cast<ptrdiff_t>(cx) * comp.step + comp.offset;
        int const stored = sampleBytes == 1 ? p[0] : p[0] | (p[1] << 8);
        values[c] = stored >> comp.shift;
    }
    result.valid = true;
    result.c0 = values[0];
    result.c1 = values[1];
    result.c2 = values[2];
    return result;
}

PixelValues Frame::pixelRgb(int x, int y) const
{
    PixelValues result;
    if (!m_rgbFrame || !m_rgbFrame->data[0] || m_rgbFrame->format != AV_PIX_FMT_RGB24 || x < 0 || y < 0 ||
        x >= m_rgbFrame->width || y >= m_rgbFrame->height)
        return result;
    uint8_t const* p = m_rgbFrame->data[0] + static_cast<ptrdiff_t>(y) * m_rgbFrame->linesize[0] + 3 * x;
    result.valid = true;
    result.c0 = p[0];
    result.c1 = p[1];
    result.c2 = p[2];
    return result;
}

bool Frame::prepareRgbFrame(AVPixelFormat format)
{
    if (m_rgbFrame && (m_rgbFrame->format != format || m_rgbFrame->width != m_frame->width ||
                       m_rgbFrame->height != m_frame->height)) {
        clearRgbFrame();
        clearScaleContext();
    }
    if (m_rgbFrame)
        return true;
    // A new converted picture gets a new scale context, made for it.
    clearScaleContext();
    m_rgbFrame = av_frame_alloc();
    int ret = AVERROR(ENOMEM);
    if (m_rgbFrame) {
        m_rgbFrame->width = m_frame->width;
        m_rgbFrame->height = m_frame->height;
        m_rgbFrame->format = format;
        ret = av_frame_get_buffer(m_rgbFrame, 1);
    }
    if (ret < 0) {
        qWarning() << "Failed to allocate data for image. Error code" << ret;
        clearRgbFrame();
        return false;
    }
    return true;
}

bool Frame::fillImage(QImage& image, Component component)
{
    if (!isValid() || m_frame->width <= 0 || m_frame->height <= 0) {
        image = QImage();
        return false;
    }
    bool deep = bitDepth() > 8;
    // Colour of a deeper planar YUV picture: rounded to 8 bits by our own kernel, then the
    // scaler's fast 8-bit path (its 16-bit RGB path is ten times slower).
    AVFrame const* source8 = component == COMPONENT_YUV && deep ? roundedTo8Bits() : nullptr;
    if (source8)
        deep = false;
    AVPixelFormat rgbFormat;
    QImage::Format imageFormat;
    if (component == COMPONENT_YUV) {
        rgbFormat = deep ? AV_PIX_FMT_RGBA64LE : AV_PIX_FMT_RGB24;
        imageFormat = deep ? QImage::Format_RGBA64 : QImage::Format_RGB888;
    } else {
        rgbFormat = deep ? AV_PIX_FMT_YUV444P16LE : AV_PIX_FMT_YUV444P;
        imageFormat = deep ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8;
    }
    if (!prepareRgbFrame(rgbFormat))
        return false;

    int const width = m_frame->width;
    int const height = m_frame->height;
    AVFrame const* input = source8 ? source8 : m_frame;
    const AVPixelFormat source = static_cast<AVPixelFormat>(input->format);
    // A context made for another source size or format would read past the planes.
    if (m_scaleContext && (m_scaleSrcWidth != width || m_scaleSrcHeight != height || m_scaleSrcFormat != source))
        clearScaleContext();
    if (!m_scaleContext) {
        m_scaleContext = sws_getContext(width, height, source, width, height, rgbFormat, 0, nullptr, nullptr, nullptr);
        if (!m_scaleContext) {
            qWarning() << "Failed to create a scale context for pixel format" << GetPixFmtAvName(source);
            return false;
        }
        int* invTable = nullptr;
        int* table = nullptr;
        int srcRange = 0;
        int dstRange = 0;
        int brightness = 0;
        int contrast = 1 << 16;
        int saturation = 1 << 16;
        sws_getColorspaceDetails(m_scaleContext, &invTable, &srcRange, &table, &dstRange, &brightness, &contrast,
                                 &saturation);
        int const* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(m_scaleContext, bt709, 1, bt709, 1, brightness, contrast, saturation);
        m_scaleSrcWidth = width;
        m_scaleSrcHeight = height;
        m_scaleSrcFormat = source;
    }
    sws_scale(m_scaleContext, input->data, input->linesize, 0, height, m_rgbFrame->data, m_rgbFrame->linesize);

    int const plane = component == COMPONENT_U ? 1 : component == COMPONENT_V ? 2 : 0;
    CopyToImage(image, m_rgbFrame->data[plane], width, height, m_rgbFrame->linesize[plane], imageFormat);
    return true;
}

bool Frame::fillImageAsHeatMap(QImage& image, Component component, int maximum)
{
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(pixelFormat());
    int const sampleBytes = SampleBytes(pixelFormat());
    if (!isValid() || m_frame->width <= 0 || m_frame->height <= 0 || !HasReadableSamples(desc, sampleBytes)) {
        image = QImage();
        return false;
    }
    if (!prepareRgbFrame(AV_PIX_FMT_RGB24))
        return false;
    // The colour index divides by the maximum.
    maximum = std::max(1, maximum);
    if (sampleBytes == 1)
        DrawHeatMap<uint8_t>(m_rgbFrame, m_frame, desc, component, maximum);
    else
        DrawHeatMap<uint16_t>(m_rgbFrame, m_frame, desc, component, maximum);
    CopyToImage(image, m_rgbFrame->data[0], m_rgbFrame->width, m_rgbFrame->height, m_rgbFrame->linesize[0],
                QImage::Format_RGB888);
    return true;
}

bool Frame::getDiff(Frame& target, Frame const& a, Frame const& b)
{
    const AVPixelFormat format = a.pixelFormat();
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(format);
    int const sampleBytes = SampleBytes(format);
    int bytes[4] = {};
    int rows[4] = {};
    if (!a.isValid() || !b.isValid() || a.width() != b.width() || a.height() != b.height() ||
        format != b.pixelFormat() || !desc || (desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BE)) ||
        !PlaneGeometry(format, a.width(), a.height(), bytes, rows)) {
        target.reset();
        return false;
    }
    for (int p = 0; p < 4; ++p) {
        if (bytes[p] > 0 && (!a.m_frame->data[p] || !b.m_frame->data[p] || a.m_frame->linesize[p] < bytes[p] ||
                             b.m_frame->linesize[p] < bytes[p])) {
            target.reset();
            return false;
        }
    }
    // An input used as the target must keep its samples while it gets planes of its own.
    if ((&target == &a || &target == &b) && av_frame_make_writable(target.m_frame) < 0) {
        target.reset();
        return false;
    }
    if (!target.allocatePicture(a.width(), a.height(), format))
        return false;

    AVFrame* t = target.m_frame;
    for (int p = 0; p < 4; ++p) {
        if (bytes[p] <= 0)
            continue;
        int const n = bytes[p] / sampleBytes;
        for (int y = 0; y < rows[p]; ++y) {
            uint8_t* dst = t->data[p] + static_cast<ptrdiff_t>(y) * t->linesize[p];
            uint8_t const* pa = a.m_frame->data[p] + static_cast<ptrdiff_t>(y) * a.m_frame->linesize[p];
            uint8_t const* pb = b.m_frame->data[p] + static_cast<ptrdiff_t>(y) * b.m_frame->linesize[p];
            if (sampleBytes == 1)
                AbsDiffRow(dst, pa, pb, n);
            else
                AbsDiffRow(reinterpret_cast<uint16_t*>(dst), reinterpret_cast<uint16_t const*>(pa),
                           reinterpret_cast<uint16_t const*>(pb), n);
        }
    }
    return true;
}

bool Frame::dump(QString const& fileName) const
{
    return m_frame && DumpPicture(fileName, m_frame);
}

bool Frame::dumpAvFrame(QString const& fileName, AVFrame const* frame)
{
    return frame && DumpPicture(fileName, frame);
}

void Frame::saveAsJpeg(QString const& fileName, QSize const& size)
{
    Q_UNUSED(fileName);
    Q_UNUSED(size);
}

} // namespace ze::nox::core
