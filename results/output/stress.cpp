#include "output/stress.hpp"

#include "output/exporters.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kestrix::results {
// A namespace of its own: the other exporters' file-local helpers may share a unity build unit.
namespace stress_output {

using nlohmann::json;

// 1:02:03, as kestrix-stress prints it.
std::string hms(double seconds) {
    // Records hold at most 1e12 s; the clamp keeps the conversion defined whatever comes.
    const auto s = static_cast<std::uint64_t>(seconds > 0 ? std::min(seconds, 1e15) : 0.0);
    return std::to_string(s / 3600) + ":" + (s / 60 % 60 < 10 ? "0" : "") +
           std::to_string(s / 60 % 60) + ":" + (s % 60 < 10 ? "0" : "") + std::to_string(s % 60);
}

// 0-3,8
std::string numbers(const std::vector<std::uint32_t>& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size();) {
        std::size_t j = i;
        while (j + 1 < v.size() && v[j + 1] == v[j] + 1) {
            ++j;
        }
        // Appended piece by piece: g++ 12 warns (-Wrestrict) on "literal" + temporary strings.
        out.append(out.empty() ? "" : ",").append(std::to_string(v[i]));
        if (j > i) {
            out.append(j == i + 1 ? "," : "-").append(std::to_string(v[j]));
        }
        i = j + 1;
    }
    return out;
}

std::string joined(const std::vector<std::string>& v, const char* sep) {
    std::string out;
    for (const auto& s : v) {
        out += (out.empty() ? "" : sep) + s;
    }
    return out;
}

std::string processors(const stress_core& c) {
    return c.processors.empty() ? std::to_string(c.cpu) : numbers(c.processors);
}

std::string title(const stress_record& r) {
    const auto& s = r.settings;
    return "kestrix-stress " + r.version + (r.host ? " on " + *r.host : std::string()) + ", " +
           s.mode + " mode, cpu " + numbers(s.cpus) + ", " + joined(s.variants, ", ") + ", " +
           s.workload + " at N = " + std::to_string(s.size) + ", started " + r.started_utc;
}

std::string counter(const char* what, const std::optional<std::uint64_t>& v) {
    return std::string(what) + ": " +
           (v ? std::to_string(*v) + " during the run" : std::string("not available"));
}

std::string counters(const stress_record& r) {
    return counter("corrected memory errors (EDAC)", r.machine_checks.edac_corrected) + "; " +
           counter("machine-check exceptions", r.machine_checks.machine_check_exceptions);
}

// One small bar chart: a bar per core, its value in a tooltip.
struct bar {
    std::string label, tip;
    double value = 0;
};

// A round value at or above v: 1, 2, 2.5 or 5 times a power of ten.
double round_top(double v) {
    if (!(v > 0) || !std::isfinite(v)) {
        return 1;
    }
    const double mag = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 2.5, 5.0}) {
        if (v <= m * mag) {
            return m * mag;
        }
    }
    return 10 * mag;
}

// Counts (whole) get no tick between whole numbers.
void core_bars(markup& m, const std::string& what, const std::string& unit,
               const std::vector<bar>& bars, const char* fill, bool whole) {
    const double left = 56, right = 12, top = 28, plot_h = 120, bottom = 40;
    const double slot =
        std::clamp(480.0 / static_cast<double>(std::max<std::size_t>(bars.size(), 1)), 4.0, 40.0);
    const double w = std::max(360.0, left + right + slot * static_cast<double>(bars.size()));
    const double h = top + plot_h + bottom;
    double most = 0;
    for (const auto& b : bars) {
        most = std::max(most, b.value);
    }
    const double top_value = round_top(most);
    auto n = [](double v) { return fixed(v, 1); };
    auto y = [&](double v) { return top + plot_h - v / top_value * plot_h; };
    m.open("svg", {{"class", "chart"},
                   {"width", n(w)},
                   {"height", n(h)},
                   {"viewBox", "0 0 " + n(w) + " " + n(h)},
                   {"role", "img"}});
    m.element("title", {}, what);
    m.element("text", {{"x", n(left)}, {"y", "16"}, {"class", "ctitle"}}, what);
    for (double v : {0.0, top_value / 2, top_value}) {
        if (whole && v != std::floor(v)) {
            continue;
        }
        m.leaf("line", {{"x1", n(left)},
                        {"x2", n(w - right)},
                        {"y1", n(y(v))},
                        {"y2", n(y(v))},
                        {"class", "grid"}});
        m.element("text", {{"x", n(left - 6)}, {"y", n(y(v) + 4)}, {"text-anchor", "end"}},
                  fixed(v, v == std::floor(v) ? 0 : 1));
    }
    const std::string mid = n(top + plot_h / 2);
    m.element("text",
              {{"x", "14"},
               {"y", mid},
               {"transform", "rotate(-90 14 " + mid + ")"},
               {"text-anchor", "middle"}},
              unit);
    // Labels thinned out so that they never overlap.
    const std::size_t every = static_cast<std::size_t>(std::ceil(36.0 / slot));
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const double x = left + slot * static_cast<double>(i);
        m.open("rect", {{"class", "bar"},
                        {"x", n(x + slot * 0.1)},
                        {"y", n(y(bars[i].value))},
                        {"width", n(slot * 0.8)},
                        {"height", n(y(0) - y(bars[i].value))},
                        {"fill", fill}});
        m.element("title", {}, bars[i].tip);
        m.close("rect");
        if (i % every == 0) {
            m.element(
                "text",
                {{"x", n(x + slot / 2)}, {"y", n(top + plot_h + 16)}, {"text-anchor", "middle"}},
                bars[i].label);
        }
    }
    m.element("text",
              {{"x", n(left + (w - left - right) / 2)}, {"y", n(h - 6)}, {"text-anchor", "middle"}},
              "cpu");
    m.close("svg");
}

} // namespace stress_output

std::string stress_verdict(const stress_record& r) {
    using namespace stress_output;
    const std::size_t n = r.errors.size();
    std::string text =
        n == 0 ? "passed: no error in " + std::to_string(r.checkpoints) + " checkpoints"
               : "FAILED: " + std::to_string(n) + (n == 1 ? " error in " : " errors in ") +
                     std::to_string(r.checkpoints) + " checkpoints";
    if (r.state == "running") {
        return text + " (still running when last written, " + r.updated_utc + ")";
    }
    return text + " (" + r.state + ")";
}

std::string stress_markdown(const named_stress& s) {
    using namespace stress_output;
    const stress_record& r = *s.rec;
    std::string out = "### " + md_cell(s.name) + ": " + md_cell(title(r)) + "\n\n";
    out += "| cpu | variants | time under test | checkpoints | errors | first error at | kind | "
           "message |\n|---:|---|---:|---:|---:|---:|---|---|\n";
    for (const stress_core& c : r.cores) {
        const auto& e = c.first_error;
        out += "| " + md_cell(processors(c)) + " | " + md_cell(joined(c.variants, ", ")) + " | " +
               hms(c.time_under_test_s) + " | " + std::to_string(c.checkpoints) + " | " +
               std::to_string(c.errors) + (c.left_out ? " (left out)" : "") + " | " +
               (e ? hms(e->time_s) : "---") + " | " + (e ? md_cell(e->kind) : "---") + " | " +
               (e ? md_cell(e->message) : "---") + " |\n";
    }
    return out + "\n" + md_cell(counters(r)) + "\n\n" + md_cell(stress_verdict(r)) + "\n";
}

std::string stress_csv(const std::vector<named_stress>& all) {
    using namespace stress_output;
    std::string out =
        "record,cpu,processors,variants,time_under_test_s,checkpoints,errors,left_out,"
        "first_error_time_s,first_error_kind,first_error_message,verdict\n";
    for (const auto& s : all) {
        for (const stress_core& c : s.rec->cores) {
            const auto& e = c.first_error;
            out += csv_field(s.name) + "," + std::to_string(c.cpu) + "," +
                   csv_field(numbers(c.processors)) + "," + csv_field(joined(c.variants, ";")) +
                   "," + fixed(c.time_under_test_s, 3) + "," + std::to_string(c.checkpoints) + "," +
                   std::to_string(c.errors) + "," + (c.left_out ? "yes" : "no") + "," +
                   (e ? fixed(e->time_s, 3) : "") + "," + (e ? csv_field(e->kind) : "") + "," +
                   (e ? csv_field(e->message) : "") + "," + csv_field(stress_verdict(*s.rec)) +
                   "\n";
        }
    }
    return out;
}

nlohmann::json stress_json(const named_stress& s) {
    using namespace stress_output;
    const stress_record& r = *s.rec;
    return {{"record", s.name},
            {"kind", "stress"},
            {"title", title(r)},
            {"state", r.state},
            {"passed", r.errors.empty()},
            {"verdict", stress_verdict(r)},
            {"checkpoints", r.checkpoints},
            {"cores", r.cores},
            {"errors", r.errors},
            {"machine_checks", r.machine_checks}};
}

void stress_html(markup& m, const named_stress& s) {
    using namespace stress_output;
    const stress_record& r = *s.rec;
    m.element("h2", {}, "Stability test: " + s.name);
    m.element("p", {}, title(r));
    m.element("p", {{"class", r.errors.empty() ? "passed" : "failed"}}, stress_verdict(r));
    double longest = 0;
    for (const stress_core& c : r.cores) {
        longest = std::max(longest, c.time_under_test_s);
    }
    const auto [unit, per] = longest < 120    ? std::pair{"seconds", 1.0}
                             : longest < 7200 ? std::pair{"minutes", 60.0}
                                              : std::pair{"hours", 3600.0};
    std::vector<bar> time, errors;
    for (const stress_core& c : r.cores) {
        const std::string cpu = processors(c);
        time.push_back({cpu,
                        "cpu " + cpu + ": " + hms(c.time_under_test_s) + " under test, " +
                            std::to_string(c.checkpoints) + " checkpoints",
                        c.time_under_test_s / per});
        errors.push_back({cpu, "cpu " + cpu + ": " + std::to_string(c.errors) + " error(s)",
                          static_cast<double>(c.errors)});
    }
    m.open("div", {{"class", "stress-charts"}});
    core_bars(m, "time under test per core", unit, time, "#3b6ea8", false);
    core_bars(m, "errors per core", "errors", errors, "#c0392b", true);
    m.close("div");
    m.open("table", {{"class", "cmp stress"}}).open("thead").open("tr");
    for (const char* h : {"cpu", "variants", "time under test", "checkpoints", "errors",
                          "first error at", "kind", "message"}) {
        m.element("th", {}, h);
    }
    m.close("tr").close("thead").open("tbody");
    for (const stress_core& c : r.cores) {
        const auto& e = c.first_error;
        if (c.errors) {
            m.open("tr", {{"class", "failed"}});
        } else {
            m.open("tr");
        }
        m.element("td", {}, processors(c)).element("td", {}, joined(c.variants, ", "));
        m.element("td", {}, hms(c.time_under_test_s));
        m.element("td", {}, std::to_string(c.checkpoints));
        m.element("td", {}, std::to_string(c.errors) + (c.left_out ? " (left out)" : ""));
        m.element("td", {}, e ? hms(e->time_s) : "---").element("td", {}, e ? e->kind : "---");
        m.element("td", {}, e ? e->message : "---");
        m.close("tr");
    }
    m.close("tbody").close("table");
    m.element("p", {{"class", "note"}}, counters(r));
}

} // namespace kestrix::results
