#pragma once
// The two allocators of the field arrays, the large-page preparation and free memory.
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace kestrix {

void* aligned_allocate(std::uint64_t size); // 64-byte aligned, not cleared; nullptr on failure
void aligned_release(void* p);              // nullptr ignored

std::uint64_t large_page_minimum(); // cached; prepares the privilege on its first call
void* large_page_allocate(std::uint64_t size);
void large_page_release(void* p);

// (size + m - 1) & ~(m - 1); 0 when m is 0.
std::uint64_t round_to_large_page(std::uint64_t size, std::uint64_t m);

std::uint64_t available_physical_memory(); // 0 when unknown

using memory_probe = std::uint64_t (*)();

// Blocks handed out by one allocator with their sizes. With a limit probe it refuses a request
// when the bytes already held plus the request exceed the memory that was available when the
// first of the held blocks was taken: on a system that overcommits, the later page faults of an
// unbacked block would kill the process instead of failing the allocation.
class allocation_ledger {
public:
    using raw_allocate = void* (*)(std::uint64_t size);
    void* allocate(std::uint64_t size, memory_probe limit, raw_allocate raw);
    std::uint64_t release(void* p); // the block's recorded size, 0 when unknown
    std::uint64_t held() const;

private:
    mutable std::mutex mutex_;
    std::unordered_map<void*, std::uint64_t> blocks_;
    std::uint64_t held_ = 0;
    std::uint64_t budget_ = 0; // 0: no limit known
};

} // namespace kestrix
