#include "display/frame.h"
#include "decoders/ze_nox_decoder.h"
#include "decoders/ze_nox_decoder_factory.h"

#include "test_support.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace ze::nox::core;

namespace {

// A decoder that only reports what it is given.
class FakeDecoder : public ZeNoxDecoder
{
public:
    FakeDecoder(QString name, int w, int h, AVPixelFormat fmt, int frames = 10)
        : m_name(std::move(name)), m_width(w), m_height(h), m_fmt(fmt), m_frames(frames)
    {
    }

    ZeNoxCoreError openFile(QString const&, StreamParams const*) override { return ZE_NOX_CORE_OK; }
    void closeFile() override { m_opened = false; }
    bool isOpened() const override { return m_opened; }
    ZeNoxCoreError openResult() const override { return ZE_NOX_CORE_OK; }
    QString filename() const override { return m_name; }
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    AVPixelFormat pixelFormat() const override { return m_fmt; }
    ZeStreamType streamType() const override { return ZE_STREAM_TYPE_HEVC; }
    int getOriginalFrameCount() const override { return m_frames; }
    int curFrameNumber() const override { return -1; }
    int curAbsoluteFrameNumber() const override { return -1; }
    ZeNoxCoreError getFirstFrame(Frame&) override { return ZE_NOX_CORE_OPERATION_FAILED; }
    ZeNoxCoreError getPrevFrame(Frame&) override { return ZE_NOX_CORE_OPERATION_FAILED; }
    ZeNoxCoreError getNextFrame(Frame&) override { return ZE_NOX_CORE_OPERATION_FAILED; }
    ZeNoxCoreError getNextFrameRaw(Frame&) override { return ZE_NOX_CORE_OPERATION_FAILED; }
    ZeNoxCoreError getLastFrame(Frame&) override { return ZE_NOX_CORE_OPERATION_FAILED; }
    ZeNoxCoreError getFrame(int, Frame&) override { return ZE_NOX_CORE_OPERATION_FAILED; }

    QString m_name;
    int m_width;
    int m_height;
    AVPixelFormat m_fmt;
    int m_frames;
    bool m_opened = true;
};

} // namespace

TEST(CheckFilesForConsistency, MessagesAndCodes)
{
    FakeDecoder hd("/data/clips/a.265", 1920, 1080, AV_PIX_FMT_YUV420P);
    FakeDecoder hd2("/other/b.yuv", 1920, 1080, AV_PIX_FMT_YUV420P);
    FakeDecoder small("/data/clips/c.264", 1280, 720, AV_PIX_FMT_YUV420P);
    FakeDecoder deep("/x/d.ivf", 1920, 1080, AV_PIX_FMT_YUV420P10LE);
    FakeDecoder smallDeep("e.ivf", 1280, 720, AV_PIX_FMT_YUV420P10LE);
    FakeDecoder percent("/tmp/100%3 done.yuv", 1280, 720, AV_PIX_FMT_YUV420P);

    const QString untouched = QStringLiteral("untouched");
    const struct
    {
        char const* what;
        QList<ZeNoxDecoder const*> list;
        ZeNoxCoreError code;
        char const* message; // nullptr: message untouched
    } kCases[] = {
        {"none", {}, ZE_NOX_CORE_OK, nullptr},
        {"one", {&hd}, ZE_NOX_CORE_OK, nullptr},
        {"a single null", {nullptr}, ZE_NOX_CORE_OK, nullptr},
        {"consistent", {&hd, &hd2, &hd}, ZE_NOX_CORE_OK, nullptr},
        {"size",
         {&hd, &small},
         ZE_NOX_CORE_DIFFERENT_RESOLUTIONS,
         "Files have different resolutions: a.265 (1920x1080) and c.264 (1280x720)"},
        {"format",
         {&hd, &deep},
         ZE_NOX_CORE_DIFFERENT_PIXEL_FORMATS,
         "Files have different pixel formats: a.265 (YUV 4:2:0 8 bit) and d.ivf (YUV 4:2:0 10 bit)"},
        {"size before format",
         {&hd, &smallDeep},
         ZE_NOX_CORE_DIFFERENT_RESOLUTIONS,
         "Files have different resolutions: a.265 (1920x1080) and e.ivf (1280x720)"},
        {"first difference wins",
         {&hd, &hd2, &deep, &small},
         ZE_NOX_CORE_DIFFERENT_PIXEL_FORMATS,
         "Files have different pixel formats: a.265 (YUV 4:2:0 8 bit) and d.ivf (YUV 4:2:0 10 bit)"},
        {"file name with %3",
         {&percent, &hd},
         ZE_NOX_CORE_DIFFERENT_RESOLUTIONS,
         "Files have different resolutions: 100%3 done.yuv (1280x720) and a.265 (1920x1080)"},
        {"null first", {nullptr, &hd}, ZE_NOX_CORE_INVALID_PARAMETERS, nullptr},
        {"null later", {&hd, &hd2, nullptr, &small}, ZE_NOX_CORE_INVALID_PARAMETERS, nullptr},
    };
    for (auto const& c : kCases) {
        QString message = untouched;
        EXPECT_EQ(CheckFilesForConsistency(c.list, message), c.code) << c.what;
        EXPECT_EQ(message, c.message ? QString::fromUtf8(c.message) : untouched) << c.what;
    }
}

TEST(ZeNoxDecoder, RangeIsClampedAndSignalled)
{
    FakeDecoder d("x.265", 64, 64, AV_PIX_FMT_YUV420P, 10);
    EXPECT_EQ(d.firstFrameNumber(), 0);
    EXPECT_EQ(d.lastFrameNumber(), 9);

    QSignalSpy firstSpy(&d, &ZeNoxDecoder::firstFrameNumberChanged);
    QSignalSpy lastSpy(&d, &ZeNoxDecoder::lastFrameNumberChanged);
    const struct
    {
        bool setFirst;
        int n;
        int first; // effective range afterwards
        int last;
    } kSteps[] = {
        {true, -5, 0, 9}, {true, 20, 9, 9}, {true, 3, 3, 9}, {false, 1, 3, 3}, {false, 50, 3, 9},
        {false, 6, 3, 6}, {true, 8, 6, 6},  {true, 2, 2, 6}, {false, 6, 2, 6},
    };
    int firsts = 0;
    int lasts = 0;
    for (auto const& s : kSteps) {
        if (s.setFirst) {
            d.setFirstFrameNumber(s.n);
            ++firsts;
        } else {
            d.setLastFrameNumber(s.n);
            ++lasts;
        }
        EXPECT_EQ(d.firstFrameNumber(), s.first) << (s.setFirst ? "first " : "last ") << s.n;
        EXPECT_EQ(d.lastFrameNumber(), s.last) << (s.setFirst ? "first " : "last ") << s.n;
        // Every write is signalled, also one that keeps the value.
        EXPECT_EQ(firstSpy.count(), firsts);
        EXPECT_EQ(lastSpy.count(), lasts);
    }

    // An unset last frame follows the stream's count.
    FakeDecoder e("y.265", 64, 64, AV_PIX_FMT_YUV420P, 10);
    e.setFirstFrameNumber(4);
    e.m_frames = 30;
    EXPECT_EQ(e.lastFrameNumber(), 29);
    e.setLastFrameNumber(100);
    EXPECT_EQ(e.lastFrameNumber(), 29);
}

TEST(ZeNoxDecoder, DefaultParamsAndBitrate)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString name = dir.filePath(QStringLiteral("clip.265"));
    ASSERT_TRUE(WriteAll(name, QByteArray(1001, 'x')));
    FakeDecoder d(name, 352, 288, AV_PIX_FMT_YUV422P10LE, 3);
    d.setFirstFrameNumber(1);

    const StreamParams p = d.params();
    EXPECT_TRUE(p.valid);
    EXPECT_EQ(p.type, ZE_STREAM_TYPE_HEVC);
    EXPECT_EQ(p.width, 352);
    EXPECT_EQ(p.height, 288);
    EXPECT_EQ(p.pixFmt, AV_PIX_FMT_YUV422P10LE);
    EXPECT_EQ(p.frames, 3);
    EXPECT_EQ(p.crop.left + p.crop.right + p.crop.top + p.crop.bottom, 0);

    // 1001 * 8 * 25 / (3 * 1000) = 66.73, over the whole file whatever the range.
    EXPECT_EQ(d.bitrateKbps(25), 66);
    d.m_frames = 0;
    EXPECT_EQ(d.bitrateKbps(25), 0);
    d.m_frames = 3;
    d.closeFile();
    EXPECT_EQ(d.bitrateKbps(25), 0);
}
