#pragma once

#include "metrics/vmaf_plane.h"

namespace ze::nox::core::vmaf {

// ADM numerators and denominators of two planes offset by -128: in total and per scale.
struct AdmResult
{
    double num = 0;
    double den = 0;
    double numScale[4] = {0, 0, 0, 0};
    double denScale[4] = {0, 0, 0, 0};
};

AdmResult Adm(PlaneView const& ref, PlaneView const& dis);

// Sample region of a band w x h that the sums cover: the inner one leaves out a border of a tenth
// of each side; the outer one grows it by the one-sample reach of the masking neighbourhood,
// clamped to the band. Shared by the portable and the vector kernels.
struct AdmRegion
{
    int left, top, right, bottom;
};
AdmRegion AdmInnerRegion(int w, int h);
AdmRegion AdmOuterRegion(int w, int h);

} // namespace ze::nox::core::vmaf
