#include "cpu_identity.hpp"

#include <algorithm>
#include <cstring>

namespace kestrix::results {

cpuid_regs cpuid_snapshot::cpuid(std::uint32_t leaf, std::uint32_t subleaf) const {
    const auto it = leaves.find({leaf, subleaf});
    return it == leaves.end() ? cpuid_regs{} : it->second;
}

namespace {

constexpr std::uint32_t hypervisor_bit = 1u << 31; // leaf 1 ECX

std::string text_of(std::initializer_list<std::uint32_t> words) {
    std::string s;
    for (const std::uint32_t w : words) {
        char bytes[4];
        std::memcpy(bytes, &w, 4);
        s.append(bytes, 4);
    }
    // Signatures and brands are zero-padded.
    s.erase(std::find(s.begin(), s.end(), '\0'), s.end());
    return s;
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

} // namespace

cpuid_snapshot take_cpuid_snapshot(const cpuid_source& cpu) {
    cpuid_snapshot s;
    const auto keep = [&](std::uint32_t leaf) { s.leaves[{leaf, 0}] = cpu.cpuid(leaf, 0); };
    keep(0);
    const std::uint32_t max_leaf = s.leaves[{0, 0}].eax;
    if (max_leaf >= 1) {
        keep(1);
    }
    if (max_leaf >= 0x16) {
        keep(0x16);
    }
    if (s.cpuid(1, 0).ecx & hypervisor_bit) {
        keep(0x40000000u);
    }
    keep(0x80000000u);
    const std::uint32_t max_ext = s.leaves[{0x80000000u, 0}].eax;
    for (std::uint32_t leaf = 0x80000002u; leaf <= 0x80000004u && leaf <= max_ext; ++leaf) {
        keep(leaf);
    }
    return s;
}

cpu_identity decode_cpu_identity(const cpuid_snapshot& cpu) {
    using u32 = fact<std::uint32_t>;
    cpu_identity id;
    const cpuid_regs l0 = cpu.cpuid(0, 0);
    id.vendor = fact<std::string>::known(text_of({l0.ebx, l0.edx, l0.ecx}), "cpuid leaf 0");

    if (l0.eax >= 1) {
        const std::uint32_t eax = cpu.cpuid(1, 0).eax;
        const std::uint32_t base_family = (eax >> 8) & 0xF;
        std::uint32_t family = base_family;
        std::uint32_t model = (eax >> 4) & 0xF;
        if (base_family == 0xF) {
            family += (eax >> 20) & 0xFF;
        }
        if (base_family == 0x6 || base_family == 0xF) {
            model |= ((eax >> 16) & 0xF) << 4;
        }
        id.family = u32::known(family, "cpuid leaf 1 eax (with the extended family)");
        id.model = u32::known(model, "cpuid leaf 1 eax (with the extended model)");
        id.stepping = u32::known(eax & 0xF, "cpuid leaf 1 eax");
        const bool guest = (cpu.cpuid(1, 0).ecx & hypervisor_bit) != 0;
        id.hypervisor_present = fact<bool>::known(guest, "cpuid leaf 1 ecx bit 31");
        if (guest) {
            const cpuid_regs h = cpu.cpuid(0x40000000u, 0);
            id.hypervisor =
                fact<std::string>::known(text_of({h.ebx, h.ecx, h.edx}), "cpuid leaf 0x40000000");
        } else {
            id.hypervisor =
                fact<std::string>::missing("cpuid leaf 1 ecx bit 31 is clear: no hypervisor");
        }
    } else {
        for (u32* f : {&id.family, &id.model, &id.stepping}) {
            *f = u32::missing("cpuid leaf 1 is not listed by leaf 0");
        }
        id.hypervisor_present = fact<bool>::missing("cpuid leaf 1 is not listed by leaf 0");
        id.hypervisor = fact<std::string>::missing("cpuid leaf 1 is not listed by leaf 0");
    }

    const std::uint32_t max_ext = cpu.cpuid(0x80000000u, 0).eax;
    if (max_ext >= 0x80000004u) {
        id.brand = fact<std::string>::known(trimmed(read_cpu_brand(cpu)),
                                            "cpuid leaves 0x80000002-0x80000004");
    } else {
        id.brand = fact<std::string>::missing("cpuid leaf 0x80000004 is not listed");
    }

    const char* why_no_clock = "cpuid leaf 0x16 is not listed by leaf 0";
    if (l0.eax >= 0x16) {
        why_no_clock = "cpuid leaf 0x16 reports 0";
        const cpuid_regs f = cpu.cpuid(0x16, 0);
        if (f.eax & 0xFFFF) {
            id.base_mhz = u32::known(f.eax & 0xFFFF, "cpuid leaf 0x16 eax");
        }
        if (f.ebx & 0xFFFF) {
            id.max_mhz = u32::known(f.ebx & 0xFFFF, "cpuid leaf 0x16 ebx");
        }
    }
    if (!id.base_mhz.value) {
        id.base_mhz = u32::missing(why_no_clock);
    }
    if (!id.max_mhz.value) {
        id.max_mhz = u32::missing(why_no_clock);
    }
    return id;
}

timer_rule_view decode_timer_rule_view(const cpuid_snapshot& cpu) {
    const cpu_vendor_info info = read_cpu_vendor_info(cpu);
    timer_rule_view v;
    v.vendor = info.vendor == cpu_vendor::intel ? "intel"
               : info.vendor == cpu_vendor::amd ? "amd"
                                                : "other";
    v.family = info.family;
    v.model = info.model;
    v.brand = info.brand;
    return v;
}

} // namespace kestrix::results
