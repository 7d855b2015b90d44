#include "display/ThreadConverter.h"

#include <Qt>

ThreadConverter::ThreadConverter()
{
    m_thread = std::thread(&ThreadConverter::thread_func, this);
}

ThreadConverter::~ThreadConverter()
{
    stopWorker();
    clear();
}

void ThreadConverter::stopWorker()
{
    {
        // Set under the queue lock so the worker cannot miss the wake-up between its check and its wait.
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_stop = true;
    }
    m_cond.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool ThreadConverter::isTaskExist(ImageType<short> const* image) const
{
    void const* data = image->m_planes[0].data;
    for (Task const& t : m_tasks)
        if (t.image.m_planes[0].data == data)
            return true;
    return false;
}

void ThreadConverter::convertWithScale(ImageType<short> const* image, QImage& target, QSize size)
{
    if (image == nullptr || m_stop)
        return;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_stop || isTaskExist(image))
            return;
        if (m_tasks.size() > 7)
            m_tasks.pop_front();
        m_tasks.emplace_front(*image, &target, size);
        m_count = static_cast<int>(m_tasks.size());
    }
    m_cond.notify_all();
}

void ThreadConverter::clear()
{
    std::lock_guard<std::mutex> run(m_runMutex);
    std::lock_guard<std::mutex> queue(m_queueMutex);
    m_tasks.clear();
    m_count = 0;
}

void ThreadConverter::close()
{
    stopWorker();
    clear();
}

void ThreadConverter::init()
{
    m_stop = false;
}

void ThreadConverter::run()
{
    std::lock_guard<std::mutex> runLock(m_runMutex);
    Task* task = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_count == 0 || m_tasks.empty())
            return;
        // Only this thread removes the back task, and the front is dropped only with 8 queued, so
        // the reference stays valid while the queue lock is released.
        task = &m_tasks.back();
    }
    ImageBase::Plane const& p0 = task->image.m_planes[0];
    QImage image = Util::getImg(0, &task->image, p0.width - p0.crop.right, p0.height - p0.crop.bottom, false, 0);
    if (m_stop)
        return; // the task stays queued for clear()
    if (!image.isNull() && task->target != nullptr)
        *task->target = image.scaled(task->size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    std::lock_guard<std::mutex> lock(m_queueMutex);
    if (m_count != 0 && !m_tasks.empty()) {
        m_tasks.pop_back();
        m_count = static_cast<int>(m_tasks.size());
    }
}

void ThreadConverter::thread_func()
{
    while (!m_stop) {
        bool pending = false;
        {
            std::unique_lock<std::mutex> lock(m_queueMutex);
            if (!m_stop)
                m_cond.wait(lock, [this] { return m_count >= 1 || m_stop; });
            pending = !m_tasks.empty();
        }
        if (pending && !m_stop)
            run();
        std::this_thread::yield();
    }
}
