// XXH3 with its AVX2 loop, for processors that have it: the same hash value in about a third
// of the time. This file is compiled with -mavx2 and holds nothing but this function and
// xxhash's code, which XXH_INLINE_ALL makes static: no copy of it, and no standard-library
// code, can stand in for baseline code at link time.
#include <stddef.h>
#include <stdint.h>

#define XXH_INLINE_ALL
#include <xxhash.h>
#if XXH_VECTOR != XXH_AVX2
#error "the AVX2 loop of XXH3 was not selected"
#endif

namespace kestrix::stress::avx2_code {

uint64_t hash_two(const void* a, size_t a_size, const void* b, size_t b_size) {
    const XXH64_hash_t first = XXH3_64bits(a, a_size);
    return XXH3_64bits_withSeed(b, b_size, first);
}

} // namespace kestrix::stress::avx2_code
