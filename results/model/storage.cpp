#include "model/storage.hpp"

#include "model/migrate.hpp"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrix::results {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The deepest nesting of arrays and objects in JSON text, counted without parsing.
int nesting_depth(std::string_view text) {
    int depth = 0, deepest = 0;
    bool in_string = false, escaped = false;
    for (const char c : text) {
        if (in_string) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                in_string = false;
            }
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
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

void ensure_folder(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
        throw input_error("cannot create the folder " + dir);
    }
}

json parse_json_text(std::string_view text) {
    if (nesting_depth(text) > max_json_depth) {
        throw input_error("not a kestrix-results record (nested deeper than " +
                          std::to_string(max_json_depth) + " levels)");
    }
    json j = json::parse(text, nullptr, false);
    if (j.is_discarded()) {
        throw input_error("not a kestrix-results record (not JSON)");
    }
    return j;
}

record record_from_json(const json& j) {
    if (!j.is_object()) {
        throw input_error("not a kestrix-results record (no JSON object)");
    }
    if (const auto m = j.find("mode"); m != j.end() && *m == "stress") {
        throw input_error(
            "a kestrix-stress record, not one of a kestrix run: only show and report read it");
    }
    const auto v = j.find("schema_version");
    if (v == j.end() || !v->is_number_integer()) {
        throw input_error("not a kestrix-results record (no schema_version)");
    }
    // Parsed text holds non-negative integers as unsigned, a value built in memory as signed.
    const std::uint64_t version = v->is_number_unsigned() ? v->get<std::uint64_t>()
                                  : v->get<std::int64_t>() > 0
                                      ? static_cast<std::uint64_t>(v->get<std::int64_t>())
                                      : 0;
    if (version < 1 || version > static_cast<std::uint64_t>(schema_version)) {
        throw input_error("record of schema version " + v->dump() +
                          ", this program reads versions 1 to " + std::to_string(schema_version));
    }
    try {
        const json current = version == 1 ? migrate_v1_to_v2(j) : j;
        return current.get<record>();
    } catch (const record_error& e) {
        throw input_error(e.what());
    } catch (const json::exception&) {
        throw input_error("not a kestrix-results record (its fields have the wrong types)");
    }
}

record load_record(const std::string& path) {
    try {
        return record_from_json(parse_json_text(read_whole_file(path)));
    } catch (const input_error& e) {
        const std::string what = e.what();
        if (what.rfind(path, 0) == 0) {
            throw;
        }
        throw input_error(path + ": " + what);
    }
}

std::string record_text(const record& r) {
    // Texts from a log may hold any bytes: invalid UTF-8 is replaced, never refused.
    return json(r).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string record_file_name(const record& r) {
    std::string t = "unknown-time";
    if (r.system.start_utc) {
        t.clear();
        for (char c : *r.system.start_utc) {
            if (c != '-' && c != ':') {
                t += c;
            }
        }
    }
    const std::string host = r.system.host.value_or("host");
    const settings& o = r.options.resolved;
    auto text = [](const auto& v) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::optional<std::string>>) {
            return v.value_or("x");
        } else {
            return v ? std::to_string(*v) : std::string("x");
        }
    };
    std::string name = sanitized(t);
    // Appended piece by piece: g++ 12 warns (-Wrestrict) on "literal" + temporary strings here.
    auto add = [&name](const char* sep, const std::string& piece) {
        name.append(sep);
        name.append(sanitized(piece));
    };
    add("_", host);
    add("_", mode_name(r.mode));
    if (r.mode == run_mode::benchmark) {
        add("_", text(o.workload));
        add("_", text(o.isa));
        add("_s", text(o.size));
        add("_d", text(o.duration));
        add("_n", text(o.threads));
        add("_", text(o.harness_var));
    }
    return name + ".json";
}

std::string write_record(const std::string& dir, const record& r, const std::string& prefix) {
    ensure_folder(dir);
    const std::string name = prefix + record_file_name(r);
    const std::string stem = name.substr(0, name.size() - 5); // without ".json"
    fs::path p = fs::path(dir) / name;
    for (int n = 2; fs::exists(p); ++n) {
        p = fs::path(dir) / (stem + "-" + std::to_string(n) + ".json");
    }
    write_file_atomic(p.string(), record_text(r));
    return p.string();
}

void write_file_atomic(const std::string& path, const std::string& text) {
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

} // namespace kestrix::results
