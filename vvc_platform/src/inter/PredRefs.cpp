#include "inter/PredRefs.h"

namespace vvcinter {

ScalingWindow ScalingWindowOf(vvcsyntax::SeqParameterSet const& sps, vvcsyntax::PicParameterSet const& pps)
{
    int const subW = sps.chromaFormatIdc == 1 || sps.chromaFormatIdc == 2 ? 2 : 1;
    int const subH = sps.chromaFormatIdc == 1 ? 2 : 1;
    ScalingWindow w;
    w.left = subW * pps.scalingWin[0];
    w.top = subH * pps.scalingWin[2];
    w.width = pps.picWidth - subW * (pps.scalingWin[0] + pps.scalingWin[1]);
    w.height = pps.picHeight - subH * (pps.scalingWin[2] + pps.scalingWin[3]);
    return w;
}

RefPicture RefPictureOf(PaddedPelStorage const& samples, ScalingWindow const& window)
{
    RefPicture r;
    for (int c = 0; c < samples.numPlanes() && !samples.empty(); c++)
        r.planes[c] = RefPlane{samples.origin(c), samples.stride(c), samples.width(c), samples.height(c),
                               samples.margin(c)};
    r.scalingLeft = window.left;
    r.scalingTop = window.top;
    r.scalingWidth = window.width;
    r.scalingHeight = window.height;
    return r;
}

InterPicture InterPictureOf(vvcsyntax::SeqParameterSet const& sps, vvcsyntax::PicParameterSet const& pps)
{
    InterPicture p;
    p.chromaFormat = ChromaFormat(sps.chromaFormatIdc);
    p.bitDepth = sps.bitDepth;
    p.width = pps.picWidth;
    p.height = pps.picHeight;
    p.wrapAround = sps.refWraparound && pps.refWraparound;
    p.wrapOffset = pps.wraparoundOffset * (1 << sps.log2MinCbSize);
    ScalingWindow const w = ScalingWindowOf(sps, pps);
    p.scalingLeft = w.left;
    p.scalingTop = w.top;
    p.scalingWidth = w.width;
    p.scalingHeight = w.height;
    p.chromaHorCollocated = sps.chromaHorCollocated;
    p.chromaVerCollocated = sps.chromaVerCollocated;
    return p;
}

bool WeightsOf(SliceRefs const& refs, int l, int refIdx, WeightParams& out)
{
    if (!refs.weighted || l < 0 || l > 1 || refIdx < 0 || size_t(refIdx) >= refs.weights[l].size())
        return false;
    PredWeights const& w = refs.weights[l][size_t(refIdx)];
    out.log2Denom[0] = refs.lumaLog2WeightDenom;
    out.log2Denom[1] = refs.chromaLog2WeightDenom;
    out.weight[0] = w.lumaWeight;
    out.offset[0] = w.lumaOffset;
    for (int c = 0; c < 2; c++) {
        out.weight[c + 1] = w.chromaWeight[c];
        out.offset[c + 1] = w.chromaOffset[c];
    }
    return true;
}

} // namespace vvcinter
