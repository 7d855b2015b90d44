// Progress of a picture being decoded as later pictures wait for its rows: a wait returns once the
// rows are final or the picture is finished (failed too), and a picture no worker has taken yet is
// decoded by the thread that waits for it, so that waits never need a free worker.

#include "picture/Picture.h"
#include "util/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

TEST(VvcRowProgress, WaitsReturnOnceTheRowsAreFinalOrThePictureIsFinished)
{
    RowProgress fresh;
    EXPECT_TRUE(fresh.complete()); // pictures not decoded row by row wait for nothing
    fresh.waitFor(INT_MAX);
    EXPECT_FALSE(fresh.failed());

    for (bool fails : {false, true}) {
        RowProgress p;
        p.begin();
        EXPECT_FALSE(p.complete());
        std::atomic<int> reached{0};
        std::thread waiter([&] {
            p.waitFor(64);
            reached = 1;
            p.waitFor(INT_MAX - 1);
            reached = 2;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(reached.load(), 0);
        p.publish(32);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(reached.load(), 0);
        p.publish(128);
        p.publish(64); // progress only grows
        while (reached.load() < 1)
            std::this_thread::yield();
        p.waitFor(128);
        p.finish(fails);
        waiter.join();
        EXPECT_EQ(reached.load(), 2);
        EXPECT_TRUE(p.complete());
        EXPECT_EQ(p.failed(), fails);
    }
}

TEST(VvcRowProgress, AWaitDecodesAPictureNoWorkerHasTaken)
{
    // More tasks than workers hold every worker; the picture's own task, queued behind them,
    // must then run on the thread that waits for its rows.
    vvcutil::SetDecodingThreads(4);
    RowProgress p;
    p.begin();
    std::atomic<bool> release{false};
    std::vector<std::shared_ptr<vvcutil::SharedTask>> holders;
    for (int i = 0; i < 32; ++i)
        holders.push_back(vvcutil::SharedTask::Start([&] {
            while (!release.load())
                std::this_thread::yield();
        }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    auto const decode = vvcutil::SharedTask::Start([&] {
        p.publish(16);
        p.finish(false);
    });
    p.setTask(decode);
    p.waitFor(16);
    EXPECT_TRUE(decode->done());
    release = true;
    for (auto const& h : holders)
        h->wait();
    decode->wait();
    EXPECT_TRUE(p.complete());
    vvcutil::SetDecodingThreads(0);
}
