#include "decoding/DecLib.h"

#include "picture/PlanePool.h"
#include "slice/SliceParser.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

void TrQuant::init(Quant const*, unsigned int, bool, bool, bool, bool)
{
    m_initialised = true;
}

namespace {

// Motion fields of pictures that left, kept for later pictures (as the planes are): a fresh one
// costs its page faults every time. Never destroyed: a picture may leave after the statics at exit.
using FreeFields = std::vector<std::unique_ptr<vvcinter::MotionField>>;
std::mutex& gFieldsLock = *new std::mutex;
FreeFields& gFreeFields = *new FreeFields;

std::shared_ptr<vvcinter::MotionField> TakeMotionField()
{
    std::unique_ptr<vvcinter::MotionField> f;
    {
        std::lock_guard<std::mutex> lock(gFieldsLock);
        if (!gFreeFields.empty()) {
            f = std::move(gFreeFields.back());
            gFreeFields.pop_back();
        }
    }
    if (!f)
        f = std::make_unique<vvcinter::MotionField>();
    return std::shared_ptr<vvcinter::MotionField>(f.release(), [](vvcinter::MotionField* field) {
        std::unique_ptr<vvcinter::MotionField> kept(field);
        std::lock_guard<std::mutex> lock(gFieldsLock);
        if (gFreeFields.size() < 32)
            gFreeFields.push_back(std::move(kept));
    });
}

void ReleaseFreeMotionFields()
{
    FreeFields leaving;
    std::lock_guard<std::mutex> lock(gFieldsLock);
    leaving.swap(gFreeFields);
}

} // namespace

DecLib::DecLib()
{
    std::fill(std::begin(m_firstSliceInSequence), std::end(m_firstSliceInSequence), true);
    std::fill(std::begin(m_randomAccessPointSeen), std::end(m_randomAccessPointSeen), false);
    std::fill(std::begin(m_skipRasl), std::end(m_skipRasl), false);
    std::fill(std::begin(m_eosSeen), std::end(m_eosSeen), false);
    std::fill(std::begin(m_prevTid0Poc), std::end(m_prevTid0Poc), 0);
}

DecLib::~DecLib()
{
    deletePicBuffer();
    // The planes and grids the decoder gave back are not kept once it closes.
    vvcpool::ReleaseFreePlanes();
    IntraPictureReconstructor::ReleaseFreeGrids();
    ReleaseFreeMotionFields();
    vvcslice::ReleaseParserBuffers();
}

void DecLib::retireOldest() const
{
    std::shared_ptr<PictureJob> const job = std::move(m_inFlight.front());
    m_inFlight.pop_front();
    std::exception_ptr error;
    try {
        job->task->wait();
    } catch (...) {
        error = std::current_exception();
    }
    takeOutcome(*job);
    if (error)
        std::rethrow_exception(error);
}

void DecLib::waitForSamples(Picture const* pic) const
{
    if (!pic) {
        while (!m_inFlight.empty())
            retireOldest();
        return;
    }
    for (auto const& job : m_inFlight)
        if (job->pic.get() == pic) {
            job->task->wait();
            break;
        }
    while (!m_inFlight.empty() && m_inFlight.front()->task->done())
        retireOldest();
}

void DecLib::create()
{
    m_created = true;
}

void DecLib::init() {}

void DecLib::destroy()
{
    waitForSamples(nullptr);
    m_created = false;
    m_vps.reset();
    m_sps.clear();
    m_pps.clear();
    m_picHeader = PicHeader();
    m_seqSets.clear();
    m_picSets.clear();
    for (auto& byType : m_aps)
        for (auto& aps : byType)
            aps.reset();
    m_phUnitValid = false;
}

vvcsyntax::SeqParameterSet const* DecLib::seqParameterSet(int id) const
{
    auto const it = m_seqSets.find(id);
    return it == m_seqSets.end() ? nullptr : it->second.get();
}

vvcsyntax::PicParameterSet const* DecLib::picParameterSet(int id) const
{
    auto const it = m_picSets.find(id);
    return it == m_picSets.end() ? nullptr : it->second.get();
}

vvcsyntax::AdaptationParameterSet const* DecLib::adaptationParameterSet(int type, int id) const
{
    return type >= 0 && type < 3 && id >= 0 && id < 8 ? m_aps[type][id].get() : nullptr;
}

void DecLib::syntaxFailed(std::string const& text) const
{
    if (m_syntaxErrors++ == 0) {
        m_firstSyntaxError = text;
        msg(WARNING, "Warning: %s\n", text.c_str());
    }
}

bool DecLib::readFullSyntax(InputNALUnit const& nalu)
{
    using namespace vvcsyntax;
    InputBitstream bs = const_cast<InputNALUnit&>(nalu).getBitstream();
    int const type = nalu.m_nalUnitType;
    try {
        switch (type) {
        case NAL_UNIT_SPS: {
            auto sps = std::make_shared<SeqParameterSet>();
            ParseSps(bs, *sps);
            m_seqSets[sps->id] = sps;
            break;
        }
        case NAL_UNIT_PPS: {
            InputBitstream head = bs;
            head.read(6);
            int const spsId = int(head.read(4));
            SeqParameterSet const* sps = seqParameterSet(spsId);
            VVC_CHECK(!sps, "PPS of a sequence parameter set whose syntax is not available");
            auto pps = std::make_shared<PicParameterSet>();
            ParsePps(bs, *pps, *sps);
            m_picSets[pps->id] = pps;
            break;
        }
        case NAL_UNIT_PREFIX_APS:
        case NAL_UNIT_SUFFIX_APS: {
            auto aps = std::make_shared<AdaptationParameterSet>();
            ParseAps(bs, *aps);
            m_aps[aps->type][aps->id] = aps;
            break;
        }
        case NAL_UNIT_PH: {
            PicParameterSet const* pps = picParameterSet(PeekPictureHeaderPpsId(bs));
            VVC_CHECK(!pps || !seqParameterSet(pps->spsId),
                      "Picture header of a parameter set whose syntax is not available");
            ParsePictureHeader(bs, m_phUnit, *pps, *seqParameterSet(pps->spsId));
            ReadTrailingBits(bs);
            m_phUnitValid = true;
            break;
        }
        default: break; // slices: readSlice, once the picture they belong to is known
        }
    } catch (std::exception const& e) {
        syntaxFailed(std::string("NAL unit type ") + std::to_string(type) + ": " + e.what());
        return false;
    }
    return true;
}

bool DecLib::repeatsDecodedSlice(InputNALUnit const& nalu) const
{
    if (!m_pcPic || m_decodedSlices.empty() || nalu.m_nuhLayerId != m_pcPic->layerId)
        return false;
    try {
        using namespace vvcsyntax;
        InputBitstream bs = const_cast<InputNALUnit&>(nalu).getBitstream();
        InputBitstream head = bs;
        bool const phHere = head.readFlag();
        if (!phHere && !m_phUnitValid)
            return false;
        PicParameterSet const* pps = picParameterSet(phHere ? PeekPictureHeaderPpsId(head) : m_phUnit.ppsId);
        SeqParameterSet const* sps = pps ? seqParameterSet(pps->spsId) : nullptr;
        if (!sps)
            return false;
        SliceHeaderParams sh;
        ParseSliceHeader(bs, sh, nalu.m_nalUnitType, phHere ? nullptr : &m_phUnit, *pps, *sps);
        int const lsbMask = (1 << sps->log2MaxPocLsb) - 1;
        std::pair<uint32_t, int> const address{uint32_t(sh.subpicId), sh.sliceAddress};
        return sh.ph.pocLsb == (m_pcPic->poc & lsbMask) &&
               std::find(m_decodedSlices.begin(), m_decodedSlices.end(), address) != m_decodedSlices.end();
    } catch (std::exception const&) {
        return false; // reported when the unit is decoded
    }
}

bool DecLib::readSlice(InputNALUnit const& nalu, InputBitstream bs)
{
    using namespace vvcsyntax;
    int const type = nalu.m_nalUnitType;
    try {
        InputBitstream head = bs;
        bool const phHere = head.readFlag();
        VVC_CHECK(!phHere && !m_phUnitValid, "Slice without a picture header");
        PicParameterSet const* pps = picParameterSet(phHere ? PeekPictureHeaderPpsId(head) : m_phUnit.ppsId);
        VVC_CHECK(!pps || !seqParameterSet(pps->spsId), "Slice of a parameter set whose syntax is not available");
        SliceHeaderParams sh;
        SeqParameterSet const& sps = *seqParameterSet(pps->spsId);
        ParseSliceHeader(bs, sh, type, phHere ? nullptr : &m_phUnit, *pps, sps);
        m_lastSliceIntra = sh.sliceType == 2;
        if (m_picSkipped || !m_pcPic)
            return true;
        int const sliceIndex = m_pcPic->numSlices;
        if (sliceIndex == 0)
            startPicture(sh, *pps, sps);
        m_decodedSlices.push_back({uint32_t(sh.subpicId), sh.sliceAddress});
        bool const refsFormed = sliceReferences(sh, sps);
        if (!m_headersOnly) {
            // The slice data is entropy decoded with the rest of the picture, on a worker.
            DeferredSlice d;
            d.nalUnitType = type;
            d.intra = m_lastSliceIntra;
            d.stopsRecon = !refsFormed || !(sps.chromaFormatIdc == 0 || sps.chromaFormatIdc == 1);
            d.sps = m_seqSets[sps.id];
            d.pps = m_picSets[pps->id];
            for (int t = 0; t < 3; ++t)
                for (int id = 0; id < 8; ++id)
                    d.aps[size_t(t * 8 + id)] = m_aps[t][id];
            auto const& rbsp = bs.getFifo();
            d.data.assign(rbsp.begin() + ptrdiff_t(std::min<size_t>(sh.sliceDataByte, rbsp.size())), rbsp.end());
            // The POC distances of the slice's references, as the buffer resolved them.
            if (!m_pcPic->slices.empty()) {
                SliceRefs const& refs = m_pcPic->slices.back();
                d.refs = &refs;
                d.hasDistances = true;
                for (int l = 0; l < 2; ++l)
                    for (int j = 0; j < refs.numActive[l] && size_t(j) < refs.list[l].size(); ++j) {
                        d.distances.dist[l].push_back(m_pcPic->poc - refs.list[l][size_t(j)].poc);
                        d.distances.longTerm[l].push_back(refs.list[l][size_t(j)].longTerm);
                    }
            }
            d.sh = std::move(sh);
            if (!m_job) { // the picture's first slice could not be read
                m_job = std::make_shared<PictureJob>();
                m_job->pic = m_cur;
            }
            m_job->slices.push_back(std::move(d));
        }
    } catch (std::exception const& e) {
        syntaxFailed(std::string("NAL unit type ") + std::to_string(type) + ": " + e.what());
        return false;
    }
    return true;
}

void DecLib::startPicture(vvcsyntax::SliceHeaderParams const& sh, vvcsyntax::PicParameterSet const& pps,
                          vvcsyntax::SeqParameterSet const& sps)
{
    Picture& pic = *m_pcPic;
    int const layer = clampLayer(pic.layerId);
    int const type = pic.nalUnitType;
    pic.seqSet = m_seqSets[sps.id];
    pic.picSet = m_picSets[pps.id];
    pic.nonRefPic = sh.ph.nonRef;
    // Output flag: RASL pictures of a CRA that starts its sequence are not decoded at all; a GDR
    // that starts its sequence and the pictures before its recovery point are not output. A GDR
    // with a recovery POC count of 0 is its own recovery point: it is complete and output.
    if (type == NAL_UNIT_CODED_SLICE_GDR && m_curClvsStart) {
        m_recoveryPoc[layer] = pic.poc + sh.ph.recoveryPocCnt;
        m_recovering[layer] = sh.ph.recoveryPocCnt > 0;
    } else if (m_curIrapOrGdr) {
        m_recovering[layer] = false;
    }
    bool const beforeRecovery =
        m_recovering[layer] && (type == NAL_UNIT_CODED_SLICE_GDR || pic.poc < m_recoveryPoc[layer]);
    pic.outputFlag = !beforeRecovery && sh.ph.picOutput;
    pic.neededForOutput = pic.outputFlag;

    m_limits = vvcdpb::LimitsOf(sps, sps.maxSublayersMinus1);
    bool const irap = type >= NAL_UNIT_CODED_SLICE_IDR_W_RADL && type <= NAL_UNIT_CODED_SLICE_CRA;
    if (m_curClvsStart) {
        // A new sequence: the pictures of the one before leave (output unless the slice says
        // not to), none stays a reference.
        m_dpb.beforePicture(true, sh.noOutputOfPriorPics, m_limits);
        m_dpb.unmarkAll();
    }
    m_job = std::make_shared<PictureJob>();
    m_job->pic = m_cur;
    m_job->reconstruct = m_decodedPictureHashSEIEnabled && !m_headersOnly;
    m_job->hashCheck = m_decodedPictureHashSEIEnabled;
    m_firstSliceOfPicture = true;
    m_irapOrGdrStart = (irap || type == NAL_UNIT_CODED_SLICE_GDR) && m_curClvsStart;
}

bool DecLib::sliceReferences(vvcsyntax::SliceHeaderParams const& sh, vvcsyntax::SeqParameterSet const& sps)
{
    Picture& pic = *m_pcPic;
    vvcdpb::CurrentPicture cur;
    cur.poc = pic.poc;
    cur.layerId = pic.layerId;
    cur.log2MaxPocLsb = sps.log2MaxPocLsb;
    cur.bitDepth = sps.bitDepth;
    cur.chromaFormat = ChromaFormat(sps.chromaFormatIdc);
    cur.width = pic.picSet ? pic.picSet->picWidth : 0;
    cur.height = pic.picSet ? pic.picSet->picHeight : 0;
    cur.generateMissing = m_irapOrGdrStart;
    SliceRefs refs;
    int missing = 0;
    bool const ok = m_dpb.buildLists(cur, sh.rpl, sps, sh.sliceType, sh.numRefIdxActive, sh.ph.temporalMvp,
                                     sh.collocatedFromL0, sh.collocatedRefIdx, refs, missing);
    // Explicit weights, offsets brought to the bit depth of the samples.
    vvcsyntax::PicParameterSet const& pps = *pic.picSet;
    refs.weighted = (sh.sliceType == 1 && pps.weightedPred) || (sh.sliceType == 0 && pps.weightedBipred);
    if (refs.weighted) {
        vvcsyntax::PredWeightTable const& t = sh.weights;
        refs.lumaLog2WeightDenom = t.lumaLog2Denom;
        refs.chromaLog2WeightDenom = t.chromaLog2Denom;
        int const shift = sps.bitDepth - 8;
        for (int l = 0; l < 2; ++l) {
            refs.weights[l].resize(size_t(refs.numActive[l]));
            for (int j = 0; j < refs.numActive[l]; ++j) {
                PredWeights& w = refs.weights[l][size_t(j)];
                w.lumaWeight = 1 << t.lumaLog2Denom;
                w.chromaWeight[0] = w.chromaWeight[1] = 1 << t.chromaLog2Denom;
                if (size_t(j) >= t.entries[l].size())
                    continue;
                auto const& e = t.entries[l][size_t(j)];
                w.lumaFlag = e.lumaFlag;
                w.chromaFlag = e.chromaFlag;
                w.lumaWeight = e.lumaWeight;
                w.lumaOffset = e.lumaOffset * (1 << shift);
                for (int c = 0; c < 2; ++c) {
                    w.chromaWeight[c] = e.chromaWeight[c];
                    w.chromaOffset[c] = e.chromaOffset[c] * (1 << shift);
                }
            }
        }
    }
    if (std::getenv("SERAVIN_VVC_TRACE")) {
        std::string text;
        for (int l = 0; l < 2; ++l) {
            text += l ? " L1" : " L0";
            for (RefPicEntry const& e : refs.list[l])
                text += " " + std::to_string(e.poc) + (e.longTerm ? "lt" : "") + (e.pic && e.pic->generated ? "g" : "");
        }
        std::fprintf(stderr, "picture poc %d slice %d refs%s\n", pic.poc, int(pic.slices.size()), text.c_str());
    }
    if (missing > 0)
        msg(WARNING, "Warning: picture %d refers to %d pictures not in the buffer; grey pictures stand in\n", pic.poc,
            missing);
    if (m_firstSliceOfPicture) {
        m_firstSliceOfPicture = false;
        m_dpb.markReferences(refs);
        if (!m_curClvsStart)
            m_dpb.beforePicture(false, false, m_limits);
    }
    for (auto const& list : refs.list)
        for (RefPicEntry const& e : list)
            for (auto const& held : m_dpb.pictures())
                if (held.get() == e.pic &&
                    std::find(pic.heldRefs.begin(), pic.heldRefs.end(), held) == pic.heldRefs.end())
                    pic.heldRefs.push_back(held);
    pic.slices.push_back(std::move(refs));
    return ok;
}

void DecLib::deletePicBuffer()
{
    waitForSamples(nullptr);
    m_job.reset();
    m_dpb.clear();
    m_listPic.clear();
    m_cur.reset();
    m_pcPic = nullptr;
    m_decodedSlices.clear();
}

void DecLib::flushOutput()
{
    m_dpb.flush();
    m_listPic.clear();
}

std::shared_ptr<Picture> DecLib::takeOutput()
{
    std::shared_ptr<Picture> pic = m_dpb.takeOutput();
    waitForSamples(pic.get());
    return pic;
}

Picture const* DecLib::nextOutput() const
{
    Picture const* pic = m_dpb.hasOutput() ? m_dpb.nextOutput().get() : nullptr;
    waitForSamples(pic);
    return pic;
}

bool DecLib::outputReady() const
{
    if (!m_dpb.hasOutput())
        return false;
    Picture const* const pic = m_dpb.nextOutput().get();
    for (auto const& job : m_inFlight)
        if (job->pic.get() == pic)
            return job->task->done();
    return true;
}

size_t DecLib::maxInFlight()
{
    // More than the threads: pictures waiting for the rows of others leave their cores to later
    // ones. Half as many again is as fast as more (their loop filters run beside them) and holds
    // less memory.
    size_t const threads = size_t(std::max(1, vvcutil::DecodingThreads()));
    return threads + threads / 2 + 1;
}

bool DecLib::canDecodeAhead() const
{
    return !m_headersOnly && vvcutil::DecodingThreads() > 1 && m_inFlight.size() < maxInFlight();
}

SPS const& DecLib::spsOfPps(int ppsId) const
{
    auto const pps = m_pps.find(ppsId);
    VVC_CHECK(pps == m_pps.end(), "Picture parameter set " << ppsId << " not available");
    auto const sps = m_sps.find(pps->second->m_spsId);
    VVC_CHECK(sps == m_sps.end(), "Sequence parameter set " << pps->second->m_spsId << " not available");
    return *sps->second;
}

bool DecLib::startsNewPicture(std::vector<uint8_t> const& bytes, int& layerId) const
{
    InputNALUnit nal;
    nal.getBitstream().getFifo() = bytes;
    try {
        read(nal);
        layerId = nal.m_nuhLayerId;
        switch (nal.m_nalUnitType) {
        case NAL_UNIT_OPI:
        case NAL_UNIT_DCI:
        case NAL_UNIT_VPS:
        case NAL_UNIT_SPS:
        case NAL_UNIT_PPS:
        case NAL_UNIT_PREFIX_APS:
        case NAL_UNIT_PH:
        case NAL_UNIT_ACCESS_UNIT_DELIMITER:
        case NAL_UNIT_PREFIX_SEI:
        case 26:
        case 27:
        case 28:
        case 29: return true;
        default: break;
        }
        if (!nal.isSlice())
            return false;
        // A slice carrying its own picture header, or one of another layer, opens a picture.
        if (repeatsDecodedSlice(nal))
            return false; // discarded when it is decoded
        return nal.getBitstream().readFlag() || (m_pcPic && nal.m_nuhLayerId != m_pcPic->layerId);
    } catch (Exception const&) {
        return false; // the unit is reported when it is read
    }
}

bool DecLib::isNewPicture(std::ifstream* file, InputByteStream* bs)
{
    if ((!m_pcPic && !m_puEndedByEos) || !file || !bs || !*file || int64_t(bs->position()) == m_newPicturePosition)
        return false;
    std::vector<uint8_t> bytes;
    int layerId = 0;
    if (!bs->peekNalUnit(bytes) || !startsNewPicture(bytes, layerId))
        return false;
    m_newPicturePosition = int64_t(bs->position());
    m_puEndedByEos = false;
    return true;
}

bool DecLib::isNewAccessUnit(bool newPicture, std::ifstream* file, InputByteStream* bs)
{
    if (!newPicture || !file || !bs || !*file)
        return false;
    if (!m_pcPic)
        return true; // the picture unit before ended with an EOS
    std::vector<uint8_t> bytes;
    int layerId = 0;
    if (!bs->peekNalUnit(bytes))
        return false;
    startsNewPicture(bytes, layerId);
    return layerId <= m_pcPic->layerId || (bytes.size() >= 2 && (bytes[1] >> 3) == NAL_UNIT_ACCESS_UNIT_DELIMITER);
}

bool DecLib::isSliceNaluFirstInAU(bool, InputNALUnit& nalu)
{
    return !m_pcPic && m_firstSliceInPicture && nalu.isSlice();
}

bool DecLib::decode(InputNALUnit& nalu, int&, int&, int, bool)
{
    // Units with the reserved bit set, or of a reserved layer, are discarded.
    if (nalu.m_nuhReservedZeroBit || nalu.m_nuhLayerId > 55)
        return false;
    if (nalu.m_nalUnitType == NAL_UNIT_EOS)
        m_puEndedByEos = true;
    else if (nalu.m_nalUnitType != NAL_UNIT_EOB)
        m_puEndedByEos = false;
    if (nalu.isSlice() && repeatsDecodedSlice(nalu)) {
        msg(WARNING, "Warning: a slice of picture %d repeated; the repeat is discarded\n", m_pcPic->poc);
        return false;
    }
    InputBitstream& bs = nalu.getBitstream();
    InputBitstream const unread = bs;
    bool fullSyntax = readFullSyntax(nalu);
    switch (nalu.m_nalUnitType) {
    case NAL_UNIT_VPS: {
        auto vps = std::make_unique<VPS>();
        parseVPS(bs, *vps);
        m_vps = std::move(vps);
        break;
    }
    case NAL_UNIT_SPS: {
        auto sps = std::make_shared<SPS>();
        parseSPS(bs, *sps);
        m_sps[sps->m_spsId] = sps;
        break;
    }
    case NAL_UNIT_PPS: {
        auto pps = std::make_shared<PPS>();
        parsePPS(bs, *pps);
        auto const sps = m_sps.find(pps->m_spsId);
        VVC_CHECK(sps == m_sps.end(),
                  "PPS refers to sequence parameter set " << pps->m_spsId << " that is not available");
        CheckPpsAgainstSps(*pps, *sps->second);
        m_pps[pps->m_ppsId] = pps;
        break;
    }
    case NAL_UNIT_PH:
        VVC_CHECK(m_pcPic, "Picture header inside a picture");
        parsePictureHeader(bs, m_picHeader, [this](int id) -> SPS const& { return spsOfPps(id); });
        m_picSkipped = false;
        break;
    case NAL_UNIT_EOS:
        m_eosSeen[clampLayer(nalu.m_nuhLayerId)] = true;
        // The sequence ends: every picture still waiting is output.
        flushOutput();
        break;
    case NAL_UNIT_SUFFIX_SEI: decodeSei(nalu); break;
    default:
        if (nalu.isSlice()) {
            decodeSlice(nalu);
            fullSyntax = readSlice(nalu, unread) && fullSyntax;
            if (m_pcPic && !m_picSkipped) {
                ++m_pcPic->numSlices;
                m_pcPic->numIntraSlices += fullSyntax && m_lastSliceIntra ? 1 : 0;
                m_pcPic->syntaxComplete = m_pcPic->syntaxComplete && fullSyntax;
            }
        }
        break; // reserved slice types, SEI, APS, AUD, EOB and filler data carry nothing needed
    }
    return false;
}

void DecLib::decodeSlice(InputNALUnit& nalu)
{
    InputBitstream& bs = nalu.getBitstream();
    int const layer = clampLayer(nalu.m_nuhLayerId);
    int const type = nalu.m_nalUnitType;
    if (bs.readFlag()) { // sh_picture_header_in_slice_header_flag
        VVC_CHECK(m_pcPic, "A second picture header within a picture");
        parsePictureHeader(bs, m_picHeader, [this](int id) -> SPS const& { return spsOfPps(id); });
        m_picSkipped = false;
    }
    if (m_pcPic || m_picSkipped)
        return; // a further slice of the picture being decoded or passed over
    VVC_CHECK(!m_picHeader.valid, "Slice without a picture header");
    m_picHeader.valid = false;

    bool const irap = type >= NAL_UNIT_CODED_SLICE_IDR_W_RADL && type <= NAL_UNIT_CODED_SLICE_CRA;
    bool const gdr = type == NAL_UNIT_CODED_SLICE_GDR;
    // Pictures before the first random-access point, and RASL pictures of a CRA that opened the
    // sequence, cannot be decoded and are passed over.
    if ((!irap && !gdr && (!m_randomAccessPointSeen[layer] || m_eosSeen[layer])) ||
        (type == NAL_UNIT_CODED_SLICE_RASL && m_skipRasl[layer])) {
        m_picSkipped = true;
        return;
    }

    auto const pps = m_pps.at(m_picHeader.ppsId);
    auto const sps = m_sps.at(pps->m_spsId);
    bool const clvsStart = type == NAL_UNIT_CODED_SLICE_IDR_W_RADL || type == NAL_UNIT_CODED_SLICE_IDR_N_LP ||
                           ((irap || gdr) && (!m_randomAccessPointSeen[layer] || m_eosSeen[layer]));
    if (irap || gdr)
        m_skipRasl[layer] = clvsStart && (type == NAL_UNIT_CODED_SLICE_CRA || gdr);
    m_randomAccessPointSeen[layer] = true;
    m_eosSeen[layer] = false;

    int const maxPocLsb = 1 << sps->m_log2MaxPocLsb;
    // 64-bit: a signalled MSB cycle of up to 28 bits times the LSB range exceeds an int.
    int64_t pocMsb = 0;
    if (m_picHeader.pocMsbCyclePresent) {
        pocMsb = int64_t(m_picHeader.pocMsbCycleVal) * maxPocLsb;
    } else if (!clvsStart) {
        int const prevLsb = m_prevTid0Poc[layer] & (maxPocLsb - 1);
        int const prevMsb = m_prevTid0Poc[layer] - prevLsb;
        int const lsb = m_picHeader.pocLsb;
        if (lsb < prevLsb && prevLsb - lsb >= maxPocLsb / 2)
            pocMsb = prevMsb + maxPocLsb;
        else if (lsb > prevLsb && lsb - prevLsb > maxPocLsb / 2)
            pocMsb = prevMsb - maxPocLsb;
        else
            pocMsb = prevMsb;
    }
    const int64_t poc = pocMsb + m_picHeader.pocLsb;
    VVC_CHECK(poc > INT32_MAX / 2 || poc < INT32_MIN / 2, "Picture order count out of range");
    if (nalu.m_temporalId == 0 && type != NAL_UNIT_CODED_SLICE_RASL && type != NAL_UNIT_CODED_SLICE_RADL &&
        !m_picHeader.nonRefPic)
        m_prevTid0Poc[layer] = int(poc);
    if (clvsStart)
        ++m_clvsIndex;

    m_curClvsStart = clvsStart;
    m_curIrapOrGdr = irap || gdr;
    m_cur = std::make_shared<Picture>();
    Picture* pic = m_cur.get();
    pic->poc = int(poc);
    pic->layerId = nalu.m_nuhLayerId;
    pic->temporalId = nalu.m_temporalId;
    pic->nalUnitType = type;
    pic->clvsIndex = m_clvsIndex;
    pic->sps = sps;
    pic->pps = pps;
    m_pcPic = pic;
    m_firstSliceInPicture = false;
    m_firstSliceInSequence[layer] = false;
}

void DecLib::decodeSei(InputNALUnit& nalu)
{
    // SEI messages inform and do not change the decoding: a damaged one is passed over.
    try {
        for (SeiMessage const& m : ParseSeiMessages(nalu.getBitstream())) {
            PictureHash hash;
            if (m.payloadType == 132 && m_pcPic && ParsePictureHash(m.payload, hash)) {
                m_pcPic->hash = hash;
                m_pcPic->hasHash = true;
            }
        }
    } catch (Exception const& e) {
        msg(WARNING, "Warning: SEI message passed over: %s\n", e.what());
    }
}

void DecLib::finishPicture(int& poc, std::list<Picture*>*& pictureList, MsgLevel, bool)
{
    pictureList = &m_listPic;
    if (!m_pcPic)
        return;
    poc = m_pcPic->poc;
    std::shared_ptr<PictureJob> job = std::move(m_job);
    if (!job) {
        job = std::make_shared<PictureJob>();
        job->pic = m_cur;
    }
    // The planes and the motion field of a reconstructed picture are made before its decoding
    // starts: pictures that refer to it read their rows while it is decoded.
    Picture& pic = *job->pic;
    if (job->reconstruct && pic.seqSet && pic.picSet) {
        vvcsyntax::SeqParameterSet const& sps = *pic.seqSet;
        vvcsyntax::PicParameterSet const& pps = *pic.picSet;
        pic.motion = TakeMotionField();
        pic.motion->poc = pic.poc;
        if (pic.samples.allocate(ChromaFormat(sps.chromaFormatIdc), pps.picWidth, pps.picHeight, sps.bitDepth) &&
            pic.motion->create(pps.picWidth, pps.picHeight)) {
            pic.progress.begin();
            job->rows = true;
        } else {
            job->reconstruct = false; // no memory for it: a picture without samples
            pic.motion.reset();
            pic.samples.destroy();
        }
        for (DeferredSlice const& d : job->slices) {
            job->sao = job->sao || d.sh.saoLuma || d.sh.saoChroma;
            job->alf = job->alf || d.sh.alfEnabled;
        }
    }
    PictureJob* const running = job.get();
    job->task = vvcutil::SharedTask::Start([running] { runJob(*running); });
    pic.progress.setTask(job->task);
    m_inFlight.push_back(std::move(job));
    // A bounded number of pictures in flight (each holds its planes and slice data).
    while (m_inFlight.size() > maxInFlight() || (!m_inFlight.empty() && m_inFlight.front()->task->done()))
        retireOldest();
    m_dpb.addPicture(std::move(m_cur), m_limits);
    m_listPic.clear();
    for (auto const& p : m_dpb.pictures())
        m_listPic.push_back(p.get());
    m_pcPic = nullptr;
    m_decodedSlices.clear();
    m_phUnitValid = false;
    m_firstSliceInPicture = true;
}

void DecLib::runJob(PictureJob& job)
{
    Picture& pic = *job.pic;
    std::unique_ptr<IntraPictureReconstructor> recon;
    bool const rows = job.rows;
    // Pictures waiting on its rows go on once it is finished, whatever happens.
    struct Finish
    {
        Picture& pic;
        bool armed;
        ~Finish()
        {
            if (armed && !pic.progress.complete())
                pic.progress.finish(true);
        }
    } finish{pic, rows};
    if (rows) {
        recon = std::make_unique<IntraPictureReconstructor>(*pic.seqSet, *pic.picSet);
        recon->decodeInto(&pic, job.sao, job.alf);
    }
    int reconSlices = 0;
    for (DeferredSlice& d : job.slices) {
        try {
            if (d.stopsRecon)
                recon.reset();
            auto const aps = [&d](int type, int id) -> vvcsyntax::AdaptationParameterSet const* {
                return type >= 0 && type < 3 && id >= 0 && id < 8 ? d.aps[size_t(type * 8 + id)].get() : nullptr;
            };
            if (recon)
                recon->startSlice(d.sh, reconSlices++, aps, &pic, d.refs);
            // The slice data must end exactly where the unit does.
            auto const result = vvcslice::ParseSliceData(d.data.data(), d.data.size(), *d.sps, *d.pps, d.sh, aps,
                                                         recon.get(), d.hasDistances ? &d.distances : nullptr);
            if (!result.ok)
                recon.reset();
            else if (recon)
                recon->endSlice();
            ++(d.intra ? job.intraSlices : job.interSlices);
            if (result.ok)
                ++(d.intra ? job.intraSlicesParsed : job.interSlicesParsed);
            else if (job.sliceDataError.empty())
                job.sliceDataError = std::string(d.intra ? "" : "inter slice: ") + result.error;
        } catch (std::exception const& e) {
            recon.reset();
            job.syntaxErrors.push_back(std::string("NAL unit type ") + std::to_string(d.nalUnitType) + ": " +
                                       e.what());
            pic.syntaxComplete = false;
        }
    }
    finishSamples(job, recon.get());
    finish.armed = false;
    job.slices.clear();
}

void DecLib::finishSamples(PictureJob& job, IntraPictureReconstructor* recon)
{
    Picture& pic = *job.pic;
    // The reconstructed samples are checked against the picture's hash and kept for reference,
    // and for the output unless they differ from it: a picture without samples (a tool not
    // reconstructed) or with a mismatch is one the output cannot give.
    if (recon)
        recon->finishPicture();
    if (recon && !recon->ok() && std::getenv("SERAVIN_VVC_TRACE"))
        std::fprintf(stderr, "picture %d not reconstructed: %s\n", pic.poc, recon->error().c_str());
    std::string const stats = recon && std::getenv("SERAVIN_VVC_STATS") ? recon->toolStats() : std::string();
    bool const reconstructed = recon && recon->ok();
    // Its rows are all written: the pictures waiting on them go on while the hash is checked.
    if (job.rows)
        pic.progress.finish(!reconstructed);
    job.intraPicture = pic.syntaxComplete && pic.numSlices > 0 && pic.numIntraSlices == pic.numSlices;
    PelUnitBuf const buf = reconstructed ? pic.samples.view() : PelUnitBuf();
    if (pic.hasHash && job.hashCheck && !buf.empty()) {
        PlaneView planes[3];
        int bitDepth[3] = {};
        for (int c = 0; c < 3; ++c) {
            planes[c] = buf.plane(c);
            bitDepth[c] = buf.bitDepth;
        }
        job.checked = true;
        job.plane = CheckPictureHash(pic.hash, planes, bitDepth);
    }
    pic.hashMismatch = job.checked && job.plane >= 0;
    // Debugging aid: per picture, whether it matched its hash and the residual tools used.
    if (std::getenv("SERAVIN_VVC_STATS")) {
        // Which of the planes differ (Y, Cb, Cr), to tell luma-only tools from the others.
        char planes[4] = "---";
        for (int c = 0; pic.hasHash && !buf.empty() && c < pic.hash.numPlanes && c < 3; ++c) {
            PlaneView const v = buf.plane(c);
            bool const differs = !v.samples || ComputePlaneHash(pic.hash.type, v, buf.bitDepth) != pic.hash.planes[c];
            planes[c] = differs ? "YUV"[c] : '.';
        }
        char line[256];
        std::snprintf(line, sizeof line, "poc %d %s %s plane %d [%s]: ", pic.poc,
                      pic.numIntraSlices == pic.numSlices ? "intra" : "inter",
                      !job.checked     ? (pic.hasHash ? "not reconstructed" : "no hash")
                      : job.plane < 0 ? "match"
                                      : "MISMATCH",
                      job.plane, planes);
        job.statsLine = line + stats;
    }
    pic.heldRefs.clear();
}

void DecLib::takeOutcome(PictureJob const& job) const
{
    m_hashStats.intraSlices += job.intraSlices;
    m_hashStats.intraSlicesParsed += job.intraSlicesParsed;
    m_hashStats.interSlices += job.interSlices;
    m_hashStats.interSlicesParsed += job.interSlicesParsed;
    if (m_firstSliceDataError.empty())
        m_firstSliceDataError = job.sliceDataError;
    for (std::string const& text : job.syntaxErrors)
        syntaxFailed(text);
    Picture const& pic = *job.pic;
    ++m_hashStats.pictures;
    m_hashStats.intraPictures += job.intraPicture ? 1 : 0;
    if (pic.hasHash) {
        ++m_hashStats.withHash;
        m_hashStats.intraWithHash += job.intraPicture ? 1 : 0;
    }
    if (job.checked) {
        ++m_hashStats.checked;
        m_hashStats.lastPlane = job.plane;
        if (job.plane < 0) {
            ++m_hashStats.matched;
        } else if (m_hashStats.firstMismatch < 0) {
            m_hashStats.firstMismatch = m_hashStats.pictures - 1;
            m_hashStats.firstMismatchPlane = job.plane;
        }
    }
    if (!job.statsLine.empty())
        std::fprintf(stderr, "picture %d %s\n", m_hashStats.pictures - 1, job.statsLine.c_str());
}
