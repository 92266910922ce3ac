#include "solver/messages.hpp"

#include <fmt/format.h>

namespace kestrix {

error_text field_allocation_failed_text() {
    return std::string("field allocation failed");
}

error_text h_step_error_text(std::int32_t thread_index) {
    return fmt::format("solver H step error in thread {}", thread_index);
}

error_text e_step_error_text(std::int32_t thread_index) {
    return fmt::format("solver E step error in thread {}", thread_index);
}

error_text h_init_failed_text() {
    return std::string("failed to initalize H field");
}

error_text validation_buffer_failed_text() {
    return std::string("allocation failed for validation buffer");
}

error_text node_failure_text(std::int32_t thread_index, double init, double calc, double ratio) {
    return fmt::format("\nnode verification failure in thread {}\ninit_val = {:f}\ncalc_val = "
                       "{:f}\nratio = {:f}",
                       thread_index, init, calc, ratio);
}

error_text energy_init_failure_text(std::int32_t thread_index, double energy_init, double calc,
                                    double ratio) {
    return fmt::format("\nenergy ratio failure in thread {}\nenergy_init = {:f}\nenergy_calc = "
                       "{:f}\nratio = {:f}",
                       thread_index, energy_init, calc, ratio);
}

error_text energy_acc_failure_text(std::int32_t thread_index, double energy_acc, double calc,
                                   double ratio) {
    return fmt::format("\nenergy ratio failure in thread {}\nenergy_acc = {:f}\nenergy_calc = "
                       "{:f}\nratio = {:f}",
                       thread_index, energy_acc, calc, ratio);
}

} // namespace kestrix
