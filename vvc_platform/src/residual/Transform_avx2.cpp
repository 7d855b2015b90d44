// The inverse transform stages built with AVX2 (this file only is compiled with -mavx2 on x86).

#include "residual/TransformKernelBody.h"

void TransformStages2DAvx2(TransformStagesArgs const& a)
{
    trStages2DBody(a);
}

void TransformAddResidualAvx2(ResidualAddArgs const& a)
{
    trAddResidualBody(a);
}
