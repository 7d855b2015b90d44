#include "decoding/DecLib.h"

#include "slice/SliceParser.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

void TrQuant::init(Quant const*, unsigned int, bool, bool, bool, bool)
{
    m_initialised = true;
}

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
}

void DecLib::create()
{
    m_created = true;
}

void DecLib::init() {}

void DecLib::destroy()
{
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

void DecLib::syntaxFailed(std::string const& text)
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
        default: {
            if (!nalu.isSlice())
                return true;
            InputBitstream head = bs;
            bool const phHere = head.readFlag();
            VVC_CHECK(!phHere && !m_phUnitValid, "Slice without a picture header");
            PicParameterSet const* pps = picParameterSet(phHere ? PeekPictureHeaderPpsId(head) : m_phUnit.ppsId);
            VVC_CHECK(!pps || !seqParameterSet(pps->spsId), "Slice of a parameter set whose syntax is not available");
            SliceHeaderParams sh;
            SeqParameterSet const& sps = *seqParameterSet(pps->spsId);
            ParseSliceHeader(bs, sh, type, phHere ? nullptr : &m_phUnit, *pps, sps);
            m_lastSliceIntra = sh.sliceType == 2;
            if (!m_pcPic) {
                // A new picture: it is reconstructed while all its slices are intra (4:2:0 or
                // 4:0:0).
                m_recon.reset();
                m_reconSlices = 0;
                if (m_decodedPictureHashSEIEnabled)
                    m_recon = std::make_unique<IntraPictureReconstructor>(sps, *pps);
            }
            bool const reconstructible = m_lastSliceIntra && (sps.chromaFormatIdc == 0 || sps.chromaFormatIdc == 1);
            if (m_recon && !reconstructible)
                m_recon.reset();
            if (m_recon)
                m_recon->startSlice(sh, m_reconSlices++,
                                    [this](int apsType, int id) { return adaptationParameterSet(apsType, id); });
            {
                // The slice data is entropy decoded: it must end exactly where the unit does.
                // Slices that cannot be reconstructed (inter slices, until their reconstruction
                // is in place) are parsed alone.
                auto const& rbsp = bs.getFifo();
                auto const result = vvcslice::ParseSliceData(
                    rbsp.data() + sh.sliceDataByte, rbsp.size() - sh.sliceDataByte, sps, *pps, sh,
                    [this](int apsType, int id) { return adaptationParameterSet(apsType, id); }, m_recon.get());
                if (!result.ok)
                    m_recon.reset();
                if (std::getenv("PARSE_DBG")) fprintf(stderr, "slice type %d cabacInit %d ok %d cus %d %s\n", sh.sliceType, int(sh.cabacInit), int(result.ok), result.codingUnits, result.error.c_str());
                ++(m_lastSliceIntra ? m_hashStats.intraSlices : m_hashStats.interSlices);
                if (result.ok)
                    ++(m_lastSliceIntra ? m_hashStats.intraSlicesParsed : m_hashStats.interSlicesParsed);
                else if (m_firstSliceDataError.empty())
                    m_firstSliceDataError = std::string(m_lastSliceIntra ? "" : "inter slice: ") + result.error;
            }
            break;
        }
        }
    } catch (std::exception const& e) {
        syntaxFailed(std::string("NAL unit type ") + std::to_string(type) + ": " + e.what());
        return false;
    }
    return true;
}

void DecLib::deletePicBuffer()
{
    for (Picture* pic : m_listPic) {
        if (pic)
            pic->destroy();
        delete pic;
    }
    m_listPic.clear();
    delete m_pcPic;
    m_pcPic = nullptr;
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
    InputBitstream& bs = nalu.getBitstream();
    bool const fullSyntax = readFullSyntax(nalu);
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
    case NAL_UNIT_EOS: m_eosSeen[clampLayer(nalu.m_nuhLayerId)] = true; break;
    case NAL_UNIT_SUFFIX_SEI: decodeSei(nalu); break;
    default:
        if (nalu.isSlice()) {
            decodeSlice(nalu);
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

    auto* pic = new Picture;
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

bool DecLib::checkPictureHash(Picture const& pic)
{
    ++m_hashStats.pictures;
    bool const intra = pic.syntaxComplete && pic.numSlices > 0 && pic.numIntraSlices == pic.numSlices;
    m_hashStats.intraPictures += intra ? 1 : 0;
    if (!pic.hasHash)
        return true;
    ++m_hashStats.withHash;
    m_hashStats.intraWithHash += intra ? 1 : 0;
    PelUnitBuf const buf = pic.getRecoBuf();
    if (!m_decodedPictureHashSEIEnabled || buf.empty())
        return true;
    PlaneView planes[3];
    int bitDepth[3] = {};
    for (int c = 0; c < 3; ++c) {
        planes[c] = buf.plane(c);
        bitDepth[c] = buf.bitDepth;
    }
    ++m_hashStats.checked;
    int const plane = CheckPictureHash(pic.hash, planes, bitDepth);
    m_hashStats.lastPlane = plane;
    if (plane < 0) {
        ++m_hashStats.matched;
    } else if (m_hashStats.firstMismatch < 0) {
        m_hashStats.firstMismatch = m_hashStats.pictures - 1;
        m_hashStats.firstMismatchPlane = plane;
    }
    return plane < 0;
}

void DecLib::finishPicture(int& poc, std::list<Picture*>*& pictureList, MsgLevel, bool)
{
    pictureList = &m_listPic;
    if (!m_pcPic)
        return;
    // Pictures already output are not needed again: the stand-in keeps no reference pictures.
    for (auto it = m_listPic.begin(); it != m_listPic.end();) {
        Picture* pic = *it;
        if (pic && !pic->neededForOutput && !pic->referenced()) {
            pic->destroy();
            delete pic;
            it = m_listPic.erase(it);
        } else {
            ++it;
        }
    }
    auto before = [](Picture const* a, Picture const* b) {
        return a->clvsIndex != b->clvsIndex ? a->clvsIndex < b->clvsIndex
               : a->poc != b->poc           ? a->poc < b->poc
                                            : a->layerId < b->layerId;
    };
    auto pos =
        std::find_if(m_listPic.begin(), m_listPic.end(), [&](Picture const* p) { return p && before(m_pcPic, p); });
    m_listPic.insert(pos, m_pcPic);
    poc = m_pcPic->poc;
    // The reconstructed samples are checked against the picture's hash and kept for the output
    // unless they differ from it: a picture without samples (inter slices, a tool not
    // reconstructed, a mismatch) is one the output cannot give.
    if (m_recon)
        m_recon->finishPicture();
    if (m_recon && !m_recon->ok() && std::getenv("SERAVIN_VVC_TRACE"))
        std::fprintf(stderr, "picture %d not reconstructed: %s\n", m_pcPic->poc, m_recon->error().c_str());
    std::string const stats = m_recon && std::getenv("SERAVIN_VVC_STATS") ? m_recon->toolStats() : std::string();
    if (m_recon && m_recon->ok())
        m_pcPic->samples.assign(m_recon->picture());
    m_recon.reset();
    int const matchedBefore = m_hashStats.matched;
    if (!checkPictureHash(*m_pcPic))
        m_pcPic->samples.destroy();
    // Debugging aid: per intra picture, whether it matched its hash and the residual tools used.
    if (!stats.empty())
        std::fprintf(stderr, "picture %d poc %d %s plane %d: %s\n", m_hashStats.pictures - 1, m_pcPic->poc,
                     m_hashStats.matched > matchedBefore ? "match" : "MISMATCH", m_hashStats.lastPlane, stats.c_str());
    m_pcPic = nullptr;
    m_phUnitValid = false;
    m_firstSliceInPicture = true;
}
