#pragma once

// What the reconstructor hands the sample prediction, made from the picture buffer's types: a
// reference picture's padded planes with its scaling window, the current picture's geometry, and
// the explicit weights of a slice's reference.

#include "bitstream/Syntax.h"
#include "inter/InterPred.h"
#include "picture/Picture.h"

namespace vvcinter {

// The scaling window of a picture in luma samples: left and top offsets, width and height
// (PicOutputWidthL, PicOutputHeightL).
struct ScalingWindow
{
    int left = 0, top = 0, width = 0, height = 0;
};
ScalingWindow ScalingWindowOf(vvcsyntax::SeqParameterSet const& sps, vvcsyntax::PicParameterSet const& pps);

// The planes of a finished picture (null planes when it has no samples) with its window.
RefPicture RefPictureOf(PaddedPelStorage const& samples, ScalingWindow const& window);

// The current picture: format, bit depth, size, wrap-around and scaling window. The subpicture
// clamp is the caller's (subpictures treated as pictures).
InterPicture InterPictureOf(vvcsyntax::SeqParameterSet const& sps, vvcsyntax::PicParameterSet const& pps);

// The explicit weights of reference refIdx of list l of a slice; false when the slice has none
// (default weighting).
bool WeightsOf(SliceRefs const& refs, int l, int refIdx, WeightParams& out);

} // namespace vvcinter
