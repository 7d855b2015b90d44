// The portable inter prediction kernels and the choice of the kernel table.

#include "inter/InterKernels.h"

#include <atomic>
#include <cstdlib>

namespace vvcinter {
namespace {

std::atomic<bool> gAllowVector{true};

template <int N, typename T, typename D>
void FilterRows(T const* src, ptrdiff_t srcStride, int w, int h, int8_t const* c, int offset, int shift, D* dst,
                ptrdiff_t dstStride)
{
    for (int y = 0; y < h; y++, src += srcStride, dst += dstStride)
        for (int x = 0; x < w; x++) {
            int sum = offset;
            for (int i = 0; i < N; i++)
                sum += c[i] * src[x + i];
            dst[x] = D(sum >> shift);
        }
}

template <int N, typename T>
void FilterCols(T const* src, ptrdiff_t srcStride, int w, int h, int8_t const* c, int offset, int shift, int32_t* dst,
                ptrdiff_t dstStride)
{
    for (int y = 0; y < h; y++, src += srcStride, dst += dstStride)
        for (int x = 0; x < w; x++) {
            int sum = offset;
            for (int i = 0; i < N; i++)
                sum += c[i] * src[x + i * srcStride];
            dst[x] = sum >> shift;
        }
}

template <typename D>
void RowsPortable(InterpPassArgs const& a)
{
    auto const* src = static_cast<uint16_t const*>(a.src);
    auto* dst = static_cast<D*>(a.dst);
    switch (a.taps) {
    case 2: FilterRows<2>(src, a.srcStride, a.w, a.h, a.coeff, a.offset, a.shift, dst, a.dstStride); break;
    case 4: FilterRows<4>(src, a.srcStride, a.w, a.h, a.coeff, a.offset, a.shift, dst, a.dstStride); break;
    default: FilterRows<8>(src, a.srcStride, a.w, a.h, a.coeff, a.offset, a.shift, dst, a.dstStride); break;
    }
}

template <typename T>
void ColsPortable(InterpPassArgs const& a)
{
    auto const* src = static_cast<T const*>(a.src);
    auto* dst = static_cast<int32_t*>(a.dst);
    switch (a.taps) {
    case 2: FilterCols<2>(src, a.srcStride, a.w, a.h, a.coeff, a.offset, a.shift, dst, a.dstStride); break;
    case 4: FilterCols<4>(src, a.srcStride, a.w, a.h, a.coeff, a.offset, a.shift, dst, a.dstStride); break;
    default: FilterCols<8>(src, a.srcStride, a.w, a.h, a.coeff, a.offset, a.shift, dst, a.dstStride); break;
    }
}

void CopyPortable(uint16_t const* src, ptrdiff_t srcStride, int w, int h, int shift, int32_t* dst, ptrdiff_t dstStride)
{
    for (int y = 0; y < h; y++, src += srcStride, dst += dstStride)
        for (int x = 0; x < w; x++)
            dst[x] = shift >= 0 ? int32_t(src[x]) << shift : (src[x] + (1 << (-shift - 1))) >> -shift;
}

int SadPortable(int32_t const* a, int32_t const* b, ptrdiff_t stride, int w, int rows)
{
    int sum = 0;
    for (int y = 0; y < rows; y++, a += stride, b += stride)
        for (int x = 0; x < w; x++)
            sum += std::abs(a[x] - b[x]);
    return sum;
}

} // namespace

InterKernels const& InterPortableKernels()
{
    static InterKernels const k{
        "portable",    &RowsPortable<int16_t>, &RowsPortable<int32_t>, &ColsPortable<uint16_t>, &ColsPortable<int16_t>,
        &CopyPortable, &SadPortable,           &BdofBlockPortable,     &BiAveragePortable};
    return k;
}

InterKernels const* InterVectorKernels()
{
#if defined(__x86_64__) || defined(__i386__)
    static bool const sHas = __builtin_cpu_supports("avx2");
    static InterKernels const k{"avx2",         &InterRowsTo16Avx2, &InterRowsTo32Avx2, &InterColsAvx2, &InterColsAvx2,
                                &InterCopyAvx2, &InterSadAvx2,      &BdofBlockAvx2,     &BiAverageAvx2};
    return sHas ? &k : nullptr;
#else
    return nullptr;
#endif
}

void InterAllowVectorKernels(bool allow)
{
    gAllowVector = allow;
}

InterKernels const& InterActiveKernels()
{
    InterKernels const* v = gAllowVector ? InterVectorKernels() : nullptr;
    return v ? *v : InterPortableKernels();
}

InterKernels const& InterKernelsFor(int bitDepth)
{
    return bitDepth <= 12 ? InterActiveKernels() : InterPortableKernels();
}

} // namespace vvcinter
