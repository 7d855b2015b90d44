#pragma once

// What the tests (and the tools in bench/ that share their clips) have in common: the folders of
// the clips, files as bytes, a capture of the toolkit's messages, ffmpeg's per-frame MD5s and the
// same hash of a decoded picture, and the AV1 framing writers (LEB128 and Annex B).

#include "display/frame.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

// Folder of the clips made by media/make_media.sh.
inline QString TestMediaPath(QString const& name)
{
    return QStringLiteral(SERAVIN_TEST_MEDIA_DIR "/") + name;
}

// A golden-value file of the VMAF reference set (tests/data/vmaf/golden).
inline QString VmafGoldenPath(QString const& name)
{
    return QStringLiteral(SERAVIN_VMAF_GOLDEN_DIR "/") + name;
}

// A reference clip of the VMAF golden set, as a golden file names it ("clips/A_....y4m"): the media
// fixture regenerates those clips, checked by MD5, into the test media folder.
inline QString VmafClipPath(QString const& name)
{
    return TestMediaPath(QFileInfo(name).fileName());
}

// QString in test failure messages.
inline void PrintTo(QString const& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

// ---- Files ----------------------------------------------------------------------------------

// The bytes of a file from `offset`, `size` of them (all to the end when negative); empty when it
// cannot be read.
inline QByteArray ReadAll(QString const& path, qint64 offset = 0, qint64 size = -1)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return {};
    return size < 0 ? f.readAll() : f.read(size);
}

// Writes the file anew; false when it is not written whole.
inline bool WriteAll(QString const& path, QByteArray const& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline bool WriteAll(QString const& path, std::vector<uint8_t> const& bytes)
{
    return WriteAll(path, QByteArray(reinterpret_cast<char const*>(bytes.data()), static_cast<int>(bytes.size())));
}

// ---- Messages -------------------------------------------------------------------------------

// Collects the toolkit's messages, from any thread, while it lives; the handler before it comes
// back at the end. With keep false the messages are only swallowed (damaged files make every
// decoder complain at length).
class MessageCapture
{
public:
    struct Entry
    {
        QtMsgType type;
        QString text;
    };

    explicit MessageCapture(bool keep = true) : m_keep(keep), m_outer(sCurrent)
    {
        sCurrent = this;
        m_previous = qInstallMessageHandler(&MessageCapture::handler);
    }
    ~MessageCapture()
    {
        qInstallMessageHandler(m_previous);
        sCurrent = m_outer;
    }
    MessageCapture(MessageCapture const&) = delete;
    MessageCapture& operator=(MessageCapture const&) = delete;

    QList<Entry> entries() const
    {
        QMutexLocker lock(&m_mutex);
        return m_entries;
    }
    QStringList messages() const
    {
        QStringList texts;
        for (Entry const& e : entries())
            texts << e.text;
        return texts;
    }
    QStringList messages(QtMsgType type) const
    {
        QStringList texts;
        for (Entry const& e : entries())
            if (e.type == type)
                texts << e.text;
        return texts;
    }
    // Messages of the type that contain `part`.
    int count(QtMsgType type, QString const& part = QString()) const
    {
        int n = 0;
        for (Entry const& e : entries())
            n += e.type == type && e.text.contains(part) ? 1 : 0;
        return n;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_entries.clear();
    }
    // One line per message, its type first (C, W, I or D), for failure output.
    std::string dump() const
    {
        std::string out;
        for (Entry const& e : entries()) {
            char const* tag = e.type == QtCriticalMsg || e.type == QtFatalMsg ? "C"
                              : e.type == QtWarningMsg                        ? "W"
                              : e.type == QtInfoMsg                           ? "I"
                                                                              : "D";
            out += std::string(tag) + ": " + e.text.toStdString() + "\n";
        }
        return out;
    }

private:
    static void handler(QtMsgType type, QMessageLogContext const&, QString const& text)
    {
        MessageCapture* c = sCurrent;
        if (!c || !c->m_keep)
            return;
        QMutexLocker lock(&c->m_mutex);
        c->m_entries.append({type, text});
    }

    static inline MessageCapture* sCurrent = nullptr;
    bool m_keep;
    MessageCapture* m_outer;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QList<Entry> m_entries;
};

// ---- Pictures -------------------------------------------------------------------------------

// The hashes column of an ffmpeg framemd5 file, one per frame.
inline QStringList FrameMd5s(QString const& path)
{
    QStringList md5s;
    for (QByteArray const& line : ReadAll(path).split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        md5s << QString::fromLatin1(trimmed.split(',').last().trimmed());
    }
    return md5s;
}

// MD5 of a picture's planes written row by row without padding, as ffmpeg's framemd5 of raw
// video; only the first `planes` planes when that is not negative (ffmpeg hashes only the luma
// of a monochrome stream). Empty for no picture.
inline QString PictureMd5(AVFrame const* f, int planes = -1)
{
    if (!f || !f->data[0])
        return QString();
    auto const fmt = static_cast<AVPixelFormat>(f->format);
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(fmt);
    if (!desc)
        return QString();
    int const count = planes < 0 ? av_pix_fmt_count_planes(fmt) : planes;
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (int plane = 0; plane < count; ++plane) {
        int const rowBytes = av_image_get_linesize(fmt, f->width, plane);
        int const rows = (plane == 1 || plane == 2) ? AV_CEIL_RSHIFT(f->height, desc->log2_chroma_h) : f->height;
        for (int y = 0; y < rows; ++y)
            hash.addData(reinterpret_cast<char const*>(f->data[plane] + static_cast<ptrdiff_t>(y) * f->linesize[plane]),
                         rowBytes);
    }
    return QString::fromLatin1(hash.result().toHex());
}

inline QString PictureMd5(ze::nox::core::Frame const& frame, int planes = -1)
{
    return PictureMd5(frame.avFrame(), planes);
}

// ---- AV1 framing ----------------------------------------------------------------------------

// LEB128 of a value, shortest form, appended to a QByteArray or a byte vector.
template <typename Bytes>
void PutLeb128(Bytes& out, uint64_t v)
{
    do {
        uint8_t b = v & 0x7f;
        v >>= 7;
        if (v)
            b |= 0x80;
        out.push_back(static_cast<typename Bytes::value_type>(b));
    } while (v);
}

// Reads a LEB128 value of at most 8 bytes at pos and moves pos past it; false when it does not end.
template <typename Bytes>
bool GetLeb128(Bytes const& in, size_t& pos, uint64_t& v)
{
    v = 0;
    for (int i = 0; i < 8; ++i) {
        if (pos >= static_cast<size_t>(in.size()))
            return false;
        const uint8_t b = static_cast<uint8_t>(in[static_cast<int>(pos++)]);
        v |= static_cast<uint64_t>(b & 0x7f) << (7 * i);
        if (!(b & 0x80))
            return true;
    }
    return false;
}

struct Obu
{
    int type;
    QByteArray bytes; // the whole OBU as stored
};

// Splits a low-overhead OBU stream (every OBU with its size field) into its OBUs.
inline std::vector<Obu> SplitObus(QByteArray const& s5)
{
    std::vector<Obu> obus;
    size_t pos = 0;
    while (pos < static_cast<size_t>(s5.size())) {
        const uint8_t h = static_cast<uint8_t>(s5[static_cast<int>(pos)]);
        size_t p = pos + 1 + ((h & 0x04) ? 1 : 0);
        uint64_t size = 0;
        GetLeb128(s5, p, size);
        const size_t end = std::min<size_t>(p + size, static_cast<size_t>(s5.size()));
        obus.push_back({(h >> 3) & 0xf, s5.mid(static_cast<int>(pos), static_cast<int>(end - pos))});
        pos = end;
    }
    return obus;
}

// The same stream in Annex B framing: a temporal unit per temporal delimiter, a frame unit per
// frame (header), each OBU kept as it is behind its obu_length.
inline QByteArray ToAnnexB(QByteArray const& s5)
{
    const std::vector<Obu> obus = SplitObus(s5);
    QByteArray out;
    size_t i = 0;
    while (i < obus.size()) {
        QByteArray tu;
        QByteArray fu;
        bool fuHasFrame = false;
        auto flushFrameUnit = [&]() {
            if (fu.isEmpty())
                return;
            PutLeb128(tu, static_cast<uint64_t>(fu.size()));
            tu += fu;
            fu.clear();
            fuHasFrame = false;
        };
        do {
            Obu const& o = obus[i];
            bool const isFrame = o.type == 3 || o.type == 6;
            if (isFrame && fuHasFrame)
                flushFrameUnit();
            fuHasFrame = fuHasFrame || isFrame;
            PutLeb128(fu, static_cast<uint64_t>(o.bytes.size()));
            fu += o.bytes;
            ++i;
        } while (i < obus.size() && obus[i].type != 2);
        flushFrameUnit();
        PutLeb128(out, static_cast<uint64_t>(tu.size()));
        out += tu;
    }
    return out;
}
