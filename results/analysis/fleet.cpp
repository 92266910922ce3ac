#include "analysis/fleet.hpp"

#include "analysis/statistics.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>

namespace kestrix::results {
namespace {

constexpr const char* metric_names[] = {"all", "single", "all_baseline", "single_baseline"};
constexpr const char* metric_titles[] = {"all threads", "single thread", "all threads, sse2",
                                         "single thread, sse2"};

std::string trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') {
        s.pop_back();
    }
    return s.substr(std::min(s.find_first_not_of(' '), s.size()));
}

std::string fact_text(const record& r, const char* name) {
    if (!r.system.facts) {
        return "";
    }
    const auto it = r.system.facts->find(name);
    if (it == r.system.facts->end() || it->second.value.is_null()) {
        return "";
    }
    const auto& v = it->second.value;
    return v.is_string() ? v.get<std::string>() : v.dump();
}

std::string processor_of(const record& r) {
    const std::string vendor = fact_text(r, "cpu.vendor");
    const std::string brand = trimmed(fact_text(r, "cpu.brand").empty()
                                          ? r.system.processor.brand.value_or("unknown processor")
                                          : fact_text(r, "cpu.brand"));
    if (vendor.empty()) {
        return brand;
    }
    return brand + " (" + vendor + " family " + fact_text(r, "cpu.family") + " model " +
           fact_text(r, "cpu.model") + ")";
}

std::string topology_of(const record& r) {
    const auto& t = r.system.topology;
    auto n = [](const std::optional<std::uint64_t>& v) {
        return v ? std::to_string(*v) : std::string("?");
    };
    return n(t.packages) + " packages, " + n(t.cores) + " cores, " + n(t.logical_processors) +
           " logical processors";
}

std::string settings_of(const record& r, fleet_metric m) {
    if (r.suite) {
        return std::string("standard run") + (r.suite->quick ? " (quick)" : "") + ", " +
               metric_titles[static_cast<int>(m)];
    }
    const settings& o = r.options.resolved;
    auto n = [](const auto& v) { return v ? std::to_string(*v) : std::string("?"); };
    return o.workload.value_or("?") + " " + o.isa.value_or("?") + ", N = " + n(o.size) + ", " +
           n(o.duration) + " s, " + n(o.threads) + " threads";
}

std::string host_of(const fleet_input& in) {
    if (in.rec && in.rec->system.host && !in.rec->system.host->empty()) {
        return *in.rec->system.host;
    }
    if (in.rec && !in.rec->label.empty()) {
        return in.rec->label;
    }
    std::string stem = in.file;
    if (const auto slash = stem.find_last_of("/\\"); slash != std::string::npos) {
        stem = stem.substr(slash + 1);
    }
    return stem;
}

// The record's score for the metric, or why it has none (failed) or cannot be compared.
struct scored {
    std::optional<double> score;
    std::string failed, not_comparable;
};

scored score_of(const record& r, fleet_metric m) {
    scored out;
    if (!r.complete) {
        out.failed = "incomplete: " + r.incomplete_reason.value_or("cut off");
        return out;
    }
    if (r.mode == run_mode::error) {
        out.failed = "kestrix stopped: " + r.error.value_or("an error");
        return out;
    }
    if (r.mode != run_mode::benchmark && r.mode != run_mode::suite) {
        out.not_comparable = std::string("a ") + mode_name(r.mode) + " record";
        return out;
    }
    if (r.suite) {
        for (const auto& p : r.suite->parts) {
            if (p.name == metric_names[static_cast<int>(m)]) {
                out.score = p.median;
                if (!p.median) {
                    out.failed = "no valid score (" + p.reason.value_or("none") + ")";
                }
                return out;
            }
        }
        out.failed = std::string("no ") + metric_titles[static_cast<int>(m)] + " run";
        return out;
    }
    const std::string var = r.options.resolved.harness_var.value_or("none");
    if (var != "none") {
        out.not_comparable = "a " + var + " sweep";
        return out;
    }
    std::vector<double> v;
    for (const auto& s : r.sub_runs) {
        if (s.valid && s.score) {
            v.push_back(*s.score);
        }
    }
    if (v.empty()) {
        out.failed = "no valid score";
        return out;
    }
    out.score = statistics::median(v);
    return out;
}

std::string when_of(const record& r) {
    return r.system.end_utc.value_or(r.system.start_utc.value_or(""));
}

void judge(fleet_group& g, const fleet_limits& lim, int& slow) {
    std::vector<double> v;
    for (const auto& h : g.hosts) {
        v.push_back(*h.score);
    }
    const double median = statistics::median(v);
    std::vector<double> dev;
    for (double x : v) {
        dev.push_back(std::fabs(x - median));
    }
    const double mad = statistics::median(dev);
    g.median = median;
    g.mad = mad;
    for (auto& h : g.hosts) {
        const double x = *h.score;
        if (mad > 0) {
            h.z = 0.6745 * (x - median) / mad;
        }
        if (median > 0) {
            h.below_percent = (median - x) / median * 100.0;
        }
        h.slow = (h.z && *h.z < lim.z) || (h.below_percent && *h.below_percent > lim.below_percent);
        slow += h.slow ? 1 : 0;
    }
    std::stable_sort(g.hosts.begin(), g.hosts.end(),
                     [](const fleet_host& a, const fleet_host& b) { return *a.score < *b.score; });
}

} // namespace

std::optional<fleet_metric> parse_fleet_metric(const std::string& s) {
    for (int i = 0; i < 4; ++i) {
        if (s == metric_names[i]) {
            return static_cast<fleet_metric>(i);
        }
    }
    return std::nullopt;
}

const char* fleet_metric_name(fleet_metric m) {
    return metric_names[static_cast<int>(m)];
}

const char* fleet_metric_title(fleet_metric m) {
    return metric_titles[static_cast<int>(m)];
}

fleet_report fleet_of(const std::vector<fleet_input>& inputs, fleet_metric metric,
                      const fleet_limits& limits, const std::vector<std::string>& expected) {
    fleet_report out;
    out.metric = metric;
    out.limits = limits;
    // The latest readable record of each host counts; the others are superseded.
    std::map<std::string, std::size_t> latest;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const fleet_input& in = inputs[i];
        if (!in.rec && !in.other_kind.empty()) {
            out.not_comparable.push_back(
                {host_of(in), in.file, "", {}, {}, {}, false, in.other_kind});
            continue;
        }
        if (!in.rec) {
            out.failed.push_back(
                {host_of(in), in.file, "", {}, {}, {}, false, "cannot be read: " + in.problem});
            continue;
        }
        const std::string host = host_of(in);
        auto [it, fresh] = latest.try_emplace(host, i);
        if (!fresh) {
            const std::size_t before = it->second;
            const bool newer = when_of(*in.rec) >= when_of(*inputs[before].rec);
            const std::size_t old = newer ? before : i;
            it->second = newer ? i : before;
            out.superseded.push_back({host,
                                      inputs[old].file,
                                      when_of(*inputs[old].rec),
                                      {},
                                      {},
                                      {},
                                      false,
                                      "a later record of this host counts"});
        }
    }
    std::map<std::tuple<std::string, std::string, std::string, std::string>, std::size_t> index;
    for (const auto& [host, i] : latest) {
        const record& r = *inputs[i].rec;
        fleet_host h{host, inputs[i].file, when_of(r), {}, {}, {}, false, ""};
        const scored s = score_of(r, metric);
        ++out.hosts;
        if (!s.not_comparable.empty()) {
            h.reason = s.not_comparable;
            out.not_comparable.push_back(std::move(h));
            --out.hosts;
            continue;
        }
        if (!s.failed.empty()) {
            h.reason = s.failed;
            out.failed.push_back(std::move(h));
            continue;
        }
        h.score = s.score;
        const auto key =
            std::make_tuple(processor_of(r), topology_of(r),
                            r.kestrix_version.value_or("unknown build"), settings_of(r, metric));
        auto [g, fresh] = index.try_emplace(key, out.groups.size());
        if (fresh) {
            out.groups.push_back({std::get<0>(key),
                                  std::get<1>(key),
                                  std::get<2>(key),
                                  std::get<3>(key),
                                  {},
                                  {},
                                  {}});
        }
        out.groups[g->second].hosts.push_back(std::move(h));
    }
    // Batch systems name nodes their own way; a node's record may carry that name as its label.
    std::set<std::string> names;
    for (const auto& in : inputs) {
        if (in.rec) {
            names.insert(host_of(in));
            names.insert(in.rec->label);
        }
    }
    for (const std::string& host : expected) {
        if (!names.count(host)) {
            ++out.hosts;
            out.failed.push_back({host, "", "", {}, {}, {}, false, "wrote no record"});
        }
    }
    for (auto& g : out.groups) {
        judge(g, limits, out.slow);
    }
    return out;
}

} // namespace kestrix::results
