#include "model/migrate.hpp"

#include "model/record.hpp"

namespace kestrix::results {
namespace {

using nlohmann::json;

// Version 1 kept an option as typed when it was not all digits ("-n abc" stayed "abc"), as a
// number when it was; version 2 keeps each setting as its one type, else null.
json as_count(const json& v) {
    if (v.is_number_unsigned()) {
        return v;
    }
    if (v.is_number_integer() && v.get<std::int64_t>() >= 0) {
        return v.get<std::uint64_t>();
    }
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        if (!s.empty() && s.size() < 19 && s.find_first_not_of("0123456789") == std::string::npos) {
            return std::stoull(s);
        }
    }
    return nullptr;
}

json as_text(const json& v) {
    if (v.is_string()) {
        return v;
    }
    if (v.is_number()) {
        return v.dump();
    }
    return nullptr;
}

json as_flag(const json& v) {
    return v.is_boolean() ? v : json(nullptr);
}

json settings_from_v1(const json& r) {
    json s = json::object();
    auto get = [&](const char* k) { return r.is_object() && r.contains(k) ? r[k] : json(nullptr); };
    for (const char* k : {"workload", "isa", "threading", "harness_var", "harness_opt"}) {
        s[k] = as_text(get(k));
    }
    for (const char* k : {"size", "duration", "threads", "sub_runs"}) {
        s[k] = as_count(get(k));
    }
    for (const char* k : {"large_pages", "strict_isa_check", "bypass_timer_check"}) {
        s[k] = as_flag(get(k));
    }
    return s;
}

json unknown_settings() {
    return settings_from_v1(json::object());
}

const json& member(const json& j, const char* k) {
    static const json none;
    return j.is_object() && j.contains(k) ? j[k] : none;
}

} // namespace

json migrate_v1_to_v2(const json& v1) {
    for (const char* k : {"source", "mode", "options", "sub_runs", "system", "complete"}) {
        if (!v1.contains(k)) {
            throw record_error(std::string("version 1 record lacks \"") + k + "\"");
        }
    }
    json v2 = v1;
    v2["schema_version"] = 2;
    v2["migrated_from"] = 1;
    if (!v2.contains("label")) {
        v2["label"] = "";
    }
    // Options: version 1 mixed what was given, kestrix-results' copy of the defaults and what
    // the output showed into one block. It stays as what the tables use; the parts it merged
    // are not known apart.
    const json& o = v1["options"];
    json opts = json::object();
    opts["given"] = member(o, "given");
    opts["decided"] = nullptr;
    opts["shown"] = unknown_settings();
    opts["resolved"] = settings_from_v1(member(o, "resolved"));
    v2["options"] = opts;

    // System: the processor's vendor, family and model were the timer rule's decoding.
    const json& sys = v1["system"];
    if (sys.is_object()) {
        json s = sys;
        const json& p = member(sys, "processor");
        s["processor"] = {{"brand", member(p, "brand")}, {"features", member(p, "features")}};
        s["timer_rule"] = {{"vendor", member(p, "vendor")},
                           {"family", member(p, "family")},
                           {"model", member(p, "model")}};
        s["facts"] = nullptr;
        if (!s.contains("source")) {
            s["source"] = "version 1 record";
        }
        if (!s.contains("note")) {
            s["note"] = "";
        }
        v2["system"] = s;
    }
    if (!v2.contains("results_build")) {
        v2["results_build"] = {
            {"program", "kestrix-results"}, {"version", ""}, {"compiler", ""}, {"target", ""}};
    }
    // Version 1 put diagnostics only when it had them, and the error message at top level.
    json diag = member(v1, "diagnostics").is_object() ? v1["diagnostics"] : json::object();
    for (const char* k : {"topology", "timers", "help", "error"}) {
        if (!diag.contains(k)) {
            diag[k] = nullptr;
        }
    }
    v2["diagnostics"] = diag;
    return v2;
}

} // namespace kestrix::results
