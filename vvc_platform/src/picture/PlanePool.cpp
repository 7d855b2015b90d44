#include "picture/PlanePool.h"

#include <deque>
#include <mutex>

namespace vvcpool {

namespace {

struct Pool
{
    std::mutex mutex;
    std::deque<std::vector<uint16_t>> free; // oldest first
    size_t bytes = 0;
};

Pool& ThePool()
{
    static Pool* const pool = new Pool; // never destroyed: planes may be returned during exit
    return *pool;
}

size_t BytesOf(std::vector<uint16_t> const& plane)
{
    return plane.capacity() * sizeof(uint16_t);
}

} // namespace

std::vector<uint16_t> TakePlane(size_t samples)
{
    std::vector<uint16_t> plane;
    if (samples > 0) {
        Pool& pool = ThePool();
        std::lock_guard<std::mutex> lock(pool.mutex);
        // The smallest free plane that holds the samples without wasting more than a quarter.
        auto best = pool.free.end();
        for (auto it = pool.free.begin(); it != pool.free.end(); ++it)
            if (it->capacity() >= samples && it->capacity() - samples <= samples / 4 &&
                (best == pool.free.end() || it->capacity() < best->capacity()))
                best = it;
        if (best != pool.free.end()) {
            pool.bytes -= BytesOf(*best);
            plane = std::move(*best);
            pool.free.erase(best);
        }
    }
    plane.resize(samples);
    return plane;
}

void ReturnPlane(std::vector<uint16_t>&& plane)
{
    if (plane.capacity() == 0)
        return;
    std::vector<std::vector<uint16_t>> dropped; // freed outside the lock
    {
        Pool& pool = ThePool();
        std::lock_guard<std::mutex> lock(pool.mutex);
        pool.bytes += BytesOf(plane);
        pool.free.push_back(std::move(plane));
        while (pool.bytes > kMaxFreeBytes) {
            pool.bytes -= BytesOf(pool.free.front());
            dropped.push_back(std::move(pool.free.front()));
            pool.free.pop_front();
        }
    }
    plane = std::vector<uint16_t>();
}

void ReleaseFreePlanes()
{
    std::deque<std::vector<uint16_t>> dropped; // freed after the lock is released
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    dropped.swap(pool.free);
    pool.bytes = 0;
}

size_t FreePlaneBytes()
{
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    return pool.bytes;
}

} // namespace vvcpool
