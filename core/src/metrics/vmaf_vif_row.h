#pragma once

// The per-sample VIF statistic of one row, written once for every vector width. Included only by
// the vector kernel units; each instantiates it with a lane type of its own anonymous namespace,
// so every instantiation stays inside the unit built for its instructions. Each output sample
// takes the same multiplies and adds in the same order as the portable code.

#include "metrics/vmaf_kernels.h"
#include "metrics/vmaf_vif.h"

namespace ze::nox::core::vmaf {

// L holds L::kWidth floats in an L::Reg and gives Zero, Set1, Load, Store, Add, Mul, and Values
// (the numerator and denominator values of kWidth samples from their five filtered sums).
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

} // namespace ze::nox::core::vmaf
