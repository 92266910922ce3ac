#include "platform/cpu.hpp"
#include "solver/family_table.hpp"
#include "solver/solver.hpp"

#include <string>
#include <typeinfo>

namespace kestrix {

solver::~solver() = default;

// Only the unit that built the solver is entered: another unit's code may use instructions
// this processor lacks (the fma-apx unit is APX code throughout).
solver_view view_solver(solver& s) {
    solver_view v;
    const std::type_info& type = typeid(s);
    for (const unit_entry& u : unit_table) {
        for (const std::type_info* c : *u.classes) {
            if (c != nullptr && *c == type) {
                u.view_solver(s, v);
                return v;
            }
        }
    }
    return v;
}

std::optional<workload_kind> parse_workload_name(std::string_view text) {
    if (text == "standing_wave") {
        return workload_kind::standing_wave;
    }
    if (text == "soft_gaussian") {
        return workload_kind::soft_gaussian;
    }
    return std::nullopt;
}

std::unique_ptr<solver> make_solver(workload_kind workload, isa_kind isa,
                                    std::uint32_t thread_index) {
    const variant_entry& v = variant_of(isa);
    return std::unique_ptr<solver>(
        workload == workload_kind::standing_wave
            ? family_code(v.family).new_standing_wave(thread_index)
            : unit_code(v.unit).new_soft_gaussian(static_cast<std::uint32_t>(isa), thread_index));
}

bool is_known_workload(std::string_view workload) {
    return parse_workload_name(workload).has_value();
}

std::optional<std::string> check_variant_runnable_for(isa_kind isa, workload_kind workload,
                                                      const cpu_features& f) {
    const std::string missing = missing_cpu_needs(variant_needs(isa, workload), f);
    if (missing.empty()) {
        return std::nullopt;
    }
    return "its code needs " + missing;
}

std::optional<std::string> check_variant_runnable(isa_kind isa, workload_kind workload) {
    return check_variant_runnable_for(isa, workload, detect_cpu_features());
}

} // namespace kestrix
