#include "metrics/vmaf_kernels.h"

#include "metrics/vmaf_motion.h"
#include "metrics/vmaf_psnr.h"
#include "metrics/vmaf_ssim.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ze::nox::core::vmaf {

Kernels const& PortableKernels()
{
    static Kernels const k{"portable",         &Vif, &Adm, &Ssim, &MotionBlur, &MotionScore, &MeanSquaredError,
                           &BlurredMotionScore};
    return k;
}

Kernels const* Avx2Kernels()
{
#if defined(__x86_64__) || defined(__i386__)
    static bool const sHas = __builtin_cpu_supports("avx2");
    static Kernels const k{"avx2",
                           &VifAvx2,
                           &AdmAvx2,
                           &SsimAvx2,
                           &MotionBlurAvx2,
                           &MotionScoreAvx2,
                           &MeanSquaredErrorAvx2,
                           &BlurredMotionScoreAvx2};
    return sHas ? &k : nullptr;
#else
    return nullptr;
#endif
}

Kernels const* Avx512Kernels()
{
#if defined(__x86_64__) || defined(__i386__)
    static bool const sHas = Avx2Kernels() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                             __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
    static Kernels const k{"avx512",
                           &VifAvx512,
                           &AdmAvx2,
                           &SsimAvx512,
                           &MotionBlurAvx2,
                           &MotionScoreAvx2,
                           &MeanSquaredErrorAvx2,
                           &BlurredMotionScoreAvx2};
    return sHas ? &k : nullptr;
#else
    return nullptr;
#endif
}

Kernels const* VectorKernels()
{
    Kernels const* k = Avx512Kernels();
    return k ? k : Avx2Kernels();
}

namespace {

// One of a thread's scratch arrays (ThreadScratch, ScalePlane): grown as needed, given back when the
// thread ends.
class ScratchBlock
{
public:
    ScratchBlock() = default;
    ScratchBlock(ScratchBlock const&) = delete;
    ScratchBlock& operator=(ScratchBlock const&) = delete;
    ~ScratchBlock() { FreeThreadScratch(m_data, m_floats * sizeof(float)); }

    // At least n floats, zero-filled when it grows (its content is not kept).
    float* grow(std::size_t n)
    {
        if (m_floats >= n && m_data)
            return m_data;
        if (n > SIZE_MAX / 2 / sizeof(float))
            throw std::bad_alloc();
        FreeThreadScratch(m_data, m_floats * sizeof(float));
        m_data = nullptr;
        m_floats = 0;
        std::size_t const bytes = std::max<std::size_t>(n, 1) * sizeof(float);
        bool zeroed = false;
        void* p = AllocateThreadScratch(bytes, &zeroed);
        if (!p)
            throw std::bad_alloc();
        if (!zeroed)
            std::memset(p, 0, bytes);
        m_data = static_cast<float*>(p);
        m_floats = std::max<std::size_t>(n, 1);
        return m_data;
    }

private:
    float* m_data = nullptr;
    std::size_t m_floats = 0;
};

// The calling thread's scratch region (UseThreadScratchRegion); plain data, so it stays readable
// while the thread's other thread-local objects are destroyed and give their blocks back.
struct ThreadRegion
{
    std::uintptr_t base = 0;
    std::size_t size = 0;
    std::size_t used = 0;
};
thread_local ThreadRegion tRegion;

} // namespace

void MirrorBorders(float* pad, int w, int r)
{
    float* mid = pad + r;
    for (int x = -r; x < 0; ++x)
        mid[x] = mid[MirrorIndex(x, w)];
    for (int x = w; x < w + r; ++x)
        mid[x] = mid[MirrorIndex(x, w)];
}

void AddRowSums(float const* values, int n, int rows, float* total)
{
    float line[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (rows == 4) {
        float const* v0 = values;
        float const* v1 = values + n;
        float const* v2 = values + 2 * static_cast<std::ptrdiff_t>(n);
        float const* v3 = values + 3 * static_cast<std::ptrdiff_t>(n);
        for (int x = 0; x < n; ++x) {
            line[0] += v0[x];
            line[1] += v1[x];
            line[2] += v2[x];
            line[3] += v3[x];
        }
    } else {
        for (int r = 0; r < rows; ++r)
            for (int x = 0; x < n; ++x)
                line[r] += values[static_cast<std::ptrdiff_t>(r) * n + x];
    }
    for (int r = 0; r < rows; ++r)
        *total += line[r];
}

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kHugeFrom = std::size_t(384) << 10;

// Bytes actually reserved for a request: whole 32-byte units, and from kHugeFrom on whole huge
// pages. Every fresh 4 KiB page costs a fault of its own, which under virtualisation can cost
// 50 times as much per byte as a huge page's: picture-sized blocks, even those just under 2 MiB
// such as 1080p chroma planes, are cheaper on huge pages despite the rounding. Smaller blocks
// stay on 4 KiB pages, as fresh memory that the host must first back costs about the same per
// byte either way and a whole huge page would be mostly unused.
std::size_t ReservedBytes(std::size_t bytes)
{
    bytes = std::max<std::size_t>((bytes + 31) / 32 * 32, 32);
#if defined(__linux__)
    if (bytes >= kHugeFrom)
        bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
#endif
    return bytes;
}

} // namespace

void* AllocateSamples(std::size_t bytes, bool* zeroed)
{
    if (zeroed)
        *zeroed = false;
    if (bytes > SIZE_MAX / 2)
        return nullptr;
    std::size_t const reserved = ReservedBytes(bytes);
#if defined(__linux__)
    if (reserved >= kHugePage) {
        // Mapped directly, so the pages are known to be zero (no clearing pass over fresh memory)
        // and the block starts on a huge-page boundary.
        void* map = mmap(nullptr, reserved + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            return nullptr;
        auto const base = reinterpret_cast<std::uintptr_t>(map);
        std::uintptr_t const start = (base + kHugePage - 1) / kHugePage * kHugePage;
        if (start > base)
            munmap(map, start - base);
        if (std::size_t const tail = base + kHugePage - start)
            munmap(reinterpret_cast<void*>(start + reserved), tail);
        void* p = reinterpret_cast<void*>(start);
        madvise(p, reserved, MADV_HUGEPAGE); // a hint: without huge pages the block works the same
        if (zeroed)
            *zeroed = true;
        return p;
    }
#endif
    return std::aligned_alloc(32, reserved);
}

void FreeSamples(void* p, std::size_t bytes)
{
    if (!p)
        return;
    std::size_t const reserved = ReservedBytes(bytes);
#if defined(__linux__)
    if (reserved >= kHugePage) {
        munmap(p, reserved);
        return;
    }
#endif
    std::free(p);
}

bool FloatBuffer::resize(std::size_t count, bool zeroFill)
{
    if (count == m_size && m_data)
        return true;
    release();
    if (count > SIZE_MAX / 2 / sizeof(float))
        return false;
    std::size_t const bytes = count * sizeof(float);
    bool zeroed = false;
    void* p = AllocateSamples(bytes, &zeroed);
    if (!p)
        return false;
    if (zeroFill && !zeroed)
        std::memset(p, 0, std::max<std::size_t>((bytes + 31) / 32 * 32, 32));
    m_data = static_cast<float*>(p);
    m_size = count;
    return true;
}

void FloatBuffer::release()
{
    FreeSamples(m_data, m_size * sizeof(float));
    m_data = nullptr;
    m_size = 0;
}

// Blocks of a region start on whole cache lines and never share one.
constexpr std::size_t kRegionAlign = 64;

void UseThreadScratchRegion(void* base, std::size_t bytes)
{
    auto const a = reinterpret_cast<std::uintptr_t>(base);
    std::size_t const skip = a % kRegionAlign ? kRegionAlign - a % kRegionAlign : 0;
    tRegion = base && bytes > skip ? ThreadRegion{a + skip, bytes - skip, 0} : ThreadRegion{};
}

void* AllocateThreadScratch(std::size_t bytes, bool* zeroed)
{
    ThreadRegion& r = tRegion;
    if (r.base != 0 && bytes <= r.size) {
        std::size_t const need = (std::max<std::size_t>(bytes, 1) + kRegionAlign - 1) / kRegionAlign * kRegionAlign;
        if (need <= r.size - r.used) {
            void* p = reinterpret_cast<void*>(r.base + r.used);
            r.used += need;
            if (zeroed)
                *zeroed = true;
            return p;
        }
    }
    return AllocateSamples(bytes, zeroed);
}

void FreeThreadScratch(void* p, std::size_t bytes)
{
    ThreadRegion const& r = tRegion;
    auto const a = reinterpret_cast<std::uintptr_t>(p);
    if (r.base != 0 && a >= r.base && a - r.base < r.size)
        return; // the region is given back whole by its owner
    FreeSamples(p, bytes);
}

float* ScalePlane(int index, std::size_t floats)
{
    static thread_local ScratchBlock planes[4];
    return planes[index].grow(floats);
}

float* ThreadScratch(int slot, std::size_t floats)
{
    static thread_local ScratchBlock slots[kThreadScratchSlots];
    return slots[slot].grow(floats);
}

Kernels const& SelectKernels(bool allowVector)
{
    Kernels const* v = allowVector ? VectorKernels() : nullptr;
    return v ? *v : PortableKernels();
}

} // namespace ze::nox::core::vmaf
