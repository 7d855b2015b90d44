#pragma once

// Helpers of the AV1 tests: files as bytes, an Annex B writer and per-frame MD5s.

#include "frame.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QStringList>

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace av1_test {

inline QByteArray ReadAll(QString const& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool WriteAll(QString const& path, QByteArray const& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline void PutLeb128(QByteArray& out, uint64_t v)
{
    do {
        uint8_t b = v & 0x7f;
        v >>= 7;
        if (v)
            b |= 0x80;
        out.append(static_cast<char>(b));
    } while (v);
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
    int pos = 0;
    while (pos < s5.size()) {
        const uint8_t h = static_cast<uint8_t>(s5[pos]);
        int p = pos + 1 + ((h & 0x04) ? 1 : 0);
        uint64_t size = 0;
        for (int shift = 0; p < s5.size(); shift += 7) {
            const uint8_t b = static_cast<uint8_t>(s5[p++]);
            size |= static_cast<uint64_t>(b & 0x7f) << shift;
            if (!(b & 0x80))
                break;
        }
        const int end = p + static_cast<int>(size);
        obus.push_back({(h >> 3) & 0xf, s5.mid(pos, end - pos)});
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
            const bool isFrame = o.type == 3 || o.type == 6;
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

// The hashes column of an ffmpeg framemd5 file.
inline QStringList FrameMd5s(QString const& path)
{
    QStringList md5s;
    for (QByteArray const& line : ReadAll(path).split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        md5s << QString::fromLatin1(line.split(',').last().trimmed());
    }
    return md5s;
}

// MD5 of the packed planes of a picture (rows read by the picture's pitch), the first `planes` planes.
inline QString PackedMd5(ze::nox::core::Frame const& frame, int planes = 3)
{
    AVFrame const* f = frame.avFrame();
    if (!f || !f->data[0])
        return QString();
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    const int bytes = desc->comp[0].depth > 8 ? 2 : 1;
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (int p = 0; p < planes; ++p) {
        const int w = p ? -((-f->width) >> desc->log2_chroma_w) : f->width;
        const int h = p ? -((-f->height) >> desc->log2_chroma_h) : f->height;
        for (int y = 0; y < h; ++y)
            hash.addData(reinterpret_cast<const char*>(f->data[p] + static_cast<ptrdiff_t>(y) * f->linesize[p]),
                         w * bytes);
    }
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace av1_test
