#include "platform/memory.hpp"

#include "platform/os.hpp"

namespace kestrix {

std::uint64_t round_to_large_page(std::uint64_t size, std::uint64_t m) {
    if (m == 0) {
        return 0;
    }
    return (size + m - 1) & ~(m - 1);
}

void* aligned_allocate(std::uint64_t size) {
    return os::aligned_allocate(size);
}

void aligned_release(void* p) {
    if (p != nullptr) {
        os::aligned_release(p);
    }
}

std::uint64_t large_page_minimum() {
    // Once per process, thread-safe: the privilege step and the size query.
    static const std::uint64_t minimum = os::prepare_large_pages();
    return minimum;
}

void* large_page_allocate(std::uint64_t size) {
    const std::uint64_t rounded = round_to_large_page(size, large_page_minimum());
    if (rounded == 0) {
        return nullptr;
    }
    return os::large_page_map(rounded);
}

void large_page_release(void* p) {
    large_page_minimum();
    if (p != nullptr) {
        os::large_page_unmap(p);
    }
}

std::uint64_t available_physical_memory() {
    return os::available_physical_memory();
}

void* allocation_ledger::allocate(std::uint64_t size, memory_probe limit, raw_allocate raw) {
    std::lock_guard lock(mutex_);
    if (held_ == 0) {
        // Blocks taken but not yet touched do not show in the system's figure, so the budget
        // is fixed when the first held block is taken and kept until all are returned.
        budget_ = limit != nullptr ? limit() : 0;
    }
    if (budget_ != 0 && (size > budget_ || held_ > budget_ - size)) {
        return nullptr;
    }
    void* p = raw(size);
    if (p != nullptr) {
        blocks_[p] = size;
        held_ += size;
    }
    return p;
}

std::uint64_t allocation_ledger::release(void* p) {
    std::lock_guard lock(mutex_);
    const auto it = blocks_.find(p);
    if (it == blocks_.end()) {
        return 0;
    }
    const std::uint64_t size = it->second;
    held_ -= size;
    blocks_.erase(it);
    return size;
}

std::uint64_t allocation_ledger::held() const {
    std::lock_guard lock(mutex_);
    return held_;
}

} // namespace kestrix
