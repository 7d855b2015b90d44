#pragma once

#include <QString>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace ze::nox::core {

// Largest component depth of the format; 0 when FFmpeg does not describe it.
int GetBitDepthFromAvPixFmt(AVPixelFormat fmt);
// Display name ("YUV 4:2:0 8 bit"), FFmpeg's short name for other formats, "-" for unknown ones.
QString GetPixFmtName(AVPixelFormat fmt);
// FFmpeg's short name ("yuv420p"); empty when FFmpeg has none.
QString GetPixFmtAvName(AVPixelFormat fmt);
// Inverse of GetPixFmtAvName; AV_PIX_FMT_NONE for an empty or unknown name.
AVPixelFormat GetPixFmtFromAvName(QString const& name);

} // namespace ze::nox::core
