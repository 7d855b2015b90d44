#pragma once

// The sample prediction of one inter coding unit from its derived motion (inter/MotionInfo.h):
// which prediction applies (translational with DMVR and BDOF where the decoding process allows
// them, affine with PROF, subblock temporal, GPM), the LMCS forward mapping of the luma, and for
// CIIP the blend with the intra planar prediction the caller made.

#include "inter/InterPred.h"
#include "inter/MotionInfo.h"
#include "inter/PredRefs.h"
#include "slice/SliceParser.h"

#include <vector>

namespace vvcinter {

// What the prediction of a slice's units needs; fixed for the slice.
struct SlicePrediction
{
    InterPicture pic;
    int currPoc = 0;
    int numRefs[2] = {0, 0};
    RefPicture refs[2][kMaxRefs];
    int refPoc[2][kMaxRefs] = {};
    bool longTerm[2][kMaxRefs] = {};
    // Explicit weighted prediction: per reference its weights, and whether luma or chroma weights
    // were signalled for it (which keeps DMVR and BDOF off).
    bool weighted = false;
    WeightParams weights[2][kMaxRefs];
    bool weightSignalled[2][kMaxRefs] = {};
    // The tools as the SPS enables them and the picture header does not disable them.
    bool dmvr = false, bdof = false, prof = false;
    // The slice's luma mapping (slice_lmcs_enabled_flag), null without.
    vvcsyntax::LmcsModel const* lmcs = nullptr;
};

// Fills the references and weights from the picture buffer's lists of the slice. A reference
// takes the scaling window of its own parameter sets; one without them (a generated picture)
// the current window when it has the current picture's size, else its whole picture. `windows`,
// when given, overrides per list and index.
void SetSliceReferences(SlicePrediction& s, vvcsyntax::SeqParameterSet const& sps,
                        vvcsyntax::PicParameterSet const& pps, SliceRefs const& refs, int currPoc,
                        ScalingWindow const (*windows)[kMaxRefs] = nullptr);

// One predictor per thread: it owns the scratch space.
class CuPredictor
{
public:
    // Predicts the unit `u` with motion `m` into dst. For CIIP, `intra` holds the planar
    // prediction of the unit (luma and chroma, at dst's layout) and `wIntra` its weight
    // (CiipWeight); chroma narrower than 4 samples is not blended (CiipBlendsChroma). `dmvr`,
    // when not null, receives the refinement per 16x16 subblock. False when the unit refers to
    // references the slice lacks or its size is unusable.
    bool predict(SlicePrediction const& s, vvcslice::CodingUnit const& u, CuMotion const& m, PredBuf const& dst,
                 DmvrResult* dmvr = nullptr, PredBuf const* intra = nullptr, int wIntra = 1);

    // The DMVR and BDOF decisions of a translational bi-predicted unit.
    static bool dmvrApplies(SlicePrediction const& s, vvcslice::CodingUnit const& u, CuMotion const& m);
    static bool bdofApplies(SlicePrediction const& s, vvcslice::CodingUnit const& u, CuMotion const& m);

private:
    bool reference(SlicePrediction const& s, MotionCand const& c, int l, RefPicture const*& ref,
                   WeightParams const*& weights) const;
    InterPredictor m_pred;
    std::vector<Mv> m_sub[2];
};

// The vectors the prediction used per 4x4 luma area of a translational w x h unit (raster order,
// (w / 4) * (h / 4) entries, what MotionGrid::storeCu takes): its motion with the DMVR refinement
// of the 16x16 subblock covering the area.
void RefinedMvs(CuMotion const& m, int w, int h, DmvrResult const& dmvr, Mv (*out)[2]);

} // namespace vvcinter
