#include "stress/system.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrix::stress {

error_counters read_error_counters(const std::string& root) {
    namespace fs = std::filesystem;
    error_counters c;
    std::error_code ec;
    const fs::path mc = fs::path(root) / "sys/devices/system/edac/mc";
    for (const auto& entry : fs::directory_iterator(mc, ec)) {
        if (entry.path().filename().string().rfind("mc", 0) != 0) {
            continue;
        }
        std::ifstream f(entry.path() / "ce_count");
        std::uint64_t n = 0;
        if (f >> n) {
            c.edac_corrected = c.edac_corrected.value_or(0) + n;
        }
    }
    std::ifstream interrupts(fs::path(root) / "proc/interrupts");
    std::string line;
    while (std::getline(interrupts, line)) {
        std::istringstream in(line);
        std::string name;
        in >> name;
        if (name != "MCE:") {
            continue;
        }
        std::uint64_t sum = 0;
        std::uint64_t n = 0;
        while (in >> n) {
            sum += n;
        }
        c.machine_checks = sum;
    }
    return c;
}

} // namespace kestrix::stress
