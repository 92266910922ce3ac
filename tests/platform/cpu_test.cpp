#include "recorded_cpus.hpp"

#include "platform/cpu.hpp"
#include "platform/isa.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <map>

namespace kestrix {
namespace {

using test::fake_cpu;

const std::string adl_list =
    "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT AVX AVX2 GFNI "
    "VAES VPCLMULQDQ SHA RDPID WAITPKG MOVDIRI MOVDIR64B SERIALIZE PKU CLWB CLFLUSHOPT CET_IBT "
    "CET_SHSTK FSRM HRESET";
const std::string spr_head =
    "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT";
const std::string spr_avx512 =
    " AVX512F AVX512BW AVX512VL AVX512DQ AVX512IFMA AVX512CD AVX512VBMI AVX512VBMI2 AVX512VNNI "
    "AVX512BITALG AVX512VPOPCNTDQ AVX512_BF16 AVX512_FP16";
const std::string spr_tail = " SHA RDPID WAITPKG MOVDIRI MOVDIR64B SERIALIZE TSXLDTRK PKU OSPKE "
                             "SGX CLWB CLFLUSHOPT AMX_TILE AMX_INT8 AMX_BF16 CET_IBT CET_SHSTK "
                             "FSRM UINTR";
const std::string avx_simd = " GFNI VAES VPCLMULQDQ";

fake_cpu with_xcr0(fake_cpu c, std::uint64_t xcr0) {
    c.xcr0 = xcr0;
    return c;
}

fake_cpu without_osxsave(fake_cpu c) {
    c.leaves[{1, 0}].ecx &= ~(1u << 27);
    return c;
}

struct recorded_case {
    const char* name;
    std::function<fake_cpu()> make;
    std::string list;
    std::map<std::string, std::string> failures; // --isa name -> messages; absent: passes
};

const std::string no_avx10 = "avx10.2 support not detected\n";
const std::string no_256 = "avx10.2 256-bit vector length not supported (detected 128-bit)\n";
const std::string no_512 = "avx10.2 512-bit vector length not supported\n";
const std::string no_512f = "avx512f support not detected\n";
const std::string no_512vl = "avx512vl support not detected\n";
const std::string no_apx = "apx support not detected\n";

std::vector<recorded_case> recorded_cases() {
    return {
        {"pentium4",
         test::pentium4,
         "MMX SSE SSE2",
         {{"avx", "avx support not detected\n"},
          {"avx2", "avx2 support not detected\n"},
          {"fma", "fma support not detected\n"},
          {"fma-apx", "fma support not detected\n" + no_apx},
          {"avx512f", no_512f},
          {"avx512vl", no_512f + no_512vl},
          {"avx10-2-256", no_avx10 + no_256},
          {"avx10-2-512", no_avx10 + no_512}}},
        {"alder_lake",
         test::alder_lake,
         adl_list,
         {{"fma-apx", no_apx},
          {"avx512f", no_512f},
          {"avx512vl", no_512f + no_512vl},
          {"avx10-2-256", no_avx10 + no_256},
          {"avx10-2-512", no_avx10 + no_512}}},
        {"sapphire_rapids",
         test::sapphire_rapids,
         spr_head + " AVX AVX2" + spr_avx512 + avx_simd + spr_tail,
         {{"fma-apx", no_apx},
          {"avx10-2-256", no_avx10 + no_256},
          {"avx10-2-512", no_avx10 + no_512}}},
        {"zen4",
         test::zen4,
         "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT AVX "
         "AVX2 "
         "AVX512F AVX512BW AVX512VL AVX512DQ AVX512IFMA AVX512CD AVX512VBMI AVX512VBMI2 AVX512VNNI "
         "AVX512BITALG AVX512VPOPCNTDQ AVX512_BF16 GFNI VAES VPCLMULQDQ SHA RDPID PKU OSPKE CLWB "
         "CLFLUSHOPT CET_SHSTK FSRM",
         {{"fma-apx", no_apx},
          {"avx10-2-256", no_avx10 + no_256},
          {"avx10-2-512", no_avx10 + no_512}}},
        // AVX-512 foundation without the 256-bit forms: avx512vl is refused, avx512f is not.
        {"knights_landing",
         test::knights_landing,
         "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT AVX AVX2 "
         "AVX512F AVX512PF AVX512ER AVX512CD",
         {{"fma-apx", no_apx},
          {"avx512vl", no_512vl},
          {"avx10-2-256", no_avx10 + no_256},
          {"avx10-2-512", no_avx10 + no_512}}},
        // AVX10.2 replaces the AVX-512 names, which are still usable through their flags.
        {"avx10_2_512",
         test::avx10_2_512,
         spr_head + " AVX AVX2 AVX10.2-512 APX" + avx_simd + spr_tail,
         {}},
        {"avx10_2_256",
         test::avx10_2_256,
         "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT AVX AVX2 "
         "AVX10.2-256 GFNI VAES VPCLMULQDQ SHA RDPID WAITPKG MOVDIRI MOVDIR64B SERIALIZE PKU CLWB "
         "CLFLUSHOPT CET_IBT CET_SHSTK FSRM HRESET",
         {{"fma-apx", no_apx},
          {"avx512f", no_512f},
          {"avx512vl", no_512f + no_512vl},
          {"avx10-2-512", no_512}}},
        // The processor has AVX-512 but the system saves only the AVX state.
        {"xcr0_avx_only",
         [] { return with_xcr0(test::sapphire_rapids(), 0x7); },
         spr_head + " AVX AVX2" + avx_simd + spr_tail,
         {{"fma-apx", no_apx},
          {"avx512f", no_512f},
          {"avx512vl", no_512f + no_512vl},
          {"avx10-2-256", no_avx10 + no_256},
          {"avx10-2-512", no_avx10 + no_512}}},
        // Neither AVX nor AVX-512 state: every gated row drops, the ungated FMA stays.
        {"xcr0_sse_only",
         [] { return with_xcr0(test::sapphire_rapids(), 0x3); },
         spr_head + spr_tail,
         {{"avx", "avx support not detected\n"},
          {"avx2", "avx2 support not detected\n"},
          {"fma-apx", no_apx},
          {"avx512f", no_512f},
          {"avx512vl", no_512f + no_512vl},
          {"avx10-2-256", no_avx10 + no_256},
          {"avx10-2-512", no_avx10 + no_512}}},
        // AVX-512 state without the opmask bit is no AVX-512 state.
        {"xcr0_no_opmask",
         [] { return with_xcr0(test::zen4(), 0x2C7); },
         "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT AVX "
         "AVX2 "
         "GFNI VAES VPCLMULQDQ SHA RDPID PKU OSPKE CLWB CLFLUSHOPT CET_SHSTK FSRM",
         {{"fma-apx", no_apx},
          {"avx512f", no_512f},
          {"avx512vl", no_512f + no_512vl},
          {"avx10-2-256", no_avx10 + no_256},
          {"avx10-2-512", no_avx10 + no_512}}},
        {"no_osxsave",
         [] { return without_osxsave(test::sapphire_rapids()); },
         spr_head + spr_tail,
         {{"avx", "avx support not detected\n"},
          {"avx2", "avx2 support not detected\n"},
          {"fma-apx", no_apx},
          {"avx512f", no_512f},
          {"avx512vl", no_512f + no_512vl},
          {"avx10-2-256", no_avx10 + no_256},
          {"avx10-2-512", no_avx10 + no_512}}},
    };
}

TEST(RecordedProcessors, FeatureListAndSupportChecks) {
    for (const auto& c : recorded_cases()) {
        SCOPED_TRACE(c.name);
        const fake_cpu cpu = c.make();
        const cpu_features f = decode_cpu_features(cpu);
        EXPECT_EQ(format_cpu_features(f), c.list);
        for (const auto name : isa_names) {
            const auto it = c.failures.find(std::string(name));
            const auto result = check_isa_support(*parse_isa_name(name), f);
            if (it == c.failures.end()) {
                EXPECT_FALSE(result.has_value()) << name << ": " << result.value_or("");
            } else {
                EXPECT_EQ(result.value_or("<passes>"), it->second) << name;
            }
        }
    }
}

TEST(RecordedProcessors, XcrZeroReadOnlyBehindXsaveAndAvxBits) {
    const fake_cpu p4 = test::pentium4();
    decode_cpu_features(p4);
    EXPECT_EQ(p4.xgetbv_calls, 0);
    const fake_cpu no_xsave = without_osxsave(test::sapphire_rapids());
    decode_cpu_features(no_xsave);
    EXPECT_EQ(no_xsave.xgetbv_calls, 0);
    const fake_cpu spr = test::sapphire_rapids();
    decode_cpu_features(spr);
    EXPECT_EQ(spr.xgetbv_calls, 1);
}

TEST(RecordedProcessors, SystemStateFlags) {
    struct row {
        const char* name;
        fake_cpu cpu;
        bool avx, avx512, apx;
    };
    const row rows[] = {
        {"pentium4", test::pentium4(), false, false, false},
        {"alder_lake", test::alder_lake(), true, false, false},
        {"sapphire_rapids", test::sapphire_rapids(), true, true, false},
        {"knights_landing", test::knights_landing(), true, true, false},
        {"avx10_2_512", test::avx10_2_512(), true, true, true},
        {"apx_state_without_osxsave", without_osxsave(test::avx10_2_512()), false, false, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const cpu_features f = decode_cpu_features(r.cpu);
        EXPECT_EQ(f.os_avx_state, r.avx);
        EXPECT_EQ(f.os_avx512_state, r.avx512);
        EXPECT_EQ(f.os_apx_state, r.apx);
    }
}

// AVX10 flag, version and vector length from leaf 0x24, and what hides them.
TEST(Avx10, VersionAndVectorLength) {
    struct row {
        const char* name;
        std::uint32_t max_leaf;
        std::uint32_t leaf24_ebx;
        std::uint64_t xcr0;
        bool avx10;
        std::uint32_t version, length;
        const char* item; // the AVX10 part of the list, "" when absent
    };
    const row rows[] = {
        {"512", 0x24, 0x00070002, 0xE6, true, 2, 3, "AVX10.2-512"},
        {"256", 0x24, 0x00030002, 0xE6, true, 2, 2, "AVX10.2-256"},
        {"128", 0x24, 0x00010002, 0xE6, true, 2, 1, "AVX10.2-128"},
        {"no length bits", 0x24, 0x00000001, 0xE6, true, 1, 0, "AVX10.1"},
        {"version 0", 0x24, 0x00040000, 0xE6, true, 0, 3, "AVX10-512"},
        {"leaf 0x24 not reported", 0x23, 0x00070002, 0xE6, true, 0, 0, "AVX10"},
        {"AVX-512 state off", 0x24, 0x00070002, 0x6, false, 0, 0, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        fake_cpu c;
        c.set(0, 0, {r.max_leaf, 0, 0, 0})
            .set(1, 0, {0, 0, (1u << 27) | (1u << 28), 0})
            .set(7, 1, {0, 0, 0, 1u << 19})
            .set(0x24, 0, {0, r.leaf24_ebx, 0, 0});
        c.xcr0 = r.xcr0;
        const cpu_features f = decode_cpu_features(c);
        EXPECT_EQ(f.avx10, r.avx10);
        EXPECT_EQ(f.avx10_version, r.version);
        EXPECT_EQ(f.avx10_vector_length, r.length);
        const std::string avx = r.xcr0 & 0x6 ? "AVX" : "";
        std::string expected = avx;
        if (*r.item != '\0') {
            expected += std::string(expected.empty() ? "" : " ") + r.item;
        }
        EXPECT_EQ(format_cpu_features(f), expected);
    }
}

TEST(Avx10, SupportCheckMessages) {
    struct row {
        bool avx10;
        std::uint32_t version, length;
        std::string check256, check512; // "" = passes
    };
    const row rows[] = {
        {true, 1, 3, no_avx10, no_avx10},
        {true, 2, 1, no_256, no_512},
        {true, 2, 0, no_256, no_512},
        {true, 2, 2, "", no_512},
        {true, 3, 3, "", ""},
        {false, 2, 3, no_avx10, no_avx10},
        {false, 0, 0, no_avx10 + no_256, no_avx10 + no_512},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.avx10 << " v" << r.version << " l" << r.length);
        cpu_features f;
        f.avx10 = r.avx10;
        f.avx10_version = r.version;
        f.avx10_vector_length = r.length;
        EXPECT_EQ(check_isa_support(isa_kind::avx10_2_256, f).value_or(""), r.check256);
        EXPECT_EQ(check_isa_support(isa_kind::avx10_2_512, f).value_or(""), r.check512);
    }
}

TEST(FeatureList, EmptyAndLeafLimits) {
    EXPECT_EQ(format_cpu_features(cpu_features{}), "");
    // Highest standard leaf below 7: leaf 7 is never consulted, even if it answers.
    fake_cpu c = test::sapphire_rapids();
    c.set(0, 0, {6, 0, 0, 0});
    const cpu_features f = decode_cpu_features(c);
    EXPECT_FALSE(f.avx2);
    EXPECT_FALSE(f.avx512f);
    EXPECT_FALSE(f.bmi1);
    EXPECT_TRUE(f.avx);
    // Without extended leaf 0x80000001 the SSE4a/LZCNT/XOP rows stay clear.
    fake_cpu amd = test::zen4();
    amd.set(0x80000000u, 0, {0x80000000u, 0, 0, 0});
    const cpu_features g = decode_cpu_features(amd);
    EXPECT_FALSE(g.sse4a);
    EXPECT_FALSE(g.lzcnt);
}

TEST(FeatureList, XopAndSse4aOfOlderAmd) {
    // FX-8350 (Piledriver): XOP and SSE4a from the extended leaf, AVX without AVX2.
    fake_cpu c;
    c.set(0, 0, {0xD, 0x68747541, 0x444D4163, 0x69746E65})
        .set(1, 0, {0x00600F20, 0x00080800, 0x3E98320B, 0x178BFBFF})
        .set(7, 0, {0, 0x00000008, 0, 0})
        .set(0x80000000u, 0, {0x8000001Eu, 0, 0, 0})
        .set(0x80000001u, 0, {0x00600F20, 0x10000000, 0x01EBBFFF, 0x2FD3FBFF})
        .brand("AMD FX(tm)-8350 Eight-Core Processor           ");
    c.xcr0 = 0x7;
    EXPECT_EQ(format_cpu_features(decode_cpu_features(c)),
              "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA BMI1 LZCNT XOP AVX");
    const cpu_vendor_info v = read_cpu_vendor_info(c);
    EXPECT_EQ(v.vendor, cpu_vendor::amd);
    EXPECT_EQ(v.family, 0xF);
    EXPECT_EQ(v.model, 0x2);
}

TEST(Vendor, BrandVendorFamilyModel) {
    struct row {
        const char* name;
        fake_cpu cpu;
        std::string brand;
        cpu_vendor vendor;
        std::int32_t family, model;
    };
    fake_cpu both = test::alder_lake();
    both.brand("AMD-compatible Intel part");
    fake_cpu lower = test::alder_lake();
    lower.brand("intel amd");
    fake_cpu no_brand = test::zen4();
    no_brand.set(0x80000000u, 0, {0x80000003u, 0, 0, 0});
    fake_cpu full = test::alder_lake();
    full.brand(std::string(48, 'x'));
    fake_cpu ext_family;
    ext_family.set(1, 0, {0x00A20F10, 0, 0, 0});
    const row rows[] = {
        {"pentium4", test::pentium4(), "              Intel(R) Pentium(R) 4 CPU 2.80GHz",
         cpu_vendor::intel, 0xF, 0x2},
        {"alder_lake", test::alder_lake(), "12th Gen Intel(R) Core(TM) i9-12900K",
         cpu_vendor::intel, 6, 0x97},
        {"sapphire_rapids", test::sapphire_rapids(), "Intel(R) Xeon(R) Platinum 8480+",
         cpu_vendor::intel, 6, 0x8F},
        {"zen4", test::zen4(), "AMD Ryzen 9 7950X 16-Core Processor          ", cpu_vendor::amd,
         0xF, 0x61},
        {"both names: Intel wins", both, "AMD-compatible Intel part", cpu_vendor::intel, 6, 0x97},
        {"case-sensitive", lower, "intel amd", cpu_vendor::other, 6, 0x97},
        {"no brand leaves", no_brand, "", cpu_vendor::other, 0xF, 0x61},
        {"48 bytes without a zero", full, std::string(48, 'x'), cpu_vendor::other, 6, 0x97},
        {"extended family ignored", ext_family, "", cpu_vendor::other, 0xF, 0x21},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const cpu_vendor_info v = read_cpu_vendor_info(r.cpu);
        EXPECT_EQ(v.brand, r.brand);
        EXPECT_EQ(read_cpu_brand(r.cpu), r.brand);
        EXPECT_EQ(v.vendor, r.vendor);
        EXPECT_EQ(v.family, r.family);
        EXPECT_EQ(v.model, r.model);
    }
}

TEST(IsaNames, ExactCaseSensitiveMatch) {
    for (std::size_t i = 0; i < isa_names.size(); ++i) {
        const auto kind = parse_isa_name(isa_names[i]);
        ASSERT_TRUE(kind.has_value()) << isa_names[i];
        EXPECT_EQ(static_cast<std::size_t>(*kind), i);
        EXPECT_TRUE(is_valid_isa_name(isa_names[i]));
    }
    for (const char* bad :
         {"", "AVX2", "avx2 ", " avx2", "avx10-2", "avx10-2-5120", "sse", "fma_apx", "avx512"}) {
        EXPECT_FALSE(parse_isa_name(bad).has_value()) << bad;
        EXPECT_FALSE(is_valid_isa_name(bad)) << bad;
    }
    // A name with an embedded zero byte is not a prefix match.
    EXPECT_FALSE(is_valid_isa_name(std::string_view("avx\0", 4)));
}

TEST(HostProcessor, AnswersAreConsistent) {
    // The host decoding runs the real instructions; its pieces must agree with each other.
    const cpu_features f = detect_cpu_features();
    EXPECT_EQ(format_cpu_features(), format_cpu_features(f));
    EXPECT_TRUE(f.sse2); // every x86-64 processor
    EXPECT_FALSE(check_isa_support(isa_kind::sse2).has_value());
    EXPECT_EQ(read_cpu_vendor_info().brand, read_cpu_brand());
    if (f.avx2) {
        EXPECT_TRUE(f.avx);
    }
    if (f.avx512f) {
        EXPECT_TRUE(f.os_avx512_state);
    }
}

} // namespace
} // namespace kestrix
