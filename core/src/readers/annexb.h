#pragma once

#include "readers/input.h"

extern const DemuxerDescriptor annexb_demuxer;

int annexb_probe(uint8_t const* data);
int annexb_open(void* state, char const* fileName, unsigned frameRate[2], unsigned* frameCount, unsigned timeBase[2]);
int annexb_read(void* state, Dav1dData* data);
void annexb_close(void* state);
int annexb_seek(void* state, uint64_t offset);
