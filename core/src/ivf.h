#pragma once

#include "input.h"

extern const DemuxerDescriptor ivf_demuxer;

int ivf_probe(const uint8_t* data);
int ivf_open(void* state, const char* fileName, unsigned frameRate[2], unsigned* frameCount,
             unsigned timeBase[2]);
int ivf_read(void* state, Dav1dData* data);
void ivf_close(void* state);
