// Decoder-side motion vector refinement: the search of one subblock over its bilinear
// predictions.

#include "inter/InterKernels.h"
#include "inter/InterPred.h"

#include <cstdlib>

namespace vvcinter {
namespace {

// SAD of every other row between list 0 moved by (dx, dy) and list 1 moved by (-dx, -dy).
int MirroredSad(InterKernels const& k, int32_t const* p0, int32_t const* p1, ptrdiff_t stride, int w, int h, int dx,
                int dy)
{
    return k.sad(p0 + dy * stride + dx, p1 - dy * stride - dx, 2 * stride, w, (h + 1) / 2);
}

// Sub-sample offset (1/16) of the minimum of the parabola through the costs left of, at and right
// of the integer minimum: 8 (left - right) / (left + right - 2 centre), truncated; half a sample
// when one side equals the centre.
int SubSampleOffset(int left, int centre, int right)
{
    int const den = left + right - 2 * centre;
    if (den == 0)
        return 0;
    if (left == centre)
        return -8;
    if (right == centre)
        return 8;
    return (8 * (left - right)) / den;
}

} // namespace

DmvrRefinement DmvrSearch(int32_t const* p0, int32_t const* p1, ptrdiff_t stride, int w, int h)
{
    DmvrRefinement r;
    // The bilinear predictions are of 10 bits whatever the bit depth.
    InterKernels const& k = InterActiveKernels();
    int sad[5][5];
    int centre = MirroredSad(k, p0, p1, stride, w, h, 0, 0);
    centre -= centre >> 2;
    r.minSad = centre;
    if (centre < w * h)
        return r;
    int bestX = 0, bestY = 0;
    for (int dy = -2; dy <= 2; dy++)
        for (int dx = -2; dx <= 2; dx++) {
            int const cost = dx == 0 && dy == 0 ? centre : MirroredSad(k, p0, p1, stride, w, h, dx, dy);
            sad[dy + 2][dx + 2] = cost;
            if (cost < r.minSad) {
                r.minSad = cost;
                bestX = dx;
                bestY = dy;
            }
        }
    r.delta.x = bestX * 16;
    r.delta.y = bestY * 16;
    if (std::abs(bestX) != 2 && std::abs(bestY) != 2) {
        int const(&row)[5] = sad[bestY + 2];
        r.delta.x += SubSampleOffset(row[bestX + 1], row[bestX + 2], row[bestX + 3]);
        r.delta.y += SubSampleOffset(sad[bestY + 1][bestX + 2], sad[bestY + 2][bestX + 2], sad[bestY + 3][bestX + 2]);
    }
    return r;
}

} // namespace vvcinter
