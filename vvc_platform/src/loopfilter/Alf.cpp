#include "loopfilter/Alf.h"
#include "loopfilter/AlfKernelBody.h"
#include "util/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
void AlfLumaRowsAvx2(AlfLumaRowsArgs const& a);
void AlfChromaRowAvx2(AlfChromaRowArgs const& a);
void AlfCcRowAvx2(CcAlfRowArgs const& a);
void AlfClassifyAvx2(AlfClassifyArgs const& a);
#endif

namespace {

std::atomic<bool> gAllowVector{true};

// Samples each filter reads beyond the area it writes: 3 for the luma diamond and the
// classification window, 2 for chroma, 2 luma rows / 1 column for the cross-component filter.
constexpr int kMargin = 4;

int clampInt(int v, int lo, int hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// The area samples may be read from: [left, right) x [top, bottom).
struct Limits
{
    int left, right, top, bottom;
};

// A copy of the rectangle [x0 - kMargin, x0 + w + kMargin) x [y0 - kMargin, y0 + h + kMargin) of a
// plane, with every sample outside the usable area replaced by its nearest usable one. The filters
// then read it without any bounds checks.
class PaddedBlock
{
public:
    void fill(AlfPlaneIn const& p, int x0, int y0, int w, int h, Limits const& lim, int ctbX0, int ctbY0, int ctbX1,
              int ctbY1, uint8_t noCross)
    {
        m_x0 = x0 - kMargin;
        m_y0 = y0 - kMargin;
        m_stride = w + 2 * kMargin;
        int const rows = h + 2 * kMargin;
        // The vector classification reads up to 14 samples past a row's end (into the next row).
        // The buffer only grows: every sample used is written below.
        size_t const need = size_t(m_stride) * size_t(rows) + 16;
        if (m_samples.size() < need)
            m_samples.resize(need);
        bool const padTopLeft = (noCross & kAlfEdgeTopLeft) != 0;
        bool const padBottomRight = (noCross & kAlfEdgeBottomRight) != 0;
        for (int r = 0; r < rows; ++r) {
            int const sy = m_y0 + r;
            int const py = clampInt(sy, lim.top, lim.bottom - 1);
            uint16_t const* src = p.samples + ptrdiff_t(py) * p.stride;
            uint16_t* dst = m_samples.data() + size_t(r) * size_t(m_stride);
            bool const corner = (padTopLeft && sy < ctbY0) || (padBottomRight && sy >= ctbY1);
            if (!corner) {
                // Repeat the first and last usable samples, copy the rest.
                int const lo = std::max(m_x0, lim.left), hi = std::min(m_x0 + m_stride, lim.right);
                int c = 0;
                for (; c < m_stride && m_x0 + c < lo; ++c)
                    dst[c] = src[lim.left];
                if (hi > lo) {
                    std::copy(src + lo, src + hi, dst + c);
                    c += hi - lo;
                }
                for (; c < m_stride; ++c)
                    dst[c] = src[lim.right - 1];
                continue;
            }
            for (int c = 0; c < m_stride; ++c) {
                int px = m_x0 + c;
                if (padTopLeft && px < ctbX0 && sy < ctbY0)
                    px = ctbX0;
                else if (padBottomRight && px >= ctbX1 && sy >= ctbY1)
                    px = ctbX1 - 1;
                dst[c] = src[clampInt(px, lim.left, lim.right - 1)];
            }
        }
    }
    // Row y (absolute), indexed by absolute x.
    uint16_t const* row(int y) const { return m_samples.data() + ptrdiff_t(y - m_y0) * m_stride - m_x0; }
    ptrdiff_t stride() const { return m_stride; }

private:
    std::vector<uint16_t> m_samples;
    int m_x0 = 0, m_y0 = 0, m_stride = 0;
};

bool isVirtualBoundary(std::vector<int> const& list, int pos)
{
    return std::find(list.begin(), list.end(), pos) != list.end();
}

// Cut positions of [a, b) at the virtual boundaries strictly inside it, both ends included.
std::vector<int> cuts(int a, int b, std::vector<int> const& boundaries)
{
    std::vector<int> c{a};
    std::vector<int> inside;
    for (int v : boundaries)
        if (v > a && v < b)
            inside.push_back(v);
    std::sort(inside.begin(), inside.end());
    inside.erase(std::unique(inside.begin(), inside.end()), inside.end());
    c.insert(c.end(), inside.begin(), inside.end());
    c.push_back(b);
    return c;
}

// Usable area of the luma region [x0, x1) x [y0, y1) of the CTB [cx0, cx1) x [cy0, cy1).
Limits regionLimits(AlfPictureInfo const& pic, int x0, int x1, int y0, int y1, int cx0, int cx1, int cy0, int cy1,
                    uint8_t noCross)
{
    Limits l{0, pic.width, 0, pic.height};
    if ((x0 == cx0 && (noCross & kAlfEdgeLeft)) || isVirtualBoundary(pic.virtualBoundaryX, x0))
        l.left = x0;
    if ((x1 == cx1 && (noCross & kAlfEdgeRight)) || isVirtualBoundary(pic.virtualBoundaryX, x1))
        l.right = std::min(x1, pic.width);
    if ((y0 == cy0 && (noCross & kAlfEdgeTop)) || isVirtualBoundary(pic.virtualBoundaryY, y0))
        l.top = y0;
    if ((y1 == cy1 && (noCross & kAlfEdgeBottom)) || isVirtualBoundary(pic.virtualBoundaryY, y1))
        l.bottom = std::min(y1, pic.height);
    return l;
}

// Whether the ALF virtual boundary of the CTB row starting at ctbY applies: only where its row
// lies inside the picture.
bool alfVirtualBoundaryActive(AlfPictureInfo const& pic, int ctbY)
{
    return ctbY + pic.ctbSize - 4 < pic.height;
}

constexpr int kTransposeTaps[4][12] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
    {9, 4, 10, 8, 1, 5, 11, 7, 3, 0, 2, 6},
    {0, 3, 2, 1, 8, 7, 6, 5, 4, 9, 10, 11},
    {9, 8, 10, 4, 3, 7, 11, 5, 1, 0, 2, 6},
};

// Class from the Laplacian sums of a block's window (horizontal, vertical, 135 and 45 degrees) and
// the activity weight.
AlfBlockClass classFromSums(int sumH, int sumV, int sumD0, int sumD1, int ac, int bitDepth)
{
    int hv1, hv0, dirHV, d1, d0, dirD;
    if (sumV > sumH) {
        hv1 = sumV, hv0 = sumH, dirHV = 1;
    } else {
        hv1 = sumH, hv0 = sumV, dirHV = 3;
    }
    if (sumD0 > sumD1) {
        d1 = sumD0, d0 = sumD1, dirD = 0;
    } else {
        d1 = sumD1, d0 = sumD0, dirD = 2;
    }
    int hvd1, hvd0, dir1, dir2;
    if (int64_t(d1) * hv0 > int64_t(hv1) * d0) {
        hvd1 = d1, hvd0 = d0, dir1 = dirD, dir2 = dirHV;
    } else {
        hvd1 = hv1, hvd0 = hv0, dir1 = dirHV, dir2 = dirD;
    }
    int dirS = 0;
    if (int64_t(hvd1) * 2 > int64_t(hvd0) * 9)
        dirS = 2;
    else if (hvd1 > int64_t(hvd0) * 2)
        dirS = 1;
    const int64_t act = (int64_t(sumH + sumV) * ac) >> (bitDepth + 4);
    int filtIdx = kAlfActivityTable[act > 15 ? 15 : int(act)];
    if (dirS)
        filtIdx += (((dir1 & 1) << 1) + dirS) * 5;
    AlfBlockClass cls;
    cls.filtIdx = uint8_t(filtIdx);
    cls.transposeIdx = uint8_t(kAlfTransposeTable[dir1 * 2 + (dir2 >> 1)]);
    return cls;
}

// The portable classification, from the subsampled Laplacians over each block's 8x8 window
// (positions where x + y is even), computed once per row and summed per window. Next to the
// virtual boundary the window stops at it (six rows, activity weighted 96 instead of 64), and the
// vertical neighbours of the rows beside it repeat the row itself: only those windows read them.
void alfClassifyPortable(AlfClassifyArgs const& a)
{
    int const nbx = a.blocksX, nby = a.blocksY;
    int const rows = 4 * nby + 4; // -2 .. 4 nby + 1
    int const per = 2 * nbx + 2;  // subsampled positions per row
    int const vb = a.vbRow, bitDepth = a.bitDepth, clsStride = a.clsStride;
    uint16_t const* const src = a.src;
    ptrdiff_t const stride = a.stride;
    AlfBlockClass* const cls = a.cls;
    auto row = [&](int y) { return src + ptrdiff_t(y) * stride; };
    // Per row and block column: the four Laplacian sums over the block's four positions of the row.
    // The Laplacians are computed at every position of the row (a loop that vectorises) and the
    // sums take the subsampled ones.
    std::vector<int32_t> rowSums(size_t(rows) * size_t(nbx) * 4);
    int const span = 2 * per; // positions -2 .. 4 nbx + 1
    std::vector<int32_t> lap(size_t(span) * 4);
    int32_t* const lapH = lap.data();
    int32_t* const lapV = lapH + span;
    int32_t* const lapD0 = lapV + span;
    int32_t* const lapD1 = lapD0 + span;
    for (int r = 0; r < rows; ++r) {
        int const yy = r - 2;
        int const yu = yy == vb ? yy : yy - 1;
        int const yd = yy == vb - 1 ? yy : yy + 1;
        uint16_t const* up = row(yu) - 2;
        uint16_t const* cur = row(yy) - 2;
        uint16_t const* dn = row(yd) - 2;
        for (int k = 0; k < span; ++k) {
            int const c2 = 2 * int(cur[k]);
            lapH[k] = std::abs(c2 - cur[k - 1] - cur[k + 1]);
            lapV[k] = std::abs(c2 - up[k] - dn[k]);
            lapD0[k] = std::abs(c2 - up[k - 1] - dn[k + 1]);
            lapD1[k] = std::abs(c2 - up[k + 1] - dn[k - 1]);
        }
        int const first = yy & 1; // the subsampled positions of the row: -2 + first + 2k
        int32_t* out = rowSums.data() + size_t(r) * size_t(nbx) * 4;
        int32_t const* const dirs[4] = {lapH, lapV, lapD0, lapD1};
        for (int m = 0; m < nbx; ++m)
            for (int d = 0; d < 4; ++d) {
                int32_t const* l = dirs[d] + first + 4 * m;
                out[4 * m + d] = l[0] + l[2] + l[4] + l[6];
            }
    }
    for (int j = 0; j < nby; ++j) {
        int minJ = -2, maxJ = 5, ac = 64;
        if (4 * j == vb - 4) {
            maxJ = 3;
            ac = 96;
        } else if (4 * j == vb) {
            minJ = 0;
            ac = 96;
        }
        for (int m = 0; m < nbx; ++m) {
            int sum[4] = {};
            for (int dy = minJ; dy <= maxJ; ++dy) {
                int32_t const* rs = rowSums.data() + (size_t(4 * j + dy + 2) * size_t(nbx) + size_t(m)) * 4;
                for (int d = 0; d < 4; ++d)
                    sum[d] += rs[d];
            }
            cls[ptrdiff_t(j) * clsStride + m] = classFromSums(sum[0], sum[1], sum[2], sum[3], ac, bitDepth);
        }
    }
}

// Classes of all 4x4 blocks of the region [x0, x1) x [y0, y1) (x0, y0 multiples of 4) into
// cls[(by / 4) * clsStride + bx / 4].
void classifyRegion(PaddedBlock const& b, int x0, int x1, int y0, int y1, int ctbY, int ctbSize, bool vbActive,
                    int bitDepth, std::vector<AlfBlockClass>& cls, int clsStride, AlfKernels const& kernels)
{
    AlfClassifyArgs a;
    a.src = b.row(y0) + x0;
    a.stride = b.stride();
    a.blocksX = (x1 - x0 + 3) / 4;
    a.blocksY = (y1 - y0 + 3) / 4;
    a.vbRow = vbActive ? ctbY + ctbSize - 4 - y0 : kAlfNoVirtualBoundary;
    a.bitDepth = bitDepth;
    a.cls = cls.data();
    a.clsStride = clsStride;
    kernels.classify(a);
}

// One row of the portable luma diamond: rows[] as in AlfLumaRowsArgs::src, coeff[j][x] and
// clip[j][x] tap j's coefficient and clipping value for column x.
struct AlfLumaRowArgs
{
    uint16_t const* rows[7] = {};
    int32_t const* coeff[12] = {};
    int32_t const* clip[12] = {};
    uint16_t* dst = nullptr;
    int width = 0;
    int shift = 7;
    int maxVal = 1023;
};

void alfLumaRowBody(AlfLumaRowArgs const& a)
{
    uint16_t const* __restrict p0 = a.rows[0];
    uint16_t const* __restrict pU1 = a.rows[1];
    uint16_t const* __restrict pD1 = a.rows[2];
    uint16_t const* __restrict pU2 = a.rows[3];
    uint16_t const* __restrict pD2 = a.rows[4];
    uint16_t const* __restrict pU3 = a.rows[5];
    uint16_t const* __restrict pD3 = a.rows[6];
    int32_t const* __restrict f0 = a.coeff[0];
    int32_t const* __restrict c0 = a.clip[0];
    int32_t const* __restrict f1 = a.coeff[1];
    int32_t const* __restrict c1 = a.clip[1];
    int32_t const* __restrict f2 = a.coeff[2];
    int32_t const* __restrict c2 = a.clip[2];
    int32_t const* __restrict f3 = a.coeff[3];
    int32_t const* __restrict c3 = a.clip[3];
    int32_t const* __restrict f4 = a.coeff[4];
    int32_t const* __restrict c4 = a.clip[4];
    int32_t const* __restrict f5 = a.coeff[5];
    int32_t const* __restrict c5 = a.clip[5];
    int32_t const* __restrict f6 = a.coeff[6];
    int32_t const* __restrict c6 = a.clip[6];
    int32_t const* __restrict f7 = a.coeff[7];
    int32_t const* __restrict c7 = a.clip[7];
    int32_t const* __restrict f8 = a.coeff[8];
    int32_t const* __restrict c8 = a.clip[8];
    int32_t const* __restrict f9 = a.coeff[9];
    int32_t const* __restrict c9 = a.clip[9];
    int32_t const* __restrict f10 = a.coeff[10];
    int32_t const* __restrict c10 = a.clip[10];
    int32_t const* __restrict f11 = a.coeff[11];
    int32_t const* __restrict c11 = a.clip[11];
    uint16_t* __restrict dst = a.dst;
    int const round = 1 << (a.shift - 1), shift = a.shift, maxVal = a.maxVal;
    for (int x = 0; x < a.width; ++x) {
        int const cur = p0[x];
        int sum = f0[x] * (alfClipDiff(pD3[x], cur, c0[x]) + alfClipDiff(pU3[x], cur, c0[x]));
        sum += f1[x] * (alfClipDiff(pD2[x + 1], cur, c1[x]) + alfClipDiff(pU2[x - 1], cur, c1[x]));
        sum += f2[x] * (alfClipDiff(pD2[x], cur, c2[x]) + alfClipDiff(pU2[x], cur, c2[x]));
        sum += f3[x] * (alfClipDiff(pD2[x - 1], cur, c3[x]) + alfClipDiff(pU2[x + 1], cur, c3[x]));
        sum += f4[x] * (alfClipDiff(pD1[x + 2], cur, c4[x]) + alfClipDiff(pU1[x - 2], cur, c4[x]));
        sum += f5[x] * (alfClipDiff(pD1[x + 1], cur, c5[x]) + alfClipDiff(pU1[x - 1], cur, c5[x]));
        sum += f6[x] * (alfClipDiff(pD1[x], cur, c6[x]) + alfClipDiff(pU1[x], cur, c6[x]));
        sum += f7[x] * (alfClipDiff(pD1[x - 1], cur, c7[x]) + alfClipDiff(pU1[x + 1], cur, c7[x]));
        sum += f8[x] * (alfClipDiff(pD1[x - 2], cur, c8[x]) + alfClipDiff(pU1[x + 2], cur, c8[x]));
        sum += f9[x] * (alfClipDiff(p0[x + 3], cur, c9[x]) + alfClipDiff(p0[x - 3], cur, c9[x]));
        sum += f10[x] * (alfClipDiff(p0[x + 2], cur, c10[x]) + alfClipDiff(p0[x - 2], cur, c10[x]));
        sum += f11[x] * (alfClipDiff(p0[x + 1], cur, c11[x]) + alfClipDiff(p0[x - 1], cur, c11[x]));
        dst[x] = uint16_t(alfClamp(cur + ((sum + round) >> shift), maxVal));
    }
}

// The portable luma kernel: the taps of each block are spread over its columns first, so the
// row loop runs over plain arrays.
void alfLumaRowsPortable(AlfLumaRowsArgs const& a)
{
    int const w = a.width;
    thread_local std::vector<int32_t> taps;
    if (taps.size() < size_t(2 * kAlfLumaTaps) * size_t(w))
        taps.resize(size_t(2 * kAlfLumaTaps) * size_t(w));
    AlfLumaRowArgs row;
    for (int j = 0; j < kAlfLumaTaps; ++j) {
        row.coeff[j] = taps.data() + size_t(j) * size_t(w);
        row.clip[j] = taps.data() + size_t(kAlfLumaTaps + j) * size_t(w);
    }
    for (int bx = 0; bx < w; bx += 4) {
        AlfLumaBlockTaps const& t = a.taps[bx >> 2];
        int32_t* fc = taps.data() + size_t(bx);
        int32_t* cc = taps.data() + size_t(kAlfLumaTaps) * size_t(w) + size_t(bx);
        if (bx + 4 <= w) {
            // A whole block: four equal values per tap (one vector store each).
            for (int j = 0; j < kAlfLumaTaps; ++j, fc += w, cc += w) {
                fc[0] = fc[1] = fc[2] = fc[3] = t.coeff[j];
                cc[0] = cc[1] = cc[2] = cc[3] = t.clip[j];
            }
            continue;
        }
        for (int j = 0; j < kAlfLumaTaps; ++j, fc += w, cc += w)
            for (int x = 0; x < w - bx; ++x) {
                fc[x] = t.coeff[j];
                cc[x] = t.clip[j];
            }
    }
    row.width = w;
    row.maxVal = a.maxVal;
    for (int r = 0; r < a.rows; ++r) {
        for (int k = 0; k < 7; ++k)
            row.rows[k] = a.src[r][k];
        row.dst = a.dst[r];
        row.shift = a.shift[r];
        alfLumaRowBody(row);
    }
}

// Luma 7x7 diamond over [x0, x1) x [y0, y1); cls holds the classes of the 4x4 blocks from (x0, y0).
// The kernel runs per block row with the transposed taps of its blocks.
void filterLuma(PaddedBlock const& b, AlfPlaneOut const& out, int x0, int x1, int y0, int y1, int ctbY, int ctbSize,
                bool vbActive, int bitDepth, AlfLumaFilterSet const& fs, std::vector<AlfBlockClass> const& cls,
                int clsStride, AlfKernels const& kernels)
{
    int const w = x1 - x0, nbx = (w + 3) / 4;
    thread_local std::vector<AlfLumaBlockTaps> taps;
    if (taps.size() < size_t(nbx))
        taps.resize(size_t(nbx));
    // The transposed taps of each (class, transpose index) the region uses, derived once.
    thread_local std::vector<AlfLumaBlockTaps> variants(size_t(kAlfNumClasses) * 4);
    bool derived[kAlfNumClasses * 4] = {};
    AlfLumaRowsArgs args;
    args.taps = taps.data();
    args.width = w;
    args.maxVal = (1 << bitDepth) - 1;
    for (int by = y0; by < y1; by += 4) {
        AlfBlockClass const* clsRow = cls.data() + size_t((by - y0) >> 2) * size_t(clsStride);
        for (int bx = 0; bx < nbx; ++bx) {
            const AlfBlockClass k = clsRow[bx];
            int const v = k.filtIdx * 4 + k.transposeIdx;
            AlfLumaBlockTaps& vt = variants[size_t(v)];
            if (!derived[v]) {
                int const* t = kTransposeTaps[k.transposeIdx];
                for (int j = 0; j < kAlfLumaTaps; ++j) {
                    vt.coeff[j] = fs.coeff[k.filtIdx][t[j]];
                    vt.clip[j] = fs.clip[k.filtIdx][t[j]];
                }
                derived[v] = true;
            }
            taps[size_t(bx)] = vt;
        }
        args.rows = std::min(4, y1 - by);
        for (int r = 0; r < args.rows; ++r) {
            int const y = by + r, yr = y - ctbY;
            int d1 = 1, d2 = 2, d3 = 3, shift = 7;
            if (vbActive) {
                if (yr == ctbSize - 5 || yr == ctbSize - 4) {
                    d1 = d2 = d3 = 0;
                    shift = 10;
                } else if (yr == ctbSize - 6 || yr == ctbSize - 3) {
                    d1 = d2 = d3 = 1;
                } else if (yr == ctbSize - 7 || yr == ctbSize - 2) {
                    d2 = d3 = 2;
                }
            }
            int const offsets[7] = {0, -d1, d1, -d2, d2, -d3, d3};
            for (int k = 0; k < 7; ++k)
                args.src[r][k] = b.row(y + offsets[k]) + x0;
            args.dst[r] = out.samples + ptrdiff_t(y) * out.stride + x0;
            args.shift[r] = shift;
        }
        kernels.lumaRows(args);
    }
}

// Chroma 5x5 diamond over [x0, x1) x [y0, y1) (chroma samples; ctbY and ctbSize in chroma rows).
void filterChroma(PaddedBlock const& b, AlfPlaneOut const& out, int x0, int x1, int y0, int y1, int ctbY, int ctbSize,
                  bool vbActive, int bitDepth, AlfChromaFilter const& fl, AlfKernels const& kernels)
{
    AlfChromaRowArgs args;
    for (int j = 0; j < 6; ++j) {
        args.coeff[j] = fl.coeff[j];
        args.clip[j] = fl.clip[j];
    }
    args.width = x1 - x0;
    args.maxVal = (1 << bitDepth) - 1;
    for (int y = y0; y < y1; ++y) {
        int const yr = y - ctbY;
        int d1 = 1, d2 = 2, shift = 7;
        if (vbActive) {
            if (yr == ctbSize - 2 || yr == ctbSize - 3) {
                d1 = d2 = 0;
                shift = 10;
            } else if (yr == ctbSize - 1 || yr == ctbSize - 4) {
                d2 = 1;
            }
        }
        int const offsets[5] = {0, -d1, d1, -d2, d2};
        for (int r = 0; r < 5; ++r)
            args.rows[r] = b.row(y + offsets[r]) + x0;
        args.dst = out.samples + ptrdiff_t(y) * out.stride + x0;
        args.shift = shift;
        kernels.chromaRow(args);
    }
}

// Adds the cross-component correction from luma (4:2:0) to the chroma output over the chroma area
// [x0, x1) x [y0, y1); ctbY and ctbSize in luma rows.
void filterCrossComponent(PaddedBlock const& luma, AlfPlaneOut const& out, int x0, int x1, int y0, int y1, int ctbY,
                          int ctbSize, bool vbActive, int bitDepthC, CcAlfFilter const& fl, AlfKernels const& kernels)
{
    CcAlfRowArgs args;
    for (int j = 0; j < 7; ++j)
        args.coeff[j] = fl.coeff[j];
    args.width = x1 - x0;
    args.bitDepth = bitDepthC;
    for (int y = y0; y < y1; ++y) {
        int const yL = 2 * y;
        int const yr = yL - ctbY;
        int yM1 = -1, yP1 = 1, yP2 = 2;
        if (vbActive) {
            if (yr == ctbSize - 5 || yr == ctbSize - 4)
                yM1 = yP1 = yP2 = 0;
            else if (yr == ctbSize - 6 || yr == ctbSize - 3)
                yP2 = 1;
        }
        int const offsets[4] = {0, yM1, yP1, yP2};
        for (int r = 0; r < 4; ++r)
            args.luma[r] = luma.row(yL + offsets[r]) + 2 * x0;
        args.dst = out.samples + ptrdiff_t(y) * out.stride + x0;
        kernels.ccRow(args);
    }
}

void copyArea(AlfPlaneIn const& in, AlfPlaneOut const& out, int x0, int x1, int y0, int y1)
{
    for (int y = y0; y < y1; ++y)
        std::copy(in.samples + ptrdiff_t(y) * in.stride + x0, in.samples + ptrdiff_t(y) * in.stride + x1,
                  out.samples + ptrdiff_t(y) * out.stride + x0);
}

bool validBitDepth(int bd)
{
    return bd >= 8 && bd <= 16;
}

AlfStatus checkPicture(AlfPictureInfo const& pic, AlfPlaneIn const in[], AlfPlaneOut const out[])
{
    if (pic.chromaFormatIdc != 0 && pic.chromaFormatIdc != 1)
        return AlfStatus::UnsupportedFormat;
    if (!validBitDepth(pic.bitDepthLuma) || !validBitDepth(pic.bitDepthChroma))
        return AlfStatus::UnsupportedFormat;
    if (pic.ctbSize != 16 && pic.ctbSize != 32 && pic.ctbSize != 64 && pic.ctbSize != 128)
        return AlfStatus::InvalidArgument;
    if (pic.width <= 0 || pic.height <= 0 || pic.width > (1 << 16) || pic.height > (1 << 16) || !in || !out)
        return AlfStatus::InvalidArgument;
    int const planes = pic.chromaFormatIdc ? 3 : 1;
    for (int c = 0; c < planes; ++c) {
        int const w = c ? (pic.width + 1) / 2 : pic.width;
        int const h = c ? (pic.height + 1) / 2 : pic.height;
        if (!in[c].samples || !out[c].samples || in[c].width < w || in[c].height < h || out[c].width < w ||
            out[c].height < h || in[c].stride < w || out[c].stride < w)
            return AlfStatus::InvalidArgument;
    }
    return AlfStatus::Ok;
}

AlfStatus checkCtb(AlfPictureInfo const& pic, int ctbX, int ctbY, AlfCtbParams const& ctb)
{
    if (ctbX < 0 || ctbY < 0 || ctbX >= pic.width || ctbY >= pic.height || ctbX % pic.ctbSize || ctbY % pic.ctbSize)
        return AlfStatus::InvalidArgument;
    bool const chroma = pic.chromaFormatIdc != 0;
    bool const any =
        ctb.enabled[0] || (chroma && (ctb.enabled[1] || ctb.enabled[2] || ctb.ccAlfIdc[0] || ctb.ccAlfIdc[1]));
    if (!any)
        return AlfStatus::Ok;
    AlfSliceFilters const* f = ctb.filters;
    if (!f)
        return AlfStatus::MissingFilter;
    if (ctb.enabled[0]) {
        int const s = ctb.lumaFilterSet;
        if (s < 0 || (s >= kAlfNumFixedSets && size_t(s - kAlfNumFixedSets) >= f->lumaAps.size()))
            return AlfStatus::MissingFilter;
    }
    if (!chroma)
        return AlfStatus::Ok;
    for (int c = 0; c < 2; ++c) {
        if (ctb.enabled[c + 1] && (ctb.chromaAltIdx[c] < 0 || size_t(ctb.chromaAltIdx[c]) >= f->chromaAlt.size()))
            return AlfStatus::MissingFilter;
        if (ctb.ccAlfIdc[c] < 0 || size_t(ctb.ccAlfIdc[c]) > f->cc[c].size())
            return AlfStatus::MissingFilter;
    }
    return AlfStatus::Ok;
}

// Filters a CTB that passed the checks.
void filterCtb(AlfPictureInfo const& pic, AlfPlaneIn const in[], AlfPlaneOut const out[], int ctbX, int ctbY,
               AlfCtbParams const& ctb)
{
    int const S = pic.ctbSize;
    int const cx1 = std::min(ctbX + S, pic.width), cy1 = std::min(ctbY + S, pic.height);
    bool const chroma = pic.chromaFormatIdc != 0;
    bool const vbActive = alfVirtualBoundaryActive(pic, ctbY);
    bool const lumaOn = ctb.enabled[0];
    bool const chromaOn[2] = {chroma && ctb.enabled[1], chroma && ctb.enabled[2]};
    bool const ccOn[2] = {chroma && ctb.ccAlfIdc[0] > 0, chroma && ctb.ccAlfIdc[1] > 0};
    AlfSliceFilters const* f = ctb.filters;
    AlfKernels const& kernels = AlfActiveKernels();

    AlfLumaFilterSet const* lumaSet = nullptr;
    if (lumaOn)
        lumaSet = ctb.lumaFilterSet < kAlfNumFixedSets ? &f->fixedSets[ctb.lumaFilterSet]
                                                       : &f->lumaAps[size_t(ctb.lumaFilterSet - kAlfNumFixedSets)];

    const std::vector<int> xs = cuts(ctbX, cx1, pic.virtualBoundaryX);
    const std::vector<int> ys = cuts(ctbY, cy1, pic.virtualBoundaryY);
    // Per thread, reused from CTB to CTB (no allocation or clearing per CTB).
    thread_local PaddedBlock lumaBlock, chromaBlock;
    thread_local std::vector<AlfBlockClass> cls;
    for (size_t iy = 0; iy + 1 < ys.size(); ++iy) {
        for (size_t ix = 0; ix + 1 < xs.size(); ++ix) {
            int const x0 = xs[ix], x1 = xs[ix + 1], y0 = ys[iy], y1 = ys[iy + 1];
            const Limits lim = regionLimits(pic, x0, x1, y0, y1, ctbX, cx1, ctbY, cy1, ctb.noCross);
            bool const needLuma = lumaOn || ccOn[0] || ccOn[1];
            if (needLuma) {
                int const w4 = (x1 - x0 + 3) & ~3, h4 = (y1 - y0 + 3) & ~3;
                lumaBlock.fill(in[0], x0, y0, w4, h4, lim, ctbX, ctbY, cx1, cy1, ctb.noCross);
            }
            if (lumaOn) {
                int const clsStride = (x1 - x0 + 3) / 4;
                cls.resize(size_t(clsStride) * size_t((y1 - y0 + 3) / 4));
                classifyRegion(lumaBlock, x0, x1, y0, y1, ctbY, S, vbActive, pic.bitDepthLuma, cls, clsStride,
                               kernels);
                filterLuma(lumaBlock, out[0], x0, x1, y0, y1, ctbY, S, vbActive, pic.bitDepthLuma, *lumaSet, cls,
                           clsStride, kernels);
            } else {
                copyArea(in[0], out[0], x0, x1, y0, y1);
            }
            if (!chroma)
                continue;
            // 4:2:0: the chroma area of the region, rounding odd picture sizes up.
            int const cw = (pic.width + 1) / 2, ch = (pic.height + 1) / 2;
            int const c0x = x0 / 2, c1x = std::min((x1 + 1) / 2, cw), c0y = y0 / 2, c1y = std::min((y1 + 1) / 2, ch);
            const Limits climRaw = regionLimits(pic, x0, x1, y0, y1, ctbX, cx1, ctbY, cy1, ctb.noCross);
            const Limits clim{climRaw.left / 2, std::min((climRaw.right + 1) / 2, cw), climRaw.top / 2,
                              std::min((climRaw.bottom + 1) / 2, ch)};
            for (int c = 0; c < 2; ++c) {
                if (chromaOn[c]) {
                    chromaBlock.fill(in[c + 1], c0x, c0y, c1x - c0x, c1y - c0y, clim, ctbX / 2, ctbY / 2, (cx1 + 1) / 2,
                                     (cy1 + 1) / 2, ctb.noCross);
                    filterChroma(chromaBlock, out[c + 1], c0x, c1x, c0y, c1y, ctbY / 2, S / 2, vbActive,
                                 pic.bitDepthChroma, f->chromaAlt[size_t(ctb.chromaAltIdx[c])], kernels);
                } else {
                    copyArea(in[c + 1], out[c + 1], c0x, c1x, c0y, c1y);
                }
                if (ccOn[c])
                    filterCrossComponent(lumaBlock, out[c + 1], c0x, c1x, c0y, c1y, ctbY, S, vbActive,
                                         pic.bitDepthChroma, f->cc[c][size_t(ctb.ccAlfIdc[c] - 1)], kernels);
            }
        }
    }
}

} // namespace

AlfKernels const& AlfPortableKernels()
{
    static AlfKernels const k{"portable", &alfLumaRowsPortable, &alfChromaRowBody, &alfCcRowBody,
                                &alfClassifyPortable};
    return k;
}

AlfKernels const* AlfVectorKernels()
{
#if defined(__x86_64__) || defined(__i386__)
    static bool const sHas = __builtin_cpu_supports("avx2");
    static AlfKernels const k{"avx2", &AlfLumaRowsAvx2, &AlfChromaRowAvx2, &AlfCcRowAvx2,
                                &AlfClassifyAvx2};
    return sHas ? &k : nullptr;
#else
    return nullptr;
#endif
}

void AlfAllowVectorKernels(bool allow)
{
    gAllowVector = allow;
}

AlfKernels const& AlfActiveKernels()
{
    AlfKernels const* v = gAllowVector ? AlfVectorKernels() : nullptr;
    return v ? *v : AlfPortableKernels();
}

int AlfClipValue(int clipIdx, int bitDepth)
{
    if (clipIdx <= 0)
        return 1 << bitDepth;
    return 1 << (bitDepth - 1 - 2 * std::min(clipIdx, 3));
}

AlfStatus AlfFixedFilterSet(int setIdx, int bitDepth, AlfLumaFilterSet& out)
{
    if (setIdx < 0 || setIdx >= kAlfNumFixedSets)
        return AlfStatus::MissingFilter;
    if (!validBitDepth(bitDepth))
        return AlfStatus::UnsupportedFormat;
    for (int k = 0; k < kAlfNumClasses; ++k)
        for (int j = 0; j < kAlfLumaTaps; ++j) {
            out.coeff[k][j] = kAlfFixedFilterCoeff[kAlfClassToFilter[setIdx][k]][j];
            out.clip[k][j] = 1 << bitDepth;
        }
    return AlfStatus::Ok;
}

AlfStatus AlfApsLumaFilterSet(AlfApsData const& aps, int bitDepth, AlfLumaFilterSet& out)
{
    if (!validBitDepth(bitDepth))
        return AlfStatus::UnsupportedFormat;
    int const n = aps.lumaNumFilters;
    if (!aps.lumaSignal || n < 1 || n > kAlfNumClasses || aps.lumaCoeff.size() < size_t(n))
        return AlfStatus::MissingFilter;
    bool const clips = aps.lumaClipIdx.size() >= size_t(n);
    for (int k = 0; k < kAlfNumClasses; ++k) {
        int const idx = aps.lumaCoeffDeltaIdx[k];
        if (idx < 0 || idx >= n)
            return AlfStatus::MissingFilter;
        for (int j = 0; j < kAlfLumaTaps; ++j) {
            out.coeff[k][j] = int16_t(clampInt(aps.lumaCoeff[size_t(idx)][size_t(j)], -128, 127));
            int const ci = clips ? aps.lumaClipIdx[size_t(idx)][size_t(j)] : 0;
            out.clip[k][j] = AlfClipValue(clampInt(ci, 0, 3), bitDepth);
        }
    }
    return AlfStatus::Ok;
}

AlfStatus AlfApsChromaFilter(AlfApsData const& aps, int altIdx, int bitDepth, AlfChromaFilter& out)
{
    if (!validBitDepth(bitDepth))
        return AlfStatus::UnsupportedFormat;
    if (!aps.chromaSignal || altIdx < 0 || altIdx >= aps.chromaNumAltFilters || altIdx >= kAlfMaxChromaAlt ||
        aps.chromaCoeff.size() <= size_t(altIdx))
        return AlfStatus::MissingFilter;
    bool const clips = aps.chromaClipIdx.size() > size_t(altIdx);
    for (int j = 0; j < kAlfChromaTaps; ++j) {
        out.coeff[j] = int16_t(clampInt(aps.chromaCoeff[size_t(altIdx)][size_t(j)], -128, 127));
        int const ci = clips ? aps.chromaClipIdx[size_t(altIdx)][size_t(j)] : 0;
        out.clip[j] = AlfClipValue(clampInt(ci, 0, 3), bitDepth);
    }
    return AlfStatus::Ok;
}

AlfStatus CcAlfApsFilter(AlfApsData const& aps, int comp, int filterIdx, CcAlfFilter& out)
{
    if (comp < 0 || comp > 1)
        return AlfStatus::InvalidArgument;
    bool const signalled = comp == 0 ? aps.ccCbSignal : aps.ccCrSignal;
    if (!signalled || filterIdx < 0 || filterIdx >= aps.ccNumFilters[comp] || filterIdx >= kCcAlfMaxFilters ||
        aps.ccCoeff[comp].size() <= size_t(filterIdx))
        return AlfStatus::MissingFilter;
    for (int j = 0; j < kCcAlfTaps; ++j)
        out.coeff[j] = int16_t(clampInt(aps.ccCoeff[comp][size_t(filterIdx)][size_t(j)], -64, 64));
    return AlfStatus::Ok;
}

AlfStatus BuildAlfSliceFilters(AlfApsData const* const* lumaAps, int numLumaAps, AlfApsData const* chromaAps,
                               AlfApsData const* const ccAps[2], int bitDepthLuma, int bitDepthChroma,
                               AlfSliceFilters& out)
{
    if (!validBitDepth(bitDepthLuma) || !validBitDepth(bitDepthChroma))
        return AlfStatus::UnsupportedFormat;
    if (numLumaAps < 0 || numLumaAps > kAlfMaxLumaAps || (numLumaAps > 0 && !lumaAps))
        return AlfStatus::InvalidArgument;
    for (int s = 0; s < kAlfNumFixedSets; ++s)
        AlfFixedFilterSet(s, bitDepthLuma, out.fixedSets[s]);
    out.lumaAps.assign(size_t(numLumaAps), AlfLumaFilterSet{});
    for (int k = 0; k < numLumaAps; ++k) {
        if (!lumaAps[k])
            return AlfStatus::MissingFilter;
        const AlfStatus st = AlfApsLumaFilterSet(*lumaAps[k], bitDepthLuma, out.lumaAps[size_t(k)]);
        if (st != AlfStatus::Ok)
            return st;
    }
    out.chromaAlt.clear();
    if (chromaAps) {
        if (!chromaAps->chromaSignal)
            return AlfStatus::MissingFilter;
        int const n = std::min(chromaAps->chromaNumAltFilters, kAlfMaxChromaAlt);
        out.chromaAlt.resize(size_t(std::max(n, 0)));
        for (int a = 0; a < n; ++a) {
            const AlfStatus st = AlfApsChromaFilter(*chromaAps, a, bitDepthChroma, out.chromaAlt[size_t(a)]);
            if (st != AlfStatus::Ok)
                return st;
        }
    }
    for (int c = 0; c < 2; ++c) {
        out.cc[c].clear();
        AlfApsData const* a = ccAps ? ccAps[c] : nullptr;
        if (!a)
            continue;
        if (!(c == 0 ? a->ccCbSignal : a->ccCrSignal))
            return AlfStatus::MissingFilter;
        int const n = std::min(a->ccNumFilters[c], kCcAlfMaxFilters);
        out.cc[c].resize(size_t(std::max(n, 0)));
        for (int k = 0; k < n; ++k) {
            const AlfStatus st = CcAlfApsFilter(*a, c, k, out.cc[c][size_t(k)]);
            if (st != AlfStatus::Ok)
                return st;
        }
    }
    return AlfStatus::Ok;
}

AlfStatus AlfClassifyLuma(AlfPictureInfo const& pic, AlfPlaneIn const& luma, int ctbX, int ctbY, uint8_t noCross,
                          int x0, int y0, int w, int h, AlfBlockClass* cls, int clsStride)
{
    if (!validBitDepth(pic.bitDepthLuma))
        return AlfStatus::UnsupportedFormat;
    if (!luma.samples || !cls || pic.width <= 0 || pic.height <= 0 || luma.width < pic.width ||
        luma.height < pic.height || luma.stride < pic.width || pic.ctbSize < 16 || pic.ctbSize > 128 ||
        (pic.ctbSize & (pic.ctbSize - 1)))
        return AlfStatus::InvalidArgument;
    int const S = pic.ctbSize;
    int const cx1 = std::min(ctbX + S, pic.width), cy1 = std::min(ctbY + S, pic.height);
    if (ctbX < 0 || ctbY < 0 || ctbX % S || ctbY % S || ctbX >= pic.width || ctbY >= pic.height ||
        (x0 | y0 | w | h) & 3 || x0 < ctbX || y0 < ctbY || w <= 0 || h <= 0 || x0 + w > ctbX + S || y0 + h > ctbY + S ||
        clsStride < w / 4)
        return AlfStatus::InvalidArgument;
    const Limits lim = regionLimits(pic, ctbX, cx1, ctbY, cy1, ctbX, cx1, ctbY, cy1, noCross);
    PaddedBlock b;
    b.fill(luma, x0, y0, w, h, lim, ctbX, ctbY, cx1, cy1, noCross);
    bool const vbActive = alfVirtualBoundaryActive(pic, ctbY);
    std::vector<AlfBlockClass> all(size_t(w / 4) * size_t(h / 4));
    classifyRegion(b, x0, x0 + w, y0, y0 + h, ctbY, S, vbActive, pic.bitDepthLuma, all, w / 4, AlfActiveKernels());
    for (int j = 0; j < h / 4; ++j)
        std::copy(all.begin() + ptrdiff_t(j) * (w / 4), all.begin() + ptrdiff_t(j + 1) * (w / 4),
                  cls + ptrdiff_t(j) * clsStride);
    return AlfStatus::Ok;
}

AlfStatus ApplyAlfCtb(AlfPictureInfo const& pic, AlfPlaneIn const in[], AlfPlaneOut const out[], int ctbX, int ctbY,
                      AlfCtbParams const& ctb)
{
    AlfStatus st = checkPicture(pic, in, out);
    if (st == AlfStatus::Ok)
        st = checkCtb(pic, ctbX, ctbY, ctb);
    if (st != AlfStatus::Ok)
        return st;
    filterCtb(pic, in, out, ctbX, ctbY, ctb);
    return AlfStatus::Ok;
}

AlfStatus ApplyAlfPicture(AlfPictureInfo const& pic, AlfPlaneIn const in[], AlfPlaneOut const out[],
                          std::vector<AlfCtbParams> const& ctbs)
{
    return ApplyAlfRows(pic, in, out, ctbs, 0, pic.ctbSize > 0 ? (pic.height + pic.ctbSize - 1) / pic.ctbSize : 0);
}

AlfStatus ApplyAlfRows(AlfPictureInfo const& pic, AlfPlaneIn const in[], AlfPlaneOut const out[],
                       std::vector<AlfCtbParams> const& ctbs, int ctbRowBegin, int ctbRowEnd)
{
    AlfStatus st = checkPicture(pic, in, out);
    if (st != AlfStatus::Ok)
        return st;
    int const cols = (pic.width + pic.ctbSize - 1) / pic.ctbSize, rows = (pic.height + pic.ctbSize - 1) / pic.ctbSize;
    if (ctbs.size() != size_t(cols) * size_t(rows))
        return AlfStatus::InvalidArgument;
    ctbRowBegin = std::max(ctbRowBegin, 0);
    ctbRowEnd = std::min(ctbRowEnd, rows);
    if (ctbRowBegin >= ctbRowEnd)
        return AlfStatus::Ok;
    // Everything is checked before anything is written: refused rows leave the output as it was.
    for (int r = ctbRowBegin; r < ctbRowEnd; ++r)
        for (int c = 0; c < cols; ++c)
            if ((st = checkCtb(pic, c * pic.ctbSize, r * pic.ctbSize, ctbs[size_t(r) * size_t(cols) + size_t(c)])) !=
                AlfStatus::Ok)
                return st;
    // Each CTB reads the input and writes only its own area of the output: they run in parallel.
    int const first = ctbRowBegin * cols;
    vvcutil::ParallelFor((ctbRowEnd - ctbRowBegin) * cols, [&](int i) {
        int const r = (first + i) / cols, c = (first + i) % cols;
        filterCtb(pic, in, out, c * pic.ctbSize, r * pic.ctbSize, ctbs[size_t(first + i)]);
    });
    return AlfStatus::Ok;
}
