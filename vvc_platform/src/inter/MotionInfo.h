#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Motion data of inter coding units: motion vectors, the motion of each 4x4 luma area of the
// picture being decoded (what later candidates and the deblocking read; block copy units are
// stored with their vector, which intra/Ibc derives), the motion field a picture keeps for later
// pictures' temporal candidates, and the derivation of a coding unit's motion from its syntax and
// its neighbours (merge, AMVP, MMVD, affine, subblock temporal, GPM, CIIP).
//
// How the stages meet: the parse hands out its coding-unit record (slice/SliceParser.h);
// the reconstructor fills a `SliceMotion` per slice from the slice header and the reference
// lists of the picture buffer, calls `DeriveCuMotion`, passes the resulting `CuMotion` to the
// prediction stage, then `MotionGrid::storeCu` into the picture's grid. At the end of the
// picture `MotionGrid::storeField` writes the picture's `MotionField` for later pictures.
namespace vvcslice {
struct CodingUnit;
}

namespace vvcinter {

constexpr int kMaxRefs = 16;    // entries per reference picture list
constexpr int kMvMin = -(1 << 17), kMvMax = (1 << 17) - 1;

// A motion vector in 1/16 luma samples (18-bit range once stored).
struct Mv
{
    int32_t x = 0, y = 0;
    constexpr Mv() = default;
    constexpr Mv(int32_t x_, int32_t y_) : x(x_), y(y_) {}
    bool operator==(Mv const& o) const { return x == o.x && y == o.y; }
    bool operator!=(Mv const& o) const { return !(*this == o); }
    Mv operator+(Mv const& o) const { return Mv(x + o.x, y + o.y); }
    Mv operator-(Mv const& o) const { return Mv(x - o.x, y - o.y); }
};

// Each component clipped to the 18-bit range.
Mv ClipMv(Mv mv);
// Each component reduced modulo 2^18 into the 18-bit range (the sum of predictor and difference).
Mv WrapMv(Mv mv);
// The rounding of motion vectors: right by `rightShift` to the nearest, halves toward zero,
// then left by `leftShift`.
Mv RoundMv(Mv mv, int rightShift, int leftShift);
// A vector as the motion field of a picture keeps it for later temporal candidates: each
// component to six significant bits and the sign (exact within [-64, 63]), rounded half up.
Mv CompressMv(Mv mv);
// AMVR: `mv` (1/16) rounded to the precision 1 << shift sixteenths and back to 1/16 units.
inline Mv RoundToPrecision(Mv mv, int shift) { return RoundMv(mv, shift, shift); }
// The scale factor of POC distances tb / td (both clipped to [-128, 127]; td != 0), and a
// vector scaled by it.
int DistScaleFactor(int tb, int td);
Mv ScaleMv(Mv mv, int tb, int td);

enum class PredMode : uint8_t { Intra = 0, Inter = 1, Ibc = 2, Palette = 3 };

// The motion of one coding unit or subblock: which lists predict (bit 0 list 0, bit 1 list 1),
// reference indices (-1 unused), vectors, the BCW weight index and the half-sample filter flag.
struct MotionCand
{
    uint8_t interDir = 0;
    int8_t refIdx[2] = {-1, -1};
    Mv mv[2];
    uint8_t bcwIdx = 0;  // bcw_idx 0..4; 0 the equal weights
    bool hpelIf = false; // half-sample positions use the alternative luma filter
    bool uses(int l) const { return (interDir >> l) & 1; }
    // Same lists, reference indices and vectors (what merge pruning compares).
    bool sameMotion(MotionCand const& o) const;
};
constexpr uint8_t kBcwDefault = 0; // bcw_idx whose weights are equal (4, 4)

// What one 4x4 luma area of the picture being decoded records.
struct MotionInfo
{
    PredMode mode = PredMode::Intra;
    MotionCand m;    // motion as spatial candidates and the deblocking read it (before DMVR)
    Mv mvRefined[2]; // after DMVR refinement: what the field for temporal candidates keeps
    int32_t refPoc[2] = {0, 0}; // POC of each used reference (deblocking, the stored field)
    bool longTerm[2] = {false, false};
    bool ciip = false;          // combined inter-intra unit (deblocked like an intra one)
    bool subblock = false;      // affine or subblock temporal unit (8x8 subblock edges deblocked)
    int32_t affine = -1;        // index in MotionGrid's affine units, -1 for a non-affine unit
    bool isInter() const { return mode == PredMode::Inter; }
};

// An affine unit as later inherited candidates read it.
struct AffineUnit
{
    int x = 0, y = 0, w = 0, h = 0;
    bool sixParam = false;
    Mv cp[2][3]; // control point vectors per list: top-left, top-right, bottom-left
};

// What a picture keeps for the temporal candidates of later pictures: per 8x8 luma area the
// motion of its top-left 4x4 area, with each used reference's POC and long-term flag as they
// were when the picture was decoded.
struct ColMotion
{
    Mv mv[2];
    int32_t refPoc[2] = {0, 0};
    uint8_t interDir = 0; // 0: intra, block copy or palette (no temporal candidate)
    bool longTerm[2] = {false, false};
};

struct MotionField
{
public:
    // False (field empty) when the size is not usable.
    bool create(int lumaWidth, int lumaHeight);
    bool empty() const { return m_cells.empty(); }
    int lumaWidth() const { return m_width; }
    int32_t poc = 0; // of the picture the field belongs to
    int lumaHeight() const { return m_height; }
    // The entry covering the luma position (inside the picture).
    ColMotion const& at(int x, int y) const { return m_cells[size_t(y >> 3) * size_t(m_stride) + size_t(x >> 3)]; }
    ColMotion& at(int x, int y) { return m_cells[size_t(y >> 3) * size_t(m_stride) + size_t(x >> 3)]; }

private:
    int m_width = 0, m_height = 0, m_stride = 0;
    std::vector<ColMotion> m_cells;
};

// The reference picture lists of a slice as motion derivation sees them.
struct RefLists
{
    int num[2] = {0, 0};
    int32_t poc[2][kMaxRefs] = {};
    bool longTerm[2][kMaxRefs] = {};
};

// What the motion derivation of a slice's units depends on beyond the units and their neighbours.
struct SliceMotion
{
    int32_t currPoc = 0;
    bool bSlice = false;
    RefLists refs;
    // Temporal candidates: the collocated picture's field (null when TMVP is off for the slice or
    // the collocated picture has no field) and the list it comes from.
    MotionField const* colField = nullptr;
    bool colFromL0 = true;
    // No reference picture follows the current one in output order (DiffPicOrderCnt <= 0 for all).
    bool noBackwardPred = false;
    int picWidth = 0, picHeight = 0; // luma samples
    // Right and bottom luma positions temporal candidates may read (inclusive): the picture's,
    // or the subpicture's when it is treated as a picture.
    int rightBound = -1, bottomBound = -1;
    int log2CtuSize = 7;
    int log2ParMrgLevel = 2;
    int maxNumMergeCand = 6, maxNumSubblockMergeCand = 0, maxNumGpmCand = 0, maxNumIbcMergeCand = 0;
    bool sbtmvp = false, affine = false, sixParamAffine = false, bcw = false;
    bool mmvdFullpelOnly = false;
    // Fills noBackwardPred from currPoc and refs.
    void deriveListProperties();
};

// Per-unit result of the derivation: what the prediction and the storage need.
struct CuMotion
{
    enum Kind : uint8_t { Translational, Affine, SubblockTemporal, Gpm } kind = Translational;
    PredMode mode = PredMode::Inter;
    MotionCand cand;       // Translational: the unit's motion; Affine: lists, ref idx, BCW
    bool ciip = false;
    // Affine: control point vectors, per list the affine parameters (dHorX, dHorY, dVerX, dVerY
    // after the 7-bit precision shift) and whether PROF may refine the list (no fallback to one
    // vector, parameters not all zero; the caller adds the picture-level conditions).
    bool sixParam = false;
    Mv cp[2][3];
    int dHorX[2] = {}, dHorY[2] = {}, dVerX[2] = {}, dVerY[2] = {};
    bool profPossible[2] = {false, false};
    // SubblockTemporal (8x8) and Affine (4x4): per luma subblock, raster order, its motion.
    // The prediction derives the chroma vectors from these.
    int sbW = 4, sbH = 4;
    std::vector<MotionCand> sub;
    // GPM: partition index, its angle and distance indices (the caller sets them from the
    // partition index with the prediction stage's GpmSplit before storing), the parts' motion.
    int gpmPartition = 0, gpmAngle = 0, gpmDistance = 0;
    MotionCand gpmCand[2];
};

// History of the last translational motions (regular merge and AMVP): five at most, newest last.
class Hmvp
{
public:
    static constexpr int kMax = 5;
    void clear() { m_n = 0; }
    int size() const { return m_n; }
    MotionCand const& newest(int k) const { return m_list[m_n - 1 - k]; }
    // Appends, removing an identical entry first or the oldest one when full.
    void push(MotionCand const& c);

private:
    MotionCand m_list[kMax];
    int m_n = 0;
};

// The motion of the picture being decoded per 4x4 luma area, with the availability of each
// area to a unit being decoded: an area is available when written by a unit of the current
// region (the slice and tile being decoded, which the caller names with `setRegion` before each
// unit) and, where CTU rows may be decoded in parallel, not in a CTU above and to the right of
// the unit's.
class MotionGrid
{
public:
    bool create(int lumaWidth, int lumaHeight);
    // CTU rows decoded in parallel (entropy coding sync), with the CTU size.
    void setWavefront(bool on, int log2CtuSize)
    {
        m_wavefront = on;
        m_log2Ctu = log2CtuSize;
    }
    void setRegion(int region, int xCur = 0, int yCur = 0)
    {
        m_curRegion = region;
        m_xCur = xCur;
        m_yCur = yCur;
    }
    int width() const { return m_width; }
    int height() const { return m_height; }
    // The area covering (x, y) when inside the picture and written in the current region.
    MotionInfo const* available(int x, int y) const;
    MotionInfo const& at(int x, int y) const { return m_cells[index(x, y)]; }
    std::vector<AffineUnit> const& affineUnits() const { return m_affine; }
    // Stores an intra/palette unit (so that later units see it as decoded but without motion).
    void storeIntra(int x, int y, int w, int h, PredMode mode = PredMode::Intra);
    // Stores the motion of a derived unit over its area (subblocks, GPM's split storage).
    // `refined`: per 4x4 area of the unit (raster order) the DMVR-refined vectors of lists 0
    // and 1, or null to store the derived ones; `refs` gives the reference POCs.
    void storeCu(int x, int y, int w, int h, CuMotion const& m, RefLists const& refs,
                 Mv const (*refined)[2] = nullptr);
    // Writes the field of the picture with POC `poc` for later temporal candidates (refined
    // vectors); false when the field cannot be created.
    bool storeField(MotionField& field, int32_t poc) const;
    // Luma rows [y0, y1) of the field (made for this grid's size; y0 a multiple of 8).
    void storeFieldRows(MotionField& field, int y0, int y1) const;

private:
    size_t index(int x, int y) const { return size_t(y >> 2) * size_t(m_stride) + size_t(x >> 2); }
    int m_width = 0, m_height = 0, m_stride = 0;
    int m_curRegion = 0;
    int m_xCur = 0, m_yCur = 0;
    bool m_wavefront = false;
    int m_log2Ctu = 7;
    std::vector<MotionInfo> m_cells;
    std::vector<int32_t> m_region; // per 4x4 area the region that wrote it, -1 before
    std::vector<AffineUnit> m_affine;
};

// The motion of one unit from its syntax: regular merge, MMVD, CIIP, GPM, subblock merge,
// AMVP (the differences as the parse gives them: SMVD and AMVR applied), affine AMVP. `hmvp` is the history of the slice
// (updated by the caller with UpdateHistory after the unit). False when the syntax refers to
// what the slice does not have (a reference index outside the lists): the unit is not decodable.
bool DeriveCuMotion(SliceMotion const& s, MotionGrid const& grid, Hmvp const& hmvp, vvcslice::CodingUnit const& cu,
                    CuMotion& out);
// The history update after an inter unit (translational ones: not affine, subblock or GPM; in a
// merge estimation region larger than the unit only the one reaching its bottom-right corner).
void UpdateHistory(SliceMotion const& s, Hmvp& hmvp, vvcslice::CodingUnit const& cu, CuMotion const& m);

// The pieces of the derivation, for the reconstructor's special cases and for tests.
// Regular merge list of the unit at (x, y, w, h): `count` entries (at most
// s.maxNumMergeCand); returns the number filled.
int MergeList(SliceMotion const& s, MotionGrid const& grid, Hmvp const& hmvp, int x, int y, int w, int h,
              MotionCand* list, int count);
// Predictor of list l for reference index refIdx (translational AMVP), `mvpIdx` 0 or 1; the
// result is rounded to the AMVR precision.
Mv AmvpPredictor(SliceMotion const& s, MotionGrid const& grid, Hmvp const& hmvp, int x, int y, int w, int h, int l,
                 int refIdx, int mvpIdx, int amvrShift);
// Temporal candidate of list l, reference refIdx, of the unit: false when none.
bool TemporalMv(SliceMotion const& s, int x, int y, int w, int h, int l, int refIdx, Mv& mv);
// Affine subblock vectors of one list from its control points (4x4 luma subblocks, raster
// order), with the affine parameters; `bi` the unit predicts from both lists (the memory
// bandwidth test). Returns whether the fallback to the centre vector for all subblocks applied.
bool AffineSubblockMvs(Mv const cp[3], bool sixParam, int w, int h, bool bi, Mv* sub, int params[4]);
// GPM motion storage: the motion kept for the 4x4 area (x4, y4) (in 4-sample units) of a GPM
// unit of w x h: part A's, part B's, or both where the split line passes and the parts use
// different lists. Reads m.gpmAngle and m.gpmDistance.
MotionCand GpmStoredMotion(CuMotion const& m, int w, int h, int x4, int y4);
// Boundary strength of an edge between two 4x4 areas of inter or block copy units (no intra,
// no coded residual on either side, which the caller checks first): 1 when they use different
// reference pictures or numbers of vectors, or vectors that differ by 8/16 of a sample or more.
int MotionEdgeStrength(MotionInfo const& p, MotionInfo const& q);

} // namespace vvcinter
