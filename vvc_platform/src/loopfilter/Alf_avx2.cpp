// The ALF row kernels built with AVX2 (this file only is compiled with -mavx2 on x86).

#include "loopfilter/AlfKernelBody.h"

void AlfLumaRowAvx2(AlfLumaRowArgs const& a)
{
    alfLumaRowBody(a);
}

void AlfChromaRowAvx2(AlfChromaRowArgs const& a)
{
    alfChromaRowBody(a);
}

void AlfCcRowAvx2(CcAlfRowArgs const& a)
{
    alfCcRowBody(a);
}
