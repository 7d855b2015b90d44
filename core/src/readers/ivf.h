#pragma once

#include "readers/input.h"

extern const DemuxerDescriptor ivf_demuxer;

int ivf_probe(uint8_t const* data);
int ivf_open(void* state, char const* fileName, unsigned frameRate[2], unsigned* frameCount, unsigned timeBase[2]);
int ivf_read(void* state, Dav1dData* data);
void ivf_close(void* state);
int ivf_seek(void* state, uint64_t offset);
