#pragma once

#include "raw/Util.h"

#include <QImage>
#include <QSize>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// Converts pictures into scaled display images on a worker thread of its own. New tasks go to
// the front of the queue, the worker takes the oldest from the back; at most 8 are queued.
class ThreadConverter
{
public:
    struct Task
    {
        Task(ImageType<short> const& picture, QImage* t, QSize s) : image(picture), target(t), size(s) {}
        ImageType<short> image; // the task's own copy of the requested picture
        QImage* target;
        QSize size;
    };

    ThreadConverter();
    virtual ~ThreadConverter();
    ThreadConverter(ThreadConverter const&) = delete;
    ThreadConverter& operator=(ThreadConverter const&) = delete;

    // Queues a conversion of `image` whose result the worker assigns to `target`, scaled into
    // `size` keeping the aspect ratio. The caller keeps `target` alive and leaves it alone until
    // it is filled, and does not re-allocate `image` during this call.
    void convertWithScale(ImageType<short> const* image, QImage& target, QSize size);
    // Destroys every queued task (waits for the task being converted).
    void clear();
    // Stops and joins the worker, then clears the queue.
    void close();
    // Clears the stop flag; the worker is not started again.
    void init();

protected:
    // Called with m_queueMutex held.
    bool isTaskExist(ImageType<short> const* image) const;
    void run();
    void thread_func();
    void stopWorker();

    std::deque<Task> m_tasks;
    std::mutex m_queueMutex;
    std::mutex m_runMutex;
    std::atomic<bool> m_stop{false};
    std::condition_variable m_cond;
    std::atomic<int> m_count{0};
    std::thread m_thread;
};
