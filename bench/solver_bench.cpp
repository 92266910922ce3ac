// One solver step per iteration, per variant and grid edge; MGups = 2*N^3 updates per step.
#include "platform/isa.hpp"
#include "solver/solver.hpp"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void bm_step(benchmark::State& state, std::string isa) {
    const auto n = static_cast<std::uint64_t>(state.range(0));
    if (auto reason = kestrix::check_variant_runnable(isa)) {
        state.SkipWithError(reason->c_str());
        return;
    }
    auto s = kestrix::make_solver("standing_wave", isa, 0);
    if (!s || s->allocate_fields({false, n, 0.01}) || s->init_fields()) {
        state.SkipWithError("solver setup failed");
        return;
    }
    for (auto _ : state) {
        if (s->step()) {
            state.SkipWithError("step failed");
            break;
        }
    }
    state.counters["MGups"] = benchmark::Counter(static_cast<double>(s->updates_per_step()) *
                                                     static_cast<double>(state.iterations()) / 1e6,
                                                 benchmark::Counter::kIsRate);
}

} // namespace

int main(int argc, char** argv) {
    for (std::string_view isa : kestrix::isa_names) {
        benchmark::RegisterBenchmark(("step/" + std::string(isa)).c_str(), bm_step,
                                     std::string(isa))
            ->Arg(64)
            ->Arg(128)
            ->Arg(192)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
