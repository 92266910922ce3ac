#pragma once
// Every text the solver reports, built in baseline code so that variant code handles no
// strings of its own. Numbers are written as printf's "%f" writes them.
#include "solver/solver.hpp"

#include <cstdint>

namespace kestrix {

error_text field_allocation_failed_text();
error_text h_step_error_text(std::int32_t thread_index);
error_text e_step_error_text(std::int32_t thread_index);
error_text h_init_failed_text();
error_text validation_buffer_failed_text();
error_text node_failure_text(std::int32_t thread_index, double init, double calc, double ratio);
error_text energy_init_failure_text(std::int32_t thread_index, double energy_init, double calc,
                                    double ratio);
error_text energy_acc_failure_text(std::int32_t thread_index, double energy_acc, double calc,
                                   double ratio);

} // namespace kestrix
