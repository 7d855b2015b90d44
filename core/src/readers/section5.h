#pragma once

#include "readers/input.h"

extern const DemuxerDescriptor section5_demuxer;

int section5_probe(uint8_t const* data);
int section5_open(void* state, char const* fileName, unsigned frameRate[2], unsigned* frameCount, unsigned timeBase[2]);
int section5_read(void* state, Dav1dData* data);
void section5_close(void* state);
int section5_seek(void* state, uint64_t offset);
