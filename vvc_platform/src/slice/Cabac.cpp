#include "slice/Cabac.h"

#include <algorithm>
#include <cstring>

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
    m_next = data;
    m_end = data ? data + size : data;
    m_cache = 0;
    m_cacheBits = 0;
    m_overrun = false;
    m_range = 510;
    m_offset = readBits(9);
}

void CabacReader::refill(int n)
{
    if (m_end - m_next >= 8) {
        uint64_t word;
        std::memcpy(&word, m_next, 8);
        word = __builtin_bswap64(word);
        int const bytes = (64 - m_cacheBits) >> 3;
        m_cache |= word >> m_cacheBits;
        m_cacheBits += 8 * bytes;
        m_next += bytes;
        if (m_cacheBits < 64)
            m_cache &= ~uint64_t(0) << (64 - m_cacheBits);
    } else {
        while (m_cacheBits <= 56 && m_next < m_end) {
            m_cache |= uint64_t(*m_next++) << (56 - m_cacheBits);
            m_cacheBits += 8;
        }
    }
    if (m_cacheBits < n) {
        // Past the end: the cache holds zeros below its last bit of data.
        m_overrun = true;
        m_cacheBits = n;
    }
}

uint32_t CabacReader::decodeBypassBins(int numBins)
{
    numBins = std::min(numBins, 32);
    uint32_t value = 0;
    while (numBins > 0) {
        int const k = std::min(numBins, 16);
        numBins -= k;
        if (m_offset >= m_range) {
            // Only a broken stream gets here: bin by bin, as the single bypass bins go on.
            for (int i = 0; i < k; ++i)
                value = (value << 1) | decodeBypass();
            continue;
        }
        // k bins at once: the offset with k more bits divided by the range, one quotient bit
        // per bin (the remainder is the new offset).
        uint32_t off = (m_offset << k) | readBits(k);
        uint32_t bins = 0;
        for (int i = k - 1; i >= 0; --i) {
            uint32_t const r = m_range << i;
            bins <<= 1;
            if (off >= r) {
                off -= r;
                bins |= 1;
            }
        }
        m_offset = off;
        value = (value << k) | bins;
    }
    return value;
}

unsigned CabacReader::decodeTerminate()
{
    m_range -= 2;
    if (m_offset >= m_range)
        return 1; // the data ends here: the caller goes on at the byte boundary
    if (m_range < 256) {
        m_range <<= 1;
        m_offset = (m_offset << 1) | readBits(1);
    }
    return 0;
}
