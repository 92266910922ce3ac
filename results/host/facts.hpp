#pragma once
// The machine as users and other tools name it: CPUID identity, microcode, caches and packages
// of the whole topology, clocks, board and firmware, and the timer rule's own older view. Each
// fact names its source or says why it is missing. Serial numbers and UUIDs are never read.
#include "cpu_identity.hpp"
#include "facts_value.hpp"
#include "machine_facts.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>

namespace kestrix::results {

struct system_facts {
    cpu_identity cpu;
    fact<std::string> microcode;
    fact<std::vector<cache_level>> caches;
    fact<std::uint32_t> packages;
    board_facts board;
    timer_rule_view timer_rule;
};

// The pure combination: CPUID's answers first, the system's where CPUID has none (clocks).
// with_host false leaves the board and firmware out.
system_facts assemble_system_facts(const cpuid_snapshot& cpu, const machine_answers& machine,
                                   bool with_host);

struct facts_options {
    std::filesystem::path root = "/"; // where Linux's /proc and /sys are read
    bool with_host = true;            // false: no board or firmware identifiers
};

// This processor and system.
system_facts collect_system_facts(const facts_options& options = {});

void to_json(nlohmann::json& j, const cache_level& c);
void from_json(const nlohmann::json& j, cache_level& c);

// A fact: {"value": v, "source": "..."} or {"value": null, "unavailable": "..."}.
// system_facts: {"cpu": {"vendor", "family", "model", "stepping", "brand",
// "hypervisor_present", "hypervisor", "microcode", "base_mhz", "max_mhz"}, "topology":
// {"caches" (value: [{"level", "type", "size_bytes", "instances"}]), "packages"}, "board":
// {"board_vendor", "board_name", "bios_vendor", "bios_version", "bios_date", "sys_vendor",
// "product_name"}, "timer_rule_view": {"vendor", "family", "model", "brand"}}.
void to_json(nlohmann::json& j, const system_facts& f);
void from_json(const nlohmann::json& j, system_facts& f); // throws nlohmann::json::exception

} // namespace kestrix::results
