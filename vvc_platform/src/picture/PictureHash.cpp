#include "picture/PictureHash.h"

#include "util/WorkerPool.h"

#include <algorithm>
#include <cstring>

namespace {

// clang-format off
constexpr uint32_t kMd5Sine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
// clang-format on
constexpr int kMd5Shift[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

inline uint32_t Rotl(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

// The 64 steps of the block transform for N independent messages at once. One message's steps
// form a chain of dependent operations that leaves most of the processor's units idle; the steps
// of different messages do not depend on each other, so interleaved they run side by side.
// Each step adds to `a` first what does not depend on `b` (constant, message word and, in the
// second round, the part of the function that needs only c and d), so that the chain from one
// step's `b` to the next is as short as it can be.
template <int N>
void Md5Transform(uint32_t* const state[], uint8_t const* const block[])
{
    uint32_t a[N], b[N], c[N], d[N], w[N][16];
    for (int n = 0; n < N; ++n) {
        a[n] = state[n][0];
        b[n] = state[n][1];
        c[n] = state[n][2];
        d[n] = state[n][3];
        for (int g = 0; g < 16; ++g) {
            uint8_t const* p = block[n] + 4 * g;
            w[n][g] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        }
    }
    // One step: the sum of the parts without b, the part with b, then the rotation of the state.
    auto step = [&](int n, uint32_t early, uint32_t late, int shift) {
        const uint32_t next = d[n];
        d[n] = c[n];
        c[n] = b[n];
        b[n] = b[n] + Rotl(early + late, shift);
        a[n] = next;
    };
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i)
        for (int n = 0; n < N; ++n)
            step(n, a[n] + kMd5Sine[i] + w[n][i], d[n] ^ (b[n] & (c[n] ^ d[n])), kMd5Shift[i & 3]);
    // (b & d) | (c & ~d) as a sum: the two have no bit in common.
#pragma GCC unroll 16
    for (int i = 16; i < 32; ++i)
        for (int n = 0; n < N; ++n)
            step(n, a[n] + kMd5Sine[i] + w[n][(5 * i + 1) & 15] + (c[n] & ~d[n]), b[n] & d[n],
                 kMd5Shift[4 + (i & 3)]);
#pragma GCC unroll 16
    for (int i = 32; i < 48; ++i)
        for (int n = 0; n < N; ++n)
            step(n, a[n] + kMd5Sine[i] + w[n][(3 * i + 5) & 15], b[n] ^ (c[n] ^ d[n]), kMd5Shift[8 + (i & 3)]);
#pragma GCC unroll 16
    for (int i = 48; i < 64; ++i)
        for (int n = 0; n < N; ++n)
            step(n, a[n] + kMd5Sine[i] + w[n][(7 * i) & 15], c[n] ^ (b[n] | ~d[n]), kMd5Shift[12 + (i & 3)]);
    for (int n = 0; n < N; ++n) {
        state[n][0] += a[n];
        state[n][1] += b[n];
        state[n][2] += c[n];
        state[n][3] += d[n];
    }
}

} // namespace

Md5::Md5() : m_state{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, m_buffer{} {}

void Md5::block(uint8_t const* p)
{
    uint32_t* const state[1] = {m_state};
    Md5Transform<1>(state, &p);
}

void Md5::updateInStep(Md5* const md5[], uint8_t const* const blocks[], int count)
{
    uint32_t* state[kMaxInStep] = {};
    for (int n = 0; n < count; ++n) {
        state[n] = md5[n]->m_state;
        md5[n]->m_length += 64;
    }
    switch (count) {
    case 1:
        Md5Transform<1>(state, blocks);
        break;
    case 2:
        Md5Transform<2>(state, blocks);
        break;
    case 3:
        Md5Transform<3>(state, blocks);
        break;
    default:
        break;
    }
}

void Md5::update(uint8_t const* data, size_t size)
{
    m_length += size;
    while (size > 0) {
        // Whole blocks straight from the input.
        if (m_fill == 0 && size >= 64) {
            block(data);
            data += 64;
            size -= 64;
            continue;
        }
        const size_t take = std::min(size, size_t(64) - m_fill);
        std::memcpy(m_buffer + m_fill, data, take);
        m_fill += take;
        data += take;
        size -= take;
        if (m_fill == 64) {
            block(m_buffer);
            m_fill = 0;
        }
    }
}

std::array<uint8_t, 16> Md5::finish()
{
    const uint64_t bits = m_length * 8;
    const uint8_t one = 0x80, zero = 0;
    update(&one, 1);
    while (m_fill != 56)
        update(&zero, 1);
    uint8_t len[8];
    for (int i = 0; i < 8; ++i)
        len[i] = uint8_t(bits >> (8 * i));
    update(len, 8);
    std::array<uint8_t, 16> out;
    for (int i = 0; i < 16; ++i)
        out[size_t(i)] = uint8_t(m_state[i / 4] >> (8 * (i % 4)));
    return out;
}

std::vector<SeiMessage> ParseSeiMessages(InputBitstream& bs)
{
    std::vector<SeiMessage> messages;
    VVC_CHECK(!bs.isByteAligned(), "SEI messages must start byte aligned");
    do {
        uint64_t values[2] = {};
        for (uint64_t& value : values) {
            uint32_t byte = 0;
            while ((byte = bs.read(8)) == 0xFF) {
                value += 255;
                VVC_CHECK(value > bs.bitsLeft(), "SEI message header runs past the unit");
            }
            value += byte;
        }
        const uint64_t size = values[1];
        VVC_CHECK(size * 8 > bs.bitsLeft(), "SEI payload of " << size << " bytes runs past the unit");
        SeiMessage m;
        m.payloadType = int(values[0]);
        const uint64_t start = bs.bitPosition() / 8;
        auto const& fifo = bs.getFifo();
        m.payload.assign(fifo.begin() + long(start), fifo.begin() + long(start + size));
        bs.skip(size * 8);
        messages.push_back(std::move(m));
    } while (bs.bitsLeft() > 8);
    // rbsp_trailing_bits: the stop bit, then zeros.
    int const rest = int(bs.bitsLeft());
    VVC_CHECK(rest == 0 || bs.read(rest) != (1u << (rest - 1)), "SEI unit without its stop bit");
    return messages;
}

bool ParsePictureHash(std::vector<uint8_t> const& payload, PictureHash& hash)
{
    if (payload.size() < 2)
        return false;
    int const type = payload[0];
    if (type > 2)
        return false;
    hash = PictureHash();
    hash.type = PictureHashType(type);
    hash.numPlanes = (payload[1] & 0x80) ? 1 : 3; // dph_sei_single_component_flag
    const size_t per = type == 0 ? 16 : type == 1 ? 2 : 4;
    if (payload.size() < 2 + per * size_t(hash.numPlanes))
        return false;
    for (int c = 0; c < hash.numPlanes; ++c) {
        uint8_t const* p = payload.data() + 2 + per * size_t(c);
        if (type == 0)
            std::memcpy(hash.planes[c].md5.data(), p, 16);
        else
            for (size_t i = 0; i < per; ++i)
                hash.planes[c].value = (hash.planes[c].value << 8) | p[i];
    }
    return true;
}

namespace {

// The byte string of a plane's samples as the hash covers it. In runs: whole rows straight from
// the picture where they hold the bytes as they are (two bytes per sample, low byte first, on a
// little-endian machine) and each row is a whole number of 64-byte blocks; else converted, rows
// one after the other, into runs of kRun bytes, so that only the last run ends inside a block.
// In 64-byte blocks for the MD5: from the runs, a block that spans two runs copied together.
class PlaneBytes
{
public:
    static constexpr size_t kRun = 16384;

    PlaneBytes(PlaneView const& plane, bool twoBytes) : m_plane(plane), m_twoBytes(twoBytes)
    {
        uint16_t const probe = 1;
        uint8_t first = 0;
        std::memcpy(&first, &probe, 1);
        size_t const rowBytes = size_t(plane.width) * (twoBytes ? 2 : 1);
        m_direct = twoBytes && first == 1 && rowBytes % 64 == 0;
        if (!m_direct)
            m_run.resize(kRun);
    }

    // The next run of bytes; false after the last.
    bool nextRun(uint8_t const*& data, size_t& size)
    {
        if (m_y >= m_plane.height)
            return false;
        if (m_direct) {
            data = reinterpret_cast<uint8_t const*>(m_plane.samples + ptrdiff_t(m_y++) * m_plane.stride);
            size = 2 * size_t(m_plane.width);
            return true;
        }
        size_t const per = m_twoBytes ? 2 : 1;
        size_t fill = 0;
        while (fill < kRun && m_y < m_plane.height) {
            uint16_t const* s = m_plane.samples + ptrdiff_t(m_y) * m_plane.stride + m_x;
            size_t const n = std::min(size_t(m_plane.width - m_x), (kRun - fill) / per);
            uint8_t* out = m_run.data() + fill;
            if (m_twoBytes)
                for (size_t x = 0; x < n; ++x) {
                    out[2 * x] = uint8_t(s[x]);
                    out[2 * x + 1] = uint8_t(s[x] >> 8);
                }
            else
                for (size_t x = 0; x < n; ++x)
                    out[x] = uint8_t(s[x]);
            fill += n * per;
            m_x += int(n);
            if (m_x == m_plane.width) {
                m_x = 0;
                ++m_y;
            }
        }
        data = m_run.data();
        size = fill;
        return true;
    }

    // The next whole block; null when fewer than 64 bytes are left (then in tail()).
    uint8_t const* next()
    {
        for (;;) {
            if (m_fill == 0 && m_left >= 64) {
                uint8_t const* p = m_at;
                m_at += 64;
                m_left -= 64;
                return p;
            }
            if (m_left == 0 && !nextRun(m_at, m_left))
                return nullptr;
            size_t const take = std::min(size_t(64) - m_fill, m_left);
            std::memcpy(m_block + m_fill, m_at, take);
            m_fill += take;
            m_at += take;
            m_left -= take;
            if (m_fill == 64) {
                m_fill = 0;
                return m_block;
            }
        }
    }
    uint8_t const* tail() const { return m_block; }
    size_t tailSize() const { return m_fill; }

private:
    PlaneView m_plane;
    bool m_twoBytes;
    bool m_direct = false;
    std::vector<uint8_t> m_run;
    int m_y = 0;
    int m_x = 0;
    uint8_t const* m_at = nullptr;
    size_t m_left = 0;
    uint8_t m_block[64] = {};
    size_t m_fill = 0;
};

// The MD5 of up to three planes, their blocks hashed in step while more than one has blocks left.
void Md5OfPlanes(PlaneView const planes[], int const bitDepth[], int count, PlaneHash out[])
{
    std::vector<PlaneBytes> bytes;
    bytes.reserve(size_t(count));
    Md5 md5[Md5::kMaxInStep];
    int active[Md5::kMaxInStep] = {};
    int numActive = 0;
    for (int c = 0; c < count && c < Md5::kMaxInStep; ++c) {
        bytes.emplace_back(planes[c], bitDepth[c] > 8);
        active[numActive++] = c;
    }
    while (numActive > 0) {
        Md5* streams[Md5::kMaxInStep] = {};
        uint8_t const* blocks[Md5::kMaxInStep] = {};
        int n = 0;
        for (int k = 0; k < numActive;) {
            int const c = active[k];
            if (uint8_t const* block = bytes[size_t(c)].next()) {
                streams[n] = &md5[c];
                blocks[n++] = block;
                ++k;
                continue;
            }
            md5[c].update(bytes[size_t(c)].tail(), bytes[size_t(c)].tailSize());
            out[c].md5 = md5[c].finish();
            active[k] = active[--numActive];
        }
        Md5::updateInStep(streams, blocks, n);
    }
}

// CRC-16 with polynomial 0x1021, bits MSB first. Feeding the bytes into a register that starts
// at 0xFFFF, then 16 zero bits, gives the same as the table-driven form without the zero bits
// started at 0x1D0F (0xFFFF moved on by those 16 bits). Table j holds the remainder of byte i
// followed by j zero bytes, so that eight bytes take eight independent look-ups.
struct Crc16Tables
{
    uint16_t t[8][256];
};

constexpr Crc16Tables MakeCrc16Tables()
{
    Crc16Tables r{};
    for (int i = 0; i < 256; ++i) {
        uint32_t crc = uint32_t(i) << 8;
        for (int k = 0; k < 8; ++k)
            crc = ((crc << 1) ^ ((crc & 0x8000) ? 0x1021 : 0)) & 0xFFFF;
        r.t[0][i] = uint16_t(crc);
    }
    for (int j = 1; j < 8; ++j)
        for (int i = 0; i < 256; ++i) {
            uint32_t const prev = r.t[j - 1][i];
            r.t[j][i] = uint16_t(((prev << 8) ^ r.t[0][prev >> 8]) & 0xFFFF);
        }
    return r;
}

constexpr Crc16Tables kCrc16 = MakeCrc16Tables();

uint32_t Crc16Update(uint32_t crc, uint8_t const* p, size_t size)
{
    auto const& t = kCrc16.t;
    for (; size >= 8; p += 8, size -= 8) {
        crc ^= uint32_t(p[0]) << 8 | p[1];
        crc = t[7][crc >> 8] ^ t[6][crc & 0xFF] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^
              t[0][p[7]];
    }
    for (; size > 0; ++p, --size)
        crc = ((crc << 8) & 0xFFFF) ^ t[0][(crc >> 8) ^ *p];
    return crc;
}

} // namespace

PlaneHash ComputePlaneHash(PictureHashType type, PlaneView const& plane, int bitDepth)
{
    PlaneHash out;
    bool const twoBytes = bitDepth > 8;
    if (!plane.samples || plane.width <= 0 || plane.height <= 0)
        return out;
    switch (type) {
    case PictureHashType::MD5:
        Md5OfPlanes(&plane, &bitDepth, 1, &out);
        break;
    case PictureHashType::CRC: {
        uint32_t crc = 0x1D0F;
        PlaneBytes bytes(plane, twoBytes);
        uint8_t const* run = nullptr;
        size_t size = 0;
        while (bytes.nextRun(run, size))
            crc = Crc16Update(crc, run, size);
        out.value = crc;
        break;
    }
    case PictureHashType::CHECKSUM: {
        // The mask of a position is (x & 0xFF) ^ (x >> 8) ^ (y & 0xFF) ^ (y >> 8): in each run
        // of 256 samples of a row all but the first term are the same.
        uint32_t sum = 0;
        for (int y = 0; y < plane.height; ++y) {
            uint16_t const* s = plane.samples + ptrdiff_t(y) * plane.stride;
            for (int x0 = 0; x0 < plane.width; x0 += 256) {
                uint32_t const high = uint32_t((x0 >> 8) ^ (y & 0xFF) ^ (y >> 8));
                int const n = std::min(256, plane.width - x0);
                uint16_t const* r = s + x0;
                uint32_t part = 0;
                if (twoBytes)
                    for (int i = 0; i < n; ++i) {
                        uint32_t const mask = uint32_t(i) ^ high;
                        part += ((r[i] & 0xFFu) ^ mask) + ((uint32_t(r[i]) >> 8) ^ mask);
                    }
                else
                    for (int i = 0; i < n; ++i)
                        part += (r[i] & 0xFFu) ^ uint32_t(i) ^ high;
                sum += part;
            }
        }
        out.value = sum;
        break;
    }
    }
    return out;
}

int CheckPictureHash(PictureHash const& hash, PlaneView const planes[3], int const bitDepth[3])
{
    // MD5 of the planes together while all have their samples.
    if (hash.type == PictureHashType::MD5) {
        int const count = std::min(hash.numPlanes, 3);
        bool usable = true;
        for (int c = 0; c < count; ++c)
            usable = usable && planes[c].samples && planes[c].width > 0 && planes[c].height > 0;
        if (usable) {
            PlaneHash computed[3];
            Md5OfPlanes(planes, bitDepth, count, computed);
            for (int c = 0; c < count; ++c)
                if (computed[c] != hash.planes[c])
                    return c;
            return -1;
        }
    }
    // Otherwise each plane on its own, in parallel; the first that differs is answered.
    int const n = std::max(0, std::min(hash.numPlanes, 3));
    bool differs[3] = {};
    vvcutil::ParallelFor(n, [&](int c) {
        differs[c] = !planes[c].samples || ComputePlaneHash(hash.type, planes[c], bitDepth[c]) != hash.planes[c];
    });
    for (int c = 0; c < n; ++c)
        if (differs[c])
            return c;
    return -1;
}
