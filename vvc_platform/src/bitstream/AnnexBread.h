#pragma once

#include <cstdint>
#include <istream>
#include <vector>

// Byte counts of the last NAL unit read.
struct AnnexBStats
{
    uint32_t m_numLeadingZero8BitsBytes = 0;
    uint32_t m_numZeroByteBytes = 0;
    uint32_t m_numStartCodePrefixBytes = 0;
    uint32_t m_numBytesInNALUnit = 0;
    uint32_t m_numTrailingZero8BitsBytes = 0;
};

// Annex B reader on a binary input stream. Once it has met the end of the data the input
// stream is put into its end-of-file and fail states. Data that does not begin as a VVC byte
// stream (anything but zero bytes before the first start code, or a first NAL unit that is not
// a well-formed access-unit delimiter, VPS or SPS) is treated as empty.
class InputByteStream
{
public:
    explicit InputByteStream(std::istream& in);

    // The next NAL unit without moving the read position or changing the stream's state.
    bool peekNalUnit(std::vector<uint8_t>& nalUnit);
    bool notAByteStream() const { return m_notAByteStream; }
    // Bytes consumed so far.
    uint64_t position() const { return m_consumed; }

private:
    friend void byteStreamNALUnit(InputByteStream&, std::vector<uint8_t>&, AnnexBStats&);
    int peekByte(int ahead); // -1 beyond the data
    int readByte();          // -1 at the end; the stream is then marked as ended
    void markEnd();

    std::istream& m_in;
    std::streambuf* m_buf;
    uint8_t m_ahead[4] = {};
    int m_numAhead = 0;
    bool m_ended = false;
    bool m_notAByteStream = false;
    uint64_t m_nalUnitsRead = 0;
    uint64_t m_consumed = 0;
};

// The next NAL unit's bytes (emulation prevention still in them); empty at the end of the data.
// Throws on data that breaks the byte-stream syntax after the first NAL unit.
void byteStreamNALUnit(InputByteStream& bs, std::vector<uint8_t>& nalUnit, AnnexBStats& stats);
