#include "host/system.hpp"

#include "host/facts.hpp"
#include "host/fs_root.hpp"
#include "host/host.hpp"
#include "host/topology_root.hpp"
#include "platform/cpu.hpp"
#include "platform/memory.hpp"
#include "platform/topology.hpp"

#include <sstream>

namespace kestrix::results {
namespace {

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    std::string w;
    while (in >> w) {
        out.push_back(w);
    }
    return out;
}

// {"cpu": {"vendor": fact, ...}, "board": {...}} as {"cpu.vendor": fact, ...}.
std::map<std::string, system_fact> flatten_facts(const nlohmann::json& groups) {
    std::map<std::string, system_fact> out;
    for (const char* group : {"cpu", "topology", "board"}) {
        if (!groups.contains(group)) {
            continue;
        }
        for (const auto& [name, f] : groups[group].items()) {
            system_fact fact;
            fact.value = f.value("value", nlohmann::json());
            if (f.contains("source") && f["source"].is_string() &&
                !f["source"].get<std::string>().empty()) {
                fact.source = f["source"].get<std::string>();
            }
            if (f.contains("unavailable") && f["unavailable"].is_string() &&
                !f["unavailable"].get<std::string>().empty()) {
                fact.unavailable = f["unavailable"].get<std::string>();
            }
            if (!fact.source && !fact.unavailable) {
                fact.unavailable = "not said";
            }
            out[std::string(group) + "." + name] = std::move(fact);
        }
    }
    return out;
}

// Which fields came from the files below the root, and which from the processor itself. A
// fact says by its source: a file, or CPUID (hwloc asks CPUID where sysfs lists nothing).
root_info where_read(const std::filesystem::path& root, const system_block& s,
                     bool topology_from_root) {
    root_info r;
    r.path = root.generic_string();
    r.asked_of_processor = {"system.processor", "system.timer_rule"};
    for (const auto& [name, f] : *s.facts) {
        const bool processor = name.rfind("cpu.", 0) == 0 && name != "cpu.microcode" &&
                               name != "cpu.base_mhz" && name != "cpu.max_mhz";
        const bool from_file = f.source ? f.source->rfind('/', 0) == 0 : !processor;
        (from_file ? r.read_below_root : r.asked_of_processor).push_back("system.facts." + name);
    }
    // The package count is read from sysfs even where hwloc found no topology there.
    r.read_below_root.push_back(topology_from_root ? "system.topology"
                                                   : "system.topology.packages");
    if (s.host) {
        r.read_below_root.push_back("system.host");
    }
    for (const char* field :
         {"system.memory", "system.os", "conditions.other_load", "conditions.frequency_driver",
          "conditions.governor", "conditions.energy_performance_preference", "conditions.turbo",
          "conditions.smt", "conditions.on_battery", "conditions.transparent_huge_pages",
          "sub_runs.sensors"}) {
        r.read_below_root.push_back(field);
    }
    r.asked_of_processor.push_back("conditions.hypervisor");
    return r;
}

} // namespace

system_block describe_this_machine(bool with_host, const std::filesystem::path& root) {
    const host_facts h = query_host();
    const std::optional<cpu_topology> topology = read_topology(root);
    const cpu_topology t = topology.value_or(cpu_topology{});
    system_block s;
    s.source = "this machine";
    s.note = "measured by kestrix-results on the machine that ran kestrix";
    s.processor.brand = read_cpu_brand();
    s.processor.features = words(format_cpu_features());
    // The machine as users and other tools name it, each fact with its source or why it is
    // missing; the timer rule's own view keeps its place.
    const system_facts facts = collect_system_facts({root, with_host});
    s.timer_rule = {facts.timer_rule.vendor, facts.timer_rule.family, facts.timer_rule.model};
    s.facts = flatten_facts(nlohmann::json(facts));
    std::uint64_t llcs = 0, cores = 0, logicals = 0;
    for (const auto& n : t.numa_nodes) {
        llcs += n.llcs.size();
        for (const auto& l : n.llcs) {
            cores += l.cores.size();
            for (const auto& c : l.cores) {
                logicals += c.logicals.size();
            }
        }
    }
    if (topology) {
        s.topology.numa_nodes = t.numa_nodes.size();
        s.topology.last_level_caches = llcs;
        s.topology.cores = cores;
        s.topology.logical_processors = logicals;
        s.topology.performance_levels = t.perf_level_count;
    }
    if (h.packages > 0) {
        s.topology.packages = static_cast<std::uint64_t>(h.packages);
    }
    if (h.total_memory > 0) {
        s.memory_total_bytes = h.total_memory;
    }
    if (h.available_memory > 0) {
        s.memory_available_bytes = h.available_memory;
    } else if (is_real_root(root)) {
        s.memory_available_bytes = available_physical_memory();
    }
    // Null, not empty, where a recorded tree does not say.
    for (auto [to, from] :
         {std::pair{&s.os_name, &h.os_name}, std::pair{&s.os_version, &h.os_version},
          std::pair{&s.kernel, &h.kernel}}) {
        if (!from->empty()) {
            *to = *from;
        }
    }
    if (with_host && !h.host_name.empty()) {
        s.host = h.host_name;
    }
    if (reads_system_files) {
        s.root = where_read(root, s, topology.has_value());
    }
    return s;
}

} // namespace kestrix::results
