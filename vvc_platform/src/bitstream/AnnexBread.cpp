#include "bitstream/AnnexBread.h"

#include "bitstream/Nal.h"
#include "bitstream/ParameterSets.h"
#include "util/VvcCommon.h"

namespace {

// The rest of the unit is rbsp_trailing_bits: a one bit, then zeros up to the end.
bool OnlyTrailingBitsLeft(InputBitstream& bs)
{
    if (bs.bitsLeft() == 0 || bs.bitsLeft() > 8 || !bs.readFlag())
        return false;
    while (bs.bitsLeft() > 0)
        if (bs.readFlag())
            return false;
    return true;
}

// sei_rbsp: messages whose sizes fit the unit exactly, then the trailing bits.
bool IsWellFormedSei(InputBitstream& bs)
{
    int messages = 0;
    do {
        for (int pass = 0; pass < 2; ++pass) { // payload type, then payload size
            uint64_t value = 0;
            uint32_t byte = 0;
            while ((byte = bs.read(8)) == 0xFF)
                value += 255;
            value += byte;
            if (pass == 1) {
                if (value == 0 || value * 8 >= bs.bitsLeft())
                    return false;
                bs.skip(value * 8);
            }
        }
        ++messages;
    } while (bs.bitsLeft() > 8);
    return messages > 0 && OnlyTrailingBitsLeft(bs);
}

// A VVC stream opens with a parameter set, a delimiter, an SEI message or another non-picture
// unit, whose syntax is checked here: data that is something else ends the stream instead of
// failing later. The checks are strict because the data may well be of another format.
bool CanStartVvcStream(std::vector<uint8_t> const& nal)
{
    if (nal.size() < 2 || (nal[0] & 0xC0) != 0 || (nal[0] & 0x3F) > 55 || (nal[1] & 0x07) == 0)
        return false;
    int const type = nal[1] >> 3;
    int const temporalId = (nal[1] & 0x07) - 1;
    // Sequence-level units and end markers belong to temporal sub-layer 0.
    bool const sublayerZeroOnly = type == NAL_UNIT_OPI || type == NAL_UNIT_DCI || type == NAL_UNIT_VPS ||
                                  type == NAL_UNIT_SPS || type == NAL_UNIT_EOS || type == NAL_UNIT_EOB;
    if (sublayerZeroOnly && temporalId != 0)
        return false;
    if (type == NAL_UNIT_EOS || type == NAL_UNIT_EOB)
        return nal.size() == 2;
    if (nal.size() < 3)
        return false;
    try {
        InputNALUnit unit;
        unit.getBitstream().getFifo() = nal;
        read(unit);
        InputBitstream& bs = unit.getBitstream();
        switch (type) {
        case NAL_UNIT_ACCESS_UNIT_DELIMITER:
            bs.readFlag();                                      // aud_irap_or_gdr_flag
            return bs.read(3) <= 2 && OnlyTrailingBitsLeft(bs); // aud_pic_type
        case NAL_UNIT_DCI: {
            if (bs.read(4) != 0) // dci_reserved_zero_4bits
                return false;
            int const numPtls = int(bs.read(4)) + 1;
            if (numPtls > 15)
                return false;
            for (int i = 0; i < numPtls; ++i)
                ParseProfileTierLevel(bs, true, 0);
            if (bs.readFlag()) // dci_extension_flag: data to the end
                return true;
            return OnlyTrailingBitsLeft(bs);
        }
        case NAL_UNIT_OPI:
            if (bs.readFlag())            // opi_ols_info_present_flag
                if (bs.readUvlc() > 1023) // opi_ols_idx
                    return false;
            if (bs.readFlag()) // opi_htid_info_present_flag
                bs.read(3);    // opi_htid_plus1
            if (bs.readFlag()) // opi_extension_flag
                return true;
            return OnlyTrailingBitsLeft(bs);
        case NAL_UNIT_VPS: {
            VPS vps;
            parseVPS(bs, vps);
            return true;
        }
        case NAL_UNIT_SPS: {
            SPS sps;
            parseSPS(bs, sps);
            return true;
        }
        case NAL_UNIT_PPS: {
            PPS pps;
            parsePPS(bs, pps);
            return true;
        }
        case NAL_UNIT_PREFIX_APS: {
            const uint32_t apsType = bs.read(3);
            const uint32_t apsId = bs.read(5);
            // ALF and scaling lists have ids 0..7, LMCS 0..3; the unit ends with a stop bit.
            return (apsType == 0 || apsType == 2 ? apsId <= 7 : apsType == 1 && apsId <= 3) && nal.back() != 0;
        }
        case NAL_UNIT_PREFIX_SEI:
        case NAL_UNIT_SUFFIX_SEI: return IsWellFormedSei(bs);
        case NAL_UNIT_FD:
            while (bs.bitsLeft() > 8)
                if (bs.read(8) != 0xFF)
                    return false;
            return OnlyTrailingBitsLeft(bs);
        default: return false;
        }
    } catch (Exception const&) {
        return false;
    }
}

} // namespace

InputByteStream::InputByteStream(std::istream& in) : m_in(in), m_buf(in.rdbuf()) {}

int InputByteStream::peekByte(int ahead)
{
    while (m_numAhead <= ahead) {
        if (!m_buf)
            return -1;
        auto const c = m_buf->sbumpc();
        if (c == std::char_traits<char>::eof())
            return -1;
        m_ahead[m_numAhead++] = uint8_t(c);
    }
    return m_ahead[ahead];
}

int InputByteStream::readByte()
{
    int const b = peekByte(0);
    if (b < 0) {
        markEnd();
        return -1;
    }
    ++m_consumed;
    for (int i = 1; i < m_numAhead; ++i)
        m_ahead[i - 1] = m_ahead[i];
    --m_numAhead;
    return b;
}

void InputByteStream::markEnd()
{
    m_ended = true;
    m_in.setstate(std::ios::eofbit | std::ios::failbit);
}

bool InputByteStream::peekNalUnit(std::vector<uint8_t>& nalUnit)
{
    nalUnit.clear();
    if (m_ended || !m_buf)
        return false;
    // Save everything a read changes: the stream position (less the bytes held ahead), the
    // bytes ahead, the counters and the stream state.
    const std::ios::iostate state = m_in.rdstate();
    auto const pos = m_buf->pubseekoff(0, std::ios::cur, std::ios::in);
    if (pos == std::streampos(-1))
        return false;
    uint8_t ahead[4];
    int const numAhead = m_numAhead;
    std::copy(m_ahead, m_ahead + 4, ahead);
    const uint64_t nalUnitsRead = m_nalUnitsRead;
    const uint64_t consumed = m_consumed;
    AnnexBStats stats;
    bool ok = true;
    try {
        byteStreamNALUnit(*this, nalUnit, stats);
    } catch (Exception const&) {
        ok = false;
        nalUnit.clear();
    }
    m_buf->pubseekpos(pos, std::ios::in);
    std::copy(ahead, ahead + 4, m_ahead);
    m_numAhead = numAhead;
    m_nalUnitsRead = nalUnitsRead;
    m_consumed = consumed;
    m_ended = false;
    m_notAByteStream = false;
    m_in.clear(state);
    return ok && !nalUnit.empty();
}

void byteStreamNALUnit(InputByteStream& bs, std::vector<uint8_t>& nalUnit, AnnexBStats& stats)
{
    nalUnit.clear();
    stats = AnnexBStats();
    if (bs.m_ended)
        return;
    // leading_zero_8bits, zero_byte and the start code prefix.
    int zeros = 0;
    for (;;) {
        int const b = bs.readByte();
        if (b < 0)
            return; // only zeros up to the end of the data
        if (b == 0) {
            ++zeros;
            continue;
        }
        if (b == 1 && zeros >= 2)
            break;
        if (bs.m_nalUnitsRead == 0) {
            bs.m_notAByteStream = true;
            bs.markEnd();
            return;
        }
        VVC_THROW("No start code before a NAL unit");
    }
    stats.m_numZeroByteBytes = zeros >= 3 ? 1 : 0;
    stats.m_numLeadingZero8BitsBytes = uint32_t(zeros - 2 - int(stats.m_numZeroByteBytes));
    stats.m_numStartCodePrefixBytes = 3;

    // The unit's bytes end at the next 0x000000 or 0x000001 or at the end of the data.
    for (;;) {
        int const b = bs.peekByte(0);
        if (b < 0)
            break;
        if (b == 0 && bs.peekByte(1) == 0) {
            int const third = bs.peekByte(2);
            if (third == 0 || third == 1)
                break;
        }
        nalUnit.push_back(uint8_t(bs.readByte()));
    }
    // A unit never ends in a zero byte: zeros before the end of the data are trailing zeros.
    while (!nalUnit.empty() && nalUnit.back() == 0) {
        nalUnit.pop_back();
        ++stats.m_numTrailingZero8BitsBytes;
    }
    // trailing_zero_8bits up to the next start code (3 bytes, or 4 with its zero_byte).
    for (;;) {
        int const b0 = bs.peekByte(0);
        if (b0 < 0) {
            bs.markEnd();
            break;
        }
        int const b1 = bs.peekByte(1), b2 = bs.peekByte(2);
        if (b0 == 0 && b1 == 0 && b2 == 1)
            break;
        if (b0 == 0 && b1 == 0 && b2 == 0 && bs.peekByte(3) == 1)
            break;
        if (b0 != 0)
            VVC_THROW("No start code after a NAL unit");
        bs.readByte();
        ++stats.m_numTrailingZero8BitsBytes;
    }
    stats.m_numBytesInNALUnit = uint32_t(nalUnit.size());

    if (bs.m_nalUnitsRead++ == 0 && !CanStartVvcStream(nalUnit)) {
        nalUnit.clear();
        bs.m_notAByteStream = true;
        bs.markEnd();
    }
}
