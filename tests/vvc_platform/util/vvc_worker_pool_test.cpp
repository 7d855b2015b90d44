// The process-wide worker pool: every item runs exactly once whatever the thread count, calls
// from several threads at once and from inside an item share the workers, and an exception
// reaches the caller as a run in order would meet it.

#include "util/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
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
