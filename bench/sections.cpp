#include "sections.hpp"

#include "report_stats.hpp"

#include <cstdio>

namespace kestrix::bench {

void note(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fputc('\n', stderr);
}

std::uint64_t step_plan::get(crew& c, const std::string& isa, double min_time, bool large) {
    auto it = steps_.find(isa);
    if (it != steps_.end()) {
        return it->second;
    }
    double warm = 0.0;
    measure_kernels(c, isa, 0, large, warm);
    const std::uint64_t k = steps_for(min_time, warm, 100000);
    steps_[isa] = k;
    return k;
}

} // namespace kestrix::bench
