#pragma once

// Shared pieces of the quality-metric engine: a read-only view of one float plane,
// the mirrored border index and an aligned scratch buffer. No Qt here.

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

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

struct AlignedFree
{
    void operator()(void* p) const { std::free(p); }
};

// 32-byte aligned float array, zero-filled unless asked otherwise (pages of an unfilled
// buffer cost no memory until they are written); size() == 0 when the allocation failed.
// Arrays of picture size are placed on huge pages where the system offers them, so that
// writing a picture into a fresh one costs a few page faults instead of thousands
// (resize is defined in vmaf_kernels.cpp).
class FloatBuffer
{
public:
    FloatBuffer() = default;
    explicit FloatBuffer(std::size_t count) { resize(count); }
    bool resize(std::size_t count, bool zeroFill = true);
    float* data() { return m_data.get(); }
    float const* data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }
    float& operator[](std::size_t i) { return m_data.get()[i]; }
    float operator[](std::size_t i) const { return m_data.get()[i]; }

private:
    std::unique_ptr<float, AlignedFree> m_data;
    std::size_t m_size = 0;
};

} // namespace ze::nox::core::vmaf
