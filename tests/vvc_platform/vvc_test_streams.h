#pragma once

// The committed VVC test streams: their paths, their NAL units as the byte stream reader gives
// them, and units (changed by a test) written back as a byte stream.

#include "bitstream/AnnexBread.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace vvctest {

inline std::string StreamPath(char const* name)
{
    return std::string(SERAVIN_VVC_TEST_DATA_DIR "/") + name;
}

inline std::vector<std::vector<uint8_t>> ReadUnits(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.is_open()) << path;
    InputByteStream bs(in);
    std::vector<std::vector<uint8_t>> units;
    for (int guard = 0; guard < 100000; ++guard) {
        std::vector<uint8_t> nal;
        AnnexBStats stats;
        byteStreamNALUnit(bs, nal, stats);
        if (nal.empty() && !in)
            break;
        if (!nal.empty())
            units.push_back(nal);
    }
    return units;
}

// The units behind 4-byte start codes, as a byte stream.
inline std::vector<uint8_t> ByteStream(std::vector<std::vector<uint8_t>> const& units)
{
    std::vector<uint8_t> out;
    for (auto const& u : units) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), u.begin(), u.end());
    }
    return out;
}

// Indices of the slice units (the coded-picture unit types, 0 to 12) among a stream's units.
inline std::vector<size_t> SliceUnits(std::vector<std::vector<uint8_t>> const& units)
{
    std::vector<size_t> slices;
    for (size_t i = 0; i < units.size(); ++i)
        if (units[i].size() > 2 && (units[i][1] >> 3) <= 12)
            slices.push_back(i);
    return slices;
}

} // namespace vvctest
