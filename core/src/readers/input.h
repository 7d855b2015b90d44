#pragma once

// Readers of AV1 bitstreams stored in files: IVF, Annex B (length-delimited) and the low-overhead
// OBU stream. Each read hands out one unit of coded data as a Dav1dData buffer. The readers
// write their diagnostics to standard error.

// dav1d 1.0 headers carry no C++ linkage of their own.
extern "C" {
#include <dav1d/data.h>
}

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct DemuxerDescriptor
{
    int stateSize; // bytes of the reader's own state
    char const* name;
    int probeSize; // bytes that the probe needs
    int (*probe)(uint8_t const* data);
    int (*open)(void* state, char const* fileName, unsigned frameRate[2], unsigned* frameCount, unsigned timeBase[2]);
    int (*read)(void* state, Dav1dData* data);
    void (*close)(void* state);
    // Goes to the temporal unit that starts at the byte offset a read gave as its data's
    // m.offset; 0 or -1.
    int (*seek)(void* state, uint64_t offset);
};

struct DemuxerInstance
{
    void* data; // the reader's state, following in the same allocation
    DemuxerDescriptor const* impl;
};

// 0 and *out set, or a negative error number. A null name selects the reader by probing the
// first bytes of the file.
int input_open(DemuxerInstance** out, char const* name, char const* fileName, unsigned frameRate[2],
               unsigned* frameCount, unsigned timeBase[2]);
// Every unit read carries the byte offset of its temporal unit in data->m.offset.
int input_read(DemuxerInstance* ctx, Dav1dData* data);
// The next read delivers the temporal unit at that offset; 0 or -1.
int input_seek(DemuxerInstance* ctx, uint64_t offset);
void input_close(DemuxerInstance* ctx);

// Helpers shared by the readers.
namespace av1_input {

// An unsigned leb128 field in buf[0, len): its length in bytes (1..8) with *value set, or 0 when
// the field runs past len, does not end within 8 bytes or exceeds 2^32 - 1.
int ParseLeb128(uint8_t const* buf, size_t len, uint64_t* value);
// The same read from the file's current position: the field length, 0 when the file ends (or
// fails) inside the field, -1 for an invalid field.
int ReadLeb128(FILE* f, uint64_t* value);
// Opens the file for reading and tells its size; null (with a message) when it does not open.
FILE* OpenWithSize(char const* fileName, uint64_t* size);
// Bytes between the file's position and the size found at open (0 when the position is unknown).
uint64_t BytesLeft(FILE* f, uint64_t size);
// Moves the file to the offset; 0 or -1.
int SeekTo(FILE* f, uint64_t offset);
// Reads size bytes from the file's position into a new data buffer; -1 (with a message for a
// read failure, and no buffer kept) when it cannot be allocated or read.
int ReadData(FILE* f, uint64_t size, Dav1dData* data);

} // namespace av1_input
