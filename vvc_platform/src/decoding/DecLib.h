#pragma once

#include "bitstream/AnnexBread.h"
#include "bitstream/Nal.h"
#include "bitstream/ParameterSets.h"
#include "bitstream/Syntax.h"
#include "decoding/Recon.h"
#include "picture/Dpb.h"
#include "picture/Picture.h"
#include "slice/SliceParser.h"
#include "util/WorkerPool.h"

#include <array>
#include <deque>
#include <fstream>
#include <list>
#include <map>
#include <memory>

class Quant;

// Outcome of the decoded picture hash checks since the decoder was made.
struct PictureHashStats
{
    int pictures = 0;      // pictures finished
    int withHash = 0;      // of these, with a decoded picture hash SEI message
    int intraPictures = 0; // pictures whose slices are all intra
    int intraWithHash = 0;
    int intraSlices = 0;       // intra slices whose slice data was entropy decoded
    int intraSlicesParsed = 0; // of these, decoded exactly to the end of their data
    int interSlices = 0;       // P and B slices whose slice data was entropy decoded
    int interSlicesParsed = 0; // of these, decoded exactly to the end of their data
    int checked = 0;           // hashes compared against reconstructed samples
    int matched = 0;
    int firstMismatch = -1; // decoding-order index of the first picture that did not match
    int firstMismatchPlane = -1;
    int lastPlane = -1; // the first plane that did not match in the last picture checked, -1 if all did
};

class TrQuant
{
public:
    void init(Quant const* quant, unsigned int maxTrSize, bool useRdoq, bool useRdoqTs, bool useSelectiveRdoq,
              bool scalingListsEnabled);
    bool isInitialised() const { return m_initialised; }

private:
    bool m_initialised = false;
};

// The decoder: parameter sets, picture headers, picture order counts and the decoded-picture
// list. Intra pictures are reconstructed (with LMCS and the in-loop filters) and, where their
// samples match the picture hash or the stream carries none, kept for the output; pictures with
// inter slices have no samples.
class DecLib
{
public:
    DecLib();
    ~DecLib();
    DecLib(DecLib const&) = delete;
    DecLib& operator=(DecLib const&) = delete;

    void create();
    void init();
    void destroy();
    void deletePicBuffer();
    TrQuant* getTrQuant() { return &m_trQuant; }
    // While enabled, each finished picture with reconstructed samples is checked against its
    // decoded picture hash SEI message; the outcome is counted in hashStats().
    void setDecodedPictureHashSEIEnabled(int enabled) { m_decodedPictureHashSEIEnabled = enabled; }
    // Headers only: pictures are counted, ordered and output with their sizes, but their slice
    // data is neither parsed nor reconstructed (a quick pass over a whole stream).
    void setHeadersOnly(bool on) { m_headersOnly = on; }
    PictureHashStats const& hashStats() const
    {
        waitForSamples(nullptr);
        return m_hashStats;
    }
    void setNoOutputPriorPicsFlag(bool flag) { m_noOutputPriorPicsFlag = flag; }

    // True when a picture is being decoded (or an EOS ended the last one) and the next NAL unit
    // starts another one; answered true at most once at each stream position.
    bool isNewPicture(std::ifstream* file, InputByteStream* bs);
    // True when the next picture also starts an access unit.
    bool isNewAccessUnit(bool newPicture, std::ifstream* file, InputByteStream* bs);
    bool isSliceNaluFirstInAU(bool newPicture, InputNALUnit& nalu);
    // Decodes one NAL unit; the answer is whether a picture was finished by it (never, here).
    bool decode(InputNALUnit& nalu, int& skipFrame, int& pocLastDisplay, int targetOlsIdx, bool);
    void executeLoopFilters() {}
    // Completes the current picture: it enters the decoded picture buffer, and pictures are
    // output as the buffer's limits say. `pictureList` is the buffer's pictures (for their
    // parameter sets; output goes through takeOutput). Its slice data is decoded and its samples
    // finished (in-loop filters, hash check, motion field) on a worker, once the pictures it
    // refers to are finished, while later pictures are read and decoded; until it is output or
    // the outcome is asked for. The outcome (counts, errors) is taken in decoding order.
    void finishPicture(int& poc, std::list<Picture*>*& pictureList, MsgLevel msgl, bool associatedWithNewClvs);
    // Pictures output, in output order: the next one, or null when none is due (waits for its
    // samples).
    Picture const* nextOutput() const;
    // Without waiting: a picture is due for output, and its samples are finished.
    bool hasOutput() const { return m_dpb.hasOutput(); }
    bool outputReady() const;
    // More pictures may be read and decoded before the due output is taken: several threads, and
    // room for another picture in flight.
    bool canDecodeAhead() const;
    std::shared_ptr<Picture> takeOutput();
    // The end of the stream: every picture still waiting is output.
    void flushOutput();

    void updateAssociatedIRAP() {}
    void updatePrevGDRInSameLayer() {}
    void updatePrevIRAPAndGDRSubpic() {}
    // Conformance checks at picture and access-unit boundaries. The stand-in records nothing
    // they would examine, so they pass.
    void checkSeiInPictureUnit() {}
    void resetPictureSeiNalus() {}
    void checkAPSInPictureUnit() {}
    void resetPictureUnitNals() {}
    void CheckNoOutputPriorPicFlagsInAccessUnit() {}
    void resetAccessUnitNoOutputPriorPicFlags() {}
    void checkLayerIdIncludedInCvss() {}
    void checkTidLayerIdInAccessUnit() {}
    void checkSEIInAccessUnit() {}
    void resetAccessUnitNals() {}
    void resetAccessUnitApsNals() {}
    void resetAccessUnitSEITids() {}
    void resetAccessUnitPicInfo() {}
    void resetAccessUnitEos() {}

    // The complete high-level syntax (parameter sets, APS, picture and slice headers) is read
    // alongside the parts the output needs. A unit whose complete syntax cannot be read does not
    // stop the decoding of the stream's properties: it is counted, the first such error kept,
    // and its picture marked (Picture::syntaxComplete).
    int syntaxErrorCount() const
    {
        waitForSamples(nullptr);
        return m_syntaxErrors;
    }
    // The first intra slice whose slice data did not decode to its end, and why.
    std::string const& sliceDataError() const
    {
        waitForSamples(nullptr);
        return m_firstSliceDataError;
    }
    std::string const& syntaxError() const
    {
        waitForSamples(nullptr);
        return m_firstSyntaxError;
    }
    vvcsyntax::SeqParameterSet const* seqParameterSet(int id) const;
    vvcsyntax::PicParameterSet const* picParameterSet(int id) const;
    vvcsyntax::AdaptationParameterSet const* adaptationParameterSet(int type, int id) const;

    bool getFirstSliceInPicture() const { return m_firstSliceInPicture; }
    void setFirstSliceInPicture(bool flag) { m_firstSliceInPicture = flag; }
    bool getFirstSliceInSequence(int layerId) const { return m_firstSliceInSequence[clampLayer(layerId)]; }
    void setFirstSliceInSequence(bool flag, int layerId) { m_firstSliceInSequence[clampLayer(layerId)] = flag; }
    VPS const* getVPS() const { return m_vps.get(); }
    VPS* getVPS() { return m_vps.get(); }

private:
    static int clampLayer(int layerId)
    {
        return layerId < 0 ? 0 : layerId >= MAX_VPS_LAYERS ? MAX_VPS_LAYERS - 1 : layerId;
    }
    SPS const& spsOfPps(int ppsId) const;
    // What decoding a picture's slice data needs: the slice as read, kept until it is decoded.
    struct DeferredSlice
    {
        int nalUnitType = 0;
        bool intra = false;
        bool stopsRecon = false; // its references could not be formed or its format is not reconstructed
        vvcsyntax::SliceHeaderParams sh;
        std::shared_ptr<vvcsyntax::SeqParameterSet const> sps;
        std::shared_ptr<vvcsyntax::PicParameterSet const> pps;
        std::array<std::shared_ptr<vvcsyntax::AdaptationParameterSet const>, 24> aps; // the APSs when it was read
        std::vector<uint8_t> data;                                                  // the slice data
        SliceRefs const* refs = nullptr;
        bool hasDistances = false;
        vvcslice::RefDistances distances;
    };
    // One picture's decoding on a worker, and its outcome, taken in decoding order.
    struct PictureJob
    {
        std::shared_ptr<Picture> pic;
        bool reconstruct = false;
        bool hashCheck = false;
        std::vector<DeferredSlice> slices;
        bool rows = false;             // decoded row by row into the picture's planes (made for it)
        bool sao = false, alf = false; // a slice uses them
        std::shared_ptr<vvcutil::SharedTask> task;
        // Outcome.
        int intraSlices = 0, intraSlicesParsed = 0, interSlices = 0, interSlicesParsed = 0;
        std::string sliceDataError;
        std::vector<std::string> syntaxErrors;
        bool intraPicture = false, checked = false;
        int plane = -1; // the first plane that differs from the hash, -1 if none (or not checked)
        std::string statsLine; // debugging aid (SERAVIN_VVC_STATS)
    };
    // Decodes the picture's slice data and finishes its samples: the in-loop filters, the hash
    // check and the motion field, row by row into the picture's planes (made beforehand), while
    // the rows of the pictures it refers to become final. Touches only the job and its picture.
    static void runJob(PictureJob& job);
    static void finishSamples(PictureJob& job, IntraPictureReconstructor* recon);
    // Returns once the samples of `pic` are finished (of every picture when null), taking the
    // outcome of the pictures finished before it.
    void waitForSamples(Picture const* pic) const;
    static size_t maxInFlight();
    // Takes the outcome of the oldest picture in flight once it is finished.
    void retireOldest() const;
    void takeOutcome(PictureJob const& job) const;
    void decodeSlice(InputNALUnit& nalu);
    void decodeSei(InputNALUnit& nalu);
    // The slice header and data of a slice unit read from `bs` (the unit's payload), once the
    // legacy pass has opened or passed over its picture; false on an error, which is counted.
    bool readSlice(InputNALUnit const& nalu, InputBitstream bs);
    // A slice for a slice address already decoded in the current picture (a repeated unit).
    bool repeatsDecodedSlice(InputNALUnit const& nalu) const;
    // First slice of a picture: output flag, a new sequence's buffer, the reconstructor.
    void startPicture(vvcsyntax::SliceHeaderParams const& sh, vvcsyntax::PicParameterSet const& pps,
                      vvcsyntax::SeqParameterSet const& sps);
    // The slice's reference picture lists (and after the first slice the marking and the output
    // before the picture); false when they cannot be formed.
    bool sliceReferences(vvcsyntax::SliceHeaderParams const& sh, vvcsyntax::SeqParameterSet const& sps);
    // Reads the complete syntax of a unit from a copy of its reader; false on an error, which is
    // counted.
    bool readFullSyntax(InputNALUnit const& nalu);
    void syntaxFailed(std::string const& text) const;
    // Layer id and new-picture test of a peeked unit; false when it is not a usable NAL unit.
    bool startsNewPicture(std::vector<uint8_t> const& bytes, int& layerId) const;

    TrQuant m_trQuant;
    int m_decodedPictureHashSEIEnabled = 0;
    bool m_headersOnly = false;
    mutable PictureHashStats m_hashStats;
    bool m_noOutputPriorPicsFlag = false;
    bool m_created = false;

    std::unique_ptr<VPS> m_vps;
    std::map<int, std::shared_ptr<SPS const>> m_sps;
    std::map<int, std::shared_ptr<PPS const>> m_pps;
    PicHeader m_picHeader;
    std::map<int, std::shared_ptr<vvcsyntax::SeqParameterSet const>> m_seqSets;
    std::map<int, std::shared_ptr<vvcsyntax::PicParameterSet const>> m_picSets;
    std::shared_ptr<vvcsyntax::AdaptationParameterSet const> m_aps[3][8];
    vvcsyntax::PictureHeaderParams m_phUnit;
    bool m_phUnitValid = false; // a picture-header unit opened the current picture
    bool m_lastSliceIntra = false;
    mutable int m_syntaxErrors = 0;
    mutable std::string m_firstSliceDataError;
    // The current picture's slices, decoded once the picture is complete.
    std::shared_ptr<PictureJob> m_job;
    mutable std::string m_firstSyntaxError;
    bool m_picSkipped = false; // the picture of the last picture header is passed over

    vvcdpb::DecodedPictureBuffer m_dpb;
    vvcdpb::BufferLimits m_limits;
    std::shared_ptr<Picture> m_cur; // the picture being decoded
    Picture* m_pcPic = nullptr;     // m_cur, or null between pictures
    std::list<Picture*> m_listPic;  // the buffer's pictures
    std::vector<std::pair<uint32_t, int>> m_decodedSlices; // subpicture ID and slice address
    bool m_curClvsStart = false, m_curIrapOrGdr = false;   // of the current picture
    bool m_irapOrGdrStart = false;      // the current picture is a CRA or GDR that starts its sequence
    bool m_firstSliceOfPicture = false; // its first slice's lists are not built yet
    int m_recoveryPoc[MAX_VPS_LAYERS] = {};
    bool m_recovering[MAX_VPS_LAYERS] = {}; // pictures before a starting GDR's recovery point
    bool m_firstSliceInPicture = true;
    bool m_puEndedByEos = false;
    int64_t m_newPicturePosition = -1;
    bool m_firstSliceInSequence[MAX_VPS_LAYERS];
    // Per layer: a random-access point was decoded, the last one was a CRA or GDR that opened
    // its sequence (its RASL pictures are not decodable), an EOS was met, POC of the previous
    // temporal-id-0 picture.
    bool m_randomAccessPointSeen[MAX_VPS_LAYERS];
    bool m_skipRasl[MAX_VPS_LAYERS];
    bool m_eosSeen[MAX_VPS_LAYERS];
    int m_prevTid0Poc[MAX_VPS_LAYERS];
    int m_clvsIndex = 0;
    // Pictures being decoded on workers, in decoding order, whose outcome is not taken yet.
    mutable std::deque<std::shared_ptr<PictureJob>> m_inFlight;
};
