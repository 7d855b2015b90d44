// Random access of the compressed-stream decoders: walked forwards, backwards and by jumps, every
// decoder delivers at every position the picture of a sequential decode from the start, opened
// with and without a stored record, and the pictures it keeps stay inside their budget.

#include "test_support.h"

#include "display/frame.h"
#include "decoders/ze_av1_decoder.h"
#include "decoders/ze_ffmpeg_decoder.h"
#include "decoders/ze_vvc_decoder.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>

using namespace ze::nox::core;

namespace {

struct RandomAccessCase
{
    char const* name;
    char const* file;         // a test clip or, for VVC, a committed stream
    char const* suffix;       // of the copy the decoder opens
    ZeStreamType type;        // the decoder made
    int points;               // random-access points after the first picture
    bool annexB;              // the low-overhead AV1 stream framed anew as Annex B
};

// The committed VVC streams are intra pictures only (IDR and CRA pictures): inter pictures are
// not decoded yet.
bool IsVvc(RandomAccessCase const& c)
{
    return c.type == ZE_STREAM_TYPE_VVC;
}

const RandomAccessCase kCases[] = {
    {"Avc", "ra_avc.h264", "h264", ZE_STREAM_TYPE_AVC, 4, false},
    {"HevcOpenGop", "ra_hevc_open.h265", "h265", ZE_STREAM_TYPE_HEVC, 4, false},
    {"HevcClosedGop", "ra_hevc_closed.h265", "h265", ZE_STREAM_TYPE_HEVC, 4, false},
    {"Mjpeg", "ra_mjpeg.mjpeg", "mjpeg", ZE_STREAM_TYPE_MJPEG, 47, false},
    {"Av1Ivf", "ra_av1.ivf", "ivf", ZE_STREAM_TYPE_AV1, 4, false},
    {"Av1Section5", "ra_av1.obu", "obu", ZE_STREAM_TYPE_AV1, 4, false},
    {"Av1AnnexB", "ra_av1.obu", "av1", ZE_STREAM_TYPE_AV1, 4, true},
    {"VvcIdrAndCra", "CCLM_A_KDDI_2.bit", "vvc", ZE_STREAM_TYPE_VVC, 6, false},
    {"VvcTwoIdrs", "MTS_A_LGE_4.bit", "vvc", ZE_STREAM_TYPE_VVC, 20, false},
};

ZeNoxSequentialDecoder* MakeDecoder(ZeStreamType type)
{
    switch (type) {
    case ZE_STREAM_TYPE_AV1: return new ZeAv1Decoder;
    case ZE_STREAM_TYPE_VVC: return new ZeVvcDecoder;
    default: return new ZeFfmpegDecoder(type);
    }
}

QString Md5Of(ZeNoxCoreError res, Frame const& frame)
{
    return res == ZE_NOX_CORE_OK ? PictureMd5(frame) : QStringLiteral("code %1").arg(res);
}

class RandomAccess : public ::testing::TestWithParam<RandomAccessCase>
{
protected:
    void SetUp() override
    {
        RandomAccessCase const& c = GetParam();
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("clip.") + QLatin1String(c.suffix));
        const QString source = IsVvc(c) ? QStringLiteral(SERAVIN_VVC_TEST_DATA_DIR "/") + QLatin1String(c.file)
                                        : TestMediaPath(QLatin1String(c.file));
        ASSERT_TRUE(c.annexB ? WriteAll(m_path, ToAnnexB(ReadAll(source))) : QFile::copy(source, m_path));

        // The reference: every picture of a decode from the start, by a decoder of its own.
        std::unique_ptr<ZeNoxSequentialDecoder> ref(MakeDecoder(c.type));
        ASSERT_EQ(ref->openFile(m_path, nullptr), ZE_NOX_CORE_OK);
        m_record = ref->params();
        Frame frame;
        for (int i = 0; i < ref->getOriginalFrameCount(); ++i)
            m_md5.push_back(Md5Of(ref->getNextFrame(frame), frame));
        ASSERT_EQ(ref->getNextFrame(frame), ZE_NOX_CORE_END_OF_FILE);
        ASSERT_FALSE(m_md5.isEmpty());
    }

    // Walks a decoder over the stream and compares every picture with the reference.
    void walk(ZeNoxSequentialDecoder& dec)
    {
        int const count = m_md5.size();
        int const last = count - 1;
        Frame frame;
        auto expectAt = [&](ZeNoxCoreError res, int n, char const* move) {
            SCOPED_TRACE(QStringLiteral("%1 to %2").arg(QLatin1String(move)).arg(n).toStdString());
            EXPECT_EQ(Md5Of(res, frame).toStdString(), m_md5[n].toStdString());
            EXPECT_EQ(dec.curAbsoluteFrameNumber(), n);
        };

        expectAt(dec.getLastFrame(frame), last, "last");
        for (int n = last - 1; n >= 0; --n)
            expectAt(dec.getPrevFrame(frame), n, "previous");
        expectAt(dec.getPrevFrame(frame), 0, "previous at the first");
        for (int n = 1; n <= last; ++n)
            expectAt(dec.getNextFrame(frame), n, "next");
        EXPECT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_END_OF_FILE);
        EXPECT_FALSE(frame.isValid());
        expectAt(dec.getPrevFrame(frame), last, "previous after the end");

        std::mt19937 random(28);
        for (int i = 0; i < 40; ++i) {
            int n = std::uniform_int_distribution<int>(0, last)(random);
            expectAt(dec.getFrame(n, frame), n, "jump");
            if (n > 0 && i % 3 == 0)
                expectAt(dec.getPrevFrame(frame), --n, "previous after a jump");
            if (n < last && i % 4 == 0)
                expectAt(dec.getNextFrame(frame), ++n, "next after a jump");
        }
        expectAt(dec.getFirstFrame(frame), 0, "first");
        ZePictureCache const& kept = dec.pictureCache();
        EXPECT_GT(kept.count(), 0);
        EXPECT_LE(kept.bytes(), kept.budget());
    }

    QTemporaryDir m_dir;
    QString m_path;
    StreamParams m_record;
    QStringList m_md5;
};

} // namespace

TEST_P(RandomAccess, EveryMoveGivesThePictureOfASequentialDecode)
{
    std::unique_ptr<ZeNoxSequentialDecoder> dec(MakeDecoder(GetParam().type));
    ASSERT_EQ(dec->openFile(m_path, nullptr), ZE_NOX_CORE_OK);
    EXPECT_EQ(dec->randomAccessPointCount(), GetParam().points);
    walk(*dec);
}

// Opened from a stored record, the points come from a pass that only parses the stream.
TEST_P(RandomAccess, OpenedFromARecordTheSame)
{
    std::unique_ptr<ZeNoxSequentialDecoder> dec(MakeDecoder(GetParam().type));
    ASSERT_EQ(dec->openFile(m_path, &m_record), ZE_NOX_CORE_OK);
    walk(*dec);
    EXPECT_EQ(dec->randomAccessPointCount(), GetParam().points);
}

// A decoder that only moves forward from its first frame, as a measurement does, keeps no
// pictures, also with a range that starts after a random-access point.
TEST_P(RandomAccess, ForwardOnlyKeepsNothing)
{
    std::unique_ptr<ZeNoxSequentialDecoder> dec(MakeDecoder(GetParam().type));
    ASSERT_EQ(dec->openFile(m_path, nullptr), ZE_NOX_CORE_OK);
    int const first = m_md5.size() / 2;
    dec->setFirstFrameNumber(first);
    Frame frame;
    ASSERT_EQ(Md5Of(dec->getFirstFrame(frame), frame), m_md5[first]);
    for (int n = first + 1; n < m_md5.size(); ++n)
        ASSERT_EQ(Md5Of(dec->getNextFrame(frame), frame), m_md5[n]);
    EXPECT_EQ(dec->getNextFrame(frame), ZE_NOX_CORE_END_OF_FILE);
    EXPECT_EQ(dec->pictureCache().count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Decoders, RandomAccess, ::testing::ValuesIn(kCases),
                         [](::testing::TestParamInfo<RandomAccessCase> const& info) { return info.param.name; });
