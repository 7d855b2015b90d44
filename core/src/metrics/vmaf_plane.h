#pragma once

// Shared pieces of the quality-metric engine: a read-only view of one float plane,
// the mirrored border index and an aligned scratch buffer. No Qt here.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace ze::nox::core::vmaf {

// One grey plane of floats; stride counts floats, not bytes.
struct PlaneView
{
    float const* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;

    float const* row(int y) const { return data + static_cast<std::ptrdiff_t>(y) * stride; }
};

// Border rule of the filters: -k maps to k (no edge repeat), n-1+k maps to n-k (edge repeat).
// Repeated until the index lies inside, so planes narrower than the filter stay in bounds.
inline int MirrorIndex(int i, int n)
{
    if (n <= 1)
        return 0;
    while (i < 0 || i >= n) {
        if (i < 0)
            i = -i;
        if (i >= n)
            i = 2 * n - 1 - i;
    }
    return i;
}

// Edge-repeat mirror (-1 -> 0, n -> n-1), used by the SSIM decimation.
inline int MirrorRepeatIndex(int i, int n)
{
    if (n <= 1)
        return 0;
    while (i < 0 || i >= n) {
        if (i < 0)
            i = -1 - i;
        if (i >= n)
            i = 2 * n - 1 - i;
    }
    return i;
}

// At least `bytes` bytes, 32-byte aligned; from 384 KiB on rounded up to whole huge pages
// and placed on them where the system offers them, so that writing a picture into a fresh block
// costs a few page faults instead of hundreds. *zeroed (when given) tells whether the block is known
// to read as zero. nullptr when it fails. Give it back with FreeSamples and the same `bytes`.
void* AllocateSamples(std::size_t bytes, bool* zeroed = nullptr);
void FreeSamples(void* p, std::size_t bytes);

// Scratch of the calling thread's kernels: carved from the thread's scratch region while it has one
// with room left (no system call, zero-filled as fresh), else from AllocateSamples. Give it back with
// FreeThreadScratch on the same thread and the same `bytes`; *zeroed as for AllocateSamples.
void* AllocateThreadScratch(std::size_t bytes, bool* zeroed = nullptr);
void FreeThreadScratch(void* p, std::size_t bytes);
// Lets the calling thread's later kernel scratch come from [base, base + bytes), a zero-filled block
// of the caller's (e.g. from AllocateSamples) that stays valid until the thread has ended: a worker
// then makes no address-space changes while it measures, each of which would wait for every page
// fault of the process in flight and hold up the faults that come after it. Blocks carved from the
// region are never reused. Once per thread, before its first kernel call.
void UseThreadScratchRegion(void* base, std::size_t bytes);

// Standard allocator on AllocateThreadScratch, for the vector kernels' scratch arrays.
template <typename T>
struct SampleAllocator
{
    using value_type = T;
    SampleAllocator() = default;
    template <typename U>
    SampleAllocator(SampleAllocator<U> const&) noexcept
    {
    }
    T* allocate(std::size_t n)
    {
        void* p = n <= SIZE_MAX / sizeof(T) ? AllocateThreadScratch(n * sizeof(T)) : nullptr;
        if (!p)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept { FreeThreadScratch(p, n * sizeof(T)); }
    template <typename U>
    bool operator==(SampleAllocator<U> const&) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(SampleAllocator<U> const&) const noexcept
    {
        return false;
    }
};

// 32-byte aligned float array on AllocateSamples, zero-filled unless asked otherwise (pages of an
// unfilled buffer cost no memory until they are written); size() == 0 when the allocation failed.
class FloatBuffer
{
public:
    FloatBuffer() = default;
    explicit FloatBuffer(std::size_t count) { resize(count); }
    FloatBuffer(FloatBuffer&& other) noexcept : m_data(other.m_data), m_size(other.m_size)
    {
        other.m_data = nullptr;
        other.m_size = 0;
    }
    FloatBuffer& operator=(FloatBuffer&& other) noexcept
    {
        if (this != &other) {
            release();
            std::swap(m_data, other.m_data);
            std::swap(m_size, other.m_size);
        }
        return *this;
    }
    FloatBuffer(FloatBuffer const&) = delete;
    FloatBuffer& operator=(FloatBuffer const&) = delete;
    ~FloatBuffer() { release(); }

    // Defined in vmaf_kernels.cpp.
    bool resize(std::size_t count, bool zeroFill = true);
    float* data() { return m_data; }
    float const* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    float& operator[](std::size_t i) { return m_data[i]; }
    float operator[](std::size_t i) const { return m_data[i]; }

private:
    void release();

    float* m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace ze::nox::core::vmaf
