#pragma once
// The processor as its vendor's manuals name it, decoded from recorded CPUID answers: vendor
// string, family/model/stepping with the extended fields, trimmed brand, hypervisor, leaf 0x16
// clocks. Beside it the timer rule's older view, which kestrix keeps for its own decisions.
#include "facts_value.hpp"
#include "platform/cpu.hpp"

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace kestrix::results {

// The leaves the decode reads, as one processor answered them; zero for any other leaf.
struct cpuid_snapshot final : cpuid_source {
    std::map<std::pair<std::uint32_t, std::uint32_t>, cpuid_regs> leaves;

    cpuid_regs cpuid(std::uint32_t leaf, std::uint32_t subleaf) const override;
    std::uint64_t xgetbv0() const override { return 0; }
};

// Asks `cpu` for leaves 0, 1, 0x16 (when listed), 0x40000000 (when leaf 1 reports a hypervisor)
// and 0x80000000..0x80000004 (when listed).
cpuid_snapshot take_cpuid_snapshot(const cpuid_source& cpu);

struct cpu_identity {
    fact<std::string> vendor; // "GenuineIntel", "AuthenticAMD", "HygonGenuine", ...
    fact<std::uint32_t> family, model, stepping;
    fact<std::string> brand; // leading and trailing blanks removed
    fact<bool> hypervisor_present;
    fact<std::string> hypervisor; // leaf 0x40000000's signature ("KVMKVMKVM", "Microsoft Hv")
    fact<std::uint32_t> base_mhz, max_mhz;
};

cpu_identity decode_cpu_identity(const cpuid_snapshot& cpu);

// The timer rule's reading (platform's read_cpu_vendor_info): vendor from "Intel"/"AMD" in the
// brand, the base family without its extension, the brand untrimmed.
struct timer_rule_view {
    std::string vendor; // "intel", "amd", "other"
    std::int32_t family = 0;
    std::int32_t model = 0;
    std::string brand;
    bool operator==(const timer_rule_view&) const = default;
};

timer_rule_view decode_timer_rule_view(const cpuid_snapshot& cpu);

} // namespace kestrix::results
