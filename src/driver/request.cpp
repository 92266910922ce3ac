#include "driver/request.hpp"

namespace kestrix {

std::optional<sweep_variable> parse_sweep_variable(std::string_view text) {
    for (std::size_t i = 0; i < sweep_variable_names.size(); ++i) {
        if (sweep_variable_names[i] == text) {
            return static_cast<sweep_variable>(i);
        }
    }
    return std::nullopt;
}

std::string_view workload_name(workload_kind w) {
    return w == workload_kind::soft_gaussian ? "soft_gaussian" : "standing_wave";
}

} // namespace kestrix
