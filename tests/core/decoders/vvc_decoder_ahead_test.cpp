// Pictures decoded ahead on the decoder's own thread against pictures decoded on the caller's:
// the same pictures, failures and messages at the same requests, also across moves made while
// pictures wait in the queue.

#include "core/decoders/vvc_decoder_test_support.h"
#include "test_support.h"
#include "vvc_platform/vvc_test_streams.h"
#include "vvc_platform/vvc_test_writer.h"

#include "decoders/ze_vvc_decoder.h"
#include "display/frame.h"

#include "util/WorkerPool.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

extern "C" {
#include <libavutil/frame.h>
}

using namespace ze::nox::core;
using namespace vvctest;

namespace {

// The decoding thread count for a scope: 1 decodes on the caller's thread.
class DecodingThreads
{
public:
    explicit DecodingThreads(int threads) { vvcutil::SetDecodingThreads(threads); }
    ~DecodingThreads() { vvcutil::SetDecodingThreads(0); }
};

// What one request gave: its result, the picture then current, the picture's MD5 (empty without
// one) and the messages given by then.
struct Outcome
{
    int result;
    int number;
    QString md5;
    QStringList messages;
    bool operator==(Outcome const& o) const
    {
        return result == o.result && number == o.number && md5 == o.md5 && messages == o.messages;
    }
};

std::ostream& operator<<(std::ostream& out, Outcome const& o)
{
    return out << "{result " << o.result << ", picture " << o.number << ", " << o.md5.toStdString() << ", "
               << o.messages.size() << " messages: " << o.messages.join(QStringLiteral(" | ")).toStdString() << "}";
}

using Request = std::function<ZeNoxCoreError(ZeVvcDecoder&, Frame&)>;

Request Next()
{
    return [](ZeVvcDecoder& dec, Frame& frame) { return dec.getNextFrame(frame); };
}

Request Jump(int n)
{
    return [n](ZeVvcDecoder& dec, Frame& frame) { return dec.getFrame(n, frame); };
}

std::vector<Request> Nexts(int count)
{
    return std::vector<Request>(size_t(count), Next());
}

std::vector<Request> operator+(std::vector<Request> a, std::vector<Request> const& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Opens the stream (with the parameters when given) on `threads` decoding threads and makes the
// requests; the open's result comes first.
std::vector<Outcome> Decode(QString const& path, StreamParams const* params, int threads,
                         std::vector<Request> const& requests)
{
    DecodingThreads scope(threads);
    MessageCapture capture;
    ZeVvcDecoder dec;
    std::vector<Outcome> out;
    out.push_back({dec.openFile(path, params), -1, QString(), capture.messages()});
    Frame frame;
    for (Request const& request : requests) {
        const ZeNoxCoreError r = request(dec, frame);
        out.push_back({r, dec.curAbsoluteFrameNumber(), frame.isValid() ? PictureMd5(frame) : QString(),
                       capture.messages()});
    }
    return out; // the decoder goes while pictures are decoded ahead
}

int Failures(std::vector<Outcome> const& outcomes)
{
    int n = 0;
    for (Outcome const& o : outcomes)
        n += o.result != ZE_NOX_CORE_OK && o.result != ZE_NOX_CORE_END_OF_FILE ? 1 : 0;
    return n;
}

class VvcDecodeAheadTest : public StreamFileTest
{
};

// The units of a committed stream with the slice data of its slice unit `slice` changed by `damage`.
std::vector<uint8_t> Damaged(char const* name, size_t slice, std::function<void(std::vector<uint8_t>&)> const& damage)
{
    auto units = ReadUnits(StreamPath(name));
    std::vector<size_t> const slices = SliceUnits(units);
    EXPECT_LT(slice, slices.size()) << name;
    if (slice < slices.size())
        damage(units[slices[slice]]);
    return ByteStream(units);
}

} // namespace

TEST_F(VvcDecodeAheadTest, PicturesAreThoseOfTheCallersThread)
{
    struct Case
    {
        char const* name;
        int frames;
    } const cases[] = {
        {"MIP_A_HHI_3.bit", 39},    // intra only
        {"DMVR_B_KDDI_4.bit", 11},  // low-delay inter pictures
        {"LTRP_A_ERICSSON_3.bit", 0}, // long-term references
        {"RAP_B_HHI_1.bit", 0},     // random-access pictures with leading pictures
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = StreamFile(c.name);
        ZeVvcDecoder probe;
        ASSERT_EQ(probe.openFile(path, nullptr), ZE_NOX_CORE_OK);
        int const frames = probe.getOriginalFrameCount();
        if (c.frames > 0)
            EXPECT_EQ(frames, c.frames);
        probe.closeFile();
        // Past the end twice: the end of the stream, not a failure, and no picture decoded beyond it.
        std::vector<Request> const requests = Nexts(frames + 2);
        std::vector<Outcome> const own = Decode(path, nullptr, 1, requests);
        EXPECT_EQ(Failures(own), 0);
        EXPECT_EQ(own.back().result, ZE_NOX_CORE_END_OF_FILE);
        EXPECT_FALSE(own[size_t(frames)].md5.isEmpty());
        EXPECT_EQ(Decode(path, nullptr, 4, requests), own);
    }
}

TEST_F(VvcDecodeAheadTest, FailuresComeAtTheirPictureWithTheirMessages)
{
    // Each stream is read to its end, back to its start and on; the thread stops at a failure and
    // goes on from there when asked.
    QByteArray const whole = ReadAll(StreamFile("MIP_A_HHI_3.bit"));
    std::vector<uint8_t> const mip(whole.begin(), whole.end());
    const StreamPlan plan = SimplePlan(4);
    const QString noSamples = file(QStringLiteral("nosamples.vvc"), BuildStream(plan));
    const StreamParams stale = StaleRecord();
    struct Case
    {
        char const* name;
        QString path;
        StreamParams const* params;
        int firstFailure; // request (from 1) that fails first on the caller's thread
    } const cases[] = {
        {"slice data of picture 10 damaged",
         file(QStringLiteral("damaged.bit"),
              Damaged("MIP_A_HHI_3.bit", 10,
                      [](std::vector<uint8_t>& u) {
                          for (size_t i = u.size() / 2; i < u.size() / 2 + 16; ++i)
                              u[i] ^= 0x5A;
                      })),
         nullptr, 11},
        {"cut inside the last picture",
         file(QStringLiteral("cut.bit"), std::vector<uint8_t>(mip.begin(), mip.end() - long(mip.size() / 80))), nullptr,
         39},
        {"pictures without samples", noSamples, nullptr, 1},
        {"parameters of another size", file(QStringLiteral("stale.vvc"), BuildStream(plan)), &stale, 1},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ZeVvcDecoder probe;
        ASSERT_EQ(probe.openFile(c.path, c.params), ZE_NOX_CORE_OK);
        int const frames = probe.getOriginalFrameCount();
        probe.closeFile();
        std::vector<Request> const requests =
            Nexts(frames + 1) + std::vector<Request>{Jump(0)} + Nexts(3) + std::vector<Request>{Jump(frames - 1)};
        std::vector<Outcome> const own = Decode(c.path, c.params, 1, requests);
        ASSERT_GT(own.size(), size_t(c.firstFailure));
        for (int i = 1; i < c.firstFailure; ++i)
            ASSERT_EQ(own[size_t(i)].result, ZE_NOX_CORE_OK) << "request " << i;
        EXPECT_NE(own[size_t(c.firstFailure)].result, ZE_NOX_CORE_OK);
        EXPECT_FALSE(own[size_t(c.firstFailure)].messages.isEmpty());
        EXPECT_EQ(own[size_t(c.firstFailure) - 1].messages.size(), 0);
        std::vector<Outcome> const ahead = Decode(c.path, c.params, 4, requests);
        ASSERT_EQ(ahead.size(), own.size());
        for (size_t i = 0; i < own.size(); ++i)
            EXPECT_EQ(ahead[i], own[i]) << "request " << i;
    }
}

TEST_F(VvcDecodeAheadTest, MovesWhilePicturesWaitGiveTheRightPictures)
{
    // A stream with random-access points: jumps seek, backward moves restart or take kept copies.
    const QString path = StreamFile("RAP_B_HHI_1.bit");
    const QString other = StreamFile("DMVR_B_KDDI_4.bit");
    ZeVvcDecoder probe;
    ASSERT_EQ(probe.openFile(path, nullptr), ZE_NOX_CORE_OK);
    int const frames = probe.getOriginalFrameCount();
    ASSERT_GE(frames, 8);
    EXPECT_GE(probe.randomAccessPointCount(), 1);
    probe.closeFile();
    std::vector<Outcome> const whole = Decode(path, nullptr, 1, Nexts(frames));

    auto reopen = [](QString const& name) {
        return [name](ZeVvcDecoder& dec, Frame&) { return dec.openFile(name, nullptr); };
    };
    std::vector<Request> const requests =
        Nexts(3) + std::vector<Request>{Jump(1), Jump(frames - 2), Jump(frames / 2)} + Nexts(2) +
        std::vector<Request>{[](ZeVvcDecoder& dec, Frame& frame) { return dec.getPrevFrame(frame); },
                             [](ZeVvcDecoder& dec, Frame& frame) { return dec.getFirstFrame(frame); }} +
        Nexts(2) +
        std::vector<Request>{[](ZeVvcDecoder& dec, Frame& frame) {
                                 dec.closeFile();
                                 return dec.getNextFrame(frame);
                             },
                             reopen(other)} +
        Nexts(2) + std::vector<Request>{reopen(path)} + Nexts(2);
    std::vector<Outcome> const own = Decode(path, nullptr, 1, requests);
    std::vector<Outcome> const ahead = Decode(path, nullptr, 4, requests);
    ASSERT_EQ(ahead.size(), own.size());
    for (size_t i = 0; i < own.size(); ++i)
        EXPECT_EQ(ahead[i], own[i]) << "request " << i;
    // The pictures of the first stream are those a whole decode gives at their numbers.
    for (size_t i = 1; i <= 12; ++i) {
        ASSERT_GE(ahead[i].number, 0) << i;
        ASSERT_LT(ahead[i].number, frames) << i;
        EXPECT_EQ(ahead[i].md5, whole[size_t(ahead[i].number) + 1].md5) << "request " << i;
    }
    EXPECT_EQ(ahead[13].result, ZE_NOX_CORE_END_OF_FILE) << "closed";
}

TEST_F(VvcDecodeAheadTest, PlanesTheCallerSharesAreNotDecodedInto)
{
    DecodingThreads scope(4);
    ZeVvcDecoder dec;
    ASSERT_EQ(dec.openFile(StreamFile("MIP_A_HHI_3.bit"), nullptr), ZE_NOX_CORE_OK);
    Frame frame;
    ASSERT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_OK);
    // Another holder of the first picture's planes, as a view showing it while the next is stepped.
    AVFrame* shown = av_frame_clone(frame.avFrame());
    ASSERT_TRUE(shown);
    const QString first = PictureMd5(shown);
    QStringList seen{first};
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_OK);
        seen << PictureMd5(frame);
    }
    EXPECT_EQ(PictureMd5(shown), first);
    EXPECT_EQ(seen.removeDuplicates(), 0) << "the intra pictures differ";
    av_frame_free(&shown);
}

TEST_F(VvcDecodeAheadTest, CallersFrameOfAnotherLayoutGetsThePicture)
{
    // The Frame holds planes that do not fit the stream's pictures (a picture of another stream,
    // rows with padding): the picture is given in new planes, none is lost and the numbers hold.
    const QString path = StreamFile("MIP_A_HHI_3.bit");
    std::vector<Outcome> const whole = Decode(path, nullptr, 1, Nexts(2));
    ASSERT_EQ(whole[2].result, ZE_NOX_CORE_OK);
    struct Case
    {
        char const* name;
        int width, height;
        AVPixelFormat format;
        int align;
    } const cases[] = {
        {"another size", 64, 48, AV_PIX_FMT_YUV420P10LE, 1},
        {"another format", 416, 240, AV_PIX_FMT_YUV420P, 1},
        {"padded rows", 416, 240, AV_PIX_FMT_YUV420P10LE, 256},
    };
    for (int threads : {1, 4})
        for (Case const& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
            DecodingThreads scope(threads);
            ZeVvcDecoder dec;
            ASSERT_EQ(dec.openFile(path, nullptr), ZE_NOX_CORE_OK);
            Frame frame;
            AVFrame* f = frame.avFrame();
            f->width = c.width;
            f->height = c.height;
            f->format = c.format;
            ASSERT_GE(av_frame_get_buffer(f, c.align), 0);
            for (int i = 1; i <= 2; ++i) {
                ASSERT_EQ(dec.getNextFrame(frame), ZE_NOX_CORE_OK);
                EXPECT_EQ(dec.curAbsoluteFrameNumber(), i - 1);
                EXPECT_EQ(PictureMd5(frame), whole[size_t(i)].md5);
            }
        }
}
