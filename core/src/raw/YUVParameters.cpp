#include "raw/YUVParameters.h"

#include <QFile>
#include <QHash>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

using F = YUVParameters::Formats;

F Preset(YUVFile::Formats format, int bitDepth, int bytesPerValue, double bytesPerPixel, bool editable)
{
    F f;
    f.format = format;
    f.bitDepth = bitDepth;
    f.bytesPerValue = bytesPerValue;
    f.chromaOrder = 0;
    f.reserved = 1;
    f.fps = 25;
    f.bytesPerPixel = bytesPerPixel;
    f.editable = editable;
    return f;
}

QList<YUVParameters::ColorFormatPresets> MakePresets()
{
    QList<YUVParameters::ColorFormatPresets> list;
    list.append({ImageInfo::IMG_400,
                 QStringLiteral("4:0:0"),
                 {Preset(YUVFile::FORMAT_PLANAR, 8, 1, 1.0, true), Preset(YUVFile::FORMAT_P010, 10, 2, 1.0, false),
                  Preset(YUVFile::FORMAT_SEMI_PLANAR, 8, 1, 1.0, true)}});
    list.append({ImageInfo::IMG_420,
                 QStringLiteral("4:2:0"),
                 {Preset(YUVFile::FORMAT_PLANAR, 8, 1, 1.5, true), Preset(YUVFile::FORMAT_P010, 10, 2, 1.5, false),
                  Preset(YUVFile::FORMAT_SEMI_PLANAR, 8, 1, 1.5, true)}});
    list.append({ImageInfo::IMG_422,
                 QStringLiteral("4:2:2"),
                 {Preset(YUVFile::FORMAT_PLANAR, 8, 1, 2.0, true), Preset(YUVFile::FORMAT_SEMI_PLANAR, 8, 1, 2.0, true),
                  Preset(YUVFile::FORMAT_YUY2, 8, 1, 2.0, false), Preset(YUVFile::FORMAT_UYVY, 8, 1, 2.0, true),
                  Preset(YUVFile::FORMAT_Y210, 10, 1, 4.0, false), Preset(YUVFile::FORMAT_Y216, 16, 1, 4.0, false)}});
    list.append({ImageInfo::IMG_444,
                 QStringLiteral("4:4:4"),
                 {Preset(YUVFile::FORMAT_PLANAR, 8, 1, 3.0, true), Preset(YUVFile::FORMAT_SEMI_PLANAR, 8, 1, 3.0, true),
                  Preset(YUVFile::FORMAT_AYUV, 8, 1, 4.0, false), Preset(YUVFile::FORMAT_Y410, 10, 1, 4.0, false),
                  Preset(YUVFile::FORMAT_Y416, 16, 1, 8.0, false)}});
    list.append(
        {ImageInfo::IMG_440,
         QStringLiteral("4:4:0"),
         {Preset(YUVFile::FORMAT_PLANAR, 8, 1, 1.5, true), Preset(YUVFile::FORMAT_SEMI_PLANAR, 8, 1, 1.5, true)}});
    return list;
}

// Layout words of file names; the first nine name a layout and chroma format, "argb" and "rgb"
// name none (such a file keeps 4:2:0 planar). P010 is semi-planar 10-bit in words whose upper
// bits hold the samples: the dialog and the decoder read semi-planar words that way.
struct LayoutWord
{
    char const* pattern;
    YUVFile::Formats format;
    ImageInfo::IMG_TYPE type;
    int bitDepth; // 0: the preset's
};

constexpr LayoutWord kLayoutWords[] = {
    {"[^a-z]nv12[^a-z]*", YUVFile::FORMAT_SEMI_PLANAR, ImageInfo::IMG_420, 0},
    {"[^a-z]yuy2[^a-z]*", YUVFile::FORMAT_YUY2, ImageInfo::IMG_422, 0},
    {"[^a-z]uyvy[^a-z]*", YUVFile::FORMAT_UYVY, ImageInfo::IMG_422, 0},
    {"[^a-z]y210[^a-z]*", YUVFile::FORMAT_Y210, ImageInfo::IMG_422, 0},
    {"[^a-z]y216[^a-z]*", YUVFile::FORMAT_Y216, ImageInfo::IMG_422, 0},
    {"[^a-z]ayuv[^a-z]*", YUVFile::FORMAT_AYUV, ImageInfo::IMG_444, 0},
    {"[^a-z]y410[^a-z]*", YUVFile::FORMAT_Y410, ImageInfo::IMG_444, 0},
    {"[^a-z]y416[^a-z]*", YUVFile::FORMAT_Y416, ImageInfo::IMG_444, 0},
    {"[^a-z]p010[^a-z]*", YUVFile::FORMAT_SEMI_PLANAR, ImageInfo::IMG_420, 10},
    {"[^a-z]argb[^a-z]*", YUVFile::FORMAT_PLANAR, ImageInfo::IMG_420, 0},
    {"[^a-z]rgb[^a-z]*", YUVFile::FORMAT_PLANAR, ImageInfo::IMG_420, 0},
};
constexpr int kNamedLayouts = 9;

// Bytes of a read with the positions past the data reading as 0.
struct Data
{
    std::vector<unsigned char> bytes;
    int64_t got = 0; // bytes actually read

    unsigned at(int64_t i) const { return (i >= 0 && i < int64_t(bytes.size())) ? bytes[size_t(i)] : 0u; }
    // 16-bit little-endian word at byte offset i
    int64_t word(int64_t i) const { return at(i) + 256 * int64_t(at(i + 1)); }
};

Data ReadBytes(QFile* file, int64_t count)
{
    Data d;
    if (count <= 0)
        return d;
    d.bytes.assign(size_t(count), 0);
    if (file != nullptr && file->isReadable()) {
        int64_t const n = file->read(reinterpret_cast<char*>(d.bytes.data()), count);
        d.got = std::max<int64_t>(n, 0);
    }
    return d;
}

double Sq(int64_t v)
{
    return double(v) * double(v);
}

} // namespace

QList<YUVParameters::ColorFormatPresets> const YUVParameters::ListDefaultPreset = MakePresets();

YUVParameters::Resolution const YUVParameters::standardResolutions[46] = {
    {-1, -1, ""},
    {128, 96, "SQCIF"},
    {176, 144, "QCIF"},
    {192, 200, ""},
    {320, 240, "QVGA"},
    {352, 240, "SIF"},
    {352, 288, "CIF"},
    {352, 480, "525 HHR"},
    {352, 576, "625 HHR"},
    {416, 240, "qWVGA"},
    {640, 360, "Q720p"},
    {640, 480, "VGA"},
    {704, 480, "525 4SIF"},
    {704, 576, "4SIF"},
    {720, 480, "SD480"},
    {720, 576, "SD576"},
    {768, 576, "PAL"},
    {800, 600, "SVGA"},
    {864, 480, "480p (16:9)"},
    {832, 480, "WVGA"},
    {960, 540, "QHD"},
    {1024, 768, "XGA"},
    {1280, 720, "720p HD"},
    {1280, 768, "HD720"},
    {1280, 960, "4VGA"},
    {1280, 1024, "SXGA"},
    {1408, 960, "525 16SIF"},
    {1408, 1152, "16SIF"},
    {1600, 1200, "4SVGA"},
    {1920, 1080, "HD1080"},
    {2048, 1024, "2Kx1K"},
    {2048, 1080, "2Kx1080"},
    {2048, 1530, "4XGA"},
    {2560, 1600, "WQXGA"},
    {2560, 1920, "16VGA"},
    {3616, 1530, "(2.35: 1)"},
    {3680, 1530, "(2.39: 1)"},
    {3840, 2160, "Ultra HD (4K)"},
    {4096, 2048, "4Kx2K"},
    {4096, 2160, ""},
    {4096, 2304, "(16:9)"},
    {7680, 4320, ""},
    {8192, 4096, ""},
    {8192, 4320, ""},
    {8192, 8192, ""},
    {-1, -1, ""},
};

YUVParameters::Formats YUVParameters::getDefaultPresetFormats(ImageInfo::IMG_TYPE type, YUVFile::Formats format)
{
    for (ColorFormatPresets const& c : ListDefaultPreset) {
        if (c.type != type)
            continue;
        for (Formats const& f : c.formats)
            if (f.format == format)
                return f;
        break;
    }
    return Formats{};
}

int YUVParameters::frameCountOf(int64_t fileSize, int64_t frameSize)
{
    if (frameSize <= 0 || fileSize <= 0)
        return 0;
    return static_cast<int>(std::min<int64_t>(fileSize / frameSize, INT_MAX));
}

int64_t YUVParameters::frameBytes(ImageInfo::IMG_TYPE type, YUVFile::Formats format, int width, int height,
                                  int bytesPerValue)
{
    Formats const f = getDefaultPresetFormats(type, format);
    if (f.bytesPerPixel <= 0 || width < 1 || height < 1 || bytesPerValue < 1)
        return 0;
    int64_t const w = width;
    int64_t const h = height;
    auto half = [](int64_t v) { return (v + 1) / 2; };
    switch (format) {
    case YUVFile::FORMAT_PLANAR:
    case YUVFile::FORMAT_SEMI_PLANAR:
    case YUVFile::FORMAT_P010: {
        int64_t chroma = 0;
        switch (type) {
        case ImageInfo::IMG_420: chroma = half(w) * half(h); break;
        case ImageInfo::IMG_422: chroma = half(w) * h; break;
        case ImageInfo::IMG_444: chroma = w * h; break;
        case ImageInfo::IMG_440: chroma = w * half(h); break;
        default: break;
        }
        return (w * h + 2 * chroma) * bytesPerValue;
    }
    case YUVFile::FORMAT_YUY2:
    case YUVFile::FORMAT_UYVY:
    case YUVFile::FORMAT_Y210:
    case YUVFile::FORMAT_Y216:
        return static_cast<int64_t>(f.bytesPerPixel * double(2 * half(w)) * double(h)) * bytesPerValue;
    default: return static_cast<int64_t>(f.bytesPerPixel * double(w) * double(h)) * bytesPerValue;
    }
}

void YUVParameters::setDefaultPresetFormats(ImageInfo::IMG_TYPE type, YUVFile::Formats format, int width, int height)
{
    Formats const f = getDefaultPresetFormats(type, format);
    m_colorFormat = type;
    m_format = format;
    m_width = width;
    m_height = height;
    m_bitDepth = f.bitDepth;
    m_bytesPerValue = f.bytesPerValue;
    m_chromaOrder = f.chromaOrder;
    m_fps = f.fps;
    m_frameSize = frameBytes(type, format, width, height, std::max(f.bytesPerValue, 1));
    m_aspectRatio = height != 0 ? double(width) / double(height) : 0.0;
    m_frameCount = frameCountOf(m_fileSize, m_frameSize);
}

void YUVParameters::setSampleDepth(int bitDepth)
{
    m_bitDepth = bitDepth;
    m_bytesPerValue = bitDepth > 8 ? 2 : 1;
    m_frameSize = frameBytes(m_colorFormat, m_format, m_width, m_height, m_bytesPerValue);
    m_frameCount = frameCountOf(m_fileSize, m_frameSize);
}

YUVParameters::StatedFormat YUVParameters::formatFromName(QString const& baseName)
{
    // Each word stands apart from letters and digits around it, so that "1080p" or "h10b" state
    // nothing.
    auto const pattern = [](char const* word) {
        return QRegularExpression(QStringLiteral("(?:^|[^a-z0-9])%1(?:$|[^a-z0-9])").arg(QLatin1String(word)),
                                  QRegularExpression::CaseInsensitiveOption);
    };
    static QRegularExpression const kPixFmt = pattern("(?:yuvj?)?(420|422|444|440)p([0-9]{1,2})?(?:le|be)?");
    static QRegularExpression const kGray = pattern("gray([0-9]{1,2})?(?:le|be)?");
    static QRegularExpression const kDepth = pattern("([0-9]{1,2})[-_]?(?:bits?|b)");
    auto const depth = [](QString const& digits) {
        int const d = digits.toInt();
        return d >= 8 && d <= 16 ? d : 0;
    };

    StatedFormat stated;
    QRegularExpressionMatch m = kPixFmt.match(baseName);
    if (m.hasMatch()) {
        static QHash<QString, ImageInfo::IMG_TYPE> const kTypes = {{QStringLiteral("420"), ImageInfo::IMG_420},
                                                                   {QStringLiteral("422"), ImageInfo::IMG_422},
                                                                   {QStringLiteral("444"), ImageInfo::IMG_444},
                                                                   {QStringLiteral("440"), ImageInfo::IMG_440}};
        stated.hasType = true;
        stated.type = kTypes.value(m.captured(1), ImageInfo::IMG_420);
        stated.bitDepth = m.captured(2).isEmpty() ? 8 : depth(m.captured(2));
        return stated;
    }
    m = kGray.match(baseName);
    if (m.hasMatch()) {
        stated.hasType = true;
        stated.type = ImageInfo::IMG_400;
        stated.bitDepth = m.captured(1).isEmpty() ? 8 : depth(m.captured(1));
        return stated;
    }
    m = kDepth.match(baseName);
    if (m.hasMatch())
        stated.bitDepth = depth(m.captured(1));
    return stated;
}

void YUVParameters::applyStatedDepth(StatedFormat const& stated)
{
    if (stated.bitDepth > 0 && (m_format == YUVFile::FORMAT_PLANAR || m_format == YUVFile::FORMAT_SEMI_PLANAR))
        setSampleDepth(stated.bitDepth);
}

bool YUVParameters::detectFromName(QString const& baseName, StatedFormat const& stated)
{
    static QRegularExpression const kSize(QStringLiteral("([0-9]+)x([0-9]+)"));
    QRegularExpressionMatch const m = kSize.match(baseName);
    if (!m.hasMatch())
        return false;
    bool okW = false, okH = false;
    int const w = m.captured(1).toInt(&okW);
    int const h = m.captured(2).toInt(&okH);
    if (!okW || !okH || w <= 0 || h <= 0)
        return false;
    int const width = std::min(w, kMaxSide);
    int const height = std::min(h, kMaxSide);
    setDefaultPresetFormats(stated.hasType ? stated.type : ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, width, height);
    applyStatedDepth(stated);

    static std::vector<QRegularExpression> const regs = [] {
        std::vector<QRegularExpression> r;
        for (LayoutWord const& w : kLayoutWords)
            r.emplace_back(QString::fromLatin1(w.pattern), QRegularExpression::CaseInsensitiveOption);
        return r;
    }();
    for (size_t i = 0; i < regs.size(); ++i) {
        if (!regs[i].match(baseName).hasMatch())
            continue;
        if (int(i) < kNamedLayouts) {
            setDefaultPresetFormats(kLayoutWords[i].type, kLayoutWords[i].format, width, height);
            if (kLayoutWords[i].bitDepth > 0)
                setSampleDepth(kLayoutWords[i].bitDepth);
            else
                applyStatedDepth(stated);
        }
        break;
    }
    return true;
}

bool YUVParameters::detectFromContents(QFile* file, StatedFormat const& stated)
{
    int64_t const n = std::min<int64_t>(m_fileSize, 8192);
    if (file == nullptr || !file->seek(0))
        return false;
    Data const a = ReadBytes(file, n);
    int64_t const m = n / 2;
    if (m <= 91)
        return false;

    // Row length: the lag whose shifted copy differs least, normalised by its square.
    int64_t best = 91;
    double bestD = 0;
    for (int64_t lag = 91; lag < m; ++lag) {
        double sum = 0;
        for (int64_t i = 0; i < lag; ++i)
            sum += Sq(int64_t(a.bytes[size_t(i)]) - a.bytes[size_t(i + lag)]);
        double const d = sum / (double(lag) * double(lag));
        if (lag == 91 || d < bestD) {
            best = lag;
            bestD = d;
        }
    }
    if (best == 91)
        return false;

    // Sample width: 16-bit words fit better than bytes when their half-lag difference is smaller.
    int64_t const h = best / 2;
    double d8 = 0, d16 = 0;
    for (int64_t i = 0; i < h; ++i) {
        d8 += Sq(int64_t(a.at(i)) - a.at(i + h));
        d16 += Sq(a.word(2 * i) - a.word(2 * (i + h)));
    }
    d8 /= double(h) * double(h);
    d16 /= double(h) * double(h);
    int64_t const b = d8 > d16 ? 2 : 1;
    int64_t const w = d8 > d16 ? h : best;

    // Height: the first row whose difference to the next jumps a hundredfold.
    int64_t const r = std::min<int64_t>(m_fileSize, w * 24576 * b);
    int64_t const rows = ((r / w) / 3) / b;
    int64_t const span = 2 * (w + w / 2); // bytes one step of the scan reads past its base
    int64_t const needed = std::max<int64_t>(4 * w, rows >= 3 ? (rows - 3) * w * b + span : 0);
    Data const p = ReadBytes(file, std::min(r, needed));
    double g = 0;
    for (int64_t k = 0; k < w; ++k)
        g += Sq(p.word(2 * k) - p.word(2 * (k + w)));
    int height = 128;
    for (int64_t i = 3; i <= rows; ++i) {
        int64_t const base = (i - 3) * w * b;
        if (base + span > p.got)
            break; // never judge a row by bytes the file did not give
        double s = 0;
        for (int64_t k = 0; k < w / 2; ++k)
            s += Sq(p.word(base + 2 * k) - p.word(base + 2 * (w + k)));
        bool const jump = g == 0 ? s != 0 : s / g >= 100;
        if (jump) {
            height = static_cast<int>(i);
            break;
        }
        g = s;
    }
    if (w > kMaxSide)
        return false;
    // The estimate is taken only when the file holds whole frames of it.
    int64_t const frame = frameBytes(ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, static_cast<int>(w), height, int(b));
    if (frame <= 0 || m_fileSize < frame || m_fileSize % frame != 0)
        return false;
    // A sample width the name contradicts leaves the row length in doubt.
    if (stated.bitDepth > 0 && (stated.bitDepth > 8) != (b == 2))
        return false;
    setDefaultPresetFormats(ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, static_cast<int>(w), height);
    if (b == 2)
        setSampleDepth(10);
    applyStatedDepth(stated);
    return true;
}

bool YUVParameters::detectStandardSize(QFile* file, StatedFormat const& stated)
{
    // Every standard size whose 4:2:0 frame divides the file is a candidate, as 8-bit bytes,
    // as 10-bit words (never above 1023) and as P010 words (the lowest 6 bits clear). The one
    // whose rows and frames repeat best in the contents wins, table order breaking ties:
    // neighbouring rows of a picture, and the first rows of consecutive frames, are alike.
    if (file == nullptr || m_fileSize <= 0 || !file->seek(0))
        return false;
    Data const head = ReadBytes(file, std::min<int64_t>(m_fileSize, 1 << 18));
    enum Kind { Bytes8, Words10, P010, Kinds };
    // Words of the stated depth, else of 10 bits.
    int const wordBits = stated.bitDepth > 8 ? stated.bitDepth : 10;
    // Samples on an 8-bit scale; -1 for a value the kind cannot hold.
    auto sample = [wordBits](Data const& d, int64_t i, int kind) -> double {
        if (kind == Bytes8)
            return double(d.at(i));
        int64_t const w = d.word(2 * i);
        if (kind == Words10)
            return w >= (int64_t(1) << wordBits) ? -1.0 : double(w) / double(1 << (wordBits - 8));
        return (w & 63) != 0 ? -1.0 : double(w) / 256.0;
    };
    ImageInfo::IMG_TYPE const type = stated.hasType ? stated.type : ImageInfo::IMG_420;
    // A stated depth leaves the kinds of its sample width; P010 is 10-bit.
    auto const allowed = [&stated](int kind) {
        if (stated.bitDepth == 0)
            return true;
        if (kind == Bytes8)
            return stated.bitDepth == 8;
        return stated.bitDepth > 8 && (kind == Words10 || stated.bitDepth == 10);
    };
    double bestScore = 0;
    int best = -1;
    int bestKind = Bytes8;
    for (int row = 1; row <= 44; ++row) {
        Resolution const& res = standardResolutions[row];
        for (int kind = Bytes8; kind < Kinds; ++kind) {
            if (!allowed(kind))
                continue;
            int const bpv = kind == Bytes8 ? 1 : 2;
            int64_t const frame = frameBytes(type, YUVFile::FORMAT_PLANAR, res.width, res.height, bpv);
            if (frame <= 0 || m_fileSize < frame || m_fileSize % frame != 0)
                continue;
            int64_t const w = res.width;
            int64_t const n = std::min<int64_t>(4 * w, head.got / bpv - w);
            if (n <= 0)
                continue;
            bool fits = true;
            double rows = 0;
            for (int64_t i = 0; i < n && fits; ++i) {
                double const a = sample(head, i, kind);
                double const b = sample(head, i + w, kind);
                fits = a >= 0 && b >= 0;
                rows += (a - b) * (a - b);
            }
            if (!fits)
                continue;
            double score = rows / double(n);
            if (m_fileSize >= 2 * frame && file->seek(frame)) {
                Data const next = ReadBytes(file, std::min<int64_t>(n * bpv, frame));
                int64_t const m = next.got / bpv;
                double frames = 0;
                for (int64_t i = 0; i < m; ++i) {
                    double const d = sample(head, i, kind) - sample(next, i, kind);
                    frames += d * d;
                }
                if (m > 0)
                    score += frames / double(m);
            }
            if (best < 0 || score < bestScore) {
                best = row;
                bestKind = kind;
                bestScore = score;
            }
        }
    }
    if (best < 0)
        return false;
    setDefaultPresetFormats(type, bestKind == P010 ? YUVFile::FORMAT_SEMI_PLANAR : YUVFile::FORMAT_PLANAR,
                            standardResolutions[best].width, standardResolutions[best].height);
    if (bestKind != Bytes8)
        setSampleDepth(bestKind == P010 ? 10 : wordBits);
    return true;
}

void YUVParameters::detectResolution(QFile* file)
{
    QString const name = file != nullptr ? file->fileName() : QString();
    QFileInfo const info(name);
    m_fileSize = file != nullptr ? std::max<int64_t>(file->size(), 0) : 0;
    QString const base = info.completeBaseName();
    StatedFormat const stated = formatFromName(base);
    setDefaultPresetFormats(ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 128, 128);
    if (detectFromName(base, stated))
        return;
    if (detectStandardSize(file, stated))
        return;
    if (detectFromContents(file, stated))
        return;
    // Nothing fits the file: the common size, for the user to correct, in the format the name
    // states.
    setDefaultPresetFormats(stated.hasType ? stated.type : ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, 1920, 1080);
    applyStatedDepth(stated);
}
