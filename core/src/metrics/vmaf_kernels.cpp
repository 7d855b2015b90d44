#include "metrics/vmaf_kernels.h"

#include "metrics/vmaf_motion.h"
#include "metrics/vmaf_psnr.h"
#include "metrics/vmaf_ssim.h"

#include <vector>

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
    static Kernels const k{"avx512",         &VifAvx512,           &AdmAvx2, &SsimAvx2, &MotionBlurAvx2,
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

float* Grow(std::vector<float>& v, std::size_t n)
{
    if (v.size() < n)
        v.resize(n);
    return v.data();
}

} // namespace

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

float* ScalePlane(int index, std::size_t floats)
{
    static thread_local std::vector<float> planes[4];
    return Grow(planes[index], floats);
}

float* ThreadScratch(int slot, std::size_t floats)
{
    static thread_local std::vector<float> slots[kThreadScratchSlots];
    return Grow(slots[slot], floats);
}

Kernels const& SelectKernels(bool allowVector)
{
    Kernels const* v = allowVector ? VectorKernels() : nullptr;
    return v ? *v : PortableKernels();
}

} // namespace ze::nox::core::vmaf
