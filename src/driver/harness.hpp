#pragma once
// The harness: planned runs (sweep points) x sub-runs, and the results table.
#include "driver/config.hpp"

namespace kestrix {

void run_harness(harness_settings& settings, const kestrix_harness_context& context);

} // namespace kestrix
