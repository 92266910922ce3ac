#include "model/stress_record.hpp"

#include "model/json_fields.hpp"
#include "model/storage.hpp"

#include <cmath>

namespace kestrix::results {

using nlohmann::json;
namespace jf = json_fields;

namespace {

// Seconds are finite, not negative and below 30,000 years: everything that shows them relies on
// it.
void seconds_field(const json& j, const char* key, double& v) {
    jf::field(j, key, v);
    if (!std::isfinite(v) || v < 0.0 || v > 1e12) {
        throw jf::shape_error(std::string(".") + key, "not a number of seconds");
    }
}

} // namespace

void to_json(json& j, const stress_run_settings& v) {
    j = json{{"stress_mode", v.mode},
             {"cpus", v.cpus},
             {"smt", v.smt},
             {"variants", v.variants},
             {"workload", v.workload},
             {"size", v.size},
             {"slice_s", v.slice_s},
             {"duration_s", v.duration_s},
             {"keep_going", v.keep_going},
             {"check_every", v.check_every}};
}
void from_json(const json& j, stress_run_settings& v) {
    jf::field(j, "stress_mode", v.mode);
    jf::field(j, "cpus", v.cpus);
    jf::field(j, "smt", v.smt);
    jf::field(j, "variants", v.variants);
    jf::field(j, "workload", v.workload);
    jf::field(j, "size", v.size);
    seconds_field(j, "slice_s", v.slice_s);
    seconds_field(j, "duration_s", v.duration_s);
    jf::field(j, "keep_going", v.keep_going);
    jf::field(j, "check_every", v.check_every);
}

void to_json(json& j, const stress_error& v) {
    j = json{{"time_s", v.time_s},   {"kind", v.kind}, {"cpus", v.cpus},
             {"variant", v.variant}, {"step", v.step}, {"message", v.message}};
}
void from_json(const json& j, stress_error& v) {
    seconds_field(j, "time_s", v.time_s);
    jf::field(j, "kind", v.kind);
    jf::field(j, "cpus", v.cpus);
    jf::field(j, "variant", v.variant);
    jf::field(j, "step", v.step);
    jf::field(j, "message", v.message);
}

void to_json(json& j, const stress_core& v) {
    j = json{{"cpu", v.cpu},
             {"processors", v.processors},
             {"variants", v.variants},
             {"time_under_test_s", v.time_under_test_s},
             {"checkpoints", v.checkpoints},
             {"errors", v.errors},
             {"first_error", jf::out(v.first_error)},
             {"left_out", v.left_out}};
}
void from_json(const json& j, stress_core& v) {
    jf::field(j, "cpu", v.cpu);
    jf::field(j, "processors", v.processors);
    jf::field(j, "variants", v.variants);
    seconds_field(j, "time_under_test_s", v.time_under_test_s);
    jf::field(j, "checkpoints", v.checkpoints);
    jf::field(j, "errors", v.errors);
    jf::field(j, "first_error", v.first_error);
    jf::field(j, "left_out", v.left_out);
}

void to_json(json& j, const stress_machine_checks& v) {
    j = json{{"edac_corrected", jf::out(v.edac_corrected)},
             {"machine_check_exceptions", jf::out(v.machine_check_exceptions)}};
}
void from_json(const json& j, stress_machine_checks& v) {
    jf::field(j, "edac_corrected", v.edac_corrected);
    jf::field(j, "machine_check_exceptions", v.machine_check_exceptions);
}

void to_json(json& j, const stress_record& v) {
    j = json{{"schema_version", schema_version},
             {"mode", "stress"},
             {"program", "kestrix-stress"},
             {"version", v.version},
             {"started_utc", v.started_utc},
             {"ended_utc", jf::out(v.ended_utc)},
             {"updated_utc", v.updated_utc},
             {"host", jf::out(v.host)},
             {"state", v.state},
             {"settings", v.settings},
             {"cores", v.cores},
             {"errors", v.errors},
             {"checkpoints", v.checkpoints},
             {"machine_checks", v.machine_checks},
             {"exit_code", jf::out(v.exit_code)}};
}
void from_json(const json& j, stress_record& v) {
    std::string program;
    jf::field(j, "program", program);
    if (program != "kestrix-stress") {
        throw jf::shape_error(".program", "not \"kestrix-stress\"");
    }
    jf::field(j, "version", v.version);
    jf::field(j, "started_utc", v.started_utc);
    jf::field(j, "ended_utc", v.ended_utc);
    jf::field(j, "updated_utc", v.updated_utc);
    jf::field(j, "host", v.host);
    jf::field(j, "state", v.state);
    jf::field(j, "settings", v.settings);
    jf::field(j, "cores", v.cores);
    jf::field(j, "errors", v.errors);
    jf::field(j, "checkpoints", v.checkpoints);
    jf::field(j, "machine_checks", v.machine_checks);
    jf::field(j, "exit_code", v.exit_code);
}

bool is_stress_json(const json& j) {
    if (!j.is_object()) {
        return false;
    }
    const auto m = j.find("mode");
    return m != j.end() && m->is_string() && m->get_ref<const std::string&>() == "stress";
}

stress_record stress_record_from_json(const json& j) {
    if (!is_stress_json(j)) {
        throw input_error("not a kestrix-stress record (no mode \"stress\")");
    }
    const auto v = j.find("schema_version");
    // Parsed text holds it as unsigned, a value built in memory as signed.
    if (v == j.end() || !v->is_number_integer() || v->get<std::int64_t>() != schema_version) {
        throw input_error("kestrix-stress record of schema version " +
                          (v == j.end() ? std::string("(none)") : v->dump()) +
                          ", this program reads version " + std::to_string(schema_version));
    }
    try {
        return j.get<stress_record>();
    } catch (const jf::shape_error& e) {
        throw input_error("kestrix-stress record's \"" + e.path.substr(e.path.empty() ? 0 : 1) +
                          "\": " + e.problem);
    } catch (const json::exception&) {
        throw input_error("not a kestrix-stress record (its fields have the wrong types)");
    }
}

std::string stress_record_text(const stress_record& r) {
    // Texts (a host name, a message) may hold any bytes: invalid UTF-8 is replaced.
    return json(r).dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

void write_stress_record(const std::string& path, const stress_record& r) {
    write_file_atomic(path, stress_record_text(r));
}

any_record any_record_from_json(const json& j) {
    any_record a;
    if (is_stress_json(j)) {
        a.stress = stress_record_from_json(j);
    } else {
        a.run = record_from_json(j);
    }
    return a;
}

any_record load_any_record(const std::string& path) {
    try {
        return any_record_from_json(parse_json_text(read_whole_file(path)));
    } catch (const input_error& e) {
        const std::string what = e.what();
        if (what.rfind(path, 0) == 0) {
            throw;
        }
        throw input_error(path + ": " + what);
    }
}

} // namespace kestrix::results
