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
    unsigned decodeBin(ContextModel& ctx);
    unsigned decodeBypass();
    // `numBins` bypass bins, the first one the most significant (numBins <= 32).
    uint32_t decodeBypassBins(int numBins);
    unsigned decodeTerminate();
    // True once a bin needed bits beyond the data.
    bool overrun() const { return m_overrun; }
    // Bytes consumed, counting the bits held in the offset register as read.
    size_t bytePosition() const { return m_bitPos >> 3; }
    // Bits read so far, the 9 bits of the initial offset included. After a terminating bin of 1
    // the last bit read is the stop bit of the arithmetic code.
    uint64_t bitPosition() const { return m_bitPos; }

private:
    unsigned readBit()
    {
        if (m_bitPos >= uint64_t(m_size) * 8) {
            m_overrun = true;
            return 0;
        }
        unsigned const bit = (m_data[m_bitPos >> 3] >> (7 - (m_bitPos & 7))) & 1u;
        ++m_bitPos;
        return bit;
    }
    // `n` bits (1 to 8), the first one the most significant; past the data as readBit().
    unsigned readBits(int n)
    {
        if (m_bitPos + uint64_t(n) > uint64_t(m_size) * 8) {
            unsigned v = 0;
            for (int i = 0; i < n; ++i)
                v = (v << 1) | readBit();
            return v;
        }
        size_t const byte = size_t(m_bitPos >> 3);
        int const used = int(m_bitPos & 7);
        // The second byte is read only when the bits reach into it (and it is then inside).
        uint32_t const word = uint32_t(m_data[byte]) << 8 | (used + n > 8 ? m_data[byte + 1] : 0u);
        m_bitPos += uint64_t(n);
        return (word >> (16 - used - n)) & ((1u << n) - 1);
    }

    uint8_t const* m_data = nullptr;
    size_t m_size = 0;
    uint64_t m_bitPos = 0;
    uint32_t m_range = 510;
    uint32_t m_offset = 0;
    bool m_overrun = false;
};
