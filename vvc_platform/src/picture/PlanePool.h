#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Sample planes of pictures, reused. Every picture makes and drops several picture-sized planes
// (the reconstruction, the output of a loop filter, the padded copy kept for reference); taking
// them from here spares the allocation and the page faults of fresh memory each time.
// Process-wide and thread-safe. Free planes are kept up to kMaxFreeBytes (the oldest leave
// first) and all of them leave with ReleaseFreePlanes(), which a decoder calls when it closes.
namespace vvcpool {

constexpr size_t kMaxFreeBytes = size_t(256) << 20;

// A plane of `samples` samples. Its contents are unspecified: a reused plane keeps the samples
// it had.
std::vector<uint16_t> TakePlane(size_t samples);
// Gives a plane back for a later TakePlane (or frees it beyond the bound).
void ReturnPlane(std::vector<uint16_t>&& plane);
void ReleaseFreePlanes();
// Bytes held by the free planes.
size_t FreePlaneBytes();

} // namespace vvcpool
