#include "stress/record.hpp"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <fmt/chrono.h>
#include <fmt/format.h>

namespace kestrix::stress {

using nlohmann::json;

namespace {

template <typename T> json optional_json(const std::optional<T>& v) {
    return v ? json(*v) : json(nullptr);
}

std::string isa_text(isa_kind isa) {
    return std::string(isa_names[static_cast<std::size_t>(isa)]);
}

} // namespace

void to_json(json& j, const record_settings& s) {
    j = json{{"stress_mode", s.mode},
             {"cpus", s.cpus},
             {"smt", s.smt},
             {"variants", s.variants},
             {"workload", s.workload},
             {"size", s.size},
             {"slice_s", s.slice_s},
             {"duration_s", s.duration_s},
             {"keep_going", s.keep_going},
             {"check_every", s.check_every}};
}

void to_json(json& j, const record_error& e) {
    j = json{{"time_s", e.time_s},   {"kind", e.kind}, {"cpus", e.cpus},
             {"variant", e.variant}, {"step", e.step}, {"message", e.message}};
}

void to_json(json& j, const record_core& c) {
    j = json{{"cpu", c.cpu},
             {"processors", c.processors},
             {"variants", c.variants},
             {"time_under_test_s", c.time_under_test_s},
             {"checkpoints", c.checkpoints},
             {"errors", c.errors},
             {"first_error", c.first_error ? json(*c.first_error) : json(nullptr)},
             {"left_out", c.left_out}};
}

void to_json(json& j, const stress_record& r) {
    j = json{
        {"schema_version", 2},
        {"mode", "stress"},
        {"program", "kestrix-stress"},
        {"version", r.version},
        {"started_utc", r.started_utc},
        {"ended_utc", optional_json(r.ended_utc)},
        {"updated_utc", r.updated_utc},
        {"host", r.host.empty() ? json(nullptr) : json(r.host)},
        {"state", r.state},
        {"settings", r.settings},
        {"cores", r.cores},
        {"errors", r.errors},
        {"checkpoints", r.checkpoints},
        {"machine_checks",
         {{"edac_corrected", optional_json(r.machine_checks.edac_corrected)},
          {"machine_check_exceptions", optional_json(r.machine_checks.machine_check_exceptions)}}},
        {"exit_code", optional_json(r.exit_code)}};
}

record_error to_record(const error_event& e) {
    return record_error{.time_s = e.time_s,
                        .kind = error_kind_name(e.kind),
                        .cpus = e.cpus,
                        .variant = isa_text(e.variant),
                        .step = e.step,
                        .message = e.message};
}

std::vector<record_core> to_record(const std::vector<core_report>& cores) {
    std::vector<record_core> out;
    for (const core_report& c : cores) {
        record_core r{.cpu = c.cpu,
                      .processors = {c.cpu},
                      .variants = {},
                      .time_under_test_s = c.seconds,
                      .checkpoints = c.checkpoints,
                      .errors = c.errors,
                      .first_error = std::nullopt,
                      .left_out = c.left_out};
        for (isa_kind v : c.variants) {
            r.variants.push_back(isa_text(v));
        }
        if (c.first_error) {
            r.first_error = to_record(*c.first_error);
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::string write_record(const std::string& path, const stress_record& r) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream f(temporary, std::ios::binary | std::ios::trunc);
        if (!f) {
            return fmt::format("cannot write {}", temporary);
        }
        f << json(r).dump(2) << '\n';
        f.flush();
        if (!f) {
            return fmt::format("cannot write {}", temporary);
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::filesystem::remove(temporary, ec);
        return fmt::format("cannot replace {}", path);
    }
    return {};
}

std::string utc_now() {
    return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}", fmt::gmtime(std::chrono::system_clock::to_time_t(
                                                    std::chrono::system_clock::now())));
}

} // namespace kestrix::stress
