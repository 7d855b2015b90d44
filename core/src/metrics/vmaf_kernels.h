#pragma once

// The metric kernels as one table: the portable implementations (the reference) and, where
// the processor has AVX2, vector implementations that give the same bits on every input.

#include "metrics/vmaf_adm.h"
#include "metrics/vmaf_plane.h"
#include "metrics/vmaf_vif.h"

namespace ze::nox::core::vmaf {

struct Kernels
{
    char const* name;
    VifResult (*vif)(PlaneView const& ref, PlaneView const& dis);
    AdmResult (*adm)(PlaneView const& ref, PlaneView const& dis);
    double (*ssim)(PlaneView const& ref, PlaneView const& dis, float addend);
    // Blur of src into dst (dst stride in floats); tmp holds width + 4 floats.
    void (*motionBlur)(PlaneView const& src, float* dst, std::ptrdiff_t dstStride, float* tmp);
    double (*motionScore)(PlaneView const& a, PlaneView const& b);
};

Kernels const& PortableKernels();
// nullptr where the processor (or the build) has no AVX2.
Kernels const* VectorKernels();
// The vector table when allowed and available, the portable one otherwise.
Kernels const& SelectKernels(bool allowVector);

#if defined(__x86_64__) || defined(__i386__)
// AVX2 implementations (built with -mavx2; call only where the processor has AVX2).
VifResult VifAvx2(PlaneView const& ref, PlaneView const& dis);
AdmResult AdmAvx2(PlaneView const& ref, PlaneView const& dis);
double SsimAvx2(PlaneView const& ref, PlaneView const& dis, float addend);
void MotionBlurAvx2(PlaneView const& src, float* dst, std::ptrdiff_t dstStride, float* tmp);
double MotionScoreAvx2(PlaneView const& a, PlaneView const& b);
#endif

} // namespace ze::nox::core::vmaf
