#pragma once

#include "loopfilter/Alf.h"
#include "loopfilter/Deblock.h"
#include "residual/Dequant.h"
#include "bitstream/Derived.h"
#include "intra/Ibc.h"
#include "decoding/CuPrediction.h"
#include "inter/MotionInfo.h"
#include "picture/Picture.h"
#include "slice/SliceParser.h"
#include "bitstream/Syntax.h"
#include "util/WorkerPool.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Reconstruction of pictures from what the slice data decodes to: intra prediction (planar,
// DC, angular, MIP, CCLM, BDPCM) from the reconstructed neighbours, block copy from the
// picture's reconstructed part, or inter prediction from the reference pictures with the motion
// the motion stage derives (stored per 4x4 for later units, the deblocking and, at the end, the
// picture's motion field), the residual (scaling,
// LFNST, inverse transforms, transform skip, joint Cb-Cr), and their sum; at the end of the
// picture the inverse luma mapping and the in-loop filters (deblocking, SAO, ALF with CC-ALF).
class IntraPictureReconstructor : public vvcslice::SliceDataSink
{
public:
    IntraPictureReconstructor(vvcsyntax::SeqParameterSet const& sps, vvcsyntax::PicParameterSet const& pps);
    ~IntraPictureReconstructor() override;
    // The grids kept for later pictures leave (a decoder calls it when it closes).
    static void ReleaseFreeGrids();
    IntraPictureReconstructor(IntraPictureReconstructor const&) = delete;
    IntraPictureReconstructor& operator=(IntraPictureReconstructor const&) = delete;

    // The slice whose data is decoded next (its QPs and tools).
    // `aps` gives the LMCS and scaling list APSs the slice refers to. P and B slices need the
    // picture being decoded (which receives its motion field with the first slice) and the
    // slice's reference lists (they stay valid until finishPicture); intra slices may omit them.
    void startSlice(vvcsyntax::SliceHeaderParams const& sh, int sliceIndex, vvcslice::ApsLookup const& aps,
                    Picture* current = nullptr, SliceRefs const* refs = nullptr);
    void codingUnit(vvcslice::IntraCodingUnit const& cu) override;
    void ctu(vvcslice::CtuFilterParams const& p) override;
    // The slice's data is complete (its last CTU too).
    void endSlice();
    // Decodes into `target` (whose samples and motion field are made, of this picture's size and
    // format) row by row: each CTU row, once the rows around it let its filters run, is filtered
    // and copied there, and target->progress published. `sao` and `alf`: whether a slice of the
    // picture uses them. Without it the filters run in finishPicture.
    void decodeInto(Picture* target, bool sao, bool alf);
    // The CTU rows left: inverse luma mapping, then the in-loop filters in their order
    // (deblocking, SAO, ALF). Waits for the references read to be finished: the picture fails
    // when one of them did.
    void finishPicture();

    bool ok() const { return !m_failed.load(std::memory_order_acquire); }
    // Once the picture is finished (the filters of its rows may fail meanwhile).
    std::string const& error() const { return m_error; }
    // The picture's planes; the filters of finishPicture leave it in other planes (fetch them after).
    PelStorage& picture() { return m_pic; }
    // Debugging aid: counts of the residual tools the picture used, one line of text.
    std::string toolStats() const;

private:
    struct Rect
    {
        int x, y, w, h;
    };
    void lumaBlock(vvcslice::IntraCodingUnit const& cu, Rect const& tb);
    // Inter units: the slice's motion context and references, the unit's motion and its
    // prediction of the whole unit (m_unitPred), its motion stored; the motion strengths of the
    // prediction and subblock edges for the deblocking.
    void startInterSlice(vvcsyntax::SliceHeaderParams const& sh, Picture* current, SliceRefs const* refs);
    bool interPrediction(vvcslice::CodingUnit const& cu);
    // CIIP: the planar prediction of the unit per plane (m_intraPred) and its weight.
    int ciipIntra(vvcslice::CodingUnit const& cu);
    void motionEdges(int y4Begin, int y4End);
    void storeNonInter(vvcslice::CodingUnit const& cu);
    // The block vector of a block copy unit and its prediction of the whole unit (m_ibcPred).
    bool blockCopy(vvcslice::IntraCodingUnit const& cu);
    // The block vector of the block copy unit covering (x, y) when it may serve as a candidate
    // of the unit at (xCur, yCur) (available to it); null otherwise.
    vvcibc::BlockVector const* neighbourVector(int x, int y, int xCur, int yCur) const;
    void chromaBlocks(vvcslice::IntraCodingUnit const& cu, Rect const& tbLuma, int lumaMode, bool lumaMip);
    // Writes the w x h samples at (x0, y0) of plane c: the prediction plus the residual (none
    // when null), clipped to the sample range.
    void addResidual(int c, int x0, int y0, int w, int h, uint16_t const* pred, ptrdiff_t predStride,
                     int32_t const* res, ptrdiff_t resStride);
    bool residual(vvcslice::TransformBlock const& b, vvcslice::IntraCodingUnit const& cu, int mode, int collocatedMode,
                  bool collocatedMip, int qp, std::vector<int32_t>& res);
    // The chroma residual scale of a chroma block of `cu` from the mapped luma next to its 64x64
    // area (next to the unit itself where it covers that area's top-left sample).
    int chromaResidualScale(vvcslice::IntraCodingUnit const& cu, int xC, int yC) const;
    // Inverse luma mapping of the samples of the slices that use LMCS, 4x4 cell rows [y4Begin, y4End).
    void inverseMapLuma(int y4Begin, int y4End);
    // Records a transform block (x, y, w, h in luma samples) of the unit for the deblocking
    // (its edges, QPs and what its strengths depend on).
    void deblockBlock(vvcslice::IntraCodingUnit const& cu, bool chroma, int x, int y, int w, int h, bool const cbf[2],
                      bool joint, int const qp[2]);
    int tileOfCtu(int ctu) const { return ctu >= 0 && size_t(ctu) < m_ctuTile.size() ? m_ctuTile[size_t(ctu)] : -1; }
    int ctuAt(int x, int y) const { return (y >> m_sps.log2CtuSize) * m_pps.picWidthInCtbs + (x >> m_sps.log2CtuSize); }
    // Loop filters may not read across the boundary between the CTUs (other slice or tile with
    // filtering across them off; another subpicture when that of ctuA, or for the deblocking
    // either of the two, keeps loop filters from crossing its boundary).
    bool closedBoundary(int ctuA, int ctuB, bool deblocking = false) const;
    // The CTU's samples and motion are complete; starts the filters of the rows that lets.
    void completeCtu(int ctuAddr);
    // Runs each stage over the CTU rows it may filter, of the first `rowsComplete` complete rows
    // (all of them when `all`): a CTU row is deblocked (and inverse mapped) once the row below is
    // reconstructed (until then intra prediction reads its samples unfiltered); SAO and ALF filter
    // a row once the row below is deblocked (SAO then also filters the first lines of the row
    // below, which ALF reads); then the row is final.
    void advanceRows(int rowsComplete, bool all);
    // Row by row, the filters run on a worker behind the reconstruction: the rows they filter are
    // no longer written, and what they read of the slices changes only once they have stopped.
    void startFilters();
    void waitFilters();
    void handOverToFilters();
    // The stages over CTU rows [r0, r1).
    void deblockRows(int r0, int r1);
    void saoLines(int y0, int y1); // luma lines
    void alfRows(int r0, int r1);
    void outputRows(int r0, int r1);
    // The output planes of SAO and ALF (m_filtered, the picture's size; its samples unspecified);
    // false, with the reconstruction failed, when there is no memory for them. SAO writes them
    // from m_pic, ALF writes back into m_pic after SAO (else into them).
    bool filterOutput(char const* filter);
    // The planes of the final samples.
    PelStorage& finalPlanes() { return m_planSao != m_planAlf ? m_filtered : m_pic; }
    vvcslice::TransformBlock const* findBlock(vvcslice::IntraCodingUnit const& cu, int cIdx, int x, int y) const;
    void markReconstructed(int c, int x, int y, int w, int h);
    // Whether the luma position (x, y) of plane kind c (0 luma, 1 chroma) is reconstructed in the
    // current slice; given the current block's luma position, also in its tile and not in a CTU
    // the parallel CTU rows make unavailable.
    bool available(int c, int x, int y, int xCur = -1, int yCur = -1) const;
    static bool isInter(vvcslice::CodingUnit const& cu) { return cu.predMode == vvcslice::CuPredMode::Inter && !cu.ibc; }
    // Predicted as a whole unit before the residual (block copy, inter).
    static bool unitPredicted(vvcslice::CodingUnit const& cu) { return cu.ibc || isInter(cu); }
    static bool isIntra(vvcslice::CodingUnit const& cu) { return !unitPredicted(cu); }
    // From the reconstruction or from the filters running behind it: the first failure stays.
    void fail(std::string const& text)
    {
        std::lock_guard<std::mutex> lock(m_errorLock);
        if (!m_failed.load(std::memory_order_relaxed)) {
            m_error = text;
            m_failed.store(true, std::memory_order_release);
        }
    }

    vvcsyntax::SeqParameterSet const& m_sps;
    vvcsyntax::PicParameterSet const& m_pps;
    bool const m_chroma; // 4:2:0 chroma planes; none in 4:0:0
    vvcsyntax::SliceHeaderParams const* m_sh = nullptr;
    vvcsyntax::ChromaQpTables m_qpTables;
    PelStorage m_pic;
    PelStorage m_filtered; // the other planes of SAO and ALF: input and output alternate
    int m_slice = 0;
    int m_maxTb = 64;
    // Per 4x4 luma area and plane kind (0 luma, 1 chroma): the slice that reconstructed it, -1
    // while not reconstructed.
    std::vector<int> m_done[2];
    int m_gridW = 0;
    // Luma mode and MIP flag per 4x4 luma area (for the chroma DM and LFNST of CCLM blocks).
    std::vector<vvcslice::CtuFilterParams> m_ctuParams;
    std::vector<int> m_ctuSlice;
    bool m_sao = false;
    // Scaling matrices of the current slice's scaling list APS, when it uses one.
    bool m_scalingList = false;
    vvcresidual::ScalingMatrices m_matrices;
    // LMCS model of the current slice, and per slice whether it uses LMCS.
    bool m_lmcs = false, m_chromaScaling = false;
    vvcsyntax::LmcsModel m_lmcsModel;
    std::vector<uint8_t> m_sliceLmcs;
    std::vector<int> m_ctuTile;
    std::vector<int> m_ctuSubpic;  // per CTU its subpicture's index
    std::vector<int> m_vbX, m_vbY; // virtual boundaries in force, luma positions
    vvcdeblock::DeblockMap m_dbk;
    std::vector<uint8_t> m_sliceDeblock;                        // per slice: deblocking on
    std::vector<std::unique_ptr<AlfSliceFilters>> m_alfFilters; // per slice, null without ALF
    std::vector<int16_t> m_lumaMode;
    // Per 4x4 luma area the coding unit (of the luma or single tree) covering it, in decoding
    // order: the motion test of the deblocking applies on coding unit edges, not inside a unit.
    std::vector<int32_t> m_lumaCu;
    int32_t m_lumaCuCount = 0;
    // Block copy: the reference window, the history of vectors, per 4x4 luma area whether a
    // block copy unit covers it and its vector, and the prediction of the current unit per plane.
    vvcibc::ReferenceBuffer m_ibcBuf;
    vvcibc::History m_ibcHistory;
    std::vector<uint8_t> m_ibcCell;
    std::vector<vvcibc::BlockVector> m_bv;
    // The prediction of the current block copy or inter unit, per plane, the unit's size.
    std::vector<uint16_t> m_unitPred[3];
    // Inter: the motion of the picture per 4x4, the slice's history, motion context and
    // references as the prediction reads them, the unit predictor, the CIIP intra prediction
    // per plane and the DMVR-refined vectors of the unit per 4x4.
    vvcinter::MotionGrid m_motion;
    vvcinter::MotionGrid m_motionSpare; // a grid of an earlier picture, made anew when needed
    vvcinter::Hmvp m_hmvp;
    vvcinter::SliceMotion m_sliceMotion;
    Picture* m_current = nullptr;
    SliceRefs const* m_refs = nullptr;
    std::unique_ptr<vvcinter::SlicePrediction> m_slicePred;
    std::unique_ptr<vvcinter::CuPredictor> m_cuPred;
    bool m_anyInter = false;
    std::vector<uint16_t> m_intraPred[3];
    vvcinter::Mv m_refined[(vvcinter::kMaxCuSize / 4) * (vvcinter::kMaxCuSize / 4)][2];
    std::vector<Rect> m_subblockUnits;   // affine and subblock temporal units (their inner edges)
    // What the filters read of these, handed over while they stop (the reconstruction adds to
    // the units and sets m_anyInter as it goes).
    std::vector<Rect> m_filterSubblocks;
    size_t m_subblocksHanded = 0;
    bool m_filterAnyInter = false;
    std::vector<uint8_t> m_tileColumnStart; // per CTB column: the first of a tile column
    std::vector<uint8_t> m_lumaMip;
    // The luma prediction of the current block (shared by ISP sub-partitions narrower than 4).
    std::vector<uint16_t> m_lumaPred;
    // Buffers reused from block to block: transform blocks of the current unit, residuals per
    // plane, the joint Cb-Cr split and the chroma prediction.
    std::vector<Rect> m_tbs, m_tbTodo;
    std::vector<int32_t> m_res[3], m_jointRes[2];
    std::vector<uint16_t> m_chromaPred;
    std::atomic<bool> m_failed{false};
    std::mutex m_errorLock;
    std::string m_error;
    // The picture-sized grids, kept from picture to picture (fresh memory for each would cost
    // its page faults every time).
    struct Grids;
    static std::vector<std::unique_ptr<Grids>>& freeGrids(); // under its lock, a few more than in flight
    void takeGrids();
    void returnGrids();
    // Row by row decoding: the target picture, which filters run, the CTU whose units arrive, the
    // complete CTUs per CTU row, and how many rows (from the top) each stage has done.
    Picture* m_target = nullptr;
    bool m_planned = false, m_planSao = false, m_planAlf = false;
    int m_openCtu = -1;
    std::vector<int> m_rowCtus;
    int m_rowsComplete = 0, m_rowsDeblocked = 0, m_rowsAlf = 0, m_rowsOut = 0;
    int m_saoLines = 0; // luma lines filtered by SAO
    // Lines of a deblocked row ALF of the row above reads: 4 luma lines below its virtual
    // boundary and the 3 its filter reaches, with room (fewer than a CTB's, whose last 7 lines
    // the next row's deblocking may still change).
    static constexpr int kSaoLeadLines = 8;
    std::vector<AlfCtbParams> m_alfCtbs;
    // The reference pictures of the slice as the prediction waits for their rows, its collocated
    // picture, and every picture read while decoding this one.
    struct RefRows final : vvcinter::ReferenceRows
    {
        RowProgress const* progress = nullptr;
        std::vector<RowProgress const*>* used = nullptr;
        bool noted = false;
        void waitFor(int lumaLines) override;
    };
    RefRows m_refRows[2][vvcinter::kMaxRefs];
    RefRows m_colRows;
    bool m_colWait = false;
    std::vector<RowProgress const*> m_usedRefs;
    // Residual tool counts for toolStats(): luma/chroma blocks by path, CUs by tool.
    struct ToolCounts
    {
        int tsLuma = 0, tsChroma = 0, bdpcm = 0, lfnstLuma = 0, lfnstChroma = 0, mts = 0, isp = 0, mip = 0;
        int dct4x4 = 0, dst4x4 = 0, lfnst4x4 = 0, joint[4] = {}, oneD = 0, scalingList = 0, dq = 0, sdh = 0,
            noRes4x4 = 0;
        int cclm = 0;
        // Inter units by kind: merge (regular, MMVD, CIIP, GPM), affine and subblock temporal,
        // AMVP (translational, affine), bi-predicted, SBT.
        int merge = 0, mmvd = 0, ciip = 0, gpm = 0, affine = 0, sbtmvp = 0, amvp = 0, affineAmvp = 0, bi = 0, sbt = 0,
            coded = 0;
        // Translational bi-predicted units with integer or fractional vectors; the refinements
        // and weightings applied.
        int biInt = 0, biFrac = 0, dmvr = 0, bdof = 0, bcw = 0, weighted = 0;
    } m_counts;
    vvcutil::Task m_filters; // last: stopped before the members it uses go
};
