#pragma once

#include "Cabac.h"
#include "Syntax.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Entropy decoding of the slice data of intra slices: CTU syntax (SAO, ALF and CC-ALF control),
// the coding tree with quad-tree and multi-type splits (dual tree), coding units with all intra
// modes, transform trees and units, and the coefficients of regular and transform-skip residual
// coding. The parse ends with the slice's terminating bin, which must come exactly at the end
// of the slice data: a check of the whole entropy decoding.
namespace vvcslice {

struct SliceParseResult
{
    bool ok = false;
    int ctus = 0;                // CTUs parsed
    int codingUnits = 0;
    std::string error;
};

using ApsLookup = std::function<vvcsyntax::AdaptationParameterSet const*(int type, int id)>;

// `data` is the slice data: the RBSP of the slice NAL unit from SliceHeaderParams::sliceDataByte.
SliceParseResult ParseIntraSliceData(uint8_t const* data, size_t size, vvcsyntax::SeqParameterSet const& sps,
                                     vvcsyntax::PicParameterSet const& pps, vvcsyntax::SliceHeaderParams const& sh,
                                     ApsLookup const& aps);

} // namespace vvcslice
