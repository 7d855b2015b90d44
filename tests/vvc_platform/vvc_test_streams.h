#pragma once

// The committed VVC test streams: their paths, and their NAL units as the byte stream reader
// gives them.

#include "bitstream/AnnexBread.h"

#include <gtest/gtest.h>

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

} // namespace vvctest
