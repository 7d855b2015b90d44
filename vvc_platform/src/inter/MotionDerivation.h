#pragma once

#include "inter/MotionInfo.h"
#include "slice/SliceParser.h"

// What the translational, affine and subblock derivations share inside the motion stage.
namespace vvcinter {

// The neighbour covering (x, y) when available and inter coded (not intra, block copy or palette).
MotionInfo const* InterNeighbour(MotionGrid const& grid, int x, int y);
// The same for a merge candidate of the unit at (x, y): none where the neighbour (xn, yn) lies
// in the unit's merge estimation region.
MotionInfo const* MergeNeighbour(SliceMotion const& s, MotionGrid const& grid, int x, int y, int xn, int yn);
// The temporal vector of list l, reference refIdx, from one collocated entry (the subblock
// temporal rule when sbFlag); false when it gives none.
bool ColVector(SliceMotion const& s, ColMotion const& col, int l, int refIdx, bool sbFlag, Mv& mv);
// The vector difference of list l, control point k of a unit (sixteenths).
inline Mv MvdOf(vvcslice::InterUnitData const& d, int l, int k)
{
    return Mv(d.mvd[l][k][0], d.mvd[l][k][1]);
}
// The unit's list mask (1 list 0, 2 list 1, 3 both) from inter_pred_idc.
inline uint8_t InterDirOf(vvcslice::InterUnitData const& d)
{
    return uint8_t(d.interPredIdc == vvcslice::kPredBi ? 3 : d.interPredIdc == vvcslice::kPredL1 ? 2 : 1);
}
// MMVD: the offset of the distance and direction indices, and its application to a base
// candidate (mirrored or scaled for the second list by the POC distances).
Mv MmvdOffset(SliceMotion const& s, int distanceIdx, int directionIdx);
void ApplyMmvd(SliceMotion const& s, MotionCand& c, Mv offset);
// Subblock merge candidate `idx` (subblock temporal, inherited affine, constructed affine,
// zero) into out; false when the list has no such candidate.
bool SubblockMerge(SliceMotion const& s, MotionGrid const& grid, int x, int y, int w, int h, int idx, CuMotion& out);
// Affine AMVP: control points from the predictors and the differences, then the subblocks.
bool AffineAmvp(SliceMotion const& s, MotionGrid const& grid, vvcslice::CodingUnit const& cu, CuMotion& out);

} // namespace vvcinter
