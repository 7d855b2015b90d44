// The converter thread: queue bounds and order, stopping with work queued, scaling, and that
// no mutex stays held.
#include "display/ThreadConverter.h"
#include "raw/Util.h"

#include <QImage>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Gives the tests the worker's locks and queue.
class ProbedConverter : public ThreadConverter
{
public:
    using ThreadConverter::m_count;
    using ThreadConverter::m_queueMutex;
    using ThreadConverter::m_runMutex;
    using ThreadConverter::m_stop;
    using ThreadConverter::m_tasks;

    // Widths of the queued pictures from front (newest) to back (oldest).
    std::vector<int> queuedWidths()
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        std::vector<int> w;
        for (Task const& t : m_tasks)
            w.push_back(t.image.m_planes[0].width);
        return w;
    }

    bool locksFree()
    {
        bool const run = m_runMutex.try_lock();
        if (run)
            m_runMutex.unlock();
        bool const queue = m_queueMutex.try_lock();
        if (queue)
            m_queueMutex.unlock();
        return run && queue;
    }
};

std::unique_ptr<ImageType<short>> Picture(int w, int h)
{
    auto pic = std::make_unique<ImageType<short>>();
    pic->allocate(w, h, 8, 8, ImageInfo::IMG_420, CropInfo{}, ImageInfo::FRAME);
    pic->setZero();
    return pic;
}

template <typename F>
bool WaitFor(F done)
{
    for (int i = 0; i < 2000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

} // namespace

TEST(ThreadConverter, KeepsTheOldestSevenAndTheNewest)
{
    ProbedConverter conv;
    std::vector<std::unique_ptr<ImageType<short>>> pics;
    std::vector<QImage> targets(10);
    {
        std::lock_guard<std::mutex> busy(conv.m_runMutex); // the worker cannot start a task
        for (int i = 0; i < 10; ++i) {
            pics.push_back(Picture(16 + 2 * i, 16));
            conv.convertWithScale(pics.back().get(), targets[size_t(i)], QSize(64, 64));
        }
        EXPECT_EQ(conv.m_count.load(), 8);
        EXPECT_EQ(conv.queuedWidths(), (std::vector<int>{34, 28, 26, 24, 22, 20, 18, 16}));
    }
    ASSERT_TRUE(WaitFor([&] { return conv.m_count.load() == 0; }));
    for (int i = 0; i < 10; ++i) {
        bool const dropped = i == 7 || i == 8;
        EXPECT_EQ(targets[size_t(i)].isNull(), dropped) << "request " << i;
    }
    EXPECT_TRUE(conv.locksFree());
}

TEST(ThreadConverter, ScalesIntoTheRequestedSize)
{
    ProbedConverter conv;
    auto pic = Picture(320, 240);
    QImage target;
    conv.convertWithScale(pic.get(), target, QSize(160, 160));
    ASSERT_TRUE(WaitFor([&] { return conv.m_count.load() == 0; }));
    EXPECT_EQ(target.size(), QSize(160, 120));

    // A picture without samples gives no image; its task is still removed.
    ImageType<short> empty;
    QImage untouched;
    conv.convertWithScale(&empty, untouched, QSize(10, 10));
    ASSERT_TRUE(WaitFor([&] { return conv.m_count.load() == 0; }));
    EXPECT_TRUE(untouched.isNull());
    EXPECT_TRUE(conv.locksFree());
}

TEST(ThreadConverter, StopWithTasksQueuedAssignsNothing)
{
    ProbedConverter conv;
    std::vector<std::unique_ptr<ImageType<short>>> pics;
    std::vector<QImage> targets(3);
    conv.m_runMutex.lock();
    for (int i = 0; i < 3; ++i) {
        pics.push_back(Picture(64, 32));
        conv.convertWithScale(pics.back().get(), targets[size_t(i)], QSize(32, 32));
    }
    std::thread closer([&] { conv.close(); });
    ASSERT_TRUE(WaitFor([&] { return conv.m_stop.load(); }));
    conv.m_runMutex.unlock(); // the worker may now take its task, and must see the stop
    closer.join();
    for (QImage const& t : targets)
        EXPECT_TRUE(t.isNull());
    EXPECT_EQ(conv.m_count.load(), 0);
    EXPECT_TRUE(conv.queuedWidths().empty());
    EXPECT_TRUE(conv.locksFree());

    // Requests after the stop, and null pictures, are ignored; init does not start a worker.
    QImage later;
    conv.convertWithScale(pics[0].get(), later, QSize(8, 8));
    EXPECT_EQ(conv.m_count.load(), 0);
    conv.init();
    conv.convertWithScale(nullptr, later, QSize(8, 8));
    EXPECT_EQ(conv.m_count.load(), 0);
    conv.convertWithScale(pics[0].get(), later, QSize(8, 8));
    EXPECT_EQ(conv.m_count.load(), 1);
    conv.clear();
    EXPECT_EQ(conv.m_count.load(), 0);
}

TEST(ThreadConverter, DestructionReturnsWithWorkQueued)
{
    std::vector<std::unique_ptr<ImageType<short>>> pics;
    std::vector<QImage> targets(8);
    {
        auto conv = std::make_unique<ProbedConverter>();
        for (int i = 0; i < 8; ++i) {
            pics.push_back(Picture(256, 256));
            conv->convertWithScale(pics.back().get(), targets[size_t(i)], QSize(16, 16));
        }
        conv.reset(); // joins the worker and destroys what is still queued
    }
    SUCCEED();
}

TEST(ThreadConverter, StaticConverterIsRunning)
{
    // The queue length of the static converter, read through the probe's public name.
    std::atomic<int> ThreadConverter::*const count = &ProbedConverter::m_count;
    auto pic = Picture(40, 20);
    QImage target;
    Util::converter.convertWithScale(pic.get(), target, QSize(20, 20));
    ASSERT_TRUE(WaitFor([&] { return (Util::converter.*count).load() == 0; }));
    EXPECT_EQ(target.size(), QSize(20, 10));
}
