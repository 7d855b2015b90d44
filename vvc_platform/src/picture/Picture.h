#pragma once

#include "bitstream/ParameterSets.h"
#include "bitstream/Syntax.h"
#include "picture/PictureHash.h"
#include "picture/PlanePool.h"

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// Pictures of the decoded picture buffer.
//
// How a slice's reference pictures reach the reconstructor:
//  - DecLib decodes the slice header, then builds the slice's reference picture lists from the
//    SPS / picture header / slice header lists and the pictures in the buffer (generating
//    unavailable pictures where a CRA or GDR started the sequence), and appends one SliceRefs
//    to the current Picture (Picture::slices, in decoding order; index = the slice's index in
//    the picture).
//  - It then hands the reconstructor the current Picture and that slice's SliceRefs (startSlice
//    of the reconstructor; the SliceRefs stays where it is until the picture is finished).
//    Entry refIdx of list X is `refs.list[X][refIdx]`; only the first `refs.numActive[X]`
//    entries may be used by the slice data, and `entry.pic` is never null for them. A
//    reference's samples are `entry.pic->samples` (padded planes, below; empty when that
//    picture is not reconstructed), its motion field `entry.pic->motion` (null: no temporal
//    candidates), its POC `entry.poc`, its parameter sets `entry.pic->seqSet` / `picSet`
//    (size, scaling window).
//  - The collocated picture of the slice (TMVP, SbTMVP) is `refs.collocated` (null when the
//    picture header turns temporal MV prediction off); its motion field keeps the POCs and
//    long-term flags of its own references.
//  - DecLib makes the planes and the motion field of a picture it reconstructs before the
//    picture's decoding starts; the reconstructor writes them CTU row by CTU row, and
//    `Picture::progress` says how far they are final. A later picture may be decoded at the
//    same time: it waits on that progress for the rows it reads (RowProgress::waitFor), and
//    fails when a picture it read from fails.
//  - While a picture is decoded it keeps every picture it refers to alive (`heldRefs`), so a
//    reference stays valid for its whole decoding even after the buffer's marking drops it
//    (needed once several pictures are in flight).
//
// The samples: the reconstructor builds the picture in its own PelStorage (rows packed, no
// margins; in-loop filters there) and copies each CTU row, once filtered, into
// Picture::samples, whose planes have a margin of replicated edge samples on every side for
// motion compensation. The reconstructor of a later picture only reads `samples`.

namespace vvcinter {
struct MotionField; // the per-picture motion field, defined in inter/MotionInfo.h
}
namespace vvcutil {
class SharedTask;
}

// How far the samples and the motion field of a picture being decoded are final: luma lines
// [0, lines) with their margins (and the chroma lines and motion of those rows); complete once
// the picture is finished, whether it was reconstructed or failed. Complete from the start for
// a picture that is not decoded row by row.
class RowProgress
{
public:
    // Nothing is final yet.
    void begin();
    // The work that decodes the picture: a waiter runs it when no worker has taken it yet.
    void setTask(std::shared_ptr<vvcutil::SharedTask> task);
    void publish(int lines);
    void finish(bool failed);
    // Returns once `lines` luma lines are final or the picture is finished.
    void waitFor(int lines) const;
    bool complete() const { return m_lines.load(std::memory_order_acquire) == INT_MAX; }
    // Meaningful once complete.
    bool failed() const { return m_failed.load(std::memory_order_acquire); }

private:
    std::atomic<int> m_lines{INT_MAX};
    std::atomic<bool> m_failed{false};
    std::shared_ptr<vvcutil::SharedTask> m_task;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
};

class Picture;

// Reconstructed planes of a picture, as a view: empty while the picture holds no samples.
struct PelUnitBuf
{
    ChromaFormat chromaFormat = CHROMA_420;
    int width = 0; // luma size
    int height = 0;
    int bitDepth = 8;
    PlaneView planes[3];
    bool empty() const { return !planes[0].samples; }
    PlaneView plane(int c) const { return c >= 0 && c < 3 ? planes[c] : PlaneView(); }
};

// Sample storage of a picture: three planes of 16-bit samples, rows packed. The planes come from
// the plane pool (picture/PlanePool.h) and go back to it.
class PelStorage
{
public:
    PelStorage() = default;
    PelStorage(PelStorage const&) = default;
    PelStorage& operator=(PelStorage const&) = default;
    // The source is empty after a move; the planes a move replaces go back to the pool.
    PelStorage(PelStorage&& o) noexcept { swapWith(o); }
    PelStorage& operator=(PelStorage&& o) noexcept
    {
        if (this != &o) {
            destroy();
            swapWith(o);
        }
        return *this;
    }
    ~PelStorage() { destroy(); }

    // False when the size is not usable; the storage is then empty. Every sample is grey
    // (1 << (bitDepth - 1)), or with `grey` false unspecified (for a caller that writes them all).
    bool create(ChromaFormat format, int width, int height, int bitDepth, bool grey = true);
    void destroy();
    bool empty() const { return m_samples[0].empty(); }
    PelUnitBuf view() const;
    uint16_t* plane(int c) { return c >= 0 && c < 3 && !m_samples[c].empty() ? m_samples[c].data() : nullptr; }
    uint16_t const* plane(int c) const
    {
        return c >= 0 && c < 3 && !m_samples[c].empty() ? m_samples[c].data() : nullptr;
    }
    int planeWidth(int c) const { return m_width[c]; }
    int planeHeight(int c) const { return m_height[c]; }
    ChromaFormat chromaFormat() const { return m_format; }
    int bitDepth() const { return m_bitDepth; }

private:
    void swapWith(PelStorage& o) noexcept
    {
        std::swap(m_format, o.m_format);
        std::swap(m_bitDepth, o.m_bitDepth);
        for (int c = 0; c < 3; ++c) {
            m_samples[c].swap(o.m_samples[c]);
            std::swap(m_width[c], o.m_width[c]);
            std::swap(m_height[c], o.m_height[c]);
        }
    }

    ChromaFormat m_format = CHROMA_420;
    int m_bitDepth = 8;
    vvcpool::Plane m_samples[3];
    int m_width[3] = {};
    int m_height[3] = {};
};

// Sample planes of a picture in the buffer, each with a margin of `margin(c)` samples on all four
// sides that repeats the nearest edge sample, as motion compensation reads outside the picture.
//
// The luma margin is 144 samples: a block of up to 128 samples plus what the filters reach
// around it (8-tap interpolation 3 before and 4 after, DMVR's +-2 search, BDOF's 1 extra
// sample) is 138 samples or less. So for any block, either the area it reads lies inside the
// padded plane, or the block lies wholly beyond one edge, where every row (column) is constant
// and moving the block towards the picture until it touches the margin reads the same samples.
// Prediction therefore clamps the block's integer position to
//   x in [-(margin - 6), width + margin - 7 - blockWidth]   (likewise y)
// and reads the plane with no per-sample test. Chroma planes have the margin scaled by the
// chroma subsampling (72 in 4:2:0; the 4-tap filter and half-size blocks fit in it).
// Reference picture resampling and wrap-around compute each reference position and clamp (or
// wrap) them themselves: the margin only spares them the test near the edges.
class PaddedPelStorage
{
public:
    static constexpr int kLumaMargin = 144;

    PaddedPelStorage() = default;
    PaddedPelStorage(PaddedPelStorage const&) = default;
    PaddedPelStorage& operator=(PaddedPelStorage const&) = default;
    // The source is empty after a move; the planes a move replaces go back to the pool.
    PaddedPelStorage(PaddedPelStorage&& o) noexcept { swapWith(o); }
    PaddedPelStorage& operator=(PaddedPelStorage&& o) noexcept
    {
        if (this != &o) {
            destroy();
            swapWith(o);
        }
        return *this;
    }
    ~PaddedPelStorage() { destroy(); }

    // False when the size is not usable; the storage is then empty. Every sample is grey
    // (1 << (bitDepth - 1)). The planes come from the plane pool and go back to it.
    bool create(ChromaFormat format, int width, int height, int bitDepth);
    void destroy();
    bool empty() const { return m_samples[0].empty(); }
    // Takes a reconstructed picture: copies its samples in and fills the margins.
    bool assign(PelStorage const& picture);
    // Fills the margins from the edge samples (after the visible samples changed).
    void extendMargins();
    // The planes of create(), their samples unspecified (for a caller that writes them all).
    bool allocate(ChromaFormat format, int width, int height, int bitDepth);
    // Copies luma rows [y0, y1) of `picture` (of this size and format) and the chroma rows of
    // the same area, and fills their margins: left and right, above the picture with the first
    // row, below it with the last.
    bool copyRows(PelStorage const& picture, int y0, int y1);

    ChromaFormat chromaFormat() const { return m_format; }
    int bitDepth() const { return m_bitDepth; }
    int numPlanes() const { return m_format == CHROMA_400 ? 1 : 3; }
    int width(int c) const { return m_width[c]; } // visible size of plane c
    int height(int c) const { return m_height[c]; }
    int margin(int c) const { return m_margin[c]; }
    ptrdiff_t stride(int c) const { return m_stride[c]; }
    // Sample (0, 0) of plane c; samples from -margin to size + margin - 1 may be read.
    uint16_t const* origin(int c) const { return m_samples[c].empty() ? nullptr : m_samples[c].data() + m_offset[c]; }
    uint16_t* origin(int c) { return m_samples[c].empty() ? nullptr : m_samples[c].data() + m_offset[c]; }
    // The visible planes.
    PelUnitBuf view() const;

private:
    // Margins of plane c's rows [y0, y1).
    void extendRows(int c, int y0, int y1);
    void swapWith(PaddedPelStorage& o) noexcept
    {
        std::swap(m_format, o.m_format);
        std::swap(m_bitDepth, o.m_bitDepth);
        for (int c = 0; c < 3; ++c) {
            m_samples[c].swap(o.m_samples[c]);
            std::swap(m_width[c], o.m_width[c]);
            std::swap(m_height[c], o.m_height[c]);
            std::swap(m_margin[c], o.m_margin[c]);
            std::swap(m_stride[c], o.m_stride[c]);
            std::swap(m_offset[c], o.m_offset[c]);
        }
    }

    ChromaFormat m_format = CHROMA_420;
    int m_bitDepth = 8;
    vvcpool::Plane m_samples[3];
    int m_width[3] = {}, m_height[3] = {}, m_margin[3] = {};
    ptrdiff_t m_stride[3] = {}, m_offset[3] = {};
};

// One entry of a reference picture list.
struct RefPicEntry
{
    int poc = 0;           // the POC of the reference picture
    bool longTerm = false; // a long-term reference (its MVs are not scaled by POC distance)
    Picture* pic = nullptr;
};

// Explicit weighted prediction of a slice (its own table or that of the picture header), per
// list and reference index; entries without weights signalled hold the default weight
// (1 << denominator) and offset 0. Offsets are at the bit depth of the samples (already shifted).
struct PredWeights
{
    bool lumaFlag = false, chromaFlag = false;
    int lumaWeight = 0, lumaOffset = 0;
    int chromaWeight[2] = {}, chromaOffset[2] = {};
};

struct SliceRefs
{
    int sliceType = 2; // 0 B, 1 P, 2 I
    std::vector<RefPicEntry> list[2];
    int numActive[2] = {};
    Picture const* collocated = nullptr; // TMVP / SbTMVP source, null when not used
    bool weighted = false;               // explicit weighted prediction applies to this slice
    int lumaLog2WeightDenom = 0, chromaLog2WeightDenom = 0;
    std::vector<PredWeights> weights[2]; // numActive[X] entries while `weighted`
};

// Reference marking of a picture in the buffer.
enum class RefMark : uint8_t { Unused, ShortTerm, LongTerm };

class Picture
{
public:
    int poc = 0;
    int layerId = 0;
    int temporalId = 0;
    int nalUnitType = NAL_UNIT_INVALID;
    int clvsIndex = 0;   // coded layer video sequence the picture belongs to
    // Output: PicOutputFlag, and while the picture waits in the buffer whether it is still to be
    // output; `latencyCount` counts the pictures decoded after it while it waited.
    bool outputFlag = true;
    bool neededForOutput = true;
    int latencyCount = 0;
    RefMark marking = RefMark::Unused;
    bool nonRefPic = false; // ph_non_ref_pic_flag
    bool generated = false; // made up for a reference missing after a CRA or GDR start
    bool fieldPic = false;
    bool topField = false;
    std::shared_ptr<SPS const> sps;
    std::shared_ptr<PPS const> pps;
    // The parameter sets of the complete syntax (sizes, scaling windows of references).
    std::shared_ptr<vvcsyntax::SeqParameterSet const> seqSet;
    std::shared_ptr<vvcsyntax::PicParameterSet const> picSet;
    // The complete syntax of its slices was read (see DecLib::syntaxError) and how many of them
    // were intra slices.
    bool syntaxComplete = true;
    int numSlices = 0;
    int numIntraSlices = 0;
    bool hasHash = false; // a decoded picture hash SEI message came with it
    PictureHash hash;

    // Reference picture lists of each slice, in decoding order (see the top of this file).
    std::deque<SliceRefs> slices; // a deque: a slice's entry stays where it is while later ones are added
    // The motion field, made by the reconstructor; null for pictures without one (intra-only
    // decoding keeps none; generated pictures have one without motion: all intra).
    std::shared_ptr<vvcinter::MotionField> motion;
    // The pictures this one refers to, kept alive while it is decoded.
    std::vector<std::shared_ptr<Picture>> heldRefs;

    bool referenced() const { return marking != RefMark::Unused; }
    bool getOutputMark() const { return neededForOutput; }
    void setOutputMark(bool mark) { neededForOutput = mark; }
    // The decoded samples with their margins; empty until the picture is finished (or when it
    // could not be reconstructed).
    PaddedPelStorage samples;

    // The samples differ from the picture's hash: they still serve as a reference (so that the
    // pictures after it are decoded and checked too) but are not output.
    bool hashMismatch = false;

    // Decoding progress of `samples` and `motion`.
    RowProgress progress;
    // The samples are those of a reconstructed picture (not of one that failed).
    bool hasSamples() const { return !samples.empty() && !(progress.complete() && progress.failed()); }

    // The samples to output: none while empty or when they differ from the hash.
    PelUnitBuf getRecoBuf(bool = false) const
    {
        if (hasSamples() && !hashMismatch)
            return samples.view();
        PelUnitBuf buf;
        buf.chromaFormat = sps ? sps->m_chromaFormatIdc : CHROMA_420;
        buf.width = pps ? pps->m_picWidth : 0;
        buf.height = pps ? pps->m_picHeight : 0;
        return buf;
    }
    void destroy()
    {
        samples.destroy();
        slices.clear();
        heldRefs.clear();
        motion.reset();
        sps.reset();
        pps.reset();
        seqSet.reset();
        picSet.reset();
    }
};
