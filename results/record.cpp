#include "record.hpp"

#include "kestrix/version.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrix::results {
namespace {

using nlohmann::json;

struct option_spec {
    const char* short_name;
    const char* long_name;
    const char* key;
    bool flag;
};

const option_spec kestrix_options[] = {
    {"-n", "--numthreads", "threads", false},
    {"-d", "--duration", "duration", false},
    {"-s", "--size", "size", false},
    {"", "--workload", "workload", false},
    {"", "--isa", "isa", false},
    {"", "--threading", "threading", false},
    {"", "--strict-isa-check", "strict_isa_check", true},
    {"", "--large-pages", "large_pages", true},
    {"", "--bypass-timer-check", "bypass_timer_check", true},
    {"", "--harness-var", "harness_var", false},
    {"", "--harness-sub-runs", "sub_runs", false},
    {"", "--harness-opt", "harness_opt", false},
};

json as_number_if_digits(const std::string& v) {
    if (!v.empty() && v.size() < 19 && v.find_first_not_of("0123456789") == std::string::npos) {
        return std::stoull(v);
    }
    return v;
}

std::string sanitized(std::string s) {
    for (char& c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!ok) {
            c = '-';
        }
    }
    return s.substr(0, 40);
}

} // namespace

json resolve_options(const std::vector<std::string>& args, bool args_known, const json& log) {
    json r = {{"threads", 0},
              {"duration", 30},
              {"size", 192},
              {"workload", "standing_wave"},
              {"isa", "sse2"},
              {"threading", "os"},
              {"strict_isa_check", false},
              {"large_pages", false},
              {"bypass_timer_check", false},
              {"harness_var", "none"},
              {"harness_opt", ""},
              {"sub_runs", 3}};
    json from = json::object();
    if (args_known) {
        for (std::size_t i = 0; i < args.size(); ++i) {
            std::string a = args[i], value;
            bool has_value = false;
            if (const auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
                value = a.substr(eq + 1);
                a = a.substr(0, eq);
                has_value = true;
            }
            for (const auto& o : kestrix_options) {
                if (a != o.long_name && a != o.short_name) {
                    continue;
                }
                if (o.flag) {
                    r[o.key] = true;
                } else if (has_value || i + 1 < args.size()) {
                    r[o.key] = as_number_if_digits(has_value ? value : args[++i]);
                }
                from[o.key] = "command line";
            }
        }
    } else {
        // Nothing is known beyond what the log shows.
        for (auto& [k, v] : r.items()) {
            v = nullptr;
            (void)k;
        }
    }
    // What the log shows wins: it is what kestrix did.
    if (log.contains("harness")) {
        const auto& h = log["harness"];
        if (h.contains("variable")) {
            r["harness_var"] = h["variable"];
        }
        if (h.contains("sub_runs_per_point")) {
            r["sub_runs"] = h["sub_runs_per_point"];
        } else if (h.contains("table") && !h["table"].empty()) {
            r["sub_runs"] = h["table"][0]["scores"].size();
        }
        r["points"] = h["points"];
    }
    if (log.contains("sub_runs") && !log["sub_runs"].empty()) {
        const auto& s = log["sub_runs"][0];
        const std::string var =
            r["harness_var"].is_string() ? r["harness_var"].get<std::string>() : "";
        auto take = [&](const char* key, const char* from_key, const char* swept) {
            if (s.contains(from_key) && var != swept) {
                r[key] = s[from_key];
            }
        };
        take("threads", "threads", "threads");
        take("threading", "threading", "");
        take("size", "grid", "size");
        take("duration", "duration", "duration");
        take("large_pages", "large_pages", "");
        take("workload", "workload", "");
        take("isa", "isa", "isa");
        if (var == "threads" && !args_known) {
            r["threads"] = nullptr;
        }
    }
    return r;
}

json make_record(const parsed_log& log, const record_context& ctx) {
    const json& d = log.data;
    json rec = {
        {"schema_version", schema_version},
        {"source", ctx.source},
        {"label", ctx.label},
        {"complete", log.complete},
        {"incomplete_reason", log.complete ? json(nullptr) : json(log.problem)},
        {"mode", d.value("mode", "benchmark")},
        {"kestrix",
         {{"version", d.contains("kestrix_version") ? d["kestrix_version"] : json(nullptr)}}},
        {"options",
         {{"given", ctx.args_known ? json(ctx.given_args) : json(nullptr)},
          {"resolved", resolve_options(ctx.given_args, ctx.args_known, d)}}},
        {"sub_runs", d.contains("sub_runs") ? d["sub_runs"] : json::array()},
        {"harness", d.contains("harness") ? d["harness"] : json(nullptr)},
        {"messages", d.value("messages", json::array())},
        {"system", ctx.system},
        {"results_build",
         {{"program", "kestrix-results"},
          {"version", kestrix::version_text},
          {"compiler", __VERSION__},
#ifdef _WIN32
          {"target", "windows-x86_64"}
#else
          {"target", "linux-x86_64"}
#endif
         }},
    };
    for (const char* k : {"topology", "timers", "help", "error"}) {
        if (d.contains(k)) {
            rec["diagnostics"][k] = d[k];
        }
    }
    if (!rec.contains("diagnostics")) {
        rec["diagnostics"] = json::object();
    }
    rec["valid_sub_runs"] = count_scored(d);
    rec["invalid_sub_runs"] = count_unscored(d);
    for (const auto& [k, v] : ctx.extra.items()) {
        rec[k] = v;
    }
    return rec;
}

std::string record_file_name(const json& rec) {
    std::string t = "unknown-time";
    if (rec["system"].contains("start_utc") && rec["system"]["start_utc"].is_string()) {
        t.clear();
        for (char c : rec["system"]["start_utc"].get<std::string>()) {
            if (c != '-' && c != ':') {
                t += c;
            }
        }
    }
    std::string host = "host";
    if (rec["system"].contains("host") && rec["system"]["host"].is_string()) {
        host = rec["system"]["host"].get<std::string>();
    }
    const auto& o = rec["options"]["resolved"];
    auto text = [&](const char* k) {
        const auto& v = o[k];
        return v.is_null() ? std::string("x") : v.is_string() ? v.get<std::string>() : v.dump();
    };
    std::string name = sanitized(t);
    // Appended piece by piece: g++ 12 warns (-Wrestrict) on "literal" + temporary strings here.
    auto add = [&name](const char* sep, const std::string& piece) {
        name.append(sep);
        name.append(sanitized(piece));
    };
    add("_", host);
    add("_", rec["mode"].get<std::string>());
    if (rec["mode"] == "benchmark") {
        add("_", text("workload"));
        add("_", text("isa"));
        add("_s", text("size"));
        add("_d", text("duration"));
        add("_n", text("threads"));
        add("_", text("harness_var"));
    }
    return name + ".json";
}

void write_file_atomic(const std::string& path, const std::string& text) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    fs::path tmp = target;
    tmp += ".partial";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) {
            throw input_error("cannot write " + tmp.string());
        }
        out << text;
        out.flush();
        if (!out) {
            std::error_code ec;
            fs::remove(tmp, ec);
            throw input_error("cannot write " + tmp.string());
        }
    }
    std::error_code ec;
    fs::rename(tmp, target, ec);
    if (ec) {
        fs::remove(tmp, ec);
        throw input_error("cannot rename " + tmp.string() + " to " + target.string());
    }
}

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw input_error("cannot read " + path);
    }
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string check_record(const json& rec) {
    if (!rec.is_object()) {
        return "not a kestrix-results record (no JSON object)";
    }
    if (!rec.contains("schema_version") || !rec["schema_version"].is_number_integer()) {
        return "not a kestrix-results record (no schema_version)";
    }
    if (rec["schema_version"].get<int>() != schema_version) {
        return "record of schema version " + rec["schema_version"].dump() +
               ", this program reads version " + std::to_string(schema_version);
    }
    const char* required[] = {"source", "mode", "options", "sub_runs", "system", "complete"};
    for (const char* k : required) {
        if (!rec.contains(k)) {
            return std::string("record lacks \"") + k + "\"";
        }
    }
    if (!rec["sub_runs"].is_array()) {
        return "record's \"sub_runs\" is not a list";
    }
    for (const auto& s : rec["sub_runs"]) {
        if (!s.is_object() || !s.contains("point") || !s.contains("valid") ||
            !s["valid"].is_boolean() || !s.contains("score") ||
            !(s["score"].is_null() || s["score"].is_number())) {
            return "record has a sub-run without point, valid and score";
        }
    }
    return {};
}

namespace {

// Every field a reader looks at, so that a record written by hand or by an older build of this
// schema version reads as "not known" where it is silent.
json skeleton() {
    const json resolved = {
        {"workload", nullptr},    {"isa", nullptr},         {"size", nullptr},
        {"duration", nullptr},    {"threads", nullptr},     {"threading", nullptr},
        {"large_pages", nullptr}, {"harness_var", nullptr}, {"sub_runs", nullptr}};
    return {{"label", ""},
            {"source", "import"},
            {"complete", true},
            {"kestrix", {{"version", nullptr}}},
            {"options", {{"given", nullptr}, {"resolved", resolved}}},
            {"harness", nullptr},
            {"system",
             {{"note", ""},
              {"processor",
               {{"brand", nullptr},
                {"vendor", nullptr},
                {"family", nullptr},
                {"model", nullptr},
                {"features", nullptr}}},
              {"topology",
               {{"packages", nullptr},
                {"numa_nodes", nullptr},
                {"last_level_caches", nullptr},
                {"cores", nullptr},
                {"logical_processors", nullptr},
                {"performance_levels", nullptr}}},
              {"memory", {{"total_bytes", nullptr}, {"available_bytes", nullptr}}},
              {"os", {{"name", nullptr}, {"version", nullptr}, {"kernel", nullptr}}},
              {"host", nullptr},
              {"start_utc", nullptr},
              {"end_utc", nullptr}}}};
}

void fill(json& dst, const json& defaults) {
    if (!dst.is_object()) {
        return;
    }
    for (const auto& [k, v] : defaults.items()) {
        if (!dst.contains(k)) {
            dst[k] = v;
        } else if (v.is_object()) {
            fill(dst[k], v);
        }
    }
}

} // namespace

json load_record(const std::string& path) {
    const std::string text = read_whole_file(path);
    json rec = json::parse(text, nullptr, false);
    if (rec.is_discarded()) {
        throw input_error(path + ": not a kestrix-results record (not JSON)");
    }
    const std::string problem = check_record(rec);
    if (!problem.empty()) {
        throw input_error(path + ": " + problem);
    }
    fill(rec, skeleton());
    return rec;
}

} // namespace kestrix::results
