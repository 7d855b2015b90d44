#pragma once

#include <cstddef>
#include <cstdint>

// Context-adaptive binary arithmetic decoding of slice data: the context variables with their
// two probability estimates and adaptation rates, and the arithmetic decoding engine (regular,
// bypass and terminating bins).
//
// Reads are bounded: past the end of its data the engine reads zero bits and records the
// overrun, which the caller turns into an error at the next check; no exception in the bin loop.

struct ContextModel
{
    uint16_t p0 = 0; // probability of a one, 10-bit estimate (fast adapting)
    uint16_t p1 = 0; // probability of a one, 14-bit estimate (slow adapting)
    uint8_t shift0 = 0;
    uint8_t shift1 = 0;

    // From the table's initValue and shiftIdx at the slice QP.
    void init(int initValue, int shiftIdx, int sliceQp);
    // The combined 15-bit probability of a one.
    int probability() const { return p1 + 16 * p0; }
    void update(unsigned bin)
    {
        p0 = uint16_t(p0 - (p0 >> shift0) + ((1023u * bin) >> shift0));
        p1 = uint16_t(p1 - (p1 >> shift1) + ((16383u * bin) >> shift1));
    }
};

class CabacReader
{
public:
    // Starts decoding the bytes [data, data + size): the first 9 bits form the offset.
    void init(uint8_t const* data, size_t size);
    unsigned decodeBin(ContextModel& ctx)
    {
        int const pState = ctx.probability();
        unsigned const valMps = unsigned(pState >> 14);
        uint32_t const qRangeIdx = m_range >> 5;
        uint32_t const lpsRange = ((qRangeIdx * (uint32_t(valMps ? 32767 - pState : pState) >> 9)) >> 1) + 4;
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
    unsigned decodeBypass()
    {
        m_offset = (m_offset << 1) | readBits(1);
        if (m_offset >= m_range) {
            m_offset -= m_range;
            return 1;
        }
        return 0;
    }
    // `numBins` bypass bins, the first one the most significant (numBins <= 32).
    uint32_t decodeBypassBins(int numBins);
    unsigned decodeTerminate();
    // True once a bin needed bits beyond the data.
    bool overrun() const { return m_overrun; }
    // Bytes consumed, counting the bits held in the offset register as read.
    size_t bytePosition() const { return size_t(bitPosition() >> 3); }
    // Bits read so far, the 9 bits of the initial offset included (never more than the data
    // holds). After a terminating bin of 1 the last bit read is the stop bit of the arithmetic code.
    uint64_t bitPosition() const { return uint64_t(m_next - m_data) * 8 - uint64_t(m_cacheBits); }

private:
    // `n` bits (1 to 25), the first one the most significant, from the bit cache; bits past the
    // end of the data read as zeros and set the overrun.
    uint32_t readBits(int n)
    {
        if (m_cacheBits < n)
            refill(n);
        uint32_t const v = uint32_t(m_cache >> (64 - n));
        m_cache <<= n;
        m_cacheBits -= n;
        return v;
    }
    // Fills the cache with whole bytes (eight at a time while that many are left); where the
    // data cannot supply `n` bits, the missing ones are zeros.
    void refill(int n);

    uint8_t const* m_data = nullptr;
    uint8_t const* m_next = nullptr; // the first byte not yet in the cache
    uint8_t const* m_end = nullptr;
    uint64_t m_cache = 0; // the next bits of the data from the most significant one, zeros below
    int m_cacheBits = 0;
    uint32_t m_range = 510;
    uint32_t m_offset = 0;
    bool m_overrun = false;
};
