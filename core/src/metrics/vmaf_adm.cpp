#include "metrics/vmaf_adm.h"

#include "metrics/vmaf_tables.h"

#include <cmath>
#include <vector>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define ZE_VMAF_HAVE_RCPSS 1
#endif

namespace ze::nox::core::vmaf {

namespace {

float const* const kLo = tables::kAdmLo;
float const* const kHi = tables::kAdmHi;
float const* const kRfactorHV = tables::kAdmRfactorHV;
float const* const kRfactorD = tables::kAdmRfactorD;
double const kOneBy30 = tables::kAdmOneBy30;
double const kOneBy15 = tables::kAdmOneBy15;
double const kBorderFactor = tables::kAdmBorderFactor;

// Quotient through the SSE reciprocal with one Newton step, as the reference computes it.
inline float Divide(float n, float d)
{
#ifdef ZE_VMAF_HAVE_RCPSS
    float const xi = _mm_cvtss_f32(_mm_rcp_ss(_mm_set_ss(d)));
    return n * (xi + xi * (1.0f - d * xi));
#else
    return n / d;
#endif
}

struct Bands
{
    int w = 0;
    int h = 0;
    std::vector<float> a, hb, vb, db; // approximation, horizontal, vertical, diagonal
    void resize(int ww, int hh)
    {
        w = ww;
        h = hh;
        std::size_t const n = static_cast<std::size_t>(ww) * hh;
        a.assign(n, 0.0f);
        hb.assign(n, 0.0f);
        vb.assign(n, 0.0f);
        db.assign(n, 0.0f);
    }
};

// One level of the db2 wavelet: vertical pass first, then horizontal.
void Dwt(PlaneView const& s, Bands& out)
{
    int const w = s.width;
    int const h = s.height;
    int const ow = (w + 1) / 2;
    int const oh = (h + 1) / 2;
    out.resize(ow, oh);
    std::vector<float> lo(static_cast<std::size_t>(w));
    std::vector<float> hi(static_cast<std::size_t>(w));
    std::vector<float> plo(static_cast<std::size_t>(w + 3));
    std::vector<float> phi(static_cast<std::size_t>(w + 3));
    std::vector<int> cidx(static_cast<std::size_t>(w + 3));
    for (int x = -1; x < w + 2; ++x)
        cidx[x + 1] = MirrorIndex(x, w);
    for (int i = 0; i < oh; ++i) {
        float const* r0 = s.row(MirrorIndex(2 * i - 1, h));
        float const* r1 = s.row(MirrorIndex(2 * i, h));
        float const* r2 = s.row(MirrorIndex(2 * i + 1, h));
        float const* r3 = s.row(MirrorIndex(2 * i + 2, h));
        for (int x = 0; x < w; ++x) {
            float const s0 = r0[x], s1 = r1[x], s2 = r2[x], s3 = r3[x];
            float al = 0.0f;
            al += kLo[0] * s0;
            al += kLo[1] * s1;
            al += kLo[2] * s2;
            al += kLo[3] * s3;
            float ah = 0.0f;
            ah += kHi[0] * s0;
            ah += kHi[1] * s1;
            ah += kHi[2] * s2;
            ah += kHi[3] * s3;
            lo[x] = al;
            hi[x] = ah;
        }
        for (int x = 0; x < w + 3; ++x) {
            plo[x] = lo[cidx[x]];
            phi[x] = hi[cidx[x]];
        }
        std::size_t const o = static_cast<std::size_t>(i) * ow;
        float* ba = out.a.data() + o;
        float* bv = out.vb.data() + o;
        float* bh = out.hb.data() + o;
        float* bd = out.db.data() + o;
        for (int j = 0; j < ow; ++j) {
            float const* p = plo.data() + 2 * j; // columns 2j-1 .. 2j+2
            float const* q = phi.data() + 2 * j;
            float a = 0.0f;
            a += kLo[0] * p[0];
            a += kLo[1] * p[1];
            a += kLo[2] * p[2];
            a += kLo[3] * p[3];
            float v = 0.0f;
            v += kHi[0] * p[0];
            v += kHi[1] * p[1];
            v += kHi[2] * p[2];
            v += kHi[3] * p[3];
            float hh = 0.0f;
            hh += kLo[0] * q[0];
            hh += kLo[1] * q[1];
            hh += kLo[2] * q[2];
            hh += kLo[3] * q[3];
            float d = 0.0f;
            d += kHi[0] * q[0];
            d += kHi[1] * q[1];
            d += kHi[2] * q[2];
            d += kHi[3] * q[3];
            ba[j] = a;
            bv[j] = v;
            bh[j] = hh;
            bd[j] = d;
        }
    }
}

inline float Row3(float a, float b, float c)
{
    return static_cast<float>(kOneBy30 * static_cast<double>(a + b + c));
}
inline float RowCentre(float a, float b, float c)
{
    return static_cast<float>(kOneBy30 * static_cast<double>(a + c) + kOneBy15 * static_cast<double>(b));
}

struct ScaleWork
{
    int w = 0;
    int h = 0;
    std::vector<float> r[3];    // decoupled restored bands (h, v, d)
    std::vector<float> absA[3]; // |csf(additive)| bands
};

// Masking threshold at (i, j); rows/cols given as (previous, centre, next) indices.
inline float Threshold(ScaleWork const& sw, int i, int j)
{
    int const w = sw.w;
    int const h = sw.h;
    float sum = 0.0f;
    if (w < 2 || h < 2) {
        // Tiny band: plain mirrored neighbourhood, indices kept inside.
        int const r0 = MirrorIndex(i - 1, h), r1 = i, r2 = MirrorIndex(i + 1, h);
        int const c0 = MirrorIndex(j - 1, w), c1 = j, c2 = MirrorIndex(j + 1, w);
        for (int t = 0; t < 3; ++t) {
            float const* A = sw.absA[t].data();
            auto at = [&](int y, int x) { return A[static_cast<std::size_t>(y) * w + x]; };
            float const a = Row3(at(r0, c0), at(r0, c1), at(r0, c2));
            float const b = RowCentre(at(r1, c0), at(r1, c1), at(r1, c2));
            float const c = Row3(at(r2, c0), at(r2, c1), at(r2, c2));
            sum += a + b + c;
        }
        return sum;
    }
    bool const firstRow = i == 0;
    bool const lastRow = i == h - 1;
    int const rp = firstRow ? 1 : i - 1;    // the neighbouring row above (mirrored)
    int const rn = lastRow ? h - 1 : i + 1; // the row below (edge repeat)
    for (int t = 0; t < 3; ++t) {
        float const* A = sw.absA[t].data();
        float const* P = A + static_cast<std::size_t>(rp) * w;
        float const* C = A + static_cast<std::size_t>(i) * w;
        float const* N = A + static_cast<std::size_t>(rn) * w;
        float row1, row2, row3;
        if (firstRow || lastRow || j == 0 || j == w - 1) {
            // Border samples: plain mirrored neighbourhood (row h maps to h-1, -1 to 1).
            int const c0 = MirrorIndex(j - 1, w), c2 = MirrorIndex(j + 1, w);
            row1 = Row3(P[c0], P[j], P[c2]);
            row2 = RowCentre(C[c0], C[j], C[c2]);
            row3 = Row3(N[c0], N[j], N[c2]);
        } else {
            row1 = Row3(P[j - 1], P[j], P[j + 1]);
            row2 = RowCentre(C[j - 1], C[j], C[j + 1]);
            row3 = Row3(N[j - 1], N[j], N[j + 1]);
        }
        sum += row1 + row2 + row3;
    }
    return sum;
}

// Adds the masked, cubed restored coefficients at (i, j) to the three row accumulators.
inline void AccumulateMasked(ScaleWork const& sw, float const rf[3], int i, int j, float acc[3])
{
    float const thr = Threshold(sw, i, j);
    std::size_t const o = static_cast<std::size_t>(i) * sw.w + j;
    for (int t = 0; t < 3; ++t) {
        float x = sw.r[t][o] * rf[t];
        x = std::fabs(x) - thr;
        x = x < 0.0f ? 0.0f : x;
        acc[t] += x * x * x;
    }
}

float Cube3(float sum, float area)
{
    return std::pow(sum, 1.0f / 3.0f) + std::pow(area / 32.0f, 1.0f / 3.0f);
}

} // namespace

AdmRegion AdmInnerRegion(int w, int h)
{
    AdmRegion r;
    r.left = static_cast<int>(w * kBorderFactor - 0.5);
    r.top = static_cast<int>(h * kBorderFactor - 0.5);
    r.right = w - r.left;
    r.bottom = h - r.top;
    return r;
}

AdmRegion AdmOuterRegion(int w, int h)
{
    AdmRegion r;
    r.left = static_cast<int>(w * kBorderFactor - 0.5 - 1);
    r.top = static_cast<int>(h * kBorderFactor - 0.5 - 1);
    r.right = w - r.left + 2;
    r.bottom = h - r.top + 2;
    if (r.left < 0)
        r.left = 0;
    if (r.right > w)
        r.right = w;
    if (r.top < 0)
        r.top = 0;
    if (r.bottom > h)
        r.bottom = h;
    return r;
}

AdmResult Adm(PlaneView const& refIn, PlaneView const& disIn)
{
    AdmResult res;
    int const w0 = refIn.width;
    int const h0 = refIn.height;
    if (w0 <= 0 || h0 <= 0)
        return res;
    double const limit = 1e-10 * (static_cast<double>(w0) * h0) / (1920.0 * 1080.0);
    float const cos1degSq = static_cast<float>(std::cos(1.0 * M_PI / 180.0) * std::cos(1.0 * M_PI / 180.0));
    float const eps = 1e-30f;

    Bands rb, db, rbNext, dbNext;
    PlaneView r = refIn;
    PlaneView d = disIn;
    ScaleWork sw;
    for (int scale = 0; scale < 4; ++scale) {
        Dwt(r, rb);
        Dwt(d, db);
        int const w = rb.w;
        int const h = rb.h;
        float const rf[3] = {kRfactorHV[scale], kRfactorHV[scale], kRfactorD[scale]};
        std::size_t const n = static_cast<std::size_t>(w) * h;
        sw.w = w;
        sw.h = h;
        for (int t = 0; t < 3; ++t) {
            sw.r[t].assign(n, 0.0f);
            sw.absA[t].assign(n, 0.0f);
        }
        std::vector<float> const* refBand[3] = {&rb.hb, &rb.vb, &rb.db};

        // Decoupling into restored and additive parts, then the CSF of the additive part.
        AdmRegion const outer = AdmOuterRegion(w, h);
        for (int i = outer.top; i < outer.bottom; ++i) {
            for (int j = outer.left; j < outer.right; ++j) {
                std::size_t const o = static_cast<std::size_t>(i) * w + j;
                float const oh = rb.hb[o], ov = rb.vb[o], od = rb.db[o];
                float const th = db.hb[o], tv = db.vb[o], td = db.db[o];
                float kh = Divide(th, oh + eps);
                float kv = Divide(tv, ov + eps);
                float kd = Divide(td, od + eps);
                kh = kh > 1.0f ? 1.0f : (kh >= 0.0f ? kh : 0.0f);
                kv = kv > 1.0f ? 1.0f : (kv >= 0.0f ? kv : 0.0f);
                kd = kd > 1.0f ? 1.0f : (kd >= 0.0f ? kd : 0.0f);
                float rh = kh * oh, rv = kv * ov, rd = kd * od;
                float const dot = oh * th + ov * tv;
                float const oMag = oh * oh + ov * ov;
                float const tMag = th * th + tv * tv;
                if (dot >= 0.0f && dot * dot >= cos1degSq * oMag * tMag) {
                    rh = th;
                    rv = tv;
                    rd = td;
                }
                sw.r[0][o] = rh;
                sw.r[1][o] = rv;
                sw.r[2][o] = rd;
                sw.absA[0][o] = std::fabs(rf[0] * (th - rh));
                sw.absA[1][o] = std::fabs(rf[1] * (tv - rv));
                sw.absA[2][o] = std::fabs(rf[2] * (td - rd));
            }
        }

        AdmRegion const in = AdmInnerRegion(w, h);
        float const area = static_cast<float>((in.bottom - in.top) * (in.right - in.left));

        // Denominator: cubed CSF of the reference bands.
        float den[3] = {0, 0, 0};
        for (int i = in.top; i < in.bottom; ++i) {
            float rowAcc[3] = {0, 0, 0};
            for (int t = 0; t < 3; ++t) {
                float const* b = refBand[t]->data() + static_cast<std::size_t>(i) * w;
                float const c = rf[t];
                float a = 0.0f;
                for (int j = in.left; j < in.right; ++j) {
                    float const v = std::fabs(c * b[j]);
                    a += v * v * v;
                }
                rowAcc[t] = a;
            }
            for (int t = 0; t < 3; ++t)
                den[t] += rowAcc[t];
        }
        float const denScale = Cube3(den[0], area) + Cube3(den[1], area) + Cube3(den[2], area);

        // Numerator: masked restored part; first and last rows are summed first, as the
        // reference does.
        float num[3] = {0, 0, 0};
        if (w < 2 || h < 2) {
            for (int i = in.top; i < in.bottom; ++i) {
                float acc[3] = {0, 0, 0};
                for (int j = in.left; j < in.right; ++j)
                    AccumulateMasked(sw, rf, i, j, acc);
                for (int t = 0; t < 3; ++t)
                    num[t] += acc[t];
            }
        } else {
            int const startCol = in.left > 1 ? in.left : 1;
            int const endCol = in.right < w - 1 ? in.right : w - 1;
            int const startRow = in.top > 1 ? in.top : 1;
            int const endRow = in.bottom < h - 1 ? in.bottom : h - 1;
            auto edgeRow = [&](int i, bool wanted) {
                float acc[3] = {0, 0, 0};
                if (wanted) {
                    if (in.left <= 0)
                        AccumulateMasked(sw, rf, i, 0, acc);
                    if (in.right > w - 1)
                        AccumulateMasked(sw, rf, i, w - 1, acc);
                    for (int j = startCol; j < endCol; ++j)
                        AccumulateMasked(sw, rf, i, j, acc);
                }
                for (int t = 0; t < 3; ++t)
                    num[t] += acc[t];
            };
            edgeRow(0, in.top <= 0);
            edgeRow(h - 1, in.bottom > h - 1);
            for (int i = startRow; i < endRow; ++i) {
                float acc[3] = {0, 0, 0};
                if (in.left <= 0)
                    AccumulateMasked(sw, rf, i, 0, acc);
                if (in.right > w - 1)
                    AccumulateMasked(sw, rf, i, w - 1, acc);
                for (int j = startCol; j < endCol; ++j)
                    AccumulateMasked(sw, rf, i, j, acc);
                for (int t = 0; t < 3; ++t)
                    num[t] += acc[t];
            }
        }
        float const numScale = Cube3(num[0], area) + Cube3(num[1], area) + Cube3(num[2], area);

        res.numScale[scale] = numScale;
        res.denScale[scale] = denScale;
        res.num += numScale;
        res.den += denScale;

        std::swap(rbNext, rb);
        std::swap(dbNext, db);
        r = PlaneView{rbNext.a.data(), rbNext.w, rbNext.h, rbNext.w};
        d = PlaneView{dbNext.a.data(), dbNext.w, dbNext.h, dbNext.w};
    }
    if (res.num < limit)
        res.num = 0.0;
    if (res.den < limit)
        res.den = 0.0;
    return res;
}

} // namespace ze::nox::core::vmaf
