#pragma once

#include "picture/Picture.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

// The decoded picture buffer of one layer: the pictures kept for reference or output, the
// reference picture lists of a slice built from its list structures, reference marking, the
// pictures made up for references that a CRA or GDR start left missing, and the output order
// (pictures leave in POC order when the reorder, latency or fullness limits of the sequence
// say so, or when a new sequence or the end of the stream empties the buffer).
namespace vvcdpb {

// Limits of the sequence for its highest temporal sub-layer.
struct BufferLimits
{
    int maxDecPicBuffering = 1; // dpb_max_dec_pic_buffering_minus1 + 1
    int maxNumReorder = 0;
    int maxLatencyIncreasePlus1 = 0; // 0: no latency limit
    int maxLatencyPictures() const { return maxNumReorder + maxLatencyIncreasePlus1 - 1; }
};
BufferLimits LimitsOf(vvcsyntax::SeqParameterSet const& sps, int highestTid);

// What the list construction of a slice needs of the current picture.
struct CurrentPicture
{
    int poc = 0;
    int layerId = 0;
    int log2MaxPocLsb = 4;
    int bitDepth = 10;
    ChromaFormat chromaFormat = CHROMA_420;
    int width = 0, height = 0;
    // A CRA or GDR that starts its sequence (NoOutputBeforeRecoveryFlag 1): references it lacks
    // are made up (grey pictures that are never output).
    bool generateMissing = false;
};

class DecodedPictureBuffer
{
public:
    std::vector<std::shared_ptr<Picture>> const& pictures() const { return m_pics; }

    // The reference picture lists of a slice from its list structures (`rpl`) and active entry
    // counts; `collocatedFromL0` / `collocatedRefIdx` name the collocated picture when
    // `temporalMvp`. Entries without a picture get a generated one when the current picture
    // allows it, and otherwise too (a damaged or cut stream), with `missing` counting them.
    // False when the lists cannot be formed at all (more active entries than entries).
    bool buildLists(CurrentPicture const& cur, vvcsyntax::RefPicLists const& rpl, vvcsyntax::SeqParameterSet const& sps,
                    int sliceType, int const numActive[2], bool temporalMvp, bool collocatedFromL0,
                    int collocatedRefIdx, SliceRefs& out, int& missing);
    // Reference marking after the first slice's lists: entries of the lists are short- or
    // long-term references as the lists say; every other picture is unused for reference.
    void markReferences(SliceRefs const& refs);
    // All pictures unused for reference (a picture that starts a sequence).
    void unmarkAll();

    // Output before the current picture is decoded. At a picture that starts a sequence (not
    // the first one): with `noOutputOfPriorPics` the buffer is emptied without output, else
    // every waiting picture is output and the buffer emptied. Otherwise pictures neither
    // waiting nor referenced leave, and pictures are output while the limits are exceeded.
    void beforePicture(bool startsSequence, bool noOutputOfPriorPics, BufferLimits const& limits);
    // The decoded current picture enters the buffer (a short-term reference), waiting for
    // output when its output flag is set, and pictures are output while the reorder or latency
    // limits are exceeded.
    void addPicture(std::shared_ptr<Picture> pic, BufferLimits const& limits);
    // Every waiting picture is output in POC order and the buffer emptied.
    void flush();
    // Empties the buffer and the output queue without output.
    void clear();

    // Pictures output, in output order, not yet taken by the caller.
    bool hasOutput() const { return !m_output.empty(); }
    std::shared_ptr<Picture> const& nextOutput() const { return m_output.front(); }
    std::shared_ptr<Picture> takeOutput();

private:
    // Outputs the waiting picture of smallest POC; false when none waits.
    bool bump();
    void removeUnused();
    int waitingCount() const;
    bool latencyExceeded(BufferLimits const& limits) const;
    std::shared_ptr<Picture> generate(CurrentPicture const& cur, int poc, bool longTerm);
    std::shared_ptr<Picture> find(int poc, bool lsbOnly, int lsbMask, bool shortTermOnly, int layerId) const;

    std::vector<std::shared_ptr<Picture>> m_pics;
    std::deque<std::shared_ptr<Picture>> m_output;
};

} // namespace vvcdpb
