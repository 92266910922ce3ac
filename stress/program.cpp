#include "stress/program.hpp"

#include "stress/options.hpp"
#include "stress/record.hpp"
#include "stress/system.hpp"

#include "console/output.hpp"
#include "platform/cpu.hpp"
#include "platform/interrupt.hpp"
#include "platform/memory.hpp"
#include "platform/os.hpp"

#include <kestrix/version.hpp>

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <mutex>

#include <fmt/format.h>

namespace kestrix::stress {

namespace {

constexpr int exit_usage = 2;

std::string join_isas(const std::vector<isa_kind>& v, std::string_view sep) {
    std::string text;
    for (isa_kind isa : v) {
        if (!text.empty()) {
            text += sep;
        }
        text += isa_names[static_cast<std::size_t>(isa)];
    }
    return text;
}

// 0-3,8,10-11
std::string join_numbers(const std::vector<std::uint32_t>& v) {
    std::string text;
    for (std::size_t i = 0; i < v.size();) {
        std::size_t j = i;
        while (j + 1 < v.size() && v[j + 1] == v[j] + 1) {
            ++j;
        }
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(v[i]);
        if (j > i) {
            text += (j == i + 1 ? ',' : '-') + std::to_string(v[j]);
        }
        i = j + 1;
    }
    return text;
}

const char* workload_text(workload_kind w) {
    return w == workload_kind::standing_wave ? "standing_wave" : "soft_gaussian";
}

std::string duration_text(double seconds) {
    return format_duration(static_cast<std::uint64_t>(seconds + 0.5));
}

int usage_error(std::string_view text) {
    write_line(stream::err, fmt::format("kestrix-stress: {}", text));
    return exit_usage;
}

} // namespace

processor_choice choose_processors(const cpu_topology& t,
                                   const std::optional<std::vector<std::uint32_t>>& named,
                                   bool smt) {
    std::map<std::uint32_t, logical> allowed;
    std::vector<logical> firsts;
    for (const numa_node& n : t.numa_nodes) {
        for (const llc& l : n.llcs) {
            for (const core& c : l.cores) {
                for (std::size_t i = 0; i < c.logicals.size(); ++i) {
                    allowed[processor_number(c.logicals[i])] = c.logicals[i];
                    if (i == 0) {
                        firsts.push_back(c.logicals[i]);
                    }
                }
            }
        }
    }
    processor_choice out;
    if (named) {
        for (std::uint32_t cpu : *named) {
            if (auto it = allowed.find(cpu); it != allowed.end()) {
                out.processors.push_back(it->second);
            } else {
                out.refused.push_back(cpu);
            }
        }
    } else if (smt) {
        for (const auto& [cpu, l] : allowed) {
            out.processors.push_back(l);
        }
    } else {
        out.processors = firsts;
        std::sort(out.processors.begin(), out.processors.end(),
                  [](const logical& a, const logical& b) {
                      return processor_number(a) < processor_number(b);
                  });
    }
    return out;
}

std::vector<isa_kind> default_variants(workload_kind workload) {
    static constexpr isa_kind widest_first[] = {
        isa_kind::avx10_2_512, isa_kind::avx512f, isa_kind::avx10_2_256, isa_kind::avx512vl,
        isa_kind::fma_apx,     isa_kind::fma,     isa_kind::avx2,        isa_kind::avx};
    std::vector<isa_kind> out{isa_kind::sse2};
    for (isa_kind isa : widest_first) {
        if (!check_isa_support(isa) && !check_variant_runnable(isa, workload)) {
            out.push_back(isa);
            break;
        }
    }
    return out;
}

std::vector<std::string> core_table(const std::vector<core_report>& cores) {
    std::vector<std::string> rows;
    rows.push_back(fmt::format("{:>5}  {:<20}  {:>10}  {:>11}  {:>6}  {}", "cpu", "variants",
                               "time", "checkpoints", "errors", "first error"));
    for (const core_report& c : cores) {
        std::string first = "-";
        if (c.first_error) {
            const error_event& e = *c.first_error;
            first = fmt::format("at {}, {}: {}", clock_text(e.time_s), error_kind_name(e.kind),
                                e.message);
        }
        rows.push_back(fmt::format("{:>5}  {:<20}  {:>10}  {:>11}  {:>6}  {}{}", c.cpu,
                                   c.variants.empty() ? "-" : join_isas(c.variants, ","),
                                   clock_text(c.seconds), c.checkpoints, c.errors, first,
                                   c.left_out ? " (left out)" : ""));
    }
    return rows;
}

std::string status_text(const stress_progress& p, stress_mode mode, double duration_s) {
    const std::string left =
        duration_s > 0.0 ? clock_text(duration_s - p.elapsed_s) + " left" : "until interrupted";
    const std::string cpus = join_numbers(p.cpus);
    return fmt::format("{} elapsed, {}, {} mode, cpu {}, {}, {} checkpoints passed, {} "
                       "error{}",
                       clock_text(p.elapsed_s), left, mode == stress_mode::all ? "all" : "cycle",
                       cpus, isa_names[static_cast<std::size_t>(p.variant)], p.checkpoints,
                       p.errors, p.errors == 1 ? "" : "s");
}

namespace {

class program {
public:
    int run(const std::vector<std::string>& args) {
        const parsed_options parsed = parse_options(args);
        if (parsed.error) {
            write_line(stream::err, fmt::format("kestrix-stress: {}", *parsed.error));
            write_line(stream::err, "run kestrix-stress --help for the options");
            return exit_usage;
        }
        o_ = parsed.options;
        if (o_.help) {
            write_unflushed(stream::out, help_text);
            return 0;
        }
        if (o_.version) {
            write_line(stream::out, fmt::format("kestrix-stress {}", version_text));
            return 0;
        }
        if (int rc = set_up(); rc != 0) {
            return rc;
        }
        return stress();
    }

private:
    int set_up() {
        const processor_choice choice = choose_processors(detect_topology(), o_.cores, o_.smt);
        for (std::uint32_t cpu : choice.refused) {
            write_line(stream::err,
                       fmt::format("kestrix-stress: cpu {} is not a processor this process may "
                                   "run on; left out",
                                   cpu));
        }
        if (choice.processors.empty()) {
            return usage_error(o_.cores ? "--cores names no processor this process may run on"
                                        : "no processor found to run on");
        }
        s_.processors = choice.processors;
        s_.mode = o_.mode;
        s_.workload = o_.workload;
        s_.size = o_.size;
        s_.keep_going = o_.keep_going;
        s_.slice = o_.slice.value_or(o_.mode == stress_mode::cycle
                                         ? std::chrono::milliseconds(60 * 1000)
                                         : std::chrono::milliseconds(10 * 60 * 1000));
        s_.variants = o_.variants.value_or(default_variants(o_.workload));
        const std::size_t slices =
            s_.variants.size() * (o_.mode == stress_mode::cycle ? s_.processors.size() : 1);
        s_.duration = o_.duration.value_or(s_.slice * static_cast<std::int64_t>(slices));
        for (isa_kind isa : s_.variants) {
            const std::string_view name = isa_names[static_cast<std::size_t>(isa)];
            if (auto why = check_isa_support(isa)) {
                return usage_error(fmt::format("variant {} cannot run here: {}", name, *why));
            }
            if (auto why = check_variant_runnable(isa, o_.workload)) {
                return usage_error(fmt::format("variant {} cannot run here: {}", name, *why));
            }
        }
        // Every worker holds E and H of edge N + 2, 32 bytes a cell.
        const std::uint64_t edge = o_.size + 2;
        const std::uint64_t per_worker = 2 * edge * edge * edge * 32;
        const std::uint64_t workers = o_.mode == stress_mode::all ? s_.processors.size() : 1;
        const std::uint64_t available = available_physical_memory();
        if (available != 0 && per_worker * workers > available) {
            return usage_error(
                fmt::format("not enough memory: {} worker{} at N = {} need {}, {} available",
                            workers, workers == 1 ? "" : "s", o_.size,
                            format_bytes_times(workers, per_worker), format_bytes(available)));
        }
        const calibration c = calibrate(o_.workload, o_.size, s_.variants);
        if (c.error) {
            return usage_error(fmt::format("set-up failed: {}", *c.error));
        }
        s_.check_every = c.check_every;
        hash_share_ = c.hash_to_step;
        return 0;
    }

    stress_record base_record() {
        stress_record r;
        r.version = version_text;
        r.started_utc = started_;
        r.updated_utc = utc_now();
        if (std::string host = host_name(); !host.empty()) {
            r.host = std::move(host);
        }
        r.state = "running";
        r.settings =
            record_settings{.mode = o_.mode == stress_mode::all ? "all" : "cycle",
                            .cpus = {},
                            .smt = o_.smt,
                            .variants = {},
                            .workload = workload_text(o_.workload),
                            .size = o_.size,
                            .slice_s = static_cast<double>(s_.slice.count()) / 1000.0,
                            .duration_s = static_cast<double>(s_.duration.count()) / 1000.0,
                            .keep_going = o_.keep_going,
                            .check_every = s_.check_every};
        for (const logical& l : s_.processors) {
            r.settings.cpus.push_back(processor_number(l));
        }
        for (isa_kind isa : s_.variants) {
            r.settings.variants.emplace_back(isa_names[static_cast<std::size_t>(isa)]);
        }
        return r;
    }

    std::string save(const std::vector<core_report>& cores, const std::vector<error_event>& errors,
                     const std::string& state, std::optional<int> exit_code) {
        if (o_.out.empty()) {
            return {};
        }
        stress_record r = base_record();
        r.state = state;
        r.cores = to_record(cores);
        for (const error_event& e : errors) {
            r.errors.push_back(to_record(e));
        }
        for (const core_report& c : cores) {
            r.checkpoints += c.checkpoints;
        }
        if (exit_code) {
            r.ended_utc = r.updated_utc;
            r.exit_code = exit_code;
            const error_counters now = read_error_counters("/");
            if (counters_.edac_corrected && now.edac_corrected) {
                r.machine_checks.edac_corrected =
                    *now.edac_corrected - std::min(*now.edac_corrected, *counters_.edac_corrected);
            }
            if (counters_.machine_checks && now.machine_checks) {
                r.machine_checks.machine_check_exceptions =
                    *now.machine_checks - std::min(*now.machine_checks, *counters_.machine_checks);
            }
        }
        return write_record(o_.out, r);
    }

    void print_header() {
        std::vector<std::uint32_t> cpus;
        for (const logical& l : s_.processors) {
            cpus.push_back(processor_number(l));
        }
        write_line(stream::out, fmt::format("kestrix-stress {}", version_text));
        write_line(stream::out,
                   fmt::format("mode {}, cpu {}, variants {}, {} at N = {}",
                               o_.mode == stress_mode::all ? "all" : "cycle", join_numbers(cpus),
                               join_isas(s_.variants, ", "), workload_text(o_.workload), o_.size));
        write_line(stream::out,
                   fmt::format("checkpoint every {} step{}: hashing the fields takes {:.2f} of a "
                               "step, so checking costs at most 3 % of the time",
                               s_.check_every, s_.check_every == 1 ? "" : "s", hash_share_));
        write_line(stream::out,
                   fmt::format("slices of {}, {}", duration_text(s_.slice.count() / 1000.0),
                               s_.duration.count() == 0
                                   ? std::string("until interrupted")
                                   : "for " + duration_text(s_.duration.count() / 1000.0)));
    }

    int stress() {
        started_ = utc_now();
        counters_ = read_error_counters("/");
        if (std::string err = save({}, {}, "running", std::nullopt); !err.empty()) {
            return usage_error(err);
        }
        print_header();
        const bool terminal = output_is_terminal();
        const double duration_s = static_cast<double>(s_.duration.count()) / 1000.0;
        double last_line = 0.0;
        double last_save = 0.0;
        bool status_open = false;
        bool save_failed = false;
        std::atomic<bool> error_pending{false};
        stress_environment env;
        env.pin = [](const logical& l) { os::pin_current_thread(l.group, l.os % 64); };
        env.interrupted = [] { return interrupt_received() != 0; };
        std::mutex errors_mutex;
        std::vector<error_event> errors_so_far;
        env.on_error = [&](const error_event& e) {
            {
                std::lock_guard lock(errors_mutex);
                errors_so_far.push_back(e);
            }
            error_pending.store(true);
        };
        env.tick = [&](const stress_progress& p, const std::vector<core_report>& cores) {
            const std::string text = status_text(p, o_.mode, duration_s);
            if (terminal) {
                write_text(stream::out, "\r" + text + "\x1b[K");
                status_open = true;
            } else if (p.elapsed_s - last_line >= 10.0) {
                write_line(stream::out, text);
                last_line = p.elapsed_s;
            }
            if (error_pending.exchange(false) || p.elapsed_s - last_save >= 60.0) {
                last_save = p.elapsed_s;
                std::vector<error_event> errors;
                {
                    std::lock_guard lock(errors_mutex);
                    errors = errors_so_far;
                }
                const std::string err = save(cores, errors, "running", std::nullopt);
                if (!err.empty() && !save_failed) {
                    write_line(stream::err, fmt::format("kestrix-stress: {}", err));
                }
                save_failed = !err.empty();
            }
        };
        os::install_interrupt_handlers();
        stress_outcome out = run_stress(s_, env);
        os::remove_interrupt_handlers();
        if (status_open) {
            write_line(stream::out, "");
        }
        if (out.setup_error) {
            write_line(stream::err, fmt::format("kestrix-stress: {}", *out.setup_error));
            (void)save(out.cores, out.errors, "failed", exit_usage);
            return exit_usage;
        }
        for (const error_event& e : out.errors) {
            write_line(stream::out, fmt::format("error at {}: {}: {}", clock_text(e.time_s),
                                                error_kind_name(e.kind), e.message));
        }
        const int signal = interrupt_received();
        if (out.interrupted) {
            write_line(stream::out, "interrupted");
        }
        for (const std::string& row : core_table(out.cores)) {
            write_line(stream::out, row);
        }
        const error_counters now = read_error_counters("/");
        auto counter_line = [](const char* what, const std::optional<std::uint64_t>& a,
                               const std::optional<std::uint64_t>& b) {
            return a && b ? fmt::format("{}: {} during the run", what, *b - std::min(*a, *b))
                          : fmt::format("{}: not available", what);
        };
        write_line(stream::out, counter_line("corrected memory errors (EDAC)",
                                             counters_.edac_corrected, now.edac_corrected));
        write_line(stream::out, counter_line("machine-check exceptions", counters_.machine_checks,
                                             now.machine_checks));
        std::uint64_t checkpoints = 0;
        for (const core_report& c : out.cores) {
            checkpoints += c.checkpoints;
        }
        int rc = 0;
        std::string state = "finished";
        if (!out.errors.empty()) {
            rc = 1;
            state = o_.keep_going ? "finished with errors" : "stopped at error";
            write_line(stream::out,
                       fmt::format("FAILED: {} error{} in {} checkpoints", out.errors.size(),
                                   out.errors.size() == 1 ? "" : "s", checkpoints));
        } else {
            write_line(stream::out, fmt::format("passed: no error in {} checkpoints", checkpoints));
        }
        if (out.interrupted) {
            state = "interrupted";
            if (rc == 0 && s_.duration.count() != 0) {
                rc = interrupted_exit_code(signal);
            }
        }
        if (std::string err = save(out.cores, out.errors, state, rc); !err.empty()) {
            write_line(stream::err, fmt::format("kestrix-stress: {}", err));
        }
        return rc;
    }

    stress_options o_;
    stress_settings s_;
    double hash_share_ = 0.0;
    std::string started_;
    error_counters counters_;
};

} // namespace

int program_main(int argc, char** argv) {
    console_init();
    try {
        std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
        program p;
        return p.run(args);
    } catch (const std::exception& e) {
        write_line(stream::err, fmt::format("kestrix-stress: {}", e.what()));
    } catch (...) {
        write_line(stream::err, "kestrix-stress: unexpected failure");
    }
    return exit_usage;
}

} // namespace kestrix::stress
