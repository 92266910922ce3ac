#include "stress/record.hpp"

#include "model/storage.hpp"

#include <chrono>

#include <fmt/chrono.h>
#include <fmt/format.h>

namespace kestrix::stress {

namespace {

std::string isa_text(isa_kind isa) {
    return std::string(isa_names[static_cast<std::size_t>(isa)]);
}

} // namespace

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
    try {
        results::write_stress_record(path, r);
    } catch (const results::input_error& e) {
        return e.what();
    }
    return {};
}

std::string utc_now() {
    return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}", fmt::gmtime(std::chrono::system_clock::to_time_t(
                                                    std::chrono::system_clock::now())));
}

} // namespace kestrix::stress
