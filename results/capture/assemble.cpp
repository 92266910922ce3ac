#include "capture/assemble.hpp"

#include "kestrix/version.hpp"

namespace kestrix::results {
namespace {

std::optional<std::uint64_t> count_of(const std::string& v) {
    if (v.empty() || v.size() >= 19 || v.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoull(v);
}

// kestrix's options that the record keeps, with the field each sets.
struct option_spec {
    const char* short_name;
    const char* long_name;
    void (*set)(settings&, const std::string&);
    bool flag;
};

const option_spec kestrix_options[] = {
    {"-n", "--numthreads", [](settings& s, const std::string& v) { s.threads = count_of(v); },
     false},
    {"-d", "--duration", [](settings& s, const std::string& v) { s.duration = count_of(v); },
     false},
    {"-s", "--size", [](settings& s, const std::string& v) { s.size = count_of(v); }, false},
    {"", "--workload", [](settings& s, const std::string& v) { s.workload = v; }, false},
    {"", "--isa", [](settings& s, const std::string& v) { s.isa = v; }, false},
    {"", "--threading", [](settings& s, const std::string& v) { s.threading = v; }, false},
    {"", "--strict-isa-check", [](settings& s, const std::string&) { s.strict_isa_check = true; },
     true},
    {"", "--large-pages", [](settings& s, const std::string&) { s.large_pages = true; }, true},
    {"", "--bypass-timer-check",
     [](settings& s, const std::string&) { s.bypass_timer_check = true; }, true},
    {"", "--harness-var", [](settings& s, const std::string& v) { s.harness_var = v; }, false},
    {"", "--harness-sub-runs", [](settings& s, const std::string& v) { s.sub_runs = count_of(v); },
     false},
    {"", "--harness-opt", [](settings& s, const std::string& v) { s.harness_opt = v; }, false},
};

} // namespace

settings decided_settings(const std::vector<std::string>& args) {
    settings s;
    s.threads = 0; // automatic
    s.duration = 30;
    s.size = 192;
    s.workload = "standing_wave";
    s.isa = "sse2";
    s.threading = "os";
    s.strict_isa_check = false;
    s.large_pages = false;
    s.bypass_timer_check = false;
    s.harness_var = "none";
    s.harness_opt = "";
    s.sub_runs = 3;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i], value;
        bool has_value = false;
        if (const auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            has_value = true;
        } else if (a.size() > 2 && a[0] == '-' && a[1] != '-') {
            value = a.substr(2); // "-n4"
            a = a.substr(0, 2);
            has_value = true;
        }
        for (const auto& o : kestrix_options) {
            if (a != o.long_name && a != o.short_name) {
                continue;
            }
            if (o.flag) {
                o.set(s, "");
            } else if (has_value || i + 1 < args.size()) {
                o.set(s, has_value ? value : args[++i]);
            }
        }
    }
    return s;
}

settings shown_settings(const run_log& log) {
    settings s;
    std::string var = "none";
    if (log.harness) {
        const auto& h = *log.harness;
        if (h.variable) {
            s.harness_var = *h.variable;
            var = *h.variable;
        }
        if (h.sub_runs_per_point) {
            s.sub_runs = *h.sub_runs_per_point;
        } else if (h.table && !h.table->empty()) {
            s.sub_runs = h.table->front().scores.size();
        }
    }
    if (!log.sub_runs.empty()) {
        const sub_run& r = log.sub_runs.front();
        if (var != "threads") {
            s.threads = r.threads;
        }
        if (var != "size") {
            s.size = r.grid;
        }
        if (var != "duration") {
            s.duration = r.duration;
        }
        if (var != "isa") {
            s.isa = r.isa;
        }
        s.threading = r.threading;
        s.large_pages = r.large_pages;
        s.workload = r.workload;
    }
    return s;
}

settings resolved_settings(const std::optional<settings>& decided, const settings& shown) {
    settings r = decided.value_or(settings{});
    auto take = [](auto& to, const auto& from) {
        if (from) {
            to = from;
        }
    };
    take(r.workload, shown.workload);
    take(r.isa, shown.isa);
    take(r.threading, shown.threading);
    take(r.harness_var, shown.harness_var);
    take(r.harness_opt, shown.harness_opt);
    take(r.size, shown.size);
    take(r.duration, shown.duration);
    take(r.threads, shown.threads);
    take(r.sub_runs, shown.sub_runs);
    take(r.large_pages, shown.large_pages);
    take(r.strict_isa_check, shown.strict_isa_check);
    take(r.bypass_timer_check, shown.bypass_timer_check);
    // A swept setting has one value per point, none for the whole record.
    if (const auto& var = r.harness_var; var && *var != "none") {
        if (*var == "threads") {
            r.threads = decided ? decided->threads : std::nullopt;
        }
    }
    return r;
}

system_block system_from_log(const run_log& log) {
    system_block s;
    s.source = "log";
    std::string shown = "processor brand and feature list";
    if (!log.sub_runs.empty()) {
        s.processor.brand = log.sub_runs.front().brand;
        s.processor.features = log.sub_runs.front().features;
    }
    if (log.diag.timers) {
        const auto& t = *log.diag.timers;
        if (t.brand) {
            s.processor.brand = t.brand;
        }
        s.timer_rule = {t.vendor, t.family, t.model};
        shown = "processor brand, vendor, family and model";
    }
    if (log.diag.topology) {
        const auto& t = *log.diag.topology;
        s.topology.numa_nodes = t.numa_nodes;
        s.topology.last_level_caches = t.last_level_caches;
        s.topology.cores = t.cores;
        s.topology.logical_processors = t.logical_processors;
        s.topology.performance_levels = t.performance_levels;
        shown = "topology";
    }
    s.note = "imported from a saved log: only the " + shown +
             " are known; the rest of the system is not in kestrix's output";
    return s;
}

record make_record(const run_log& log, const record_context& ctx) {
    record r;
    r.source = ctx.source;
    r.label = ctx.label;
    r.mode = log.mode;
    r.complete = log.complete;
    if (!log.complete) {
        r.incomplete_reason = log.problem;
    }
    r.error = log.diag.error;
    r.kestrix_version = log.kestrix_version;
    r.options.given = ctx.given;
    if (ctx.given) {
        r.options.decided = decided_settings(*ctx.given);
    }
    r.options.shown = shown_settings(log);
    r.options.resolved = resolved_settings(r.options.decided, r.options.shown);
    r.sub_runs = log.sub_runs;
    r.harness = log.harness;
    r.messages = log.messages;
    r.diag = log.diag;
    r.system = ctx.system;
    r.results_build.version = std::string(kestrix::version_text);
    r.results_build.compiler = __VERSION__;
#ifdef _WIN32
    r.results_build.target = "windows-x86_64";
#else
    r.results_build.target = "linux-x86_64";
#endif
    return r;
}

} // namespace kestrix::results
