#include "intra/IntraPred.h"

#include <algorithm>
#include <cstdlib>

namespace {

int FloorLog2(unsigned v)
{
    int n = -1;
    while (v) {
        v >>= 1;
        ++n;
    }
    return n;
}

bool IsPow2(int v)
{
    return v > 0 && (v & (v - 1)) == 0;
}

inline int Clip(int v, int maxVal)
{
    return v < 0 ? 0 : (v > maxVal ? maxVal : v);
}

// intraPredAngle for modes -14..80 (index mode + 14).
// clang-format off
constexpr int kAngle[95] = {
    512, 341, 256, 171, 128, 102, 86, 73, 64, 57, 51, 45, 39, 35,                // -14 .. -1
    0, 0,                                                                          // 0, 1
    32, 29, 26, 23, 20, 18, 16, 14, 12, 10, 8, 6, 4, 3, 2, 1,                      // 2 .. 17
    0, -1, -2, -3, -4, -6, -8, -10, -12, -14, -16, -18, -20, -23, -26, -29,       // 18 .. 33
    -32, -29, -26, -23, -20, -18, -16, -14, -12, -10, -8, -6, -4, -3, -2, -1,     // 34 .. 49
    0, 1, 2, 3, 4, 6, 8, 10, 12, 14, 16, 18, 20, 23, 26, 29,                       // 50 .. 65
    32, 35, 39, 45, 51, 57, 64, 73, 86, 102, 128, 171, 256, 341, 512};             // 66 .. 80
// clang-format on

// Round(512 * 32 / angle) for the absolute angles that occur.
int InvAngleOfAbs(int a)
{
    switch (a) {
    case 1: return 16384;
    case 2: return 8192;
    case 3: return 5461;
    case 4: return 4096;
    case 6: return 2731;
    case 8: return 2048;
    case 10: return 1638;
    case 12: return 1365;
    case 14: return 1170;
    case 16: return 1024;
    case 18: return 910;
    case 20: return 819;
    case 23: return 712;
    case 26: return 630;
    case 29: return 565;
    case 32: return 512;
    case 35: return 468;
    case 39: return 420;
    case 45: return 364;
    case 51: return 321;
    case 57: return 287;
    case 64: return 256;
    case 73: return 224;
    case 86: return 191;
    case 102: return 161;
    case 128: return 128;
    case 171: return 96;
    case 256: return 64;
    case 341: return 48;
    case 512: return 32;
    default: return 0;
    }
}

// clang-format off
constexpr int kFilterC[32][4] = {
    {0, 64, 0, 0},    {-1, 63, 2, 0},   {-2, 62, 4, 0},   {-2, 60, 7, -1},  {-2, 58, 10, -2},
    {-3, 57, 12, -2}, {-4, 56, 14, -2}, {-4, 55, 15, -2}, {-4, 54, 16, -2}, {-5, 53, 18, -2},
    {-6, 52, 20, -2}, {-6, 49, 24, -3}, {-6, 46, 28, -4}, {-5, 44, 29, -4}, {-4, 42, 30, -4},
    {-4, 39, 33, -4}, {-4, 36, 36, -4}, {-4, 33, 39, -4}, {-4, 30, 42, -4}, {-4, 29, 44, -5},
    {-4, 28, 46, -6}, {-3, 24, 49, -6}, {-2, 20, 52, -6}, {-2, 18, 53, -5}, {-2, 16, 54, -4},
    {-2, 15, 55, -4}, {-2, 14, 56, -4}, {-2, 12, 57, -3}, {-2, 10, 58, -2}, {-1, 7, 60, -2},
    {0, 4, 62, -2},   {0, 2, 63, -1}};
// clang-format on

// clang-format off
constexpr int kFilterG[32][4] = {
    {16, 32, 16, 0}, {16, 32, 16, 0}, {15, 31, 17, 1}, {15, 31, 17, 1}, {14, 30, 18, 2},
    {14, 30, 18, 2}, {13, 29, 19, 3}, {13, 29, 19, 3}, {12, 28, 20, 4}, {12, 28, 20, 4},
    {11, 27, 21, 5}, {11, 27, 21, 5}, {10, 26, 22, 6}, {10, 26, 22, 6}, {9, 25, 23, 7},
    {9, 25, 23, 7},  {8, 24, 24, 8},  {8, 24, 24, 8},  {7, 23, 25, 9},  {7, 23, 25, 9},
    {6, 22, 26, 10}, {6, 22, 26, 10}, {5, 21, 27, 11}, {5, 21, 27, 11}, {4, 20, 28, 12},
    {4, 20, 28, 12}, {3, 19, 29, 13}, {3, 19, 29, 13}, {2, 18, 30, 14}, {2, 18, 30, 14},
    {1, 17, 31, 15}, {1, 17, 31, 15}};
// clang-format on

// intraHorVerDistThres by nTbS = (Log2(nTbW) + Log2(nTbH)) >> 1.
constexpr int kHorVerDistThres[7] = {24, 24, 24, 14, 2, 0, 0};

bool ValidBlock(int w, int h)
{
    return IsPow2(w) && IsPow2(h) && w <= kIntraMaxTbSize && h <= kIntraMaxTbSize;
}

int MappedMode(IntraPredParams const& p)
{
    bool const ispLuma = p.isp && p.cIdx == 0;
    int const nW = ispLuma && p.nCbW > 0 ? p.nCbW : p.nTbW;
    int const nH = ispLuma && p.nCbH > 0 ? p.nCbH : p.nTbH;
    return MapWideAngleMode(p.predModeIntra, nW, nH);
}

bool IsIntegerSlopeMode(int mode)
{
    return mode == INTRA_PLANAR || mode == -14 || mode == -12 || mode == -10 || mode == -6 || mode == 2 || mode == 34 ||
           mode == 66 || mode == 72 || mode == 76 || mode == 78 || mode == 80;
}

void PredictPlanar(IntraRefSamples const& r, int w, int h, uint16_t* dst, ptrdiff_t stride)
{
    int const lw = FloorLog2(unsigned(w)), lh = FloorLog2(unsigned(h));
    int const topRight = r.top[w + 1], bottomLeft = r.left[h + 1];
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int const v = ((h - 1 - y) * r.top[x + 1] + (y + 1) * bottomLeft) << lw;
            int const hh = ((w - 1 - x) * r.left[y + 1] + (x + 1) * topRight) << lh;
            dst[y * stride + x] = uint16_t((v + hh + w * h) >> (lw + lh + 1));
        }
}

void PredictDc(IntraRefSamples const& r, int w, int h, uint16_t* dst, ptrdiff_t stride)
{
    int const o = r.refIdx + 1; // p[x][-1 - refIdx] = top[x + refIdx + 1]
    int sumTop = 0, sumLeft = 0;
    for (int x = 0; x < w; ++x)
        sumTop += r.top[o + x];
    for (int y = 0; y < h; ++y)
        sumLeft += r.left[o + y];
    int dc;
    if (w == h)
        dc = (sumTop + sumLeft + w) >> (FloorLog2(unsigned(w)) + 1);
    else if (w > h)
        dc = (sumTop + (w >> 1)) >> FloorLog2(unsigned(w));
    else
        dc = (sumLeft + (h >> 1)) >> FloorLog2(unsigned(h));
    for (int y = 0; y < h; ++y)
        std::fill(dst + y * stride, dst + y * stride + w, uint16_t(dc));
}

// The angular prediction written in the frame of a vertical mode: `mainRef` is the row the
// prediction copies along (top[] for modes >= 34, left[] for the others, which are the transposed
// case), `sideRef` the other side. Output sample (fx, fy) goes to dst[fy * rowStep + fx * colStep].
struct AngularFrame
{
    uint16_t const* mainRef;
    uint16_t const* sideRef;
    int nW, nH;     // frame width (along mainRef) and height
    int refMainLen; // refW (or refH) of the main side
    int refSideLen;
    ptrdiff_t rowStep, colStep;
};

bool PredictAngularFrame(AngularFrame const& f, int refIdx, int angle, int invAngle, bool luma, bool gaussian,
                         int maxVal, uint16_t* dst)
{
    // ref[k] for k = -nH .. refMainLen + refIdx + padding; kOff makes the index non-negative.
    constexpr int kOff = kIntraMaxTbSize + 8;
    constexpr int kCap = 4 * kIntraMaxRefLen;
    int refBuf[kOff + kCap] = {};
    int* ref = refBuf + kOff;
    int const nW = f.nW, nH = f.nH;
    int const pad = angle < 0 ? 0 : std::max(1, nW / nH) * refIdx + 2;
    int const maxRead = angle > 0 ? nW - 1 + (((nH + refIdx) * angle) >> 5) + refIdx + 3 : nW + refIdx + 2;
    if (f.refMainLen + refIdx + pad >= kCap || maxRead >= kCap || f.refMainLen < nW)
        return false;
    for (int k = 0; k <= nW + refIdx + 1; ++k)
        ref[k] = f.mainRef[k];
    if (angle < 0) {
        for (int k = -nH; k <= -1; ++k)
            ref[k] = f.sideRef[std::min((k * invAngle + 256) >> 9, nH)];
    } else {
        for (int k = nW + 2 + refIdx; k <= f.refMainLen + refIdx; ++k)
            ref[k] = f.mainRef[k];
        int const last = f.mainRef[f.refMainLen + refIdx];
        for (int k = 1; k <= pad; ++k)
            ref[f.refMainLen + refIdx + k] = last;
    }
    for (int fy = 0; fy < nH; ++fy) {
        int const pos = (fy + 1 + refIdx) * angle;
        int const iIdx = (pos >> 5) + refIdx;
        int const iFact = pos & 31;
        uint16_t* out = dst + fy * f.rowStep;
        if (luma) {
            int const* c = gaussian ? kFilterG[iFact] : kFilterC[iFact];
            int const c0 = c[0], c1 = c[1], c2 = c[2], c3 = c[3];
            int const* s = ref + iIdx;
            if (f.colStep == 1) {
                // Vertical modes: a contiguous row the compiler can vectorise.
                for (int fx = 0; fx < nW; ++fx) {
                    int const v = (c0 * s[fx] + c1 * s[fx + 1] + c2 * s[fx + 2] + c3 * s[fx + 3] + 32) >> 6;
                    out[fx] = uint16_t(Clip(v, maxVal));
                }
            } else {
                for (int fx = 0; fx < nW; ++fx) {
                    int const v = (c0 * s[fx] + c1 * s[fx + 1] + c2 * s[fx + 2] + c3 * s[fx + 3] + 32) >> 6;
                    out[fx * f.colStep] = uint16_t(Clip(v, maxVal));
                }
            }
        } else if (iFact != 0) {
            for (int fx = 0; fx < nW; ++fx) {
                int const* s = ref + fx + iIdx;
                out[fx * f.colStep] = uint16_t(((32 - iFact) * s[1] + iFact * s[2] + 16) >> 5);
            }
        } else {
            for (int fx = 0; fx < nW; ++fx)
                out[fx * f.colStep] = uint16_t(ref[fx + iIdx + 1]);
        }
    }
    return true;
}

// PDPC of an angular mode in the frame of a vertical mode (mode 50 and above; the horizontal
// ones are transposed): the pure direction adds the side gradient, the positive angles blend in the
// side sample the direction continues to.
void PdpcAngularFrame(AngularFrame const& f, bool pureDirection, int invAngle, int maxVal, uint16_t* dst)
{
    int const nW = f.nW, nH = f.nH;
    int nScale;
    if (pureDirection)
        nScale = (FloorLog2(unsigned(nW)) + FloorLog2(unsigned(nH)) - 2) >> 2;
    else
        nScale = std::min(2, FloorLog2(unsigned(nH)) - FloorLog2(unsigned(3 * invAngle - 2)) + 8);
    if (nScale < 0)
        return;
    int const xMax = std::min(nW, 3 << nScale); // the weight is 0 beyond
    int const corner = f.sideRef[0];
    for (int fy = 0; fy < nH; ++fy) {
        uint16_t* out = dst + fy * f.rowStep;
        for (int fx = 0; fx < xMax; ++fx) {
            int const wL = 32 >> ((fx << 1) >> nScale);
            int const pred = out[fx * f.colStep];
            int refL;
            if (pureDirection) {
                refL = f.sideRef[fy + 1] - corner + pred;
            } else {
                int const dY = ((fx + 1) * invAngle + 256) >> 9;
                refL = f.sideRef[std::min(fy + dY + 1, f.refSideLen)];
            }
            out[fx * f.colStep] = uint16_t(Clip((refL * wL + (64 - wL) * pred + 32) >> 6, maxVal));
        }
    }
}

void PdpcPlanarDc(IntraRefSamples const& r, int w, int h, int maxVal, uint16_t* dst, ptrdiff_t stride)
{
    int const nScale = (FloorLog2(unsigned(w)) + FloorLog2(unsigned(h)) - 2) >> 2;
    auto weight = [nScale](int d) { return 32 >> std::min((d << 1) >> nScale, 6); }; // 0 from 6 on
    // Where both weights are 0 the prediction stays: rows below the top weight's reach change
    // only in the columns the left weight reaches.
    int const reach = 3 << nScale;
    for (int y = 0; y < h; ++y) {
        int const wT = weight(y);
        int const refL = r.left[y + 1];
        int const xEnd = wT != 0 ? w : std::min(w, reach);
        for (int x = 0; x < xEnd; ++x) {
            int const wL = weight(x);
            int const pred = dst[y * stride + x];
            int const v = (refL * wL + r.top[x + 1] * wT + (64 - wL - wT) * pred + 32) >> 6;
            dst[y * stride + x] = uint16_t(Clip(v, maxVal));
        }
    }
}

} // namespace

bool BuildIntraRefSamples(IntraPlane const& plane, int x0, int y0, int refW, int refH, int refIdx, int bitDepth,
                          IntraAvailFn const& avail, int availUnit, IntraRefSamples& out)
{
    out = IntraRefSamples();
    if (!plane.samples || refW < 1 || refH < 1 || refW > kIntraMaxRefLen || refH > kIntraMaxRefLen || refIdx < 0 ||
        refIdx > 2 || bitDepth < 1 || bitDepth > 16)
        return false;
    if (!IsPow2(availUnit))
        availUnit = 1;
    // Runs of availUnit samples: positions inside the plane are not negative, so a shift finds them.
    int log2Unit = 0;
    while ((1 << log2Unit) < availUnit)
        ++log2Unit;
    out.refIdx = refIdx;
    out.refW = refW;
    out.refH = refH;

    // Unavailable samples are found in a linear order: left column bottom-up, corner, top row.
    int const nLeft = refH + refIdx + 1, nTop = refW + refIdx + 1;
    int const n = nLeft + nTop - 1;
    uint16_t val[2 * (kIntraMaxRefLen + 4)];
    bool ok[2 * (kIntraMaxRefLen + 4)];
    int const xl = x0 - 1 - refIdx, yt = y0 - 1 - refIdx;
    auto inPlane = [&](int x, int y) { return x >= 0 && y >= 0 && x < plane.width && y < plane.height; };
    auto sample = [&](int x, int y) { return plane.samples[ptrdiff_t(y) * plane.stride + x]; };

    // Left column, from the bottom (linear index 0) to the corner (nLeft - 1).
    {
        long lastKey = -1;
        bool lastAns = false;
        for (int k = nLeft - 1, i = 0; k >= 0; --k, ++i) {
            int const y = yt + k;
            bool a = false;
            if (inPlane(xl, y)) {
                long const key = y >> log2Unit;
                if (key != lastKey || k == 0) {
                    lastAns = avail ? avail(xl, y) : true;
                    lastKey = k == 0 ? -1 : key; // the corner is asked about on its own
                }
                a = lastAns;
            }
            ok[i] = a;
            val[i] = a ? sample(xl, y) : 0;
        }
    }
    // Top row without the corner.
    {
        long lastKey = -1;
        bool lastAns = false;
        for (int k = 1, i = nLeft; k < nTop; ++k, ++i) {
            int const x = xl + k;
            bool a = false;
            if (inPlane(x, yt)) {
                long const key = x >> log2Unit;
                if (key != lastKey) {
                    lastAns = avail ? avail(x, yt) : true;
                    lastKey = key;
                }
                a = lastAns;
            }
            ok[i] = a;
            val[i] = a ? sample(x, yt) : 0;
        }
    }
    int first = 0;
    while (first < n && !ok[first])
        ++first;
    if (first == n) {
        std::fill(val, val + n, uint16_t(1 << (bitDepth - 1)));
    } else {
        for (int i = 0; i < first; ++i)
            val[i] = val[first];
        for (int i = first + 1; i < n; ++i)
            if (!ok[i])
                val[i] = val[i - 1];
    }
    for (int k = 0; k < nLeft; ++k)
        out.left[k] = val[nLeft - 1 - k];
    out.top[0] = out.left[0];
    for (int k = 1; k < nTop; ++k)
        out.top[k] = val[nLeft - 1 + k];
    return true;
}

void FilterIntraRefSamples(IntraRefSamples& r)
{
    if (r.refIdx != 0 || r.refW < 1 || r.refH < 1)
        return;
    IntraRefSamples f = r;
    f.left[0] = f.top[0] = uint16_t((r.left[1] + 2 * r.left[0] + r.top[1] + 2) >> 2);
    for (int k = 1; k < r.refH; ++k)
        f.left[k] = uint16_t((r.left[k - 1] + 2 * r.left[k] + r.left[k + 1] + 2) >> 2);
    for (int k = 1; k < r.refW; ++k)
        f.top[k] = uint16_t((r.top[k - 1] + 2 * r.top[k] + r.top[k + 1] + 2) >> 2);
    r = f;
}

int MapWideAngleMode(int mode, int nW, int nH)
{
    if (nW <= 0 || nH <= 0 || nW == nH || mode < 2 || mode > 66)
        return mode;
    int const whRatio = std::abs(FloorLog2(unsigned(nW)) - FloorLog2(unsigned(nH)));
    if (nW > nH && mode < (whRatio > 1 ? 8 + 2 * whRatio : 8))
        return mode + 65;
    if (nW < nH && mode > (whRatio > 1 ? 60 - 2 * whRatio : 60))
        return mode - 67;
    return mode;
}

int IntraPredAngle(int mode)
{
    if (mode < -14 || mode > 80 || mode == INTRA_PLANAR || mode == INTRA_DC)
        return 0;
    return kAngle[mode + 14];
}

int IntraInvAngle(int mode)
{
    int const a = IntraPredAngle(mode);
    if (a == 0)
        return 0;
    return a < 0 ? -InvAngleOfAbs(-a) : InvAngleOfAbs(a);
}

int const* IntraFilterC(int phase)
{
    return kFilterC[phase & 31];
}
int const* IntraFilterG(int phase)
{
    return kFilterG[phase & 31];
}

void IntraRefSize(IntraPredParams const& p, int& refW, int& refH)
{
    if (p.isp && p.cIdx == 0) {
        refW = (p.nCbW > 0 ? p.nCbW : p.nTbW) + p.nTbW;
        refH = (p.nCbH > 0 ? p.nCbH : p.nTbH) + p.nTbH;
    } else {
        refW = 2 * p.nTbW;
        refH = 2 * p.nTbH;
    }
}

bool IntraRefFilterApplies(IntraPredParams const& p)
{
    return !p.smoothingDisabled && p.refIdx == 0 && p.cIdx == 0 && !p.isp && p.nTbW * p.nTbH > 32 &&
           IsIntegerSlopeMode(MappedMode(p));
}

bool IntraPdpcApplies(IntraPredParams const& p)
{
    if (p.bdpcm)
        return false;
    // Blocks narrower or lower than 4 (ISP lines, chroma blocks 2 high) are left as predicted.
    if (p.nTbW < 4 || p.nTbH < 4 || (p.cIdx == 0 && p.refIdx != 0))
        return false;
    int const m = MappedMode(p);
    return m == INTRA_PLANAR || m == INTRA_DC || m <= INTRA_ANGULAR18 || m >= INTRA_ANGULAR50;
}

bool PredictIntraFromRefs(IntraPredParams const& p, IntraRefSamples const& r, uint16_t* dst, ptrdiff_t dstStride)
{
    int const w = p.nTbW, h = p.nTbH;
    if (!dst || !ValidBlock(w, h) || p.bitDepth < 1 || p.bitDepth > 16 || p.predModeIntra < 0 || p.predModeIntra > 66 ||
        r.refIdx != (p.cIdx == 0 ? p.refIdx : 0))
        return false;
    int needW, needH;
    IntraRefSize(p, needW, needH);
    if (r.refW < needW || r.refH < needH)
        return false;
    int const maxVal = (1 << p.bitDepth) - 1;
    int const mode = MappedMode(p);
    bool const pdpc = IntraPdpcApplies(p);
    if (mode == INTRA_PLANAR || mode == INTRA_DC) {
        if (mode == INTRA_PLANAR) {
            if (r.refIdx != 0)
                return false;
            PredictPlanar(r, w, h, dst, dstStride);
        } else {
            PredictDc(r, w, h, dst, dstStride);
        }
        if (pdpc && r.refIdx == 0)
            PdpcPlanarDc(r, w, h, maxVal, dst, dstStride);
        return true;
    }

    bool const vertical = mode >= INTRA_ANGULAR34;
    AngularFrame f;
    if (vertical)
        f = {r.top, r.left, w, h, needW, needH, dstStride, 1};
    else
        f = {r.left, r.top, h, w, needH, needW, 1, dstStride};
    int const angle = IntraPredAngle(mode);
    int const invAngle = IntraInvAngle(mode);

    // Luma interpolation: gaussian for directions far enough from horizontal/vertical, except for
    // integer slopes (whose references are [1 2 1] filtered instead), MRL and ISP.
    bool gaussian = false;
    if (p.cIdx == 0 && !p.smoothingDisabled && !IsIntegerSlopeMode(mode) && r.refIdx == 0 && !p.isp) {
        int const nTbS = (FloorLog2(unsigned(w)) + FloorLog2(unsigned(h))) >> 1;
        int const minDist = std::min(std::abs(mode - 50), std::abs(mode - 18));
        gaussian = minDist > kHorVerDistThres[std::min(nTbS, 6)];
    }
    if (!PredictAngularFrame(f, r.refIdx, angle, invAngle, p.cIdx == 0, gaussian, maxVal, dst))
        return false;

    // PDPC: the pure horizontal/vertical directions and the positive angles (modes below 18 and above
    // 50); the negative angles between them are left as predicted.
    if (pdpc && r.refIdx == 0 && angle >= 0)
        PdpcAngularFrame(f, angle == 0, invAngle, maxVal, dst);
    return true;
}

bool PredictIntra(IntraPredParams const& p, IntraPlane const& plane, int x0, int y0, IntraAvailFn const& avail,
                  int availUnit, uint16_t* dst, ptrdiff_t dstStride)
{
    if (!ValidBlock(p.nTbW, p.nTbH))
        return false;
    int refW, refH;
    IntraRefSize(p, refW, refH);
    IntraRefSamples ref;
    int const refIdx = p.cIdx == 0 ? p.refIdx : 0;
    if (!BuildIntraRefSamples(plane, x0, y0, refW, refH, refIdx, p.bitDepth, avail, availUnit, ref))
        return false;
    if (IntraRefFilterApplies(p))
        FilterIntraRefSamples(ref);
    return PredictIntraFromRefs(p, ref, dst, dstStride);
}

// ---------------------------------------------------------------------------------------------
// Cross-component linear model

CclmModel DeriveCclmModel(int const selLuma[4], int const selChroma[4], int count)
{
    CclmModel m;
    int y[4], c[4];
    if (count == 2) {
        y[0] = selLuma[1];
        y[1] = selLuma[0];
        y[2] = selLuma[1];
        y[3] = selLuma[0];
        c[0] = selChroma[1];
        c[1] = selChroma[0];
        c[2] = selChroma[1];
        c[3] = selChroma[0];
    } else if (count == 4) {
        std::copy(selLuma, selLuma + 4, y);
        std::copy(selChroma, selChroma + 4, c);
    } else {
        return m;
    }
    int minIdx[2] = {0, 2}, maxIdx[2] = {1, 3};
    if (y[minIdx[0]] > y[minIdx[1]])
        std::swap(minIdx[0], minIdx[1]);
    if (y[maxIdx[0]] > y[maxIdx[1]])
        std::swap(maxIdx[0], maxIdx[1]);
    if (y[minIdx[0]] > y[maxIdx[1]]) {
        std::swap(minIdx[0], maxIdx[0]);
        std::swap(minIdx[1], maxIdx[1]);
    }
    if (y[minIdx[1]] > y[maxIdx[0]])
        std::swap(minIdx[1], maxIdx[0]);
    int const maxY = (y[maxIdx[0]] + y[maxIdx[1]] + 1) >> 1;
    int const maxC = (c[maxIdx[0]] + c[maxIdx[1]] + 1) >> 1;
    int const minY = (y[minIdx[0]] + y[minIdx[1]] + 1) >> 1;
    int const minC = (c[minIdx[0]] + c[minIdx[1]] + 1) >> 1;

    static constexpr int kDivSig[16] = {0, 7, 6, 5, 5, 4, 4, 3, 3, 2, 2, 1, 1, 1, 1, 0};
    int const diff = maxY - minY;
    if (diff == 0) {
        m.a = 0;
        m.k = 0;
        m.b = minC;
        return m;
    }
    int const diffC = maxC - minC;
    int x = FloorLog2(unsigned(diff));
    int const normDiff = ((diff << 4) >> x) & 15;
    x += normDiff != 0 ? 1 : 0;
    int const yy = diffC != 0 ? FloorLog2(unsigned(std::abs(diffC))) + 1 : 0;
    int const add = yy > 0 ? 1 << (yy - 1) : 0;
    int a = (diffC * (kDivSig[normDiff] | 8) + add) >> yy;
    int k;
    if (3 + x - yy < 1) {
        k = 1;
        a = (a > 0) - (a < 0);
        a *= 15;
    } else {
        k = 3 + x - yy;
    }
    m.a = a;
    m.k = k;
    m.b = minC - ((a * minY) >> k);
    return m;
}

bool PredictCclm(CclmParams const& p, IntraPlane const& luma, IntraPlane const& chroma, IntraAvailFn const& avail,
                 uint16_t* dst, ptrdiff_t dstStride)
{
    int const w = p.nTbW, h = p.nTbH;
    int const sw = p.subWidthC, sh = p.subHeightC;
    if (!dst || !luma.samples || !chroma.samples || !ValidBlock(w, h) || (sw != 1 && sw != 2) || (sh != 1 && sh != 2) ||
        (sh == 2 && sw != 2) || p.bitDepth < 1 || p.bitDepth > 16 || p.predModeIntra < INTRA_LT_CCLM ||
        p.predModeIntra > INTRA_T_CCLM || p.xTbC < 0 || p.yTbC < 0 || p.xTbC + w > chroma.width ||
        p.yTbC + h > chroma.height || !IsPow2(p.ctbSizeY))
        return false;
    int const maxVal = (1 << p.bitDepth) - 1;
    int const xC = p.xTbC, yC = p.yTbC;
    auto chromaAvail = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < chroma.width && y < chroma.height && (!avail || avail(x, y));
    };
    bool const availL = chromaAvail(xC - 1, yC);
    bool const availT = chromaAvail(xC, yC - 1);
    int const mode = p.predModeIntra;

    int numSampT, numSampL;
    if (mode == INTRA_LT_CCLM) {
        numSampT = availT ? w : 0;
        numSampL = availL ? h : 0;
    } else {
        int numTopRight = 0, numLeftBelow = 0;
        if (mode == INTRA_T_CCLM && availT)
            for (int x = w; x < 2 * w && chromaAvail(xC + x, yC - 1); ++x)
                ++numTopRight;
        if (mode == INTRA_L_CCLM && availL)
            for (int y = h; y < 2 * h && chromaAvail(xC - 1, yC + y); ++y)
                ++numLeftBelow;
        numSampT = (availT && mode == INTRA_T_CCLM) ? w + std::min(numTopRight, h) : 0;
        numSampL = (availL && mode == INTRA_L_CCLM) ? h + std::min(numLeftBelow, w) : 0;
    }

    if (numSampT == 0 && numSampL == 0) {
        for (int y = 0; y < h; ++y)
            std::fill(dst + y * dstStride, dst + y * dstStride + w, uint16_t(1 << (p.bitDepth - 1)));
        return true;
    }

    int const xY = xC * sw, yY = yC * sh;
    bool const ctuTop = (yY & (p.ctbSizeY - 1)) == 0;

    // Luma around and inside the block: the left columns x = -3..-1 and top rows y = -3..-1 come from
    // the picture where that side is available and are padded from the block's first column/row
    // otherwise; the corner only comes from the picture when both sides are available.
    int const lumaW = sw * std::max(numSampT, w), lumaH = sh * std::max(numSampL, h);
    auto lumaAt = [&](int x, int y) -> int {
        const int px = std::min(std::max(xY + x, 0), luma.width - 1);
        const int py = std::min(std::max(yY + y, 0), luma.height - 1);
        return luma.samples[ptrdiff_t(py) * luma.stride + px];
    };
    auto pY = [&](int x, int y) -> int {
        if (x < 0 && !availL)
            x = 0;
        if (y < 0 && !availT)
            y = 0;
        x = std::min(x, lumaW - 1);
        y = std::min(y, lumaH - 1);
        return lumaAt(x, y);
    };
    auto dsCollocated = [&](int x, int y) -> int {
        if (sw == 1 && sh == 1)
            return pY(x, y);
        if (sh == 1)
            return (pY(2 * x - 1, y) + 2 * pY(2 * x, y) + pY(2 * x + 1, y) + 2) >> 2;
        if (p.verticalCollocated)
            return (pY(2 * x, 2 * y - 1) + pY(2 * x - 1, 2 * y) + 4 * pY(2 * x, 2 * y) + pY(2 * x + 1, 2 * y) +
                    pY(2 * x, 2 * y + 1) + 4) >>
                   3;
        return (pY(2 * x - 1, 2 * y) + pY(2 * x - 1, 2 * y + 1) + 2 * pY(2 * x, 2 * y) + 2 * pY(2 * x, 2 * y + 1) +
                pY(2 * x + 1, 2 * y) + pY(2 * x + 1, 2 * y + 1) + 4) >>
               3;
    };

    // Pick positions on each side.
    int const numIs4 = (availT && availL && mode == INTRA_LT_CCLM) ? 0 : 1;
    int cntT = 0, cntL = 0, posT[4] = {}, posL[4] = {};
    if (availT && (mode == INTRA_LT_CCLM || mode == INTRA_T_CCLM) && numSampT > 0) {
        int const start = numSampT >> (2 + numIs4), step = std::max(1, numSampT >> (1 + numIs4));
        cntT = std::min(numSampT, (1 + numIs4) << 1);
        for (int i = 0; i < cntT; ++i)
            posT[i] = start + i * step;
    }
    if (availL && (mode == INTRA_LT_CCLM || mode == INTRA_L_CCLM) && numSampL > 0) {
        int const start = numSampL >> (2 + numIs4), step = std::max(1, numSampL >> (1 + numIs4));
        cntL = std::min(numSampL, (1 + numIs4) << 1);
        for (int i = 0; i < cntL; ++i)
            posL[i] = start + i * step;
    }
    int selY[4] = {}, selC[4] = {};
    int n = 0;
    for (int i = 0; i < cntT; ++i, ++n) {
        int const x = posT[i];
        selC[n] = chroma.samples[ptrdiff_t(yC - 1) * chroma.stride + xC + x];
        if (sw == 1 && sh == 1)
            selY[n] = pY(x, -1);
        else if (sh == 1 || ctuTop)
            selY[n] = (pY(2 * x - 1, -1) + 2 * pY(2 * x, -1) + pY(2 * x + 1, -1) + 2) >> 2;
        else if (p.verticalCollocated)
            selY[n] =
                (pY(2 * x, -3) + pY(2 * x - 1, -2) + 4 * pY(2 * x, -2) + pY(2 * x + 1, -2) + pY(2 * x, -1) + 4) >> 3;
        else
            selY[n] = (pY(2 * x - 1, -2) + pY(2 * x - 1, -1) + 2 * pY(2 * x, -2) + 2 * pY(2 * x, -1) +
                       pY(2 * x + 1, -2) + pY(2 * x + 1, -1) + 4) >>
                      3;
    }
    for (int i = 0; i < cntL; ++i, ++n) {
        int const y = posL[i];
        selC[n] = chroma.samples[ptrdiff_t(yC + y) * chroma.stride + xC - 1];
        if (sw == 1 && sh == 1)
            selY[n] = pY(-1, y);
        else if (sh == 1)
            selY[n] = (pY(-3, y) + 2 * pY(-2, y) + pY(-1, y) + 2) >> 2;
        else if (p.verticalCollocated)
            selY[n] =
                (pY(-2, 2 * y - 1) + pY(-3, 2 * y) + 4 * pY(-2, 2 * y) + pY(-1, 2 * y) + pY(-2, 2 * y + 1) + 4) >> 3;
        else
            selY[n] = (pY(-1, 2 * y) + pY(-1, 2 * y + 1) + 2 * pY(-2, 2 * y) + 2 * pY(-2, 2 * y + 1) + pY(-3, 2 * y) +
                       pY(-3, 2 * y + 1) + 4) >>
                      3;
    }
    const CclmModel m = DeriveCclmModel(selY, selC, n);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            dst[y * dstStride + x] = uint16_t(Clip(((dsCollocated(x, y) * m.a) >> m.k) + m.b, maxVal));
    return true;
}
