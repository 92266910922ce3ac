#include "platform/interrupt.hpp"

#include <atomic>

namespace kestrix {

namespace {

std::atomic<int> first_interrupt{0};
static_assert(std::atomic<int>::is_always_lock_free, "the flag is set in signal context");

} // namespace

int interrupt_received() noexcept {
    return first_interrupt.load();
}

bool record_interrupt(int number) noexcept {
    int none = 0;
    return !first_interrupt.compare_exchange_strong(none, number);
}

} // namespace kestrix
