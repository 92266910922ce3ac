#pragma once
// Every cell of a grid's E and H fields, hashed; and the test seam's single bit flip.
#include <cstdint>

namespace kestrix {
struct field_grid;
}

namespace kestrix::stress {

// XXH3 (64 bits) over all bytes of E, then of H: its AVX2 loop where the processor runs it.
std::uint64_t hash_fields(const field_grid& g);
// The same with the loop chosen: both give the same value.
std::uint64_t hash_fields(const field_grid& g, bool avx2);

// Flips bit `bit` of the largest-magnitude value of E (a value that is not zero, so the next
// update cannot simply overwrite it). False when E holds no such value.
bool flip_bit(field_grid& g, unsigned bit);

} // namespace kestrix::stress
