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

} // namespace

Md5::Md5() : m_state{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, m_buffer{} {}

void Md5::block(uint8_t const* p)
{
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t(p[4 * i]) | uint32_t(p[4 * i + 1]) << 8 | uint32_t(p[4 * i + 2]) << 16 |
               uint32_t(p[4 * i + 3]) << 24;
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    // One step: the round's function f of b, c, d, then the rotation of the state words. The four
    // rounds are separate loops so that each one's function and message order is fixed.
    auto step = [&](int i, uint32_t f, int g, int shift) {
        const uint32_t next = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kMd5Sine[i] + m[g], shift);
        a = next;
    };
    for (int i = 0; i < 16; ++i)
        step(i, (b & c) | (~b & d), i, kMd5Shift[i & 3]);
    for (int i = 16; i < 32; ++i)
        step(i, (d & b) | (~d & c), (5 * i + 1) & 15, kMd5Shift[4 + (i & 3)]);
    for (int i = 32; i < 48; ++i)
        step(i, b ^ c ^ d, (3 * i + 5) & 15, kMd5Shift[8 + (i & 3)]);
    for (int i = 48; i < 64; ++i)
        step(i, c ^ (b | ~d), (7 * i) & 15, kMd5Shift[12 + (i & 3)]);
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
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

PlaneHash ComputePlaneHash(PictureHashType type, PlaneView const& plane, int bitDepth)
{
    PlaneHash out;
    bool const twoBytes = bitDepth > 8;
    if (!plane.samples || plane.width <= 0 || plane.height <= 0)
        return out;
    switch (type) {
    case PictureHashType::MD5: {
        Md5 md5;
        std::vector<uint8_t> row(size_t(plane.width) * (twoBytes ? 2 : 1));
        for (int y = 0; y < plane.height; ++y) {
            uint16_t const* s = plane.samples + ptrdiff_t(y) * plane.stride;
            if (twoBytes) {
                for (int x = 0; x < plane.width; ++x) {
                    row[size_t(2 * x)] = uint8_t(s[x] & 0xFF);
                    row[size_t(2 * x + 1)] = uint8_t(s[x] >> 8);
                }
            } else {
                for (int x = 0; x < plane.width; ++x)
                    row[size_t(x)] = uint8_t(s[x]);
            }
            md5.update(row.data(), row.size());
        }
        out.md5 = md5.finish();
        break;
    }
    case PictureHashType::CRC: {
        // CRC-16 with polynomial 0x1021 from 0xFFFF over the bytes, MSB first, then 16 zero bits.
        uint32_t crc = 0xFFFF;
        auto feed = [&crc](uint32_t byte) {
            for (int bit = 7; bit >= 0; --bit) {
                const uint32_t msb = (crc >> 15) & 1;
                crc = (((crc << 1) + ((byte >> bit) & 1)) & 0xFFFF) ^ (msb * 0x1021);
            }
        };
        for (int y = 0; y < plane.height; ++y) {
            uint16_t const* s = plane.samples + ptrdiff_t(y) * plane.stride;
            for (int x = 0; x < plane.width; ++x) {
                feed(s[x] & 0xFF);
                if (twoBytes)
                    feed(s[x] >> 8);
            }
        }
        feed(0);
        feed(0);
        out.value = crc;
        break;
    }
    case PictureHashType::CHECKSUM: {
        uint32_t sum = 0;
        for (int y = 0; y < plane.height; ++y) {
            uint16_t const* s = plane.samples + ptrdiff_t(y) * plane.stride;
            for (int x = 0; x < plane.width; ++x) {
                const uint32_t mask = uint32_t((x & 0xFF) ^ (y & 0xFF) ^ (x >> 8) ^ (y >> 8));
                sum += (s[x] & 0xFFu) ^ mask;
                if (twoBytes)
                    sum += (uint32_t(s[x]) >> 8) ^ mask;
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
    // The planes are hashed in parallel; the first that differs is answered.
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
