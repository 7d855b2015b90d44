// One suite over every decoder: opening, the getters, closing and a file that goes away (all of
// them), and the navigation over decoded pictures compared with ffmpeg's framemd5 (those that
// decode pictures today; the VVC decoder does not).

#include "test_support.h"
#include "vvc_platform/vvc_test_writer.h"

#include "display/frame.h"
#include "decoders/ze_av1_decoder.h"
#include "decoders/ze_ffmpeg_decoder.h"
#include "decoders/ze_vvc_decoder.h"
#include "decoders/ze_yuv_decoder.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace ze::nox::core;

namespace {

// What a case's stream is once opened, and the codes where the decoders differ by design. The
// sequential decoders end a stream with 10, an empty Frame and the number moving on; the raw
// decoder reads frames at their offsets and answers 13, keeping picture and number.
struct Props
{
    ZeStreamType madeAs; // the type of a decoder that has opened nothing
    ZeStreamType type;   // the type of the opened stream
    int width;
    int height;
    AVPixelFormat fmt;
    int frames;
    char const* md5File;     // ffmpeg's decoding; nullptr when no picture is decoded
    ZeNoxCoreError missing;  // opening a file that does not exist
    ZeNoxCoreError gone;     // a restart after the file went away
    ZeNoxCoreError goneNext; // a step forward after such a restart
    ZeNoxCoreError decoding; // what decoding a picture answers
};

QString Md5(ZeNoxCoreError res, Frame const& frame)
{
    return res == ZE_NOX_CORE_OK ? PictureMd5(frame) : QStringLiteral("code %1").arg(res);
}

struct YuvRaw
{
    static constexpr bool kSequential = false;
    static constexpr char const* kSuffix = "yuv";
    static Props props()
    {
        return {ZE_STREAM_TYPE_YUV,
                ZE_STREAM_TYPE_YUV,
                176,
                144,
                AV_PIX_FMT_YUV420P,
                10,
                "yd_yuv420p_176x144.yuv.framemd5",
                ZE_NOX_CORE_FAILED_TO_OPEN_FILE,
                ZE_NOX_CORE_OK,
                ZE_NOX_CORE_OK, // reads on from the file it holds open
                ZE_NOX_CORE_OK};
    }
    static ZeNoxDecoder* create() { return new ZeYuvDecoder; }
    static bool make(QString const& path) { return QFile::copy(TestMediaPath("yd_yuv420p_176x144.yuv"), path); }
    static ZeNoxCoreError open(ZeNoxDecoder& d, QString const& path)
    {
        StreamParams record;
        record.valid = true;
        record.type = ZE_STREAM_TYPE_YUV;
        record.width = 176;
        record.height = 144;
        record.pixFmt = AV_PIX_FMT_YUV420P;
        return d.openFile(path, &record);
    }
};

struct FfmpegClip
{
    char const* file;
    char const* md5Of; // clip whose framemd5 holds the reference
    char const* suffix;
    ZeStreamType typeBySuffix;
    ZeStreamType type;
    AVPixelFormat fmt;
};

constexpr FfmpegClip kFfmpegClips[] = {
    {"ff_avc8.h264", "ff_avc8.h264", "h264", ZE_STREAM_TYPE_AVC, ZE_STREAM_TYPE_AVC, AV_PIX_FMT_YUV420P},
    {"ff_avc10.264", "ff_avc10.264", "264", ZE_STREAM_TYPE_AVC, ZE_STREAM_TYPE_AVC, AV_PIX_FMT_YUV420P10LE},
    {"ff_hevc8.h265", "ff_hevc8.h265", "h265", ZE_STREAM_TYPE_HEVC, ZE_STREAM_TYPE_HEVC, AV_PIX_FMT_YUV420P},
    {"ff_hevc10.hevc", "ff_hevc10.hevc", "hevc", ZE_STREAM_TYPE_HEVC, ZE_STREAM_TYPE_HEVC, AV_PIX_FMT_YUV420P10LE},
    {"ff_mjpeg420.mjpeg", "ff_mjpeg420.mjpeg", "mjpeg", ZE_STREAM_TYPE_MJPEG, ZE_STREAM_TYPE_MJPEG,
     AV_PIX_FMT_YUVJ420P},
    // HEVC behind an H.264 suffix: H.264 is tried first and fails, HEVC opens.
    {"ff_hevc_named_avc.h264", "ff_hevc8.h265", "h264", ZE_STREAM_TYPE_AVC, ZE_STREAM_TYPE_HEVC, AV_PIX_FMT_YUV420P},
};

template <int I>
struct Ffmpeg
{
    static constexpr bool kSequential = true;
    static constexpr FfmpegClip const& kClip = kFfmpegClips[I];
    static constexpr char const* kSuffix = kClip.suffix;
    static Props props()
    {
        static const QByteArray md5 = QByteArray(kClip.md5Of) + ".framemd5";
        return {kClip.typeBySuffix,
                kClip.type,
                200,
                120,
                kClip.fmt,
                30,
                md5.constData(),
                ZE_NOX_CORE_FAILED_TO_OPEN_FILE,
                ZE_NOX_CORE_FAILED_TO_OPEN_FILE,
                ZE_NOX_CORE_FAILED_TO_OPEN_FILE,
                ZE_NOX_CORE_OK};
    }
    static ZeNoxDecoder* create() { return new ZeFfmpegDecoder(kClip.typeBySuffix); }
    static bool make(QString const& path) { return QFile::copy(TestMediaPath(kClip.file), path); }
    static ZeNoxCoreError open(ZeNoxDecoder& d, QString const& path) { return d.openFile(path, nullptr); }
};

// The low-overhead AV1 stream as IVF and framed anew as Annex B.
template <bool AnnexB>
struct Av1
{
    static constexpr bool kSequential = true;
    static constexpr char const* kSuffix = AnnexB ? "av1" : "ivf";
    static Props props()
    {
        return {ZE_STREAM_TYPE_AV1,
                ZE_STREAM_TYPE_AV1,
                176,
                144,
                AV_PIX_FMT_YUV420P,
                30,
                "av1_420p.ivf.framemd5",
                ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED,
                ZE_NOX_CORE_OPERATION_FAILED,
                ZE_NOX_CORE_OPERATION_FAILED,
                ZE_NOX_CORE_OK};
    }
    static ZeNoxDecoder* create() { return new ZeAv1Decoder; }
    static bool make(QString const& path)
    {
        if (!AnnexB)
            return QFile::copy(TestMediaPath("av1_420p.ivf"), path);
        return WriteAll(path, ToAnnexB(ReadAll(TestMediaPath("av1_420p.obu"))));
    }
    static ZeNoxCoreError open(ZeNoxDecoder& d, QString const& path) { return d.openFile(path, nullptr); }
};

// A small written stream: it opens and validates, but this build decodes no VVC picture.
struct Vvc
{
    static constexpr bool kSequential = true;
    static constexpr char const* kSuffix = "vvc";
    static Props props()
    {
        return {ZE_STREAM_TYPE_VVC,
                ZE_STREAM_TYPE_VVC,
                64,
                48,
                AV_PIX_FMT_YUV420P,
                4,
                nullptr,
                ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED,
                ZE_NOX_CORE_FAILED_TO_OPEN_FILE,
                ZE_NOX_CORE_INTERNAL_ERROR,
                ZE_NOX_CORE_INTERNAL_ERROR};
    }
    static ZeNoxDecoder* create() { return new ZeVvcDecoder; }
    static bool make(QString const& path)
    {
        vvctest::StreamPlan plan = vvctest::SimplePlan(4);
        return WriteAll(path, vvctest::BuildStream(plan));
    }
    static ZeNoxCoreError open(ZeNoxDecoder& d, QString const& path) { return d.openFile(path, nullptr); }
};

// A copy of the case's clip in a folder of the test, and a fresh decoder.
template <typename C>
class DecoderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("clip.") + QLatin1String(C::kSuffix));
        ASSERT_TRUE(C::make(m_path));
        m_dec.reset(C::create());
    }
    int kbps() const { return static_cast<int>(QFileInfo(m_path).size() * 8 * 25 / (C::props().frames * 1000.0)); }

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<ZeNoxDecoder> m_dec;
    Frame m_frame;
};

template <typename C>
class DecoderContract : public DecoderTest<C>
{
};
template <typename C>
class DecoderNavigation : public DecoderTest<C>
{
protected:
    void SetUp() override
    {
        DecoderTest<C>::SetUp();
        m_ref = FrameMd5s(TestMediaPath(QLatin1String(C::props().md5File)));
        ASSERT_EQ(m_ref.size(), C::props().frames);
        ASSERT_EQ(C::open(*this->m_dec, this->m_path), ZE_NOX_CORE_OK);
    }
    QStringList m_ref;
};

using AllDecoders = ::testing::Types<YuvRaw, Ffmpeg<0>, Ffmpeg<1>, Ffmpeg<2>, Ffmpeg<3>, Ffmpeg<4>, Ffmpeg<5>,
                                     Av1<false>, Av1<true>, Vvc>;
using DecodingDecoders =
    ::testing::Types<YuvRaw, Ffmpeg<0>, Ffmpeg<1>, Ffmpeg<2>, Ffmpeg<3>, Ffmpeg<4>, Ffmpeg<5>, Av1<false>, Av1<true>>;

} // namespace

TYPED_TEST_SUITE(DecoderContract, AllDecoders);
TYPED_TEST_SUITE(DecoderNavigation, DecodingDecoders);

TYPED_TEST(DecoderContract, OpensWithItsProperties)
{
    const Props p = TypeParam::props();
    ZeNoxDecoder& dec = *this->m_dec;
    ASSERT_EQ(TypeParam::open(dec, this->m_path), ZE_NOX_CORE_OK);
    EXPECT_TRUE(dec.isOpened());
    EXPECT_EQ(dec.openResult(), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.filename(), this->m_path);
    EXPECT_EQ(dec.streamType(), p.type);
    EXPECT_EQ(dec.width(), p.width);
    EXPECT_EQ(dec.height(), p.height);
    EXPECT_EQ(dec.pixelFormat(), p.fmt);
    EXPECT_EQ(dec.getOriginalFrameCount(), p.frames);
    EXPECT_EQ(dec.curFrameNumber(), -1);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), -1);
    EXPECT_EQ(dec.firstFrameNumber(), 0);
    EXPECT_EQ(dec.lastFrameNumber(), p.frames - 1);
    EXPECT_EQ(dec.bitrateKbps(25.0), this->kbps());
    const StreamParams params = dec.params();
    EXPECT_TRUE(params.valid);
    EXPECT_EQ(params.type, p.type);
    EXPECT_EQ(params.width, p.width);
    EXPECT_EQ(params.height, p.height);
    EXPECT_EQ(params.pixFmt, p.fmt);
    EXPECT_EQ(params.frames, p.frames);

    // The first picture, or the code that says this build cannot decode it.
    EXPECT_EQ(dec.getFirstFrame(this->m_frame), p.decoding);
    EXPECT_EQ(this->m_frame.isValid(), p.decoding == ZE_NOX_CORE_OK);
    if (p.decoding == ZE_NOX_CORE_OK) {
        EXPECT_EQ(this->m_frame.width(), p.width);
        EXPECT_EQ(this->m_frame.height(), p.height);
        EXPECT_EQ(this->m_frame.pixelFormat(), p.fmt);
    }
}

TYPED_TEST(DecoderContract, UnopenedClosedAndMissingFilesDecodeNothing)
{
    const Props p = TypeParam::props();
    ZeNoxDecoder& dec = *this->m_dec;
    Frame& frame = this->m_frame;
    auto everyStepFails = [&](char const* when) {
        SCOPED_TRACE(when);
        EXPECT_FALSE(dec.isOpened());
        EXPECT_EQ(dec.bitrateKbps(25.0), 0);
        EXPECT_NE(dec.getFirstFrame(frame), ZE_NOX_CORE_OK);
        EXPECT_NE(dec.getNextFrame(frame), ZE_NOX_CORE_OK);
        EXPECT_NE(dec.getNextFrameRaw(frame), ZE_NOX_CORE_OK);
        EXPECT_NE(dec.getPrevFrame(frame), ZE_NOX_CORE_OK);
        EXPECT_NE(dec.getLastFrame(frame), ZE_NOX_CORE_OK);
        EXPECT_NE(dec.getFrame(0, frame), ZE_NOX_CORE_OK);
        EXPECT_FALSE(frame.isValid());
    };

    EXPECT_EQ(dec.openResult(), ZE_NOX_CORE_NOT_OPENED);
    EXPECT_EQ(dec.streamType(), p.madeAs);
    EXPECT_EQ(dec.pixelFormat(), AV_PIX_FMT_NONE);
    EXPECT_EQ(dec.getOriginalFrameCount(), 0);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), -1);
    EXPECT_TRUE(dec.filename().isEmpty());
    everyStepFails("unopened");

    ASSERT_EQ(TypeParam::open(dec, this->m_path), ZE_NOX_CORE_OK);
    dec.closeFile();
    EXPECT_EQ(dec.openResult(), ZE_NOX_CORE_NOT_OPENED);
    everyStepFails("closed");

    const QString missing = this->m_dir.filePath(QStringLiteral("missing.") + QLatin1String(TypeParam::kSuffix));
    EXPECT_EQ(TypeParam::open(dec, missing), p.missing);
    EXPECT_EQ(dec.openResult(), p.missing);
    everyStepFails("missing file");
}

// A restart reopens the file by name: while it is gone every backward or restarting step says so
// with an empty Frame; once it is back, decoding goes on. The raw decoder reads on from the file
// it holds open.
TYPED_TEST(DecoderContract, RestartAfterTheFileWentAway)
{
    const Props p = TypeParam::props();
    ZeNoxDecoder& dec = *this->m_dec;
    Frame& frame = this->m_frame;
    const QString moved = this->m_path + QStringLiteral(".moved");
    ASSERT_EQ(TypeParam::open(dec, this->m_path), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.getFrame(3, frame), p.decoding);
    ASSERT_TRUE(QFile::rename(this->m_path, moved));

    EXPECT_EQ(dec.getPrevFrame(frame), p.gone);
    EXPECT_EQ(dec.getFirstFrame(frame), p.gone);
    if (p.gone != ZE_NOX_CORE_OK) {
        EXPECT_FALSE(frame.isValid());
        EXPECT_FALSE(dec.isOpened());
        EXPECT_EQ(dec.bitrateKbps(25.0), 0);
        EXPECT_EQ(dec.getNextFrame(frame), p.goneNext);
        EXPECT_EQ(dec.getLastFrame(frame), p.gone);
        EXPECT_EQ(dec.getFrame(1, frame), p.gone);
        EXPECT_EQ(dec.getFirstFrame(frame), p.gone);
        EXPECT_FALSE(frame.isValid());
    }

    ASSERT_TRUE(QFile::rename(moved, this->m_path));
    EXPECT_EQ(dec.getFrame(2, frame), p.decoding);
    EXPECT_TRUE(dec.isOpened());
    if (p.md5File) {
        EXPECT_EQ(Md5(p.decoding, frame), FrameMd5s(TestMediaPath(QLatin1String(p.md5File)))[2]);
    }
}

TYPED_TEST(DecoderNavigation, DecodesEveryFrameLikeFfmpeg)
{
    const Props p = TypeParam::props();
    ZeNoxDecoder& dec = *this->m_dec;
    Frame& frame = this->m_frame;
    for (int i = 0; i < p.frames; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(Md5(dec.getNextFrame(frame), frame), this->m_ref[i]);
        EXPECT_EQ(frame.width(), p.width);
        EXPECT_EQ(frame.height(), p.height);
        EXPECT_EQ(frame.pixelFormat(), p.fmt);
        EXPECT_EQ(dec.curFrameNumber(), i);
        EXPECT_EQ(dec.curAbsoluteFrameNumber(), i);
    }
    if (TypeParam::kSequential) {
        // Past the end: 10, an empty Frame, and the frame number moves on each time.
        EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_END_OF_FILE);
        EXPECT_FALSE(frame.isValid());
        EXPECT_EQ(dec.curAbsoluteFrameNumber(), p.frames);
        EXPECT_EQ(dec.getNextFrameRaw(frame), ZE_NOX_CORE_END_OF_FILE);
        EXPECT_EQ(dec.curAbsoluteFrameNumber(), p.frames + 1);
    } else {
        // Past the end: 13, the picture and the current frame unchanged.
        EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_FAILED_TO_READ_FILE);
        EXPECT_EQ(PictureMd5(frame), this->m_ref.last());
        EXPECT_EQ(dec.curFrameNumber(), p.frames - 1);
    }
}

TYPED_TEST(DecoderNavigation, MovesAnywhereAndBack)
{
    const Props p = TypeParam::props();
    QStringList const& ref = this->m_ref;
    ZeNoxDecoder& dec = *this->m_dec;
    Frame& frame = this->m_frame;
    int const last = p.frames - 1;
    int const far = p.frames - 3;
    const ZeNoxCoreError outside = TypeParam::kSequential ? ZE_NOX_CORE_INVALID_PARAMETERS : ZE_NOX_CORE_INTERNAL_ERROR;

    EXPECT_EQ(Md5(dec.getFrame(far, frame), frame), ref[far]);
    EXPECT_EQ(dec.curFrameNumber(), far);
    EXPECT_EQ(Md5(dec.getFrame(5, frame), frame), ref[5]);
    EXPECT_EQ(Md5(dec.getPrevFrame(frame), frame), ref[4]);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 4);
    EXPECT_EQ(Md5(dec.getNextFrame(frame), frame), ref[5]);
    EXPECT_EQ(Md5(dec.getFirstFrame(frame), frame), ref[0]);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 0);
    if (TypeParam::kSequential) {
        EXPECT_EQ(Md5(dec.getPrevFrame(frame), frame), ref[0]); // at frame 0: frame 0 again
    } else {
        EXPECT_EQ(dec.getPrevFrame(frame), ZE_NOX_CORE_FAILED_TO_READ_FILE);
        EXPECT_EQ(PictureMd5(frame), ref[0]);
    }
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 0);
    EXPECT_EQ(Md5(dec.getFrame(0, frame), frame), ref[0]);
    EXPECT_EQ(Md5(dec.getFrame(7, frame), frame), ref[7]);
    EXPECT_EQ(Md5(dec.getLastFrame(frame), frame), ref[last]);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), last);
    EXPECT_EQ(dec.getFrame(p.frames, frame), outside);
    EXPECT_EQ(dec.getFrame(-1, frame), outside);
    EXPECT_EQ(PictureMd5(frame), ref[last]);

    // The current frame again: a sequential decoder decodes nothing while the Frame holds the
    // picture, but decodes it again into an emptied Frame; the raw decoder reads it again.
    AVFrame const* before = frame.avFrame();
    frame.avFrame()->data[0][0] ^= 0xff;
    EXPECT_EQ(dec.getFrame(last, frame), ZE_NOX_CORE_OK);
    if (TypeParam::kSequential) {
        EXPECT_EQ(frame.avFrame(), before);
        EXPECT_NE(PictureMd5(frame), ref[last]);
        frame.reset();
        EXPECT_EQ(Md5(dec.getFrame(last, frame), frame), ref[last]);
    } else {
        EXPECT_EQ(PictureMd5(frame), ref[last]);
    }
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), last);

    if (TypeParam::kSequential) {
        EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_END_OF_FILE);
        EXPECT_FALSE(frame.isValid());
        EXPECT_EQ(dec.curAbsoluteFrameNumber(), p.frames);
        EXPECT_EQ(Md5(dec.getPrevFrame(frame), frame), ref[last]);
        EXPECT_EQ(dec.getLastFrame(frame), ZE_NOX_CORE_END_OF_FILE);
        EXPECT_FALSE(frame.isValid());
        EXPECT_EQ(dec.curAbsoluteFrameNumber(), p.frames);
        EXPECT_EQ(dec.getNextFrameRaw(frame), ZE_NOX_CORE_END_OF_FILE);
        EXPECT_EQ(dec.curAbsoluteFrameNumber(), p.frames + 1);
        EXPECT_EQ(Md5(dec.getFrame(last, frame), frame), ref[last]);
    } else {
        EXPECT_EQ(Md5(dec.getLastFrame(frame), frame), ref[last]);
        EXPECT_EQ(dec.getNextFrameRaw(frame), ZE_NOX_CORE_FAILED_TO_READ_FILE);
        EXPECT_EQ(dec.curAbsoluteFrameNumber(), last);
    }

    // The whole stream backward.
    ASSERT_EQ(Md5(dec.getFrame(last, frame), frame), ref[last]);
    for (int i = last - 1; i >= 0; --i)
        EXPECT_EQ(Md5(dec.getPrevFrame(frame), frame), ref[i]) << i;
}

TYPED_TEST(DecoderNavigation, RangeIsHonoured)
{
    QStringList const& ref = this->m_ref;
    ZeNoxDecoder& dec = *this->m_dec;
    Frame& frame = this->m_frame;
    dec.setLastFrameNumber(7);
    dec.setFirstFrameNumber(3);
    // Numbers count from the range's first frame; the end comes after its last.
    EXPECT_EQ(Md5(dec.getFirstFrame(frame), frame), ref[3]);
    EXPECT_EQ(dec.curFrameNumber(), 0);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 3);
    EXPECT_EQ(Md5(dec.getFrame(2, frame), frame), ref[5]);
    EXPECT_EQ(dec.getFrame(5, frame),
              TypeParam::kSequential ? ZE_NOX_CORE_INVALID_PARAMETERS : ZE_NOX_CORE_FAILED_TO_READ_FILE);
    EXPECT_EQ(Md5(dec.getLastFrame(frame), frame), ref[7]);
    EXPECT_EQ(dec.curFrameNumber(), 4);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 7);
    if (TypeParam::kSequential) {
        EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_END_OF_FILE);
        EXPECT_FALSE(frame.isValid());
    } else {
        EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_FAILED_TO_READ_FILE);
        EXPECT_EQ(PictureMd5(frame), ref[7]);
        EXPECT_EQ(dec.curFrameNumber(), 4);
    }
    EXPECT_EQ(Md5(dec.getFrame(4, frame), frame), ref[7]);
    // Backward steps are not held at the first frame of the range.
    EXPECT_EQ(Md5(dec.getFirstFrame(frame), frame), ref[3]);
    EXPECT_EQ(Md5(dec.getPrevFrame(frame), frame), ref[2]);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 2);
    EXPECT_EQ(dec.curFrameNumber(), -1);
    // The bit rate is that of the whole file, whatever the range.
    EXPECT_EQ(dec.bitrateKbps(25.0), this->kbps());
}
