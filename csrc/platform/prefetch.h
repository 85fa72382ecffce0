#pragma once
// Asking for memory before it is read. GCC drops a __builtin_prefetch whose
// address comes from a load under a condition, as though nothing needed it;
// passing the address through an empty asm first makes it a value in use, so
// the request stays.

namespace vorn::typing::text {

inline void prefetch_line(const void* address) {
    asm volatile("" : : "r"(address));
    __builtin_prefetch(address);
}

}  // namespace vorn::typing::text
