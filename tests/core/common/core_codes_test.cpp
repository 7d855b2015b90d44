#include "decoders/ffmpeg_utils.h"
#include "display/frame.h"
#include "common/ze_nox_core_error.h"
#include "common/ze_nox_core_supported_features.h"
#include "metrics/ze_quality_metric_calculator.h"
#include "common/ze_stream.h"

#include <gtest/gtest.h>

using namespace ze::nox::core;

TEST(CoreCodes, ErrorTexts)
{
    const struct
    {
        int code;
        char const* text;
    } kCases[] = {
        {0, "Ok"},
        {1, "Operation failed"},
        {2, "Unknown error"},
        {3, "Internal error"},
        {5, "Stream type was not detected"},
        {6, "Failed to open a file"},
        {9, "User has canceled the operation"},
        {12, "Unsupported VVC chroma subsampling. Only 4:2:0 and 4:0:0 are supported for VVC"},
        {14, "File has corrupted frame(s)"},
        {18, "Resolution and/or chroma format changes during the stream"},
        {20, "Chroma format not supported"},
        {22, "Critical decoding error"},
        {23, "Unknown error"},
        {-1, "Unknown error"},
    };
    for (auto const& c : kCases)
        EXPECT_EQ(ErrToString(static_cast<ZeNoxCoreError>(c.code)), QString::fromLatin1(c.text)) << c.code;
}

TEST(CoreCodes, StreamTypeBySuffix)
{
    const struct
    {
        char const* name;
        int type;
    } kCases[] = {
        {"clip.Y4M", 1},    {"a.b.HEVC", 3},  {"clip.yuv.gz", 0},
        {"noextension", 0}, {"movie.mp4", 0}, {"x.ivf", 4},
        {"x.jpg", 0},       {"x.mjpeg", 6},   {"/tmp/dir.h264/x.264", 2},
        {"x.avc", 2},       {"x.h265", 3},    {"x.265", 3},
        {"x.obu", 4},       {"x.av1", 4},     {"x.vvc", 5},
        {"x.hvc", 0},
    };
    for (auto const& c : kCases)
        EXPECT_EQ(DetectStreamTypeByFilename(QString::fromLatin1(c.name)), c.type) << c.name;
}

TEST(CoreCodes, StreamTypeNamesRoundTrip)
{
    for (int t = 1; t <= 6; ++t) {
        auto const type = static_cast<ZeStreamType>(t);
        EXPECT_EQ(GetStreamTypeByName(GetStreamTypeName(type)), type);
    }
    EXPECT_EQ(GetStreamTypeName(static_cast<ZeStreamType>(7)), QStringLiteral("Unknown"));
    EXPECT_EQ(GetStreamTypeByName(QStringLiteral("yuv")), ZE_STREAM_TYPE_UNKNOWN);
    EXPECT_EQ(GetStreamTypeByName(QStringLiteral("Unknown")), ZE_STREAM_TYPE_UNKNOWN);
    EXPECT_EQ(GetStreamTypeByName(QStringLiteral(" AVC")), ZE_STREAM_TYPE_UNKNOWN);
}

TEST(CoreCodes, CodecIds)
{
    EXPECT_EQ(GetAvCodecIdFromStreamType(ZE_STREAM_TYPE_YUV), AV_CODEC_ID_NONE);
    EXPECT_EQ(GetAvCodecIdFromStreamType(ZE_STREAM_TYPE_VVC), AV_CODEC_ID_NONE);
    EXPECT_EQ(GetAvCodecIdFromStreamType(static_cast<ZeStreamType>(9)), AV_CODEC_ID_NONE);
    for (int t : {2, 3, 4, 6}) {
        auto const type = static_cast<ZeStreamType>(t);
        EXPECT_EQ(GetStreamTypeFromAvCodecId(GetAvCodecIdFromStreamType(type)), type);
    }
    EXPECT_EQ(GetStreamTypeFromAvCodecId(AV_CODEC_ID_VP9), ZE_STREAM_TYPE_UNKNOWN);
}

TEST(CoreCodes, ComponentAndMetricNames)
{
    EXPECT_EQ(GetComponentName(COMPONENT_U), QStringLiteral("U"));
    EXPECT_EQ(GetComponentName(COMPONENT_YUV), QStringLiteral("YUV"));
    EXPECT_EQ(GetComponentName(static_cast<Component>(4)), QString());
    EXPECT_EQ(GetZeVideoQualityMetricName(ZE_VIDEO_QUALITY_METRIC_SSIM), QStringLiteral("SSIM"));
    EXPECT_EQ(GetZeVideoQualityMetricName(static_cast<ZeVideoQualityMetric>(3)), QString());
}

TEST(CoreCodes, PixelFormats)
{
    const struct
    {
        AVPixelFormat fmt;
        int depth;
        char const* name;
        char const* avName;
    } kCases[] = {
        {AV_PIX_FMT_NONE, 0, "-", ""},
        {AV_PIX_FMT_YUV420P, 8, "YUV 4:2:0 8 bit", "yuv420p"},
        {AV_PIX_FMT_YUV420P10LE, 10, "YUV 4:2:0 10 bit", "yuv420p10le"},
        {AV_PIX_FMT_P010LE, 10, "NV12 10 bit", "p010le"},
        {AV_PIX_FMT_NV12, 8, "NV12 8 bit", "nv12"},
        {AV_PIX_FMT_YUVJ420P, 8, "YUVJ 4:2:0 8 bit", "yuvj420p"},
        {AV_PIX_FMT_YUYV422, 8, "YUV 4:2:2 8 bit packed", "yuyv422"},
        {AV_PIX_FMT_GRAY8, 8, "gray", "gray"},
        {AV_PIX_FMT_YUV420P12LE, 12, "yuv420p12le", "yuv420p12le"},
    };
    for (auto const& c : kCases) {
        EXPECT_EQ(GetBitDepthFromAvPixFmt(c.fmt), c.depth) << c.avName;
        EXPECT_EQ(GetPixFmtName(c.fmt), QString::fromLatin1(c.name)) << c.avName;
        EXPECT_EQ(GetPixFmtAvName(c.fmt), QString::fromLatin1(c.avName));
    }
    EXPECT_EQ(GetPixFmtFromAvName(QString()), AV_PIX_FMT_NONE);
    EXPECT_EQ(GetPixFmtFromAvName(QStringLiteral("no-such-format")), AV_PIX_FMT_NONE);
}

TEST(CoreCodes, AcceptedLists)
{
    auto const& fmts = ZeNoxCoreSupportedFeatures::m_pixFmts;
    ASSERT_EQ(fmts.size(), 11);
    EXPECT_EQ(fmts.first(), AV_PIX_FMT_NONE);
    for (int i = 1; i < fmts.size(); ++i)
        EXPECT_EQ(GetPixFmtFromAvName(GetPixFmtAvName(fmts[i])), fmts[i]);
    for (AVPixelFormat refused : {AV_PIX_FMT_YUV420P12LE, AV_PIX_FMT_GRAY8, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P})
        EXPECT_FALSE(fmts.contains(refused));
    QList<AVCodecID> const codecs = {AV_CODEC_ID_MJPEG, AV_CODEC_ID_H264, AV_CODEC_ID_HEVC};
    EXPECT_EQ(ZeNoxCoreSupportedFeatures::m_ffmpegCodecs, codecs);
}
