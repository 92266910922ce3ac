#include "system.hpp"

#include "host.hpp"
#include "platform/cpu.hpp"
#include "platform/memory.hpp"
#include "platform/topology.hpp"

#include <sstream>

namespace kestrix::results {
namespace {

using nlohmann::json;

json words(const std::string& s) {
    json out = json::array();
    std::istringstream in(s);
    std::string w;
    while (in >> w) {
        out.push_back(w);
    }
    return out;
}

const char* vendor_name(cpu_vendor v) {
    switch (v) {
    case cpu_vendor::intel:
        return "intel";
    case cpu_vendor::amd:
        return "amd";
    default:
        return "other";
    }
}

json topology_json(const cpu_topology& t) {
    std::uint32_t llcs = 0, cores = 0, logicals = 0;
    for (const auto& n : t.numa_nodes) {
        llcs += static_cast<std::uint32_t>(n.llcs.size());
        for (const auto& l : n.llcs) {
            cores += static_cast<std::uint32_t>(l.cores.size());
            for (const auto& c : l.cores) {
                logicals += static_cast<std::uint32_t>(c.logicals.size());
            }
        }
    }
    return {{"numa_nodes", t.numa_nodes.size()},
            {"last_level_caches", llcs},
            {"cores", cores},
            {"logical_processors", logicals},
            {"performance_levels", t.perf_level_count}};
}

} // namespace

json describe_this_machine(bool with_host) {
    const cpu_vendor_info v = read_cpu_vendor_info();
    const host_facts h = query_host();
    json topo = topology_json(detect_topology());
    topo["packages"] = h.packages > 0 ? json(h.packages) : json(nullptr);
    return {
        {"source", "this machine"},
        {"note", "measured by kestrix-results on the machine that ran kestrix"},
        {"processor",
         {{"brand", read_cpu_brand()},
          {"vendor", vendor_name(v.vendor)},
          {"family", v.family},
          {"model", v.model},
          {"features", words(format_cpu_features())}}},
        {"topology", topo},
        {"memory",
         {{"total_bytes", h.total_memory > 0 ? json(h.total_memory) : json(nullptr)},
          {"available_bytes", available_physical_memory()}}},
        {"os", {{"name", h.os_name}, {"version", h.os_version}, {"kernel", h.kernel}}},
        {"host", with_host && !h.host_name.empty() ? json(h.host_name) : json(nullptr)},
        {"start_utc", nullptr},
        {"end_utc", nullptr},
    };
}

json describe_from_log(const json& d) {
    json p = {{"brand", nullptr},
              {"vendor", nullptr},
              {"family", nullptr},
              {"model", nullptr},
              {"features", nullptr}};
    json topo = {{"packages", nullptr},           {"numa_nodes", nullptr},
                 {"last_level_caches", nullptr},  {"cores", nullptr},
                 {"logical_processors", nullptr}, {"performance_levels", nullptr}};
    std::string shown = "processor brand and feature list";
    if (d.contains("sub_runs") && !d["sub_runs"].empty()) {
        const auto& s = d["sub_runs"][0];
        if (s.contains("brand")) {
            p["brand"] = s["brand"];
        }
        if (s.contains("features")) {
            p["features"] = s["features"];
        }
    }
    if (d.contains("timers")) {
        const auto& t = d["timers"];
        for (const char* k : {"brand", "vendor", "family", "model"}) {
            if (t.contains(k)) {
                p[k] = t[k];
            }
        }
        shown = "processor brand, vendor, family and model";
    }
    if (d.contains("topology")) {
        for (const char* k : {"numa_nodes", "last_level_caches", "cores", "logical_processors",
                              "performance_levels"}) {
            topo[k] = d["topology"][k];
        }
        shown = "topology";
    }
    return {
        {"source", "log"},
        {"note", "imported from a saved log: only the " + shown +
                     " are known; the rest of the system is not in kestrix's output"},
        {"processor", p},
        {"topology", topo},
        {"memory", {{"total_bytes", nullptr}, {"available_bytes", nullptr}}},
        {"os", {{"name", nullptr}, {"version", nullptr}, {"kernel", nullptr}}},
        {"host", nullptr},
        {"start_utc", nullptr},
        {"end_utc", nullptr},
    };
}

} // namespace kestrix::results
