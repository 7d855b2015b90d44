// Damaged files through the decoder factory: small clips of every kind, damaged in seeded ways,
// must open or fail with a result code, and an opened one must walk to its end and back without
// a crash, an out-of-bounds read, an absurd allocation or a hang.

#include "core/decoders/broken_files_support.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

using namespace ze::nox::core;
using namespace brokenfiles;

namespace {

// Seeded damage per clip: each seed gets the same cases on every run.
constexpr int kRandomCasesPerClip = 14;
constexpr uint32_t kSeed = 20261210;
constexpr int kVvcCasesPerStream = 2;

void ExpectSound(Outcome const& o)
{
    EXPECT_EQ(BrokenRules(o), std::string());
}

// Quiet decoders: the damaged clips make every decoder complain at length.
class BrokenFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_avLevel = av_log_get_level();
        av_log_set_level(AV_LOG_QUIET);
    }
    void TearDown() override { av_log_set_level(m_avLevel); }

    // Runs one damaged copy and checks what came back; the text names the case in failures.
    void run(Clip const& clip, std::string const& what, Bytes const& bytes)
    {
        const QString path = WriteCase(m_dir, clip, bytes);
        ASSERT_FALSE(path.isEmpty());
        QElapsedTimer timer;
        timer.start();
        for (bool byType : {false, true}) {
            const Outcome o =
                Exercise(path, byType ? clip.type : ZE_STREAM_TYPE_UNKNOWN, clip.withParams ? &clip.params : nullptr);
            SCOPED_TRACE(clip.name + std::string(" ") + what + (byType ? " (by suffix)" : " (detected)"));
            ExpectSound(o);
            ++m_cases;
            m_opened += o.open == ZE_NOX_CORE_OK ? 1 : 0;
        }
        // A hang shows as a case taking far longer than any sound one (under the sanitizer too).
        EXPECT_LT(timer.elapsed(), 30000) << clip.name << " " << what;
    }

    QTemporaryDir m_dir;
    const MessageCapture m_quiet{false};
    int m_avLevel = AV_LOG_INFO;
    int m_cases = 0;
    int m_opened = 0;
};

} // namespace

// Each clip unharmed first (it must open and walk), then the field damage of its kind.
TEST_F(BrokenFiles, FieldDamageGivesResultCodes)
{
    for (Clip const& clip : Clips()) {
        const Bytes seed = clip.load();
        ASSERT_FALSE(seed.empty()) << clip.name;
        {
            const QString path = WriteCase(m_dir, clip, seed);
            const Outcome o = Exercise(path, clip.type, clip.withParams ? &clip.params : nullptr);
            SCOPED_TRACE(clip.name);
            EXPECT_EQ(o.open, ZE_NOX_CORE_OK);
            if (clip.decodes && clip.opens) {
                EXPECT_GT(o.framesWalked, 0);
            }
            ExpectSound(o);
        }
        for (FieldCase const& fc : FieldCases(clip.kind)) {
            Bytes bytes = seed;
            if (!fc.apply(bytes))
                continue; // the clip has no such field
            run(clip, fc.name, bytes);
        }
    }
    RecordProperty("cases", m_cases);
    RecordProperty("opened", m_opened);
}

// Truncation at many points, flips, inserted, deleted and zeroed runs, duplicated ranges.
TEST_F(BrokenFiles, RandomDamageGivesResultCodes)
{
    for (Clip const& clip : Clips()) {
        const Bytes seed = clip.load();
        ASSERT_FALSE(seed.empty()) << clip.name;
        for (size_t cut : TruncationPoints(seed.size()))
            run(clip, "cut at " + std::to_string(cut), Bytes(seed.begin(), seed.begin() + std::ptrdiff_t(cut)));
        Rng rng(kSeed ^ Hash(clip.name));
        for (int i = 0; i < kRandomCasesPerClip; ++i) {
            Bytes bytes = seed;
            const std::string what = Mutate(bytes, rng, static_cast<Mutation>(i % kMutationCount));
            run(clip, "case " + std::to_string(i) + ": " + what, bytes);
        }
    }
    RecordProperty("cases", m_cases);
    RecordProperty("opened", m_opened);
}

// Every committed VVC stream, cut after its first picture (so that slice data, every
// reconstruction stage and the picture hash are reached), damaged in seeded ways. The variable
// SERAVIN_DAMAGE_ROUNDS runs that many times the cases, with other seeds, for a longer search.
TEST_F(BrokenFiles, DamagedVvcTestStreamsGiveResultCodes)
{
    int const rounds = std::max(1, qEnvironmentVariableIntValue("SERAVIN_DAMAGE_ROUNDS"));
    Clip clip;
    clip.kind = Kind::Vvc;
    clip.type = ZE_STREAM_TYPE_VVC;
    for (auto const& [name, whole] : VvcTestStreams()) {
        clip.name = name.substr(0, name.rfind('.')) + ".vvc";
        const Bytes seed = FirstVvcPictures(whole, 1);
        ASSERT_FALSE(seed.empty()) << name;
        Rng rng(kSeed ^ Hash(name));
        for (int i = 0; i < kVvcCasesPerStream * rounds; ++i) {
            Bytes bytes = seed;
            const std::string what =
                Mutate(bytes, rng, static_cast<Mutation>((Hash(name) + uint32_t(i)) % kMutationCount));
            run(clip, "case " + std::to_string(i) + ": " + what, bytes);
        }
    }
    RecordProperty("cases", m_cases);
}

// A file of a few gigabytes that holds one readable frame (a zero tail, made sparse here): the
// bit rate over the whole file is far above what an int holds and must come back bounded.
TEST_F(BrokenFiles, BitRateOfAHugeFileStaysInRange)
{
    Clip const& clip = *std::find_if(Clips().begin(), Clips().end(), [](Clip const& c) { return c.kind == Kind::Ivf; });
    const QString path = WriteCase(m_dir, clip, clip.load());
    ASSERT_FALSE(path.isEmpty());
    {
        QFile f(path);
        if (!f.resize(qint64(6) << 30))
            GTEST_SKIP() << "no room for a sparse 6 GiB file";
    }
    ZeNoxDecoder* created = nullptr;
    ASSERT_EQ(CreateNoxDecoder(&created, ZE_STREAM_TYPE_AV1, path, AnswerRaw, false, nullptr), ZE_NOX_CORE_OK);
    std::unique_ptr<ZeNoxDecoder> d(created);
    ASSERT_EQ(d->openFile(path, nullptr), ZE_NOX_CORE_OK);
    ASSERT_GT(d->getOriginalFrameCount(), 0);
    EXPECT_EQ(d->bitrateKbps(240), INT_MAX);
    EXPECT_GT(d->bitrateKbps(1), 0);
    EXPECT_EQ(d->bitrateKbps(0), 0);
    EXPECT_EQ(d->bitrateKbps(-25), 0);
}
