#include "capture/assemble.hpp"

#include "kestrix/version.hpp"
#include "options/decision.hpp"
#include "platform/placement.hpp"

namespace kestrix::results {

settings decided_settings(const std::vector<std::string>& args) {
    // kestrix's own decision, from the library kestrix links: every spelling its parser
    // accepts, its defaults, its refusals.
    const option_decision d = decide_kestrix_options(args);
    settings s;
    if (d.run) {
        const decided_run& r = *d.run;
        s.threads = r.threads;
        s.duration = r.duration;
        s.size = r.size;
        s.workload = std::string(workload_choice_name(r.workload));
        s.isa = std::string(isa_names[static_cast<std::size_t>(r.isa)]);
        s.threading = std::string(placement_name(r.placement));
        s.strict_isa_check = r.strict_isa_check;
        s.large_pages = r.large_pages;
        s.bypass_timer_check = r.bypass_timer_check;
    }
    if (d.harness) {
        s.harness_var = std::string(sweep_variable_name(d.harness->variable));
        s.harness_opt = d.harness->option;
        s.sub_runs = d.harness->sub_runs;
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
