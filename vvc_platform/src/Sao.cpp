#include "Sao.h"

#include <algorithm>

void ApplySao(PlaneView const& src, uint16_t* dst, ptrdiff_t dstStride, int x0, int y0, int width, int height,
              int bitDepth, SaoParams const& p, std::function<bool(int, int, int, int)> const& usable)
{
    if (!src.samples || !dst || bitDepth < 5 || bitDepth > 16)
        return;
    int const x1 = std::min(x0 + width, src.width), y1 = std::min(y0 + height, src.height);
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    int const maxVal = (1 << bitDepth) - 1;
    auto sample = [&](int x, int y) { return int(src.samples[ptrdiff_t(y) * src.stride + x]); };
    auto put = [&](int x, int y, int v) {
        dst[ptrdiff_t(y) * dstStride + x] = uint16_t(std::min(std::max(v, 0), maxVal));
    };

    if (p.typeIdx == 1) {
        int bandTable[32] = {};
        for (int k = 0; k < 4; ++k)
            bandTable[(k + p.bandPosition) & 31] = k + 1;
        int const shift = bitDepth - 5;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                int const s = sample(x, y);
                put(x, y, s + p.offsetVal[bandTable[(s >> shift) & 31]]);
            }
        return;
    }
    if (p.typeIdx != 2) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                put(x, y, sample(x, y));
        return;
    }
    static int const kPos[4][2][2] = {{{-1, 0}, {1, 0}}, {{0, -1}, {0, 1}}, {{-1, -1}, {1, 1}}, {{1, -1}, {-1, 1}}};
    auto const& pos = kPos[p.eoClass & 3];
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            int const s = sample(x, y);
            int const ax = x + pos[0][0], ay = y + pos[0][1], bx = x + pos[1][0], by = y + pos[1][1];
            bool const inside = ax >= 0 && ay >= 0 && bx >= 0 && by >= 0 && ax < src.width && bx < src.width &&
                                ay < src.height && by < src.height;
            if (!inside || (usable && (!usable(x, y, ax, ay) || !usable(x, y, bx, by)))) {
                put(x, y, s);
                continue;
            }
            int edgeIdx = 2 + sign(s - sample(ax, ay)) + sign(s - sample(bx, by));
            if (edgeIdx <= 2)
                edgeIdx = edgeIdx == 2 ? 0 : edgeIdx + 1;
            put(x, y, s + p.offsetVal[edgeIdx]);
        }
}

void ApplySaoToPicture(SaoPicture const& pic, std::function<bool(int ctu, int cIdx, SaoParams& p)> const& params,
                       std::function<bool(int, int, int, int)> const& usableLuma)
{
    if (pic.ctbSize <= 0 || pic.widthInCtbs <= 0)
        return;
    int const heightInCtbs = (pic.height + pic.ctbSize - 1) / pic.ctbSize;
    for (int c = 0; c < 3; ++c) {
        PlaneView const& src = pic.planes[c];
        if (!src.samples || !pic.out[c])
            continue;
        int const scale = c ? 2 : 1;
        int const ctb = pic.ctbSize / scale;
        std::function<bool(int, int, int, int)> usable;
        if (usableLuma)
            usable = [&](int x, int y, int nx, int ny) {
                return usableLuma(x * scale, y * scale, nx * scale, ny * scale);
            };
        for (int ry = 0; ry < heightInCtbs; ++ry)
            for (int rx = 0; rx < pic.widthInCtbs; ++rx) {
                SaoParams p;
                if (!params(ry * pic.widthInCtbs + rx, c, p))
                    p = SaoParams();
                // Every sample is written: unfiltered CTBs are copied.
                ApplySao(src, pic.out[c], src.stride, rx * ctb, ry * ctb, ctb, ctb, pic.bitDepth, p, usable);
            }
    }
}
