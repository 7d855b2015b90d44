// The process-wide worker pool: every item runs exactly once whatever the thread count, calls
// from several threads at once and from inside an item share the workers, and an exception
// reaches the caller as a run in order would meet it.

#include "util/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// Restores the default thread count when a test ends.
struct Threads
{
    explicit Threads(int n) { vvcutil::SetDecodingThreads(n); }
    ~Threads() { vvcutil::SetDecodingThreads(0); }
};

} // namespace

TEST(VvcWorkerPool, EveryItemRunsOnceWithAnyThreadCount)
{
    for (int threads : {1, 2, 8, 33}) {
        Threads const use(threads);
        EXPECT_EQ(vvcutil::DecodingThreads(), threads);
        for (int count : {0, 1, 7, 1000}) {
            std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
            std::set<std::thread::id> ids;
            std::mutex idsLock;
            vvcutil::ParallelFor(count, [&](int i) {
                runs[size_t(i)].fetch_add(1);
                std::lock_guard<std::mutex> lock(idsLock);
                ids.insert(std::this_thread::get_id());
            });
            for (int i = 0; i < count; ++i)
                EXPECT_EQ(runs[size_t(i)].load(), 1) << threads << " threads, item " << i << " of " << count;
            EXPECT_LE(int(ids.size()), threads);
            if (threads == 1 && count > 0)
                EXPECT_EQ(*ids.begin(), std::this_thread::get_id()) << "one thread runs on the caller";
        }
    }
}

TEST(VvcWorkerPool, CallersOnSeveralThreadsAndNestedCallsShareTheWorkers)
{
    Threads const use(4);
    // Four decoders at once, each with items that split their work again.
    std::vector<long> sums(4, 0);
    std::vector<std::thread> callers;
    for (int k = 0; k < 4; ++k)
        callers.emplace_back([&sums, k] {
            std::vector<long> partial(50, 0);
            vvcutil::ParallelFor(50, [&](int i) {
                std::vector<long> inner(20, 0);
                vvcutil::ParallelFor(20, [&](int j) { inner[size_t(j)] = long(k) * 1000 + i * 20 + j; });
                for (long v : inner)
                    partial[size_t(i)] += v;
            });
            for (long v : partial)
                sums[size_t(k)] += v;
        });
    for (auto& t : callers)
        t.join();
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(sums[size_t(k)], long(k) * 1000 * 1000 + 999 * 1000 / 2) << "caller " << k;
}

TEST(VvcWorkerPool, TheLowestItemsExceptionReachesTheCaller)
{
    for (int threads : {1, 8}) {
        Threads const use(threads);
        std::atomic<int> ran{0};
        try {
            vvcutil::ParallelFor(64, [&](int i) {
                ran.fetch_add(1);
                if (i == 9 || i == 40)
                    throw std::runtime_error("item " + std::to_string(i));
            });
            ADD_FAILURE() << "no exception with " << threads << " threads";
        } catch (std::runtime_error const& e) {
            EXPECT_STREQ(e.what(), "item 9") << threads << " threads";
        }
        // The pool is usable afterwards.
        std::atomic<int> after{0};
        vvcutil::ParallelFor(16, [&](int) { after.fetch_add(1); });
        EXPECT_EQ(after.load(), 16);
    }
}

TEST(VvcWorkerPool, ThreadCountIsBounded)
{
    Threads const use(100000);
    EXPECT_EQ(vvcutil::DecodingThreads(), 256);
    vvcutil::SetDecodingThreads(-3);
    EXPECT_GE(vvcutil::DecodingThreads(), 1) << "back to the default";
}

TEST(VvcWorkerPool, TaskRunsBesideItsOwnerAndIsWaitedFor)
{
    for (int threads : {1, 4}) {
        Threads const use(threads);
        std::vector<int> order;
        {
            vvcutil::Task task;
            EXPECT_FALSE(task.running());
            for (int k = 0; k < 5; ++k) {
                // Each start waits for the work before: the works run one after the other, in order.
                task.start([&order, k] {
                    std::vector<int> squares(100);
                    vvcutil::ParallelFor(100, [&](int i) { squares[size_t(i)] = i * i; });
                    order.push_back(k + squares[99]);
                });
                EXPECT_EQ(task.running(), threads > 1);
            }
            task.wait();
            EXPECT_FALSE(task.running());
            EXPECT_EQ(order, std::vector<int>({9801, 9802, 9803, 9804, 9805})) << threads << " threads";
            task.start([&order] { order.push_back(-1); });
        } // the destructor waits
        EXPECT_EQ(order.back(), -1) << threads << " threads";

        vvcutil::Task failing;
        bool thrown = false;
        try {
            failing.start([] { throw std::runtime_error("work failed"); });
            failing.wait();
        } catch (std::runtime_error const& e) {
            thrown = true;
            EXPECT_STREQ(e.what(), "work failed");
        }
        EXPECT_TRUE(thrown) << threads << " threads";
        EXPECT_FALSE(failing.running());
    }
}

TEST(VvcWorkerPool, SharedTasksRunOnceAfterWhatTheyWaitFor)
{
    for (int threads : {1, 4}) {
        Threads const use(threads);
        // A chain of pictures, each waiting for the one before, waited for from several threads.
        std::mutex lock;
        std::vector<int> order;
        std::vector<std::atomic<int>> runs(24);
        std::vector<std::shared_ptr<vvcutil::SharedTask>> tasks;
        for (int k = 0; k < 24; ++k) {
            std::shared_ptr<vvcutil::SharedTask> const before = k ? tasks.back() : nullptr;
            tasks.push_back(vvcutil::SharedTask::Start([&, before, k] {
                if (before)
                    before->wait();
                runs[size_t(k)].fetch_add(1);
                std::lock_guard<std::mutex> guard(lock);
                order.push_back(k);
            }));
        }
        std::vector<std::thread> waiters;
        for (int w = 0; w < 3; ++w)
            waiters.emplace_back([&tasks, w] {
                for (size_t k = size_t(w); k < tasks.size(); k += 3)
                    tasks[k]->wait();
            });
        tasks.back()->wait();
        for (auto& t : waiters)
            t.join();
        std::vector<int> expected(24);
        for (int k = 0; k < 24; ++k) {
            expected[size_t(k)] = k;
            EXPECT_EQ(runs[size_t(k)].load(), 1) << threads << " threads, task " << k;
            EXPECT_TRUE(tasks[size_t(k)]->done());
        }
        EXPECT_EQ(order, expected) << threads << " threads";

        // What the work threw reaches every waiter.
        auto const failing = vvcutil::SharedTask::Start([] { throw std::runtime_error("picture failed"); });
        for (int w = 0; w < 2; ++w) {
            try {
                failing->wait();
                ADD_FAILURE() << "no exception with " << threads << " threads";
            } catch (std::runtime_error const& e) {
                EXPECT_STREQ(e.what(), "picture failed");
            }
        }
    }
}

TEST(VvcWorkerPool, WaitingForASharedTaskNeedsNoFreeWorker)
{
    Threads const use(2);
    std::mutex lock;
    std::condition_variable cv;
    bool release = false;
    // More blocked tasks ahead of it than the pool can ever have workers: none is free for it.
    std::vector<std::shared_ptr<vvcutil::SharedTask>> blockers;
    for (int k = 0; k < 300; ++k)
        blockers.push_back(vvcutil::SharedTask::Start([&] {
            std::unique_lock<std::mutex> guard(lock);
            cv.wait(guard, [&] { return release; });
        }));
    std::atomic<bool> ran{false};
    auto const task = vvcutil::SharedTask::Start([&ran] { ran = true; });
    task->wait(); // returns while every worker is held by a blocker
    EXPECT_TRUE(ran.load());
    EXPECT_TRUE(task->done());
    EXPECT_FALSE(blockers.back()->done());
    {
        std::lock_guard<std::mutex> guard(lock);
        release = true;
    }
    cv.notify_all();
    for (auto const& b : blockers)
        b->wait();
}
