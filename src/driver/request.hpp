#pragma once
// The resolved run request: what the command line asks for, as typed values. The entry decision
// builds it once; every layer below takes it and parses no name again.
#include "options/decision.hpp"
#include "platform/isa.hpp"
#include "platform/placement.hpp"
#include "solver/solver.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

// One benchmark run.
struct run_request {
    std::uint32_t threads = 0; // 0: chosen when the run starts
    std::uint32_t duration = 30;
    std::uint64_t size = 192;
    placement_policy placement = placement_policy::os;
    workload_kind workload = workload_kind::standing_wave;
    isa_kind isa = isa_kind::sse2;
    bool strict_isa_check = false;
    bool large_pages = false;
    bool bypass_timer_check = false;
};

std::string_view workload_name(workload_kind w);
// The solver's workload for the decided one (the two enums list the workloads in one order).
workload_kind to_workload_kind(workload_choice w);
// The run request for a decided run.
run_request to_run_request(const decided_run& run);
inline std::string_view isa_name(isa_kind i) {
    return isa_names[static_cast<std::size_t>(i)];
}

} // namespace kestrix
