#pragma once

// The metric kernels as one table: the portable implementations (the reference) and, where
// the processor has them, AVX2 and AVX-512 implementations that give the same bits on every input.

#include "metrics/vmaf_adm.h"
#include "metrics/vmaf_plane.h"
#include "metrics/vmaf_vif.h"

#include <cstddef>

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
    double (*mse)(PlaneView const& ref, PlaneView const& dis);
    // motionScore of the motionBlur of a and b, without storing the blurred pictures.
    double (*blurredMotionScore)(PlaneView const& a, PlaneView const& b);
};

Kernels const& PortableKernels();
// nullptr where the processor (or the build) has no AVX2.
Kernels const* Avx2Kernels();
// nullptr where the processor (or the build) has no AVX-512 F, DQ, BW and VL. The kernels that do
// not gain from sixteen lanes are those of the AVX2 table.
Kernels const* Avx512Kernels();
// The widest vector table the processor has, nullptr when it has none.
Kernels const* VectorKernels();
// The vector table when allowed and available, the portable one otherwise.
Kernels const& SelectKernels(bool allowVector);

// Per-thread scratch of the vector kernels, grown as needed and kept for the next frame (so a
// worker's scratch is bounded by the largest plane it measures); from the thread's scratch region
// when it has one (UseThreadScratchRegion). The kernels run one after
// another on a thread, so they share it. Built without vector flags: any unit may call these.
// One of the four quarter-size planes of VIF's reduced pictures and ADM's approximation bands.
float* ScalePlane(int index, std::size_t floats);
// One of kThreadScratchSlots arrays of at least `floats` floats.
constexpr int kThreadScratchSlots = 16;
float* ThreadScratch(int slot, std::size_t floats);

// Scalar steps shared by the vector kernels.
// Fills the r samples either side of pad[r .. r+w) with their mirrored samples (MirrorIndex).
void MirrorBorders(float* pad, int w, int r);
// Adds each of `rows` (1 to 4) consecutive rows of n values, in order, and then the row totals to
// *total in row order, as the portable per-row float accumulators do; the rows run side by side as
// independent chains, which the one-row-at-a-time loop cannot.
void AddRowSums(float const* values, int n, int rows, float* total);

#if defined(__x86_64__) || defined(__i386__)
// AVX2 implementations (built with -mavx2; call only where the processor has AVX2).
VifResult VifAvx2(PlaneView const& ref, PlaneView const& dis);
AdmResult AdmAvx2(PlaneView const& ref, PlaneView const& dis);
double SsimAvx2(PlaneView const& ref, PlaneView const& dis, float addend);
void MotionBlurAvx2(PlaneView const& src, float* dst, std::ptrdiff_t dstStride, float* tmp);
double MotionScoreAvx2(PlaneView const& a, PlaneView const& b);
double MeanSquaredErrorAvx2(PlaneView const& ref, PlaneView const& dis);
double BlurredMotionScoreAvx2(PlaneView const& a, PlaneView const& b);
// AVX-512 implementations (built with -mavx512f -mavx512dq -mavx512bw -mavx512vl). SSIM is the AVX2
// code around the AVX-512 filter pass.
VifResult VifAvx512(PlaneView const& ref, PlaneView const& dis);
double SsimAvx512(PlaneView const& ref, PlaneView const& dis, float addend);
// One SSIM filter pass: dst[x] = float(sum over k, in order, of double(g[k] * base[k * step + x])).
using SsimFilterFn = void (*)(float const* base, std::ptrdiff_t step, int n, float* dst);
void SsimFilterAvx512(float const* base, std::ptrdiff_t step, int n, float* dst);
#endif

} // namespace ze::nox::core::vmaf
