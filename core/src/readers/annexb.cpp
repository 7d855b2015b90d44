#include "readers/annexb.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/types.h>

namespace {

struct AnnexbState
{
    FILE* f;
    uint64_t temporalUnitLeft; // bytes left in the current temporal unit
    uint64_t frameUnitLeft;    // bytes left in the current frame unit
    uint64_t fileSize;
    uint64_t unitStart; // offset of the current temporal unit
};

const uint64_t kProbeSize = 1024;

struct ObuHeader
{
    int type;
    int headerSize; // 1, or 2 with the extension byte
    bool hasSize;
};

ObuHeader ParseHeader(uint8_t b)
{
    return ObuHeader{(b >> 3) & 0xf, (b & 0x04) ? 2 : 1, (b & 0x02) != 0};
}

} // namespace

const DemuxerDescriptor annexb_demuxer = {
    static_cast<int>(sizeof(AnnexbState)), "annexb", 1024, annexb_probe, annexb_open, annexb_read, annexb_close, annexb_seek,
};

int annexb_probe(uint8_t const* data)
{
    using av1_input::ParseLeb128;
    uint64_t tuSize = 0, fuSize = 0, obuLength = 0;
    uint64_t pos = 0;
    int len = ParseLeb128(data, kProbeSize, &tuSize);
    if (!len)
        return 0;
    pos += len;
    len = ParseLeb128(data + pos, kProbeSize - pos, &fuSize);
    if (!len || fuSize + len > tuSize)
        return 0;
    pos += len;
    len = ParseLeb128(data + pos, kProbeSize - pos, &obuLength);
    if (!len || obuLength + len >= fuSize)
        return 0;
    pos += len;

    // The first OBU is an empty temporal delimiter.
    uint64_t obuBytes = std::min(obuLength, kProbeSize - pos);
    if (!obuBytes || (data[pos] & 0x80))
        return 0;
    ObuHeader h = ParseHeader(data[pos]);
    if (static_cast<uint64_t>(h.headerSize) > obuBytes)
        return 0;
    uint64_t payload = obuBytes - h.headerSize;
    if (h.hasSize && !ParseLeb128(data + pos + h.headerSize, obuBytes - h.headerSize, &payload))
        return 0;
    if (payload != 0 || h.type != 2)
        return 0;
    pos += obuLength;
    if (pos > kProbeSize - 1)
        return 0;
    uint64_t fuLeft = fuSize - (obuLength + len);

    bool seqHeader = false;
    for (;;) {
        len = ParseLeb128(data + pos, kProbeSize - pos, &obuLength);
        if (!len || obuLength + len > fuLeft)
            return 0;
        pos += len;
        obuBytes = std::min(obuLength, kProbeSize - pos);
        if (obuBytes < 1 || (data[pos] & 0x80))
            return 0;
        h = ParseHeader(data[pos]);
        if (h.hasSize) {
            uint64_t sz = 0;
            if (static_cast<uint64_t>(h.headerSize) > obuBytes ||
                !ParseLeb128(data + pos + h.headerSize, obuBytes - h.headerSize, &sz))
                return 0;
        }
        switch (h.type) {
        case 1: seqHeader = true; break;
        case 3:
        case 6: return seqHeader;
        case 2:
        case 4: return 0;
        default: break;
        }
        fuLeft -= obuLength + len;
        if (!fuLeft)
            return 0;
        pos += obuLength;
        if (pos > kProbeSize - 1)
            return 0;
    }
}

int annexb_open(void* state, char const* fileName, unsigned frameRate[2], unsigned* frameCount, unsigned timeBase[2])
{
    AnnexbState* c = static_cast<AnnexbState*>(state);
    c->f = av1_input::OpenWithSize(fileName, &c->fileSize);
    if (!c->f)
        return -1;
    c->temporalUnitLeft = c->frameUnitLeft = 0;
    frameRate[0] = 25;
    frameRate[1] = 1;
    timeBase[0] = 25;
    timeBase[1] = 1;
    // Count the temporal units that lie completely in the file. An empty one ends the count as it
    // ends reading: a tail of zeros would otherwise count one unit per byte, slowly.
    unsigned count = 0;
    uint64_t size = 0;
    while (av1_input::ReadLeb128(c->f, &size) > 0 && size > 0 && size <= av1_input::BytesLeft(c->f, c->fileSize) &&
           fseeko(c->f, static_cast<off_t>(size), SEEK_CUR) == 0)
        ++count;
    *frameCount = count;
    if (fseeko(c->f, 0, SEEK_SET) != 0) {
        fclose(c->f);
        c->f = nullptr;
        return -1;
    }
    return 0;
}

int annexb_read(void* state, Dav1dData* data)
{
    AnnexbState* c = static_cast<AnnexbState*>(state);
    uint64_t value = 0;
    int len = 0;
    if (!c->temporalUnitLeft) {
        const off_t start = ftello(c->f);
        if (start < 0)
            return -1;
        c->unitStart = static_cast<uint64_t>(start);
        if (av1_input::ReadLeb128(c->f, &value) <= 0)
            return -1;
        c->temporalUnitLeft = value;
    }
    if (!c->frameUnitLeft) {
        len = av1_input::ReadLeb128(c->f, &value);
        if (len <= 0 || value + len > c->temporalUnitLeft)
            return -1;
        c->frameUnitLeft = value;
        c->temporalUnitLeft -= len;
    }
    uint64_t obuLength = 0;
    len = av1_input::ReadLeb128(c->f, &obuLength);
    if (len <= 0 || obuLength + len > c->frameUnitLeft)
        return -1;
    // The length comes from the file: it must be backed by the bytes that are left before anything
    // is allocated. A cut trailing OBU ends the stream.
    if (!obuLength || obuLength > av1_input::BytesLeft(c->f, c->fileSize))
        return -1;
    if (av1_input::ReadData(c->f, obuLength, data) < 0)
        return -1;
    c->temporalUnitLeft -= obuLength + len;
    c->frameUnitLeft -= obuLength + len;
    data->m.offset = static_cast<size_t>(c->unitStart);
    return 0;
}

void annexb_close(void* state)
{
    AnnexbState* c = static_cast<AnnexbState*>(state);
    if (c->f)
        fclose(c->f);
    c->f = nullptr;
}

int annexb_seek(void* state, uint64_t offset)
{
    AnnexbState* c = static_cast<AnnexbState*>(state);
    c->temporalUnitLeft = c->frameUnitLeft = 0;
    return av1_input::SeekTo(c->f, offset);
}
