#include "conditions.hpp"

#include "fs_root.hpp"
#include "machine_facts.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include <fmt/format.h>

namespace kestrix::results {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view cpu_dir = "/sys/devices/system/cpu";

template <class T> condition<T> known(T v, std::string from) {
    condition<T> c;
    c.value = std::move(v);
    c.source = std::move(from);
    return c;
}

template <class T> condition<T> missing(std::string why) {
    condition<T> c;
    c.unavailable = std::move(why);
    return c;
}

std::optional<std::uint64_t> number(const std::string& t) {
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc{} || end != t.data() + t.size()) {
        return std::nullopt;
    }
    return v;
}

// One file per processor (cpufreq/scaling_governor): each value and how many have it.
condition<per_processor> per_cpu(const fs::path& root, const std::string& file) {
    const auto dirs = processor_dirs(root / cpu_dir.substr(1));
    per_processor values;
    std::uint64_t read = 0;
    std::string refused;
    for (const auto& [n, dir] : dirs) {
        const file_text t = read_file_text(dir / file);
        if (t.text) {
            ++values[trim(*t.text)];
            ++read;
        } else if (!t.missing && refused.empty()) {
            refused = unreadable(fmt::format("{}/cpu{}/{}", cpu_dir, n, file), t);
        }
    }
    if (read == 0) {
        return missing<per_processor>(
            !refused.empty() ? refused
            : dirs.empty()   ? fmt::format("no processor in {}", cpu_dir)
                             : fmt::format("no processor has {}/cpu*/{}", cpu_dir, file));
    }
    return known(std::move(values),
                 fmt::format("{}/cpu*/{} ({} of {} processors)", cpu_dir, file, read, dirs.size()));
}

condition<std::string> frequency_driver(const fs::path& root) {
    const condition<per_processor> drivers = per_cpu(root, "cpufreq/scaling_driver");
    if (!drivers.value) {
        const bool none = drivers.unavailable->rfind("no processor has", 0) == 0;
        return missing<std::string>(none ? "no processor has /sys/devices/system/cpu/cpu*/cpufreq/"
                                           "scaling_driver: no frequency driver is loaded (usual "
                                           "in virtual machines)"
                                         : *drivers.unavailable);
    }
    // One driver serves the whole machine.
    return known(drivers.value->begin()->first, *drivers.source);
}

// intel_pstate's switch first, then the cpufreq core's global and per-policy ones.
condition<bool> turbo(const fs::path& root) {
    std::string refused;
    for (const char* path : {"/sys/devices/system/cpu/intel_pstate/no_turbo",
                             "/sys/devices/system/cpu/cpufreq/boost"}) {
        const file_text t = read_below(root, path);
        if (!t.text) {
            if (!t.missing && refused.empty()) {
                refused = unreadable(path, t);
            }
            continue;
        }
        const auto v = number(trim(*t.text));
        if (!v || *v > 1) {
            return missing<bool>(fmt::format("{} holds \"{}\"", path, trim(*t.text)));
        }
        const bool no_turbo = std::string_view(path).ends_with("no_turbo");
        return known(no_turbo ? *v == 0 : *v == 1, path);
    }
    const condition<per_processor> boost = per_cpu(root, "cpufreq/boost");
    if (boost.value) {
        return known(!boost.value->contains("0"), *boost.source);
    }
    if (!refused.empty()) {
        return missing<bool>(refused);
    }
    return missing<bool>("no intel_pstate/no_turbo or cpufreq/boost in /sys/devices/system/cpu: "
                         "no turbo switch to read");
}

condition<std::string> smt(const fs::path& root) {
    const char* control = "/sys/devices/system/cpu/smt/control";
    const char* active = "/sys/devices/system/cpu/smt/active";
    const file_text c = read_below(root, control);
    if (c.text) {
        return known(trim(*c.text), control);
    }
    const file_text a = read_below(root, active);
    if (a.text) {
        const std::string v = trim(*a.text);
        if (v == "0" || v == "1") {
            return known(std::string(v == "1" ? "on" : "off"), active);
        }
    }
    if (!c.missing) {
        return missing<std::string>(unreadable(control, c));
    }
    return missing<std::string>("no /sys/devices/system/cpu/smt: the kernel has no SMT control");
}

// "always [madvise] never": the word in brackets.
condition<std::string> huge_pages(const fs::path& root) {
    const char* path = "/sys/kernel/mm/transparent_hugepage/enabled";
    const file_text t = read_below(root, path);
    if (!t.text) {
        return missing<std::string>(unreadable(path, t));
    }
    const auto open = t.text->find('['), close = t.text->find(']');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return missing<std::string>(fmt::format("{} holds \"{}\"", path, trim(*t.text)));
    }
    return known(t.text->substr(open + 1, close - open - 1), path);
}

// A connected mains or USB supply wins; else a system battery that discharges.
condition<bool> on_battery(const fs::path& root) {
    const std::string dir = "/sys/class/power_supply";
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(root / dir.substr(1), ec), end; !ec && it != end;
         it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    if (ec && names.empty()) {
        return missing<bool>(fmt::format("could not read {}: {}", dir, ec.message()));
    }
    std::sort(names.begin(), names.end());
    std::optional<condition<bool>> battery;
    std::string refused;
    for (const std::string& name : names) {
        const std::string base = dir + "/" + name;
        const file_text type = read_below(root, base + "/type");
        const std::string kind = type.text ? trim(*type.text) : "";
        if (kind == "Mains" || kind == "USB") {
            const file_text online = read_below(root, base + "/online");
            if (online.text && trim(*online.text) == "1") {
                return known(false, base + "/online");
            }
        } else if (kind == "Battery") {
            // A mouse's or a headset's battery says "Device".
            const file_text scope = read_below(root, base + "/scope");
            if (scope.text && trim(*scope.text) == "Device") {
                continue;
            }
            const file_text status = read_below(root, base + "/status");
            if (!status.text) {
                refused = unreadable(base + "/status", status);
            } else if (trim(*status.text) == "Discharging") {
                battery = known(true, base + "/status");
            } else if (!battery) {
                battery = known(false, fmt::format("{}/status ({})", base, trim(*status.text)));
            }
        }
    }
    if (battery && *battery->value) {
        return *battery;
    }
    if (!refused.empty()) {
        return missing<bool>(refused);
    }
    if (battery) {
        return *battery;
    }
    return known(false, dir + ": no system battery");
}

std::string count_of(const per_processor& values, const std::string& v) {
    std::uint64_t n = 0, all = 0;
    for (const auto& [value, count] : values) {
        all += count;
        n += value == v ? count : 0;
    }
    return n == all ? "every processor" : fmt::format("{} of {} processors", n, all);
}

} // namespace

run_conditions read_sysfs_conditions(const fs::path& root) {
    run_conditions c;
    c.frequency_driver = frequency_driver(root);
    c.governor = per_cpu(root, "cpufreq/scaling_governor");
    c.energy_performance_preference = per_cpu(root, "cpufreq/energy_performance_preference");
    c.turbo = turbo(root);
    c.smt = smt(root);
    c.on_battery = on_battery(root);
    c.transparent_huge_pages = huge_pages(root);
    return c;
}

std::optional<cpu_times> parse_proc_stat(std::string_view text) {
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        if (name != "cpu") {
            continue;
        }
        // user nice system idle iowait irq softirq steal (older kernels stop earlier)
        std::uint64_t v[8] = {};
        int n = 0;
        while (n < 8 && fields >> v[n]) {
            ++n;
        }
        if (n < 4) {
            return std::nullopt;
        }
        return cpu_times{v[0] + v[1] + v[2] + v[5] + v[6] + v[7], v[7]};
    }
    return std::nullopt;
}

condition<load_figures> load_between(const load_sample& first, const load_sample& second,
                                     double ticks_per_s) {
    if (!first.system || !second.system) {
        return missing<load_figures>(!first.system ? first.why : second.why);
    }
    const double window = second.at_s - first.at_s;
    if (window <= 0 || ticks_per_s <= 0 || second.system->busy < first.system->busy ||
        second.system->steal < first.system->steal) {
        return missing<load_figures>("/proc/stat went backwards during the measurement");
    }
    const double busy_s =
        static_cast<double>(second.system->busy - first.system->busy) / ticks_per_s;
    const double steal_s =
        static_cast<double>(second.system->steal - first.system->steal) / ticks_per_s;
    // The clock ticks are coarse: a busy program alone can read slightly above its own time.
    const double other_s = std::max(0.0, busy_s - (second.own_cpu_s - first.own_cpu_s));
    load_figures f{.other_busy_percent = 100 * other_s / window,
                   .steal_percent = 100 * steal_s / window,
                   .window_s = window};
    return known(f, fmt::format("/proc/stat over {:.2f} s before the start, less this program's "
                                "own processor time",
                                window));
}

condition<bool> hypervisor_condition(const cpu_identity& cpu) {
    if (!cpu.hypervisor_present.value) {
        return missing<bool>(cpu.hypervisor_present.unavailable);
    }
    condition<bool> c = known(*cpu.hypervisor_present.value, cpu.hypervisor_present.source);
    if (*c.value) {
        const std::string name = cpu.hypervisor.value && !trim(*cpu.hypervisor.value).empty()
                                     ? " (" + trim(*cpu.hypervisor.value) + ")"
                                     : "";
        c.warning = "running under a hypervisor" + name +
                    ": other guests can take processor time, the score may be noisy";
    }
    return c;
}

void add_warnings(run_conditions& c) {
    if (const auto& load = c.other_load.value;
        load && load->other_busy_percent > other_load_limit_percent) {
        c.other_load.warning =
            fmt::format("other processes kept {:.0f} % of one processor busy in the second before "
                        "the start (steal time {:.0f} %), the score may be low and noisy",
                        load->other_busy_percent, load->steal_percent);
    }
    // Under an active intel_pstate or amd-pstate, "powersave" is their usual dynamic mode; under
    // any other driver it holds the lowest clock.
    const std::string driver = c.frequency_driver.value.value_or("");
    const bool own_governors = driver == "intel_pstate" || driver == "amd-pstate-epp";
    if (const auto& g = c.governor.value; g && g->contains("powersave") && !own_governors) {
        c.governor.warning = fmt::format(
            "the powersave governor holds {} at its lowest clock{}, the score may be low",
            count_of(*g, "powersave"), driver.empty() ? "" : " (" + driver + ")");
    }
    if (const auto& e = c.energy_performance_preference.value) {
        for (const char* low : {"power", "balance_power"}) {
            if (e->contains(low)) {
                c.energy_performance_preference.warning =
                    fmt::format("the energy-performance preference is {} on {}: the processors "
                                "favour saving power, the score may be low",
                                low, count_of(*e, low));
                break;
            }
        }
    }
    if (c.turbo.value == false) {
        const bool intel = c.turbo.source->find("no_turbo") != std::string::npos;
        c.turbo.warning =
            fmt::format("{} is switched off, the score may be low", intel ? "turbo" : "boost");
    }
    if (c.smt.value == "off" || c.smt.value == "forceoff") {
        c.smt.warning = "simultaneous multithreading is switched off (" + *c.smt.value +
                        "): one logical processor per core, the score may be lower than this "
                        "processor can reach";
    }
    if (c.on_battery.value == true) {
        c.on_battery.warning = "running on battery: the processors may be held at a lower clock, "
                               "the score may be low";
    }
}

conditions_check::conditions_check(fs::path root)
    : root_(std::move(root)), start_(take_load_sample(root_)) {}

run_conditions conditions_check::finish() const {
    // The rest of the window, when the work since the start took less than a second; no wait
    // where the system's times cannot be read at all.
    const double left = 1.0 - (take_load_sample(root_).at_s - start_.at_s);
    if (left > 0 && start_.system) {
        std::this_thread::sleep_for(std::chrono::duration<double>(left));
    }
    const load_sample end = take_load_sample(root_);
    run_conditions c = read_system_conditions(root_);
    c.other_load = load_between(start_, end, clock_ticks_per_second());
    c.hypervisor = hypervisor_condition(decode_cpu_identity(take_cpuid_snapshot(host_cpuid())));
    add_warnings(c);
    return c;
}

} // namespace kestrix::results
