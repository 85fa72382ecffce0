#pragma once
// Copying the short texts that keys mostly are without a call into memcpy:
// two copies of a fixed size, which the compiler makes single moves, overlap
// where the text is shorter.

#include <cstddef>
#include <cstring>

namespace vorn::typing::text {

inline void copy_short(char* to, const char* from, std::size_t size) {
    if (size >= 8 && size <= 16) {
        std::memcpy(to, from, 8);
        std::memcpy(to + size - 8, from + size - 8, 8);
    } else if (size >= 4 && size < 8) {
        std::memcpy(to, from, 4);
        std::memcpy(to + size - 4, from + size - 4, 4);
    } else if (size != 0) {
        std::memcpy(to, from, size);
    }
}

}  // namespace vorn::typing::text
