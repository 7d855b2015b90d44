// Decoder creation by type, type detection by opening, and the opening wrapper's raw-YUV question.

#include "test_support.h"

#include "decoders/ze_av1_decoder.h"
#include "decoders/ze_ffmpeg_decoder.h"
#include "decoders/ze_nox_decoder_factory.h"
#include "decoders/ze_vvc_decoder.h"
#include "decoders/ze_yuv_decoder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <new>

using namespace ze::nox::core;

namespace {

// Set to make the next new (std::nothrow) fail, as when memory runs out.
bool sFailNextNothrowNew = false;

} // namespace

void* operator new(std::size_t size, std::nothrow_t const&) noexcept
{
    if (sFailNextNothrowNew) {
        sFailNextNothrowNew = false;
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

// A scripted raw-parameters question: counts its calls and answers what the test set.
struct Question
{
    static inline int calls = 0;
    static inline ZeNoxCoreError answer = ZE_NOX_CORE_OK;
    static inline int width = 176;
    static inline int height = 144;
    static inline int depth = 8;
    static inline ImageInfo::IMG_TYPE type = ImageInfo::IMG_420;
    static inline YUVFile::Formats layout = YUVFile::FORMAT_PLANAR;
    static inline int chromaOrder = 0;
    static inline CropInfo crop{};

    static ZeNoxCoreError Ask(QString const&, int& w, int& h, int& bitDepth, ImageInfo::IMG_TYPE& chroma,
                              YUVFile::Formats& planeOrder, int& order, int& frameSize, CropInfo& c, bool)
    {
        ++calls;
        EXPECT_EQ(w, 0);
        EXPECT_EQ(frameSize, 0);
        if (answer != ZE_NOX_CORE_OK)
            return answer;
        w = width;
        h = height;
        bitDepth = depth;
        chroma = type;
        planeOrder = layout;
        order = chromaOrder;
        frameSize = width * height * 3 / 2 * (depth > 8 ? 2 : 1);
        c = crop;
        return ZE_NOX_CORE_OK;
    }

    static void Reset(ZeNoxCoreError a = ZE_NOX_CORE_OK, int w = 176, int h = 144)
    {
        calls = 0;
        answer = a;
        width = w;
        height = h;
        depth = 8;
        type = ImageInfo::IMG_420;
        layout = YUVFile::FORMAT_PLANAR;
        chromaOrder = 0;
        crop = CropInfo{};
    }
};

// A copy of a test clip under a name whose suffix tells nothing.
QString Renamed(QTemporaryDir const& dir, QString const& clip)
{
    const QString target = dir.filePath(clip + QStringLiteral(".bin"));
    QFile::remove(target);
    EXPECT_TRUE(QFile::copy(TestMediaPath(clip), target)) << clip.toStdString();
    return target;
}

} // namespace

TEST(DecoderFactory, CreatesUnopenedDecoderOfEachType)
{
    QObject parent;
    const struct
    {
        ZeStreamType type;
        char const* className;
    } kCases[] = {
        {ZE_STREAM_TYPE_YUV, "ze::nox::core::ZeYuvDecoder"},
        {ZE_STREAM_TYPE_AVC, "ze::nox::core::ZeFfmpegDecoder"},
        {ZE_STREAM_TYPE_HEVC, "ze::nox::core::ZeFfmpegDecoder"},
        {ZE_STREAM_TYPE_AV1, "ze::nox::core::ZeAv1Decoder"},
        {ZE_STREAM_TYPE_VVC, "ze::nox::core::ZeVvcDecoder"},
        {ZE_STREAM_TYPE_MJPEG, "ze::nox::core::ZeFfmpegDecoder"},
    };
    for (auto const& c : kCases) {
        ZeNoxDecoder* decoder = reinterpret_cast<ZeNoxDecoder*>(0x1);
        ASSERT_EQ(CreateNoxDecoder(&decoder, c.type, QStringLiteral("none"), &Question::Ask, true, &parent),
                  ZE_NOX_CORE_OK);
        ASSERT_NE(decoder, nullptr);
        EXPECT_STREQ(decoder->metaObject()->className(), c.className);
        EXPECT_EQ(decoder->parent(), &parent);
        EXPECT_FALSE(decoder->isOpened());
        EXPECT_EQ(decoder->openResult(), ZE_NOX_CORE_NOT_OPENED);
    }
    EXPECT_EQ(CreateNoxDecoder(nullptr, ZE_STREAM_TYPE_YUV, QString(), &Question::Ask, false, nullptr),
              ZE_NOX_CORE_INTERNAL_ERROR);
}

// Detection opens the file with AVC, VVC, AV1 and YUV in turn and moves on only on "not detected".
TEST(DecoderFactory, DetectsTheTypeByOpening)
{
    QTemporaryDir dir;
    const struct
    {
        char const* clip;
        char const* className;
        ZeStreamType openedType;
    } kCases[] = {
        {"ff_avc8.h264", "ze::nox::core::ZeFfmpegDecoder", ZE_STREAM_TYPE_AVC},
        {"ff_hevc8.h265", "ze::nox::core::ZeFfmpegDecoder", ZE_STREAM_TYPE_HEVC},
        {"av1_420p.ivf", "ze::nox::core::ZeAv1Decoder", ZE_STREAM_TYPE_AV1},
        {"av1_420p.obu", "ze::nox::core::ZeAv1Decoder", ZE_STREAM_TYPE_AV1},
        {"raw_420p_176x144.y4m", "ze::nox::core::ZeYuvDecoder", ZE_STREAM_TYPE_YUV},
    };
    QObject parent;
    for (auto const& c : kCases) {
        Question::Reset();
        const QString file = Renamed(dir, QString::fromLatin1(c.clip));
        ZeNoxDecoder* decoder = nullptr;
        // Type 7 is no type: it detects too.
        ASSERT_EQ(CreateNoxDecoder(&decoder, static_cast<ZeStreamType>(7), file, &Question::Ask, false, &parent),
                  ZE_NOX_CORE_OK)
            << c.clip;
        std::unique_ptr<ZeNoxDecoder> owned(decoder);
        ASSERT_NE(decoder, nullptr);
        EXPECT_STREQ(decoder->metaObject()->className(), c.className) << c.clip;
        EXPECT_EQ(decoder->parent(), nullptr) << "detection hands back a decoder without a parent";
        EXPECT_FALSE(decoder->isOpened());
        EXPECT_EQ(Question::calls, 0) << c.clip;
        ASSERT_EQ(OpenNoxDecoderWrapper(decoder, file, nullptr, &Question::Ask, false), ZE_NOX_CORE_OK) << c.clip;
        EXPECT_EQ(decoder->streamType(), c.openedType) << c.clip;
    }
}

// A raw file: detection asks, the fresh decoder does not keep the answers, so opening asks again.
TEST(DecoderFactory, RawFileIsAskedForAndAskedAgainOnOpen)
{
    const QString file = TestMediaPath(QStringLiteral("raw_420p_176x144.yuv"));
    Question::Reset();
    ZeNoxDecoder* decoder = nullptr;
    ASSERT_EQ(CreateNoxDecoder(&decoder, ZE_STREAM_TYPE_UNKNOWN, file, &Question::Ask, false, nullptr), ZE_NOX_CORE_OK);
    std::unique_ptr<ZeNoxDecoder> owned(decoder);
    ASSERT_NE(dynamic_cast<ZeYuvDecoder*>(decoder), nullptr);
    EXPECT_EQ(Question::calls, 1);
    ASSERT_EQ(OpenNoxDecoderWrapper(decoder, file, nullptr, &Question::Ask, false), ZE_NOX_CORE_OK);
    EXPECT_EQ(Question::calls, 2);
    EXPECT_EQ(decoder->width(), 176);
    EXPECT_EQ(decoder->getOriginalFrameCount(), 5);
}

TEST(DecoderFactory, DetectionFailures)
{
    QTemporaryDir dir;
    const QString raw = TestMediaPath(QStringLiteral("raw_420p_176x144.yuv"));
    ZeNoxDecoder* decoder = nullptr;

    // The user cancels the raw question.
    Question::Reset(ZE_NOX_CORE_CANCELED);
    EXPECT_EQ(CreateNoxDecoder(&decoder, ZE_STREAM_TYPE_UNKNOWN, raw, &Question::Ask, false, nullptr),
              ZE_NOX_CORE_CANCELED);
    EXPECT_EQ(decoder, nullptr);

    // Nothing but "not detected" from every candidate.
    Question::Reset(ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED);
    EXPECT_EQ(CreateNoxDecoder(&decoder, ZE_STREAM_TYPE_UNKNOWN, raw, &Question::Ask, false, nullptr),
              ZE_NOX_CORE_UNKNOWN_VIDEO_FORMAT);

    // Answers that do not open the file come back with the decoder's own reason.
    Question::Reset(ZE_NOX_CORE_OK, 0, 144);
    EXPECT_EQ(CreateNoxDecoder(&decoder, ZE_STREAM_TYPE_UNKNOWN, raw, &Question::Ask, false, nullptr),
              ZE_NOX_CORE_INVALID_PARAMETERS);

    // The AVC decoder refuses a 12-bit HEVC stream with 20: detection stops there, nothing is asked.
    Question::Reset();
    EXPECT_EQ(CreateNoxDecoder(&decoder, ZE_STREAM_TYPE_UNKNOWN, Renamed(dir, QStringLiteral("ff_hevc12.h265")),
                               &Question::Ask, false, nullptr),
              ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
    EXPECT_EQ(Question::calls, 0);

    // Without a callback detection cannot ask, so it does not start.
    EXPECT_EQ(CreateNoxDecoder(&decoder, ZE_STREAM_TYPE_UNKNOWN, raw, nullptr, false, nullptr),
              ZE_NOX_CORE_INTERNAL_ERROR);
}

TEST(DecoderFactory, WrapperAsksOnlyForRawFiles)
{
    const QString raw = TestMediaPath(QStringLiteral("raw_420p_176x144.yuv"));
    // An FFmpeg decoder that does not recognise the file answers 5 and nothing is asked.
    ZeFfmpegDecoder ffmpeg(ZE_STREAM_TYPE_AVC);
    Question::Reset();
    EXPECT_EQ(OpenNoxDecoderWrapper(&ffmpeg, raw, nullptr, &Question::Ask, false),
              ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED);
    EXPECT_EQ(Question::calls, 0);

    ZeYuvDecoder yuv;
    EXPECT_EQ(OpenNoxDecoderWrapper(&yuv, raw, nullptr, nullptr, false), ZE_NOX_CORE_INTERNAL_ERROR);
    EXPECT_EQ(OpenNoxDecoderWrapper(nullptr, raw, nullptr, &Question::Ask, false), ZE_NOX_CORE_INTERNAL_ERROR);

    // The question's own failures come back as they are.
    for (ZeNoxCoreError answer : {ZE_NOX_CORE_CANCELED, ZE_NOX_CORE_FAILED_TO_OPEN_FILE}) {
        Question::Reset(answer);
        EXPECT_EQ(OpenNoxDecoderWrapper(&yuv, raw, nullptr, &Question::Ask, true), answer);
    }
    // A second open that fails answers with the decoder's own code, not a generic one.
    struct Refused
    {
        char const* what;
        int width, depth;
        ImageInfo::IMG_TYPE type;
        YUVFile::Formats layout;
        CropInfo crop;
        ZeNoxCoreError want;
    } const refused[] = {
        {"no width", 0, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, {}, ZE_NOX_CORE_INVALID_PARAMETERS},
        {"4:0:0", 176, 8, ImageInfo::IMG_400, YUVFile::FORMAT_PLANAR, {}, ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"4:4:0", 176, 8, ImageInfo::IMG_440, YUVFile::FORMAT_PLANAR, {}, ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"12 bit", 176, 12, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, {}, ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"4:4:4 semi-planar",
         176,
         8,
         ImageInfo::IMG_444,
         YUVFile::FORMAT_SEMI_PLANAR,
         {},
         ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"crop leaving no width",
         176,
         8,
         ImageInfo::IMG_420,
         YUVFile::FORMAT_PLANAR,
         {88, 88, 0, 0},
         ZE_NOX_CORE_INVALID_PARAMETERS},
    };
    for (Refused const& r : refused) {
        SCOPED_TRACE(r.what);
        Question::Reset(ZE_NOX_CORE_OK, r.width, 144);
        Question::depth = r.depth;
        Question::type = r.type;
        Question::layout = r.layout;
        Question::crop = r.crop;
        ZeYuvDecoder fresh;
        EXPECT_EQ(OpenNoxDecoderWrapper(&fresh, raw, nullptr, &Question::Ask, true), r.want);
        EXPECT_EQ(Question::calls, 1);
        EXPECT_FALSE(fresh.isOpened());
    }
    Question::Reset();
    EXPECT_EQ(OpenNoxDecoderWrapper(&yuv, raw, nullptr, &Question::Ask, true), ZE_NOX_CORE_OK);
    EXPECT_EQ(yuv.getOriginalFrameCount(), 5);
    EXPECT_EQ(yuv.chromaOrder(), 0);

    // The chroma order answered reaches the decoder.
    ZeYuvDecoder vu;
    Question::Reset();
    Question::chromaOrder = 1;
    EXPECT_EQ(OpenNoxDecoderWrapper(&vu, raw, nullptr, &Question::Ask, true), ZE_NOX_CORE_OK);
    EXPECT_EQ(vu.chromaOrder(), 1);
}

// A decoder that cannot be made is 3 with no decoder, never success with a null one.
TEST(DecoderFactory, DecoderThatCannotBeMadeIsInternalError)
{
    for (ZeStreamType type : {ZE_STREAM_TYPE_YUV, ZE_STREAM_TYPE_AVC, ZE_STREAM_TYPE_AV1, ZE_STREAM_TYPE_VVC}) {
        SCOPED_TRACE(type);
        ZeNoxDecoder* decoder = reinterpret_cast<ZeNoxDecoder*>(0x1);
        sFailNextNothrowNew = true;
        EXPECT_EQ(CreateNoxDecoder(&decoder, type, QStringLiteral("none"), &Question::Ask, false, nullptr),
                  ZE_NOX_CORE_INTERNAL_ERROR);
        EXPECT_FALSE(sFailNextNothrowNew) << "the decoder is made with new (std::nothrow)";
        EXPECT_EQ(decoder, nullptr);

        sFailNextNothrowNew = true;
        const ZeOpenedNoxDecoder opened = CreateAndOpenNoxDecoder(type, TestMediaPath(QStringLiteral("ff_avc8.h264")),
                                                                  nullptr, &Question::Ask, false, true);
        EXPECT_EQ(opened.result, ZE_NOX_CORE_INTERNAL_ERROR);
        EXPECT_EQ(opened.decoder, nullptr);
        sFailNextNothrowNew = false;
    }
}

// Make and open in one call: an opened decoder without a parent, or none and the code.
TEST(DecoderFactory, CreateAndOpenHandsBackAnOpenedDecoderOrNone)
{
    const QString raw = TestMediaPath(QStringLiteral("raw_420p_176x144.yuv"));
    StreamParams unusable; // a record that does not describe the raw file
    unusable.valid = true;
    unusable.type = ZE_STREAM_TYPE_YUV;
    const struct
    {
        char const* what;
        ZeStreamType type;
        QString file;
        StreamParams const* params;
        bool ask;
        ZeNoxCoreError result;
        int questions;
    } kCases[] = {
        {"typed", ZE_STREAM_TYPE_AVC, TestMediaPath(QStringLiteral("ff_avc8.h264")), nullptr, true, ZE_NOX_CORE_OK, 0},
        {"detected raw: asked when detected and when opened", ZE_STREAM_TYPE_UNKNOWN, raw, nullptr, true,
         ZE_NOX_CORE_OK, 2},
        {"unusable record, asking", ZE_STREAM_TYPE_YUV, raw, &unusable, true, ZE_NOX_CORE_OK, 1},
        {"unusable record, not asking", ZE_STREAM_TYPE_YUV, raw, &unusable, false, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED,
         0},
        {"missing file", ZE_STREAM_TYPE_AVC, TestMediaPath(QStringLiteral("no_such_file.h264")), nullptr, true,
         ZE_NOX_CORE_FAILED_TO_OPEN_FILE, 0},
        {"undetectable, question cancelled", ZE_STREAM_TYPE_UNKNOWN, raw, nullptr, true, ZE_NOX_CORE_CANCELED, 1},
    };
    for (auto const& c : kCases) {
        SCOPED_TRACE(c.what);
        Question::Reset(c.result == ZE_NOX_CORE_CANCELED ? ZE_NOX_CORE_CANCELED : ZE_NOX_CORE_OK);
        const ZeOpenedNoxDecoder opened =
            CreateAndOpenNoxDecoder(c.type, c.file, c.params, &Question::Ask, false, c.ask);
        EXPECT_EQ(opened.result, c.result);
        EXPECT_EQ(Question::calls, c.questions);
        if (c.result != ZE_NOX_CORE_OK) {
            EXPECT_EQ(opened.decoder, nullptr);
            continue;
        }
        ASSERT_NE(opened.decoder, nullptr);
        EXPECT_TRUE(opened.decoder->isOpened());
        EXPECT_EQ(opened.decoder->parent(), nullptr);
        EXPECT_EQ(opened.decoder->filename(), c.file);
    }
}

namespace {

// The type a file's first bytes show, whatever its name; a headerless raw file, text and an
// empty file show none.
TEST(DecoderFactory, DetectsTheStreamTypeByContent)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto write = [&dir](char const* name, QByteArray const& bytes) {
        QString const path = dir.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(WriteAll(path, bytes));
        return path;
    };
    struct Case
    {
        QString path;
        ZeStreamType type;
    };
    Case const cases[] = {
        {TestMediaPath(QStringLiteral("ff_avc8.h264")), ZE_STREAM_TYPE_AVC},
        {TestMediaPath(QStringLiteral("ff_avc10.264")), ZE_STREAM_TYPE_AVC},
        {TestMediaPath(QStringLiteral("ff_hevc8.h265")), ZE_STREAM_TYPE_HEVC},
        {TestMediaPath(QStringLiteral("ff_hevc_named_avc.h264")), ZE_STREAM_TYPE_HEVC},
        {QStringLiteral(SERAVIN_VVC_TEST_DATA_DIR "/ALF_C_KDDI_3.bit"), ZE_STREAM_TYPE_VVC},
        {TestMediaPath(QStringLiteral("ff_mjpeg420.mjpeg")), ZE_STREAM_TYPE_MJPEG},
        {TestMediaPath(QStringLiteral("av1_420p.ivf")), ZE_STREAM_TYPE_AV1},
        {TestMediaPath(QStringLiteral("av1_420p.obu")), ZE_STREAM_TYPE_AV1},
        {TestMediaPath(QStringLiteral("raw_420p_176x144.y4m")), ZE_STREAM_TYPE_YUV},
        {TestMediaPath(QStringLiteral("raw_420p_176x144.yuv")), ZE_STREAM_TYPE_UNKNOWN},
        {write("text.y4m", "twenty-one bytes text"), ZE_STREAM_TYPE_UNKNOWN},
        {write("empty.h264", QByteArray()), ZE_STREAM_TYPE_UNKNOWN},
        {write("startcode.yuv", QByteArray("\x00\x00\x01", 3)), ZE_STREAM_TYPE_UNKNOWN},
        // Start code and a NAL header no stream begins with (an H.264 slice).
        {write("slice.h264", QByteArray("\x00\x00\x01\x65\x88\x84", 6)), ZE_STREAM_TYPE_UNKNOWN},
        {dir.filePath(QStringLiteral("missing.h264")), ZE_STREAM_TYPE_UNKNOWN},
        {dir.path(), ZE_STREAM_TYPE_UNKNOWN},
    };
    for (Case const& c : cases)
        EXPECT_EQ(DetectStreamTypeByContent(c.path), c.type) << c.path.toStdString();
}

} // namespace
