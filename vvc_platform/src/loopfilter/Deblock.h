#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Deblocking filter of a reconstructed picture: the edge decisions and the luma and chroma
// filters, applied to every vertical edge of the picture first and then to every horizontal
// edge (which sees the samples the vertical pass wrote).
//
// The reconstruction describes the picture in a DeblockMap on the 4x4 luma grid: per 4x4 luma
// unit the QPs and slice of the block covering it, and per unit and direction the edge segment
// on its left (vertical edges) or top (horizontal edges) side, 4 luma samples long. What the
// map says is final here: this code derives no block structure of its own.
//
// How the caller fills an edge segment (all fields of segments that are not edges stay 0):
// - bs[c]: the boundary strength of component c (0 Y, 1 Cb, 2 Cr), 0 to 2; 0 leaves the segment
//   of that component unfiltered. Set it on transform block edges and coding / prediction block
//   edges only (BoundaryStrength() gives the value from what the two blocks carry). Leave it 0
//   on the picture boundary; on every edge whose Q block (right / below) lies in a slice with
//   deblocking disabled (the P side's slice does not matter); on slice and tile boundaries when
//   the PPS disables loop filtering across them; on subpicture boundaries unless both
//   subpictures allow loop filtering across them; and on virtual boundaries.
// - Luma maximum filter lengths maxLenP / maxLenQ: 1, 2, 3, 5 or 7 samples on each side
//   (LumaMaxFilterLengths() for transform block edges; sub-block edges of inter blocks set
//   their own). The upper side of a horizontal edge on a CTB row boundary is limited to 3 here.
// - Chroma maximum filter lengths maxLenCP / maxLenCQ: 1 or 3 (ChromaMaxFilterLengths()).
//   Chroma is filtered only where the edge lies on the 8x8 grid of chroma samples; the chroma
//   segment of a luma segment covers the chroma samples of the same 4 luma samples (2 for a
//   subsampled direction). In a dual tree the chroma fields come from the chroma tree.
// Edge segments of the top unit row (horizontal) and the left unit column (vertical) are the
// picture boundary and are never filtered.
namespace vvcdeblock {

enum EdgeDir : int { kEdgeVer = 0, kEdgeHor = 1 };

// Kinds of edge a segment is (EdgeSegment::kind), set by AddTransformBlock and read by DeriveEdges.
enum EdgeKind : uint8_t { kTransformEdgeY = 1, kTransformEdgeC = 2, kPredictionEdge = 4, kCodingEdge = 8 };

struct EdgeSegment
{
    uint8_t bs[3] = {};
    uint8_t maxLenP = 0, maxLenQ = 0;
    uint8_t maxLenCP = 0, maxLenCQ = 0;
    uint8_t kind = 0; // EdgeKind bits; only DeriveEdges reads them
};

// What a block carries for its boundary strengths (BlockUnit::info). Luma and chroma keep their
// own intra mark: in a dual tree (also the local one of small blocks in inter slices) a luma block
// copy or inter unit may lie under intra chroma.
enum BlockInfo : uint16_t {
    kIntra = 1, // the luma block is intra
    kBdpcmY = 2,
    kBdpcmC = 4,
    kCiip = 8,
    kCbfY = 16,
    kCbfCb = 32,
    kCbfCr = 64,
    kJointCbCr = 128,
    kIntraC = 256 // the chroma block is intra
};

// What the deblocking needs of the block covering a 4x4 luma unit (2x2 chroma in 4:2:0).
struct BlockUnit
{
    // QpY of the coding unit; for Cb and Cr the QP the block's chroma residual is scaled with
    // (Qp'Cb, Qp'Cr, or Qp'CbCr where the joint Cb-Cr residual uses it, with the CU chroma QP
    // offsets, before the transform-skip minimum) minus QpBdOffset. Blocks without a coded
    // residual still have these QPs.
    int8_t qp[3] = {};
    uint8_t noFilter = 0; // bit c set: samples of component c of this block are not modified
    uint16_t slice = 0;   // index into DeblockMap::slices
    // Only for DeriveEdges: BlockInfo bits, and the transform block's width and height
    // ([0] luma samples, [1] chroma samples).
    uint16_t info = 0;
    uint8_t tbW[2] = {}, tbH[2] = {};
};

// Deblocking offsets of a slice, Y, Cb, Cr (slice header values, which default to the picture
// header's and the PPS's). The slice of the Q block of an edge selects them.
struct SliceOffsets
{
    int betaOffsetDiv2[3] = {};
    int tcOffsetDiv2[3] = {};
};

struct DeblockMap
{
    int width = 0, height = 0; // luma samples
    int chromaFormatIdc = 1;   // 0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4
    int bitDepthY = 10, bitDepthC = 10;
    int ctbSizeY = 128;
    std::vector<SliceOffsets> slices = std::vector<SliceOffsets>(1);
    // Luma-adaptive deblocking: the luma QP of an edge gets an offset chosen by the luma
    // level there, (p0 + q0 of its first and fourth line) / 4: `ladfLowestQpOffset` up to
    // ladfLowerBound[0], ladfQpOffset[i] above ladfLowerBound[i]. Off while the lists are empty.
    int ladfLowestQpOffset = 0;
    std::vector<int> ladfQpOffset, ladfLowerBound;
    std::vector<BlockUnit> units;      // unitsW() * unitsH(), row by row
    std::vector<EdgeSegment> edges[2]; // [EdgeDir], same layout as units

    int unitsW() const { return (width + 3) / 4; }
    int unitsH() const { return (height + 3) / 4; }
    // Sizes the grids for a picture and clears them (no edges, QP 0, slice 0).
    void reset(int pictureWidth, int pictureHeight);
    BlockUnit& unit(int x4, int y4) { return units[size_t(y4) * size_t(unitsW()) + size_t(x4)]; }
    EdgeSegment& edge(EdgeDir dir, int x4, int y4) { return edges[dir][size_t(y4) * size_t(unitsW()) + size_t(x4)]; }
};

struct DeblockPlane
{
    uint16_t* samples = nullptr;
    ptrdiff_t stride = 0;
    int width = 0, height = 0;
};

// Filters the picture in place: all vertical edges, then all horizontal edges. planes[1] and
// planes[2] are unused for monochrome. Returns false, changing nothing, when the map is not
// consistent (grid sizes, bit depths 8..16, no slice) or a plane does not have the size the
// map implies (chroma: the luma size divided by the subsampling, rounded up).
bool DeblockPicture(DeblockMap const& map, DeblockPlane const planes[3]);

// One direction over the unit rows [unitRowBegin, unitRowEnd) and unit columns [unitColBegin,
// unitColEnd), for callers that split the work (all vertical edges must be done before any
// horizontal one). Vertical edges of different rows are independent; horizontal edges of
// different columns are, and they may be split at CTB rows when the filter lengths come from the
// block sizes (the upper side of a CTB row edge is limited to 3 samples, so neither side reaches
// what the other reads). The same checks as DeblockPicture.
bool DeblockEdges(DeblockMap const& map, DeblockPlane const planes[3], EdgeDir dir, int unitRowBegin, int unitRowEnd,
                  int unitColBegin = 0, int unitColEnd = 1 << 30);

// Maximum filter lengths of a luma transform block edge from the sizes of the transform blocks
// on both sides, measured across the edge: 1 when either is 4 or less, else 7 for a side of 32
// or more and 3 otherwise.
void LumaMaxFilterLengths(int sizeP, int sizeQ, uint8_t& maxLenP, uint8_t& maxLenQ);
// The same for chroma (sizes in chroma samples): 3 on both sides when both are 8 or more, else 1.
void ChromaMaxFilterLengths(int sizeP, int sizeQ, uint8_t& maxLenP, uint8_t& maxLenQ);
// Luma maximum filter length (both sides) of an edge on the 8x8 grid inside an affine or
// subblock temporal unit, `offset` samples into the unit that is `size` samples across the edge:
// 1 with a transform block edge 4 samples away on either side, 2 with the unit's own edge (whether
// filtered or not) or a transform block edge 8 samples away, else 3.
int SubblockEdgeLength(int offset, int size, bool transformEdge4Away, bool transformEdge8Away);

// Building the map block by block. The reconstruction calls AddTransformBlock for every transform
// block of the luma tree and of the chroma tree (in a single tree both for each transform unit),
// in any order, then DeriveEdges once for the picture. Intra pictures need nothing else; inter
// blocks (prediction edges with their motion test, sub-block filter lengths) set the segments
// after DeriveEdges.
struct TransformBlock
{
    bool chroma = false;            // a Cb + Cr block (of the chroma tree or a single tree)
    int x = 0, y = 0, w = 0, h = 0; // the block in luma samples (a 4:2:0 chroma block doubled)
    bool intra = true, bdpcm = false, ciip = false;
    bool cbf[2] = {}; // luma: [0]; chroma: Cb, Cr
    bool jointCbCr = false;
    int qp[2] = {}; // luma: QpY in [0]; chroma: the Cb and Cr QPs of BlockUnit::qp
    uint16_t slice = 0;
    bool noFilter = false; // the block's samples stay as they are
    // Whether the left / top side is an edge to filter: false on the picture boundary (also
    // ignored there) and on the boundaries listed at the top of this file.
    bool filterLeft = true, filterTop = true;
    // Whether the left / top side is also the coding unit's edge (not where a unit larger than
    // the largest transform is split into several blocks).
    bool codingEdgeLeft = true, codingEdgeTop = true;
};

// Records the block in the units it covers and marks its left and top sides (where they lie on
// the 4-sample luma grid) as transform block edges. Parts outside the picture are ignored.
void AddTransformBlock(DeblockMap& map, TransformBlock const& block);

// For every segment AddTransformBlock marked: the boundary strengths from both sides' BlockInfo
// (BoundaryStrength(), no motion test), and the maximum filter lengths that are still 0 from both
// sides' transform block sizes (LumaMaxFilterLengths(), ChromaMaxFilterLengths()).
void DeriveEdges(DeblockMap& map);
// The same for the edge segments of unit rows [unitRowBegin, unitRowEnd) only (their blocks, and
// for horizontal edges the blocks above, recorded).
void DeriveEdges(DeblockMap& map, int unitRowBegin, int unitRowEnd);

// What the boundary strength depends on, for one side of an edge.
struct BsSide
{
    bool intra = false;
    bool bdpcm[2] = {}; // BDPCM of the luma / the chroma block (intra)
    bool ciip = false;  // combined inter-intra prediction
    bool cbf[3] = {};   // coded residual in the transform block, per component
    bool jointCbCr = false;
};

// Boundary strength of component cIdx on an edge between blocks P and Q: 2 when either side is
// intra (0 when both are BDPCM-coded in that component) or CIIP; else 1 on a transform block edge
// where either side has a coded residual in the component (Cb and Cr also for a joint Cb-Cr
// residual); else, for luma on a prediction block edge, `motionBs` (0 or 1 from the comparison
// of the motion of both sides, which the caller makes); else 0.
int BoundaryStrength(BsSide const& p, BsSide const& q, int cIdx, bool transformEdge, bool predictionEdge,
                     int motionBs = 0);

// The luma filters of a 4-line segment once its decisions are made. Line k starts at
// first + k * lineStep (its q0); sample i of the line lies at i * o on the Q side and at
// -(i + 1) * o on the P side. lumaShort4 reads p3..q3; lumaLong4 may read p7..q7 (the caller
// keeps it for segments with 8 samples on either side in the plane). Both may store unchanged
// samples back within what they read of their own 4 lines. The portable kernels are the
// reference; the vector ones give the same samples.
struct LumaShortFilter // the normal filter, or the strong one of three samples a side
{
    bool strong = false;
    bool filterP1 = false, filterQ1 = false; // normal filter: whether p1 / q1 are modified too
    int tc = 0;
    int maxVal = 1023;
    bool writeP = true, writeQ = true; // false: that side keeps its samples
};
struct LumaLongFilter // the long-tap filter, lenP and lenQ in {3, 5, 7}, not both 3
{
    int lenP = 7, lenQ = 7;
    int tc = 0;
    bool writeP = true, writeQ = true;
};
struct DeblockKernels
{
    char const* name;
    void (*lumaShort4)(uint16_t* first, ptrdiff_t o, ptrdiff_t lineStep, LumaShortFilter const& f);
    void (*lumaLong4)(uint16_t* first, ptrdiff_t o, ptrdiff_t lineStep, LumaLongFilter const& f);
};
DeblockKernels const& DeblockPortableKernels();
// Null where the CPU lacks AVX2 (or the build is not for x86).
DeblockKernels const* DeblockVectorKernels();
// The kernels the filters use: the vector ones when allowed and present. Initially allowed.
void DeblockAllowVectorKernels(bool allow);
DeblockKernels const& DeblockActiveKernels();

// The beta' and tC' tables indexed by Q (0..63 and 0..65; values outside are clipped).
int BetaTable(int q);
int TcTable(int q);
// beta and tC of an edge from the averaged QP of its two sides, scaled to the bit depth.
int DeriveBeta(int qp, int betaOffsetDiv2, int bitDepth);
int DeriveTc(int qp, int bS, int tcOffsetDiv2, int bitDepth);

} // namespace vvcdeblock
