#include <cstdint>
#include "readers/input.h"

#include "readers/annexb.h"
#include "readers/ivf.h"
#include "readers/section5.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>

namespace av1_input {

int ParseLeb128(uint8_t const* buf, size_t len, uint64_t* value)
{
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) {
        if (i >= len)
            return 0;
        const uint8_t b = buf[i];
        v |= static_cast<uint64_t>(b & 0x7f) << (7 * i);
        if (!(b & 0x80)) {
            if (v > 0xffffffffull)
                return 0;
            *value = v;
            return static_cast<int>(i + 1);
        }
    }
    return 0; // the 8th byte still had its continuation bit
}

int ReadLeb128(FILE* f, uint64_t* value)
{
    uint8_t buf[8];
    for (size_t i = 0; i < 8; ++i) {
        int const c = fgetc(f);
        if (c == EOF)
            return 0;
        buf[i] = static_cast<uint8_t>(c);
        if (!(c & 0x80)) {
            int const len = ParseLeb128(buf, i + 1, value);
            return len ? len : -1;
        }
    }
    return -1;
}

FILE* OpenWithSize(char const* fileName, uint64_t* size)
{
    FILE* f = fopen(fileName, "rb");
    if (!f) {
        fprintf(stderr, "Failed to open %s: %s\n", fileName, strerror(errno));
        return nullptr;
    }
    off_t end = -1;
    if (fseeko(f, 0, SEEK_END) == 0)
        end = ftello(f);
    if (end < 0 || fseeko(f, 0, SEEK_SET) != 0) {
        fprintf(stderr, "Failed to open %s: %s\n", fileName, strerror(errno));
        fclose(f);
        return nullptr;
    }
    *size = static_cast<uint64_t>(end);
    return f;
}

uint64_t BytesLeft(FILE* f, uint64_t size)
{
    const off_t pos = ftello(f);
    if (pos < 0 || static_cast<uint64_t>(pos) >= size)
        return 0;
    return size - static_cast<uint64_t>(pos);
}

int SeekTo(FILE* f, uint64_t offset)
{
    return offset <= static_cast<uint64_t>(INT64_MAX) && fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 ? 0 : -1;
}

int ReadData(FILE* f, uint64_t size, Dav1dData* data)
{
    uint8_t* ptr = dav1d_data_create(data, static_cast<size_t>(size));
    if (!ptr)
        return -1;
    if (fread(ptr, static_cast<size_t>(size), 1, f) != 1) {
        fprintf(stderr, "Failed to read frame data: %s\n", strerror(errno));
        dav1d_data_unref(data);
        return -1;
    }
    return 0;
}

} // namespace av1_input

namespace {

// Answer of input_open when no reader takes the file.
int const kNoReader = -123;

DemuxerDescriptor const* const kDemuxers[] = {&ivf_demuxer, &annexb_demuxer, &section5_demuxer, nullptr};

int NegErrno()
{
    return errno ? -errno : -EIO;
}

} // namespace

int input_open(DemuxerInstance** out, char const* name, char const* fileName, unsigned frameRate[2],
               unsigned* frameCount, unsigned timeBase[2])
{
    DemuxerDescriptor const* impl = nullptr;
    if (name) {
        for (int i = 0; kDemuxers[i]; ++i) {
            if (!strcmp(kDemuxers[i]->name, name)) {
                impl = kDemuxers[i];
                break;
            }
        }
        if (!impl) {
            fprintf(stderr, "Failed to find demuxer named \"%s\"\n", name);
            return kNoReader;
        }
    } else {
        int probeSize = 0;
        for (int i = 0; kDemuxers[i]; ++i)
            probeSize = kDemuxers[i]->probeSize > probeSize ? kDemuxers[i]->probeSize : probeSize;
        // Zero-filled, so a file shorter than the buffer is probed against zeros after its end.
        uint8_t* probeData = static_cast<uint8_t*>(calloc(static_cast<size_t>(probeSize), 1));
        if (!probeData) {
            fprintf(stderr, "Failed to allocate memory\n");
            return -ENOMEM;
        }
        errno = 0;
        FILE* f = fopen(fileName, "rb");
        if (!f) {
            int const err = NegErrno();
            fprintf(stderr, "Failed to open input file %s: %s\n", fileName, strerror(-err));
            free(probeData);
            return err;
        }
        errno = 0;
        const size_t got = fread(probeData, 1, static_cast<size_t>(probeSize), f);
        int const readErr = NegErrno();
        fclose(f);
        if (!got) {
            free(probeData);
            fprintf(stderr, "Failed to read probe data\n");
            return readErr;
        }
        for (int i = 0; kDemuxers[i]; ++i) {
            if (kDemuxers[i]->probe(probeData)) {
                impl = kDemuxers[i];
                break;
            }
        }
        free(probeData);
        if (!impl) {
            fprintf(stderr, "Failed to probe demuxer for file %s\n", fileName);
            return kNoReader;
        }
    }

    DemuxerInstance* c =
        static_cast<DemuxerInstance*>(calloc(1, sizeof(DemuxerInstance) + static_cast<size_t>(impl->stateSize)));
    if (!c) {
        fprintf(stderr, "Failed to allocate memory\n");
        return -ENOMEM;
    }
    c->impl = impl;
    c->data = reinterpret_cast<uint8_t*>(c) + sizeof(DemuxerInstance);
    int const res = impl->open(c->data, fileName, frameRate, frameCount, timeBase);
    if (res < 0) {
        free(c);
        return res;
    }
    *out = c;
    return 0;
}

int input_read(DemuxerInstance* ctx, Dav1dData* data)
{
    return ctx->impl->read(ctx->data, data);
}

int input_seek(DemuxerInstance* ctx, uint64_t offset)
{
    return ctx->impl->seek(ctx->data, offset);
}

void input_close(DemuxerInstance* ctx)
{
    if (!ctx)
        return;
    ctx->impl->close(ctx->data);
    free(ctx);
}
