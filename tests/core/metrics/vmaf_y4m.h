#pragma once

// Minimal Y4M reader for the metric tests: planar 8/10-bit 4:2:0, 4:2:2, 4:4:4.

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct Y4mClip
{
    int width = 0;
    int height = 0;
    int bitDepth = 8;
    int cw = 1, ch = 1; // chroma shifts
    int frames = 0;
    // frames x 3 planes of samples on the 8-bit scale (10-bit divided by 4)
    std::vector<std::vector<std::vector<float>>> planes;
    int planeWidth(int p) const { return p == 0 ? width : -((-width) >> cw); }
    int planeHeight(int p) const { return p == 0 ? height : -((-height) >> ch); }

    bool load(std::string const& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::string header;
        if (!std::getline(in, header) || header.rfind("YUV4MPEG2", 0) != 0)
            return false;
        std::istringstream hs(header);
        std::string tok;
        std::string cs = "420jpeg";
        while (hs >> tok) {
            if (tok[0] == 'W')
                width = std::stoi(tok.substr(1));
            else if (tok[0] == 'H')
                height = std::stoi(tok.substr(1));
            else if (tok[0] == 'C')
                cs = tok.substr(1);
        }
        if (cs.find("p10") != std::string::npos)
            bitDepth = 10;
        if (cs.rfind("444", 0) == 0)
            cw = ch = 0;
        else if (cs.rfind("422", 0) == 0) {
            cw = 1;
            ch = 0;
        }
        int const bps = bitDepth > 8 ? 2 : 1;
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("FRAME", 0) != 0)
                return false;
            std::vector<std::vector<float>> frame(3);
            for (int p = 0; p < 3; ++p) {
                std::size_t const n = static_cast<std::size_t>(planeWidth(p)) * planeHeight(p);
                std::vector<unsigned char> raw(n * bps);
                if (!in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size())))
                    return false;
                frame[p].resize(n);
                for (std::size_t i = 0; i < n; ++i)
                    frame[p][i] = bps == 1 ? raw[i] : static_cast<float>(raw[2 * i] | (raw[2 * i + 1] << 8)) * 0.25f;
            }
            planes.push_back(std::move(frame));
        }
        frames = static_cast<int>(planes.size());
        return frames > 0;
    }
};
