#pragma once

// Builds small VVC Annex B byte streams for the tests: NAL units with the parameter-set and
// picture-header fields the decoder reads, exp-Golomb coded, with emulation prevention.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <vector>

namespace vvctest {

class BitWriter
{
public:
    void u(uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i)
            bit((value >> i) & 1u);
    }
    void flag(bool b) { bit(b ? 1 : 0); }
    void ue(uint32_t value)
    {
        const uint64_t v = uint64_t(value) + 1;
        int len = 0;
        while ((v >> (len + 1)) != 0)
            ++len;
        u(0, len);
        for (int i = len; i >= 0; --i)
            bit(unsigned((v >> i) & 1u));
    }
    void alignZero()
    {
        while (m_bits != 0)
            bit(0);
    }
    void trailingBits()
    {
        bit(1);
        alignZero();
    }
    void bytes(std::vector<uint8_t> const& b)
    {
        alignZero();
        m_data.insert(m_data.end(), b.begin(), b.end());
    }
    std::vector<uint8_t> const& data() const { return m_data; }

private:
    void bit(unsigned b)
    {
        if (m_bits == 0)
            m_data.push_back(0);
        m_data.back() |= uint8_t(b << (7 - m_bits));
        m_bits = (m_bits + 1) & 7;
    }
    std::vector<uint8_t> m_data;
    int m_bits = 0;
};

// Header bytes plus the payload with emulation-prevention bytes inserted.
inline std::vector<uint8_t> Nal(int type, std::vector<uint8_t> const& rbsp, int layerId = 0, int temporalId = 0)
{
    std::vector<uint8_t> out = {uint8_t(layerId & 0x3F), uint8_t((type << 3) | (temporalId + 1))};
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

// The picture size and its conformance window, as the SPS and the PPS both write them.
template <typename Params>
void PictureSize(BitWriter& w, Params const& p)
{
    w.ue(uint32_t(p.width));
    w.ue(uint32_t(p.height));
    w.flag(p.window);
    if (p.window) {
        w.ue(uint32_t(p.winLeft));
        w.ue(uint32_t(p.winRight));
        w.ue(uint32_t(p.winTop));
        w.ue(uint32_t(p.winBottom));
    }
}

struct SeqParams
{
    int width = 64;
    int height = 48;
    int chromaFormat = 1;
    int bitDepth = 8;
    bool window = false;
    int winLeft = 0, winRight = 0, winTop = 0, winBottom = 0;
    int log2MaxPocLsb = 8;
    int pocMsbCycleLen = 0; // 0: no POC MSB cycle in the picture headers
    bool dpbParams = true;
    int maxDecPicBuffering = 4;
    int maxNumReorder = 0;
    int maxSubLayersMinus1 = 0;
    bool gciPresent = false;
    int spsId = 0;
};

inline std::vector<uint8_t> SpsRbsp(SeqParams const& p)
{
    BitWriter w;
    w.u(uint32_t(p.spsId), 4);
    w.u(0, 4); // vps id
    w.u(uint32_t(p.maxSubLayersMinus1), 3);
    w.u(uint32_t(p.chromaFormat), 2);
    w.u(1, 2);           // CTU 64
    w.flag(p.dpbParams); // PTL, DPB and HRD parameters present
    if (p.dpbParams) {
        w.u(1, 7);     // profile
        w.flag(false); // tier
        w.u(51, 8);    // level
        w.flag(true);  // frame only
        w.flag(false); // multilayer
        w.flag(p.gciPresent);
        if (p.gciPresent) {
            for (int i = 0; i < 71; ++i)
                w.flag(i % 3 == 0);
            w.u(6, 8); // additional bits
            w.u(0x2A, 6);
        }
        w.alignZero();
        for (int i = p.maxSubLayersMinus1 - 1; i >= 0; --i)
            w.flag(i == 0); // a sub-layer level for sub-layer 0 only
        w.alignZero();
        if (p.maxSubLayersMinus1 > 0)
            w.u(32, 8);
        w.u(1, 8); // one sub-profile
        w.u(0xDEADBEEF, 32);
    }
    w.flag(false); // GDR
    w.flag(false); // reference picture resampling
    PictureSize(w, p);
    w.flag(false); // subpictures
    w.ue(uint32_t(p.bitDepth - 8));
    w.flag(false);
    w.flag(false);
    w.u(uint32_t(p.log2MaxPocLsb - 4), 4);
    w.flag(p.pocMsbCycleLen > 0); // POC MSB cycle
    if (p.pocMsbCycleLen > 0)
        w.ue(uint32_t(p.pocMsbCycleLen - 1));
    w.u(0, 2); // extra PH bytes
    w.u(0, 2); // extra SH bytes
    if (p.dpbParams) {
        if (p.maxSubLayersMinus1 > 0)
            w.flag(false); // only the highest sub-layer's values
        w.ue(uint32_t(p.maxDecPicBuffering - 1));
        w.ue(uint32_t(p.maxNumReorder));
        w.ue(0);
    }
    w.u(0x5, 3); // stands for the rest of the SPS
    w.trailingBits();
    return w.data();
}

struct PicParams
{
    int width = 64;
    int height = 48;
    bool window = false;
    int winLeft = 0, winRight = 0, winTop = 0, winBottom = 0;
    int ppsId = 0;
    int spsId = 0;
};

inline std::vector<uint8_t> PpsRbsp(PicParams const& p)
{
    BitWriter w;
    w.u(uint32_t(p.ppsId), 6);
    w.u(uint32_t(p.spsId), 4);
    w.flag(false);
    PictureSize(w, p);
    w.u(0, 9); // stands for the rest of the PPS
    w.trailingBits();
    return w.data();
}

// With pocMsbCycleLen > 0 the header carries the POC MSB cycle `pocMsbCycle` (none when negative).
inline void PictureHeader(BitWriter& w, bool irap, int poc, int log2MaxPocLsb, int ppsId = 0, int pocMsbCycleLen = 0,
                          int64_t pocMsbCycle = -1)
{
    w.flag(irap);
    w.flag(false); // non-reference
    if (irap)
        w.flag(false); // GDR
    w.flag(!irap);     // inter slices allowed
    if (!irap)
        w.flag(true); // intra slices allowed
    w.ue(uint32_t(ppsId));
    w.u(uint32_t(poc) & ((1u << log2MaxPocLsb) - 1), log2MaxPocLsb);
    if (pocMsbCycleLen > 0) {
        w.flag(pocMsbCycle >= 0);
        if (pocMsbCycle >= 0)
            w.u(uint32_t(pocMsbCycle), pocMsbCycleLen);
    }
}

// Slice data stand-in with byte patterns that need emulation prevention.
inline std::vector<uint8_t> kSliceData()
{
    return {0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x03, 0x80};
}

struct Pic
{
    int type; // NAL unit type of its slices
    int poc;
    int64_t pocMsbCycle = -1; // written when the SPS has a POC MSB cycle and this is not negative
};

struct StreamPlan
{
    SeqParams sps;
    PicParams pps;
    std::vector<Pic> pictures;   // decoding order
    bool phInSliceHeader = true; // else a picture-header NAL unit before the slice
    int slicesPerPicture = 1;    // more than one needs the picture-header NAL unit
    bool fourByteStartCodes = true;
    bool vps = false;
};

class StreamBuilder
{
public:
    void startCode(bool four = true)
    {
        if (four)
            m_bytes.push_back(0);
        m_bytes.insert(m_bytes.end(), {0, 0, 1});
    }
    void nal(std::vector<uint8_t> const& unit, bool four = true)
    {
        startCode(four);
        m_bytes.insert(m_bytes.end(), unit.begin(), unit.end());
    }
    void raw(std::vector<uint8_t> const& b) { m_bytes.insert(m_bytes.end(), b.begin(), b.end()); }
    std::vector<uint8_t>& bytes() { return m_bytes; }

    void parameterSets(StreamPlan const& s)
    {
        if (s.vps) {
            BitWriter w;
            w.u(1, 4); // vps id
            w.u(0, 6); // one layer
            w.u(0, 3); // one sub-layer
            w.u(0, 6); // its layer id
            w.trailingBits();
            nal(Nal(14, w.data()), s.fourByteStartCodes);
        }
        nal(Nal(15, SpsRbsp(s.sps)), s.fourByteStartCodes);
        nal(Nal(16, PpsRbsp(s.pps)), s.fourByteStartCodes);
    }
    void picture(StreamPlan const& s, Pic const& p)
    {
        bool const irap = p.type >= 7 && p.type <= 9;
        int const temporalId = 0;
        if (!s.phInSliceHeader || s.slicesPerPicture > 1) {
            BitWriter w;
            PictureHeader(w, irap, p.poc, s.sps.log2MaxPocLsb, s.pps.ppsId, s.sps.pocMsbCycleLen, p.pocMsbCycle);
            w.trailingBits();
            nal(Nal(19, w.data()), s.fourByteStartCodes);
        }
        for (int i = 0; i < s.slicesPerPicture; ++i) {
            BitWriter w;
            bool const phHere = s.phInSliceHeader && s.slicesPerPicture == 1;
            w.flag(phHere);
            if (phHere)
                PictureHeader(w, irap, p.poc, s.sps.log2MaxPocLsb, s.pps.ppsId, s.sps.pocMsbCycleLen, p.pocMsbCycle);
            w.bytes(kSliceData());
            nal(Nal(p.type, w.data(), 0, temporalId), s.fourByteStartCodes);
        }
    }
    void stream(StreamPlan const& s)
    {
        parameterSets(s);
        for (Pic const& p : s.pictures)
            picture(s, p);
    }

private:
    std::vector<uint8_t> m_bytes;
};

inline std::vector<uint8_t> BuildStream(StreamPlan const& s)
{
    StreamBuilder b;
    b.stream(s);
    return b.bytes();
}

// IDR then trailing pictures in POC order.
inline std::vector<Pic> SimpleGop(int count)
{
    std::vector<Pic> pics = {{8, 0}};
    for (int i = 1; i < count; ++i)
        pics.push_back({0, i});
    return pics;
}

// The default parameter sets with `count` pictures of SimpleGop.
inline StreamPlan SimplePlan(int count)
{
    StreamPlan s;
    s.pictures = SimpleGop(count);
    return s;
}

} // namespace vvctest
