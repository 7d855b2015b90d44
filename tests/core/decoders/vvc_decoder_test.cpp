// The VVC decoder over the library layer: opening and validation, failures, navigation.

#include "core/decoders/vvc_decoder_test_support.h"
#include "test_support.h"
#include "vvc_platform/vvc_test_streams.h"
#include "vvc_platform/vvc_test_writer.h"

#include "decoders/ze_nox_decoder_factory.h"
#include "decoders/ze_vvc_decoder.h"
#include "display/frame.h"

#include "util/VvcCommon.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <functional>

using namespace ze::nox::core;
using namespace vvctest;

namespace {

class VvcDecoderTest : public StreamFileTest
{
protected:
    int criticalCount(QString const& part) const { return m_messages.count(QtCriticalMsg, part); }

    MessageCapture m_messages;
};

} // namespace

TEST_F(VvcDecoderTest, OpensAndReportsStreamProperties)
{
    struct Case
    {
        char const* name;
        std::function<void(StreamPlan&)> change;
        int frames;
        int width;
        int height;
        AVPixelFormat fmt;
    };
    const Case cases[] = {
        {"8 bit, one picture", [](StreamPlan& s) { s.pictures = SimpleGop(1); }, 1, 64, 48, AV_PIX_FMT_YUV420P},
        {"10 bit with conformance window",
         [](StreamPlan& s) {
             s.sps.bitDepth = 10;
             s.sps.window = true;
             s.sps.winRight = 2;
             s.sps.winBottom = 1;
         },
         5, 60, 46, AV_PIX_FMT_YUV420P10LE},
        {"PPS window on a smaller picture",
         [](StreamPlan& s) {
             s.pps.width = 48;
             s.pps.height = 32;
             s.pps.window = true;
             s.pps.winLeft = 1;
             s.pps.winTop = 3;
         },
         5, 46, 26, AV_PIX_FMT_YUV420P},
        {"picture header units, three slices, 3-byte start codes, VPS",
         [](StreamPlan& s) {
             s.phInSliceHeader = false;
             s.slicesPerPicture = 3;
             s.fourByteStartCodes = false;
             s.vps = true;
         },
         5, 64, 48, AV_PIX_FMT_YUV420P},
        {"reordering, POC order 0 4 2 1 3 8 6 5 7",
         [](StreamPlan& s) {
             s.sps.maxNumReorder = 2;
             s.pictures = {{8, 0}, {0, 4}, {0, 2}, {0, 1}, {0, 3}, {0, 8}, {0, 6}, {0, 5}, {0, 7}};
         },
         9, 64, 48, AV_PIX_FMT_YUV420P},
        {"IDR in the middle with pictures waiting",
         [](StreamPlan& s) {
             s.sps.maxNumReorder = 3;
             s.sps.maxDecPicBuffering = 4;
             s.pictures = {{8, 0}, {0, 2}, {0, 1}, {8, 0}, {0, 2}, {0, 1}};
         },
         6, 64, 48, AV_PIX_FMT_YUV420P},
        {"POC LSB wrapping",
         [](StreamPlan& s) {
             s.sps.log2MaxPocLsb = 4;
             s.pictures = SimpleGop(40);
         },
         40, 64, 48, AV_PIX_FMT_YUV420P},
        {"pictures before the first IDR are passed over",
         [](StreamPlan& s) {
             s.pictures = {{0, 5}, {0, 6}, {8, 0}, {0, 1}};
         },
         2, 64, 48, AV_PIX_FMT_YUV420P},
        {"4:0:0 shows as 4:2:0", [](StreamPlan& s) { s.sps.chromaFormat = 0; }, 5, 64, 48, AV_PIX_FMT_YUV420P},
        {"4:0:0 10 bit with an odd window (luma units)",
         [](StreamPlan& s) {
             s.sps.chromaFormat = 0;
             s.sps.bitDepth = 10;
             s.sps.window = true;
             s.sps.winRight = 3;
             s.sps.winTop = 1;
         },
         5, 61, 47, AV_PIX_FMT_YUV420P10LE},
        {"RASL pictures of an opening CRA are passed over",
         [](StreamPlan& s) {
             s.sps.maxNumReorder = 2;
             s.pictures = {{9, 8}, {3, 6}, {3, 7}, {0, 9}};
         },
         2, 64, 48, AV_PIX_FMT_YUV420P},
    };
    for (Case const& c : cases) {
        StreamPlan s = SimplePlan(5);
        c.change(s);
        const QString path = file(QStringLiteral("a.vvc"), BuildStream(s));
        ZeVvcDecoder dec;
        EXPECT_EQ(dec.openFile(path, nullptr), ZE_NOX_CORE_OK) << c.name;
        EXPECT_EQ(dec.getOriginalFrameCount(), c.frames) << c.name;
        EXPECT_EQ(dec.width(), c.width) << c.name;
        EXPECT_EQ(dec.height(), c.height) << c.name;
        EXPECT_EQ(dec.pixelFormat(), c.fmt) << c.name;
        EXPECT_TRUE(dec.isOpened()) << c.name;
        EXPECT_EQ(dec.streamType(), ZE_STREAM_TYPE_VVC);
        EXPECT_EQ(dec.curAbsoluteFrameNumber(), -1);
        const StreamParams p = dec.params();
        EXPECT_EQ(p.frames, c.frames);
        EXPECT_EQ(criticalCount(QString()), 0) << c.name << m_messages.dump();
    }
}

TEST_F(VvcDecoderTest, EndOfSequenceAndEmptyUnits)
{
    StreamPlan s = SimplePlan(3);
    StreamBuilder b;
    b.stream(s);
    b.nal(Nal(21, {})); // EOS
    b.startCode();      // an empty unit
    for (Pic const& p : SimpleGop(2))
        b.picture(s, p);
    b.nal(Nal(21, {}));
    b.nal(Nal(22, {})); // EOB after EOS in the same picture unit
    ZeVvcDecoder dec;
    EXPECT_EQ(dec.openFile(file(QStringLiteral("eos.vvc"), b.bytes()), nullptr), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.getOriginalFrameCount(), 5);

    // Anything but EOS or EOB after an EOS within the picture unit breaks the stream.
    StreamBuilder bad;
    bad.stream(s);
    bad.nal(Nal(21, {}));
    bad.nal(Nal(24, {0x80})); // suffix SEI
    ZeVvcDecoder dec2;
    EXPECT_EQ(dec2.openFile(file(QStringLiteral("eos_bad.vvc"), bad.bytes()), nullptr),
              ZE_NOX_CORE_CRITICAL_DECODING_ERROR);
    EXPECT_EQ(criticalCount(QStringLiteral("Critical decoding error. ")), 1);
    EXPECT_EQ(criticalCount(QStringLiteral("When an EOS NAL unit is present in a PU")), 1);
    EXPECT_FALSE(dec2.isOpened());
}

TEST_F(VvcDecoderTest, FailureCodes)
{
    auto stream = [](std::function<void(StreamPlan&)> change) {
        StreamPlan s = SimplePlan(3);
        change(s);
        return BuildStream(s);
    };
    std::vector<uint8_t> random(4096);
    QRandomGenerator gen(1234);
    for (auto& b : random)
        b = uint8_t(gen.bounded(256));
    std::vector<uint8_t> randomWithStartCodes = random;
    for (size_t i = 0; i + 4 < randomWithStartCodes.size(); i += 97) {
        randomWithStartCodes[i] = 0;
        randomWithStartCodes[i + 1] = 0;
        randomWithStartCodes[i + 2] = 1;
    }
    std::vector<uint8_t> ivf = {'D', 'K', 'I', 'F', 0, 0, 32, 0, 'A', 'V', '0', '1', 64, 0, 48, 0};
    ivf.resize(32 + 12 + 20, 0);
    ivf[44] = 0x12; // temporal delimiter OBU
    // H.264 and HEVC parameter sets and slices with start codes.
    const std::vector<uint8_t> h264 = {0,    0,    0,    1,    0x67, 0x42, 0xC0, 0x1E, 0xD9, 0,    0,    0,    1,
                                       0x68, 0xCE, 0x3C, 0x80, 0,    0,    0,    1,    0x65, 0x88, 0x84, 0x00, 0x21};
    const std::vector<uint8_t> hevc = {0, 0,    0,    1,    0x40, 0x01, 0x0C, 0x01, 0xFF, 0xFF, 0,    0,   0,
                                       1, 0x42, 0x01, 0x01, 0,    0,    0,    1,    0x26, 0x01, 0xAF, 0x06};

    std::vector<uint8_t> sizeChange;
    {
        StreamPlan s = SimplePlan(2);
        StreamBuilder b;
        b.stream(s);
        s.sps.width = 32;
        s.pps.width = 32;
        s.pictures = SimpleGop(2);
        b.stream(s);
        sizeChange = b.bytes();
    }
    std::vector<uint8_t> missingSps;
    {
        StreamBuilder b;
        PicParams pps;
        pps.spsId = 3;
        b.nal(Nal(15, SpsRbsp(SeqParams())));
        b.nal(Nal(16, PpsRbsp(pps)));
        missingSps = b.bytes();
    }
    std::vector<uint8_t> sliceWithoutPps;
    {
        StreamPlan s = SimplePlan(2);
        s.pps.ppsId = 5;
        StreamBuilder b;
        b.nal(Nal(15, SpsRbsp(s.sps)));
        b.picture(s, {8, 0});
        sliceWithoutPps = b.bytes();
    }

    struct Case
    {
        char const* name;
        std::vector<uint8_t> bytes;
        ZeNoxCoreError expected;
    };
    const Case cases[] = {
        {"4:2:2", stream([](StreamPlan& s) { s.sps.chromaFormat = 2; }), ZE_NOX_CORE_UNSUPPORTED_VVC_CHROMA},
        {"4:4:4", stream([](StreamPlan& s) { s.sps.chromaFormat = 3; }), ZE_NOX_CORE_UNSUPPORTED_VVC_CHROMA},
        {"4:4:4 12 bit", stream([](StreamPlan& s) {
             s.sps.chromaFormat = 3;
             s.sps.bitDepth = 12;
         }),
         ZE_NOX_CORE_UNSUPPORTED_VVC_CHROMA},
        {"12 bit", stream([](StreamPlan& s) { s.sps.bitDepth = 12; }), ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"9 bit", stream([](StreamPlan& s) { s.sps.bitDepth = 9; }), ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED},
        {"size change", sizeChange, ZE_NOX_CORE_RESOLUTION_CHANGE},
        {"parameter sets only",
         [] {
             StreamBuilder b;
             b.parameterSets(SimplePlan(1));
             return b.bytes();
         }(),
         ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        {"random bytes", random, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        {"random bytes with start codes", randomWithStartCodes, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        {"IVF", ivf, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        {"H.264", h264, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        {"HEVC", hevc, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        {"empty file", {}, ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED},
        {"PPS of a missing SPS", missingSps, ZE_NOX_CORE_CRITICAL_DECODING_ERROR},
        {"slice of a missing PPS", sliceWithoutPps, ZE_NOX_CORE_CRITICAL_DECODING_ERROR},
    };
    for (Case const& c : cases) {
        m_messages.clear();
        ZeVvcDecoder dec;
        EXPECT_EQ(dec.openFile(file(QStringLiteral("x.vvc"), c.bytes), nullptr), c.expected)
            << c.name << m_messages.dump();
        EXPECT_EQ(dec.openResult(), c.expected) << c.name;
        EXPECT_FALSE(dec.isOpened()) << c.name;
        EXPECT_EQ(criticalCount(QStringLiteral("Critical decoding error. ")),
                  c.expected == ZE_NOX_CORE_CRITICAL_DECODING_ERROR ? 1 : 0)
            << c.name;
    }

    ZeVvcDecoder dec;
    EXPECT_EQ(dec.openFile(QDir(m_dir.path()).filePath(QStringLiteral("missing.vvc")), nullptr),
              ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED);
}

TEST_F(VvcDecoderTest, EncodedStreamsOfOtherFormatsAreNotDetected)
{
    for (char const* name : {"vvcprobe_h264.vvc", "vvcprobe_hevc.vvc", "vvcprobe_av1.vvc", "vvcprobe_av1_obu.vvc",
                             "vvcprobe_mjpeg.vvc", "vvcprobe_yuv.vvc"}) {
        const QString path = TestMediaPath(QString::fromLatin1(name));
        ASSERT_TRUE(QFile::exists(path)) << name;
        ZeVvcDecoder dec;
        EXPECT_EQ(dec.openFile(path, nullptr), ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED) << name;
        EXPECT_FALSE(dec.isOpened());
    }
    EXPECT_TRUE(m_messages.entries().isEmpty()) << m_messages.dump();
}

TEST_F(VvcDecoderTest, TruncatedStreamsFailCleanly)
{
    StreamPlan s = SimplePlan(3);
    s.phInSliceHeader = false;
    const std::vector<uint8_t> full = BuildStream(s);
    for (size_t len = 1; len < full.size(); ++len) {
        ZeVvcDecoder dec;
        const ZeNoxCoreError r = dec.openFile(
            file(QStringLiteral("cut.vvc"), std::vector<uint8_t>(full.begin(), full.begin() + long(len))), nullptr);
        EXPECT_TRUE(r == ZE_NOX_CORE_OK || r == ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED ||
                    r == ZE_NOX_CORE_CRITICAL_DECODING_ERROR)
            << len << " " << r;
        if (r == ZE_NOX_CORE_OK) {
            EXPECT_GE(dec.getOriginalFrameCount(), 1);
            EXPECT_LE(dec.getOriginalFrameCount(), 3);
        }
    }
    // Cut inside the PPS, after the stream's valid start (a whole SPS): a decoding error. Cut
    // inside the SPS, nothing marks the data as VVC.
    const size_t spsEnd = 4 + Nal(15, SpsRbsp(s.sps)).size();
    ZeVvcDecoder dec;
    EXPECT_EQ(dec.openFile(
                  file(QStringLiteral("cut.vvc"), std::vector<uint8_t>(full.begin(), full.begin() + long(spsEnd) + 7)),
                  nullptr),
              ZE_NOX_CORE_CRITICAL_DECODING_ERROR);
    EXPECT_EQ(dec.openFile(
                  file(QStringLiteral("cut.vvc"), std::vector<uint8_t>(full.begin(), full.begin() + long(spsEnd) - 2)),
                  nullptr),
              ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED);
}

// Parameters stored for another file of the name: the pictures are refused, none of another
// size is handed out, and the current number is never answered with a picture it does not hold.
TEST_F(VvcDecoderTest, PicturesOfAnotherSizeThanTheParametersAreRefused)
{
    const QString path = file(QStringLiteral("stale.vvc"), BuildStream(SimplePlan(4)));
    const StreamParams stale = StaleRecord();
    ZeVvcDecoder dec;
    ASSERT_EQ(dec.openFile(path, &stale), ZE_NOX_CORE_OK);
    Frame frame;
    EXPECT_EQ(dec.getFirstFrame(frame), ZE_NOX_CORE_RESOLUTION_CHANGE);
    EXPECT_FALSE(frame.isValid());
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 0);
    EXPECT_EQ(dec.getFrame(0, frame), ZE_NOX_CORE_RESOLUTION_CHANGE);
    EXPECT_FALSE(frame.isValid());
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_RESOLUTION_CHANGE);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), 1);
}

TEST_F(VvcDecoderTest, PicturesAreNotDecodedAndSaySoOncePerFile)
{
    const QString path = file(QStringLiteral("nav.vvc"), BuildStream(SimplePlan(4)));
    ZeVvcDecoder dec;
    ASSERT_EQ(dec.openFile(path, nullptr), ZE_NOX_CORE_OK);
    Frame frame;
    ASSERT_TRUE(frame.allocatePicture(64, 48, AV_PIX_FMT_YUV420P));
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_INTERNAL_ERROR);
    EXPECT_FALSE(frame.isValid()) << "the frame is reset";
    EXPECT_EQ(dec.getNextFrameRaw(frame), ZE_NOX_CORE_INTERNAL_ERROR);
    EXPECT_EQ(dec.getFirstFrame(frame), ZE_NOX_CORE_INTERNAL_ERROR);
    EXPECT_EQ(dec.getPrevFrame(frame), ZE_NOX_CORE_INTERNAL_ERROR);
    EXPECT_EQ(dec.getLastFrame(frame), ZE_NOX_CORE_INTERNAL_ERROR);
    EXPECT_EQ(dec.getFrame(2, frame), ZE_NOX_CORE_INTERNAL_ERROR);
    EXPECT_EQ(dec.getFrame(4, frame), ZE_NOX_CORE_INVALID_PARAMETERS);
    EXPECT_EQ(dec.getFrame(-1, frame), ZE_NOX_CORE_INVALID_PARAMETERS);
    EXPECT_EQ(dec.curAbsoluteFrameNumber(), -1);
    EXPECT_FALSE(frame.isValid());
    EXPECT_EQ(criticalCount(QStringLiteral("cannot be decoded from frame")), 1);
    EXPECT_EQ(criticalCount(QString()), 1) << m_messages.dump();
    EXPECT_TRUE(dec.isOpened());

    // Opened again (with trusted parameters this time): one more line.
    const StreamParams params = dec.params();
    ASSERT_EQ(dec.openFile(path, &params), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.getOriginalFrameCount(), 4);
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_INTERNAL_ERROR);
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_INTERNAL_ERROR);
    EXPECT_EQ(criticalCount(QStringLiteral("cannot be decoded from frame")), 2);

    // Trusted parameters that the decoder does not accept, or no frames.
    StreamParams bad = params;
    bad.pixFmt = AV_PIX_FMT_RGB24;
    EXPECT_EQ(dec.openFile(path, &bad), ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
    bad = params;
    bad.frames = 0;
    EXPECT_EQ(dec.openFile(path, &bad), ZE_NOX_CORE_STREAM_TYPE_NOT_DETECTED);
    dec.closeFile();
    EXPECT_FALSE(dec.isOpened());
    EXPECT_EQ(dec.openResult(), ZE_NOX_CORE_NOT_OPENED);
    EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_END_OF_FILE);
}

TEST_F(VvcDecoderTest, GlobalTablesLiveWhileAnyDecoderDoes)
{
    EXPECT_FALSE(IsRomInitialised());
    auto* a = new ZeVvcDecoder;
    auto* b = new ZeVvcDecoder;
    EXPECT_TRUE(IsRomInitialised());
    delete a;
    EXPECT_TRUE(IsRomInitialised());
    delete b;
    EXPECT_FALSE(IsRomInitialised());
}

TEST_F(VvcDecoderTest, ConformanceStreamsOpeningWithAnyNonPictureUnitAreDetected)
{
    struct Case
    {
        char const* name;
        int frames;
    };
    // The first three open with a DCI, an OPI and a suffix SEI of sub-layer 4; the last with an SPS.
    const Case cases[] = {
        {"DCI_A_Tencent_3.bit", 2}, {"OPI_A_Nokia_1.bit", 17}, {"RAP_B_HHI_1.bit", 33}, {"STILL_A_KDDI_1.bit", 1}};
    for (Case const& c : cases) {
        const QString path = StreamFile(c.name);
        ASSERT_TRUE(QFile::exists(path)) << c.name;
        ZeVvcDecoder dec;
        EXPECT_EQ(dec.openFile(path, nullptr), ZE_NOX_CORE_OK) << c.name;
        EXPECT_EQ(dec.getOriginalFrameCount(), c.frames) << c.name;
        EXPECT_EQ(dec.width(), 416) << c.name;
        EXPECT_EQ(dec.height(), 240) << c.name;
        EXPECT_EQ(dec.pixelFormat(), AV_PIX_FMT_YUV420P10LE) << c.name;
    }
}

namespace {

// The expected MD5 of a committed stream's whole output, from the data folder's md5.txt.
QString ExpectedMd5(QString const& name)
{
    QFile list(QStringLiteral(SERAVIN_VVC_TEST_DATA_DIR "/md5.txt"));
    if (!list.open(QIODevice::ReadOnly))
        return QString();
    while (!list.atEnd()) {
        QList<QByteArray> const parts = list.readLine().simplified().split(' ');
        if (parts.size() == 2 && QString::fromLatin1(parts[1]) == name)
            return QString::fromLatin1(parts[0]);
    }
    return QString();
}

// The visible samples of a frame as the output MD5 counts them: planes Y, U, V, rows of the
// cropped picture, two little-endian bytes per sample above 8 bits.
void AddFrame(QCryptographicHash& md5, Frame const& frame)
{
    AVFrame const* f = frame.avFrame();
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    ASSERT_NE(desc, nullptr);
    int const bytes = desc->comp[0].depth > 8 ? 2 : 1;
    for (int p = 0; p < 3 && f->data[p]; ++p) {
        int const w = p == 0 ? f->width : -((-f->width) >> desc->log2_chroma_w);
        int const h = p == 0 ? f->height : -((-f->height) >> desc->log2_chroma_h);
        for (int y = 0; y < h; ++y)
            md5.addData(reinterpret_cast<char const*>(f->data[p] + ptrdiff_t(y) * f->linesize[p]), w * bytes);
    }
}

} // namespace

TEST_F(VvcDecoderTest, IntraStreamsDecodeThroughTheFactoryToTheirOutputMd5)
{
    // All-intra streams: made and opened by the factory from the file record, every picture
    // decoded in output order, the cropped 10-bit output compared with the stream's output MD5.
    struct Case
    {
        char const* name;
        int frames, width, height;
    };
    const Case cases[] = {
        {"RAP_A_HHI_1.bit", 1, 416, 240},      // deblocking, SAO and LMCS
        {"STILL_A_KDDI_1.bit", 1, 416, 240},   // every tool of the SPS
        {"ALF_C_KDDI_3.bit", 4, 416, 240},     // ALF and CC-ALF
        {"CCLM_A_KDDI_2.bit", 7, 416, 240},    // cross-component prediction
        {"MIP_A_HHI_3.bit", 39, 416, 240},     // matrix intra prediction
        {"MTS_A_LGE_4.bit", 21, 416, 240},     // explicit and implicit transform selection
        {"BDPCM_A_Orange_2.bit", 3, 832, 480}, // BDPCM and transform skip
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QLatin1String(c.name);
        const QString want = ExpectedMd5(name);
        ASSERT_FALSE(want.isEmpty());
        ZeOpenedNoxDecoder opened =
            CreateAndOpenNoxDecoder(ZE_STREAM_TYPE_VVC, StreamFile(c.name), nullptr, nullptr, false, false);
        ASSERT_EQ(opened.result, ZE_NOX_CORE_OK);
        ASSERT_TRUE(opened.decoder);
        ASSERT_EQ(opened.decoder->getOriginalFrameCount(), c.frames);
        QCryptographicHash md5(QCryptographicHash::Md5), first(QCryptographicHash::Md5);
        Frame frame;
        for (int i = 0; i < c.frames; ++i) {
            ASSERT_EQ(i == 0 ? opened.decoder->getFirstFrame(frame) : opened.decoder->getNextFrame(frame),
                      ZE_NOX_CORE_OK)
                << "picture " << i;
            ASSERT_EQ(frame.avFrame()->format, AV_PIX_FMT_YUV420P10LE);
            ASSERT_EQ(frame.avFrame()->width, c.width);
            ASSERT_EQ(frame.avFrame()->height, c.height);
            AddFrame(md5, frame);
            if (i == 0)
                AddFrame(first, frame);
        }
        EXPECT_EQ(QString::fromLatin1(md5.result().toHex()), want);
        EXPECT_EQ(opened.decoder->getNextFrame(frame), ZE_NOX_CORE_END_OF_FILE);
        // Decoded again from the start: the same first picture.
        ASSERT_EQ(opened.decoder->getFirstFrame(frame), ZE_NOX_CORE_OK);
        QCryptographicHash again(QCryptographicHash::Md5);
        AddFrame(again, frame);
        EXPECT_EQ(again.result(), first.result());
    }
}

TEST_F(VvcDecoderTest, InterPicturesOfALowDelayStreamAreOutput)
{
    // Intra pictures and the low-delay inter pictures between them all decode, in order, and the
    // decoder starts again from the first one.
    ZeVvcDecoder dec;
    ASSERT_EQ(dec.openFile(StreamFile("DMVR_B_KDDI_4.bit"), nullptr), ZE_NOX_CORE_OK);
    Frame frame;
    ASSERT_EQ(dec.getFirstFrame(frame), ZE_NOX_CORE_OK);
    EXPECT_TRUE(frame.isValid());
    EXPECT_EQ(frame.avFrame()->width, 128);
    int frames = 1;
    while (dec.getNextFrame(frame) == ZE_NOX_CORE_OK) {
        EXPECT_TRUE(frame.isValid());
        ++frames;
    }
    EXPECT_EQ(frames, 11);
    EXPECT_EQ(criticalCount(QStringLiteral("cannot be decoded from frame")), 0);
    EXPECT_EQ(dec.getFirstFrame(frame), ZE_NOX_CORE_OK);
    EXPECT_TRUE(frame.isValid());
}

TEST_F(VvcDecoderTest, OpeningGdrThatIsItsOwnRecoveryPointIsOutput)
{
    // The stream opens with a GDR picture with a recovery POC count of 0, all of it intra: it is
    // complete, so it is output (and matches its picture hash), as are the 28 pictures after it.
    ZeVvcDecoder dec;
    ASSERT_EQ(dec.openFile(StreamFile("GDR_A_ERICSSON_2.bit"), nullptr), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec.getOriginalFrameCount(), 29);
    Frame frame;
    ASSERT_EQ(dec.getFirstFrame(frame), ZE_NOX_CORE_OK);
    ASSERT_TRUE(frame.isValid());
    EXPECT_EQ(frame.avFrame()->width, 176);
    EXPECT_EQ(frame.avFrame()->height, 144);
}

namespace {

// Per-frame MD5s of a stream's whole output through the decoder (empty when it does not open).
QStringList DecodedMd5s(QString const& path)
{
    QStringList out;
    ZeVvcDecoder dec;
    if (dec.openFile(path, nullptr) != ZE_NOX_CORE_OK)
        return out;
    Frame frame;
    for (int i = 0; i < dec.getOriginalFrameCount(); ++i) {
        if ((i == 0 ? dec.getFirstFrame(frame) : dec.getNextFrame(frame)) != ZE_NOX_CORE_OK)
            break;
        out << PictureMd5(frame.avFrame());
    }
    return out;
}

} // namespace

TEST_F(VvcDecoderTest, DamagedUnitIsDroppedAndDecodingGoesOn)
{
    // The slice unit of picture 10 damaged: that unit is dropped, the stream still opens, and
    // every other picture decodes as before.
    std::string const path = StreamPath("MIP_A_HHI_3.bit");
    QStringList const intact = DecodedMd5s(QString::fromStdString(path));
    ASSERT_EQ(intact.size(), 39);
    QStringList expected = intact;
    expected.removeAt(10);
    struct Case
    {
        char const* name;
        std::function<void(std::vector<uint8_t>&)> damage;
    } const cases[] = {
        {"emulation prevention byte before a byte above 3",
         [](std::vector<uint8_t>& u) {
             std::copy_n(std::begin({uint8_t(0), uint8_t(0), uint8_t(3), uint8_t(7)}), 4, u.begin() + 30);
         }},
        {"forbidden bit", [](std::vector<uint8_t>& u) { u[0] |= 0x80; }},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        auto units = ReadUnits(path);
        std::vector<size_t> const slices = SliceUnits(units);
        ASSERT_GT(slices.size(), 10u);
        ASSERT_GT(units[slices[10]].size(), 40u);
        c.damage(units[slices[10]]);
        EXPECT_EQ(DecodedMd5s(file(QStringLiteral("damaged.bit"), ByteStream(units))), expected);
    }
}

TEST_F(VvcDecoderTest, RepeatedSliceIsDiscarded)
{
    // A slice unit repeated right after itself (its own picture header included) is not another
    // picture: the output is the stream's, three pictures.
    std::string const path = StreamPath("BDPCM_A_Orange_2.bit");
    auto units = ReadUnits(path);
    std::vector<size_t> const slices = SliceUnits(units);
    ASSERT_EQ(slices.size(), 3u);
    units.insert(units.begin() + long(slices[1]) + 1, units[slices[1]]);
    QString const repeated = file(QStringLiteral("repeated.bit"), ByteStream(units));
    QStringList const frames = DecodedMd5s(repeated);
    EXPECT_EQ(frames.size(), 3);
    EXPECT_EQ(frames, DecodedMd5s(QString::fromStdString(path)));
}
