#pragma once

#include "decoding/Recon.h"

// The parameters of a 64x64 10-bit 4:2:0 picture of one CTU and one slice with deblocking off, for
// tests that hand coding units or filter parameters to the reconstructor directly.
struct ReconFixture
{
    vvcsyntax::SeqParameterSet sps;
    vvcsyntax::PicParameterSet pps;
    vvcsyntax::SliceHeaderParams sh;
    ReconFixture()
    {
        sps.bitDepth = 10;
        sps.log2CtuSize = 6;
        pps.picWidth = pps.picHeight = 64;
        pps.picWidthInCtbs = pps.picHeightInCtbs = 1;
        pps.tileColWidth = {1};
        pps.tileRowHeight = {1};
        sh.deblockingDisabled = true;
    }
};
