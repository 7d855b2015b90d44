#pragma once

#include "decoders/ze_nox_sequential_decoder.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <vector>

namespace ze::nox::core {

// Finds the random-access points of an H.264, HEVC, VVC or MJPEG stream from its pictures in
// decoding order, without decoding. A point's first picture is the number of pictures a decode
// from the start puts out before it: every picture is put out, except the RASL pictures of an
// IRAP picture that starts decoding (the first one, one after an end of sequence, an HEVC BLA),
// which every decoder drops. Started at a CRA, a decoder drops its RASL pictures too, so its
// first picture comes that many pictures later; those are reached from the point before.
class ZeRandomAccessPointFinder
{
public:
    using Point = ZeNoxSequentialDecoder::RandomAccessPoint;
    enum class Kind {
        Idr,      // decoding starts here, nothing before it is needed (IDR, any MJPEG picture)
        Cra,      // open: its RASL pictures need the pictures before it
        Bla,      // like a CRA whose RASL pictures are always dropped
        Rasl,     // leading picture that needs the pictures before its IRAP
        Radl,     // leading picture decodable from its IRAP
        Trailing, // any other picture
    };

    // A picture starting at byte offset `pos` (its first unit, parameter sets included).
    void addPicture(Kind kind, int64_t pos);
    // The next IRAP picture starts decoding anew (its RASL pictures are dropped).
    void endOfSequence() { m_afterEos = true; }
    // A parameter set (NAL unit without start code) seen in the stream; the ones seen before a
    // point are handed to the decoder, with start codes, before the point's own data.
    void addParameterSet(uint8_t const* nal, int size);
    // The stream breaks a rule the points rest on: none are given.
    void fail() { m_ok = false; }
    bool ok() const { return m_ok; }
    int pictures() const { return m_pictures; }
    // Pictures a decode from the start puts out.
    int outputs() const { return m_outputs; }

    // The points, or none when the stream did not follow the rules. Pictures before the first
    // IRAP picture make it fail: decoders treat them differently.
    std::vector<Point> finish();

private:
    void endLeading();

    bool m_ok = true;
    int m_pictures = 0; // pictures so far
    int m_outputs = 0;  // pictures a decode from the start puts out for them
    std::vector<Point> m_points;
    std::vector<QByteArray> m_parameterSets; // in the order of their last appearance
    std::shared_ptr<QByteArray const> m_prefix;
    bool m_seenIrap = false;
    bool m_afterEos = false;
    bool m_inLeading = false;
    bool m_leadingOpen = false;    // a CRA whose RASL pictures a decode from the start keeps
    bool m_leadingDropped = false; // an IRAP whose RASL pictures every decode drops
    int m_rasl = 0;
};

} // namespace ze::nox::core
