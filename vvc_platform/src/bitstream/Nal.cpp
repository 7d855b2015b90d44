#include "bitstream/Nal.h"

void InputBitstream::convertPayloadToRBSP()
{
    size_t out = 0;
    int zeros = 0;
    for (size_t in = 0; in < m_fifo.size(); ++in) {
        const uint8_t b = m_fifo[in];
        if (zeros >= 2 && b == 0x03) {
            // The byte after an emulation-prevention byte must be 0 to 3 (or the unit ends).
            VVC_CHECK(in + 1 < m_fifo.size() && m_fifo[in + 1] > 0x03, "Invalid emulation prevention byte");
            zeros = 0;
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        m_fifo[out++] = b;
    }
    m_fifo.resize(out);
    m_bitPos = 0;
}

uint32_t InputBitstream::read(int numBits)
{
    VVC_CHECK(numBits < 0 || numBits > 32, "Invalid bit count " << numBits);
    VVC_CHECK(uint64_t(numBits) > bitsLeft(), "Read past the end of a NAL unit");
    uint32_t value = 0;
    for (int i = 0; i < numBits; ++i) {
        const uint8_t byte = m_fifo[size_t(m_bitPos >> 3)];
        value = (value << 1) | ((byte >> (7 - (m_bitPos & 7))) & 1u);
        ++m_bitPos;
    }
    return value;
}

uint32_t InputBitstream::readUvlc()
{
    int leadingZeros = 0;
    while (!readFlag()) {
        ++leadingZeros;
        VVC_CHECK(leadingZeros > 31, "Exp-Golomb code too long");
    }
    if (leadingZeros == 0)
        return 0;
    const uint64_t value = (uint64_t(1) << leadingZeros) - 1 + read(leadingZeros);
    VVC_CHECK(value > 0xFFFFFFFFull, "Exp-Golomb value out of range");
    return uint32_t(value);
}

void InputBitstream::skip(uint64_t numBits)
{
    VVC_CHECK(numBits > bitsLeft(), "Read past the end of a NAL unit");
    m_bitPos += numBits;
}

void read(InputNALUnit& nalu)
{
    InputBitstream& bs = nalu.getBitstream();
    bs.convertPayloadToRBSP();
    VVC_CHECK(bs.bitsLeft() < 16, "NAL unit shorter than its header");
    nalu.m_forbiddenZeroBit = bs.readFlag();
    nalu.m_nuhReservedZeroBit = bs.readFlag();
    nalu.m_nuhLayerId = int(bs.read(6));
    nalu.m_nalUnitType = int(bs.read(5));
    int const temporalIdPlus1 = int(bs.read(3));
    VVC_CHECK(nalu.m_forbiddenZeroBit, "forbidden_zero_bit is set");
    VVC_CHECK(temporalIdPlus1 == 0, "nuh_temporal_id_plus1 is zero");
    nalu.m_temporalId = temporalIdPlus1 - 1;
    VVC_CHECK(nalu.m_temporalId != 0 && nalu.m_nalUnitType >= NAL_UNIT_CODED_SLICE_IDR_W_RADL &&
                  nalu.m_nalUnitType <= NAL_UNIT_RESERVED_IRAP_VCL_11,
              "IRAP and GDR NAL units must have temporal id 0");
}

bool ReadOrDrop(InputNALUnit& nalu)
{
    try {
        read(nalu);
        return true;
    } catch (Exception const& e) {
        msg(WARNING, "Warning: damaged NAL unit dropped: %s\n", e.what());
        return false;
    }
}
