#pragma once
// The report's sections. Each measures on its own crew of threads, prints its Markdown to
// standard output and its progress to standard error.
#include "crew.hpp"
#include "report_lib.hpp"

#include <cstdint>
#include <map>
#include <string>

namespace kestrix::bench {

// Progress and problems: a line on standard error.
void note(const std::string& text);

// Steps per measurement for each variant, from its first warm-up step.
class step_plan {
public:
    std::uint64_t get(crew& c, const std::string& isa, double min_time, bool large);

private:
    std::map<std::string, std::uint64_t> steps_;
};

// The bandwidth probe, every variant beside the roofline it gives, and the targets; false
// when its arrays or grids could not be allocated.
bool section_main(const options& o);
// The soft Gaussian's energy pass next to a step.
void section_energy(const options& o);
// The program's timed loop next to the bare kernels.
void section_overhead(const options& o);
// Large pages next to small ones.
void section_large(const options& o);

} // namespace kestrix::bench
