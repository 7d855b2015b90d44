#include "metrics/vmaf_kernels.h"

#include "metrics/vmaf_motion.h"
#include "metrics/vmaf_psnr.h"
#include "metrics/vmaf_ssim.h"

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
    static Kernels const k{"portable", &Vif, &Adm, &Ssim, &MotionBlur, &MotionScore, &MeanSquaredError};
    return k;
}

Kernels const* Avx2Kernels()
{
#if defined(__x86_64__) || defined(__i386__)
    static bool const sHas = __builtin_cpu_supports("avx2");
    static Kernels const k{
        "avx2", &VifAvx2, &AdmAvx2, &SsimAvx2, &MotionBlurAvx2, &MotionScoreAvx2, &MeanSquaredErrorAvx2};
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
    static Kernels const k{"avx512",         &VifAvx512,           &AdmAvx2, &SsimAvx512, &MotionBlurAvx2,
                           &MotionScoreAvx2, &MeanSquaredErrorAvx2};
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

// Grows b to at least n floats, zero-filled when it grows (its content is not kept).
float* Grow(FloatBuffer& b, std::size_t n)
{
    if (b.size() < n && !b.resize(n))
        throw std::bad_alloc();
    return b.data();
}

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

bool FloatBuffer::resize(std::size_t count, bool zeroFill)
{
    if (count == m_size && m_data)
        return true;
    m_data.reset();
    m_size = 0;
    if (count > (SIZE_MAX - 31) / sizeof(float))
        return false;
    std::size_t bytes = (count * sizeof(float) + 31) / 32 * 32;
    if (bytes == 0)
        bytes = 32;
    std::size_t align = 32;
#if defined(__linux__)
    std::size_t const kHuge = std::size_t(2) << 20;
    if (bytes >= kHuge) {
        align = kHuge;
        bytes = (bytes + kHuge - 1) / kHuge * kHuge;
    }
#endif
    void* p = std::aligned_alloc(align, bytes);
    if (!p)
        return false;
#if defined(__linux__)
    if (align > 32)
        madvise(p, bytes, MADV_HUGEPAGE); // a hint: without huge pages the buffer works the same
#endif
    if (zeroFill)
        std::memset(p, 0, bytes);
    m_data.reset(static_cast<float*>(p));
    m_size = count;
    return true;
}

float* ScalePlane(int index, std::size_t floats)
{
    static thread_local FloatBuffer planes[4];
    return Grow(planes[index], floats);
}

float* ThreadScratch(int slot, std::size_t floats)
{
    static thread_local FloatBuffer slots[kThreadScratchSlots];
    return Grow(slots[slot], floats);
}

Kernels const& SelectKernels(bool allowVector)
{
    Kernels const* v = allowVector ? VectorKernels() : nullptr;
    return v ? *v : PortableKernels();
}

} // namespace ze::nox::core::vmaf
