#include "platform/cpu.hpp"

#include "platform/isa.hpp"

#include <array>
#include <cstring>
#include <fmt/format.h>

namespace kestrix {

namespace {

constexpr bool bit(std::uint32_t value, unsigned n) {
    return ((value >> n) & 1u) != 0;
}

struct feature_row {
    const char* name;
    bool cpu_features::*flag;
};

// The feature list, in print order. Rows 19..36 (the AVX-512 family) are replaced by the single
// AVX10 item when AVX10 is present.
constexpr std::array<feature_row, 18> base_rows = {{
    {"MMX", &cpu_features::mmx},
    {"SSE", &cpu_features::sse},
    {"SSE2", &cpu_features::sse2},
    {"SSE3", &cpu_features::sse3},
    {"SSSE3", &cpu_features::ssse3},
    {"SSE4.1", &cpu_features::sse4_1},
    {"SSE4.2", &cpu_features::sse4_2},
    {"SSE4a", &cpu_features::sse4a},
    {"POPCNT", &cpu_features::popcnt},
    {"AES", &cpu_features::aes},
    {"FMA", &cpu_features::fma},
    {"RDRAND", &cpu_features::rdrand},
    {"BMI1", &cpu_features::bmi1},
    {"BMI2", &cpu_features::bmi2},
    {"LZCNT", &cpu_features::lzcnt},
    {"XOP", &cpu_features::xop},
    {"AVX", &cpu_features::avx},
    {"AVX2", &cpu_features::avx2},
}};

constexpr std::array<feature_row, 18> avx512_rows = {{
    {"AVX512F", &cpu_features::avx512f},
    {"AVX512BW", &cpu_features::avx512bw},
    {"AVX512VL", &cpu_features::avx512vl},
    {"AVX512DQ", &cpu_features::avx512dq},
    {"AVX512IFMA", &cpu_features::avx512ifma},
    {"AVX512PF", &cpu_features::avx512pf},
    {"AVX512ER", &cpu_features::avx512er},
    {"AVX512CD", &cpu_features::avx512cd},
    {"AVX512VBMI", &cpu_features::avx512vbmi},
    {"AVX512VBMI2", &cpu_features::avx512vbmi2},
    {"AVX512VNNI", &cpu_features::avx512vnni},
    {"AVX512BITALG", &cpu_features::avx512bitalg},
    {"AVX512VPOPCNTDQ", &cpu_features::avx512vpopcntdq},
    {"AVX512_BF16", &cpu_features::avx512_bf16},
    {"AVX512_FP16", &cpu_features::avx512_fp16},
    {"AVX512_4VNNIW", &cpu_features::avx512_4vnniw},
    {"AVX512_4FMAPS", &cpu_features::avx512_4fmaps},
    {"AVX512_VP2INTERSECT", &cpu_features::avx512_vp2intersect},
}};

constexpr std::array<feature_row, 25> tail_rows = {{
    {"APX", &cpu_features::apx},
    {"GFNI", &cpu_features::gfni},
    {"VAES", &cpu_features::vaes},
    {"VPCLMULQDQ", &cpu_features::vpclmulqdq},
    {"SHA", &cpu_features::sha},
    {"RDPID", &cpu_features::rdpid},
    {"WAITPKG", &cpu_features::waitpkg},
    {"MOVDIRI", &cpu_features::movdiri},
    {"MOVDIR64B", &cpu_features::movdir64b},
    {"SERIALIZE", &cpu_features::serialize},
    {"TSXLDTRK", &cpu_features::tsxldtrk},
    {"PKU", &cpu_features::pku},
    {"OSPKE", &cpu_features::ospke},
    {"SGX", &cpu_features::sgx},
    {"CLWB", &cpu_features::clwb},
    {"CLFLUSHOPT", &cpu_features::clflushopt},
    {"AMX_TILE", &cpu_features::amx_tile},
    {"AMX_INT8", &cpu_features::amx_int8},
    {"AMX_BF16", &cpu_features::amx_bf16},
    {"AMX_FP16", &cpu_features::amx_fp16},
    {"CET_IBT", &cpu_features::cet_ibt},
    {"CET_SHSTK", &cpu_features::cet_shstk},
    {"FSRM", &cpu_features::fsrm},
    {"HRESET", &cpu_features::hreset},
    {"UINTR", &cpu_features::uintr},
}};

void append_item(std::string& line, std::string_view item) {
    if (!line.empty()) {
        line += ' ';
    }
    line += item;
}

template <std::size_t n>
void append_rows(std::string& line, const cpu_features& f, const std::array<feature_row, n>& rows) {
    for (const auto& row : rows) {
        if (f.*row.flag) {
            append_item(line, row.name);
        }
    }
}

} // namespace

cpu_features decode_cpu_features(const cpuid_source& cpu) {
    cpu_features f;
    const std::uint32_t max_leaf = cpu.cpuid(0, 0).eax;
    const std::uint32_t max_ext = cpu.cpuid(0x80000000u, 0).eax;

    const cpuid_regs l1 = cpu.cpuid(1, 0);
    f.mmx = bit(l1.edx, 23);
    f.sse = bit(l1.edx, 25);
    f.sse2 = bit(l1.edx, 26);
    f.sse3 = bit(l1.ecx, 0);
    f.ssse3 = bit(l1.ecx, 9);
    f.fma = bit(l1.ecx, 12);
    f.sse4_1 = bit(l1.ecx, 19);
    f.sse4_2 = bit(l1.ecx, 20);
    f.popcnt = bit(l1.ecx, 23);
    f.aes = bit(l1.ecx, 25);
    f.rdrand = bit(l1.ecx, 30);

    // XGETBV faults unless the system has enabled XSAVE, so XCR0 is read only behind bit 27.
    if (bit(l1.ecx, 27) && bit(l1.ecx, 28)) {
        const std::uint64_t xcr0 = cpu.xgetbv0();
        f.os_avx_state = (xcr0 & 0x6) == 0x6;
        f.os_avx512_state = (xcr0 & 0xE6) == 0xE6;
        f.os_apx_state = ((xcr0 >> 19) & 1) != 0;
    }
    const bool os_avx = f.os_avx_state;
    const bool os_avx512 = f.os_avx512_state;
    f.avx = os_avx;

    if (max_leaf >= 7) {
        const cpuid_regs l7 = cpu.cpuid(7, 0);
        f.sgx = bit(l7.ebx, 2);
        f.bmi1 = bit(l7.ebx, 3);
        f.avx2 = bit(l7.ebx, 5) && os_avx;
        f.bmi2 = bit(l7.ebx, 8);
        f.avx512f = bit(l7.ebx, 16) && os_avx512;
        f.avx512dq = bit(l7.ebx, 17) && os_avx512;
        f.avx512ifma = bit(l7.ebx, 21) && os_avx512;
        f.clflushopt = bit(l7.ebx, 23);
        f.clwb = bit(l7.ebx, 24);
        f.avx512pf = bit(l7.ebx, 26) && os_avx512;
        f.avx512er = bit(l7.ebx, 27) && os_avx512;
        f.avx512cd = bit(l7.ebx, 28) && os_avx512;
        f.sha = bit(l7.ebx, 29);
        f.avx512bw = bit(l7.ebx, 30) && os_avx512;
        f.avx512vl = bit(l7.ebx, 31) && os_avx512;

        f.avx512vbmi = bit(l7.ecx, 1) && os_avx512;
        f.pku = bit(l7.ecx, 3);
        f.ospke = bit(l7.ecx, 4);
        f.waitpkg = bit(l7.ecx, 5);
        f.avx512vbmi2 = bit(l7.ecx, 6) && os_avx512;
        f.cet_shstk = bit(l7.ecx, 7);
        f.gfni = bit(l7.ecx, 8) && os_avx;
        f.vaes = bit(l7.ecx, 9) && os_avx;
        f.vpclmulqdq = bit(l7.ecx, 10) && os_avx;
        f.avx512vnni = bit(l7.ecx, 11) && os_avx512;
        f.avx512bitalg = bit(l7.ecx, 12) && os_avx512;
        f.avx512vpopcntdq = bit(l7.ecx, 14) && os_avx512;
        f.rdpid = bit(l7.ecx, 22);
        f.movdiri = bit(l7.ecx, 27);
        f.movdir64b = bit(l7.ecx, 28);

        f.avx512_4vnniw = bit(l7.edx, 2) && os_avx512;
        f.avx512_4fmaps = bit(l7.edx, 3) && os_avx512;
        f.fsrm = bit(l7.edx, 4);
        f.uintr = bit(l7.edx, 5);
        f.avx512_vp2intersect = bit(l7.edx, 8) && os_avx512;
        f.serialize = bit(l7.edx, 14);
        f.tsxldtrk = bit(l7.edx, 16);
        f.cet_ibt = bit(l7.edx, 20);
        f.amx_bf16 = bit(l7.edx, 22);
        f.avx512_fp16 = bit(l7.edx, 23) && os_avx512;
        f.amx_tile = bit(l7.edx, 24);
        f.amx_int8 = bit(l7.edx, 25);

        const cpuid_regs l71 = cpu.cpuid(7, 1);
        f.avx512_bf16 = bit(l71.eax, 5) && os_avx512;
        f.amx_fp16 = bit(l71.eax, 21);
        f.hreset = bit(l71.eax, 22);
        f.apx = bit(l71.edx, 21);
        if (bit(l71.edx, 19) && os_avx512) {
            f.avx10 = true;
            if (max_leaf >= 0x24) {
                const std::uint32_t ebx = cpu.cpuid(0x24, 0).ebx;
                f.avx10_version = ebx & 0xFF;
                f.avx10_vector_length = bit(ebx, 18) ? 3 : bit(ebx, 17) ? 2 : bit(ebx, 16) ? 1 : 0;
            }
        }
    }

    if (max_ext >= 0x80000001u) {
        const cpuid_regs e1 = cpu.cpuid(0x80000001u, 0);
        f.lzcnt = bit(e1.ecx, 5);
        f.sse4a = bit(e1.ecx, 6);
        f.xop = bit(e1.ecx, 11);
    }
    return f;
}

std::string format_cpu_features(const cpu_features& f) {
    std::string line;
    append_rows(line, f, base_rows);
    if (f.avx10) {
        std::string item = "AVX10";
        if (f.avx10_version != 0) {
            item += fmt::format(".{}", f.avx10_version);
        }
        switch (f.avx10_vector_length) {
        case 1:
            item += "-128";
            break;
        case 2:
            item += "-256";
            break;
        case 3:
            item += "-512";
            break;
        default:
            break;
        }
        append_item(line, item);
    } else {
        append_rows(line, f, avx512_rows);
    }
    append_rows(line, f, tail_rows);
    return line;
}

std::string read_cpu_brand(const cpuid_source& cpu) {
    if (cpu.cpuid(0x80000000u, 0).eax < 0x80000004u) {
        return {};
    }
    std::array<char, 49> text{};
    std::size_t at = 0;
    for (std::uint32_t leaf = 0x80000002u; leaf <= 0x80000004u; ++leaf) {
        const cpuid_regs r = cpu.cpuid(leaf, 0);
        for (std::uint32_t word : {r.eax, r.ebx, r.ecx, r.edx}) {
            std::memcpy(text.data() + at, &word, 4);
            at += 4;
        }
    }
    text[48] = '\0';
    return std::string(text.data());
}

cpu_vendor_info read_cpu_vendor_info(const cpuid_source& cpu) {
    cpu_vendor_info info;
    info.brand = read_cpu_brand(cpu);
    if (info.brand.find("Intel") != std::string::npos) {
        info.vendor = cpu_vendor::intel;
    } else if (info.brand.find("AMD") != std::string::npos) {
        info.vendor = cpu_vendor::amd;
    }
    const std::uint32_t eax = cpu.cpuid(1, 0).eax;
    info.family = static_cast<std::int32_t>((eax >> 8) & 0xF);
    info.model = static_cast<std::int32_t>((((eax >> 16) & 0xF) << 4) | ((eax >> 4) & 0xF));
    return info;
}

namespace {

struct need_row {
    cpu_need need;
    const char* name;
    bool cpu_features::*flag;
};

// In bit order, which is the order of the run check's message.
constexpr std::array<need_row, 9> need_rows = {{
    {need_avx_state, "AVX register state", &cpu_features::os_avx_state},
    {need_avx, "AVX", &cpu_features::avx},
    {need_avx2, "AVX2", &cpu_features::avx2},
    {need_fma, "FMA", &cpu_features::fma},
    {need_apx_state, "APX register state", &cpu_features::os_apx_state},
    {need_apx, "APX", &cpu_features::apx},
    {need_avx512_state, "AVX-512 register state", &cpu_features::os_avx512_state},
    {need_avx512f, "AVX512F", &cpu_features::avx512f},
    {need_avx512vl, "AVX512VL", &cpu_features::avx512vl},
}};

} // namespace

std::string missing_cpu_needs(cpu_needs needs, const cpu_features& f) {
    std::string missing;
    for (const need_row& r : need_rows) {
        if ((needs & r.need) != 0 && !(f.*r.flag)) {
            missing += missing.empty() ? "" : ", ";
            missing += r.name;
        }
    }
    return missing;
}

std::optional<std::string> check_isa_support(isa_kind isa, const cpu_features& f) {
    std::string out;
    const auto require = [&out](bool ok, std::string_view message) {
        if (!ok) {
            out += message;
            out += '\n';
        }
    };
    // The platform's own rules per instruction set, from isa.def (the solver's variant table
    // refers to the same isa_kind values).
#define KX_ISA_NEED(id, ok, message)                                                               \
    if (isa == isa_kind::id) {                                                                     \
        require(ok, message);                                                                      \
    }
#include "platform/isa.def"
#undef KX_ISA_NEED
    if (out.empty()) {
        return std::nullopt;
    }
    return out;
}

cpu_features detect_cpu_features() {
    return decode_cpu_features(host_cpuid());
}
std::string format_cpu_features() {
    return format_cpu_features(detect_cpu_features());
}
std::string read_cpu_brand() {
    return read_cpu_brand(host_cpuid());
}
cpu_vendor_info read_cpu_vendor_info() {
    return read_cpu_vendor_info(host_cpuid());
}
std::optional<std::string> check_isa_support(isa_kind isa) {
    return check_isa_support(isa, detect_cpu_features());
}

} // namespace kestrix
