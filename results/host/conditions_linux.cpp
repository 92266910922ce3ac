#include "conditions.hpp"
#include "fs_root.hpp"

#include <chrono>

#include <sys/resource.h>
#include <unistd.h>

namespace kestrix::results {

load_sample take_load_sample(const std::filesystem::path& root) {
    load_sample s;
    const file_text stat = read_below(root, "/proc/stat");
    if (!stat.text) {
        s.why = unreadable("/proc/stat", stat);
    } else if (!(s.system = parse_proc_stat(*stat.text))) {
        s.why = "/proc/stat has no \"cpu\" line of processor times";
    }
    struct rusage own {};
    if (::getrusage(RUSAGE_SELF, &own) == 0) {
        s.own_cpu_s = static_cast<double>(own.ru_utime.tv_sec + own.ru_stime.tv_sec) +
                      static_cast<double>(own.ru_utime.tv_usec + own.ru_stime.tv_usec) / 1e6;
    }
    s.at_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return s;
}

double clock_ticks_per_second() {
    const long ticks = ::sysconf(_SC_CLK_TCK);
    return ticks > 0 ? static_cast<double>(ticks) : 100.0;
}

run_conditions read_system_conditions(const std::filesystem::path& root) {
    return read_sysfs_conditions(root);
}

} // namespace kestrix::results
