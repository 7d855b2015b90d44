#pragma once

#include "util/VvcCommon.h"

#include <cstdint>
#include <vector>

// Bytes of one NAL unit and an MSB-first bit reader over them. Reads past the end throw.
class InputBitstream
{
public:
    InputBitstream() = default;

    std::vector<uint8_t>& getFifo() { return m_fifo; }
    std::vector<uint8_t> const& getFifo() const { return m_fifo; }
    // Removes emulation-prevention bytes (0x03 after two zero bytes) and restarts reading.
    void convertPayloadToRBSP();

    uint32_t read(int numBits); // u(n), n <= 32
    bool readFlag() { return read(1) != 0; }
    uint32_t readUvlc(); // ue(v), up to 32-bit values
    bool isByteAligned() const { return (m_bitPos & 7) == 0; }
    uint64_t bitsLeft() const { return uint64_t(m_fifo.size()) * 8 - m_bitPos; }
    uint64_t bitPosition() const { return m_bitPos; }
    void skip(uint64_t numBits);

private:
    std::vector<uint8_t> m_fifo;
    uint64_t m_bitPos = 0;
};

class InputNALUnit
{
public:
    InputNALUnit() = default;

    int m_nalUnitType = NAL_UNIT_INVALID;
    int m_temporalId = 0;
    int m_nuhLayerId = 0;
    bool m_forbiddenZeroBit = false;
    bool m_nuhReservedZeroBit = false;

    InputBitstream& getBitstream() { return m_bitstream; }
    bool isSlice() const { return IsSliceNalType(m_nalUnitType); }

private:
    InputBitstream m_bitstream;
};

// Takes the emulation-prevention bytes out of the unit's bytes and parses its two-byte header;
// the bit reader is then at the first payload bit. Malformed headers throw.
void read(InputNALUnit& nalu);
// The same for a unit of a stream being decoded: a damaged unit (an invalid emulation-prevention
// byte, a malformed header) is dropped with a warning, and the answer is false.
bool ReadOrDrop(InputNALUnit& nalu);
