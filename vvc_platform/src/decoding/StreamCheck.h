#pragma once

#include "decoding/DecLib.h"

#include <functional>
#include <string>

// One pass of the decoder over a whole byte stream, for conformance checks and debugging: the
// pictures it finishes and how they compare with their decoded picture hash SEI messages.
struct StreamCheckResult
{
    bool notAByteStream = false;
    uint64_t nalUnits = 0;
    PictureHashStats hashes;
    int syntaxErrors = 0;       // units whose complete syntax could not be read
    std::string syntaxError;    // the first of them
    std::string sliceDataError; // the first slice whose data did not decode to its end
    std::string error;          // the text of the exception that ended the pass, if any
    int chromaFormatIdc = -1;   // of the SPS of the lowest id at the end, -1 without one
};

// `output`, when given, receives the pictures the buffer outputs, in output order; without it no
// picture is output.
StreamCheckResult CheckStream(std::string const& path, std::function<void(Picture const&)> const& output = {});
