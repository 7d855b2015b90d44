#pragma once

#include <cstddef>
#include <functional>
#include <memory>

// One pool of worker threads for the whole process, shared by every decoder in it: several
// decoders running at once (the playback of several streams, a metric run) share the same
// workers instead of each bringing its own, so the machine is never oversubscribed.
//
// The thread count is the number of threads one ParallelFor may use, the caller included: the
// machine's logical cores unless SERAVIN_VVC_THREADS (read once, at the first use) or
// SetDecodingThreads() says otherwise. 1 runs everything on the calling thread.
namespace vvcutil {

// Sets the thread count (1 or more; 0 returns to the default). Takes effect for the ParallelFor
// calls that start after it.
void SetDecodingThreads(int threads);
int DecodingThreads();
// How many free picture-sized buffers of one kind a decoder pool keeps: more than the pictures
// that may be in flight, so that none of them needs fresh memory.
size_t KeptPictureBuffers();

// Runs body(i) for every i in [0, count) on the calling thread and the pool's workers, and
// returns when all have run. Items must be independent of each other. An exception thrown by an
// item is thrown here once the others have run: that of the lowest item that threw, the one a run
// in order on one thread would meet first. May be called from inside an item.
void ParallelFor(int count, std::function<void(int)> const& body);

// The calling thread waits for work of other threads while it lives: meanwhile one more worker may
// take work waiting to start, so that the threads that run stay as many as the thread count (the
// pool then holds up to twice that many threads, most of them idle).
class BlockedScope
{
public:
    BlockedScope();
    ~BlockedScope();
    BlockedScope(BlockedScope const&) = delete;
    BlockedScope& operator=(BlockedScope const&) = delete;

private:
    bool m_counted = false;
};

// Work that runs on a worker while its owner goes on. With one thread it runs at once, in start(),
// which then throws what it threw.
class Task
{
public:
    Task();
    ~Task(); // waits
    Task(Task const&) = delete;
    Task& operator=(Task const&) = delete;

    // Waits for the work started before, then starts `work`.
    void start(std::function<void()> work);
    // Returns once the work has run (running it on this thread when no worker has taken it yet),
    // throwing what it threw.
    void wait();
    bool running() const { return m_state != nullptr; }

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Work that several threads may wait for, run once: on a worker, or on the first thread that waits
// for it before a worker has taken it (so a wait never depends on a free worker). With one thread
// it runs at once, in Start().
class SharedTask
{
public:
    static std::shared_ptr<SharedTask> Start(std::function<void()> work);
    // Returns once the work has run, throwing what it threw (to every waiter).
    void wait();
    bool done() const;
    // Runs the work here unless it has started elsewhere (then returns at once).
    void tryRun();

    struct State;
    explicit SharedTask(std::unique_ptr<State> state);
    ~SharedTask();

private:
    std::unique_ptr<State> m_state;
};

} // namespace vvcutil
