#pragma once

#include "bitstream/Nal.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Decoded picture hash: the per-plane MD5, CRC or checksum a stream carries in a suffix SEI
// message (payload type 132), and the check of a decoded picture against it.

enum class PictureHashType : int { MD5 = 0, CRC = 1, CHECKSUM = 2 };

struct PlaneHash
{
    std::array<uint8_t, 16> md5 = {};
    uint32_t value = 0; // CRC (16 bits) or checksum (32 bits)
    bool operator==(PlaneHash const& o) const { return md5 == o.md5 && value == o.value; }
    bool operator!=(PlaneHash const& o) const { return !(*this == o); }
};

struct PictureHash
{
    PictureHashType type = PictureHashType::MD5;
    int numPlanes = 3; // 1 when the SEI covers the luma plane only
    PlaneHash planes[3];
};

// One plane of a decoded picture: samples in 16-bit words, `stride` samples per row.
struct PlaneView
{
    uint16_t const* samples = nullptr;
    ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
};

// An SEI message as found in an SEI NAL unit: its type and payload bytes.
struct SeiMessage
{
    int payloadType = 0;
    std::vector<uint8_t> payload;
};

// The messages of an SEI RBSP (the bit reader just after the NAL unit header). Sizes that do not
// fit the unit, or a missing stop bit, throw.
std::vector<SeiMessage> ParseSeiMessages(InputBitstream& bs);

// The hash of a decoded picture hash payload; false when the payload is malformed or of a
// reserved hash type.
bool ParsePictureHash(std::vector<uint8_t> const& payload, PictureHash& hash);

// The hash of one plane as the SEI message defines it: samples as one byte each at 8 bits and
// below, else as two bytes, low byte first.
PlaneHash ComputePlaneHash(PictureHashType type, PlaneView const& plane, int bitDepth);

// Checks the first `hash.numPlanes` planes; answers -1 when all match, else the index of the
// first plane that differs. Planes without samples never match.
int CheckPictureHash(PictureHash const& hash, PlaneView const planes[3], int const bitDepth[3]);

// MD5 of a byte string (also used for whole-output checks).
class Md5
{
public:
    Md5();
    void update(uint8_t const* data, size_t size);
    std::array<uint8_t, 16> finish();
    // One 64-byte block for each of `count` (1 to kMaxInStep) digests at once, faster than one
    // after the other; each digest must be at a block boundary (no partial block buffered).
    static constexpr int kMaxInStep = 3;
    static void updateInStep(Md5* const md5[], uint8_t const* const blocks[], int count);

private:
    void block(uint8_t const* p);
    uint32_t m_state[4];
    uint8_t m_buffer[64];
    uint64_t m_length = 0;
    size_t m_fill = 0;
};
