#include "raw/YUVFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <climits>

const QString YUVFile::MODE_400_PLANAR = QStringLiteral("400_PLANAR");
const QString YUVFile::MODE_400_NV12 = QStringLiteral("400_NV12");
const QString YUVFile::MODE_420_PLANAR = QStringLiteral("420_PLANAR");
const QString YUVFile::MODE_420_NV12 = QStringLiteral("420_NV12");
const QString YUVFile::MODE_422_PLANAR = QStringLiteral("422_PLANAR");
const QString YUVFile::MODE_422_NV12 = QStringLiteral("422_NV12");
const QString YUVFile::MODE_444_PLANAR = QStringLiteral("444_PLANAR");
const QString YUVFile::MODE_444_NV12 = QStringLiteral("444_NV12");
const QString YUVFile::ORDER_DISPLAY = QStringLiteral("DISPLAY");
const QString YUVFile::ORDER_DECODE = QStringLiteral("DECODE");

namespace {

// ---------------------------------------------------------------------------------------------
// Sample readers

// Frame bytes with bounds: a byte past the end reads as 0.
struct Bytes
{
    uint8_t const* d;
    int64_t n;
    uint8_t at(int64_t i) const { return (i >= 0 && i < n) ? d[i] : 0; }
    bool has(int64_t from, int64_t count) const { return from >= 0 && count >= 0 && from + count <= n; }
};

Bytes BytesOf(QByteArray const& data)
{
    return Bytes{reinterpret_cast<uint8_t const*>(data.constData()), data.size()};
}

// Rows r0..r1 and columns c0..c1 (exclusive ends) of a plane to fill.
struct Area
{
    int64_t r0, r1, c0, c1;
    int64_t rows() const { return r1 > r0 ? r1 - r0 : 0; }
    int64_t cols() const { return (c1 > c0 && r1 > r0) ? c1 - c0 : 0; }
};

int64_t Half(int64_t v)
{
    return (v + 1) / 2;
}

Area LumaArea(PicSize const& g)
{
    return Area{g.top, int64_t(g.height) - g.bottom, g.left, int64_t(g.width) - g.right};
}

Area ChromaArea(PicSize const& g, ImageInfo::IMG_TYPE type)
{
    Area a = LumaArea(g);
    bool const halfW = type == ImageInfo::IMG_420 || type == ImageInfo::IMG_422;
    bool const halfH = type == ImageInfo::IMG_420 || type == ImageInfo::IMG_440;
    if (halfW) {
        a.c0 = g.left / 2;
        a.c1 = Half(a.c1);
    }
    if (halfH) {
        a.r0 = g.top / 2;
        a.r1 = Half(a.r1);
    }
    return a;
}

// Bit-depth adjustment as a right then a left shift, both within 0..16.
struct Shift
{
    uint32_t right = 0;
    uint32_t left = 0;
    static Shift of(int wanted, int file)
    {
        int64_t const s = int64_t(wanted) - file;
        Shift r;
        if (s < 0)
            r.right = static_cast<uint32_t>(std::min<int64_t>(-s, 16));
        else
            r.left = static_cast<uint32_t>(std::min<int64_t>(s, 16));
        return r;
    }
    short apply(uint32_t v) const { return static_cast<short>(static_cast<uint16_t>((v >> right) << left)); }
};

template <int Bps>
inline uint32_t Fetch(uint8_t const* p)
{
    if (Bps == 1)
        return p[0];
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}

template <int Bps>
inline uint32_t FetchChecked(Bytes const& b, int64_t i)
{
    if (Bps == 1)
        return b.at(i);
    return uint32_t(b.at(i)) | (uint32_t(b.at(i + 1)) << 8);
}

void AdvancePos(int& pos, int64_t bytes)
{
    int64_t const p = int64_t(pos) + bytes;
    pos = static_cast<int>(std::clamp<int64_t>(p, INT_MIN, INT_MAX));
}

// Visible columns of an area inside a plane of the given width.
void Clip(Area const& a, int64_t width, int64_t height, int64_t& y0, int64_t& y1, int64_t& x0, int64_t& x1)
{
    y0 = std::max<int64_t>(a.r0, 0);
    y1 = std::min<int64_t>(a.r1, height);
    x0 = std::max<int64_t>(a.c0, 0);
    x1 = std::min<int64_t>(a.c1, width);
}

// One plane, Bps bytes per sample, samples of consecutive rows back to back.
template <int Bps>
void ReadPlane(ImageType<short>& image, int plane, Bytes const& b, int64_t pos, Area const& a, Shift sh)
{
    ImageBase::Plane const& pl = image.m_planes[plane];
    if (pl.data == nullptr)
        return;
    int64_t y0, y1, x0, x1;
    Clip(a, pl.width, pl.height, y0, y1, x0, x1);
    int64_t const rowBytes = a.cols() * Bps;
    for (int64_t y = y0; y < y1 && x0 < x1; ++y) {
        short* dst = image.row(plane, static_cast<int>(y));
        int64_t const start = pos + (y - a.r0) * rowBytes + (x0 - a.c0) * Bps;
        if (b.has(start, (x1 - x0) * Bps)) {
            uint8_t const* s = b.d + start;
            for (int64_t x = x0; x < x1; ++x, s += Bps)
                dst[x] = sh.apply(Fetch<Bps>(s));
        } else {
            for (int64_t x = x0; x < x1; ++x)
                dst[x] = sh.apply(FetchChecked<Bps>(b, start + (x - x0) * Bps));
        }
    }
}

// Semi-planar chroma: one U,V pair per position, U to plane 1 and V to plane 2.
template <int Bps>
void ReadInterleaved(ImageType<short>& image, Bytes const& b, int64_t pos, Area const& a, Shift sh)
{
    ImageBase::Plane const& pu = image.m_planes[1];
    ImageBase::Plane const& pv = image.m_planes[2];
    if (pu.data == nullptr || pv.data == nullptr)
        return;
    int64_t y0, y1, x0, x1;
    Clip(a, std::min(pu.width, pv.width), std::min(pu.height, pv.height), y0, y1, x0, x1);
    int64_t const rowBytes = a.cols() * 2 * Bps;
    for (int64_t y = y0; y < y1 && x0 < x1; ++y) {
        short* du = image.row(1, static_cast<int>(y));
        short* dv = image.row(2, static_cast<int>(y));
        int64_t const start = pos + (y - a.r0) * rowBytes + (x0 - a.c0) * 2 * Bps;
        if (b.has(start, (x1 - x0) * 2 * Bps)) {
            uint8_t const* s = b.d + start;
            for (int64_t x = x0; x < x1; ++x, s += 2 * Bps) {
                du[x] = sh.apply(Fetch<Bps>(s));
                dv[x] = sh.apply(Fetch<Bps>(s + Bps));
            }
        } else {
            for (int64_t x = x0; x < x1; ++x) {
                int64_t const i = start + (x - x0) * 2 * Bps;
                du[x] = sh.apply(FetchChecked<Bps>(b, i));
                dv[x] = sh.apply(FetchChecked<Bps>(b, i + Bps));
            }
        }
    }
}

int64_t PlanarChroma(ImageType<short>& image, Bytes const& b, int64_t pos, PicSize const& g, ImageInfo::IMG_TYPE type,
                     int bps, int fileDepth)
{
    Area const a = ChromaArea(g, type);
    int64_t const planeBytes = a.rows() * a.cols() * bps;
    for (int plane = 1; plane < 3; ++plane) {
        if (bps == 1)
            ReadPlane<1>(image, plane, b, pos, a, Shift{});
        else
            ReadPlane<2>(image, plane, b, pos, a, Shift::of(g.chromaBitDepth, fileDepth));
        pos += planeBytes;
    }
    return 2 * planeBytes;
}

int64_t InterleavedChroma(ImageType<short>& image, Bytes const& b, int64_t pos, PicSize const& g,
                          ImageInfo::IMG_TYPE type, int bps, int fileDepth)
{
    Area const a = ChromaArea(g, type);
    if (bps == 1)
        ReadInterleaved<1>(image, b, pos, a, Shift{});
    else
        ReadInterleaved<2>(image, b, pos, a, Shift::of(g.chromaBitDepth, fileDepth));
    return a.rows() * a.cols() * 2 * bps;
}

int64_t Luma(ImageType<short>& image, Bytes const& b, int64_t pos, PicSize const& g, int bps, int fileDepth)
{
    Area const a = LumaArea(g);
    if (bps == 1)
        ReadPlane<1>(image, 0, b, pos, a, Shift{});
    else
        ReadPlane<2>(image, 0, b, pos, a, Shift::of(g.lumaBitDepth, fileDepth));
    return a.rows() * a.cols() * bps;
}

void Put(ImageType<short>& image, int plane, int64_t x, int64_t y, uint32_t v)
{
    ImageBase::Plane const& p = image.m_planes[plane];
    if (p.data != nullptr && x >= 0 && y >= 0 && x < p.width && y < p.height)
        image.row(plane, static_cast<int>(y))[x] = static_cast<short>(static_cast<uint16_t>(v));
}

// Packed layouts: `pixel(bytes, index, x, y, k)` handles pixel (x, y), the k-th of the area.
template <typename F>
void ReadPacked(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g, int bytesPerPixel, F pixel)
{
    Bytes const b = BytesOf(data);
    Area const a = LumaArea(g);
    ImageBase::Plane const& p0 = image.m_planes[0];
    int64_t y0, y1, x0, x1;
    Clip(a, p0.data ? p0.width : 0, p0.data ? p0.height : 0, y0, y1, x0, x1);
    for (int64_t y = y0; y < y1; ++y)
        for (int64_t x = x0; x < x1; ++x) {
            int64_t const k = (y - a.r0) * a.cols() + (x - a.c0);
            pixel(b, pos + k * bytesPerPixel, x, y, k);
        }
    AdvancePos(pos, a.rows() * a.cols() * bytesPerPixel);
}

// 4:2:2 packed: luma and one chroma sample per pixel; chroma alternates U, V over the frame.
template <int Bps>
void ReadPacked422(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g, bool lumaFirst,
                   uint32_t shift)
{
    ReadPacked(image, data, pos, g, 2 * Bps, [&](Bytes const& b, int64_t i, int64_t x, int64_t y, int64_t k) {
        uint32_t const first = FetchChecked<Bps>(b, i) >> shift;
        uint32_t const second = FetchChecked<Bps>(b, i + Bps) >> shift;
        Put(image, 0, x, y, lumaFirst ? first : second);
        Put(image, (k & 1) ? 2 : 1, x / 2, y, lumaFirst ? second : first);
    });
}

// ---------------------------------------------------------------------------------------------
// Y4M header parsing

// Leading decimal digits of `s`, saturated far above any valid value; -1 without digits.
int64_t LeadingNumber(QByteArray const& s, int& used)
{
    int64_t v = 0;
    used = 0;
    while (used < s.size() && s[used] >= '0' && s[used] <= '9') {
        v = std::min<int64_t>(v * 10 + (s[used] - '0'), int64_t(1) << 40);
        ++used;
    }
    return used > 0 ? v : -1;
}

bool ValidDepth(int64_t d)
{
    return d >= 8 && d <= 16;
}

// Chroma tag of a Y4M header. False for a tag whose layout the readers cannot represent.
bool ParseChroma(QByteArray const& tag, ImageInfo::IMG_TYPE& type, int& depth)
{
    depth = 8;
    if (tag.startsWith("mono")) {
        QByteArray const rest = tag.mid(4);
        type = ImageInfo::IMG_400;
        if (rest.isEmpty())
            return true;
        int used = 0;
        int64_t const d = LeadingNumber(rest, used);
        if (used != rest.size() || !ValidDepth(d))
            return false;
        depth = static_cast<int>(d);
        return true;
    }
    if (tag.size() < 3)
        return false;
    QByteArray const base = tag.left(3);
    QByteArray const rest = tag.mid(3);
    if (base == "420")
        type = ImageInfo::IMG_420;
    else if (base == "422")
        type = ImageInfo::IMG_422;
    else if (base == "444")
        type = ImageInfo::IMG_444;
    else
        return false;
    if (rest.isEmpty())
        return true;
    if (type == ImageInfo::IMG_420 && (rest == "jpeg" || rest == "mpeg2" || rest == "paldv"))
        return true;
    if (rest[0] != 'p')
        return false;
    int used = 0;
    int64_t const d = LeadingNumber(rest.mid(1), used);
    if (used + 1 != rest.size() || !ValidDepth(d))
        return false;
    depth = static_cast<int>(d);
    return true;
}

// "num:den" as a double; false without the colon. A zero denominator gives 0.
bool ParseRatio(QByteArray const& s, double& value)
{
    int used = 0;
    int64_t const num = LeadingNumber(s, used);
    if (num < 0 || used >= s.size() || s[used] != ':')
        return false;
    int used2 = 0;
    int64_t const den = LeadingNumber(s.mid(used + 1), used2);
    if (den < 0)
        return false;
    value = den == 0 ? 0.0 : double(num) / double(den);
    return true;
}

// Reads one header line; false (and the file left after what was read) for a line of 256 bytes
// or more, without a line feed, or of the line feed alone.
bool ReadHeaderLine(QFile* file, QByteArray& line)
{
    if (file == nullptr)
        return false;
    line = file->readLine(256);
    if (line.isEmpty() || line.size() >= 256 || line.back() != '\n')
        return false;
    line.back() = ' ';
    return line.size() > 1;
}

// Calls `token(tag, value)` for each space-separated token of the line.
template <typename F>
void ForEachToken(QByteArray const& line, F token)
{
    int i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        int end = line.indexOf(' ', i);
        if (end < 0)
            end = line.size();
        token(line[i], line.mid(i + 1, end - i - 1));
        i = end;
    }
}

bool SideInRange(int64_t v)
{
    return v >= 1 && v <= YUVFile::kY4MMaxSide;
}

} // namespace

// ---------------------------------------------------------------------------------------------

bool YUVFile::Y4MHeader::isValid() const
{
    return SideInRange(width) && SideInRange(height) && type >= ImageInfo::IMG_400 && type <= ImageInfo::IMG_440 &&
           bitDepth >= 8 && bitDepth <= 16;
}

YUVFile::YUVLayer::YUVLayer(YUVLayer const& other)
    : isY4M(other.isY4M), isZip(other.isZip), isGzip(other.isGzip), lastModified(other.lastModified),
      fileName(other.fileName), name2(other.name2), displayList(other.displayList), frames(other.frames),
      header(other.header), image(other.image), loaded(other.loaded)
{
}

YUVFile::YUVLayer& YUVFile::YUVLayer::operator=(YUVLayer const& other)
{
    if (this == &other)
        return *this;
    isY4M = other.isY4M;
    isZip = other.isZip;
    isGzip = other.isGzip;
    lastModified = other.lastModified;
    fileName = other.fileName;
    name2 = other.name2;
    displayList = other.displayList;
    frames = other.frames;
    header = other.header;
    image.copyFrom(other.image);
    loaded = other.loaded;
    return *this;
}

YUVFile::YUVFile() : m_order(ORDER_DECODE) {}

YUVFile::~YUVFile() = default;

int64_t YUVFile::frameSize(int width, int height, ImageInfo::IMG_TYPE type, int bitDepth)
{
    if (width < 0 || height < 0)
        return -1;
    int64_t const w = width;
    int64_t const h = height;
    int64_t chroma = 0;
    switch (type) {
    case ImageInfo::IMG_400: chroma = 0; break;
    case ImageInfo::IMG_420: chroma = Half(w) * Half(h); break;
    case ImageInfo::IMG_422: chroma = Half(w) * h; break;
    case ImageInfo::IMG_444: chroma = w * h; break;
    case ImageInfo::IMG_440: chroma = w * Half(h); break;
    default: return -1;
    }
    int64_t const samples = w * h + 2 * chroma;
    return bitDepth > 8 ? 2 * samples : samples;
}

YUVFile::Y4MHeader YUVFile::readY4MHeader(QFile* file)
{
    QByteArray line;
    if (!ReadHeaderLine(file, line))
        return Y4MHeader{};
    Y4MHeader h;
    bool sizeOk = true;
    ForEachToken(line, [&](char tag, QByteArray const& value) {
        int used = 0;
        switch (tag) {
        case 'W':
        case 'H': {
            int64_t const v = LeadingNumber(value, used);
            if (!SideInRange(v))
                sizeOk = false;
            else
                (tag == 'W' ? h.width : h.height) = static_cast<int>(v);
            break;
        }
        case 'F': ParseRatio(value, h.frameRate); break;
        case 'A': ParseRatio(value, h.aspect); break;
        case 'C':
            if (!ParseChroma(value, h.type, h.bitDepth)) {
                h.type = Y4M_UNSUPPORTED_CHROMA;
                h.bitDepth = 8;
            }
            break;
        default: // I (interlacing), X (extensions) and unknown tags are not read
            break;
        }
    });
    if (!sizeOk)
        return Y4MHeader{};
    return h;
}

YUVFile::Y4MHeader YUVFile::readY4MFrameHeader(QFile* file, Y4MHeader* stream)
{
    Y4MHeader h;
    if (stream != nullptr) {
        h.width = stream->width;
        h.height = stream->height;
        h.type = stream->type;
        h.format = stream->format;
        h.bitDepth = stream->bitDepth;
    }
    QByteArray line;
    if (!ReadHeaderLine(file, line))
        return h;
    ForEachToken(line, [&](char tag, QByteArray const& value) {
        int used = 0;
        switch (tag) {
        case 'W':
        case 'H': {
            int64_t const v = LeadingNumber(value, used);
            // A frame of a size out of bounds is marked by a zero size: it cannot be read.
            (tag == 'W' ? h.width : h.height) = SideInRange(v) ? static_cast<int>(v) : 0;
            break;
        }
        case 'C': {
            ImageInfo::IMG_TYPE type = h.type;
            int depth = 8;
            h.type = ParseChroma(value, type, depth) ? type : Y4M_UNSUPPORTED_CHROMA;
            break;
        }
        case 'F':
            if (stream != nullptr)
                ParseRatio(value, stream->frameRate);
            break;
        case 'A':
            if (stream != nullptr)
                ParseRatio(value, stream->aspect);
            break;
        default: break;
        }
    });
    return h;
}

YUVFile::Y4MHeader YUVFile::readY4MFrameHeader(QFile* file)
{
    Y4MHeader stream;
    return readY4MFrameHeader(file, &stream);
}

bool YUVFile::setFile(QString const& fileName, int layerId)
{
    if (fileName.isEmpty())
        return false;
    QFileInfo const info(fileName);
    if (!info.exists() || !info.isReadable())
        return false;

    YUVLayer record;
    record.fileName = fileName;
    QString const suffix = info.suffix();
    if (suffix == QLatin1String("zip") || suffix == QLatin1String("gz") || suffix == QLatin1String("gzip")) {
        record.isZip = suffix == QLatin1String("zip");
        record.isGzip = !record.isZip;
        m_layers[layerId] = record;
        return true;
    }

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.read(9) != QByteArrayLiteral("YUV4MPEG2")) {
        m_layers[layerId] = record;
        return true;
    }

    record.isY4M = 1;
    record.header = readY4MHeader(&file);
    if (!record.header.isValid())
        return false;

    int64_t const fileSize = file.size();
    while (!file.atEnd()) {
        QByteArray const tag = file.read(5);
        if (tag.size() < 5)
            break;
        if (tag != QByteArrayLiteral("FRAME") || file.atEnd())
            continue;
        Y4MHeader const fh = readY4MFrameHeader(&file, &record.header);
        if (!fh.isValid())
            break; // a frame that cannot be read ends the index
        int64_t const size = frameSize(fh.width, fh.height, fh.type, fh.bitDepth);
        FrameParams entry;
        entry.width = fh.width;
        entry.height = fh.height;
        entry.type = fh.type;
        entry.format = fh.format;
        entry.bitDepth = fh.bitDepth;
        entry.pos = file.pos();
        entry.size = size;
        record.frames.push_back(entry);
        if (entry.pos + size >= fileSize || !file.seek(entry.pos + size))
            break;
    }
    m_layers[layerId] = record;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Layer records

void YUVFile::reset(int layerId)
{
    auto it = m_layers.find(layerId);
    if (it == m_layers.end())
        return;
    it->isZip = false;
    it->isGzip = false;
    it->loaded = false;
    it->fileName.clear();
    it->image.release();
}

QDateTime YUVFile::modifiedTime(int layerId) const
{
    auto it = m_layers.find(layerId);
    return it == m_layers.end() ? QDateTime() : it->lastModified;
}

void YUVFile::updatetLastModifiedTime(int layerId)
{
    auto it = m_layers.find(layerId);
    if (it == m_layers.end())
        return;
    auto const first = m_layers.find(0);
    QString const name = first != m_layers.end() ? first->fileName : m_fileName;
    it->lastModified = QFileInfo(name).lastModified();
}

bool YUVFile::isExist(int layerId) const
{
    auto it = m_layers.find(layerId);
    return it != m_layers.end() && !it->fileName.isEmpty() && QFileInfo::exists(it->fileName);
}

bool YUVFile::isExist() const
{
    for (auto it = m_layers.begin(); it != m_layers.end(); ++it)
        if (!it->fileName.isEmpty() && QFileInfo::exists(it->fileName))
            return true;
    return false;
}

bool YUVFile::setDisplayInfo(QList<int> list, int layerId)
{
    if (!isExist(layerId))
        return false;
    m_layers[layerId].displayList = list;
    return true;
}

int YUVFile::check(QString const& fileName)
{
    constexpr int kRawYuvContainer = 0xA0000;
    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly) && file.read(9) == QByteArrayLiteral("YUV4MPEG2"))
        return kRawYuvContainer;
    static const QStringList kSuffixes = {QStringLiteral("yuv"), QStringLiteral("y4m"), QStringLiteral("nv12"),
                                          QStringLiteral("rgb"), QStringLiteral("bgr")};
    return kSuffixes.contains(QFileInfo(fileName).suffix()) ? kRawYuvContainer : 0;
}

int YUVFile::fileBitDepth(int layerId, PicSize const& g, bool chroma) const
{
    if (m_bitDepth > 0)
        return m_bitDepth;
    if (m_bitDepth < 0)
        return m_layerBitDepths.value(layerId, 0);
    return chroma ? g.chromaBitDepth : g.lumaBitDepth;
}

int64_t YUVFile::pictureBytes(PicSize const& g, int bitDepth) const
{
    int64_t w = g.width;
    int64_t h = g.height;
    if (m_useCrop) {
        w -= int64_t(g.left) + g.right;
        h -= int64_t(g.top) + g.bottom;
    }
    if (w <= 0 || h <= 0 || w > INT_MAX || h > INT_MAX)
        return 0;
    return std::max<int64_t>(frameSize(static_cast<int>(w), static_cast<int>(h), g.type, bitDepth), 0);
}

int64_t YUVFile::calculateBytesToSkip(int layerId, bool useDisplayList) const
{
    if (m_curIndex < 0)
        return 0;
    int64_t const i = int64_t(m_indexOffset) + m_curIndex;
    auto const layer = m_layers.find(layerId);
    QList<int> const list = useDisplayList && layer != m_layers.end() ? layer->displayList : QList<int>();
    int64_t const count = useDisplayList ? list.size() : int64_t(m_pictures.size());
    if (i < 0 || i >= count || i <= m_indexOffset)
        return 0;
    int64_t sum = 0;
    for (int64_t j = std::max<int64_t>(m_indexOffset, 0); j < i; ++j) {
        int64_t const idx = useDisplayList ? list[static_cast<int>(j)] : j;
        if (idx < 0 || idx >= int64_t(m_pictures.size()))
            continue;
        PicSize const& p = *m_pictures[static_cast<size_t>(idx)];
        if (p.layerId == layerId)
            sum += pictureBytes(p, fileBitDepth(layerId, p, false));
    }
    return sum;
}

PicSize const* YUVFile::currentPicture(int layerId, bool& inRange) const
{
    inRange = false;
    if (m_pictures.empty())
        return nullptr;
    int64_t idx = int64_t(m_curIndex) + m_indexOffset;
    if (m_useDisplayList) {
        auto const layer = m_layers.find(layerId);
        QList<int> const list = layer != m_layers.end() ? layer->displayList : QList<int>();
        idx = (idx >= 0 && idx < list.size()) ? list[static_cast<int>(idx)] : -1;
    }
    inRange = idx >= 0 && idx < int64_t(m_pictures.size());
    return m_pictures[inRange ? static_cast<size_t>(idx) : 0].get();
}

void YUVFile::loadEmpty(int index, int layerId)
{
    auto it = m_layers.find(layerId);
    if (it == m_layers.end())
        return;
    it->loaded = false;
    if (index < 0 || index >= int(m_pictures.size()))
        return;
    PicSize const& p = *m_pictures[static_cast<size_t>(index)];
    ImageType<short>& image = it->image;
    image.allocate(p.width, p.height, p.lumaBitDepth, p.chromaBitDepth, m_imgType, CropInfo{}, ImageInfo::FRAME);
    for (int plane = 0; plane < 3; ++plane) {
        ImageBase::Plane const& pl = image.m_planes[plane];
        if (pl.data == nullptr)
            continue;
        int const depth = pl.bitDepth;
        short const grey = depth >= 1 && depth <= 16 ? static_cast<short>(static_cast<uint16_t>(1u << (depth - 1))) : 0;
        for (int y = 0; y < pl.height; ++y)
            std::fill_n(image.row(plane, y), pl.stride, grey);
    }
}

bool YUVFile::loadYUV(int layerId)
{
    auto it = m_layers.find(layerId);
    if (it == m_layers.end())
        return false;
    YUVLayer& layer = *it;
    layer.loaded = false;
    QFile file(layer.fileName);
    if (layer.fileName.isEmpty() || !file.exists() || !file.open(QIODevice::ReadOnly) || m_pictures.empty())
        return false;

    bool inRange = false;
    PicSize const& p = *currentPicture(layerId, inRange);
    int const lumaDepth = fileBitDepth(layerId, p, false);
    int const chromaDepth = fileBitDepth(layerId, p, true);
    ImageType<short>& image = layer.image;
    image.allocate(p.width, p.height, lumaDepth, chromaDepth, p.type, CropInfo{}, ImageInfo::FRAME);
    if (!inRange || layer.isZip || layer.isGzip) {
        image.setZero(); // compressed files are not decompressed
        return false;
    }

    PicSize g = p;
    if (!m_useCrop)
        g.left = g.right = g.top = g.bottom = 0;
    int64_t const bytes = pictureBytes(p, lumaDepth);
    QByteArray data;
    if (bytes > 0 && bytes < INT_MAX && file.seek(calculateBytesToSkip(layerId, m_useDisplayList)))
        data = file.read(bytes);
    if (bytes <= 0 || data.size() != bytes) {
        image.setZero();
        return false;
    }
    readData(image, data, layerId, g);
    layer.loaded = true;
    return true;
}

bool YUVFile::loadY4M(int layerId)
{
    auto it = m_layers.find(layerId);
    if (it == m_layers.end())
        return false;
    YUVLayer& layer = *it;
    layer.loaded = false;
    QFile file(layer.fileName);
    if (layer.fileName.isEmpty() || !file.exists() || !file.open(QIODevice::ReadOnly) || m_pictures.empty() ||
        m_curIndex < 0 || m_curIndex >= int64_t(layer.frames.size()))
        return false;

    bool inRange = false;
    PicSize const& p = *currentPicture(layerId, inRange);
    FrameParams const& f = layer.frames[static_cast<size_t>(m_curIndex)];
    PicSize g = p;
    if (!m_useCrop)
        g.left = g.right = g.top = g.bottom = 0;
    ImageType<short>& image = layer.image;
    if (f.width != g.width - g.left - g.right || f.height != g.height - g.top - g.bottom || f.type != p.type) {
        image.setZero();
        return false;
    }
    // The frame is read with its own bit depth.
    image.allocate(p.width, p.height, f.bitDepth, f.bitDepth, f.type, CropInfo{}, ImageInfo::FRAME);
    QByteArray data;
    if (f.size > 0 && f.size < INT_MAX && file.seek(f.pos))
        data = file.read(f.size);
    if (data.size() != f.size) {
        image.setZero();
        return false;
    }
    readFrame(image, data, f.bitDepth, f.bitDepth, FORMAT_PLANAR, g);
    layer.loaded = true;
    return true;
}

bool YUVFile::load(int layerId)
{
    auto it = m_layers.find(layerId);
    if (it == m_layers.end())
        return false;
    it->loaded = false;
    return it->isY4M == 1 ? loadY4M(layerId) : loadYUV(layerId);
}

void YUVFile::reload(int layerId)
{
    if (!m_layers.contains(layerId))
        return;
    m_curIndex = -1;
    load(layerId);
}

bool YUVFile::loadPicture(Core::Picture* picture)
{
    if (picture == nullptr)
        return false;
    int layerId = picture->getLayerId();
    bool const display = m_order == ORDER_DISPLAY;
    if (Core::Picture const* repeated = picture->getRepeatedPic()) {
        layerId = repeated->getLayerId();
        if (!display) {
            loadEmpty(picture->decodeOrder, layerId);
            return false;
        }
    }
    auto it = m_layers.find(layerId);
    bool const named = it != m_layers.end() ? !it->fileName.isEmpty() : !m_fileName.isEmpty();
    if (named) {
        int const number = m_order == ORDER_DECODE ? picture->decodeOrder : picture->displayOrder;
        if (it != m_layers.end() && number == m_curIndex + m_indexOffset && it->loaded)
            return true;
        m_useDisplayList = display;
        m_curIndex = number - m_indexOffset;
        if (number != -1 && load(layerId))
            return true;
    }
    loadEmpty(picture->decodeOrder, layerId);
    return false;
}

// ---------------------------------------------------------------------------------------------
// Frame readers

void YUVFile::readFrame(ImageType<short>& image, QByteArray& data, int lumaDepth, int chromaDepth, Formats format,
                        PicSize const& g) const
{
    Bytes const b = BytesOf(data);
    QByteArray& bytes = data;
    int pos = 0;
    switch (format) {
    case FORMAT_YUY2: return readYUY2(image, bytes, pos, g);
    case FORMAT_UYVY: return readUYVY(image, bytes, pos, g);
    case FORMAT_Y210: return readY210(image, bytes, pos, g);
    case FORMAT_Y216: return readY216(image, bytes, pos, g);
    case FORMAT_AYUV: return readAYUV(image, bytes, pos, g);
    case FORMAT_Y410: return readY410(image, bytes, pos, g);
    case FORMAT_Y416: return readY416(image, bytes, pos, g);
    case FORMAT_P010:
        // 16-bit words with the samples in the upper bits; chroma interleaved, 4:2:0 only
        lumaDepth = chromaDepth = 16;
        if (g.type != ImageInfo::IMG_420) {
            Luma(image, b, 0, g, 2, lumaDepth);
            return;
        }
        break;
    default: break;
    }
    int64_t p = Luma(image, b, 0, g, static_cast<unsigned>(lumaDepth) <= 8 ? 1 : 2, lumaDepth);
    if (g.type < ImageInfo::IMG_420 || g.type > ImageInfo::IMG_440)
        return;
    int const bps = static_cast<unsigned>(chromaDepth) <= 8 ? 1 : 2;
    if (format == FORMAT_PLANAR)
        PlanarChroma(image, b, p, g, g.type, bps, chromaDepth);
    else if (format == FORMAT_SEMI_PLANAR || format == FORMAT_P010)
        InterleavedChroma(image, b, p, g, g.type, bps, chromaDepth);
}

void YUVFile::readData(ImageType<short>& image, QByteArray& data, int layerId, PicSize const& geometry)
{
    int lumaDepth = m_bitDepth;
    int chromaDepth = m_bitDepth;
    if (m_bitDepth == 0) {
        lumaDepth = image.m_planes[0].bitDepth;
        chromaDepth = image.m_planes[1].bitDepth;
    } else if (m_bitDepth < 0) {
        lumaDepth = chromaDepth = m_layerBitDepths.value(layerId, 0);
    }
    readFrame(image, data, lumaDepth, chromaDepth, m_format, geometry);
}

void YUVFile::readYUV(ImageType<short>& image, QByteArray& data, int layerId, PicSize const& geometry)
{
    ImageBase::Plane const& p0 = image.m_planes[0];
    ImageBase::Plane const& p1 = image.m_planes[1];
    // Fill areas from the picture's planes less their crop; wanted depths from the planes.
    PicSize g = geometry;
    g.width = p0.width - p0.crop.right;
    g.height = p0.height - p0.crop.bottom;
    g.left = p0.crop.left;
    g.top = p0.crop.top;
    g.right = g.bottom = 0;
    g.lumaBitDepth = p0.bitDepth;
    g.chromaBitDepth = p1.bitDepth;
    int lumaDepth = m_bitDepth > 0 ? m_bitDepth : m_layerBitDepths.value(layerId, 0);
    int chromaDepth = lumaDepth;
    if (m_bitDepth == 0) {
        lumaDepth = g.lumaBitDepth;
        chromaDepth = g.chromaBitDepth;
    }
    Bytes const b = BytesOf(data);
    int64_t pos = Luma(image, b, 0, g, static_cast<unsigned>(lumaDepth) <= 8 ? 1 : 2, lumaDepth);
    if (p1.data == nullptr)
        return;
    Area const a{p1.crop.top, int64_t(p1.height) - p1.crop.bottom, p1.crop.left, int64_t(p1.width) - p1.crop.right};
    int const bps = static_cast<unsigned>(chromaDepth) <= 8 ? 1 : 2;
    Shift const sh = bps == 1 ? Shift{} : Shift::of(g.chromaBitDepth, chromaDepth);
    if (m_format == FORMAT_SEMI_PLANAR) {
        if (bps == 1)
            ReadInterleaved<1>(image, b, pos, a, sh);
        else
            ReadInterleaved<2>(image, b, pos, a, sh);
        return;
    }
    for (int plane = 1; plane < 3; ++plane, pos += a.rows() * a.cols() * bps) {
        if (bps == 1)
            ReadPlane<1>(image, plane, b, pos, a, sh);
        else
            ReadPlane<2>(image, plane, b, pos, a, sh);
    }
}

void YUVFile::readLuma8Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g)
{
    AdvancePos(pos, Luma(image, BytesOf(data), pos, g, 1, 8));
}

void YUVFile::readLuma16Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g, int bitDepth)
{
    AdvancePos(pos, Luma(image, BytesOf(data), pos, g, 2, bitDepth));
}

#define SERAVIN_CHROMA_READERS(FMT, TYPE)                                                                              \
    void YUVFile::readChroma##FMT##Planar8Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g)   \
    {                                                                                                                  \
        AdvancePos(pos, PlanarChroma(image, BytesOf(data), pos, g, TYPE, 1, 8));                                       \
    }                                                                                                                  \
    void YUVFile::readChroma##FMT##Planar16Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g,  \
                                               int bitDepth)                                                           \
    {                                                                                                                  \
        AdvancePos(pos, PlanarChroma(image, BytesOf(data), pos, g, TYPE, 2, bitDepth));                                \
    }                                                                                                                  \
    void YUVFile::readChroma##FMT##NV128Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g)     \
    {                                                                                                                  \
        AdvancePos(pos, InterleavedChroma(image, BytesOf(data), pos, g, TYPE, 1, 8));                                  \
    }                                                                                                                  \
    void YUVFile::readChroma##FMT##NV1216Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g,    \
                                             int bitDepth)                                                             \
    {                                                                                                                  \
        AdvancePos(pos, InterleavedChroma(image, BytesOf(data), pos, g, TYPE, 2, bitDepth));                           \
    }

SERAVIN_CHROMA_READERS(420, ImageInfo::IMG_420)
SERAVIN_CHROMA_READERS(422, ImageInfo::IMG_422)
SERAVIN_CHROMA_READERS(444, ImageInfo::IMG_444)
SERAVIN_CHROMA_READERS(440, ImageInfo::IMG_440)
#undef SERAVIN_CHROMA_READERS

void YUVFile::readYUY2(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g)
{
    ReadPacked422<1>(image, data, pos, g, true, 0);
}

void YUVFile::readUYVY(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g)
{
    ReadPacked422<1>(image, data, pos, g, false, 0);
}

void YUVFile::readY210(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g)
{
    ReadPacked422<2>(image, data, pos, g, true, 6);
}

void YUVFile::readY216(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g)
{
    ReadPacked422<2>(image, data, pos, g, true, 0);
}

void YUVFile::readAYUV(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g)
{
    ReadPacked(image, data, pos, g, 4, [&](Bytes const& b, int64_t i, int64_t x, int64_t y, int64_t) {
        Put(image, 2, x, y, b.at(i));
        Put(image, 1, x, y, b.at(i + 1));
        Put(image, 0, x, y, b.at(i + 2));
    });
}

void YUVFile::readY410(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g)
{
    ReadPacked(image, data, pos, g, 4, [&](Bytes const& b, int64_t i, int64_t x, int64_t y, int64_t) {
        uint32_t const w = FetchChecked<2>(b, i) | (FetchChecked<2>(b, i + 2) << 16);
        Put(image, 1, x, y, w & 0x3ff);
        Put(image, 0, x, y, (w >> 10) & 0x3ff);
        Put(image, 2, x, y, (w >> 20) & 0x3ff);
    });
}

void YUVFile::readY416(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g)
{
    ReadPacked(image, data, pos, g, 8, [&](Bytes const& b, int64_t i, int64_t x, int64_t y, int64_t) {
        Put(image, 1, x, y, FetchChecked<2>(b, i));
        Put(image, 0, x, y, FetchChecked<2>(b, i + 2));
        Put(image, 2, x, y, FetchChecked<2>(b, i + 4));
    });
}

namespace {

// Stores three of the pixel's bytes into the interleaved RGB plane.
void PutRGB(ImageType<short>& image, int64_t x, int64_t y, uint8_t c0, uint8_t c1, uint8_t c2)
{
    ImageBase::Plane const& p = image.m_planes[0];
    if (p.data == nullptr || x < 0 || y < 0 || x >= p.width || y >= p.height || 3 * (x + 1) > p.stride)
        return;
    short* d = image.row(0, static_cast<int>(y)) + 3 * x;
    d[0] = c0;
    d[1] = c1;
    d[2] = c2;
}

} // namespace

void YUVFile::readRGB24(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g, int order)
{
    ReadPacked(image, data, pos, g, 3, [&](Bytes const& b, int64_t i, int64_t x, int64_t y, int64_t) {
        uint8_t const b0 = b.at(i), b1 = b.at(i + 1), b2 = b.at(i + 2);
        if (order == 10)
            PutRGB(image, x, y, b2, b1, b0);
        else if (order == 11 || order == 12)
            PutRGB(image, x, y, b0, b1, b2);
    });
}

void YUVFile::readRGB32(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g, int order)
{
    ReadPacked(image, data, pos, g, 4, [&](Bytes const& b, int64_t i, int64_t x, int64_t y, int64_t) {
        uint8_t const b0 = b.at(i), b1 = b.at(i + 1), b2 = b.at(i + 2), b3 = b.at(i + 3);
        if (order == 10)
            PutRGB(image, x, y, b2, b1, b0);
        else if (order == 11)
            PutRGB(image, x, y, b0, b1, b2);
        else if (order == 12)
            PutRGB(image, x, y, b1, b2, b3);
    });
}
