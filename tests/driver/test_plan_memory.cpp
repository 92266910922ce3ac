// What a planned harness run really costs on the heap, measured with a counting allocator,
// against the figure the plan's memory check uses.
#include "driver/run_types.hpp"
#include "driver/sweep.hpp"
#include "support/fake_run.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <atomic>
#include <cstdlib>
#include <new>

#ifdef __linux__
#include <malloc.h>

// The replaced operators below pair malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<std::uint64_t> heap_bytes{0};
} // namespace

// The allocator's real block sizes: usable size plus its one-word header.
void* operator new(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    heap_bytes += malloc_usable_size(p) + sizeof(std::size_t);
    return p;
}
void release_block(void* p) noexcept {
    if (p != nullptr) {
        heap_bytes -= malloc_usable_size(p) + sizeof(std::size_t);
    }
    std::free(p);
}
void operator delete(void* p) noexcept {
    release_block(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release_block(p);
}
#endif

namespace kestrix {
namespace {

TEST(plan_memory, a_planned_run_costs_no_more_than_the_check_counts) {
#ifndef __linux__
    GTEST_SKIP() << "the allocator's block sizes are read on Linux";
#else
    const run_request base;
    test::fake_script script;
    test::capture_sink sink;
    const run_env env = test::fake_env(script, sink);
    const sweep_context context{base, env};
    struct row {
        const char* variable;
        std::uint64_t points;
    };
    for (const row r : {row{"duration", 200000}, row{"threads", 200000}}) {
        const std::uint64_t before = heap_bytes.load();
        const std::string option = fmt::format("1-{}", r.points);
        std::uint64_t peak = 0;
        {
            const auto runs = std::string_view(r.variable) == "duration"
                                  ? h_dur_var::gen(option, context)
                                  : h_threads_var::gen_for(option, context, 8);
            ASSERT_TRUE(runs.has_value());
            ASSERT_EQ(runs->size(), r.points);
            peak = heap_bytes.load() - before;
        }
        const double per_run = static_cast<double>(peak) / static_cast<double>(r.points);
        EXPECT_LE(per_run, static_cast<double>(planned_run_bytes)) << r.variable;
        EXPECT_GE(per_run, static_cast<double>(sizeof(bench_box::harness_run))) << r.variable;
    }
#endif
}

} // namespace
} // namespace kestrix
