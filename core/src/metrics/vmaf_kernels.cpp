#include "metrics/vmaf_kernels.h"

#include "metrics/vmaf_motion.h"
#include "metrics/vmaf_ssim.h"

namespace ze::nox::core::vmaf {

Kernels const& PortableKernels()
{
    static Kernels const k{"portable", &Vif, &Adm, &Ssim, &MotionBlur, &MotionScore};
    return k;
}

Kernels const* VectorKernels()
{
#if defined(__x86_64__) || defined(__i386__)
    static bool const sHas = __builtin_cpu_supports("avx2");
    static Kernels const k{"avx2", &VifAvx2, &AdmAvx2, &SsimAvx2, &MotionBlurAvx2, &MotionScoreAvx2};
    return sHas ? &k : nullptr;
#else
    return nullptr;
#endif
}

Kernels const& SelectKernels(bool allowVector)
{
    Kernels const* v = allowVector ? VectorKernels() : nullptr;
    return v ? *v : PortableKernels();
}

} // namespace ze::nox::core::vmaf
