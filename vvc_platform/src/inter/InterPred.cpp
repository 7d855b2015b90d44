// The prediction of whole blocks: per list interpolation into the intermediate buffers, the
// refinements (DMVR, BDOF, PROF) and the weighting into the destination.

#include "inter/InterPred.h"

#include <algorithm>

namespace vvcinter {
namespace {

constexpr int kPredStride = kMaxCuSize + 2;

int SubX(ChromaFormat f, int cIdx) { return cIdx && (f == CHROMA_420 || f == CHROMA_422) ? 1 : 0; }
int SubY(ChromaFormat f, int cIdx) { return cIdx && f == CHROMA_420 ? 1 : 0; }

// The motion vector of a chroma plane in 1/32 sample units.
Mv ChromaMv(Mv mv, int sx, int sy) { return {mv.x * 2 >> sx, mv.y * 2 >> sy}; }

int ClipMvComponent(int v) { return std::min(std::max(v, -(1 << 17)), (1 << 17) - 1); }

RefClamp PlaneClamp(InterPicture const& pic, RefPlane const& plane, int cIdx, bool wrap = true)
{
    int const sx = SubX(pic.chromaFormat, cIdx), sy = SubY(pic.chromaFormat, cIdx);
    RefClamp c;
    c.right = plane.width - 1;
    c.bottom = plane.height - 1;
    if (pic.subpicClamp) {
        c.left = pic.subpicLeft >> sx;
        c.top = pic.subpicTop >> sy;
        c.right = std::min(c.right, pic.subpicRight >> sx);
        c.bottom = std::min(c.bottom, pic.subpicBottom >> sy);
    }
    if (wrap && pic.wrapAround && pic.wrapOffset > 0) {
        c.wrapOffset = pic.wrapOffset >> sx;
        c.picWidth = pic.width >> sx;
    }
    return c;
}

// The scaling ratios (1 << 14 for equal sizes) between the scaling windows of a reference and
// the current picture; `scaled` when positions need the scaled derivation.
struct RefScale
{
    int hori = 1 << 14, vert = 1 << 14;
    bool scaled = false;
};

RefScale ScaleOf(InterPicture const& pic, RefPicture const& ref)
{
    RefScale r;
    if (pic.scalingWidth <= 0 || pic.scalingHeight <= 0 || ref.scalingWidth <= 0 || ref.scalingHeight <= 0)
        return r;
    r.hori = int(((int64_t(ref.scalingWidth) << 14) + (pic.scalingWidth >> 1)) / pic.scalingWidth);
    r.vert = int(((int64_t(ref.scalingHeight) << 14) + (pic.scalingHeight >> 1)) / pic.scalingHeight);
    r.scaled = r.hori != (1 << 14) || r.vert != (1 << 14) || ref.scalingLeft != pic.scalingLeft ||
               ref.scalingTop != pic.scalingTop;
    return r;
}

// A reference of another picture size or scaling window than the current picture (when both
// windows are known). Even at the ratio 1 DMVR, BDOF, PROF and wrap-around do not apply to it.
bool Resampled(InterPicture const& pic, RefPicture const& ref)
{
    if (pic.scalingWidth <= 0 || pic.scalingHeight <= 0 || ref.scalingWidth <= 0 || ref.scalingHeight <= 0)
        return false;
    // Equal picture sizes, left/top offsets and window sizes make the right/bottom offsets equal.
    return ref.planes[0].width != pic.width || ref.planes[0].height != pic.height ||
           ref.scalingLeft != pic.scalingLeft || ref.scalingTop != pic.scalingTop ||
           ref.scalingWidth != pic.scalingWidth || ref.scalingHeight != pic.scalingHeight;
}

// The position of sample (0, 0) of a block at (x, y) of plane cIdx in the scaled reference, and
// the step per sample.
ScaledPosition ScaledStart(InterPicture const& pic, RefPicture const& ref, RefScale const& sc, int cIdx, int x, int y,
                           Mv mv)
{
    int const sx = SubX(pic.chromaFormat, cIdx), sy = SubY(pic.chromaFormat, cIdx);
    // Sample 0 in the current picture's window, moved by the vector, scaled, rounded to 1/1024
    // (ties away from zero), then placed in the reference's window.
    auto start = [](int pos, int offsetCur, int offsetRef, int mvc, int scale, int sub, int add) {
        int64_t const p = (int64_t(pos) * (1 << sub) - offsetCur) >> sub;
        int64_t const v = (p * (int64_t(16) << sub) + mvc) * scale + add;
        int64_t const r = ((v < 0 ? -v : v) + (int64_t(1) << (7 + sub))) >> (8 + sub);
        return (v < 0 ? -r : r) + int64_t(offsetRef) * (int64_t(1) << (10 - sub));
    };
    ScaledPosition s;
    int const addX = cIdx && !pic.chromaHorCollocated ? 8 * (sc.hori - (1 << 14)) : 0;
    int const addY = cIdx && !pic.chromaVerCollocated ? 8 * (sc.vert - (1 << 14)) : 0;
    s.x0 = start(x, pic.scalingLeft, ref.scalingLeft, mv.x, sc.hori, sx, addX);
    s.y0 = start(y, pic.scalingTop, ref.scalingTop, mv.y, sc.vert, sy, addY);
    s.stepX = (sc.hori + 8) >> 4;
    s.stepY = (sc.vert + 8) >> 4;
    s.scaleX = sc.hori;
    s.scaleY = sc.vert;
    s.fracBits = 4 + (cIdx ? sx : 0);
    return s;
}

// What DMVR's refined prediction of a w x h subblock may read: the reference block of the
// unrefined integer motion (sample (0, 0) at (x, y)) with the taps of an N-tap filter,
// [x - N / 2 + 1, x + w - 1 + N / 2] and likewise vertically; beyond it the edge repeats.
RefClamp DmvrBox(int x, int y, int w, int h, int taps)
{
    RefClamp b;
    b.boxLeft = x - taps / 2 + 1;
    b.boxRight = x + w - 1 + taps / 2;
    b.boxTop = y - taps / 2 + 1;
    b.boxBottom = y + h - 1 + taps / 2;
    return b;
}

bool ValidBlock(int w, int h)
{
    return w >= 1 && h >= 1 && w <= kMaxCuSize && h <= kMaxCuSize;
}

bool UsablePlane(RefPlane const& p)
{
    return p.samples && p.width > 0 && p.height > 0 && p.stride >= p.width;
}

} // namespace

InterPredictor::InterPredictor()
{
    for (auto& p : m_pred)
        p.resize(size_t(kPredStride) * kPredStride);
    for (auto& b : m_bilinear)
        b.resize(size_t(kMaxCuSize + 4) * (kMaxCuSize + 4));
}

bool InterPredictor::predictList(InterPicture const& pic, RefPicture const& ref, int cIdx, int x, int y, int w, int h,
                                 Mv mv, LumaFilter filter, bool border, RefClamp const* box, int32_t* dst,
                                 ptrdiff_t dstStride)
{
    RefPlane const& plane = ref.planes[cIdx];
    if (!UsablePlane(plane))
        return false;
    RefClamp clamp = PlaneClamp(pic, plane, cIdx, !Resampled(pic, ref));
    if (box) {
        clamp.box = true;
        clamp.boxLeft = box->boxLeft;
        clamp.boxTop = box->boxTop;
        clamp.boxRight = box->boxRight;
        clamp.boxBottom = box->boxBottom;
    }
    int const sx = SubX(pic.chromaFormat, cIdx), sy = SubY(pic.chromaFormat, cIdx);
    int xInt, yInt, xFrac, yFrac, halfBit;
    int32_t* inner = border ? dst + dstStride + 1 : dst;
    RefScale const sc = ScaleOf(pic, ref);
    if (sc.scaled) {
        // Positions in the reference picture are per sample; the refinements are not applied.
        InterpolateScaled(plane, clamp, ScaledStart(pic, ref, sc, cIdx, x, y, mv), cIdx, filter, w, h, pic.bitDepth,
                          dst, dstStride, m_scratch);
        return !border;
    }
    if (cIdx == 0) {
        xInt = x + (mv.x >> 4);
        yInt = y + (mv.y >> 4);
        xFrac = mv.x & 15;
        yFrac = mv.y & 15;
        halfBit = 3;
        InterpolateLuma(plane, clamp, xInt, yInt, xFrac, yFrac, w, h, pic.bitDepth, filter, inner, dstStride,
                        m_scratch);
    } else {
        Mv const c = ChromaMv(mv, sx, sy);
        xInt = x + (c.x >> 5);
        yInt = y + (c.y >> 5);
        xFrac = c.x & 31;
        yFrac = c.y & 31;
        halfBit = 4;
        InterpolateChroma(plane, clamp, xInt, yInt, xFrac, yFrac, w, h, pic.bitDepth, inner, dstStride, m_scratch);
    }
    if (border) {
        // Border samples at the integer position nearest to their fractional one.
        int const bx = xInt + (xFrac >> halfBit) - 1, by = yInt + (yFrac >> halfBit) - 1;
        int const shift3 = std::max(2, 14 - pic.bitDepth);
        int cols[kPredStride];
        for (int i = 0; i < w + 2; i++)
            cols[i] = clamp.x(bx + i);
        AwaitRows(plane, clamp.y(by + h + 1));
        for (int j = 0; j < h + 2; j++) {
            uint16_t const* row = plane.samples + ptrdiff_t(clamp.y(by + j)) * plane.stride;
            int32_t* out = dst + j * dstStride;
            if (j == 0 || j == h + 1) {
                for (int i = 0; i < w + 2; i++)
                    out[i] = int32_t(row[cols[i]]) << shift3;
            } else {
                out[0] = int32_t(row[cols[0]]) << shift3;
                out[w + 1] = int32_t(row[cols[w + 1]]) << shift3;
            }
        }
    }
    return true;
}

void InterPredictor::weight(InterPicture const& pic, int cIdx, int32_t const* p0, int32_t const* p1, ptrdiff_t stride,
                            int w, int h, int bcwIdx, WeightParams const* const* weights, bool const* useList,
                            uint16_t* dst, ptrdiff_t dstStride)
{
    int const bd = pic.bitDepth;
    if (useList[0] && useList[1]) {
        if (bcwIdx != 0)
            BiBcw(p0, p1, stride, w, h, bd, bcwIdx, dst, dstStride);
        else if (weights[0] && weights[1])
            WeightedPrediction(p0, p1, stride, w, h, bd, cIdx, weights[0], weights[1], dst, dstStride);
        else
            BiAverage(p0, p1, stride, w, h, bd, dst, dstStride);
        return;
    }
    int const l = useList[0] ? 0 : 1;
    int32_t const* p = l == 0 ? p0 : p1;
    if (weights[l])
        WeightedPrediction(p, nullptr, stride, w, h, bd, cIdx, weights[l], nullptr, dst, dstStride);
    else
        UniToSamples(p, stride, w, h, bd, dst, dstStride);
}

bool InterPredictor::predict(InterPicture const& pic, InterBlock const& blk, PredBuf const& dst, DmvrResult* dmvr)
{
    if (dmvr)
        *dmvr = DmvrResult();
    if (!ValidBlock(blk.width, blk.height) || (!blk.useList[0] && !blk.useList[1]))
        return false;
    for (int l = 0; l < 2; l++)
        if (blk.useList[l] && !blk.ref[l])
            return false;
    bool const chroma = blk.chroma && pic.chromaFormat != CHROMA_400;
    if ((blk.luma && !dst.samples[0]) || (chroma && (!dst.samples[1] || !dst.samples[2])))
        return false;
    int const sx = SubX(pic.chromaFormat, 1), sy = SubY(pic.chromaFormat, 1);
    int const w = blk.width, h = blk.height, bd = pic.bitDepth;
    bool const bi = blk.useList[0] && blk.useList[1];
    LumaFilter const filter = blk.altHalfPel ? LUMA_ALT_HALF : LUMA_REGULAR;
    bool ok = true;

    bool const refined = bi && (blk.dmvr || blk.bdof) && w >= 8 && h >= 8 && !Resampled(pic, *blk.ref[0]) &&
                         !Resampled(pic, *blk.ref[1]);
    if (refined) {
        // Subblocks of at most 16x16, each refined and predicted on its own.
        int const sbW = std::min(16, w), sbH = std::min(16, h);
        ptrdiff_t const bs = w + 4;
        if (blk.dmvr)
            for (int l = 0; l < 2; l++) {
                RefPlane const& plane = blk.ref[l]->planes[0];
                if (!UsablePlane(plane))
                    return false;
                Mv const mv = blk.mv[l];
                InterpolateBilinear(plane, PlaneClamp(pic, plane, 0), blk.x - 2 + (mv.x >> 4), blk.y - 2 + (mv.y >> 4),
                                    mv.x & 15, mv.y & 15, w + 4, h + 4, bd, m_bilinear[l].data(), bs, m_scratch);
            }
        if (dmvr && blk.dmvr) {
            dmvr->numX = w / sbW;
            dmvr->numY = h / sbH;
        }
        for (int y0 = 0; y0 < h; y0 += sbH)
            for (int x0 = 0; x0 < w; x0 += sbW) {
                Mv mv[2] = {blk.mv[0], blk.mv[1]};
                bool bdof = blk.bdof;
                if (blk.dmvr) {
                    ptrdiff_t const at = (y0 + 2) * bs + x0 + 2;
                    DmvrRefinement const r = DmvrSearch(m_bilinear[0].data() + at, m_bilinear[1].data() + at, bs, sbW, sbH);
                    mv[0] = {ClipMvComponent(mv[0].x + r.delta.x), ClipMvComponent(mv[0].y + r.delta.y)};
                    mv[1] = {ClipMvComponent(mv[1].x - r.delta.x), ClipMvComponent(mv[1].y - r.delta.y)};
                    if (r.minSad < 2 * sbW * sbH)
                        bdof = false;
                    if (dmvr)
                        dmvr->delta[(y0 / sbH) * dmvr->numX + x0 / sbW] = r.delta;
                }
                int const xs = blk.x + x0, ys = blk.y + y0;
                if (blk.luma) {
                    for (int l = 0; l < 2; l++) {
                        RefClamp const box =
                            DmvrBox(xs + (blk.mv[l].x >> 4), ys + (blk.mv[l].y >> 4), sbW, sbH, 8);
                        ok = ok && predictList(pic, *blk.ref[l], 0, xs, ys, sbW, sbH, mv[l], filter, bdof,
                                               blk.dmvr ? &box : nullptr, m_pred[l].data(), sbW + 2);
                    }
                    uint16_t* out = dst.samples[0] + y0 * dst.stride[0] + x0;
                    if (bdof)
                        BdofBlock(m_pred[0].data(), m_pred[1].data(), sbW + 2, sbW, sbH, bd, out, dst.stride[0]);
                    else
                        BiAverage(m_pred[0].data(), m_pred[1].data(), sbW + 2, sbW, sbH, bd, out, dst.stride[0]);
                }
                if (chroma && blk.dmvr) {
                    int const cw = sbW >> sx, ch = sbH >> sy;
                    for (int c = 1; c < 3; c++) {
                        for (int l = 0; l < 2; l++) {
                            Mv const mc = ChromaMv(blk.mv[l], sx, sy);
                            RefClamp const box = DmvrBox((xs >> sx) + (mc.x >> 5), (ys >> sy) + (mc.y >> 5), cw, ch, 4);
                            ok = ok && predictList(pic, *blk.ref[l], c, xs >> sx, ys >> sy, cw, ch, mv[l], filter,
                                                   false, &box, m_pred[l].data(), cw);
                        }
                        BiAverage(m_pred[0].data(), m_pred[1].data(), cw, cw, ch, bd,
                                  dst.samples[c] + (y0 >> sy) * dst.stride[c] + (x0 >> sx), dst.stride[c]);
                    }
                }
            }
        if (chroma && !blk.dmvr) {
            int const cw = w >> sx, ch = h >> sy;
            for (int c = 1; c < 3; c++) {
                for (int l = 0; l < 2; l++)
                    ok = ok && predictList(pic, *blk.ref[l], c, blk.x >> sx, blk.y >> sy, cw, ch, blk.mv[l], filter,
                                           false, nullptr, m_pred[l].data(), cw);
                BiAverage(m_pred[0].data(), m_pred[1].data(), cw, cw, ch, bd, dst.samples[c], dst.stride[c]);
            }
        }
        return ok;
    }

    for (int c = blk.luma ? 0 : 1; c < (chroma ? 3 : 1); c++) {
        int const csx = SubX(pic.chromaFormat, c), csy = SubY(pic.chromaFormat, c);
        int const cw = w >> csx, ch = h >> csy;
        for (int l = 0; l < 2; l++)
            if (blk.useList[l])
                ok = ok && predictList(pic, *blk.ref[l], c, blk.x >> csx, blk.y >> csy, cw, ch, blk.mv[l], filter,
                                       false, nullptr, m_pred[l].data(), cw);
        if (ok)
            weight(pic, c, m_pred[0].data(), m_pred[1].data(), cw, cw, ch, blk.bcwIdx, blk.weights, blk.useList,
                   dst.samples[c], dst.stride[c]);
    }
    return ok;
}

bool InterPredictor::predictAffine(InterPicture const& pic, AffineBlock const& blk, PredBuf const& dst)
{
    int const w = blk.width, h = blk.height, bd = pic.bitDepth;
    if (!ValidBlock(w, h) || (w & 3) || (h & 3) || (!blk.useList[0] && !blk.useList[1]))
        return false;
    for (int l = 0; l < 2; l++)
        if (blk.useList[l] && (!blk.ref[l] || !blk.subblockMv[l]))
            return false;
    bool const chroma = blk.chroma && pic.chromaFormat != CHROMA_400;
    if ((blk.luma && !dst.samples[0]) || (chroma && (!dst.samples[1] || !dst.samples[2])))
        return false;
    int const nx = w / 4, ny = h / 4;
    bool ok = true;
    if (blk.luma) {
        for (int l = 0; l < 2; l++) {
            if (!blk.useList[l])
                continue;
            int diffMv[16][2];
            bool const prof = blk.prof[l] && !Resampled(pic, *blk.ref[l]);
            if (prof)
                ProfDiffMv(blk.dHorX[l], blk.dHorY[l], blk.dVerX[l], blk.dVerY[l], bd, diffMv);
            int32_t sub[6 * 6];
            for (int j = 0; j < ny; j++)
                for (int i = 0; i < nx; i++) {
                    Mv const mv = blk.subblockMv[l][j * nx + i];
                    ok = ok && predictList(pic, *blk.ref[l], 0, blk.x + 4 * i, blk.y + 4 * j, 4, 4, mv, LUMA_AFFINE,
                                           prof, nullptr, sub, 6);
                    int32_t const* inner = sub;
                    ptrdiff_t innerStride = 6;
                    if (prof) {
                        ProfBlock(sub, 6, diffMv, bd);
                        inner = sub + 7;
                    }
                    int32_t* out = m_pred[l].data() + (4 * j) * w + 4 * i;
                    for (int y = 0; y < 4; y++)
                        std::copy(inner + y * innerStride, inner + y * innerStride + 4, out + y * w);
                }
        }
        if (ok)
            weight(pic, 0, m_pred[0].data(), m_pred[1].data(), w, w, h, blk.bcwIdx, blk.weights, blk.useList,
                   dst.samples[0], dst.stride[0]);
    }
    if (chroma) {
        // Chroma subblocks of 4x4 chroma samples take the average motion of the luma subblocks at
        // their top-left and bottom-right corners.
        int const sx = SubX(pic.chromaFormat, 1), sy = SubY(pic.chromaFormat, 1);
        int const cw = w >> sx, ch = h >> sy;
        for (int c = 1; c < 3; c++) {
            for (int l = 0; l < 2; l++) {
                if (!blk.useList[l])
                    continue;
                for (int j = 0; j < ch / 4; j++)
                    for (int i = 0; i < cw / 4; i++) {
                        Mv const a = blk.subblockMv[l][(j << sy) * nx + (i << sx)];
                        Mv const b = blk.subblockMv[l][((j << sy) + sy) * nx + (i << sx) + sx];
                        auto avg = [](int s) { return (s + 1 - (s >= 0 ? 1 : 0)) >> 1; };
                        Mv const mv = {avg(a.x + b.x), avg(a.y + b.y)};
                        ok = ok && predictList(pic, *blk.ref[l], c, (blk.x >> sx) + 4 * i, (blk.y >> sy) + 4 * j, 4, 4,
                                               mv, LUMA_REGULAR, false, nullptr, m_pred[l].data() + 4 * j * cw + 4 * i,
                                               cw);
                    }
            }
            if (ok)
                weight(pic, c, m_pred[0].data(), m_pred[1].data(), cw, cw, ch, blk.bcwIdx, blk.weights, blk.useList,
                       dst.samples[c], dst.stride[c]);
        }
    }
    return ok;
}

bool InterPredictor::predictGpm(InterPicture const& pic, GpmBlock const& blk, PredBuf const& dst)
{
    int const w = blk.width, h = blk.height;
    if (!ValidBlock(w, h) || !blk.ref[0] || !blk.ref[1] || !dst.samples[0])
        return false;
    bool const chroma = pic.chromaFormat != CHROMA_400;
    if (chroma && (!dst.samples[1] || !dst.samples[2]))
        return false;
    bool ok = true;
    for (int c = 0; c < (chroma ? 3 : 1); c++) {
        int const sx = SubX(pic.chromaFormat, c), sy = SubY(pic.chromaFormat, c);
        int const cw = w >> sx, ch = h >> sy;
        for (int p = 0; p < 2; p++)
            ok = ok && predictList(pic, *blk.ref[p], c, blk.x >> sx, blk.y >> sy, cw, ch, blk.mv[p], LUMA_REGULAR,
                                   false, nullptr, m_pred[p].data(), cw);
        if (ok)
            GpmBlend(m_pred[0].data(), m_pred[1].data(), cw, cw, ch, sx, sy, blk.splitIdx, w, h, pic.bitDepth,
                     dst.samples[c], dst.stride[c]);
    }
    return ok;
}

} // namespace vvcinter
