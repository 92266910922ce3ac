// One solver step per iteration for every variant, grid edge and thread count, next to a
// memory roofline over the same bytes. MGups = 2*N^3 updates per step, summed over threads.
// Edges 16 and 32 keep both arrays cache-resident; 64 and up measure memory.
#include "platform/isa.hpp"
#include "platform/memory.hpp"
#include "solver/solver.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

void set_rate(benchmark::State& state, std::uint64_t updates_per_step) {
    state.counters["MGups"] = benchmark::Counter(static_cast<double>(updates_per_step) *
                                                     static_cast<double>(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
}

// Each benchmark thread steps its own solver, as the workers of a run do.
// The soft Gaussian initialises on every edge; a few sourced steps give the kernels nonzero
// fields to work on before the timing starts.
void bm_step(benchmark::State& state, const std::string& isa) {
    const auto n = static_cast<std::uint64_t>(state.range(0));
    const std::optional<kestrix::isa_kind> kind = kestrix::parse_isa_name(isa);
    if (!kind) {
        state.SkipWithError("unknown isa");
        return;
    }
    if (auto reason =
            kestrix::check_variant_runnable(*kind, kestrix::workload_kind::soft_gaussian)) {
        state.SkipWithError(reason->c_str());
        return;
    }
    auto s = kestrix::make_solver(kestrix::workload_kind::soft_gaussian, *kind,
                                  static_cast<std::uint32_t>(state.thread_index()));
    if (!s || s->allocate_fields({false, n, 0.01}) || s->init_fields()) {
        state.SkipWithError("solver setup failed");
        return;
    }
    for (std::uint64_t i = 0; i < 30; ++i) {
        if (s->pre_step(i) || s->step()) {
            state.SkipWithError("solver setup failed");
            return;
        }
    }
    for (auto _ : state) {
        if (s->step()) {
            state.SkipWithError("step failed");
            break;
        }
    }
    set_rate(state, s->updates_per_step());
}

// The bytes one step moves at memory speed: each half-step reads one array and rewrites the
// other, over (N+2)^3 cells of 32 bytes.
void bm_roofline(benchmark::State& state) {
    const auto n = static_cast<std::uint64_t>(state.range(0));
    const std::uint64_t doubles = (n + 2) * (n + 2) * (n + 2) * 4;
    auto* a = static_cast<double*>(kestrix::aligned_allocate(doubles * sizeof(double)));
    auto* b = static_cast<double*>(kestrix::aligned_allocate(doubles * sizeof(double)));
    if (a == nullptr || b == nullptr) {
        kestrix::aligned_release(a);
        kestrix::aligned_release(b);
        state.SkipWithError("allocation failed");
        return;
    }
    std::memset(a, 0, doubles * sizeof(double));
    std::memset(b, 0, doubles * sizeof(double));
    for (auto _ : state) {
        for (std::uint64_t i = 0; i < doubles; ++i) {
            b[i] = b[i] - a[i] * 0.5;
        }
        for (std::uint64_t i = 0; i < doubles; ++i) {
            a[i] = a[i] + b[i] * 0.5;
        }
        benchmark::ClobberMemory();
    }
    set_rate(state, 2 * n * n * n);
    kestrix::aligned_release(a);
    kestrix::aligned_release(b);
}

} // namespace

int main(int argc, char** argv) {
    for (int threads : {1, 2}) {
        benchmark::RegisterBenchmark("roofline", bm_roofline)
            ->Arg(16)
            ->Arg(32)
            ->Arg(64)
            ->Arg(128)
            ->Arg(192)
            ->Threads(threads)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        for (std::string_view isa : kestrix::isa_names) {
            {
                benchmark::RegisterBenchmark(("step/" + std::string(isa)).c_str(), bm_step,
                                             std::string(isa))
                    ->Arg(16)
                    ->Arg(32)
                    ->Arg(64)
                    ->Arg(128)
                    ->Arg(192)
                    ->Threads(threads)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
