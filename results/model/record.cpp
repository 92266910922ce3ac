#include "model/record.hpp"

#include "model/json_fields.hpp"

#include <algorithm>
#include <iterator>
#include <limits>
#include <type_traits>

namespace kestrix::results {
namespace {

using nlohmann::json;

using json_fields::field;
using json_fields::in;
using json_fields::out;
using json_fields::shape_error;

#define KX_OUT(name) j[#name] = out(v.name)
#define KX_IN(name) field(j, #name, v.name)

const char* const mode_names[] = {"benchmark", "topology", "timers", "help", "error", "suite"};

} // namespace

const char* mode_name(run_mode m) {
    return mode_names[static_cast<int>(m)];
}

std::optional<run_mode> mode_from_name(const std::string& s) {
    for (int i = 0; i < static_cast<int>(std::size(mode_names)); ++i) {
        if (s == mode_names[i]) {
            return static_cast<run_mode>(i);
        }
    }
    return std::nullopt;
}

int record::valid_sub_runs() const {
    int n = 0;
    for (const auto& s : sub_runs) {
        n += s.valid ? 1 : 0;
    }
    return n;
}

int record::invalid_sub_runs() const {
    return static_cast<int>(sub_runs.size()) - valid_sub_runs();
}

void to_json(json& j, const thread_row& v) {
    j = json::object();
    KX_OUT(thread);
    KX_OUT(grid_updates);
    KX_OUT(time_s);
    KX_OUT(mgups);
    KX_OUT(iterations);
}
void from_json(const json& j, thread_row& v) {
    KX_IN(thread);
    KX_IN(grid_updates);
    KX_IN(time_s);
    KX_IN(mgups);
    KX_IN(iterations);
}

void to_json(json& j, const progress_line& v) {
    j = json::object();
    KX_OUT(elapsed_s);
    KX_OUT(duration_s);
    KX_OUT(mgups);
    KX_OUT(iterations);
}
void from_json(const json& j, progress_line& v) {
    KX_IN(elapsed_s);
    KX_IN(duration_s);
    KX_IN(mgups);
    KX_IN(iterations);
}

void to_json(json& j, const timer_frequency& v) {
    j = json::object();
    KX_OUT(frequency);
    if (v.source) {
        KX_OUT(source);
    }
}
void from_json(const json& j, timer_frequency& v) {
    KX_IN(frequency);
    KX_IN(source);
}

void to_json(json& j, const sub_run& v) {
    j = json::object();
    KX_OUT(index);
    KX_OUT(point);
    KX_OUT(valid);
    KX_OUT(score);
    KX_OUT(reason);
    KX_OUT(messages);
    KX_OUT(warnings);
    KX_OUT(brand);
    KX_OUT(features);
    KX_OUT(threads);
    KX_OUT(threading);
    KX_OUT(grid);
    KX_OUT(duration);
    KX_OUT(memory_per_thread);
    KX_OUT(memory_total);
    KX_OUT(large_pages);
    KX_OUT(workload);
    KX_OUT(isa);
    KX_OUT(initialization_ms);
    j["timers"] = {{"fast", out(v.fast_timer)}, {"coarse", out(v.coarse_timer)}};
    KX_OUT(progress);
    KX_OUT(thread_table);
    KX_OUT(timeline);
    KX_OUT(sensors);
}
void from_json(const json& j, sub_run& v) {
    KX_IN(index);
    KX_IN(point);
    KX_IN(valid);
    KX_IN(score);
    KX_IN(reason);
    KX_IN(messages);
    KX_IN(warnings);
    KX_IN(brand);
    KX_IN(features);
    KX_IN(threads);
    KX_IN(threading);
    KX_IN(grid);
    KX_IN(duration);
    KX_IN(memory_per_thread);
    KX_IN(memory_total);
    KX_IN(large_pages);
    KX_IN(workload);
    KX_IN(isa);
    KX_IN(initialization_ms);
    KX_IN(timeline);
    KX_IN(sensors);
    std::optional<json> timers;
    field(j, "timers", timers);
    if (timers && !timers->is_object()) {
        throw shape_error(".timers", "not an object");
    }
    if (timers) {
        try {
            field(*timers, "fast", v.fast_timer);
            field(*timers, "coarse", v.coarse_timer);
        } catch (const shape_error& e) {
            throw shape_error(".timers" + e.path, e.problem);
        }
    }
    KX_IN(progress);
    KX_IN(thread_table);
}

void to_json(json& j, const results_row& v) {
    j = json::object();
    KX_OUT(label);
    KX_OUT(scores);
    KX_OUT(average);
    KX_OUT(spread_percent);
}
void from_json(const json& j, results_row& v) {
    KX_IN(label);
    KX_IN(scores);
    KX_IN(average);
    KX_IN(spread_percent);
}

void to_json(json& j, const harness_info& v) {
    j = json::object();
    KX_OUT(points);
    KX_OUT(estimate);
    KX_OUT(variable);
    KX_OUT(total_sub_runs);
    KX_OUT(sub_runs_per_point);
    KX_OUT(table);
}
void from_json(const json& j, harness_info& v) {
    KX_IN(points);
    KX_IN(estimate);
    KX_IN(variable);
    KX_IN(total_sub_runs);
    KX_IN(sub_runs_per_point);
    KX_IN(table);
}

void to_json(json& j, const topology_report& v) {
    j = json::object();
    KX_OUT(performance_levels);
    KX_OUT(numa_nodes);
    KX_OUT(last_level_caches);
    KX_OUT(cores);
    KX_OUT(logical_processors);
    KX_OUT(lines);
}
void from_json(const json& j, topology_report& v) {
    KX_IN(performance_levels);
    KX_IN(numa_nodes);
    KX_IN(last_level_caches);
    KX_IN(cores);
    KX_IN(logical_processors);
    KX_IN(lines);
}

void to_json(json& j, const timer_source_report& v) {
    j = json::object();
    KX_OUT(source);
    KX_OUT(underlying_frequency);
    KX_OUT(report_frequency);
}
void from_json(const json& j, timer_source_report& v) {
    KX_IN(source);
    KX_IN(underlying_frequency);
    KX_IN(report_frequency);
}

void to_json(json& j, const timer_report& v) {
    j = json::object();
    KX_OUT(fast);
    KX_OUT(coarse);
    KX_OUT(hwbot_compliant);
    KX_OUT(invariant_tsc);
    KX_OUT(tsc_frequency);
    KX_OUT(crystal_frequency);
    KX_OUT(brand);
    KX_OUT(vendor);
    KX_OUT(family);
    KX_OUT(model);
    KX_OUT(lines);
}
void from_json(const json& j, timer_report& v) {
    std::optional<timer_source_report> f, c;
    field(j, "fast", f);
    field(j, "coarse", c);
    v.fast = f.value_or(timer_source_report{});
    v.coarse = c.value_or(timer_source_report{});
    KX_IN(hwbot_compliant);
    KX_IN(invariant_tsc);
    KX_IN(tsc_frequency);
    KX_IN(crystal_frequency);
    KX_IN(brand);
    KX_IN(vendor);
    KX_IN(family);
    KX_IN(model);
    KX_IN(lines);
}

void to_json(json& j, const diagnostics& v) {
    j = json::object();
    KX_OUT(topology);
    KX_OUT(timers);
    KX_OUT(help);
    KX_OUT(error);
}
void from_json(const json& j, diagnostics& v) {
    KX_IN(topology);
    KX_IN(timers);
    KX_IN(help);
    KX_IN(error);
}

void to_json(json& j, const settings& v) {
    j = json::object();
    KX_OUT(workload);
    KX_OUT(isa);
    KX_OUT(size);
    KX_OUT(duration);
    KX_OUT(threads);
    KX_OUT(threading);
    KX_OUT(large_pages);
    KX_OUT(strict_isa_check);
    KX_OUT(bypass_timer_check);
    KX_OUT(harness_var);
    KX_OUT(harness_opt);
    KX_OUT(sub_runs);
}
void from_json(const json& j, settings& v) {
    KX_IN(workload);
    KX_IN(isa);
    KX_IN(size);
    KX_IN(duration);
    KX_IN(threads);
    KX_IN(threading);
    KX_IN(large_pages);
    KX_IN(strict_isa_check);
    KX_IN(bypass_timer_check);
    KX_IN(harness_var);
    KX_IN(harness_opt);
    KX_IN(sub_runs);
}

void to_json(json& j, const options_block& v) {
    j = json::object();
    KX_OUT(given);
    KX_OUT(decided);
    KX_OUT(shown);
    KX_OUT(resolved);
}
void from_json(const json& j, options_block& v) {
    KX_IN(given);
    KX_IN(decided);
    KX_IN(shown);
    KX_IN(resolved);
}

void to_json(json& j, const child_info& v) {
    j = json::object();
    KX_OUT(exit_code);
    KX_OUT(signaled);
    KX_OUT(interrupted);
}
void from_json(const json& j, child_info& v) {
    KX_IN(exit_code);
    KX_IN(signaled);
    KX_IN(interrupted);
}

void to_json(json& j, const system_fact& v) {
    j = {{"value", v.value}};
    if (v.source) {
        j["source"] = *v.source;
    }
    if (v.unavailable) {
        j["unavailable"] = *v.unavailable;
    }
}
void from_json(const json& j, system_fact& v) {
    const auto it = j.find("value");
    if (it == j.end()) {
        throw shape_error(".value", "missing");
    }
    v.value = *it; // any JSON: a text, a number, a list of caches, ...
    KX_IN(source);
    KX_IN(unavailable);
    if (!v.source && !v.unavailable) {
        throw shape_error("", "names neither its source nor why it is unavailable");
    }
}

void to_json(json& j, const system_block& v) {
    j = json::object();
    KX_OUT(source);
    KX_OUT(note);
    j["processor"] = {{"brand", out(v.processor.brand)}, {"features", out(v.processor.features)}};
    j["timer_rule"] = {{"vendor", out(v.timer_rule.vendor)},
                       {"family", out(v.timer_rule.family)},
                       {"model", out(v.timer_rule.model)}};
    KX_OUT(facts);
    const auto& t = v.topology;
    j["topology"] = {{"packages", out(t.packages)},
                     {"numa_nodes", out(t.numa_nodes)},
                     {"last_level_caches", out(t.last_level_caches)},
                     {"cores", out(t.cores)},
                     {"logical_processors", out(t.logical_processors)},
                     {"performance_levels", out(t.performance_levels)}};
    j["memory"] = {{"total_bytes", out(v.memory_total_bytes)},
                   {"available_bytes", out(v.memory_available_bytes)}};
    j["os"] = {{"name", out(v.os_name)}, {"version", out(v.os_version)}, {"kernel", out(v.kernel)}};
    KX_OUT(host);
    KX_OUT(start_utc);
    KX_OUT(end_utc);
    KX_OUT(root);
}

namespace {

// An object member read with its own members; missing reads as all unknown.
template <class F> void object_field(const json& j, const char* key, F&& read) {
    const auto it = j.find(key);
    if (it == j.end() || it->is_null()) {
        return;
    }
    if (!it->is_object()) {
        throw shape_error(std::string(".") + key, "not an object");
    }
    try {
        read(*it);
    } catch (const shape_error& e) {
        throw shape_error(std::string(".") + key + e.path, e.problem);
    }
}

} // namespace

void from_json(const json& j, system_block& v) {
    KX_IN(source);
    KX_IN(note);
    object_field(j, "processor", [&](const json& p) {
        field(p, "brand", v.processor.brand);
        field(p, "features", v.processor.features);
    });
    object_field(j, "timer_rule", [&](const json& p) {
        field(p, "vendor", v.timer_rule.vendor);
        field(p, "family", v.timer_rule.family);
        field(p, "model", v.timer_rule.model);
    });
    KX_IN(facts);
    object_field(j, "topology", [&](const json& t) {
        field(t, "packages", v.topology.packages);
        field(t, "numa_nodes", v.topology.numa_nodes);
        field(t, "last_level_caches", v.topology.last_level_caches);
        field(t, "cores", v.topology.cores);
        field(t, "logical_processors", v.topology.logical_processors);
        field(t, "performance_levels", v.topology.performance_levels);
    });
    object_field(j, "memory", [&](const json& m) {
        field(m, "total_bytes", v.memory_total_bytes);
        field(m, "available_bytes", v.memory_available_bytes);
    });
    object_field(j, "os", [&](const json& o) {
        field(o, "name", v.os_name);
        field(o, "version", v.os_version);
        field(o, "kernel", v.kernel);
    });
    KX_IN(host);
    KX_IN(start_utc);
    KX_IN(end_utc);
    KX_IN(root);
}

void to_json(json& j, const build_info& v) {
    j = json::object();
    KX_OUT(program);
    KX_OUT(version);
    KX_OUT(compiler);
    KX_OUT(target);
}
void from_json(const json& j, build_info& v) {
    KX_IN(program);
    KX_IN(version);
    KX_IN(compiler);
    KX_IN(target);
}

void to_json(json& j, const suite_part& v) {
    j = json::object();
    KX_OUT(name);
    KX_OUT(isa);
    KX_OUT(threads_option);
    KX_OUT(threads);
    KX_OUT(scores);
    KX_OUT(median);
    KX_OUT(reason);
    KX_OUT(exit_code);
}
void from_json(const json& j, suite_part& v) {
    KX_IN(name);
    KX_IN(isa);
    KX_IN(threads_option);
    KX_IN(threads);
    KX_IN(scores);
    KX_IN(median);
    KX_IN(reason);
    KX_IN(exit_code);
}

void to_json(json& j, const suite_info& v) {
    j = json::object();
    KX_OUT(quick);
    KX_OUT(duration_s);
    KX_OUT(widest);
    KX_OUT(checked);
    KX_OUT(parts);
}
void from_json(const json& j, suite_info& v) {
    KX_IN(quick);
    KX_IN(duration_s);
    KX_IN(widest);
    KX_IN(checked);
    KX_IN(parts);
}

void to_json(json& j, const record& v) {
    j = json::object();
    j["schema_version"] = schema_version;
    KX_OUT(source);
    KX_OUT(label);
    j["mode"] = mode_name(v.mode);
    KX_OUT(complete);
    KX_OUT(incomplete_reason);
    KX_OUT(error);
    KX_OUT(imported_from);
    KX_OUT(migrated_from);
    j["kestrix"] = {{"version", out(v.kestrix_version)}, {"path", out(v.kestrix_path)}};
    KX_OUT(child);
    KX_OUT(options);
    KX_OUT(sub_runs);
    KX_OUT(harness);
    KX_OUT(messages);
    j["diagnostics"] = out(v.diag);
    KX_OUT(system);
    KX_OUT(conditions);
    KX_OUT(results_build);
    if (v.suite) {
        KX_OUT(suite);
    }
    j["valid_sub_runs"] = v.valid_sub_runs();
    j["invalid_sub_runs"] = v.invalid_sub_runs();
}

void from_json(const json& j, record& v) {
    try {
        KX_IN(source);
        if (v.source != "run" && v.source != "import") {
            throw shape_error(".source", "neither \"run\" nor \"import\"");
        }
        KX_IN(label);
        std::string mode;
        field(j, "mode", mode);
        const auto m = mode_from_name(mode);
        if (!m) {
            throw shape_error(".mode", "unknown mode \"" + mode.substr(0, 40) + "\"");
        }
        v.mode = *m;
        KX_IN(complete);
        KX_IN(incomplete_reason);
        KX_IN(error);
        KX_IN(imported_from);
        KX_IN(migrated_from);
        object_field(j, "kestrix", [&](const json& k) {
            field(k, "version", v.kestrix_version);
            field(k, "path", v.kestrix_path);
        });
        KX_IN(child);
        KX_IN(options);
        KX_IN(sub_runs);
        KX_IN(harness);
        KX_IN(messages);
        field(j, "diagnostics", v.diag);
        KX_IN(system);
        KX_IN(conditions);
        KX_IN(results_build);
        KX_IN(suite); // records before the standard run have none
        if (v.mode == run_mode::suite && !v.suite) {
            throw shape_error(".suite", "missing in a suite record");
        }
    } catch (const shape_error& e) {
        throw record_error("record's \"" + e.path.substr(e.path.empty() ? 0 : 1) +
                           "\": " + e.problem);
    }
}

} // namespace kestrix::results
