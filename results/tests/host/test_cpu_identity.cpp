// CPUID identity of real processors, as their vendors' manuals decode it, beside the timer
// rule's older view.
#include "cpu_identity.hpp"
#include "facts.hpp"
#include "platform/recorded_cpus.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kestrix::results {
namespace {

using test::fake_cpu;

TEST(CpuIdentity, RecordedProcessors) {
    const struct {
        const char* name;
        fake_cpu cpu;
        std::string vendor;
        std::uint32_t family, model, stepping;
        std::string brand;
        std::optional<std::string> hypervisor;
        std::optional<std::uint32_t> base_mhz, max_mhz;
        timer_rule_view timer; // brand checked separately: untrimmed
    } rows[] = {
        {"Alder Lake",
         test::alder_lake(),
         "GenuineIntel",
         6,
         0x97,
         2,
         "12th Gen Intel(R) Core(TM) i9-12900K",
         std::nullopt,
         3200,
         4900,
         {"intel", 6, 0x97, ""}},
        {"Sapphire Rapids",
         test::sapphire_rapids(),
         "GenuineIntel",
         6,
         0x8F,
         8,
         "Intel(R) Xeon(R) Platinum 8480+",
         std::nullopt,
         2000,
         3800,
         {"intel", 6, 0x8F, ""}},
        {"Pentium 4",
         test::pentium4(),
         "GenuineIntel",
         15,
         2,
         9,
         "Intel(R) Pentium(R) 4 CPU 2.80GHz",
         std::nullopt,
         std::nullopt,
         std::nullopt,
         {"intel", 15, 2, ""}},
        {"Zen 3",
         test::zen3(),
         "AuthenticAMD",
         25,
         0x21,
         0,
         "AMD Ryzen 9 5950X 16-Core Processor",
         std::nullopt,
         std::nullopt,
         std::nullopt,
         {"amd", 15, 0x21, ""}},
        {"Zen 4",
         test::zen4(),
         "AuthenticAMD",
         25,
         0x61,
         2,
         "AMD Ryzen 9 7950X 16-Core Processor",
         std::nullopt,
         std::nullopt,
         std::nullopt,
         {"amd", 15, 0x61, ""}},
        {"Zen 5",
         test::zen5(),
         "AuthenticAMD",
         26,
         0x44,
         0,
         "AMD Ryzen 9 9950X 16-Core Processor",
         std::nullopt,
         std::nullopt,
         std::nullopt,
         {"amd", 15, 0x44, ""}},
        {"Zen 5 bhyve guest",
         test::zen5_bhyve_guest(),
         "AuthenticAMD",
         26,
         2,
         1,
         "Oxide Virtual Turin-like Processor",
         "bhyve bhyve ",
         std::nullopt,
         std::nullopt,
         {"other", 15, 2, ""}},
        {"Skylake-SP KVM guest",
         test::skylake_kvm_guest(),
         "GenuineIntel",
         6,
         0x55,
         4,
         "Intel(R) Xeon(R) Gold 6148 CPU @ 2.40GHz",
         "KVMKVMKVM",
         std::nullopt,
         std::nullopt,
         {"intel", 6, 0x55, ""}},
        {"Hygon Dhyana",
         test::hygon_dhyana(),
         "HygonGenuine",
         24,
         0,
         1,
         "Hygon C86 7185 32-core Processor",
         std::nullopt,
         std::nullopt,
         std::nullopt,
         {"other", 15, 0, ""}},
    };
    for (const auto& r : rows) {
        const cpuid_snapshot snap = take_cpuid_snapshot(r.cpu);
        const cpu_identity id = decode_cpu_identity(snap);
        SCOPED_TRACE(r.name);
        EXPECT_EQ(id.vendor.value, r.vendor);
        EXPECT_EQ(id.family.value, r.family);
        EXPECT_EQ(id.model.value, r.model);
        EXPECT_EQ(id.stepping.value, r.stepping);
        EXPECT_EQ(id.brand.value, r.brand);
        EXPECT_EQ(id.hypervisor_present.value, r.hypervisor.has_value());
        EXPECT_EQ(id.hypervisor.value, r.hypervisor);
        EXPECT_EQ(id.base_mhz.value, r.base_mhz);
        EXPECT_EQ(id.max_mhz.value, r.max_mhz);
        // Every fact names its source or why it is missing.
        for (const auto* f : {&id.vendor, &id.brand, &id.hypervisor}) {
            EXPECT_NE(f->value ? f->source : f->unavailable, "");
        }
        for (const auto* f : {&id.family, &id.model, &id.stepping, &id.base_mhz, &id.max_mhz}) {
            EXPECT_NE(f->value ? f->source : f->unavailable, "");
        }
        const timer_rule_view v = decode_timer_rule_view(snap);
        EXPECT_EQ(v.vendor, r.timer.vendor);
        EXPECT_EQ(v.family, r.timer.family);
        EXPECT_EQ(v.model, r.timer.model);
        EXPECT_EQ(v.brand, read_cpu_brand(r.cpu)); // as read: trailing blanks kept
    }
}

// A processor without the brand leaves or leaf 1 says so rather than inventing values.
TEST(CpuIdentity, MissingLeavesSayWhy) {
    fake_cpu bare;
    bare.set(0, 0, {0x0, 0x756E6547, 0x6C65746E, 0x49656E69});
    const cpu_identity id = decode_cpu_identity(take_cpuid_snapshot(bare));
    EXPECT_EQ(id.vendor.value, "GenuineIntel");
    EXPECT_FALSE(id.family.value);
    EXPECT_EQ(id.family.unavailable, "cpuid leaf 1 is not listed by leaf 0");
    EXPECT_FALSE(id.brand.value);
    EXPECT_EQ(id.brand.unavailable, "cpuid leaf 0x80000004 is not listed");
    EXPECT_EQ(id.base_mhz.unavailable, "cpuid leaf 0x16 is not listed by leaf 0");
}

} // namespace
} // namespace kestrix::results
