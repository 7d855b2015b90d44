#pragma once

#include <cstddef>
#include <vector>

namespace vvcutil {

// Asks for huge pages over the whole huge pages inside [data, data + bytes), where the system
// offers them; a hint only, the memory works the same without. For large buffers about to be
// filled for the first time: they then take a few page faults rather than hundreds.
void AdviseHugePages(void* data, size_t bytes);

// Gives `v` room for `n` elements; new memory (when its capacity is smaller) is advised huge pages
// before anything touches it.
template <class T>
void ReserveLarge(std::vector<T>& v, size_t n)
{
    if (v.capacity() >= n)
        return;
    std::vector<T>().swap(v);
    v.reserve(n);
    AdviseHugePages(v.data(), n * sizeof(T));
}

} // namespace vvcutil
