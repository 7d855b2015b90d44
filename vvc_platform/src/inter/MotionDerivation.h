#pragma once

#include "inter/MotionInfo.h"

// What the translational, affine and subblock derivations share inside the motion stage.
namespace vvcinter {

// The neighbour covering (x, y) when available and inter coded (not intra, block copy or palette).
MotionInfo const* InterNeighbour(MotionGrid const& grid, int x, int y);
// The temporal vector of list l, reference refIdx, from one collocated entry (the subblock
// temporal rule when sbFlag); false when it gives none.
bool ColVector(SliceMotion const& s, ColMotion const& col, int l, int refIdx, bool sbFlag, Mv& mv);
// A coded vector difference (in units of 1 << amvrShift sixteenths) in sixteenths.
inline Mv ScaledMvd(Mv d, int amvrShift)
{
    return Mv(int32_t(uint32_t(d.x) << amvrShift), int32_t(uint32_t(d.y) << amvrShift));
}
// MMVD: the offset of the distance and direction indices, and its application to a base
// candidate (mirrored or scaled for the second list by the POC distances).
Mv MmvdOffset(SliceMotion const& s, int distanceIdx, int directionIdx);
void ApplyMmvd(SliceMotion const& s, MotionCand& c, Mv offset);
// Subblock merge candidate `idx` (subblock temporal, inherited affine, constructed affine,
// zero) into out; false when the list has no such candidate.
bool SubblockMerge(SliceMotion const& s, MotionGrid const& grid, int x, int y, int w, int h, int idx, CuMotion& out);
// Affine AMVP: control points from the predictors and the differences, then the subblocks.
bool AffineAmvp(SliceMotion const& s, MotionGrid const& grid, InterSyntax const& u, CuMotion& out);

} // namespace vvcinter
