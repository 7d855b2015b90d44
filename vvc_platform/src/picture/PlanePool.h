#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

// Sample planes of pictures, reused. Every picture makes and drops several picture-sized planes
// (the reconstruction, the output of a loop filter, the padded copy kept for reference); taking
// them from here spares the allocation and the page faults of fresh memory each time.
// Process-wide and thread-safe. Free planes are kept up to kMaxFreeBytes (the oldest leave
// first) and all of them leave with ReleaseFreePlanes(), which a decoder calls when it closes.
namespace vvcpool {

constexpr size_t kMaxFreeBytes = size_t(256) << 20;

// The memory of one plane: samples 32-byte aligned; from 384 KiB on whole huge pages where the
// system offers them (a fresh picture-sized plane then costs a few page faults, not hundreds).
// Moving it moves the memory (the source is empty after); copying it copies the samples into a
// plane of the pool.
class Plane
{
public:
    Plane() = default;
    Plane(Plane&& o) noexcept { swap(o); }
    Plane& operator=(Plane&& o) noexcept
    {
        Plane taken(std::move(o));
        swap(taken);
        return *this;
    }
    Plane(Plane const& o);
    Plane& operator=(Plane const& o);
    ~Plane();

    bool empty() const { return m_size == 0; }
    size_t size() const { return m_size; } // samples
    size_t reservedBytes() const { return m_reserved; }
    uint16_t* data() { return m_data; }
    uint16_t const* data() const { return m_data; }
    uint16_t* begin() { return m_data; }
    uint16_t* end() { return m_data + m_size; }
    uint16_t const* begin() const { return m_data; }
    uint16_t const* end() const { return m_data + m_size; }

    void swap(Plane& o) noexcept;

private:
    friend Plane TakePlane(size_t samples);

    uint16_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_reserved = 0; // bytes of the memory
    bool m_mapped = false; // mapped (huge pages) rather than from the heap
};

// A plane of `samples` samples; an empty plane when there is no memory for it. Its contents are
// unspecified: a reused plane keeps the samples it had. Planes of the same reserved size serve
// each other.
Plane TakePlane(size_t samples);
// Gives a plane back for a later TakePlane (or frees it beyond the bound); it is empty after.
void ReturnPlane(Plane&& plane);
void ReleaseFreePlanes();
// Bytes held by the free planes.
size_t FreePlaneBytes();
// The bytes a plane of `samples` samples reserves.
size_t ReservedBytesFor(size_t samples);

} // namespace vvcpool
