// The SAO row kernels built with AVX2 (this file only is compiled with -mavx2 on x86).

#include "loopfilter/SaoKernelBody.h"

void SaoEdgeRowAvx2(SaoEdgeRowArgs const& a)
{
    saoEdgeRowBody(a);
}
