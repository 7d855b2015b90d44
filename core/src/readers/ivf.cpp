#include "readers/ivf.h"

#include <cerrno>
#include <cstring>
#include <sys/types.h>

namespace {

struct IvfState
{
    FILE* f;
    uint64_t fileSize;
};

int const kHeaderSize = 32;
int const kFrameHeaderSize = 12;

uint32_t Rl32(uint8_t const* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

int64_t Rl64(uint8_t const* p)
{
    return static_cast<int64_t>(static_cast<uint64_t>(Rl32(p)) | (static_cast<uint64_t>(Rl32(p + 4)) << 32));
}

uint64_t Gcd(uint64_t a, uint64_t b)
{
    while (b) {
        const uint64_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}

} // namespace

const DemuxerDescriptor ivf_demuxer = {
    static_cast<int>(sizeof(IvfState)), "ivf", 12, ivf_probe, ivf_open, ivf_read, ivf_close, ivf_seek,
};

int ivf_probe(uint8_t const* data)
{
    static const uint8_t kMagic[8] = {'D', 'K', 'I', 'F', 0, 0, 0x20, 0};
    return !memcmp(data, kMagic, 8) && !memcmp(data + 8, "AV01", 4);
}

int ivf_open(void* state, char const* fileName, unsigned frameRate[2], unsigned* frameCount, unsigned timeBase[2])
{
    IvfState* c = static_cast<IvfState*>(state);
    c->f = av1_input::OpenWithSize(fileName, &c->fileSize);
    if (!c->f)
        return -1;
    uint8_t hdr[kHeaderSize];
    if (fread(hdr, kHeaderSize, 1, c->f) != 1) {
        fprintf(stderr, "Failed to read stream header: %s\n", strerror(errno));
        fclose(c->f);
        c->f = nullptr;
        return -1;
    }
    if (memcmp(hdr, "DKIF", 4)) {
        fprintf(stderr, "%s is not an IVF file [tag=%.4s|0x%02x%02x%02x%02x]\n", fileName, reinterpret_cast<char*>(hdr),
                hdr[0], hdr[1], hdr[2], hdr[3]);
        fclose(c->f);
        c->f = nullptr;
        return -1;
    }
    if (memcmp(hdr + 8, "AV01", 4)) {
        fprintf(stderr, "%s is not an AV1 file [tag=%.4s|0x%02x%02x%02x%02x]\n", fileName,
                reinterpret_cast<char*>(hdr + 8), hdr[8], hdr[9], hdr[10], hdr[11]);
        fclose(c->f);
        c->f = nullptr;
        return -1;
    }
    timeBase[0] = Rl32(hdr + 16);
    timeBase[1] = Rl32(hdr + 20);
    const uint32_t duration = Rl32(hdr + 24);

    // Count the frames whose payload lies completely in the file; a cut trailing frame is not one.
    // An empty frame ends the count as it ends reading: a tail of zeros (a file preallocated or
    // cut short while being written) would otherwise count as one frame per 12 bytes, slowly.
    uint64_t pos = kHeaderSize;
    unsigned count = 0;
    uint8_t sizeBytes[4];
    while (c->fileSize - pos >= kFrameHeaderSize && fseeko(c->f, static_cast<off_t>(pos), SEEK_SET) == 0 &&
           fread(sizeBytes, 4, 1, c->f) == 1) {
        const uint64_t sz = Rl32(sizeBytes);
        if (!sz || sz > c->fileSize - pos - kFrameHeaderSize)
            break;
        pos += kFrameHeaderSize + sz;
        ++count;
    }
    *frameCount = count;

    uint64_t num = static_cast<uint64_t>(timeBase[0]) * count;
    uint64_t den = static_cast<uint64_t>(timeBase[1]) * duration;
    frameRate[0] = frameRate[1] = 0;
    if (num && den) {
        const uint64_t g = Gcd(num, den);
        num /= g;
        den /= g;
        while (num > 0xffffffffull || den > 0xffffffffull) {
            num >>= 1;
            den >>= 1;
        }
        if (num && den) {
            frameRate[0] = static_cast<unsigned>(num);
            frameRate[1] = static_cast<unsigned>(den);
        }
    }

    if (fseeko(c->f, kHeaderSize, SEEK_SET) != 0) {
        fclose(c->f);
        c->f = nullptr;
        return -1;
    }
    return 0;
}

int ivf_read(void* state, Dav1dData* data)
{
    IvfState* c = static_cast<IvfState*>(state);
    const off_t off = ftello(c->f);
    uint8_t hdr[kFrameHeaderSize];
    if (off < 0 || fread(hdr, kFrameHeaderSize, 1, c->f) != 1)
        return -1;
    const uint64_t sz = Rl32(hdr);
    // The size is taken from the file: it must be backed by the bytes that are left before anything
    // is allocated. A cut or empty trailing frame ends the stream.
    if (!sz || sz > av1_input::BytesLeft(c->f, c->fileSize))
        return -1;
    if (av1_input::ReadData(c->f, sz, data) < 0)
        return -1;
    data->m.offset = off;
    data->m.timestamp = Rl64(hdr + 4);
    return 0;
}

void ivf_close(void* state)
{
    IvfState* c = static_cast<IvfState*>(state);
    if (c->f)
        fclose(c->f);
    c->f = nullptr;
}

int ivf_seek(void* state, uint64_t offset)
{
    return av1_input::SeekTo(static_cast<IvfState*>(state)->f, offset);
}
