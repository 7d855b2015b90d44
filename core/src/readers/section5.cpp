#include "readers/section5.h"

#include <cerrno>
#include <cstring>
#include <sys/types.h>

namespace {

struct Section5State
{
    FILE* f;
    uint64_t fileSize;
};

const uint64_t kProbeSize = 1024;

} // namespace

const DemuxerDescriptor section5_demuxer = {
    static_cast<int>(sizeof(Section5State)),
    "section5",
    1024,
    section5_probe,
    section5_open,
    section5_read,
    section5_close,
    section5_seek,
};

int section5_probe(uint8_t const* data)
{
    using av1_input::ParseLeb128;
    // The first OBU is an empty temporal delimiter with a size field.
    uint8_t b = data[0];
    if ((b & 0x80) || !(b & 0x02))
        return 0;
    uint64_t pos = (b & 0x04) ? 2 : 1;
    uint64_t obuSize = 0;
    int len = ParseLeb128(data + pos, kProbeSize - pos, &obuSize);
    if (!len || obuSize != 0 || ((b >> 3) & 0xf) != 2)
        return 0;
    pos += len;

    bool seqHeader = false;
    while (pos <= kProbeSize - 1) {
        b = data[pos];
        if ((b & 0x80) || !(b & 0x02))
            return 0;
        const uint64_t headerSize = (b & 0x04) ? 2 : 1;
        if (pos + headerSize >= kProbeSize)
            return 0;
        len = ParseLeb128(data + pos + headerSize, kProbeSize - pos - headerSize, &obuSize);
        if (!len)
            return 0;
        switch ((b >> 3) & 0xf) {
        case 1: seqHeader = true; break;
        case 3:
        case 6: return seqHeader;
        case 2:
        case 4: return 0;
        default: break;
        }
        pos += headerSize + len + obuSize;
    }
    return 0;
}

namespace {

// One OBU header at the file position: 1 when read (type and total size of the OBU set, the
// position after its size field), 0 when the file ends inside it, -1 when it is invalid.
int ReadObuHeader(FILE* f, int first, int* type, uint64_t* headerBytes, uint64_t* payload)
{
    int const b = fgetc(f);
    if (b == EOF)
        return 0;
    *type = (b >> 3) & 0xf;
    if (!first && *type == 2) {
        *headerBytes = 1;
        return 1; // the caller stops before it
    }
    if (!(b & 0x02))
        return -1;
    uint64_t n = 1;
    if (b & 0x04) {
        if (fgetc(f) == EOF)
            return 0;
        ++n;
    }
    int const len = av1_input::ReadLeb128(f, payload);
    if (len <= 0)
        return len;
    *headerBytes = n + len;
    return 1;
}

} // namespace

int section5_open(void* state, char const* fileName, unsigned frameRate[2], unsigned* frameCount, unsigned timeBase[2])
{
    Section5State* c = static_cast<Section5State*>(state);
    c->f = av1_input::OpenWithSize(fileName, &c->fileSize);
    if (!c->f)
        return -1;
    frameRate[0] = 25;
    frameRate[1] = 1;
    timeBase[0] = 25;
    timeBase[1] = 1;
    // One frame per temporal delimiter; a cut trailing OBU ends the count, and so does an invalid
    // OBU after the first temporal delimiter (a damaged tail, such as zeros, leaves the units
    // before it readable, as in the other framings).
    unsigned count = 0;
    for (;;) {
        int type = 0;
        uint64_t headerBytes = 0, payload = 0;
        int const res = ReadObuHeader(c->f, 1, &type, &headerBytes, &payload);
        if (res < 0 && count > 0)
            break;
        if (res < 0) {
            fclose(c->f);
            c->f = nullptr;
            return -1;
        }
        if (!res || payload > av1_input::BytesLeft(c->f, c->fileSize) ||
            fseeko(c->f, static_cast<off_t>(payload), SEEK_CUR) != 0)
            break;
        if (type == 2)
            ++count;
    }
    *frameCount = count;
    if (fseeko(c->f, 0, SEEK_SET) != 0) {
        fclose(c->f);
        c->f = nullptr;
        return -1;
    }
    return 0;
}

int section5_read(void* state, Dav1dData* data)
{
    Section5State* c = static_cast<Section5State*>(state);
    const off_t start = ftello(c->f);
    if (start < 0)
        return -1;
    // Walk the OBUs of one temporal unit. Every size is checked against the bytes that are left, so
    // the unit never claims more than the file holds; a cut trailing OBU is left out of the unit.
    uint64_t total = 0;
    for (int first = 1;; first = 0) {
        int type = 0;
        uint64_t headerBytes = 0, payload = 0;
        int const res = ReadObuHeader(c->f, first, &type, &headerBytes, &payload);
        if (res < 0 && first)
            return -1;
        if (res <= 0)
            break; // an invalid OBU after the unit's first is left out like a cut one
        if (first && type != 2)
            return -1;
        if (!first && type == 2)
            break;
        if (payload > av1_input::BytesLeft(c->f, c->fileSize))
            break;
        if (fseeko(c->f, static_cast<off_t>(payload), SEEK_CUR) != 0)
            return -1;
        total += headerBytes + payload;
    }
    if (!total || fseeko(c->f, start, SEEK_SET) != 0)
        return -1;
    if (av1_input::ReadData(c->f, total, data) < 0)
        return -1;
    data->m.offset = static_cast<size_t>(start);
    return 0;
}

void section5_close(void* state)
{
    Section5State* c = static_cast<Section5State*>(state);
    if (c->f)
        fclose(c->f);
    c->f = nullptr;
}

int section5_seek(void* state, uint64_t offset)
{
    return av1_input::SeekTo(static_cast<Section5State*>(state)->f, offset);
}
