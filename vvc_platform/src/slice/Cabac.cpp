#include "slice/Cabac.h"

#include <algorithm>

void ContextModel::init(int initValue, int shiftIdx, int sliceQp)
{
    int const slopeIdx = initValue >> 3;
    int const offsetIdx = initValue & 7;
    int const m = slopeIdx - 4;
    int const n = offsetIdx * 18 + 1;
    int const qp = std::min(std::max(sliceQp, 0), 63);
    int const preCtxState = std::min(std::max(((m * (qp - 16)) >> 1) + n, 1), 127);
    p0 = uint16_t(preCtxState << 3);
    p1 = uint16_t(preCtxState << 7);
    shift0 = uint8_t((shiftIdx >> 2) + 2);
    shift1 = uint8_t((shiftIdx & 3) + 3 + shift0);
}

void CabacReader::init(uint8_t const* data, size_t size)
{
    m_data = data;
    m_size = data ? size : 0;
    m_bitPos = 0;
    m_overrun = false;
    m_range = 510;
    m_offset = 0;
    for (int i = 0; i < 9; ++i)
        m_offset = (m_offset << 1) | readBit();
}

unsigned CabacReader::decodeBin(ContextModel& ctx)
{
    int const pState = ctx.probability();
    unsigned const valMps = unsigned(pState >> 14);
    const uint32_t qRangeIdx = m_range >> 5;
    const uint32_t lpsRange = ((qRangeIdx * (uint32_t(valMps ? 32767 - pState : pState) >> 9)) >> 1) + 4;
    m_range -= lpsRange;
    unsigned bin;
    if (m_offset >= m_range) {
        bin = !valMps;
        m_offset -= m_range;
        m_range = lpsRange;
    } else {
        bin = valMps;
    }
    ctx.update(bin);
    if (m_range < 256) {
        // Renormalise in one step: as many bits as the range needs to reach 9 bits again.
        int const n = __builtin_clz(m_range) - 23;
        m_range <<= n;
        m_offset = (m_offset << n) | readBits(n);
    }
    return bin;
}

unsigned CabacReader::decodeBypass()
{
    m_offset = (m_offset << 1) | readBit();
    if (m_offset >= m_range) {
        m_offset -= m_range;
        return 1;
    }
    return 0;
}

uint32_t CabacReader::decodeBypassBins(int numBins)
{
    uint32_t value = 0;
    for (int i = 0; i < numBins && i < 32; ++i)
        value = (value << 1) | decodeBypass();
    return value;
}

unsigned CabacReader::decodeTerminate()
{
    m_range -= 2;
    if (m_offset >= m_range)
        return 1; // the data ends here: the caller goes on at the byte boundary
    while (m_range < 256) {
        m_range <<= 1;
        m_offset = (m_offset << 1) | readBit();
    }
    return 0;
}
