#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "image/memory_image.h"

namespace rqm5::fuzz {

// A broken promise of the parsers is a finding like a crash: libFuzzer keeps the input.
inline void Require(bool promiseKept, const char* promise) {
    if (promiseKept) return;
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

// The image's defaulted == compares row by row; libFuzzer hooks every one of those 16,384 small
// comparisons, which costs more than the parsing. One comparison of the whole object says the same.
static_assert(std::has_unique_object_representations_v<MemoryImage>);
inline bool SameImage(const MemoryImage& a, const MemoryImage& b) {
    return std::memcmp(&a, &b, sizeof(MemoryImage)) == 0;
}

}  // namespace rqm5::fuzz
