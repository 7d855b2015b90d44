#include "picture/PlanePool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vvcpool {

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kHugeFrom = size_t(384) << 10;

struct Pool
{
    std::mutex mutex;
    std::deque<Plane> free; // oldest first
    size_t bytes = 0;
};

Pool& ThePool()
{
    static Pool* const pool = new Pool; // never destroyed: planes may be returned during exit
    return *pool;
}

} // namespace

size_t ReservedBytesFor(size_t samples)
{
    if (samples > std::numeric_limits<size_t>::max() / 4)
        return 0;
    size_t bytes = std::max<size_t>((samples * sizeof(uint16_t) + 31) / 32 * 32, 32);
#if defined(__linux__)
    // Under virtualisation every fresh 4 KiB page costs a fault of its own, many times the cost
    // per byte of a huge page's: picture-sized planes go on huge pages despite the rounding.
    if (bytes >= kHugeFrom)
        bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
#endif
    return bytes;
}

Plane::Plane(Plane const& o)
{
    Plane copy = TakePlane(o.m_size);
    if (!copy.empty())
        std::memcpy(copy.m_data, o.m_data, o.m_size * sizeof(uint16_t));
    swap(copy);
}

Plane& Plane::operator=(Plane const& o)
{
    if (this != &o) {
        Plane copy(o);
        swap(copy);
    }
    return *this;
}

Plane::~Plane()
{
    if (!m_data)
        return;
#if defined(__linux__)
    if (m_mapped) {
        munmap(m_data, m_reserved);
        return;
    }
#endif
    std::free(m_data);
}

void Plane::swap(Plane& o) noexcept
{
    std::swap(m_data, o.m_data);
    std::swap(m_size, o.m_size);
    std::swap(m_reserved, o.m_reserved);
    std::swap(m_mapped, o.m_mapped);
}

Plane TakePlane(size_t samples)
{
    Plane plane;
    size_t const reserved = ReservedBytesFor(samples);
    if (samples == 0 || reserved == 0)
        return plane;
    {
        Pool& pool = ThePool();
        std::lock_guard<std::mutex> lock(pool.mutex);
        auto const it = std::find_if(pool.free.begin(), pool.free.end(),
                                     [reserved](Plane const& p) { return p.reservedBytes() == reserved; });
        if (it != pool.free.end()) {
            pool.bytes -= reserved;
            plane = std::move(*it);
            pool.free.erase(it);
            plane.m_size = samples;
            return plane;
        }
    }
    void* p = nullptr;
#if defined(__linux__)
    if (reserved >= kHugePage) {
        // Mapped with a huge page of slack so that the plane starts on a huge-page boundary.
        void* map = mmap(nullptr, reserved + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            return plane;
        auto const base = reinterpret_cast<uintptr_t>(map);
        uintptr_t const start = (base + kHugePage - 1) / kHugePage * kHugePage;
        if (start > base)
            munmap(map, start - base);
        if (size_t const tail = base + kHugePage - start)
            munmap(reinterpret_cast<void*>(start + reserved), tail);
        p = reinterpret_cast<void*>(start);
        madvise(p, reserved, MADV_HUGEPAGE); // a hint: without huge pages the plane works the same
        plane.m_mapped = true;
    }
#endif
    if (!p)
        p = std::aligned_alloc(32, reserved);
    if (!p)
        return plane;
    plane.m_data = static_cast<uint16_t*>(p);
    plane.m_size = samples;
    plane.m_reserved = reserved;
    return plane;
}

void ReturnPlane(Plane&& plane)
{
    Plane given = std::move(plane);
    if (given.empty())
        return;
    std::vector<Plane> dropped; // freed outside the lock
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.bytes += given.reservedBytes();
    pool.free.push_back(std::move(given));
    while (pool.bytes > kMaxFreeBytes) {
        pool.bytes -= pool.free.front().reservedBytes();
        dropped.push_back(std::move(pool.free.front()));
        pool.free.pop_front();
    }
}

void ReleaseFreePlanes()
{
    std::deque<Plane> dropped; // freed after the lock is released
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
