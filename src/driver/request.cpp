#include "driver/request.hpp"

namespace kestrix {

std::string_view workload_name(workload_kind w) {
    return w == workload_kind::soft_gaussian ? "soft_gaussian" : "standing_wave";
}

workload_kind to_workload_kind(workload_choice w) {
    return w == workload_choice::soft_gaussian ? workload_kind::soft_gaussian
                                               : workload_kind::standing_wave;
}

run_request to_run_request(const decided_run& run) {
    return run_request{
        .threads = run.threads,
        .duration = run.duration,
        .size = run.size,
        .placement = run.placement,
        .workload = to_workload_kind(run.workload),
        .isa = run.isa,
        .strict_isa_check = run.strict_isa_check,
        .large_pages = run.large_pages,
        .bypass_timer_check = run.bypass_timer_check,
    };
}

} // namespace kestrix
