#pragma once
// The two allocators of the field arrays, the large-page preparation and free memory.
#include <cstdint>

namespace kestrix {

void* aligned_allocate(std::uint64_t size); // 64-byte aligned, not cleared; nullptr on failure
void aligned_release(void* p);              // nullptr ignored

std::uint64_t large_page_minimum(); // cached; prepares the privilege on its first call
void* large_page_allocate(std::uint64_t size);
void large_page_release(void* p);

// (size + m - 1) & ~(m - 1); 0 when m is 0.
std::uint64_t round_to_large_page(std::uint64_t size, std::uint64_t m);

std::uint64_t available_physical_memory(); // 0 when unknown

} // namespace kestrix
