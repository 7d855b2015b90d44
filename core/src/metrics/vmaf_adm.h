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

} // namespace ze::nox::core::vmaf
