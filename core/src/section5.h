#pragma once

#include "input.h"

extern const DemuxerDescriptor section5_demuxer;

int section5_probe(const uint8_t* data);
int section5_open(void* state, const char* fileName, unsigned frameRate[2], unsigned* frameCount,
                  unsigned timeBase[2]);
int section5_read(void* state, Dav1dData* data);
void section5_close(void* state);
