#pragma once

// Arithmetic encoder of the tests, written from the encoding process (low/range registers,
// outstanding bits): regular bins with the decoder's context models, bypass and terminating bins.

#include "slice/Cabac.h"

#include <cstdint>
#include <vector>

namespace vvctest {

class Encoder
{
public:
    void encodeBin(ContextModel& ctx, unsigned bin)
    {
        int const pState = ctx.probability();
        unsigned const valMps = unsigned(pState >> 14);
        const uint32_t lps = (((m_range >> 5) * (uint32_t(valMps ? 32767 - pState : pState) >> 9)) >> 1) + 4;
        m_range -= lps;
        if (bin != valMps) {
            m_low += m_range;
            m_range = lps;
        }
        ctx.update(bin);
        renorm();
    }
    void encodeBypass(unsigned bin)
    {
        m_low <<= 1;
        if (bin)
            m_low += m_range;
        if (m_low >= 1024) {
            putBit(1);
            m_low -= 1024;
        } else if (m_low < 512) {
            putBit(0);
        } else {
            m_low -= 512;
            ++m_outstanding;
        }
    }
    void encodeTerminate(unsigned bin)
    {
        m_range -= 2;
        if (bin) {
            m_low += m_range;
            m_range = 2;
            renorm();
            putBit((m_low >> 9) & 1);
            writeBits(((m_low >> 7) & 3) | 1, 2);
        } else {
            renorm();
        }
    }
    // After the terminating bin: the stop bit is already written; align with zeros.
    std::vector<uint8_t> finish()
    {
        while (m_bits & 7)
            writeBits(0, 1);
        return m_out;
    }

private:
    void renorm()
    {
        while (m_range < 256) {
            if (m_low < 256) {
                putBit(0);
            } else if (m_low >= 512) {
                m_low -= 512;
                putBit(1);
            } else {
                m_low -= 256;
                ++m_outstanding;
            }
            m_range <<= 1;
            m_low <<= 1;
        }
    }
    void putBit(unsigned b)
    {
        if (m_first)
            m_first = false;
        else
            writeBits(b, 1);
        for (; m_outstanding > 0; --m_outstanding)
            writeBits(1 - b, 1);
    }
    void writeBits(uint32_t v, int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            if ((m_bits & 7) == 0)
                m_out.push_back(0);
            m_out.back() |= uint8_t(((v >> i) & 1) << (7 - (m_bits & 7)));
            ++m_bits;
        }
    }

    uint32_t m_low = 0, m_range = 510;
    int m_outstanding = 0;
    bool m_first = true;
    std::vector<uint8_t> m_out;
    uint64_t m_bits = 0;
};

} // namespace vvctest
