// The Linux reading of the machine, through one root path so that recorded trees replay.
#include "fs_root.hpp"
#include "machine_facts.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>
#include <tuple>

#include <fmt/format.h>

namespace kestrix::results {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> read_text(const fs::path& p) {
    return read_file_text(p).text;
}

std::optional<std::uint64_t> read_number(const fs::path& p) {
    const auto text = read_text(p);
    if (!text) {
        return std::nullopt;
    }
    const std::string t = trim(*text);
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc{} || end != t.data() + t.size()) {
        return std::nullopt;
    }
    return v;
}

// "48K", "1024K", "32M", "512" (bytes).
std::optional<std::uint64_t> cache_size(std::string t) {
    t = trim(t);
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc{} || end == t.data()) {
        return std::nullopt;
    }
    const std::string_view unit(end, static_cast<std::size_t>(t.data() + t.size() - end));
    const std::uint64_t scale = unit.empty()  ? 1
                                : unit == "K" ? 1024
                                : unit == "M" ? 1024 * 1024
                                              : 0;
    if (scale == 0) {
        return std::nullopt;
    }
    return v * scale;
}

std::string cache_type(const std::string& sysfs_type) {
    if (sysfs_type == "Data") {
        return "data";
    }
    if (sysfs_type == "Instruction") {
        return "instruction";
    }
    return "unified";
}

fact<std::string> microcode(const fs::path& root) {
    const auto text = read_text(root / "proc/cpuinfo");
    if (!text) {
        return fact<std::string>::missing("could not read /proc/cpuinfo");
    }
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 9, "microcode") == 0) {
            const auto colon = line.find(':');
            if (colon != std::string::npos) {
                return fact<std::string>::known(trim(line.substr(colon + 1)),
                                                "/proc/cpuinfo microcode");
            }
        }
    }
    return fact<std::string>::missing("/proc/cpuinfo has no microcode line");
}

fact<std::string> dmi(const fs::path& root, const char* name) {
    const std::string path = fmt::format("/sys/class/dmi/id/{}", name);
    const auto text = read_text(root / path.substr(1));
    if (!text) {
        return fact<std::string>::missing("could not read " + path);
    }
    return fact<std::string>::known(trim(*text), path);
}

} // namespace

// cpu0, cpu1, ... in numeric order; "cpufreq", "cpuidle" and the like are not processors.
std::vector<std::pair<int, fs::path>> processor_dirs(const fs::path& cpu_root) {
    std::vector<std::pair<int, fs::path>> dirs;
    std::error_code ec;
    for (fs::directory_iterator it(cpu_root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < 4 || name.compare(0, 3, "cpu") != 0) {
            continue;
        }
        int n = 0;
        const auto [p, err] = std::from_chars(name.data() + 3, name.data() + name.size(), n);
        if (err == std::errc{} && p == name.data() + name.size()) {
            dirs.emplace_back(n, it->path());
        }
    }
    std::sort(dirs.begin(), dirs.end());
    return dirs;
}

std::vector<cache_level> group_caches(const std::vector<cache_level>& each) {
    std::map<std::tuple<std::uint32_t, std::string, std::uint64_t>, std::uint32_t> counts;
    for (const cache_level& c : each) {
        counts[{c.level, c.type, c.size_bytes}] += c.instances == 0 ? 1 : c.instances;
    }
    std::vector<cache_level> levels;
    for (const auto& [key, n] : counts) {
        levels.push_back({std::get<0>(key), std::get<1>(key), std::get<2>(key), n});
    }
    return levels;
}

machine_answers read_sysfs_machine(const fs::path& root) {
    machine_answers m;
    m.microcode = microcode(root);

    const auto dirs = processor_dirs(root / "sys/devices/system/cpu");
    // One cache shared by several processors appears under each of them: keep it once.
    std::set<std::tuple<std::uint32_t, std::string, std::string>> seen;
    std::vector<cache_level> caches;
    std::set<std::uint64_t> packages;
    std::uint64_t max_khz = 0, base_khz = 0;
    for (const auto& [n, dir] : dirs) {
        std::error_code ec;
        for (fs::directory_iterator it(dir / "cache", ec), end; !ec && it != end;
             it.increment(ec)) {
            const fs::path index = it->path();
            if (index.filename().string().compare(0, 5, "index") != 0) {
                continue;
            }
            const auto level = read_number(index / "level");
            const auto type = read_text(index / "type");
            const auto size = read_text(index / "size");
            const auto bytes = size ? cache_size(*size) : std::nullopt;
            if (!level || !type || !bytes) {
                continue;
            }
            const std::string kind = cache_type(trim(*type));
            const std::string shared =
                read_text(index / "shared_cpu_list").value_or(fmt::format("cpu{}", n));
            if (seen.insert({static_cast<std::uint32_t>(*level), kind, trim(shared)}).second) {
                caches.push_back({static_cast<std::uint32_t>(*level), kind, *bytes, 1});
            }
        }
        if (const auto id = read_number(dir / "topology/physical_package_id")) {
            packages.insert(*id);
        }
        max_khz = std::max(max_khz, read_number(dir / "cpufreq/cpuinfo_max_freq").value_or(0));
        base_khz = std::max(base_khz, read_number(dir / "cpufreq/base_frequency").value_or(0));
    }
    const std::string of = fmt::format("of {} processors", dirs.size());
    if (dirs.empty()) {
        m.caches = decltype(m.caches)::missing("no processor in /sys/devices/system/cpu");
        m.packages = fact<std::uint32_t>::missing("no processor in /sys/devices/system/cpu");
    } else {
        m.caches =
            caches.empty()
                ? decltype(m.caches)::missing("no readable cache/index* " + of)
                : decltype(m.caches)::known(group_caches(caches),
                                            "/sys/devices/system/cpu/cpu*/cache/index* " + of);
        m.packages =
            packages.empty()
                ? fact<std::uint32_t>::missing("no readable topology/physical_package_id " + of)
                : fact<std::uint32_t>::known(
                      static_cast<std::uint32_t>(packages.size()),
                      "/sys/devices/system/cpu/cpu*/topology/physical_package_id " + of);
    }
    m.max_mhz = max_khz ? fact<std::uint32_t>::known(
                              static_cast<std::uint32_t>(max_khz / 1000),
                              "/sys/devices/system/cpu/cpu*/cpufreq/cpuinfo_max_freq (highest)")
                        : fact<std::uint32_t>::missing("no cpufreq cpuinfo_max_freq in sysfs");
    m.base_mhz = base_khz ? fact<std::uint32_t>::known(
                                static_cast<std::uint32_t>(base_khz / 1000),
                                "/sys/devices/system/cpu/cpu*/cpufreq/base_frequency (highest)")
                          : fact<std::uint32_t>::missing("no cpufreq base_frequency in sysfs");

    m.board = board_facts{
        .board_vendor = dmi(root, "board_vendor"),
        .board_name = dmi(root, "board_name"),
        .bios_vendor = dmi(root, "bios_vendor"),
        .bios_version = dmi(root, "bios_version"),
        .bios_date = dmi(root, "bios_date"),
        .sys_vendor = dmi(root, "sys_vendor"),
        .product_name = dmi(root, "product_name"),
    };
    return m;
}

std::string microcode_from_update_revision(const unsigned char* bytes, std::size_t size) {
    if (bytes == nullptr || size != 8) {
        return {};
    }
    std::uint32_t low = 0, high = 0;
    for (int i = 3; i >= 0; --i) {
        low = (low << 8) | bytes[i];
        high = (high << 8) | bytes[4 + i];
    }
    return fmt::format("{:#x}", high != 0 ? high : low);
}

} // namespace kestrix::results
