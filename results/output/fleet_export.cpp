// The fleet report as Markdown, CSV and JSON.
#include "analysis/fleet.hpp"
#include "output/exporters.hpp"

#include <nlohmann/json.hpp>

namespace kestrix::results {
namespace {

std::string status_of(const fleet_host& h) {
    return h.slow ? "slow" : "ok";
}

std::string signed_fixed(const std::optional<double>& v, int decimals) {
    if (!v) {
        return "---";
    }
    std::string out = *v > 0 ? "+" : "";
    out.append(fixed(*v, decimals));
    return out;
}

std::string listed(const std::vector<fleet_host>& hosts, const char* heading) {
    if (hosts.empty()) {
        return "";
    }
    std::string out =
        std::string("\n## ") + heading + "\n\n| host | reason | record |\n|---|---|---|\n";
    for (const auto& h : hosts) {
        out += "| " + md_cell(h.host) + " | " + md_cell(h.reason) + " | " +
               md_cell(h.file.empty() ? "---" : h.file) + " |\n";
    }
    return out;
}

nlohmann::json host_json(const fleet_host& h) {
    auto opt = [](const std::optional<double>& v) {
        return v ? nlohmann::json(*v) : nlohmann::json();
    };
    return {{"host", h.host},        {"file", h.file},    {"when", h.when},
            {"score", opt(h.score)}, {"z", opt(h.z)},     {"below_percent", opt(h.below_percent)},
            {"slow", h.slow},        {"reason", h.reason}};
}

} // namespace

std::string fleet_markdown(const fleet_report& r) {
    std::string out = std::string("# Fleet report: ") + fleet_metric_title(r.metric) + "\n\n" +
                      "hosts " + std::to_string(r.hosts) + ", groups " +
                      std::to_string(r.groups.size()) + ", slow " + std::to_string(r.slow) +
                      ", failed " + std::to_string(r.failed.size()) + ". Slow: robust z below " +
                      fixed(r.limits.z, 1) + " or more than " + fixed(r.limits.below_percent, 1) +
                      " % below the group's median (z = 0.6745 (x - median) / MAD; where MAD "
                      "is 0, only the percentage).\n";
    for (std::size_t i = 0; i < r.groups.size(); ++i) {
        const fleet_group& g = r.groups[i];
        out += "\n## Group " + std::to_string(i + 1) + ": " + md_cell(g.processor) + "\n\n" +
               md_cell(g.topology) + "; kestrix " + md_cell(g.build) + "; " + md_cell(g.settings) +
               ". Hosts " + std::to_string(g.hosts.size()) + ", median " + cell(g.median, 1) +
               " MGups, MAD " + cell(g.mad, 2) + ".\n\n" +
               "| host | MGups | below median | z | status | record |\n"
               "|---|---:|---:|---:|---|---|\n";
        for (const auto& h : g.hosts) {
            out += "| " + md_cell(h.host) + " | " + cell(h.score, 1) + " | " +
                   (h.below_percent ? fixed(*h.below_percent, 1) + " %" : "---") + " | " +
                   signed_fixed(h.z, 2) + " | " + status_of(h) + " | " + md_cell(h.file) + " |\n";
        }
    }
    out += listed(r.failed, "Failed");
    out += listed(r.not_comparable, "Not comparable");
    out += listed(r.superseded, "Superseded");
    return out;
}

std::string fleet_csv(const fleet_report& r) {
    std::string out = "group,processor,topology,build,settings,host,score,group_median,group_mad,"
                      "below_percent,z,status,reason,file\n";
    auto row = [&out](const std::string& group, const fleet_group* g, const fleet_host& h,
                      const std::string& status) {
        auto num = [](const std::optional<double>& v, int d) { return v ? fixed(*v, d) : ""; };
        out +=
            group + "," + csv_field(g ? g->processor : "") + "," + csv_field(g ? g->topology : "") +
            "," + csv_field(g ? g->build : "") + "," + csv_field(g ? g->settings : "") + "," +
            csv_field(h.host) + "," + num(h.score, 3) + "," + num(g ? g->median : std::nullopt, 3) +
            "," + num(g ? g->mad : std::nullopt, 3) + "," + num(h.below_percent, 2) + "," +
            num(h.z, 3) + "," + status + "," + csv_field(h.reason) + "," + csv_field(h.file) + "\n";
    };
    for (std::size_t i = 0; i < r.groups.size(); ++i) {
        for (const auto& h : r.groups[i].hosts) {
            row(std::to_string(i + 1), &r.groups[i], h, status_of(h));
        }
    }
    for (const auto& h : r.failed) {
        row("", nullptr, h, "failed");
    }
    for (const auto& h : r.not_comparable) {
        row("", nullptr, h, "not comparable");
    }
    for (const auto& h : r.superseded) {
        row("", nullptr, h, "superseded");
    }
    return out;
}

std::string fleet_json(const fleet_report& r) {
    nlohmann::json groups = nlohmann::json::array();
    for (const auto& g : r.groups) {
        nlohmann::json hosts = nlohmann::json::array();
        for (const auto& h : g.hosts) {
            hosts.push_back(host_json(h));
        }
        groups.push_back({{"processor", g.processor},
                          {"topology", g.topology},
                          {"build", g.build},
                          {"settings", g.settings},
                          {"median", g.median ? nlohmann::json(*g.median) : nlohmann::json()},
                          {"mad", g.mad ? nlohmann::json(*g.mad) : nlohmann::json()},
                          {"hosts", hosts}});
    }
    auto list = [](const std::vector<fleet_host>& v) {
        nlohmann::json a = nlohmann::json::array();
        for (const auto& h : v) {
            a.push_back(host_json(h));
        }
        return a;
    };
    const nlohmann::json j{{"metric", fleet_metric_name(r.metric)},
                           {"z_limit", r.limits.z},
                           {"below_percent_limit", r.limits.below_percent},
                           {"hosts", r.hosts},
                           {"slow", r.slow},
                           {"groups", groups},
                           {"failed", list(r.failed)},
                           {"not_comparable", list(r.not_comparable)},
                           {"superseded", list(r.superseded)}};
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace kestrix::results
