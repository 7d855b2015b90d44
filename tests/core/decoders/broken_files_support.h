#pragma once

// Damaged copies of small clips and a walk of each through the decoder factory, shared by the
// broken-file tests and the longer fuzzing tool. No test framework here: the walk reports what
// it saw, BrokenRules names the rules it broke, and the caller fails on them its own way.

#include "test_support.h"
#include "vvc_platform/vvc_test_writer.h"

#include "display/frame.h"
#include "decoders/ze_nox_decoder_factory.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace brokenfiles {

using namespace ze::nox::core;
using Bytes = std::vector<uint8_t>;

// ---- Raw parameters ----------------------------------------------------------------------

// The fixed answer of the raw-parameters question: the 33x17 4:2:0 8-bit planar seed clip.
inline ZeNoxCoreError AnswerRaw(QString const&, int& width, int& height, int& bitDepth, ImageInfo::IMG_TYPE& chroma,
                                YUVFile::Formats& layout, int&, int& frameSize, CropInfo& crop, bool)
{
    width = 33;
    height = 17;
    bitDepth = 8;
    chroma = ImageInfo::IMG_420;
    layout = YUVFile::FORMAT_PLANAR;
    frameSize = 33 * 17 + 2 * 17 * 9;
    crop = CropInfo{};
    return ZE_NOX_CORE_OK;
}

// ---- Walking a file ----------------------------------------------------------------------

struct Outcome
{
    ZeNoxCoreError create = ZE_NOX_CORE_OK;
    ZeNoxCoreError open = ZE_NOX_CORE_NOT_OPENED;
    std::vector<ZeNoxCoreError> results; // of every navigation call
    int frameCount = 0;
    int framesWalked = 0; // pictures the forward walk gave
    bool endless = false; // the forward walk went past the frame count
    std::string badFrame; // a picture given with success that does not match the stream
};

constexpr int kMaxWalk = 64;    // forward steps at most
constexpr int kMaxBackward = 6; // pictures asked for backwards at most

inline bool IsResultCode(ZeNoxCoreError e)
{
    return int(e) >= int(ZE_NOX_CORE_OK) && int(e) <= int(ZE_NOX_CORE_CRITICAL_DECODING_ERROR);
}

// A picture handed out with success must be what the decoder says its stream holds.
inline void CheckFrame(ZeNoxDecoder const& d, Frame const& frame, ZeNoxCoreError e, char const* call, Outcome& o)
{
    o.results.push_back(e);
    if (e != ZE_NOX_CORE_OK || !o.badFrame.empty())
        return;
    if (!frame.isValid() || frame.width() != d.width() || frame.height() != d.height() ||
        frame.pixelFormat() != d.pixelFormat())
        o.badFrame = std::string(call) + ": picture " + std::to_string(frame.width()) + "x" +
                     std::to_string(frame.height()) + " fmt " + std::to_string(int(frame.pixelFormat())) + ", stream " +
                     std::to_string(d.width()) + "x" + std::to_string(d.height()) + " fmt " +
                     std::to_string(int(d.pixelFormat()));
}

// Creates (type 0 detects), opens and walks: forward to the end, backwards by number, the last
// picture, one step back.
inline Outcome Exercise(QString const& path, ZeStreamType type, StreamParams const* params)
{
    Outcome o;
    ZeNoxDecoder* created = nullptr;
    o.create = CreateNoxDecoder(&created, type, path, AnswerRaw, false, nullptr);
    std::unique_ptr<ZeNoxDecoder> d(created);
    if (!d)
        return o;
    o.open = OpenNoxDecoderWrapper(d.get(), path, params, AnswerRaw, false);
    if (o.open != ZE_NOX_CORE_OK)
        return o;
    o.frameCount = d->getOriginalFrameCount();
    Frame frame;
    ZeNoxCoreError e = d->getFirstFrame(frame);
    CheckFrame(*d, frame, e, "first", o);
    // Past failing pictures too, as a user stepping on would, until the end or the step cap.
    for (int steps = 0; e != ZE_NOX_CORE_END_OF_FILE && steps < kMaxWalk; ++steps) {
        o.framesWalked += e == ZE_NOX_CORE_OK ? 1 : 0;
        e = d->getNextFrame(frame);
        CheckFrame(*d, frame, e, "next", o);
    }
    o.endless = o.framesWalked > std::max(o.frameCount, 0) && o.framesWalked < kMaxWalk;
    int const last = std::min(o.frameCount, kMaxWalk) - 1;
    for (int n = last; n >= 0 && n > last - kMaxBackward; --n)
        CheckFrame(*d, frame, d->getFrame(n, frame), "frame n", o);
    CheckFrame(*d, frame, d->getLastFrame(frame), "last", o);
    CheckFrame(*d, frame, d->getPrevFrame(frame), "prev", o);
    CheckFrame(*d, frame, d->getFrame(0, frame), "frame 0", o);
    d->closeFile();
    return o;
}

// The rules a walk keeps on any file, damaged or not, that it broke, one line each; empty when it
// kept them all: only result codes, a frame count not below 0, no more pictures than that count,
// and every picture given with success of the stream's size and format.
inline std::string BrokenRules(Outcome const& o)
{
    std::string out;
    auto code = [&out](char const* what, ZeNoxCoreError e) {
        if (!IsResultCode(e))
            out += std::string(what) + " gave " + std::to_string(int(e)) + "\n";
    };
    code("create", o.create);
    code("open", o.open);
    for (ZeNoxCoreError e : o.results)
        code("a step", e);
    if (o.frameCount < 0)
        out += "frame count " + std::to_string(o.frameCount) + "\n";
    if (o.endless)
        out += std::to_string(o.framesWalked) + " pictures walked, frame count " + std::to_string(o.frameCount) + "\n";
    if (!o.badFrame.empty())
        out += o.badFrame + "\n";
    return out;
}

// ---- Seed clips ---------------------------------------------------------------------------

enum class Kind { Y4M, Raw, H264, Hevc, Mjpeg, Ivf, Obu, AnnexB, Vvc };

inline Bytes ToBytes(QByteArray const& a)
{
    return Bytes(a.begin(), a.end());
}

inline Bytes ReadBytes(QString const& path)
{
    return ToBytes(ReadAll(path));
}

inline Bytes SyntheticVvc()
{
    vvctest::StreamPlan s = vvctest::SimplePlan(5);
    return vvctest::BuildStream(s);
}

struct Clip
{
    std::string name; // stored under this name, suffix included
    Kind kind = Kind::Raw;
    ZeStreamType type = ZE_STREAM_TYPE_UNKNOWN;
    std::function<Bytes()> load;
    bool withParams = false; // opened with a stream-parameters record
    bool decodes = true;     // its pictures come out (the VVC library layer gives no samples)
    bool opens = true;       // its first picture comes out
    StreamParams params;
};

inline std::vector<Clip> const& Clips()
{
    static const std::vector<Clip> kClips = [] {
        auto media = [](char const* n) { return [n] { return ReadBytes(TestMediaPath(QString::fromLatin1(n))); }; };
        StreamParams raw;
        raw.valid = true;
        raw.type = ZE_STREAM_TYPE_YUV;
        raw.width = 33;
        raw.height = 17;
        raw.pixFmt = AV_PIX_FMT_YUV420P;
        raw.frames = 4;
        auto plain = [](std::string name, Kind kind, ZeStreamType type, std::function<Bytes()> load) {
            Clip c;
            c.name = std::move(name);
            c.kind = kind;
            c.type = type;
            c.load = std::move(load);
            return c;
        };
        std::vector<Clip> c = {
            plain("fz_420p_33x17.y4m", Kind::Y4M, ZE_STREAM_TYPE_YUV, media("fz_420p_33x17.y4m")),
            plain("fz_422p10_16x8.y4m", Kind::Y4M, ZE_STREAM_TYPE_YUV, media("fz_422p10_16x8.y4m")),
            plain("fz_420p_33x17.yuv", Kind::Raw, ZE_STREAM_TYPE_YUV, media("fz_420p_33x17.yuv")),
            plain("fz_420p_33x17_params.yuv", Kind::Raw, ZE_STREAM_TYPE_YUV, media("fz_420p_33x17.yuv")),
            plain("fz_avc.h264", Kind::H264, ZE_STREAM_TYPE_AVC, media("fz_avc.h264")),
            plain("fz_hevc.h265", Kind::Hevc, ZE_STREAM_TYPE_HEVC, media("fz_hevc.h265")),
            plain("fz_mjpeg.mjpeg", Kind::Mjpeg, ZE_STREAM_TYPE_MJPEG, media("fz_mjpeg.mjpeg")),
            plain("fz_av1.ivf", Kind::Ivf, ZE_STREAM_TYPE_AV1, media("fz_av1.ivf")),
            plain("fz_av1.obu", Kind::Obu, ZE_STREAM_TYPE_AV1, media("fz_av1.obu")),
            // Monochrome, 4:4:4 and 10-bit 4:2:2 pictures of odd sizes.
            plain("av1_gray.ivf", Kind::Ivf, ZE_STREAM_TYPE_AV1, media("av1_gray.ivf")),
            plain("av1_444p.ivf", Kind::Ivf, ZE_STREAM_TYPE_AV1, media("av1_444p.ivf")),
            plain("av1_422p10.ivf", Kind::Ivf, ZE_STREAM_TYPE_AV1, media("av1_422p10.ivf")),
            plain("fz_av1_annexb.obu", Kind::AnnexB, ZE_STREAM_TYPE_AV1,
                  [] { return ToBytes(ToAnnexB(ReadAll(TestMediaPath(QStringLiteral("fz_av1.obu"))))); }),
            plain("fz_synthetic.vvc", Kind::Vvc, ZE_STREAM_TYPE_VVC, SyntheticVvc),
            // A real stream: damage reaches the complete syntax (the synthetic one stops early).
            plain("fz_conformance.vvc", Kind::Vvc, ZE_STREAM_TYPE_VVC,
                  [] { return ReadBytes(QStringLiteral(SERAVIN_VVC_TEST_DATA_DIR "/DCI_A_Tencent_3.bit")); }),
        };
        c[c.size() - 2].decodes = false;
        c.back().decodes = false;
        c[3].withParams = true;
        c[3].params = raw;
        // Stored stream parameters of another file under the same name: 176x144 instead of 64x48.
        StreamParams stale;
        stale.valid = true;
        stale.width = 176;
        stale.height = 144;
        stale.pixFmt = AV_PIX_FMT_YUV420P;
        stale.frames = 4;
        for (auto [name, kind, type, from] :
             {std::make_tuple("fz_stale_params.h264", Kind::H264, ZE_STREAM_TYPE_AVC, "fz_avc.h264"),
              std::make_tuple("fz_stale_params.ivf", Kind::Ivf, ZE_STREAM_TYPE_AV1, "fz_av1.ivf"),
              std::make_tuple("fz_stale_params.vvc", Kind::Vvc, ZE_STREAM_TYPE_VVC, "")}) {
            c.push_back(plain(name, kind, type, *from ? media(from) : std::function<Bytes()>(SyntheticVvc)));
            c.back().decodes = kind != Kind::Vvc;
            c.back().withParams = true;
            c.back().params = stale;
            c.back().params.type = type;
            c.back().opens = false; // the first picture does not match
        }
        return c;
    }();
    return kClips;
}

// ---- VVC streams ---------------------------------------------------------------------------

// The start of an Annex B VVC stream up to its `pictures`-th picture: the parameter sets, the
// pictures' units and their suffix units, cut before the units that open the next picture (the
// whole stream when it holds no more). Damage to a short stream decodes fast.
inline Bytes FirstVvcPictures(Bytes const& b, int pictures)
{
    std::vector<size_t> starts; // payload starts, after each start code
    for (size_t i = 0; i + 3 <= b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    auto type = [&](size_t k) { return starts[k] + 1 < b.size() ? b[starts[k] + 1] >> 3 : 31; };
    int seen = 0;
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t s = starts[k];
        int const t = type(k);
        // A picture header unit, or a slice whose header holds the picture header.
        bool const opens = t == 19 || (t <= 11 && s + 2 < b.size() && (b[s + 2] & 0x80));
        if (!opens || ++seen <= pictures)
            continue;
        size_t first = k; // back over the prefix units of this picture
        while (first > 0 && type(first - 1) > 11 && type(first - 1) != 18 && type(first - 1) != 24)
            --first;
        size_t cut = starts[first] - 3;
        while (cut > 0 && b[cut - 1] == 0)
            --cut;
        return Bytes(b.begin(), b.begin() + std::ptrdiff_t(cut));
    }
    return b;
}

// The committed VVC test streams: name, bytes.
inline std::vector<std::pair<std::string, Bytes>> VvcTestStreams()
{
    std::vector<std::pair<std::string, Bytes>> out;
    const QDir dir(QStringLiteral(SERAVIN_VVC_TEST_DATA_DIR));
    for (QString const& name : dir.entryList({QStringLiteral("*.bit")}, QDir::Files, QDir::Name))
        out.emplace_back(name.toStdString(), ReadBytes(dir.filePath(name)));
    return out;
}

inline QString WriteCase(QTemporaryDir const& dir, Clip const& clip, Bytes const& bytes)
{
    const QString path = QDir(dir.path()).filePath(QString::fromStdString(clip.name));
    return WriteAll(path, bytes) ? path : QString();
}

// ---- Field damage -----------------------------------------------------------------------

// Replaces `count` bytes at `pos` by `with`; false when the clip is too short.
inline bool Splice(Bytes& b, size_t pos, size_t count, Bytes const& with)
{
    if (pos + count > b.size())
        return false;
    b.erase(b.begin() + std::ptrdiff_t(pos), b.begin() + std::ptrdiff_t(pos + count));
    b.insert(b.begin() + std::ptrdiff_t(pos), with.begin(), with.end());
    return true;
}

inline size_t Find(Bytes const& b, std::string const& s, size_t from = 0)
{
    auto it = std::search(b.begin() + std::ptrdiff_t(std::min(from, b.size())), b.end(), s.begin(), s.end());
    return it == b.end() ? std::string::npos : size_t(it - b.begin());
}

// Replaces the Y4M stream header's token starting with `tag` (W, H, C, F, ...) by `with`.
inline bool Y4MToken(Bytes& b, char tag, std::string const& with, size_t headerStart = 0)
{
    const size_t end = Find(b, "\n", headerStart);
    if (end == std::string::npos)
        return false;
    for (size_t i = headerStart; i + 1 < end; ++i) {
        if (b[i] == ' ' && b[i + 1] == uint8_t(tag)) {
            size_t j = i + 1;
            while (j < end && b[j] != ' ')
                ++j;
            return Splice(b, i + 1, j - i - 1, Bytes(with.begin(), with.end()));
        }
    }
    return false;
}

// Offset of the n-th OBU (from 0) of a low-overhead stream and its size field's position.
inline bool ObuAt(Bytes const& b, int n, size_t& start, size_t& sizeField)
{
    size_t pos = 0;
    for (int i = 0; pos < b.size(); ++i) {
        start = pos;
        const uint8_t h = b[pos++];
        if (h & 0x04)
            ++pos;
        sizeField = pos;
        uint64_t size = 0;
        if (!(h & 0x02) || !GetLeb128(b, pos, size))
            return false;
        if (i == n)
            return true;
        pos += size_t(size);
    }
    return false;
}

inline size_t LebLength(Bytes const& b, size_t pos)
{
    size_t n = 0;
    while (pos + n < b.size() && (b[pos + n] & 0x80) && n < 8)
        ++n;
    return n + 1;
}

// Rewrites the maximum picture size of the first AV1 sequence header of a low-overhead stream
// (16-bit size fields); false for a header this simple reader does not follow.
inline bool Av1MaxSize(Bytes& b, uint32_t width, uint32_t height)
{
    size_t start = 0, field = 0;
    if (!ObuAt(b, 1, start, field) || ((b[start] >> 3) & 0xf) != 1 || (b[start] & 0x04))
        return false;
    size_t payload = field;
    uint64_t size = 0;
    if (!GetLeb128(b, payload, size) || payload + size > b.size() || size > 127)
        return false;
    std::vector<int> bits;
    for (size_t i = 0; i < size; ++i)
        for (int k = 7; k >= 0; --k)
            bits.push_back((b[payload + i] >> k) & 1);
    size_t i = 0;
    auto r = [&](int n) {
        uint32_t v = 0;
        for (int k = 0; k < n && i < bits.size(); ++k)
            v = (v << 1) | uint32_t(bits[i++]);
        return v;
    };
    r(3);       // seq_profile
    r(1);       // still_picture
    if (r(1)) { // reduced_still_picture_header
        r(5);
    } else {
        if (r(1)) // timing_info_present_flag
            return false;
        bool const delay = r(1);
        const uint32_t points = r(5) + 1;
        for (uint32_t k = 0; k < points; ++k) {
            r(12);
            if (r(5) > 7)
                r(1);
            if (delay && r(1))
                r(4);
        }
    }
    const size_t sizeFields = i;
    int const wBits = int(r(4)) + 1, hBits = int(r(4)) + 1;
    r(wBits);
    r(hBits);
    std::vector<int> out(bits.begin(), bits.begin() + std::ptrdiff_t(sizeFields));
    auto w = [&](uint32_t v, int n) {
        for (int k = n - 1; k >= 0; --k)
            out.push_back(int((v >> k) & 1));
    };
    w(15, 4);
    w(15, 4);
    w(width - 1, 16);
    w(height - 1, 16);
    std::vector<int> rest(bits.begin() + std::ptrdiff_t(i), bits.end());
    while (!rest.empty() && rest.back() == 0)
        rest.pop_back(); // the trailing bits are put back after the shift
    out.insert(out.end(), rest.begin(), rest.end());
    while (out.size() % 8)
        out.push_back(0);
    Bytes payloadBytes(out.size() / 8, 0);
    for (size_t k = 0; k < out.size(); ++k)
        payloadBytes[k / 8] |= uint8_t(out[k] << (7 - k % 8));
    Bytes sized;
    PutLeb128(sized, payloadBytes.size());
    sized.insert(sized.end(), payloadBytes.begin(), payloadBytes.end());
    return Splice(b, field, payload + size_t(size) - field, sized);
}

const Bytes kLebMax = {0xff, 0xff, 0xff, 0xff, 0x0f};                       // 2^32 - 1
const Bytes kLebOver = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f};    // above 2^32
const Bytes kLebEndless = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}; // never ends

struct FieldCase
{
    std::string name;
    std::function<bool(Bytes&)> apply;
};

inline std::vector<FieldCase> FieldCases(Kind kind)
{
    std::vector<FieldCase> c;
    auto add = [&](std::string n, std::function<bool(Bytes&)> f) { c.push_back({std::move(n), std::move(f)}); };
    add("empty file", [](Bytes& b) {
        b.clear();
        return true;
    });
    add("one byte", [](Bytes& b) {
        b.resize(1);
        return true;
    });
    add("all zero", [](Bytes& b) {
        std::fill(b.begin(), b.end(), 0);
        return true;
    });
    add("all 0xff", [](Bytes& b) {
        std::fill(b.begin(), b.end(), 0xff);
        return true;
    });
    add("first half twice", [](Bytes& b) {
        const Bytes half(b.begin(), b.begin() + std::ptrdiff_t(b.size() / 2));
        b.insert(b.begin() + std::ptrdiff_t(b.size() / 2), half.begin(), half.end());
        return true;
    });
    switch (kind) {
    case Kind::Y4M:
        for (std::string w : {"W99999", "W0", "W-5", "W", "W16384", "W4294967297"})
            add("stream " + w, [w](Bytes& b) { return Y4MToken(b, 'W', w); });
        for (std::string h : {"H99999", "H0", "H16384"})
            add("stream " + h, [h](Bytes& b) { return Y4MToken(b, 'H', h); });
        add("stream W16384 H16384", [](Bytes& b) { return Y4MToken(b, 'W', "W16384") && Y4MToken(b, 'H', "H16384"); });
        for (std::string ch : {"C420p99", "C444alpha", "C411", "Cmono16", "C", "C420p9"})
            add("stream " + ch, [ch](Bytes& b) {
                return Y4MToken(b, 'C', ch) || Splice(b, Find(b, "\n"), 0, Bytes(ch.begin(), ch.end()));
            });
        add("stream F0:0", [](Bytes& b) { return Y4MToken(b, 'F', "F0:0"); });
        add("no line feed after the stream header", [](Bytes& b) { return Splice(b, Find(b, "\n"), 1, {' '}); });
        add("stream header of 300 bytes", [](Bytes& b) { return Splice(b, Find(b, "\n"), 0, Bytes(300, ' ')); });
        add("stream header twice", [](Bytes& b) {
            const size_t end = Find(b, "\n") + 1;
            const Bytes header(b.begin(), b.begin() + std::ptrdiff_t(end));
            return Splice(b, end, 0, header);
        });
        add("stream header before the second frame", [](Bytes& b) {
            const size_t end = Find(b, "\n") + 1;
            const Bytes header(b.begin(), b.begin() + std::ptrdiff_t(end));
            const size_t second = Find(b, "FRAME", Find(b, "FRAME") + 5);
            return second != std::string::npos && Splice(b, second, 0, header);
        });
        add("frame header W99999 H99999", [](Bytes& b) {
            const size_t f = Find(b, "FRAME\n");
            return f != std::string::npos &&
                   Splice(b, f, 6, Bytes({'F', 'R', 'A', 'M', 'E', ' ', 'W', '9', '9', '9',
                                          '9', '9', ' ', 'H', '9', '9', '9', '9', '9', '\n'}));
        });
        add("frame header W8 on the second frame", [](Bytes& b) {
            const size_t f = Find(b, "FRAME\n", Find(b, "FRAME") + 5);
            return f != std::string::npos && Splice(b, f, 6, Bytes({'F', 'R', 'A', 'M', 'E', ' ', 'W', '8', '\n'}));
        });
        add("frame header without line feed", [](Bytes& b) {
            const size_t f = Find(b, "FRAME\n");
            return f != std::string::npos && Splice(b, f + 5, 1, Bytes(400, 'X'));
        });
        add("FRAME tags only", [](Bytes& b) {
            const size_t f = Find(b, "FRAME");
            if (f == std::string::npos)
                return false;
            b.resize(f);
            for (int i = 0; i < 2000; ++i)
                b.insert(b.end(), {'F', 'R', 'A', 'M', 'E', '\n'});
            return true;
        });
        break;
    case Kind::Raw:
        add("one byte short", [](Bytes& b) {
            b.pop_back();
            return true;
        });
        add("one byte over", [](Bytes& b) {
            b.push_back(0x80);
            return true;
        });
        add("Y4M signature", [](Bytes& b) {
            return Splice(b, 0, 9, Bytes({'Y', 'U', 'V', '4', 'M', 'P', 'E', 'G', '2'}));
        });
        add("Y4M signature, header W0", [](Bytes& b) {
            const std::string h = "YUV4MPEG2 W0 H17 C420\n";
            return Splice(b, 0, 0, Bytes(h.begin(), h.end()));
        });
        add("IVF signature", [](Bytes& b) {
            return Splice(b, 0, 12, Bytes({'D', 'K', 'I', 'F', 0, 0, 0x20, 0, 'A', 'V', '0', '1'}));
        });
        add("start code", [](Bytes& b) { return Splice(b, 0, 5, Bytes({0, 0, 0, 1, 0x67})); });
        break;
    case Kind::Ivf:
        add("frame size 0xffffffff", [](Bytes& b) { return Splice(b, 32, 4, {0xff, 0xff, 0xff, 0xff}); });
        add("frame size 0", [](Bytes& b) { return Splice(b, 32, 4, {0, 0, 0, 0}); });
        add("frame size one over", [](Bytes& b) {
            if (b.size() < 36)
                return false;
            ++b[32];
            return true;
        });
        add("second frame size 0xffffffff", [](Bytes& b) {
            if (b.size() < 36)
                return false;
            const size_t second = 32 + 12 + (b[32] | b[33] << 8 | b[34] << 16 | size_t(b[35]) << 24);
            return Splice(b, second, 4, {0xff, 0xff, 0xff, 0xff});
        });
        add("time base 0/0", [](Bytes& b) { return Splice(b, 16, 8, Bytes(8, 0)); });
        add("time base max, duration max", [](Bytes& b) { return Splice(b, 16, 12, Bytes(12, 0xff)); });
        add("header only", [](Bytes& b) {
            b.resize(32);
            return true;
        });
        add("header and a frame header", [](Bytes& b) {
            b.resize(44);
            return true;
        });
        add("header cut", [](Bytes& b) {
            b.resize(31);
            return true;
        });
        add("zeros after the frames", [](Bytes& b) {
            b.resize(b.size() + 12000, 0);
            return true;
        });
        add("codec VP90", [](Bytes& b) { return Splice(b, 8, 4, {'V', 'P', '9', '0'}); });
        add("header twice", [](Bytes& b) {
            const Bytes h(b.begin(), b.begin() + 32);
            return Splice(b, 32, 0, h);
        });
        break;
    case Kind::Obu:
        for (int n : {0, 1, 2}) {
            for (auto const& [what, leb] : {std::make_pair("2^32-1", kLebMax), std::make_pair("above 2^32", kLebOver),
                                            std::make_pair("unended", kLebEndless)}) {
                Bytes lebCopy = leb;
                add("OBU " + std::to_string(n) + " size " + what, [n, lebCopy](Bytes& b) {
                    size_t start = 0, field = 0;
                    return ObuAt(b, n, start, field) && Splice(b, field, LebLength(b, field), lebCopy);
                });
            }
            add("OBU " + std::to_string(n) + " without size field", [n](Bytes& b) {
                size_t start = 0, field = 0;
                if (!ObuAt(b, n, start, field))
                    return false;
                b[start] &= uint8_t(~0x02);
                return true;
            });
            add("OBU " + std::to_string(n) + " with extension byte", [n](Bytes& b) {
                size_t start = 0, field = 0;
                if (!ObuAt(b, n, start, field))
                    return false;
                b[start] |= 0x04;
                return true;
            });
        }
        add("zeros after the OBUs", [](Bytes& b) {
            b.resize(b.size() + 12000, 0);
            return true;
        });
        add("temporal delimiter with payload", [](Bytes& b) { return Splice(b, 1, 1, {0x05}); });
        add("sequence header 65536x65536", [](Bytes& b) { return Av1MaxSize(b, 65536, 65536); });
        add("sequence header 16384x16384", [](Bytes& b) { return Av1MaxSize(b, 16384, 16384); });
        add("sequence header 65536x1", [](Bytes& b) { return Av1MaxSize(b, 65536, 1); });
        add("sequence header 64x48 in 16-bit fields", [](Bytes& b) { return Av1MaxSize(b, 64, 48); });
        break;
    case Kind::AnnexB:
        for (auto const& [what, leb] : {std::make_pair("2^32-1", kLebMax), std::make_pair("above 2^32", kLebOver),
                                        std::make_pair("unended", kLebEndless)}) {
            Bytes lebCopy = leb;
            add(std::string("temporal unit size ") + what,
                [lebCopy](Bytes& b) { return Splice(b, 0, LebLength(b, 0), lebCopy); });
            add(std::string("frame unit size ") + what, [lebCopy](Bytes& b) {
                const size_t at = LebLength(b, 0);
                return Splice(b, at, LebLength(b, at), lebCopy);
            });
            add(std::string("OBU length ") + what, [lebCopy](Bytes& b) {
                const size_t at = LebLength(b, 0);
                const size_t obu = at + LebLength(b, at);
                return Splice(b, obu, LebLength(b, obu), lebCopy);
            });
        }
        add("zero sizes", [](Bytes& b) { return Splice(b, 0, 0, {0, 0, 0, 0}); });
        add("zeros after the units", [](Bytes& b) {
            b.resize(b.size() + 12000, 0);
            return true;
        });
        add("temporal unit of one zero frame unit", [](Bytes& b) { return Splice(b, 0, 0, {1, 0}); });
        break;
    case Kind::Vvc: {
        // Parameter sets of sizes and fields out of range, as a writer would put them.
        auto variant = [](std::function<void(vvctest::StreamPlan&)> change) {
            return [change](Bytes& b) {
                vvctest::StreamPlan s = vvctest::SimplePlan(5);
                change(s);
                b = vvctest::BuildStream(s);
                return true;
            };
        };
        add("SPS 8x8",
            variant([](vvctest::StreamPlan& s) { s.sps.width = s.sps.height = s.pps.width = s.pps.height = 8; }));
        add("SPS of the largest size", variant([](vvctest::StreamPlan& s) {
                s.sps.width = s.pps.width = 8192;
                s.sps.height = s.pps.height = 4320;
            }));
        add("SPS 0x0", variant([](vvctest::StreamPlan& s) { s.sps.width = s.sps.height = 0; }));
        add("SPS 2^31 wide", variant([](vvctest::StreamPlan& s) { s.sps.width = s.pps.width = 0x7ffffff8; }));
        add("PPS wider than the SPS", variant([](vvctest::StreamPlan& s) { s.pps.width = 128; }));
        add("PPS smaller than the SPS", variant([](vvctest::StreamPlan& s) { s.pps.width = 32; }));
        add("window of the whole picture", variant([](vvctest::StreamPlan& s) {
                s.sps.window = true;
                s.sps.winRight = 32;
            }));
        add("window offsets 2^31", variant([](vvctest::StreamPlan& s) {
                s.sps.window = true;
                s.sps.winLeft = s.sps.winRight = 0x40000000;
            }));
        add("PPS window 2^30 each", variant([](vvctest::StreamPlan& s) {
                s.pps.window = true;
                s.pps.winLeft = s.pps.winRight = s.pps.winTop = s.pps.winBottom = 1 << 30;
            }));
        add("chroma 4:4:4", variant([](vvctest::StreamPlan& s) { s.sps.chromaFormat = 3; }));
        add("chroma 4:0:0", variant([](vvctest::StreamPlan& s) { s.sps.chromaFormat = 0; }));
        add("bit depth 16", variant([](vvctest::StreamPlan& s) { s.sps.bitDepth = 16; }));
        add("bit depth 12", variant([](vvctest::StreamPlan& s) { s.sps.bitDepth = 12; }));
        add("bit depth 2^32 - 1", variant([](vvctest::StreamPlan& s) { s.sps.bitDepth = int(0xffffffffu + 8u); }));
        add("POC LSB of 19 bits", variant([](vvctest::StreamPlan& s) { s.sps.log2MaxPocLsb = 19; }));
        add("POC MSB cycle 2^28 - 1 over 4-bit LSBs", variant([](vvctest::StreamPlan& s) {
                s.sps.log2MaxPocLsb = 4;
                s.sps.pocMsbCycleLen = 28;
                s.pictures = {{8, 0, (1 << 28) - 1}, {0, 1, (1 << 28) - 1}, {0, 2, 5}, {0, 3}};
            }));
        add("POC MSB cycle 2^16 - 1 over 16-bit LSBs", variant([](vvctest::StreamPlan& s) {
                s.sps.log2MaxPocLsb = 16;
                s.sps.pocMsbCycleLen = 16;
                s.pictures = {{8, 0, 0xffff}, {0, 1, 0x8000}, {0, 2}};
            }));
        add("DPB of 16 pictures, reorder 15", variant([](vvctest::StreamPlan& s) {
                s.sps.maxDecPicBuffering = 16;
                s.sps.maxNumReorder = 15;
            }));
        add("DPB of 0 pictures", variant([](vvctest::StreamPlan& s) { s.sps.maxDecPicBuffering = 0; }));
        add("reorder above the DPB", variant([](vvctest::StreamPlan& s) { s.sps.maxNumReorder = 9; }));
        add("seven sub-layers", variant([](vvctest::StreamPlan& s) { s.sps.maxSubLayersMinus1 = 6; }));
        add("sub-layers field 7", variant([](vvctest::StreamPlan& s) { s.sps.maxSubLayersMinus1 = 7; }));
        add("PPS of another SPS", variant([](vvctest::StreamPlan& s) { s.pps.spsId = 3; }));
        add("pictures only CRA and RASL", variant([](vvctest::StreamPlan& s) {
                s.pictures = {{9, 0}, {11, -2}, {11, -1}, {0, 1}};
            }));
        add("POCs descending", variant([](vvctest::StreamPlan& s) {
                s.pictures = {{8, 0}, {0, 200}, {0, 100}, {0, 50}};
            }));
        add("two IDRs with pictures between", variant([](vvctest::StreamPlan& s) {
                s.pictures = {{8, 0}, {0, 2}, {0, 1}, {7, 0}, {0, 1}};
                s.sps.maxNumReorder = 1;
            }));
        add("trailing pictures only", variant([](vvctest::StreamPlan& s) { s.pictures = {{0, 1}, {0, 2}}; }));
        add("picture header NAL units, three slices", variant([](vvctest::StreamPlan& s) {
                s.phInSliceHeader = false;
                s.slicesPerPicture = 3;
            }));
        add("an SPS between the pictures", [](Bytes& b) {
            vvctest::StreamBuilder sb;
            vvctest::StreamPlan s = vvctest::SimplePlan(3);
            sb.stream(s);
            vvctest::SeqParams big;
            big.width = 128;
            sb.nal(vvctest::Nal(15, vvctest::SpsRbsp(big)));
            for (vvctest::Pic const& p : vvctest::SimpleGop(2))
                sb.picture(s, {p.type, p.poc + 3});
            b = sb.bytes();
            return true;
        });
        add("EOS in the middle", [](Bytes& b) {
            vvctest::StreamBuilder sb;
            vvctest::StreamPlan s = vvctest::SimplePlan(2);
            sb.stream(s);
            sb.nal(vvctest::Nal(21, {}));
            sb.nal(vvctest::Nal(21, {}));
            sb.picture(s, {8, 0});
            b = sb.bytes();
            return true;
        });
        add("start codes only", [](Bytes& b) {
            b.clear();
            for (int i = 0; i < 500; ++i)
                b.insert(b.end(), {0, 0, 0, 1});
            return true;
        });
        add("NAL unit of two bytes", [](Bytes& b) { return Splice(b, 4, b.size() - 4, {0x00, 0x79}); });
        break;
    }
    case Kind::H264:
    case Kind::Hevc:
    case Kind::Mjpeg:
        add("start codes only", [](Bytes& b) {
            b.clear();
            for (int i = 0; i < 500; ++i)
                b.insert(b.end(), {0, 0, 0, 1});
            return true;
        });
        add("JPEG markers only", [](Bytes& b) {
            b.clear();
            for (int i = 0; i < 500; ++i)
                b.insert(b.end(), {0xff, 0xd8, 0xff, 0xd9});
            return true;
        });
        add("second half twice", [](Bytes& b) {
            const Bytes half(b.begin() + std::ptrdiff_t(b.size() / 2), b.end());
            b.insert(b.end(), half.begin(), half.end());
            return true;
        });
        break;
    }
    return c;
}

// ---- Random damage ----------------------------------------------------------------------

// A small deterministic generator (the standard distributions differ between libraries).
class Rng
{
public:
    explicit Rng(uint32_t seed) : m_state(seed ? seed : 1) {}
    uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    // 0 .. n - 1 (0 for n 0).
    size_t below(size_t n) { return n ? size_t(next()) % n : 0; }

private:
    uint32_t m_state;
};

inline uint32_t Hash(std::string const& s)
{
    uint32_t h = 2166136261u;
    for (char ch : s)
        h = (h ^ uint8_t(ch)) * 16777619u;
    return h;
}

enum class Mutation { FlipBytes, FlipBits, InsertRun, DeleteRun, ZeroRun, DuplicateRun, InterestingWords };
constexpr int kMutationCount = 7;

// Applies one kind of damage at random places; returns its description.
inline std::string Mutate(Bytes& b, Rng& rng, Mutation kind)
{
    const size_t n = b.size();
    const size_t at = rng.below(n + 1);
    const size_t len = 1 + rng.below(std::min<size_t>(64, n / 4 + 1));
    switch (kind) {
    case Mutation::FlipBytes: {
        const size_t count = 1 + rng.below(8);
        for (size_t i = 0; i < count && n; ++i)
            b[rng.below(n)] ^= uint8_t(1 + rng.below(255));
        return std::to_string(count) + " bytes changed";
    }
    case Mutation::FlipBits: {
        const size_t count = 1 + rng.below(4);
        for (size_t i = 0; i < count && n; ++i)
            b[rng.below(n)] ^= uint8_t(1u << rng.below(8));
        return std::to_string(count) + " bits flipped";
    }
    case Mutation::InsertRun: {
        Bytes run(len);
        for (uint8_t& v : run)
            v = uint8_t(rng.next());
        b.insert(b.begin() + std::ptrdiff_t(at), run.begin(), run.end());
        return std::to_string(len) + " bytes inserted at " + std::to_string(at);
    }
    case Mutation::DeleteRun: {
        const size_t end = std::min(n, at + len);
        b.erase(b.begin() + std::ptrdiff_t(std::min(at, n)), b.begin() + std::ptrdiff_t(end));
        return "bytes " + std::to_string(at) + ".." + std::to_string(end) + " deleted";
    }
    case Mutation::ZeroRun: {
        const size_t end = std::min(n, at + len);
        std::fill(b.begin() + std::ptrdiff_t(std::min(at, n)), b.begin() + std::ptrdiff_t(end), uint8_t(0));
        return "bytes " + std::to_string(at) + ".." + std::to_string(end) + " zeroed";
    }
    case Mutation::DuplicateRun: {
        const size_t from = rng.below(n);
        const size_t end = std::min(n, from + len * 4);
        const Bytes run(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(end));
        b.insert(b.begin() + std::ptrdiff_t(at), run.begin(), run.end());
        return "bytes " + std::to_string(from) + ".." + std::to_string(end) + " repeated at " + std::to_string(at);
    }
    case Mutation::InterestingWords: {
        static const uint32_t kWords[] = {0,      1,      0x7f,       0x80,        0xff,       0x7fff,
                                          0x8000, 0xffff, 0x7fffffff, 0x80000000u, 0xffffffffu};
        const uint32_t w = kWords[rng.below(sizeof(kWords) / sizeof(kWords[0]))];
        for (int i = 0; i < 4 && at + size_t(i) < n; ++i)
            b[at + size_t(i)] = uint8_t(w >> (8 * i));
        return "word " + std::to_string(w) + " at " + std::to_string(at);
    }
    }
    return {};
}

// Cuts at the start, inside the first headers, and spread over the clip.
inline std::vector<size_t> TruncationPoints(size_t size)
{
    std::vector<size_t> p = {0, 1, 2, 3, 4, 5, 8, 9, 12, 16, 24, 31, 32, 33, 40, 44, 45, 64};
    for (int i = 1; i < 12; ++i)
        p.push_back(size * size_t(i) / 12);
    p.push_back(size - 1);
    p.erase(std::remove_if(p.begin(), p.end(), [size](size_t v) { return v >= size; }), p.end());
    std::sort(p.begin(), p.end());
    p.erase(std::unique(p.begin(), p.end()), p.end());
    return p;
}

} // namespace brokenfiles
