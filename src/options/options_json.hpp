#pragma once
// kestrix's decided options as JSON, for programs that record runs (nlohmann-json, header-only;
// kestrix itself never includes this).
#include "options/decision.hpp"
#include "platform/placement.hpp"

#include <nlohmann/json.hpp>

namespace kestrix {

inline void to_json(nlohmann::json& j, const decided_run& r) {
    j = nlohmann::json{
        {"threads", r.threads}, // 0: chosen when the run starts
        {"duration", r.duration},
        {"size", r.size},
        {"workload", workload_choice_name(r.workload)},
        {"isa", isa_names[static_cast<std::size_t>(r.isa)]},
        {"placement", placement_name(r.placement)},
        {"strict_isa_check", r.strict_isa_check},
        {"large_pages", r.large_pages},
        {"bypass_timer_check", r.bypass_timer_check},
    };
}

inline void to_json(nlohmann::json& j, const harness_request& h) {
    j = nlohmann::json{
        {"variable", sweep_variable_name(h.variable)},
        {"option", h.option},
        {"sub_runs", h.sub_runs},
        {"pause_ms", h.pause_ms},
    };
}

// {"mode", "exit_code", "usage_error" (text or null), "run" (object or null),
//  "harness" (object or null)}
inline void to_json(nlohmann::json& j, const option_decision& d) {
    j = nlohmann::json{
        {"mode", program_mode_name(d.mode)},
        {"exit_code", d.exit_code},
        {"usage_error", d.failure ? nlohmann::json(*d.failure) : nlohmann::json(nullptr)},
        {"run", d.run ? nlohmann::json(*d.run) : nlohmann::json(nullptr)},
        {"harness", d.harness ? nlohmann::json(*d.harness) : nlohmann::json(nullptr)},
    };
}

} // namespace kestrix
