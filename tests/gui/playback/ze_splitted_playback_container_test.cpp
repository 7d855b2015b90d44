#include "test_support.h"
#include "decoders/ze_nox_decoder.h"
#include "decoders/ze_nox_decoder_factory.h"
#include "app/ze_nox_gui_app.h"
#include "app/ze_nox_gui_settings.h"
#include "playback/ze_splitted_playback_container.h"

#include <QMimeData>
#include <QSignalSpy>
#include <QUrl>

#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

#include <memory>

using namespace ze::nox::core;
using ze::nox::gui::ZeSplittedPlaybackContainer;
using ze::nox::gui::ZeSplittedPlaybackStepper;
using PB = ZeSplittedPlaybackContainer;
using Stepper = ZeSplittedPlaybackStepper;

namespace {

std::unique_ptr<ZeNoxDecoder> Open(QString const& clip)
{
    ZeNoxDecoder* dec = nullptr;
    QString const file = TestMediaPath(clip);
    auto const ask = &ze::nox::gui::ZeNoxGuiApp::GetYuvRequiredParams;
    if (CreateNoxDecoder(&dec, ZE_STREAM_TYPE_UNKNOWN, file, ask, false, nullptr) != ZE_NOX_CORE_OK || !dec)
        return nullptr;
    std::unique_ptr<ZeNoxDecoder> owned(dec);
    if (OpenNoxDecoderWrapper(dec, file, nullptr, ask, false) != ZE_NOX_CORE_OK)
        return nullptr;
    return owned;
}

// A stream whose pictures from `failFrom` on cannot be decoded: the real decoder of a clip, with
// every step to such a frame failing as a broken stream's does.
class BrokenFromFrame : public ZeNoxDecoder
{
public:
    BrokenFromFrame(std::unique_ptr<ZeNoxDecoder> inner, int failFrom)
        : ZeNoxDecoder(inner->streamType(), nullptr), m_inner(std::move(inner)), m_failFrom(failFrom)
    {
        takeStreamParams(m_inner->params());
        m_fileName = m_inner->filename();
        m_openResult = ZE_NOX_CORE_OK;
    }
    ZeNoxCoreError openFile(QString const&, StreamParams const*) override { return ZE_NOX_CORE_OK; }
    void closeFile() override {}
    bool isOpened() const override { return true; }
    int curFrameNumber() const override { return m_cur; }
    int curAbsoluteFrameNumber() const override { return m_cur; }
    ZeNoxCoreError getFirstFrame(Frame& f) override { return getFrame(0, f); }
    ZeNoxCoreError getPrevFrame(Frame& f) override { return getFrame(std::max(0, m_cur - 1), f); }
    ZeNoxCoreError getNextFrame(Frame& f) override { return getFrame(m_cur + 1, f); }
    ZeNoxCoreError getLastFrame(Frame& f) override { return getFrame(lastFrameNumber(), f); }
    ZeNoxCoreError getFrame(int n, Frame& f) override
    {
        m_cur = n;
        if (n >= m_failFrom) {
            f.reset();
            return ZE_NOX_CORE_CRITICAL_DECODING_ERROR;
        }
        return m_inner->getFrame(n, f);
    }

private:
    std::unique_ptr<ZeNoxDecoder> m_inner;
    int m_failFrom;
    int m_cur = -1;
};

class PlaybackTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        area = std::make_unique<PB>();
        area->show();
    }
    void TearDown() override
    {
        area->closeAllFiles();
        area.reset();
    }
    std::unique_ptr<ZeNoxDecoder> open(QString const& clip)
    {
        auto dec = Open(clip);
        EXPECT_TRUE(dec) << clip.toStdString();
        return dec;
    }
    std::unique_ptr<PB> area;
};

} // namespace

TEST_F(PlaybackTest, StepsGiveFrameNumbersOverStreamsOfDifferentLength)
{
    auto left = open("pb_avc_10f.h264");
    auto right = open("pb_ref_5f.y4m");
    auto ref = open("pb_ref_10f.y4m");
    ASSERT_TRUE(left && right && ref);
    area->setLeftDec(left.get());
    area->setRightDec(right.get());
    area->setRefDec(ref.get());
    EXPECT_EQ(area->totalFrameCount(), 10);
    QSignalSpy spy(area.get(), &PB::curFrameChanged);

    area->showFirstFrame();
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.last().at(0).toInt(), 0);
    EXPECT_EQ(left->curFrameNumber(), 0);
    EXPECT_FALSE(area->leftImage().isNull());
    EXPECT_FALSE(area->rightImage().isNull());

    // Previous at frame 0 of every stream does nothing.
    area->showPrevFrame();
    EXPECT_EQ(spy.count(), 1);

    area->showFrame(7);
    EXPECT_EQ(spy.last().at(0).toInt(), 7);
    EXPECT_EQ(left->curFrameNumber(), 7);
    EXPECT_TRUE(area->rightImage().isNull()) << "frame 7 lies beyond the 5-frame stream";
    EXPECT_FALSE(area->leftImage().isNull());

    // The left stream goes back in the pool; the run-out right stream stays empty.
    area->showPrevFrame();
    EXPECT_EQ(spy.last().at(0).toInt(), 6);
    EXPECT_EQ(left->curFrameNumber(), 6);
    EXPECT_EQ(ref->curFrameNumber(), 6);
    EXPECT_TRUE(area->rightImage().isNull());

    // Last: every stream at the last frame of the shortest range.
    area->showLastFrame();
    EXPECT_EQ(left->curFrameNumber(), 4);
    EXPECT_EQ(right->curFrameNumber(), 4);
    EXPECT_EQ(ref->curFrameNumber(), 4);
    EXPECT_EQ(spy.last().at(0).toInt(), 4);
    EXPECT_FALSE(area->rightImage().isNull());

    area->showNextFrame();
    EXPECT_EQ(left->curFrameNumber(), 5);
    EXPECT_TRUE(area->rightImage().isNull());
    EXPECT_FALSE(area->leftImage().isNull());
}

TEST_F(PlaybackTest, ClosingPlacesAndTheirPlaybackEffects)
{
    auto left = open("pb_avc_10f.h264");
    auto ref = open("pb_ref_10f.y4m");
    auto other = open("pb_avc_5f.h264");
    ASSERT_TRUE(left && ref && other);
    area->setLeftDec(left.get());
    area->setRefDec(ref.get());
    QSignalSpy paused(area.get(), &PB::playbackPaused);

    area->closeFile(other.get());
    EXPECT_TRUE(area->isLeftFileOpened());
    EXPECT_TRUE(area->isReferenceFileOpened());

    area->play();
    area->closeFile(ref.get());
    EXPECT_FALSE(area->isReferenceFileOpened());
    EXPECT_TRUE(area->isPlaying()) << "clearing the reference does not stop playback";
    EXPECT_EQ(paused.count(), 0);
    area->setLeftDec(nullptr);
    EXPECT_FALSE(area->isPlaying());
    EXPECT_EQ(paused.count(), 1);
    EXPECT_EQ(area->totalFrameCount(), 0);
    EXPECT_EQ(area->curFrameNumber(), -1);
}

TEST_F(PlaybackTest, ADecoderOfAnotherSizeGetsFreshFrames)
{
    auto big = open("av1_420p.ivf");
    auto small = open("av1_small_420p.ivf");
    ASSERT_TRUE(big && small);
    area->setLeftDec(big.get());
    area->showFirstFrame();
    ASSERT_EQ(area->leftImage().size(), QSize(176, 144));
    // Handed over directly, without emptying the place first.
    area->setLeftDec(small.get());
    area->showFirstFrame();
    EXPECT_EQ(area->leftImage().size(), QSize(64, 48));
    area->showNextFrame();
    EXPECT_EQ(area->leftImage().size(), QSize(64, 48));
    EXPECT_EQ(small->curFrameNumber(), 1);
}

TEST_F(PlaybackTest, OneDecoderInTwoPlacesIsSteppedOnce)
{
    auto dec = open("pb_avc_10f.h264");
    ASSERT_TRUE(dec);
    area->setLeftDec(dec.get());
    area->setRightDec(dec.get());
    area->showFirstFrame();
    area->showNextFrame();
    EXPECT_EQ(dec->curFrameNumber(), 1);
    EXPECT_FALSE(area->leftImage().isNull());
    EXPECT_FALSE(area->rightImage().isNull());
    EXPECT_EQ(area->leftImage(), area->rightImage());
}

TEST_F(PlaybackTest, ViewModesProduceImagesOfTheirKind)
{
    auto left = open("pb_avc_10f.h264");
    auto ref = open("pb_ref_10f.y4m");
    auto right = open("pb_ref_10f.y4m");
    ASSERT_TRUE(left && ref && right);
    area->setLeftDec(left.get());
    area->setRightDec(right.get());
    area->setRefDec(ref.get());
    area->showFirstFrame();
    EXPECT_EQ(area->leftImage().format(), QImage::Format_RGB888);

    area->setVisibleComponent(COMPONENT_Y);
    EXPECT_EQ(area->leftImage().format(), QImage::Format_Grayscale8);
    EXPECT_EQ(area->leftImage().size(), QSize(176, 144));
    area->setVisibleComponent(COMPONENT_YUV);

    area->setViewMode(PB::VIEW_MODE_HEATMAP_DIFF);
    EXPECT_EQ(area->heatmapMaxValue(), 127);
    QImage const heat = area->leftDiffImage();
    ASSERT_FALSE(heat.isNull());
    // The right stream is the reference itself: its difference is white everywhere.
    QImage const same = area->rightDiffImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < same.height(); y += 7)
        for (int x = 0; x < same.width(); x += 7)
            ASSERT_EQ(same.pixel(x, y), qRgb(255, 255, 255));

    area->setViewMode(PB::VIEW_MODE_BW_DIFF);
    EXPECT_EQ(area->heatmapMaxValue(), 1);
    QImage const bw = area->leftDiffImage().convertToFormat(QImage::Format_RGB32);
    QImage const hm = heat.convertToFormat(QImage::Format_RGB32);
    // Black and white only; wherever the heat map is not white the difference is black.
    int black = 0;
    for (int y = 0; y < bw.height(); ++y)
        for (int x = 0; x < bw.width(); ++x) {
            QRgb const p = bw.pixel(x, y);
            ASSERT_TRUE(p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255));
            if (hm.pixel(x, y) != qRgb(255, 255, 255)) {
                ASSERT_EQ(p, qRgb(0, 0, 0));
            }
            black += p == qRgb(0, 0, 0);
        }
    EXPECT_GT(black, 0) << "the encode differs from its source";

    // Without the reference no stale difference stays.
    area->setRefDec(nullptr);
    area->showNextFrame();
    EXPECT_TRUE(area->leftDiffImage().isNull());
}

TEST_F(PlaybackTest, ZoomLimitsAndSampleValuesAtAPosition)
{
    QSignalSpy zoomSpy(area.get(), &PB::zoomRatioChanged);
    area->zoomIn();
    EXPECT_DOUBLE_EQ(area->zoomRatio(), 1.25);
    area->zoomIn();
    EXPECT_DOUBLE_EQ(area->zoomRatio(), 1.5625);
    for (int i = 0; i < 10; ++i)
        area->zoomOut();
    EXPECT_DOUBLE_EQ(area->zoomRatio(), 1.5625 * 0.8 * 0.8 * 0.8 * 0.8 * 0.8);
    EXPECT_GE(area->zoomRatio(), 0.5);
    area->zoomToActualSize();
    EXPECT_DOUBLE_EQ(area->zoomRatio(), 1.0);

    auto dec = open("pb_ref_10f.y4m");
    ASSERT_TRUE(dec);
    area->setLeftDec(dec.get());
    area->showFirstFrame();
    QImage const plain = area->grab().toImage();

    // At zoom 64 a cell is 64 pixels wide: the grid lines are black and the text is drawn in
    // the cell; pixel (0, 0) of the picture is in the top-left cell.
    area->zoomToActualSize();
    for (int i = 0; i < 19; ++i)
        area->zoomIn();
    ASSERT_GE(area->zoomRatio(), 32);
    QImage const zoomed = area->grab().toImage();
    EXPECT_NE(plain, zoomed);

    // Zoom far and move the picture far away: drawing stays bounded and 100 pixels stay inside.
    for (int i = 0; i < 40; ++i)
        area->zoomIn();
    EXPECT_LE(area->zoomRatio(), 1000);
    QTest::mousePress(area.get(), Qt::LeftButton, Qt::NoModifier, QPoint(300, 300));
    QTest::mouseMove(area.get(), QPoint(690, 520));
    QTest::mouseRelease(area.get(), Qt::LeftButton, Qt::NoModifier, QPoint(690, 520));
    QRectF const v = area->viewport();
    EXPECT_LE(v.x(), area->width() - 100);
    EXPECT_LE(v.y(), area->height() - 100);
    EXPECT_FALSE(area->grab().isNull());

    // A right click puts the split line in the middle and the zoom back to 1.
    QTest::mouseClick(area.get(), Qt::RightButton, Qt::NoModifier, QPoint(100, 100));
    EXPECT_DOUBLE_EQ(area->zoomRatio(), 1.0);
    EXPECT_DOUBLE_EQ(area->splitLineRelPos(), 0.5);
}

TEST_F(PlaybackTest, FitToWindowShowsTheWholePictureCentred)
{
    auto dec = open("pb_ref_10f.y4m"); // 176 x 144
    ASSERT_TRUE(dec);
    area->setLeftDec(dec.get());
    area->showFirstFrame();
    struct Case
    {
        QSize widget;
        double ratio;
    };
    for (Case c : {Case{QSize(1200, 288), 2.0}, Case{QSize(352, 900), 2.0}, Case{QSize(528, 432), 3.0}}) {
        area->resize(c.widget);
        area->zoomToWindowSize();
        EXPECT_DOUBLE_EQ(area->zoomRatio(), c.ratio) << c.widget.width();
        QRectF const v = area->viewport();
        EXPECT_TRUE(QRectF(QPointF(0, 0), QSizeF(c.widget)).adjusted(-1, -1, 1, 1).contains(v)) << c.widget.width();
        EXPECT_NEAR(v.center().x(), c.widget.width() / 2.0, 1.0);
        EXPECT_NEAR(v.center().y(), c.widget.height() / 2.0, 1.0);
    }
}

TEST_F(PlaybackTest, SampleValueTextFollowsTheSample)
{
    auto dec = open("pb_ref_10f.y4m");
    ASSERT_TRUE(dec);
    area->setLeftDec(dec.get());
    area->setRightDec(dec.get());
    area->showFirstFrame();
    area->setVisibleComponent(COMPONENT_Y);
    while (area->zoomRatio() < 64)
        area->zoomIn();
    // Cells of the picture's left top in the widget's top-left corner.
    area->resetToDefaultView();
    while (area->zoomRatio() < 64)
        area->zoomIn();
    QImage const dec10 = area->grab().toImage();
    area->setYuvValuesFormat(PB::YUV_VALUES_FORMAT_HEX);
    QImage const hex = area->grab().toImage();
    EXPECT_NE(dec10, hex) << "decimal and hexadecimal texts differ";

    // The cell outlines are black, grey in the black-and-white difference mode (here of a
    // stream against itself, so every cell is white).
    auto count = [](QImage const& image, QColor const& colour) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += QColor(image.pixel(x, y)) == colour;
        return n;
    };
    QImage const grid = area->grab().toImage();
    EXPECT_GT(count(grid, Qt::black), grid.height() * 4);
    area->setRefDec(dec.get());
    area->setViewMode(PB::VIEW_MODE_BW_DIFF);
    area->showFrame(0);
    QImage const bw = area->grab().toImage();
    EXPECT_EQ(count(bw, Qt::black), 0);
    EXPECT_GT(count(bw, Qt::gray), bw.height() * 4);
    area->setRefDec(nullptr);
}

TEST_F(PlaybackTest, SplitLineDragIsSavedByTheDestructor)
{
    auto dec = open("pb_ref_10f.y4m");
    ASSERT_TRUE(dec);
    area->setLeftDec(dec.get());
    area->showFirstFrame();
    QRect const grab = area->splitLineGrabArea();
    QPoint const start = grab.center();
    QRectF const v = area->viewport();
    QTest::mousePress(area.get(), Qt::LeftButton, Qt::NoModifier, start);
    QMouseEvent move(QEvent::MouseMove, QPointF(v.x() + v.width() * 0.25, start.y()), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(area.get(), &move);
    QTest::mouseRelease(area.get(), Qt::LeftButton, Qt::NoModifier, QPoint(int(v.x() + v.width() * 0.25), start.y()));
    EXPECT_NEAR(area->splitLineRelPos(), 0.25, 0.01);
    area->closeAllFiles();
    area.reset();
    ASSERT_NE(ze::nox::gui::theApp(), nullptr);
    EXPECT_NEAR(ze::nox::gui::theApp()->settings()->getVericalSplitLineRelPos(), 0.25, 0.01);
    PB again;
    EXPECT_NEAR(again.splitLineRelPos(), 0.25, 0.01);
    ze::nox::gui::theApp()->settings()->saveVericalSplitLineRelPos(7.0);
    PB bad;
    EXPECT_DOUBLE_EQ(bad.splitLineRelPos(), 0.5) << "a stored value outside 0..1 is not used";
    area = std::make_unique<PB>();
}

TEST_F(PlaybackTest, PlaybackTimerStepsAndStops)
{
    struct Fps
    {
        int fps;
        int interval;
    };
    for (Fps c : {Fps{5, 200}, Fps{15, 66}, Fps{60, 16}, Fps{0, 16}}) {
        area->setTargetFps(c.fps);
        EXPECT_EQ(area->playbackInterval(), c.interval) << c.fps;
    }
    EXPECT_EQ(area->curFps(), 0);

    // Raw streams keep their current frame at the end: playback must still stop by itself.
    for (QString clip : {QStringLiteral("pb_ref_5f.y4m"), QStringLiteral("pb_avc_5f.h264")}) {
        auto dec = open(clip);
        ASSERT_TRUE(dec);
        area->setLeftDec(dec.get());
        area->showFirstFrame();
        QSignalSpy frames(area.get(), &PB::curFrameChanged);
        QSignalSpy paused(area.get(), &PB::playbackPaused);
        QSignalSpy started(area.get(), &PB::playbackStarted);
        area->play();
        area->play();
        EXPECT_EQ(started.count(), 2);
        ASSERT_TRUE(paused.wait(5000)) << clip.toStdString();
        EXPECT_FALSE(area->isPlaying());
        ASSERT_GE(frames.count(), 4);
        // One step per tick even after a second play().
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(frames.at(i).at(0).toInt(), i + 1) << clip.toStdString();
        area->setLeftDec(nullptr);
    }
}

TEST_F(PlaybackTest, DroppedFilesAreAnnouncedInOrder)
{
    // The toolkit routes drops only to the target of a running drag; the handler is called directly.
    struct DropTarget : PB
    {
        using PB::dropEvent;
    } target;
    QSignalSpy spy(&target, &PB::inputFilesDropped);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/tmp/a.y4m"), QUrl::fromLocalFile("/tmp/b.h264")});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    target.dropEvent(&drop);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toStringList(), (QStringList{"/tmp/a.y4m", "/tmp/b.h264"}));
}

// Pixels of the problem text's colour in a part of the grabbed area.
int ProblemTextPixels(QImage const& shot, QRect const& part)
{
    int n = 0;
    for (int y = part.top(); y <= part.bottom(); ++y)
        for (int x = part.left(); x <= part.right(); ++x) {
            QColor const c = shot.pixelColor(x, y);
            n += c.red() > 120 && c.green() < 70 && c.blue() < 70;
        }
    return n;
}

// A place whose stream gives no picture says why in its part, with the stream's name: a frame
// that cannot be decoded, a stream that has ended; the empty-project help is for empty places.
TEST_F(PlaybackTest, APlaceWithoutAPictureSaysWhy)
{
    auto ref = open("pb_ref_10f.y4m");
    auto shortDec = open("pb_avc_5f.h264");
    auto broken = std::make_unique<BrokenFromFrame>(open("pb_avc_10f.h264"), 3);
    ASSERT_TRUE(ref && shortDec);
    area->resize(600, 300);
    area->setLeftDec(broken.get());
    area->setRightDec(shortDec.get());
    area->setRefDec(ref.get());
    QSignalSpy changed(area.get(), &PB::problemsChanged);
    area->showFirstFrame();
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(area->problem(ze::nox::gui::PLAYBACK_ROLE_LEFT), QString());

    struct Case
    {
        int frame;
        char const* left;
        char const* right;
    } const cases[] = {
        {2, "", ""},
        {3, "cannot decode frame 3: Critical decoding error", ""},
        {7, "cannot decode frame 7: Critical decoding error", "ends at frame 4"},
        {0, "", ""},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.frame);
        area->showFrame(c.frame);
        EXPECT_EQ(area->problem(ze::nox::gui::PLAYBACK_ROLE_LEFT), QString::fromLatin1(c.left));
        EXPECT_EQ(area->problem(ze::nox::gui::PLAYBACK_ROLE_RIGHT), QString::fromLatin1(c.right));
        EXPECT_EQ(area->problemOf(shortDec.get()), QString::fromLatin1(c.right));
        EXPECT_EQ(area->problem(ze::nox::gui::PLAYBACK_ROLE_REFERENCE), QString());
        // The text is drawn in the part of the place it is about.
        QImage const shot = area->grab().toImage();
        if (*c.left)
            EXPECT_GT(ProblemTextPixels(shot, QRect(0, 0, shot.width() / 2 - 20, shot.height())), 0);
        if (*c.right)
            EXPECT_GT(ProblemTextPixels(shot, QRect(shot.width() / 2 + 20, 0, shot.width() / 2 - 20, shot.height())),
                      0);
    }
    EXPECT_EQ(changed.count(), 5); // left came, left's frame changed, right came, both went

    // In the difference views a missing picture is named the same way.
    area->showFrame(3);
    area->setViewMode(PB::VIEW_MODE_HEATMAP_DIFF);
    QImage const diff = area->grab().toImage();
    EXPECT_GT(ProblemTextPixels(diff, QRect(0, 0, diff.width() / 2 - 20, diff.height())), 0);

    // A place that is emptied has no problem any more.
    area->closeLeftFile();
    EXPECT_EQ(area->problem(ze::nox::gui::PLAYBACK_ROLE_LEFT), QString());
    EXPECT_EQ(area->problemOf(broken.get()), QString());
}

TEST_F(PlaybackTest, EmptyAreaDrawsAndZoomsWithoutPictures)
{
    PB tiny;
    tiny.resize(0, 0);
    tiny.zoomToWindowSize();
    tiny.zoomIn();
    EXPECT_FALSE(std::isnan(tiny.viewport().x()));
    area->showNextFrame();
    area->showPrevFrame();
    area->showLastFrame();
    EXPECT_FALSE(area->grab().isNull());
}

TEST(PlaybackStepper, OutcomesOfEachPlace)
{
    auto longDec = Open("pb_avc_10f.h264");
    auto shortDec = Open("pb_ref_5f.y4m");
    ASSERT_TRUE(longDec && shortDec);
    Frame left, right, ref;
    // The long stream is both left and reference.
    Stepper stepper({Stepper::Place{longDec.get(), &left}, Stepper::Place{shortDec.get(), &right},
                     Stepper::Place{longDec.get(), &ref}});
    using Outcomes = std::array<Stepper::Outcome, 3>;
    auto const all = [](Stepper::Outcome o) { return Outcomes{o, o, o}; };

    Stepper::Result r = stepper.first();
    EXPECT_EQ(r.outcomes, all(Stepper::DELIVERED));
    r = stepper.next();
    EXPECT_EQ(r.outcomes, all(Stepper::DELIVERED));
    EXPECT_EQ(longDec->curFrameNumber(), 1) << "a decoder in two places is stepped once";
    ASSERT_TRUE(ref.isValid());
    EXPECT_EQ(ref.pixel(10, 10).c0, left.pixel(10, 10).c0);
    EXPECT_NE(ref.avFrame(), left.avFrame()) << "the second place holds a reference of its own";

    // Beyond the short stream: it fails and its frame is emptied; the others deliver.
    r = stepper.frame(7);
    EXPECT_EQ(r.outcomes, (Outcomes{Stepper::DELIVERED, Stepper::FAILED, Stepper::DELIVERED}));
    EXPECT_TRUE(r.anyDelivered);
    EXPECT_FALSE(right.isValid());

    // Back one from 7: the short stream lies behind the target and has run out.
    r = stepper.previous();
    EXPECT_EQ(r.outcomes[1], Stepper::RAN_OUT);
    EXPECT_EQ(r.outcomes[0], Stepper::DELIVERED);
    EXPECT_EQ(longDec->curFrameNumber(), 6);

    // Last: the last frame of the shortest range, for everyone.
    r = stepper.last();
    EXPECT_EQ(r.outcomes, all(Stepper::DELIVERED));
    EXPECT_EQ(longDec->curFrameNumber(), 4);
    EXPECT_EQ(shortDec->curFrameNumber(), 4);

    // No decoders: nothing is stepped.
    Stepper none({});
    Stepper::Result const empty = none.next();
    EXPECT_FALSE(empty.anyStepped);
    EXPECT_FALSE(empty.anyDelivered);
    EXPECT_EQ(empty.outcomes, all(Stepper::NOT_STEPPED));
}
