#include "util/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace vvcutil {
namespace {

// Upper bound of the thread count: a bad environment value must not start thousands of threads.
constexpr int kMaxThreads = 256;

std::atomic<int> gThreads{0}; // set by SetDecodingThreads, 0 for the default

int DefaultThreads()
{
    static int const sDefault = [] {
        if (char const* env = std::getenv("SERAVIN_VVC_THREADS")) {
            char* end = nullptr;
            long const n = std::strtol(env, &end, 10);
            if (end != env && *end == '\0' && n >= 1)
                return int(std::min<long>(n, kMaxThreads));
        }
        return int(std::max(1u, std::min(std::thread::hardware_concurrency(), unsigned(kMaxThreads))));
    }();
    return sDefault;
}

} // namespace

struct Job
{
    std::function<void(int)> const* body = nullptr;
    int count = 0;
    int maxHelpers = 0;       // workers that may join the caller
    std::atomic<int> next{0}; // the next item to run
    int helpers = 0;          // workers running items of the job (under the pool's lock)
    std::mutex errorLock;
    std::exception_ptr error; // of the lowest item that threw
    int errorItem = INT_MAX;

    void runItems()
    {
        for (int i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) {
            try {
                (*body)(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(errorLock);
                if (i < errorItem) {
                    errorItem = i;
                    error = std::current_exception();
                }
            }
        }
    }
    bool wantsHelper() const { return next.load(std::memory_order_relaxed) < count && helpers < maxHelpers; }
};

namespace {

class Pool
{
public:
    void run(int count, int threads, std::function<void(int)> const& body)
    {
        Job job;
        job.body = &body;
        job.count = count;
        post(job, std::min(threads, count) - 1);
        finish(job);
    }

    // Offers the job's items to up to `helpers` workers.
    void post(Job& job, int helpers)
    {
        job.maxHelpers = helpers;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            while (int(m_workers.size()) < helpers)
                m_workers.emplace_back([this] { work(); });
            m_jobs.push_back(&job);
        }
        m_wake.notify_all();
    }

    // Runs `work` on a worker once one is free; at least `threads` - 1 workers exist.
    void detach(std::function<void()> task, int threads)
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            while (int(m_workers.size()) < threads - 1)
                m_workers.emplace_back([this] { work(); });
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_one();
    }

    // A thread waits for work of other threads: while it does, one more worker may take detached
    // work (up to twice the thread count in all), so that blocked threads do not leave the cores
    // idle while pictures wait to be decoded.
    void blockBegin(int threads)
    {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            ++m_blocked;
            if (!m_tasks.empty()) {
                if (m_idleWorkers == 0 && int(m_workers.size()) < std::min(threads - 1 + m_blocked, 2 * threads))
                    m_workers.emplace_back([this] { work(); });
                wake = true;
            }
        }
        if (wake)
            m_wake.notify_one();
    }
    void blockEnd()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        --m_blocked;
    }

    // Runs the items no worker has taken, waits for those that have, and throws what an item threw.
    void finish(Job& job)
    {
        job.runItems();
        {
            // Every item has been taken; wait for the workers still running one.
            std::unique_lock<std::mutex> lock(m_lock);
            m_jobs.erase(std::find(m_jobs.begin(), m_jobs.end(), &job));
            m_idle.wait(lock, [&] { return job.helpers == 0; });
        }
        if (job.error)
            std::rethrow_exception(job.error);
    }

private:
    void work()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        for (;;) {
            Job* job = nullptr;
            // Items of running jobs first (they finish work already under way), then detached work.
            ++m_idleWorkers;
            m_wake.wait(lock, [&] {
                auto const it = std::find_if(m_jobs.begin(), m_jobs.end(), [](Job* j) { return j->wantsHelper(); });
                job = it == m_jobs.end() ? nullptr : *it;
                return job != nullptr || !m_tasks.empty();
            });
            --m_idleWorkers;
            if (!job) {
                std::function<void()> const task = std::move(m_tasks.front());
                m_tasks.pop_front();
                lock.unlock();
                task(); // does not throw: SharedTask keeps what its work threw
                lock.lock();
                continue;
            }
            ++job->helpers;
            lock.unlock();
            job->runItems();
            lock.lock();
            if (--job->helpers == 0)
                m_idle.notify_all();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake, m_idle;
    std::deque<Job*> m_jobs; // jobs whose caller has not returned, oldest first
    std::deque<std::function<void()>> m_tasks; // detached work not taken yet, oldest first
    std::vector<std::thread> m_workers;
    int m_blocked = 0;     // threads waiting in a BlockedScope
    int m_idleWorkers = 0; // workers waiting for work
};

Pool& ThePool()
{
    // Never destroyed: workers may still wait on it while the process exits.
    static Pool* const sPool = new Pool;
    return *sPool;
}

} // namespace

void SetDecodingThreads(int threads)
{
    gThreads.store(std::max(0, std::min(threads, kMaxThreads)));
}

int DecodingThreads()
{
    int const n = gThreads.load();
    return n > 0 ? n : DefaultThreads();
}

size_t KeptPictureBuffers()
{
    return 2 * size_t(std::max(1, DecodingThreads())) + 2;
}

BlockedScope::BlockedScope()
{
    int const threads = DecodingThreads();
    if (threads > 1)
        ThePool().blockBegin(threads);
    m_counted = threads > 1;
}

BlockedScope::~BlockedScope()
{
    if (m_counted)
        ThePool().blockEnd();
}

void ParallelFor(int count, std::function<void(int)> const& body)
{
    if (count <= 0)
        return;
    int const threads = DecodingThreads();
    if (threads <= 1 || count == 1) {
        for (int i = 0; i < count; ++i)
            body(i);
        return;
    }
    ThePool().run(count, threads, body);
}

struct Task::State
{
    std::function<void()> work;
    std::function<void(int)> item;
    Job job;
};

Task::Task() = default;

Task::~Task()
{
    try {
        wait();
    } catch (...) {
        // Nobody is left to tell.
    }
}

void Task::start(std::function<void()> work)
{
    wait();
    if (DecodingThreads() <= 1) {
        work();
        return;
    }
    m_state = std::make_unique<State>();
    m_state->work = std::move(work);
    State* const s = m_state.get();
    s->item = [s](int) { s->work(); };
    m_state->job.body = &m_state->item;
    m_state->job.count = 1;
    ThePool().post(m_state->job, 1);
}

void Task::wait()
{
    if (!m_state)
        return;
    std::unique_ptr<State> const state = std::move(m_state);
    // The work runs here when no worker has taken it yet.
    ThePool().finish(state->job);
}

struct SharedTask::State
{
    std::function<void()> work;
    std::atomic<int> phase{0}; // 0 not started, 1 running, 2 done
    std::mutex lock;
    std::condition_variable doneCv;
    std::exception_ptr error;
};

SharedTask::SharedTask(std::unique_ptr<State> state) : m_state(std::move(state)) {}

SharedTask::~SharedTask() = default;

std::shared_ptr<SharedTask> SharedTask::Start(std::function<void()> work)
{
    auto state = std::make_unique<State>();
    state->work = std::move(work);
    auto task = std::make_shared<SharedTask>(std::move(state));
    int const threads = DecodingThreads();
    if (threads <= 1) {
        task->tryRun();
        return task;
    }
    // The pool holds the task until a worker has looked at it.
    ThePool().detach([task] { task->tryRun(); }, threads);
    return task;
}

void SharedTask::tryRun()
{
    State& s = *m_state;
    int expected = 0;
    if (!s.phase.compare_exchange_strong(expected, 1, std::memory_order_acq_rel))
        return;
    std::exception_ptr error;
    try {
        s.work();
    } catch (...) {
        error = std::current_exception();
    }
    s.work = nullptr; // what it captured goes now, not with the last holder of the task
    {
        std::lock_guard<std::mutex> lock(s.lock);
        s.error = error;
        s.phase.store(2, std::memory_order_release);
    }
    s.doneCv.notify_all();
}

bool SharedTask::done() const
{
    return m_state->phase.load(std::memory_order_acquire) == 2;
}

void SharedTask::wait()
{
    tryRun();
    State& s = *m_state;
    if (s.phase.load(std::memory_order_acquire) != 2) {
        BlockedScope const blocked;
        std::unique_lock<std::mutex> lock(s.lock);
        s.doneCv.wait(lock, [&] { return s.phase.load(std::memory_order_acquire) == 2; });
    }
    std::unique_lock<std::mutex> lock(s.lock);
    if (s.error)
        std::rethrow_exception(s.error);
}

} // namespace vvcutil
