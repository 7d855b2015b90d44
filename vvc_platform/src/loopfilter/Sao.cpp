#include "loopfilter/Sao.h"
#include "loopfilter/SaoKernelBody.h"
#include "util/WorkerPool.h"

#include <algorithm>
#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
void SaoEdgeRowAvx2(SaoEdgeRowArgs const& a);
#endif

namespace {

std::atomic<bool> gAllowVector{true};

inline int Sign(int v)
{
    return (v > 0) - (v < 0);
}

inline bool Across(std::vector<int> const& vbs, int a, int b)
{
    for (int v : vbs)
        if ((a < v) != (b < v))
            return true;
    return false;
}

inline uint16_t Clip(int v, int maxVal)
{
    return uint16_t(std::min(std::max(v, 0), maxVal));
}

} // namespace

void ApplySao(PlaneView const& src, uint16_t* dst, ptrdiff_t dstStride, int x0, int y0, int width, int height,
              int bitDepth, SaoParams const& p, SaoNeighbours const& nb, int rowBegin, int rowEnd)
{
    if (!src.samples || !dst || bitDepth < 5 || bitDepth > 16)
        return;
    int const x1 = std::min(x0 + width, src.width), y1 = std::min(y0 + height, src.height);
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    // The rows written; y0 and y1 stay the block's bounds.
    int const r0 = std::max(y0, rowBegin), r1 = std::min(y1, rowEnd);
    if (x0 >= x1 || r0 >= r1)
        return;
    int const maxVal = (1 << bitDepth) - 1;
    auto srcRow = [&](int y) { return src.samples + ptrdiff_t(y) * src.stride; };
    auto dstRow = [&](int y) { return dst + ptrdiff_t(y) * dstStride; };

    if (p.typeIdx == 1) {
        int bandTable[32] = {};
        for (int k = 0; k < 4; ++k)
            bandTable[(k + p.bandPosition) & 31] = k + 1;
        int bandOffset[32];
        for (int k = 0; k < 32; ++k)
            bandOffset[k] = p.offsetVal[bandTable[k]];
        int const shift = bitDepth - 5;
        for (int y = r0; y < r1; ++y) {
            uint16_t const* s = srcRow(y);
            uint16_t* d = dstRow(y);
            for (int x = x0; x < x1; ++x)
                d[x] = Clip(s[x] + bandOffset[(s[x] >> shift) & 31], maxVal);
        }
        return;
    }
    if (p.typeIdx != 2) {
        for (int y = r0; y < r1; ++y)
            std::copy(srcRow(y) + x0, srcRow(y) + x1, dstRow(y) + x0);
        return;
    }
    static int const kPos[4][2][2] = {{{-1, 0}, {1, 0}}, {{0, -1}, {0, 1}}, {{-1, -1}, {1, 1}}, {{1, -1}, {-1, 1}}};
    auto const& pos = kPos[p.eoClass & 3];
    int const dxA = pos[0][0], dyA = pos[0][1], dxB = pos[1][0], dyB = pos[1][1];
    // Offsets by 2 + the two signs: a local minimum takes offset 1, a concave corner 2, a flat
    // sample none, a convex corner 3, a local maximum 4.
    int const off[5] = {p.offsetVal[1], p.offsetVal[2], 0, p.offsetVal[3], p.offsetVal[4]};
    SaoKernels const& kernels = SaoActiveKernels();
    // The neighbouring block (-1, 0, 1 per axis) of a neighbour position.
    auto blockX = [&](int nx) { return nx < x0 ? 0 : nx >= x1 ? 2 : 1; };
    auto blockY = [&](int ny) { return ny < y0 ? 0 : ny >= y1 ? 2 : 1; };
    // One sample with every rule checked: the block's edge columns and the columns next to a
    // virtual boundary.
    auto one = [&](int x, int y) {
        int const s = srcRow(y)[x];
        int const ax = x + dxA, ay = y + dyA, bx = x + dxB, by = y + dyB;
        bool const usable = ax >= 0 && ay >= 0 && bx >= 0 && by >= 0 && ax < src.width && bx < src.width &&
                            ay < src.height && by < src.height && nb.block[blockY(ay)][blockX(ax)] &&
                            nb.block[blockY(by)][blockX(bx)] && !Across(nb.vbX, x, ax) && !Across(nb.vbX, x, bx) &&
                            !Across(nb.vbY, y, ay) && !Across(nb.vbY, y, by);
        dstRow(y)[x] =
            usable ? Clip(s + off[2 + Sign(s - srcRow(ay)[ax]) + Sign(s - srcRow(by)[bx])], maxVal) : uint16_t(s);
    };
    // Columns whose both neighbours are inside the plane.
    int const xs = std::max(x0, dxA < 0 || dxB < 0 ? 1 : 0);
    int const xe = std::min(x1, src.width - (dxA > 0 || dxB > 0 ? 1 : 0));
    for (int y = r0; y < r1; ++y) {
        uint16_t const* s = srcRow(y);
        uint16_t* d = dstRow(y);
        int const ay = y + dyA, by = y + dyB;
        bool const rowUsable = ay >= 0 && by >= 0 && ay < src.height && by < src.height && !Across(nb.vbY, y, ay) &&
                               !Across(nb.vbY, y, by);
        if (!rowUsable) {
            std::copy(s + x0, s + x1, d + x0);
            continue;
        }
        // The inner columns: their neighbours are in the block's column, so only the neighbour
        // rows' blocks decide.
        if (nb.block[blockY(ay)][1] && nb.block[blockY(by)][1] && xs < xe) {
            SaoEdgeRowArgs row;
            row.cur = s + xs;
            row.a = srcRow(ay) + dxA + xs;
            row.b = srcRow(by) + dxB + xs;
            row.dst = d + xs;
            row.width = xe - xs;
            std::copy(off, off + 5, row.offset);
            row.maxVal = maxVal;
            std::copy(s + x0, s + xs, d + x0);
            kernels.edgeRow(row);
            std::copy(s + xe, s + x1, d + xe);
        } else {
            std::copy(s + x0, s + x1, d + x0);
        }
        if (dxA == 0 && dxB == 0 && nb.vbX.empty())
            continue;
        one(x0, y);
        if (x1 - 1 > x0)
            one(x1 - 1, y);
        for (int v : nb.vbX)
            for (int x : {v - 1, v})
                if (x > x0 && x < x1 - 1)
                    one(x, y);
    }
}

bool ApplySaoToPicture(SaoPicture const& pic, std::function<bool(int ctu, int cIdx, SaoParams& p)> const& params,
                       std::function<bool(int ctuA, int ctuB)> const& closed)
{
    return ApplySaoToRows(pic, params, closed, 0, pic.ctbSize > 0 ? (pic.height + pic.ctbSize - 1) / pic.ctbSize : 0);
}

bool ApplySaoToRows(SaoPicture const& pic, std::function<bool(int ctu, int cIdx, SaoParams& p)> const& params,
                    std::function<bool(int ctuA, int ctuB)> const& closed, int ctbRowBegin, int ctbRowEnd)
{
    // The first luma line of a CTB row, inside the picture.
    auto line = [&](int row) { return int(std::clamp<int64_t>(int64_t(row) * pic.ctbSize, 0, pic.height)); };
    return ApplySaoToLines(pic, params, closed, line(ctbRowBegin), line(ctbRowEnd));
}

bool ApplySaoToLines(SaoPicture const& pic, std::function<bool(int ctu, int cIdx, SaoParams& p)> const& params,
                     std::function<bool(int ctuA, int ctuB)> const& closed, int lineBegin, int lineEnd)
{
    if (pic.ctbSize <= 0 || pic.widthInCtbs <= 0 || int64_t(pic.widthInCtbs) * pic.ctbSize < pic.width ||
        pic.bitDepth < 5 || pic.bitDepth > 16)
        return false;
    int const heightInCtbs = (pic.height + pic.ctbSize - 1) / pic.ctbSize;
    lineBegin = std::max(lineBegin, 0);
    lineEnd = std::min(lineEnd, pic.height);
    if (lineBegin >= lineEnd)
        return true;
    int const ctbRowBegin = lineBegin / pic.ctbSize;
    int const ctbRowEnd = std::min(heightInCtbs, (lineEnd + pic.ctbSize - 1) / pic.ctbSize);
    int const rowCount = ctbRowEnd - ctbRowBegin;
    // Every CTB reads the deblocked input and writes its own area of the output: the CTB rows of
    // the planes run in parallel.
    vvcutil::ParallelFor(3 * rowCount, [&](int item) {
        int const c = item / rowCount, ry = ctbRowBegin + item % rowCount;
        PlaneView const& src = pic.planes[c];
        if (!src.samples || !pic.out[c])
            return;
        int const scale = c ? 2 : 1;
        int const ctb = pic.ctbSize / scale;
        // The plane's lines of the luma lines (the last chroma line of an odd height included).
        int const rowBegin = lineBegin / scale, rowEnd = (lineEnd + scale - 1) / scale;
        // A luma boundary at v separates plane positions below and from ceil(v / scale) on.
        SaoNeighbours nb;
        for (int v : pic.vbX)
            nb.vbX.push_back((v + scale - 1) / scale);
        for (int v : pic.vbY)
            nb.vbY.push_back((v + scale - 1) / scale);
        for (int rx = 0; rx < pic.widthInCtbs; ++rx) {
            int const ctu = ry * pic.widthInCtbs + rx;
            SaoParams p;
            if (!params(ctu, c, p))
                p = SaoParams();
            if (p.typeIdx == 2)
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        int const nx = rx + dx, ny = ry + dy;
                        bool const inside = nx >= 0 && ny >= 0 && nx < pic.widthInCtbs && ny < heightInCtbs;
                        nb.block[dy + 1][dx + 1] = !inside || !closed || !closed(ctu, ny * pic.widthInCtbs + nx);
                    }
            // Every sample is written: unfiltered CTBs are copied.
            ApplySao(src, pic.out[c], src.stride, rx * ctb, ry * ctb, ctb, ctb, pic.bitDepth, p, nb, rowBegin, rowEnd);
        }
    });
    return true;
}

SaoKernels const& SaoPortableKernels()
{
    static SaoKernels const k{"portable", &saoEdgeRowBody};
    return k;
}

SaoKernels const* SaoVectorKernels()
{
#if defined(__x86_64__) || defined(__i386__)
    static bool const sHas = __builtin_cpu_supports("avx2");
    static SaoKernels const k{"avx2", &SaoEdgeRowAvx2};
    return sHas ? &k : nullptr;
#else
    return nullptr;
#endif
}

void SaoAllowVectorKernels(bool allow)
{
    gAllowVector = allow;
}

SaoKernels const& SaoActiveKernels()
{
    SaoKernels const* v = gAllowVector ? SaoVectorKernels() : nullptr;
    return v ? *v : SaoPortableKernels();
}
