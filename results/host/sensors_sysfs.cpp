// The Linux sensors, read below a root so that a recorded tree replays anywhere (tests replay
// the trees on every system, Windows included).
#include "fs_root.hpp"
#include "sensors.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif
#if defined(__x86_64__) || defined(_M_X64)
#ifdef _MSC_VER
#include <intrin.h>
#else
#include <x86intrin.h>
#endif
#endif

#include <fmt/format.h>

namespace kestrix::results {

namespace fs = std::filesystem;

namespace {
namespace sysfs_sensing {

constexpr std::uint64_t aperf_register = 0xE8;
constexpr std::uint64_t mperf_register = 0xE7;
// More than any kernel supports (NR_CPUS tops out at 8192): a bigger list is a corrupt file.
constexpr std::size_t most_processors = 65536;

std::string joined(const std::vector<std::string>& parts, std::string_view between) {
    std::string s;
    for (const std::string& p : parts) {
        s += (s.empty() ? "" : std::string(between)) + p;
    }
    return s;
}

template <class T> std::optional<T> number_in(std::string_view s) {
    T v{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc{} || end != s.data() + s.size()) {
        return std::nullopt;
    }
    return v;
}

template <class T> std::optional<T> number_at(const fs::path& p) {
    const file_text t = read_file_text(p);
    return t.text ? number_in<T>(trim(*t.text)) : std::nullopt;
}

std::string text_at(const fs::path& p) {
    const file_text t = read_file_text(p);
    return t.text ? trim(*t.text) : std::string();
}

// How the file is named on the machine the tree came from.
std::string shown(const fs::path& root, const fs::path& p) {
    return "/" + p.lexically_relative(root).generic_string();
}

// Why a sensor file gives no number, or empty when it does.
template <class T> std::string number_problem(const fs::path& root, const fs::path& p) {
    const file_text t = read_file_text(p);
    if (!t.text) {
        return unreadable(shown(root, p), t);
    }
    return number_in<T>(trim(*t.text)) ? std::string() : shown(root, p) + " holds no number";
}

// The entries `prefix` N `suffix` of a folder (hwmon3, temp2_input, intel-rapl:1), by N.
std::vector<std::pair<std::uint64_t, fs::path>>
numbered(const fs::path& dir, std::string_view prefix, std::string_view suffix = {}) {
    std::vector<std::pair<std::uint64_t, fs::path>> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() + suffix.size() ||
            name.compare(0, prefix.size(), prefix) ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix)) {
            continue;
        }
        const std::string_view digits = std::string_view(name).substr(
            prefix.size(), name.size() - prefix.size() - suffix.size());
        if (const auto n = number_in<std::uint64_t>(digits)) {
            found.emplace_back(*n, it->path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

// "0-3,8-11"; nothing when the text is not such a list.
std::optional<std::vector<int>> cpu_list(std::string_view s) {
    std::set<int> cpus;
    while (!s.empty()) {
        const auto comma = s.find(',');
        const std::string_view item = s.substr(0, comma);
        s = comma == std::string_view::npos ? std::string_view() : s.substr(comma + 1);
        const auto dash = item.find('-');
        const auto first = number_in<int>(item.substr(0, dash));
        const auto last =
            dash == std::string_view::npos ? first : number_in<int>(item.substr(dash + 1));
        if (!first || !last || *first < 0 || *last < *first ||
            static_cast<std::size_t>(*last - *first) + cpus.size() >= most_processors) {
            return std::nullopt;
        }
        for (int c = *first; c <= *last; ++c) {
            cpus.insert(c);
        }
    }
    if (cpus.empty()) {
        return std::nullopt;
    }
    return std::vector<int>(cpus.begin(), cpus.end());
}

struct cpuinfo_facts {
    std::vector<int> processors;
    std::map<int, double> mhz;
};

cpuinfo_facts read_cpuinfo(const fs::path& root) {
    cpuinfo_facts f;
    const file_text t = read_below(root, "/proc/cpuinfo");
    std::string_view text = t.text ? std::string_view(*t.text) : std::string_view();
    std::optional<int> current;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string key = trim(line.substr(0, colon));
        const std::string value = trim(line.substr(colon + 1));
        if (key == "processor") {
            current = number_in<int>(value);
            if (current && *current >= 0 && f.processors.size() < most_processors) {
                f.processors.push_back(*current);
            }
        } else if (key == "cpu MHz" && current) {
            if (const auto mhz = number_in<double>(value); mhz && std::isfinite(*mhz)) {
                f.mhz[*current] = *mhz;
            }
        }
    }
    std::sort(f.processors.begin(), f.processors.end());
    f.processors.erase(std::unique(f.processors.begin(), f.processors.end()), f.processors.end());
    return f;
}

// One processor's msr device, kept open between reads.
class msr_device {
public:
    msr_device() = default;
    msr_device(const msr_device&) = delete;
    msr_device& operator=(const msr_device&) = delete;
    msr_device(msr_device&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    ~msr_device() {
        if (fd_ >= 0) {
#ifdef _WIN32
            ::_close(fd_);
#else
            ::close(fd_);
#endif
        }
    }
    // 0, or the errno of the failure.
    int open(const fs::path& p) {
#ifdef _WIN32
        fd_ = ::_wopen(p.c_str(), _O_RDONLY | _O_BINARY);
#else
        fd_ = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
#endif
        return fd_ < 0 ? errno : 0;
    }
    // The register's 8 bytes at its own offset; 0 or the errno (EIO for a short read).
    int read(std::uint64_t reg, std::uint64_t& value) const {
        unsigned char bytes[8];
#ifdef _WIN32
        const bool whole = ::_lseeki64(fd_, static_cast<__int64>(reg), SEEK_SET) >= 0 &&
                           ::_read(fd_, bytes, sizeof bytes) == static_cast<int>(sizeof bytes);
#else
        errno = 0;
        const bool whole = ::pread(fd_, bytes, sizeof bytes, static_cast<off_t>(reg)) ==
                           static_cast<ssize_t>(sizeof bytes);
#endif
        if (!whole) {
            return errno != 0 ? errno : EIO;
        }
        std::memcpy(&value, bytes, sizeof value); // x86-64 is little-endian, like the file
        return 0;
    }

private:
    int fd_ = -1;
};

std::string msr_problem(const std::string& path, int err) {
    if (err == ENOENT || err == ENOTDIR) {
        return "no " + path + ": the msr module is not loaded";
    }
    const std::string why = std::strerror(err);
    if (err == EACCES || err == EPERM) {
        return why + ": the msr device is root-only";
    }
    if (err == EIO) {
        return why + ": the processor or hypervisor does not expose APERF/MPERF";
    }
    return path + ": " + why;
}

std::optional<std::uint64_t> time_stamp_counter() {
#if defined(__x86_64__) || defined(_M_X64)
    return __rdtsc();
#else
    return std::nullopt;
#endif
}

double seconds_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A cumulative counter whose resets and wraps are unwound: `total` only grows.
struct running_count {
    explicit running_count(fs::path file, std::uint64_t wraps = 0)
        : path(std::move(file)), wraps_at(wraps) {}

    fs::path path;
    std::uint64_t wraps_at; // 0: unknown, a smaller value counts from zero again
    std::optional<std::uint64_t> last;
    std::uint64_t total = 0;

    // False when the file gives no number this time; the next good look catches up.
    bool look() {
        const auto now = number_at<std::uint64_t>(path);
        if (!now) {
            return false;
        }
        if (last) {
            if (*now >= *last) {
                total += *now - *last;
            } else {
                total += (wraps_at > *last ? wraps_at - *last : 0) + *now;
            }
        }
        last = now;
        return true;
    }
};

bool is_temperature_chip(const std::string& name) {
    return name == "k10temp" || name == "coretemp" || name == "zenpower";
}

class sysfs_reader final : public sensor_reader {
public:
    sysfs_reader(fs::path root, sysfs_sensor_options options) : root_(std::move(root)) {
        find_processors();
        find_clock(options);
        find_temperature();
        find_power();
        find_throttle();
    }

    const sensor_status& status() const override { return status_; }

    sensor_reading read() override {
        sensor_reading r;
        try {
            r.clock_mhz.assign(cpus_.size(), std::nullopt);
            read_clock(r);
            read_temperature(r);
            read_power(r);
            read_throttle(r);
        } catch (...) {
            // Only an exhausted memory gets here: a partial reading is still a reading.
        }
        return r;
    }

private:
    enum class clock_kind { none, msr, cpufreq, cpuinfo };

    fs::path cpu_dir(int n) const { return root_ / fmt::format("sys/devices/system/cpu/cpu{}", n); }

    void find_processors() {
        const file_text online = read_below(root_, "/sys/devices/system/cpu/online");
        if (auto list = online.text ? cpu_list(trim(*online.text)) : std::nullopt) {
            cpus_ = std::move(*list);
        } else {
            cpus_ = read_cpuinfo(root_).processors;
        }
        status_.logical_processors = cpus_.size();
    }

    // Empty when every processor's APERF and MPERF can be read.
    std::string open_msr(const sysfs_sensor_options& options) {
        if (options.tsc_hz) {
            tsc_given_ = options.tsc_hz();
            if (tsc_given_ && !(std::isfinite(*tsc_given_) && *tsc_given_ > 0)) {
                tsc_given_.reset();
            }
        }
        for (int cpu : cpus_) {
            const std::string path = fmt::format("/dev/cpu/{}/msr", cpu);
            msr_device d;
            std::uint64_t v = 0;
            int err = d.open(root_ / path.substr(1));
            if (err == 0 && (err = d.read(aperf_register, v)) == 0) {
                err = d.read(mperf_register, v);
            }
            if (err != 0) {
                msr_.clear();
                return msr_problem(path, err);
            }
            msr_.push_back(std::move(d));
        }
        if (!tsc_given_ && !time_stamp_counter()) {
            msr_.clear();
            return "the time-stamp counter's rate is known only on x86-64";
        }
        return {};
    }

    void find_clock(const sysfs_sensor_options& options) {
        if (cpus_.empty()) {
            status_.clock.unavailable = "no processor in /sys/devices/system/cpu/online or "
                                        "/proc/cpuinfo";
            return;
        }
        std::vector<std::string> why;
        std::string msr_why = open_msr(options);
        if (msr_why.empty()) {
            clock_ = clock_kind::msr;
            status_.clock_label = "effective";
            status_.clock.source = "/dev/cpu/*/msr (APERF/MPERF)";
            msr_counts_.assign(cpus_.size(), std::nullopt);
            return;
        }
        why.push_back(std::move(msr_why));
        std::string cpufreq_problem;
        for (int cpu : cpus_) {
            const fs::path p = cpu_dir(cpu) / "cpufreq/scaling_cur_freq";
            std::string problem = number_problem<std::uint64_t>(root_, p);
            if (problem.empty()) {
                clock_ = clock_kind::cpufreq;
            } else if (cpufreq_problem.empty() && !read_file_text(p).missing) {
                cpufreq_problem = std::move(problem);
            }
        }
        if (clock_ == clock_kind::cpufreq) {
            status_.clock_label = "requested";
            status_.clock.source = "/sys/devices/system/cpu/cpu*/cpufreq/scaling_cur_freq";
            status_.clock.note = joined(why, "; ");
            return;
        }
        why.push_back(cpufreq_problem.empty() ? "no cpufreq scaling_cur_freq" : cpufreq_problem);
        const cpuinfo_facts info = read_cpuinfo(root_);
        if (std::none_of(cpus_.begin(), cpus_.end(), [&](int c) { return info.mhz.count(c); })) {
            why.push_back("no \"cpu MHz\" in /proc/cpuinfo");
            status_.clock.unavailable = joined(why, "; ");
            return;
        }
        clock_ = clock_kind::cpuinfo;
        status_.clock_label = "reported";
        status_.clock.source = "/proc/cpuinfo cpu MHz";
        if (options.hypervisor) {
            why.insert(why.begin(),
                       "under a hypervisor this is the nominal clock, not the one reached");
        }
        status_.clock.note = joined(why, "; ");
    }

    void read_clock(sensor_reading& r) {
        switch (clock_) {
        case clock_kind::none:
            return;
        case clock_kind::msr:
            return read_effective_clock(r);
        case clock_kind::cpufreq:
            for (std::size_t i = 0; i < cpus_.size(); ++i) {
                const auto khz =
                    number_at<std::uint64_t>(cpu_dir(cpus_[i]) / "cpufreq/scaling_cur_freq");
                if (khz) {
                    r.clock_mhz[i] = static_cast<double>(*khz) / 1000.0;
                }
            }
            return;
        case clock_kind::cpuinfo: {
            const cpuinfo_facts info = read_cpuinfo(root_);
            for (std::size_t i = 0; i < cpus_.size(); ++i) {
                if (const auto it = info.mhz.find(cpus_[i]); it != info.mhz.end()) {
                    r.clock_mhz[i] = it->second;
                }
            }
            return;
        }
        }
    }

    void read_effective_clock(sensor_reading& r) {
        std::optional<double> tsc_hz = tsc_given_;
        if (!tsc_hz) {
            // The counter's rate against the steady clock since the first read.
            const std::uint64_t tsc = time_stamp_counter().value_or(0);
            const double now = seconds_now();
            if (!tsc_start_) {
                tsc_start_ = {tsc, now};
            } else if (now > tsc_start_->second) {
                tsc_hz = static_cast<double>(tsc - tsc_start_->first) / (now - tsc_start_->second);
            }
        }
        for (std::size_t i = 0; i < cpus_.size(); ++i) {
            std::uint64_t aperf = 0, mperf = 0;
            if (msr_[i].read(aperf_register, aperf) != 0 ||
                msr_[i].read(mperf_register, mperf) != 0) {
                msr_counts_[i].reset();
                continue;
            }
            if (const auto& before = msr_counts_[i]; before && tsc_hz) {
                const std::uint64_t d_aperf = aperf - before->first; // wraps unwind by themselves
                const std::uint64_t d_mperf = mperf - before->second;
                if (d_mperf != 0) {
                    r.clock_mhz[i] =
                        static_cast<double>(d_aperf) / static_cast<double>(d_mperf) * *tsc_hz / 1e6;
                }
            }
            msr_counts_[i] = {aperf, mperf};
        }
    }

    void find_temperature() {
        std::vector<std::string> chips;
        std::string problem;
        std::size_t count = 0;
        for (const auto& [n, dir] : numbered(root_ / "sys/class/hwmon", "hwmon")) {
            const std::string name = text_at(dir / "name");
            if (!is_temperature_chip(name)) {
                continue;
            }
            std::vector<std::pair<std::string, fs::path>> sensors;
            for (const auto& [i, input] : numbered(dir, "temp", "_input")) {
                if (std::string why = number_problem<std::int64_t>(root_, input); !why.empty()) {
                    problem = problem.empty() ? why : problem;
                    continue;
                }
                std::string label = text_at(dir / fmt::format("temp{}_label", i));
                sensors.emplace_back(label.empty() ? fmt::format("temp{}", i) : label, input);
            }
            // Older k10temp, and zenpower, give Tdie beside a Tctl that carries a fan-control
            // offset of up to 27 degrees: the hottest would then be that offset, not the die.
            const auto labelled = [](const char* l) {
                return [l](const auto& s) { return s.first == l; };
            };
            if (std::any_of(sensors.begin(), sensors.end(), labelled("Tdie"))) {
                sensors.erase(std::remove_if(sensors.begin(), sensors.end(), labelled("Tctl")),
                              sensors.end());
            }
            if (sensors.empty()) {
                continue;
            }
            std::vector<std::string> labels;
            for (auto& [label, input] : sensors) {
                labels.push_back(label);
                temperatures_.push_back(input);
            }
            count += labels.size();
            chips.push_back("hwmon " + name + " " + joined(labels, ", "));
        }
        if (temperatures_.empty()) {
            for (const char* type : {"x86_pkg_temp", "acpitz"}) {
                for (const auto& [n, zone] :
                     numbered(root_ / "sys/class/thermal", "thermal_zone")) {
                    if (text_at(zone / "type") != type) {
                        continue;
                    }
                    if (std::string why = number_problem<std::int64_t>(root_, zone / "temp");
                        !why.empty()) {
                        problem = problem.empty() ? why : problem;
                        continue;
                    }
                    temperatures_.push_back(zone / "temp");
                    chips.push_back(fmt::format("thermal_zone{} {}", n, type));
                    ++count;
                }
                if (!temperatures_.empty()) {
                    break;
                }
            }
        }
        if (temperatures_.empty()) {
            status_.temperature.unavailable =
                !problem.empty() ? problem
                                 : "no hwmon k10temp, coretemp or zenpower and no thermal zone "
                                   "x86_pkg_temp or acpitz";
            return;
        }
        status_.temperature.source = (count > 1 ? "the hottest of " : "") + joined(chips, "; ");
    }

    void read_temperature(sensor_reading& r) {
        for (const fs::path& p : temperatures_) {
            if (const auto milli = number_at<std::int64_t>(p)) {
                const double c = static_cast<double>(*milli) / 1000.0;
                r.temperature_c = std::max(r.temperature_c.value_or(c), c);
            }
        }
    }

    // Powercap's package domains: "intel-rapl:N" at the top level, named "package-N" (AMD's
    // too). Their subdomains (core, uncore, dram) are parts of the package, and psys is the
    // whole platform: neither adds to the packages.
    std::string find_rapl() {
        const fs::path powercap = root_ / "sys/class/powercap";
        std::vector<std::string> names;
        for (const auto& [n, dir] : numbered(powercap, "intel-rapl:")) {
            const std::string name = text_at(dir / "name");
            if (name.compare(0, 8, "package-") != 0) {
                continue;
            }
            const fs::path energy = dir / "energy_uj";
            const file_text t = read_file_text(energy);
            if (!t.text && t.error == std::strerror(EACCES)) {
                return unreadable(shown(root_, energy), t) + " (root only since 2020 kernels)";
            }
            if (std::string why = number_problem<std::uint64_t>(root_, energy); !why.empty()) {
                return why;
            }
            energy_.emplace_back(energy,
                                 number_at<std::uint64_t>(dir / "max_energy_range_uj").value_or(0));
            names.push_back(fmt::format("intel-rapl:{} {}", n, name));
        }
        if (!energy_.empty()) {
            status_.power.source = "powercap " + joined(names, " + ") + " energy_uj";
        }
        return {};
    }

    // Processor chips that hwmon gives energy (amd_energy, per core and per socket: the sockets
    // only) or power (zenpower's core and SoC rails, fam15h_power) for.
    void find_hwmon_power() {
        std::vector<std::string> parts;
        for (const auto& [n, dir] : numbered(root_ / "sys/class/hwmon", "hwmon")) {
            const std::string name = text_at(dir / "name");
            if (name != "amd_energy") {
                continue;
            }
            std::vector<std::pair<std::string, fs::path>> inputs;
            for (const auto& [i, input] : numbered(dir, "energy", "_input")) {
                if (number_problem<std::uint64_t>(root_, input).empty()) {
                    inputs.emplace_back(text_at(dir / fmt::format("energy{}_label", i)), input);
                }
            }
            const bool sockets = std::any_of(inputs.begin(), inputs.end(), [](const auto& in) {
                return in.first.compare(0, 7, "Esocket") == 0;
            });
            for (const auto& [label, input] : inputs) {
                if (!sockets || label.compare(0, 7, "Esocket") == 0) {
                    energy_.emplace_back(input);
                    parts.push_back(shown(root_, input));
                }
            }
        }
        if (!energy_.empty()) {
            status_.power.source = "hwmon amd_energy " + joined(parts, " + ");
            return;
        }
        for (const auto& [n, dir] : numbered(root_ / "sys/class/hwmon", "hwmon")) {
            const std::string name = text_at(dir / "name");
            if (name != "zenpower" && name != "fam15h_power") {
                continue;
            }
            std::set<std::uint64_t> rails;
            for (const char* kind : {"_input", "_average"}) {
                for (const auto& [i, input] : numbered(dir, "power", kind)) {
                    if (!rails.count(i) && number_problem<std::uint64_t>(root_, input).empty()) {
                        rails.insert(i);
                        power_.push_back(input);
                        parts.push_back(shown(root_, input));
                    }
                }
            }
        }
        if (!power_.empty()) {
            status_.power.source = "hwmon " + joined(parts, " + ");
        }
    }

    void find_power() {
        const std::string rapl_problem = find_rapl();
        if (energy_.empty()) {
            find_hwmon_power();
        }
        if (status_.power.found()) {
            if (!rapl_problem.empty()) {
                status_.power.note = rapl_problem;
            }
            return;
        }
        status_.power.unavailable =
            !rapl_problem.empty() ? rapl_problem
                                  : "no powercap intel-rapl package domain and no hwmon energy or "
                                    "power input of the processor";
    }

    void read_power(sensor_reading& r) {
        if (!energy_.empty()) {
            bool all = true;
            std::uint64_t micro = 0;
            for (running_count& c : energy_) {
                all = c.look() && all;
                micro += c.total;
            }
            if (all) {
                r.energy_j = static_cast<double>(micro) / 1e6;
            }
        } else if (!power_.empty()) {
            double micro = 0;
            for (const fs::path& p : power_) {
                const auto uw = number_at<std::uint64_t>(p);
                if (!uw) {
                    return;
                }
                micro += static_cast<double>(*uw);
            }
            r.power_w = micro / 1e6;
        }
    }

    // Every processor of a core sees its core's counter, and every processor of a package the
    // package's: each is counted once.
    void find_throttle() {
        std::set<std::pair<std::int64_t, std::int64_t>> cores;
        std::set<std::int64_t> packages;
        std::string problem;
        std::size_t throttle_cores = 0;
        const auto take = [&](const fs::path& p) {
            if (std::string why = number_problem<std::uint64_t>(root_, p); why.empty()) {
                throttle_.emplace_back(p);
                throttle_cores += p.filename() == "core_throttle_count";
            } else if (problem.empty() && !read_file_text(p).missing) {
                problem = std::move(why);
            }
        };
        for (int cpu : cpus_) {
            const fs::path dir = cpu_dir(cpu);
            const auto package =
                number_at<std::int64_t>(dir / "topology/physical_package_id").value_or(-1);
            const auto core = number_at<std::int64_t>(dir / "topology/core_id").value_or(-1 - cpu);
            if (cores.insert({package, core}).second) {
                take(dir / "thermal_throttle/core_throttle_count");
            }
            if (packages.insert(package).second) {
                take(dir / "thermal_throttle/package_throttle_count");
            }
        }
        if (throttle_.empty()) {
            status_.throttle.unavailable =
                !problem.empty() ? problem
                                 : "no thermal_throttle counters in /sys/devices/system/cpu/cpu*";
            return;
        }
        status_.throttle.source = fmt::format(
            "/sys/devices/system/cpu/cpu*/thermal_throttle: {} core and {} package counters",
            throttle_cores, throttle_.size() - throttle_cores);
    }

    void read_throttle(sensor_reading& r) {
        if (throttle_.empty()) {
            return;
        }
        std::uint64_t events = 0;
        for (running_count& c : throttle_) {
            c.look(); // a counter that cannot be read this time counts what it had
            events += c.total;
        }
        r.throttle_events = events;
    }

    fs::path root_;
    sensor_status status_;
    std::vector<int> cpus_;
    clock_kind clock_ = clock_kind::none;
    std::vector<msr_device> msr_;
    std::vector<std::optional<std::pair<std::uint64_t, std::uint64_t>>> msr_counts_;
    std::optional<double> tsc_given_;
    std::optional<std::pair<std::uint64_t, double>> tsc_start_;
    std::vector<fs::path> temperatures_;
    std::vector<running_count> energy_; // µJ
    std::vector<fs::path> power_;       // µW
    std::vector<running_count> throttle_;
};

// Where nothing can even be looked at: every series says so.
class no_sensors final : public sensor_reader {
public:
    explicit no_sensors(const std::string& why) {
        for (sensor_source* s :
             {&status_.clock, &status_.temperature, &status_.power, &status_.throttle}) {
            s->unavailable = why;
        }
    }
    const sensor_status& status() const override { return status_; }
    sensor_reading read() override { return {}; }

private:
    sensor_status status_;
};

} // namespace sysfs_sensing
} // namespace

std::unique_ptr<sensor_reader> open_sysfs_sensors(const std::filesystem::path& root,
                                                  sysfs_sensor_options options) {
    try {
        return std::make_unique<sysfs_sensing::sysfs_reader>(root, std::move(options));
    } catch (const std::exception& e) {
        return std::make_unique<sysfs_sensing::no_sensors>(
            std::string("the sensors could not be looked at: ") + e.what());
    }
}

} // namespace kestrix::results
