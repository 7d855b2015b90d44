#pragma once

// Writes the pictures a decoder gives into a Y4M file (4:2:0, 8 to 16 bits), for benchmarks that
// need a raw reference of a stream no tool here can encode.

#include "decoders/ze_nox_decoder.h"
#include "display/frame.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <QFile>
#include <QString>

#include <cstddef>

// Gives the number of pictures written (0 for a format other than 4:2:0 or a file not writable).
inline int WriteY4m(ze::nox::core::ZeNoxDecoder& dec, QString const& path)
{
    using namespace ze::nox::core;
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(dec.pixelFormat());
    QFile out(path);
    if (!desc || desc->log2_chroma_w != 1 || desc->log2_chroma_h != 1 || !out.open(QIODevice::WriteOnly))
        return 0;
    int const depth = desc->comp[0].depth;
    out.write(QStringLiteral("YUV4MPEG2 W%1 H%2 F25:1 Ip A1:1 C420%3\n")
                  .arg(dec.width())
                  .arg(dec.height())
                  .arg(depth > 8 ? QStringLiteral("p%1").arg(depth) : QString())
                  .toLatin1());
    int const bytes = depth > 8 ? 2 : 1;
    Frame frame;
    int n = 0;
    for (ZeNoxCoreError r = dec.getFirstFrame(frame); r == ZE_NOX_CORE_OK; r = dec.getNextFrame(frame)) {
        AVFrame const* f = frame.avFrame();
        out.write("FRAME\n");
        for (int p = 0; p < 3; ++p) {
            int const w = p == 0 ? f->width : (f->width + 1) / 2;
            int const h = p == 0 ? f->height : (f->height + 1) / 2;
            for (int y = 0; y < h; ++y)
                out.write(reinterpret_cast<char const*>(f->data[p] + ptrdiff_t(y) * f->linesize[p]), w * bytes);
        }
        if (++n == dec.getOriginalFrameCount())
            break;
    }
    return n;
}

