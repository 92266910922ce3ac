#include "platform/memory.hpp"

#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace kestrix {
namespace {

constexpr std::uint64_t mib = 1024 * 1024;

TEST(LargePages, Rounding) {
    struct row {
        std::uint64_t size, m, rounded;
    };
    const row rows[] = {
        {1, 2 * mib, 2 * mib},
        {2 * mib, 2 * mib, 2 * mib},
        {2 * mib + 1, 2 * mib, 4 * mib},
        {0, 2 * mib, 0},
        {5, 0, 0},
        {3 * 1024 * mib + 7, 1024 * mib, 4 * 1024 * mib},
        {4097, 4096, 8192},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(round_to_large_page(r.size, r.m), r.rounded) << r.size << " / " << r.m;
    }
}

TEST(AlignedAllocation, AlignedAndReleased) {
    for (std::uint64_t size :
         {std::uint64_t{1}, std::uint64_t{64}, std::uint64_t{1000}, 3 * mib + 5}) {
        void* p = aligned_allocate(size);
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 64, 0u) << size;
        static_cast<unsigned char*>(p)[size - 1] = 1;
        aligned_release(p);
    }
    aligned_release(nullptr);
    large_page_release(nullptr);
}

TEST(AlignedAllocation, ImpossibleRequestFails) {
    EXPECT_EQ(aligned_allocate(~std::uint64_t{0} - 4096), nullptr);
}

// A stand-in heap for the ledger: counts what it handed out.
int raw_calls = 0;
void* counting_allocate(std::uint64_t size) {
    ++raw_calls;
    return std::malloc(size == 0 ? 1 : size);
}
void* failing_allocate(std::uint64_t) {
    return nullptr;
}
std::uint64_t budget_1000() {
    return 1000;
}
std::uint64_t budget_unknown() {
    return 0;
}

TEST(AllocationLedger, RefusesWhatTheBudgetCannotBack) {
    allocation_ledger ledger;
    raw_calls = 0;
    void* a = ledger.allocate(600, budget_1000, counting_allocate);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(ledger.allocate(401, budget_1000, counting_allocate), nullptr);
    EXPECT_EQ(raw_calls, 1); // the refused request never reached the heap
    void* b = ledger.allocate(400, budget_1000, counting_allocate);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(ledger.held(), 1000u);
    EXPECT_EQ(ledger.allocate(1, budget_1000, counting_allocate), nullptr);
    EXPECT_EQ(ledger.release(a), 600u);
    EXPECT_EQ(ledger.release(a), 0u); // unknown now
    void* c = ledger.allocate(600, budget_1000, counting_allocate);
    EXPECT_NE(c, nullptr);
    std::free(a);
    EXPECT_EQ(ledger.release(b), 400u);
    std::free(b);
    EXPECT_EQ(ledger.release(c), 600u);
    std::free(c);
    EXPECT_EQ(ledger.held(), 0u);
}

TEST(AllocationLedger, EdgesOfTheBudget) {
    allocation_ledger ledger;
    EXPECT_EQ(ledger.allocate(1001, budget_1000, counting_allocate), nullptr);
    EXPECT_EQ(ledger.allocate(~std::uint64_t{0}, budget_1000, counting_allocate), nullptr);
    void* whole = ledger.allocate(1000, budget_1000, counting_allocate);
    ASSERT_NE(whole, nullptr);
    ledger.release(whole);
    std::free(whole);
    // Unknown figure or no probe: no limit.
    void* big = ledger.allocate(5000, budget_unknown, counting_allocate);
    ASSERT_NE(big, nullptr);
    ledger.release(big);
    std::free(big);
    void* free_run = ledger.allocate(5000, nullptr, counting_allocate);
    ASSERT_NE(free_run, nullptr);
    ledger.release(free_run);
    std::free(free_run);
    // A failing heap records nothing.
    EXPECT_EQ(ledger.allocate(10, budget_1000, failing_allocate), nullptr);
    EXPECT_EQ(ledger.held(), 0u);
}

std::uint64_t budget_now = 0;
std::uint64_t moving_budget() {
    return budget_now;
}

TEST(AllocationLedger, BudgetFixedWhileBlocksAreHeld) {
    // Held blocks not yet touched do not lower the system's figure, so a second request must
    // be judged against the figure of the first.
    allocation_ledger ledger;
    budget_now = 1000;
    void* a = ledger.allocate(700, moving_budget, counting_allocate);
    ASSERT_NE(a, nullptr);
    budget_now = 1000; // the system still shows the same figure
    EXPECT_EQ(ledger.allocate(700, moving_budget, counting_allocate), nullptr);
    ledger.release(a);
    std::free(a);
    budget_now = 2000; // all returned: the next request sees a fresh figure
    void* b = ledger.allocate(1500, moving_budget, counting_allocate);
    EXPECT_NE(b, nullptr);
    ledger.release(b);
    std::free(b);
}

TEST(AllocationLedger, ConcurrentWorkersShareOneBudget) {
    allocation_ledger ledger;
    std::vector<std::thread> threads;
    std::vector<void*> got(8, nullptr);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back(
            [&, i] { got[i] = ledger.allocate(300, budget_1000, counting_allocate); });
    }
    for (auto& t : threads) {
        t.join();
    }
    int granted = 0;
    for (void* p : got) {
        if (p != nullptr) {
            ++granted;
            ledger.release(p);
            std::free(p);
        }
    }
    EXPECT_EQ(granted, 3);
}

TEST(AvailableMemory, TheSystemFigureIsKnown) {
    EXPECT_GT(available_physical_memory(), 0u);
}

} // namespace
} // namespace kestrix
