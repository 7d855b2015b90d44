#pragma once

// The vector VIF, written once for every vector width: the per-sample statistic of a row, its plane
// totals, the reduced pictures and the four scales. Included only by the vector kernel units; each
// instantiates it with a lane type of its own anonymous namespace, so every instantiation stays
// inside the unit built for its instructions. Each output sample takes the same multiplies and adds
// in the same order as the portable code, and running totals keep their order (AddRowSums).

#include "metrics/vmaf_kernels.h"
#include "metrics/vmaf_tables.h"
#include "metrics/vmaf_vif.h"

#include <cstddef>
#include <tuple>
#include <utility>

namespace ze::nox::core::vmaf {

// L holds L::kWidth floats in an L::Reg and gives Zero, Set1, Load, Store, Add, Mul, Values
// (the numerator and denominator values of kWidth samples from their five filtered sums) and
// Deinterleave(pad, n, e, o) (e[i] = pad[2i], o[i] = pad[2i + 1] for 2i < n, o = 0 past n).
// Writes the values of row y into numRow and denRow; pad holds five rows of width + taps + kWidth.
template <typename L>
inline void VifStatisticRowOf(PlaneView const& ref, PlaneView const& dis, float const* f, int taps, int y,
                              float* const pad[5], float* numRow, float* denRow)
{
    using Reg = typename L::Reg;
    int const w = ref.width;
    int const h = ref.height;
    int const r = taps / 2;
    float const* rr[17];
    float const* dr[17];
    for (int k = 0; k < taps; ++k) {
        int const yy = MirrorIndex(y - r + k, h);
        rr[k] = ref.row(yy);
        dr[k] = dis.row(yy);
    }
    // Vertical sums of ref, dis, ref^2, dis^2 and ref*dis, straight into the padded rows.
    int x = 0;
    for (; x + L::kWidth <= w; x += L::kWidth) {
        Reg a0 = L::Zero(), a1 = a0, a2 = a0, a3 = a0, a4 = a0;
        for (int k = 0; k < taps; ++k) {
            Reg const c = L::Set1(f[k]);
            Reg const p = L::Load(rr[k] + x);
            Reg const q = L::Load(dr[k] + x);
            a0 = L::Add(a0, L::Mul(c, p));
            a1 = L::Add(a1, L::Mul(c, q));
            a2 = L::Add(a2, L::Mul(c, L::Mul(p, p)));
            a3 = L::Add(a3, L::Mul(c, L::Mul(q, q)));
            a4 = L::Add(a4, L::Mul(c, L::Mul(p, q)));
        }
        L::Store(pad[0] + r + x, a0);
        L::Store(pad[1] + r + x, a1);
        L::Store(pad[2] + r + x, a2);
        L::Store(pad[3] + r + x, a3);
        L::Store(pad[4] + r + x, a4);
    }
    for (; x < w; ++x) {
        float a0 = 0.0f, a1 = 0.0f, a2 = 0.0f, a3 = 0.0f, a4 = 0.0f;
        for (int k = 0; k < taps; ++k) {
            float const c = f[k];
            float const pr = rr[k][x];
            float const qd = dr[k][x];
            a0 += c * pr;
            a1 += c * qd;
            a2 += c * (pr * pr);
            a3 += c * (qd * qd);
            a4 += c * (pr * qd);
        }
        pad[0][r + x] = a0;
        pad[1][r + x] = a1;
        pad[2][r + x] = a2;
        pad[3][r + x] = a3;
        pad[4][r + x] = a4;
    }
    for (int m = 0; m < 5; ++m)
        MirrorBorders(pad[m], w, r);

    // Horizontal sums and the per-sample statistic.
    x = 0;
    for (; x + L::kWidth <= w; x += L::kWidth) {
        Reg h0 = L::Zero(), h1 = h0, h2 = h0, h3 = h0, h4 = h0;
        for (int k = 0; k < taps; ++k) {
            Reg const c = L::Set1(f[k]);
            h0 = L::Add(h0, L::Mul(c, L::Load(pad[0] + x + k)));
            h1 = L::Add(h1, L::Mul(c, L::Load(pad[1] + x + k)));
            h2 = L::Add(h2, L::Mul(c, L::Load(pad[2] + x + k)));
            h3 = L::Add(h3, L::Mul(c, L::Load(pad[3] + x + k)));
            h4 = L::Add(h4, L::Mul(c, L::Load(pad[4] + x + k)));
        }
        Reg nv, dv;
        L::Values(h0, h1, h2, h3, h4, nv, dv);
        L::Store(numRow + x, nv);
        L::Store(denRow + x, dv);
    }
    for (; x < w; ++x) {
        float hv[5];
        for (int m = 0; m < 5; ++m) {
            float a = 0.0f;
            for (int k = 0; k < taps; ++k)
                a += f[k] * pad[m][x + k];
            hv[m] = a;
        }
        VifSampleValues(hv[0], hv[1], hv[2], hv[3], hv[4], numRow[x], denRow[x]);
    }
}

// ThreadScratch slots of the vector VIF.
enum : int {
    kVifPad0 = 0, // kVifPad0 .. kVifPad0 + 4: the five vertical sums of a row with mirrored borders
    kVifNumRows = 5,
    kVifDenRows = 6,
    kVifReduceAcc = 7,
    kVifReduceEven = 8,
    kVifReduceOdd = 9,
};

// Numerator and denominator totals of one scale (0 and 0 for an empty plane): four rows at a time,
// their in-order row sums side by side (independent chains).
template <typename L>
inline std::pair<double, double> VifStatisticOf(PlaneView const& ref, PlaneView const& dis, float const* f, int taps)
{
    int const w = ref.width;
    int const h = ref.height;
    if (w <= 0 || h <= 0)
        return {0.0, 0.0};
    int const r = taps / 2;
    std::size_t const padLen = static_cast<std::size_t>(w) + 2 * r + L::kWidth;
    float* pad[5];
    for (int m = 0; m < 5; ++m)
        pad[m] = ThreadScratch(kVifPad0 + m, padLen);
    float* numRows = ThreadScratch(kVifNumRows, 4 * static_cast<std::size_t>(w));
    float* denRows = ThreadScratch(kVifDenRows, 4 * static_cast<std::size_t>(w));
    float accNum = 0.0f;
    float accDen = 0.0f;
    for (int y0 = 0; y0 < h; y0 += 4) {
        int const rows = h - y0 < 4 ? h - y0 : 4;
        for (int i = 0; i < rows; ++i)
            VifStatisticRowOf<L>(ref, dis, f, taps, y0 + i, pad, numRows + static_cast<std::ptrdiff_t>(i) * w,
                                 denRows + static_cast<std::ptrdiff_t>(i) * w);
        AddRowSums(numRows, w, rows, &accNum);
        AddRowSums(denRows, w, rows, &accDen);
    }
    return {accNum, accDen};
}

// Filters s with f and keeps even rows and columns into scale plane `plane` (stride s.width / 2).
template <typename L>
inline PlaneView VifReduceOf(PlaneView const& s, float const* f, int taps, int plane)
{
    using Reg = typename L::Reg;
    int const ow = s.width / 2;
    int const oh = s.height / 2;
    float* out = ScalePlane(plane, static_cast<std::size_t>(ow) * oh + 1);
    PlaneView const v{out, ow, oh, ow};
    if (ow == 0 || oh == 0)
        return v;
    int const r = taps / 2;
    int const padLen = s.width + 2 * r;
    float* pad = ThreadScratch(kVifReduceAcc, static_cast<std::size_t>(padLen) + L::kWidth);
    float* e = ThreadScratch(kVifReduceEven, static_cast<std::size_t>(padLen) / 2 + L::kWidth + 1);
    float* o = ThreadScratch(kVifReduceOdd, static_cast<std::size_t>(padLen) / 2 + L::kWidth + 1);
    float const* rows[17];
    for (int i = 0; i < oh; ++i) {
        for (int k = 0; k < taps; ++k)
            rows[k] = s.row(MirrorIndex(2 * i - r + k, s.height));
        // Vertical pass into the padded row, then its mirrored borders.
        float* acc = pad + r;
        int x = 0;
        for (; x + L::kWidth <= s.width; x += L::kWidth) {
            Reg a = L::Zero();
            for (int k = 0; k < taps; ++k)
                a = L::Add(a, L::Mul(L::Set1(f[k]), L::Load(rows[k] + x)));
            L::Store(acc + x, a);
        }
        for (; x < s.width; ++x) {
            float a = 0.0f;
            for (int k = 0; k < taps; ++k)
                a += f[k] * rows[k][x];
            acc[x] = a;
        }
        MirrorBorders(pad, s.width, r);
        L::Deinterleave(pad, padLen, e, o);
        float* dst = out + static_cast<std::size_t>(i) * ow;
        // Tap k of output j reads pad[2j + k]: even taps from e, odd taps from o.
        int j = 0;
        for (; j + L::kWidth <= ow; j += L::kWidth) {
            Reg a = L::Zero();
            for (int k = 0; k < taps; ++k) {
                float const* src = (k & 1) ? o + (k >> 1) : e + (k >> 1);
                a = L::Add(a, L::Mul(L::Set1(f[k]), L::Load(src + j)));
            }
            L::Store(dst + j, a);
        }
        for (; j < ow; ++j) {
            float a = 0.0f;
            float const* p = pad + 2 * j;
            for (int k = 0; k < taps; ++k)
                a += f[k] * p[k];
            dst[j] = a;
        }
    }
    return v;
}

// The four scales: scale s > 0 measures the reduced pictures of scale s - 1.
template <typename L>
inline VifResult VifOf(PlaneView const& ref, PlaneView const& dis)
{
    VifResult res;
    PlaneView r = ref;
    PlaneView d = dis;
    for (int s = 0; s < 4; ++s) {
        float const* f = tables::kVifFilters[s];
        int const taps = tables::kVifTaps[s];
        if (s > 0) {
            int const g = (s & 1) ? 0 : 2; // alternate planes so a scale never overwrites its input
            PlaneView const nr = VifReduceOf<L>(r, f, taps, g);
            PlaneView const nd = VifReduceOf<L>(d, f, taps, g + 1);
            r = nr;
            d = nd;
        }
        std::tie(res.num[s], res.den[s]) = VifStatisticOf<L>(r, d, f, taps);
    }
    return res;
}

} // namespace ze::nox::core::vmaf
