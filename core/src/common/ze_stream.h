#pragma once

#include <QString>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace ze::nox::core {

// Kind of stream a decoder reads; stored in the project file as this integer.
enum ZeStreamType : int {
    ZE_STREAM_TYPE_UNKNOWN = 0,
    ZE_STREAM_TYPE_YUV = 1,
    ZE_STREAM_TYPE_AVC = 2,
    ZE_STREAM_TYPE_HEVC = 3,
    ZE_STREAM_TYPE_AV1 = 4,
    ZE_STREAM_TYPE_VVC = 5,
    ZE_STREAM_TYPE_MJPEG = 6,
};

QString GetStreamTypeName(ZeStreamType type);
// Exact, case-sensitive match of a name; 0 for every other text.
ZeStreamType GetStreamTypeByName(QString const& name);
// By the lower-cased file suffix only; the file is not opened.
ZeStreamType DetectStreamTypeByFilename(QString const& fileName);
AVCodecID GetAvCodecIdFromStreamType(ZeStreamType type);
ZeStreamType GetStreamTypeFromAvCodecId(AVCodecID id);

} // namespace ze::nox::core
