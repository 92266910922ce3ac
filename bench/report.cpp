// bench_report: every variant beside the measured memory roofline, in one run.
//
// The roofline is a bandwidth probe y[i] += s * x[i] over arrays far beyond the last-level
// cache: two streams read, one written back onto a line already read, 24 bytes per element,
// the same traffic mix as a half-step of the solver when two x-planes stay in cache (96 bytes
// per counted update). Each repetition measures probe, variant, probe, variant, ..., probe;
// a variant's fraction of the roofline is its rate over the mean of the two probes around it.
// The tables give medians over the repetitions, whose order of variants rotates.
#include "crew.hpp"
#include "driver/progress.hpp"
#include "driver/run_types.hpp"
#include "driver/timed_loop.hpp"
#include "platform/cpu.hpp"
#include "platform/isa.hpp"
#include "platform/memory.hpp"
#include "platform/timer.hpp"
#include "report_lib.hpp"
#include "report_stats.hpp"
#include "solver/family_table.hpp"
#include "solver/field.hpp"
#include "solver/solver.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <barrier>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kb = kestrix::bench;
using kestrix::field_grid;
using kestrix::solver;
using kestrix::bench::bytes_per_probe_element;
using kestrix::bench::bytes_per_update;
using kestrix::bench::crew;
using kestrix::bench::family_label;
using kestrix::bench::family_of_name;
using kestrix::bench::has_section;
using kestrix::bench::lane;
using kestrix::bench::now_seconds;
using kestrix::bench::one_per_family;
using kestrix::bench::options;
using kestrix::bench::pick_size;
using kestrix::bench::probe_pass;
using kestrix::bench::stencil_name;
using kestrix::bench::stencil_step;

namespace {

// The system's 1-minute load average: the report runs on shared machines, and a load above the
// processor count says that its figures include other people's work.
std::string load_average() {
    std::FILE* f = std::fopen("/proc/loadavg", "r");
    if (f == nullptr) {
        return "unknown";
    }
    char text[32] = {};
    const bool ok = std::fscanf(f, "%31s", text) == 1;
    std::fclose(f);
    return ok ? std::string(text) : "unknown";
}

void note(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fputc('\n', stderr);
}

std::string join_isas(const std::vector<std::string>& isas) {
    std::string out;
    for (const auto& s : isas) {
        out += (out.empty() ? "" : ",") + s;
    }
    return out;
}

// Steps per measurement for each variant, from its first warm-up step.
struct step_plan {
    std::map<std::string, std::uint64_t> steps;
    std::uint64_t get(crew& c, const std::string& isa, double min_time, bool large) {
        auto it = steps.find(isa);
        if (it != steps.end()) {
            return it->second;
        }
        double warm = 0.0;
        measure_kernels(c, isa, 0, large, warm);
        const std::uint64_t k = kb::steps_for(min_time, warm, 100000);
        steps[isa] = k;
        return k;
    }
};

struct main_row {
    std::vector<double> mgups;
    std::vector<double> roof; // roofline MGups around each measurement
};

using main_key = std::tuple<std::uint64_t, std::uint64_t, std::string>; // threads, N, isa

bool run_main(const options& o, std::map<main_key, main_row>& rows,
              std::map<std::uint64_t, std::vector<double>>& probe_gbs) {
    std::vector<std::string> order = o.isas;
    order.emplace_back(stencil_name);
    for (std::uint64_t t : o.threads) {
        crew c(t, o.pin);
        if (auto err = allocate_probe(c, o.probe_mib << 20)) {
            note(*err);
            return false;
        }
        measure_probe(c); // the first pass after the first touch is not counted
        for (std::uint64_t n : o.sizes) {
            if (auto err = build_grids(c, n, true, false)) {
                note(fmt::format("grid N = {} with {} threads: {}", n, t, *err));
                return false;
            }
            step_plan plan;
            for (std::uint64_t r = 0; r < o.reps; ++r) {
                note(fmt::format("main: {} thread(s), N = {}, repetition {}/{}", t, n, r + 1,
                                 o.reps));
                double before = measure_probe(c);
                probe_gbs[t].push_back(before / 1e9);
                for (std::size_t v = 0; v < order.size(); ++v) {
                    const std::string& isa = order[(v + r) % order.size()];
                    const std::uint64_t k = plan.get(c, isa, o.min_time, false);
                    double warm = 0.0;
                    const double rate = measure_kernels(c, isa, k, false, warm);
                    const double after = measure_probe(c);
                    probe_gbs[t].push_back(after / 1e9);
                    main_row& row = rows[{t, n, isa}];
                    row.mgups.push_back(rate);
                    row.roof.push_back((before + after) / 2.0 / bytes_per_update / 1e6);
                    before = after;
                }
            }
            release_grids(c);
        }
    }
    return true;
}

void print_main(const options& o, const std::map<main_key, main_row>& rows,
                const std::map<std::uint64_t, std::vector<double>>& probe_gbs) {
    fmt::print("\n## Bandwidth probe y[i] += s*x[i] ({} MiB in all, 24 B per element)\n\n",
               o.probe_mib);
    fmt::print("| threads | GB/s (median) | spread | roofline MGups at 96 B/update |\n");
    fmt::print("|---:|---:|---:|---:|\n");
    for (const auto& [t, values] : probe_gbs) {
        const double m = kb::median(values);
        fmt::print("| {} | {:.1f} | {:.0f} % | {:.0f} |\n", t, m,
                   100.0 * kb::relative_spread(values), m * 1e9 / bytes_per_update / 1e6);
    }
    fmt::print("\n## Variants beside the roofline (bare kernels, standing-wave fields)\n\n");
    fmt::print("| variant | N | threads | MGups | GB/s at 96 B | roofline MGups | % of roofline "
               "| spread |\n");
    fmt::print("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (std::uint64_t n : o.sizes) {
        for (std::uint64_t t : o.threads) {
            std::vector<std::string> names = o.isas;
            names.emplace_back(stencil_name);
            for (const auto& isa : names) {
                auto it = rows.find({t, n, isa});
                if (it == rows.end()) {
                    continue;
                }
                const main_row& row = it->second;
                const double m = kb::median(row.mgups);
                fmt::print("| {} | {} | {} | {:.0f} | {:.1f} | {:.0f} | {:.0f} % | {:.0f} % |\n",
                           isa, n, t, m, m * 1e6 * bytes_per_update / 1e9, kb::median(row.roof),
                           100.0 * kb::median_ratio(row.mgups, row.roof),
                           100.0 * kb::relative_spread(row.mgups));
            }
        }
    }

    fmt::print("\n## Targets (ratios of measurements taken in the same repetition)\n\n");
    auto ratio = [&](std::uint64_t t, std::uint64_t n, const std::string& a,
                     const std::string& b) -> std::optional<double> {
        auto ia = rows.find({t, n, a});
        auto ib = rows.find({t, n, b});
        if (ia == rows.end() || ib == rows.end()) {
            return std::nullopt;
        }
        return kb::median_ratio(ia->second.mgups, ib->second.mgups);
    };
    const std::uint64_t big = pick_size(o, 192, 0); // 0: not measured, no line
    for (std::uint64_t t : o.threads) {
        std::string worst;
        double lowest = 1e9;
        for (const auto& isa : o.isas) {
            auto it = rows.find({t, big, isa});
            if (it == rows.end()) {
                continue;
            }
            const double f = kb::median_ratio(it->second.mgups, it->second.roof);
            if (f < lowest) {
                lowest = f;
                worst = isa;
            }
        }
        if (!worst.empty()) {
            fmt::print("- N = {}, {} thread(s): lowest fraction of the roofline {:.0f} % ({}); "
                       "target 85 %: {}\n",
                       big, t, 100.0 * lowest, worst, lowest >= 0.85 ? "met" : "not met");
        }
    }
    const std::uint64_t small = pick_size(o, 64, 0);
    ;
    for (const char* fused : {"fma", "fma-apx", "avx512vl", "avx10-2-256"}) {
        if (auto r = ratio(1, small, fused, "sse2")) {
            fmt::print("- N = {}, 1 thread: {} / sse2 = {:.2f}; target 1.5: {}\n", small, fused, *r,
                       *r >= 1.5 ? "met" : "not met");
        }
    }
    if (auto r = ratio(1, small, "avx512f", "fma")) {
        fmt::print("- N = {}, 1 thread: avx512f / fma = {:.2f}; target 1.0: {}\n", small, *r,
                   *r >= 1.0 ? "met" : "not met");
    }
}

double (*energy_pass_of(const std::string& isa))(const field_grid&) {
    if (isa == "avx2") {
        return kestrix::avx2::total_energy;
    }
    return kestrix::family_code(family_of_name(isa)).total_energy;
}

// The soft Gaussian checks its ratio after every step with a full energy pass: its cost next
// to the step, on one thread.
void run_energy(const options& o) {
    crew c(1, o.pin);
    fmt::print("\n## Soft Gaussian: the full energy pass after every step (1 thread)\n\n");
    fmt::print("| variant | N | step ms | energy pass ms | pass / step | step rate kept |\n");
    fmt::print("|---|---:|---:|---:|---:|---:|\n");
    for (std::uint64_t n : o.sizes) {
        if (auto err = build_grids(c, n, true, false)) {
            note(*err);
            return;
        }
        step_plan plan;
        std::map<std::string, std::vector<double>> step_s;
        std::map<std::string, std::vector<double>> pass_s;
        for (std::uint64_t r = 0; r < o.reps; ++r) {
            note(fmt::format("energy: N = {}, repetition {}/{}", n, r + 1, o.reps));
            for (std::size_t v = 0; v < o.isas.size(); ++v) {
                const std::string& isa = o.isas[(v + r) % o.isas.size()];
                const std::uint64_t k = plan.get(c, isa, o.min_time / 2, false);
                double warm = 0.0;
                measure_kernels(c, isa, k, false, warm);
                step_s[isa].push_back(c.lanes()[0].seconds / static_cast<double>(k));
                auto pass = energy_pass_of(isa);
                c.run([pass, k](std::uint32_t, lane& l) {
                    volatile double sink = 0.0;
                    const double t0 = now_seconds();
                    for (std::uint64_t i = 0; i < k; ++i) {
                        sink = sink + pass(*l.normal.grid);
                    }
                    l.seconds = (now_seconds() - t0) / static_cast<double>(k);
                });
                pass_s[isa].push_back(c.lanes()[0].seconds);
            }
        }
        for (const auto& isa : o.isas) {
            const double ratio = kb::median_ratio(pass_s[isa], step_s[isa]);
            fmt::print("| {} | {} | {:.2f} | {:.2f} | {:.2f} | {:.0f} % |\n", isa, n,
                       1e3 * kb::median(step_s[isa]), 1e3 * kb::median(pass_s[isa]), ratio,
                       100.0 / (1.0 + ratio));
        }
        release_grids(c);
    }
}

// Standard output to the null device while the progress line is timed, so the report itself
// stays readable; the line is still formatted, written and flushed every step.
class quiet_stdout {
public:
    quiet_stdout() {
        std::fflush(stdout);
        saved_ = dup(1);
        const int null_fd = open("/dev/null", O_WRONLY);
        if (null_fd >= 0) {
            dup2(null_fd, 1);
            close(null_fd);
        }
    }
    ~quiet_stdout() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, 1);
            close(saved_);
        }
    }
    quiet_stdout(const quiet_stdout&) = delete;
    quiet_stdout& operator=(const quiet_stdout&) = delete;

private:
    int saved_ = -1;
};

// The program's own timed loop as its main worker runs it (progress line under the console
// lock, three virtual calls, one coarse-timer read and the slot update per step), capped at
// `steps` steps; seconds taken, or -1 when a step failed.
double timed_loop(solver& s, std::uint64_t steps, std::mutex& console,
                  std::vector<kestrix::progress_slot>& slots, const kestrix::coarse_timer& coarse) {
    static const std::function<std::uint64_t()> coarse_now = kestrix::coarse_timer_now;
    const std::stop_source stop;
    const double t0 = now_seconds();
    const kestrix::timed_loop_end end = kestrix::run_timed_loop(
        kestrix::timed_loop{.s = s,
                            .duration = 30,
                            .coarse_start = static_cast<std::int64_t>(coarse_now()),
                            .coarse = coarse,
                            .coarse_now = coarse_now,
                            .progress = slots,
                            .index = 0,
                            .is_main = true,
                            .console = console,
                            .sink = kestrix::process_console(),
                            .stop = stop,
                            .step_limit = steps});
    const double t = now_seconds() - t0;
    return end.error ? -1.0 : t;
}

void run_overhead(const options& o) {
    const std::uint64_t n = 64; // the edge the timed-loop target names
    fmt::print("\n## Timed loop over bare kernels: standing wave, N = {}, 1 thread\n\n", n);
    fmt::print("| variant | bare step ms | loop step ms | loop / bare - 1 | progress line us | "
               "node check us | measured extras / step |\n");
    fmt::print("|---|---:|---:|---:|---:|---:|---:|\n");
    crew c(1, o.pin);
    const kestrix::coarse_timer coarse = kestrix::probe_coarse_timer();
    for (const auto& isa : o.isas) {
        note(fmt::format("overhead: {}", isa));
        std::vector<double> bare;
        std::vector<double> loop;
        std::vector<double> progress_us;
        std::vector<double> check_us;
        c.run([&](std::uint32_t, lane& l) {
            std::unique_ptr<solver> s = kestrix::make_solver(kestrix::workload_kind::standing_wave,
                                                             *kestrix::parse_isa_name(isa), 0);
            if (s->allocate_fields({false, n, 0.01}) || s->init_fields()) {
                l.error = "solver setup failed";
                return;
            }
            field_grid& g = *kestrix::view_solver(*s).grid;
            const kestrix::family_entry& code = kestrix::family_code(family_of_name(isa));
            const double w0 = now_seconds();
            code.update_h(g);
            code.update_e(g);
            const std::uint64_t k = kb::steps_for(o.min_time, now_seconds() - w0, 100000);
            std::mutex console;
            std::vector<kestrix::progress_slot> slots(1);
            quiet_stdout quiet;
            auto run_bare = [&] {
                const double t0 = now_seconds();
                for (std::uint64_t i = 0; i < k; ++i) {
                    code.update_h(g);
                    code.update_e(g);
                }
                bare.push_back((now_seconds() - t0) / static_cast<double>(k));
            };
            for (std::uint64_t r = 0; r < o.reps; ++r) {
                // Alternate which comes first, so neither always follows the other.
                if (r % 2 == 0) {
                    run_bare();
                }
                const double t = timed_loop(*s, k, console, slots, coarse);
                if (t < 0.0) {
                    l.error = "timed loop failed";
                    return;
                }
                loop.push_back(t / static_cast<double>(k));
                if (r % 2 == 1) {
                    run_bare();
                }
                // The extras alone, many times over, for a figure that noise cannot hide.
                constexpr int calls = 2000;
                double p0 = now_seconds();
                for (int i = 0; i < calls; ++i) {
                    std::lock_guard lock(console);
                    kestrix::print_progress(kestrix::process_console(), 1, 30, slots);
                }
                progress_us.push_back((now_seconds() - p0) * 1e6 / calls);
                p0 = now_seconds();
                for (int i = 0; i < calls; ++i) {
                    if (s->pre_step(0) || s->post_step(0)) {
                        l.error = "node check failed";
                        return;
                    }
                }
                check_us.push_back((now_seconds() - p0) * 1e6 / calls);
            }
        });
        if (auto err = c.error()) {
            note(*err);
            return;
        }
        const double b = kb::median(bare);
        const double extras = (kb::median(progress_us) + kb::median(check_us)) * 1e-6;
        fmt::print("| {} | {:.3f} | {:.3f} | {:+.2f} % | {:.2f} | {:.2f} | {:.3f} % |\n", isa,
                   1e3 * b, 1e3 * kb::median(loop), 100.0 * (kb::median_ratio(loop, bare) - 1.0),
                   kb::median(progress_us), kb::median(check_us), 100.0 * extras / b);
    }
}

// The system's huge-page reservation, raised for the large-page section only and put back
// when it ends, so that the machine's other users see it changed for as short a time as
// possible.
class huge_page_reservation {
public:
    explicit huge_page_reservation(std::uint64_t extra) {
        before_ = read();
        if (before_ < 0) {
            return;
        }
        // Compaction first: a fragmented machine grants fewer pages than asked.
        write_value("/proc/sys/vm/compact_memory", 1);
        if (write_value(knob, before_ + static_cast<long>(extra))) {
            raised_ = true;
        }
        note(fmt::format("huge pages reserved: {} (were {})", read(), before_));
    }
    ~huge_page_reservation() {
        if (raised_) {
            write_value(knob, before_);
            note(fmt::format("huge pages back to {}", read()));
        }
    }
    huge_page_reservation(const huge_page_reservation&) = delete;
    huge_page_reservation& operator=(const huge_page_reservation&) = delete;

private:
    static constexpr const char* knob = "/proc/sys/vm/nr_hugepages";
    static long read() {
        std::FILE* f = std::fopen(knob, "r");
        if (f == nullptr) {
            return -1;
        }
        long v = -1;
        if (std::fscanf(f, "%ld", &v) != 1) {
            v = -1;
        }
        std::fclose(f);
        return v;
    }
    static bool write_value(const char* path, long v) {
        std::FILE* f = std::fopen(path, "w");
        if (f == nullptr) {
            return false;
        }
        const bool ok = std::fprintf(f, "%ld\n", v) > 0;
        return std::fclose(f) == 0 && ok;
    }
    long before_ = -1;
    bool raised_ = false;
};

void run_large(const options& o) {
    const std::vector<std::string> families = one_per_family(o.isas);
    const std::uint64_t n = o.large_size;
    const std::uint64_t page = kestrix::large_page_minimum();
    const std::uint64_t array_bytes = 32 * (n + 2) * (n + 2) * (n + 2);
    const std::uint64_t pages_per_thread =
        page == 0 ? 0 : 2 * (kestrix::round_to_large_page(array_bytes, page) / page);
    fmt::print("\n## Large pages at N = {} (bare kernels, same repetition)\n\n", n);
    std::optional<huge_page_reservation> reservation;
    if (o.reserve && page != 0) {
        reservation.emplace(
            pages_per_thread * *std::max_element(o.threads.begin(), o.threads.end()) + 8);
    }
    for (std::uint64_t t : o.threads) {
        crew c(t, o.pin);
        if (auto err = build_grids(c, n, true, true)) {
            fmt::print("{} thread(s): no large-page grid ({}); reserve at least {} huge pages of "
                       "{} KiB (as root: echo {} > /proc/sys/vm/nr_hugepages) and rerun\n\n",
                       t, *err, pages_per_thread * t, page / 1024, pages_per_thread * t);
            release_grids(c);
            continue;
        }
        if (t == o.threads.front()) {
            fmt::print("| variants (one kernel family) | threads | MGups 4 KiB pages | MGups large "
                       "pages | large / small |\n");
            fmt::print("|---|---:|---:|---:|---:|\n");
        }
        step_plan plan;
        std::map<std::string, std::vector<double>> small_rate;
        std::map<std::string, std::vector<double>> large_rate;
        for (std::uint64_t r = 0; r < o.reps; ++r) {
            note(fmt::format("large pages: {} thread(s), repetition {}/{}", t, r + 1, o.reps));
            for (std::size_t v = 0; v < families.size(); ++v) {
                const std::string& isa = families[(v + r) % families.size()];
                const std::uint64_t k = plan.get(c, isa, o.min_time, false);
                double warm = 0.0;
                // Alternate which comes first, so neither always follows the other.
                const bool large_first = (r + v) % 2 == 1;
                const double first = measure_kernels(c, isa, k, large_first, warm);
                const double second = measure_kernels(c, isa, k, !large_first, warm);
                small_rate[isa].push_back(large_first ? second : first);
                large_rate[isa].push_back(large_first ? first : second);
            }
        }
        for (const auto& isa : families) {
            fmt::print("| {} | {} | {:.0f} | {:.0f} | {:.3f} |\n", family_label(o, isa), t,
                       kb::median(small_rate[isa]), kb::median(large_rate[isa]),
                       kb::median_ratio(large_rate[isa], small_rate[isa]));
        }
        release_grids(c);
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    // Help wins over every other argument (run-report.sh may put one in front of it).
    if (std::any_of(args.begin(), args.end(),
                    [](std::string_view a) { return a == "--help" || a == "-h"; })) {
        std::fputs(kb::usage_text, stdout);
        return 0;
    }
    const auto parsed = kb::parse_options(
        args, static_cast<std::uint64_t>(std::max(1U, std::thread::hardware_concurrency())));
    if (!parsed) {
        std::fputs(kb::usage_text, stderr);
        return 1;
    }
    options o = *parsed;
    // Variants this processor cannot execute are left out, with their reason; when none is
    // left there is nothing to report.
    std::vector<std::string> runnable;
    for (const auto& isa : o.isas) {
        // The report steps both workloads' fields: what the soft Gaussian needs covers both.
        const std::optional<kestrix::isa_kind> kind = kestrix::parse_isa_name(isa);
        if (!kind) {
            note("left out " + isa + ": unknown isa");
        } else if (auto reason = kestrix::check_variant_runnable(
                       *kind, kestrix::workload_kind::soft_gaussian)) {
            note("left out " + isa + ": " + *reason);
        } else {
            runnable.push_back(isa);
        }
    }
    if (runnable.empty()) {
        note("no variant can execute on this processor");
        return 1;
    }
    o.isas = runnable;
    const double start = now_seconds();
    std::array<char, 64> date{};
    const std::time_t now = std::time(nullptr);
    std::strftime(date.data(), date.size(), "%Y-%m-%d %H:%M", std::localtime(&now));
    std::string threads;
    for (auto t : o.threads) {
        threads += threads.empty() ? "" : ",";
        threads += std::to_string(t);
    }
    std::string sizes;
    for (auto n : o.sizes) {
        sizes += sizes.empty() ? "" : ",";
        sizes += std::to_string(n);
    }
    fmt::print(
        "# kestrix bench report\n\n{}, {}, {} logical processors; {} repetitions of at "
        "least {:.2f} s per measurement; threads {}; edges {}; variants {}{}; load average {} at "
        "the start\n",
        kestrix::read_cpu_brand(), date.data(), std::thread::hardware_concurrency(), o.reps,
        o.min_time, threads, sizes, join_isas(o.isas), o.pin ? "; pinned" : "", load_average());
    std::fflush(stdout);

    if (has_section(o, "main")) {
        std::map<main_key, main_row> rows;
        std::map<std::uint64_t, std::vector<double>> probe_gbs;
        if (!run_main(o, rows, probe_gbs)) {
            return 1;
        }
        print_main(o, rows, probe_gbs);
        std::fflush(stdout);
    }
    if (has_section(o, "energy")) {
        run_energy(o);
        std::fflush(stdout);
    }
    if (has_section(o, "overhead")) {
        run_overhead(o);
        std::fflush(stdout);
    }
    if (has_section(o, "large")) {
        run_large(o);
    }
    fmt::print("\nreport took {:.0f} s; load average {} at the end\n", now_seconds() - start,
               load_average());
    return 0;
}
