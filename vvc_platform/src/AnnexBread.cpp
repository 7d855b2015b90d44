#include "AnnexBread.h"

#include "Nal.h"
#include "ParameterSets.h"
#include "VvcCommon.h"

namespace {

// A VVC stream opens with an access-unit delimiter, a VPS or an SPS, whose syntax is checked
// here: data that is something else ends the stream instead of failing later.
bool CanStartVvcStream(std::vector<uint8_t> const& nal)
{
    if (nal.size() < 3 || (nal[0] & 0xC0) != 0 || (nal[0] & 0x3F) > 55 || (nal[1] & 0x07) != 1)
        return false;
    const int type = nal[1] >> 3;
    if (type == NAL_UNIT_ACCESS_UNIT_DELIMITER)
        return nal.size() == 3 && (nal[2] & 0x7F) == 0x40; // aud_irap_or_gdr_flag, then the stop bit
    if (type != NAL_UNIT_VPS && type != NAL_UNIT_SPS)
        return false;
    try {
        InputNALUnit unit;
        unit.getBitstream().getFifo() = nal;
        read(unit);
        if (type == NAL_UNIT_VPS) {
            VPS vps;
            parseVPS(unit.getBitstream(), vps);
        } else {
            SPS sps;
            parseSPS(unit.getBitstream(), sps);
        }
    } catch (Exception const&) {
        return false;
    }
    return true;
}

} // namespace

InputByteStream::InputByteStream(std::istream& in) : m_in(in), m_buf(in.rdbuf()) {}

int InputByteStream::peekByte(int ahead)
{
    while (m_numAhead <= ahead) {
        if (!m_buf)
            return -1;
        const auto c = m_buf->sbumpc();
        if (c == std::char_traits<char>::eof())
            return -1;
        m_ahead[m_numAhead++] = uint8_t(c);
    }
    return m_ahead[ahead];
}

int InputByteStream::readByte()
{
    const int b = peekByte(0);
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
    const auto pos = m_buf->pubseekoff(0, std::ios::cur, std::ios::in);
    if (pos == std::streampos(-1))
        return false;
    uint8_t ahead[4];
    const int numAhead = m_numAhead;
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
        const int b = bs.readByte();
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
        const int b = bs.peekByte(0);
        if (b < 0)
            break;
        if (b == 0 && bs.peekByte(1) == 0) {
            const int third = bs.peekByte(2);
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
        const int b0 = bs.peekByte(0);
        if (b0 < 0) {
            bs.markEnd();
            break;
        }
        const int b1 = bs.peekByte(1), b2 = bs.peekByte(2);
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
